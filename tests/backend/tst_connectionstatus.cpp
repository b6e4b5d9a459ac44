// SPDX-License-Identifier: GPL-3.0-or-later
// The status strip's figures and texts, worked out from the link's counters
// with the time set by the test.
#include "connectionstatus.h"

#include "registermap.h"

#include <QtTest>

namespace {
LinkCounters streaming(quint64 frames, quint64 bytes, int mode = RegisterMap::StreamingAll)
{
    LinkCounters counters;
    counters.frames = frames;
    counters.bytesReceived = bytes;
    counters.streamingMode = mode;
    return counters;
}

const FullScales allKnown {20, 250, 2};
} // namespace

class TestConnectionStatus : public QObject
{
    Q_OBJECT

private slots:
    void ratesAreTakenOverTheLastSecond();
    void stallNeedsStreamingAndMoreThanASecondWithoutFrames_data();
    void stallNeedsStreamingAndMoreThanASecondWithoutFrames();
    void warningSaysWhyDataStopped();
    void warningNamesTheValueThatCannotBeDecoded();
    void warningTellsOfRangesNeverRead();
    void statusMessageAndItsTime();
    void identityText_data();
    void identityText();
    void rangesText_data();
    void rangesText();
};

void TestConnectionStatus::ratesAreTakenOverTheLastSecond()
{
    ConnectionFigures figures;
    figures.begin(10000);
    // Too soon to tell.
    figures.sample(streaming(2, 74), 10100);
    QCOMPARE(figures.framesPerSecond(), 0);
    // 50 frames of 37 bytes a second, sampled twice a second.
    quint64 frames = 0;
    qint64 now = 10000;
    for (int i = 0; i < 6; ++i) {
        frames += 25;
        now += 500;
        figures.sample(streaming(frames, frames * 37), now);
    }
    QCOMPARE(figures.framesPerSecond(), 50);
    QCOMPARE(figures.bytesPerSecond(), 1850);
    // The stream doubles: within a window the figure follows.
    for (int i = 0; i < 3; ++i) {
        frames += 50;
        now += 500;
        figures.sample(streaming(frames, frames * 37), now);
    }
    QCOMPARE(figures.framesPerSecond(), 100);
    // It stops: after a window the rates are 0 again.
    figures.sample(streaming(frames, frames * 37), now + 500);
    figures.sample(streaming(frames, frames * 37), now + 1000);
    QCOMPARE(figures.framesPerSecond(), 0);
    QCOMPARE(figures.bytesPerSecond(), 0);

    // A new connection starts from nothing.
    figures.begin(now + 2000);
    QCOMPARE(figures.framesPerSecond(), 0);
    QCOMPARE(figures.counters().frames, quint64(0));
}

void TestConnectionStatus::stallNeedsStreamingAndMoreThanASecondWithoutFrames_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<qint64>("silentMs");
    QTest::addColumn<bool>("stalled");
    QTest::newRow("streaming, a second") << int(RegisterMap::StreamingAll) << qint64(1000) << false;
    QTest::newRow("streaming, just over") << int(RegisterMap::StreamingAll) << qint64(1001) << true;
    QTest::newRow("acc and gyro streaming")
        << int(RegisterMap::StreamingAccGyro) << qint64(3000) << true;
    QTest::newRow("streaming off") << int(RegisterMap::StreamingOff) << qint64(3000) << false;
    QTest::newRow("mode not known yet") << -1 << qint64(3000) << false;
}

void TestConnectionStatus::stallNeedsStreamingAndMoreThanASecondWithoutFrames()
{
    QFETCH(int, mode);
    QFETCH(qint64, silentMs);
    QFETCH(bool, stalled);
    ConnectionFigures figures;
    figures.begin(0);
    figures.sample(streaming(10, 370, mode), 500);
    QCOMPARE(figures.stalled(500 + silentMs), stalled);
    QCOMPARE(
        connectionWarning(figures, 500 + silentMs, QTime(12, 3, 4), QString(), allKnown).isEmpty(),
        !stalled);
}

void TestConnectionStatus::warningSaysWhyDataStopped()
{
    ConnectionFigures figures;
    figures.begin(0);
    // Nothing at all since the connect.
    figures.sample(streaming(0, 0), 1500);
    QString text = connectionWarning(figures, 1500, QTime(12, 0, 0), QString(), allKnown);
    QVERIFY2(text.contains("No data from the module since connect"), qPrintable(text));

    // Frames, then silence: the time of the last one is named.
    figures.sample(streaming(30, 1110), 2000);
    figures.sample(streaming(30, 1110), 3500);
    text = connectionWarning(figures, 3500, QTime(12, 3, 4), QString(), allKnown);
    QVERIFY2(text.contains("No data from the module since 12:03:04"), qPrintable(text));

    // Bytes that make no frames: another device, or another baud rate.
    figures.sample(streaming(30, 5000), 4000);
    text = connectionWarning(figures, 4000, QTime(12, 3, 4), QString(), allKnown);
    QVERIFY2(text.contains("Bytes arrive but no frame"), qPrintable(text));

    // Frames again: nothing to say.
    figures.sample(streaming(40, 5370), 4500);
    QCOMPARE(connectionWarning(figures, 4500, QTime(12, 3, 5), QString(), allKnown), QString());
}

