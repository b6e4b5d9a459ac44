// SPDX-License-Identifier: GPL-3.0-or-later
#include "simbench.h"

#include "calibrationguide.h"

#include <QtTest>

using namespace simbench;

// The three calibrations run end to end against the simulated module with its
// sensor errors switched on, driven as the pages drive the backend. Afterwards
// what the module sends must be right: that is the test of the whole chain
// (gathering, estimation, write-back, and the module applying its registers).
class CalibrationEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void accelerometerSixPositionsCorrectEveryPose();
    void gyroscopeAtRestReadsZero();
    void magnetometerTumbleGivesRoundField();

private:
    void waitForPose(SimPose pose);
    std::unique_ptr<Bench> m_bench;
};

namespace {

// Fast enough to keep the runs short, within what the line carries: about 760
// accelerometer-and-gyroscope frames a second, about 310 full measurement frames.
constexpr double accGyroStreamRate = 700;
constexpr double magStreamRate = 300;
constexpr float g = float(SensorModel::gravity);

const SimPose poses[6]
    = {SimPose::ZUp, SimPose::ZDown, SimPose::YUp, SimPose::YDown, SimPose::XUp, SimPose::XDown};
const char *poseNames[6] = {"Z-Up", "Z-Down", "Y-Up", "Y-Down", "X-Up", "X-Down"};

QVector3D expectedGravity(SimPose pose)
{
    switch (pose) {
    case SimPose::ZUp:
        return QVector3D(0, 0, g);
    case SimPose::ZDown:
        return QVector3D(0, 0, -g);
    case SimPose::YUp:
        return QVector3D(0, g, 0);
    case SimPose::YDown:
        return QVector3D(0, -g, 0);
    case SimPose::XUp:
        return QVector3D(g, 0, 0);
    case SimPose::XDown:
        return QVector3D(-g, 0, 0);
    }
    return QVector3D();
}

} // namespace

void CalibrationEndToEndTest::initTestCase()
{
    m_bench = std::make_unique<Bench>(true, magStreamRate);
    QVERIFY(m_bench->connect());
    const SimSensorErrors errors = m_bench->sim->sensorErrors();
    qInfo("sensor errors: acc bias %.3f %.3f %.3f, gyro bias %.3f %.3f %.3f, "
          "hard iron %.3f %.3f %.3f, soft iron %.3f %.3f %.3f",
        errors.accBias[0], errors.accBias[1], errors.accBias[2], errors.gyroBias[0],
        errors.gyroBias[1], errors.gyroBias[2], errors.magHardIron[0], errors.magHardIron[1],
        errors.magHardIron[2], errors.magSoftIron[0], errors.magSoftIron[4], errors.magSoftIron[8]);
}

void CalibrationEndToEndTest::cleanupTestCase()
{
    m_bench.reset();
}

// Turns the module and waits until the backend sees it settled in the new pose.
void CalibrationEndToEndTest::waitForPose(SimPose pose)
{
    m_bench->sim->setMotion(SimMotion::still(pose));
    const QVector3D expected = expectedGravity(pose);
    QVERIFY(m_bench->waitFor([&] {
        const QVariantList a = m_bench->backend->accDataList();
        return a.size() == 3
            && (QVector3D(a[0].toFloat(), a[1].toFloat(), a[2].toFloat()) - expected).length()
            < 2.0f;
    }));
}

void CalibrationEndToEndTest::accelerometerSixPositionsCorrectEveryPose()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    bench.sim->setStreamRate(accGyroStreamRate);
    backend.requestAccOnly(); // what opening the page does
    waitForPose(SimPose::ZUp);
    QSignalSpy stages(&backend, &DurUzaBackend::accCalStageFinished);
    QSignalSpy finished(&backend, &DurUzaBackend::accCalFinished);
    QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);

    backend.accCalButton(); // Start
    for (int k = 0; k < 6; ++k) {
        waitForPose(poses[k]); // the user places the module, then clicks Ready
        backend.accCalButton();
        QTRY_COMPARE_WITH_TIMEOUT(stages.count(), k + 1, 15000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(failed.count(), 0);
    const double quality = finished.first().first().toDouble();
    qInfo("accelerometer quality %.0f", quality);
    QVERIFY(quality >= 90);
    // The module holds the estimate once the read-back shows it.
    QTRY_VERIFY_WITH_TIMEOUT(bench.moduleParams("accelerometer")[3] != 1.0f, 5000);

    double worst = 0;
    for (int k = 0; k < 6; ++k) {
        waitForPose(poses[k]);
        bench.collect(&DurUzaBackend::accDataListChanged, &DurUzaBackend::accDataList, 10);
        const std::vector<QVector3D> samples
            = bench.collect(&DurUzaBackend::accDataListChanged, &DurUzaBackend::accDataList, 300);
        QCOMPARE(int(samples.size()), 300);
        const QVector3D truth = toVector(bench.sim->truth().acc);
        const QVector3D error = mean(samples) - truth;
        qInfo("%-6s residual %+.4f %+.4f %+.4f m/s^2", poseNames[k], double(error.x()),
            double(error.y()), double(error.z()));
        for (int axis = 0; axis < 3; ++axis) {
            worst = std::max(worst, double(std::fabs(error[axis])));
            QVERIFY2(std::fabs(error[axis]) < 0.02f, poseNames[k]);
        }
    }
    qInfo("accelerometer worst residual %.4f m/s^2", worst);
}

void CalibrationEndToEndTest::gyroscopeAtRestReadsZero()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    bench.sim->setMotion(SimMotion::still(SimPose::ZUp));
    bench.sim->setStreamRate(accGyroStreamRate);
    backend.requestGyroOnly();
    QSignalSpy finished(&backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);
    QVERIFY(
        bench.collect(&DurUzaBackend::gyroDataListChanged, &DurUzaBackend::gyroDataList, 5).size()
        == 5);

    backend.gyroCalButton(); // Ready on the page's second state
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 15000);
    QCOMPARE(failed.count(), 0);
    const double quality = finished.first().first().toDouble();
    qInfo("gyroscope quality %.0f", quality);
    QVERIFY(quality >= 90);
    QTRY_VERIFY_WITH_TIMEOUT(bench.moduleParams("gyroscope")[0] != 0.0f, 5000);

    bench.collect(&DurUzaBackend::gyroDataListChanged, &DurUzaBackend::gyroDataList, 20);
    const std::vector<QVector3D> samples
        = bench.collect(&DurUzaBackend::gyroDataListChanged, &DurUzaBackend::gyroDataList, 600);
    QCOMPARE(int(samples.size()), 600);
    const QVector3D rate = mean(samples);
    const QVector3D exact = toVector(bench.sim->truth().gyroOutput);
    qInfo("gyroscope at rest: mean %+.4f %+.4f %+.4f deg/s, noise-free %+.4f %+.4f %+.4f deg/s",
        double(rate.x()), double(rate.y()), double(rate.z()), double(exact.x()), double(exact.y()),
        double(exact.z()));
    for (int axis = 0; axis < 3; ++axis) {
        QVERIFY(std::fabs(rate[axis]) < 0.02f);
        QVERIFY(std::fabs(exact[axis]) < 0.02f);
    }
}

