// SPDX-License-Identifier: GPL-3.0-or-later
// The guidance on the calibration pages (the real documents from the
// resources, on the real backend fed through its link objects): the coverage
// map beside the magnetometer scatter, a wrong face named on the accelerometer
// page, and a run's report opened from its page. Screenshots go to
// screenshots/guide-*.png next to this executable.
#include "pagehost.h"
#include "workflowrig.h"

#include "headingturns.h"

#include "customPlotItem.h"

#include <QDir>
#include <QFile>
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
    void magPageKeepsFitsAndReportInView();
    void magPageGuidesTheHeadingCheck();
    void accPageNamesAWrongFace();
    void reportOpensFromThePage();
    void magMapStartsAfreshWithEachRun();
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

// Starts a run and turns the module through the upper half of the sphere and
// a little beyond, then refreshes the guidance.
void turnUpperHalf(GuidedPageHost &host)
{
    host.click("buttonStart");
    host.rig.mag(QVector3D(0.6f, -0.1f, 0.2f), 10);
    const QVector3D centre(0.1f, -0.05f, 0.2f);
    for (const QVector3D &p : ellipsoidPoints(400, centre, QVector3D(0.5f, 0.45f, 0.55f))) {
        if (p.z() > centre.z() - 0.15f)
            host.rig.mag(p);
    }
    host.rig.backend.guide()->refreshMag();
}

