#pragma once

#include "common/LogSink.h"

#include <QStringList>

namespace regbench::commands {

// The log of a command: standard error, which carries what the window's log would say about a failure in
// the log's own words. Quiet, it keeps the lines of the step under way and writes them only when that step
// fails; verbose, it writes every line at once.
class CommandLog : public common::LogSink {
public:
    explicit CommandLog(bool verbose) : verbose_(verbose) {}

    void LogText(const QString& text, const QString& suffix) override;
    // Standard error cannot be taken back; the start-up's clearing only ends its step.
    void clearLog() override { kept_.clear(); }

    // The step failed: its lines go out (quiet), the blank ones left out.
    void tell();
    // The step went well: its lines are forgotten.
    void forget() { kept_.clear(); }
    // A line of the command's own, always written.
    static void error(const QString& line);
    // Nothing more is written: after an interrupt, the cancelled transfer's failure is no news.
    void silence() { silent_ = true; }

private:
    bool verbose_;
    bool silent_ = false;
    QString partial_; // text of a line whose break has not come yet
    QStringList kept_;
};

} // namespace regbench::commands
