// SPDX-License-Identifier: GPL-3.0-or-later
#include "workflowrig.h"

#include "magcloudfile.h"
#include "magfitcomparison.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMatrix4x4>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace workflowtest;
using QtDataVisualization::QScatterDataItem;

// The guidance around the three procedures, through the real frame path: what
// the pages are told while a run goes on, what it refuses, which fit it writes,
// and the report it leaves.
class CalibrationGuidanceWorkflowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void wrongFaceIsNamedAtOnceAndNotGathered();
    void bumpDuringPositionStartsItAgain();
    void tiltedPoseLowersTheScoreOrIsRefused_data();
    void tiltedPoseLowersTheScoreOrIsRefused();
    void gyroTurnedDuringRestIsRefusedNamingIt();
    void gyroTurnScoredBelowTheFloorIsNamedBesideTheQuestion();
    void liveFiguresFollowTheGathering();
    void lowestHeldOutSpreadFitIsWrittenUnlessTheUserPicks_data();
    void lowestHeldOutSpreadFitIsWrittenUnlessTheUserPicks();
    void reportHoldsBeforeAfterAndScore();
    void magRunKeepsItsPointsBesideItsReport();
    void magRunOverPartOfTheSphereWaitsAndSaysWhy_data();
    void magRunOverPartOfTheSphereWaitsAndSaysWhy();

private:
    std::unique_ptr<QTemporaryDir> m_reports;
};

namespace {

constexpr float g = 9.79426f;
const QVector3D turning(5.0f, -7.0f, 3.0f);

// Reports of the current test go to its own temporary folder.
QString reportFolder;

CalibrationGuide &guideOf(Rig &rig)
{
    rig.backend.guide()->setReportFolder(reportFolder);
    return *rig.backend.guide();
}

// Z-Up turned by `deg` about the body's x axis.
QVector3D tiltedZUp(double deg)
{
    const double a = deg * M_PI / 180.0;
    return QVector3D(0, float(g * std::sin(a)), float(g * std::cos(a)));
}

void runAcc(Rig &rig, const std::array<QVector3D, 6> &positions)
{
    rig.backend.accCalButton();
    rig.acc(turning);
    for (int k = 0; k < 6; ++k) {
        rig.backend.accCalButton();
        rig.acc(turning, k == 0 ? 9 : 10);
        rig.acc(positions[std::size_t(k)], 100);
    }
    rig.answerReads();
}

// A general ellipsoid: semi-axes 0.5, 0.42, 0.58 turned 30 degrees about (1, 1, 0).
std::vector<QVector3D> turnedEllipsoid(int count)
{
    const QVector3D centre(0.12f, -0.07f, 0.2f);
    const QMatrix4x4 turn = [] {
        QMatrix4x4 m;
        m.rotate(30.0f, QVector3D(1, 1, 0));
        return m;
    }();
    std::vector<QVector3D> points;
    for (const QVector3D &p : ellipsoidPoints(count, QVector3D(), QVector3D(0.5f, 0.42f, 0.58f)))
        points.push_back(centre + turn.mapVector(p));
    return points;
}

} // namespace

void CalibrationGuidanceWorkflowTest::init()
{
    m_reports = std::make_unique<QTemporaryDir>();
    reportFolder = m_reports->path();
}