// Where `item` is not inside the window or cut by a clipping item above it
// (a scrolled list), or an empty string when all of it shows.
QString whereCut(QQuickItem *item)
{
    const QRectF rect = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    const auto box = [](const QRectF &r) {
        return QStringLiteral("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    const QRectF window(QPointF(0, 0), item->window()->size());
    if (!window.contains(rect))
        return QStringLiteral("%1 outside the window %2").arg(box(rect), box(window));
    for (QQuickItem *up = item->parentItem(); up; up = up->parentItem()) {
        if (!up->clip())
            continue;
        const QRectF shown = up->mapRectToScene(QRectF(0, 0, up->width(), up->height()));
        if (!shown.contains(rect.adjusted(0.5, 0.5, -0.5, -0.5)))
            return QStringLiteral("%1 cut by %2 %3").arg(box(rect), up->objectName(), box(shown));
    }
    return QString();
}

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
    turnUpperHalf(host);
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

// Every fit with its figures or its whole reason, the Report button,
// Back/Start and the guidance show without scrolling, in the usual window and
// in a small one, with a legible map and a scatter still worth looking at.
void GuidancePagesTest::magPageKeepsFitsAndReportInView()
{
    GuidedPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000);
    turnUpperHalf(host);
    QCOMPARE(host.rig.backend.guide()->magFits().size(), 5);
    // What does not show as it should, or an empty string; the list is rebuilt
    // and laid out again with every refresh, so this is asked until it settles.
    const auto problems = [&] {
        QStringList found;
        const QVariantList fits = host.rig.backend.guide()->magFits();
        for (int i = 0; i < fits.size(); ++i) {
            const QVariantMap fit = fits[i].toMap();
            QQuickItem *row = host.item(QStringLiteral("fitChoice%1").arg(i));
            if (!row) {
                found << QStringLiteral("no row for fit %1").arg(i);
                continue;
            }
            const QString cut = whereCut(row);
            if (!cut.isEmpty())
                found << QStringLiteral("fit %1: %2").arg(i).arg(cut);
            const QString shown = row->property("text").toString();
            const QString expected = fit[QStringLiteral("valid")].toBool()
                ? QString::number(fit[QStringLiteral("heldOutSpread")].toDouble(), 'f', 2) + '%'
                : fit[QStringLiteral("reason")].toString();
            if (!shown.contains(expected))
                found << QStringLiteral("fit %1 shows \"%2\", not \"%3\"")
                             .arg(i)
                             .arg(shown, expected);
            auto *label = qobject_cast<QQuickItem *>(quicktree::findNamed(row, "fitText"));
            if (!label)
                found << QStringLiteral("fit %1's text does not wrap").arg(i);
            else if (label->property("truncated").toBool()
                || label->property("contentWidth").toReal()
                    > label->width() - label->property("leftPadding").toReal() + 0.5)
                found << QStringLiteral("fit %1 is cut short: %2").arg(i).arg(shown);
        }
        // The guidance beside the scatter shows whole too, without scrolling.
        for (const char *name :
            {"reportButton", "buttonBack", "buttonStart", "coverageText", "coverageMap",
                "magHintText", "magFiguresText", "magVerdictText", "headingButton"}) {
            QQuickItem *item = host.item(QLatin1String(name));
            const QString cut = !item ? QStringLiteral("missing")
                : !item->isVisible()  ? QStringLiteral("hidden")
                                      : whereCut(item);
            if (!cut.isEmpty())
                found << QStringLiteral("%1: %2").arg(QLatin1String(name), cut);
        }
        return found.join(QStringLiteral("; "));
    };
    for (const QSize size : {QSize(1024, 768), QSize(800, 600)}) {
        host.window->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(host.page->size(), QSizeF(size), 5000);
        QString seen;
        QTRY_VERIFY2_WITH_TIMEOUT((seen = problems()).isEmpty(),
            qPrintable(
                QStringLiteral("at %1x%2: %3").arg(size.width()).arg(size.height()).arg(seen)),
            5000);
        QQuickItem *map = host.item("coverageMap");
        QVERIFY2(map->height() >= 150, qPrintable(QString::number(map->height())));
        QQuickItem *scatter = host.item("scatterGraph");
        QVERIFY(scatter->width() >= 400 && scatter->height() >= 250);
        host.screenshot(
            QStringLiteral("guide-mag-midrun-%1x%2").arg(size.width()).arg(size.height()));
    }
}

// The heading check from its button: eight flat, still headings turned
// anticlockwise by 45 degrees each, then the table's figures on the page.
void GuidancePagesTest::magPageGuidesTheHeadingCheck()
{
    GuidedPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000);
    CalibrationGuide &guide = *host.rig.backend.guide();
    host.click("headingButton");
    QVERIFY(guide.headingRunning());
    QTRY_VERIFY_WITH_TIMEOUT(
        host.text("headingHintText").startsWith(QStringLiteral("Heading 1 of 8.")), 5000);
    for (int i = 0; i < HeadingTurns::headingCount; ++i) {
        // Turning the module anticlockwise turns the field in its frame back.
        const double a = -qDegreesToRadians(45.0 * i);
        const QVector3D field(float(0.2 * std::cos(a)), float(0.2 * std::sin(a)), -0.4f);
        for (int k = 0; k < 2 * HeadingTurns::restSamples + 10; ++k) {
            host.rig.acc(QVector3D(0, 0, 9.8f));
            host.rig.mag(field);
        }
        QVERIFY2(guide.headingStops() == i + 1,
            qPrintable(QStringLiteral("heading %1 not taken: %2").arg(i).arg(guide.headingHint())));
    }
    QVERIFY(!guide.headingRunning());
    // Without a run the factory calibration is both before and with: turned
    // the way the hint says, the headings follow the turns.
    QVERIFY2(guide.headingAfter().ok && guide.headingAfter().maxDeviationDeg < 0.5,
        qPrintable(guide.headingSummary()));
    QTRY_VERIFY_WITH_TIMEOUT(
        host.text("headingSummaryText").startsWith(QStringLiteral("Heading deviation over 8")),
        5000);
    for (const QSize size : {QSize(1024, 768), QSize(800, 600)}) {
        host.window->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(host.page->size(), QSizeF(size), 5000);
        // The guidance scrolled to its end, where the check is.
        QQuickItem *scroll = host.item("magGuidanceScroll");
        scroll->setProperty("contentY",
            std::max(0.0,
                scroll->property("contentHeight").toReal() - scroll->property("height").toReal()));
        host.screenshot(
            QStringLiteral("guide-mag-headings-%1x%2").arg(size.width()).arg(size.height()));
    }
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
    // The result, docked under the chart while it stays.
    QTRY_VERIFY_WITH_TIMEOUT(host.item("hintRect")->property("opacity").toReal() > 0.6, 5000);
    host.saveWindow(QStringLiteral("guide-gyro-result"));
    host.click(button);
    QObject *text = findNamed(host.window->contentItem(), "reportText");
    QVERIFY(text);
    // A page with headings and tables, the module named as on the status strip.
    QTRY_VERIFY_WITH_TIMEOUT(text->property("text").toString().contains(
                                 QStringLiteral("<h2>Gyroscope calibration</h2>")),
        5000);
    const QString page = text->property("text").toString();
    QVERIFY(page.contains(QStringLiteral("<table")));
    QVERIFY(page.contains(QStringLiteral("Offset X (°/s)")));
    QVERIFY2(page.contains(QStringLiteral("ID 0x")), qPrintable(page));
    QVERIFY(page.contains(QStringLiteral("written")));
    host.window->resize(800, 600);
    QTRY_COMPARE_WITH_TIMEOUT(host.page->size(), QSizeF(800, 600), 5000);
    QObject *save = findNamed(host.window->contentItem(), "reportPdfButton");
    QVERIFY(save);
    QMetaObject::invokeMethod(save, "clicked");
    QObject *status = findNamed(host.window->contentItem(), "reportPdfStatus");
    const QString said = status->property("text").toString();
    QVERIFY2(said.startsWith(QStringLiteral("Saved as ")), qPrintable(said));
    QFile pdf(said.mid(9));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.readAll().startsWith("%PDF-"));
    QVERIFY(pdf.fileName().startsWith(host.reports.path()));
    // The result stays docked under the chart meanwhile; the report is what is shown.
    host.saveWindow(QStringLiteral("guide-report-800x600"));
}

