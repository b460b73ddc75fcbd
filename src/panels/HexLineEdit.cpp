#include "panels/HexLineEdit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace regbench::panels {

HexLineEdit::HexLineEdit(QWidget* parent) : QLineEdit(parent) {
    // No edit menu (its paste and cut would bypass the typing rules); the panel's menu comes instead.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
}

HexFieldState HexLineEdit::fieldState() const {
    if (hasSelectedText())
        return {text(), selectionStart(), selectionLength()};
    return {text(), cursorPosition(), 0};
}

void HexLineEdit::applyState(const HexFieldState& state) {
    setText(state.text);
    // setText may have cut the text at maxLength, so clamp against what the box now holds.
    const int length = static_cast<int>(text().size());
    const int caret = std::clamp(state.caret, 0, length);
    const int selection = std::clamp(state.selectionLength, 0, length - caret);
    setCursorPosition(caret);
    if (selection > 0)
        setSelection(caret, selection);
}

bool HexLineEdit::event(QEvent* event) {
    // Claim the keys handled here before a window shortcut can take them, Escape and Backspace included.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!typedKeys(key).isEmpty()) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void HexLineEdit::keyPressEvent(QKeyEvent* event) {
    if (const QList<int> keys = typedKeys(event); !keys.isEmpty()) {
        event->accept();
        for (const int key : keys)
            emit keyPressed(key);
        return;
    }
    if (isNavigation(event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // Anything else may mean something to the window, but never to the text.
    event->ignore();
}

void HexLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    event->ignore();
}

void HexLineEdit::mouseReleaseEvent(QMouseEvent* event) {
    // A middle click pastes the X11 selection on release.
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

QList<int> HexLineEdit::typedKeys(const QKeyEvent* event) {
    const Qt::KeyboardModifiers chord =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (chord != Qt::NoModifier)
        return {};
    switch (event->key()) {
    case Qt::Key_Backspace:
        return {HexKeyRules::Backspace};
    case Qt::Key_Escape:
        return {HexKeyRules::Escape};
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return {HexKeyRules::Enter};
    default:
        break;
    }
    QList<int> keys;
    for (const QChar ch : event->text()) {
        if (ch.isPrint())
            keys.append(ch.unicode());
    }
    return keys;
}

bool HexLineEdit::isNavigation(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return event->matches(QKeySequence::SelectAll) || event->matches(QKeySequence::Deselect) ||
               event->matches(QKeySequence::Copy);
    }
}

} // namespace regbench::panels
