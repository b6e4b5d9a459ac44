// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-sim --replay: a raw recording played onto a pseudo-terminal as
// recorded, reads answered from the map it built up, and bad files refused.

#include "ptyclient.h"
#include "replayfixture.h"

#include "comsprotocol.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Starts velmar-sim on a recording and returns its device path.
QString startReplay(QProcess &sim, const QStringList &arguments)
{
    sim.start(QStringLiteral(VELMAR_SIM_EXE), arguments);
    if (!sim.waitForStarted(10000))
        return {};
    QElapsedTimer timer;
    timer.start();
    while (!sim.canReadLine() && timer.elapsed() < 10000)
        sim.waitForReadyRead(1000);
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

void stopReplay(QProcess &sim)
{
    sim.terminate();
    if (!sim.waitForFinished(10000)) {
        sim.kill();
        sim.waitForFinished();
    }
}

bool waitForLine(QProcess &sim, QByteArray *seen, const QByteArray &line, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!seen->contains(line) && timer.elapsed() < timeoutMs) {
        sim.waitForReadyRead(200);
        *seen += sim.readAllStandardOutput();
    }
    return seen->contains(line);
}

} // namespace

class TestSimReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Every recorded byte arrives, in order, paced by the recorded times:
    // 4 s of recording at ten times the speed take at least about 0.4 s and
    // end well before the 4 s it took to record.
    void playsBytesInOrderAtScaledTiming()
    {
        const TestRecording recording = streamedRecording(200, 20000, 50);
        const QString path = m_dir.filePath(QStringLiteral("order.velmarec"));
        QVERIFY(recording.write(path));
        QProcess sim;
        const QString device = startReplay(sim,
            {QStringLiteral("--replay"), path, QStringLiteral("--speed"), QStringLiteral("10")});
        QVERIFY2(device.startsWith(QLatin1String("/dev/")), qPrintable(device));
        PtyClient client;
        QVERIFY(client.open(device));
        QElapsedTimer timer;
        timer.start();
        const QByteArray expected = recording.allBytes();
        QVERIFY(client.readAtLeast(expected.size(), 15000));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(client.received().size(), expected.size());
        QVERIFY(client.received() == expected);
        QVERIFY2(elapsed >= 300, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 3500, qPrintable(QString::number(elapsed)));
        QByteArray out;
        QVERIFY(waitForLine(sim, &out, "end of recording", 10000));
        // Nothing more follows without --loop.
        QVERIFY(client.readFor(300));
        QCOMPARE(client.received().size(), expected.size());
        stopReplay(sim);
        QCOMPARE(sim.exitCode(), 0);
    }

    // A read is answered from the map as the recording left it so far; a
    // write goes into that map and leaves the replayed stream as recorded.
    void readsAreAnsweredFromTheRecordedMap()
    {
        SimModule module;
        const QByteArray map = module.answerRead(0x00, 176, 0);
        const QByteArray later = QByteArray::fromHex("bb360115"); // "Sensors Range" changes
        TestRecording recording;
        recording.info = testInfo(0);
        recording.chunks = {map, later};
        recording.timesUs = {0, 3000000};
        const QString path = m_dir.filePath(QStringLiteral("map.velmarec"));
        QVERIFY(recording.write(path));
        QProcess sim;
        const QString device = startReplay(sim, {QStringLiteral("--replay"), path});
        PtyClient client;
        QVERIFY(client.open(device));
        QVERIFY(client.readAtLeast(map.size(), 10000));
        QVERIFY(client.received() == map);
        client.received().clear();

        // Calibration registers and the range byte as recorded.
        QVERIFY(client.send(readRequest(0x36, 13)));
        QVERIFY(client.readAtLeast(16, 5000));
        QCOMPARE(client.received().toHex(),
            (QByteArray::fromHex("bb360d") + map.mid(3 + 0x36, 13)).toHex());
        client.received().clear();

        // A write is taken into the map; a read past the end gets what exists.
        QVERIFY(client.send(writeRequest(0x40, QByteArray::fromHex("77"))));
        QVERIFY(client.send(readRequest(0x40, 1)));
        QVERIFY(client.send(readRequest(0xAE, 8)));
        QVERIFY(client.readAtLeast(4 + 5, 5000));
        QCOMPARE(client.received().toHex(),
            QByteArray("bb400177bbae02").append(map.mid(3 + 0xAE, 2).toHex()));
        client.received().clear();

        // The recorded change arrives unaltered, and then reads see it.
        QVERIFY(client.readAtLeast(later.size(), 10000));
        QVERIFY(client.received() == later);
        client.received().clear();
        QVERIFY(client.send(readRequest(0x36, 1)));
        QVERIFY(client.readAtLeast(4, 5000));
        QCOMPARE(client.received().toHex(), QByteArray("bb360115"));
        stopReplay(sim);
    }

    void loopStartsOver()
    {
        const TestRecording recording = streamedRecording(20, 10000, 0);
        const QString path = m_dir.filePath(QStringLiteral("loop.velmarec"));
        QVERIFY(recording.write(path));
        QProcess sim;
        const QString device = startReplay(sim,
            {QStringLiteral("--replay"), path, QStringLiteral("--loop"), QStringLiteral("--speed"),
                QStringLiteral("5")});
        PtyClient client;
        QVERIFY(client.open(device));
        const QByteArray once = recording.allBytes();
        QVERIFY(client.readAtLeast(3 * once.size(), 15000));
        QVERIFY(client.received().left(3 * once.size()) == once + once + once);
        QByteArray out;
        QVERIFY(waitForLine(sim, &out, "starting over", 5000));
        QVERIFY(!out.contains("end of recording"));
        stopReplay(sim);
    }

    // Refused with the reader's own words and a non-zero exit, before a device
    // is offered.
    void badFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const TestRecording good = streamedRecording(5, 10000, 0);
        const QString goodPath = m_dir.filePath(QStringLiteral("good.velmarec"));
        QVERIFY(good.write(goodPath));
        QFile file(goodPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();

        QByteArray magic = bytes;
        magic[0] = 'X';
        QByteArray version = bytes;
        version[8] = char(9);
        QByteArray damaged = bytes;
        damaged[bytes.size() - 10] = char(damaged[bytes.size() - 10] ^ 0x40);
        QTest::newRow("missing") << QByteArray() << "Cannot open";
        QTest::newRow("empty") << QByteArray("") << "Not a Velmar IMU raw recording";
        QTest::newRow("bad magic") << magic << "Not a Velmar IMU raw recording";
        QTest::newRow("bad version") << version << "format version 9 is not supported";
        // Played up to the damage (damagedTailPlaysUpToIt); converting still
        // ends with the reason and a non-zero exit.
        QTest::newRow("damaged record") << damaged << "damaged at byte";
        QTest::newRow("cut short")
            << bytes.left(bytes.size() - 3) << "ends in the middle of a record";
    }
    void badFilesAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path
            = m_dir.filePath(QStringLiteral("bad-%1.velmarec").arg(QTest::currentDataTag()));
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const bool playable = QByteArray(QTest::currentDataTag()) == "damaged record"
            || QByteArray(QTest::currentDataTag()) == "cut short";
        for (const QStringList &extra :
            {QStringList {}, QStringList {QStringLiteral("--csv"), path + ".csv"}}) {
            if (playable && extra.isEmpty())
                continue;
            QProcess sim;
            sim.start(QStringLiteral(VELMAR_SIM_EXE),
                QStringList {QStringLiteral("--replay"), path} + extra);
            const bool finished = sim.waitForFinished(15000);
            if (!finished) {
                stopReplay(sim);
                QFAIL("the simulator started serving");
            }
            QCOMPARE(sim.exitCode(), 1);
            const QString error = QString::fromUtf8(sim.readAllStandardError());
            QVERIFY2(error.contains(message), qPrintable(error));
            QVERIFY(sim.readAllStandardOutput().isEmpty());
        }
    }

    // A damaged tail: every whole record before it is played, and the reason
    // is printed.
    void damagedTailPlaysUpToIt()
    {
        const TestRecording recording = streamedRecording(20, 1000, 0);
        const QString path = m_dir.filePath(QStringLiteral("tail.velmarec"));
        QVERIFY(recording.write(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write(
            encodeRawRecord(RawRecordType::Chunk, 999999, QByteArray(40, char(0xBB))).left(30));
        file.close();
        QProcess sim;
        const QString device = startReplay(sim, {QStringLiteral("--replay"), path});
        QVERIFY2(device.startsWith(QLatin1String("/dev/")), qPrintable(device));
        PtyClient client;
        QVERIFY(client.open(device));
        const QByteArray expected = recording.allBytes();
        QVERIFY(client.readAtLeast(expected.size(), 15000));
        QVERIFY(client.received() == expected);
        QByteArray out;
        QVERIFY(waitForLine(sim, &out, "end of recording", 10000));
        const QString error = QString::fromUtf8(sim.readAllStandardError());
        QVERIFY2(
            error.contains(QLatin1String("ends in the middle of a record")), qPrintable(error));
        stopReplay(sim);
    }

    // A recording that knows the session's requests: the answers the session
    // got are not played to a client that never asked for them, and the
    // client's own answers go out between two messages, never inside one. A
    // link that checks headers, as the application's does, sees no noise.
    void cleanSessionReplaysWithoutNoise()
    {
        SimModule module;
        const int frames = 200;
        QByteArray stream = module.answerRead(0x00, 176, 0); // the session's map
        module.applyWrite(SimModule::control1Address, QByteArray(1, char(11)));
        for (int i = 0; i < frames; ++i) {
            stream += module.streamFrame((i + 1) * 0.005, i + 1);
            if (i == frames / 2)
                stream += module.answerRead(0x36, 13, 0); // a read the session sent
        }
        const QString path = m_dir.filePath(QStringLiteral("session.velmarec"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            RawRecordWriter writer(&file);
            QVERIFY(writer.writeHeader(testInfo(0)));
            QVERIFY(writer.writeConnection(0));
            QVERIFY(writer.writeRequest(0, writeRequest(SimModule::control1Address, "\x0b")));
            QVERIFY(writer.writeRequest(0, readRequest(0x00, 176)));
            // Chunks of 37 bytes: they end inside frames, as a port delivers them.
            const int middle = stream.indexOf(QByteArray::fromHex("bb360d"));
            for (int at = 0; at < stream.size(); at += 37) {
                const qint64 us = 1000 * (at / 37);
                if (at <= middle && middle < at + 37)
                    QVERIFY(writer.writeRequest(us, readRequest(0x36, 13)));
                QVERIFY(writer.writeChunk(us, stream.mid(at, 37)));
            }
        }

        QProcess sim;
        const QString device = startReplay(sim, {QStringLiteral("--replay"), path});
        QVERIFY2(device.startsWith(QLatin1String("/dev/")), qPrintable(device));
        PtyClient client;
        QVERIFY(client.open(device));
        ComsProtocol link;
        link.beginConnection();
        const auto ask = [&](const QByteArray &request) {
            link.noteRequestSent(request);
            return client.send(request);
        };
        QVERIFY(ask(writeRequest(SimModule::control1Address, "\x0b")));
        QVERIFY(ask(readRequest(0x00, 176)));
        // The client's own reads, while the stream plays.
        int reads = 1;
        int fed = 0;
        const quint64 expected = quint64(frames) + 1 + 8;
        QVERIFY2(client.readUntil(
                     [&](const QByteArray &received) {
                         if (received.size() > fed) {
                             link.appendReceived(received.constData() + fed, received.size() - fed);
                             fed = received.size();
                             link.extractFrames();
                         }
                         const LinkCounters counters = link.counters();
                         if (reads < 9 && counters.frames > quint64(reads) * 20) {
                             ask(readRequest(0x36, 13));
                             ++reads;
                         }
                         return counters.frames >= expected && link.awaitedAnswers() == 0;
                     },
                     20000),
            qPrintable(QStringLiteral("%1 frames taken, %2 noise bytes, %3 headers rejected")
                           .arg(link.counters().frames)
                           .arg(link.counters().noiseBytes)
                           .arg(link.counters().rejectedHeaders)));
        const LinkCounters counters = link.counters();
        QCOMPARE(counters.frames, expected);
        QCOMPARE(counters.noiseBytes, quint64(0));
        QCOMPARE(counters.rejectedHeaders, quint64(0));
        QCOMPARE(counters.statusMessages, quint64(0));
        QCOMPARE(counters.cutFrames, quint64(0));
        // The session's read was answered from the map the replay holds.
        QCOMPARE(link.registerImage()[0x36], quint8(module.image()[0x36]));
        stopReplay(sim);
    }

    void replayOptionsNeedReplay()
    {
        for (const QStringList &arguments : {QStringList {QStringLiteral("--loop")},
                 QStringList {QStringLiteral("--speed"), QStringLiteral("2")},
                 QStringList {QStringLiteral("--csv"), m_dir.filePath(QStringLiteral("x.csv"))}}) {
            QProcess sim;
            sim.start(QStringLiteral(VELMAR_SIM_EXE),
                arguments + QStringList {QStringLiteral("--no-stdin")});
            const bool finished = sim.waitForFinished(10000);
            if (!finished)
                stopReplay(sim);
            QVERIFY(finished);
            QCOMPARE(sim.exitCode(), 2);
            QVERIFY(sim.readAllStandardError().contains("needs --replay"));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSimReplay)
#include "tst_simreplay.moc"
