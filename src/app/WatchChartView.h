#pragma once

#include <QChartView>

namespace regbench::app {

// The watch's chart, with the time axis under the user's hand: the wheel zooms it around the pointer, a drag
// pans it. Either stops following the newest samples; the window's Follow button resumes it.
class WatchChartView : public QChartView {
    Q_OBJECT
public:
    explicit WatchChartView(QChart* chart, QWidget* parent = nullptr);

signals:
    // The shown stretch of time changed by the user's hand, in seconds.
    void timeRangeChosen(double from, double to);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double timeAt(double x) const;
    void showRange(double from, double to);

    bool dragging_ = false;
    double dragX_ = 0;
};

} // namespace regbench::app
