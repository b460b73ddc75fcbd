#pragma once

#include "panels/HexKeyRules.h"

#include <QLineEdit>

namespace regbench::panels {

// A text box that never edits itself: each typed character is handed to the owner through keyPressed(),
// and the owner writes the outcome back with applyState(). Keys that type nothing and do not move the caret
// (Delete, paste, cut, undo and the rest) never reach the line edit's own handling; drops, the context menu,
// input methods and the middle-click paste of X11 would bypass the keys, so they are refused here. Moving
// the caret, selecting and copying work as usual.
class HexLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit HexLineEdit(QWidget* parent = nullptr);

    HexFieldState fieldState() const;
    // Text, then caret, then a selection running forward from the caret; values outside the text are clamped.
    void applyState(const HexFieldState& state);

signals:
    // key: the character code; Backspace 8, Enter 13, Escape 27.
    void keyPressed(int key);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The character codes a key event types, or an empty list when it types none.
    static QList<int> typedKeys(const QKeyEvent* event);
    static bool isNavigation(const QKeyEvent* event);
};

} // namespace regbench::panels
