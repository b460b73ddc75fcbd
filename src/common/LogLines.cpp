#include "common/LogLines.h"

#include <algorithm>
#include <limits>

namespace regbench::common {

namespace {

// UTF-8 bytes beyond UTF-16 units: every continuation byte is one, but a four-byte sequence is two units.
qint64 extraIn(const char* begin, const char* end) {
    qint64 extra = 0;
    for (const char* c = begin; c != end; ++c) {
        const auto b = static_cast<unsigned char>(*c);
        extra += (b & 0xC0) == 0x80 ? 1 : (b >= 0xF0 ? -1 : 0);
    }
    return extra;
}

} // namespace

LogLines::LogLines() {
    clear();
}

void LogLines::clear() {
    utf8_ = QByteArray();
    starts_ = {0};
    starts_.shrink_to_fit();
    wide_ = {};
}

void LogLines::append(const QString& text) {
    const QByteArray added = text.toUtf8();
    const char* at = added.constData();
    const char* const end = at + added.size();
    while (at < end) {
        const char* const lineEnd = std::find_if(at, end, [](char c) { return c == '\r' || c == '\n'; });
        if (const qint64 extra = extraIn(at, lineEnd); extra > 0) {
            const qint64 line = lineCount() - 1;
            if (!wide_.empty() && wide_.back().line == line)
                wide_.back().extraThrough += extra;
            else
                wide_.push_back({line, (wide_.empty() ? 0 : wide_.back().extraThrough) + extra});
        }
        utf8_.append(at, lineEnd - at);
        if (lineEnd == end)
            break;
        at = lineEnd + (*lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n' ? 2 : 1);
        utf8_.append('\n');
        starts_.push_back(utf8_.size());
    }
}

QByteArray LogLines::bytes(qint64 index) const {
    const qint64 start = starts_[static_cast<std::size_t>(index)];
    const qint64 end =
        index + 1 < lineCount() ? starts_[static_cast<std::size_t>(index + 1)] - 1 : utf8_.size();
    return QByteArray::fromRawData(utf8_.constData() + start, end - start);
}

std::pair<qint64, qint64> LogLines::extraBytes(qint64 index) const {
    const auto at = std::lower_bound(wide_.begin(), wide_.end(), index,
                                     [](const Wide& w, qint64 line) { return w.line < line; });
    const qint64 before = at == wide_.begin() ? 0 : (at - 1)->extraThrough;
    return {before, at != wide_.end() && at->line == index ? at->extraThrough - before : 0};
}

QString LogLines::line(qint64 index) const {
    return QString::fromUtf8(bytes(index));
}

int LogLines::lineLength(qint64 index) const {
    return static_cast<int>(bytes(index).size() - extraBytes(index).second);
}

qint64 LogLines::characterOffset(qint64 index) const {
    return starts_[static_cast<std::size_t>(index)] - extraBytes(index).first;
}

// First the run of lines between two wide ones that holds the offset, then the line within the run, where
// characters and bytes differ by the same amount.
qint64 LogLines::lineAtCharacter(qint64 offset) const {
    const auto startAfter = [this](const Wide& w) {
        const qint64 next = w.line + 1;
        return next < lineCount() ? starts_[static_cast<std::size_t>(next)] - w.extraThrough
                                  : std::numeric_limits<qint64>::max();
    };
    const auto run = std::partition_point(wide_.begin(), wide_.end(),
                                          [&](const Wide& w) { return startAfter(w) <= offset; });
    const qint64 first = run == wide_.begin() ? 0 : (run - 1)->line + 1;
    const qint64 last = run == wide_.end() ? lineCount() - 1 : run->line;
    const qint64 extra = run == wide_.begin() ? 0 : (run - 1)->extraThrough;
    const auto found = std::upper_bound(starts_.begin() + first, starts_.begin() + last + 1, offset + extra);
    return std::max<qint64>(first, found - starts_.begin() - 1);
}

QString LogLines::text() const {
    QString all = QString::fromUtf8(utf8_);
    all.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return all;
}

QString LogLines::text(qint64 fromLine, int fromColumn, qint64 toLine, int toColumn) const {
    if (fromLine == toLine)
        return line(fromLine).mid(fromColumn, toColumn - fromColumn);
    QString out = line(fromLine).mid(fromColumn);
    for (qint64 i = fromLine + 1; i < toLine; ++i)
        out += QLatin1Char('\n') + line(i);
    return out + QLatin1Char('\n') + line(toLine).left(toColumn);
}

} // namespace regbench::common
