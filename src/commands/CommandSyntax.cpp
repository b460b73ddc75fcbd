#include "commands/CommandSyntax.h"

#include "commands/Snapshot.h"
#include "common/HexText.h"
#include "regmap/RegisterMap.h"

#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace regbench::commands {

using common::HexText;
using regmap::RegisterMap;

namespace {

struct Form {
    Verb verb;
    const char* name;
    const char* arguments;
    const char* about;
    int least;
    int most; // -1: no limit
};

// clang-format off
const Form Forms[] = {
    {Verb::List, "list", "", "Writes the map's named registers as CSV: address,name,tabs,bits, with the tabs "
     "that show a register and its bit names from b7 to b0, each list joined by ';'. Needs no bridge.", 0, 0},
    {Verb::Read, "read", "REG...", "Reads each register in order and writes its value, one a line (0xA0). "
     "REG is a register's name in the map (any case) or its address (0x05, &H05 or 5).", 1, -1},
    {Verb::Write, "write", "REG VALUE", "Writes VALUE (0xA0, &HA0, 160 or 0b10100000) to the register.", 2, 2},
    {Verb::Set, "set", "REG.BIT", "Reads the register, sets one bit (its name in the map or 0 to 7), writes "
     "the register back and writes the value written.", 1, 1},
    {Verb::Clear, "clear", "REG.BIT", "Reads the register, clears one bit (its name in the map or 0 to 7), "
     "writes the register back and writes the value written.", 1, 1},
    {Verb::Dump, "dump", "[TAB]", "Reads every named register, or those on the tab named, 10 ms apart as Read "
     "All does, and writes CSV: address,name,value. load writes it back.", 0, 1},
    {Verb::Load, "load", "FILE", "Writes the values of a dump to the chip in the file's order, 10 ms apart as "
     "Write All does. The whole file is checked against the map first: nothing is written when any line is "
     "wrong or the snapshot is of another chip.", 1, 1},
    {Verb::Watch, "watch", "REG...", "Reads the registers every interval and writes CSV: time_ms,NAME..., a "
     "line a sample, until COUNT samples or Ctrl+C (which ends it with status 0).", 1, -1},
    {Verb::Run, "run", "FILE|-", "Runs the commands of FILE (or of standard input), one a line, '#' starting "
     "a comment, over one connection: the whole script is checked first, and the first failure ends it. The "
     "simulated chip lives as long as its process, so a script is how several commands share it.", 1, 1},
};
// clang-format on

const Form* findForm(const QString& name) {
    const auto* found = std::find_if(std::begin(Forms), std::end(Forms),
                                     [&name](const Form& s) { return name == QLatin1String(s.name); });
    return found == std::end(Forms) ? nullptr : found;
}

// Help that reads in an 80-column terminal; the parser prints a description as it is given.
QString wrapped(const QString& text) {
    constexpr qsizetype Width = 79;
    QString out, line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > Width) {
            out += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

QString quoted(const QString& token) {
    return QLatin1Char('"') + token + QLatin1Char('"');
}

std::optional<std::uint8_t> byteValue(const QString& token) {
    const std::optional<qlonglong> number = HexText::number(token);
    if (!number || *number < 0 || *number > 0xFF)
        return std::nullopt;
    return static_cast<std::uint8_t>(*number);
}

QString noRegister(const QString& token) {
    return quoted(token) +
           QStringLiteral(" is neither a register of the map nor an address from 0x00 to 0xFF");
}

std::optional<int> bitOf(const QString& token, std::uint8_t address, const RegisterMap& map) {
    for (int bit = 0; bit < RegisterMap::BitsPerRegister; ++bit) {
        const QString& name = map.BitNames[static_cast<std::size_t>(bit)][address];
        if (!name.isEmpty() && name.compare(token, Qt::CaseInsensitive) == 0)
            return bit;
    }
    const std::optional<qlonglong> number = HexText::number(token);
    if (number && *number >= 0 && *number < RegisterMap::BitsPerRegister)
        return static_cast<int>(*number);
    return std::nullopt;
}

// REG.BIT: a name may hold dots itself, so every dot is tried, the last first.
QString resolveBit(const QString& token, const RegisterMap& map, Command& command) {
    for (qsizetype dot = token.lastIndexOf(QLatin1Char('.')); dot > 0;
         dot = token.lastIndexOf('.', dot - 1)) {
        const std::optional<std::uint8_t> address = CommandSyntax::registerAddress(token.left(dot), map);
        if (!address)
            continue;
        const std::optional<int> bit = bitOf(token.mid(dot + 1), *address, map);
        if (!bit)
            return quoted(token.mid(dot + 1)) + QStringLiteral(" is neither a bit name of register ") +
                   HexText::byteText(*address) + QStringLiteral(" nor a bit number from 0 to 7");
        command.registers = {*address};
        command.bit = *bit;
        return {};
    }
    if (!token.contains(QLatin1Char('.')))
        return quoted(token) + QStringLiteral(" is not REG.BIT");
    return noRegister(token.left(token.lastIndexOf(QLatin1Char('.'))));
}

QString resolveRegisters(const QStringList& tokens, const RegisterMap& map, Command& command) {
    for (const QString& token : tokens) {
        const std::optional<std::uint8_t> address = CommandSyntax::registerAddress(token, map);
        if (!address)
            return noRegister(token);
        command.registers.push_back(*address);
    }
    return {};
}

QString resolveTab(const QStringList& tokens, const RegisterMap& map, Command& command) {
    std::vector<bool> wanted(RegisterMap::RegisterCount, tokens.isEmpty());
    if (!tokens.isEmpty()) {
        int tab = 0;
        while (tab <= map.TabCount &&
               map.TabNames[static_cast<std::size_t>(tab)].compare(tokens.first(), Qt::CaseInsensitive) != 0)
            ++tab;
        if (tab > map.TabCount)
            return QStringLiteral("no tab of the map is called ") + quoted(tokens.first());
        for (int slot = 0; slot < RegisterMap::SlotsPerTab; ++slot)
            if (const int address = map.slotAddress(slot, tab);
                address >= 0 && address < RegisterMap::RegisterCount)
                wanted[static_cast<std::size_t>(address)] = true;
    }
    for (int address = 0; address < RegisterMap::RegisterCount; ++address)
        if (wanted[static_cast<std::size_t>(address)] &&
            (!tokens.isEmpty() || !map.RegNames[static_cast<std::size_t>(address)].isEmpty()))
            command.dumped.push_back(static_cast<std::uint8_t>(address));
    return {};
}

QString readAll(const QString& file, QString& text) {
    QFile input;
    const bool opened = file == QLatin1String("-")
                            ? input.open(stdin, QIODevice::ReadOnly)
                            : (input.setFileName(file), input.open(QIODevice::ReadOnly));
    if (!opened)
        return file + QStringLiteral(": cannot be read: ") + input.errorString();
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return file + QStringLiteral(": cannot be read: ") + input.errorString();
    text = QString::fromUtf8(bytes);
    return {};
}

} // namespace

std::optional<std::uint8_t> CommandSyntax::registerAddress(const QString& token, const RegisterMap& map) {
    if (const int named = map.addressOf(token); named >= 0)
        return static_cast<std::uint8_t>(named);
    return byteValue(token);
}

std::optional<QStringList> CommandSyntax::words(const QString& line) {
    QStringList found;
    QString word;
    bool inWord = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes && c == QLatin1Char('\\') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
            word += line[++i];
        } else if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            inWord = true;
        } else if (!inQuotes && c == QLatin1Char('#') && !inWord) {
            break;
        } else if (!inQuotes && c.isSpace()) {
            if (inWord)
                found << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (inWord)
        found << word;
    return found;
}

