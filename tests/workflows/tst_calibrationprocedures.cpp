// SPDX-License-Identifier: GPL-3.0-or-later
#include "workflowrig.h"

#include "acccalibration.h"
#include "gyrocalibration.h"
#include "magcalibration.h"
#include "magscatter.h"
#include "moduleidentity.h"
#include "modulerequests.h"
#include "restoreoffers.h"

#include <QSignalSpy>
#include <QtTest>

using namespace workflowtest;

// The calibration procedures on their own, without the backend or the interface:
// their stages as presses and samples move them, the presses they refuse, and
// what they send. The test plays the module by filling the register rows.
class CalibrationProceduresTest : public QObject
{
    Q_OBJECT

private slots:
    void accStagesFollowPressesAndPositions();
    void accFinishesOnlyOnceTheModuleShowsTheResult();
    void gyroRefusesPressesWhileRunningOrWaitingForTheUser();
    void magPressesMoveStagesAndADueFitIsNotSkipped();
};

namespace {

constexpr float g = 9.79426f;

// What the procedures work with, with every frame they send recorded.
class ProcedureRig
{
public:
    ProcedureRig()
    {
        requests.setFrameSender([this](const quint8 *data, quint8 length) {
            frames << QByteArray(reinterpret_cast<const char *>(data), length);
        });
    }

    // The module answers with `block`'s first `count` floats at `address`.
    void answer(int address, const Block &block, int count)
    {
        const int first = registerRowAt(address);
        for (int i = 0; i < count; ++i)
            rows[std::size_t(first + i)]->setDataFromModule(block[std::size_t(i)]);
    }

    QList<QByteArray> takeFrames()
    {
        const QList<QByteArray> taken = frames;
        frames.clear();
        return taken;
    }

    QObject owner;
    RegisterObjects rows = createRegisterObjects(&owner);
    ComsHandler link;
    ModuleRequests requests {link};
    ModuleIdentity identity {rows};
    RestoreOffers offers;
    Calibration calibration;
    CalibrationServices services {requests, rows, identity, offers, calibration};
    MagScatter scatter;
    QList<QByteArray> frames;
};

template <typename Procedure> void feed(Procedure &procedure, const QVector3D &sample, int times)
{
    for (int i = 0; i < times; ++i)
        procedure.sample(sample);
}

// Arms a run and lets its reset go out: the first sample asks for the module's
// parameters, the answer sends the reset.
void armAcc(ProcedureRig &rig, AccCalibration &acc)
{
    acc.button();
    acc.sample(QVector3D(0, 0, g));
    rig.answer(55, previousAcc(), 12);
}

} // namespace

void CalibrationProceduresTest::accStagesFollowPressesAndPositions()
{
    ProcedureRig rig;
    AccCalibration acc(rig.services);
    QSignalSpy gathered(&acc, &AccCalibration::positionGathered);
    QSignalSpy progress(&acc, &CalibrationProcedure::progressChanged);
    const QVector3D up(0, 0, g);
    QCOMPARE(acc.stage(), AccCalibration::Stage::Idle);
    QCOMPARE(acc.stageNumber(), -1);
    feed(acc, up, 5);
    QVERIFY(rig.frames.isEmpty());

    acc.button();
    QCOMPARE(acc.stage(), AccCalibration::Stage::Armed);
    QCOMPARE(acc.stageNumber(), 0);
    QVERIFY(acc.isRunning());
    feed(acc, up, 3);
    // One read however many samples come before the answer, and no reset yet.
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(55, 48)}));
    rig.answer(55, previousAcc(), 12);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(55, identityBlock(), 12)}));
    QCOMPARE(acc.stage(), AccCalibration::Stage::Armed);
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.last().at(0).toDouble(), 0.0);

    acc.button();
    QCOMPARE(acc.stage(), AccCalibration::Stage::Gathering);
    QCOMPARE(acc.position(), 0);
    QCOMPARE(acc.stageNumber(), 1);
    feed(acc, up, 108);
    // A press mid-position is refused: the position ends by itself.
    acc.button();
    QCOMPARE(acc.stageNumber(), 1);
    QCOMPARE(gathered.count(), 0);
    acc.sample(up);
    QCOMPARE(gathered.count(), 1);
    QCOMPARE(acc.stage(), AccCalibration::Stage::Waiting);
    QCOMPARE(acc.stageNumber(), 2);
    QCOMPARE(progress.last().at(0).toDouble(), 1.0 / 6 * 100.0);
    // Samples while waiting for the user count for nothing.
    feed(acc, up, 50);
    QCOMPARE(gathered.count(), 1);

    acc.button();
    QCOMPARE(acc.stage(), AccCalibration::Stage::Gathering);
    QCOMPARE(acc.position(), 1);
    QCOMPARE(acc.stageNumber(), 3);
    // Positions after the first discard ten settling samples before they add.
    feed(acc, -up, 109);
    QCOMPARE(gathered.count(), 1);
    acc.sample(-up);
    QCOMPARE(gathered.count(), 2);
    QCOMPARE(acc.stageNumber(), 4);
    QVERIFY(rig.frames.isEmpty());
}

