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
}

void ActivityLog::LogText(const QString& text, const QString& suffix) {
    AppendToTextBox(text, suffix);
}

void ActivityLog::clearLog() {
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
}

} // namespace regbench::app
