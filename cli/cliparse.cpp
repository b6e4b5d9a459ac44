// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's command line: the commands, their help, and the parsing that
// turns arguments into one command's run.
#include "clicommand.h"

#include "velmar_version.h"

#include <QRegularExpression>

namespace Cli {
namespace {

const CommandEntry commandEntries[] = {
    {"ports", "ports [--json]", "List the serial ports (name, description, device).", 0, OptJson},
    {"info", "info PORT [--json]",
        "Identity, status, sensor ranges and full scales, streaming mode.", 1,
        OptJson | OptTimeout},
    {"dump", "dump PORT [--json]", "Every register, read now and decoded, with units.", 1,
        OptJson | OptTimeout},
    {"get", "get PORT NAME|ADDRESS [--json]",
        "One register, read now and decoded. NAME as on the register page (quote it), ADDRESS "
        "decimal or 0x...",
        2, OptJson | OptTimeout},
    {"set", "set PORT NAME|ADDRESS VALUE [--json]",
        "Write a writable register and read it back; exit status 6 if the module holds "
        "something else. VALUE: a byte as 0x.. or 0-255, a real as 1.5 or -2.5e-3.",
        3, OptJson | OptTimeout},
    {"export", "export PORT FILE [--json]",
        "Read the identity, the calibration blocks and every writable register now and write "
        "them to the module file FILE (JSON).",
        2, OptJson | OptTimeout},
    {"import", "import PORT FILE [--only LIST] [--dry-run] [--json]",
        "Check FILE whole, compare it with the module, write the registers that differ (those "
        "in LIST only: comma-separated register names and accelerometer, gyroscope, "
        "magnetometer for whole calibration blocks), read them back and show what the module "
        "holds. Calibration blocks are backed up first. With --dry-run it only reads: it lists "
        "what it would write and sends nothing.",
        2, OptJson | OptTimeout | OptOnly | OptDryRun},
    {"gyro-cal", "gyro-cal PORT [--write [--force]] [--samples N] [--json]",
        "Gyroscope offsets from a period at rest (keep the module still): prints the offsets and "
        "the quality. Writes nothing unless --write; then the calibration is backed up first and "
        "read back after. A result of quality below 50 is written only with --force; a turn "
        "during the rest period refuses a result of 50 or more.",
        1, OptJson | OptTimeout | OptWrite | OptSamples | OptForce},
    {"backups", "backups [--json]",
        "List the automatic backups and their folder (date, module, what triggered each).", 0,
        OptJson},
    {"record", "record PORT --seconds N [--csv FILE] [--raw FILE] [--json]",
        "Stream the measurements for N seconds and write them to a CSV file (columns with "
        "units, as the application's recordings) and/or the raw recording (the bytes with "
        "their receive times, as the application's raw.velmarec), then put back the streaming "
        "mode the module had.",
        1, OptSeconds | OptCsv | OptRaw | OptTimeout | OptJson},
    {"noise", "noise FILE|PORT [--seconds N] [--json] [--yaml FILE] [--mag]",
        "Noise and stability at rest: white-noise density N, bias instability B and rate random "
        "walk K per axis with 90 % intervals, from the Allan deviation. FILE is a raw recording "
        "or a CSV the tool wrote; a PORT is measured now for N seconds (default 60; keep the "
        "module still). Exit status 5 if the recording is refused (motion, a gap, too short).",
        1, OptSeconds | OptTimeout | OptJson | OptYaml | OptMag},
    {"mag-fit", "mag-fit FILE [--json] [--write PORT]",
        "Every magnetometer fit on FILE (a raw recording, the measurement CSV or a kept cloud), "
        "each judged on 30 % of the points it did not see: parameters, fitting and held-out "
        "spread, validity, and the one it would choose. --write PORT writes the chosen one to "
        "the module on PORT after a backup and reads it back.",
        1, OptJson | OptTimeout | OptWriteTo},
};

const CommandEntry *findCommand(const QString &name)
{
    for (const CommandEntry &entry : commandEntries) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

QString commandHelp(const CommandEntry &entry)
{
    QString text = QStringLiteral("Usage: velmar-cli %1\n\n%2\n")
                       .arg(QLatin1String(entry.synopsis), QLatin1String(entry.summary));
    text += QStringLiteral("\nOptions:\n");
    if (entry.options & OptJson)
        text += QStringLiteral("  --json            Print one JSON document for scripts.\n");
    if (entry.options & OptTimeout)
        text += QStringLiteral(
            "  --timeout <ms>    Wait this long for each answer (default 2000).\n");
    if (entry.options & OptOnly)
        text += QStringLiteral("  --only <list>     Write only these registers or blocks.\n");
    if (entry.options & OptWrite)
        text += QStringLiteral("  --write           Write the offsets (after a backup).\n");
    if (entry.options & OptWriteTo)
        text += QStringLiteral("  --write <port>    Write the chosen fit to the module on PORT.\n");
    if (entry.options & OptSamples)
        text += QStringLiteral("  --samples <n>     Samples at rest, 10 ms apart (default 200).\n");
    if (entry.options & OptForce)
        text += QStringLiteral("  --force           With --write: write a quality below 50 too.\n");
    if (entry.options & OptSeconds)
        text += QStringLiteral("  --seconds <n>     How long to record.\n");
    if (entry.options & OptCsv)
        text += QStringLiteral("  --csv <file>      Where to write the CSV.\n");
    if (entry.options & OptRaw)
        text += QStringLiteral("  --raw <file>      Where to write the raw recording.\n");
    if (entry.options & OptDryRun)
        text += QStringLiteral("  --dry-run         List what would be written; send nothing.\n");
    if (entry.options & OptYaml)
        text += QStringLiteral("  --yaml <file>     Also write the noise terms for visual-inertial "
                               "calibration tools.\n");
    if (entry.options & OptMag)
        text += QStringLiteral("  --mag             Analyse the magnetometer too.\n");
    text += QStringLiteral("  -h, --help        Show this help.\n");
    return text;
}

} // namespace
} // namespace Cli

using namespace Cli;

QString cliHelpText()
{
    QString text = QStringLiteral(
        "Usage: velmar-cli COMMAND [ARGUMENTS] [OPTIONS]\n"
        "A Velmar IMU module from the command line, through the application's own link.\n"
        "PORT is a port as 'velmar-cli ports' lists it or a device path.\n\nCommands:\n");
    for (const CommandEntry &entry : commandEntries)
        text += QStringLiteral("  %1\n").arg(QLatin1String(entry.synopsis));
    text += QStringLiteral(
        "\n'velmar-cli COMMAND --help' describes a command.\n\nOptions:\n"
        "  --json            Print one JSON document for scripts.\n"
        "  --timeout <ms>    Wait this long for each answer from the module (default 2000).\n"
        "  --only <list>     import: write only these registers or calibration blocks.\n"
        "  --write           gyro-cal: write the offsets (after a backup); mag-fit: --write PORT\n"
        "                    writes the chosen fit to the module on PORT (after a backup).\n"
        "  --samples <n>     gyro-cal: samples at rest, 10 ms apart (default 200).\n"
        "  --force           gyro-cal: with --write, write a quality below 50 too.\n"
        "  --seconds <n>     record: how long to record.\n"
        "  --csv <file>      record: where to write the CSV.\n"
        "  --raw <file>      record: where to write the raw recording.\n"
        "  --dry-run         import: list what would be written; send nothing.\n"
        "  --yaml <file>     noise: also write the terms for visual-inertial calibration tools.\n"
        "  --mag             noise: analyse the magnetometer too.\n"
        "  -h, --help        Show this help, or a command's.\n"
        "  -v, --version     Show the version.\n"
        "\nExit status:\n"
        "  0 done; 1 other failure; 2 usage error; 3 port cannot be opened (or is not a serial\n"
        "  device); 4 module silent; 5 input refused (nothing sent); 6 the module holds\n"
        "  something other than was written.\n");
    return text;
}

int runCliCommand(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        QTextStream(stderr) << cliHelpText();
        return CliExit::Usage;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        out() << cliHelpText();
        return CliExit::Ok;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        out() << "velmar-cli " VELMAR_VERSION "\n";
        return CliExit::Ok;
    }
    const CommandEntry *entry = findCommand(first);
    if (!entry)
        return fail(CliExit::Usage, first,
            QStringLiteral("unknown command (velmar-cli --help lists them)"));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    parser.addOption(help);
    if (entry->options & OptJson)
        parser.addOption({QStringLiteral("json"), QString()});
    if (entry->options & OptTimeout)
        parser.addOption({QStringLiteral("timeout"), QString(), QStringLiteral("ms")});
    if (entry->options & OptOnly)
        parser.addOption({QStringLiteral("only"), QString(), QStringLiteral("list")});
    if (entry->options & OptWrite)
        parser.addOption({QStringLiteral("write"), QString()});
    if (entry->options & OptWriteTo)
        parser.addOption({QStringLiteral("write"), QString(), QStringLiteral("port")});
    if (entry->options & OptSamples)
        parser.addOption({QStringLiteral("samples"), QString(), QStringLiteral("n")});
    if (entry->options & OptForce)
        parser.addOption({QStringLiteral("force"), QString()});
    if (entry->options & OptSeconds)
        parser.addOption({QStringLiteral("seconds"), QString(), QStringLiteral("n")});
    if (entry->options & OptCsv)
        parser.addOption({QStringLiteral("csv"), QString(), QStringLiteral("file")});
    if (entry->options & OptRaw)
        parser.addOption({QStringLiteral("raw"), QString(), QStringLiteral("file")});
    if (entry->options & OptDryRun)
        parser.addOption({QStringLiteral("dry-run"), QString()});
    if (entry->options & OptYaml)
        parser.addOption({QStringLiteral("yaml"), QString(), QStringLiteral("file")});
    if (entry->options & OptMag)
        parser.addOption({QStringLiteral("mag"), QString()});
    QStringList withProgram = arguments.mid(1);
    // "-inf" and "-nan" too: they are values (refused as such), not options.
    static const QRegularExpression negativeNumber(
        QStringLiteral("^-(\\d|\\.\\d|inf|nan)"), QRegularExpression::CaseInsensitiveOption);
    for (QString &argument : withProgram) {
        if (negativeNumber.match(argument).hasMatch())
            argument.prepend(negativeMark);
    }
    withProgram.prepend(QStringLiteral("velmar-cli"));
    const QString usage = QStringLiteral("usage: velmar-cli %1 (velmar-cli %2 --help)")
                              .arg(QLatin1String(entry->synopsis), QLatin1String(entry->name));
    if (!parser.parse(withProgram))
        return fail(CliExit::Usage, first, parser.errorText() + QStringLiteral("; ") + usage);
    if (parser.isSet(help)) {
        out() << commandHelp(*entry);
        return CliExit::Ok;
    }
    if (parser.positionalArguments().size() != entry->positional)
        return fail(CliExit::Usage, first,
            QStringLiteral("%1 argument(s) needed, %2 given; %3")
                .arg(entry->positional)
                .arg(parser.positionalArguments().size())
                .arg(usage));
    int timeoutMs = defaultTimeoutMs;
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        timeoutMs = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || timeoutMs < 1 || timeoutMs > 600000)
            return fail(CliExit::Usage, first,
                QStringLiteral("--timeout takes milliseconds from 1 to 600000"));
    }
    Command command(*entry, parser, timeoutMs);
    return command.run();
}
