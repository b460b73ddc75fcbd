#include "commands/CommandLog.h"

#include <cstdio>

namespace regbench::commands {

void CommandLog::error(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void CommandLog::LogText(const QString& text, const QString& suffix) {
    if (silent_)
        return;
    partial_ += text;
    if (!suffix.contains(QLatin1Char('\n')))
        return;
    if (verbose_)
        error(partial_);
    else
        kept_ << partial_;
    partial_.clear();
}

void CommandLog::tell() {
    if (silent_)
        kept_.clear();
    for (const QString& line : std::as_const(kept_))
        if (!line.isEmpty())
            error(line);
    kept_.clear();
}

} // namespace regbench::commands
