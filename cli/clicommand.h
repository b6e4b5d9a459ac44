// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Inside velmar-cli: one command's run, and the helpers its files share.
#include "clicommands.h"
#include "imagedecoder.h"
#include "modulefile.h"
#include "modulelink.h"

#include <QCommandLineParser>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTextStream>

#include <bitset>
#include <memory>

namespace Cli {

constexpr int defaultTimeoutMs = 2000;
constexpr int defaultGyroSamples = 200;
// The module streams about this often; the at-rest samples are paced alike so
// that they span a period of rest rather than a burst.
constexpr int gyroSampleIntervalMs = 10;
// How long record waits for a vanished port to return to put the module's mode back.
constexpr int restoreWaitMs = 10000;

enum Option : unsigned {
    OptJson = 1,
    OptTimeout = 2,
    OptOnly = 4,
    OptWrite = 8,
    OptSeconds = 16,
    OptCsv = 32,
    OptSamples = 64,
    OptForce = 128,
    OptYaml = 256,
    OptMag = 512,
    // --write PORT (a value), for commands whose first argument is a file.
    OptWriteTo = 1024,
    OptDryRun = 2048,
    OptRaw = 4096,
};

struct CommandEntry
{
    const char *name;
    const char *synopsis;
    const char *summary;
    int positional;
    unsigned options;
};

// Put before a negative number ("-1.25") so that the parser does not take it
// for an option; taken off again when the argument is read.
const QChar negativeMark(0x1);
QString unmarked(QString argument);

// Standard output, shared so that text and JSON leave in order.
QTextStream &out();
// One line on standard error, "velmar-cli: <where>: <why>"; returns `status`.
int fail(int status, const QString &where, const QString &why);
void printJson(const QJsonValue &value);
QString hexByte(int value);
// A register named on the command line: its catalogue name (case and runs of
// blanks do not matter: "mag offset x" is "MAG  Offset X") or the address it
// starts at; -1 with the reason in `why`.
int registerArgument(const QString &text, QString *why);
// The row whose catalogue name equals `text` with case and blanks folded, or -1.
int registerNamedLoosely(const QString &text);

// What a command reads from the module before doing its own part: the whole
// register space, the identity in it and, where asked for, its decoding.
struct ModuleSnapshot
{
    // CliExit::Ok, or the status the command ends with (already reported).
    int status = CliExit::Ok;
    RegisterImage image {};
    ModuleFileIdentity identity;
    // Null unless decoded.
    std::unique_ptr<ImageDecoder> decoder;

    bool ok() const { return status == CliExit::Ok; }
};

enum class Decoding { Raw, Decoded };

// One command's run: its parsed options and, once opened, the link. The steps
// the commands share are in clicommand.cpp, the commands that read and write
// registers in clicommands.cpp, those that handle module files and
// calibrations in clifilecommands.cpp.
class Command
{
public:
    Command(const CommandEntry &entry, const QCommandLineParser &parser, int timeoutMs)
        : m_entry(entry)
        , m_parser(parser)
        , m_json(parser.isSet(QStringLiteral("json")))
        , m_link(timeoutMs)
    { }

    int run();

private:
    int ports();
    int info();
    int dump();
    int get();
    int set();
    int exportFile();
    int importFile();
    int gyroCal();
    int backups();
    int record();
    int noise();
    int magFit();

    QString arg(int i) const { return unmarked(m_parser.positionalArguments().value(i)); }
    QString port() const
    {
        return m_entry.options & OptWriteTo ? m_parser.value(QStringLiteral("write")) : arg(0);
    }
    // Checks the port before opening it, so that a port that is not one
    // (a file, a folder) is never opened; false with the status in `*status`.
    bool openPort(int *status);
    // Opens the port and reads the module: every command that shows or keeps
    // what the module holds starts so.
    ModuleSnapshot readModule(Decoding decoding);
    int linkFailure();
    // import --dry-run: what would be written, and nothing sent.
    int importDryRun(const QString &path, const ModuleFile &file, const RegisterImage &module,
        const std::bitset<registerCount> &chosen, const std::bitset<registerCount> &toWrite);
    QJsonObject registerJson(int row, const ModuleSnapshot &module);
    QString valueText(int row, const ModuleSnapshot &module) const;
    // Saves the module's settings as a backup; its path, or empty with the
    // status in `*status` (then nothing may be written).
    QString backupBeforeWrite(const ModuleSnapshot &module, const QString &trigger, int *status);
    // Opens the port again and puts "Control1" back to `mode` once the port is
    // there (a vanished port), for up to restoreWaitMs; true when read back.
    bool restoreControl1(quint8 mode, QByteArray *held);

    const CommandEntry &m_entry;
    const QCommandLineParser &m_parser;
    bool m_json;
    ModuleLink m_link;
};

} // namespace Cli
