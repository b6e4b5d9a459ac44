// SPDX-License-Identifier: GPL-3.0-or-later
// The heading check end to end: the real backend on the simulated module with
// soft iron on turned axes, the fit chosen on a tumble of that module written
// into it register by register, then the module laid flat and turned through
// eight headings while the guide takes each at rest.

#include "simbench.h"

#include "calibrationguide.h"
#include "headingdeviation.h"
#include "magfitcomparison.h"
#include "sensormodel.h"

#include <QVector3D>
#include <QtTest>

#include <random>

using namespace simbench;

namespace {

// The sensed field along the simulator's tumble, points 0.03 apart as the
// magnetometer run keeps them, with the sensor's noise.
std::vector<Sample4> tumbleCloud(const SimSensorErrors &errors)
{
    SensorModel model;
    model.setErrors(errors);
    model.setErrorsEnabled(true);
    model.setMotion(SimMotion::tumbling(), 0.0);
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, errors.magNoise);
    std::vector<Sample4> kept;
    for (double t = 0; t < 60.0; t += 0.01) {
        const SimTruth truth = model.truth(t, SensorModel::Correction(), SimFullScales());
        const Sample4 p(float(truth.magSensed[0] + noise(rng)),
            float(truth.magSensed[1] + noise(rng)), float(truth.magSensed[2] + noise(rng)), 0);
        bool apart = true;
        for (auto it = kept.rbegin(); it != kept.rend() && apart; ++it)
            apart = QVector3D(p.x() - it->x(), p.y() - it->y(), p.z() - it->z()).lengthSquared()
                >= 0.001f;
        if (apart)
            kept.push_back(p);
    }
    return kept;
}

} // namespace

class HeadingCheckEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void chosenFitBringsHeadingsWithinOneDegree()
    {
        Bench bench(true, 250); // as fast as the line carries, to keep the test short
        // The accelerometer as after its own calibration: its bias (up to
        // 50 mg, a tilt of 3 degrees) would turn the tilt compensation and
        // show as up to 4 degrees of heading, which is not the magnetometer's.
        SimSensorErrors errors = SimSensorErrors::generate(11, true);
        errors.accBias = {0, 0, 0};
        errors.accMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        bench.sim->setSensorErrors(errors);
        QVERIFY2(bench.connect(), "the backend did not connect to the simulated module");
        DurUzaBackend &backend = *bench.backend;
        CalibrationGuide &guide = *backend.guide();

        MagFitComparison fits;
        fits.run(tumbleCloud(bench.sim->sensorErrors()), 2.0);
        const int best = fits.best();
        QVERIFY2(best >= 0, "no fit was chosen on the tumble");
        const Calibration::ParamBlock chosen = fits.results()[std::size_t(best)].block;
        for (int i = 0; i < 12; ++i)
            QVERIFY(backend.writeRegisterText(
                127 + 4 * i, QString::number(double(chosen[std::size_t(i)]), 'g', 9)));
        QTRY_VERIFY_WITH_TIMEOUT(bench.moduleParams("magnetometer") == chosen, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(backend.activeMagCalibration() == chosen, 15000);

        QSignalSpy changed(&guide, &CalibrationGuide::headingChanged);
        guide.startHeadingTurns();
        QVERIFY(guide.headingRunning());
        for (int i = 0; i < HeadingTurns::headingCount; ++i) {
            bench.sim->setMotion(SimMotion::still(SimPose::ZUp, 30.0 + 45.0 * i));
            QTRY_COMPARE_WITH_TIMEOUT(guide.headingStops(), i + 1, 15000);
        }
        QVERIFY(!guide.headingRunning());
        const HeadingTable &before = guide.headingBefore();
        const HeadingTable &after = guide.headingAfter();
        QVERIFY2(before.ok && after.ok, qPrintable(before.reason + after.reason));
        qInfo("%s Chosen fit: %s", qPrintable(guide.headingSummary()),
            qPrintable(fits.results()[std::size_t(best)].name));
        // No run in this session: before is the factory's, and hard iron shows.
        QVERIFY2(before.maxDeviationDeg > 5.0, qPrintable(guide.headingSummary()));
        QVERIFY2(after.maxDeviationDeg < 1.0, qPrintable(guide.headingSummary()));
        QVERIFY(guide.headingSummary().contains(QLatin1String("8 headings")));
    }
};

QTEST_MAIN(HeadingCheckEndToEndTest)
#include "tst_headingcheck_e2e.moc"
