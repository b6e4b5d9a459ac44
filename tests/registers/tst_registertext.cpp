// SPDX-License-Identifier: GPL-3.0-or-later
#include "registertext.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

// Text typed into a register cell: what is taken, the bytes it becomes, and
// why the rest is refused.
class RegisterTextTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesByDisplayCode_data();
    void parsesByDisplayCode();
    void catalogueAddressesDecideTheType_data();
    void catalogueAddressesDecideTheType();
    void everyAcceptedRealIsTheFloatTyped_data();
    void everyAcceptedRealIsTheFloatTyped();
};

void RegisterTextTest::parsesByDisplayCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: refused
    QTest::addColumn<QString>("reasonPart"); // for refusals

    // Bytes: 0x-hexadecimal or decimal, nothing else.
    QTest::newRow("hex") << 0 << 1 << "0x1F" << QByteArray::fromHex("1F") << "";
    QTest::newRow("hex upper X, lower digits")
        << 0 << 1 << "0Xff" << QByteArray::fromHex("FF") << "";
    QTest::newRow("decimal") << 0 << 1 << "31" << QByteArray::fromHex("1F") << "";
    QTest::newRow("blanks around") << 0 << 1 << "  7 " << QByteArray::fromHex("07") << "";
    QTest::newRow("double prefix") << 0 << 1 << "0x0x1F" << QByteArray() << "not a byte";
    QTest::newRow("prefix after digits") << 0 << 1 << "1F0x" << QByteArray() << "not a byte";
    QTest::newRow("bare prefix") << 0 << 1 << "0x" << QByteArray() << "not a byte";
    QTest::newRow("plus sign") << 0 << 1 << "+5" << QByteArray() << "not a byte";
    QTest::newRow("256") << 0 << 1 << "256" << QByteArray() << "not a byte";
    QTest::newRow("0x100") << 0 << 1 << "0x100" << QByteArray() << "not a byte";
    QTest::newRow("blank inside") << 0 << 1 << "1 2" << QByteArray() << "not a byte";

    // Unsigned integers, little-endian.
    QTest::newRow("u16") << 1 << 2 << "1442" << QByteArray::fromHex("A205") << "";
    QTest::newRow("u16 too large") << 1 << 2 << "65536" << QByteArray() << "0 to 65535";
    QTest::newRow("u16 hex") << 1 << 2 << "0x10" << QByteArray() << "whole number";

    // Reals for a 32-bit float.
    QTest::newRow("1.5") << 2 << 4 << "1.5" << QByteArray::fromHex("0000C03F") << "";
    QTest::newRow("zero") << 2 << 4 << "0" << QByteArray::fromHex("00000000") << "";
    QTest::newRow("largest float as printed")
        << 2 << 4 << "3.4028235e38" << QByteArray::fromHex("FFFF7F7F") << "";
    QTest::newRow("largest float, negative")
        << 2 << 4 << "-3.4028235e+38" << QByteArray::fromHex("FFFF7FFF") << "";
    QTest::newRow("largest float exactly") << 2 << 4 << "340282346638528859811704183484516925440"
                                           << QByteArray::fromHex("FFFF7F7F") << "";
    QTest::newRow("smallest normal float")
        << 2 << 4 << "1.17549435e-38" << QByteArray::fromHex("00008000") << "";
    QTest::newRow("rounds to infinity") << 2 << 4 << "3.4028236e38" << QByteArray() << "too large";
    QTest::newRow("1e39") << 2 << 4 << "1e39" << QByteArray() << "too large";
    QTest::newRow("1e-50 would be 0") << 2 << 4 << "1e-50" << QByteArray() << "too small";
    QTest::newRow("-1e-50 would be 0") << 2 << 4 << "-1e-50" << QByteArray() << "too small";
    QTest::newRow("1e-40 would lose digits") << 2 << 4 << "1e-40" << QByteArray() << "too small";
    QTest::newRow("nan") << 2 << 4 << "nan" << QByteArray() << "not a finite number";
    QTest::newRow("inf") << 2 << 4 << "-inf" << QByteArray() << "not a finite number";
    QTest::newRow("comma") << 2 << 4 << "1,5" << QByteArray() << "not a number";
    QTest::newRow("hex for a real") << 2 << 4 << "0x1F" << QByteArray() << "not a number";
    QTest::newRow("empty") << 2 << 4 << "" << QByteArray() << "not a number";

    // Combinations no register has.
    QTest::newRow("real of two bytes") << 2 << 2 << "1.0" << QByteArray() << "cannot be written";
    QTest::newRow("unknown code") << 7 << 1 << "1" << QByteArray() << "cannot be written";
}

