// SPDX-License-Identifier: GPL-3.0-or-later
// The live page's status strip and port box in the whole application (real
// QML, backend and link) against the simulated module on a pseudo-terminal:
// a path typed into the port box connects, the strip shows the module and its
// data, says when data stops, and follows the module when its port vanishes
// and comes back, the same module or another. Saves screenshots under
// screenshots/ next to this test's executable.
#include "appharness.h"
#include "connectioncontroller.h"
#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "quicktree.h"
#include "registryitemmodel.h"
#include "renderPolicy.h"
#include "sim.h"

#include "serialports.h"

#include <QApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <memory>

class TestStatusStripApp : public QObject, public AppHarness
{
    Q_OBJECT

private:
    ConnectionController *connection() const { return backend->connectionController(); }

private slots:
    void initTestCase()
    {
        const QString error = startModule();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Not listed anywhere: the user types it.
        qunsetenv("VELMAR_EXTRA_PORTS");
        setUserPortPaths({});

        // As the application draws on Xvfb's software OpenGL: the painted box,
        // not Qt 3D, which this test's stopping and restarting stream would
        // unload and load again (once seen to hang the GUI thread under load).
        RenderPolicy::shared().setSoftware(true);
        backend = std::make_unique<DurUzaBackend>();
        connection()->attachToApplication(std::make_unique<QSettings>(
            dir.filePath(QStringLiteral("velmar.ini")), QSettings::IniFormat));
        QVERIFY(loadInterface());
        QVERIFY(!engine->rootObjects().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void cleanupTestCase()
    {
        tearDown();
        setUserPortPaths({});
    }

    void typedPathConnectsAndTheStripShowsTheModule()
    {
        QCOMPARE(text("stripPort"), QStringLiteral("Not connected"));
        auto *combo = item(QStringLiteral("serialComboBox"));
        QVERIFY(combo);
        auto *field = combo->property("contentItem").value<QQuickItem *>();
        QVERIFY(field);
        click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : module->linkPath())
            QTest::keyClick(window, c.toLatin1());
        QCOMPARE(combo->property("editText").toString(), module->linkPath());
        click(item(QStringLiteral("connectButton")));
        QCOMPARE(text("connectButton"), QStringLiteral("Disconnect"));
        QCOMPARE(combo->property("currentText").toString(), module->linkPath());

        QTRY_COMPARE_WITH_TIMEOUT(text("stripPort"), module->linkPath(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            text("stripIdentity"), QStringLiteral("ID 0x5A · HW 1442 · SW 210"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(text("stripRanges"),
            QStringLiteral("Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2 gauss"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(connection()->framesPerSecond() >= 40, 10000);
        QVERIFY(text("stripRates").endsWith(QStringLiteral(" B/s")));
        QCOMPARE(text("stripStatus"), QStringLiteral("module status: none"));
        QVERIFY(!shown(QStringLiteral("stripWarning")));
        // Some seconds of chart history make a telling picture.
        auto *euler = qobject_cast<CustomPlotItem *>(item(QStringLiteral("eulerCustomPlot")));
        QVERIFY(euler);
        QTRY_VERIFY_WITH_TIMEOUT(euler->customPlot()->graph(0)->dataCount() > 200, 20000);
        saveScreenshot(QStringLiteral("conn-live"));
    }

    void stoppedDataIsShownInTheStrip()
    {
        module->stall(6000);
        QTRY_VERIFY_WITH_TIMEOUT(shown(QStringLiteral("stripWarning")), 5000);
        QVERIFY2(text("stripWarningLabel").startsWith(QStringLiteral("No data from the module")),
            qPrintable(text("stripWarningLabel")));
        QTRY_COMPARE_WITH_TIMEOUT(text("stripRates"), QStringLiteral("0 frames/s · 0 B/s"), 5000);
        saveScreenshot(QStringLiteral("conn-stalled"));
        QTRY_VERIFY_WITH_TIMEOUT(!shown(QStringLiteral("stripWarning")), 15000);
    }

    void vanishedPortReconnectsAndThePageFollows()
    {
        auto *connectButton = item(QStringLiteral("connectButton"));
        module->unplug(1500);
        QTRY_COMPARE_WITH_TIMEOUT(
            connectButton->property("text").toString(), QStringLiteral("Connect"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(shown(QStringLiteral("stripStopWaiting"))
                || text("stripNoticeLabel").startsWith(QStringLiteral("Reconnected")),
            10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            connectButton->property("text").toString(), QStringLiteral("Disconnect"), 15000);
        QVERIFY2(text("stripNoticeLabel").startsWith(QStringLiteral("Reconnected to ")),
            qPrintable(text("stripNoticeLabel")));
        QVERIFY(!shown(QStringLiteral("statusBanner")));
        QVERIFY(backend->isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(connection()->framesPerSecond() >= 40, 10000);
        saveScreenshot(QStringLiteral("conn-reconnected"));
    }

    void differentModuleIsNotConnectedAndTheUserIsTold()
    {
        auto *connectButton = item(QStringLiteral("connectButton"));
        module->unplug(-1);
        QTRY_COMPARE_WITH_TIMEOUT(
            connectButton->property("text").toString(), QStringLiteral("Connect"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(connection()->waitingForPort(), 10000);
        module->setHardwareVersion(2542);
        const std::size_t before = module->requests().size();
        module->replug();
        QTRY_VERIFY_WITH_TIMEOUT(
            text("stripNoticeLabel").startsWith(QStringLiteral("A different module")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!connection()->linkOpen(), 10000);
        QCOMPARE(connectButton->property("text").toString(), QStringLiteral("Connect"));
        const std::vector<SimRequest> requests = module->requests();
        for (std::size_t i = before; i < requests.size(); ++i)
            QVERIFY2(!requests[i].write, "nothing is written to another module");
        saveScreenshot(QStringLiteral("conn-different-module"));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestStatusStripApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statusstripapp.moc"
