// SPDX-License-Identifier: GPL-3.0-or-later
// Guidance around the calibrations, against the simulated module's physics and
// sensor errors: sphere coverage and its hint, the fit comparison, the face up,
// the pose check that a tilted pose cannot hide from, and the rest check.
#include "accfaceguide.h"
#include "accposecheck.h"
#include "gyrorestcheck.h"
#include "magfitcomparison.h"
#include "maggatherguide.h"
#include "spherecoverage.h"

#include "sensormodel.h"

#include <QVector3D>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <random>

class CalibrationGuidanceTest : public QObject
{
    Q_OBJECT

private slots:
    void cellsAreManyAndAboutEqual();
    void fullTumbleCoversTheSphere();
    void halfSphereStaysBelow60AndHintNamesTheMissingHalf_data();
    void halfSphereStaysBelow60AndHintNamesTheMissingHalf();
    void goodEnoughNeedsPointsCoverageAndASteadyFit();
    void scoreIsHeldToCoverageSpreadAndDrift_data();
    void scoreIsHeldToCoverageSpreadAndDrift();
    void fitComparisonPicksTheLowestHeldOutSpread_data();
    void fitComparisonPicksTheLowestHeldOutSpread();
    void faceUpFollowsTheSimulatedPoses();
    void faceUpWaitsForSteadySamples();
    void positionSamplesMustStayOnTheirFace();
    void misplacedPoseLowersTheScoreAndIsRefusedFromFourDegrees_data();
    void misplacedPoseLowersTheScoreAndIsRefusedFromFourDegrees();
    void pairTiltedTogetherShowsAsAxesOutOfSquare();
    void gyroTurnDuringRestIsFoundAndNamed();
};

namespace {

const SimPose poses[6]
    = {SimPose::ZUp, SimPose::ZDown, SimPose::YUp, SimPose::YDown, SimPose::XUp, SimPose::XDown};

// The simulated module's sensors, with its sensor errors (seed 11, as the
// end-to-end tests use).
SensorModel simulatedModule(bool rotatedSoftIron = false)
{
    SensorModel model;
    model.setErrors(SimSensorErrors::generate(11, rotatedSoftIron));
    model.setErrorsEnabled(true);
    return model;
}

// Samples of the field as the magnetometer senses it along the tumble, kept as
// the procedure keeps them (0.03 field units apart at least), with noise.
std::vector<Sample4> tumbleCloud(
    double seconds, const std::function<bool(const SimTruth &)> &keep, bool rotatedSoftIron = false)
{
    SensorModel model = simulatedModule(rotatedSoftIron);
    model.setMotion(SimMotion::tumbling(), 0.0);
    const SimSensorErrors errors = model.errors();
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, errors.magNoise);
    std::vector<Sample4> kept;
    for (double t = 0; t < seconds; t += 0.01) {
        const SimTruth truth = model.truth(t, SensorModel::Correction(), SimFullScales());
        if (!keep(truth))
            continue;
        const Sample4 p(float(truth.magSensed[0] + noise(rng)),
            float(truth.magSensed[1] + noise(rng)), float(truth.magSensed[2] + noise(rng)), 0);
        bool apart = true;
        for (auto it = kept.rbegin(); it != kept.rend() && apart; ++it) {
            const float dx = p.x() - it->x(), dy = p.y() - it->y(), dz = p.z() - it->z();
            apart = dx * dx + dy * dy + dz * dz >= 0.001f;
        }
        if (apart)
            kept.push_back(p);
    }
    return kept;
}

// Gathers a cloud through the guide as the backend does: points as they come,
// a refresh every simulated second.
MagGatherGuide gathered(const std::vector<Sample4> &cloud)
{
    MagGatherGuide guide;
    double seconds = 0;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
        guide.addPoint(cloud[i].x(), cloud[i].y(), cloud[i].z());
        if (i % 20 == 19)
            guide.refresh(seconds += 1.0);
    }
    guide.refresh(seconds + 1.0);
    return guide;
}

