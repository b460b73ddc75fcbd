#pragma once

#include <QString>

#include <QStringView>

#include <cstdint>
#include <optional>

namespace regbench::common {

// Every hexadecimal form the program shows or reads: the register views, the log lines and the panel text.
class HexText {
public:
    // Two upper-case hex digits of the low byte: 5 -> "05", 171 -> "AB". Any int is accepted; a negative
    // value is taken in two's complement, so -1 -> "FF" and 0x1A5 -> "A5".
    static QString twoDigitHex(int value);

    // A register address or value in a log line: "0x" and the two digits, 5 -> "0x05".
    static QString byteText(int value);

    // A status, handle or USB ID in a log line: upper-case digits without leading zeros, 0 -> "0".
    static QString hex(std::uint32_t value);

    // The leading hex digits of the text read as base 16 (either case); reading stops at the first other
    // character, and an empty text or one starting with a non-digit is 0. A text too long for an int
    // saturates at Saturated instead of wrapping.
    static int value(const QString& text);

    static constexpr int Saturated = 0x7FFFFFFF;

    // A whole number as a user writes one on a command line or in a file: 0x48 or &H48, 0b1001000 or 72
    // (prefixes in either case), blanks around it ignored; no sign. Nothing for any other text.
    static std::optional<qlonglong> number(QStringView text);
};

} // namespace regbench::common
