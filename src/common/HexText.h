#pragma once

#include <QString>

namespace regbench::common {

// The two textual forms of a register value that every view agrees on.
class HexText {
public:
    // Two upper-case hex digits of the low byte: 5 -> "05", 171 -> "AB". Any int is accepted; a negative
    // value is taken in two's complement, so -1 -> "FF" and 0x1A5 -> "A5".
    static QString twoDigitHex(int value);

    // The leading hex digits of the text read as base 16 (either case); reading stops at the first other
    // character, and an empty text or one starting with a non-digit is 0. A text too long for an int
    // saturates at Saturated instead of wrapping.
    static int value(const QString& text);

    static constexpr int Saturated = 0x7FFFFFFF;
};

} // namespace regbench::common