// The mean of 100 noisy accelerometer samples in a pose turned by `tiltDeg`
// about the body's x axis (a rotation held still: the simulator turns a pose
// by rate x time).
QVector3D poseMean(const SensorModel &base, SimPose pose, double tiltDeg, std::mt19937_64 &rng)
{
    SensorModel model = base;
    model.setMotion(SimMotion::rotating(pose, {1, 0, 0}, tiltDeg), 0.0);
    const SimTruth truth = model.truth(1.0, SensorModel::Correction(), SimFullScales());
    std::normal_distribution<double> noise(0.0, model.errors().accNoise);
    QVector3D sum;
    for (int i = 0; i < 100; ++i)
        sum += QVector3D(float(truth.accSensed[0] + noise(rng)),
            float(truth.accSensed[1] + noise(rng)), float(truth.accSensed[2] + noise(rng)));
    return sum / 100.0f;
}

struct SixPoses
{
    float means[18];
    float offset[3];
};

// The six means with one pose tilted, and the offset the estimate takes from them.
SixPoses sixPoses(int tiltedPose, double tiltDeg, const std::array<double, 6> &tilts = {})
{
    const SensorModel model = simulatedModule();
    std::mt19937_64 rng(5);
    SixPoses s;
    for (int k = 0; k < 6; ++k) {
        const double tilt = k == tiltedPose ? tiltDeg : tilts[std::size_t(k)];
        const QVector3D m = poseMean(model, poses[k], tilt, rng);
        for (int a = 0; a < 3; ++a)
            s.means[3 * k + a] = m[a];
    }
    s.offset[0] = (s.means[12] + s.means[15]) * 0.5f;
    s.offset[1] = (s.means[7] + s.means[10]) * 0.5f;
    s.offset[2] = (s.means[2] + s.means[5]) * 0.5f;
    return s;
}

} // namespace

void CalibrationGuidanceTest::cellsAreManyAndAboutEqual()
{
    SphereCoverage coverage;
    QVERIFY(coverage.cellCount() >= 100);
    // Uniform directions land about equally often in every cell.
    std::mt19937_64 rng(1);
    std::normal_distribution<double> unit(0, 1);
    std::vector<int> counts(std::size_t(coverage.cellCount()), 0);
    const int n = 200000;
    for (int i = 0; i < n; ++i)
        ++counts[std::size_t(coverage.cellOf(unit(rng), unit(rng), unit(rng)))];
    const double expected = double(n) / coverage.cellCount();
    const auto [least, most] = std::minmax_element(counts.begin(), counts.end());
    qInfo("cell areas: %.2f .. %.2f of the mean", *least / expected, *most / expected);
    QVERIFY(*least > 0.75 * expected);
    QVERIFY(*most < 1.25 * expected);
    QCOMPARE(coverage.cellOf(0, 0, 0), -1);
    QCOMPARE(coverage.coveredPercent(), 0.0);
}

void CalibrationGuidanceTest::fullTumbleCoversTheSphere()
{
    const std::vector<Sample4> cloud = tumbleCloud(60.0, [](const SimTruth &) { return true; });
    const MagGatherGuide guide = gathered(cloud);
    qInfo("full tumble: %d points kept, %.1f %% covered, spread %.2f %%", int(cloud.size()),
        guide.coveredPercent(), guide.spreadPercent());
    QVERIFY(guide.coveredPercent() >= 95.0);
    QVERIFY(guide.goodEnough());
    QVERIFY(guide.spreadPercent() >= 0 && guide.spreadPercent() < 1.0);
}

void CalibrationGuidanceTest::halfSphereStaysBelow60AndHintNamesTheMissingHalf_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("sign"); // the half that was turned through
    QTest::addColumn<QString>("missing");
    QTest::newRow("+Z half only") << 2 << 1 << "-Z";
    QTest::newRow("-Z half only") << 2 << -1 << "+Z";
    QTest::newRow("+X half only") << 0 << 1 << "-X";
    QTest::newRow("-Y half only") << 1 << -1 << "+Y";
}

