// SPDX-License-Identifier: GPL-3.0-or-later
#include "simbench.h"

#include <QtTest>

using namespace simbench;

// Runs that end without a result, against the simulated module: whatever ends
// them, the module's calibration registers end up as they were before the run,
// and a module that does not take a write is never told it did.
class CalibrationFailureEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void leavingPageMidRunRestoresModule_data();
    void leavingPageMidRunRestoresModule();
    void magnetometerWithTooFewPointsRestoresModule();
    void magnetometerCloudInOnePlaneRestoresModule();
    void vanishedModuleIsOfferedPreviousParametersOnReconnect_data();
    void vanishedModuleIsOfferedPreviousParametersOnReconnect();
    void moduleIgnoringTheOffsetWriteFailsTheRun();
};

namespace {

constexpr double streamRate = 100;

Block previousParams(const QString &sensor)
{
    if (sensor == QLatin1String("accelerometer"))
        return {0.1f, -0.2f, 0.3f, 1.01f, 0.002f, 0.0f, -0.001f, 0.99f, 0.0f, 0.0f, 0.003f, 1.02f};
    if (sensor == QLatin1String("gyroscope"))
        return {0.5f, -0.5f, 0.25f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    return {0.05f, 0.02f, -0.03f, 2.0f, 0, 0, 0, 2.1f, 0, 0, 0, 1.9f};
}

Block resetParams()
{
    return {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
}

// Gives the module calibration parameters of its own, through the register page's
// edit path (each write is read back, so the backend's image follows).
bool givePreviousParams(Bench &bench, const QString &sensor)
{
    const SensorRegisters regs = registersOf(sensor);
    const Block block = previousParams(sensor);
    for (int i = 0; i < regs.floats; ++i) {
        if (!bench.backend->writeRegisterText(
                regs.address + 4 * i, QString::number(double(block[std::size_t(i)]), 'g', 9)))
            return false;
    }
    const int lastRow = registerRowAt(regs.address + 4 * (regs.floats - 1));
    QObject *last = bench.backend->registers().at(lastRow);
    return bench.waitFor([&] {
        return bench.moduleParams(sensor) == block
            && last->property("data").toFloat() == block[std::size_t(regs.floats - 1)];
    });
}

// Opens the sensor's page and starts its run (for the accelerometer up to its
// first position), then waits until the module holds the reset block.
bool startRun(Bench &bench, const QString &sensor)
{
    DurUzaBackend &backend = *bench.backend;
    if (sensor == QLatin1String("accelerometer")) {
        backend.requestAccOnly();
        backend.accCalButton();
        backend.accCalButton();
    } else if (sensor == QLatin1String("gyroscope")) {
        backend.requestGyroOnly();
        backend.gyroCalButton();
    } else {
        backend.requestMagOnly();
        backend.magCalButton();
    }
    return bench.waitFor([&] { return bench.moduleParams(sensor) == resetParams(); });
}

void addSensorRows()
{
    QTest::addColumn<QString>("sensor");
    QTest::newRow("accelerometer") << "accelerometer";
    QTest::newRow("gyroscope") << "gyroscope";
    QTest::newRow("magnetometer") << "magnetometer";
}

} // namespace

void CalibrationFailureEndToEndTest::leavingPageMidRunRestoresModule_data()
{
    addSensorRows();
}

void CalibrationFailureEndToEndTest::leavingPageMidRunRestoresModule()
{
    QFETCH(QString, sensor);
    Bench bench(true, streamRate);
    QVERIFY(bench.connect());
    QVERIFY(givePreviousParams(bench, sensor));
    QSignalSpy failed(bench.backend.get(), &DurUzaBackend::calibrationFailed);
    QVERIFY(startRun(bench, sensor));

    bench.backend->cancelCalibration(); // what the page's Back does
    bench.backend->requestChartData();
    QVERIFY(bench.waitFor([&] { return bench.moduleParams(sensor) == previousParams(sensor); }));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000); // after the read-back
    QCOMPARE(failed.first().at(0).toString(), sensor);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration cancelled. Previous calibration kept."));
}

void CalibrationFailureEndToEndTest::magnetometerWithTooFewPointsRestoresModule()
{
    Bench bench(true, streamRate);
    QVERIFY(bench.connect());
    QVERIFY(givePreviousParams(bench, "magnetometer"));
    QSignalSpy failed(bench.backend.get(), &DurUzaBackend::calibrationFailed);
    QSignalSpy finished(bench.backend.get(), &DurUzaBackend::magCalFinished);
    QVERIFY(startRun(bench, "magnetometer"));
    // Held still: the noise stays within the spacing, so next to nothing is kept.
    bench.collect(&DurUzaBackend::magDataListChanged, &DurUzaBackend::magDataList, 30);
    bench.backend->magCalButton();

    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
    QVERIFY2(failed.first().at(1).toString().contains("of the 50 points needed"),
        qPrintable(failed.first().at(1).toString()));
    QCOMPARE(finished.count(), 0);
    QVERIFY(bench.waitFor(
        [&] { return bench.moduleParams("magnetometer") == previousParams("magnetometer"); }));
}

void CalibrationFailureEndToEndTest::magnetometerCloudInOnePlaneRestoresModule()
{
    Bench bench(true, streamRate);
    QVERIFY(bench.connect());
    QVERIFY(givePreviousParams(bench, "magnetometer"));
    QSignalSpy failed(bench.backend.get(), &DurUzaBackend::calibrationFailed);
    QSignalSpy finished(bench.backend.get(), &DurUzaBackend::magCalFinished);
    QVERIFY(startRun(bench, "magnetometer"));
    // Turned about its x axis only: the field's x component never changes.
    bench.sim->setMotion(SimMotion::rotating(SimPose::ZUp, {1, 0, 0}, 180));
    QVERIFY(bench.waitFor([&] { return bench.sim->truth().seconds >= 3.0; }, 20000));
    const int kept = bench.backend->magScatterDataProxy()->array()->size();
    bench.backend->magCalButton();

    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
    QVERIFY2(kept >= 50, qPrintable(QString::number(kept))); // refused for its shape, not its size
    QVERIFY2(failed.first().at(1).toString().contains("one plane"),
        qPrintable(failed.first().at(1).toString()));
    QCOMPARE(finished.count(), 0);
    QVERIFY(bench.waitFor(
        [&] { return bench.moduleParams("magnetometer") == previousParams("magnetometer"); }));
}

void CalibrationFailureEndToEndTest::vanishedModuleIsOfferedPreviousParametersOnReconnect_data()
{
    addSensorRows();
}

void CalibrationFailureEndToEndTest::vanishedModuleIsOfferedPreviousParametersOnReconnect()
{
    QFETCH(QString, sensor);
    Bench bench(true, streamRate);
    QVERIFY(bench.connect());
    QVERIFY(givePreviousParams(bench, sensor));
    QSignalSpy failed(bench.backend.get(), &DurUzaBackend::calibrationFailed);
    QSignalSpy notices(bench.backend.get(), &DurUzaBackend::calibrationNotice);
    QVERIFY(startRun(bench, sensor));

    bench.sim->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
    QVERIFY2(failed.first().at(1).toString().contains("can be restored"),
        qPrintable(failed.first().at(1).toString()));
    QVERIFY(!bench.backend->isConnected());
    // Nothing could reach the module: it keeps what it had when it went, the reset.
    QCOMPARE(bench.moduleParams(sensor), resetParams());

    bench.sim->replug();
    QSignalSpy offers(bench.backend.get(), &DurUzaBackend::calibrationRestoreOffersChanged);
    QVERIFY(bench.connect());
    // The connect sequence has read the identity: the same module, offered its
    // parameters, and nothing written unasked.
    QTRY_COMPARE_WITH_TIMEOUT(bench.backend->calibrationRestoreOffers().size(), 1, 10000);
    QCOMPARE(bench.moduleParams(sensor), resetParams());
    const QVariantMap offer = bench.backend->calibrationRestoreOffers().first().toMap();
    QCOMPARE(offer.value("sensor").toString(), sensor);
    QCOMPARE(offer.value("port").toString(), bench.sim->linkPath());

    bench.backend->restoreCalibration(sensor);
    QVERIFY(bench.waitFor([&] { return bench.moduleParams(sensor) == previousParams(sensor); }));
    QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, 10000);
    QVERIFY2(notices.first().at(1).toString().contains("was restored"),
        qPrintable(notices.first().at(1).toString()));
    QCOMPARE(failed.count(), 1);
}

// The module keeps its gyroscope offsets whatever is written to them.
void CalibrationFailureEndToEndTest::moduleIgnoringTheOffsetWriteFailsTheRun()
{
    Bench bench(false, streamRate);
    QVERIFY(bench.connect());
    QVERIFY(givePreviousParams(bench, "gyroscope"));
    bench.sim->setIgnoredWrites(103, 12);
    QSignalSpy failed(bench.backend.get(), &DurUzaBackend::calibrationFailed);
    QSignalSpy finished(bench.backend.get(), &DurUzaBackend::gyroCalFinished);
    bench.backend->requestGyroOnly();
    bench.backend->gyroCalButton();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration failed: the module did not take the new parameters. "
                       "Previous calibration kept."));
    QCOMPARE(bench.moduleParams("gyroscope"), previousParams("gyroscope"));
}

QTEST_GUILESS_MAIN(CalibrationFailureEndToEndTest)
#include "tst_calsim_failures.moc"
