// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulesimulator.h"
#include "noiseanalysis.h"
#include "sensormodel.h"
#include "simcontrol.h"
#include "stochasticsensor.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

NoiseInput gyroInput(const std::vector<float> &values, double rate)
{
    NoiseInput in;
    in.rateHz = rate;
    in.channels.push_back(
        {QStringLiteral("gyro_x"), QStringLiteral("deg/s"), NoiseChannel::Gyro, values});
    return in;
}

std::vector<float> whiteSeries(double N, double rate, double seconds, quint64 seed)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> unit;
    std::vector<float> v(std::size_t(seconds * rate));
    for (float &x : v)
        x = float(N * std::sqrt(rate) * unit(rng));
    return v;
}

// Rate random walk with coefficient K plus white noise N.
std::vector<float> walkSeries(double N, double K, double rate, double seconds, quint64 seed)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> unit;
    std::vector<float> v(std::size_t(seconds * rate));
    double walk = 0;
    for (float &x : v) {
        walk += K * std::sqrt(1 / rate) * unit(rng);
        x = float(walk + N * std::sqrt(rate) * unit(rng));
    }
    return v;
}

// Six channels from the simulator's model, quantised like the module's output.
NoiseInput simulatedInput(const StochasticParameters &p, double rate, double seconds, quint64 seed)
{
    StochasticSensor sensor(p, seed);
    NoiseInput in;
    in.rateHz = rate;
    static const char *names[6] = {"gyro_x", "gyro_y", "gyro_z", "acc_x", "acc_y", "acc_z"};
    for (int i = 0; i < 6; ++i)
        in.channels.push_back(
            {QLatin1String(names[i]), i < 3 ? QStringLiteral("deg/s") : QStringLiteral("m/s^2"),
                i < 3 ? NoiseChannel::Gyro : NoiseChannel::Acc, {}});
    const long n = long(seconds * rate);
    for (auto &c : in.channels)
        c.values.reserve(std::size_t(n));
    for (long s = 0; s < n; ++s) {
        const std::array<double, 6> e = sensor.step(1 / rate);
        for (int i = 0; i < 6; ++i) {
            const double base = i == 5 ? 9.80665 : 0.0;
            in.channels[std::size_t(i)].values.push_back(float(StochasticSensor::quantise(
                base + e[std::size_t(i)], i < 3 ? p.gyroLsb : p.accLsb)));
        }
    }
    return in;
}

QString termText(const NoiseTerm &t)
{
    return t.known ? QStringLiteral("%1 [%2, %3]").arg(t.value).arg(t.low).arg(t.high)
                   : QStringLiteral("unknown: ") + t.reason;
}

} // namespace

class TestNoiseAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void chiSquaredQuantileMatchesTables_data();
    void chiSquaredQuantileMatchesTables();
    void alternatingSeriesHasAllanVarianceTwo();
    void whiteNoiseGivesNAndAsksForLongerRecordForBAndK_data();
    void whiteNoiseGivesNAndAsksForLongerRecordForBAndK();
    void randomWalkGivesK();
    void avarCorrelationMatchesRepeatedRecords_data();
    void avarCorrelationMatchesRepeatedRecords();
    void randomWalkIntervalsHoldTheTruthAcrossSeeds();
    void slowWalkUnderFlickerIsResolvedInThreeHours();
    void simulatorTermsAreRecoveredWithinTheirIntervals();
    void simulatedModuleStreamsTheModelsNoise();
    void truthCommandPrintsTheTerms();
    void motionIsRefusedNamingWhen();
    void tooShortRecordingIsRefused();
    void gapIsRefused();
    void spectrumFloorMatchesN();
};

