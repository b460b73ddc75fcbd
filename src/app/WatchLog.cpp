#include "app/WatchLog.h"

#include "common/HexText.h"

namespace regbench::app {

QString WatchLog::started(const QString& registers, int intervalMs) {
    return QStringLiteral("Watch started: %1 every %2 ms").arg(registers).arg(intervalMs);
}

QString WatchLog::stopped(const QString& registers, qint64 samples) {
    return QStringLiteral("Watch stopped: %1 after %2 samples").arg(registers).arg(samples);
}

QStringList WatchLog::lines(const std::vector<std::uint8_t>& registers,
                            const session::Sampler::Sample& sample) {
    QStringList lines;
    for (std::size_t c = 0; c < registers.size() && c < sample.outcomes.size(); ++c) {
        const access::AccessOutcome& outcome = sample.outcomes[c];
        qint64& run = failedRun_[registers[c]];
        if (!outcome.succeeded) {
            if (run++ == 0)
                lines << outcome.line;
        } else if (run > 0) {
            lines << QStringLiteral("Reading register %1 successful again after %2 failed samples")
                         .arg(common::HexText::byteText(registers[c]))
                         .arg(run);
            run = 0;
        }
    }
    return lines;
}

} // namespace regbench::app
