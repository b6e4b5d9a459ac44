// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli gyro-cal against the simulated module: the application's floor
// and rest check hold on the command line too, and a short run is scored.
#include "modulesimulator.h"
#include "registercatalogue.h"
#include "simhome.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <array>
#include <functional>

namespace {

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

int writesIn(const std::vector<SimRequest> &requests)
{
    int writes = 0;
    for (const SimRequest &request : requests)
        writes += request.write ? 1 : 0;
    return writes;
}

int gyroReads(const ModuleSimulator &sim)
{
    int reads = 0;
    for (const SimRequest &request : sim.requests())
        reads += !request.write && request.address == 0x0C ? 1 : 0;
    return reads;
}

float gyroOffsetX(const ModuleSimulator &sim)
{
    return readF32(&sim.registerImage()[0x67]);
}

} // namespace

class TestCliScoresUnits : public QObject
{
    Q_OBJECT

private:
    CliRun cli(const QStringList &arguments, const std::function<void()> &meanwhile = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_rig.home->path());
        env.remove(QStringLiteral("VELMAR_EXTRA_PORTS"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VELMAR_CLI_EXE), arguments);
        if (meanwhile)
            meanwhile();
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
    int backups() const
    {
        return QDir(m_rig.home->filePath(QStringLiteral("velmar-imu/backups")))
            .entryList({QStringLiteral("*.json")}, QDir::Files)
            .size();
    }

    SimulatedModuleHome m_rig;

private slots:
    void init()
    {
        const QString error = m_rig.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanup() { m_rig.stop(); }

    // Below 50 nothing is written, and no backup made, unless forced; a turn
    // is named and refuses the write. Either way the module keeps its offsets.
    void poorResultIsWrittenOnlyWhenForced_data()
    {
        QTest::addColumn<QString>("motion");
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("noisy at rest") << "noisy" << false << 5 << "below 50";
        QTest::newRow("noisy at rest, forced") << "noisy" << true << 0 << "";
        QTest::newRow("turned near the end")
            << "turn" << false << 5 << "turned during the rest period";
    }

    void poorResultIsWrittenOnlyWhenForced()
    {
        QFETCH(QString, motion);
        QFETCH(bool, force);
        QFETCH(int, status);
        QFETCH(QString, said);
        SimSensorErrors errors;
        errors.gyroBias = {1.5, -0.75, 0.25};
        errors.gyroNoise = motion == QLatin1String("noisy") ? 4.0 : 0.02;
        m_rig.sim->setSensorErrors(errors);
        m_rig.sim->setSensorErrorsEnabled(true);
        const int writesBefore = writesIn(m_rig.sim->requests());
        const float offsetBefore = gyroOffsetX(*m_rig.sim);

        QStringList arguments {QStringLiteral("gyro-cal"), port(), QStringLiteral("--samples"),
            QStringLiteral("100"), QStringLiteral("--write"), QStringLiteral("--json")};
        if (force)
            arguments << QStringLiteral("--force");
        // The turn: still for the first 70 of the 100 samples, then turning.
        const auto turnLate = [this] {
            QTRY_VERIFY_WITH_TIMEOUT(gyroReads(*m_rig.sim) >= 70, 30000);
            m_rig.sim->setMotion(
                SimMotion::rotating(SimPose::ZUp, std::array<double, 3> {0, 0, 1}, 90.0));
        };
        const CliRun run = cli(
            arguments, motion == QLatin1String("turn") ? std::function<void()>(turnLate) : nullptr);
        const QString shown = run.out + run.err;
        QVERIFY2(run.status == status,
            qPrintable(QStringLiteral("exit %1: %2").arg(run.status).arg(shown)));
        const int quality = run.json().value(QStringLiteral("quality")).toInt(-1);
        if (motion == QLatin1String("noisy"))
            QVERIFY2(quality >= 0 && quality < 50, qPrintable(shown));
        if (status != 0) {
            QVERIFY2(run.err.contains(said) && run.err.contains(QLatin1String("nothing written")),
                qPrintable(run.err));
            QCOMPARE(run.json().value(QStringLiteral("written")).toBool(true), false);
            QCOMPARE(writesIn(m_rig.sim->requests()), writesBefore);
            QCOMPARE(gyroOffsetX(*m_rig.sim), offsetBefore);
            QCOMPARE(backups(), 0);
        } else {
            QCOMPARE(run.json().value(QStringLiteral("written")).toBool(), true);
            QCOMPARE(backups(), 1);
            QVERIFY(gyroOffsetX(*m_rig.sim) != offsetBefore);
        }
    }

    // Five to nine samples are enough to score a steady module.
    void shortRunAtRestIsScored()
    {
        SimSensorErrors errors;
        errors.gyroBias = {0.5, 0.25, -0.5};
        m_rig.sim->setSensorErrors(errors);
        m_rig.sim->setSensorErrorsEnabled(true);
        const CliRun run = cli({QStringLiteral("gyro-cal"), port(), QStringLiteral("--samples"),
            QStringLiteral("7"), QStringLiteral("--json")});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.json().value(QStringLiteral("quality")).toInt() >= 50, qPrintable(run.out));
    }

    // The magnetometer's unit follows what the module holds: gauss with the
    // factory calibration, relative to the local field once it has its own.
    void magnetometerUnitFollowsTheModulesCalibration()
    {
        const QString gauss = QStringLiteral("gauss");
        const QString relative = QStringLiteral("relative to the local field");
        const auto unitsShown = [this]() {
            const CliRun info = cli({QStringLiteral("info"), port(), QStringLiteral("--json")});
            const CliRun get = cli({QStringLiteral("get"), port(), QStringLiteral("Magnetometer X"),
                QStringLiteral("--json")});
            const CliRun text = cli({QStringLiteral("info"), port()});
            return QStringList {info.json().value(QStringLiteral("magUnit")).toString(),
                get.json().value(QStringLiteral("unit")).toString(),
                text.out.section(QStringLiteral("magnetometer"), 1)
                    .section(QLatin1Char('\n'), 0, 0)};
        };
        QStringList shown = unitsShown();
        QCOMPARE(shown.at(0), gauss);
        QCOMPARE(shown.at(1), gauss);
        QVERIFY2(shown.at(2).endsWith(QLatin1String("+/-2 gauss")), qPrintable(shown.at(2)));

        QCOMPARE(
            cli({QStringLiteral("set"), port(), QStringLiteral("127"), QStringLiteral("0.125")})
                .status,
            0);
        shown = unitsShown();
        QCOMPARE(shown.at(0), relative);
        QCOMPARE(shown.at(1), relative);
        QVERIFY2(shown.at(2).endsWith(QLatin1String("+/-2 relative to the local field")),
            qPrintable(shown.at(2)));
    }

    void forceWithoutWriteIsAUsageError()
    {
        const CliRun run = cli({QStringLiteral("gyro-cal"), port(), QStringLiteral("--force")});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QLatin1String("--force")), qPrintable(run.err));
    }
};

QTEST_MAIN(TestCliScoresUnits)
#include "tst_cli_scoresunits.moc"
