#pragma once

#include "session/StartOptions.h"

#include <optional>

namespace regbench::session {
class Session;
}

namespace regbench::app {

// The start every program's main shares. First the arguments, before any application object: help,
// version and usage errors are printed here, and their exit status comes back instead of options.
std::optional<session::StartOptions> readStartOptions(int argc, char* argv[],
                                                      const session::StartChoices& choices, int& exitStatus);

// Opens the window on the session with the chosen map and chip address, and runs the event loop until the
// window closes. The application object must exist.
int runWindow(session::Session& session, const session::StartOptions& options);

} // namespace regbench::app
