#include "panels/HexKeyRules.h"

#include <algorithm>

namespace regbench::panels {

namespace {

constexpr int Rejected = 0;

// Replacing the selection leaves the caret just after what was inserted, with nothing selected.
void replaceSelection(HexFieldState& state, const QString& with) {
    state.text.replace(state.caret, state.selectionLength, with);
    state.caret += static_cast<int>(with.size());
    state.selectionLength = 0;
}

} // namespace

HexKeyResult HexKeyRules::apply(const HexFieldState& before, int key) {
    key = filter(key);
    if (key == Rejected)
        return {before, false};

    HexFieldState state = clamped(before);
    if (key == Escape) {
        state = {QStringLiteral("00"), 0, 0};
        key = '0';
    }
    if (key == Backspace)
        return {backspace(state), true};
    return {typeDigit(state, QChar(key)), true};
}

int HexKeyRules::filter(int key) {
    if (key >= 'a' && key <= 'f')
        return key - ('a' - 'A');
    if ((key >= 'A' && key <= 'F') || (key >= '0' && key <= '9') || key == Backspace || key == Escape)
        return key;
    return Rejected;
}

HexFieldState HexKeyRules::clamped(const HexFieldState& state) {
    HexFieldState result = state;
    const int length = static_cast<int>(state.text.size());
    result.caret = std::clamp(state.caret, 0, length);
    result.selectionLength = std::clamp(state.selectionLength, 0, length - result.caret);
    return result;
}

HexFieldState HexKeyRules::backspace(HexFieldState state) {
    if (state.selectionLength == 0 && state.caret > 0) {
        state.caret -= 1;
        state.selectionLength = 1;
    }
    replaceSelection(state, QString());
    if (state.text.isEmpty()) {
        state.text = QStringLiteral("0");
        state.caret = 1;
    }
    return state;
}

HexFieldState HexKeyRules::typeDigit(HexFieldState state, QChar digit) {
    const int length = static_cast<int>(state.text.size());
    const int pos = state.caret;
    if (state.selectionLength > 0) {
        replaceSelection(state, digit);
    } else if (length == 2 && pos == 0) {
        state.selectionLength = 1;
        replaceSelection(state, digit);
    } else if (length <= 1 && pos == 0) {
        state.text = QStringLiteral("0") + digit;
        state.caret = 2;
    } else if (length == pos) {
        state.text = (state.text + digit).right(2);
        state.caret = 2;
    } else if (length == 2 && pos == 1) {
        state.selectionLength = 1;
        replaceSelection(state, digit);
    }
    // Otherwise the text holds more than two characters and the caret is inside it: nothing to overwrite.
    return state;
}

} // namespace regbench::panels
