// SPDX-License-Identifier: GPL-3.0-or-later
// Recording in the application against the simulated module on a real
// pseudo-terminal: at the line limit every frame the module sent is one CSV
// row (its sequence stamp rides in raw "Gyroscope X"), each row holds what
// the backend decoded, and the raw file replayed through velmar-sim into a
// fresh link and backend decodes to the same values. A lost port leaves a
// note in the recording, which goes on once the data is back.
//
// VELMAR_RECORD_E2E_SECONDS sets the length of the line-limit recording
// (default 10; the full check is 60).

#include "comshandler.h"
#include "durUzaBackend.h"
#include "record.h"
#include "recordingcontroller.h"
#include "recordingcsv.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"
#include "sim.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

constexpr quint8 range = 0x15; // hardware 1442: 40 m/s², 500 deg/s, 8 units
constexpr float gyroFullScale = 500.0f;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value cells of a CSV row (without the time).
QByteArray valueCells(const QByteArray &row)
{
    return row.mid(row.indexOf(',') + 1);
}

int stampOf(const QByteArray &valueCellsText)
{
    const QList<QByteArray> cells = valueCellsText.split(',');
    bool ok = false;
    const double gyroX = cells.value(3).toDouble(&ok); // acc x, y, z, then gyro x
    return ok ? int(std::lround(gyroX * 32768.0 / gyroFullScale)) : -1;
}

// Each sample the backend decodes whole (accelerometer, gyroscope and Euler
// angles in one dispatch), as a CSV row's value cells, by its stamp.
class SampleTaker : public QObject
{
public:
    explicit SampleTaker(DurUzaBackend &backend)
        : m_backend(backend)
    {
        connect(&backend, &DurUzaBackend::accDataListChanged, this, [this] { m_changed |= 1; });
        connect(&backend, &DurUzaBackend::gyroDataListChanged, this, [this] { m_changed |= 2; });
        connect(&backend, &DurUzaBackend::eulerDataListChanged, this, [this] { take(); });
    }
    QHash<int, QByteArray> samples;
    bool taking = true;

private:
    void take()
    {
        const bool whole = m_changed == 3;
        m_changed = 0;
        if (!whole || !taking)
            return;
        MeasurementFrame f;
        f.present = 63;
        auto copy = [](const QVariantList &list, float *out, int n) {
            for (int i = 0; i < n; ++i)
                out[i] = list.value(i).toFloat();
        };
        copy(m_backend.accDataList(), f.acc.data(), 3);
        copy(m_backend.gyroDataList(), f.gyro.data(), 3);
        copy(m_backend.magDataList(), f.mag.data(), 3);
        copy(m_backend.eulerDataList(), f.euler.data(), 3);
        copy(m_backend.quatDataList(), f.quat.data(), 4);
        f.temperature = qobject_cast<RegistryItemModel *>(
            m_backend.registers().value(registerRowAt(RegisterMap::Temperature.address)))
                            ->data()
                            .toDouble();
        const QByteArray cells = valueCells(csvRow(f).trimmed());
        samples.insert(stampOf(cells), cells);
    }

    DurUzaBackend &m_backend;
    unsigned m_changed = 0;
};

bool connectTo(DurUzaBackend &backend, const QString &port)
{
    qputenv("VELMAR_EXTRA_PORTS", port.toLocal8Bit());
    const int index = backend.availablePortsList().indexOf(port);
    if (index < 0)
        return false;
    backend.connectClicked(index);
    return backend.isConnected();
}

// Every sample of a frame the recording holds (stamps first..last; a frame
// cut just before the start is decoded just after it) is the CSV row of its
// stamp; returns how many matched, with how many were compared in `compared`.
int matchSamples(const QHash<int, QByteArray> &samples, const QHash<int, QByteArray> &rows,
    int first, int last, int *compared)
{
    int matched = 0;
    *compared = 0;
    for (auto it = samples.cbegin(); it != samples.cend(); ++it) {
        if (it.key() < first || it.key() > last)
            continue;
        ++*compared;
        if (rows.value(it.key()) == it.value())
            ++matched;
        else
            qWarning("stamp %d: decoded %s, recorded %s", it.key(), it.value().constData(),
                rows.value(it.key()).constData());
    }
    return matched;
}

} // namespace

class TestRecordingEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", m_home.path().toLocal8Bit());
    }

    void atTheLineLimitEveryFrameIsOneRowAndReplaysTheSame()
    {
        const int seconds = qEnvironmentVariableIsSet("VELMAR_RECORD_E2E_SECONDS")
            ? qEnvironmentVariableIntValue("VELMAR_RECORD_E2E_SECONDS")
            : 10;
        QVERIFY(seconds > 0 && seconds <= 100); // stamps wrap after 32767 frames
        QTemporaryDir dir;
        ModuleSimulator::Options options;
        options.streamRate = 1000; // more than the line carries: the line limit
        options.motion = SimMotion::tumbling();
        options.identity.sensorsRange = range;
        ModuleSimulator sim(options);
        QVERIFY(sim.start());

        DurUzaBackend backend;
        SampleTaker taker(backend);
        RecordingController *recording = backend.recordingController();
        recording->setLocation(dir.path());
        QVERIFY(connectTo(backend, sim.slavePath()));
        QTRY_VERIFY_WITH_TIMEOUT(
            backend.gyroFullScale() > 0 && sim.counters().streamFrames > 100, 10000);
        QCOMPARE(backend.gyroFullScale(), gyroFullScale);
        sim.setSequenceStamp(true);
        const quint64 stampedFrom = sim.counters().streamFrames;
        // Frames already on their way carry no stamp; record from the stamped ones on.
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().streamFrames > stampedFrom + 20, 10000);
        taker.samples.clear();

        QSignalSpy started(recording->recorder(), &Recorder::started);
        const quint64 sentAtStart = sim.counters().streamFrames;
        recording->start();
        QVERIFY(started.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(recording->elapsedMs() >= seconds * 1000, (seconds + 20) * 1000);
        const quint64 sentAtStop = sim.counters().streamFrames;
        QSignalSpy stopped(recording->recorder(), &Recorder::stopped);
        recording->stop();
        QVERIFY(stopped.wait(10000));
        taker.taking = false;
        backend.connectClicked(0);
        QVERIFY(recording->errorMessage().isEmpty());

        // One row per frame: stamps follow one another without a gap or a repeat.
        const QString folder = recording->folder();
        const QByteArray csv = readAll(folder + QStringLiteral("/measurements.csv"));
        QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.takeFirst(), csvHeaderRow().trimmed());
        QCOMPARE(lines.takeLast(), QByteArray());
        QHash<int, QByteArray> rows;
        int first = -1;
        int previous = -1;
        for (const QByteArray &line : qAsConst(lines)) {
            const QByteArray cells = valueCells(line);
            QCOMPARE(cells.count(',') + 1, csvColumnCount() - 1);
            QVERIFY2(!cells.contains(",,") && !cells.endsWith(','), line.constData());
            const int stamp = stampOf(cells);
            if (first < 0)
                first = stamp;
            else
                QVERIFY2(stamp == previous + 1,
                    qPrintable(QStringLiteral("stamp %1 after %2").arg(stamp).arg(previous)));
            previous = stamp;
            rows.insert(stamp, cells);
        }
        const quint64 stampedBefore = sentAtStart - stampedFrom;
        const quint64 stampedByStop = sentAtStop - stampedFrom;
        qInfo("%d s: %d rows, stamps %d..%d; the module had sent stamps up to ~%llu at the "
              "start and ~%llu at the stop; %d samples decoded by the backend",
            seconds, int(lines.size()), first, previous, stampedBefore, stampedByStop,
            int(taker.samples.size()));
        // The first row is the first frame after the start, the last the last before the stop
        // (counters read next to the calls; frames on their way in the line either way).
        QVERIFY(qAbs(qint64(first) - qint64(stampedBefore)) <= 30);
        QVERIFY(qAbs(qint64(previous) - qint64(stampedByStop)) <= 30);
        // The stream ran (the rate itself is the benchmark's business: a loaded machine
        // slows the simulator, never the one-row-per-frame rule checked above).
        QVERIFY2(lines.size() >= 25 * seconds, qPrintable(QString::number(lines.size())));
        QCOMPARE(recording->framesWritten(), qint64(lines.size()));

        // What the backend decoded while recording is what the rows hold.
        int compared = 0;
        int matched = matchSamples(taker.samples, rows, first, previous, &compared);
        QCOMPARE(matched, compared);
        // Nearly every recorded frame was also a sample on the charts. Samples from
        // before the first row are left out: each frame is a sample of its own, so
        // how many arrive between the start of taking and the first row depends on
        // the machine's load, not on the recording.
        QVERIFY2(compared >= 5 * seconds && compared >= rows.size() * 9 / 10,
            qPrintable(QStringLiteral("%1 samples compared, %2 rows, %3 samples taken")
                           .arg(compared)
                           .arg(rows.size())
                           .arg(taker.samples.size())));

        // The raw file converts offline, through the backend, to the same CSV.
        const QString raw = folder + QStringLiteral("/raw.velmarec");
        const QString offline = dir.filePath(QStringLiteral("offline.csv"));
        const RecordingCsvResult converted = convertRecordingToCsv(raw, offline);
        QVERIFY2(converted.ok, qPrintable(converted.error));
        QCOMPARE(readAll(offline), csv);

        // Replayed into a fresh link and backend, it decodes to the same values.
        QProcess replay;
        replay.start(QStringLiteral(VELMAR_SIM_EXE),
            {QStringLiteral("--replay"), raw, QStringLiteral("--speed"), QStringLiteral("4")});
        QVERIFY(replay.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(replay.canReadLine(), 10000);
        const QString device = QString::fromLocal8Bit(replay.readLine()).trimmed();
        DurUzaBackend replayed;
        SampleTaker replayTaker(replayed);
        QVERIFY(connectTo(replayed, device));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += replay.readAllStandardOutput()).contains("end of recording"),
            (seconds + 20) * 1000);
        // The session was clean, and so is its replay: no noise byte, no status
        // message and no header the link could not have asked for. The bytes
        // played last may still be on their way.
        LinkCounters replayCounters;
        QTRY_VERIFY_WITH_TIMEOUT(
            (replayCounters = replayed.comsHandler()->linkCounters()).pendingBytes == 0, 5000);
        qInfo("replay: %llu bytes, %llu frames, %llu noise bytes, %llu status messages, %llu "
              "headers rejected, %llu cut frames",
            replayCounters.bytesReceived, replayCounters.frames, replayCounters.noiseBytes,
            replayCounters.statusMessages, replayCounters.rejectedHeaders,
            replayCounters.cutFrames);
        QCOMPARE(replayCounters.noiseBytes, quint64(0));
        QCOMPARE(replayCounters.statusMessages, quint64(0));
        QCOMPARE(replayCounters.rejectedHeaders, quint64(0));
        replayed.connectClicked(0);
        replay.terminate();
        QVERIFY(replay.waitForFinished(10000));
        qInfo("replay: %d samples decoded", int(replayTaker.samples.size()));
        matched = matchSamples(replayTaker.samples, rows, first, previous, &compared);
        QCOMPARE(matched, compared);
        QCOMPARE(compared, replayTaker.samples.size());
        QVERIFY(compared >= 5 * seconds);
    }

    // Noise shaped as frame headers, raw noise with 0xBB and 0xEE, and frames
    // cut short, through the application's own recording: the raw file
    // converted offline is the live CSV byte for byte, the noise judged by
    // the rules the live link used.
    void noisyLineConvertsOfflineToTheLiveCsv()
    {
        QTemporaryDir dir;
        ModuleSimulator::Options options;
        options.streamRate = 200;
        options.motion = SimMotion::tumbling();
        options.identity.sensorsRange = range;
        options.faults.headerNoiseChance = 0.2;
        options.faults.noiseChance = 0.1;
        options.faults.rawNoise = true;
        options.faults.cutChance = 0.02;
        options.faults.seed = 11;
        ModuleSimulator sim(options);
        QVERIFY(sim.start());

        DurUzaBackend backend;
        RecordingController *recording = backend.recordingController();
        recording->setLocation(dir.path());
        QVERIFY(connectTo(backend, sim.slavePath()));
        QTRY_VERIFY_WITH_TIMEOUT(backend.gyroFullScale() > 0, 10000);
        QSignalSpy started(recording->recorder(), &Recorder::started);
        recording->start();
        QVERIFY(started.wait(5000));
        // The map is read again and the stream switched on again while
        // recording: answers the cutter awaits, and a mode change, among the noise.
        backend.requestChartData();
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() >= 300, 20000);
        QSignalSpy stopped(recording->recorder(), &Recorder::stopped);
        recording->stop();
        QVERIFY(stopped.wait(10000));
        const LinkCounters live = backend.comsHandler()->linkCounters();
        backend.connectClicked(0);
        QVERIFY(recording->errorMessage().isEmpty());
        const SimCounters sent = sim.counters();
        qInfo("sent %llu header-shaped noises, %llu noise bytes, %llu cut frames; the live link "
              "rejected %llu headers",
            sent.headerNoise, sent.noiseBytes, sent.cutFrames, live.rejectedHeaders);
        QVERIFY(sent.headerNoise > 0 && live.rejectedHeaders > 0);

        const QString folder = recording->folder();
        const QByteArray csv = readAll(folder + QStringLiteral("/measurements.csv"));
        const QString offline = dir.filePath(QStringLiteral("offline.csv"));
        const RecordingCsvResult converted
            = convertRecordingToCsv(folder + QStringLiteral("/raw.velmarec"), offline);
        QVERIFY2(converted.ok, qPrintable(converted.error));
        const QByteArray again = readAll(offline);
        QCOMPARE(qint64(again.count('\n')), qint64(csv.count('\n')));
        QVERIFY(again == csv);
    }

    void aLostPortLeavesANoteAndTheRecordingGoesOn()
    {
        QTemporaryDir dir;
        ModuleSimulator::Options options;
        options.streamRate = 100;
        options.linkPath = dir.filePath(QStringLiteral("imu"));
        options.identity.sensorsRange = range;
        ModuleSimulator sim(options);
        QVERIFY(sim.start());
        DurUzaBackend backend;
        RecordingController *recording = backend.recordingController();
        recording->setLocation(dir.filePath(QStringLiteral("recordings")));
        QVERIFY(connectTo(backend, sim.linkPath()));
        QTRY_VERIFY_WITH_TIMEOUT(backend.gyroFullScale() > 0, 10000);

        QSignalSpy started(recording->recorder(), &Recorder::started);
        recording->start();
        QVERIFY(started.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() >= 100, 10000);

        QSignalSpy lost(&backend, &DurUzaBackend::connectionError);
        sim.unplug();
        QVERIFY(lost.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(recording->waitingForData(), 5000);
        QVERIFY(recording->isRecording());
        QCOMPARE(recording->state(), QStringLiteral("recording"));
        const qint64 framesBefore = recording->framesWritten();

        // The user connects again once the module is back.
        sim.replug();
        QVERIFY(connectTo(backend, sim.linkPath()));
        QTRY_VERIFY_WITH_TIMEOUT(!recording->waitingForData(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() >= framesBefore + 100, 10000);
        QSignalSpy stopped(recording->recorder(), &Recorder::stopped);
        recording->stop();
        QVERIFY(stopped.wait(10000));
        backend.connectClicked(0);
        QVERIFY(recording->errorMessage().isEmpty());

        // Notes in order: lost, opened again, data back; chunks on both sides.
        const RawRecording raw
            = readRawRecording(recording->folder() + QStringLiteral("/raw.velmarec"));
        QVERIFY2(raw.headerValid && raw.error.isEmpty(), qPrintable(raw.error));
        QStringList notes;
        int chunksBefore = 0;
        int chunksAfter = 0;
        qint64 lostAt = -1;
        qint64 resumedAt = -1;
        qint64 previous = 0;
        for (const RawRecord &record : raw.records) {
            QVERIFY(record.timeUs >= previous);
            previous = record.timeUs;
            if (record.type == RawRecordType::Note) {
                notes << QString::fromUtf8(record.payload);
                if (notes.size() == 1)
                    lostAt = record.timeUs;
                if (notes.last() == QLatin1String("data resumed"))
                    resumedAt = record.timeUs;
            } else {
                ++(notes.isEmpty() ? chunksBefore : chunksAfter);
            }
        }
        QCOMPARE(notes.size(), 3);
        QVERIFY2(notes[0].startsWith(QStringLiteral("port vanished: %1: ").arg(sim.linkPath())),
            qPrintable(notes[0]));
        QCOMPARE(notes[1], QStringLiteral("port opened: %1").arg(sim.linkPath()));
        QCOMPARE(notes[2], QStringLiteral("data resumed"));
        QVERIFY(chunksBefore > 0 && chunksAfter > 0);

        // Rows on both sides of the gap, none inside it.
        const QList<QByteArray> lines
            = readAll(recording->folder() + QStringLiteral("/measurements.csv")).split('\n').mid(1);
        int rowsBefore = 0;
        int rowsAfter = 0;
        for (const QByteArray &line : lines) {
            if (line.isEmpty())
                continue;
            const qint64 us = std::llround(line.left(line.indexOf(',')).toDouble() * 1e6);
            QVERIFY(us <= lostAt || us >= resumedAt);
            ++(us <= lostAt ? rowsBefore : rowsAfter);
        }
        QVERIFY(rowsBefore >= 100 && rowsAfter >= 100);
        QCOMPARE(qint64(rowsBefore + rowsAfter), recording->framesWritten());
    }
};

QTEST_GUILESS_MAIN(TestRecordingEndToEnd)
#include "tst_recording_e2e.moc"
