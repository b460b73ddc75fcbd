#pragma once

#include <QPolygonF>

#include <cstddef>
#include <functional>
#include <vector>

namespace regbench::app {

class WatchRecord;

// The points that draw one trace of a watch over a stretch of time, few enough to redraw often however many
// samples it holds: a failed read ends a segment (the gap), a run of equal values keeps its ends, and the
// samples that fall into one bucket (a pixel's width of time) keep their first, lowest, highest and last.
class WatchTraces {
public:
    // Where a value stands on the chart's vertical axis.
    using Height = std::function<double(int value)>;

    // x is in seconds; `steps` draws a digital trace, which holds its level until the next sample.
    static std::vector<QPolygonF> segments(const WatchRecord& record, std::size_t column, qint64 fromMs,
                                           qint64 toMs, double bucketMs, const Height& height, bool steps);
};

} // namespace regbench::app