void TestNoiseAnalysis::chiSquaredQuantileMatchesTables_data()
{
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("dof");
    QTest::addColumn<double>("expected");
    // Published table values.
    QTest::newRow("0.05, 1") << 0.05 << 1.0 << 0.003932;
    QTest::newRow("0.95, 1") << 0.95 << 1.0 << 3.841;
    QTest::newRow("0.05, 10") << 0.05 << 10.0 << 3.940;
    QTest::newRow("0.95, 10") << 0.95 << 10.0 << 18.307;
    QTest::newRow("0.95, 100") << 0.95 << 100.0 << 124.342;
    QTest::newRow("0.05, 100") << 0.05 << 100.0 << 77.929;
}

void TestNoiseAnalysis::chiSquaredQuantileMatchesTables()
{
    QFETCH(double, p);
    QFETCH(double, dof);
    QFETCH(double, expected);
    const double got = NoiseMath::chiSquaredQuantile(p, dof);
    QVERIFY2(std::fabs(got / expected - 1) < 1e-3,
        qPrintable(QStringLiteral("quantile %1 of chi2(%2): %3, tables say %4")
                       .arg(p)
                       .arg(dof)
                       .arg(got)
                       .arg(expected)));
}

void TestNoiseAnalysis::alternatingSeriesHasAllanVarianceTwo()
{
    // +1, -1, ...: neighbouring 1-sample means differ by 2, AVAR = 4 / 2;
    // 2-sample means are all 0.
    std::vector<float> v(1000);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = i % 2 ? -1.f : 1.f;
    const std::vector<double> x = NoiseMath::phaseOf(v, 0.5);
    QCOMPARE(x.size(), v.size() + 1);
    QVERIFY(std::fabs(NoiseMath::overlappingAvar(x, 0.5, 1) - 2.0) < 1e-9);
    QVERIFY(std::fabs(NoiseMath::overlappingAvar(x, 0.5, 2)) < 1e-9);
}

void TestNoiseAnalysis::whiteNoiseGivesNAndAsksForLongerRecordForBAndK_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::newRow("seed 1") << quint64(1);
    QTest::newRow("seed 2") << quint64(2);
    QTest::newRow("seed 3") << quint64(3);
}

void TestNoiseAnalysis::whiteNoiseGivesNAndAsksForLongerRecordForBAndK()
{
    QFETCH(quint64, seed);
    const double N = 0.01, rate = 200;
    const NoiseReport r = analyseNoise(gyroInput(whiteSeries(N, rate, 600, seed), rate));
    QVERIFY2(r.ok, qPrintable(r.error));
    const NoiseChannelResult &c = r.channels.front();
    QVERIFY2(c.N.known && std::fabs(c.N.value / N - 1) < 0.03, qPrintable(termText(c.N)));
    QVERIFY2(c.N.low <= N && N <= c.N.high, qPrintable(termText(c.N)));
    // Nothing else is there: neither term may be claimed, and each says how long to record.
    QVERIFY2(!c.B.known, qPrintable(termText(c.B)));
    QVERIFY2(!c.K.known, qPrintable(termText(c.K)));
    QVERIFY2(c.K.reason.contains(QLatin1String("recording of about")), qPrintable(c.K.reason));
    QVERIFY2(c.K.neededSeconds > r.durationS, qPrintable(c.K.reason));
    // The white curve falls as 1/sqrt(tau): each point's interval holds N / sqrt(tau) mostly.
    int covered = 0;
    for (const AdevPoint &p : c.adev)
        covered += p.low <= N / std::sqrt(p.tau) && N / std::sqrt(p.tau) <= p.high;
    QVERIFY2(covered >= int(c.adev.size()) * 3 / 4,
        qPrintable(
            QStringLiteral("%1 of %2 points cover the truth").arg(covered).arg(c.adev.size())));
}

