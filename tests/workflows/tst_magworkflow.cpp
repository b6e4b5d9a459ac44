// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationchecks.h"
#include "workflowrig.h"

#include <QSignalSpy>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtTest>

using namespace workflowtest;
using namespace QtDataVisualization;

// The magnetometer procedure: point gathering with its spacing and the two scatter
// series, the fit and its write-back, and the clouds it refuses.
class MagWorkflowTest : public QObject
{
    Q_OBJECT

private slots:
    void closePointsAreDroppedLatestPointAlwaysShown_data();
    void closePointsAreDroppedLatestPointAlwaysShown();
    void gatheredSeriesFirstRefreshedAtEleventhPoint();
    void progressIsLeftAlone();
    void fitOfCoveredEllipsoidIsWritten();
    void unusableCloudIsRefusedAndPreviousRestored_data();
    void unusableCloudIsRefusedAndPreviousRestored();
    void furtherPressBeforeFitDoesNotStickTheProcedure();
    void finishPressedBeforeAnySampleStillResetsFirst();
};

namespace {

const QVector3D centre(0.1f, -0.05f, 0.2f);
const QVector3D semiAxes(0.5f, 0.45f, 0.55f);

// Arms a run and lets the reset and the settling samples pass.
void armAndSettle(Rig &rig)
{
    rig.backend.magCalButton();
    rig.mag(QVector3D(1.5f, 1.5f, 1.5f), 10); // the reset sample, then 9 settling ones
}

void gather(Rig &rig, const std::vector<QVector3D> &points)
{
    for (const QVector3D &p : points)
        rig.mag(p);
}

int keptPoints(DurUzaBackend &backend)
{
    return backend.magScatterDataProxy()->array()->size();
}

} // namespace

void MagWorkflowTest::closePointsAreDroppedLatestPointAlwaysShown_data()
{
    QTest::addColumn<float>("step");
    QTest::addColumn<int>("kept");
    QTest::newRow("0.02 apart: squared distance 0.0012") << 0.02f << 2;
    QTest::newRow("0.01 apart: squared distance 0.0003") << 0.01f << 1;
}

void MagWorkflowTest::closePointsAreDroppedLatestPointAlwaysShown()
{
    QFETCH(float, step);
    Rig rig;
    QScatter3DSeries latest;
    rig.backend.setMagSctr3DSeries2(&latest);
    armAndSettle(rig);
    QCOMPARE(keptPoints(rig.backend), 0);
    const QVector3D first(0.3f, 0.1f, -0.2f);
    const QVector3D second = first + QVector3D(step, step, step);
    rig.mag(first);
    rig.mag(second);
    QTEST(keptPoints(rig.backend), "kept");
    QCOMPARE(latest.dataProxy()->itemCount(), 1);
    const QVector3D shown = latest.dataProxy()->itemAt(0)->position();
    QVERIFY2((shown - second).length() < 1e-3f, qPrintable(QString::number(shown.x())));
}

void MagWorkflowTest::gatheredSeriesFirstRefreshedAtEleventhPoint()
{
    Rig rig;
    QScatter3DSeries gathered;
    rig.backend.setMagSctr3DSeries(&gathered);
    armAndSettle(rig);
    const std::vector<QVector3D> points = ellipsoidPoints(12, centre, semiAxes);
    for (int i = 0; i < 10; ++i)
        rig.mag(points[std::size_t(i)]);
    QCOMPARE(keptPoints(rig.backend), 10);
    QCOMPARE(gathered.dataProxy()->itemCount(), 0);
    rig.mag(points[10]);
    QCOMPARE(gathered.dataProxy()->itemCount(), 11);
    rig.mag(points[11]);
    QCOMPARE(gathered.dataProxy()->itemCount(), 12);
}

void MagWorkflowTest::progressIsLeftAlone()
{
    Rig rig;
    QSignalSpy progress(&rig.backend, &DurUzaBackend::progressPercentChanged);
    armAndSettle(rig);
    gather(rig, ellipsoidPoints(200, centre, semiAxes));
    rig.backend.magCalButton();
    rig.mag(centre);
    QCOMPARE(progress.count(), 0);
    QCOMPARE(rig.backend.progressPercent(), 0.0);
}

