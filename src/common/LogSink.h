#pragma once

#include "common/Messages.h"

#include <QString>

namespace regbench::common {

// Where every operation, driver event and failure is written. The log has no time stamps, levels or
// prefixes; each message is ended by the suffix its writer passes, CR LF for every writer of the program.
class LogSink {
public:
    virtual ~LogSink() = default;

    virtual void LogText(const QString& text, const QString& suffix) = 0;
    virtual void clearLog() = 0;

    void LogLine(const QString& text) { LogText(text, CrLf); }
};

} // namespace regbench::common
