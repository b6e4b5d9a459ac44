// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration.h"
#include "floatbits.h"

#include <QtTest>

#include <array>
#include <cmath>
#include <limits>

namespace {

using Means = std::array<float, 36>;
const float notANumber = std::numeric_limits<float>::quiet_NaN();

// Six means Z-Up, Z-Down, Y-Up, Y-Down, X-Up, X-Down of a perfect sensor,
// used for both the estimation and the verification set.
Means idealMeans(float g)
{
    const float six[18] = {0, 0, g, 0, 0, -g, 0, g, 0, 0, -g, 0, g, 0, 0, -g, 0, 0};
    Means means;
    std::copy(six, six + 18, means.begin());
    std::copy(six, six + 18, means.begin() + 18);
    return means;
}

std::vector<Sample4> repeated(int n, const Sample4 &sample)
{
    return std::vector<Sample4>(std::size_t(n), sample);
}

} // namespace

class TestAccGyroEstimation : public QObject
{
    Q_OBJECT

private slots:
    void idealMeansGiveZeroOffsetIdentityAndFullQuality()
    {
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        const Calibration::ParamBlock block = c.get_ACC_CAL_PARAM();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(block[std::size_t(i)], 0.0f);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(block[std::size_t(3 + i)], (i % 4 == 0) ? 1.0f : 0.0f);
        QCOMPARE(bitsOf(c.ACC_CAL_QUALITY), 0x42C80002u); // 100.00002
        QCOMPARE(c.get_ACC_CAL_QUALITY(), 100);
    }

    void commonBiasMovesOnlyTheOffset()
    {
        Calibration c;
        const float bias[3] = {0.5f, -0.25f, 1.0f};
        Means means = idealMeans(c.LOCAL_GRAVITY);
        for (int k = 0; k < 12; ++k)
            for (int axis = 0; axis < 3; ++axis)
                means[std::size_t(3 * k + axis)] += bias[axis];
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        for (int axis = 0; axis < 3; ++axis)
            QCOMPARE(c.ACC_OFFSET[axis], bias[axis]);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(c.ACC_INV_SCL_FACTOR[i], (i % 4 == 0) ? 1.0f : 0.0f);
        QCOMPARE(bitsOf(c.ACC_CAL_QUALITY), 0x42C80002u);
    }

    void doubledXReadingsHalveTheXCorrection()
    {
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        for (int k = 0; k < 6; ++k)
            means[std::size_t(3 * k)] *= 2.0f;
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QCOMPARE(c.ACC_INV_SCL_FACTOR[0], 0.5f);
        QCOMPARE(c.ACC_INV_SCL_FACTOR[4], 1.0f);
        QCOMPARE(c.ACC_INV_SCL_FACTOR[8], 1.0f);
        // The verification means were not doubled: the x residuals now miss by g/2.
        QVERIFY(c.get_ACC_CAL_QUALITY() < 100);
    }

    void asymmetricCrossAxisTermsAreUndone()
    {
        // Readings = M * gravity + b with a response matrix M whose cross-axis
        // terms differ above and below the diagonal.
        const double response[9] = {1.01, 0.02, -0.01, -0.02, 0.98, 0.015, 0.005, -0.02, 1.02};
        const double bias[3] = {0.1, -0.2, 0.05};
        Calibration c;
        const double g = c.LOCAL_GRAVITY;
        const int axisOfPosition[6] = {2, 2, 1, 1, 0, 0};
        Means means;
        for (int k = 0; k < 6; ++k) {
            const double sign = (k % 2 == 0) ? 1.0 : -1.0;
            for (int j = 0; j < 3; ++j) {
                const float v = float(response[3 * j + axisOfPosition[k]] * sign * g + bias[j]);
                means[std::size_t(3 * k + j)] = v;
                means[std::size_t(18 + 3 * k + j)] = v;
            }
        }
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QCOMPARE(c.get_ACC_CAL_QUALITY(), 100);

        // Correcting each estimation mean gives back pure gravity along its axis.
        for (int k = 0; k < 6; ++k) {
            float d[3];
            for (int j = 0; j < 3; ++j)
                d[j] = means[std::size_t(3 * k + j)] - c.ACC_OFFSET[j];
            float out[3];
            multiplyMatrix(out, c.ACC_INV_SCL_FACTOR, d, 3, 3, 1);
            const double sign = (k % 2 == 0) ? 1.0 : -1.0;
            for (int j = 0; j < 3; ++j) {
                const double expected = (j == axisOfPosition[k]) ? sign * g : 0.0;
                QVERIFY2(std::fabs(out[j] - expected) < 1e-5,
                    qPrintable(QStringLiteral("position %1 axis %2: %3")
                                   .arg(k)
                                   .arg(j)
                                   .arg(double(out[j]))));
            }
        }
    }

