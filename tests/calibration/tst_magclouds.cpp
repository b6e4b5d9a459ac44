// SPDX-License-Identifier: GPL-3.0-or-later
// The magnetometer fits against seeded clouds with a known centre and shape
// and added noise. Each check states the error it allows and why.

#include "calibration.h"
#include "cloudgenerator.h"

#include <QtTest>

#include <cmath>

using namespace clouds;

namespace {

void silenceDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

std::vector<Vec3> randomDirections(Noise &noise, int n)
{
    std::vector<Vec3> directions;
    while (int(directions.size()) < n) {
        const Vec3 g {noise.gaussian(), noise.gaussian(), noise.gaussian()};
        const double norm = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
        if (norm > 1e-6)
            directions.push_back({g[0] / norm, g[1] / norm, g[2] / norm});
    }
    return directions;
}

double largestDifference(const float *actual, const Mat3 &expected)
{
    double worst = 0;
    for (int i = 0; i < 9; ++i)
        worst = std::max(worst, std::fabs(double(actual[i]) - expected[std::size_t(i)]));
    return worst;
}

double largestDifference(const float *actual, const Vec3 &expected)
{
    double worst = 0;
    for (int i = 0; i < 3; ++i)
        worst = std::max(worst, std::fabs(double(actual[i]) - expected[std::size_t(i)]));
    return worst;
}

// RMS of (corrected radius - 1) over noise-free points of the true ellipsoid.
double rmsRadiusError(const Calibration &c, const std::vector<Sample4> &truth)
{
    double sum = 0;
    for (const Sample4 &p : truth) {
        const double d[3] = {p.x() - double(c.MAG_OFFSET[0]), p.y() - double(c.MAG_OFFSET[1]),
            p.z() - double(c.MAG_OFFSET[2])};
        double r2 = 0;
        for (int i = 0; i < 3; ++i) {
            const double v = c.MAG_INV_SCL_FACTOR[3 * i] * d[0]
                + c.MAG_INV_SCL_FACTOR[3 * i + 1] * d[1] + c.MAG_INV_SCL_FACTOR[3 * i + 2] * d[2];
            r2 += v * v;
        }
        sum += (std::sqrt(r2) - 1.0) * (std::sqrt(r2) - 1.0);
    }
    return std::sqrt(sum / double(truth.size()));
}

} // namespace

