#pragma once

#include "commands/Command.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::commands {

// Reads a command line or a script into commands checked against the map, before anything is sent: a
// register by name (exact, any case) or address (0x05, &H05, 5), a bit by name or number, a value in any
// form HexText::number takes, the snapshot a load names and every line of a script.
class CommandSyntax {
public:
    struct Checked {
        std::optional<Command> command;
        QString problem; // when there is no command: what is wrong, naming the token and the file's line
    };

    // words[0] is the command's name; `program` is the program's, for help texts.
    static Checked check(const QStringList& words, const regmap::RegisterMap& map, const QString& program);
    // A script's text, commands one a line, `#` starting a comment; `name` names it in problems.
    static Checked checkScript(const QString& text, const QString& name, const regmap::RegisterMap& map,
                               const QString& program);

    static std::optional<std::uint8_t> registerAddress(const QString& token, const regmap::RegisterMap& map);
    // A script line's words: blanks part them, double quotes keep blanks (\" for a quote), # ends the line.
    static std::optional<QStringList> words(const QString& line);
};

} // namespace regbench::commands