void CalibrationGuidanceTest::halfSphereStaysBelow60AndHintNamesTheMissingHalf()
{
    QFETCH(int, axis);
    QFETCH(int, sign);
    QFETCH(QString, missing);
    // The tumble, but only while the field points into one half of the body.
    const std::vector<Sample4> cloud
        = tumbleCloud(60.0, [&](const SimTruth &t) { return sign * t.mag[std::size_t(axis)] > 0; });
    const MagGatherGuide guide = gathered(cloud);
    qInfo("%d points, %.1f %% covered, hint: %s", int(cloud.size()), guide.coveredPercent(),
        qPrintable(guide.hint()));
    QVERIFY(guide.coveredPercent() < 60.0);
    QVERIFY(guide.coveredPercent() > 30.0);
    QCOMPARE(guide.missingFace(), missing);
    QCOMPARE(guide.hint(), QStringLiteral("Turn the %1 face towards the floor.").arg(missing));
    QVERIFY(!guide.goodEnough());
    QVERIFY(guide.reasons().join(' ').contains(QStringLiteral("% of the directions covered")));
}

void CalibrationGuidanceTest::goodEnoughNeedsPointsCoverageAndASteadyFit()
{
    MagGatherGuide guide;
    guide.refresh(0);
    QCOMPARE(guide.hint(), QStringLiteral("Turn the module slowly through every direction."));
    QVERIFY(!guide.goodEnough());
    QVERIFY(guide.reasons().first().startsWith(QStringLiteral("0 of the 50 points")));
    // A ring: plenty of points, no depth, so no fit and little coverage.
    for (int i = 0; i < 200; ++i) {
        const double a = 2 * M_PI * i / 200;
        guide.addPoint(float(0.1 + 0.5 * std::cos(a)), float(0.5 * std::sin(a)), 0.2f);
    }
    guide.refresh(1);
    QVERIFY(!guide.goodEnough());
    QVERIFY(guide.spreadPercent() < 0);
    QVERIFY(guide.reasons().join(' ').contains(QStringLiteral("one plane")));
    // The offset moving by 5 % of the field within five seconds is drift.
    MagGatherGuide moving;
    const std::vector<Sample4> cloud = tumbleCloud(60.0, [](const SimTruth &) { return true; });
    for (const Sample4 &p : cloud)
        moving.addPoint(p.x(), p.y(), p.z());
    moving.refresh(0);
    QVERIFY(moving.goodEnough());
    QVERIFY(moving.driftPercent() < 0); // not known before five seconds of fits
    for (const Sample4 &p : cloud)
        moving.addPoint(p.x() + 0.05f, p.y(), p.z());
    moving.refresh(6);
    qInfo("drift after shifting half the points: %.2f %%", moving.driftPercent());
    QVERIFY(moving.driftPercent() > MagGatherGuide::driftLimit);
    QVERIFY(moving.reasons().join(' ').contains(QStringLiteral("Offset still moving")));
}

void CalibrationGuidanceTest::scoreIsHeldToCoverageSpreadAndDrift_data()
{
    QTest::addColumn<int>("axis"); // -1: the whole tumble
    QTest::addColumn<double>("above"); // kept while the field's share on `axis` exceeds this
    QTest::addColumn<bool>("drifting");
    QTest::newRow("whole sphere") << -1 << 0.0 << false;
    QTest::newRow("whole sphere, offset moving") << -1 << 0.0 << true;
    QTest::newRow("+Z half") << 2 << 0.0 << false;
    QTest::newRow("cap of +X") << 0 << 0.3 << false;
}