void CalibrationGuidanceWorkflowTest::wrongFaceIsNamedAtOnceAndNotGathered()
{
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    guide.setHoldPositions(true);
    QSignalSpy stages(&rig.backend, &DurUzaBackend::accCalStageFinished);
    const auto positions = idealPositions(g);
    rig.acc(positions[4], 5);
    QCOMPARE(guide.faceUp(), QStringLiteral("X-Up"));
    QVERIFY(guide.faceProblem().isEmpty()); // no run, nothing asked for

    rig.backend.accCalButton(); // armed: Z-Up is asked for
    rig.acc(positions[4]);
    QCOMPARE(guide.expectedFace(), QStringLiteral("Z-Up"));
    QCOMPARE(guide.faceProblem(), QStringLiteral("This is X-Up; place the module with Z-Up."));
    rig.acc(positions[0], AccFaceGuide::steadySamples);
    QVERIFY(guide.faceProblem().isEmpty());
    rig.backend.accCalButton(); // Ready
    rig.acc(positions[0], 109); // the reset sample counted, 9 settling, 100 kept
    QCOMPARE(stages.count(), 1);
    QVERIFY(guide.faceProblem().isEmpty());

    // Z-Down is asked for next, Z-Up still held: named with the next sample,
    // before Ready, and never gathered however long it stays.
    QSignalSpy told(&guide, &CalibrationGuide::accChanged);
    rig.acc(positions[0]);
    QCOMPARE(told.count(), 1);
    QCOMPARE(guide.expectedFace(), QStringLiteral("Z-Down"));
    QCOMPARE(guide.faceProblem(), QStringLiteral("This is Z-Up; place the module with Z-Down."));
    rig.backend.accCalButton(); // Ready, all the same
    rig.acc(positions[0], 300);
    QCOMPARE(stages.count(), 1);
    QVERIFY(rig.backend.progressPercent() <= 100.0 / 6 + 1e-9);
    // Turned over: the message goes, and the position takes its 100 samples.
    rig.acc(positions[1], 99);
    QVERIFY(guide.faceProblem().isEmpty());
    QCOMPARE(guide.faceUp(), QStringLiteral("Z-Down"));
    QCOMPARE(stages.count(), 1);
    rig.acc(positions[1]);
    QCOMPARE(stages.count(), 2);
}

void CalibrationGuidanceWorkflowTest::bumpDuringPositionStartsItAgain()
{
    Rig rig;
    guideOf(rig).setHoldPositions(true);
    QSignalSpy stages(&rig.backend, &DurUzaBackend::accCalStageFinished);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::accCalFinished);
    const auto positions = idealPositions(g);
    rig.backend.accCalButton();
    rig.acc(turning);
    rig.backend.accCalButton();
    rig.acc(turning, 9);
    rig.acc(positions[0], 60);
    rig.acc(tiltedZUp(8)); // knocked, still Z-Up
    rig.acc(positions[0], 99);
    QCOMPARE(stages.count(), 0); // 60 + 99 would have ended it
    rig.acc(positions[0]);
    QCOMPARE(stages.count(), 1);
    for (int k = 1; k < 6; ++k) {
        rig.backend.accCalButton();
        rig.acc(turning, 10);
        rig.acc(positions[std::size_t(k)], 100);
    }
    rig.answerReads();
    // Only steady samples went in: the estimate is exact.
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toDouble(), 100.0);
}

void CalibrationGuidanceWorkflowTest::tiltedPoseLowersTheScoreOrIsRefused_data()
{
    QTest::addColumn<double>("tilt");
    QTest::addColumn<bool>("refused");
    QTest::newRow("level") << 0.0 << false;
    QTest::newRow("2 deg") << 2.0 << false;
    QTest::newRow("5 deg") << 5.0 << true;
    QTest::newRow("10 deg") << 10.0 << true;
}

