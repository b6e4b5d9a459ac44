// SPDX-License-Identifier: GPL-3.0-or-later
#include "workflowrig.h"

#include "modulebackups.h"

#include <QSignalSpy>
#include <QtTest>

using namespace workflowtest;

// What protects the module's parameters around a run: the fresh read of them
// before the reset, their restore on cancel, the read-back that confirms every
// write, the user's say over a poor result, and the offer (never an unasked
// write) after a lost link.
class CalibrationGuardTest : public QObject
{
    Q_OBJECT

private slots:
    void cancelMidRunPutsPreviousParametersBack_data();
    void cancelMidRunPutsPreviousParametersBack();
    void cancelBeforeResetSendsNothing();
    void cancelWhenIdleDoesNothing();
    void unknownParametersAreReadBeforeTheReset();
    void invalidPreviousParametersAreNeverWrittenBack();
    void lostLinkMidRunOffersRestoreOnSameModule_data();
    void lostLinkMidRunOffersRestoreOnSameModule();
    void unconfirmedResultIsNotWrittenAgainAfterReconnect();
    void unconfirmedWriteIsWhatTheNextRunSaves();

    void restoreWritesWhatTheModuleAnsweredNotTheImage_data();
    void restoreWritesWhatTheModuleAnsweredNotTheImage();
    void unansweredReadMeansNoResetAndSaysWhy();
    void restoreTheModuleDidNotTakeIsNotCalledKept();
    void offerNeedsTheSameModuleAndIsVerified();
    void resultTheModuleIgnoredIsAFailure_data();
    void resultTheModuleIgnoredIsAFailure();
    void resultBelowTheFloorWaitsForTheUser();
    void noKnownModuleMeansNoBackupAndNoWrite_data();
    void noKnownModuleMeansNoBackupAndNoWrite();
    void eachRunIsBackedUpBeforeItsFirstWrite_data();
    void eachRunIsBackedUpBeforeItsFirstWrite();
};

namespace {

// Arms `sensor`'s run and feeds samples until its reset is out.
void armAndReset(Rig &rig, const QString &sensor)
{
    if (sensor == QLatin1String("accelerometer")) {
        rig.backend.accCalButton();
        rig.acc(QVector3D(0, 0, 9.8f));
        rig.backend.accCalButton();
        rig.acc(QVector3D(0, 0, 9.8f), 40);
    } else if (sensor == QLatin1String("gyroscope")) {
        rig.backend.gyroCalButton();
        rig.gyro(QVector3D(1, 2, 3), 40);
    } else {
        rig.backend.magCalButton();
        for (int i = 0; i < 40; ++i)
            rig.mag(QVector3D(0.4f * std::cos(i * 0.3f), 0.4f * std::sin(i * 0.3f), 0.1f));
    }
}

struct Target
{
    int address;
    int floats;
    Block previous;
};

Target targetOf(const QString &sensor)
{
    if (sensor == QLatin1String("accelerometer"))
        return {55, 12, previousAcc()};
    if (sensor == QLatin1String("gyroscope"))
        return {103, 3, previousGyro()};
    return {127, 12, previousMag()};
}

void addSensorRows()
{
    QTest::addColumn<QString>("sensor");
    QTest::newRow("accelerometer") << "accelerometer";
    QTest::newRow("gyroscope") << "gyroscope";
    QTest::newRow("magnetometer") << "magnetometer";
}

Block resetFor(const Target &target)
{
    return target.floats == 3 ? Block {} : identityBlock();
}

} // namespace

void CalibrationGuardTest::cancelMidRunPutsPreviousParametersBack_data()
{
    addSensorRows();
}

void CalibrationGuardTest::cancelMidRunPutsPreviousParametersBack()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig;
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, sensor);
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({readFrame(target.address, 4 * target.floats),
            writeFrame(target.address, resetFor(target), target.floats)}));

    rig.backend.cancelCalibration();
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(target.address, target.previous, target.floats),
            readFrame(target.address, 4 * target.floats)}));
    QCOMPARE(failed.count(), 0); // "kept" waits for the read-back
    rig.answerReads();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), sensor);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration cancelled. Previous calibration kept."));
    // The run is over: its samples do nothing now.
    rig.acc(QVector3D(0, 0, 9.8f), 120);
    rig.gyro(QVector3D(1, 1, 1), 220);
    rig.mag(QVector3D(0.3f, 0.1f, 0.2f), 20);
    QVERIFY(rig.writesTo(target.address).isEmpty());
}

