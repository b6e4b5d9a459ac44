// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration.h"
#include "cloudgenerator.h"
#include "ellipsoidfit.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QStringList capturedDebug;

void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        capturedDebug.append(message);
}

// Debug lines written while the fit runs.
template <typename Call> QStringList debugLinesOf(Call call)
{
    capturedDebug.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    call();
    qInstallMessageHandler(previous);
    return capturedDebug;
}

// The value after "Average Square Diff: " in the captured lines.
float averageSquareDiff(const QStringList &lines, bool *found)
{
    const QString prefix = QStringLiteral("Average Square Diff: ");
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().toFloat(found);
    }
    *found = false;
    return 0.0f;
}

bool allNonFinite(const Calibration::ParamBlock &block)
{
    for (float v : block) {
        if (std::isfinite(v))
            return false;
    }
    return true;
}

float correctedRadius(const Calibration &c, const Sample4 &p)
{
    const float d[3] = {p.x() - c.MAG_OFFSET[0], p.y() - c.MAG_OFFSET[1], p.z() - c.MAG_OFFSET[2]};
    float out[3];
    multiplyMatrix(out, c.MAG_INV_SCL_FACTOR, d, 3, 3, 1);
    return std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
}

std::vector<Sample4> points(std::initializer_list<Sample4> list)
{
    return std::vector<Sample4>(list);
}

} // namespace

