#include "commands/CommandProgram.h"

#include "commands/CommandLog.h"
#include "commands/CommandRunner.h"
#include "commands/CommandSyntax.h"
#include "commands/Interrupts.h"
#include "regmap/MapFile.h"
#include "regmap/RegisterMap.h"
#include "session/Session.h"
#include "session/StartOptions.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace regbench::commands {

namespace {

constexpr int UsageError = 2;

QString mapPath(const session::StartOptions& options) {
    return options.mapPath.isEmpty()
               ? QDir(QCoreApplication::applicationDirPath()).filePath(regmap::MapFile::fileName())
               : options.mapPath;
}

// The command checked against the map, or nothing with the status to exit with; help needs no map.
std::optional<Command> checkedCommand(session::Session& session, const session::StartOptions& options,
                                      const QString& program, int& status) {
    const session::Session::MapLoad map = session.loadMap(mapPath(options));
    CommandSyntax::Checked checked = CommandSyntax::check(options.command, session.map(), program);
    if (!map.read && !(checked.command && !checked.command->help.isEmpty())) {
        CommandLog::error(program + QStringLiteral(": ") + map.message);
        status = UsageError;
        return std::nullopt;
    }
    if (!checked.command) {
        CommandLog::error(program + QStringLiteral(": ") + checked.problem);
        status = UsageError;
    }
    return std::move(checked.command);
}

} // namespace

int runCommand(session::Session& session, const session::StartOptions& options) {
    const QString program = QCoreApplication::applicationName();
    CommandLog log(options.verbose);
    session.setLog(&log);
    session.setAddressOverride(options.address);
    int status = 0;
    const std::optional<Command> command = checkedCommand(session, options, program, status);
    if (!command)
        return status;
    CommandRunner runner(session, log);
    const Interrupts interrupts([&runner](int signal) { runner.interrupt(signal); });
    if (command->needsBridge())
        status = runner.start(options.waitMs);
    if (status == 0)
        status = runner.run(*command);
    session.close();
    session.setLog(nullptr);
    return status;
}

} // namespace regbench::commands
