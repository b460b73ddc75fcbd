#include "regmap/RegisterMapReader.h"

#include <QList>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace regbench::regmap {

namespace {

// 0x80..0x9F; the rest of the 256 bytes are the Latin-1 code points of the same number.
constexpr std::array<char16_t, 32> HighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Enough significant digits to decide rounding of anything up to the clamp.
constexpr std::size_t KeptDigits = 16;
constexpr std::int64_t ExponentCap = 1'000'000'000'000;

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int hexDigit(char16_t c) {
    if (isDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Blanks, tabs and line feeds never count, wherever they stand; a carriage return does.
std::u16string withoutBlanks(QStringView field) {
    std::u16string out;
    out.reserve(static_cast<std::size_t>(field.size()));
    for (QChar c : field) {
        const char16_t u = c.unicode();
        if (u != u' ' && u != u'\t' && u != u'\n')
            out.push_back(u);
    }
    return out;
}

int readHex(const std::u16string& s, std::size_t i) {
    int value = 0;
    for (; i < s.size() && hexDigit(s[i]) >= 0; ++i)
        value = std::min(value * 16 + hexDigit(s[i]), RegisterMapReader::AddressClamp);
    return value;
}

// The significant digits of a decimal number: value = 0.d1 d2 d3 ... * 10^pointPos.
struct Mantissa {
    std::string digits;
    bool nonZeroBeyondKept = false;
    std::int64_t pointPos = 0;
    bool anyDigit = false;

    void add(char16_t c, bool beforePoint) {
        anyDigit = true;
        if (digits.empty() && c == u'0') {
            if (!beforePoint)
                --pointPos;
            return;
        }
        if (beforePoint)
            ++pointPos;
        if (digits.size() < KeptDigits)
            digits.push_back(static_cast<char>(c));
        else if (c != u'0')
            nonZeroBeyondKept = true;
    }
};

// Reads "E[sign]digits" at i if it is complete; otherwise leaves pointPos alone.
void readExponent(const std::u16string& s, std::size_t i, Mantissa& m) {
    if (i >= s.size() || (s[i] != u'e' && s[i] != u'E'))
        return;
    ++i;
    std::int64_t sign = 1;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        sign = s[i] == u'-' ? -1 : 1;
        ++i;
    }
    if (i >= s.size() || !isDigit(s[i]))
        return;
    std::int64_t exponent = 0;
    for (; i < s.size() && isDigit(s[i]); ++i)
        exponent = std::min(exponent * 10 + (s[i] - u'0'), ExponentCap);
    m.pointPos += sign * exponent;
}

int roundHalfEven(const Mantissa& m) {
    if (m.digits.empty() || m.pointPos < 0)
        return 0;
    if (m.pointPos > 7)
        return RegisterMapReader::AddressClamp;
    const auto pos = static_cast<std::size_t>(m.pointPos);
    auto digitAt = [&m](std::size_t k) { return k < m.digits.size() ? m.digits[k] - '0' : 0; };
    int whole = 0;
    for (std::size_t k = 0; k < pos; ++k)
        whole = whole * 10 + digitAt(k);
    const int next = digitAt(pos);
    const bool restNonZero =
        m.nonZeroBeyondKept ||
        (pos + 1 < m.digits.size() && std::any_of(m.digits.begin() + static_cast<std::ptrdiff_t>(pos + 1),
                                                  m.digits.end(), [](char d) { return d != '0'; }));
    if (next > 5 || (next == 5 && (restNonZero || whole % 2 == 1)))
        ++whole;
    return std::min(whole, RegisterMapReader::AddressClamp);
}

int readDecimal(const std::u16string& s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    Mantissa m;
    for (; i < s.size() && isDigit(s[i]); ++i)
        m.add(s[i], true);
    if (i < s.size() && s[i] == u'.')
        for (++i; i < s.size() && isDigit(s[i]); ++i)
            m.add(s[i], false);
    if (m.anyDigit)
        readExponent(s, i, m);
    const int magnitude = roundHalfEven(m);
    return negative ? -magnitude : magnitude;
}

// What survives between records while a file is read.
struct LoadState {
    RegisterMapReader::ReadResult result;
    int currentTab = -1; // -1 before the first TABNAME and after the last one that fits
    int slot = 0;
    int currentRegister = 0;
};

QString fieldAt(const QList<QStringView>& fields, qsizetype index) {
    return index < fields.size() ? fields[index].toString() : QString();
}

bool isAddress(int value) {
    return value >= 0 && value < RegisterMap::RegisterCount;
}

void applyTabName(const QList<QStringView>& fields, LoadState& st) {
    RegisterMap& map = st.result.map;
    if (map.TabCount + 1 >= RegisterMap::MaxTabs) {
        st.currentTab = -1;
        return;
    }
    ++map.TabCount;
    st.currentTab = map.TabCount;
    st.slot = 0;
    map.TabNames[static_cast<std::size_t>(map.TabCount)] = fieldAt(fields, 1);
}

void applyReg(const QList<QStringView>& fields, LoadState& st) {
    st.currentRegister = RegisterMapReader::readAddress(fieldAt(fields, 1));
    if (!isAddress(st.currentRegister))
        return;
    RegisterMap& map = st.result.map;
    const auto address = static_cast<std::size_t>(st.currentRegister);
    map.RegNames[address] = fieldAt(fields, 2);
    if (st.currentTab < 0)
        return;
    map.TabSlotAddr[static_cast<std::size_t>(st.slot)][static_cast<std::size_t>(st.currentTab)] =
        static_cast<std::int16_t>(address);
    if (st.slot < RegisterMap::SlotsPerTab - 1)
        ++st.slot;
}

void applyBits(const QList<QStringView>& fields, LoadState& st) {
    if (!isAddress(st.currentRegister))
        return;
    const auto address = static_cast<std::size_t>(st.currentRegister);
    for (int k = 1; k <= RegisterMap::BitsPerRegister; ++k)
        st.result.map.BitNames[static_cast<std::size_t>(RegisterMap::BitsPerRegister - k)][address] =
            fieldAt(fields, k);
}

void applyTitle(const QList<QStringView>& fields, std::optional<QString>& target) {
    QString text = fieldAt(fields, 1);
    if (!text.isEmpty())
        target = std::move(text);
}

void applyRecord(QStringView line, LoadState& st) {
    const QList<QStringView> fields = line.split(u',');
    const QString keyword = fields.front().toString().toUpper();
    if (keyword == u"TABNAME")
        applyTabName(fields, st);
    else if (keyword == u"REG")
        applyReg(fields, st);
    else if (keyword == u"BITS")
        applyBits(fields, st);
    else if (keyword == u"TITLEBAR")
        applyTitle(fields, st.result.titleBar);
    else if (keyword == u"TITLE")
        applyTitle(fields, st.result.title);
}

} // namespace

QString RegisterMapReader::decodeAnsi(const QByteArray& bytes) {
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
    const std::u16string s = withoutBlanks(field);
    if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h'))
        return readHex(s, 2);
    return readDecimal(s);
}

RegisterMapReader::ReadResult RegisterMapReader::read(const QByteArray& fileBytes) {
    LoadState st;
    RegisterMap& map = st.result.map;
    for (auto& slotRow : map.TabSlotAddr)
        slotRow.fill(-1);
    map.TabCount = -1;
    map.RegValues.fill(0);

    const QString text = decodeAnsi(fileBytes);
    const QStringView all(text);
    qsizetype start = 0;
    while (start <= all.size()) {
        qsizetype end = all.indexOf(u"\r\n", start);
        if (end < 0)
            end = all.size();
        if (end > start)
            applyRecord(all.sliced(start, end - start), st);
        start = end + 2;
    }
    return std::move(st.result);
}

} // namespace regbench::regmap