void RegisterTextTest::parsesByDisplayCode()
{
    QFETCH(int, code);
    QFETCH(int, width);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reasonPart);
    const RegisterText parsed = parseRegisterText(code, width, text);
    if (bytes.isEmpty()) {
        QVERIFY2(!parsed.accepted(), qPrintable(text));
        QVERIFY2(
            parsed.refusal.contains(reasonPart, Qt::CaseInsensitive), qPrintable(parsed.refusal));
        return;
    }
    QVERIFY2(parsed.accepted(), qPrintable(parsed.refusal));
    QCOMPARE(parsed.width, width);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(parsed.bytes), parsed.width).toHex(),
        bytes.toHex());
}

void RegisterTextTest::catalogueAddressesDecideTheType_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width"); // 0: refused
    QTest::addColumn<QString>("reasonPart");
    QTest::newRow("Control1 takes a byte") << 52 << "0x0B" << 1 << "";
    QTest::newRow("Control1 refuses a real") << 52 << "1.5" << 0 << "not a byte";
    QTest::newRow("ACC Offset X takes a real") << 55 << "1e-3" << 4 << "";
    QTest::newRow("ACC_MAG_EFF") << 175 << "10" << 1 << "";
    QTest::newRow("Device ID is read-only") << 0 << "1" << 0 << "Device ID is read-only";
    QTest::newRow("Accelerometer X is read-only") << 6 << "1" << 0 << "read-only";
    QTest::newRow("inside a real") << 56 << "1" << 0 << "No register starts at address 56";
    QTest::newRow("past the map") << 176 << "1" << 0 << "address 176";
}

void RegisterTextTest::catalogueAddressesDecideTheType()
{
    QFETCH(int, address);
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, reasonPart);
    const RegisterText parsed = parseRegisterTextAt(address, text);
    QCOMPARE(parsed.accepted(), width > 0);
    if (width > 0)
        QCOMPARE(parsed.width, width);
    else
        QVERIFY2(parsed.refusal.contains(reasonPart), qPrintable(parsed.refusal));
}

// Whatever is taken is written as the float nearest to the text: no silent 0,
// no infinity, no other value.
void RegisterTextTest::everyAcceptedRealIsTheFloatTyped_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("tiny but normal") << "2e-38";
    QTest::newRow("calibration offset") << "-0.0123";
    QTest::newRow("large") << "1e25";
    QTest::newRow("nearly largest") << "3.4e38";
    QTest::newRow("largest as printed") << "3.4028235e38";
    QTest::newRow("nine digits") << "0.123456789";
}

void RegisterTextTest::everyAcceptedRealIsTheFloatTyped()
{
    QFETCH(QString, text);
    const RegisterText parsed = parseRegisterText(2, 4, text);
    QVERIFY2(parsed.accepted(), qPrintable(parsed.refusal));
    const float written = readF32(parsed.bytes);
    const double typed = text.toDouble();
    QVERIFY(qIsFinite(written));
    QVERIFY(written != 0.0f);
    // Within half a unit in the last place of the float (the wider of its two
    // gaps; above the largest float there is none).
    const float magnitude = std::fabs(written);
    const double below = double(magnitude) - double(std::nextafter(magnitude, 0.0f));
    const double above
        = double(std::nextafter(magnitude, std::numeric_limits<float>::infinity())) - magnitude;
    const double ulp = std::isinf(above) ? below : std::max(below, above);
    QVERIFY2(std::fabs(double(written) - typed) <= ulp / 2,
        qPrintable(QString::number(double(written), 'g', 12)));
}

QTEST_GUILESS_MAIN(RegisterTextTest)
#include "tst_registertext.moc"
