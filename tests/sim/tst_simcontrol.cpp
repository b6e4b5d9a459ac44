// SPDX-License-Identifier: GPL-3.0-or-later
// The control language of velmar-sim, run against an idle simulator.

#include "sim.h"

#include <QtTest>

#include <limits>

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
        QCOMPARE(sim.motion().axis, (std::array<double, 3> {0, 1, 0}));
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

    // Not-a-number passes every "v < low || v > high" test, so each numeric
    // argument is refused here by name, with the value and the range it missed.
    void numbersNotFiniteOrOutOfRangeAreRefused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("rate nan") << "rate nan"
                                  << "nan is not a number from 0.01 to 100000";
        QTest::newRow("rate inf") << "rate inf"
                                  << "inf is not a number";
        QTest::newRow("rate -inf") << "rate -inf"
                                   << "-inf is not a number";
        QTest::newRow("rate below the slowest") << "rate 0.001"
                                                << "0.001 is not a number from 0.01";
        QTest::newRow("rate above the fastest") << "rate 1e300"
                                                << "1e300 is not a number";
        QTest::newRow("heading nan") << "pose x-down nan"
                                     << "bad heading: nan";
        QTest::newRow("heading inf") << "pose x-down inf"
                                     << "bad heading: inf";
        QTest::newRow("turn rate nan") << "rotate z nan"
                                       << "bad turn rate: nan";
        QTest::newRow("turn rate -inf") << "rotate z -inf"
                                        << "bad turn rate: -inf";
        QTest::newRow("turn rate huge") << "rotate z 1e9"
                                        << "bad turn rate: 1e9";
        QTest::newRow("noise nan") << "noise nan"
                                   << "bad chance: nan";
        QTest::newRow("noise burst nan") << "noise 0.1 nan"
                                         << "bad burst length: nan";
        QTest::newRow("noise burst 0") << "noise 0.1 0"
                                       << "bad burst length: 0";
        QTest::newRow("split nan") << "split nan"
                                   << "bad chance: nan";
        QTest::newRow("truncate inf") << "truncate inf"
                                      << "bad chance: inf";
        QTest::newRow("status nan") << "status NaN"
                                    << "bad chance: NaN";
        QTest::newRow("header noise nan") << "header-noise nan"
                                          << "bad chance: nan";
        QTest::newRow("cut above 1") << "cut 1.5"
                                     << "bad chance: 1.5";
        QTest::newRow("seed nan") << "seed nan"
                                  << "bad seed: nan";
        QTest::newRow("seed negative") << "seed -3"
                                       << "bad seed: -3";
        QTest::newRow("hw nan") << "hw nan"
                                << "bad hardware version: nan";
        QTest::newRow("hw fraction") << "hw 1442.5"
                                     << "bad hardware version: 1442.5";
        QTest::newRow("range nan") << "range nan"
                                   << "bad range byte: nan";
        QTest::newRow("stall nan") << "stall nan"
                                   << "bad duration: nan";
        QTest::newRow("vanish inf") << "vanish inf"
                                    << "bad duration: inf";
    }
    void numbersNotFiniteOrOutOfRangeAreRefused()
    {
        QFETCH(QString, line);
        QFETCH(QString, reason);
        ModuleSimulator sim;
        const auto image = sim.registerImage();
        const auto accBias = sim.sensorErrors().accBias;
        const SimControlReply reply = runControlLine(sim, line);
        QVERIFY(!reply.ok);
        QVERIFY2(reply.text.contains(reason), qPrintable(reply.text));
        QVERIFY(!sim.faults().any());
        QCOMPARE(sim.faults().noiseMaxBytes, SimFaults().noiseMaxBytes);
        QCOMPARE(sim.motion().kind, SimMotion::Still);
        QCOMPARE(sim.motion().headingDeg, 0.0);
        QCOMPARE(sim.streamRate(), 100.0);
        QCOMPARE(sim.registerImage(), image);
        QCOMPARE(sim.sensorErrors().accBias, accBias);
    }

    // Callers in the same process get the same guard: NaN would stream at the
    // line limit, so it keeps the rate; out-of-range rates are clamped.
    void streamRateKeepsItsRangeWhateverTheCaller()
    {
        ModuleSimulator sim;
        sim.setStreamRate(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(sim.streamRate(), 100.0);
        sim.setStreamRate(std::numeric_limits<double>::infinity());
        QCOMPARE(sim.streamRate(), 100.0);
        sim.setStreamRate(1e9);
        QCOMPARE(sim.streamRate(), ModuleSimulator::maxStreamRate);
        sim.setStreamRate(0);
        QCOMPARE(sim.streamRate(), ModuleSimulator::minStreamRate);
        ModuleSimulator::Options options;
        options.streamRate = std::numeric_limits<double>::quiet_NaN();
        QCOMPARE(ModuleSimulator(options).streamRate(), 100.0);
    }

    void newFaultCommandsSetAndClear()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("raw-noise on")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("header-noise 0.25")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("cut 0.125")).ok);
        SimFaults f = sim.faults();
        QVERIFY(f.rawNoise);
        QCOMPARE(f.headerNoiseChance, 0.25);
        QCOMPARE(f.cutChance, 0.125);
        QCOMPARE(f.truncateChance, 0.0); // cuts without filler are their own fault
        QVERIFY(runControlLine(sim, QStringLiteral("raw-noise off")).ok);
        QVERIFY(!sim.faults().rawNoise);
        QVERIFY(!runControlLine(sim, QStringLiteral("raw-noise maybe")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("raw-noise on")).ok);
        QVERIFY(runControlLine(sim, QStringLiteral("faults off")).ok);
        QVERIFY(!sim.faults().any());
    }

    // Lines come out the same however the input is chunked.
    void lineReaderCutsLinesFromAnyChunks()
    {
        const QByteArray input("rate 5\nhw 2542\n\nrange 0x1C\n");
        for (int step : {1, 3, int(input.size())}) {
            SimControlLineReader reader;
            QStringList got;
            for (int i = 0; i < input.size(); i += step) {
                for (const auto &l :
                    reader.feed(input.constData() + i, std::min(step, int(input.size()) - i))) {
                    QVERIFY(!l.tooLong);
                    got << l.text;
                }
            }
            QCOMPARE(got, (QStringList {"rate 5", "hw 2542", "", "range 0x1C"}));
        }
    }

    void overlongLineIsDroppedOnceAndReadingGoesOn()
    {
        SimControlLineReader reader;
        // Exactly the limit is a line; one byte more is not.
        const QByteArray longest(SimControlLineReader::maxLength, 'a');
        auto lines = reader.feed((longest + '\n').constData(), longest.size() + 1);
        QCOMPARE(int(lines.size()), 1);
        QCOMPARE(lines[0].text.size(), SimControlLineReader::maxLength);
        lines = reader.feed((longest + "b\n").constData(), longest.size() + 2);
        QCOMPARE(int(lines.size()), 1);
        QVERIFY(lines[0].tooLong && lines[0].text.isEmpty());

        // Three megabytes without a newline, in reads of 64 kB: one report, as
        // soon as the line is too long, then nothing until its end.
        const QByteArray chunk(65536, 'x');
        int reports = 0;
        for (int i = 0; i < 48; ++i) {
            for (const auto &l : reader.feed(chunk.constData(), chunk.size())) {
                QVERIFY(l.tooLong);
                ++reports;
            }
            QCOMPARE(reports, 1);
        }
        const QByteArray rest("tail of it\nrate 50\n");
        lines = reader.feed(rest.constData(), rest.size());
        QCOMPARE(int(lines.size()), 1);
        QVERIFY(!lines[0].tooLong);
        QCOMPARE(lines[0].text, QStringLiteral("rate 50"));
    }

    void quitAndCommentsAndHelp()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("quit")).quit);
        const SimControlReply comment = runControlLine(sim, QStringLiteral("# just a note"));
        QVERIFY(comment.ok && !comment.quit && comment.text.isEmpty());
        const QString help = runControlLine(sim, QStringLiteral("help")).text;
        for (const char *command : {"pose", "rotate", "tumble", "errors", "seed", "rate", "range",
                 "hw", "noise", "split", "truncate", "status", "raw-noise", "header-noise", "cut",
                 "faults", "stall", "vanish", "replug", "stamp", "stats", "truth", "quit"})
            QVERIFY2(help.contains(QLatin1String(command)), command);
    }
};

QTEST_GUILESS_MAIN(TestSimControl)
#include "tst_simcontrol.moc"