void TestNoiseAnalysis::randomWalkGivesK()
{
    const double N = 0.001, K = 0.002, rate = 50;
    const NoiseReport r = analyseNoise(gyroInput(walkSeries(N, K, rate, 1800, 11), rate));
    QVERIFY2(r.ok, qPrintable(r.error));
    const NoiseChannelResult &c = r.channels.front();
    QVERIFY2(c.K.known && std::fabs(c.K.value / K - 1) < 0.25, qPrintable(termText(c.K)));
    QVERIFY2(c.K.low <= K && K <= c.K.high, qPrintable(termText(c.K)));
    QVERIFY2(c.N.known && std::fabs(c.N.value / N - 1) < 0.05, qPrintable(termText(c.N)));
}

void TestNoiseAnalysis::avarCorrelationMatchesRepeatedRecords_data()
{
    QTest::addColumn<double>("N");
    QTest::addColumn<double>("K");
    QTest::newRow("white") << 1.0 << 0.0;
    QTest::newRow("random walk") << 0.0 << 0.05;
    QTest::newRow("mix") << 1.0 << 0.05;
}

// The correlation the generalised fit weights by, against the one seen
// over many independent records of the same noise.
void TestNoiseAnalysis::avarCorrelationMatchesRepeatedRecords()
{
    QFETCH(double, N);
    QFETCH(double, K);
    const double rate = 1;
    const long M = 2000;
    const std::vector<long> ms {1, 2, 4, 16, 64};
    const int records = 400;
    std::vector<std::vector<double>> samples(ms.size());
    for (int r = 0; r < records; ++r) {
        const std::vector<float> v = walkSeries(N, K, rate, double(M), 1000 + quint64(r));
        const std::vector<double> x = NoiseMath::phaseOf(v, 1 / rate);
        for (std::size_t i = 0; i < ms.size(); ++i)
            samples[i].push_back(NoiseMath::overlappingAvar(x, 1 / rate, ms[i]));
    }
    const std::vector<double> rho
        = NoiseMath::avarCorrelation(ms, 1 / rate, M, N * N, 0, K * K / 3);
    QCOMPARE(rho.size(), ms.size() * ms.size());
    const auto corr = [&](std::size_t a, std::size_t b) {
        double ma = 0, mb = 0;
        for (int r = 0; r < records; ++r)
            ma += samples[a][std::size_t(r)], mb += samples[b][std::size_t(r)];
        ma /= records, mb /= records;
        double sab = 0, saa = 0, sbb = 0;
        for (int r = 0; r < records; ++r) {
            const double da = samples[a][std::size_t(r)] - ma, db = samples[b][std::size_t(r)] - mb;
            sab += da * db, saa += da * da, sbb += db * db;
        }
        return sab / std::sqrt(saa * sbb);
    };
    for (std::size_t a = 0; a < ms.size(); ++a) {
        QCOMPARE(rho[a * ms.size() + a], 1.0);
        for (std::size_t b = a + 1; b < ms.size(); ++b) {
            const double predicted = rho[a * ms.size() + b];
            QCOMPARE(predicted, rho[b * ms.size() + a]);
            // 400 records know a correlation to about +-0.05.
            const double seen = corr(a, b);
            QVERIFY2(std::fabs(predicted - seen) < 0.15,
                qPrintable(QStringLiteral("m %1 and %2: predicted %3, seen %4")
                               .arg(ms[a])
                               .arg(ms[b])
                               .arg(predicted)
                               .arg(seen)));
        }
    }
}

void TestNoiseAnalysis::randomWalkIntervalsHoldTheTruthAcrossSeeds()
{
    // A walk that crosses the white noise near 9 s: a 20-minute record
    // holds a few dozen of its excursions, so K is known but not exactly,
    // and its 90 % interval must hold the truth in most seeds (not always:
    // an interval that always does is too wide to tell anything).
    const double N = 0.01, K = 0.002, rate = 20;
    int covered = 0, known = 0;
    double widest = 0;
    for (quint64 seed = 1; seed <= 12; ++seed) {
        const NoiseReport r = analyseNoise(gyroInput(walkSeries(N, K, rate, 1200, seed), rate));
        QVERIFY2(r.ok, qPrintable(r.error));
        const NoiseTerm &k = r.channels.front().K;
        if (!k.known)
            continue;
        ++known;
        covered += k.low <= K && K <= k.high;
        QVERIFY2(k.low < k.value && k.value < k.high, qPrintable(termText(k)));
        QVERIFY2(std::fabs(k.value / K - 1) < 0.35, qPrintable(termText(k)));
        widest = std::max(widest, k.high / k.low);
    }
    QCOMPARE(known, 12);
    QVERIFY2(covered >= 9, qPrintable(QStringLiteral("%1 of %2").arg(covered).arg(known)));
    QVERIFY2(widest < 2, qPrintable(QString::number(widest)));
}

