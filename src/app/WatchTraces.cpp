#include "app/WatchTraces.h"

#include "app/WatchRecord.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace regbench::app {

namespace {

// Adds a point, keeping only the ends of a level run and, for a digital trace, the corner of each step.
void append(QPolygonF& segment, QPointF point, bool steps) {
    const qsizetype n = segment.size();
    if (n >= 2 && segment[n - 1].y() == point.y() && segment[n - 2].y() == point.y()) {
        segment[n - 1] = point;
        return;
    }
    if (steps && n >= 1 && segment[n - 1].y() != point.y())
        segment << QPointF(point.x(), segment[n - 1].y());
    segment << point;
}

// The samples of one bucket: its first, lowest, highest and last point, without a heap allocation.
struct Bucket {
    qint64 index = -1;
    int count = 0;
    std::array<std::pair<qint64, double>, 4> points{};
};

void flush(QPolygonF& segment, Bucket& bucket, bool steps) {
    if (bucket.count == 0)
        return;
    auto& p = bucket.points;
    std::sort(p.begin(), p.end());
    for (std::size_t i = 0; i < p.size(); ++i)
        if (i == 0 || p[i] != p[i - 1])
            append(segment, QPointF(static_cast<double>(p[i].first) / 1000.0, p[i].second), steps);
    bucket.count = 0;
}

void take(Bucket& bucket, qint64 time, double y) {
    auto& p = bucket.points;
    if (bucket.count++ == 0) {
        p.fill({time, y});
        return;
    }
    if (y < p[1].second)
        p[1] = {time, y};
    if (y > p[2].second)
        p[2] = {time, y};
    p[3] = {time, y};
}

} // namespace

std::vector<QPolygonF> WatchTraces::segments(const WatchRecord& record, std::size_t column, qint64 fromMs,
                                             qint64 toMs, double bucketMs, const Lane& lane) {
    const bool steps = lane.bit >= 0;
    std::vector<QPolygonF> segments;
    QPolygonF segment;
    Bucket bucket;
    const double width = std::max(bucketMs, 1.0);
    // One sample before the stretch, so that the line enters it from the left edge.
    std::size_t s = record.firstFrom(fromMs);
    s = s > 0 ? s - 1 : s;
    for (; s < record.size() && (s == 0 || record.time(s - 1) <= toMs); ++s) {
        const int value = record.value(column, s);
        if (value < 0) {
            flush(segment, bucket, steps);
            if (!segment.isEmpty())
                segments.push_back(std::move(segment));
            segment.clear();
            continue;
        }
        const qint64 time = record.time(s);
        const auto index = static_cast<qint64>(std::floor(static_cast<double>(time) / width));
        if (index != bucket.index) {
            flush(segment, bucket, steps);
            bucket.index = index;
        }
        const int level = steps ? (value >> lane.bit) & 1 : value;
        take(bucket, time, lane.base + level * lane.scale);
    }
    flush(segment, bucket, steps);
    if (!segment.isEmpty())
        segments.push_back(std::move(segment));
    return segments;
}

} // namespace regbench::app
