#pragma once

#include "app/WatchLog.h"
#include "app/WatchRecord.h"
#include "session/Sampler.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCategoryAxis;
class QChart;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QValueAxis;
class QVBoxLayout;

namespace regbench::session {
class Session;
}

namespace regbench::app {

class WatchChartView;

// A window that reads registers over and over and draws them: each register's value as a line and its eight
// bits as digital traces named by the map, on one time axis that follows the last minute. Samples are
// accesses like any other (session::Sampler): they wait their turn, store nothing and show nothing in the
// panels. Closing it stops the sampling; it is deleted only once no access waits.
class WatchWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int FollowSpanMs = 60'000;
    static constexpr int RefreshMs = 250;

    WatchWindow(session::Session& session, QWidget* parent);
    ~WatchWindow() override;

    // Watched from the next sample on; a register watched already is left as it is.
    void addRegister(std::uint8_t address);
    // "ALPHA (0x05), BETA (0x10)"
    QString registersText() const;

    const WatchRecord& record() const { return record_; }
    session::Sampler& sampler() { return sampler_; }
    bool following() const { return follow_; }

    // Writes the samples as CSV; false, with the reason in the window, when the file cannot be written.
    bool saveTo(const QString& path);

    void cmdWatchPause_Click();
    void cmdWatchClear_Click();
    void cmdWatchFollow_Click();
    void cmdWatchSave_Click();
    void cmdWatchAdd_Click();

signals:
    void closed(regbench::app::WatchWindow* window);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Trace {
        std::size_t column = 0;
        int bit = -1; // -1: the value
        QColor color;
        std::vector<QLineSeries*> segments; // one a run of good reads, reused from one redraw to the next
    };

    QWidget* createControls();
    void createChart();
    void addLanes(std::size_t column);
    void sampled(const session::Sampler::Sample& sample);
    void refresh();
    void drawTraces(qint64 fromMs, qint64 toMs);
    void showSegments(Trace& trace, const std::vector<QPolygonF>& segments);
    void showNewest();
    void showStatus();
    double laneBase(std::size_t column) const;
    QString registerText(std::uint8_t address) const;

    session::Session& session_;
    session::Sampler sampler_;
    WatchRecord record_;
    WatchLog log_;
    bool stopped_ = false;
    bool follow_ = true;
    bool dirty_ = false;

    QChart* chart_ = nullptr;
    QValueAxis* timeAxis_ = nullptr;
    QCategoryAxis* laneAxis_ = nullptr;
    WatchChartView* chartView_ = nullptr;
    std::vector<Trace> traces_;
    QVBoxLayout* newestBox_ = nullptr;
    std::vector<QLabel*> newest_;
    QComboBox* cbWatchRegister_ = nullptr;
    QSpinBox* sbWatchInterval_ = nullptr;
    QPushButton* cmdWatchPause_ = nullptr;
    QLabel* lblWatchStatus_ = nullptr;
    QTimer refreshTimer_;
};

} // namespace regbench::app
