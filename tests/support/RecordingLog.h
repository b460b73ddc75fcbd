#pragma once

#include "common/LogSink.h"

#include <QString>
#include <QStringList>

namespace regbench::tests {

// A log that keeps what the writers wrote, including what a later clear removed.
class RecordingLog : public common::LogSink {
public:
    void LogText(const QString& text, const QString& suffix) override {
        content += text + suffix;
        everything += text + suffix;
    }
    void clearLog() override { content.clear(); }

    QStringList lines() const {
        QStringList result = content.split(QStringLiteral("\r\n"));
        result.removeLast(); // the text after the last line break
        return result;
    }

    QString content;
    QString everything;
};

} // namespace regbench::tests