void CalibrationGuidanceWorkflowTest::tiltedPoseLowersTheScoreOrIsRefused()
{
    QFETCH(double, tilt);
    QFETCH(bool, refused);
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    guide.setReportFolder(m_reports->path());
    QSignalSpy finished(&rig.backend, &DurUzaBackend::accCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    std::array<QVector3D, 6> positions = idealPositions(g);
    positions[0] = tiltedZUp(tilt);
    runAcc(rig, positions);
    rig.answerReads();
    if (refused) {
        QCOMPARE(finished.count(), 0);
        QCOMPARE(failed.count(), 1);
        const QString message = failed.first().at(1).toString();
        qInfo("%.0f deg: %s", tilt, qPrintable(message));
        QVERIFY(message.startsWith(QStringLiteral("Calibration refused: Z-Up was held about ")));
        // The angle as measured: the offset the fit takes from the tilted pair
        // shaves a little off it.
        const QRegularExpression angle(QStringLiteral("about ([0-9.]+)° off level"));
        const QRegularExpressionMatch match = angle.match(message);
        QVERIFY(match.hasMatch());
        QVERIFY(std::fabs(match.captured(1).toDouble() - tilt) <= 0.2);
        QVERIFY(message.endsWith(QStringLiteral("Previous calibration kept.")));
        QCOMPARE(rig.writesTo(55).last(), writeFrame(55, previousAcc(), 12));
        return;
    }
    QCOMPARE(failed.count(), 0);
    QCOMPARE(finished.count(), 1);
    const double quality = finished.first().first().toDouble();
    qInfo("%.0f deg: quality %.0f; %s", tilt, quality, qPrintable(guide.accVerdict()));
    if (tilt == 0) {
        QCOMPARE(quality, 100.0);
        QVERIFY(guide.accVerdict().isEmpty());
    } else {
        QVERIFY(quality <= 85);
        QVERIFY(
            guide.accVerdict().startsWith(QStringLiteral("Z-Up was held about 2.0° off level.")));
    }
}

void CalibrationGuidanceWorkflowTest::gyroTurnedDuringRestIsRefusedNamingIt()
{
    Rig rig;
    guideOf(rig);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::gyroCalFinished);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    const QVector3D rest(0.5f, -0.25f, 0.125f);
    rig.backend.gyroCalButton();
    rig.gyro(rest, 10);
    rig.gyro(rest, 100);
    rig.gyro(rest + QVector3D(0, 0, 25), 15); // turned about z for a moment
    rig.gyro(rest, 85);
    rig.answerReads();
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    const QString message = failed.first().at(1).toString();
    QCOMPARE(message,
        QStringLiteral("Calibration refused: the module turned during the rest period (up to "
                       "25.0°/s about Z, from sample 101 of 200). Keep it still and repeat. "
                       "Previous calibration kept."));
    QCOMPARE(rig.writesTo(103).last(), writeFrame(103, previousGyro(), 3));
}

// A run the steadiness score already puts below the floor goes to the user as
// before; the turn is named for the page to show beside the question.
void CalibrationGuidanceWorkflowTest::gyroTurnScoredBelowTheFloorIsNamedBesideTheQuestion()
{
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    QSignalSpy asked(&rig.backend, &DurUzaBackend::calibrationNeedsConfirmation);
    QSignalSpy failed(&rig.backend, &DurUzaBackend::calibrationFailed);
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 10);
    rig.gyro(QVector3D(), 60);
    rig.gyro(QVector3D(40, 40, 0), 60); // turned about x and y for long
    rig.gyro(QVector3D(), 80);
    rig.answerReads();
    QCOMPARE(failed.count(), 0);
    QCOMPARE(asked.count(), 1);
    QVERIFY(asked.first().at(1).toDouble() < 50);
    QVERIFY(guide.gyroVerdict().startsWith(
        QStringLiteral("The module turned during the rest period (up to 40.0°/s about ")));
    QVERIFY(guide.gyroVerdict().contains(QStringLiteral("from sample 61 of 200")));
    // A still run clears it.
    rig.backend.discardCalibrationResult(QStringLiteral("gyroscope"));
    rig.answerReads();
    rig.backend.gyroCalButton();
    rig.gyro(QVector3D(), 210);
    rig.answerReads();
    QVERIFY(guide.gyroVerdict().isEmpty());
}

