// SPDX-License-Identifier: GPL-3.0-or-later
// The Recorder on its writing thread: order, flushing, and the fault cases.
#include "record.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <thread>

namespace {

RecordingInfo info()
{
    RecordingInfo i;
    i.deviceId = 7;
    i.hardwareVersion = 1442;
    i.softwareVersion = 12;
    i.sensorsRange = 0x00;
    i.accFullScale = 20.0f;
    i.gyroFullScale = 250.0f;
    i.magFullScale = 2.0f;
    return i;
}

// Chunk and frame number n carry n in every value, so that a reader can tell
// that nothing was lost, doubled or reordered.
QByteArray chunk(int n)
{
    QByteArray bytes(1 + n % 80, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((n * 31 + i) & 0xFF);
    return bytes;
}

MeasurementFrame frame(int n)
{
    MeasurementFrame f;
    f.timeUs = qint64(n) * 3333;
    f.present = n % 7 == 0 ? unsigned(MeasurementFrame::Gyro) : 63u;
    for (auto *a : {&f.acc, &f.gyro, &f.mag, &f.euler})
        for (int i = 0; i < 3; ++i)
            (*a)[i] = float(n) + 0.25f * i;
    for (int i = 0; i < 4; ++i)
        f.quat[i] = float(n) / 1000.0f + i;
    f.temperature = n / 100.0;
    return f;
}

QList<QByteArray> csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    if (!all.endsWith('\n'))
        return {"not ending with a newline"};
    QList<QByteArray> lines = all.split('\n');
    lines.removeLast();
    return lines;
}

// The CSV holds its header and then rows 0 … count-1 of frame(n), whole.
void checkCsv(const QString &path, int count)
{
    const QList<QByteArray> lines = csvLines(path);
    QCOMPARE(lines.size(), count + 1);
    QCOMPARE(lines.first() + '\n', csvHeaderRow());
    for (int n = 0; n < count; ++n)
        QCOMPARE(lines[n + 1] + '\n', csvRow(frame(n)));
}

// The raw file holds chunk(0) … chunk(count-1), whole and in order.
void checkRaw(const RawRecording &raw, int count)
{
    QVERIFY2(raw.error.isEmpty(), qPrintable(raw.error));
    QCOMPARE(raw.records.size(), count);
    for (int n = 0; n < count; ++n) {
        QCOMPARE(int(raw.records[n].type), int(RawRecordType::Chunk));
        QCOMPARE(raw.records[n].timeUs, qint64(n) * 1000);
        QCOMPARE(raw.records[n].payload, chunk(n));
    }
}

// Child mode: record into argv[2] under a file-size limit of argv[3] bytes
// until the limit stops the recording; print the message and the counts.
int fileSizeLimitChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGXFSZ, SIG_IGN); // so that write() fails with EFBIG instead
    rlimit limit {rlim_t(QByteArray(argv[3]).toLongLong()), RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 2;
    Recorder recorder;
    int n = 0;
    QTimer feed;
    feed.setInterval(5);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        for (int i = 0; i < 50; ++i, ++n) {
            recorder.appendChunk(qint64(n) * 1000, chunk(n));
            recorder.appendFrame(frame(n));
        }
    });
    QObject::connect(&recorder, &Recorder::started, &feed, qOverload<>(&QTimer::start));
    QObject::connect(&recorder, &Recorder::failed,
        [](const QString &message) { QTextStream(stdout) << "FAILED " << message << "\n"; });
    QObject::connect(&recorder, &Recorder::stopped, &app, [&] {
        QTextStream(stdout) << "FRAMES " << recorder.framesWritten() << "\n";
        app.exit(recorder.errorString().isEmpty() ? 3 : 0);
    });
    // Should the limit never bite, stop after plenty of data.
    QTimer::singleShot(20000, &recorder, &Recorder::stop);
    recorder.start(QString::fromLocal8Bit(argv[2]), info(), QStringLiteral("rec"));
    return app.exec();
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

