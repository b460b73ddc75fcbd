// Every hexadecimal form the program writes or reads.
#include "common/HexText.h"

#include <QTest>

#include <climits>

using regbench::common::HexText;

class HexTextTest : public QObject {
    Q_OBJECT
private slots:
    void forms() {
        // clang-format off
        // value, its two-digit form (the low byte) and its form in a log line
        const std::tuple<int, const char*, const char*> bytes[] = {{0, "00", "0x00"}, {5, "05", "0x05"},
            {171, "AB", "0xAB"}, {0x1A5, "A5", "0xA5"}, {-1, "FF", "0xFF"}, {INT_MIN, "00", "0x00"}};
        // statuses, handles and IDs: unsigned 32 bits, no leading zeros, never a sign
        const std::pair<std::uint32_t, const char*> words[] = {{0, "0"}, {10, "A"}, {0xFFFE, "FFFE"},
            {0x80000000u, "80000000"}, {~0u, "FFFFFFFF"}};
        // the leading hex digits of a text, saturating rather than overflowing
        const std::pair<const char*, int> texts[] = {{"", 0}, {"a", 10}, {"ff", 255}, {"1G", 1}, {"G1", 0},
            {" 1", 0}, {"100", 256}, {"7FFFFFFF", INT_MAX}, {"80000000", HexText::Saturated},
            {"FFFFFFFFFFFFFFFFFFFF", HexText::Saturated}};
        // clang-format on
        for (const auto& [value, twoDigits, byte] : bytes) {
            QCOMPARE(HexText::twoDigitHex(value), QLatin1String(twoDigits));
            QCOMPARE(HexText::byteText(value), QLatin1String(byte));
        }
        for (const auto& [value, text] : words)
            QCOMPARE(HexText::hex(value), QLatin1String(text));
        for (const auto& [text, value] : texts)
            QCOMPARE(HexText::value(QString::fromLatin1(text)), value);
        for (int v = 0; v <= 255; ++v)
            QCOMPARE(HexText::value(HexText::twoDigitHex(v)), v);
    }
};

QTEST_APPLESS_MAIN(HexTextTest)
#include "HexTextTest.moc"
