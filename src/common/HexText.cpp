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

std::optional<qlonglong> HexText::number(QStringView text) {
    const QStringView trimmed = text.trimmed();
    int base = 10;
    QStringView digits = trimmed;
    if (trimmed.startsWith(u"0x", Qt::CaseInsensitive) || trimmed.startsWith(u"&H", Qt::CaseInsensitive))
        base = 16;
    else if (trimmed.startsWith(u"0b", Qt::CaseInsensitive))
        base = 2;
    if (base != 10)
        digits = trimmed.sliced(2);
    // toLongLong takes a sign, blanks and a second prefix; none of them is a digit here.
    for (const QChar c : digits)
        if (!c.isLetterOrNumber())
            return std::nullopt;
    bool isNumber = false;
    const qlonglong value = digits.isEmpty() || digits.startsWith(u"0x", Qt::CaseInsensitive)
                                ? 0
                                : digits.toLongLong(&isNumber, base);
    return isNumber ? std::optional<qlonglong>(value) : std::nullopt;
}

} // namespace regbench::common
