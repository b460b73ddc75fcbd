#pragma once

#include <QPolygonF>

#include <cstddef>
#include <vector>

namespace regbench::app {

class WatchRecord;

// The points that draw one trace of a watch over a stretch of time, few enough to redraw often however many
// samples it holds: a failed read ends a segment (the gap), a run of equal values keeps its ends, and the
// samples that fall into one bucket (a pixel's width of time) keep their first, lowest, highest and last.
class WatchTraces {
public:
    // Where a trace stands on the chart's vertical axis: at base + level * scale, its level being the value
    // (0..255) or, for a bit's digital trace, the bit (0 or 1).
    struct Lane {
        double base = 0;
        double scale = 1;
        int bit = -1; // -1: the value
    };

    // x is in seconds. A bit's trace holds its level until the next sample, so it draws steps.
    static std::vector<QPolygonF> segments(const WatchRecord& record, std::size_t column, qint64 fromMs,
                                           qint64 toMs, double bucketMs, const Lane& lane);
};

} // namespace regbench::app
