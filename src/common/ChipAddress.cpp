#include "common/ChipAddress.h"

#include "common/HexText.h"

namespace regbench::common::ChipAddress {

std::optional<std::uint8_t> parse(QStringView text, QString* problem) {
    const QStringView trimmed = text.trimmed();
    const std::optional<qlonglong> number = HexText::number(trimmed);
    const bool isNumber = number.has_value();
    const qlonglong value = number.value_or(0);
    if (isNumber && value >= Lowest && value <= Highest)
        return static_cast<std::uint8_t>(value);
    // A field that is no address may be anything, a whole line of text: the message quotes its start.
    constexpr qsizetype Quoted = 40;
    const QString shown =
        trimmed.size() > Quoted ? trimmed.left(Quoted).toString() + QChar(0x2026) : trimmed.toString();
    if (problem)
        *problem = QLatin1Char('"') + shown + QStringLiteral("\" is ") +
                   (isNumber ? QStringLiteral("not an I2C address from ") + HexText::byteText(Lowest) +
                                   QStringLiteral(" to ") + HexText::byteText(Highest)
                             : QStringLiteral("not a number"));
    return std::nullopt;
}

} // namespace regbench::common::ChipAddress
