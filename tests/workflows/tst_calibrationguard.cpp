#include "workflowrig.h"

#include <QSignalSpy>
#include <QtTest>

using namespace workflowtest;

// What protects the module's parameters around a run: the saved copy taken before
// the reset, its restore on cancel, the read-back that confirms a write, and the
// write-back after a lost link.
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
    void lostLinkMidRunWritesBackOnReconnectToSamePort_data();
    void lostLinkMidRunWritesBackOnReconnectToSamePort();
    void unconfirmedResultIsWrittenAgainAfterReconnect();
    void unconfirmedWriteIsWhatTheNextRunSaves();
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
        QList<QByteArray>({writeFrame(target.address, resetFor(target), target.floats)}));

    rig.backend.cancelCalibration();
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({writeFrame(target.address, target.previous, target.floats),
            readFrame(target.address, 4 * target.floats)}));
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
    QCOMPARE(finished.count(), 1);
    rig.takeFrames();
    rig.backend.cancelCalibration();
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 0);
}

void CalibrationGuardTest::unknownParametersAreReadBeforeTheReset()
{
    Rig rig(false);
    rig.takeFrames();
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(1, 1, 1), 5);
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(103, 12)}));
    // Only the answer lets the run go on; then the next sample sends the reset.
    rig.feedBlock(103, previousGyro(), 3);
    QVERIFY(rig.frames.isEmpty());
    rig.gyro(QVector3D(1, 1, 1));
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(103, Block {}, 3)}));
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
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(55, identityBlock(), 12)}));
    QCOMPARE(rig.nonFiniteWrites, 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("neutral")));
}

void CalibrationGuardTest::lostLinkMidRunWritesBackOnReconnectToSamePort_data()
{
    addSensorRows();
}

void CalibrationGuardTest::lostLinkMidRunWritesBackOnReconnectToSamePort()
{
    QFETCH(QString, sensor);
    const Target target = targetOf(sensor);
    Rig rig;
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndReset(rig, sensor);
    rig.takeFrames();
    ComsHandler *link = rig.backend.comsHandler();

    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("The serial device hung up"));
    emit link->linkClosed(QStringLiteral("/dev/ttyA"));
    QVERIFY(rig.frames.isEmpty()); // nothing can reach the module now
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), sensor);
    QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("written back on reconnect")));

    emit link->linkOpened(QStringLiteral("/dev/ttyB")); // another module: not ours to write
    QVERIFY(rig.frames.isEmpty());
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    const QList<QByteArray> restore = {writeFrame(target.address, target.previous, target.floats),
        readFrame(target.address, 4 * target.floats)};
    QCOMPARE(rig.takeFrames(), restore);

    // Lost again before the read-back: due once more. Confirmed: done for good.
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    QCOMPARE(rig.takeFrames(), restore);
    rig.feedBlock(target.address, target.previous, target.floats);
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(failed.count(), 1);
}

void CalibrationGuardTest::unconfirmedResultIsWrittenAgainAfterReconnect()
{
    Rig rig;
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(31.25f, 0, 0), 210);
    QCOMPARE(finished.count(), 1);
    const QList<QByteArray> writes = rig.writesTo(103);
    QCOMPARE(writes.size(), 2);
    const QByteArray result = writes.last();
    rig.takeFrames();
    ComsHandler *link = rig.backend.comsHandler();
    emit link->linkError(QStringLiteral("/dev/ttyA"), QStringLiteral("gone"));
    emit link->linkOpened(QStringLiteral("/dev/ttyA"));
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({result, readFrame(103, 12)}));
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

QTEST_GUILESS_MAIN(CalibrationGuardTest)
#include "tst_calibrationguard.moc"
