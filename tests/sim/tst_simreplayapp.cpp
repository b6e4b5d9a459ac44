// SPDX-License-Identifier: GPL-3.0-or-later
// A raw recording replayed into the application's own link and backend
// through velmar-sim: what the application decodes from the replay is what
// the CSV conversion of the same file holds, frame for frame.

#include "backendcsv.h"
#include "replayfixture.h"

#include "durUzaBackend.h"
#include "recordingcsv.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSimReplayApp : public QObject
{
    Q_OBJECT

private slots:
    void applicationDecodesWhatTheCsvHolds()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const TestRecording recording = streamedRecording(400, 10000, 0);
        const QString raw = dir.filePath(QStringLiteral("app.velmarec"));
        const QString csv = dir.filePath(QStringLiteral("app.csv"));
        QVERIFY(recording.write(raw));
        const RecordingCsvResult converted = convertRecordingToCsv(raw, csv);
        QVERIFY2(converted.ok, qPrintable(converted.error));
        QFile csvFile(csv);
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        QSet<QByteArray> rows; // value cells, without the time
        for (const QByteArray &line : csvFile.readAll().split('\n'))
            if (!line.isEmpty() && !line.startsWith("time_s"))
                rows.insert(line.mid(line.indexOf(',') + 1));
        QCOMPARE(rows.size(), recording.messages.size()); // every frame differs

        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE),
            {QStringLiteral("--replay"), raw, QStringLiteral("--speed"), QStringLiteral("2")});
        QVERIFY(sim.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
        qputenv("VELMAR_EXTRA_PORTS", device.toLocal8Bit());

        DurUzaBackend backend;
        // A sample is whole when acc, gyro and Euler angles came in one dispatch
        // (the Euler angles come last of the three, in address order).
        unsigned changed = 0;
        QList<QByteArray> samples;
        connect(&backend, &DurUzaBackend::accDataListChanged, this, [&] { changed |= 1; });
        connect(&backend, &DurUzaBackend::gyroDataListChanged, this, [&] { changed |= 2; });
        connect(&backend, &DurUzaBackend::eulerDataListChanged, this, [&] {
            if (changed == 3)
                samples.append(backendValueCells(backend));
            changed = 0;
        });
        const int index = backend.availablePortsList().indexOf(device);
        QVERIFY(index >= 0);
        backend.connectClicked(index);
        QVERIFY(backend.isConnected());

        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += sim.readAllStandardOutput()).contains("end of recording"), 20000);
        // The frames after the application switched streaming on (those that
        // reached it in one pass each), and its own reads answered from the
        // replayed map: each one a row of the CSV.
        QVERIFY2(samples.size() >= 50, qPrintable(QString::number(samples.size())));
        backend.connectClicked(0);
        int matched = 0;
        for (const QByteArray &sample : samples)
            matched += rows.contains(sample) ? 1 : 0;
        qInfo("%d samples decoded by the application, all rows of the CSV: %d", int(samples.size()),
            matched);
        QVERIFY2(matched == samples.size(),
            qPrintable(QStringLiteral("%1 of %2 samples").arg(matched).arg(samples.size())));
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestSimReplayApp)
#include "tst_simreplayapp.moc"
