// SPDX-License-Identifier: GPL-3.0-or-later
// Raw recordings read as streams of samples: the CSV conversion gives the same
// bytes as before, damage ends the stream where it starts, and a recording
// that holds what the live link knew is cut by the live rules.

#include "comsprotocol.h"
#include "csvtext.h"
#include "outputline.h"
#include "recordingcsv.h"
#include "recordingdecoder.h"
#include "simmodule.h"

#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString dataPath(const QString &name)
{
    return QStringLiteral(VELMAR_DECODE_DATA "/") + name;
}

// A session as the live link sees it: a module streaming every measurement
// through a noisy line, a read of "Sensors Range" answered mid-stream after
// the range changed, the cutter told every request and tapped as the recorder
// taps it. `live` gets the rows the live recording writes.
struct LiveSession
{
    QByteArray raw; // the raw recording the recorder writes
    QByteArray rawWithoutLinkState; // the same without requests and connection records
    QList<QByteArray> live; // CSV rows of the live recording
    quint64 rejected = 0; // headers the live cutter judged to be noise
};

LiveSession liveSession(const SimFaults &faults, int frames)
{
    LiveSession session;
    SimIdentity identity;
    identity.sensorsRange = 0x15;
    SimModule module(identity);
    module.sensors().setMotion(SimMotion::tumbling(), 0);
    OutputLine line(11520);
    line.setFaults(faults);

    ComsProtocol protocol;
    protocol.beginConnection();
    const QByteArray whole = readRequest(RegisterMap::Whole);
    protocol.noteRequestSent(whole);
    const QByteArray map = module.answerRead(0, RegisterMap::Size, 0);
    protocol.appendReceived(map, steadyNowNs());
    protocol.extractFrames();
    const quint8 streamAll = RegisterMap::StreamingAll;
    protocol.noteRequestSent(writeRequest(RegisterMap::Control1.address, &streamAll, 1));
    module.applyWrite(SimModule::control1Address, QByteArray(1, char(streamAll)));

    decode::ModuleDecoder decoder;
    decoder.setHardwareVersion(1442);
    decoder.applyRange(0x15);
    std::array<quint8, RegisterMap::Size> image;
    std::copy_n(protocol.registerImage(), RegisterMap::Size, image.begin());
    decoder.setImage(image);

    RecordingInfo info;
    info.hardwareVersion = 1442;
    info.sensorsRange = 0x15;
    info.accFullScale = decoder.fullScales().acc;
    info.gyroFullScale = decoder.fullScales().gyro;
    info.magFullScale = decoder.fullScales().mag;
    session.raw = encodeRawHeader(info);
    session.rawWithoutLinkState = session.raw;

    const qint64 startNs = steadyNowNs();
    protocol.setTapping(true, startNs);
    qint64 lastUs = 0;
    auto drain = [&] {
        ReceiveTapBatch batch = protocol.takeTapped();
        for (const TappedChunk &chunk : batch.chunks) {
            lastUs = std::max(lastUs, (chunk.receivedNs - startNs) / 1000);
            const RawRecordType type = chunk.kind == TappedChunk::Kind::Request
                ? RawRecordType::Request
                : chunk.kind == TappedChunk::Kind::Connection ? RawRecordType::Connection
                                                              : RawRecordType::Chunk;
            session.raw += encodeRawRecord(type, lastUs, chunk.bytes);
            if (type == RawRecordType::Chunk)
                session.rawWithoutLinkState += encodeRawRecord(type, lastUs, chunk.bytes);
        }
        MeasurementFrame row;
        for (const TappedFrame &frame : batch.frames) {
            if (!decoder.decodeFrame(frame.address,
                    reinterpret_cast<const quint8 *>(frame.data.constData()), frame.data.size(),
                    &row))
                continue;
            row.timeUs = std::max<qint64>(0, (frame.receivedNs - startNs) / 1000);
            session.live.append(csvRow(row));
        }
    };

    double t = 0;
    for (int i = 0; i < frames; ++i) {
        if (i == frames / 2) {
            // The range changes and is read back: its answer is awaited.
            module.applyWrite(SimModule::rangeAddress, QByteArray(1, char(0x2A)));
            protocol.noteRequestSent(readRequest(RegisterMap::SensorsRange));
            line.enqueueFrame(module.answerRead(RegisterMap::SensorsRange.address, 1, t),
                OutputLine::Kind::Answer);
        }
        line.enqueueFrame(module.streamFrame(0.01 * (i + 1), i + 1), OutputLine::Kind::Stream);
        while (!line.isEmpty()) {
            t = std::max(t, line.nextSendTime());
            const QByteArray bytes = line.front().bytes;
            line.consumed(bytes.size(), t, nullptr);
            protocol.appendReceived(bytes, steadyNowNs());
            protocol.extractFrames();
        }
        drain();
    }
    drain();
    session.rejected = protocol.rejectedHeaders();
    return session;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QList<QByteArray> rowsOf(const QByteArray &csv)
{
    QList<QByteArray> rows = csv.split('\n');
    rows.removeFirst(); // the header
    if (!rows.isEmpty() && rows.last().isEmpty())
        rows.removeLast();
    for (QByteArray &row : rows)
        row += '\n';
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(SimFaults)

class TestRecordingDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Recordings of the first format version, converted before decoding left
    // the backend: clean, noisy (header-shaped and raw noise, status
    // messages, split frames), cut frames, and a range change mid-stream.
    void conversionGivesTheSameCsvAsBefore_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("clean") << "clean";
        QTest::newRow("noisy") << "noisy";
        QTest::newRow("cut") << "cut";
        QTest::newRow("range change") << "rangechange";
    }

    void conversionGivesTheSameCsvAsBefore()
    {
        QFETCH(QString, name);
        const QString csv = m_dir.filePath(name + QStringLiteral(".csv"));
        const RecordingCsvResult result
            = convertRecordingToCsv(dataPath(name + QStringLiteral(".velmarec")), csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        const QByteArray golden = fileBytes(dataPath(name + QStringLiteral(".csv")));
        QVERIFY(!golden.isEmpty());
        const QByteArray got = fileBytes(csv);
        if (got != golden) {
            const QList<QByteArray> a = rowsOf(got), b = rowsOf(golden);
            for (int i = 0; i < std::min(a.size(), b.size()); ++i)
                QVERIFY2(a[i] == b[i],
                    qPrintable(QStringLiteral("row %1: %2 instead of %3")
                                   .arg(i + 1)
                                   .arg(QString::fromLatin1(a[i]), QString::fromLatin1(b[i]))));
            QCOMPARE(a.size(), b.size());
        }
        QCOMPARE(result.rows, qint64(rowsOf(golden).size()));
    }

    // The streaming reader: one by one or in batches, the same samples, in
    // time order, and the rows of the conversion.
    void samplesOneByOneAndInBatchesAgree()
    {
        decode::RecordingDecoder single;
        QVERIFY2(single.open(dataPath(QStringLiteral("rangechange.velmarec"))),
            qPrintable(single.error()));
        QCOMPARE(int(single.info().hardwareVersion), 1442);
        std::vector<MeasurementFrame> one;
        MeasurementFrame sample;
        while (single.next(&sample))
            one.push_back(sample);
        QVERIFY(single.error().isEmpty());

        decode::RecordingDecoder batched;
        QVERIFY(batched.open(dataPath(QStringLiteral("rangechange.velmarec"))));
        std::vector<MeasurementFrame> many(64);
        QList<QByteArray> rows;
        qint64 previous = -1;
        for (;;) {
            const int n = batched.read(many.data(), int(many.size()));
            for (int i = 0; i < n; ++i) {
                QVERIFY(many[std::size_t(i)].timeUs >= previous);
                previous = many[std::size_t(i)].timeUs;
                rows.append(csvRow(many[std::size_t(i)]));
            }
            if (n < int(many.size()))
                break;
        }
        QCOMPARE(rows.size(), int(one.size()));
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i], csvRow(one[std::size_t(i)]));
        QCOMPARE(rows, rowsOf(fileBytes(dataPath(QStringLiteral("rangechange.csv")))));
        QCOMPARE(batched.frames(), single.frames());
        QVERIFY(!batched.hasLinkState());
    }

    // A damaged or cut tail: everything before it decodes, then the reason.
    void damageEndsTheStreamWhereItStarts_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QString>("reason");
        const QByteArray record = encodeRawRecord(
            RawRecordType::Chunk, 99999999, QByteArray::fromHex("bb0622") + QByteArray(34, 1));
        QTest::newRow("cut record") << record.left(30) << "ends in the middle of a record";
        QByteArray flipped = record;
        flipped[20] = char(flipped[20] ^ 0x10);
        QTest::newRow("checksum") << flipped << "checksum mismatch";
        QTest::newRow("not a record") << QByteArray(20, char(0x7F)) << "not a record";
    }

    void damageEndsTheStreamWhereItStarts()
    {
        QFETCH(QByteArray, tail);
        QFETCH(QString, reason);
        const QByteArray clean = fileBytes(dataPath(QStringLiteral("clean.velmarec")));
        const QString raw = m_dir.filePath(QStringLiteral("damaged.velmarec"));
        QVERIFY(writeFile(raw, clean + tail));
        const QString csv = m_dir.filePath(QStringLiteral("damaged.csv"));
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
        QVERIFY2(result.error.contains(QString::number(clean.size())), qPrintable(result.error));
        QCOMPARE(fileBytes(csv), fileBytes(dataPath(QStringLiteral("clean.csv"))));
    }

    // What the live link knew is recorded with the bytes, so the CSV made
    // offline equals the live one on a noisy line; without it, the offline
    // cutter takes the noise the live one rejected.
    void offlineEqualsLiveOnANoisyLine_data()
    {
        QTest::addColumn<SimFaults>("faults");
        SimFaults headers;
        headers.headerNoiseChance = 0.3;
        headers.seed = 21;
        QTest::newRow("header-shaped noise") << headers;
        SimFaults raw;
        raw.noiseChance = 0.5;
        raw.rawNoise = true;
        raw.statusChance = 0.1;
        raw.seed = 22;
        QTest::newRow("raw noise and status messages") << raw;
        SimFaults cut;
        cut.cutChance = 0.1;
        cut.headerNoiseChance = 0.1;
        cut.seed = 23;
        QTest::newRow("cut frames") << cut;
    }

    void offlineEqualsLiveOnANoisyLine()
    {
        QFETCH(SimFaults, faults);
        const LiveSession session = liveSession(faults, 300);
        QVERIFY(session.rejected > 0);
        QVERIFY(session.live.size() > 200);

        const QString raw = m_dir.filePath(QStringLiteral("live.velmarec"));
        QVERIFY(writeFile(raw, session.raw));
        const QString csv = m_dir.filePath(QStringLiteral("live.csv"));
        const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        const QList<QByteArray> offline = rowsOf(fileBytes(csv));
        for (int i = 0; i < std::min(offline.size(), session.live.size()); ++i)
            QVERIFY2(offline[i] == session.live[i],
                qPrintable(QStringLiteral("row %1 offline: %2 live: %3")
                               .arg(i + 1)
                               .arg(QString::fromLatin1(offline[i]),
                                   QString::fromLatin1(session.live[i]))));
        QCOMPARE(offline.size(), session.live.size());

        // The fault this guards against: the same bytes without the link's
        // knowledge give another CSV.
        const QString bare = m_dir.filePath(QStringLiteral("bare.velmarec"));
        QVERIFY(writeFile(bare, session.rawWithoutLinkState));
        const QString bareCsv = m_dir.filePath(QStringLiteral("bare.csv"));
        QVERIFY(convertRecordingToCsv(bare, bareCsv).ok);
        QVERIFY(rowsOf(fileBytes(bareCsv)) != session.live);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestRecordingDecoder)
#include "tst_recordingdecoder.moc"