void CalibrationEndToEndTest::magnetometerTumbleGivesRoundField()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    bench.sim->setStreamRate(magStreamRate);
    backend.requestMagOnly();
    QSignalSpy finished(&backend, &DurUzaBackend::magCalFinished);
    QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);
    QVERIFY(bench.collect(&DurUzaBackend::magDataListChanged, &DurUzaBackend::magDataList, 5).size()
        == 5);

    backend.magCalButton(); // Start
    bench.sim->setMotion(SimMotion::tumbling());
    // The tumble brings body z from up to down in 30 s; from about 13 s on the
    // field has passed every octant of the sensor (before, the run is refused).
    // A run whose data the guide does not call good enough waits for "Write
    // anyway", so the tumble goes on until it is (up to a minute of motion on a
    // loaded machine, which hands the guide fewer points a second).
    const CalibrationGuide &guide = *backend.guide();
    QVERIFY(bench.waitFor(
        [&] {
            const double seconds = bench.sim->truth().seconds;
            return (seconds >= 16.0 && guide.magGoodEnough()) || seconds >= 60.0;
        },
        90000));
    QVERIFY2(guide.magGoodEnough(), "a minute of tumbling did not give the guide enough data");
    qInfo("magnetometer points kept: %d", backend.magScatterDataProxy()->array()->size());
    backend.magCalButton(); // Finish
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + failed.count(), 1, 5000);
    if (!failed.isEmpty())
        QFAIL(qPrintable(failed.first().at(1).toString()));
    const double quality = finished.first().first().toDouble();
    qInfo("magnetometer quality %.0f", quality);
    QVERIFY(quality >= 90);
    QTRY_VERIFY_WITH_TIMEOUT(bench.moduleParams("magnetometer")[3] != 1.0f, 5000);

    // Noise-free: the module's correction over the whole sphere of field directions.
    const SimSensorErrors errors = bench.sim->sensorErrors();
    const Block params = bench.moduleParams("magnetometer");
    std::vector<double> magnitudes;
    const int directions = 2000;
    for (int i = 0; i < directions; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / directions;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = i * M_PI * (3.0 - std::sqrt(5.0));
        const double field[3] = {SensorModel::earthField * r * std::cos(phi),
            SensorModel::earthField * r * std::sin(phi), SensorModel::earthField * z};
        double out[3] = {0, 0, 0};
        double sensed[3];
        for (int a = 0; a < 3; ++a) {
            sensed[a] = errors.magHardIron[std::size_t(a)] - params[std::size_t(a)];
            for (int b = 0; b < 3; ++b)
                sensed[a] += errors.magSoftIron[std::size_t(3 * a + b)] * field[b];
        }
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b)
                out[a] += params[std::size_t(3 + 3 * a + b)] * sensed[b];
        }
        magnitudes.push_back(std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]));
    }
    double sphereMean = 0;
    for (double m : magnitudes)
        sphereMean += m / directions;
    double worst = 0;
    for (double m : magnitudes)
        worst = std::max(worst, std::fabs(m / sphereMean - 1));
    qInfo("magnetometer over the sphere: mean magnitude %.4f, worst deviation %.3f %%", sphereMean,
        worst * 100);
    QVERIFY(worst < 0.01);

    // What the module sends while it keeps tumbling: magnitudes averaged over ten
    // consecutive samples (noise) against the sphere's mean.
    const std::vector<QVector3D> samples
        = bench.collect(&DurUzaBackend::magDataListChanged, &DurUzaBackend::magDataList, 600);
    QCOMPARE(int(samples.size()), 600);
    double worstSent = 0;
    for (std::size_t start = 0; start + 10 <= samples.size(); start += 10) {
        double m = 0;
        for (std::size_t i = start; i < start + 10; ++i)
            m += double(samples[i].length()) / 10;
        worstSent = std::max(worstSent, std::fabs(m / sphereMean - 1));
    }
    qInfo(
        "magnetometer as sent while tumbling: worst 10-sample deviation %.3f %%", worstSent * 100);
    QVERIFY(worstSent < 0.01);
}

QTEST_GUILESS_MAIN(CalibrationEndToEndTest)
#include "tst_calsim_e2e.moc"
