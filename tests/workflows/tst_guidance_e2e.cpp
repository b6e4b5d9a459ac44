// SPDX-License-Identifier: GPL-3.0-or-later
#include "simbench.h"

#include "magfitcomparison.h"

#include <QtTest>

using namespace simbench;

// The guidance against the simulated module with its sensor errors, through the
// pseudo-terminal and the real link: a wrong face named within a second, the
// coverage of a tumble growing live and the chosen fit written, a turn during
// the gyroscope's rest refused.
class CalibrationGuidanceEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void wrongFaceIsNamedWithinASecond();
    void tumbleCoverageGrowsAndTheChosenFitIsWritten();
    void gyroscopeTurnedDuringRestIsRefused();

private:
    std::unique_ptr<Bench> m_bench;
    QTemporaryDir m_reports;
};

void CalibrationGuidanceEndToEndTest::initTestCase()
{
    m_bench = std::make_unique<Bench>(true, 100);
    QVERIFY(m_bench->connect());
    m_bench->backend->guide()->setReportFolder(m_reports.path());
}

void CalibrationGuidanceEndToEndTest::cleanupTestCase()
{
    m_bench.reset();
}

void CalibrationGuidanceEndToEndTest::wrongFaceIsNamedWithinASecond()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    CalibrationGuide &guide = *backend.guide();
    guide.setHoldPositions(true);
    bench.sim->setStreamRate(100); // about what the module streams
    backend.requestAccOnly();
    QVERIFY(bench.waitFor([&] { return guide.faceUp() == QLatin1String("Z-Up"); }));
    backend.accCalButton(); // Z-Up asked for, and held
    QVERIFY(bench.waitFor([&] { return guide.expectedFace() == QLatin1String("Z-Up"); }));
    QVERIFY(guide.faceProblem().isEmpty());

    // The user turns it onto its side instead.
    QElapsedTimer clock;
    clock.start();
    bench.sim->setMotion(SimMotion::still(SimPose::XUp));
    QVERIFY(bench.waitFor([&] { return !guide.faceProblem().isEmpty(); }, 5000));
    const qint64 ms = clock.elapsed();
    qInfo("wrong face named after %lld ms: %s", ms, qPrintable(guide.faceProblem()));
    QCOMPARE(guide.faceProblem(), QStringLiteral("This is X-Up; place the module with Z-Up."));
    QVERIFY(ms < 1000);
    // Leave it as the page would, and let the module take its parameters back.
    QSignalSpy cancelled(&backend, &DurUzaBackend::calibrationFailed);
    backend.cancelCalibration();
    QTRY_COMPARE_WITH_TIMEOUT(cancelled.count(), 1, 5000);
    guide.setHoldPositions(false);
    bench.sim->setMotion(SimMotion::still(SimPose::ZUp));
}

