#pragma once

#include <QString>

namespace regbench::panels {

// What the key rules see of a text box: a selection always starts at the caret.
struct HexFieldState {
    QString text;
    int caret = 0;
    int selectionLength = 0;

    bool operator==(const HexFieldState&) const = default;
};

struct HexKeyResult {
    HexFieldState state;
    bool changed = false; // the other views must be refreshed from the text
};

// The typing rules of a register's hex text: one or two upper-case hex digits that behave like an overwrite
// field, a digit typed at the end pushing the older digit out on the left.
class HexKeyRules {
public:
    static constexpr int Backspace = 8;
    static constexpr int Enter = 13;
    static constexpr int Escape = 27;

    // key is the character code of one typed character. A rejected key gives changed == false and the
    // state exactly as given; an accepted one gives the edited state. A caret or selection outside the text
    // is first pulled back inside it.
    static HexKeyResult apply(const HexFieldState& before, int key);

private:
    static int filter(int key);
    static HexFieldState clamped(const HexFieldState& state);
    static HexFieldState backspace(HexFieldState state);
    static HexFieldState typeDigit(HexFieldState state, QChar digit);
};

} // namespace regbench::panels