private slots:
    void everythingAppendedArrivesInOrder()
    {
        QTemporaryDir base;
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        const QString folder = recorder.start(base.path(), info());
        QVERIFY(recorder.isRecording());
        QCOMPARE(QFileInfo(folder).dir().path(), base.path());
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$")
                     .match(QFileInfo(folder).fileName())
                     .hasMatch(),
            qPrintable(folder));
        QVERIFY(started.wait(10000));
        QCOMPARE(started.first().first().toString(), folder);

        // Chunks and notes from another thread (like the serial worker),
        // frames from this one, both while the writer drains.
        const int count = 5000;
        std::thread producer([&recorder] {
            for (int n = 0; n < count; ++n) {
                recorder.appendChunk(qint64(n) * 1000, chunk(n));
                if (n == count / 2)
                    recorder.noteGap(QStringLiteral("port vanished"));
            }
        });
        for (int n = 0; n < count; ++n)
            recorder.appendFrame(frame(n));
        producer.join();
        recorder.stop();
        QVERIFY(stopped.wait(10000));
        QVERIFY(!recorder.isRecording());
        QCOMPARE(recorder.framesWritten(), qint64(count));
        QVERIFY(recorder.errorString().isEmpty());

        RawRecording raw = readRawRecording(folder + "/" + Recorder::rawFileName);
        QVERIFY2(raw.error.isEmpty(), qPrintable(raw.error));
        QCOMPARE(raw.info.hardwareVersion, quint16(1442));
        QCOMPARE(raw.info.gyroFullScale, 250.0f);
        QVERIFY(qAbs(raw.info.startUtc.secsTo(QDateTime::currentDateTimeUtc())) < 600);
        QCOMPARE(raw.records.size(), count + 1);
        const RawRecord note = raw.records.takeAt(count / 2 + 1);
        QCOMPARE(int(note.type), int(RawRecordType::Note));
        QCOMPARE(note.payload, QByteArray("port vanished"));
        checkRaw(raw, count);
        checkCsv(folder + "/" + Recorder::csvFileName, count);
        const qint64 onDisk = QFileInfo(folder + "/" + Recorder::rawFileName).size()
            + QFileInfo(folder + "/" + Recorder::csvFileName).size();
        QCOMPARE(recorder.bytesOnDisk(), onDisk);
    }

    void dataIsOnDiskWhileRecording()
    {
        // Another handle sees everything appended without a stop: what a
        // crash would leave behind.
        QTemporaryDir base;
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        const QString folder = recorder.start(base.path(), info());
        QVERIFY(started.wait(10000));
        const int count = 300;
        for (int n = 0; n < count; ++n) {
            recorder.appendChunk(qint64(n) * 1000, chunk(n));
            recorder.appendFrame(frame(n));
        }
        QSignalSpy status(&recorder, &Recorder::statusChanged);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.framesWritten(), qint64(count), 10000);
        QVERIFY(recorder.isRecording());
        QVERIFY(recorder.elapsedMs() > 0);
        checkRaw(readRawRecording(folder + "/" + Recorder::rawFileName), count);
        checkCsv(folder + "/" + Recorder::csvFileName, count);
        // And the status keeps coming while nothing is appended.
        const int seen = status.count();
        QTRY_VERIFY_WITH_TIMEOUT(status.count() > seen, 10000);
    }

    void secondRecordingInTheSameSecondGetsItsOwnFolder()
    {
        QTemporaryDir base;
        Recorder recorder;
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        const QString first = recorder.start(base.path(), info());
        QCOMPARE(recorder.start(base.path(), info()), QString()); // one at a time
        recorder.stop();
        QVERIFY(stopped.wait(10000));
        QVERIFY(QFileInfo::exists(first + "/" + Recorder::rawFileName));
        const QString second = recorder.start(base.path(), info());
        QVERIFY(!second.isEmpty());
        QVERIFY(second != first);
        recorder.stop();
        QVERIFY(stopped.wait(10000));
        QVERIFY(QFileInfo::exists(second + "/" + Recorder::csvFileName));
    }

    void folderThatCannotBeCreatedGivesAClearError()
    {
        QTemporaryDir base;
        QFile plain(base.filePath("plain-file"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        Recorder recorder;
        QSignalSpy failed(&recorder, &Recorder::failed);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        recorder.start(plain.fileName(), info());
        recorder.appendChunk("ignored");
        QVERIFY(stopped.wait(10000));
        QCOMPARE(failed.count(), 1);
        const QString message = failed.first().first().toString();
        QVERIFY2(message.startsWith("Cannot create the recording folder"), qPrintable(message));
        QVERIFY2(message.contains("plain-file"), qPrintable(message));
        QCOMPARE(recorder.errorString(), message);
        QVERIFY(!recorder.isRecording());
    }

    void existingRecordingIsNeverOverwritten()
    {
        QTemporaryDir base;
        QVERIFY(QDir(base.path()).mkpath("rec"));
        QFile old(base.filePath(QStringLiteral("rec/") + Recorder::rawFileName));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("precious");
        old.close();
        Recorder recorder;
        QSignalSpy failed(&recorder, &Recorder::failed);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        recorder.start(base.path(), info(), "rec");
        QVERIFY(stopped.wait(10000));
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.first().first().toString().contains("already holds a recording"),
            qPrintable(failed.first().first().toString()));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("precious"));
    }

    void fullDiskStopsWithAnErrorAndKeepsWholeRecords_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("limit hit by the first rows") << 4096;
        QTest::newRow("limit hit later") << 200000;
    }
    void fullDiskStopsWithAnErrorAndKeepsWholeRecords()
    {
        QFETCH(int, limit);
        QTemporaryDir base;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
            {"--file-size-limit-child", base.path(), QString::number(limit)});
        QVERIFY(child.waitForFinished(60000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(out.count("FAILED "), 1);
        QVERIFY2(out.contains("Recording stopped: cannot write"), qPrintable(out));
        QVERIFY2(out.contains("File too large"), qPrintable(out));
        const qint64 frames
            = QRegularExpression("FRAMES (\\d+)").match(out).captured(1).toLongLong();

        // Both files read back whole: the one that hit the limit was cut back
        // to its last whole record, the other one was closed cleanly.
        const QString folder = base.filePath("rec");
        const RawRecording raw = readRawRecording(folder + "/" + Recorder::rawFileName);
        QVERIFY(raw.headerValid);
        QVERIFY(QFileInfo(folder + "/" + Recorder::rawFileName).size() <= limit);
        checkRaw(raw, raw.records.size());
        checkCsv(folder + "/" + Recorder::csvFileName, int(frames));
        QVERIFY(QFileInfo(folder + "/" + Recorder::csvFileName).size() <= limit);
        if (limit > 100000)
            QVERIFY2(frames > 100 && raw.records.size() > 100, qPrintable(out));
    }

    void fullFilesystemStopsWithAnErrorAndKeepsWholeRecords()
    {
        QTemporaryDir base;
        const QString mountPoint = base.filePath("small");
        QVERIFY(QDir(base.path()).mkdir("small"));
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit
            || mount.exitCode() != 0)
            QSKIP("cannot mount a small tmpfs here (needs root); the file-size limit case "
                  "covers the same path");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint}); });

        Recorder recorder;
        QSignalSpy failed(&recorder, &Recorder::failed);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        int n = 0;
        QTimer feed;
        feed.setInterval(5);
        connect(&feed, &QTimer::timeout, this, [&] {
            for (int i = 0; i < 50; ++i, ++n) {
                recorder.appendChunk(qint64(n) * 1000, chunk(n));
                recorder.appendFrame(frame(n));
            }
        });
        connect(&recorder, &Recorder::started, &feed, qOverload<>(&QTimer::start));
        recorder.start(mountPoint, info(), "rec");
        QVERIFY(stopped.wait(30000));
        feed.stop();
        QCOMPARE(failed.count(), 1);
        const QString message = failed.first().first().toString();
        QVERIFY2(message.startsWith("Recording stopped: cannot write"), qPrintable(message));
        QVERIFY2(message.contains("No space left on device"), qPrintable(message));

        const QString folder = mountPoint + "/rec";
        const RawRecording raw = readRawRecording(folder + "/" + Recorder::rawFileName);
        QVERIFY(raw.headerValid);
        checkRaw(raw, raw.records.size());
        checkCsv(folder + "/" + Recorder::csvFileName, int(recorder.framesWritten()));
        // The raw log is written first in each pass, so on a loaded machine a
        // large first pass can fill the disk before any CSV row; the raw log
        // always keeps its whole records up to the fault.
        QVERIFY2(raw.records.size() > 50, qPrintable(QString::number(raw.records.size())));
    }

    void destroyingTheRecorderClosesTheFilesWhole()
    {
        QTemporaryDir base;
        QString folder;
        {
            Recorder recorder;
            QSignalSpy started(&recorder, &Recorder::started);
            folder = recorder.start(base.path(), info());
            QVERIFY(started.wait(10000));
            for (int n = 0; n < 1000; ++n) {
                recorder.appendChunk(qint64(n) * 1000, chunk(n));
                recorder.appendFrame(frame(n));
            }
        }
        checkRaw(readRawRecording(folder + "/" + Recorder::rawFileName), 1000);
        checkCsv(folder + "/" + Recorder::csvFileName, 1000);
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--file-size-limit-child") == 0)
        return fileSizeLimitChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestRecorder test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recorder.moc"
