// SPDX-License-Identifier: GPL-3.0-or-later
// The noise page's object: analyses on its worker thread, handed back by
// queued signals, and the curves' CSV it exports.
#include "noisecheck.h"
#include "noisefiles.h"
#include "record.h"

#include <QFile>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

class TestNoiseCheck : public QObject
{
    Q_OBJECT

private:
    // `seconds` of white noise at 100 Hz on a clock the test moves.
    static void feed(NoiseCheck &check, double &now, double seconds, std::mt19937 &rng)
    {
        std::normal_distribution<float> n(0, 1);
        for (long i = 0; i < long(seconds * 100); ++i) {
            now += 0.01;
            check.addSample(QVector3D(0.01f * n(rng), 0.01f * n(rng), 0.01f * n(rng)),
                QVector3D(0.002f * n(rng), 0.002f * n(rng), 9.81f + 0.002f * n(rng)));
        }
    }

private slots:
    void analysisRunsOnTheWorkerAndComesBackQueued()
    {
        NoiseCheck check;
        double now = 0;
        check.setClock([&now] { return now; });
        check.setInterimEvery(1e9); // only the final analysis
        std::mt19937 rng(3);
        QVERIFY(check.workerThread() != QThread::currentThread());
        QVERIFY(check.workerThread()->isRunning());
        QVERIFY(check.measure(60));
        feed(check, now, 30, rng);
        QSignalSpy result(&check, &NoiseCheck::resultChanged);
        check.finish();
        // finish() only hands the samples over: no result inside the call.
        QVERIFY2(check.busy(), "the analysis should be under way on the worker");
        QVERIFY(!check.hasResult());
        QVERIFY(result.wait(20000));
        QVERIFY(!check.busy());
        QVERIFY2(check.hasResult(), qPrintable(check.error()));
        QCOMPARE(check.report().channels.size(), std::size_t(6));
        QVERIFY(check.report().channels[0].N.known);
        // White noise of 0.01 deg/s a sample at 100 Hz: N = 0.001 deg/s/sqrt(Hz).
        QVERIFY2(std::fabs(check.report().channels[0].N.value / 0.001 - 1) < 0.1,
            qPrintable(QString::number(check.report().channels[0].N.value)));
    }

    void aCancelledRunsLateResultIsDropped()
    {
        NoiseCheck check;
        double now = 0;
        check.setClock([&now] { return now; });
        check.setInterimEvery(10);
        std::mt19937 rng(4);
        QVERIFY(check.measure(60));
        feed(check, now, 11, rng); // an interim analysis goes out
        QVERIFY(check.busy());
        check.cancel();
        QVERIFY(!check.busy());
        // The worker takes jobs in order: by the time a recording opened
        // now is done, the cancelled run's job has come back, and was dropped.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("rest.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(csvHeaderRow());
        std::normal_distribution<float> n(0, 1);
        for (long i = 0; i < 3000; ++i) {
            MeasurementFrame frame;
            frame.timeUs = i * 10000;
            frame.present = MeasurementFrame::Gyro | MeasurementFrame::Acc;
            frame.gyro = {0.05f * n(rng), 0.05f * n(rng), 0.05f * n(rng)};
            frame.acc = {0.01f * n(rng), 0.01f * n(rng), 9.8f + 0.01f * n(rng)};
            file.write(csvRow(frame));
        }
        file.close();
        QSignalSpy result(&check, &NoiseCheck::resultChanged);
        QVERIFY(check.openRecording(path));
        QTRY_VERIFY_WITH_TIMEOUT(!check.busy(), 20000);
        QCOMPARE(result.count(), 1);
        QCOMPARE(check.source(), QStringLiteral("rest.csv"));
        // 0.05 deg/s a sample at 100 Hz: N = 0.005, not the cancelled run's 0.001.
        QVERIFY2(std::fabs(check.report().channels[0].N.value / 0.005 - 1) < 0.1,
            qPrintable(QString::number(check.report().channels[0].N.value)));
        QVERIFY(!check.openRecording(dir.filePath(QStringLiteral("missing.csv"))));
        QVERIFY(check.error().contains(QStringLiteral("not a file")));
    }

    void curvesCsvHoldsEveryChannelsPointsFitAndSpectrum()
    {
        NoiseReport report;
        NoiseChannelResult c;
        c.name = QStringLiteral("gyro_x");
        c.N.known = true;
        c.N.value = 0.002;
        c.adev = {{1, 0.002, 0.0019, 0.0021, 100}, {4, 0.001, 0.0009, 0.0011, 25}};
        c.psdFrequency = {0.5};
        c.psd = {8e-6};
        report.channels.push_back(c);
        const QList<QByteArray> rows = NoiseFiles::curvesCsv(report).split('\n');
        QCOMPARE(rows.value(0), QByteArray("channel,curve,x,y,low,high"));
        QCOMPARE(rows.value(1), QByteArray("gyro_x,adev,1,0.002,0.0019,0.0021"));
        // The fitted white part falls as 1/sqrt(tau): 0.002 at 1 s, 0.001 at 4 s.
        QCOMPARE(rows.value(3), QByteArray("gyro_x,fit,1,0.002,,"));
        QCOMPARE(rows.value(4), QByteArray("gyro_x,fit,4,0.001,,"));
        QCOMPARE(rows.value(5), QByteArray("gyro_x,psd,0.5,8e-06,,"));
    }
};

QTEST_GUILESS_MAIN(TestNoiseCheck)
#include "tst_noisecheck.moc"