void MagWorkflowTest::fitOfCoveredEllipsoidIsWritten()
{
    Rig rig;
    rig.takeFrames();
    QScatter3DSeries gathered;
    QScatter3DSeries latest;
    rig.backend.setMagSctr3DSeries(&gathered);
    rig.backend.setMagSctr3DSeries2(&latest);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::magCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndSettle(rig);
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({readFrame(127, 48), writeFrame(127, identityBlock(), 12)}));
    gather(rig, ellipsoidPoints(200, centre, semiAxes));
    QCOMPARE(keptPoints(rig.backend), 200);
    rig.backend.magCalButton();
    QCOMPARE(finished.count(), 0); // the fit waits for the next sample
    rig.mag(centre);
    QCOMPARE(finished.count(), 0); // until the module shows the parameters
    rig.answerReads();

    QCOMPARE(failed.count(), 0);
    QCOMPARE(finished.count(), 1);
    QVERIFY2(finished.first().first().toDouble() >= 99.0,
        qPrintable(finished.first().first().toString()));
    const QList<QByteArray> frames = rig.takeFrames();
    QCOMPARE(frames.size(), 2);
    QVERIFY(isWriteTo(frames[0], 127));
    QCOMPARE(frames[1], readFrame(127, 48));
    const Block block = blockOf(frames[0]);
    const Block expected = {centre.x(), centre.y(), centre.z(), 1 / semiAxes.x(), 0, 0, 0,
        1 / semiAxes.y(), 0, 0, 0, 1 / semiAxes.z()};
    for (int i = 0; i < 12; ++i)
        QVERIFY2(std::fabs(block[std::size_t(i)] - expected[std::size_t(i)]) < 5e-3f,
            qPrintable(QString::number(i)));
    // The gathered points are gone; the series keep what they last showed.
    QCOMPARE(keptPoints(rig.backend), 0);
    QCOMPARE(gathered.dataProxy()->itemCount(), 200);
    // Until the next run, which starts from an empty cloud.
    rig.backend.magCalButton();
    QCOMPARE(gathered.dataProxy()->itemCount(), 0);
}

void MagWorkflowTest::unusableCloudIsRefusedAndPreviousRestored_data()
{
    QTest::addColumn<int>("cloud");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no point") << 0 << "0 of the 50 points";
    QTest::newRow("too few points") << 1 << "30 of the 50 points";
    QTest::newRow("all in one plane") << 2 << "one plane";
    QTest::newRow("tilted plane") << 3 << "one plane";
    QTest::newRow("one half of the sphere") << 4 << "not covered";
}

void MagWorkflowTest::unusableCloudIsRefusedAndPreviousRestored()
{
    QFETCH(int, cloud);
    QFETCH(QString, reason);
    std::vector<QVector3D> points;
    switch (cloud) {
    case 1:
        points = ellipsoidPoints(30, centre, semiAxes);
        break;
    case 2:
    case 3:
        // A turn about one axis only: a ring.
        for (int i = 0; i < 120; ++i) {
            const float a = float(2 * M_PI * i / 120);
            QVector3D p(0.4f * std::cos(a), 0.4f * std::sin(a), 0.1f);
            if (cloud == 3) // the same ring turned 40 degrees about x
                p = QVector3D(
                    p.x(), p.y() * 0.766f - p.z() * 0.643f, p.y() * 0.643f + p.z() * 0.766f);
            points.push_back(p);
        }
        break;
    case 4:
        for (const QVector3D &p : ellipsoidPoints(400, centre, semiAxes)) {
            if (p.z() > centre.z())
                points.push_back(p);
        }
        break;
    }
    Rig rig;
    rig.takeFrames();
    QSignalSpy finished(&rig.backend, &DurUzaBackend::magCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndSettle(rig);
    gather(rig, points);
    rig.backend.magCalButton();
    rig.mag(centre);
    rig.answerReads();

    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("magnetometer"));
    const QString message = failed.first().at(1).toString();
    QVERIFY2(
        message.contains(reason) && message.contains(QStringLiteral("Previous calibration kept")),
        qPrintable(message));
    QCOMPARE(rig.takeFrames(),
        QList<QByteArray>({readFrame(127, 48), writeFrame(127, identityBlock(), 12),
            writeFrame(127, previousMag(), 12), readFrame(127, 48)}));
    QCOMPARE(rig.nonFiniteWrites, 0);
}

void MagWorkflowTest::furtherPressBeforeFitDoesNotStickTheProcedure()
{
    Rig rig;
    QSignalSpy finished(&rig.backend, &DurUzaBackend::magCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    armAndSettle(rig);
    rig.backend.magCalButton(); // finish: the fit is due
    rig.backend.magCalButton(); // once stuck the procedure for good
    rig.mag(centre);
    rig.answerReads();
    QCOMPARE(failed.count(), 1); // nothing gathered
    // A new run works from the start.
    rig.takeFrames();
    armAndSettle(rig);
    QCOMPARE(rig.writesTo(127).size(), 1);
    gather(rig, ellipsoidPoints(200, centre, semiAxes));
    rig.backend.magCalButton();
    rig.mag(centre);
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
}

void MagWorkflowTest::finishPressedBeforeAnySampleStillResetsFirst()
{
    Rig rig;
    rig.takeFrames();
    rig.backend.magCalButton();
    rig.backend.magCalButton(); // gathering asked for before any sample
    rig.mag(QVector3D(0.3f, 0.1f, -0.2f));
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({readFrame(127, 48)}));
    rig.answerReads();
    QCOMPARE(rig.takeFrames(), QList<QByteArray>({writeFrame(127, identityBlock(), 12)}));
    rig.mag(QVector3D(1, 1, 1), 9);
    gather(rig, ellipsoidPoints(100, centre, semiAxes));
    QCOMPARE(keptPoints(rig.backend), 100);
}

QTEST_GUILESS_MAIN(MagWorkflowTest)
#include "tst_magworkflow.moc"
