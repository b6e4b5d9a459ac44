// SPDX-License-Identifier: GPL-3.0-or-later
#include "comsprotocol.h"
#include "registerblocks.h"
#include "registercatalogue.h"
#include "registermap.h"

#include <QtTest>

// The map names stretches of the register space that the catalogue also lists
// row by row. A moved or resized register must show up here, not as a frame the
// link rejects or a value decoded from the wrong bytes.
class RegisterMapTest : public QObject
{
    Q_OBJECT

private slots:
    void namedBlocksAreCatalogueRuns_data();
    void namedBlocksAreCatalogueRuns();
    void dispatchBlocksAreTheMapsBlocks();
    void streamedBlocksCoverTheMeasurementsTheLinkExpects();
    void writableStretchHoldsExactlyTheWritableRows();
    void requestFramesAreExactBytes_data();
    void requestFramesAreExactBytes();
};

Q_DECLARE_METATYPE(RegisterSpan)

namespace {
// The catalogue rows that make up `span`, or an empty list with `why` set when
// the span does not start and end on row boundaries.
QList<int> rowsOf(RegisterSpan span, QString *why)
{
    QList<int> rows;
    int at = span.address;
    while (at < span.end()) {
        const int row = registerRowAt(at);
        if (row < 0) {
            *why = QStringLiteral("no register starts at %1").arg(at);
            return {};
        }
        rows.append(row);
        at += byteWidth(registerCatalogue[std::size_t(row)].width);
    }
    if (at != span.end()) {
        *why = QStringLiteral("the last register runs to %1, past %2").arg(at).arg(span.end());
        return {};
    }
    return rows;
}

QString nameAt(int row)
{
    return QString::fromLatin1(registerCatalogue[std::size_t(row)].name);
}
} // namespace

void RegisterMapTest::namedBlocksAreCatalogueRuns_data()
{
    using namespace RegisterMap;
    QTest::addColumn<RegisterSpan>("span");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("width"); // RegisterWidth of every row in the block
    QTest::addColumn<int>("rows");

    auto row = [](const char *tag, RegisterSpan span, const char *first, const char *last,
                   RegisterWidth width, int rows) {
        QTest::newRow(tag) << span << QString::fromLatin1(first) << QString::fromLatin1(last)
                           << int(width) << rows;
    };
    using W = RegisterWidth;
    row("DeviceId", DeviceId, "Device ID", "Device ID", W::U8, 1);
    row("Status", Status, "Status", "Status", W::U8, 1);
    row("HardwareVersion", HardwareVersion, "Hardware Version", "Hardware Version", W::U16, 1);
    row("SoftwareVersion", SoftwareVersion, "Software Version", "Software Version", W::U16, 1);
    row("Acc", Acc, "Accelerometer X", "Accelerometer Z", W::I16, 3);
    row("Gyro", Gyro, "Gyroscope X", "Gyroscope Z", W::I16, 3);
    row("Mag", Mag, "Magnetometer X", "Magnetometer Z", W::I16, 3);
    row("Temperature", Temperature, "Temperature", "Temperature", W::I16, 1);
    row("Quaternion", Quaternion, "Quaternion0", "Quaternion3", W::I16, 4);
    row("Euler", Euler, "Euler Angle Roll", "Euler Angle Yaw", W::I16, 3);
    row("LinearAcc", LinearAcc, "Linear Acceleration X", "Linear Acceleration Z", W::I16, 3);
    row("Gravity", Gravity, "Gravity X", "Gravity Z", W::I16, 3);
    row("Control1", Control1, "Control1", "Control1", W::U8, 1);
    row("Control2", Control2, "Control2", "Control2", W::U8, 1);
    row("SensorsRange", SensorsRange, "Sensors Range", "Sensors Range", W::U8, 1);
    row("AccOffset", AccOffset, "ACC Offset X", "ACC Offset Z", W::F32, 3);
    row("AccScale", AccScale, "ACC Scale Factor0", "ACC Scale Factor8", W::F32, 9);
    row("GyroOffset", GyroOffset, "Gyroscope Offset X", "Gyroscope Offset Z", W::F32, 3);
    row("GyroScale", GyroScale, "Gyroscope Scale Factor X", "Gyroscope Scale Factor Z", W::F32, 3);
    row("MagOffset", MagOffset, "MAG  Offset X", "MAG  Offset Z", W::F32, 3);
    row("MagScale", MagScale, "MAG Scale Factor0", "MAG Scale Factor8", W::F32, 9);
    row("AccMagEff", AccMagEff, "ACC_MAG_EFF", "ACC_MAG_EFF", W::U8, 1);
    // What the calibration runs read back and write.
    row("AccCalibration", AccCalibration, "ACC Offset X", "ACC Scale Factor8", W::F32, 12);
    row("GyroCalibration", GyroCalibration, "Gyroscope Offset X", "Gyroscope Offset Z", W::F32, 3);
    row("MagCalibration", MagCalibration, "MAG  Offset X", "MAG Scale Factor8", W::F32, 12);
}

