// SPDX-License-Identifier: GPL-3.0-or-later
#include "workflowrig.h"

#include <QSignalSpy>
#include <QtTest>

using namespace workflowtest;

// The accelerometer and gyroscope procedures, fed samples through the real frame
// path, judged by the frames the backend sends and the signals it emits.
class AccGyroWorkflowTest : public QObject
{
    Q_OBJECT

private slots:
    void accResetGoesOutOnceWithFirstSampleAfterArming();
    void accPositionAddsSamples11To110AndReportsProgress();
    void accFullRunWritesEstimateAfterSixthPosition_data();
    void accFullRunWritesEstimateAfterSixthPosition();
    void accUnusableMeansAreRefusedAndPreviousRestored_data();
    void accUnusableMeansAreRefusedAndPreviousRestored();
    void accPressWhileGatheringDoesNotCutPositionShort();
    void accRunAfterFinishStartsClean();

    void gyroKeepsSamples11To210AndWritesOffsets();
    void gyroSecondPressDuringRunChangesNothing();
};

namespace {

constexpr float g = 9.79426f;
// What a module reads while it is still being turned: must never be averaged.
const QVector3D turning(5.0f, -7.0f, 3.0f);

// One run as the page drives it: a press to arm, then per position a press, the
// settling samples and 100 samples in that position.
void runAcc(Rig &rig, const std::array<QVector3D, 6> &positions)
{
    rig.backend.accCalButton();
    rig.acc(turning); // sends the reset
    for (int k = 0; k < 6; ++k) {
        rig.backend.accCalButton();
        // Position 0 already counted the reset sample as its first.
        rig.acc(turning, k == 0 ? 9 : 10);
        rig.acc(positions[std::size_t(k)], 100);
    }
}

void compareBlocks(const Block &actual, const Block &expected, float tolerance)
{
    for (int i = 0; i < 12; ++i) {
        QVERIFY2(std::fabs(actual[std::size_t(i)] - expected[std::size_t(i)]) <= tolerance,
            qPrintable(QStringLiteral("element %1: %2, expected %3")
                           .arg(i)
                           .arg(double(actual[std::size_t(i)]))
                           .arg(double(expected[std::size_t(i)]))));
    }
}

} // namespace

void AccGyroWorkflowTest::accResetGoesOutOnceWithFirstSampleAfterArming()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy progress(&rig.backend, &DurUzaBackend::progressPercentChanged);
    rig.backend.accCalButton();
    QVERIFY(rig.frames.isEmpty());
    rig.acc(QVector3D(0, 0, g));
    // First what the module holds, read fresh; its answer lets the reset go.
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(55, 48)}));
    QCOMPARE(progress.count(), 0);
    rig.answerReads();
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(55, identityBlock(), 12)}));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(rig.backend.progressPercent(), 0.0);
    rig.acc(QVector3D(0, 0, g), 20);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(progress.count(), 1);
}

void AccGyroWorkflowTest::accPositionAddsSamples11To110AndReportsProgress()
{
    Rig rig;
    QSignalSpy stages(&rig.backend, &DurUzaBackend::accCalStageFinished);
    rig.backend.accCalButton();
    rig.acc(turning);
    const auto positions = idealPositions(g);
    for (int k = 0; k < 6; ++k) {
        rig.backend.accCalButton();
        rig.acc(turning, k == 0 ? 9 : 10);
        QCOMPARE(stages.count(), k);
        rig.acc(positions[std::size_t(k)], 99);
        QCOMPARE(stages.count(), k);
        QCOMPARE(rig.backend.progressPercent(), double(float(99) / 100 + k) / 6 * 100);
        rig.acc(positions[std::size_t(k)]);
        QCOMPARE(stages.count(), k + 1);
        QCOMPARE(rig.backend.progressPercent(), (k + 1) / 6.0 * 100.0);
    }
    QCOMPARE(rig.backend.progressPercent(), 100.0);
}

