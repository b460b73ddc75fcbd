#pragma once

#include "commands/Command.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::commands {

// The register values that dump writes and load reads back: CSV with the header address,name,value, one
// register a line, its name as the map has it (so that a snapshot of another chip is caught), as RFC 4180
// quotes it.
class Snapshot {
public:
    static QString header();
    static QString line(const regmap::RegisterMap& map, std::uint8_t address, std::uint8_t value);

    struct Read {
        std::optional<std::vector<SnapshotEntry>> entries;
        QString problem; // "FILE:LINE: ..." when there are no entries
    };
    // Checks the whole text against the map; `name` is the file's, for problems.
    static Read parse(const QString& text, const QString& name, const regmap::RegisterMap& map);
    // The same for a file, read whole first.
    static Read load(const QString& path, const regmap::RegisterMap& map);
};

} // namespace regbench::commands
