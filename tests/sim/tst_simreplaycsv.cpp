// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-sim --replay FILE --csv OUT: one row per measurement frame, with the
// values the application's backend decodes from that frame.

#include "backendcsv.h"
#include "replayfixture.h"

#include "durUzaBackend.h"
#include "recordingcsv.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QByteArray> csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestSimReplayCsv : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Chunks of 100 bytes complete two or three frames at a time, as a port
    // at the line rate delivers them: still one row each, equal to what a
    // backend fed that frame alone decodes, in the order sent.
    void oneRowPerFrameAsTheBackendDecodesIt()
    {
        const TestRecording recording = streamedRecording(300, 3333, 100);
        const QString raw = m_dir.filePath(QStringLiteral("stream.velmarec"));
        const QString csv = m_dir.filePath(QStringLiteral("stream.csv"));
        QVERIFY(recording.write(raw));
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY2(result.warning.isEmpty(), qPrintable(result.warning));
        QCOMPARE(result.frames, qint64(recording.messages.size()));
        QCOMPARE(result.rows, qint64(recording.messages.size()));

        const QList<QByteArray> lines = csvLines(csv);
        QCOMPARE(lines.size(), 1 + recording.messages.size());
        QCOMPARE(lines[0] + '\n', csvHeaderRow());

        // The reference: the application's backend, told the ranges the header
        // names and then given one frame at a time.
        DurUzaBackend reference;
        QSignalSpy euler(&reference, &DurUzaBackend::eulerDataListChanged);
        reference.comsHandler()->feedReceived(QByteArray::fromHex("bb0202a205"));
        reference.comsHandler()->feedReceived(QByteArray::fromHex("bb360115"));
        QTRY_COMPARE_WITH_TIMEOUT(reference.accFullScale(), recording.info.accFullScale, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(reference.gyroFullScale(), recording.info.gyroFullScale, 5000);
        for (int i = 0; i < recording.messages.size(); ++i) {
            const int before = euler.count();
            reference.comsHandler()->feedReceived(recording.messages[i]);
            if (euler.count() == before)
                QVERIFY(euler.wait(5000));
            QCOMPARE(valueCells(lines[i + 1]), backendValueCells(reference));
        }

        // Times rise with the chunks and end at the last one's.
        double previous = -1;
        for (int i = 1; i < lines.size(); ++i) {
            const double t = lines[i].left(lines[i].indexOf(',')).toDouble();
            QVERIFY(t >= previous);
            previous = t;
        }
        QCOMPARE(previous, recording.timesUs.last() / 1e6);
    }

    // Noise and status messages between frames make no rows; a frame that
    // carries only some sensors leaves the other cells empty.
    void noiseMakesNoRowsAndMissingValuesStayEmpty()
    {
        TestRecording recording = streamedRecording(10, 10000, 0);
        QVector<QByteArray> chunks;
        for (const QByteArray &m : recording.messages)
            chunks.append(QByteArray::fromHex("0012ee05") + m);
        // Accelerometer and gyroscope only, as during a calibration.
        chunks.append(
            recording.messages.last().left(3 + 12).replace(2, 1, QByteArray(1, char(12))));
        recording.chunks = chunks;
        recording.timesUs.append(recording.timesUs.last() + 10000);
        const QString raw = m_dir.filePath(QStringLiteral("noise.velmarec"));
        const QString csv = m_dir.filePath(QStringLiteral("noise.csv"));
        QVERIFY(recording.write(raw));
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        const QList<QByteArray> lines = csvLines(csv);
        QCOMPARE(lines.size(), 1 + recording.messages.size() + 1);
        const QList<QByteArray> last = lines.last().split(',');
        QCOMPARE(last.size(), csvColumnCount());
        for (int column = 1; column <= 6; ++column)
            QVERIFY(!last[column].isEmpty());
        for (int column = 7; column < last.size(); ++column)
            QVERIFY2(last[column].isEmpty(), qPrintable(QString::number(column)));
    }

    // A recording begun before the ranges were known: the backend drops the
    // scaled sensors, as the live pages do, and the frame's row keeps the rest.
    void unknownRangesLeaveSensorCellsEmpty()
    {
        TestRecording recording = streamedRecording(5, 10000, 0);
        recording.info.accFullScale = recording.info.gyroFullScale = recording.info.magFullScale
            = -1;
        recording.chunks.removeFirst(); // no map read either
        recording.timesUs.removeFirst();
        const QString raw = m_dir.filePath(QStringLiteral("unknown.velmarec"));
        const QString csv = m_dir.filePath(QStringLiteral("unknown.csv"));
        QVERIFY(recording.write(raw));
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        const QList<QByteArray> lines = csvLines(csv);
        QCOMPARE(lines.size(), 1 + 5);
        const QList<QByteArray> cells = lines.last().split(',');
        for (int column = 1; column <= 9; ++column)
            QVERIFY(cells[column].isEmpty());
        for (int column = 10; column < cells.size(); ++column)
            QVERIFY(!cells[column].isEmpty());
    }

    // A damaged tail: every whole record before it is converted, and the
    // reader's message says what was left out.
    void damagedTailKeepsWhatCameBefore()
    {
        const TestRecording recording = streamedRecording(20, 10000, 0);
        const QString raw = m_dir.filePath(QStringLiteral("damaged.velmarec"));
        const QString csv = m_dir.filePath(QStringLiteral("damaged.csv"));
        QVERIFY(recording.write(raw));
        QFile file(raw);
        QVERIFY(file.open(QIODevice::Append));
        file.write(
            encodeRawRecord(RawRecordType::Chunk, 999999, QByteArray(40, char(0xBB))).left(30));
        file.close();
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QLatin1String("ends in the middle of a record")),
            qPrintable(result.error));
        QCOMPARE(csvLines(csv).size(), 1 + recording.messages.size());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSimReplayCsv)
#include "tst_simreplaycsv.moc"
