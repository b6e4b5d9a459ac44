// The control language of velmar-sim, run against an idle simulator.

#include "sim/sim.h"

#include <QtTest>

class TestSimControl : public QObject
{
    Q_OBJECT

private slots:
    void commandsChangeTheSimulator()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("pose x-down 45")).ok);
        QCOMPARE(sim.motion().kind, SimMotion::Still);
        QCOMPARE(sim.motion().pose, SimPose::XDown);
        QCOMPARE(sim.motion().headingDeg, 45.0);
        QVERIFY(runControlLine(sim, QStringLiteral("rotate y 15")).ok);
        QCOMPARE(sim.motion().kind, SimMotion::Rotate);
        QCOMPARE(sim.motion().pose, SimPose::XDown);
        QCOMPARE(sim.motion().axis, (std::array<double, 3>{0, 1, 0}));
        QCOMPARE(sim.motion().rateDegPerSec, 15.0);
        QVERIFY(runControlLine(sim, QStringLiteral("tumble")).ok);
        QCOMPARE(sim.motion().kind, SimMotion::Tumble);

        QVERIFY(runControlLine(sim, QStringLiteral("rate 250")).ok);
        QCOMPARE(sim.streamRate(), 250.0);
        QVERIFY(runControlLine(sim, QStringLiteral("hw 2542")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("range 0x1C")).ok);
        QCOMPARE(sim.registerImage()[0x36], quint8(0x1C));
        QCOMPARE(sim.fullScales().acc, 240.0);
        QCOMPARE(sim.fullScales().gyro, 2000.0);

        QVERIFY(runControlLine(sim, QStringLiteral("errors on")).ok);
        QVERIFY(sim.sensorErrorsEnabled());
        QVERIFY(runControlLine(sim, QStringLiteral("seed 9 rotated")).ok);
        QCOMPARE(sim.sensorErrors().magSoftIron, SimSensorErrors::generate(9, true).magSoftIron);
        QVERIFY(runControlLine(sim, QStringLiteral("errors off")).ok);
        QVERIFY(!sim.sensorErrorsEnabled());
    }

    void faultCommandsSetAndClearFaults()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("noise 0.2 3")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("split 0.3")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("truncate 0.05")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("  status   0.1  ")).ok);
        SimFaults f = sim.faults();
        QCOMPARE(f.noiseChance, 0.2);
        QCOMPARE(f.noiseMaxBytes, 3);
        QCOMPARE(f.splitChance, 0.3);
        QCOMPARE(f.truncateChance, 0.05);
        QCOMPARE(f.statusChance, 0.1);
        QVERIFY(runControlLine(sim, QStringLiteral("faults off")).ok);
        QVERIFY(!sim.faults().any());
    }

    void badLinesAreRefusedAndChangeNothing_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown command") << "fly away";
        QTest::newRow("unknown pose") << "pose upside-down";
        QTest::newRow("chance above 1") << "noise 1.5";
        QTest::newRow("chance not a number") << "split lots";
        QTest::newRow("range too big") << "range 300";
        QTest::newRow("rotate bad axis") << "rotate w 10";
        QTest::newRow("negative rate") << "rate -5";
        QTest::newRow("negative stall") << "stall -1";
    }
    void badLinesAreRefusedAndChangeNothing()
    {
        QFETCH(QString, line);
        ModuleSimulator sim;
        const auto image = sim.registerImage();
        const SimControlReply reply = runControlLine(sim, line);
        QVERIFY(!reply.ok);
        QVERIFY(!reply.text.isEmpty());
        QVERIFY(!sim.faults().any());
        QCOMPARE(sim.motion().kind, SimMotion::Still);
        QCOMPARE(sim.streamRate(), 100.0);
        QCOMPARE(sim.registerImage()[0x36], image[0x36]);
    }

    void quitAndCommentsAndHelp()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("quit")).quit);
        const SimControlReply comment = runControlLine(sim, QStringLiteral("# just a note"));
        QVERIFY(comment.ok && !comment.quit && comment.text.isEmpty());
        const QString help = runControlLine(sim, QStringLiteral("help")).text;
        for (const char *command : {"pose", "rotate", "tumble", "errors", "seed", "rate", "range", "hw", "noise",
                                    "split", "truncate", "status", "faults", "stall", "vanish", "replug", "stamp",
                                    "stats", "truth", "quit"})
            QVERIFY2(help.contains(QLatin1String(command)), command);
    }
};

QTEST_GUILESS_MAIN(TestSimControl)
#include "tst_simcontrol.moc"