// The map shows what this run reached: a new run starts with every cell
// missing, whatever the last one covered.
void GuidancePagesTest::magMapStartsAfreshWithEachRun()
{
    GuidedPageHost host(QStringLiteral("MagCal.qml"));
    QVERIFY(host.ready());
    host.page->setProperty("noDataTimeout", 60000);
    CalibrationGuide &guide = *host.rig.backend.guide();
    turnUpperHalf(host);
    QVERIFY(guide.magCoverage() > 50);
    QQuickItem *map = host.item("coverageMap");
    const auto coveredOnMap = [&] {
        const QVariantList cells = map->property("cells").toList();
        int covered = 0;
        for (int i = 3; i < cells.size(); i += 4)
            covered += cells[i].toInt();
        return covered;
    };
    QVERIFY(coveredOnMap() > 0);
    host.click("buttonStart"); // Finish
    host.rig.mag(QVector3D(0.1f, 0.1f, 0.1f));
    host.rig.answerReads();
    QTRY_COMPARE_WITH_TIMEOUT(host.page->property("calState").toInt(), 0, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(host.page->property("lowQuality").toInt() >= 0
            || guide.reports().contains(QStringLiteral("magnetometer")),
        5000);
    QVERIFY(coveredOnMap() > 0);
    // Half a sphere scores low: the result waits for the user, who drops it.
    if (host.page->property("lowQuality").toInt() >= 0) {
        host.click("buttonDiscard");
        host.rig.answerReads();
    }
    QTRY_COMPARE_WITH_TIMEOUT(host.page->property("lowQuality").toInt(), -1, 5000);
    host.click("buttonStart"); // a new run
    QCOMPARE(coveredOnMap(), 0);
    QCOMPARE(host.text("coverageText"), QStringLiteral("Covered: 0%"));
    host.click("buttonCancel");
}

QTEST_MAIN(GuidancePagesTest)
#include "tst_guidancepages.moc"
