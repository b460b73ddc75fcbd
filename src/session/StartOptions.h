#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace regbench::session {

// What a program is asked for on its command line: the map, the chip's address and, for the programs that
// serve I2C adapters, the adapter. Without arguments every program starts as it always has.
struct StartOptions {
    QString mapPath; // absolute; empty: tabdefs.csv beside the program
    std::optional<std::uint8_t> address;
    std::optional<int> bus; // the N of /dev/i2c-N
    QStringList faults;     // the simulated bridge's, by name
    // A command to run instead of the window, with its arguments and options as given; empty: the window.
    QStringList command;
    int waitMs = 1000;    // how long a command waits for the bridge
    bool verbose = false; // a command writes every log line to standard error
};

// What a program takes beyond the map and the address.
struct StartChoices {
    bool bus = false;   // it serves I2C adapters, and --bus picks one
    QStringList faults; // the names --fault takes; none: no --fault
};

// Either the options, or what the program prints and the status it exits with: help and version (0) or a
// usage error (2), before any window or device is opened.
struct ParsedStart {
    std::optional<StartOptions> options;
    int exitStatus = 0;
    QString out; // for standard output
    QString err; // for standard error
};

// arguments[0] is the program.
ParsedStart parseStartOptions(const QStringList& arguments, const StartChoices& choices = {});

} // namespace regbench::session