class TestMagClouds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(silenceDebug); }

    // Shapes in the live magnetometer unit (semi-axes of tens), noise 0.5 % of
    // the largest semi-axis.
    void method4RecoversAxisAlignedEllipsoid_data()
    {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<double>("cx");
        QTest::addColumn<double>("cy");
        QTest::addColumn<double>("cz");
        QTest::addColumn<double>("ax");
        QTest::addColumn<double>("ay");
        QTest::addColumn<double>("az");
        QTest::newRow("offset hard iron") << 11u << 12.0 << -7.0 << 20.0 << 48.0 << 40.0 << 55.0;
        QTest::newRow("centred, flat z") << 12u << 0.0 << 0.0 << 0.0 << 50.0 << 52.0 << 30.0;
        QTest::newRow("large offset") << 13u << -60.0 << 35.0 << 45.0 << 45.0 << 47.0 << 43.0;
    }

    void method4RecoversAxisAlignedEllipsoid()
    {
        QFETCH(uint, seed);
        QFETCH(double, cx);
        QFETCH(double, cy);
        QFETCH(double, cz);
        QFETCH(double, ax);
        QFETCH(double, ay);
        QFETCH(double, az);
        Noise noise(seed);
        const std::vector<Vec3> directions = randomDirections(noise, 2000);
        const double sigma = 0.005 * std::max(ax, std::max(ay, az));
        const auto samples = cloud(directions, {cx, cy, cz}, diagonal(ax, ay, az), sigma, &noise);

        Calibration c;
        c.setMagCalParamMthd4(samples);

        // The noise enters the fit through the squared terms (about 2 a sigma per
        // point), which 2000 points average down to a few hundredths of a unit
        // of centre; allow 0.1 units (0.2 % of the radius).
        const double centreError = largestDifference(c.MAG_OFFSET, Vec3 {cx, cy, cz});
        QVERIFY2(centreError < 0.1, qPrintable(QString::number(centreError)));
        // Scale factors: 0.5 % noise per point averages to about 0.1 % on the
        // flattest axis; allow 0.5 % of the largest factor.
        const Mat3 expected = diagonal(1 / ax, 1 / ay, 1 / az);
        const double scaleError = largestDifference(c.MAG_INV_SCL_FACTOR, expected);
        QVERIFY2(scaleError < 0.005 / std::min(ax, std::min(ay, az)),
            qPrintable(QString::number(scaleError)));
        // Quality reflects only the noise: RMS radius error ~ 0.5 % -> about 99.5.
        QVERIFY2(c.MAG_CAL_QUALITY > 99.0f && c.MAG_CAL_QUALITY < 100.0f,
            qPrintable(QString::number(double(c.MAG_CAL_QUALITY))));
    }

    void method1RecoversRotatedEllipsoid_data()
    {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<double>("turn");
        QTest::newRow("mild soft iron") << 21u << 0.4;
        QTest::newRow("strong soft iron") << 22u << 1.1;
    }

    void method1RecoversRotatedEllipsoid()
    {
        QFETCH(uint, seed);
        QFETCH(double, turn);
        Noise noise(seed);
        const Mat3 r = rotation(turn, -0.7 * turn, 0.5 * turn);
        const Vec3 semiAxes {1.3, 0.8, 1.0};
        const Mat3 shape
            = multiply(r, multiply(diagonal(semiAxes[0], semiAxes[1], semiAxes[2]), transpose(r)));
        const Vec3 centre {0.4, -0.3, 0.2};
        const std::vector<Vec3> directions = randomDirections(noise, 3000);
        const auto samples = cloud(directions, centre, shape, 0.005, &noise);

        Calibration c;
        c.set_MAG_CAL_PARAM_MTHD1(samples);

        // The correction is the symmetric square root of the ellipsoid's matrix:
        // R diag(1 / semi-axes) R^T. Noise 0.005 over 3000 points averages to
        // ~1e-4; the 9-unknown float normal equations cost ~1e-3. Allow 5e-3.
        const Mat3 expected = multiply(
            r, multiply(diagonal(1 / semiAxes[0], 1 / semiAxes[1], 1 / semiAxes[2]), transpose(r)));
        const double matrixError = largestDifference(c.MAG_INV_SCL_FACTOR, expected);
        QVERIFY2(matrixError < 5e-3, qPrintable(QString::number(matrixError)));
        const double centreError = largestDifference(c.MAG_OFFSET, centre);
        QVERIFY2(centreError < 5e-3, qPrintable(QString::number(centreError)));
        // Noise-free points of the true ellipsoid land on the unit sphere to 0.5 %.
        const double rms = rmsRadiusError(c, cloud(directions, centre, shape));
        QVERIFY2(rms < 5e-3, qPrintable(QString::number(rms)));
    }

    void method2RecoversBox()
    {
        // Points on the faces of the box [-20, 60] x [-45, 15] x [10, 40], each
        // coordinate jittered uniformly by at most 0.3.
        Noise noise(31);
        const Vec3 lo {-20, -45, 10};
        const Vec3 hi {60, 15, 40};
        const double jitter = 0.3;
        std::vector<Sample4> samples;
        for (int i = 0; i < 600; ++i) {
            Vec3 p {noise.uniform(lo[0], hi[0]), noise.uniform(lo[1], hi[1]),
                noise.uniform(lo[2], hi[2])};
            const int face = i % 6;
            p[std::size_t(face / 2)]
                = (face % 2 == 0) ? lo[std::size_t(face / 2)] : hi[std::size_t(face / 2)];
            samples.emplace_back(float(p[0] + noise.uniform(-jitter, jitter)),
                float(p[1] + noise.uniform(-jitter, jitter)),
                float(p[2] + noise.uniform(-jitter, jitter)), 0.0f);
        }
        Calibration c;
        c.set_MAG_CAL_PARAM_MTHD2(samples);
        for (int axis = 0; axis < 3; ++axis) {
            const double width = hi[std::size_t(axis)] - lo[std::size_t(axis)];
            // min and max each move by at most the jitter: the centre by at most
            // the jitter, the width by at most twice the jitter.
            QVERIFY(
                std::fabs(c.MAG_OFFSET[axis] - (lo[std::size_t(axis)] + hi[std::size_t(axis)]) / 2)
                <= jitter);
            const double scale = c.MAG_INV_SCL_FACTOR[4 * axis];
            QVERIFY(scale <= 2 / (width - 2 * jitter) && scale >= 2 / (width + 2 * jitter));
        }
        for (int i : {1, 2, 3, 5, 6, 7})
            QCOMPARE(c.MAG_INV_SCL_FACTOR[i], 0.0f);
    }

    // Method 3 in raw counts (semi-axes of hundreds, so that the evaluation's
    // truncation to integers costs under 0.5 %), with the module turned about
    // each of its axes at the evaluation's inclination.
    void method3RecoversAxisAlignedEllipsoidAndAlignment_data()
    {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<double>("ax");
        QTest::addColumn<double>("ay");
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("turn");
        QTest::newRow("axis-aligned ellipsoid") << 41u << 300.0 << 250.0 << 350.0 << 0.0;
        QTest::newRow("sphere, sensor turned in the module")
            << 42u << 300.0 << 300.0 << 300.0 << 0.15;
    }

    void method3RecoversAxisAlignedEllipsoidAndAlignment()
    {
        QFETCH(uint, seed);
        QFETCH(double, ax);
        QFETCH(double, ay);
        QFETCH(double, az);
        QFETCH(double, turn);
        Noise noise(seed);
        const double inclination = 0.95990276;
        const Vec3 centre {-140, 80, 110};
        // The sensor sees the module's field through its own (turned) axes.
        const Mat3 sensorFromModule = rotation(turn, -turn, 0.6 * turn);
        const Mat3 shape = multiply(diagonal(ax, ay, az), sensorFromModule);
        const double sigma = 1.5; // counts

        const auto all = cloud(randomDirections(noise, 1500), centre, shape, sigma, &noise);
        std::vector<Sample4> rot[3];
        for (int axis = 0; axis < 3; ++axis)
            rot[axis] = cloud(turnAbout(axis, inclination, 120), centre, shape, sigma, &noise);

        Calibration c;
        c.set_MAG_CAL_PARAM_MTHD3(all, rot[2], rot[1], rot[0]);

        // Centre: noise of 1.5 counts through the squared terms, averaged over
        // 1500 points, leaves about a tenth of a count; allow 0.5 counts (0.2 %
        // of the radius).
        const double centreError = largestDifference(c.MAG_OFFSET, centre);
        QVERIFY2(centreError < 0.5, qPrintable(QString::number(centreError)));
        // Matrix: the inverse of the sensor's view, (diag(a) R)^-1 = R^T diag(1 / a).
        // Each plane normal rests on 120 points with noise 0.5 %: its direction
        // is good to ~0.1 %; allow 1 % of the smallest scale factor.
        const Mat3 expected
            = multiply(transpose(sensorFromModule), diagonal(1 / ax, 1 / ay, 1 / az));
        const double matrixError = largestDifference(c.MAG_INV_SCL_FACTOR, expected);
        QVERIFY2(matrixError < 0.01 / std::max(ax, std::max(ay, az)),
            qPrintable(QString::number(matrixError)));
        // Evaluation: means within 0.05 of -sin(inclination) and spreads far
        // below 0.01 (6 x 10), all octants well past 30 (8 x 5).
        QCOMPARE(c.get_MAG_CAL_QUALITY(), 100);
        QCOMPARE(c.LOCAL_INCLINATION, 0.95990276f);
    }
};

QTEST_APPLESS_MAIN(TestMagClouds)
#include "tst_magclouds.moc"