void TestConnectionStatus::warningNamesTheValueThatCannotBeDecoded()
{
    ConnectionFigures figures;
    figures.begin(0);
    figures.sample(streaming(10, 370), 500);
    const QString problem = unknownHardwareVersionText(9999);
    const QString text = connectionWarning(figures, 600, QTime(), problem, FullScales {});
    QCOMPARE(text, problem);
    QVERIFY(text.contains("9999"));
    // Stopped as well: both are said, the value first.
    const QString both = connectionWarning(figures, 3000, QTime(1, 2, 3), problem, FullScales {});
    QCOMPARE(both.split('\n').size(), 2);
    QVERIFY(both.startsWith(problem));
}

void TestConnectionStatus::warningTellsOfRangesNeverRead()
{
    ConnectionFigures figures;
    figures.begin(0);
    figures.sample(streaming(50, 1850), 1000);
    // While the first answers are still due, nothing is said.
    QCOMPARE(connectionWarning(figures, 1000, QTime(), QString(), FullScales {}), QString());
    figures.sample(streaming(150, 5550), 3000);
    const QString text
        = connectionWarning(figures, 3000, QTime(), QString(), FullScales {20, 250, -1});
    QVERIFY2(text.contains("magnetometer range is not known"), qPrintable(text));
    QVERIFY2(!text.contains("accelerometer"), qPrintable(text));
    QCOMPARE(connectionWarning(figures, 3000, QTime(), QString(), allKnown), QString());
}

void TestConnectionStatus::statusMessageAndItsTime()
{
    QCOMPARE(statusMessageText(0, 0, QTime()), QString("none"));
    QCOMPARE(statusMessageText(1, 5, QTime(12, 3, 4)), QString("0x05 (5) at 12:03:04"));
    QCOMPARE(statusMessageText(3, 0xEE, QTime(0, 0, 9)),
        QString("0xEE (238) at 00:00:09, 3 since connect"));

    ConnectionFigures figures;
    figures.begin(0);
    QCOMPARE(figures.lastStatusAtMs(), qint64(-1));
    LinkCounters counters = streaming(1, 10);
    counters.statusMessages = 1;
    figures.sample(counters, 700);
    figures.sample(counters, 1200);
    QCOMPARE(figures.lastStatusAtMs(), qint64(700));
}

void TestConnectionStatus::identityText_data()
{
    QTest::addColumn<int>("deviceId");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("software");
    QTest::addColumn<QString>("text");
    QTest::newRow("read") << 0x5A << 1442 << 210 << "ID 0x5A · HW 1442 · SW 210";
    QTest::newRow("small id") << 7 << 2542 << 1 << "ID 0x07 · HW 2542 · SW 1";
    QTest::newRow("partly read") << 0x5A << -1 << -1 << "ID 0x5A · HW ? · SW ?";
}

void TestConnectionStatus::identityText()
{
    QFETCH(int, deviceId);
    QFETCH(int, hardware);
    QFETCH(int, software);
    QFETCH(QString, text);
    const SeenModule identity {deviceId, hardware, software};
    QCOMPARE(::identityText(identity), text);
    QCOMPARE(identity.complete(), hardware >= 0);
}

void TestConnectionStatus::rangesText_data()
{
    QTest::addColumn<float>("acc");
    QTest::addColumn<float>("gyro");
    QTest::addColumn<float>("mag");
    QTest::addColumn<bool>("magCalibrated");
    QTest::addColumn<QString>("text");
    QTest::newRow("1442, range 0")
        << 20.f << 250.f << 2.f << false << "Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2 gauss";
    QTest::newRow("2542, 0x1C") << 240.f << 2000.f << 8.f << false
                                << "Acc ±240 m/s² · Gyro ±2000 °/s · Mag ±8 gauss";
    QTest::newRow("1442, magnetometer calibrated")
        << 20.f << 250.f << 2.f << true
        << "Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2 relative to the local field";
    QTest::newRow("mag code unknown")
        << 160.f << 2000.f << -1.f << false << "Acc ±160 m/s² · Gyro ±2000 °/s · Mag ?";
    QTest::newRow("none decoded") << -1.f << -1.f << -1.f << false << "";
}

void TestConnectionStatus::rangesText()
{
    QFETCH(float, acc);
    QFETCH(float, gyro);
    QFETCH(float, mag);
    QFETCH(bool, magCalibrated);
    QFETCH(QString, text);
    QCOMPARE(::rangesText(FullScales {acc, gyro, mag}, magCalibrated), text);
    // The table of the decoding gives the same figures.
    if (acc == 240.f) {
        FullScales decoded;
        QVERIFY(applySensorsRange(2542, 0x1C, decoded, nullptr));
        QCOMPARE(::rangesText(decoded), text);
    }
}

QTEST_GUILESS_MAIN(TestConnectionStatus)
#include "tst_connectionstatus.moc"