void CalibrationGuidanceWorkflowTest::liveFiguresFollowTheGathering()
{
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    QSignalSpy changed(&guide, &CalibrationGuide::magChanged);
    rig.backend.magCalButton();
    QVERIFY(guide.magGathering());
    rig.mag(QVector3D(1.5f, 1.5f, 1.5f), 10);
    const QVector3D centre(0.1f, -0.05f, 0.2f);
    const QVector3D semiAxes(0.5f, 0.45f, 0.55f);
    // The upper half first (z above the centre).
    const std::vector<QVector3D> points = ellipsoidPoints(400, centre, semiAxes);
    for (const QVector3D &p : points) {
        if (p.z() > centre.z())
            rig.mag(p);
    }
    guide.refreshMag();
    qInfo("upper half: %.0f %% covered, hint %s", guide.magCoverage(), qPrintable(guide.magHint()));
    QVERIFY(guide.magCoverage() < 60);
    QCOMPARE(guide.magHint(), QStringLiteral("Turn the -Z face towards the floor."));
    QVERIFY(!guide.magGoodEnough());
    QVERIFY(guide.magVerdict().startsWith(QStringLiteral("Not good enough yet:")));
    QCOMPARE(guide.coverageCells().size(), 4 * SphereCoverage().cellCount());
    // The rest: everything reached, the fit round, good enough.
    for (const QVector3D &p : points) {
        if (p.z() <= centre.z())
            rig.mag(p);
    }
    guide.refreshMag();
    QCOMPARE(guide.magPoints(), 400);
    QVERIFY(guide.magCoverage() >= 95);
    QVERIFY(guide.magSpread() >= 0 && guide.magSpread() < 0.1);
    QVERIFY(guide.magGoodEnough());
    QVERIFY(guide.magVerdict().startsWith(QStringLiteral("Good enough to finish: ")));
    QCOMPARE(guide.magFits().size(), 5);
    // The timer refreshes on its own, about once a second.
    const int before = changed.count();
    QVERIFY(changed.wait(3000));
    QVERIFY(changed.count() > before);
    rig.backend.magCalButton();
    rig.mag(centre);
    QVERIFY(!guide.magGathering());
}

void CalibrationGuidanceWorkflowTest::lowestHeldOutSpreadFitIsWrittenUnlessTheUserPicks_data()
{
    QTest::addColumn<int>("pick"); // -1: the default
    QTest::newRow("default") << -1;
    QTest::newRow("user picks Method 4") << 0;
    QTest::newRow("user picks the bounding box") << 2;
}

void CalibrationGuidanceWorkflowTest::lowestHeldOutSpreadFitIsWrittenUnlessTheUserPicks()
{
    QFETCH(int, pick);
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::magCalFinished);
    rig.backend.magCalButton();
    rig.mag(QVector3D(1.5f, 1.5f, 1.5f), 10);
    for (const QVector3D &p : turnedEllipsoid(300))
        rig.mag(p);
    // The points as kept, after the module's 16-bit readings.
    std::vector<Sample4> kept;
    for (const QScatterDataItem &item : *rig.backend.magScatterDataProxy()->array()) {
        const QVector3D p = item.position();
        kept.emplace_back(p.x(), p.y(), p.z(), 0.0f);
    }
    QCOMPARE(int(kept.size()), 300);
    guide.refreshMag();
    if (pick >= 0)
        guide.chooseMagFit(pick);
    MagFitComparison expected;
    expected.run(kept);
    const int best = expected.best();
    for (const MagFitResult &r : expected.results())
        qInfo("%s: spread %.3f %%, held out %.3f %%", qPrintable(r.name), double(r.spreadPercent),
            double(r.heldOutSpreadPercent));
    // A turned ellipsoid needs a general fit: Method 1 or the ellipsoid-specific one.
    QVERIFY2(best == 1 || best == 4, qPrintable(QString::number(best)));
    QCOMPARE(guide.magChosenFit(), pick >= 0 ? pick : best);
    rig.backend.magCalButton();
    rig.mag(QVector3D(0.1f, 0.1f, 0.1f));
    rig.answerReads();
    QCOMPARE(finished.count(), 1);
    const int chosen = pick >= 0 ? pick : best;
    const Block written = blockOf(rig.writesTo(127).last());
    QVERIFY(written == expected.results()[std::size_t(chosen)].block);
    QCOMPARE(finished.first().first().toDouble(),
        double(std::lround(expected.results()[std::size_t(chosen)].quality)));
}

