// SPDX-License-Identifier: GPL-3.0-or-later
// The heading deviation table against the simulated module laid flat and
// turned through eight headings: before a calibration and after the fit the
// comparison chooses on a tumble's cloud.

#include "headingdeviation.h"
#include "magfitcomparison.h"
#include "sensormodel.h"

#include <QtTest>

#include <random>

namespace {

// Method 4 reports each fit on the debug stream; the figures these tests
// print go on.
QtMessageHandler passOn = nullptr;
void quietDebug(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && passOn)
        passOn(type, context, text);
}

SensorModel simulatedModule(bool errors, bool rotatedSoftIron)
{
    SensorModel model;
    model.setErrors(SimSensorErrors::generate(11, rotatedSoftIron));
    model.setErrorsEnabled(errors);
    return model;
}

// Flat turns through `count` headings, each the mean of a second at rest
// (100 noisy samples of the sensed field); gravity from a calibrated
// accelerometer.
std::vector<HeadingStop> flatTurns(SensorModel &model, int count)
{
    std::mt19937_64 rng(9);
    std::normal_distribution<double> noise(0.0, model.errors().magNoise);
    std::vector<HeadingStop> stops;
    for (int i = 0; i < count; ++i) {
        const double heading = 17.0 + 360.0 * i / count;
        model.setMotion(SimMotion::still(SimPose::ZUp, heading), 0.0);
        const SimTruth truth = model.truth(0.0, SensorModel::Correction(), SimFullScales());
        double sum[3] = {0, 0, 0};
        for (int k = 0; k < 100; ++k)
            for (int a = 0; a < 3; ++a)
                sum[a] += truth.magSensed[std::size_t(a)] + noise(rng);
        HeadingStop stop;
        stop.turnedDeg = heading - 17.0;
        stop.acc = QVector3D(float(truth.acc[0]), float(truth.acc[1]), float(truth.acc[2]));
        stop.mag = QVector3D(float(sum[0] / 100), float(sum[1] / 100), float(sum[2] / 100));
        stops.push_back(stop);
    }
    return stops;
}

// The sensed field along the simulator's tumble, points 0.03 apart as the
// procedure keeps them, with noise.
std::vector<Sample4> tumbleCloud(SensorModel &model)
{
    model.setMotion(SimMotion::tumbling(), 0.0);
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, model.errors().magNoise);
    std::vector<Sample4> kept;
    for (double t = 0; t < 60.0; t += 0.01) {
        const SimTruth truth = model.truth(t, SensorModel::Correction(), SimFullScales());
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

const Calibration::ParamBlock uncalibrated {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};

} // namespace

class HeadingDeviationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { passOn = qInstallMessageHandler(quietDebug); }

    void perfectSensorShowsTheTurnedAngles()
    {
        SensorModel model = simulatedModule(false, false);
        const HeadingTable table = headingDeviation(flatTurns(model, 8), uncalibrated);
        QVERIFY2(table.ok, qPrintable(table.reason));
        QCOMPARE(int(table.rows.size()), 8);
        for (const HeadingRow &row : table.rows) {
            // Measured turns follow the turned angle, sign included (noise of
            // a second at rest: a few hundredths of a degree).
            QVERIFY2(std::fabs(std::remainder(row.measuredDeg - row.turnedDeg, 360.0)) < 0.1,
                qPrintable(QStringLiteral("turned %1, measured %2")
                               .arg(row.turnedDeg)
                               .arg(row.measuredDeg)));
        }
        QVERIFY(table.maxDeviationDeg < 0.1); // the noise of a second at rest
    }

    void chosenFitBringsTheDeviationWithinOneDegree_data()
    {
        QTest::addColumn<bool>("rotatedSoftIron");
        QTest::newRow("soft iron on the body axes") << false;
        QTest::newRow("soft iron on other axes") << true;
    }

    void chosenFitBringsTheDeviationWithinOneDegree()
    {
        QFETCH(bool, rotatedSoftIron);
        SensorModel model = simulatedModule(true, rotatedSoftIron);
        MagFitComparison fits;
        fits.run(tumbleCloud(model), 2.0);
        const int best = fits.best();
        QVERIFY(best >= 0);
        const std::vector<HeadingStop> stops = flatTurns(model, 8);
        const HeadingTable before = headingDeviation(stops, uncalibrated);
        const HeadingTable after = headingDeviation(stops, fits.results()[std::size_t(best)].block);
        QVERIFY(before.ok && after.ok);
        qInfo("%s: before max %.2f deg, RMS %.2f; after (%s) max %.2f deg, RMS %.2f",
            rotatedSoftIron ? "turned soft iron" : "soft iron on the axes", before.maxDeviationDeg,
            before.rmsDeviationDeg, qPrintable(fits.results()[std::size_t(best)].name),
            after.maxDeviationDeg, after.rmsDeviationDeg);
        QVERIFY2(before.maxDeviationDeg > 5.0, "hard iron this large must show uncorrected");
        QVERIFY2(after.maxDeviationDeg < 1.0, qPrintable(QString::number(after.maxDeviationDeg)));
        QVERIFY(after.rmsDeviationDeg <= after.maxDeviationDeg);
    }

    void tooFewOrUnusableStopsGiveNoTable_data()
    {
        QTest::addColumn<int>("stops");
        QTest::addColumn<bool>("noGravity");
        QTest::addColumn<QString>("reason");
        QTest::newRow("seven headings") << 7 << false << "at least 8";
        QTest::newRow("no gravity") << 8 << true << "no gravity";
    }

    void tooFewOrUnusableStopsGiveNoTable()
    {
        QFETCH(int, stops);
        QFETCH(bool, noGravity);
        QFETCH(QString, reason);
        SensorModel model = simulatedModule(false, false);
        std::vector<HeadingStop> turns = flatTurns(model, stops);
        if (noGravity)
            turns[3].acc = QVector3D();
        const HeadingTable table = headingDeviation(turns, uncalibrated);
        QVERIFY(!table.ok);
        QVERIFY2(table.reason.contains(reason), qPrintable(table.reason));
    }
};

QTEST_GUILESS_MAIN(HeadingDeviationTest)
#include "tst_headingdeviation.moc"