    // One verification residual in each band, all others far outside every
    // band: the quality is exactly that band's step.
    void accelerometerQualityStepsAreExact_data()
    {
        QTest::addColumn<float>("residual");
        QTest::addColumn<quint32>("qualityBits");
        QTest::newRow("below 0.1") << 0.05f << quint32(0x40B1C71C);
        QTest::newRow("exactly 0.1") << 0.1f << quint32(0x3F8E38E3);
        QTest::newRow("below 0.2") << 0.15f << quint32(0x3F8E38E3);
        QTest::newRow("exactly 0.2") << 0.2f << quint32(0x3F0E38E3);
        QTest::newRow("below 0.5") << 0.3f << quint32(0x3F0E38E3);
        QTest::newRow("exactly 0.5") << 0.5f << quint32(0);
        QTest::newRow("NaN") << notANumber << quint32(0);
    }

    void accelerometerQualityStepsAreExact()
    {
        QFETCH(float, residual);
        QFETCH(quint32, qualityBits);
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        for (int i = 18; i < 36; ++i)
            means[std::size_t(i)] = 100.0f;
        means[18] = residual; // Z-Up, x axis: not along gravity, residual = |x|
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QCOMPARE(bitsOf(c.ACC_CAL_QUALITY), qualityBits);
    }

    void residualBandEdgesInTheIdealCase_data()
    {
        QTest::addColumn<float>("residual");
        QTest::addColumn<int>("rounded");
        // 17 x 5.5555553 plus the one step.
        QTest::newRow("exactly 0.1 earns 1.111111") << 0.1f << 96;
        QTest::newRow("exactly 0.5 earns nothing") << 0.5f << 94;
    }

    void residualBandEdgesInTheIdealCase()
    {
        QFETCH(float, residual);
        QFETCH(int, rounded);
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        means[18] = residual;
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QCOMPARE(c.get_ACC_CAL_QUALITY(), rounded);
    }

    void gravityResidualIsDistanceOfMagnitudeFromGravity()
    {
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        means[18 + 2] = -(c.LOCAL_GRAVITY + 0.3f); // Z-Up reads z = -(g + 0.3): |z| - g = 0.3
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QVERIFY(std::fabs(c.ACC_CAL_QUALITY - (17 * 5.5555553f + 0.5555555f)) < 1e-4f);
    }

