// SPDX-License-Identifier: GPL-3.0-or-later
#include "registercatalogue.h"

#include <QtTest>

#include <cstring>

// The catalogue is the one place register addresses and widths are defined, so a
// typo here silently misplaces every value the backend decodes. These tests check
// the layout against the register space rather than re-reading the table.
class RegisterCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void catalogueRunsFromDeviceIdToAccMagEff();
    void rowsTileTheRegisterSpaceWithoutOverlapOrGap();
    void readOnlyRowsEndAtByte51AndWritableRowsStartAt52();
    void displayCodeMatchesWidth();
    void registerRowAtFindsOnlyFirstBytes_data();
    void registerRowAtFindsOnlyFirstBytes();
    void defaultBlockHoldsFactoryValues_data();
    void defaultBlockHoldsFactoryValues();
    void littleEndianAccessorsDecode_data();
    void littleEndianAccessorsDecode();
    void realAtUnalignedAddressDecodesFromImage();
    void realWriteTouchesOnlyItsFourBytes();
};

void RegisterCatalogueTest::catalogueRunsFromDeviceIdToAccMagEff()
{
    QCOMPARE(int(registerCatalogue.size()), 61);
    QCOMPARE(QString::fromLatin1(registerCatalogue.front().name), QStringLiteral("Device ID"));
    QCOMPARE(int(registerCatalogue.front().address), 0);
    QCOMPARE(QString::fromLatin1(registerCatalogue.back().name), QStringLiteral("ACC_MAG_EFF"));
    QCOMPARE(int(registerCatalogue.back().address), 175);
}

void RegisterCatalogueTest::rowsTileTheRegisterSpaceWithoutOverlapOrGap()
{
    // Each row must start where the previous one ends; that rules out shared
    // addresses, overlaps and holes in one pass.
    int next = 0;
    for (const RegisterInfo &reg : registerCatalogue) {
        QVERIFY2(reg.address == next, reg.name);
        next = reg.address + byteWidth(reg.width);
    }
    QCOMPARE(next, registerSpaceSize);
}

void RegisterCatalogueTest::readOnlyRowsEndAtByte51AndWritableRowsStartAt52()
{
    int lastReadOnlyByte = -1;
    int firstWritableByte = registerSpaceSize;
    int writableBytes = 0;
    for (const RegisterInfo &reg : registerCatalogue) {
        if (reg.writable) {
            firstWritableByte = qMin(firstWritableByte, int(reg.address));
            writableBytes += byteWidth(reg.width);
        } else {
            lastReadOnlyByte = qMax(lastReadOnlyByte, reg.address + byteWidth(reg.width) - 1);
        }
    }
    QCOMPARE(lastReadOnlyByte, 51);
    QCOMPARE(firstWritableByte, 52);
    QCOMPARE(writableBytes, 124);
    QCOMPARE(writableLength, 124);
}

void RegisterCatalogueTest::displayCodeMatchesWidth()
{
    for (const RegisterInfo &reg : registerCatalogue) {
        switch (reg.width) {
        case RegisterWidth::U8:
            QVERIFY2(reg.displayCode == 0, reg.name);
            break;
        case RegisterWidth::U16:
            QVERIFY2(reg.displayCode == 1, reg.name);
            break;
        case RegisterWidth::I16:
        case RegisterWidth::F32:
            QVERIFY2(reg.displayCode == 2, reg.name);
            break;
        }
    }
}

void RegisterCatalogueTest::registerRowAtFindsOnlyFirstBytes_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("name");
    QTest::newRow("device id") << 0 << "Device ID";
    QTest::newRow("hardware version") << 2 << "Hardware Version";
    QTest::newRow("second byte of hardware version") << 3 << "";
    QTest::newRow("control1") << 52 << "Control1";
    QTest::newRow("acc offset x, unaligned real") << 55 << "ACC Offset X";
    QTest::newRow("inside acc offset x") << 57 << "";
    QTest::newRow("mag offset x, two blanks") << 127 << "MAG  Offset X";
    QTest::newRow("acc mag eff") << 175 << "ACC_MAG_EFF";
    QTest::newRow("past the end") << 176 << "";
    QTest::newRow("negative") << -1 << "";
}