void CalibrationGuardTest::cancelBeforeResetSendsNothing()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    rig.backend.accCalButton();
    rig.backend.gyroCalButton();
    rig.backend.cancelCalibration();
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 2);
    rig.acc(QVector3D(0, 0, 9.8f), 5);
    rig.gyro(QVector3D(), 5);
    QVERIFY(rig.frames.isEmpty());
}

void CalibrationGuardTest::cancelWhenIdleDoesNothing()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 210);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    rig.takeFrames();
    rig.backend.cancelCalibration();
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 0);
}

void CalibrationGuardTest::unknownParametersAreReadBeforeTheReset()
{
    Rig rig(false);
    rig.autoAnswer = false;
    rig.takeFrames();
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(1, 1, 1), 5);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(103, 12)}));
    // Only the answer lets the run go on, and the reset follows it at once.
    rig.feedBlock(103, previousGyro(), 3);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(103, Block {}, 3)}));
    rig.gyro(QVector3D(1, 1, 1));
    QVERIFY(rig.frames.isEmpty());
    rig.backend.cancelCalibration();
    QCOMPARE(rig.writesTo(103), QList<QByteArray>({writeFrame(103, previousGyro(), 3)}));
}

void CalibrationGuardTest::invalidPreviousParametersAreNeverWrittenBack()
{
    Rig rig;
    Block broken = previousAcc();
    broken[4] = std::numeric_limits<float>::quiet_NaN();
    rig.feedBlock(55, broken, 12);
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, QStringLiteral("accelerometer"));
    rig.backend.cancelCalibration();
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({readFrame(55, 48), writeFrame(55, identityBlock(), 12)}));
    QCOMPARE(rig.nonFiniteWrites, 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("neutral")));
}

void CalibrationGuardTest::lostLinkMidRunOffersRestoreOnSameModule_data()
{
    addSensorRows();
}

void CalibrationGuardTest::lostLinkMidRunOffersRestoreOnSameModule()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig;
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    QSignalSpy offers(&rig.backend, &DurUzaBackend::calibrationRestoreOffersChanged);
    armAndReset(rig, sensor);
    rig.takeFrames();
    ComsHandler *link = rig.backend.comsHandler();

    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("The serial device hung up"));
    emit link->linkClosed(QStringLiteral("/dev/ttyA"));
    QVERIFY(rig.frames.isEmpty()); // nothing can reach the module now
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), sensor);
    QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("can be restored")));

    emit link->linkOpened(QStringLiteral("/dev/ttyB")); // another port: not ours to write
    rig.feedIdentity(0x42, 1442, 0x0102);
    QVERIFY(rig.frames.isEmpty());
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    emit link->linkClosed(QStringLiteral("/dev/ttyB"));

    // The same port: nothing is written by itself, not even once the identity is in.
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    QVERIFY(rig.frames.isEmpty());
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    rig.feedIdentity(0x42, 1442, 0x0102);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(offers.count(), 1);
    const QVariantList offered = rig.backend.calibrationRestoreOffers();
    QCOMPARE(offered.size(), 1);
    const QVariantMap offer = offered.first().toMap();
    QCOMPARE(offer.value(QStringLiteral("sensor")).toString(), sensor);
    QCOMPARE(offer.value(QStringLiteral("port")).toString(), QStringLiteral("/dev/ttyA"));
    QVERIFY(offer.value(QStringLiteral("savedAt")).toDateTime().isValid());
    const QVariantList values = offer.value(QStringLiteral("values")).toList();
    QCOMPARE(values.size(), target.floats);
    for (int i = 0; i < target.floats; ++i)
        QCOMPARE(values[i].toFloat(), target.previous[std::size_t(i)]);
    QVERIFY(offer.value(QStringLiteral("text")).toString().contains(QStringLiteral("/dev/ttyA")));

    // Lost again before the user answered: hidden until the module is back.
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1442, 0x0102);
    QCOMPARE(rig.backend.calibrationRestoreOffers().size(), 1);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 1);
}

