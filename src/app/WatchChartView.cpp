#include "app/WatchChartView.h"

#include <QMouseEvent>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace regbench::app {

namespace {
QValueAxis* timeAxis(QChart* chart) {
    const QList<QAbstractAxis*> axes = chart->axes(Qt::Horizontal);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}
constexpr double ShortestSpan = 0.05; // s: a few samples at the fastest interval
constexpr double LongestSpan = 24 * 3600;
} // namespace

WatchChartView::WatchChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRenderHint(QPainter::Antialiasing, false); // thousands of points redrawn often
    setCursor(Qt::OpenHandCursor);
}

double WatchChartView::timeAt(double x) const {
    const QRectF area = chart()->plotArea();
    const QValueAxis* axis = timeAxis(chart());
    if (!axis || area.width() <= 0)
        return 0;
    return axis->min() + (x - area.left()) / area.width() * (axis->max() - axis->min());
}

void WatchChartView::showRange(double from, double to) {
    if (QValueAxis* axis = timeAxis(chart())) {
        axis->setRange(from, to);
        emit timeRangeChosen(from, to);
    }
}

void WatchChartView::wheelEvent(QWheelEvent* event) {
    const QValueAxis* axis = timeAxis(chart());
    if (!axis || event->angleDelta().y() == 0)
        return;
    const double at = timeAt(event->position().x());
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    const double span = std::clamp((axis->max() - axis->min()) * factor, ShortestSpan, LongestSpan);
    const double share = (at - axis->min()) / (axis->max() - axis->min());
    showRange(at - share * span, at - share * span + span);
    event->accept();
}

void WatchChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QChartView::mousePressEvent(event);
    dragging_ = true;
    dragX_ = event->position().x();
    setCursor(Qt::ClosedHandCursor);
}

void WatchChartView::mouseMoveEvent(QMouseEvent* event) {
    const QValueAxis* axis = timeAxis(chart());
    if (!dragging_ || !axis)
        return QChartView::mouseMoveEvent(event);
    const double shift = timeAt(dragX_) - timeAt(event->position().x());
    dragX_ = event->position().x();
    showRange(axis->min() + shift, axis->max() + shift);
}

void WatchChartView::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
    QChartView::mouseReleaseEvent(event);
}

} // namespace regbench::app
