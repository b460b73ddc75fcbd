#include "regmap/RegisterMapReader.h"

#include "common/ChipAddress.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace regbench::regmap {

namespace {

// 0x80..0x9F; the rest of the 256 bytes are the Latin-1 code points of the same number.
constexpr std::array<char16_t, 32> HighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number is read from the field's bytes; anything outside ASCII only ever ends it. Blanks, tabs and line
// feeds never count, wherever they stand; a carriage return does. Fields are short, so the copy stays in
// the string's own buffer.
template <typename Char, typename ToByte>
std::string withoutBlanks(const Char* begin, const Char* end, ToByte toByte) {
    std::string out;
    for (const Char* c = begin; c != end; ++c) {
        const char b = toByte(*c);
        if (b != ' ' && b != '\t' && b != '\n')
            out.push_back(b);
    }
    return out;
}

// Beyond a double's range a number too large to hold clamps and one too small to hold is 0: where its first
// significant digit stands, moved by the exponent, tells which.
bool tooLarge(std::string_view number) {
    const std::size_t e = std::min(number.find_first_of("eE"), number.size());
    const std::string_view mantissa = number.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = std::min(mantissa.find_first_not_of("0."), mantissa.size());
    // 1 for a first digit in the units, 0 in the tenths, -1 in the hundredths, ...
    const auto order =
        static_cast<long long>(point) - static_cast<long long>(first) + (first > point ? 1 : 0);
    if (e == number.size())
        return order > 0;
    std::string_view exponent = number.substr(e + 1);
    const bool negative = exponent.front() == '-';
    if (exponent.front() == '-' || exponent.front() == '+')
        exponent.remove_prefix(1);
    long long shift = 0;
    if (std::from_chars(exponent.data(), exponent.data() + exponent.size(), shift).ec != std::errc())
        return !negative; // an exponent past any count of digits decides alone
    // The exponent may be as large as a long long holds, so it is never added to: order, bounded by the
    // field's length, is moved to the other side.
    return negative ? order > shift : shift > -order;
}

// A decimal read as a double and rounded half to even; "&H" and hexadecimal digits; the magnitude clamped.
int readAddressBytes(std::string_view s) {
    constexpr int Clamp = RegisterMapReader::AddressClamp;
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(s.data() + 2, s.data() + s.size(), value, 16);
        return error == std::errc::result_out_of_range
                   ? Clamp
                   : static_cast<int>(std::min<std::uint64_t>(value, Clamp));
    }
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+'))
        s.remove_prefix(1);
    // from_chars would also take "inf" and "nan"; a number starts with a digit or a point and a digit.
    if (s.empty() || !(isDigit(s[0]) || (s[0] == '.' && s.size() > 1 && isDigit(s[1]))))
        return 0;
    double value = 0;
    const auto [end, error] =
        std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    double magnitude = std::nearbyint(value); // the default rounding: half to even
    if (error == std::errc::result_out_of_range)
        magnitude = tooLarge(s.substr(0, static_cast<std::size_t>(end - s.data()))) ? Clamp : 0;
    const int clamped = static_cast<int>(std::min<double>(magnitude, Clamp));
    return negative ? -clamped : clamped;
}

// The fields of one record as views into the file's bytes: the keyword and the eight that BITS uses at
// most; fields past those mean nothing to any record.
struct Fields {
    static constexpr int Kept = 9;
    std::array<QByteArrayView, Kept> field{};
    int count = 0;
    bool utf8;

    Fields(QByteArrayView line, bool isUtf8) : utf8(isUtf8) {
        qsizetype start = 0;
        while (count < Kept) {
            const qsizetype comma = line.indexOf(',', start);
            field[static_cast<std::size_t>(count++)] =
                line.sliced(start, (comma < 0 ? line.size() : comma) - start);
            if (comma < 0)
                break;
            start = comma + 1;
        }
    }
    QString text(int index) const {
        if (index >= count)
            return {};
        const QByteArrayView bytes = field[static_cast<std::size_t>(index)];
        return utf8 ? QString::fromUtf8(bytes) : RegisterMapReader::decodeAnsi(bytes);
    }
    // The keyword compared without regard to case. In an ANSI file only ASCII letters have an upper case
    // among the keywords' letters, so comparing bytes decides exactly as upper-casing the decoded text
    // would. A UTF-8 file is held to the same: a keyword is written in ASCII.
    bool is(const char* keyword) const {
        const QByteArrayView k(keyword);
        const QByteArrayView f = field[0];
        return f.size() == k.size() && std::equal(f.begin(), f.end(), k.begin(), [](char a, char b) {
                   return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
               });
    }
};

// What survives between records while a file is read.
struct LoadState {
    RegisterMapReader::ReadResult result;
    bool utf8 = false;
    int currentTab = -1; // -1 before the first TABNAME and after the last one that fits
    int slot = 0;
    int currentRegister = 0;
    int line = 0; // the record's line in the file, from 1
};

bool isAddress(int value) {
    return value >= 0 && value < RegisterMap::RegisterCount;
}

void applyTabName(const Fields& fields, LoadState& st) {
    RegisterMap& map = st.result.map;
    if (map.TabCount + 1 >= RegisterMap::MaxTabs) {
        st.currentTab = -1;
        return;
    }
    ++map.TabCount;
    st.currentTab = map.TabCount;
    st.slot = 0;
    map.TabNames[static_cast<std::size_t>(map.TabCount)] = fields.text(1);
}