void CalibrationGuardTest::unconfirmedResultIsNotWrittenAgainAfterReconnect()
{
    Rig rig;
    rig.autoAnswer = false;
    rig.feedBlock(103, previousGyro(), 3); // armed below, answered here by hand
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(31.25f, 0, 0));
    rig.feedBlock(103, previousGyro(), 3);
    rig.gyro(QVector3D(31.25f, 0, 0), 209);
    QCOMPARE(finished.count(), 0); // no read-back yet
    const QList<QByteArray> writes = rig.writesTo(103);
    QCOMPARE(writes.size(), 2);
    rig.takeFrames();
    ComsHandler *link = rig.backend.comsHandler();
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    QCOMPARE(failed.count(), 1);
    QVERIFY(
        failed.first().at(1).toString().contains(QStringLiteral("before the module confirmed")));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1442, 0x0102);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(finished.count(), 0);
    // What is offered is what the module held before the run.
    const QVariantList offered = rig.backend.calibrationRestoreOffers();
    QCOMPARE(offered.size(), 1);
    const QVariantList values = offered.first().toMap().value(QStringLiteral("values")).toList();
    QCOMPARE(values.size(), 3);
    QCOMPARE(values[0].toFloat(), previousGyro()[0]);
}

void CalibrationGuardTest::unconfirmedWriteIsWhatTheNextRunSaves()
{
    Rig rig;
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(31.25f, 0, 0), 210);
    const QByteArray result = rig.writesTo(103).last();
    // No read-back came yet: the image still shows the old offsets, but the module
    // holds the result, and that is what a cancelled run must put back.
    rig.takeFrames();
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 20);
    rig.backend.cancelCalibration();
    QCOMPARE(rig.writesTo(103), QList<QByteArray>({writeFrame(103, Block {}, 3), result}));
}

void CalibrationGuardTest::restoreWritesWhatTheModuleAnsweredNotTheImage_data()
{
    addSensorRows();
}

// Noise or a stale connection left other values in the register image than the
// module holds; only the module's answer may go back.
void CalibrationGuardTest::restoreWritesWhatTheModuleAnsweredNotTheImage()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig;
    const Block garbage = {0.1f, 0.2f, 2.5e-35f, 0, 7.0e-35f, 0, 0, 3.0e-38f, 0, 0, 0, 1e-30f};
    backendtest::feed(
        rig.backend, backendtest::dataFrame(target.address, floatBytes(garbage, target.floats)));
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, sensor);
    rig.backend.cancelCalibration();
    rig.answerReads();
    const QList<QByteArray> writes = rig.writesTo(target.address);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[1], writeFrame(target.address, target.previous, target.floats));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration cancelled. Previous calibration kept."));
}

void CalibrationGuardTest::unansweredReadMeansNoResetAndSaysWhy()
{
    Rig rig;
    rig.autoAnswer = false;
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(1, 1, 1), 5);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(103, 12)}));
    QVERIFY(failed.wait(10000));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("gyroscope"));
    const QString message = failed.first().at(1).toString();
    QVERIFY2(message.contains(QStringLiteral("did not answer"))
            && message.contains(QStringLiteral("Nothing was changed")),
        qPrintable(message));
    // The run is over: a late answer and later samples write nothing.
    rig.feedBlock(103, previousGyro(), 3);
    rig.gyro(QVector3D(1, 1, 1), 250);
    QVERIFY(rig.frames.isEmpty());
}

void CalibrationGuardTest::restoreTheModuleDidNotTakeIsNotCalledKept()
{
    Rig rig;
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, QStringLiteral("gyroscope"));
    rig.ignoreCalibrationWrites = true; // took the reset, takes nothing more
    rig.takeFrames();
    rig.backend.cancelCalibration();
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(103, previousGyro(), 3), readFrame(103, 12)}));
    rig.answerReads();
    QCOMPARE(failed.count(), 1);
    const QString message = failed.first().at(1).toString();
    QVERIFY2(!message.contains(QStringLiteral("kept")), qPrintable(message));
    QVERIFY2(message.startsWith(QStringLiteral("Calibration cancelled."))
            && message.contains(QStringLiteral("did not take back")),
        qPrintable(message));
}

