// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's outputs against the simulated module: only files are written,
// a full disk or an unusable folder is told before anything streams and keeps
// the old file, "-" is standard output, and a recording whose port vanishes
// keeps its rows and puts the module's mode back.
#include "modulefile.h"
#include "modulesimulator.h"
#include "simhome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// velmar-cli with its files limited to `limitBytes`, as on a nearly full disk.
class LimitedProcess : public QProcess
{
public:
    rlim_t limitBytes = RLIM_INFINITY;

protected:
    void setupChildProcess() override
    {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit {limitBytes, limitBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
};

struct CliRun
{
    int status = -1;
    QByteArray out;
    QString err;
};

int control1Writes(const std::vector<SimRequest> &requests)
{
    int n = 0;
    for (const SimRequest &r : requests)
        n += r.write && r.address == 52 ? 1 : 0;
    return n;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestCliFiles : public QObject
{
    Q_OBJECT

private:
    void start(LimitedProcess &process, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_rig.home->path());
        env.remove(QStringLiteral("VELMAR_EXTRA_PORTS"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VELMAR_CLI_EXE), arguments);
    }
    CliRun finish(LimitedProcess &process)
    {
        CliRun run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.out = process.readAllStandardOutput();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    CliRun cli(const QStringList &arguments, rlim_t limitBytes = RLIM_INFINITY)
    {
        LimitedProcess process;
        process.limitBytes = limitBytes;
        start(process, arguments);
        return finish(process);
    }
    QString port() const { return m_rig.sim->slavePath(); }
    // A path of the kind named under the test's home; empty if it cannot be made.
    QString target(const QString &kind)
    {
        const QString path = m_rig.home->filePath(kind);
        if (kind == QLatin1String("fifo"))
            return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
        if (kind == QLatin1String("folder"))
            return QDir().mkpath(path) ? path : QString();
        if (kind == QLatin1String("under a file")) {
            QFile blocker(m_rig.home->filePath(QStringLiteral("blocker")));
            return blocker.open(QIODevice::WriteOnly) ? blocker.fileName() + QStringLiteral("/out")
                                                      : QString();
        }
        return path; // "full disk": an ordinary path
    }

    SimulatedModuleHome m_rig;

private slots:
    void init()
    {
        const QString error = m_rig.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanup() { m_rig.stop(); }

    void exportWritesOnlyFilesAndKeepsTheOldOneOnAFullDisk_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo" << 5 << "is a FIFO, not a file";
        QTest::newRow("folder") << "folder" << 5 << "is a folder";
        QTest::newRow("file where the folder should be")
            << "under a file" << 5 << "is not a folder";
        QTest::newRow("full disk") << "full disk" << 1 << "cannot write";
    }
    void exportWritesOnlyFilesAndKeepsTheOldOneOnAFullDisk()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(QString, reason);
        const QString path = target(kind);
        QVERIFY(!path.isEmpty());
        const bool fullDisk = kind == QLatin1String("full disk");
        if (fullDisk) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the previous export");
        }
        struct stat before
        {
        };
        ::lstat(QFile::encodeName(path).constData(), &before);
        const CliRun run
            = cli({QStringLiteral("export"), port(), path}, fullDisk ? 1000 : RLIM_INFINITY);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(!run.out.contains("exported"), run.out.constData());
        struct stat after
        {
        };
        ::lstat(QFile::encodeName(path).constData(), &after);
        QCOMPARE(after.st_mode, before.st_mode);
        if (fullDisk)
            QCOMPARE(contentOf(path), QByteArray("the previous export"));
        else
            // Refused before the module was asked anything.
            QVERIFY(m_rig.sim->requests().empty());
    }

    void dashIsStandardOutput()
    {
        const CliRun exported = cli({QStringLiteral("export"), port(), QStringLiteral("-")});
        QCOMPARE(exported.status, 0);
        const ModuleFileReading reading = readModuleFile(exported.out);
        QVERIFY2(reading.ok, qPrintable(reading.refusal + exported.err));
        QCOMPARE(reading.file.identity.hardwareVersion, 1442);
        QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("-"))));

        const CliRun recorded = cli({QStringLiteral("record"), port(), QStringLiteral("--seconds"),
            QStringLiteral("0.5"), QStringLiteral("--csv"), QStringLiteral("-")});
        QCOMPARE(recorded.status, 0);
        QVERIFY2(recorded.out.startsWith("time_s,"), recorded.out.left(200).constData());
        QVERIFY(recorded.out.count('\n') > 10);
        QVERIFY2(recorded.err.contains(QLatin1String("written to standard output")),
            qPrintable(recorded.err));
        QCOMPARE(int(m_rig.sim->registerImage()[52]), 0x85);
    }

    void recordChecksItsOutputBeforeStreaming_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo"
                              << "is a FIFO";
        QTest::newRow("folder") << "folder"
                                << "is a folder";
        QTest::newRow("file where the folder should be") << "under a file"
                                                         << "is not a folder";
        QTest::newRow("full disk") << "full disk"
                                   << "cannot write";
    }
    void recordChecksItsOutputBeforeStreaming()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = target(kind);
        QVERIFY(!path.isEmpty());
        const CliRun run = cli({QStringLiteral("record"), port(), QStringLiteral("--seconds"),
                                   QStringLiteral("1"), QStringLiteral("--csv"), path},
            kind == QLatin1String("full disk") ? 0 : RLIM_INFINITY);
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(control1Writes(m_rig.sim->requests()), 0);
    }

    void recordKeepsItsRowsAndPutsTheModeBackWhenThePortVanishes()
    {
        // A replugged module comes back on a new pseudo-terminal: named by a
        // link that follows it, as a udev rule names a real one.
        QTemporaryDir links;
        ModuleSimulator::Options options;
        options.linkPath = links.filePath(QStringLiteral("imu"));
        m_rig.stop();
        const QString error = m_rig.start(options);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString csv = m_rig.home->filePath(QStringLiteral("cut.csv"));
        LimitedProcess process;
        start(process,
            {QStringLiteral("record"), options.linkPath, QStringLiteral("--seconds"),
                QStringLiteral("30"), QStringLiteral("--csv"), csv});
        // Streaming, then the cable is pulled for a second and a half.
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.sim->registerImage()[52] == 0x0B, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.sim->counters().intactStreamFrames > 50, 20000);
        m_rig.sim->unplug(1500);
        const CliRun run = finish(process);
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(QLatin1String("rows recorded are kept"))
                && run.err.contains(QLatin1String("was put back to 0x85")),
            qPrintable(run.err));
        const QList<QByteArray> lines = contentOf(csv).split('\n');
        QVERIFY2(lines.size() > 20, qPrintable(QString::number(lines.size())));
        QVERIFY(lines.first().startsWith("time_s,"));
        QCOMPARE(int(m_rig.sim->registerImage()[52]), 0x85);
    }

    void valuesThatLookLikeOptionsAreValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("-inf") << "-inf";
        QTest::newRow("-INF") << "-INF";
        QTest::newRow("-nan") << "-nan";
    }
    void valuesThatLookLikeOptionsAreValues()
    {
        QFETCH(QString, value);
        const CliRun run
            = cli({QStringLiteral("set"), port(), QStringLiteral("ACC Offset X"), value});
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(QLatin1String("not a finite number"))
                || run.err.contains(QLatin1String("not a number")),
            qPrintable(run.err));
        QVERIFY2(!run.err.contains(QLatin1String("option")), qPrintable(run.err));
        QCOMPARE(control1Writes(m_rig.sim->requests()), 0);
        for (const SimRequest &r : m_rig.sim->requests())
            QVERIFY(!r.write);
    }

    void aMissingLongPathIsNoSuchPort()
    {
        const QString path = QStringLiteral("/tmp/") + QString(300, QLatin1Char('p'))
            + QStringLiteral("/") + QString(200, QLatin1Char('q'));
        const CliRun run = cli({QStringLiteral("info"), path});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.endsWith(QLatin1String(": no such serial port\n")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