void CalibrationGuidanceEndToEndTest::tumbleCoverageGrowsAndTheChosenFitIsWritten()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    CalibrationGuide &guide = *backend.guide();
    bench.sim->setStreamRate(300);
    backend.requestMagOnly();
    QSignalSpy finished(&backend, &DurUzaBackend::magCalFinished);
    QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);
    QVERIFY(bench.collect(&DurUzaBackend::magDataListChanged, &DurUzaBackend::magDataList, 5).size()
        == 5);
    backend.magCalButton(); // Start
    bench.sim->setMotion(SimMotion::tumbling());
    // Refreshed about once a second while the module turns.
    std::vector<double> coverage;
    QObject listening; // ends the connection with this test
    connect(&guide, &CalibrationGuide::magChanged, &listening,
        [&] { coverage.push_back(guide.magCoverage()); });
    // About 24 s of tumbling is enough on a quiet machine; a loaded one hands
    // the guide fewer points a second, so it gets up to a minute of motion.
    QVERIFY(bench.waitFor(
        [&] {
            const double seconds = bench.sim->truth().seconds;
            return (seconds >= 24.0 && guide.magGoodEnough()) || seconds >= 60.0;
        },
        90000));
    qInfo("coverage once a second: %s", qPrintable([&] {
        QStringList s;
        for (double c : coverage)
            s << QString::number(c, 'f', 0);
        return s.join(' ');
    }()));
    QVERIFY(coverage.size() >= 15);
    QVERIFY(coverage.back() > coverage[2]);
    QVERIFY(guide.magCoverage() >= 75);
    QVERIFY(guide.magGoodEnough());
    qInfo("after %.0f s: %.0f %% covered, spread %.2f %%, drift %.2f %%; %s",
        bench.sim->truth().seconds, guide.magCoverage(), guide.magSpread(), guide.magDrift(),
        qPrintable(guide.magVerdict()));

    backend.magCalButton(); // Finish
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + failed.count(), 1, 5000);
    if (!failed.isEmpty())
        QFAIL(qPrintable(failed.first().at(1).toString()));
    QTRY_VERIFY_WITH_TIMEOUT(bench.moduleParams("magnetometer")[3] != 1.0f, 5000);
    const QVariantList fits = guide.magFits();
    int best = -1;
    double lowest = 1e9;
    for (int i = 0; i < fits.size(); ++i) {
        const QVariantMap fit = fits[i].toMap();
        qInfo("%s: spread %.3f %%, held out %.3f %%", qPrintable(fit["name"].toString()),
            fit["spread"].toDouble(), fit["heldOutSpread"].toDouble());
        // Chosen on the points the fits did not see.
        if (fit["valid"].toBool() && fit["heldOutSpread"].toDouble() < lowest) {
            lowest = fit["heldOutSpread"].toDouble();
            best = i;
        }
    }
    QCOMPARE(guide.magChosenFit(), best);
    QVERIFY(fits[best].toMap()["best"].toBool());
    // What the module holds is that fit's parameters, bit for bit.
    const QVariantList parameters = fits[best].toMap()["parameters"].toList();
    const Block held = bench.moduleParams("magnetometer");
    QCOMPARE(parameters.size(), 12);
    for (int i = 0; i < 12; ++i)
        QCOMPARE(held[std::size_t(i)], parameters[i].toFloat());
    qInfo("written: %s, quality %.0f", qPrintable(fits[best].toMap()["name"].toString()),
        finished.first().first().toDouble());
    QVERIFY(finished.first().first().toDouble() >= 90);
}

void CalibrationGuidanceEndToEndTest::gyroscopeTurnedDuringRestIsRefused()
{
    Bench &bench = *m_bench;
    DurUzaBackend &backend = *bench.backend;
    bench.sim->setMotion(SimMotion::still(SimPose::ZUp));
    bench.sim->setStreamRate(100);
    backend.requestGyroOnly();
    QSignalSpy finished(&backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);
    QVERIFY(
        bench.collect(&DurUzaBackend::gyroDataListChanged, &DurUzaBackend::gyroDataList, 5).size()
        == 5);
    backend.gyroCalButton();
    QVERIFY(bench.waitFor([&] { return backend.progressPercent() >= 30; }, 10000));
    // Someone turns the module for a moment.
    bench.sim->setMotion(SimMotion::rotating(SimPose::ZUp, {0, 0, 1}, 30));
    bench.collect(&DurUzaBackend::gyroDataListChanged, &DurUzaBackend::gyroDataList, 15);
    bench.sim->setMotion(SimMotion::still(SimPose::ZUp));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + failed.count(), 1, 10000);
    QCOMPARE(finished.count(), 0);
    const QString message = failed.first().at(1).toString();
    qInfo("%s", qPrintable(message));
    QVERIFY(message.startsWith(
        QStringLiteral("Calibration refused: the module turned during the rest period (up to ")));
    QVERIFY(message.contains(QStringLiteral("about Z")));
    QVERIFY(message.endsWith(QStringLiteral("Previous calibration kept.")));
}

QTEST_GUILESS_MAIN(CalibrationGuidanceEndToEndTest)
#include "tst_guidance_e2e.moc"