void CalibrationGuidanceWorkflowTest::reportHoldsBeforeAfterAndScore()
{
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    guide.setReportFolder(m_reports->path());
    QSignalSpy saved(&guide, &CalibrationGuide::reportSaved);
    std::array<QVector3D, 6> positions = idealPositions(g);
    for (QVector3D &p : positions)
        p += QVector3D(0.2f, -0.1f, 0.05f);
    runAcc(rig, positions);
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.first().at(0).toString(), QStringLiteral("accelerometer"));
    const QString path = saved.first().at(1).toString();
    QVERIFY(path.startsWith(m_reports->path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(report["format"].toInt(), 1);
    QCOMPARE(report["sensor"].toString(), QStringLiteral("accelerometer"));
    QVERIFY(QDateTime::fromString(report["date"].toString(), Qt::ISODate).isValid());
    QCOMPARE(report["module"].toObject()["deviceId"].toInt(), 0x42);
    QCOMPARE(report["module"].toObject()["hardwareVersion"].toInt(), 1442);
    const QJsonArray before = report["parametersBefore"].toArray();
    const QJsonArray after = report["parametersAfter"].toArray();
    QCOMPARE(before.size(), 12);
    QCOMPARE(after.size(), 12);
    const Block written = blockOf(rig.writesTo(55).last());
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(float(before[i].toDouble()), previousAcc()[std::size_t(i)]);
        QCOMPARE(float(after[i].toDouble()), written[std::size_t(i)]);
    }
    QCOMPARE(report["quality"].toDouble(), 100.0);
    QVERIFY(report["basis"].toString().contains(QStringLiteral("antipodal")));
    QCOMPARE(report["residuals"].toArray().size(), 6);
    QCOMPARE(
        report["residuals"].toArray()[1].toObject()["pose"].toString(), QStringLiteral("Z-Down"));
    QCOMPARE(report["outcome"].toString(), QStringLiteral("written"));
    QVERIFY(guide.reports().contains(QStringLiteral("accelerometer")));
    QVERIFY(guide.reportText(QStringLiteral("accelerometer"))
                .contains(QStringLiteral("Score: 100/100")));
    // The same run as a page, and printed beside its file.
    const QString page = guide.reportHtml(QStringLiteral("accelerometer"));
    QVERIFY(page.contains(QStringLiteral("ID 0x42 · HW 1442 · SW ")));
    QVERIFY(page.contains(QStringLiteral("Report saved as ") + path));
    const QString pdf = guide.saveReportPdf(QStringLiteral("accelerometer"));
    QCOMPARE(pdf, path.left(path.size() - 4) + QStringLiteral("pdf"));
    QFile printed(pdf);
    QVERIFY(printed.open(QIODevice::ReadOnly));
    QVERIFY(printed.readAll().startsWith("%PDF-"));
    QCOMPARE(guide.reportPdfError(), QString());
    // No run, nothing to print, and the page is told why.
    QCOMPARE(guide.saveReportPdf(QStringLiteral("gyroscope")), QString());
    QVERIFY(guide.reportPdfError().contains(QStringLiteral("no report")));

    // A refused run leaves a report too, saying why.
    positions = idealPositions(g);
    positions[0] = tiltedZUp(6);
    runAcc(rig, positions);
    QCOMPARE(saved.count(), 2);
    QFile refused(saved.last().at(1).toString());
    QVERIFY(refused.open(QIODevice::ReadOnly));
    QVERIFY(QJsonDocument::fromJson(refused.readAll())
                .object()["outcome"]
                .toString()
                .startsWith(QStringLiteral("Calibration refused: Z-Up")));
}

void CalibrationGuidanceWorkflowTest::magRunKeepsItsPointsBesideItsReport()
{
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    guide.setReportFolder(m_reports->path());
    QSignalSpy saved(&guide, &CalibrationGuide::reportSaved);
    rig.backend.magCalButton();
    rig.mag(QVector3D(1.5f, 1.5f, 1.5f), 10);
    for (const QVector3D &p : turnedEllipsoid(300))
        rig.mag(p);
    std::vector<Sample4> kept;
    for (const QScatterDataItem &item : *rig.backend.magScatterDataProxy()->array())
        kept.emplace_back(item.position().x(), item.position().y(), item.position().z(), 0.0f);
    guide.refreshMag();
    rig.backend.magCalButton();
    rig.mag(QVector3D(0.1f, 0.1f, 0.1f));
    rig.answerReads();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 5000);
    const QString cloudPath = CalibrationGuide::magCloudPath(saved.first().at(1).toString());
    QVERIFY2(guide.reportText(QStringLiteral("magnetometer")).contains(cloudPath),
        qPrintable(guide.reportText(QStringLiteral("magnetometer"))));
    MagCloud cloud;
    QString error;
    QVERIFY2(loadMagCloud(cloudPath, &cloud, &error), qPrintable(error));
    // The points as gathered, under the reset block the run put in.
    QCOMPARE(int(cloud.points.size()), int(kept.size()));
    for (std::size_t i = 0; i < kept.size(); ++i)
        QCOMPARE(cloud.points[i], kept[i]);
    QVERIFY(cloud.active == resetParamBlock());
    // Fitted again, the kept points give the block that was written.
    MagFitComparison again;
    again.run(cloud.points);
    QVERIFY(again.best() >= 0);
    QVERIFY(blockOf(rig.writesTo(127).last()) == again.results()[std::size_t(again.best())].block);
}

