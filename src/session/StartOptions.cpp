#include "session/StartOptions.h"

#include "common/ChipAddress.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

namespace regbench::session {

namespace {

const QString Version = QStringLiteral(REGBENCH_VERSION);

QString programName(const QStringList& arguments) {
    const QString name = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    return name.isEmpty() ? QStringLiteral("regbench") : name;
}

ParsedStart usageError(const QString& program, const QString& text) {
    ParsedStart parsed;
    parsed.exitStatus = 2;
    parsed.err = program + QStringLiteral(": ") + text + QStringLiteral("\nUsage: ") + program +
                 QStringLiteral(" [options] [COMMAND [ARGS]]\nTry '") + program +
                 QStringLiteral(" --help' for more information.\n");
    return parsed;
}

// "3" or "/dev/i2c-3"; -1 for anything else.
int busNumber(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^(?:/dev/i2c-)?(\\d{1,6})$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

namespace {

struct Declared {
    QCommandLineOption map, address, bus, fault, wait, verbose, help, version;
};

const QString CommandsHelp = QStringLiteral(
    "\nWith a command, the program runs it instead of opening the window, and needs no display:\n"
    "  list                    the map's named registers, as CSV\n"
    "  read REG...             reads registers; one value a line\n"
    "  write REG VALUE         writes a register\n"
    "  set REG.BIT             sets one bit (read, change, write back)\n"
    "  clear REG.BIT           clears one bit\n"
    "  dump [TAB]              reads every named register (or a tab's), as CSV\n"
    "  load FILE [--verify]    writes the values of a dump back\n"
    "  watch REG...            reads registers every interval, as CSV, until Ctrl+C\n"
    "  run FILE|-              runs commands one a line over one connection\n"
    "'COMMAND --help' tells more. Exit status: 0 done, 1 an access failed, 2 a usage, map, script or\n"
    "snapshot error, 3 no bridge, 130/143 interrupted.\n");

Declared declare(QCommandLineParser& parser, const StartChoices& choices) {
    parser.setApplicationDescription(
        QStringLiteral("Reads and writes the registers of a chip by the names its register map gives them."));
    Declared o{
        {QStringLiteral("map"),
         QStringLiteral("Read the register map from FILE instead of tabdefs.csv beside the program."),
         QStringLiteral("FILE")},
        {QStringLiteral("address"),
         QStringLiteral(
             "The chip's 7-bit I2C address (0x48, &H48 or 72; 0x08 to 0x77), in place of the map's "
             "I2CADDR or 0x1C."),
         QStringLiteral("ADDR")},
        {QStringLiteral("bus"), QStringLiteral("Use the adapter of /dev/i2c-N and no other."),
         QStringLiteral("N")},
        {QStringLiteral("fault"),
         QStringLiteral("Simulate a bridge that fails so: ") + choices.faults.join(QStringLiteral(", ")) +
             QStringLiteral(" (see the README; may be given more than once)."),
         QStringLiteral("NAME")},
        {QStringLiteral("wait"),
         QStringLiteral("With a command: wait at most MS milliseconds for the bridge (default 1000)."),
         QStringLiteral("MS")},
        {QStringLiteral("verbose"),
         QStringLiteral("With a command: write every log line to standard error, start-up lines too.")},
        // Not addHelpOption(): its --help-all would promise Qt's own options, which a program parsing
        // its arguments before any application object exists does not take.
        {{QStringLiteral("h"), QStringLiteral("help")},
         QStringLiteral("Displays help on commandline options.")},
        QCommandLineOption(QStringLiteral("v"))};
    parser.addOption(o.map);
    parser.addOption(o.address);
    if (choices.bus)
        parser.addOption(o.bus);
    if (!choices.faults.isEmpty())
        parser.addOption(o.fault);
    parser.addOption(o.wait);
    parser.addOption(o.verbose);
    parser.addOption(o.help);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("A command to run (below)."),
                                 QStringLiteral("[COMMAND [ARGS]]"));
    // Whatever follows the command is the command's own, options too.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    o.version = parser.addVersionOption();
    return o;
}

// What is wrong with the values given, or nothing.
QString readValues(const QCommandLineParser& parser, const Declared& o, const StartChoices& choices,
                   StartOptions& options) {
    options.command = parser.positionalArguments();
    if ((parser.isSet(o.wait) || parser.isSet(o.verbose)) && options.command.isEmpty())
        return QStringLiteral("--wait and --verbose go with a command.");
    if (parser.isSet(o.wait)) {
        bool number = false;
        options.waitMs = parser.value(o.wait).toInt(&number);
        if (!number || options.waitMs < 0)
            return QStringLiteral("--wait: \"%1\" is not a number of milliseconds.")
                .arg(parser.value(o.wait));
    }
    options.verbose = parser.isSet(o.verbose);
    if (parser.isSet(o.map))
        options.mapPath = QFileInfo(parser.value(o.map)).absoluteFilePath();
    if (parser.isSet(o.address)) {
        QString problem;
        options.address = common::ChipAddress::parse(parser.value(o.address), &problem);
        if (!options.address)
            return QStringLiteral("--address: ") + problem + QLatin1Char('.');
    }
    for (const QString& name : choices.faults.isEmpty() ? QStringList() : parser.values(o.fault)) {
        if (!choices.faults.contains(name))
            return QStringLiteral("--fault: no fault is called \"%1\".").arg(name);
        options.faults << name;
    }
    if (choices.bus && parser.isSet(o.bus)) {
        options.bus = busNumber(parser.value(o.bus));
        if (*options.bus < 0)
            return QStringLiteral("--bus: \"%1\" is neither N nor /dev/i2c-N.").arg(parser.value(o.bus));
    }
    return {};
}

} // namespace

ParsedStart parseStartOptions(const QStringList& arguments, const StartChoices& choices) {
    const QString program = programName(arguments);
    QCommandLineParser parser;
    const Declared declared = declare(parser, choices);
    if (!parser.parse(arguments))
        return usageError(program, parser.errorText());
    ParsedStart parsed;
    if (parser.isSet(declared.help)) {
        parsed.out = parser.helpText().replace(QStringLiteral("<executable_name>"), program) + CommandsHelp;
        return parsed;
    }
    if (parser.isSet(declared.version)) {
        parsed.out = program + QLatin1Char(' ') + Version + QLatin1Char('\n');
        return parsed;
    }
    StartOptions options;
    if (const QString problem = readValues(parser, declared, choices, options); !problem.isEmpty())
        return usageError(program, problem);
    parsed.options = options;
    return parsed;
}

} // namespace regbench::session
