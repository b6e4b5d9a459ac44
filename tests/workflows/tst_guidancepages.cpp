// SPDX-License-Identifier: GPL-3.0-or-later
// The guidance on the calibration pages (the real documents from the
// resources, on the real backend fed through its link objects): the coverage
// map beside the magnetometer scatter, a wrong face named on the accelerometer
// page, and a run's report opened from its page. Screenshots go to
// screenshots/guide-*.png next to this executable.
#include "pagehost.h"
#include "workflowrig.h"

#include "customPlotItem.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

using namespace workflowtest;
using quicktree::findNamed;

class GuidancePagesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void magPageShowsCoverageBesideTheScatter();
    void accPageNamesAWrongFace();
    void reportOpensFromThePage();
};

namespace {

constexpr float g = 9.79426f;

// The report folder and the rig first: they outlive the page, which still
// calls the backend as it goes.
struct GuidedRig
{
    GuidedRig() { rig.backend.guide()->setReportFolder(reports.path()); }
    QTemporaryDir reports;
    Rig rig;
};

class GuidedPageHost : public GuidedRig, public PageHost
{
public:
    explicit GuidedPageHost(const QString &document)
        : PageHost(QStringLiteral(PAGE_HOST), &rig.backend, document)
    { }

    void screenshot(const QString &name)
    {
        // Past the fade of the hint banner, so the page itself shows.
        QTRY_COMPARE_WITH_TIMEOUT(
            item(QStringLiteral("hintRect"))->property("opacity").toReal(), 0.0, 8000);
        saveWindow(name);
    }
};

} // namespace

void GuidancePagesTest::initTestCase()
{
    qmlRegisterType<CustomPlotItem>("CustomPlot", 1, 0, "CustomPlotItem");
}

void GuidancePagesTest::magPageShowsCoverageBesideTheScatter()
{
    GuidedPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000);
    CalibrationGuide &guide = *host.rig.backend.guide();
    host.click("buttonStart");
    host.rig.mag(QVector3D(0.6f, -0.1f, 0.2f), 10);
    const QVector3D centre(0.1f, -0.05f, 0.2f);
    // Turned so far through the upper half and a little beyond.
    for (const QVector3D &p : ellipsoidPoints(400, centre, QVector3D(0.5f, 0.45f, 0.55f))) {
        if (p.z() > centre.z() - 0.15f)
            host.rig.mag(p);
    }
    guide.refreshMag();
    const int covered = qRound(guide.magCoverage());
    QVERIFY(covered > 50 && covered < 80);
    QCOMPARE(host.text("coverageText"), QStringLiteral("Covered: %1%").arg(covered));
    QCOMPARE(host.text("magHintText"), QStringLiteral("Turn the -Z face towards the floor."));
    QVERIFY(host.text("magVerdictText").startsWith(QStringLiteral("Not good enough yet:")));
    QVERIFY(host.text("magFiguresText").contains(QStringLiteral("Field spread: 0.0")));
    // Beside the scatter, not over it.
    QQuickItem *scatter = host.item("scatterGraph");
    QQuickItem *panel = host.item("magGuidePanel");
    QVERIFY(scatter && panel && panel->isVisible());
    QVERIFY(scatter->mapToScene(QPointF(scatter->width(), 0)).x()
        <= panel->mapToScene(QPointF(0, 0)).x() + 0.5);
    QVERIFY(scatter->width() > panel->width());
    QVERIFY(host.item("coverageMap")->height() > 50);
    // The user picks another valid fit over the best one (mid-run, on part of
    // the sphere, the bounding box may be refused by the bounds).
    const QVariantList fits = guide.magFits();
    QCOMPARE(fits.size(), 5);
    QVERIFY(fits[guide.magChosenFit()].toMap()[QStringLiteral("best")].toBool());
    int other = -1;
    for (int i = 0; i < fits.size() && other < 0; ++i) {
        const QVariantMap fit = fits[i].toMap();
        qInfo("%s: %s", qPrintable(fit[QStringLiteral("name")].toString()),
            fit[QStringLiteral("valid")].toBool()
                ? "valid"
                : qPrintable(fit[QStringLiteral("reason")].toString()));
        if (fit[QStringLiteral("valid")].toBool() && i != guide.magChosenFit())
            other = i;
    }
    QVERIFY(other >= 0);
    // The list is rebuilt with every refresh; click the choice as it is now
    // until the page has taken it (picking the same fit again changes nothing).
    const QString name = QStringLiteral("fitChoice%1").arg(other);
    const auto pick = [&] {
        if (QQuickItem *choice = host.item(name))
            host.click(choice);
        return guide.magChosenFit() == other;
    };
    QTRY_VERIFY_WITH_TIMEOUT(pick(), 5000);
    QVERIFY(host.item(name)->property("checked").toBool());
    host.screenshot(QStringLiteral("guide-mag-midrun"));
}

void GuidancePagesTest::accPageNamesAWrongFace()
{
    GuidedPageHost host(QStringLiteral("AccCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000);
    CalibrationGuide &guide = *host.rig.backend.guide();
    QVERIFY(guide.holdPositions());
    const auto positions = idealPositions(g);
    host.click("buttonStart");
    host.rig.acc(positions[0], 10);
    QCOMPARE(host.text("faceUpText"), QStringLiteral("Z-Up"));
    QVERIFY(host.text("faceProblemText").isEmpty());
    host.click("buttonStart"); // Ready: Z-Up
    host.rig.acc(positions[0], 110);
    QCOMPARE(host.page->property("calState").toInt(), 3);
    host.click("buttonStart"); // Ready: Z-Down, but the module stays Z-Up
    host.rig.acc(positions[0], 10);
    QCOMPARE(host.text("faceProblemText"),
        QStringLiteral("This is Z-Up; place the module with Z-Down."));
    QCOMPARE(host.page->property("calState").toInt(), 4);
    host.rig.acc(positions[0], 40); // the chart shows the module as it lies
    host.screenshot(QStringLiteral("guide-acc-wrongface"));
    host.rig.acc(positions[1], 10);
    QVERIFY(host.text("faceProblemText").isEmpty());
    QCOMPARE(host.text("faceUpText"), QStringLiteral("Z-Down"));
    // Leaving the page lets the bare procedure gather as before.
    host.loader->setProperty("active", false);
    QVERIFY(!guide.holdPositions());
}

void GuidancePagesTest::reportOpensFromThePage()
{
    GuidedPageHost host(QStringLiteral("GyroscopeCal.qml"));
    QVERIFY(host.ready());
    QQuickItem *button = host.item("reportButton");
    QVERIFY(button);
    QVERIFY(!button->isEnabled());
    host.click("buttonStart");
    host.click("buttonStart");
    host.rig.gyro(QVector3D(0.5f, 0, 0), 210);
    host.rig.answerReads();
    QCOMPARE(host.page->property("calState").toInt(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 5000);
    host.click(button);
    QObject *text = findNamed(host.window->contentItem(), "reportText");
    QVERIFY(text);
    QTRY_VERIFY_WITH_TIMEOUT(
        text->property("text").toString().startsWith(QStringLiteral("gyroscope calibration, ")),
        5000);
    QVERIFY(text->property("text").toString().contains(QStringLiteral("Outcome: written")));
}

QTEST_MAIN(GuidancePagesTest)
#include "tst_guidancepages.moc"
