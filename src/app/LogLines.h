#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace regbench::app {

// The log's transcript as compact as it can be kept: one UTF-8 buffer and the offset where each line starts.
// A message's line breaks (CR LF, or a lone CR or LF) end lines; the text after the last break is the last
// line, empty after every complete message. Appending costs what is appended, however long the log.
class LogLines {
public:
    LogLines();

    void append(const QString& text);
    void clear();

    qint64 lineCount() const { return static_cast<qint64>(starts_.size()); }
    QString line(qint64 index) const;
    // Characters (UTF-16 units) of a line, without its break.
    int lineLength(qint64 index) const;
    bool isAscii() const { return ascii_; }
    // Where a line starts counted in characters, breaks included as one each.
    qint64 characterOffset(qint64 index) const;
    qint64 characterCount() const;

    // The whole transcript with CR LF between lines, as the writers wrote it.
    QString text() const;
    // From line/column to line/column, lines joined by LF as a copy gives them.
    QString text(qint64 fromLine, int fromColumn, qint64 toLine, int toColumn) const;

private:
    QByteArray bytes(qint64 index) const;

    QByteArray utf8_;
    std::vector<qint64> starts_;
    // While every byte is ASCII a character offset is a byte offset, so positions need no decoding.
    bool ascii_ = true;
};

} // namespace regbench::app