void AccGyroWorkflowTest::accFullRunWritesEstimateAfterSixthPosition_data()
{
    QTest::addColumn<QVector3D>("bias");
    QTest::addColumn<QVector3D>("scale");
    QTest::addColumn<QVector3D>("offsets");
    QTest::addColumn<QVector3D>("diagonal");
    QTest::newRow("ideal") << QVector3D() << QVector3D(1, 1, 1) << QVector3D()
                           << QVector3D(1, 1, 1);
    QTest::newRow("biased") << QVector3D(0.3f, -0.2f, 0.1f) << QVector3D(1, 1, 1)
                            << QVector3D(0.3f, -0.2f, 0.1f) << QVector3D(1, 1, 1);
    QTest::newRow("x reads double")
        << QVector3D() << QVector3D(2, 1, 1) << QVector3D() << QVector3D(0.5f, 1, 1);
}

void AccGyroWorkflowTest::accFullRunWritesEstimateAfterSixthPosition()
{
    QFETCH(QVector3D, bias);
    QFETCH(QVector3D, scale);
    QFETCH(QVector3D, offsets);
    QFETCH(QVector3D, diagonal);
    Rig rig;
    rig.takeFrames();
    QStringList order;
    connect(&rig.backend, &DurUzaBackend::accCalStageFinished, this, [&] { order << "stage"; });
    QSignalSpy finished(&rig.backend, &DurUzaBackend::accCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    std::array<QVector3D, 6> positions = idealPositions(g);
    for (QVector3D &p : positions)
        p = p * scale + bias;
    runAcc(rig, positions);

    QCOMPARE(order.size(), 6);
    // Finished only once the module shows the parameters.
    QCOMPARE(finished.count(), 0);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    // The estimate scores itself on the same means: a consistent set scores 100,
    // which also shows that the verification half of the 36 floats was filled.
    QCOMPARE(finished.first().first().toDouble(), 100.0);
    const QList<QByteArray> frames = rig.takeFrames();
    QCOMPARE(frames.size(), 4);
    QCOMPARE(frames[0], readFrame(55, 48));
    QCOMPARE(frames[1], writeFrame(55, identityBlock(), 12));
    QVERIFY(isWriteTo(frames[2], 55));
    QCOMPARE(frames[2].size(), 4 + 48);
    QCOMPARE(frames[3], readFrame(55, 48));
    const Block expected = {offsets.x(), offsets.y(), offsets.z(), diagonal.x(), 0, 0, 0,
        diagonal.y(), 0, 0, 0, diagonal.z()};
    compareBlocks(blockOf(frames[2]), expected, 1e-3f);
    QCOMPARE(rig.nonFiniteWrites, 0);
}

void AccGyroWorkflowTest::accUnusableMeansAreRefusedAndPreviousRestored_data()
{
    QTest::addColumn<int>("repeatFrom"); // position copied over the next one, or -1
    QTest::addColumn<bool>("swapY");
    QTest::addColumn<bool>("allZero");
    QTest::newRow("Z-Up held again for Z-Down") << 0 << false << false;
    QTest::newRow("X-Up held again for X-Down") << 4 << false << false;
    QTest::newRow("Y turned the wrong way") << -1 << true << false;
    QTest::newRow("sensor reads nothing") << -1 << false << true;
}

void AccGyroWorkflowTest::accUnusableMeansAreRefusedAndPreviousRestored()
{
    QFETCH(int, repeatFrom);
    QFETCH(bool, swapY);
    QFETCH(bool, allZero);
    Rig rig;
    rig.takeFrames();
    QSignalSpy finished(&rig.backend, &DurUzaBackend::accCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    std::array<QVector3D, 6> positions = idealPositions(g);
    if (repeatFrom >= 0)
        positions[std::size_t(repeatFrom + 1)] = positions[std::size_t(repeatFrom)];
    if (swapY)
        std::swap(positions[2], positions[3]);
    if (allZero)
        positions.fill(QVector3D());
    runAcc(rig, positions);
    // "Kept" only once the module shows its previous parameters again.
    QCOMPARE(failed.count(), 0);
    rig.answerReads();

    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("accelerometer"));
    QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("Previous calibration kept")));
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({readFrame(55, 48), writeFrame(55, identityBlock(), 12),
            writeFrame(55, previousAcc(), 12), readFrame(55, 48)}));
    QCOMPARE(rig.nonFiniteWrites, 0);
}