namespace {

struct Parsed {
    QStringList positional;
    bool verify = false;
    QString interval, count;
    QString help;
};

// The command's own options; what is wrong with them, or nothing.
QString parseOptions(const Form& form, const QStringList& words, const QString& program, Parsed& parsed) {
    QCommandLineParser parser;
    parser.setApplicationDescription(wrapped(QString::fromUtf8(form.about)));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Read each register back and fail when it differs."));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("Milliseconds between samples, 10 to 10000 (default 100)."), QStringLiteral("MS"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after N samples."),
                                   QStringLiteral("N"));
    parser.addOption(help);
    if (form.verb == Verb::Load)
        parser.addOption(verify);
    if (form.verb == Verb::Watch)
        parser.addOptions({interval, count});
    if (!parser.parse(words))
        return parser.errorText();
    if (parser.isSet(help)) {
        // The parser's own usage line names the program as started and no command.
        QString text = parser.helpText();
        text.remove(0, text.indexOf(QLatin1Char('\n')));
        parsed.help = QStringLiteral("Usage: ") + program + QStringLiteral(" [OPTIONS] ") + form.name +
                      QStringLiteral(" [options] ") + form.arguments + text;
        return {};
    }
    parsed.positional = parser.positionalArguments();
    if (form.verb == Verb::Load)
        parsed.verify = parser.isSet(verify);
    if (form.verb == Verb::Watch) {
        parsed.interval = parser.value(interval);
        parsed.count = parser.value(count);
    }
    const qsizetype given = parsed.positional.size();
    if (given < form.least || (form.most >= 0 && given > form.most))
        return QStringLiteral("usage: ") + form.name + QLatin1Char(' ') + form.arguments;
    return {};
}

