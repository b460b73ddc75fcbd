#pragma once

#include <QByteArray>
#include <QString>

namespace regbench::regmap {

// The one file the program reads: the register map, tabdefs.csv beside the program unless another is
// chosen, fetched whole and unchanged.
class MapFile {
public:
    enum class Outcome { Read, Missing, Unreadable };
    struct Loaded {
        Outcome outcome;
        QByteArray bytes;
    };

    // A real map is a few kilobytes; anything this large is not one, and reading it would only
    // exhaust memory.
    static constexpr qint64 MaxBytes = qint64{256} * 1024 * 1024;

    MapFile() = delete;

    // Missing: no directory entry of that name. Unreadable: it exists but is no regular file (a
    // directory, a pipe, a dangling link), cannot be opened or read, or exceeds MaxBytes.
    static Loaded load(const QString& path);

    static QString fileName();
    // The boxes' texts, naming the file by its name alone.
    static QString missingMessage(const QString& name = fileName());
    static QString unreadableMessage(const QString& name = fileName());
};

} // namespace regbench::regmap