// The offer appears only for the module whose identity was read with the saved
// parameters, and a confirmed restore is read back like any write.
void CalibrationGuardTest::offerNeedsTheSameModuleAndIsVerified()
{
    Rig rig;
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    QSignalSpy notices(&rig.backend, &DurUzaBackend::calibrationNotice);
    armAndReset(rig, QStringLiteral("magnetometer"));
    ComsHandler *link = rig.backend.comsHandler();
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    rig.takeFrames();

    // Another module (another hardware version, then another device id) on the port.
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1443, 0x0102);
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    emit link->linkClosed(QStringLiteral("/dev/ttyA"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x43, 1442, 0x0102);
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    // Nor does a restore asked for without an offer write anything.
    rig.backend.restoreCalibration(QStringLiteral("magnetometer"));
    QVERIFY(rig.frames.isEmpty());
    emit link->linkClosed(QStringLiteral("/dev/ttyA"));

    // Ours again: offered; written, and read back, only when the user says so.
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1442, 0x0102);
    QCOMPARE(rig.backend.calibrationRestoreOffers().size(), 1);
    QVERIFY(rig.frames.isEmpty());
    rig.backend.restoreCalibration(QStringLiteral("magnetometer"));
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(127, previousMag(), 12), readFrame(127, 48)}));
    QCOMPARE(notices.count(), 0);
    rig.answerReads();
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.first().at(0).toString(), QStringLiteral("magnetometer"));
    QVERIFY2(notices.first().at(1).toString().contains(QStringLiteral("was restored")),
        qPrintable(notices.first().at(1).toString()));
    QCOMPARE(failed.count(), 1); // the cut-off only

    // A second offer, dismissed: nothing written; one the module ignores: said so.
    armAndReset(rig, QStringLiteral("gyroscope"));
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1442, 0x0102);
    rig.takeFrames();
    rig.ignoreCalibrationWrites = true;
    rig.backend.restoreCalibration(QStringLiteral("gyroscope"));
    rig.answerReads();
    QCOMPARE(notices.count(), 2);
    QVERIFY2(notices.last().at(1).toString().contains(QStringLiteral("did not take back")),
        qPrintable(notices.last().at(1).toString()));
    rig.ignoreCalibrationWrites = false;
    armAndReset(rig, QStringLiteral("accelerometer"));
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    rig.feedIdentity(0x42, 1442, 0x0102);
    QCOMPARE(rig.backend.calibrationRestoreOffers().size(), 1);
    rig.takeFrames();
    rig.backend.dismissCalibrationRestore(QStringLiteral("accelerometer"));
    QVERIFY(rig.backend.calibrationRestoreOffers().isEmpty());
    rig.backend.restoreCalibration(QStringLiteral("accelerometer"));
    QVERIFY(rig.frames.isEmpty());
}

void CalibrationGuardTest::resultTheModuleIgnoredIsAFailure_data()
{
    addSensorRows();
}

// A module that ignores every write to its calibration registers: the run must
// not report a quality, and must say that the module kept its parameters.
void CalibrationGuardTest::resultTheModuleIgnoredIsAFailure()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig;
    rig.ignoreCalibrationWrites = true;
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    QSignalSpy accFinished(&rig.backend, &DurUzaBackend::accCalFinished);
    QSignalSpy gyroFinished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy magFinished(&rig.backend, &DurUzaBackend::magCalFinished);
    if (sensor == QLatin1String("accelerometer")) {
        rig.backend.accCalButton();
        rig.acc(QVector3D(1, 1, 1));
        const auto positions = idealPositions(9.79426f);
        for (int k = 0; k < 6; ++k) {
            rig.backend.accCalButton();
            rig.acc(QVector3D(1, 1, 1), k == 0 ? 9 : 10);
            rig.acc(positions[std::size_t(k)], 100);
        }
    } else if (sensor == QLatin1String("gyroscope")) {
        rig.backend.gyroCalButton();
        rig.gyro(QVector3D(31.25f, 0, 0), 210);
    } else {
        rig.backend.magCalButton();
        rig.mag(QVector3D(), 10);
        for (const QVector3D &p : ellipsoidPoints(200, QVector3D(0.1f, 0, 0), QVector3D(1, 1, 1)))
            rig.mag(p);
        rig.backend.magCalButton();
        rig.mag(QVector3D());
    }
    rig.answerReads();
    QCOMPARE(accFinished.count() + gyroFinished.count() + magFinished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), sensor);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration failed: the module did not take the new parameters. "
                       "Previous calibration kept."));
    // Judged on what it still holds: no second write was tried.
    QCOMPARE(rig.writesTo(target.address).size(), 2);
}

