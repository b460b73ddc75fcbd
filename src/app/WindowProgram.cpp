#include "app/WindowProgram.h"

#include "app/MainWindow.h"
#include "regmap/MapFile.h"
#include "session/Session.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

namespace regbench::app {

std::optional<session::StartOptions> readStartOptions(int argc, char* argv[],
                                                      const session::StartChoices& choices, int& exitStatus) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const session::ParsedStart parsed = session::parseStartOptions(arguments, choices);
    std::fputs(parsed.out.toLocal8Bit().constData(), stdout);
    std::fputs(parsed.err.toLocal8Bit().constData(), stderr);
    exitStatus = parsed.exitStatus;
    return parsed.options;
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[],
                                                  const session::StartOptions& options) {
    if (options.command.isEmpty())
        return std::make_unique<QApplication>(argc, argv);
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::unique_ptr<MainWindow> openWindow(session::Session& session, const session::StartOptions& options,
                                       const QString& mapFolder) {
    session.setAddressOverride(options.address);
    auto window = std::make_unique<MainWindow>(
        session,
        options.mapPath.isEmpty() ? QDir(mapFolder).filePath(regmap::MapFile::fileName()) : options.mapPath);
    window->showCentred();
    return window;
}

int runWindow(session::Session& session, const session::StartOptions& options) {
    const std::unique_ptr<MainWindow> window =
        openWindow(session, options, QCoreApplication::applicationDirPath());
    return QApplication::exec();
}

} // namespace regbench::app
