// SPDX-License-Identifier: GPL-3.0-or-later
// The three calibration pages (the real documents from the resources) on the real
// backend, whose module is played by feeding frames through its link objects.
// Screenshots of each page mid-run and with its final banner go to
// screenshots/ next to this executable.
#include "pagehost.h"
#include "workflowrig.h"

#include "customPlotItem.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QtTest>

#include <memory>

using namespace workflowtest;

class CalibrationPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void accPageRunsSixPositionsWithSevenPresses();
    void gyroPageShowsTheQualityOfItsRun();
    void magPageShowsTheFitAfterFinish();
    void refusedRunIsExplainedInTheBanner();
    void pageWithoutSamplesLetsTheUserGoBack();
    void leavingPageMidRunPutsParametersBack();
};

namespace {

// The calibration branch logs "Stage: " with the new stage on every press.
QStringList stageLines;
QtMessageHandler previousHandler = nullptr;

void recordStages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("Stage: ")))
        stageLines << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

// The rig first: it outlives the page, which still calls the backend as it goes.
struct RigFirst
{
    Rig rig;
};

// One calibration page in a window, as the main window shows it.
class CalPageHost : public RigFirst, public PageHost
{
public:
    explicit CalPageHost(const QString &document)
        : PageHost(QStringLiteral(PAGE_HOST), &rig.backend, document)
    { }

    int calState() const { return page->property("calState").toInt(); }
    QString hint() const { return text(QStringLiteral("hintText")); }
    bool enabled(const QString &button) const
    {
        return child(button)->property("enabled").toBool();
    }
    QString startText() const { return text(QStringLiteral("buttonStart")); }

    // Waits for the hint banner to be fully shown (or gone), then saves the window.
    void screenshot(const QString &name, bool banner = true)
    {
        QTRY_COMPARE_WITH_TIMEOUT(child(QStringLiteral("hintRect"))->property("opacity").toReal(),
            banner ? 0.7 : 0.0, 8000);
        saveWindow(name);
    }
};

constexpr float g = 9.79426f;
const char *positionNames[6] = {"Z-Up", "Z-Down", "Y-Up", "Y-Down", "X-Up", "X-Down"};

} // namespace

void CalibrationPagesTest::initTestCase()
{
    qmlRegisterType<CustomPlotItem>("CustomPlot", 1, 0, "CustomPlotItem");
}

void CalibrationPagesTest::accPageRunsSixPositionsWithSevenPresses()
{
    CalPageHost host(QStringLiteral("AccCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000); // the screenshot waits for fades
    stageLines.clear();
    previousHandler = qInstallMessageHandler(recordStages);
    const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(previousHandler); });
    QSignalSpy stages(&host.rig.backend, &DurUzaBackend::accCalStageFinished);
    const auto positions = idealPositions(g);

    host.click("buttonStart");
    QCOMPARE(host.calState(), 1);
    QVERIFY(!host.enabled("buttonBack"));
    host.rig.acc(positions[0]); // the module streams; the reset goes out
    for (int k = 0; k < 6; ++k) {
        QCOMPARE(host.calState(), 2 * k + 1);
        QCOMPARE(
            host.hint(), QStringLiteral("Place Device %1 and Click Ready.").arg(positionNames[k]));
        QCOMPARE(host.startText(), QStringLiteral("Ready"));
        host.click("buttonStart");
        QCOMPARE(host.calState(), 2 * k + 2);
        QCOMPARE(host.startText(), QStringLiteral("Wait"));
        QVERIFY(!host.enabled("buttonStart"));
        QVERIFY(!host.enabled("buttonBack"));
        host.rig.acc(QVector3D(5, -7, 3), k == 0 ? 9 : 10);
        host.rig.acc(positions[std::size_t(k)], 50);
        if (k == 2) {
            // The prompt fades out and the progress fades in again.
            QTRY_COMPARE_WITH_TIMEOUT(
                host.child("loading")->property("opacity").toReal(), 1.0, 10000);
            host.screenshot(QStringLiteral("acc-calibration-running"), false);
        }
        host.rig.acc(positions[std::size_t(k)], 50);
        QCOMPARE(stages.count(), k + 1);
    }
    host.rig.answerReads(); // the read-back of the result
    QCOMPARE(host.calState(), 0);
    QCOMPARE(host.startText(), QStringLiteral("Start"));
    QVERIFY(host.enabled("buttonStart"));
    QVERIFY(host.enabled("buttonBack"));
    QCOMPARE(stageLines.size(), 7);
    QCOMPARE(host.hint(), QStringLiteral("Calibration Finished! Quality:100/100"));
    QCOMPARE(host.child("resetTimer")->property("interval").toInt(), 20000);
    host.screenshot(QStringLiteral("acc-calibration-finished"));
}

