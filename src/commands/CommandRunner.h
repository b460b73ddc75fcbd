#pragma once

#include "access/RegisterAccess.h"
#include "commands/Command.h"

#include <QString>

#include <cstdint>
#include <optional>

class QEventLoop;

namespace regbench::common {
class PreciseTimer;
}
namespace regbench::session {
class Session;
}

namespace regbench::commands {

class CommandLog;

// Carries out checked commands on the session, one access at a time, with the window's operations, packets,
// time-out and status decoding; writes their output on standard output and their failures to the log.
class CommandRunner {
public:
    // Exit statuses besides 0 and an interrupt's.
    static constexpr int AccessFailed = 1;
    static constexpr int NoBridge = 3;

    CommandRunner(session::Session& session, CommandLog& log);
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // Opens the connection and waits at most waitMs for the bridge, going on the moment it comes. The exit
    // status: 0 when it came.
    int start(int waitMs);
    // The exit status.
    int run(const Command& command);

    // A signal came: whatever waits ends, the connection closes, and nothing more is written.
    void interrupt(int signal);

private:
    bool step(const Command& command);
    bool list();
    bool read(const Command& command);
    bool write(const Command& command);
    bool changeBit(const Command& command);
    bool dump(const Command& command);
    bool load(const Command& command);
    bool watch(const Command& command);

    std::optional<access::AccessOutcome> readRegister(std::uint8_t address);
    std::optional<access::AccessOutcome> writeRegister(std::uint8_t address, std::uint8_t value);
    // True when the access went well; else the status is set and the log told.
    bool succeeded(const std::optional<access::AccessOutcome>& outcome);
    bool failed(int status);
    void pause(int milliseconds);
    void runLoop(QEventLoop& loop, const bool& done);
    void out(const QString& text);

    session::Session& session_;
    CommandLog& log_;
    std::unique_ptr<common::PreciseTimer> timer_;
    QEventLoop* loop_ = nullptr; // the wait under way, which an interrupt ends
    int signal_ = 0;
    int status_ = 0;
};

} // namespace regbench::commands
