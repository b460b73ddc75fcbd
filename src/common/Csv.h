#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace regbench::common {

// Comma-separated text as RFC 4180 has it, for what the programs write for other tools and read back: a
// field with a comma, a quote or a line break is quoted, its quotes doubled. Lines end with LF.
class Csv {
public:
    static QString field(const QString& text);
    // The fields, quoted where needed, joined by commas, with the LF.
    static QString line(const QStringList& fields);

    struct Record {
        int line = 0; // where it starts in the text, the first line being 1
        QStringList fields;
    };
    struct Parsed {
        std::vector<Record> records; // blank lines are none
        QString problem;             // empty when the whole text was read
        int problemLine = 0;
    };
    // LF or CR LF line ends; a quoted field may hold line breaks. Stops at the first malformed record.
    static Parsed parse(const QString& text);
};

} // namespace regbench::common
