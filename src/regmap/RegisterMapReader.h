#pragma once

#include "regmap/RegisterMap.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace regbench::regmap {

// Turns the bytes of tabdefs.csv into a register map. Pure: no files, no widgets, no boxes; every input,
// however malformed, gives a map whose slots hold -1 or 0..255 and whose TabCount is -1..31.
class RegisterMapReader {
public:
    struct ReadResult {
        RegisterMap map;
        // The last non-empty TITLEBAR / TITLE text, if the file has one.
        std::optional<QString> titleBar;
        std::optional<QString> title;
        // The chip's address from the last valid I2CADDR record, if any; a line for the log for each one
        // that is not, saying which and why.
        std::optional<std::uint8_t> chipAddress;
        QStringList ignored;
    };

    // Anything whose magnitude exceeds this reads as exactly this, with its sign.
    static constexpr int AddressClamp = 1'000'000;

    RegisterMapReader() = delete;

    // Records end at CR LF; in a file without any CR LF, at LF. A CR or LF that ends no record stays in its
    // field. The text is UTF-16 when the file starts with that byte-order mark, UTF-8 when it starts with
    // that mark or is valid UTF-8 with at least one multi-byte sequence, and ANSI (decodeAnsi) otherwise;
    // a mark is dropped.
    static ReadResult read(const QByteArray& fileBytes);

    // One character per byte, Windows-1252; its five unassigned bytes become the C1 control of that
    // number, so no byte is ever lost or merged and fields keep their positions.
    static QString decodeAnsi(QByteArrayView bytes);

    // The register address of a REG record: a decimal number (sign, point, exponent E/e) or "&H" and
    // hexadecimal digits; blanks, tabs and line feeds are skipped anywhere; reading stops at the first
    // character that cannot continue; rounds half to even; no number reads 0.
    static int readAddress(const QString& field);
};

} // namespace regbench::regmap
