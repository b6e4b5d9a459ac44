// SPDX-License-Identifier: GPL-3.0-or-later
// The raw recording format and the CSV rows, without the writing thread.
#include "record.h"

#include <QBuffer>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

RecordingInfo sampleInfo()
{
    RecordingInfo info;
    info.deviceId = 0x5A;
    info.hardwareVersion = 2542;
    info.softwareVersion = 0x0103;
    info.sensorsRange = 0x1C;
    info.accFullScale = 240.0f;
    info.gyroFullScale = 2000.0f;
    info.magFullScale = 8.0f;
    info.startUtc = QDateTime(QDate(2026, 12, 8), QTime(4, 35, 17, 123), Qt::UTC);
    return info;
}

// Chunks of random sizes (including empty ones) with a note now and then.
QVector<RawRecord> randomRecords(quint32 seed, int count)
{
    QRandomGenerator rng(seed);
    QVector<RawRecord> records;
    qint64 t = 0;
    for (int i = 0; i < count; ++i) {
        RawRecord r;
        t += rng.bounded(5000);
        r.timeUs = t;
        if (rng.bounded(10) == 0) {
            r.type = RawRecordType::Note;
            r.payload = QStringLiteral("port vanished at %1 µs").arg(t).toUtf8();
        } else {
            r.payload.resize(int(rng.bounded(300)));
            for (char &c : r.payload)
                c = char(rng.bounded(256));
        }
        records.append(r);
    }
    return records;
}

QByteArray encodeFile(
    const RecordingInfo &info, const QVector<RawRecord> &records, QVector<int> *ends = nullptr)
{
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    RawRecordWriter writer(&buffer);
    if (!writer.writeHeader(info))
        return {};
    for (const RawRecord &r : records) {
        const bool ok = r.type == RawRecordType::Note
            ? writer.writeNote(r.timeUs, QString::fromUtf8(r.payload))
            : writer.writeChunk(r.timeUs, r.payload);
        if (!ok)
            return {};
        if (ends)
            ends->append(file.size());
    }
    return file;
}

RawRecording readBytes(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readRawRecording(&buffer);
}

void compareRecords(const QVector<RawRecord> &got, const QVector<RawRecord> &expected, int count)
{
    QCOMPARE(got.size(), count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(int(got[i].type), int(expected[i].type));
        QCOMPARE(got[i].timeUs, expected[i].timeUs);
        QCOMPARE(got[i].payload, expected[i].payload);
    }
}

MeasurementFrame randomFrame(QRandomGenerator &rng, unsigned present)
{
    // Random bit patterns that are finite floats: every digit matters.
    auto value = [&rng] {
        for (;;) {
            const quint32 bits = rng.generate();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            if (std::isfinite(f))
                return f;
        }
    };
    MeasurementFrame f;
    f.timeUs = qint64(rng.bounded(1u << 30)) * 7;
    f.present = present;
    for (auto *a : {&f.acc, &f.gyro, &f.mag, &f.euler})
        for (float &v : *a)
            v = value();
    for (float &v : f.quat)
        v = value();
    f.temperature = rng.generateDouble() * 200.0 - 50.0;
    return f;
}

QList<QByteArray> cells(const QByteArray &line)
{
    return line.split(',');
}

// Parses one CSV row back and checks it against the frame it came from.
void checkRowMatches(const QByteArray &row, const MeasurementFrame &frame)
{
    QVERIFY(row.endsWith('\n'));
    const QList<QByteArray> c = cells(row.chopped(1));
    QCOMPARE(c.size(), csvColumnCount());
    bool ok = false;
    QCOMPARE(qint64(std::llround(c[0].toDouble(&ok) * 1e6)), frame.timeUs);
    QVERIFY(ok);
    int column = 1;
    auto check = [&](unsigned field, const float *values, int n) {
        for (int i = 0; i < n; ++i, ++column) {
            if (!(frame.present & field)) {
                QVERIFY2(c[column].isEmpty(), c[column].constData());
                continue;
            }
            const float parsed = c[column].toFloat(&ok);
            QVERIFY2(ok, c[column].constData());
            QCOMPARE(parsed, values[i]);
        }
    };
    check(MeasurementFrame::Acc, frame.acc.data(), 3);
    check(MeasurementFrame::Gyro, frame.gyro.data(), 3);
    check(MeasurementFrame::Mag, frame.mag.data(), 3);
    check(MeasurementFrame::Euler, frame.euler.data(), 3);
    check(MeasurementFrame::Quaternion, frame.quat.data(), 4);
    if (frame.present & MeasurementFrame::Temperature) {
        QCOMPARE(c[column].toDouble(&ok), frame.temperature);
        QVERIFY(ok);
    } else {
        QVERIFY(c[column].isEmpty());
    }
}

} // namespace

class TestRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void rawRoundTripIsByteExact_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("count");
        QTest::newRow("no records") << 1u << 0;
        QTest::newRow("one record") << 2u << 1;
        QTest::newRow("many records") << 3u << 2000;
        QTest::newRow("other sizes") << 4u << 500;
    }
    void rawRoundTripIsByteExact()
    {
        QFETCH(quint32, seed);
        QFETCH(int, count);
        const RecordingInfo info = sampleInfo();
        const QVector<RawRecord> records = randomRecords(seed, count);
        const RawRecording got = readBytes(encodeFile(info, records));
        QVERIFY2(got.error.isEmpty(), qPrintable(got.error));
        QVERIFY(got.headerValid);
        QCOMPARE(got.info.deviceId, info.deviceId);
        QCOMPARE(got.info.hardwareVersion, info.hardwareVersion);
        QCOMPARE(got.info.softwareVersion, info.softwareVersion);
        QCOMPARE(got.info.sensorsRange, info.sensorsRange);
        QCOMPARE(got.info.accFullScale, info.accFullScale);
        QCOMPARE(got.info.gyroFullScale, info.gyroFullScale);
        QCOMPARE(got.info.magFullScale, info.magFullScale);
        QCOMPARE(got.info.startUtc, info.startUtc);
        QCOMPARE(got.info.startUtc.timeSpec(), Qt::UTC);
        compareRecords(got.records, records, records.size());
    }

    void magnetometerCalibrationFlagSurvivesTheHeader()
    {
        // The offline CSV names the magnetometer's unit from this flag, as the live one did.
        RecordingInfo info = sampleInfo();
        info.magCalibrated = true;
        const QByteArray h = encodeRawHeader(info);
        QCOMPARE(h.at(38), '\x01');
        QVERIFY(readBytes(h).info.magCalibrated);
        info.magCalibrated = false;
        QVERIFY(!readBytes(encodeRawHeader(info)).info.magCalibrated);
    }

    void headerIsLaidOutAsDocumented()
    {
        const QByteArray h = encodeRawHeader(sampleInfo());
        QCOMPARE(h.size(), 43);
        QCOMPARE(h.left(8), QByteArray("VELMAREC"));
        QCOMPARE(h.mid(8, 4), QByteArray::fromHex("02001b00"));
        QCOMPARE(h.at(38), '\0'); // flags: the magnetometer not calibrated
        QCOMPARE(h.mid(12, 6), QByteArray::fromHex("5aee0903011c"));
        QCOMPARE(h.mid(18, 4), QByteArray::fromHex("00007043")); // 240.0f
        const QByteArray r = encodeRawRecord(RawRecordType::Chunk, 0x0102, "\xBB\x06");
        QCOMPARE(r.size(), 19);
        QCOMPARE(r.left(15).toHex(), QByteArray("01020100000000000002000000bb06"));
        const quint32 crc = recordCrc32(r.constData(), 15);
        QCOMPARE(r.mid(15), QByteArray(reinterpret_cast<const char *>(&crc), 4));
        // The record checksum is the usual CRC-32, as zlib and every tool compute it.
        QCOMPARE(recordCrc32("123456789", 9), 0xCBF43926u);
    }

    void readerStopsAtTruncatedTailAndKeepsWhatCameBefore()
    {
        const QVector<RawRecord> records = randomRecords(7, 40);
        QVector<int> ends;
        const QByteArray file = encodeFile(sampleInfo(), records, &ends);
        const int headerSize = encodeRawHeader(sampleInfo()).size();
        // Every cut inside the file: the reader gives the records that end
        // at or before the cut, and an error unless the cut is on a boundary.
        for (int cut = headerSize; cut <= file.size(); ++cut) {
            const RawRecording got = readBytes(file.left(cut));
            const int whole = int(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
            compareRecords(got.records, records, whole);
            const bool onBoundary = cut == headerSize || ends.contains(cut);
            QVERIFY2(got.error.isEmpty() == onBoundary, qPrintable(QString::number(cut)));
            if (!onBoundary)
                QVERIFY2(
                    got.error.contains("ends in the middle of a record"), qPrintable(got.error));
        }
    }

    void damagedRecordIsRefusedAfterTheWholeOnes_data()
    {
        QTest::addColumn<int>("field"); // offset within the damaged record
        QTest::addColumn<QString>("expected");
        QTest::newRow("payload byte") << 14 << "checksum mismatch";
        QTest::newRow("time") << 3 << "checksum mismatch";
        QTest::newRow("unknown type") << 0 << "not a record";
        QTest::newRow("absurd length") << 12 << "not a record";
    }
    void damagedRecordIsRefusedAfterTheWholeOnes()
    {
        QFETCH(int, field);
        QFETCH(QString, expected);
        QVector<RawRecord> records = randomRecords(11, 20);
        for (RawRecord &r : records)
            r.payload.append("xx"); // every record has a payload byte 14
        QVector<int> ends;
        QByteArray file = encodeFile(sampleInfo(), records, &ends);
        const int damaged = 9;
        file[ends[damaged - 1] + field] = char(file[ends[damaged - 1] + field] ^ 0x80);
        const RawRecording got = readBytes(file);
        compareRecords(got.records, records, damaged);
        QVERIFY2(got.error.contains(expected), qPrintable(got.error));
        QVERIFY2(got.error.contains(QString::number(ends[damaged - 1])), qPrintable(got.error));
    }

    void foreignOrNewerFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        const QByteArray good = encodeRawHeader(sampleInfo());
        QByteArray badMagic = good;
        badMagic[0] = 'X';
        QByteArray newer = good;
        newer[8] = char(rawFormatVersion + 1);
        QByteArray zero = good;
        zero[8] = 0;
        QByteArray damaged = good;
        damaged[20] = char(damaged[20] ^ 1);
        QTest::newRow("empty file") << QByteArray() << "Not a Velmar IMU raw recording";
        QTest::newRow("csv given") << csvHeaderRow() << "Not a Velmar IMU raw recording";
        QTest::newRow("bad magic") << badMagic << "Not a Velmar IMU raw recording";
        QTest::newRow("newer version") << newer << "version 3 is not supported";
        QTest::newRow("version 0") << zero << "version 0 is not supported";
        QTest::newRow("damaged header") << damaged << "checksum mismatch";
        QTest::newRow("truncated header") << good.left(30) << "truncated";
        QTest::newRow("header without checksum") << good.left(38) << "truncated";
        QTest::newRow("with records behind")
            << badMagic + encodeRawRecord(RawRecordType::Chunk, 1, "ab")
            << "Not a Velmar IMU raw recording";
    }
    void foreignOrNewerFilesAreRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        const RawRecording got = readBytes(file);
        QVERIFY(!got.headerValid);
        QVERIFY(got.records.isEmpty());
        QVERIFY2(got.error.contains(expected), qPrintable(got.error));
    }

    void longerHeaderOfALaterRevisionIsSkipped()
    {
        // A later revision may add header fields behind the known ones.
        QByteArray h = encodeRawHeader(sampleInfo());
        h.chop(4);
        h[10] = char(h.size() - 12 + 5); // the body behind magic, version and size
        h += "extra";
        const quint32 crc = recordCrc32(h.constData(), h.size());
        h.append(reinterpret_cast<const char *>(&crc), 4);
        const RawRecording got = readBytes(h + encodeRawRecord(RawRecordType::Note, 5, "hi"));
        QVERIFY2(got.error.isEmpty(), qPrintable(got.error));
        QCOMPARE(got.info.hardwareVersion, quint16(2542));
        QCOMPARE(got.records.size(), 1);
        QCOMPARE(got.records[0].payload, QByteArray("hi"));
    }

    void csvHeaderNamesEveryColumnWithItsUnit()
    {
        const QByteArray header = csvHeaderRow();
        QVERIFY(header.endsWith('\n'));
        const QList<QByteArray> names = cells(header.chopped(1));
        QCOMPARE(names.size(), csvColumnCount());
        QCOMPARE(names.size(), 18);
        QCOMPARE(names.first(), QByteArray("time_s"));
        QCOMPARE(names[1], QByteArray("acc_x_m/s2"));
        QCOMPARE(names[4], QByteArray("gyro_x_deg/s"));
        QCOMPARE(names[7], QByteArray("mag_x_gauss"));
        QCOMPARE(cells(csvHeaderRow(true).chopped(1))[9],
            QByteArray("mag_z_relative_to_the_local_field"));
        QCOMPARE(names[10], QByteArray("roll_deg"));
        QCOMPARE(names[12], QByteArray("yaw_deg"));
        QCOMPARE(names[13], QByteArray("quat_w"));
        QCOMPARE(names.last(), QByteArray("temperature_C"));
        QCOMPARE(QSet<QByteArray>(names.begin(), names.end()).size(), names.size());
    }

    void csvRowsRoundTripWithEmptyCells_data()
    {
        QTest::addColumn<unsigned>("present");
        QTest::newRow("full frame") << 63u;
        QTest::newRow("nothing") << 0u;
        QTest::newRow("accelerometer only") << unsigned(MeasurementFrame::Acc);
        QTest::newRow("gyroscope only") << unsigned(MeasurementFrame::Gyro);
        QTest::newRow("magnetometer only") << unsigned(MeasurementFrame::Mag);
        QTest::newRow("orientation")
            << unsigned(MeasurementFrame::Euler | MeasurementFrame::Quaternion);
        QTest::newRow("all but temperature") << 31u;
        QTest::newRow("temperature only") << unsigned(MeasurementFrame::Temperature);
    }
    void csvRowsRoundTripWithEmptyCells()
    {
        QFETCH(unsigned, present);
        QRandomGenerator rng(present + 100);
        for (int i = 0; i < 500; ++i) {
            const MeasurementFrame frame = randomFrame(rng, present);
            checkRowMatches(csvRow(frame), frame);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void csvFileHasEqualFieldCountsAndReadsBack()
    {
        // What a spreadsheet or pandas sees: a header, then rows with just as
        // many fields, mixed full and partial frames.
        QByteArray file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::WriteOnly);
        CsvWriter writer(&buffer);
        QVERIFY(writer.writeHeader());
        QRandomGenerator rng(99);
        QVector<MeasurementFrame> frames;
        for (int i = 0; i < 300; ++i) {
            frames.append(randomFrame(rng, rng.bounded(64u)));
            QVERIFY(writer.writeFrame(frames.last()));
        }
        QVERIFY(file.endsWith('\n'));
        QList<QByteArray> lines = file.split('\n');
        lines.removeLast();
        QCOMPARE(lines.size(), frames.size() + 1);
        for (const QByteArray &line : lines)
            QCOMPARE(cells(line).size(), cells(lines.first()).size());
        for (int i = 0; i < frames.size(); ++i) {
            checkRowMatches(lines[i + 1] + '\n', frames[i]);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void csvTimeIsExactMicroseconds_data()
    {
        QTest::addColumn<qint64>("us");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("start") << qint64(0) << QByteArray("0.000000");
        QTest::newRow("one microsecond") << qint64(1) << QByteArray("0.000001");
        QTest::newRow("seconds") << qint64(61234567) << QByteArray("61.234567");
        QTest::newRow("a day") << qint64(86400000000) << QByteArray("86400.000000");
        QTest::newRow("before the start") << qint64(-1500000) << QByteArray("-1.500000");
        QTest::newRow("a microsecond before") << qint64(-1) << QByteArray("-0.000001");
        // A file may carry any time: the earliest is still a number.
        QTest::newRow("earliest a record can carry")
            << std::numeric_limits<qint64>::min() << QByteArray("-9223372036854.775808");
        QTest::newRow("latest a record can carry")
            << std::numeric_limits<qint64>::max() << QByteArray("9223372036854.775807");
    }
    void csvTimeIsExactMicroseconds()
    {
        QFETCH(qint64, us);
        QFETCH(QByteArray, text);
        MeasurementFrame frame;
        frame.timeUs = us;
        QCOMPARE(cells(csvRow(frame)).first(), text);
    }

    void csvIgnoresTheLocale()
    {
        // A comma as decimal point would split every number into two cells.
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QByteArray savedC = std::setlocale(LC_ALL, nullptr);
        const bool haveGerman = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        MeasurementFrame frame;
        frame.present = 63;
        frame.acc = {9.81f, -0.5f, 1234.5f};
        frame.temperature = 25.25;
        const QByteArray row = csvRow(frame);
        std::setlocale(LC_ALL, savedC.constData());
        QLocale::setDefault(saved);
        QCOMPARE(cells(row.chopped(1)).size(), csvColumnCount());
        QVERIFY2(row.contains("9.81,-0.5,1234.5,"), row.constData());
        QVERIFY2(row.contains(",25.25\n"), row.constData());
        if (!haveGerman)
            qInfo("no de_DE locale installed: checked with QLocale only");
    }

    void csvShowsShortestRoundTripText()
    {
        MeasurementFrame frame;
        frame.present = MeasurementFrame::Euler;
        frame.euler = {45.0f, 0.1f, -179.99f};
        QCOMPARE(csvRow(frame), QByteArray("0.000000,,,,,,,,,,45,0.1,-179.99,,,,,\n"));
    }
};

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