QString watchOptions(const Parsed& parsed, Command& command) {
    if (!parsed.interval.isEmpty()) {
        const std::optional<qlonglong> ms = HexText::number(parsed.interval);
        if (!ms || *ms < 10 || *ms > 10000)
            return QStringLiteral("--interval: ") + quoted(parsed.interval) +
                   QStringLiteral(" is not a number of milliseconds from 10 to 10000");
        command.intervalMs = static_cast<int>(*ms);
    }
    if (!parsed.count.isEmpty()) {
        const std::optional<qlonglong> n = HexText::number(parsed.count);
        if (!n || *n < 1)
            return QStringLiteral("--count: ") + quoted(parsed.count) +
                   QStringLiteral(" is not a number from 1");
        command.count = *n;
    }
    return {};
}

QString resolve(const Parsed& parsed, const RegisterMap& map, const QString& program, Command& command) {
    const QStringList& args = parsed.positional;
    switch (command.verb) {
    case Verb::List:
        return {};
    case Verb::Read:
        return resolveRegisters(args, map, command);
    case Verb::Watch:
        if (const QString wrong = watchOptions(parsed, command); !wrong.isEmpty())
            return wrong;
        return resolveRegisters(args, map, command);
    case Verb::Write: {
        const std::optional<std::uint8_t> value = byteValue(args[1]);
        if (!value)
            return quoted(args[1]) + QStringLiteral(" is not a value from 0 to 255");
        command.value = *value;
        return resolveRegisters(args.mid(0, 1), map, command);
    }
    case Verb::Set:
    case Verb::Clear:
        return resolveBit(args[0], map, command);
    case Verb::Dump:
        return resolveTab(args, map, command);
    case Verb::Load: {
        command.verify = parsed.verify;
        Snapshot::Read read = Snapshot::load(args[0], map);
        if (!read.entries)
            return read.problem;
        command.snapshot = std::move(*read.entries);
        return {};
    }
    case Verb::Run: {
        QString text;
        if (const QString wrong = readAll(args[0], text); !wrong.isEmpty())
            return wrong;
        const QString name = args[0] == QLatin1String("-") ? QStringLiteral("standard input") : args[0];
        CommandSyntax::Checked script = CommandSyntax::checkScript(text, name, map, program);
        if (!script.command)
            return script.problem;
        command.script = std::move(script.command->script);
        return {};
    }
    }
    return {};
}

} // namespace

CommandSyntax::Checked CommandSyntax::check(const QStringList& words, const RegisterMap& map,
                                            const QString& program) {
    const Form* form = words.isEmpty() ? nullptr : findForm(words.first());
    if (!form)
        return {std::nullopt, QStringLiteral("no command is called ") + quoted(words.value(0)) +
                                  QStringLiteral(" (list, read, write, set, clear, dump, load, watch, run)")};
    const QString prefix = QString::fromUtf8(form->name) + QStringLiteral(": ");
    Parsed parsed;
    if (const QString wrong = parseOptions(*form, words, program, parsed); !wrong.isEmpty())
        return {std::nullopt, prefix + wrong};
    Command command;
    command.verb = form->verb;
    command.help = parsed.help;
    if (!command.help.isEmpty())
        return {command, {}};
    if (const QString wrong = resolve(parsed, map, program, command); !wrong.isEmpty())
        return {std::nullopt, prefix + wrong};
    return {command, {}};
}

CommandSyntax::Checked CommandSyntax::checkScript(const QString& text, const QString& name,
                                                  const RegisterMap& map, const QString& program) {
    Command run;
    run.verb = Verb::Run;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString where = name + QLatin1Char(':') + QString::number(i + 1) + QStringLiteral(": ");
        const std::optional<QStringList> found = words(lines[i]);
        if (!found)
            return {std::nullopt, where + QStringLiteral("a quote that is never closed")};
        if (found->isEmpty())
            continue;
        if (found->first() == QLatin1String("run"))
            return {std::nullopt, where + QStringLiteral("run: a script cannot run another script")};
        Checked line = check(*found, map, program);
        if (!line.command)
            return {std::nullopt, where + line.problem};
        run.script.push_back(std::move(*line.command));
    }
    return {run, {}};
}

} // namespace regbench::commands
