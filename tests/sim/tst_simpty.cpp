// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator through its pseudo-terminal, as a serial client sees it.

#include "ptyclient.h"
#include "sim.h"

#include <registercatalogue.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool startsWithFrame(const QByteArray &bytes, int address, int count)
{
    return bytes.size() >= 3 + count && quint8(bytes[0]) == 0xBB && quint8(bytes[1]) == address
        && quint8(bytes[2]) == count;
}

// Data frames in a clean byte stream (status messages skipped).
QList<QByteArray> cutFrames(const QByteArray &bytes)
{
    QList<QByteArray> frames;
    for (int i = 0; i + 2 < bytes.size();) {
        const quint8 b = quint8(bytes[i]);
        if (b == 0xEE) {
            i += 2;
        } else if (b == 0xBB) {
            const int size = 3 + quint8(bytes[i + 2]);
            if (i + size > bytes.size())
                break;
            frames.append(bytes.mid(i, size));
            i += size;
        } else {
            ++i;
        }
    }
    return frames;
}

qint16 rawAt(const QByteArray &frame, int address)
{
    return readI16(
        reinterpret_cast<const quint8 *>(frame.constData()) + 3 + address - quint8(frame[1]));
}

} // namespace

class TestSimPty : public QObject
{
    Q_OBJECT

private slots:
    void linkFollowsTheDeviceAndGoesAtStop()
    {
        QTemporaryDir dir;
        ModuleSimulator::Options options;
        options.linkPath = dir.filePath(QStringLiteral("imu"));
        ModuleSimulator sim(options);
        QVERIFY(sim.start());
        QVERIFY(QFileInfo(sim.slavePath()).exists());
        QCOMPARE(QFileInfo(options.linkPath).symLinkTarget(), sim.slavePath());
        sim.stop();
        QVERIFY(!QFileInfo(options.linkPath).isSymLink());
    }

    void refusesToReplaceAFileWithTheLink()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("taken")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ModuleSimulator::Options options;
        options.linkPath = file.fileName();
        ModuleSimulator sim(options);
        QString error;
        QVERIFY(!sim.start(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(file.fileName()).isFile());
    }

