// SPDX-License-Identifier: GPL-3.0-or-later
// The guided heading turns fed sample by sample as the module sends them
// (corrected by its active calibration), against the simulator's sensor model.

#include "headingturns.h"
#include "sensormodel.h"

#include <QtTest>

#include <random>

namespace {

// A calibration the module might hold: offsets and a turned, uneven matrix.
const Calibration::ParamBlock active {
    0.12f, -0.08f, 0.05f, 1.9f, 0.1f, -0.05f, 0.1f, 2.2f, 0.08f, -0.05f, 0.08f, 2.05f};
const Calibration::ParamBlock identity {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};

QVector3D sent(const std::array<double, 3> &raw, const Calibration::ParamBlock &b)
{
    QVector3D out;
    for (int r = 0; r < 3; ++r) {
        double v = 0;
        for (int c = 0; c < 3; ++c)
            v += double(b[std::size_t(3 + 3 * r + c)])
                * (raw[std::size_t(c)] - double(b[std::size_t(c)]));
        out[r] = float(v);
    }
    return out;
}

class Feeder
{
public:
    explicit Feeder(HeadingTurns &turns)
        : m_turns(turns)
    {
        m_model.setErrors(SimSensorErrors::generate(11, true));
        m_model.setErrorsEnabled(true);
    }
    // `count` samples held at one pose and heading, with the sensor's noise.
    int hold(SimPose pose, double headingDeg, int count)
    {
        m_model.setMotion(SimMotion::still(pose, headingDeg), 0.0);
        const SimTruth t = m_model.truth(0.0, SensorModel::Correction(), SimFullScales());
        m_lastRaw = t.magSensed;
        int taken = 0;
        for (int i = 0; i < count; ++i)
            taken += feed(t, m_model.errors().magNoise) ? 1 : 0;
        return taken;
    }
    // A turn from one heading to the next over `count` samples.
    int turn(double fromDeg, double toDeg, int count)
    {
        int taken = 0;
        for (int i = 0; i < count; ++i) {
            m_model.setMotion(
                SimMotion::still(SimPose::ZUp, fromDeg + (toDeg - fromDeg) * i / count), 0.0);
            taken += feed(m_model.truth(0.0, SensorModel::Correction(), SimFullScales()),
                         m_model.errors().magNoise)
                ? 1
                : 0;
        }
        return taken;
    }
    std::array<double, 3> lastRaw() const { return m_lastRaw; }

private:
    bool feed(const SimTruth &t, double sigma)
    {
        std::array<double, 3> raw = t.magSensed;
        for (double &v : raw)
            v += sigma * m_noise(m_rng);
        const QVector3D acc(float(t.acc[0] + 0.03 * m_noise(m_rng)),
            float(t.acc[1] + 0.03 * m_noise(m_rng)), float(t.acc[2] + 0.03 * m_noise(m_rng)));
        return m_turns.add(acc, sent(raw, active));
    }

    HeadingTurns &m_turns;
    SensorModel m_model;
    std::mt19937_64 m_rng {5};
    std::normal_distribution<double> m_noise {0.0, 1.0};
    std::array<double, 3> m_lastRaw {};
};

} // namespace

class HeadingTurnsTest : public QObject
{
    Q_OBJECT

private slots:
    void eightHeadingsAtRestGiveTheSensorsOwnField()
    {
        HeadingTurns turns;
        turns.start(active);
        Feeder feeder(turns);
        for (int i = 0; i < HeadingTurns::headingCount; ++i) {
            QCOMPARE(turns.targetDeg(), 45.0 * i);
            if (i > 0)
                QCOMPARE(feeder.turn(45.0 * (i - 1), 45.0 * i, 40), 0); // moving: no stop
            QCOMPARE(feeder.hold(SimPose::ZUp, 45.0 * i, 3 * HeadingTurns::restSamples), 1);
            const HeadingStop &stop = turns.stops().back();
            QCOMPARE(stop.turnedDeg, 45.0 * i);
            // The active calibration undone: the sensed field, to the noise
            // of half a second's mean.
            const std::array<double, 3> raw = feeder.lastRaw();
            for (int a = 0; a < 3; ++a)
                QVERIFY2(std::fabs(double(stop.mag[a]) - raw[std::size_t(a)]) < 0.002,
                    qPrintable(QStringLiteral("heading %1 axis %2: %3, sensed %4")
                                   .arg(45 * i)
                                   .arg(a)
                                   .arg(double(stop.mag[a]))
                                   .arg(raw[std::size_t(a)])));
        }
        QVERIFY(turns.done());
        QVERIFY(!turns.running());
        QVERIFY2(turns.hint().contains(QLatin1String("All 8")), qPrintable(turns.hint()));
        // The stops make a table; uncorrected the hard iron shows.
        const HeadingTable uncorrected = headingDeviation(turns.stops(), identity);
        QVERIFY2(uncorrected.ok, qPrintable(uncorrected.reason));
        QVERIFY(uncorrected.maxDeviationDeg > 5.0);
    }

    void noStopWhileNotFlatStillOrTurned_data()
    {
        QTest::addColumn<int>("pose");
        QTest::addColumn<bool>("secondHoldAtSameHeading");
        QTest::addColumn<int>("expectedStops");
        QTest::addColumn<QString>("hintHas");
        QTest::newRow("on its side") << int(SimPose::XUp) << false << 0 << "flat";
        QTest::newRow("same heading twice") << int(SimPose::ZUp) << true << 1 << "45°";
    }

    void noStopWhileNotFlatStillOrTurned()
    {
        QFETCH(int, pose);
        QFETCH(bool, secondHoldAtSameHeading);
        QFETCH(int, expectedStops);
        QFETCH(QString, hintHas);
        HeadingTurns turns;
        turns.start(active);
        Feeder feeder(turns);
        feeder.hold(SimPose(pose), 0.0, 3 * HeadingTurns::restSamples);
        if (secondHoldAtSameHeading)
            feeder.hold(SimPose(pose), 2.0, 3 * HeadingTurns::restSamples);
        QCOMPARE(turns.stopsTaken(), expectedStops);
        QVERIFY2(turns.hint().contains(hintHas), qPrintable(turns.hint()));
    }

    void calibrationThatCannotBeUndoneTakesNothing()
    {
        Calibration::ParamBlock flat = active;
        flat[11] = 0.0f; // third row zero: no inverse
        flat[9] = 0.0f;
        flat[10] = 0.0f;
        HeadingTurns turns;
        turns.start(flat);
        QVERIFY(!turns.undoable());
        Feeder feeder(turns);
        QCOMPARE(feeder.hold(SimPose::ZUp, 0.0, 3 * HeadingTurns::restSamples), 0);
        QVERIFY2(
            turns.hint().contains(QLatin1String("cannot be undone")), qPrintable(turns.hint()));
    }
};

QTEST_GUILESS_MAIN(HeadingTurnsTest)
#include "tst_headingturns.moc"
