// SPDX-License-Identifier: GPL-3.0-or-later
// The module decoder: every block's values, the full scales it follows, and
// frames that change them mid-stream.

#include "csvtext.h"
#include "moduledecoder.h"
#include "registercatalogue.h"

#include <QtTest>

#include <array>
#include <cstring>
#include <limits>

using namespace decode;

namespace {

void putI16(quint8 *at, int value)
{
    at[0] = quint8(value & 0xFF);
    at[1] = quint8((value >> 8) & 0xFF);
}

void putF32(quint8 *at, float value)
{
    std::memcpy(at, &value, 4);
}

// Hardware 1442, range 0x15: accelerometer 40 m/s², gyroscope 500 °/s,
// magnetometer 8.
ModuleDecoder knownModule()
{
    ModuleDecoder decoder;
    decoder.setHardwareVersion(1442);
    decoder.applyRange(0x15);
    return decoder;
}

} // namespace

class TestModuleDecoder : public QObject
{
    Q_OBJECT

private slots:
    void blocksTileTheSpaceAndFollowTheCatalogue()
    {
        int next = 0;
        int rows = 0;
        for (int b = 0; b < BlockCount; ++b) {
            QCOMPARE(int(Blocks[b].span.address), next);
            QCOMPARE(blockAt(next), b);
            QCOMPARE(blockAt(Blocks[b].span.end() - 1), b);
            QVERIFY2(firstRowOf(b) >= 0, qPrintable(QStringLiteral("block %1").arg(b)));
            next = Blocks[b].span.end();
            rows += Blocks[b].values();
        }
        QCOMPARE(next, int(RegisterMap::Size));
        // One value per register row, none left over.
        QCOMPARE(rows, registerCount);
        QCOMPARE(blockAt(RegisterMap::Size), -1);
        QCOMPARE(blockIndexOf(RegisterMap::Gyro), 5);
        QCOMPARE(blockIndexOf({0x06, 12}), -1);
    }

