#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace regbench::commands {

enum class Verb { List, Read, Write, Set, Clear, Dump, Load, Watch, Run };

// One value of a snapshot to write back.
struct SnapshotEntry {
    std::uint8_t address = 0;
    std::uint8_t value = 0;
};

// A command checked against the map and ready to run: every name, number and file it names is resolved, so
// running it can fail only at the bridge.
struct Command {
    Verb verb = Verb::List;
    std::vector<std::uint8_t> registers; // read and watch: in order; write, set and clear: the one
    int bit = 0;                         // set and clear
    std::uint8_t value = 0;              // write
    std::vector<std::uint8_t> dumped;    // dump: the registers, in address order
    std::vector<SnapshotEntry> snapshot; // load: in file order
    bool verify = false;                 // load
    int intervalMs = 100;                // watch
    std::optional<qint64> count;         // watch: samples; none until interrupted
    std::vector<Command> script;         // run
    QString help;                        // asked for --help: print this and do nothing else

    bool needsBridge() const;
};

} // namespace regbench::commands
