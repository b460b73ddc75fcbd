#include "regmap/MapFile.h"

#include <QFile>
#include <QFileInfo>

namespace regbench::regmap {

QString MapFile::fileName() {
    return QStringLiteral("tabdefs.csv");
}

QString MapFile::missingMessage(const QString& name) {
    return QStringLiteral("Configuration file (") + name + QStringLiteral(") not found.");
}

QString MapFile::unreadableMessage(const QString& name) {
    return QStringLiteral("Configuration file (") + name + QStringLiteral(") could not be read.");
}

MapFile::Loaded MapFile::load(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {Outcome::Missing, {}};
    // Opening a pipe or a device would block or never end, so only regular files are opened.
    if (!info.isFile() || info.size() > MaxBytes)
        return {Outcome::Unreadable, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {Outcome::Unreadable, {}};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() > MaxBytes)
        return {Outcome::Unreadable, {}};
    return {Outcome::Read, std::move(bytes)};
}

} // namespace regbench::regmap