void RegisterCatalogueTest::registerRowAtFindsOnlyFirstBytes()
{
    QFETCH(int, address);
    QFETCH(QString, name);
    const int row = registerRowAt(address);
    if (name.isEmpty()) {
        QCOMPARE(row, -1);
    } else {
        QVERIFY(row >= 0);
        QCOMPARE(QString::fromLatin1(registerCatalogue[row].name), name);
    }
}

void RegisterCatalogueTest::defaultBlockHoldsFactoryValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("expected");
    QTest::newRow("Control1") << "Control1" << double(0x85);
    QTest::newRow("Control2") << "Control2" << 0.0;
    QTest::newRow("Sensors Range") << "Sensors Range" << 0.0;
    QTest::newRow("ACC_MAG_EFF") << "ACC_MAG_EFF" << double(0x0A);
    for (const char *axis : {"X", "Y", "Z"}) {
        for (const char *offset : {"ACC Offset ", "Gyroscope Offset ", "MAG  Offset "}) {
            const QString name = QString::fromLatin1(offset) + QLatin1String(axis);
            QTest::newRow(qPrintable(name)) << name << 0.0;
        }
        const QString gyroScale = QStringLiteral("Gyroscope Scale Factor ") + QLatin1String(axis);
        QTest::newRow(qPrintable(gyroScale)) << gyroScale << 1.0;
    }
    for (int i = 0; i < 9; ++i) {
        const double identity = (i % 4 == 0) ? 1.0 : 0.0; // elements 0, 4, 8 of a 3x3
        for (const char *prefix : {"ACC Scale Factor", "MAG Scale Factor"}) {
            const QString name = QString::fromLatin1(prefix) + QString::number(i);
            QTest::newRow(qPrintable(name)) << name << identity;
        }
    }
}

void RegisterCatalogueTest::defaultBlockHoldsFactoryValues()
{
    QFETCH(QString, name);
    QFETCH(double, expected);
    const auto block = defaultBlock();
    QCOMPARE(int(block.size()), 124);

    const RegisterInfo *info = nullptr;
    for (const RegisterInfo &reg : registerCatalogue) {
        if (name == QLatin1String(reg.name))
            info = &reg;
    }
    QVERIFY2(info, qPrintable(name));
    const quint8 *at = block.data() + info->address - writableStart;
    double value = 0;
    switch (info->width) {
    case RegisterWidth::U8:
        value = *at;
        break;
    case RegisterWidth::U16:
    case RegisterWidth::I16:
        value = readU16(at);
        break;
    case RegisterWidth::F32:
        value = readF32(at);
        break;
    }
    QCOMPARE(value, expected);
}

void RegisterCatalogueTest::littleEndianAccessorsDecode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("u16");
    QTest::addColumn<int>("i16");
    QTest::newRow("1442") << QByteArray::fromHex("A205") << 1442 << 1442;
    QTest::newRow("2542") << QByteArray::fromHex("EE09") << 2542 << 2542;
    QTest::newRow("max positive") << QByteArray::fromHex("FF7F") << 32767 << 32767;
    QTest::newRow("most negative") << QByteArray::fromHex("0080") << 32768 << -32768;
    QTest::newRow("minus one") << QByteArray::fromHex("FFFF") << 65535 << -1;
}

void RegisterCatalogueTest::littleEndianAccessorsDecode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, u16);
    QFETCH(int, i16);
    const auto *raw = reinterpret_cast<const quint8 *>(bytes.constData());
    QCOMPARE(int(readU16(raw)), u16);
    QCOMPARE(int(readI16(raw)), i16);
}

void RegisterCatalogueTest::realAtUnalignedAddressDecodesFromImage()
{
    quint8 image[registerSpaceSize] = {};
    // -2.25f = 0xC0100000, stored little-endian at 55 ("ACC Offset X").
    image[55] = 0x00;
    image[56] = 0x00;
    image[57] = 0x10;
    image[58] = 0xC0;
    QCOMPARE(readF32(image + 55), -2.25f);
    QCOMPARE(readF32(image + 59), 0.0f);
}

void RegisterCatalogueTest::realWriteTouchesOnlyItsFourBytes()
{
    quint8 image[registerSpaceSize];
    std::memset(image, 0x5A, sizeof image);
    writeF32(image + 59, 3.5f);
    QCOMPARE(readF32(image + 59), 3.5f);
    QCOMPARE(int(image[58]), 0x5A);
    QCOMPARE(int(image[63]), 0x5A);
}

QTEST_APPLESS_MAIN(RegisterCatalogueTest)
#include "tst_registercatalogue.moc"
