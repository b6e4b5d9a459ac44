// SPDX-License-Identifier: GPL-3.0-or-later
// The magnetometer's unit is decided once, from the module's calibration
// registers, and every place that names it says the same.
#include "backendtestsupport.h"
#include "connectionstatus.h"
#include "magunit.h"
#include "record.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace backendtest;

namespace {

// The 48 bytes of the magnetometer calibration as the factory leaves them.
QByteArray factoryMagBlock()
{
    const auto defaults = defaultBlock();
    return QByteArray(reinterpret_cast<const char *>(defaults.data())
            + (RegisterMap::MagCalibration.address - writableStart),
        RegisterMap::MagCalibration.count);
}

QByteArray withReal(QByteArray block, int index, float value)
{
    writeF32(reinterpret_cast<quint8 *>(block.data()) + 4 * index, value);
    return block;
}

} // namespace

class TestMagUnit : public QObject
{
    Q_OBJECT

private slots:
    void calibratedWhenTheBlockDiffersFromTheFactory_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<bool>("calibrated");
        const QByteArray factory = factoryMagBlock();
        QTest::newRow("factory default") << factory << false;
        QTest::newRow("-0 offset reads as the factory's 0") << withReal(factory, 1, -0.0f) << false;
        QTest::newRow("offset") << withReal(factory, 0, 0.125f) << true;
        QTest::newRow("matrix scaled to the local field") << withReal(factory, 3, 2.05f) << true;
        QTest::newRow("off-diagonal") << withReal(factory, 7, 0.01f) << true;
        QTest::newRow("last matrix entry") << withReal(factory, 11, 0.5f) << true;
        QTest::newRow("not a number")
            << withReal(factory, 4, std::numeric_limits<float>::quiet_NaN()) << true;
    }

    void calibratedWhenTheBlockDiffersFromTheFactory()
    {
        QFETCH(QByteArray, block);
        QFETCH(bool, calibrated);
        QCOMPARE(block.size(), 48);
        QCOMPARE(magCalibrated(reinterpret_cast<const quint8 *>(block.constData())), calibrated);
    }

    // The same words everywhere: the backend, the status strip, the CSV header.
    void everyPlaceNamesTheUnitTheModuleHolds()
    {
        DurUzaBackend backend;
        setRange(backend, 1442, 0x00);
        QSignalSpy changed(&backend, &DurUzaBackend::magUnitChanged);
        QCOMPARE(backend.magUnit(), QStringLiteral("gauss"));

        const QByteArray calibrated = withReal(withReal(factoryMagBlock(), 3, 2.0f), 7, 2.0f);
        awaitAnswer(
            backend, RegisterMap::MagCalibration.address, RegisterMap::MagCalibration.count);
        feed(backend, dataFrame(RegisterMap::MagCalibration.address, calibrated));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(backend.magUnit(), QStringLiteral("relative to the local field"));
        QCOMPARE(backend.magUnit(), magUnitText(backend.magCalibrated()));
        QVERIFY(rangesText(FullScales {20, 250, 2}, backend.magCalibrated())
                    .endsWith(QStringLiteral("Mag ±2 relative to the local field")));
        QVERIFY(csvHeaderRow(backend.magCalibrated())
                    .contains("mag_x_relative_to_the_local_field,mag_y_relative_to_the_local_"
                              "field,mag_z_relative_to_the_local_field,"));

        // A factory reset puts the identity back: gauss again.
        awaitAnswer(
            backend, RegisterMap::MagCalibration.address, RegisterMap::MagCalibration.count);
        feed(backend, dataFrame(RegisterMap::MagCalibration.address, factoryMagBlock()));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(backend.magUnit(), QStringLiteral("gauss"));
        QVERIFY(csvHeaderRow(false).contains("mag_x_gauss,mag_y_gauss,mag_z_gauss,"));
        QVERIFY(rangesText(FullScales {20, 250, 2}).endsWith(QStringLiteral("Mag ±2 gauss")));
    }
};

QTEST_MAIN(TestMagUnit)
#include "tst_magunit.moc"
