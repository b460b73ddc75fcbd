#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace regbench::common {

// The chip's 7-bit I2C address: where the board's chip sits unless the map or the command line says
// otherwise, and the range a chosen one must lie in (the addresses below and above are reserved by I2C).
namespace ChipAddress {

inline constexpr std::uint8_t Default = 0x1C;
inline constexpr int Lowest = 0x08;
inline constexpr int Highest = 0x77;

// An address as the map's I2CADDR record and --address write it: 0x48, &H48 or decimal 72 (any form of
// HexText::number), blanks around it ignored. Nothing when the text is not such a number, or is one out of
// the range above; `problem` then says why, as "\"0x80\" is not an I2C address from 0x08 to 0x77" or "\"abc\"
// is not a number".
std::optional<std::uint8_t> parse(QStringView text, QString* problem = nullptr);

} // namespace ChipAddress

} // namespace regbench::common
