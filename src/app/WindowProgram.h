#pragma once

#include "session/StartOptions.h"

#include <QCoreApplication>
#include <QString>

#include <memory>
#include <optional>

namespace regbench::session {
class Session;
}

namespace regbench::app {

class MainWindow;

// The start every program's main shares. First the arguments, before any application object: help,
// version and usage errors are printed here, and their exit status comes back instead of options.
std::optional<session::StartOptions> readStartOptions(int argc, char* argv[],
                                                      const session::StartChoices& choices, int& exitStatus);

// The application object: the window's, or for a command one that needs no display (over SSH, say).
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[],
                                                  const session::StartOptions& options);

// Shows the window on the session with the chosen map (without one, tabdefs.csv in mapFolder) and chip
// address. The application object must exist.
std::unique_ptr<MainWindow> openWindow(session::Session& session, const session::StartOptions& options,
                                       const QString& mapFolder);
// The same with the program's own folder, then the event loop until the window closes.
int runWindow(session::Session& session, const session::StartOptions& options);

} // namespace regbench::app
