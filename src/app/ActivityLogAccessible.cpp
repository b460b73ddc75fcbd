#include "app/ActivityLogAccessible.h"

#include "app/ActivityLog.h"

namespace regbench::app {

ActivityLogAccessible::ActivityLogAccessible(ActivityLog* log)
    : QAccessibleWidget(log, QAccessible::EditableText) {}

ActivityLog* ActivityLogAccessible::log() const {
    return static_cast<ActivityLog*>(widget());
}

QAccessible::State ActivityLogAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString ActivityLogAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value)
        return text(0, characterCount());
    return QAccessibleWidget::text(t);
}

void* ActivityLogAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

void ActivityLogAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !log()->hasSelection())
        return;
    *startOffset = log()->characterOffset(std::min(log()->anchorPosition(), log()->cursorPosition()));
    *endOffset = log()->characterOffset(std::max(log()->anchorPosition(), log()->cursorPosition()));
}

int ActivityLogAccessible::selectionCount() const {
    return log()->hasSelection() ? 1 : 0;
}

void ActivityLogAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void ActivityLogAccessible::removeSelection(int /*selectionIndex*/) {
    log()->setSelection(log()->cursorPosition(), log()->cursorPosition());
}

void ActivityLogAccessible::setSelection(int /*selectionIndex*/, int startOffset, int endOffset) {
    log()->setSelection(log()->positionAtCharacter(startOffset), log()->positionAtCharacter(endOffset));
}

int ActivityLogAccessible::cursorPosition() const {
    return log()->characterOffset(log()->cursorPosition());
}

void ActivityLogAccessible::setCursorPosition(int position) {
    const ActivityLog::Position at = log()->positionAtCharacter(position);
    log()->setSelection(at, at);
}

QString ActivityLogAccessible::text(int startOffset, int endOffset) const {
    const ActivityLog::Position from = log()->positionAtCharacter(startOffset);
    const ActivityLog::Position to = log()->positionAtCharacter(std::max(startOffset, endOffset));
    return log()->lines().text(from.line, from.column, to.line, to.column);
}

int ActivityLogAccessible::characterCount() const {
    return log()->characterOffset(log()->endPosition());
}

QRect ActivityLogAccessible::characterRect(int offset) const {
    if (offset < 0 || offset >= characterCount())
        return {};
    const QRect local = log()->characterRect(log()->positionAtCharacter(offset));
    return {log()->viewport()->mapToGlobal(local.topLeft()), local.size()};
}

// The character whose box holds the point, in view; the nearest caret position lies in it or just after it.
int ActivityLogAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = log()->viewport()->mapFromGlobal(point);
    if (!log()->viewport()->rect().contains(local))
        return -1;
    const int caret = log()->characterOffset(log()->positionAt(local));
    for (const int offset : {caret, caret - 1}) {
        if (characterRect(offset).contains(point))
            return offset;
    }
    return -1;
}

void ActivityLogAccessible::scrollToSubstring(int startIndex, int /*endIndex*/) {
    log()->ensureVisible(log()->positionAtCharacter(startIndex));
}

QString ActivityLogAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = offset;
    return {};
}

} // namespace regbench::app