void RegisterMapTest::namedBlocksAreCatalogueRuns()
{
    QFETCH(RegisterSpan, span);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, width);
    QFETCH(int, rows);

    QString why;
    const QList<int> found = rowsOf(span, &why);
    QVERIFY2(!found.isEmpty(), qPrintable(why));
    QCOMPARE(found.size(), rows);
    QCOMPARE(nameAt(found.front()), first);
    QCOMPARE(nameAt(found.back()), last);
    for (int row : found)
        QCOMPARE(int(registerCatalogue[std::size_t(row)].width), width);
}

void RegisterMapTest::dispatchBlocksAreTheMapsBlocks()
{
    // The dispatch pass hands each handler a block that must begin and end on
    // registers, one after the other from 0 to the end of the space.
    int next = 0;
    for (const RegisterBlock &block : registerBlocks) {
        QCOMPARE(int(block.start), next);
        QString why;
        QVERIFY2(!rowsOf({block.start, block.length}, &why).isEmpty(),
            qPrintable(
                QStringLiteral("block at 0x%1: ").arg(block.start, 2, 16, QLatin1Char('0')) + why));
        next = block.start + block.length;
    }
    QCOMPARE(next, RegisterMap::Size);
    QCOMPARE(ComsProtocol::ImageSize, registerSpaceSize);
    const RegisterBlock &last = registerBlocks.back();
    QCOMPARE(int(registerCatalogue.back().address), int(last.start));
}

void RegisterMapTest::streamedBlocksCoverTheMeasurementsTheLinkExpects()
{
    using namespace RegisterMap;
    // Mode 11 streams every 16-bit measurement from the accelerometer through the
    // Euler angles; mode 12 the accelerometer and the gyroscope.
    QString why;
    const QList<int> all = rowsOf(StreamedAll, &why);
    QVERIFY2(!all.isEmpty(), qPrintable(why));
    QCOMPARE(nameAt(all.front()), QStringLiteral("Accelerometer X"));
    QCOMPARE(nameAt(all.back()), QStringLiteral("Euler Angle Yaw"));
    for (int row : all) {
        QCOMPARE(registerCatalogue[std::size_t(row)].width, RegisterWidth::I16);
        QVERIFY(!registerCatalogue[std::size_t(row)].writable);
    }
    QCOMPARE(int(StreamedAll.count), 34);

    const QList<int> accGyro = rowsOf(StreamedAccGyro, &why);
    QVERIFY2(!accGyro.isEmpty(), qPrintable(why));
    QCOMPARE(nameAt(accGyro.front()), QStringLiteral("Accelerometer X"));
    QCOMPARE(nameAt(accGyro.back()), QStringLiteral("Gyroscope Z"));
    QCOMPARE(int(StreamedAccGyro.count), 12);

    // Every measurement block the backend reads on its own lies inside what mode
    // 11 streams, so a read answer and a streamed frame decode alike.
    for (RegisterSpan span : {Acc, Gyro, Mag, Quaternion, Euler}) {
        QVERIFY(StreamedAll.contains(span.address));
        QVERIFY(StreamedAll.contains(span.end() - 1));
    }
    QCOMPARE(int(StreamedBlocks[0].mode), int(StreamingAll));
    QCOMPARE(int(StreamedBlocks[1].mode), int(StreamingAccGyro));
}

void RegisterMapTest::writableStretchHoldsExactlyTheWritableRows()
{
    for (const RegisterInfo &info : registerCatalogue) {
        QVERIFY2(RegisterMap::Writable.contains(info.address) == info.writable, info.name);
    }
    QCOMPARE(int(RegisterMap::Writable.address), writableStart);
    QCOMPARE(RegisterMap::Writable.end(), registerSpaceSize);
    QCOMPARE(int(RegisterMap::Whole.count), registerSpaceSize);
}

void RegisterMapTest::requestFramesAreExactBytes_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");

    auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    const quint8 mode = RegisterMap::StreamingAll;
    const quint8 off = RegisterMap::StreamingOff;
    const quint8 reals[] = {0x00, 0x00, 0x80, 0x3F, 0x01, 0x02, 0x03, 0x04};

    QTest::newRow("read whole space") << readRequest(RegisterMap::Whole) << hex("aa0100b0");
    QTest::newRow("read measurements") << readRequest(RegisterMap::Measurements) << hex("aa010622");
    QTest::newRow("read range") << readRequest(RegisterMap::SensorsRange) << hex("aa013601");
    QTest::newRow("read mag calibration")
        << readRequest(RegisterMap::MagCalibration) << hex("aa017f30");
    QTest::newRow("streaming on") << writeRequest(RegisterMap::Control1.address, &mode, 1)
                                  << hex("aa0034010b");
    QTest::newRow("streaming off")
        << writeRequest(RegisterMap::Control1.address, &off, 1) << hex("aa00340100");
    QTest::newRow("two reals") << writeRequest(0x67, reals, 8) << hex("aa0067080000803f01020304");
    QTest::newRow("empty write") << writeRequest(0x10, nullptr, 0) << hex("aa001000");
    const auto defaults = defaultBlock();
    QTest::newRow("factory reset header")
        << writeRequest(RegisterMap::Writable.address, defaults.data(), quint8(defaults.size()))
               .left(7)
        << hex("aa00347c850000");
}

void RegisterMapTest::requestFramesAreExactBytes()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

QTEST_GUILESS_MAIN(RegisterMapTest)
#include "tst_registermap.moc"
