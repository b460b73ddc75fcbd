#include "common/HexText.h"

namespace regbench::common {

QString HexText::twoDigitHex(int value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const unsigned low = static_cast<unsigned>(value) & 0xFFu;
    const char pair[2] = {digits[low >> 4], digits[low & 0xFu]};
    return QString::fromLatin1(pair, 2);
}

QString HexText::byteText(int value) {
    return QStringLiteral("0x") + twoDigitHex(value);
}

QString HexText::hex(std::uint32_t value) {
    return QString::number(value, 16).toUpper();
}

int HexText::value(const QString& text) {
    qint64 result = 0;
    for (const QChar ch : text) {
        int digit = -1;
        const char16_t c = ch.unicode();
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        if (digit < 0)
            break;
        result = result * 16 + digit;
        if (result >= Saturated)
            return Saturated;
    }
    return static_cast<int>(result);
}

} // namespace regbench::common
