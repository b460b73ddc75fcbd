#pragma once

#include "session/Sampler.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <vector>

namespace regbench::app {

// What a watch writes to the activity log, so that sampling never drowns it: a line when it starts and one
// when it stops, and for a run of failed reads of a register the read's own failure line once, then one
// line when its reads succeed again.
class WatchLog {
public:
    // "Watch started: ALPHA (0x05), BETA (0x10) every 100 ms"
    static QString started(const QString& registers, int intervalMs);
    // "Watch stopped: ALPHA (0x05) after 1234 samples"
    static QString stopped(const QString& registers, qint64 samples);

    // The lines one sample of the registers (in order) gives.
    QStringList lines(const std::vector<std::uint8_t>& registers, const session::Sampler::Sample& sample);

private:
    std::map<std::uint8_t, qint64> failedRun_; // failed samples in a row, by register
};

} // namespace regbench::app