void CalibrationProceduresTest::accFinishesOnlyOnceTheModuleShowsTheResult()
{
    ProcedureRig rig;
    AccCalibration acc(rig.services);
    QSignalSpy finished(&acc, &CalibrationProcedure::finished);
    QSignalSpy failed(&acc, &CalibrationProcedure::failed);
    armAcc(rig, acc);
    rig.takeFrames();
    const auto positions = idealPositions(g);
    for (int k = 0; k < AccCalibration::positions; ++k) {
        acc.button();
        feed(acc, positions[std::size_t(k)], k == 0 ? 109 : 110);
    }
    // The run is over and its result on the way; the user hears nothing yet.
    QCOMPARE(acc.stage(), AccCalibration::Stage::Idle);
    QVERIFY(!acc.isRunning());
    const QList<QByteArray> frames = rig.takeFrames();
    QCOMPARE(frames.size(), 2);
    QVERIFY(isWriteTo(frames[0], 55));
    QCOMPARE(frames[0].size(), 4 + 48);
    // Ideal positions: no offsets, the identity matrix.
    for (int i = 0; i < 12; ++i)
        QVERIFY(std::fabs(blockOf(frames[0])[std::size_t(i)] - identityBlock()[std::size_t(i)])
            < 1e-3f);
    QCOMPARE(frames[1], readFrame(55, 48));
    QCOMPARE(finished.count(), 0);
    // A module that kept its previous parameters did not take the result.
    rig.answer(55, previousAcc(), 12);
    QCOMPARE(finished.count(), 0);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 1);
    QVERIFY2(failed.first().at(0).toString().contains(QStringLiteral("did not take")),
        qPrintable(failed.first().at(0).toString()));

    // A second run whose result the module takes finishes with its score.
    armAcc(rig, acc);
    for (int k = 0; k < AccCalibration::positions; ++k) {
        acc.button();
        feed(acc, positions[std::size_t(k)], k == 0 ? 109 : 110);
    }
    const QByteArray result = rig.takeFrames().at(2);
    rig.answer(55, blockOf(result), 12);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toDouble(), 100.0);
    QCOMPARE(failed.count(), 1);
}

