#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace regbench::common {

// The log's transcript as compact as it can be kept: one UTF-8 buffer and the offset where each line starts.
// A message's line breaks (CR LF, or a lone CR or LF) end lines; the text after the last break is the last
// line, empty after every complete message. Appending costs what is appended, however long the log, and
// finding a line or a character offset costs the logarithm of the line count, whatever the text.
class LogLines {
public:
    LogLines();

    void append(const QString& text);
    void clear();

    qint64 lineCount() const { return static_cast<qint64>(starts_.size()); }
    QString line(qint64 index) const;
    // Characters (UTF-16 units) of a line, without its break.
    int lineLength(qint64 index) const;
    // Where a line starts counted in characters, breaks included as one each.
    qint64 characterOffset(qint64 index) const;
    // The line that holds a character offset, its break included; the first line before the start, the last
    // after the end.
    qint64 lineAtCharacter(qint64 offset) const;

    // The whole transcript with CR LF between lines, as the writers wrote it.
    QString text() const;
    // From line/column to line/column, lines joined by LF as a copy gives them.
    QString text(qint64 fromLine, int fromColumn, qint64 toLine, int toColumn) const;

private:
    // A line with characters outside ASCII, whose UTF-8 bytes outnumber its characters. Between two such
    // lines a character offset is a byte offset less a constant, so the others need no entry and no decoding.
    struct Wide {
        qint64 line;
        qint64 extraThrough; // bytes beyond characters, summed over the wide lines up to this one
    };

    QByteArray bytes(qint64 index) const;
    // Bytes beyond characters in the lines before a line, and in the line itself.
    std::pair<qint64, qint64> extraBytes(qint64 index) const;

    QByteArray utf8_;
    std::vector<qint64> starts_;
    std::vector<Wide> wide_;
};

} // namespace regbench::common