class TestMagFitting : public QObject
{
    Q_OBJECT

private slots:
    void method4OnSphereRecoversCentreRadiusAndFullQuality()
    {
        // (x - 1)^2 + (y + 1)^2 + (z - 0.5)^2 = 4
        const auto samples
            = clouds::cloud(clouds::unitSphere(200), {1.0, -1.0, 0.5}, clouds::diagonal(2, 2, 2));
        const AxisAlignedEllipsoid fit = fitAxisAlignedEllipsoid(samples);
        const float k[6] = {2, -2, 1, 1, 1, 1.75f};
        for (int i = 0; i < 6; ++i)
            QVERIFY2(std::fabs(fit.k[i] - k[i]) < 1e-4f, qPrintable(QString::number(i)));

        Calibration c;
        const QStringList lines = debugLinesOf([&] { c.setMagCalParamMthd4(samples); });
        const float offset[3] = {1, -1, 0.5f};
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::fabs(c.MAG_OFFSET[i] - offset[i]) < 1e-5f);
        for (int i = 0; i < 9; ++i) {
            if (i % 4 == 0)
                QVERIFY(std::fabs(c.MAG_INV_SCL_FACTOR[i] - 0.5f) < 1e-5f);
            else
                QCOMPARE(c.MAG_INV_SCL_FACTOR[i], 0.0f);
        }
        bool found = false;
        const float diff = averageSquareDiff(lines, &found);
        QVERIFY2(found, qPrintable(lines.join('|')));
        QVERIFY(diff >= 0.0f && diff < 1e-10f);
        QVERIFY(std::fabs(c.MAG_CAL_QUALITY - 100.0f) < 0.01f);
        QCOMPARE(c.get_MAG_CAL_QUALITY(), 100);
    }

    void method4OnAxisAlignedEllipsoidRecoversAxes()
    {
        const auto samples
            = clouds::cloud(clouds::unitSphere(300), {0, 0, 0}, clouds::diagonal(2, 1, 4));
        const AxisAlignedEllipsoid fit = fitAxisAlignedEllipsoid(samples);
        QVERIFY(std::fabs(fit.k[3] - 4.0f) < 1e-4f);
        QVERIFY(std::fabs(fit.k[4] - 0.25f) < 1e-5f);

        Calibration c;
        debugLinesOf([&] { c.setMagCalParamMthd4(samples); });
        const float diagonal[3] = {0.5f, 1.0f, 0.25f};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(std::fabs(c.MAG_INV_SCL_FACTOR[4 * i] - diagonal[i]) < 1e-5f);
            QVERIFY(std::fabs(c.MAG_OFFSET[i]) < 1e-5f);
        }
        QCOMPARE(c.get_MAG_CAL_QUALITY(), 100);
    }

    void method4QualityIsRmsDeviationOfCorrectedRadius()
    {
        // Half the points on radius 1, half on radius 1.2 (all centred): the fit
        // lands in between and the quality reports the misfit.
        auto inner = clouds::cloud(clouds::unitSphere(100), {0, 0, 0}, clouds::diagonal(1, 1, 1));
        const auto outer
            = clouds::cloud(clouds::unitSphere(100), {0, 0, 0}, clouds::diagonal(1.2, 1.2, 1.2));
        inner.insert(inner.end(), outer.begin(), outer.end());
        Calibration c;
        bool found = false;
        const float diff
            = averageSquareDiff(debugLinesOf([&] { c.setMagCalParamMthd4(inner); }), &found);
        QVERIFY(found);
        float sum = 0;
        for (const Sample4 &p : inner)
            sum += (1.0f - correctedRadius(c, p)) * (1.0f - correctedRadius(c, p));
        const float expected = sum / float(inner.size());
        QVERIFY(std::fabs(diff - expected) < 1e-4f * expected);
        QVERIFY(std::fabs(c.MAG_CAL_QUALITY - (1.0f - std::sqrt(expected)) * 100.0f) < 1e-3f);
        QVERIFY(c.get_MAG_CAL_QUALITY() < 100 && c.get_MAG_CAL_QUALITY() > 80);
    }

    void method1CorrectsRotatedEllipsoidToUnitRadius()
    {
        // Off-diagonal soft iron: the ellipsoid's axes are turned away from the sensor's.
        const clouds::Mat3 r = clouds::rotation(0.3, -0.5, 0.8);
        const clouds::Mat3 shape = clouds::multiply(
            r, clouds::multiply(clouds::diagonal(1.2, 0.8, 1.0), clouds::transpose(r)));
        const auto samples = clouds::cloud(clouds::unitSphere(500), {0.3, -0.2, 0.1}, shape);
        Calibration c;
        c.MAG_CAL_QUALITY = 37.0f;
        c.set_MAG_CAL_PARAM_MTHD1(samples);
        const float centre[3] = {0.3f, -0.2f, 0.1f};
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::fabs(c.MAG_OFFSET[i] - centre[i]) < 1e-5f);
        float worst = 0;
        for (const Sample4 &p : samples)
            worst = std::max(worst, std::fabs(correctedRadius(c, p) - 1.0f));
        QVERIFY2(worst < 1e-5f, qPrintable(QString::number(double(worst))));
        // The square root of a symmetric matrix is symmetric.
        QVERIFY(std::fabs(c.MAG_INV_SCL_FACTOR[1] - c.MAG_INV_SCL_FACTOR[3]) < 1e-5f);
        QVERIFY(std::fabs(c.MAG_INV_SCL_FACTOR[2] - c.MAG_INV_SCL_FACTOR[6]) < 1e-5f);
        QVERIFY(std::fabs(c.MAG_INV_SCL_FACTOR[5] - c.MAG_INV_SCL_FACTOR[7]) < 1e-5f);
        QCOMPARE(c.MAG_CAL_QUALITY, 37.0f); // Method 1 does not score
    }

    void method2BoundingBoxCentresAndScalesEachAxis()
    {
        Calibration c;
        c.MAG_CAL_QUALITY = 12.0f;
        c.set_MAG_CAL_PARAM_MTHD2(
            points({{-3, 10, 0, 0}, {5, 11, 2, 0}, {0, 14, -2, 0}, {2, 12, 1, 0}}));
        QCOMPARE(c.MAG_OFFSET[0], 1.0f);
        QCOMPARE(c.MAG_INV_SCL_FACTOR[0], 0.25f);
        QCOMPARE(c.MAG_OFFSET[1], 12.0f);
        QCOMPARE(c.MAG_INV_SCL_FACTOR[4], 0.5f);
        QCOMPARE(c.MAG_OFFSET[2], 0.0f);
        QCOMPARE(c.MAG_INV_SCL_FACTOR[8], 0.5f);
        for (int i : {1, 2, 3, 5, 6, 7})
            QCOMPARE(c.MAG_INV_SCL_FACTOR[i], 0.0f);
        QCOMPARE(c.MAG_CAL_QUALITY, 12.0f);
    }

    void method2WithEmptyListKeepsParameters()
    {
        Calibration c;
        const Calibration::ParamBlock before = c.get_MAG_CAL_PARAM();
        c.set_MAG_CAL_PARAM_MTHD2({});
        QCOMPARE(c.get_MAG_CAL_PARAM(), before);
    }

    void method2WithFlatAxisGivesInfiniteScale()
    {
        Calibration c;
        c.set_MAG_CAL_PARAM_MTHD2(points({{1, 2, 3, 0}}));
        QCOMPARE(c.MAG_OFFSET[0], 1.0f);
        QVERIFY(std::isinf(c.MAG_INV_SCL_FACTOR[0]));
    }

    // Method 3's evaluation with a known correction: rotZ holds one sample whose
    // corrected z is exactly -scale, so its mean is -scale and its spread 0.
    void method3MeanBands_data()
    {
        QTest::addColumn<float>("offFromSigma");
        QTest::addColumn<int>("meanPoints");
        QTest::newRow("mean exactly -sigma") << 0.0f << 10;
        QTest::newRow("-sigma + 0.07") << 0.07f << 5;
        QTest::newRow("-sigma + 0.12") << 0.12f << 0;
    }

    void method3MeanBands()
    {
        QFETCH(float, offFromSigma);
        QFETCH(int, meanPoints);
        const float sigma = std::sin(0.95990276f);
        Calibration c;
        const float offset[3] = {0, 0, 0};
        const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, sigma - offFromSigma};
        c.load_MAG_CAL_PARAM(offset, matrix);
        c.scoreMagMethod3({}, points({{0.5f, 0.5f, -1.9f, 0}}), {}, {});
        // Empty rotY and rotX sets have NaN means and spreads and score nothing;
        // a single sample has spread 0 (10 points).
        QCOMPARE(c.MAG_CAL_QUALITY, float(meanPoints + 10));
        QCOMPARE(c.LOCAL_INCLINATION, 0.95990276f);
    }

    void method3MeanBandEdgesAreStrict()
    {
        const float sigma = std::sin(0.95990276f);
        Calibration c;
        const float offset[3] = {0, 0, 0};
        const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, sigma - 0.07f};
        c.load_MAG_CAL_PARAM(offset, matrix);
        const float f = std::fabs(-(sigma - 0.07f) + sigma);
        const auto rotY = points({{0, -1, 0, 0}}); // corrected y = -1: far from -sigma
        c.MAG_MEAN_BANDS[0] = f; // exactly on the lower edge: neither 10 nor 5
        c.scoreMagMethod3({}, points({{0, 0, -1, 0}}), rotY, {});
        QCOMPARE(c.MAG_CAL_QUALITY, 20.0f); // spreads of rotZ and rotY only
        c.MAG_MEAN_BANDS[0] = 0.05f;
        c.MAG_MEAN_BANDS[1] = f; // exactly on the upper edge
        c.scoreMagMethod3({}, points({{0, 0, -1, 0}}), rotY, {});
        QCOMPARE(c.MAG_CAL_QUALITY, 20.0f);
        c.MAG_MEAN_BANDS[1] = 0.1f;
        c.scoreMagMethod3({}, points({{0, 0, -1, 0}}), rotY, {});
        QCOMPARE(c.MAG_CAL_QUALITY, 25.0f);
    }

    // Two samples with corrected components 0 and -2 s: spread s^2.
    void method3SpreadBands_data()
    {
        QTest::addColumn<int>("set");
        QTest::addColumn<float>("scale");
        QTest::addColumn<int>("spreadPoints");
        for (int set = 0; set < 3; ++set) {
            const char *name[3] = {"rotZ", "rotY", "rotX"};
            QTest::addRow("%s spread 0.0025", name[set]) << set << 0.05f << 10;
            QTest::addRow("%s spread 0.0225", name[set]) << set << 0.15f << 5;
            QTest::addRow("%s spread 0.09", name[set]) << set << 0.3f << 0;
        }
    }

    void method3SpreadBands()
    {
        QFETCH(int, set);
        QFETCH(float, scale);
        QFETCH(int, spreadPoints);
        const int axis = 2 - set; // rotZ judges z, rotY y, rotX x
        Calibration c;
        const float offset[3] = {0, 0, 0};
        const float matrix[9] = {scale, 0, 0, 0, scale, 0, 0, 0, scale};
        c.load_MAG_CAL_PARAM(offset, matrix);
        Sample4 zero(0, 0, 0, 0);
        Sample4 two(0, 0, 0, 0);
        two[axis] = -2.0f;
        std::vector<Sample4> sets[3];
        sets[set] = {zero, two};
        c.scoreMagMethod3({}, sets[0], sets[1], sets[2]);
        // Mean -s is far from -sigma for these scales: only the spread scores.
        QCOMPARE(c.MAG_CAL_QUALITY, float(spreadPoints));
    }

    void method3TruncatesSamplesTowardZeroBeforeCorrecting()
    {
        Calibration c;
        const float offset[3] = {0, 0, 0};
        const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        c.load_MAG_CAL_PARAM(offset, matrix);
        // 0.9 and -0.9 truncate to 0: on an octant boundary, counted nowhere.
        c.scoreMagMethod3(
            points({{0.9f, 1, 1, 0}, {1, -0.9f, 1, 0}, {-1.5f, -1, -2, 0}}), {}, {}, {});
        int total = 0;
        for (int count : c.MAG_OCTANT_COUNT)
            total += count;
        QCOMPARE(total, 1);
        QCOMPARE(c.MAG_OCTANT_COUNT[7], 1);
    }

    void method3OctantCountsNeedMoreThanThirty()
    {
        Calibration c;
        const float offset[3] = {0, 0, 0};
        const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        c.load_MAG_CAL_PARAM(offset, matrix);
        // Sign patterns in counter order: +++, ++-, +-+, -++, +--, -+-, --+, ---.
        const Sample4 octant[8] = {{1, 1, 1, 0}, {1, 1, -1, 0}, {1, -1, 1, 0}, {-1, 1, 1, 0},
            {1, -1, -1, 0}, {-1, 1, -1, 0}, {-1, -1, 1, 0}, {-1, -1, -1, 0}};
        std::vector<Sample4> all;
        for (int i = 0; i < 8; ++i)
            all.insert(all.end(), std::size_t(i % 2 == 0 ? 30 : 31), octant[i]);
        c.scoreMagMethod3(all, {}, {}, {});
        for (int i = 0; i < 8; ++i)
            QCOMPARE(c.MAG_OCTANT_COUNT[i], i % 2 == 0 ? 30 : 31);
        QCOMPARE(c.MAG_CAL_QUALITY, 20.0f); // four octants with 31

        // Counts are not reset: the same list again puts every octant past 30.
        c.scoreMagMethod3(all, {}, {}, {});
        for (int i = 0; i < 8; ++i)
            QCOMPARE(c.MAG_OCTANT_COUNT[i], i % 2 == 0 ? 60 : 62);
        QCOMPARE(c.MAG_CAL_QUALITY, 40.0f);
    }

    void method3CountsGrowAcrossFullCalls()
    {
        const auto all
            = clouds::cloud(clouds::unitSphere(400), {10, -20, 5}, clouds::diagonal(300, 250, 280));
        std::vector<Sample4> rot[3];
        for (int axis = 0; axis < 3; ++axis)
            rot[axis] = clouds::cloud(clouds::turnAbout(axis, 0.95990276, 60), {10, -20, 5},
                clouds::diagonal(300, 250, 280));
        Calibration c;
        debugLinesOf([&] { c.set_MAG_CAL_PARAM_MTHD3(all, rot[2], rot[1], rot[0]); });
        int first[8];
        int total = 0;
        for (int i = 0; i < 8; ++i) {
            first[i] = c.MAG_OCTANT_COUNT[i];
            total += first[i];
        }
        QVERIFY(total > 350 && total <= 400);
        debugLinesOf([&] { c.set_MAG_CAL_PARAM_MTHD3(all, rot[2], rot[1], rot[0]); });
        for (int i = 0; i < 8; ++i)
            QCOMPARE(c.MAG_OCTANT_COUNT[i], 2 * first[i]);
    }

    void degenerateCloudsGiveNonFiniteResultsWithoutCrashing_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("coplanar");
        QTest::newRow("method 4, no samples") << 4 << 0 << false;
        QTest::newRow("method 4, five samples") << 4 << 5 << false;
        QTest::newRow("method 4, coplanar") << 4 << 50 << true;
        QTest::newRow("method 1, no samples") << 1 << 0 << false;
        QTest::newRow("method 1, eight samples") << 1 << 8 << false;
        QTest::newRow("method 1, coplanar") << 1 << 50 << true;
        QTest::newRow("method 3, no samples") << 3 << 0 << false;
        QTest::newRow("method 3, coplanar") << 3 << 50 << true;
    }

    void degenerateCloudsGiveNonFiniteResultsWithoutCrashing()
    {
        QFETCH(int, method);
        QFETCH(int, count);
        QFETCH(bool, coplanar);
        std::vector<Sample4> samples;
        for (const clouds::Vec3 &u : clouds::unitSphere(count)) {
            samples.emplace_back(
                float(1 + 2 * u[0]), float(2 * u[1]), coplanar ? 0.5f : float(-1 + 2 * u[2]), 0.0f);
        }
        Calibration c;
        const QStringList lines = debugLinesOf([&] {
            if (method == 4)
                c.setMagCalParamMthd4(samples);
            else if (method == 1)
                c.set_MAG_CAL_PARAM_MTHD1(samples);
            else
                c.set_MAG_CAL_PARAM_MTHD3(samples, samples, samples, samples);
        });
        const Calibration::ParamBlock block = c.get_MAG_CAL_PARAM();
        QVERIFY(!Calibration::isFiniteBlock(block));
        if (count < 6 && method == 4) {
            // Offsets and scale factors; the off-diagonal elements are set to 0.
            for (int i : {0, 1, 2, 3, 7, 11})
                QVERIFY(std::isnan(block[std::size_t(i)]));
            QVERIFY(std::isnan(c.MAG_CAL_QUALITY));
            QCOMPARE(c.get_MAG_CAL_QUALITY(), 0);
        }
        if (count < 9 && method == 1)
            QVERIFY(allNonFinite(block));
        if (method == 4 && count == 0) {
            bool found = false;
            QVERIFY(std::isnan(averageSquareDiff(lines, &found)));
            QVERIFY(found);
        }
    }

    void method3WithEmptyRotationSetGivesNonFiniteMatrix()
    {
        const auto all
            = clouds::cloud(clouds::unitSphere(200), {0, 0, 0}, clouds::diagonal(300, 300, 300));
        const auto turn = clouds::cloud(
            clouds::turnAbout(2, 0.95990276, 40), {0, 0, 0}, clouds::diagonal(300, 300, 300));
        Calibration c;
        debugLinesOf([&] { c.set_MAG_CAL_PARAM_MTHD3(all, turn, {}, turn); });
        // The Method 4 part is sound; the axis alignment is not.
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::fabs(c.MAG_OFFSET[i]) < 1e-3f);
        QVERIFY(!Calibration::isFiniteBlock(c.get_MAG_CAL_PARAM()));
    }
};

QTEST_APPLESS_MAIN(TestMagFitting)
#include "tst_magfitting.moc"
