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
                 QStringLiteral(" [options]\nTry '") + program +
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

ParsedStart parseStartOptions(const QStringList& arguments, const StartChoices& choices) {
    const QString program = programName(arguments);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads and writes the registers of a chip by the names its register map gives them."));
    const QCommandLineOption map(
        QStringLiteral("map"),
        QStringLiteral("Read the register map from FILE instead of tabdefs.csv beside "
                       "the program."),
        QStringLiteral("FILE"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("The chip's 7-bit I2C address (0x48, &H48 or 72; 0x08 to "
                                                    "0x77), in place of the map's I2CADDR or 0x1C."),
                                     QStringLiteral("ADDR"));
    const QCommandLineOption bus(QStringLiteral("bus"),
                                 QStringLiteral("Use the adapter of /dev/i2c-N and no other."),
                                 QStringLiteral("N"));
    parser.addOption(map);
    parser.addOption(address);
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Simulate a bridge that fails so: ") +
                                       choices.faults.join(QStringLiteral(", ")) +
                                       QStringLiteral(" (see the README; may be given more than once)."),
                                   QStringLiteral("NAME"));
    if (choices.bus)
        parser.addOption(bus);
    if (!choices.faults.isEmpty())
        parser.addOption(fault);
    // Not addHelpOption(): its --help-all would promise Qt's own options, which a program parsing its
    // arguments before any application object exists does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(arguments))
        return usageError(program, parser.errorText());
    ParsedStart parsed;
    if (parser.isSet(help) || parser.isSet(version)) {
        parsed.out = parser.isSet(help)
                         ? parser.helpText().replace(QStringLiteral("<executable_name>"), program)
                         : program + QLatin1Char(' ') + Version + QLatin1Char('\n');
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            program, QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    StartOptions options;
    if (parser.isSet(map))
        options.mapPath = QFileInfo(parser.value(map)).absoluteFilePath();
    if (parser.isSet(address)) {
        QString problem;
        options.address = common::ChipAddress::parse(parser.value(address), &problem);
        if (!options.address)
            return usageError(program, QStringLiteral("--address: ") + problem + QLatin1Char('.'));
    }
    for (const QString& name : choices.faults.isEmpty() ? QStringList() : parser.values(fault)) {
        if (!choices.faults.contains(name))
            return usageError(program, QStringLiteral("--fault: no fault is called \"%1\".").arg(name));
        options.faults << name;
    }
    if (choices.bus && parser.isSet(bus)) {
        const int n = busNumber(parser.value(bus));
        if (n < 0)
            return usageError(
                program, QStringLiteral("--bus: \"%1\" is neither N nor /dev/i2c-N.").arg(parser.value(bus)));
        options.bus = n;
    }
    parsed.options = options;
    return parsed;
}

} // namespace regbench::session
