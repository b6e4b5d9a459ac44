// SPDX-License-Identifier: GPL-3.0-or-later
// Recording from the backend: what the link receives goes to the raw file
// byte for byte, each frame its cutter takes becomes a CSV row decoded as the
// backend decodes that frame, the location is remembered, and faults leave a
// message and whole files. Fed through the link's own processing thread.

#include "appsettings.h"
#include "durUzaBackend.h"
#include "record.h"
#include "recordingcontroller.h"
#include "recordingcsv.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray dataFrame(int address, const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(0xBB)).append(char(address)).append(char(data.size()));
    return frame + data;
}

QByteArray randomBytes(QRandomGenerator &random, int count)
{
    QByteArray bytes(count, '\0');
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

// Hardware version 1442 and a range byte, as the module answers them.
void learnRanges(DurUzaBackend &backend, quint8 range)
{
    backend.comsHandler()->feedReceived(dataFrame(0x02, QByteArray::fromHex("a205")));
    backend.comsHandler()->feedReceived(dataFrame(0x36, QByteArray(1, char(range))));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRecordingController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        // Documents and the settings of this run, not the user's.
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("velmar-test"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_recordingcontroller"));
        AppSettings::open()->clear();
    }

    void everyChunkAndEveryCutFrameIsRecorded()
    {
        QTemporaryDir dir;
        DurUzaBackend backend;
        RecordingController *recording = backend.recordingController();
        recording->setLocation(dir.path());
        learnRanges(backend, 0x15);
        QTRY_VERIFY_WITH_TIMEOUT(backend.accFullScale() > 0 && backend.magFullScale() > 0, 5000);

        QSignalSpy started(recording->recorder(), &Recorder::started);
        recording->start();
        QVERIFY(recording->isRecording());
        QCOMPARE(recording->state(), QStringLiteral("recording"));
        QVERIFY(started.wait(5000));

        // Whole streamed frames, a range change half way (later rows scale by
        // it), frames with a part of the measurements, a register frame that
        // makes no row, and noise between frames.
        QRandomGenerator random(14);
        QByteArray stream;
        int rows = 0;
        QByteArray last;
        for (int i = 0; i < 300; ++i) {
            if (i == 150)
                stream += dataFrame(0x36, QByteArray(1, char(0x2A)));
            if (i % 37 == 5) {
                stream += dataFrame(0x0C, randomBytes(random, 6)); // gyroscope only
                ++rows;
            }
            if (i % 41 == 7) {
                stream += dataFrame(0x18, randomBytes(random, 2)); // temperature only
                ++rows;
            }
            if (i % 53 == 9)
                stream += dataFrame(0x00, QByteArray(1, char(0x5A)));
            if (i % 29 == 3)
                stream += QByteArray::fromHex("00011122");
            last = randomBytes(random, 34);
            stream += dataFrame(0x06, last);
            ++rows;
        }
        // Chunks of 1 to 90 bytes, cut anywhere, as a port delivers them.
        QList<QByteArray> chunks;
        for (int at = 0; at < stream.size();) {
            const int n = 1 + random.bounded(90);
            chunks.append(stream.mid(at, n));
            at += n;
        }
        for (const QByteArray &chunk : qAsConst(chunks))
            backend.comsHandler()->feedReceived(chunk);
        // The last frame's Euler angles reach the backend once it is through.
        const float lastRoll = float(qint16(quint8(last[28]) | (quint8(last[29]) << 8)) / 100.0);
        QTRY_VERIFY_WITH_TIMEOUT(!backend.eulerDataList().isEmpty()
                && backend.eulerDataList().first().toFloat() == lastRoll,
            5000);

        QSignalSpy stopped(recording->recorder(), &Recorder::stopped);
        recording->stop();
        QVERIFY(stopped.wait(5000));
        QCOMPARE(recording->state(), QStringLiteral("idle"));
        QVERIFY(recording->errorMessage().isEmpty());
        QCOMPARE(recording->framesWritten(), qint64(rows));

        const QString raw = recording->folder() + QStringLiteral("/raw.velmarec");
        const RawRecording file = readRawRecording(raw);
        QVERIFY2(file.headerValid && file.error.isEmpty(), qPrintable(file.error));
        QCOMPARE(file.info.hardwareVersion, quint16(1442));
        QCOMPARE(file.info.sensorsRange, quint8(0x15));
        QCOMPARE(file.info.accFullScale, 40.0f);
        QByteArray received;
        qint64 previous = 0;
        for (const RawRecord &record : file.records) {
            QCOMPARE(int(record.type), int(RawRecordType::Chunk));
            QVERIFY(record.timeUs >= previous);
            previous = record.timeUs;
            received += record.payload;
        }
        QCOMPARE(received.size(), stream.size());
        QVERIFY(received == stream);

        // Row for row what the backend decodes from each frame fed alone,
        // at the receive time of the chunk that completed it.
        const QString reference = dir.filePath(QStringLiteral("reference.csv"));
        const RecordingCsvResult converted = convertRecordingToCsv(raw, reference);
        QVERIFY2(converted.ok, qPrintable(converted.error));
        QCOMPARE(converted.rows, qint64(rows));
        const QByteArray csv = readAll(recording->folder() + QStringLiteral("/measurements.csv"));
        QCOMPARE(csv.count('\n'), rows + 1);
        const QList<QByteArray> ours = csv.split('\n');
        const QList<QByteArray> theirs = readAll(reference).split('\n');
        QCOMPARE(ours.size(), theirs.size());
        for (int i = 0; i < ours.size(); ++i)
            QCOMPARE(ours[i], theirs[i]);
    }

    void recordingsGoToDocumentsUntilAnotherPlaceIsChosen()
    {
        AppSettings::open()->clear();
        const QString documents
            = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(documents.startsWith(m_home.path()));
        {
            DurUzaBackend backend;
            RecordingController *recording = backend.recordingController();
            QCOMPARE(recording->location(), documents + QStringLiteral("/Velmar IMU"));
            QSignalSpy started(recording->recorder(), &Recorder::started);
            recording->start();
            QVERIFY(started.wait(5000));
            const QString folder = recording->folder();
            QCOMPARE(QFileInfo(folder).dir().path(), documents + QStringLiteral("/Velmar IMU"));
            QVERIFY(
                QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$"))
                    .match(QFileInfo(folder).fileName())
                    .hasMatch());
            QVERIFY(QFileInfo::exists(folder + QStringLiteral("/raw.velmarec")));
            // The place of the first recording is kept.
            QCOMPARE(AppSettings::open()->value(RecordingController::locationKey).toString(),
                documents + QStringLiteral("/Velmar IMU"));
            // Stopped by the backend going away: the files are closed whole.
        }
        QTemporaryDir elsewhere;
        {
            DurUzaBackend backend;
            QSignalSpy changed(
                backend.recordingController(), &RecordingController::locationChanged);
            backend.recordingController()->setLocation(elsewhere.path());
            QCOMPARE(changed.count(), 1);
        }
        DurUzaBackend backend;
        QCOMPARE(backend.recordingController()->location(), elsewhere.path());
    }

    void aFolderThatCannotBeMadeIsReported()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        DurUzaBackend backend;
        RecordingController *recording = backend.recordingController();
        recording->setLocation(blocker.fileName() + QStringLiteral("/recordings"));
        QSignalSpy error(recording, &RecordingController::errorMessageChanged);
        recording->start();
        QVERIFY(error.wait(5000));
        QVERIFY2(recording->errorMessage().startsWith(
                     QStringLiteral("Cannot create the recording folder \"%1/recordings/")
                         .arg(blocker.fileName())),
            qPrintable(recording->errorMessage()));
        QTRY_COMPARE_WITH_TIMEOUT(recording->state(), QStringLiteral("idle"), 5000);
        // The link no longer feeds a recording; a new start may try again.
        backend.comsHandler()->feedReceived(dataFrame(0x06, QByteArray(34, '\1')));
        QTRY_VERIFY_WITH_TIMEOUT(!backend.quatDataList().isEmpty(), 5000);
        recording->setLocation(dir.path());
        QSignalSpy started(recording->recorder(), &Recorder::started);
        recording->start();
        QVERIFY(recording->errorMessage().isEmpty());
        QVERIFY(started.wait(5000));
    }

    void aFullDiskStopsWithAMessageAndKeepsWhatWasWritten()
    {
        QTemporaryDir dir;
        DurUzaBackend backend;
        RecordingController *recording = backend.recordingController();
        recording->setLocation(dir.path());
        learnRanges(backend, 0x15);
        QTRY_VERIFY_WITH_TIMEOUT(backend.accFullScale() > 0, 5000);

        // Files of this process may grow to 40 kB: the disk is full there.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        rlimit limit {40000, previous.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &previous); });

        QSignalSpy error(recording, &RecordingController::errorMessageChanged);
        QSignalSpy stopped(recording->recorder(), &Recorder::stopped);
        recording->start();
        QRandomGenerator random(3);
        for (int i = 0; i < 400 && error.isEmpty(); ++i) {
            QByteArray chunk;
            for (int f = 0; f < 10; ++f)
                chunk += dataFrame(0x06, randomBytes(random, 34));
            backend.comsHandler()->feedReceived(chunk);
            QTest::qWait(5);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!error.isEmpty(), 10000);
        QVERIFY(stopped.count() == 1 || stopped.wait(5000));
        setrlimit(RLIMIT_FSIZE, &previous);
        QVERIFY2(recording->errorMessage().startsWith(
                     QStringLiteral("Recording stopped: cannot write \""))
                && recording->errorMessage().endsWith(QStringLiteral("File too large")),
            qPrintable(recording->errorMessage()));
        QCOMPARE(recording->state(), QStringLiteral("idle"));

        // Everything before the fault reads back whole.
        const RawRecording raw
            = readRawRecording(recording->folder() + QStringLiteral("/raw.velmarec"));
        QVERIFY2(raw.headerValid && raw.error.isEmpty(), qPrintable(raw.error));
        QVERIFY(!raw.records.isEmpty());
        const QByteArray csv = readAll(recording->folder() + QStringLiteral("/measurements.csv"));
        QVERIFY(csv.startsWith(csvHeaderRow()));
        QVERIFY(csv.endsWith('\n'));
        const int rows = csv.count('\n') - 1;
        QVERIFY(rows > 0);
        for (const QByteArray &line : csv.split('\n').mid(1, rows))
            QCOMPARE(line.count(',') + 1, csvColumnCount());
    }
};

QTEST_GUILESS_MAIN(TestRecordingController)
#include "tst_recordingcontroller.moc"
