#pragma once

#include <functional>
#include <memory>

namespace regbench::common {
class FdWatch;
}

namespace regbench::commands {

// Ctrl+C and SIGTERM for a command, learnt from the event loop through a descriptor (signalfd), so that the
// handler may close the connection and end a transfer's wait like any other event.
class Interrupts {
public:
    // Must come first in main, before any thread starts (the USB library's event thread among them): a
    // thread started later inherits the blocked signals, so none of them takes the signal instead.
    static void block();

    // Calls `onSignal` with the signal's number each time one comes.
    explicit Interrupts(std::function<void(int signal)> onSignal);
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // What a shell expects of a program that a signal ended: 130 for SIGINT, 143 for SIGTERM.
    static int exitStatus(int signal) { return 128 + signal; }

private:
    void readSignal();

    int fd_ = -1;
    std::function<void(int)> onSignal_;
    std::unique_ptr<common::FdWatch> watch_;
};

} // namespace regbench::commands
