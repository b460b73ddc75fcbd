#pragma once

#include <QAccessibleWidget>

namespace regbench::app {

class ActivityLog;

// What assistive technology sees of the log: read-only text with its selection and caret, as a text box
// would show it. Offsets count characters over the whole transcript, one for each line break.
class ActivityLogAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ActivityLogAccessible(ActivityLog* log);

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    ActivityLog* log() const;
};

} // namespace regbench::app