void CalibrationProceduresTest::gyroRefusesPressesWhileRunningOrWaitingForTheUser()
{
    ProcedureRig rig;
    GyroCalibration gyro(rig.services);
    QSignalSpy asked(&gyro, &CalibrationProcedure::needsConfirmation);
    QSignalSpy failed(&gyro, &CalibrationProcedure::failed);
    gyro.button();
    QCOMPARE(gyro.stage(), GyroCalibration::Stage::Collecting);
    gyro.sample(QVector3D());
    rig.answer(103, previousGyro(), 3);
    QCOMPARE(
        rig.takeFrames(), QList<QByteArray>({readFrame(103, 12), writeFrame(103, Block {}, 3)}));
    feed(gyro, QVector3D(), 9); // settling
    // A second press neither restarts the run nor reads again.
    gyro.button();
    QCOMPARE(gyro.stage(), GyroCalibration::Stage::Collecting);
    QCOMPARE(gyro.keptSamples(), 0);
    QVERIFY(rig.frames.isEmpty());

    // A bumped module: five segments reading 0, 4, 8, 12, 16 deg/s.
    for (int i = 0; i < 200; ++i)
        gyro.sample(QVector3D(1, 1, 1) * (float(i / 40) * 4.0f));
    QCOMPARE(asked.count(), 1);
    QVERIFY(asked.first().at(0).toDouble() < calQualityFloor);
    QVERIFY(gyro.awaitingConfirmation());
    QCOMPARE(gyro.stage(), GyroCalibration::Stage::Idle);
    QVERIFY(rig.frames.isEmpty());
    // While the user decides, presses and samples change nothing.
    gyro.button();
    feed(gyro, QVector3D(), 20);
    QCOMPARE(gyro.stage(), GyroCalibration::Stage::Idle);
    QVERIFY(gyro.awaitingConfirmation());
    QVERIFY(rig.frames.isEmpty());

    gyro.discardResult();
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(103, previousGyro(), 3), readFrame(103, 12)}));
    QCOMPARE(failed.count(), 0);
    rig.answer(103, previousGyro(), 3);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(),
        QStringLiteral("Calibration result discarded. Previous calibration kept."));
    QVERIFY(!gyro.isRunning());
    // Now a press starts a new run.
    gyro.button();
    gyro.sample(QVector3D());
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(103, 12)}));
}

void CalibrationProceduresTest::magPressesMoveStagesAndADueFitIsNotSkipped()
{
    ProcedureRig rig;
    MagCalibration mag(rig.services, rig.scatter);
    QSignalSpy failed(&mag, &CalibrationProcedure::failed);
    QSignalSpy progress(&mag, &CalibrationProcedure::progressChanged);
    mag.button();
    QCOMPARE(mag.stage(), MagCalibration::Stage::Armed);
    QCOMPARE(mag.stageNumber(), 0);
    // Pressed on before any sample: gathering, but the reset still goes first.
    mag.button();
    QCOMPARE(mag.stage(), MagCalibration::Stage::Gathering);
    QVERIFY(rig.frames.isEmpty());
    const std::vector<QVector3D> points
        = ellipsoidPoints(20, QVector3D(0.1f, -0.05f, 0.02f), QVector3D(0.4f, 0.45f, 0.5f));
    mag.sample(points[0]);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(127, 48)}));
    rig.answer(127, previousMag(), 12);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(127, identityBlock(), 12)}));
    QCOMPARE(mag.stage(), MagCalibration::Stage::Gathering);

    feed(mag, points[0], 9); // settling: shown, not kept
    QCOMPARE(mag.keptPoints(), 0);
    for (const QVector3D &p : points)
        mag.sample(p);
    QCOMPARE(mag.keptPoints(), 20);
    QCOMPARE(rig.scatter.gatheredCount(), 20);
    // A point closer than the spacing to a kept one is not kept again.
    mag.sample(points[5] + QVector3D(0.01f, 0.01f, 0.01f));
    QCOMPARE(mag.keptPoints(), 20);

    mag.button();
    QCOMPARE(mag.stage(), MagCalibration::Stage::FitDue);
    mag.button(); // must not skip the fit
    QCOMPARE(mag.stage(), MagCalibration::Stage::FitDue);
    QVERIFY(rig.frames.isEmpty());
    mag.sample(points[0]);
    // Twenty points are too few: refused, and the previous parameters go back.
    QCOMPARE(mag.stage(), MagCalibration::Stage::Idle);
    QCOMPARE(mag.keptPoints(), 0);
    QCOMPARE(rig.scatter.gatheredCount(), 0);
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(127, previousMag(), 12), readFrame(127, 48)}));
    rig.answer(127, previousMag(), 12);
    QCOMPARE(failed.count(), 1);
    QVERIFY2(failed.first().at(0).toString().contains(QStringLiteral("20 of the 50 points")),
        qPrintable(failed.first().at(0).toString()));
    QCOMPARE(progress.count(), 0);
}

QTEST_GUILESS_MAIN(CalibrationProceduresTest)
#include "tst_calibrationprocedures.moc"