void applyReg(const Fields& fields, LoadState& st) {
    const QByteArrayView field = fields.count > 1 ? fields.field[1] : QByteArrayView();
    st.currentRegister =
        readAddressBytes(withoutBlanks(field.begin(), field.end(), [](char c) { return c; }));
    if (!isAddress(st.currentRegister))
        return;
    RegisterMap& map = st.result.map;
    const auto address = static_cast<std::size_t>(st.currentRegister);
    map.RegNames[address] = fields.text(2);
    if (st.currentTab < 0)
        return;
    map.TabSlotAddr[static_cast<std::size_t>(st.slot)][static_cast<std::size_t>(st.currentTab)] =
        static_cast<std::int16_t>(address);
    if (st.slot < RegisterMap::SlotsPerTab - 1)
        ++st.slot;
}

void applyBits(const Fields& fields, LoadState& st) {
    if (!isAddress(st.currentRegister))
        return;
    const auto address = static_cast<std::size_t>(st.currentRegister);
    for (int k = 1; k <= RegisterMap::BitsPerRegister; ++k)
        st.result.map.BitNames[static_cast<std::size_t>(RegisterMap::BitsPerRegister - k)][address] =
            fields.text(k);
}

void applyTitle(const Fields& fields, std::optional<QString>& target) {
    QString text = fields.text(1);
    if (!text.isEmpty())
        target = std::move(text);
}

void applyChipAddress(const Fields& fields, LoadState& st) {
    QString problem;
    const QString field = fields.text(1);
    if (const std::optional<std::uint8_t> address = common::ChipAddress::parse(field, &problem))
        st.result.chipAddress = address;
    else
        st.result.ignored << QStringLiteral("I2CADDR record on line %1 ignored: ").arg(st.line) + problem;
}

void applyRecord(QByteArrayView line, LoadState& st) {
    const Fields fields(line, st.utf8);
    if (fields.is("TABNAME"))
        applyTabName(fields, st);
    else if (fields.is("REG"))
        applyReg(fields, st);
    else if (fields.is("BITS"))
        applyBits(fields, st);
    else if (fields.is("TITLEBAR"))
        applyTitle(fields, st.result.titleBar);
    else if (fields.is("TITLE"))
        applyTitle(fields, st.result.title);
    else if (fields.is("I2CADDR"))
        applyChipAddress(fields, st);
}

bool startsWith(QByteArrayView bytes, const char* mark) {
    return bytes.startsWith(QByteArrayView(mark));
}

// Eight bytes at a time: a map is read once, but may be as large as the reader takes.
bool isAscii(QByteArrayView bytes) {
    std::uint64_t any = 0;
    qsizetype at = 0;
    for (std::uint64_t word = 0; at + 8 <= bytes.size(); at += 8) {
        std::memcpy(&word, bytes.data() + at, sizeof word);
        any |= word;
    }
    for (; at < bytes.size(); ++at)
        any |= static_cast<unsigned char>(bytes[at]);
    return (any & 0x8080808080808080) == 0;
}

// Converted a piece at a time, so that the text is never held in full as UTF-16 beside the file and its
// UTF-8 form. The decoder drops the byte-order mark and carries a byte split between pieces; a surrogate
// pair split between them is carried here.
QByteArray utf16AsUtf8(QByteArrayView bytes) {
    constexpr qsizetype Piece = qsizetype{1} << 16;
    QStringDecoder decoder(QStringConverter::Utf16);
    QByteArray out;
    QString piece;
    for (qsizetype at = 0; at < bytes.size(); at += Piece) {
        piece += decoder(bytes.sliced(at, std::min(Piece, bytes.size() - at)));
        const bool split = !piece.isEmpty() && piece.back().isHighSurrogate();
        out += QStringView(piece).chopped(split ? 1 : 0).toUtf8();
        piece = split ? QString(piece.back()) : QString();
    }
    return out + piece.toUtf8();
}

} // namespace

QString RegisterMapReader::decodeAnsi(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] =
            (b >= 0x80 && b < 0xA0) ? QChar(HighControlRange[b - 0x80]) : QChar(static_cast<char16_t>(b));
    }
    return text;
}

int RegisterMapReader::readAddress(const QString& field) {
    const auto toByte = [](QChar c) { return c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '\x80'; };
    return readAddressBytes(withoutBlanks(field.begin(), field.end(), toByte));
}

// Works on the file's bytes as they are: only the texts the map keeps are decoded, so the reader needs little
// memory beyond the file itself. A UTF-16 file alone is converted first, to UTF-8.
RegisterMapReader::ReadResult RegisterMapReader::read(const QByteArray& fileBytes) {
    LoadState st;
    QByteArrayView all(fileBytes);
    QByteArray converted;
    if (startsWith(all, "\xFF\xFE") || startsWith(all, "\xFE\xFF")) {
        converted = utf16AsUtf8(all);
        all = converted;
        st.utf8 = true;
    } else if (startsWith(all, "\xEF\xBB\xBF")) {
        all = all.sliced(3);
        st.utf8 = true;
    } else {
        // An ASCII file reads the same either way, and faster as ANSI.
        st.utf8 = !isAscii(all) && all.isValidUtf8();
    }
    // A file written with LF alone would otherwise be one single record.
    const QByteArrayView lineEnd = all.contains("\r\n") ? QByteArrayView("\r\n") : QByteArrayView("\n");

    RegisterMap& map = st.result.map;
    for (auto& slotRow : map.TabSlotAddr)
        slotRow.fill(-1);
    map.TabCount = -1;
    map.RegValues.fill(0);

    qsizetype start = 0;
    while (start <= all.size()) {
        qsizetype end = all.indexOf(lineEnd, start);
        if (end < 0)
            end = all.size();
        ++st.line;
        if (end > start)
            applyRecord(all.sliced(start, end - start), st);
        start = end + lineEnd.size();
    }
    return std::move(st.result);
}

} // namespace regbench::regmap
