// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration.h"
#include "floatbits.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestCalibrationParams : public QObject
{
    Q_OBJECT

private slots:
    void constructorSetsDefaultConstantsBitExact()
    {
        const Calibration c;
        QCOMPARE(bitsOf(c.GYRO_RNG_FACTOR), 0x4303126Fu);
        QCOMPARE(bitsOf(c.LOCAL_GRAVITY), 0x411CB54Au);
        QCOMPARE(bitsOf(c.LOCAL_INCLINATION), 0x3F714468u);
        QCOMPARE(c.ACC_RNG_FACTOR, 1.0f);
        QCOMPARE(c.MAG_RNG_SCL, 4800.0f);
        QCOMPARE(c.LOCAL_MAGNITUDE, 48.0f);
        QCOMPARE(c.MAG_OCTANT_MIN, 30);
        for (int count : c.MAG_OCTANT_COUNT)
            QCOMPARE(count, 0);
        QCOMPARE(c.ACC_CAL_QUALITY, 0.0f);
        QCOMPARE(c.GYRO_CAL_QUALITY, 0.0f);
        QCOMPARE(c.MAG_CAL_QUALITY, 0.0f);
    }

    void constructorSetsDefaultParameterBlocks()
    {
        const Calibration c;
        const std::uint32_t accMatrix[9] = {0x3A1CE2E3, 0x374ED9C0, 0x378D013F, 0xB7E532CD,
            0x3A1CD137, 0xB6FFE402, 0xB7366318, 0xB4DC94D5, 0x3A1BDDFE};
        const Calibration::ParamBlock acc = c.get_ACC_CAL_PARAM();
        QCOMPARE(acc[0], 401.51f);
        QCOMPARE(acc[1], 856.3425f);
        QCOMPARE(acc[2], 344.535f);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(bitsOf(acc[std::size_t(3 + i)]), accMatrix[i]);

        const Calibration::ParamBlock gyro = c.get_GYRO_CAL_PARAM();
        QCOMPARE(gyro[0], 2.8105927f);
        QCOMPARE(gyro[1], 2.310257f);
        QCOMPARE(gyro[2], 0.12992859f);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(bitsOf(gyro[std::size_t(3 + i)]), (i % 4 == 0) ? 0x3C8EFA35u : 0u);

        const Calibration::ParamBlock mag = c.get_MAG_CAL_PARAM();
        const float magBlock[12] = {-141.8641f, 79.1164f, 109.971f, 0.0087f, -0.0002f, 0.0003f,
            -0.0001f, 0.0078f, -0.0005f, -0.0006f, -0.0001f, 0.0077f};
        for (int i = 0; i < 12; ++i)
            QCOMPARE(mag[std::size_t(i)], magBlock[i]);
    }

    void defaultAccelerometerCorrectionOfWorkedSample()
    {
        Calibration c;
        const int raw[3] = {401, 856, 345};
        float out[3];
        c.calibrate_ACC(out, raw);
        // To the digits of the worked example...
        QVERIFY(std::fabs(out[0] - -0.00030f) < 0.000005f);
        QVERIFY(std::fabs(out[1] - -0.00019f) < 0.000005f);
        QVERIFY(std::fabs(out[2] - 0.00028f) < 0.000005f);
        // ...and tightly against the rows times (-0.51, -0.3425, 0.465) in double.
        const double d[3] = {401.0 - 401.51f, 856.0 - 856.3425f, 345.0 - 344.535f};
        for (int i = 0; i < 3; ++i) {
            double expected = 0;
            for (int j = 0; j < 3; ++j)
                expected += double(c.ACC_INV_SCL_FACTOR[3 * i + j]) * d[j];
            QVERIFY2(std::fabs(out[i] - expected) < 1e-9, qPrintable(QString::number(i)));
        }
    }

    void accelerometerCorrectionDividesByRangeFactorBeforeOffset()
    {
        Calibration c;
        const float zero[3] = {1, 2, 3};
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        c.load_ACC_CAL_PARAM(zero, identity);
        c.set_ACC_RNG_FACTOR(4.0f);
        const int raw[3] = {8, 8, -8};
        float out[3];
        c.calibrate_ACC(out, raw);
        QCOMPARE(out[0], 1.0f);
        QCOMPARE(out[1], 0.0f);
        QCOMPARE(out[2], -5.0f);
    }

    void gyroscopeCorrectionConvertsDegreesToRadians()
    {
        Calibration c;
        const float zero[3] = {0, 0, 0};
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        c.load_GYRO_CAL_PARAM(zero, identity);
        c.set_GYRO_RNG_FACTOR(1.0f);
        const int raw[3] = {180, 0, -90};
        float out[3];
        c.calibrate_GYRO(out, raw);
        QCOMPARE(out[0], 3.1415927f);
        QCOMPARE(out[1], 0.0f);
        QCOMPARE(out[2], -1.5707964f);
    }

    void gyroscopeCorrectionWithDefaultsUsesRangeAndOffsetButNoMatrix()
    {
        Calibration c;
        const int raw[3] = {131, 0, 0};
        float out[3];
        c.calibrate_GYRO(out, raw);
        const double expected = (131.0 / 131.072 - 2.8105927) * 0.017453292;
        QVERIFY(std::fabs(out[0] - expected) < 1e-7);
        QVERIFY(std::fabs(out[1] - -2.310257 * 0.017453292) < 1e-7);
        QVERIFY(std::fabs(out[2] - -0.12992859 * 0.017453292) < 1e-8);
    }

    void magnetometerCorrectionAppliesFullMatrixWithoutRangeFactor()
    {
        Calibration c;
        const float offset[3] = {10, 20, 30};
        const float matrix[9] = {1, 2, 0, 0, 1, 0, 0.5f, 0, 1};
        c.load_MAG_CAL_PARAM(offset, matrix);
        const int raw[3] = {11, 23, 25};
        float out[3];
        c.calibrate_MAG(out, raw);
        QCOMPARE(out[0], 7.0f); // 1 + 2 * 3
        QCOMPARE(out[1], 3.0f);
        QCOMPARE(out[2], -4.5f); // 0.5 - 5
    }

    void loadThenGetReturnsBlockInParameterOrder()
    {
        Calibration c;
        float offset[3];
        float matrix[9];
        for (int i = 0; i < 3; ++i)
            offset[i] = 0.25f * float(i + 1);
        for (int i = 0; i < 9; ++i)
            matrix[i] = -1.5f * float(i + 1);
        c.load_MAG_CAL_PARAM(offset, matrix);
        const Calibration::ParamBlock mag = c.get_MAG_CAL_PARAM();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(mag[std::size_t(i)], offset[i]);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(mag[std::size_t(3 + i)], matrix[i]);

        // The other sensors keep their parameters.
        const Calibration fresh;
        QCOMPARE(c.get_ACC_CAL_PARAM(), fresh.get_ACC_CAL_PARAM());
        QCOMPARE(c.get_GYRO_CAL_PARAM(), fresh.get_GYRO_CAL_PARAM());

        c.load_ACC_CAL_PARAM(offset, matrix);
        QCOMPARE(c.get_ACC_CAL_PARAM(), mag);
        c.load_GYRO_CAL_PARAM(offset, matrix);
        QCOMPARE(c.get_GYRO_CAL_PARAM(), mag);
    }

    void localMagnetParamsWithTwoArgumentsResetInclination()
    {
        Calibration c;
        c.set_LOCAL_MAGNET_PARAMS(1200.0f, 50.5f, 1.1f);
        QCOMPARE(c.MAG_RNG_SCL, 1200.0f);
        QCOMPARE(c.LOCAL_MAGNITUDE, 50.5f);
        QCOMPARE(c.LOCAL_INCLINATION, 1.1f);
        c.set_LOCAL_MAGNET_PARAMS(4800.0f, 48.0f);
        QCOMPARE(c.LOCAL_INCLINATION, 0.0f);
        c.set_Local_Gravity_Magnitude(9.81f);
        QCOMPARE(c.LOCAL_GRAVITY, 9.81f);
    }

    void qualityGettersRoundHalfAwayFromZero_data()
    {
        QTest::addColumn<float>("quality");
        QTest::addColumn<int>("rounded");
        QTest::newRow("49.5 up") << 49.5f << 50;
        QTest::newRow("49.49 down") << 49.49f << 49;
        QTest::newRow("100.00002") << floatFromBits(0x42C80002) << 100;
        QTest::newRow("99.99999") << 99.99999f << 100;
        QTest::newRow("-2.5 away from zero") << -2.5f << -3;
        QTest::newRow("NaN reads as 0") << std::numeric_limits<float>::quiet_NaN() << 0;
        QTest::newRow("-inf reads as 0") << -std::numeric_limits<float>::infinity() << 0;
        QTest::newRow("huge negative clamps") << -1e20f << std::numeric_limits<int>::min();
    }

    void qualityGettersRoundHalfAwayFromZero()
    {
        QFETCH(float, quality);
        QFETCH(int, rounded);
        Calibration c;
        c.ACC_CAL_QUALITY = quality;
        c.GYRO_CAL_QUALITY = quality;
        c.MAG_CAL_QUALITY = quality;
        QCOMPARE(c.get_ACC_CAL_QUALITY(), rounded);
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), rounded);
        QCOMPARE(c.get_MAG_CAL_QUALITY(), rounded);
    }

    void finiteBlockCheckRejectsAnyNaNOrInfinity_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("finite");
        QTest::newRow("all finite") << 0 << 1.0f << true;
        QTest::newRow("NaN offset") << 1 << std::numeric_limits<float>::quiet_NaN() << false;
        QTest::newRow("inf in matrix") << 11 << std::numeric_limits<float>::infinity() << false;
        QTest::newRow("-inf in matrix") << 5 << -std::numeric_limits<float>::infinity() << false;
    }

    void finiteBlockCheckRejectsAnyNaNOrInfinity()
    {
        QFETCH(int, index);
        QFETCH(float, value);
        QFETCH(bool, finite);
        Calibration::ParamBlock block = Calibration().get_ACC_CAL_PARAM();
        block[std::size_t(index)] = value;
        QCOMPARE(Calibration::isFiniteBlock(block), finite);
    }

    void zeroRangeFactorGivesNonFiniteCorrection()
    {
        Calibration c;
        c.set_ACC_RNG_FACTOR(0.0f);
        const int raw[3] = {1, 2, 3};
        float out[3];
        c.calibrate_ACC(out, raw);
        QVERIFY(!std::isfinite(out[0]) && !std::isfinite(out[1]) && !std::isfinite(out[2]));
    }
};

QTEST_APPLESS_MAIN(TestCalibrationParams)
#include "tst_calibrationparams.moc"