void CalibrationGuidanceTest::scoreIsHeldToCoverageSpreadAndDrift()
{
    QFETCH(int, axis);
    QFETCH(double, above);
    QFETCH(bool, drifting);
    const std::vector<Sample4> cloud = tumbleCloud(60.0, [&](const SimTruth &t) {
        if (axis < 0)
            return true;
        const double norm
            = std::sqrt(t.mag[0] * t.mag[0] + t.mag[1] * t.mag[1] + t.mag[2] * t.mag[2]);
        return t.mag[std::size_t(axis)] > above * norm;
    });
    MagGatherGuide guide = gathered(cloud);
    if (drifting) {
        guide.refresh(1000.0);
        for (const Sample4 &p : cloud)
            guide.addPoint(p.x() + 0.05f, p.y(), p.z());
        guide.refresh(1006.0);
    }
    const int held = guide.heldScore(100, 49);
    qInfo("%.1f %% covered, spread %.2f %%, drift %.2f %%: 100 held to %d", guide.coveredPercent(),
        guide.spreadPercent(), guide.driftPercent(), held);
    if (guide.goodEnough()) {
        QCOMPARE(held, 100);
        // A fit's own score is kept when nothing holds it down.
        QCOMPARE(guide.heldScore(73, 49), 73);
        return;
    }
    QVERIFY2(held <= 49, "data that is not good enough scores below the floor");
    if (guide.coveredPercent() < MagGatherGuide::coverageNeeded)
        QVERIFY(held <= qRound(100.0 * guide.coveredPercent() / MagGatherGuide::coverageNeeded));
    if (drifting)
        QVERIFY(guide.driftPercent() > MagGatherGuide::driftLimit);
    // Never more than the fit's own score, never below 0.
    QVERIFY(guide.heldScore(20, 49) <= 20);
    QVERIFY(guide.heldScore(0, 49) == 0);
}

void CalibrationGuidanceTest::fitComparisonPicksTheLowestHeldOutSpread_data()
{
    QTest::addColumn<bool>("rotatedSoftIron");
    QTest::newRow("soft iron on the body axes") << false;
    QTest::newRow("soft iron on other axes") << true;
}

void CalibrationGuidanceTest::fitComparisonPicksTheLowestHeldOutSpread()
{
    QFETCH(bool, rotatedSoftIron);
    const std::vector<Sample4> cloud = tumbleCloud(
        60.0, [](const SimTruth &) { return true; }, rotatedSoftIron);
    MagFitComparison fits;
    fits.run(cloud);
    const int best = fits.best();
    QVERIFY(best >= 0);
    for (const MagFitResult &r : fits.results()) {
        qInfo("Method %d: %s, spread %.3f %%, held out %.3f %%, quality %.2f", r.method,
            r.valid ? "valid" : "none", double(r.spreadPercent), double(r.heldOutSpreadPercent),
            double(r.quality));
        // Chosen on the points the fits did not see.
        if (r.valid)
            QVERIFY(
                fits.results()[std::size_t(best)].heldOutSpreadPercent <= r.heldOutSpreadPercent);
        QCOMPARE(r.spreadPercent,
            r.valid ? MagFitComparison::magnitudeSpread(cloud, r.block) : r.spreadPercent);
    }
    // The five are all there, and a bounding box never beats a fitted ellipsoid
    // on a cloud this full.
    QCOMPARE(fits.results()[0].method, 4);
    QCOMPARE(fits.results()[4].method, 5);
    QVERIFY(fits.results()[0].valid && fits.results()[1].valid && fits.results()[2].valid
        && fits.results()[3].valid && fits.results()[4].valid);
    QVERIFY(fits.results()[2].spreadPercent > fits.results()[std::size_t(best)].spreadPercent);
    // Soft iron off the axes is beyond the axis-aligned fit.
    if (rotatedSoftIron) {
        QVERIFY(fits.results()[0].spreadPercent > 1.5f * fits.results()[1].spreadPercent);
        // One of the two general ellipsoids.
        QVERIFY2(best == 1 || best == 4, qPrintable(QString::number(best)));
    }
    // Method 4 here is the procedure's own fit, bit for bit.
    Calibration own;
    own.setMagCalParamMthd4(cloud);
    QVERIFY(fits.results()[0].block == own.get_MAG_CAL_PARAM());
}

void CalibrationGuidanceTest::faceUpFollowsTheSimulatedPoses()
{
    SensorModel model = simulatedModule();
    AccFaceGuide guide;
    for (int k = 0; k < 6; ++k) {
        model.setMotion(SimMotion::still(poses[k], 30.0 * k), 0.0);
        const SimTruth truth = model.truth(0.5, SensorModel::Correction(), SimFullScales());
        QCOMPARE(guide.faceOf(truth.accSensed[0], truth.accSensed[1], truth.accSensed[2]), k);
        for (int i = 0; i < AccFaceGuide::steadySamples; ++i)
            guide.addSample(truth.accSensed[0], truth.accSensed[1], truth.accSensed[2]);
        QCOMPARE(AccFaceGuide::faceName(guide.faceUp()),
            QString::fromLatin1(
                QList<const char *>({"Z-Up", "Z-Down", "Y-Up", "Y-Down", "X-Up", "X-Down"})[k]));
    }
    // Half way between two faces, or shaken, is no face.
    QCOMPARE(guide.faceOf(6.9, 0, 6.9), -1);
    QCOMPARE(guide.faceOf(0, 0, 13.0), -1);
}