void TestNoiseAnalysis::slowWalkUnderFlickerIsResolvedInThreeHours()
{
    // The simulator's consumer part: the walk rises above the flat part
    // only near 300 s, so a 3-hour record sees it at its longest cluster
    // times alone. Taking the points' shared data into account, rather than
    // the worst case, resolves it on every axis.
    StochasticParameters p = StochasticParameters::consumerMems();
    p.gyroLsb = 250.0 / 32768;
    p.accLsb = 20.0 / 32768;
    const double rate = 20;
    NoiseOptions options;
    options.spectrum = false;
    const NoiseReport r = analyseNoise(simulatedInput(p, rate, 3 * 3600, 3), options);
    QVERIFY2(r.ok, qPrintable(r.error));
    const StochasticSensor::Truth truth = StochasticSensor(p, 0).truth(rate);
    int covered = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const NoiseTerm &k = r.channels[i].K;
        QVERIFY2(k.known, qPrintable(r.channels[i].name + QLatin1String(": ") + termText(k)));
        QVERIFY2(std::fabs(k.value / truth.K[i] - 1) < 0.6,
            qPrintable(QStringLiteral("%1: %2, truth %3")
                           .arg(r.channels[i].name, termText(k))
                           .arg(truth.K[i])));
        covered += k.low <= truth.K[i] && truth.K[i] <= k.high;
    }
    QVERIFY2(covered >= 4, qPrintable(QString::number(covered)));
}

void TestNoiseAnalysis::simulatorTermsAreRecoveredWithinTheirIntervals()
{
    StochasticParameters p = StochasticParameters::consumerMems();
    p.gyroLsb = 250.0 / 32768;
    p.accLsb = 20.0 / 32768;
    const double rate = 100;
    const NoiseInput in = simulatedInput(p, rate, 3600, 5);
    const NoiseReport r = analyseNoise(in);
    QVERIFY2(r.ok, qPrintable(r.error));
    const StochasticSensor::Truth truth = StochasticSensor(p, 0).truth(rate);
    QCOMPARE(int(r.channels.size()), 6);
    for (std::size_t i = 0; i < 6; ++i) {
        const NoiseChannelResult &c = r.channels[i];
        const QString why = QStringLiteral("%1: N %2 (truth %3), B %4 (truth %5), K %6 (truth %7)")
                                .arg(c.name, termText(c.N))
                                .arg(truth.N[i])
                                .arg(termText(c.B))
                                .arg(truth.B[i])
                                .arg(termText(c.K))
                                .arg(truth.K[i]);
        QVERIFY2(c.N.known && std::fabs(c.N.value / truth.N[i] - 1) < 0.05, qPrintable(why));
        QVERIFY2(c.B.known && std::fabs(c.B.value / truth.B[i] - 1) < 0.5, qPrintable(why));
        // An hour is short for K: when it is resolved both intervals hold
        // the truth; when not, B takes up some of the walk and the record
        // must say how much longer to measure.
        if (c.K.known) {
            QVERIFY2(c.K.low <= truth.K[i] && truth.K[i] <= c.K.high, qPrintable(why));
            QVERIFY2(c.B.low <= truth.B[i] && truth.B[i] <= c.B.high, qPrintable(why));
        } else {
            QVERIFY2(c.K.neededSeconds > r.durationS, qPrintable(why));
        }
    }
}

