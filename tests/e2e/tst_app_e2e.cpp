// SPDX-License-Identifier: GPL-3.0-or-later
// The whole application in one process: the real QML documents from the
// resources, the real backend and link, and the simulated module on a
// pseudo-terminal.
// Drives the interface with mouse and keys, and saves a screenshot of each
// page under screenshots/ next to this test's executable.
#include "appharness.h"
#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "modulefiles.h"
#include "quicktree.h"
#include "registryitemmodel.h"
#include "sim.h"

#include <QApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <memory>

class TestAppEndToEnd : public QObject, public AppHarness
{
    Q_OBJECT

private:
    void typeText(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(window, c.toLatin1());
    }

    static int pointCount(CustomPlotItem *chart)
    {
        return chart && chart->customPlot() && chart->customPlot()->graphCount() > 0
            ? chart->customPlot()->graph(0)->dataCount()
            : 0;
    }

    // Seconds of history the chart shows.
    static double keySpan(CustomPlotItem *chart)
    {
        if (pointCount(chart) == 0)
            return 0;
        const auto data = chart->customPlot()->graph(0)->data();
        return (data->constEnd() - 1)->key - data->constBegin()->key;
    }

    // The value field of the register cell named `name` on the register page.
    QQuickItem *registerValueField(const QString &name) const
    {
        const auto names = quicktree::findAllNamed(
            item(QStringLiteral("registerGrid")), QStringLiteral("textName"));
        for (QObject *label : names) {
            if (label->property("text").toString() == name)
                return item(
                    QStringLiteral("valueText"), qobject_cast<QQuickItem *>(label)->parentItem());
        }
        return nullptr;
    }

    QString registerValueText(const QString &name) const
    {
        QQuickItem *field = registerValueField(name);
        return field ? field->property("text").toString() : QString();
    }

    // Swipes to a page and waits until the swipe has come to rest.
    void showPage(int index)
    {
        auto *view = item(QStringLiteral("swipeView"));
        view->setProperty("currentIndex", index);
        auto *list = view->property("contentItem").value<QQuickItem *>();
        QVERIFY(list);
        QTRY_COMPARE(list->property("contentX").toReal(), index * view->width());
    }

    void showLivePage() { showPage(0); }