void CalibrationGuidanceTest::faceUpWaitsForSteadySamples()
{
    AccFaceGuide guide;
    for (int i = 0; i < AccFaceGuide::steadySamples - 1; ++i)
        guide.addSample(0, 0, 9.8);
    QCOMPARE(guide.faceUp(), -1);
    guide.addSample(0, 0, 9.8);
    QCOMPARE(guide.faceUp(), 0);
    // Turning over: no face while between, the new one after a few samples.
    guide.addSample(0, 6.9, 6.9);
    QCOMPARE(guide.faceUp(), -1);
    for (int i = 0; i < AccFaceGuide::steadySamples; ++i) {
        QCOMPARE(guide.faceUp(), -1);
        guide.addSample(0, -9.8, 0.2);
    }
    QCOMPARE(guide.faceUp(), 3);
}

void CalibrationGuidanceTest::positionSamplesMustStayOnTheirFace()
{
    AccFaceGuide guide;
    QVERIFY(!guide.fitsPosition(1, 0, 0, 9.8)); // Z-Down asked, Z-Up held
    QVERIFY(guide.fitsPosition(1, 0, 0, -9.8));
    QVERIFY(guide.fitsPosition(1, 0.1, 0, -9.8));
    // A bump of 5 degrees: the position starts again from the next sample.
    QVERIFY(!guide.fitsPosition(1, 0.86, 0, -9.76));
    QVERIFY(guide.fitsPosition(1, 0.86, 0, -9.76));
    QVERIFY(guide.fitsPosition(1, 0.80, 0, -9.76));
}

void CalibrationGuidanceTest::misplacedPoseLowersTheScoreAndIsRefusedFromFourDegrees_data()
{
    QTest::addColumn<int>("pose");
    QTest::addColumn<double>("tilt");
    for (int pose : {0, 3}) {
        for (double tilt : {0.0, 2.0, 5.0, 10.0})
            QTest::addRow("%s %.0f deg", pose == 0 ? "Z-Up" : "Y-Down", tilt) << pose << tilt;
    }
}

void CalibrationGuidanceTest::misplacedPoseLowersTheScoreAndIsRefusedFromFourDegrees()
{
    QFETCH(int, pose);
    QFETCH(double, tilt);
    const SixPoses s = sixPoses(pose, tilt);
    // The estimate's own score on the same means, for comparison.
    Calibration estimate;
    float means[36];
    std::copy(s.means, s.means + 18, means);
    std::copy(s.means, s.means + 18, means + 18);
    estimate.set_ACC_RNG_FACTOR(1.0f);
    estimate.set_ACC_CAL_PARAM_SLOT(means, 0, 0);
    const AccPoseCheck check = AccPoseCheck::evaluate(s.means, estimate.ACC_OFFSET, 9.79426f);
    qInfo("%s held %.0f deg off: pose check %.1f (misfit %.2f deg), the estimate's own score %d; "
          "%s",
        qPrintable(AccFaceGuide::faceName(pose)), tilt, check.score, check.misfitDeg,
        estimate.get_ACC_CAL_QUALITY(), qPrintable(check.problem()));
    QCOMPARE(std::equal(s.offset, s.offset + 3, estimate.ACC_OFFSET), true);
    if (tilt == 0) {
        QVERIFY(check.score >= 95);
        QVERIFY(!check.warned());
        QVERIFY(check.problem().isEmpty());
        return;
    }
    // The angle is measured, not guessed: within a quarter of a degree
    // or the sensor's own scale error of it.
    QVERIFY(std::fabs(check.misfitDeg - tilt) < std::max(0.25, 0.05 * tilt));
    QCOMPARE(check.worstPose, pose);
    QVERIFY(check.score <= 100 - 8 * tilt);
    QCOMPARE(check.refused(), tilt >= 4);
    QVERIFY(check.problem().contains(AccFaceGuide::faceName(pose)));
    QVERIFY(check.problem().contains(
        QString::number(check.misfitDeg, 'f', 1) + QStringLiteral("° off level")));
}