void TestNoiseAnalysis::simulatedModuleStreamsTheModelsNoise()
{
    // The module's own output path (16-bit registers at the full scales),
    // at rest, 20 minutes at 100 frames/s.
    StochasticParameters p;
    for (StochasticAxis &a : p.gyro)
        a = {0.02, 0, 0, 0};
    for (StochasticAxis &a : p.acc)
        a = {0.004, 0, 0, 0};
    SensorModel model;
    model.setMotion(SimMotion::still(SimPose::ZUp), 0);
    model.setStochastic(p, 8);
    const SimFullScales scales;
    const double rate = 100;
    NoiseInput in;
    in.rateHz = rate;
    in.channels.push_back(
        {QStringLiteral("gyro_x"), QStringLiteral("deg/s"), NoiseChannel::Gyro, {}});
    in.channels.push_back(
        {QStringLiteral("acc_z"), QStringLiteral("m/s^2"), NoiseChannel::Acc, {}});
    for (int i = 0; i < 1200 * 100; ++i) {
        const auto bytes = model.liveBytes(i / rate, SensorModel::Correction {}, scales);
        auto word = [&](int address) {
            const int at = address - SensorModel::liveStart;
            return double(
                qint16(quint16(bytes[std::size_t(at)] | (bytes[std::size_t(at + 1)] << 8))));
        };
        in.channels[0].values.push_back(float(word(0x0C) / 32768 * scales.gyro));
        in.channels[1].values.push_back(float(word(0x0A) / 32768 * scales.acc));
    }
    const NoiseReport r = analyseNoise(in);
    QVERIFY2(r.ok, qPrintable(r.error));
    p.gyroLsb = scales.gyro / 32768;
    p.accLsb = scales.acc / 32768;
    const StochasticSensor::Truth truth = StochasticSensor(p, 0).truth(rate);
    QVERIFY2(std::fabs(r.channels[0].N.value / truth.N[0] - 1) < 0.03,
        qPrintable(termText(r.channels[0].N)));
    QVERIFY2(std::fabs(r.channels[1].N.value / truth.N[5] - 1) < 0.03,
        qPrintable(termText(r.channels[1].N)));
    QVERIFY2(std::fabs(double(in.channels[1].values.front()) - SensorModel::gravity) < 0.1,
        "the accelerometer's z axis carries gravity");
}

void TestNoiseAnalysis::truthCommandPrintsTheTerms()
{
    ModuleSimulator::Options o;
    StochasticParameters p = StochasticParameters::consumerMems();
    p.gyro[1].whiteDensity = 0.0123;
    o.stochastic = p;
    ModuleSimulator sim(o);
    const SimControlReply reply = runControlLine(sim, QStringLiteral("truth noise"));
    QVERIFY(reply.ok);
    const QStringList lines = reply.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[1].startsWith(QLatin1String("gyro_y N 0.0123")), qPrintable(lines[1]));
    // 0.0123 deg/s/sqrt(Hz) is 0.738 deg/sqrt(h) (quantisation adds a little).
    QVERIFY2(lines[1].contains(QLatin1String("(0.738")), qPrintable(lines[1]));
    ModuleSimulator plain;
    QVERIFY2(
        runControlLine(plain, QStringLiteral("truth noise")).text.contains(QLatin1String("off")),
        "without the model, truth noise says it is off");
}

void TestNoiseAnalysis::motionIsRefusedNamingWhen()
{
    const double rate = 100;
    std::vector<float> v = whiteSeries(0.01, rate, 120, 4);
    // A 2 s turn at 30 deg/s from 40 s.
    for (std::size_t i = std::size_t(40 * rate); i < std::size_t(42 * rate); ++i)
        v[i] += 30.f;
    const NoiseReport r = analyseNoise(gyroInput(v, rate));
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QLatin1String("moved at 40.0-42.0 s")), qPrintable(r.error));
    QVERIFY2(r.error.contains(QLatin1String("gyro_x")), qPrintable(r.error));
}

