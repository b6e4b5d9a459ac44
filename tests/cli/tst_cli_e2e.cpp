// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli as a script runs it, against the simulated module on a real
// pseudo-terminal: every command, every exit status, and the refusals, which
// the simulator's request log shows to have sent nothing.
#include "cloudgenerator.h"
#include "magcloudfile.h"
#include "modulefile.h"
#include "modulesimulator.h"
#include "record.h"
#include "recordingcsv.h"
#include "simhome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
    QJsonDocument json() const { return QJsonDocument::fromJson(out.toUtf8()); }
};

int writesIn(const std::vector<SimRequest> &requests)
{
    int writes = 0;
    for (const SimRequest &request : requests)
        writes += request.write ? 1 : 0;
    return writes;
}

int rowOf(const char *name)
{
    for (int row = 0; row < registerCount; ++row) {
        if (std::strcmp(registerCatalogue[std::size_t(row)].name, name) == 0)
            return row;
    }
    return -1;
}

float realAt(const std::array<quint8, 176> &image, int address)
{
    return readF32(&image[std::size_t(address)]);
}

// A turned, offset ellipsoid with noise, as a magnetometer with soft and hard
// iron reads the field turned every way.
const clouds::Vec3 cloudCentre {0.12, -0.08, 0.2};
std::vector<Sample4> softIronCloud(clouds::Mat3 *shape)
{
    clouds::Noise rng(41);
    *shape = clouds::turnedStretch(rng, 0.5, 0.15);
    return clouds::cloud(clouds::unitSphere(1500), cloudCentre, *shape, 0.002, &rng);
}

} // namespace

class TestCliEndToEnd : public QObject
{
    Q_OBJECT

private:
    CliRun cli(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_rig.home->path());
        env.remove(QStringLiteral("VELMAR_EXTRA_PORTS"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VELMAR_CLI_EXE), arguments);
        CliRun run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    QString port() const { return m_rig.sim->slavePath(); }
    QString backupFolder() const
    {
        return m_rig.home->filePath(QStringLiteral("velmar-imu/backups"));
    }
    QStringList backups() const
    {
        return QDir(backupFolder()).entryList({QStringLiteral("*.json")}, QDir::Files);
    }