void CalibrationGuidanceTest::pairTiltedTogetherShowsAsAxesOutOfSquare()
{
    // Both Y poses held 4 degrees turned the same way: they stay opposite, but
    // the y axis they give is 4 degrees off square with z.
    const SixPoses s = sixPoses(-1, 0, {0, 0, 4.0, 4.0, 0, 0});
    const AccPoseCheck check = AccPoseCheck::evaluate(s.means, s.offset, 9.79426f);
    qInfo("Y pair turned 4 deg: antipodal %.2f, square %.2f %.2f %.2f, misfit %.2f",
        check.antipodalDeg[1], check.squareDeg[0], check.squareDeg[1], check.squareDeg[2],
        check.misfitDeg);
    QVERIFY(check.antipodalDeg[1] < 0.3);
    QVERIFY(check.squareDeg[0] > 3.5);
    QVERIFY(check.warned());
    QVERIFY(check.worstPose == 2 || check.worstPose == 3);
    // The simulated module's own cross-axis error stays within the budget.
    const SixPoses ideal = sixPoses(-1, 0);
    const AccPoseCheck clean = AccPoseCheck::evaluate(ideal.means, ideal.offset, 9.79426f);
    for (double d : clean.squareDeg)
        QVERIFY(d < AccPoseCheck::squareBudgetDeg);
}

void CalibrationGuidanceTest::gyroTurnDuringRestIsFoundAndNamed()
{
    // The simulated gyroscope at rest, then turned about z at 20 deg/s for 0.2 s.
    SensorModel model = simulatedModule();
    std::mt19937_64 rng(9);
    std::normal_distribution<double> noise(0.0, model.errors().gyroNoise);
    auto samplesAt = [&](const SimMotion &motion, int count) {
        model.setMotion(motion, 0.0);
        std::vector<Sample4> samples;
        for (int i = 0; i < count; ++i) {
            const SimTruth t = model.truth(0.01 * i, SensorModel::Correction(), SimFullScales());
            samples.emplace_back(float(t.gyroSensed[0] + noise(rng)),
                float(t.gyroSensed[1] + noise(rng)), float(t.gyroSensed[2] + noise(rng)), 0);
        }
        return samples;
    };
    std::vector<Sample4> still = samplesAt(SimMotion::still(SimPose::ZUp), 200);
    const GyroRestCheck rest = GyroRestCheck::evaluate(still);
    qInfo("at rest: noise %.3f deg/s, peak %.3f, threshold %.2f", rest.noiseDegPerSec,
        rest.peakDegPerSec, rest.thresholdDegPerSec);
    QVERIFY(!rest.moved);

    const std::vector<Sample4> turn
        = samplesAt(SimMotion::rotating(SimPose::ZUp, {0, 0, 1}, 20.0), 20);
    std::vector<Sample4> moved(still.begin(), still.begin() + 80);
    moved.insert(moved.end(), turn.begin(), turn.end());
    moved.insert(moved.end(), still.begin() + 100, still.end());
    const GyroRestCheck check = GyroRestCheck::evaluate(moved);
    QVERIFY(check.moved);
    QCOMPARE(check.axis, 2);
    QCOMPARE(check.firstSample, 80);
    QVERIFY(std::fabs(check.peakDegPerSec - 20.0 * model.errors().gyroScale[2]) < 0.5);
    // One sample spike is noise on the line, not a turn.
    std::vector<Sample4> spike = still;
    spike[50].setX(spike[50].x() + 30.0f);
    QVERIFY(!GyroRestCheck::evaluate(spike).moved);
}

QTEST_GUILESS_MAIN(CalibrationGuidanceTest)
#include "tst_calibrationguidance.moc"