void AccGyroWorkflowTest::accPressWhileGatheringDoesNotCutPositionShort()
{
    Rig rig;
    QSignalSpy stages(&rig.backend, &DurUzaBackend::accCalStageFinished);
    rig.backend.accCalButton();
    rig.acc(turning);
    rig.backend.accCalButton();
    rig.acc(turning, 9);
    rig.acc(QVector3D(0, 0, g), 50);
    rig.backend.accCalButton(); // ignored: position 0 is gathering
    rig.acc(QVector3D(0, 0, g), 49);
    QCOMPARE(stages.count(), 0);
    rig.acc(QVector3D(0, 0, g));
    QCOMPARE(stages.count(), 1);
    QCOMPARE(rig.backend.progressPercent(), 1 / 6.0 * 100.0);
    // The next press starts position 1 as usual.
    rig.backend.accCalButton();
    rig.acc(turning, 10);
    rig.acc(QVector3D(0, 0, -g), 100);
    QCOMPARE(stages.count(), 2);
}

void AccGyroWorkflowTest::accRunAfterFinishStartsClean()
{
    Rig rig;
    QSignalSpy finished(&rig.backend, &DurUzaBackend::accCalFinished);
    runAcc(rig, idealPositions(g));
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    // Stray samples after the end do nothing; a new press arms a new run that
    // resets the module again and ends normally.
    rig.takeFrames();
    rig.acc(QVector3D(0, 0, g), 5);
    QVERIFY(rig.frames.isEmpty());
    std::array<QVector3D, 6> biased = idealPositions(g);
    for (QVector3D &p : biased)
        p += QVector3D(0.5f, 0, 0);
    runAcc(rig, biased);
    rig.answerReads();
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.last().first().toDouble(), 100.0);
    const QList<QByteArray> writes = rig.writesTo(55);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[0], writeFrame(55, identityBlock(), 12));
    QVERIFY(std::fabs(blockOf(writes[1])[0] - 0.5f) < 1e-3f);
}

void AccGyroWorkflowTest::gyroKeepsSamples11To210AndWritesOffsets()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    // Exactly representable at 250 deg/s full scale.
    const QVector3D rest(31.25f, -62.5f, 7.8125f);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(100, 100, 100));
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(103, 12)}));
    rig.answerReads();
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(103, Block {}, 3)}));
    QCOMPARE(rig.backend.progressPercent(), 0.0);
    rig.gyro(QVector3D(100, 100, 100), 9); // samples 2 to 10: dropped
    QCOMPARE(rig.backend.progressPercent(), 0.0);
    rig.gyro(rest); // the 11th: the first kept
    QCOMPARE(rig.backend.progressPercent(), 0.5);
    rig.gyro(rest, 198);
    QCOMPARE(finished.count(), 0);
    QVERIFY(rig.frames.isEmpty());
    rig.gyro(rest); // the 210th
    QCOMPARE(finished.count(), 0);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toDouble(), 100.0);
    QCOMPARE(rig.backend.progressPercent(), 100.0);
    const Block offsets = {rest.x(), rest.y(), rest.z(), 1, 0, 0, 0, 1, 0, 0, 0, 1};
    QCOMPARE(
        rig.takeFrames(), QList<QByteArray>({writeFrame(103, offsets, 3), readFrame(103, 12)}));
    // Collection is off: later samples send nothing and signal nothing.
    rig.gyro(rest, 20);
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(finished.count(), 1);
}

void AccGyroWorkflowTest::gyroSecondPressDuringRunChangesNothing()
{
    Rig rig;
    rig.takeFrames();
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 100);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 110);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(rig.writesTo(103).size(), 2); // one reset, one result
}

QTEST_GUILESS_MAIN(AccGyroWorkflowTest)
#include "tst_accgyroworkflow.moc"
