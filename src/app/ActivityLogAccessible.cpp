#include "app/ActivityLogAccessible.h"

#include "app/ActivityLog.h"

#include <algorithm>
#include <climits>

namespace regbench::app {

namespace {

using Position = ActivityLog::Position;

int offsetOf(const LogLines& lines, Position position) {
    return static_cast<int>(
        std::min<qint64>(lines.characterOffset(position.line) + position.column, INT_MAX));
}

Position positionOf(const LogLines& lines, qint64 offset) {
    const qint64 line = lines.lineAtCharacter(offset);
    const auto column =
        static_cast<int>(std::clamp<qint64>(offset - lines.characterOffset(line), 0, lines.lineLength(line)));
    return {line, column};
}

} // namespace

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
    const LogLines& lines = log()->lines();
    *startOffset = offsetOf(lines, std::min(log()->anchorPosition(), log()->cursorPosition()));
    *endOffset = offsetOf(lines, std::max(log()->anchorPosition(), log()->cursorPosition()));
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
    const LogLines& lines = log()->lines();
    log()->setSelection(positionOf(lines, startOffset), positionOf(lines, endOffset));
}

int ActivityLogAccessible::cursorPosition() const {
    return offsetOf(log()->lines(), log()->cursorPosition());
}

void ActivityLogAccessible::setCursorPosition(int position) {
    const Position at = positionOf(log()->lines(), position);
    log()->setSelection(at, at);
}

QString ActivityLogAccessible::text(int startOffset, int endOffset) const {
    const LogLines& lines = log()->lines();
    const Position from = positionOf(lines, startOffset);
    const Position to = positionOf(lines, std::max(startOffset, endOffset));
    return lines.text(from.line, from.column, to.line, to.column);
}

int ActivityLogAccessible::characterCount() const {
    return static_cast<int>(std::min<qint64>(log()->lines().characterCount(), INT_MAX));
}

QRect ActivityLogAccessible::characterRect(int offset) const {
    const QRect local = log()->cursorRect(positionOf(log()->lines(), offset));
    return QRect(log()->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int ActivityLogAccessible::offsetAtPoint(const QPoint& point) const {
    return offsetOf(log()->lines(), log()->positionAt(log()->viewport()->mapFromGlobal(point)));
}

void ActivityLogAccessible::scrollToSubstring(int startIndex, int /*endIndex*/) {
    log()->ensureVisible(positionOf(log()->lines(), startIndex));
}

QString ActivityLogAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = offset;
    return {};
}

} // namespace regbench::app