namespace {

// A gyroscope run whose five segments read 0, 4, 8, 12, 16 deg/s on each axis:
// a bumped module, scored far below the floor.
void runBumpedGyro(Rig &rig)
{
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 10);
    for (int i = 0; i < 200; ++i)
        rig.gyro(QVector3D(1, 1, 1) * (float(i / 40) * 4.0f));
}

} // namespace

void CalibrationGuardTest::resultBelowTheFloorWaitsForTheUser()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy asked(&rig.backend, &DurUzaBackend::calibrationNeedsConfirmation);
    runBumpedGyro(rig);
    rig.answerReads();
    // Only the reset went out; the previous calibration is not replaced.
    QCOMPARE(rig.writesTo(103), QList<QByteArray>({writeFrame(103, Block {}, 3)}));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.first().at(0).toString(), QStringLiteral("gyroscope"));
    const double quality = asked.first().at(1).toDouble();
    QVERIFY2(quality < 50.0, qPrintable(QString::number(quality)));
    // A press meanwhile neither starts a run nor loses the result.
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 20);
    QCOMPARE(rig.writesTo(103).size(), 1);

    // Discarded: the previous parameters go back and are confirmed.
    rig.takeFrames();
    rig.backend.discardCalibrationResult(QStringLiteral("gyroscope"));
    rig.answerReads();
    QCOMPARE(rig.writesTo(103), QList<QByteArray>({writeFrame(103, previousGyro(), 3)}));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration result discarded. Previous calibration kept."));
    QCOMPARE(finished.count(), 0);

    // Confirmed: written, and finished with its own score once read back.
    rig.takeFrames();
    runBumpedGyro(rig);
    rig.answerReads();
    QCOMPARE(asked.count(), 2);
    rig.backend.confirmCalibrationResult(QStringLiteral("gyroscope"));
    QCOMPARE(finished.count(), 0);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toDouble(), asked.last().at(1).toDouble());
    const QList<QByteArray> writes = rig.writesTo(103);
    QCOMPARE(writes.size(), 2);
    QVERIFY(std::fabs(blockOf(writes[1])[0] - 8.0f) < 0.5f);
    // Nothing is waiting any more: answers to nothing do nothing.
    rig.backend.confirmCalibrationResult(QStringLiteral("gyroscope"));
    rig.backend.discardCalibrationResult(QStringLiteral("gyroscope"));
    QCOMPARE(rig.writesTo(103).size(), 2);
}

void CalibrationGuardTest::noKnownModuleMeansNoBackupAndNoWrite_data()
{
    addSensorRows();
}

// Nothing says which module the rows came from, so no backup can name it: the
// run reads the parameters, writes nothing and the page says why.
void CalibrationGuardTest::noKnownModuleMeansNoBackupAndNoWrite()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig(true, false);
    rig.takeFrames();
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, sensor);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(target.address, 4 * target.floats)}));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), sensor);
    const QString text = failed.first().at(1).toString();
    QVERIFY2(text.startsWith(QLatin1String("Calibration not started: No backup before "))
            && text.contains(QLatin1String("have not been read"))
            && text.endsWith(QLatin1String("Nothing was written to the module.")),
        qPrintable(text));
    QVERIFY(rig.backend.backups()->backups().isEmpty());
    // The run is over: later samples write nothing either.
    armAndReset(rig, sensor);
    for (const QByteArray &frame : rig.takeFrames())
        QVERIFY2(!isWriteTo(frame, target.address), frame.toHex().constData());
}

void CalibrationGuardTest::eachRunIsBackedUpBeforeItsFirstWrite_data()
{
    addSensorRows();
}

void CalibrationGuardTest::eachRunIsBackedUpBeforeItsFirstWrite()
{
    QFETCH(QString, sensor);
    Rig rig;
    QVERIFY(rig.backend.backups()->backups().isEmpty());
    armAndReset(rig, sensor);
    const QVariantList backups = rig.backend.backups()->backups();
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.first().toMap().value(QStringLiteral("trigger")).toString(),
        QStringLiteral("before %1 calibration").arg(sensor));
    QCOMPARE(backups.first().toMap().value(QStringLiteral("module")).toString(),
        QStringLiteral("device 0x42, hardware 1442, software 258"));
}

QTEST_GUILESS_MAIN(CalibrationGuardTest)
#include "tst_calibrationguard.moc"
