#pragma once

#include "common/LogSink.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

namespace regbench::app {

// The activity log: a running transcript the user can select and copy from but not type into.
class ActivityLog : public QPlainTextEdit, public common::LogSink {
    Q_OBJECT
public:
    explicit ActivityLog(QWidget* parent = nullptr);

    void LogText(const QString& text, const QString& suffix) override;
    void clearLog() override;

    // The whole content with CR LF between lines, as the writers wrote it.
    QString text() const;

    // Messages that come faster than this are shown together, at most once a frame of this length.
    static constexpr int FrameMs = 40;

private:
    void AppendToTextBox(const QString& text, const QString& suffix);
    void holdRepaintsForAFrame();
    void releaseRepaints();

    QTimer release_;
    QElapsedTimer sinceShown_;
};

} // namespace regbench::app