void CalibrationPagesTest::gyroPageShowsTheQualityOfItsRun()
{
    CalPageHost host(QStringLiteral("GyroscopeCal.qml"));
    QVERIFY(host.ready());
    host.click("buttonStart");
    QCOMPARE(host.hint(), QStringLiteral("Keep device in completly steady state and click Ready."));
    host.click("buttonStart");
    QCOMPARE(host.calState(), 2);
    QCOMPARE(host.hint(), QStringLiteral("Wait for calibration to finish."));
    host.rig.gyro(QVector3D(), 10); // the reset, then nine settling samples
    // Kept samples: x off by half a degree per second in the first two of the five
    // steadiness segments (39 samples each), still otherwise. Those two deviations
    // score nothing, the other 13 full points: 86.67, shown rounded.
    host.rig.gyro(QVector3D(0.5f, 0, 0), 39);
    host.rig.gyro(QVector3D(-0.5f, 0, 0), 39);
    host.rig.gyro(QVector3D(), 22);
    QCOMPARE(host.rig.backend.progressPercent(), 50.0);
    host.screenshot(QStringLiteral("gyro-calibration-running"));
    host.rig.gyro(QVector3D(), 100);
    QCOMPARE(host.calState(), 2); // until the module shows the offsets
    host.rig.answerReads();
    QCOMPARE(host.calState(), 0);
    QCOMPARE(host.hint(), QStringLiteral("Calibration Finished! Quality:87/100"));
    QVERIFY(host.enabled("buttonBack"));
    host.screenshot(QStringLiteral("gyro-calibration-finished"));
}

void CalibrationPagesTest::magPageShowsTheFitAfterFinish()
{
    CalPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.click("buttonStart");
    QCOMPARE(host.calState(), 1);
    QCOMPARE(host.startText(), QStringLiteral("Finish"));
    QCOMPARE(host.hint(), QStringLiteral("Rotate Along All Axis. Until Sphere is Complete"));
    host.rig.mag(QVector3D(0.6f, -0.1f, 0.2f), 10);
    const QVector3D centre(0.1f, -0.05f, 0.2f);
    const QVector3D semiAxes(0.5f, 0.45f, 0.55f);
    for (const QVector3D &p : ellipsoidPoints(300, centre, semiAxes))
        host.rig.mag(p);
    host.screenshot(QStringLiteral("mag-calibration-running"));

    host.click("buttonStart"); // Finish: back to Start at once, the fit comes next
    QCOMPARE(host.calState(), 0);
    QCOMPARE(host.hint(), QStringLiteral("Rotate Along All Axis. Until Sphere is Complete"));
    QSignalSpy finished(&host.rig.backend, &DurUzaBackend::magCalFinished);
    host.rig.mag(centre);
    host.rig.answerReads();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(host.hint(),
        QStringLiteral("Calibration Finished! Quality:%1/100")
            .arg(finished.first().first().toDouble()));
    host.screenshot(QStringLiteral("mag-calibration-finished"));
}

void CalibrationPagesTest::refusedRunIsExplainedInTheBanner()
{
    CalPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.click("buttonStart");
    host.rig.mag(QVector3D(0.3f, 0.1f, 0.2f), 30); // held still: one point
    host.click("buttonStart");
    host.rig.mag(QVector3D(0.3f, 0.1f, 0.2f));
    host.rig.answerReads();
    QCOMPARE(host.calState(), 0);
    QCOMPARE(host.hint(),
        QStringLiteral(
            "Calibration failed: 1 of the 50 points needed. Previous calibration kept."));
    QCOMPARE(host.child("resetTimer")->property("interval").toInt(), 20000);
    QVERIFY(host.enabled("buttonBack"));
    QCOMPARE(host.rig.writesTo(127).last(), writeFrame(127, previousMag(), 12));
    host.screenshot(QStringLiteral("mag-calibration-refused"));
}

void CalibrationPagesTest::pageWithoutSamplesLetsTheUserGoBack()
{
    CalPageHost host(QStringLiteral("GyroscopeCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 400);
    host.click("buttonStart");
    host.click("buttonStart");
    host.rig.gyro(QVector3D(), 30); // the reset went out, then the module falls silent
    QVERIFY(!host.enabled("buttonBack"));
    QTRY_VERIFY_WITH_TIMEOUT(host.enabled("buttonBack"), 5000);
    QVERIFY(host.hint().startsWith(QStringLiteral("No data from the module.")));
    QCOMPARE(host.calState(), 2);
    // Samples again: the run goes on and Back is locked again.
    host.rig.gyro(QVector3D());
    QVERIFY(!host.enabled("buttonBack"));
    QTRY_VERIFY_WITH_TIMEOUT(host.enabled("buttonBack"), 5000);

    host.rig.takeFrames();
    host.click("buttonBack");
    QTRY_VERIFY_WITH_TIMEOUT(host.pageGone(), 5000);
    // Leaving abandoned the run: the previous offsets went back.
    QVERIFY(host.rig.frames.contains(writeFrame(103, previousGyro(), 3)));
    QVERIFY(host.rig.frames.contains(readFrame(103, 12)));
}

void CalibrationPagesTest::leavingPageMidRunPutsParametersBack()
{
    CalPageHost host(QStringLiteral("AccCal.qml"));
    QVERIFY(host.ready());
    host.click("buttonStart");
    host.click("buttonStart");
    host.rig.acc(QVector3D(0, 0, g), 40);
    QCOMPARE(host.rig.writesTo(55).size(), 1);
    QSignalSpy failed(&host.rig.backend, &DurUzaBackend::calibrationFailed);
    // The window closing takes the page with it while samples still flow.
    host.loader->setProperty("active", false);
    QVERIFY(host.pageGone());
    QCOMPARE(host.rig.writesTo(55).last(), writeFrame(55, previousAcc(), 12));
    // The outcome comes with the read-back, after the page: the live page shows it.
    QCOMPARE(failed.count(), 0);
    host.rig.answerReads();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(1).toString(),
        QStringLiteral("Calibration cancelled. Previous calibration kept."));
    host.rig.acc(QVector3D(0, 0, g), 120);
    QCOMPARE(host.rig.writesTo(55).size(), 2);
}

QTEST_MAIN(CalibrationPagesTest)
#include "tst_calpages.moc"