// A GUI application: the report is printed with Qt's text layout.
QTEST_MAIN(CalibrationGuidanceWorkflowTest)
#include "tst_guidanceworkflow.moc"

void CalibrationGuidanceWorkflowTest::magRunOverPartOfTheSphereWaitsAndSaysWhy_data()
{
    // Points kept only within this angle of one of the eight diagonals: every
    // octant is reached, most directions are not.
    QTest::addColumn<double>("coneDeg");
    QTest::newRow("cones of 20 degrees") << 20.0;
    QTest::newRow("cones of 12 degrees") << 12.0;
}

// A fit to part of the sphere can be perfect on its points: the score must
// still say the data was not good enough, and the result wait for the user.
void CalibrationGuidanceWorkflowTest::magRunOverPartOfTheSphereWaitsAndSaysWhy()
{
    QFETCH(double, coneDeg);
    Rig rig;
    CalibrationGuide &guide = guideOf(rig);
    QSignalSpy finished(&rig.backend, &DurUzaBackend::magCalFinished);
    QSignalSpy asked(&rig.backend, &DurUzaBackend::calibrationNeedsConfirmation);
    QSignalSpy reason(&rig.backend, &DurUzaBackend::calibrationScoreReason);
    rig.backend.magCalButton();
    rig.mag(QVector3D(1.5f, 1.5f, 1.5f), 10);
    const QVector3D centre(0.1f, -0.05f, 0.2f);
    const QVector3D semiAxes(0.5f, 0.45f, 0.55f);
    const double cosine = std::cos(coneDeg * M_PI / 180.0);
    for (const QVector3D &p : ellipsoidPoints(3000, centre, semiAxes)) {
        const QVector3D d = ((p - centre) / semiAxes).normalized();
        if ((std::fabs(d.x()) + std::fabs(d.y()) + std::fabs(d.z())) / std::sqrt(3.0) > cosine)
            rig.mag(p);
    }
    guide.refreshMag();
    const double coverage = guide.magCoverage();
    QVERIFY2(!guide.magGoodEnough(), qPrintable(guide.magVerdict()));
    const int writesBefore = rig.writesTo(127).size();
    rig.backend.magCalButton();
    rig.mag(centre);
    rig.answerReads();
    qInfo("%.0f %% covered: %s", coverage,
        reason.isEmpty() ? "no reason" : qPrintable(reason.first().at(1).toString()));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.first().at(0).toString(), QStringLiteral("magnetometer"));
    const double quality = asked.first().at(1).toDouble();
    QVERIFY2(quality < calQualityFloor, qPrintable(QString::number(quality)));
    QVERIFY(quality <= 100.0 * coverage / MagGatherGuide::coverageNeeded + 0.5);
    QCOMPARE(reason.count(), 1);
    const QString why = reason.first().at(1).toString();
    QVERIFY2(why.contains(
                 QStringLiteral("%1% of the directions covered, 75% needed").arg(qRound(coverage))),
        qPrintable(why));
    QCOMPARE(rig.writesTo(127).size(), writesBefore);
    rig.backend.discardCalibrationResult(QStringLiteral("magnetometer"));
    rig.answerReads();
    QCOMPARE(finished.count(), 0);
}
