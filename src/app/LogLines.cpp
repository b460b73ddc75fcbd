#include "app/LogLines.h"

#include <algorithm>

namespace regbench::app {

LogLines::LogLines() {
    clear();
}

void LogLines::clear() {
    utf8_ = QByteArray();
    starts_ = {0};
    starts_.shrink_to_fit();
    ascii_ = true;
}

void LogLines::append(const QString& text) {
    const QByteArray added = text.toUtf8();
    const char* at = added.constData();
    const char* const end = at + added.size();
    while (at < end) {
        const char* const lineEnd = std::find_if(at, end, [](char c) { return c == '\r' || c == '\n'; });
        ascii_ =
            ascii_ && std::all_of(at, lineEnd, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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

QString LogLines::line(qint64 index) const {
    return QString::fromUtf8(bytes(index));
}

int LogLines::lineLength(qint64 index) const {
    return ascii_ ? static_cast<int>(bytes(index).size()) : static_cast<int>(line(index).size());
}

qint64 LogLines::characterOffset(qint64 index) const {
    if (ascii_)
        return starts_[static_cast<std::size_t>(index)];
    qint64 offset = 0;
    for (qint64 i = 0; i < index; ++i)
        offset += lineLength(i) + 1;
    return offset;
}

qint64 LogLines::characterCount() const {
    return characterOffset(lineCount() - 1) + lineLength(lineCount() - 1);
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

} // namespace regbench::app
