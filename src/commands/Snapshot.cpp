#include "commands/Snapshot.h"

#include "common/Csv.h"
#include "common/HexText.h"
#include "regmap/RegisterMap.h"

#include <QFile>

namespace regbench::commands {

using common::Csv;
using common::HexText;

namespace {

const QStringList Columns{QStringLiteral("address"), QStringLiteral("name"), QStringLiteral("value")};
// Far beyond the 256 lines of any snapshot: a file this big is something else, and is not read whole.
constexpr qint64 LargestFile = 16 * 1024 * 1024;

std::optional<std::uint8_t> byte(const QString& text) {
    const std::optional<qlonglong> number = HexText::number(text);
    if (!number || *number < 0 || *number > 0xFF)
        return std::nullopt;
    return static_cast<std::uint8_t>(*number);
}

// What is wrong with one record, or nothing.
QString recordProblem(const QStringList& fields, const regmap::RegisterMap& map, SnapshotEntry& entry) {
    if (fields.size() != 3)
        return QStringLiteral("%1 fields where address,name,value are 3").arg(fields.size());
    const std::optional<std::uint8_t> address = byte(fields[0]);
    if (!address)
        return QStringLiteral("\"%1\" is not a register address (0x00 to 0xFF)").arg(fields[0]);
    const QString& named = map.RegNames[*address];
    if (named.compare(fields[1], Qt::CaseInsensitive) != 0)
        return QStringLiteral("register %1 is \"%2\" in the map, not \"%3\": the snapshot is of another chip "
                              "or map")
            .arg(HexText::byteText(*address), named, fields[1]);
    const std::optional<std::uint8_t> value = byte(fields[2]);
    if (!value)
        return QStringLiteral("\"%1\" is not a value from 0 to 255").arg(fields[2]);
    entry = {*address, *value};
    return {};
}

} // namespace

QString Snapshot::header() {
    return Csv::line(Columns);
}

QString Snapshot::line(const regmap::RegisterMap& map, std::uint8_t address, std::uint8_t value) {
    return Csv::line({HexText::byteText(address), map.RegNames[address], HexText::byteText(value)});
}

Snapshot::Read Snapshot::parse(const QString& text, const QString& name, const regmap::RegisterMap& map) {
    const auto problem = [&name](int line, const QString& what) {
        return Read{std::nullopt,
                    name + QLatin1Char(':') + QString::number(line) + QStringLiteral(": ") + what};
    };
    const Csv::Parsed parsed = Csv::parse(text);
    if (!parsed.problem.isEmpty())
        return problem(parsed.problemLine, parsed.problem);
    if (parsed.records.empty() || parsed.records.front().fields != Columns)
        return problem(parsed.records.empty() ? 1 : parsed.records.front().line,
                       QStringLiteral("the header is not address,name,value"));
    std::vector<SnapshotEntry> entries;
    for (std::size_t r = 1; r < parsed.records.size(); ++r) {
        SnapshotEntry entry;
        const QString wrong = recordProblem(parsed.records[r].fields, map, entry);
        if (!wrong.isEmpty())
            return problem(parsed.records[r].line, wrong);
        entries.push_back(entry);
    }
    return {entries, {}};
}

Snapshot::Read Snapshot::load(const QString& path, const regmap::RegisterMap& map) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString())};
    if (file.size() > LargestFile)
        return {std::nullopt, QStringLiteral("%1: is too large for a snapshot").arg(path)};
    const QByteArray bytes = file.read(LargestFile + 1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString())};
    return parse(QString::fromUtf8(bytes), path, map);
}

} // namespace regbench::commands