    void openAndLeaveCalibrationPage(
        const QString &mouseArea, const QString &loaderName, const QString &shot)
    {
        showLivePage();
        auto *stack = item(QStringLiteral("mainStackView"));
        auto *loader = item(loaderName);
        QVERIFY(stack && loader);
        QCOMPARE(stack->property("depth").toInt(), 1);
        click(item(mouseArea));
        QTRY_COMPARE(stack->property("depth").toInt(), 2);
        QTRY_VERIFY(!stack->property("busy").toBool());
        QObject *page = loader->property("item").value<QObject *>();
        QVERIFY(page);
        QCOMPARE(page->property("calState").toInt(), 0);
        // The page's request switches the module to that sensor; its chart fills.
        if (auto *chart = item<CustomPlotItem>(QStringLiteral("plotItem"), page))
            QTRY_VERIFY_WITH_TIMEOUT(pointCount(chart) > 20, 10000);
        saveScreenshot(shot);
        click(item(QStringLiteral("buttonBack"), page));
        QTRY_COMPARE(stack->property("depth").toInt(), 1);
        QTRY_VERIFY(!loader->property("active").toBool());
        QTRY_VERIFY(!stack->property("busy").toBool());
    }

private slots:
    void initTestCase()
    {
        const QString error = startModule();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        qputenv("VELMAR_EXTRA_PORTS", module->linkPath().toLocal8Bit());

        backend = std::make_unique<DurUzaBackend>();
        QVERIFY(loadInterface());
        QVERIFY(!engine->rootObjects().isEmpty());

        // Hidden behind the splash until its timer fires.
        QVERIFY(!window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void cleanupTestCase() { tearDown(); }

    void connectingFillsChartsAndReadout()
    {
        auto *combo = item(QStringLiteral("serialComboBox"));
        QVERIFY(combo);
        const QStringList ports = combo->property("model").toStringList();
        const int index = ports.indexOf(module->linkPath());
        QVERIFY2(index >= 0, qPrintable(ports.join(QLatin1Char(','))));
        combo->setProperty("currentIndex", index);

        auto *connectButton = item(QStringLiteral("connectButton"));
        click(connectButton);
        QCOMPARE(connectButton->property("text").toString(), QStringLiteral("Disconnect"));

        const QStringList charts = {"eulerCustomPlot", "quatCustomPlot", "accCustomPlot",
            "gyroCustomPlot", "magCustomPlot"};
        for (const QString &name : charts) {
            auto *chart = item<CustomPlotItem>(name);
            QVERIFY(chart);
            QTRY_VERIFY2_WITH_TIMEOUT(pointCount(chart) > 50, qPrintable(name), 15000);
        }
        // The charts' first points may come before the 50th frame (a busy machine
        // delays the stream, not the first answers): wait for the stream itself.
        QTRY_VERIFY_WITH_TIMEOUT(module->counters().streamFrames > 50, 15000);
        QVERIFY(item(QStringLiteral("rollText"))->property("text").toString().startsWith("Roll:"));
        QVERIFY(item(QStringLiteral("yawText"))->property("text").toString().startsWith("Yaw:"));
        QCOMPARE(item(QStringLiteral("statusBanner"))->isVisible(), false);
        // A few seconds of history make a more telling picture.
        auto *euler = item<CustomPlotItem>(QStringLiteral("eulerCustomPlot"));
        QTRY_VERIFY_WITH_TIMEOUT(keySpan(euler) > 4.0, 20000);
        saveScreenshot(QStringLiteral("live"));
    }

    void registerPageShowsModuleValues()
    {
        showPage(1);
        QTRY_COMPARE(registerValueText(QStringLiteral("Hardware Version")), QStringLiteral("1442"));
        QTRY_COMPARE(registerValueText(QStringLiteral("Device ID")), QStringLiteral("0x5A"));
        QTRY_COMPARE(registerValueText(QStringLiteral("Software Version")), QStringLiteral("210"));
        QTRY_COMPARE(registerValueText(QStringLiteral("Sensors Range")), QStringLiteral("0x00"));
        // Streaming keeps the measurement cells moving.
        const QString roll = registerValueText(QStringLiteral("Euler Angle Roll"));
        QTRY_VERIFY(registerValueText(QStringLiteral("Euler Angle Roll")) != roll);
        saveScreenshot(QStringLiteral("registers"));
    }

    void editedRegisterIsWrittenAndReadBack()
    {
        // The last register sits in the last column, off screen at first.
        QVERIFY(
            QMetaObject::invokeMethod(item(QStringLiteral("registerGrid")), "positionViewAtEnd"));
        QTRY_VERIFY(registerValueField(QStringLiteral("ACC_MAG_EFF")));
        QQuickItem *field = registerValueField(QStringLiteral("ACC_MAG_EFF"));
        const quint8 before = module->registerImage()[0xAF];
        QTRY_COMPARE(field->property("text").toString(), QString::asprintf("0x%02X", before));
        QVERIFY(field->isEnabled());
        field->forceActiveFocus();
        QVERIFY(field->hasActiveFocus());
        QMetaObject::invokeMethod(field, "selectAll");
        typeText(QStringLiteral("0x0C"));
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_COMPARE(module->registerImage()[0xAF], quint8(12));
        QTRY_COMPARE(field->property("text").toString(), QStringLiteral("0x0C"));

        // Text the register cannot take is refused and marked.
        field->forceActiveFocus();
        QMetaObject::invokeMethod(field, "selectAll");
        typeText(QStringLiteral("abc"));
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(
            field->parentItem()->property("border").value<QObject *>()->property("width").toInt(),
            2);
        QCOMPARE(module->registerImage()[0xAF], quint8(12));
        QTest::keyClick(window, Qt::Key_Escape);
        QCOMPARE(field->property("text").toString(), QStringLiteral("0x0C"));
    }

    // Export saves what the module holds; an edited copy imported through the
    // table changes exactly what differs, and the table shows the read-back.
    void registerPageExportsAndImportsAFile()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        backend->files()->setFolder(folder.path());
        // The register page's tool bar does not take a synthetic click under
        // the swipe view here; its handler runs as a click would run it.
        QVERIFY(QMetaObject::invokeMethod(item(QStringLiteral("moduleExportButton")), "clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(!backend->files()->busy(), 10000);
        QVERIFY2(!backend->files()->failed(), qPrintable(backend->files()->status()));
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("moduleFilesStatus"))
                                     ->property("text")
                                     .toString()
                                     .startsWith(QStringLiteral("Saved")),
            10000);
        const QStringList saved = QDir(folder.path()).entryList({QStringLiteral("*.json")});
        QCOMPARE(saved.size(), 1);
        ModuleFileReading reading = readModuleFile(folder.filePath(saved.first()));
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QCOMPARE(int(reading.file.writable[0xAF - 52]), int(module->registerImage()[0xAF]));

        // The copy asks for ACC_MAG_EFF 0x0A and a gyroscope offset.
        ModuleFile edited = reading.file;
        edited.writable[0xAF - 52] = 0x0A;
        writeF32(&edited.writable[111 - 52], 0.25f);
        QFile out(folder.filePath(QStringLiteral("edited.json")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(writeModuleFile(edited));
        out.close();

        QVERIFY(QMetaObject::invokeMethod(item(QStringLiteral("importButton")), "clicked"));
        auto *dialog = item<QObject>(QStringLiteral("moduleImportDialog"));
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        auto *path = item(QStringLiteral("importPathField"));
        QVERIFY(path);
        path->setProperty("text", QStringLiteral("edited.json"));
        click(item(QStringLiteral("importOpenButton")));
        QTRY_VERIFY_WITH_TIMEOUT(backend->files()->importRows().size() >= 34, 10000);
        QTRY_VERIFY(item(QStringLiteral("importWriteButton"))->isEnabled());
        saveScreenshot(QStringLiteral("import-table"));
        click(item(QStringLiteral("importWriteButton")));
        QTRY_COMPARE_WITH_TIMEOUT(module->registerImage()[0xAF], quint8(0x0A), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(readF32(&module->registerImage()[111]), 0.25f, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!backend->files()->busy(), 10000);
        QVERIFY2(!backend->files()->failed(), qPrintable(backend->files()->status()));
        saveScreenshot(QStringLiteral("import-readback"));
        click(item(QStringLiteral("importCloseButton")));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QVERIFY(backend->files()->importRows().isEmpty());
    }

    void calibrationPagesOpenAndCloseAgain()
    {
        openAndLeaveCalibrationPage(QStringLiteral("accMouseArea"), QStringLiteral("accLoader"),
            QStringLiteral("acc-calibration"));
        openAndLeaveCalibrationPage(QStringLiteral("gyroMouseArea"), QStringLiteral("gyroLoader"),
            QStringLiteral("gyro-calibration"));
        openAndLeaveCalibrationPage(QStringLiteral("magMouseArea"), QStringLiteral("magLoader"),
            QStringLiteral("mag-calibration"));
        // Back asked for the live data again: the charts keep filling.
        auto *chart = item<CustomPlotItem>(QStringLiteral("accCustomPlot"));
        const quint64 before = module->counters().streamFrames;
        QTRY_VERIFY_WITH_TIMEOUT(module->counters().streamFrames > before + 20, 10000);
        QVERIFY(pointCount(chart) > 0);
    }

    void pulledCableIsReportedAndControlsReturn()
    {
        showLivePage();
        auto *connectButton = item(QStringLiteral("connectButton"));
        QCOMPARE(connectButton->property("text").toString(), QStringLiteral("Disconnect"));
        module->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("statusBanner"))->isVisible(), 10000);
        const QString text = item(QStringLiteral("statusLabel"))->property("text").toString();
        QVERIFY2(
            text.contains(module->linkPath()) || text.contains(QStringLiteral("velmar-module")),
            qPrintable(text));
        QCOMPARE(connectButton->property("text").toString(), QStringLiteral("Connect"));
        QVERIFY(item(QStringLiteral("serialComboBox"))->isEnabled());
        QVERIFY(item(QStringLiteral("refreshButton"))->isVisible());
        QVERIFY(!backend->isConnected());
        saveScreenshot(QStringLiteral("cable-pulled"));
    }

    void reconnectsAfterReplug()
    {
        module->replug();
        click(item(QStringLiteral("refreshButton")));
        auto *combo = item(QStringLiteral("serialComboBox"));
        const int index = combo->property("model").toStringList().indexOf(module->linkPath());
        QVERIFY(index >= 0);
        combo->setProperty("currentIndex", index);
        click(item(QStringLiteral("connectButton")));
        QVERIFY(!item(QStringLiteral("statusBanner"))->isVisible());
        auto *chart = item<CustomPlotItem>(QStringLiteral("gyroCustomPlot"));
        const double newest = chart->customPlot()->graph(0)->data()->at(pointCount(chart) - 1)->key;
        QTRY_VERIFY_WITH_TIMEOUT(
            chart->customPlot()->graph(0)->data()->at(pointCount(chart) - 1)->key > newest + 0.5,
            10000);
    }

    void disconnectReturnsControls()
    {
        showLivePage();
        auto *connectButton = item(QStringLiteral("connectButton"));
        click(connectButton);
        QCOMPARE(connectButton->property("text").toString(), QStringLiteral("Connect"));
        QVERIFY(item(QStringLiteral("refreshButton"))->isVisible());
        QVERIFY(!backend->isConnected());
    }

    void recordingGoesOnAcrossPagesAndCalibrations()
    {
        QStandardPaths::setTestModeEnabled(true); // the settings of this run only
        QTemporaryDir recordings;
        RecordingController *recording = backend->recordingController();
        recording->setLocation(recordings.path());
        // Connected again after the test before; last, as it leaves the window active.
        showLivePage();
        auto *combo = item(QStringLiteral("serialComboBox"));
        combo->setProperty(
            "currentIndex", combo->property("model").toStringList().indexOf(module->linkPath()));
        click(item(QStringLiteral("connectButton")));
        QVERIFY(backend->isConnected());
        auto *button = item(QStringLiteral("recordButton"));
        QVERIFY(button);
        QCOMPARE(button->property("text").toString(), QStringLiteral("Record"));
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(recording->isRecording());
        QCOMPARE(button->property("text").toString(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() > 50, 10000);
        auto *status = item(QStringLiteral("recordStatus"));
        QVERIFY(status && status->isVisible());
        QTRY_VERIFY(status->property("text").toString().contains(
            QStringLiteral("%1 frames").arg(recording->framesWritten())));
        saveScreenshot(QStringLiteral("recording"));

        // Neither the register page nor a calibration stops it.
        showPage(1);
        qint64 frames = recording->framesWritten();
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() > frames + 50, 10000);
        openAndLeaveCalibrationPage(QStringLiteral("gyroMouseArea"), QStringLiteral("gyroLoader"),
            QStringLiteral("gyro-calibration-recording"));
        frames = recording->framesWritten();
        QTRY_VERIFY_WITH_TIMEOUT(recording->framesWritten() > frames + 50, 10000);
        QVERIFY(recording->isRecording());

        click(button);
        QTRY_COMPARE_WITH_TIMEOUT(recording->state(), QStringLiteral("idle"), 10000);
        QCOMPARE(button->property("text").toString(), QStringLiteral("Record"));
        QVERIFY(!status->isVisible());
        QVERIFY(recording->errorMessage().isEmpty());

        // Whole rows, and while the gyroscope page had the module stream the
        // accelerometer and gyroscope alone, rows of just those.
        QFile csv(recording->folder() + QStringLiteral("/measurements.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        int whole = 0;
        int accGyro = 0;
        int rows = 0;
        for (const QByteArray &line : lines.mid(1)) {
            if (line.isEmpty())
                continue;
            ++rows;
            const QList<QByteArray> cells = line.split(',');
            QCOMPARE(cells.size(), 18);
            const bool hasAcc = !cells[1].isEmpty() && !cells[4].isEmpty();
            if (hasAcc && !cells[7].isEmpty() && !cells[17].isEmpty())
                ++whole;
            else if (hasAcc && cells[7].isEmpty() && cells[10].isEmpty() && cells[17].isEmpty())
                ++accGyro;
        }
        QCOMPARE(qint64(rows), recording->framesWritten());
        QVERIFY2(whole > 100 && accGyro > 10,
            qPrintable(QStringLiteral("%1 whole, %2 acc+gyro").arg(whole).arg(accGyro)));
    }
};

int main(int argc, char **argv)
{
    // The window remembers its size and place: in a settings file of the
    // test's own, not the user's.
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    TestAppEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_e2e.moc"