    void identicalPairMeansGiveNonFiniteMatrixAndZeroQuality()
    {
        Calibration c;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        means[12] = means[15] = 1.0f; // X-Up and X-Down read the same x
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 0.0f, 0.0f);
        QVERIFY(!Calibration::isFiniteBlock(c.get_ACC_CAL_PARAM()));
        QCOMPARE(c.get_ACC_CAL_QUALITY(), 0);
    }

    void accelerometerEstimateLeavesOtherSensorsAlone()
    {
        Calibration c;
        const Calibration fresh;
        Means means = idealMeans(c.LOCAL_GRAVITY);
        c.set_ACC_CAL_PARAM_SLOT(means.data(), 1.0f, 2.0f);
        QCOMPARE(c.get_GYRO_CAL_PARAM(), fresh.get_GYRO_CAL_PARAM());
        QCOMPARE(c.get_MAG_CAL_PARAM(), fresh.get_MAG_CAL_PARAM());
        QCOMPARE(c.GYRO_CAL_QUALITY, 0.0f);
    }

    void steadyGyroscopeGivesOffsetAndFullQuality()
    {
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        c.set_GYRO_CAL_OFST(repeated(200, Sample4(1, 2, 3, 0)));
        QCOMPARE(c.GYRO_OFFSET[0], 1.0f);
        QCOMPARE(c.GYRO_OFFSET[1], 2.0f);
        QCOMPARE(c.GYRO_OFFSET[2], 3.0f);
        QCOMPARE(bitsOf(c.GYRO_CAL_QUALITY), 0x42C7FFFFu); // 99.99999
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), 100);
        // The matrix is not estimated.
        const Calibration fresh;
        for (int i = 0; i < 9; ++i)
            QCOMPARE(c.GYRO_INV_SCL_FACTOR[i], fresh.GYRO_INV_SCL_FACTOR[i]);
    }

    void gyroscopeOffsetDividesByRangeFactor()
    {
        Calibration c;
        c.set_GYRO_RNG_FACTOR(4.0f);
        c.set_GYRO_CAL_OFST(repeated(20, Sample4(8, -4, 2, 0)));
        QCOMPARE(c.GYRO_OFFSET[0], 2.0f);
        QCOMPARE(c.GYRO_OFFSET[1], -1.0f);
        QCOMPARE(c.GYRO_OFFSET[2], 0.5f);
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), 100);
    }

    void gyroscopeSpikeInFirstSampleCostsXInEverySegment()
    {
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        std::vector<Sample4> samples = repeated(200, Sample4(0, 0, 0, 0));
        samples[0].setX(39.0f);
        c.set_GYRO_CAL_OFST(samples);
        QCOMPARE(c.GYRO_OFFSET[0], 0.195f);
        QCOMPARE(c.GYRO_CAL_QUALITY, 66.66667f); // 10 x 6.6666665
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), 67);
    }

    void gyroscopeSamplesAfterFiveSegmentsAreNotScored()
    {
        // n = 200: segments of 39 samples cover 0..194; a wild tail is not scored
        // but still moves the offset.
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        std::vector<Sample4> samples = repeated(200, Sample4(0, 0, 0, 0));
        for (std::size_t i = 195; i < 200; ++i)
            samples[i] = Sample4(0.8f, 0, 0, 0);
        c.set_GYRO_CAL_OFST(samples);
        QCOMPARE(c.GYRO_OFFSET[0], 0.02f);
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), 100);

        samples[194] = Sample4(0, 0, 40.0f, 0); // last scored sample
        c.set_GYRO_CAL_OFST(samples);
        QVERIFY(c.get_GYRO_CAL_QUALITY() < 100);
    }

    void gyroscopeQualityWithFewSamples_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("quality");
        QTest::newRow("no samples") << 0 << 0;
        QTest::newRow("1") << 1 << 0;
        QTest::newRow("4") << 4 << 0;
        QTest::newRow("5, one sample per segment") << 5 << 100;
        QTest::newRow("7, one sample per segment") << 7 << 100;
        QTest::newRow("9, one sample per segment") << 9 << 100;
        QTest::newRow("10, one sample per segment") << 10 << 100;
    }

    void gyroscopeQualityWithFewSamples()
    {
        QFETCH(int, count);
        QFETCH(int, quality);
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        c.GYRO_CAL_QUALITY = 42.0f; // must not survive the estimate
        c.set_GYRO_CAL_OFST(repeated(count, Sample4(1, 2, 3, 0)));
        QCOMPARE(c.get_GYRO_CAL_QUALITY(), quality);
        if (count == 0)
            QVERIFY(std::isnan(c.GYRO_OFFSET[0]) && std::isnan(c.GYRO_OFFSET[2]));
        else
            QCOMPARE(c.GYRO_OFFSET[1], 2.0f);
    }

    void gyroscopeSegmentsOfOneSampleAreTheFirstFive()
    {
        // n = 10: segments are samples 0..4; sample 2 deviates by 0.12 on y.
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        std::vector<Sample4> samples = repeated(10, Sample4(0, 0, 0, 0));
        samples[2].setY(0.12f);
        samples[7].setY(-0.12f); // keeps the offset at 0, outside the segments
        c.set_GYRO_CAL_OFST(samples);
        QCOMPARE(c.GYRO_OFFSET[1], 0.0f);
        QVERIFY(std::fabs(c.GYRO_CAL_QUALITY - (14 * 6.6666665f + 0.6666666f)) < 1e-4f);
    }

    // One deviation in each band, the other axes NaN and the other segments far
    // off: the quality is exactly that band's step.
    void gyroscopeQualityStepsAreExact_data()
    {
        QTest::addColumn<float>("deviation");
        QTest::addColumn<quint32>("qualityBits");
        QTest::newRow("below 0.05") << 0.03f << quint32(0x40D55555);
        QTest::newRow("below 0.1") << 0.07f << quint32(0x3FAAAAAA);
        QTest::newRow("below 0.15") << 0.12f << quint32(0x3F2AAAAA);
        QTest::newRow("0.2") << 0.2f << quint32(0);
    }

    void gyroscopeQualityStepsAreExact()
    {
        QFETCH(float, deviation);
        QFETCH(quint32, qualityBits);
        Calibration c;
        c.set_GYRO_RNG_FACTOR(1.0f);
        // n = 10, one sample per segment (samples 0..4); 5..9 balance the sum.
        const float x[10] = {deviation, 1, 1, 1, 1, -1, -1, -1, -1, -deviation};
        std::vector<Sample4> samples;
        for (float v : x)
            samples.emplace_back(v, notANumber, notANumber, 0.0f);
        c.set_GYRO_CAL_OFST(samples);
        QVERIFY(std::fabs(c.GYRO_OFFSET[0]) < 1e-6f);
        QCOMPARE(bitsOf(c.GYRO_CAL_QUALITY), qualityBits);
    }

    void gyroscopeEstimateLeavesOtherSensorsAlone()
    {
        Calibration c;
        const Calibration fresh;
        c.set_GYRO_CAL_OFST(repeated(50, Sample4(1, 1, 1, 0)));
        QCOMPARE(c.get_ACC_CAL_PARAM(), fresh.get_ACC_CAL_PARAM());
        QCOMPARE(c.get_MAG_CAL_PARAM(), fresh.get_MAG_CAL_PARAM());
    }
};

QTEST_APPLESS_MAIN(TestAccGyroEstimation)
#include "tst_accgyroestimation.moc"