    void answersReadsAtAnyAddress_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("answered");
        QTest::newRow("whole map") << 0 << 176 << 176;
        QTest::newRow("past the end") << 0xA0 << 0x40 << 16;
        QTest::newRow("start past the end") << 0xC8 << 4 << 0;
        QTest::newRow("range byte") << 54 << 1 << 1;
    }
    void answersReadsAtAnyAddress()
    {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, answered);
        ModuleSimulator sim;
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(QByteArray::fromHex("00FF") + readRequest(address, count)));
        QVERIFY(client.readAtLeast(3 + answered, 5000));
        QVERIFY(startsWithFrame(client.received(), address, answered));
        const auto image = sim.registerImage();
        if (address >= 52) // below, the live bytes move on
            QCOMPARE(client.received().mid(3),
                QByteArray(reinterpret_cast<const char *>(image.data()) + address, answered));
        QTRY_COMPARE(sim.counters().readRequests, quint64(1));
    }

    void writesReachOnlyWritableBytes()
    {
        ModuleSimulator sim;
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        const auto before = sim.registerImage();
        // Identity, then across 52, then a float at 55 and the last byte.
        QVERIFY(client.send(writeRequest(0, QByteArray(6, char(0x77)))
            + writeRequest(50, QByteArray(4, char(0x01)))
            + writeRequest(0xAF, QByteArray::fromHex("0B0C0D"))));
        QTRY_COMPARE(sim.counters().writeRequests, quint64(3));
        const std::vector<SimRequest> log = sim.requests();
        QCOMPARE(int(log.size()), 3);
        QVERIFY(log[1].write && log[1].address == 50 && log[1].count == 4);
        QCOMPARE(log[2].data, QByteArray::fromHex("0B0C0D"));
        const auto after = sim.registerImage();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(after.data()), 6),
            QByteArray(reinterpret_cast<const char *>(before.data()), 6));
        QCOMPARE(after[52], quint8(1));
        QCOMPARE(after[53], quint8(1));
        QCOMPARE(after[54], before[54]);
        QCOMPARE(after[0xAF], quint8(0x0B));
        // What was written reads back.
        QVERIFY(client.send(readRequest(52, 2)));
        QVERIFY(client.readAtLeast(5, 5000));
        QCOMPARE(client.received(), QByteArray::fromHex("BB34020101"));
    }

    void streamsInBothModesAndStops()
    {
        ModuleSimulator sim;
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        for (int mode : {11, 12}) {
            const int count = mode == 11 ? 34 : 12;
            client.received().clear();
            QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(mode)))));
            QVERIFY(client.readAtLeast(10 * (3 + count), 5000));
            const QList<QByteArray> frames = cutFrames(client.received());
            QVERIFY(frames.size() >= 9);
            for (const QByteArray &f : frames.mid(1))
                QVERIFY(startsWithFrame(f, 6, count));
        }
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(0)))));
        QTRY_COMPARE(sim.registerImage()[0x34], quint8(0));
        const quint64 sent = sim.counters().bytesSent;
        // Stopped: the requests still get answers, and nothing else comes.
        client.received().clear();
        QVERIFY(client.send(readRequest(0x34, 1)));
        QVERIFY(client.readUntil(
            [](const QByteArray &r) { return r.endsWith(QByteArray::fromHex("BB340100")); }, 5000));
        QTRY_COMPARE(sim.counters().bytesSent, sent + 4);
        QCOMPARE(sim.counters().readRequests, quint64(1));
    }

    void streamRateFollowsTheSetting()
    {
        ModuleSimulator sim;
        sim.setStreamRate(50);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(11)))));
        QVERIFY(client.readAtLeast(30 * 37, 10000));
        // 30 frames at 50/s take about 0.6 s; never much less.
        QVERIFY2(
            timer.elapsed() >= 29 * 1000 / 50 - 20, qPrintable(QString::number(timer.elapsed())));
    }

    // The next frame after a change of rate is due one new period after the
    // latest frame, not at the slot the old, slow rate had drawn.
    void newRateTakesEffectAtOnce()
    {
        ModuleSimulator sim;
        QVERIFY(runControlLine(sim, QStringLiteral("rate 0.01")).ok);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(11)))));
        QVERIFY(client.readAtLeast(37, 5000)); // streaming starts with a frame
        QTRY_COMPARE(sim.counters().streamFrames, quint64(1));
        QVERIFY(runControlLine(sim, QStringLiteral("rate 100")).ok);
        // 20 frames at 100/s take 0.2 s; at the old rate, 2000 s.
        QVERIFY2(client.readAtLeast(21 * 37, 10000),
            qPrintable(QString::number(client.received().size())));
        QCOMPARE(cutFrames(client.received()).size(), int(client.received().size() / 37));
    }

    void pacingNeverBeatsTheLineRate_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("rate");
        QTest::newRow("all measurements, asked for 2000/s") << 11 << 2000.0;
        QTest::newRow("accelerometer and gyroscope, asked for 5000/s") << 12 << 5000.0;
    }
    void pacingNeverBeatsTheLineRate()
    {
        QFETCH(int, mode);
        QFETCH(double, rate);
        ModuleSimulator sim;
        sim.setStreamRate(rate);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(mode))) + readRequest(0, 176)));
        QVERIFY(client.readAtLeast(8000, 10000));
        const double seconds = timer.nsecsElapsed() / 1e9;
        // Everything read went out after the request, at most one chunk ahead of the line.
        const int bytes = client.received().size();
        QVERIFY2(bytes <= seconds * ModuleSimulator::lineBytesPerSecond + 259,
            qPrintable(QStringLiteral("%1 bytes in %2 s").arg(bytes).arg(seconds)));
    }

    void faultyLineStillCarriesEveryIntactFrame()
    {
        ModuleSimulator sim;
        sim.setStreamRate(200);
        SimFaults faults;
        faults.noiseChance = faults.splitChance = faults.statusChance = 0.3;
        faults.truncateChance = 0.15;
        sim.setFaults(faults);
        sim.setSequenceStamp(true);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(11)))));
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().streamFrames >= 150, 10000);
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(0)))));
        QTRY_COMPARE(sim.registerImage()[0x34], quint8(0));
        // A clean answer queues behind whatever is still on its way.
        sim.setFaults(SimFaults());
        QVERIFY(client.send(readRequest(0x34, 1)));
        QVERIFY(client.readUntil(
            [](const QByteArray &r) { return r.endsWith(QByteArray::fromHex("BB340100")); },
            10000));
        QTRY_COMPARE(sim.counters().bytesSent, quint64(client.received().size()));
        const SimCounters sent = sim.counters();
        QVERIFY(sent.statusMessages > 0 && sent.noiseBytes > 0);
        QVERIFY(sent.intactStreamFrames < sent.streamFrames);

        // Intact frames carry the true magnetometer of the still, ideal module
        // and distinct sequence numbers; a cut frame filled with noise does not.
        const SimTruth truth = sim.truth();
        const qint16 magZ = SensorModel::encode(truth.magOutput[2], truth.fullScales.mag);
        QSet<int> stamps;
        int intact = 0, streamed = 0;
        for (const QByteArray &f : cutFrames(client.received())) {
            if (!startsWithFrame(f, 6, 34))
                continue;
            ++streamed;
            if (rawAt(f, 0x16) == magZ && rawAt(f, 0x0C) >= 1
                && rawAt(f, 0x0C) <= int(sent.streamFrames)) {
                ++intact;
                stamps.insert(rawAt(f, 0x0C));
            }
        }
        QCOMPARE(quint64(streamed), sent.streamFrames);
        QCOMPARE(quint64(intact), sent.intactStreamFrames);
        QCOMPARE(stamps.size(), intact);
    }

    // The faults that open phantom messages reach the line as claimed, and the
    // counters say what was sent: every intact frame is on the wire whole with
    // its own stamp, and the message starts on the wire are at least those of
    // the messages and the noise counted.
    void newFaultsReachTheLineAndAreCounted()
    {
        ModuleSimulator sim;
        sim.setStreamRate(200);
        SimFaults faults;
        faults.noiseChance = 0.3;
        faults.noiseMaxBytes = 16;
        faults.rawNoise = true;
        faults.headerNoiseChance = 0.2;
        faults.cutChance = 0.15;
        faults.statusChance = 0.3;
        sim.setFaults(faults);
        sim.setSequenceStamp(true);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(11)))));
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().streamFrames >= 150, 10000);
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(0)))));
        QTRY_COMPARE(sim.registerImage()[0x34], quint8(0));
        sim.setFaults(SimFaults());
        QVERIFY(client.send(readRequest(0x34, 1)));
        QVERIFY(client.readUntil(
            [](const QByteArray &r) { return r.endsWith(QByteArray::fromHex("BB340100")); },
            10000));
        QTRY_COMPARE(sim.counters().bytesSent, quint64(client.received().size()));
        const SimCounters sent = sim.counters();
        QVERIFY(sent.headerNoise > 0 && sent.cutFrames > 0 && sent.noiseOpenerBytes > 0);
        QCOMPARE(sent.dataFrames - sent.intactDataFrames,
            sent.cutFrames); // no padded truncation asked for

        const QByteArray wire = client.received();
        const SimTruth truth = sim.truth();
        const qint16 magZ = SensorModel::encode(truth.magOutput[2], truth.fullScales.mag);
        QSet<int> stamps;
        int openers = 0;
        for (int i = 0; i < wire.size(); ++i) {
            const quint8 b = quint8(wire[i]);
            openers += b == 0xBB || b == 0xEE ? 1 : 0;
            const QByteArray f = wire.mid(i, 37);
            if (startsWithFrame(f, 6, 34) && rawAt(f, 0x16) == magZ && rawAt(f, 0x0C) >= 1
                && rawAt(f, 0x0C) <= int(sent.streamFrames))
                stamps.insert(rawAt(f, 0x0C));
        }
        QCOMPARE(quint64(stamps.size()), sent.intactStreamFrames);
        QVERIFY(sent.intactStreamFrames < sent.streamFrames);
        QVERIFY(sent.noiseOpenerBytes >= sent.headerNoise); // each header opens with 0xBB
        QVERIFY(quint64(openers) >= sent.dataFrames + sent.statusMessages + sent.noiseOpenerBytes);
    }

    void stallSilencesTheLineThenAnswers()
    {
        ModuleSimulator sim;
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(readRequest(0, 1)));
        QVERIFY(client.readAtLeast(4, 5000));
        QElapsedTimer timer;
        timer.start();
        sim.stall(400);
        QVERIFY(client.send(readRequest(0, 1)));
        QVERIFY(client.readAtLeast(8, 5000));
        QVERIFY2(timer.elapsed() >= 390, qPrintable(QString::number(timer.elapsed())));
    }

    void unplugHangsUpAndReplugServesOnTheSameLink()
    {
        QTemporaryDir dir;
        ModuleSimulator::Options options;
        options.linkPath = dir.filePath(QStringLiteral("imu"));
        ModuleSimulator sim(options);
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(options.linkPath));
        sim.unplug();
        QVERIFY(!sim.isPlugged());
        QVERIFY(!client.readFor(2000)); // the cable is gone: hang-up, not silence
        QVERIFY(client.hungUp());
        client.close();

        sim.replug();
        QVERIFY(sim.isPlugged());
        QCOMPARE(QFileInfo(options.linkPath).symLinkTarget(), sim.slavePath());
        PtyClient again;
        QVERIFY(again.open(options.linkPath));
        QVERIFY(again.send(readRequest(2, 2)));
        QVERIFY(again.readAtLeast(5, 5000));
        QCOMPARE(again.received(), QByteArray::fromHex("BB0202A205"));

        // Unplugged for a while, it comes back by itself.
        sim.unplug(200);
        QVERIFY(!sim.isPlugged());
        QTRY_VERIFY_WITH_TIMEOUT(sim.isPlugged(), 5000);
        QCOMPARE(QFileInfo(options.linkPath).symLinkTarget(), sim.slavePath());
    }

    void servesWhileTheCallerIsBusy()
    {
        ModuleSimulator sim;
        QVERIFY(sim.start());
        PtyClient client;
        QVERIFY(client.open(sim.slavePath()));
        QVERIFY(client.send(writeRequest(0x34, QByteArray(1, char(12))) + readRequest(0, 176)));
        // This thread does nothing for the simulator: the counters move on their own.
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().streamFrames > 20, 5000);
        QVERIFY(client.readAtLeast(179 + 20 * 15, 5000));
    }
};

QTEST_GUILESS_MAIN(TestSimPty)
#include "tst_simpty.moc"