    SimulatedModuleHome m_rig;

private slots:
    void init()
    {
        const QString error = m_rig.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanup() { m_rig.stop(); }

    void helpAndUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("top help") << QStringList {"--help"} << 0 << "Exit status:";
        QTest::newRow("version") << QStringList {"--version"} << 0 << "velmar-cli 0.";
        for (const char *command : {"ports", "info", "dump", "get", "set", "export", "import",
                 "gyro-cal", "backups", "record"})
            QTest::newRow(command) << QStringList {command, "--help"} << 0
                                   << QStringLiteral("Usage: velmar-cli %1").arg(command);
        QTest::newRow("nothing") << QStringList {} << 2 << "Usage: velmar-cli COMMAND";
        QTest::newRow("unknown command") << QStringList {"frobnicate"} << 2 << "unknown command";
        QTest::newRow("missing argument")
            << QStringList {"get", "/dev/null"} << 2 << "2 argument(s) needed, 1 given";
        QTest::newRow("extra argument") << QStringList {"info", "a", "b"} << 2 << "needed";
        QTest::newRow("unknown option")
            << QStringList {"info", "x", "--fast"} << 2 << "Unknown option 'fast'";
        QTest::newRow("bad timeout") << QStringList {"info", "x", "--timeout", "soon"} << 2
                                     << "--timeout takes milliseconds";
    }
    void helpAndUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, text);
        const CliRun run = cli(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
        QVERIFY(m_rig.sim->requests().empty());
    }

    void portsListsTheDevicesNamedForIt()
    {
        qputenv("VELMAR_EXTRA_PORTS", port().toLocal8Bit());
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMAR_EXTRA_PORTS"), port());
        process.setProcessEnvironment(env);
        process.start(
            QStringLiteral(VELMAR_CLI_EXE), {QStringLiteral("ports"), QStringLiteral("--json")});
        QVERIFY(process.waitForFinished(30000));
        qunsetenv("VELMAR_EXTRA_PORTS");
        QCOMPARE(process.exitCode(), 0);
        const QJsonArray ports = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
        bool found = false;
        for (const QJsonValue &entry : ports)
            found = found || entry.toObject().value(QStringLiteral("device")).toString() == port();
        QVERIFY(found);
    }

    void infoShowsIdentityRangesAndMode()
    {
        const CliRun text = cli({QStringLiteral("info"), port()});
        QCOMPARE(text.status, 0);
        QVERIFY2(text.out.contains(QLatin1String("hardware version  1442")), qPrintable(text.out));
        QVERIFY(text.out.contains(QLatin1String("accelerometer     +/-20 m/s2")));
        QVERIFY(text.out.contains(QLatin1String("control1          0x85 (not streaming)")));
        const CliRun json = cli({QStringLiteral("info"), port(), QStringLiteral("--json")});
        QCOMPARE(json.status, 0);
        const QJsonObject info = json.json().object();
        QCOMPARE(info.value(QStringLiteral("deviceId")).toInt(), 0x5A);
        QCOMPARE(info.value(QStringLiteral("softwareVersion")).toInt(), 210);
        QCOMPARE(info.value(QStringLiteral("gyroFullScale")).toDouble(), 250.0);
        QCOMPARE(info.value(QStringLiteral("magFullScale")).toDouble(), 2.0);
        QCOMPARE(writesIn(m_rig.sim->requests()), 0);
    }

    void dumpDecodesEveryRegisterWithUnits()
    {
        const CliRun run = cli({QStringLiteral("dump"), port(), QStringLiteral("--json")});
        QCOMPARE(run.status, 0);
        const QJsonArray rows = run.json().array();
        QCOMPARE(rows.size(), 61);
        const QJsonObject accZ = rows.at(rowOf("Accelerometer Z")).toObject();
        QCOMPARE(accZ.value(QStringLiteral("unit")).toString(), QStringLiteral("m/s2"));
        // Held Z-Up with ideal sensors: gravity's reaction on z.
        QVERIFY2(std::fabs(accZ.value(QStringLiteral("value")).toDouble() - 9.8) < 0.1,
            qPrintable(QJsonDocument(accZ).toJson()));
        QCOMPARE(rows.at(rowOf("Gyroscope X")).toObject().value(QStringLiteral("unit")).toString(),
            QStringLiteral("deg/s"));
        QCOMPARE(rows.at(rowOf("Control1")).toObject().value(QStringLiteral("text")).toString(),
            QStringLiteral("0x85"));
        QCOMPARE(rows.at(rowOf("MAG Scale Factor4"))
                     .toObject()
                     .value(QStringLiteral("value"))
                     .toDouble(),
            1.0);
        const CliRun text = cli({QStringLiteral("dump"), port()});
        QCOMPARE(text.status, 0);
        QCOMPARE(text.out.count(QLatin1Char('\n')), 61);
        QVERIFY(text.out.contains(QLatin1String("Temperature")));
        QCOMPARE(writesIn(m_rig.sim->requests()), 0);
    }

    void getReadsOneRegisterByNameOrAddress()
    {
        const CliRun byName = cli({QStringLiteral("get"), port(), QStringLiteral("ACC_MAG_EFF")});
        QCOMPARE(byName.status, 0);
        QCOMPARE(byName.out, QStringLiteral("0x0A\n"));
        const CliRun byAddress = cli({QStringLiteral("get"), port(), QStringLiteral("0x02")});
        QCOMPARE(byAddress.out, QStringLiteral("1442\n"));
        const CliRun json = cli(
            {QStringLiteral("get"), port(), QStringLiteral("gyroscope scale factor y"), "--json"});
        QCOMPARE(json.json().object().value(QStringLiteral("value")).toDouble(), 1.0);
        QCOMPARE(writesIn(m_rig.sim->requests()), 0);
    }

    void setWritesReadsBackAndReportsWhatTheModuleHolds()
    {
        const CliRun run
            = cli({QStringLiteral("set"), port(), QStringLiteral("Gyroscope Offset Y"), "-1.25"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Gyroscope Offset Y = -1.25\n"));
        QCOMPARE(realAt(m_rig.sim->registerImage(), 107), -1.25f);
        const auto requests = m_rig.sim->requests();
        QCOMPARE(writesIn(requests), 1);
        for (const SimRequest &request : requests) {
            if (request.write) {
                QCOMPARE(int(request.address), 107);
                QCOMPARE(request.data.size(), 4);
            }
        }
        const CliRun byte = cli({QStringLiteral("set"), port(), QStringLiteral("53"), "0x7f",
            QStringLiteral("--json")});
        QCOMPARE(byte.status, 0);
        QCOMPARE(
            byte.json().object().value(QStringLiteral("held")).toString(), QStringLiteral("0x7F"));
        QCOMPARE(int(m_rig.sim->registerImage()[53]), 0x7F);
    }

    void setThatTheModuleDoesNotTakeExitsWithMismatch()
    {
        m_rig.sim->setIgnoredWrites(175, 1);
        const CliRun run
            = cli({QStringLiteral("set"), port(), QStringLiteral("ACC_MAG_EFF"), "11"});
        QCOMPARE(run.status, 6);
        QVERIFY2(run.err.startsWith(QStringLiteral("velmar-cli: %1: \"ACC_MAG_EFF\" holds 0x0A "
                                                   "after writing 0x0B")
                                        .arg(port())),
            qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    }

    void badInputNeverReachesTheModule_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        // (Names match with case and blanks folded: "MAG Offset X" is a register.)
        QTest::newRow("unknown name") << QStringList {"set", "@PORT", "MAG Offset W", "1"} << 5
                                      << "unknown register \"MAG Offset W\"";
        QTest::newRow("no register there") << QStringList {"set", "@PORT", "0x38", "1"} << 5
                                           << "no register starts at address 0x38";
        QTest::newRow("read-only")
            << QStringList {"set", "@PORT", "Temperature", "20"} << 5 << "Temperature is read-only";
        QTest::newRow("not a number")
            << QStringList {"set", "@PORT", "ACC Offset X", "1,5"} << 5 << "is not a number";
        QTest::newRow("byte too big")
            << QStringList {"set", "@PORT", "Control2", "0x100"} << 5 << "is not a byte";
        QTest::newRow("real too large") << QStringList {"set", "@PORT", "MAG  Offset Y", "1e39"}
                                        << 5 << "too large for a 32-bit float";
        QTest::newRow("not finite")
            << QStringList {"set", "@PORT", "ACC Offset Z", "nan"} << 5 << "not a finite number";
        QTest::newRow("get unknown")
            << QStringList {"get", "@PORT", "Pressure"} << 5 << "unknown register";
        QTest::newRow("port is a file") << QStringList {"set", "@FILE", "Control2", "1"} << 3
                                        << "is a regular file, not a serial port";
        QTest::newRow("port is a folder")
            << QStringList {"info", "@DIR"} << 3 << "is a directory, not a serial port";
        QTest::newRow("no such port")
            << QStringList {"info", "@DIR/ttyNone"} << 3 << "no such serial port";
        QTest::newRow("gyro-cal samples")
            << QStringList {"gyro-cal", "@PORT", "--samples", "2"} << 2 << "--samples takes";
        QTest::newRow("import only unknown") << QStringList {"import", "@PORT", "@MODULEFILE",
            "--only", "compass"} << 5 << "unknown register or block \"compass\"";
    }
    void badInputNeverReachesTheModule()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, reason);
        const QString file = m_rig.home->filePath(QStringLiteral("plain.txt"));
        QFile plain(file);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("keep me");
        plain.close();
        const QString moduleFile = m_rig.home->filePath(QStringLiteral("module.json"));
        QFile json(moduleFile);
        QVERIFY(json.open(QIODevice::WriteOnly));
        const auto image = m_rig.sim->registerImage();
        json.write(writeModuleFile(ModuleFile::fromImage(image.data(), {0x5A, 1442, 210})));
        json.close();
        for (QString &argument : arguments) {
            argument.replace(QLatin1String("@PORT"), port());
            argument.replace(QLatin1String("@FILE"), file);
            argument.replace(QLatin1String("@DIR"), m_rig.home->path());
            argument.replace(QLatin1String("@MODULEFILE"), moduleFile);
        }
        const CliRun run = cli(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QVERIFY2(run.err.startsWith(QLatin1String("velmar-cli: ")), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY(run.out.isEmpty());
        // Nothing reached the module, not even a read.
        QCOMPARE(int(m_rig.sim->requests().size()), 0);
        QVERIFY(plain.open(QIODevice::ReadOnly));
        QCOMPARE(plain.readAll(), QByteArray("keep me"));
    }

    void silentModuleAndUnopenablePortHaveTheirOwnStatus()
    {
        m_rig.sim->stall(3000);
        const CliRun silent = cli(
            {QStringLiteral("info"), port(), QStringLiteral("--timeout"), QStringLiteral("300")});
        QCOMPARE(silent.status, 4);
        QVERIFY2(silent.err.contains(QLatin1String("did not answer a read of 176 bytes at 0x00 "
                                                   "within 300 ms")),
            qPrintable(silent.err));
        QVERIFY(silent.err.startsWith(QStringLiteral("velmar-cli: %1: ").arg(port())));

        // A character device that is no serial port: the open itself fails.
        const CliRun unopenable = cli({QStringLiteral("info"), QStringLiteral("/dev/null")});
        QCOMPARE(unopenable.status, 3);
        QVERIFY2(unopenable.err.startsWith(QLatin1String("velmar-cli: /dev/null: ")),
            qPrintable(unopenable.err));
    }

    void exportImportRoundTripRestoresTheModule()
    {
        const QString file = m_rig.home->filePath(QStringLiteral("module.json"));
        const CliRun exported = cli({QStringLiteral("export"), port(), file});
        QCOMPARE(exported.status, 0);
        const auto original = m_rig.sim->registerImage();
        const ModuleFileReading reading = readModuleFile(file);
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QVERIFY(std::equal(
            reading.file.writable.begin(), reading.file.writable.end(), original.begin() + 52));
        QCOMPARE(reading.file.identity.hardwareVersion, 1442);
        QCOMPARE(reading.file.trigger, QStringLiteral("export"));

        // Change a calibration register and a control register, then restore.
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("MAG  Offset Z"), "0.375"}).status,
            0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("Control2"), "0x03"}).status, 0);
        QVERIFY(m_rig.sim->registerImage() != original);
        const int writesBefore = writesIn(m_rig.sim->requests());

        const CliRun imported
            = cli({QStringLiteral("import"), port(), file, QStringLiteral("--json")});
        QCOMPARE(imported.status, 0);
        const auto restored = m_rig.sim->registerImage();
        QVERIFY(std::equal(restored.begin() + 52, restored.end(), original.begin() + 52));
        const QJsonObject result = imported.json().object();
        QCOMPARE(result.value(QStringLiteral("written")).toInt(), 2);
        QCOMPARE(result.value(QStringLiteral("differ")).toInt(), 0);
        // Only what differed was written: two registers, in two runs.
        QCOMPARE(writesIn(m_rig.sim->requests()) - writesBefore, 2);
        // A calibration register was overwritten: the state before is kept.
        const QStringList saved = backups();
        QCOMPARE(saved.size(), 1);
        const ModuleFileReading backup
            = readModuleFile(QDir(backupFolder()).filePath(saved.first()));
        QVERIFY(backup.ok);
        QCOMPARE(backup.file.trigger, QStringLiteral("before import"));
        QCOMPARE(backup.file.realOf(rowOf("MAG  Offset Z")), 0.375f);

        // The backup is itself a file to restore from.
        const CliRun restore
            = cli({QStringLiteral("import"), port(), QDir(backupFolder()).filePath(saved.first())});
        QCOMPARE(restore.status, 0);
        QVERIFY2(restore.out.contains(QLatin1String("MAG  Offset Z")), qPrintable(restore.out));
        QCOMPARE(realAt(m_rig.sim->registerImage(), 135), 0.375f);
        QCOMPARE(int(m_rig.sim->registerImage()[53]), 0x03);
    }

    // A module left streaming: its measurement bytes can pass for the answer
    // to the whole-map read. Over several seeds, info and export name the
    // module right, the file holds its registers, and nothing is written.
    void streamingModuleIsReadRightAndNotWritten_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<int>("control1");
        for (quint64 seed = 1; seed <= 5; ++seed)
            QTest::addRow("mode 11, seed %llu", seed) << seed << 11;
        QTest::addRow("mode 12, seed 6") << quint64(6) << 12;
    }
    void streamingModuleIsReadRightAndNotWritten()
    {
        QFETCH(quint64, seed);
        QFETCH(int, control1);
        m_rig.stop();
        ModuleSimulator::Options options;
        options.identity.control1 = control1;
        options.sensorErrors = true;
        options.seed = seed;
        options.streamRate = 296;
        options.lookalikeHeaders = true;
        options.motion = SimMotion::tumbling();
        const QString error = m_rig.start(options);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        const CliRun info = cli({QStringLiteral("info"), port(), QStringLiteral("--json")});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        const QJsonObject object = info.json().object();
        QCOMPARE(object.value(QStringLiteral("deviceId")).toInt(), 0x5A);
        QCOMPARE(object.value(QStringLiteral("hardwareVersion")).toInt(), 1442);
        QCOMPARE(object.value(QStringLiteral("softwareVersion")).toInt(), 210);
        QCOMPARE(object.value(QStringLiteral("gyroFullScale")).toDouble(), 250.0);

        const QString file = m_rig.home->filePath(QStringLiteral("streaming.json"));
        const CliRun exported = cli({QStringLiteral("export"), port(), file});
        QVERIFY2(exported.status == 0, qPrintable(exported.err));
        QVERIFY2(exported.out.contains(QLatin1String("device 0x5A, hardware 1442, software 210")),
            qPrintable(exported.out));
        const ModuleFileReading reading = readModuleFile(file);
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QCOMPARE(reading.file.identity.deviceId, 0x5A);
        QCOMPARE(reading.file.identity.hardwareVersion, 1442);
        const auto held = m_rig.sim->registerImage();
        QVERIFY2(std::equal(reading.file.writable.begin() + 3, reading.file.writable.end(),
                     held.begin() + 55),
            "the exported calibration registers are not the module's");
        QCOMPARE(writesIn(m_rig.sim->requests()), 0);
    }

    void registerNamesFoldBlanksAndCase_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("as in the catalogue") << "MAG  Offset X";
        QTest::newRow("one blank") << "MAG Offset X";
        QTest::newRow("lower case, blanks around") << "  mag offset x ";
    }
    void registerNamesFoldBlanksAndCase()
    {
        QFETCH(QString, typed);
        const CliRun set = cli({QStringLiteral("set"), port(), typed, QStringLiteral("0.25")});
        QVERIFY2(set.status == 0, qPrintable(set.err));
        QCOMPARE(realAt(m_rig.sim->registerImage(), 127), 0.25f);
        const CliRun get = cli({QStringLiteral("get"), port(), typed});
        QVERIFY2(get.status == 0, qPrintable(get.err));
        QVERIFY2(get.out.startsWith(QLatin1String("0.25")), qPrintable(get.out));
    }

    void dumpShowsAddressesAsTheRegisterPage()
    {
        const CliRun text = cli({QStringLiteral("dump"), port()});
        QCOMPARE(text.status, 0);
        const QStringList lines = text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 61);
        QVERIFY2(lines.at(rowOf("Control1")).startsWith(QLatin1String("0x34  Control1")),
            qPrintable(lines.at(rowOf("Control1"))));
        QVERIFY2(lines.at(rowOf("MAG  Offset X")).startsWith(QLatin1String("0x7F  MAG  Offset X")),
            qPrintable(lines.at(rowOf("MAG  Offset X"))));
    }

    void importDryRunListsAndSendsNothing()
    {
        const QString file = m_rig.home->filePath(QStringLiteral("module.json"));
        QCOMPARE(cli({QStringLiteral("export"), port(), file}).status, 0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("MAG  Offset Z"), "0.375"}).status,
            0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("Control2"), "0x03"}).status, 0);
        const auto changed = m_rig.sim->registerImage();
        const int requestsBefore = int(m_rig.sim->requests().size());
        const int writesBefore = writesIn(m_rig.sim->requests());

        const CliRun run
            = cli({QStringLiteral("import"), port(), file, QStringLiteral("--dry-run")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(QLatin1String("MAG  Offset Z"))
                && run.out.contains(QLatin1String("Control2"))
                && run.out.contains(QLatin1String("2 would be written; dry run, nothing sent")),
            qPrintable(run.out));
        QVERIFY2(!run.out.contains(QLatin1String("Control1")), qPrintable(run.out));
        const CliRun json
            = cli({QStringLiteral("import"), port(), file, QStringLiteral("--dry-run"), "--json"});
        QCOMPARE(json.status, 0);
        QCOMPARE(json.json().object().value(QStringLiteral("wouldWrite")).toArray().size(), 2);

        // Read, never written: the module as it was, no backup taken.
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
        QVERIFY(int(m_rig.sim->requests().size()) > requestsBefore);
        const auto now = m_rig.sim->registerImage();
        QVERIFY2(std::equal(now.begin() + 52, now.end(), changed.begin() + 52),
            "a writable register changed on a dry run");
        QVERIFY2(backups().isEmpty(), qPrintable(backups().join(QLatin1Char(' '))));
    }

    void recordWritesTheRawRecordingToo()
    {
        const QString raw = m_rig.home->filePath(QStringLiteral("run.velmarec"));
        const QString csv = m_rig.home->filePath(QStringLiteral("run.csv"));
        const CliRun run = cli({QStringLiteral("record"), port(), QStringLiteral("--seconds"),
            QStringLiteral("1"), QStringLiteral("--raw"), raw, QStringLiteral("--csv"), csv});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QFile file(raw);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(8) == QByteArray(rawMagic, 8));
        file.close();
        // The raw recording holds what the CSV was made from.
        const QString again = m_rig.home->filePath(QStringLiteral("again.csv"));
        const RecordingCsvResult converted = convertRecordingToCsv(raw, again);
        QVERIFY2(converted.ok, qPrintable(converted.error));
        QVERIFY(converted.rows > 10);
        QFile first(csv), second(again);
        QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), second.readAll());
        QVERIFY2(run.out.contains(QLatin1String("raw recording of")), qPrintable(run.out));
        QCOMPARE(int(m_rig.sim->registerImage()[52]), 0x85);
    }

    void importOnlyWritesTheChosenBlocks()
    {
        const QString file = m_rig.home->filePath(QStringLiteral("module.json"));
        QCOMPARE(cli({QStringLiteral("export"), port(), file}).status, 0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("Gyroscope Offset X"), "2"}).status,
            0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("ACC Scale Factor0"), "1.5"}).status,
            0);
        const CliRun run = cli({QStringLiteral("import"), port(), file, QStringLiteral("--only"),
            QStringLiteral("gyroscope")});
        QCOMPARE(run.status, 0);
        QCOMPARE(realAt(m_rig.sim->registerImage(), 103), 0.0f);
        QCOMPARE(realAt(m_rig.sim->registerImage(), 67), 1.5f); // not chosen: left as it was
        QVERIFY2(run.out.contains(QLatin1String("1 written, 0 differ")), qPrintable(run.out));
    }

    void refusedFilesWriteNothing_data()
    {
        QTest::addColumn<QByteArray>("edit"); // what to change in an exported file
        QTest::addColumn<QString>("reason");
        QTest::newRow("malformed") << QByteArray("truncate") << "not valid JSON";
        QTest::newRow("out of range") << QByteArray("range") << "too large for a 32-bit float";
        QTest::newRow("non-finite") << QByteArray("nan") << "not a finite number";
        QTest::newRow("unknown register") << QByteArray("unknown") << "unknown register";
        QTest::newRow("other hardware") << QByteArray("hardware") << "hardware version 2542";
    }
    void refusedFilesWriteNothing()
    {
        QFETCH(QByteArray, edit);
        QFETCH(QString, reason);
        const QString file = m_rig.home->filePath(QStringLiteral("module.json"));
        QCOMPARE(cli({QStringLiteral("export"), port(), file}).status, 0);
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("Gyroscope Offset X"), "2"}).status,
            0);
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QByteArray text = in.readAll();
        in.close();
        if (edit == "truncate")
            text.chop(40);
        else if (edit == "range")
            text.replace("\"MAG Scale Factor8\": 1", "\"MAG Scale Factor8\": 1e39");
        else if (edit == "nan")
            text.replace("\"MAG Scale Factor8\": 1", "\"MAG Scale Factor8\": \"nan\"");
        else if (edit == "unknown")
            text.replace("\"Control2\"", "\"Control3\"");
        else if (edit == "hardware")
            text.replace("\"hardwareVersion\": 1442", "\"hardwareVersion\": 2542");
        QFile outFile(file);
        QVERIFY(outFile.open(QIODevice::WriteOnly));
        outFile.write(text);
        outFile.close();
        const int writesBefore = writesIn(m_rig.sim->requests());
        const auto before = m_rig.sim->registerImage();

        const CliRun run = cli({QStringLiteral("import"), port(), file});
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QVERIFY2(run.err.startsWith(QStringLiteral("velmar-cli: %1: refused: ").arg(file)),
            qPrintable(run.err));
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
        // A read refreshes the live measurements; the settings stay as they were.
        const auto after = m_rig.sim->registerImage();
        QVERIFY(std::equal(after.begin() + 52, after.end(), before.begin() + 52));
        QVERIFY(backups().isEmpty());
    }

    void gyroCalEstimatesAndWritesOnlyWhenAsked()
    {
        SimSensorErrors errors;
        errors.gyroBias = {1.5, -0.75, 0.25};
        errors.gyroNoise = 0.05;
        m_rig.sim->setSensorErrors(errors);
        m_rig.sim->setSensorErrorsEnabled(true);
        // Offsets already in the module are taken into account, not reset.
        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("Gyroscope Offset X"), "1"}).status,
            0);
        const int writesBefore = writesIn(m_rig.sim->requests());

        const CliRun estimate = cli({QStringLiteral("gyro-cal"), port(),
            QStringLiteral("--samples"), QStringLiteral("50"), QStringLiteral("--json")});
        QCOMPARE(estimate.status, 0);
        const QJsonObject result = estimate.json().object();
        const QJsonArray offset = result.value(QStringLiteral("offset")).toArray();
        QVERIFY2(std::fabs(offset.at(0).toDouble() - 1.5) < 0.05, qPrintable(estimate.out));
        QVERIFY(std::fabs(offset.at(1).toDouble() + 0.75) < 0.05);
        QVERIFY(std::fabs(offset.at(2).toDouble() - 0.25) < 0.05);
        QVERIFY(result.value(QStringLiteral("quality")).toInt() > 50);
        QCOMPARE(result.value(QStringLiteral("written")).toBool(), false);
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
        QCOMPARE(realAt(m_rig.sim->registerImage(), 103), 1.0f);
        QVERIFY(backups().isEmpty());

        const CliRun written = cli(
            {QStringLiteral("gyro-cal"), port(), QStringLiteral("--samples"), "50", "--write"});
        QCOMPARE(written.status, 0);
        QVERIFY2(
            written.out.contains(QLatin1String("written and read back")), qPrintable(written.out));
        const auto image = m_rig.sim->registerImage();
        QVERIFY(std::fabs(realAt(image, 103) - 1.5f) < 0.05f);
        QVERIFY(std::fabs(realAt(image, 107) + 0.75f) < 0.05f);
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore + 1);
        // The backup holds the offsets from before the write.
        const QStringList saved = backups();
        QCOMPARE(saved.size(), 1);
        const ModuleFileReading backup
            = readModuleFile(QDir(backupFolder()).filePath(saved.first()));
        QVERIFY(backup.ok);
        QCOMPARE(backup.file.realOf(rowOf("Gyroscope Offset X")), 1.0f);
        QCOMPARE(backup.file.trigger, QStringLiteral("before gyroscope calibration"));

        const CliRun listed = cli({QStringLiteral("backups"), QStringLiteral("--json")});
        QCOMPARE(listed.status, 0);
        const QJsonArray entries
            = listed.json().object().value(QStringLiteral("backups")).toArray();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.at(0).toObject().value(QStringLiteral("trigger")).toString(),
            QStringLiteral("before gyroscope calibration"));
        QCOMPARE(entries.at(0).toObject().value(QStringLiteral("hardwareVersion")).toInt(), 1442);
    }

    void recordWritesTheStreamAsCsvAndPutsTheModeBack()
    {
        const QString csv = m_rig.home->filePath(QStringLiteral("out.csv"));
        const CliRun run = cli({QStringLiteral("record"), port(), QStringLiteral("--seconds"), "1",
            QStringLiteral("--csv"), csv, QStringLiteral("--json")});
        QCOMPARE(run.status, 0);
        const qint64 rows = run.json().object().value(QStringLiteral("rows")).toInt();
        // 100 frames a second from the simulator; the line and the start cost a few.
        QVERIFY2(rows >= 50 && rows <= 120, qPrintable(run.out));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QVERIFY(lines.first().startsWith("time_s,acc_x_m/s2"));
        QCOMPARE(qint64(lines.size()), rows + 2); // header, rows, and the empty end
        // Z-Up, ideal: every row's acc z is gravity.
        QVERIFY(std::fabs(lines.at(1).split(',').at(3).toDouble() - 9.8) < 0.1);
        QCOMPARE(int(m_rig.sim->registerImage()[52]), 0x85);
        QStringList control1;
        for (const SimRequest &request : m_rig.sim->requests()) {
            if (request.write && request.address == 52)
                control1 << QString::number(quint8(request.data.at(0)), 16);
        }
        QCOMPARE(control1, QStringList({"b", "85"}));

        const CliRun refused = cli({QStringLiteral("record"), port(), QStringLiteral("--seconds"),
            QStringLiteral("-1"), QStringLiteral("--csv"), csv});
        QCOMPARE(refused.status, 2);
    }

    void magFitChoosesOnHeldOutPointsAndWritesOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("csv");
        QTest::newRow("kept cloud") << false;
        QTest::newRow("measurement CSV") << true;
    }

    void magFitChoosesOnHeldOutPointsAndWritesOnlyWhenAsked()
    {
        QFETCH(bool, csv);
        clouds::Mat3 shape {};
        MagCloud cloud;
        cloud.points = softIronCloud(&shape);
        cloud.fullScale = 2.0;
        const QString file = m_rig.home->filePath(csv ? "mag.csv" : "cloud.json");
        if (csv) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            CsvWriter writer(&out);
            QVERIFY(writer.writeHeader());
            for (std::size_t i = 0; i < cloud.points.size(); ++i) {
                MeasurementFrame frame;
                frame.timeUs = qint64(i) * 10000;
                frame.present = MeasurementFrame::Mag;
                frame.mag = {cloud.points[i].x(), cloud.points[i].y(), cloud.points[i].z()};
                QVERIFY(writer.writeFrame(frame));
                // A frame of another kind leaves the magnetometer cells empty.
                frame.present = MeasurementFrame::Acc;
                QVERIFY(writer.writeFrame(frame));
            }
        } else {
            QString error;
            QVERIFY2(saveMagCloud(file, cloud, &error), qPrintable(error));
        }
        const int writesBefore = writesIn(m_rig.sim->requests());
        const CliRun run = cli({QStringLiteral("mag-fit"), file, QStringLiteral("--json")});
        QCOMPARE(run.status, 0);
        const QJsonObject result = run.json().object();
        QCOMPARE(result.value(QStringLiteral("points")).toInt(), 1500);
        QVERIFY2(result.value(QStringLiteral("coverage_pct")).toDouble() > 95, qPrintable(run.out));
        const QJsonArray fits = result.value(QStringLiteral("fits")).toArray();
        QCOMPARE(fits.size(), 5);
        QString lowest;
        double lowestHeldOut = 1e9;
        for (const QJsonValue &value : fits) {
            const QJsonObject fit = value.toObject();
            QCOMPARE(fit.keys(),
                QStringList({"fit_spread_pct", "heldout_spread_pct", "matrix", "method", "offset",
                    "reason", "valid"}));
            QCOMPARE(fit.value(QStringLiteral("offset")).toArray().size(), 3);
            QCOMPARE(fit.value(QStringLiteral("matrix")).toArray().size(), 9);
            QCOMPARE(fit.value(QStringLiteral("reason")).isNull(),
                fit.value(QStringLiteral("valid")).toBool());
            const double heldOut = fit.value(QStringLiteral("heldout_spread_pct")).toDouble(1e9);
            if (fit.value(QStringLiteral("valid")).toBool() && heldOut < lowestHeldOut) {
                lowestHeldOut = heldOut;
                lowest = fit.value(QStringLiteral("method")).toString();
            }
        }
        QCOMPARE(result.value(QStringLiteral("chosen")).toString(), lowest);
        // Turned soft iron: a general ellipsoid wins, near the field's noise.
        QVERIFY2(lowestHeldOut < 0.5, qPrintable(run.out));
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
        QVERIFY(backups().isEmpty());

        const CliRun written = cli({QStringLiteral("mag-fit"), file, "--write", port()});
        QCOMPARE(written.status, 0);
        QVERIFY2(written.out.contains(QLatin1String("read back; backup")), qPrintable(written.out));
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore + 1);
        QCOMPARE(backups().size(), 1);
        // The module holds the chosen fit: offset at the cloud's centre.
        const auto image = m_rig.sim->registerImage();
        for (int i = 0; i < 3; ++i)
            QVERIFY2(
                std::fabs(double(realAt(image, 127 + 4 * i)) - cloudCentre[std::size_t(i)]) < 0.003,
                qPrintable(QString::number(double(realAt(image, 127 + 4 * i)))));
        // ... and its matrix maps the field (shape * u) back to unit length.
        const clouds::Vec3 stretched = clouds::apply(shape, {0.6, 0.0, 0.8});
        double length = 0;
        for (int r = 0; r < 3; ++r) {
            double v = 0;
            for (int c = 0; c < 3; ++c)
                v += double(realAt(image, 139 + 4 * (3 * r + c))) * stretched[std::size_t(c)];
            length += v * v;
        }
        QVERIFY2(std::fabs(std::sqrt(length) - 1.0) < 0.01, qPrintable(QString::number(length)));
    }

    void magFitRefusesWhatIsNoCloudAndWritesNothing()
    {
        const QString file = m_rig.home->filePath(QStringLiteral("broken.json"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(R"({"format": "velmar-mag-cloud", "formatVersion": 1, "fullScale": 2,)"
                  R"( "active": {"offset": [0, 0, 0], "matrix": [1, 0, 0, 0, 1, 0, 0, 0, 1]},)"
                  R"( "points": [[1, 2, 3], [1, 2]]})");
        out.close();
        const int writesBefore = writesIn(m_rig.sim->requests());
        const CliRun run = cli({QStringLiteral("mag-fit"), file, "--write", port()});
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QLatin1String("point 2")), qPrintable(run.err));
        // Points on one plane: every fit refused, each with its reason.
        MagCloud flat;
        flat.points = clouds::cloud(clouds::turnAbout(2, 0.0, 400), cloudCentre,
            clouds::diagonal(0.5, 0.5, 0.5), 0.002, nullptr);
        QString error;
        QVERIFY(saveMagCloud(file, flat, &error));
        const CliRun none = cli({QStringLiteral("mag-fit"), file, "--json", "--write", port()});
        QCOMPARE(none.status, 5);
        QVERIFY2(none.err.contains(QLatin1String("no valid fit")), qPrintable(none.err));
        const CliRun listed = cli({QStringLiteral("mag-fit"), file, "--json"});
        QCOMPARE(listed.status, 1);
        QVERIFY(listed.json().object().value(QStringLiteral("chosen")).isNull());
        for (const QJsonValue &fit :
            listed.json().object().value(QStringLiteral("fits")).toArray()) {
            QVERIFY(!fit.toObject().value(QStringLiteral("valid")).toBool());
            QVERIFY(!fit.toObject().value(QStringLiteral("reason")).toString().isEmpty());
        }
        QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
        QVERIFY(backups().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliEndToEnd)
#include "tst_cli_e2e.moc"