void TestNoiseAnalysis::tooShortRecordingIsRefused()
{
    const NoiseReport r = analyseNoise(gyroInput(whiteSeries(0.01, 100, 5, 4), 100));
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QLatin1String("too short: 5.0 s")), qPrintable(r.error));
}

void TestNoiseAnalysis::gapIsRefused()
{
    const double rate = 100;
    NoiseInput in = gyroInput(whiteSeries(0.01, rate, 60, 4), rate);
    in.rateHz = 0; // from the times
    for (std::size_t i = 0; i < in.channels[0].values.size(); ++i)
        in.times.push_back(double(i) / rate + (i >= 3000 ? 0.5 : 0.0));
    const NoiseReport r = analyseNoise(in);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QLatin1String("gap of 0.51 s"))
            && r.error.contains(QLatin1String("at 29.99 s")),
        qPrintable(r.error));
    // The same samples without the gap are fine, and the rate comes from the times.
    for (std::size_t i = 0; i < in.times.size(); ++i)
        in.times[i] = double(i) / rate;
    const NoiseReport fine = analyseNoise(in);
    QVERIFY2(fine.ok, qPrintable(fine.error));
    QVERIFY(std::fabs(fine.rateHz - rate) < 1e-6);
    // Times taken on arrival, three frames to a read 30 ms apart, are no gap.
    for (std::size_t i = 0; i < in.times.size(); ++i)
        in.times[i] = double(i / 3) * 3 / rate;
    const NoiseReport bursts = analyseNoise(in);
    QVERIFY2(bursts.ok, qPrintable(bursts.error));
    // A reader stalled for 0.3 s at 20 s gets the held samples at once: no gap either.
    for (std::size_t i = 0; i < in.times.size(); ++i)
        in.times[i] = i >= 2000 && i < 2030 ? 20.3 : double(i) / rate;
    const NoiseReport stalled = analyseNoise(in);
    QVERIFY2(stalled.ok, qPrintable(stalled.error));
    // Times that run backwards are refused.
    std::swap(in.times[100], in.times[101]);
    const NoiseReport backwards = analyseNoise(in);
    QVERIFY2(!backwards.ok && backwards.error.contains(QLatin1String("backwards")),
        qPrintable(backwards.error));
}

void TestNoiseAnalysis::spectrumFloorMatchesN()
{
    const double N = 0.02, rate = 200;
    const NoiseReport r = analyseNoise(gyroInput(whiteSeries(N, rate, 300, 9), rate));
    QVERIFY2(r.ok, qPrintable(r.error));
    const NoiseChannelResult &c = r.channels.front();
    QVERIFY2(std::fabs(c.psdN / N - 1) < 0.05, qPrintable(QString::number(c.psdN)));
    QVERIFY(c.psdAgrees);
    QVERIFY(!c.psd.empty() && c.psd.size() == c.psdFrequency.size());
    // A module that low-passes its output: the floor falls and the check says so.
    std::vector<float> filtered = whiteSeries(N, rate, 300, 9);
    for (std::size_t i = filtered.size() - 1; i >= 3; --i)
        filtered[i] = (filtered[i] + filtered[i - 1] + filtered[i - 2] + filtered[i - 3]) / 4;
    const NoiseReport f = analyseNoise(gyroInput(filtered, rate));
    QVERIFY2(f.ok, qPrintable(f.error));
    QVERIFY2(!f.channels.front().psdAgrees, qPrintable(f.warning));
    QVERIFY2(f.warning.contains(QLatin1String("white floor")), qPrintable(f.warning));
}

QTEST_APPLESS_MAIN(TestNoiseAnalysis)
#include "tst_noiseanalysis.moc"