    void everyBlockKindDecodes_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariantList>("expected");
        using namespace RegisterMap;
        QTest::newRow("byte") << blockIndexOf(Control1) << QByteArray("\x0B", 1)
                              << QVariantList {11};
        QTest::newRow("word") << blockIndexOf(SoftwareVersion) << QByteArray("\xD2\x00", 2)
                              << QVariantList {210};
        // 16384 / 32768 * 40, -32768 / 32768 * 40, 1 / 32768 * 40.
        QTest::newRow("accelerometer") << blockIndexOf(Acc) << QByteArray::fromHex("004000800100")
                                       << QVariantList {20.0f, -40.0f, float(40.0 / 32768.0)};
        QTest::newRow("gyroscope") << blockIndexOf(Gyro) << QByteArray::fromHex("00c0ff7f0000")
                                   << QVariantList {-250.0f, float(32767 * 500.0 / 32768.0), 0.0f};
        QTest::newRow("magnetometer") << blockIndexOf(Mag) << QByteArray::fromHex("001000f00000")
                                      << QVariantList {1.0f, -1.0f, 0.0f};
        QTest::newRow("gravity follows the accelerometer's scale") << blockIndexOf(
            Gravity) << QByteArray::fromHex("002000000000") << QVariantList {10.0f, 0.0f, 0.0f};
        QTest::newRow("temperature")
            << blockIndexOf(Temperature) << QByteArray::fromHex("0000") << QVariantList {25.0};
        // -327 counts: 23.9994 °C, cut to hundredths (rounding would say 24).
        QTest::newRow("temperature cut, not rounded")
            << blockIndexOf(Temperature) << QByteArray::fromHex("b9fe") << QVariantList {23.99};
        QTest::newRow("quaternion")
            << blockIndexOf(Quaternion) << QByteArray::fromHex("e803000018fc0100")
            << QVariantList {1.0f, 0.0f, -1.0f, 0.001f};
        QTest::newRow("euler") << blockIndexOf(Euler) << QByteArray::fromHex("3930c7cf0000")
                               << QVariantList {123.45f, -123.45f, 0.0f};
        QByteArray reals(12, 0);
        putF32(reinterpret_cast<quint8 *>(reals.data()), 1.5f);
        putF32(reinterpret_cast<quint8 *>(reals.data()) + 4, -2e-40f);
        putF32(reinterpret_cast<quint8 *>(reals.data()) + 8, 3.25f);
        QTest::newRow("reals, subnormal kept")
            << blockIndexOf(GyroOffset) << reals << QVariantList {1.5f, -2e-40f, 3.25f};
    }

    void everyBlockKindDecodes()
    {
        QFETCH(int, block);
        QFETCH(QByteArray, bytes);
        QFETCH(QVariantList, expected);
        ModuleDecoder decoder = knownModule();
        BlockValues values;
        QVERIFY(decoder.decodeBlock(
            block, reinterpret_cast<const quint8 *>(bytes.constData()), &values));
        QCOMPARE(values.block, block);
        QCOMPARE(values.count, expected.size());
        for (int i = 0; i < values.count; ++i) {
            const QVariant got = rowValue(values, i);
            // The row's type matters: the register page shows ints, floats and
            // the temperature's double differently.
            QCOMPARE(got.userType(), expected[i].userType());
            QCOMPARE(got, expected[i]);
        }
    }

    // A register holds whatever a module was given: a signalling NaN or any other
    // pattern comes out of the row with the same bits (through a double it would
    // come back quieted, and a backup or the page would show another value).
    void realsKeepEveryBitPattern()
    {
        const quint32 patterns[] = {0x7fa00001u, 0xffbfffffu, 0x7fc00000u, 0x80000001u, 0x7f800000u,
            0x00000000u, 0x80000000u};
        ModuleDecoder decoder = knownModule();
        for (quint32 bits : patterns) {
            quint8 bytes[12] = {};
            std::memcpy(bytes + 4, &bits, 4); // little-endian, as the module sends it
            BlockValues values;
            QVERIFY(decoder.decodeBlock(blockIndexOf(RegisterMap::GyroOffset), bytes, &values));
            const float row = rowValue(values, 1).toFloat();
            quint32 got = 0;
            std::memcpy(&got, &row, 4);
            QVERIFY2(got == bits,
                qPrintable(QStringLiteral("0x%1 came back as 0x%2")
                               .arg(bits, 8, 16, QLatin1Char('0'))
                               .arg(got, 8, 16, QLatin1Char('0'))));
            const float sample = values.floatAt(1);
            std::memcpy(&got, &sample, 4);
            QCOMPARE(got, bits);
        }
    }

    void scaledBlockWithoutFullScaleGivesNoValues()
    {
        ModuleDecoder decoder;
        const quint8 raw[6] = {0, 0x40, 0, 0, 0, 0};
        BlockValues values;
        QVERIFY(decoder.decodeBlock(blockIndexOf(RegisterMap::Acc), raw, &values));
        QCOMPARE(values.count, 0);
        QVERIFY(!decoder.decodeBlock(BlockCount, raw, &values));
    }

    // The version decides the layout of the range byte, and a code with no
    // value of its own keeps the sensor's earlier full scale.
    void rangeFollowsTheHardwareVersion_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("range");
        QTest::addColumn<float>("acc");
        QTest::addColumn<float>("gyro");
        QTest::addColumn<float>("mag");
        QTest::addColumn<bool>("applied");
        QTest::newRow("1442") << 1442 << 0x25 << 80.0f << 500.0f << 8.0f << true;
        QTest::newRow("2542") << 2542 << 0x0A << 60.0f << 500.0f << 8.0f << true;
        QTest::newRow("1442 mag code without value keeps the old")
            << 1442 << 0x02 << 20.0f << 250.0f << 8.0f << true;
        QTest::newRow("unknown version changes nothing")
            << 1000 << 0x00 << 40.0f << 500.0f << 8.0f << false;
    }

    void rangeFollowsTheHardwareVersion()
    {
        QFETCH(int, version);
        QFETCH(int, range);
        QFETCH(float, acc);
        QFETCH(float, gyro);
        QFETCH(float, mag);
        QFETCH(bool, applied);
        ModuleDecoder decoder = knownModule();
        const quint8 versionBytes[2] = {quint8(version & 0xFF), quint8(version >> 8)};
        BlockValues values;
        decoder.decodeBlock(blockIndexOf(RegisterMap::HardwareVersion), versionBytes, &values);
        QCOMPARE(decoder.hardwareVersion(), version);
        RangeDecoding decoded;
        const quint8 rangeByte = quint8(range);
        decoder.decodeBlock(blockIndexOf(RegisterMap::SensorsRange), &rangeByte, &values, &decoded);
        QCOMPARE(decoded.applied, applied);
        QCOMPARE(decoder.fullScales().acc, acc);
        QCOMPARE(decoder.fullScales().gyro, gyro);
        QCOMPARE(decoder.fullScales().mag, mag);
    }

    // A frame carrying measurements and the range byte: the measurements keep
    // the full scale in force, the next frame follows the new one.
    void rangeChangeInAFrameScalesOnlyWhatFollows()
    {
        ModuleDecoder decoder = knownModule();
        const int first = RegisterMap::Acc.address;
        const int count = RegisterMap::SensorsRange.end() - first;
        std::array<quint8, 64> data {};
        putI16(data.data(), 16384); // acc x
        data[std::size_t(RegisterMap::SensorsRange.address - first)] = 0x35; // acc 160
        MeasurementFrame sample;
        QVERIFY(decoder.decodeFrame(quint8(first), data.data(), count, &sample));
        QVERIFY(sample.present & MeasurementFrame::Acc);
        QCOMPARE(sample.acc[0], 20.0f);
        QCOMPARE(decoder.fullScales().acc, 160.0f);

        // The streamed block alone, after the change.
        QVERIFY(decoder.decodeFrame(
            quint8(first), data.data(), RegisterMap::Measurements.count, &sample));
        QCOMPARE(sample.acc[0], 80.0f);
        const unsigned all = MeasurementFrame::Acc | MeasurementFrame::Gyro | MeasurementFrame::Mag
            | MeasurementFrame::Temperature | MeasurementFrame::Quaternion
            | MeasurementFrame::Euler;
        QCOMPARE(sample.present, all);
    }

    // Frames that do not reach the measurements make no sample; one that
    // carries part of them says which.
    void frameSaysWhatItCarried_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("measured");
        QTest::addColumn<unsigned>("present");
        QTest::newRow("accelerometer and gyroscope, as while calibrating")
            << 0x06 << 12 << true << unsigned(MeasurementFrame::Acc | MeasurementFrame::Gyro);
        QTest::newRow("temperature alone")
            << 0x18 << 2 << true << unsigned(MeasurementFrame::Temperature);
        QTest::newRow("the version") << 0x02 << 2 << false << 0u;
        QTest::newRow("linear acceleration") << 0x28 << 6 << false << 0u;
        QTest::newRow("past the space") << 0xB0 << 4 << false << 0u;
        QTest::newRow("empty") << 0x06 << 0 << false << 0u;
    }

    void frameSaysWhatItCarried()
    {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(bool, measured);
        QFETCH(unsigned, present);
        ModuleDecoder decoder = knownModule();
        std::array<quint8, 64> data {};
        MeasurementFrame sample;
        sample.present = 0xFFFF;
        QCOMPARE(decoder.decodeFrame(quint8(address), data.data(), count, &sample), measured);
        if (measured)
            QCOMPARE(sample.present, present);
    }

    // A whole image read from the module: its measurements are scaled by the
    // range the same image holds, not by what the decoder knew before.
    void imageFollowsItsOwnRange()
    {
        std::array<quint8, RegisterMap::Size> image {};
        putI16(image.data() + RegisterMap::HardwareVersion.address, 2542);
        image[RegisterMap::SensorsRange.address] = 0x18; // acc 240, gyro 125
        putI16(image.data() + RegisterMap::Acc.address, 16384);
        putI16(image.data() + RegisterMap::Gyro.address, -32768);
        putF32(image.data() + RegisterMap::MagScale.address + 32, 0.5f);
        ModuleDecoder decoder;
        std::array<BlockValues, BlockCount> blocks;
        decoder.decodeImage(image.data(), &blocks);
        const BlockValues &acc = blocks[std::size_t(blockIndexOf(RegisterMap::Acc))];
        QCOMPARE(acc.count, 3);
        QCOMPARE(acc.floatAt(0), 120.0f);
        QCOMPARE(blocks[std::size_t(blockIndexOf(RegisterMap::Gyro))].floatAt(0), -125.0f);
        const BlockValues &scale = blocks[std::size_t(blockIndexOf(RegisterMap::MagScale))];
        QCOMPARE(scale.count, 9);
        QCOMPARE(scale.floatAt(8), 0.5f);
        QCOMPARE(rowValue(blocks[std::size_t(blockIndexOf(RegisterMap::HardwareVersion))], 0),
            QVariant(2542));
    }

    // The buffer writer gives the CSV row text exactly.
    void csvRowTextIsTheWritersText_data()
    {
        QTest::addColumn<qint64>("timeUs");
        QTest::addColumn<unsigned>("present");
        QTest::newRow("everything") << qint64(1234567) << 63u;
        QTest::newRow("nothing") << qint64(0) << 0u;
        QTest::newRow("before the start") << qint64(-2500) << 1u;
        QTest::newRow("hours in") << qint64(10800000001) << 24u;
        QTest::newRow("earliest a record can carry") << std::numeric_limits<qint64>::min() << 1u;
        QTest::newRow("latest a record can carry") << std::numeric_limits<qint64>::max() << 1u;
    }

    void csvRowTextIsTheWritersText()
    {
        QFETCH(qint64, timeUs);
        QFETCH(unsigned, present);
        MeasurementFrame frame;
        frame.timeUs = timeUs;
        frame.present = present;
        frame.acc = {9.80665f, -1e-7f, 3.4028235e38f};
        frame.gyro = {1000.0f, -0.030517578f, 0.1f};
        frame.mag = {1.0f / 3.0f, 2e-40f, -8.0f};
        frame.euler = {-179.99f, 0.0f, 45.5f};
        frame.quat = {1.0f, -0.001f, 0.707f, 0.0f};
        frame.temperature = 36.57;
        std::array<char, csvRowCapacity> text;
        const char *end = writeCsvRow(text.data(), frame);
        const QByteArray row(text.data(), int(end - text.data()));
        QCOMPARE(row, csvRow(frame));
        // The time is a number, whatever the time.
        bool ok = false;
        row.left(row.indexOf(',')).toDouble(&ok);
        QVERIFY2(ok, row.constData());
    }
};

QTEST_APPLESS_MAIN(TestModuleDecoder)
#include "tst_moduledecoder.moc"
