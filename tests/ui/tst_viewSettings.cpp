// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewSettings.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

class TestViewSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString iniFile() const { return dir.filePath(QStringLiteral("settings.ini")); }

    // A window well inside the first screen, whatever its size.
    QRect insideScreen(int width, int height) const
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        return QRect(screen.x() + 20, screen.y() + 30, qMin(width, screen.width() - 40),
            qMin(height, screen.height() - 60));
    }

private slots:
    void init() { QFile::remove(iniFile()); }

    void fitToScreens_data()
    {
        QTest::addColumn<QRect>("stored");
        QTest::addColumn<QRect>("fitted");
        const QRect left(0, 0, 1920, 1040);
        QTest::newRow("nothing stored") << QRect() << QRect();
        QTest::newRow("on the screen, as it was")
            << QRect(100, 80, 1024, 768) << QRect(100, 80, 1024, 768);
        QTest::newRow("on the second screen")
            << QRect(2200, 100, 800, 600) << QRect(2200, 100, 800, 600);
        QTest::newRow("on a screen that is gone") << QRect(4000, 100, 800, 600) << QRect();
        QTest::newRow("above every screen") << QRect(100, -900, 800, 600) << QRect();
        QTest::newRow("title bar barely showing") << QRect(-980, 100, 1024, 768) << QRect();
        QTest::newRow("half off the right edge: moved in")
            << QRect(1500, 100, 1024, 768) << QRect(896, 100, 1024, 768);
        QTest::newRow("larger than the screen: shrunk to it") << QRect(10, 10, 2560, 1440) << left;
        QTest::newRow("hanging below: lifted")
            << QRect(100, 900, 1024, 768) << QRect(100, 272, 1024, 768);
    }

    void fitToScreens()
    {
        QFETCH(QRect, stored);
        QFETCH(QRect, fitted);
        // Two screens side by side, the first with a 40 px panel at the bottom.
        const QList<QRect> screens = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(ViewSettings::fitToScreens(stored, screens), fitted);
    }

    void windowComesBackWhereItWasClosed()
    {
        const QRect where = insideScreen(640, 480);
        {
            ViewSettings settings(iniFile());
            QWindow window;
            settings.manageWindow(&window);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // A shown window hears of its new geometry from the platform, later.
            QSignalSpy resized(&window, &QWindow::widthChanged);
            window.setGeometry(where);
            QTRY_VERIFY_WITH_TIMEOUT(resized.count() > 0, 5000);
            QCOMPARE(window.geometry(), where);
            // Closing writes it.
            window.close();
            QCOMPARE(settings.storedWindowGeometry(), where);
            QCOMPARE(settings.storedWindowMaximized(), false);
        }

        ViewSettings settings(iniFile());
        QCOMPARE(settings.storedWindowGeometry(), where);
        QWindow window;
        window.resize(1024, 768);
        settings.manageWindow(&window);
        QCOMPARE(window.geometry(), where);
    }

    void quittingWithTheWindowOpenWritesItToo()
    {
        const QRect where = insideScreen(500, 400);
        QWindow window;
        {
            ViewSettings settings(iniFile());
            settings.manageWindow(&window);
            window.setGeometry(where);
        }
        QCOMPARE(ViewSettings(iniFile()).storedWindowGeometry(), where);
    }

    void maximisedWindowKeepsItsNormalGeometry()
    {
        const QRect normal = insideScreen(600, 400);
        {
            ViewSettings settings(iniFile());
            QWindow window;
            window.setGeometry(normal);
            settings.manageWindow(&window);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.showMaximized();
            QTRY_VERIFY_WITH_TIMEOUT(window.windowStates() & Qt::WindowMaximized, 5000);
            settings.saveWindow();
            QCOMPARE(settings.storedWindowMaximized(), true);
            QCOMPARE(settings.storedWindowGeometry(), normal);
        }
        ViewSettings settings(iniFile());
        QWindow window;
        settings.manageWindow(&window);
        QVERIFY(window.windowStates() & Qt::WindowMaximized);
        QCOMPARE(window.geometry(), normal);
    }

    void storedGeometryOffEveryScreenIsIgnored()
    {
        ViewSettings settings(iniFile());
        settings.storeWindow(QRect(-50000, -50000, 800, 600), false);
        QWindow window;
        window.resize(1024, 700);
        settings.manageWindow(&window);
        QCOMPARE(window.size(), QSize(1024, 700));
        QVERIFY(window.x() > -50000);
    }

    void exportFolderRoundTrip()
    {
        {
            ViewSettings settings(iniFile());
            QCOMPARE(settings.exportFolder(), ViewSettings::defaultExportFolder());
            QVERIFY(settings.exportFolder().endsWith(QStringLiteral("Velmar IMU")));
            QSignalSpy changed(&settings, &ViewSettings::exportFolderChanged);
            settings.setExportFolder(dir.filePath(QStringLiteral("charts/")));
            settings.setExportFolder(dir.filePath(QStringLiteral("charts")));
            QCOMPARE(changed.count(), 1);
        }
        QCOMPARE(ViewSettings(iniFile()).exportFolder(), dir.filePath(QStringLiteral("charts")));
    }

    void exportNamesAreNewEachTime()
    {
        ViewSettings settings(iniFile());
        const QString folder = dir.filePath(QStringLiteral("exports/nested"));
        settings.setExportFolder(folder);
        const QString first = settings.newExportBase();
        QVERIFY(QDir(folder).exists());
        QCOMPARE(QFileInfo(first).absolutePath(), QDir(folder).absolutePath());
        QVERIFY(QFileInfo(first).fileName().startsWith(QStringLiteral("velmar-")));
        QFile taken(first + QStringLiteral("-angles.png"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        // Within the same second or not, the next set does not reuse the name.
        const QString second = settings.newExportBase();
        QVERIFY(!second.isEmpty());
        QVERIFY(second != first);
        QVERIFY(settings.lastError().isEmpty());
    }

    void exportFolderThatCannotBeMadeIsReported()
    {
        ViewSettings settings(iniFile());
        QFile blocker(dir.filePath(QStringLiteral("a-file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString folder = dir.filePath(QStringLiteral("a-file/charts"));
        settings.setExportFolder(folder);
        QSignalSpy error(&settings, &ViewSettings::lastErrorChanged);
        QCOMPARE(settings.newExportBase(), QString());
        QCOMPARE(error.count(), 1);
        QVERIFY2(settings.lastError().contains(folder), qPrintable(settings.lastError()));
    }
};

QTEST_MAIN(TestViewSettings)
#include "tst_viewSettings.moc"
