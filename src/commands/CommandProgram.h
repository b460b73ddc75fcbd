#pragma once

namespace regbench::session {
class Session;
struct StartOptions;
} // namespace regbench::session

namespace regbench::commands {

// Runs the command of the options on the session instead of the window, and gives the exit status: 0 done,
// 1 an access failed, 2 a usage, map, script or snapshot error (before anything is sent), 3 no bridge, 130
// and 143 interrupted. Needs a QCoreApplication, and Interrupts::block() before any thread started.
int runCommand(session::Session& session, const session::StartOptions& options);

} // namespace regbench::commands
