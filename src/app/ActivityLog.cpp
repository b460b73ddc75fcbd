#include "app/ActivityLog.h"

#include <QScrollBar>
#include <QTextCursor>

namespace regbench::app {

ActivityLog::ActivityLog(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setUndoRedoEnabled(false); // an undo stack would keep a second copy of the whole log
    release_.setSingleShot(true);
    connect(&release_, &QTimer::timeout, this, &ActivityLog::releaseRepaints);
}

void ActivityLog::LogText(const QString& text, const QString& suffix) {
    AppendToTextBox(text, suffix);
}

void ActivityLog::clearLog() {
    releaseRepaints();
    clear();
    repaint();
}

QString ActivityLog::text() const {
    QString content = toPlainText();
    content.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return content;
}

void ActivityLog::AppendToTextBox(const QString& text, const QString& suffix) {
    // Inserting at the end costs what is appended, not the whole log; the document keeps one block per
    // line, so CR LF becomes its paragraph break.
    QString appended = text + suffix;
    appended.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(appended);
    // The caret goes after the last character, which drops any selection and brings the newest line into
    // view, even when the user has scrolled up or clicked into the log.
    setTextCursor(cursor);
    ensureCursorVisible();
    holdRepaintsForAFrame();
}

// Repainting the visible lines costs far more than appending one, and a group operation writes a line every
// few milliseconds: the first message of a burst shows at once, the rest at most once a frame.
void ActivityLog::holdRepaintsForAFrame() {
    if (release_.isActive()) {
        return;
    }
    if (!sinceShown_.isValid() || sinceShown_.elapsed() >= FrameMs) {
        sinceShown_.start();
        return;
    }
    setUpdatesEnabled(false);
    release_.start(static_cast<int>(FrameMs - sinceShown_.elapsed()));
}

void ActivityLog::releaseRepaints() {
    release_.stop();
    if (!updatesEnabled()) {
        setUpdatesEnabled(true); // repaints what was held
    }
    sinceShown_.start();
}

} // namespace regbench::app
