// SPDX-License-Identifier: GPL-3.0-or-later
// The About box in the real interface: reached from the main window, it shows
// the version the program reports on its command line and the licences.
// Saves a picture of the open box as about.png next to this executable.
#include "appwiring.h"
#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "quicktree.h"
#include "registryitemmodel.h"
#include "velmar_version.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

class TestAbout : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DurUzaBackend> backend;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;

    QObject *named(const QString &name) const
    {
        return quicktree::findNamed(window->contentItem(), name);
    }

    QString textOf(const QString &name) const
    {
        QObject *object = quicktree::findNamed(window, name);
        if (!object) // a popup's items live under the window's overlay
            object = quicktree::findNamed(window->contentItem()->parentItem(), name);
        return object ? object->property("text").toString() : QString();
    }

    void click(QQuickItem *target)
    {
        QVERIFY(target);
        const QPointF centre
            = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

private slots:
    void initTestCase()
    {
        // As main() does: the About box reads the version from the application.
        QCoreApplication::setApplicationVersion(QStringLiteral(VELMAR_VERSION));
        backend = std::make_unique<DurUzaBackend>();
        engine = std::make_unique<QQmlApplicationEngine>();
        loadMainDocument(*engine, *backend);
        QVERIFY(!engine->rootObjects().isEmpty());
        auto *loader = engine->rootObjects().first()->property("appWindow").value<QObject *>();
        QVERIFY(loader);
        QTRY_VERIFY_WITH_TIMEOUT(loader->property("item").value<QObject *>(), 10000);
        window = qobject_cast<QQuickWindow *>(loader->property("item").value<QObject *>());
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // Escape reaches a popup through the shortcuts of the active window.
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    void cleanupTestCase()
    {
        engine.reset();
        backend.reset();
    }

    void aboutButtonOpensBoxWithVersionAndLicences()
    {
        auto *button = qobject_cast<QQuickItem *>(named(QStringLiteral("aboutButton")));
        QVERIFY(button);
        QVERIFY(button->isVisible());
        QObject *dialog = quicktree::findNamed(window, QStringLiteral("aboutDialog"));
        QVERIFY(dialog);
        QVERIFY(!dialog->property("visible").toBool());

        click(button);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);

        QCOMPARE(textOf(QStringLiteral("aboutVersion")), QStringLiteral("Version " VELMAR_VERSION));
        QVERIFY(
            textOf(QStringLiteral("aboutLicence")).contains(QStringLiteral("GPL-3.0-or-later")));
        const QString thirdParty = textOf(QStringLiteral("aboutThirdParty"));
        for (const char *part :
            {"Qt 5", "LGPL-3.0", "QCustomPlot", "Font Awesome", "SIL Open Font License"})
            QVERIFY2(thirdParty.contains(QLatin1String(part)), part);

        // For people to look at, like the end-to-end test's pictures.
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opacity").toReal() == 1.0, 5000);
        window->grabWindow().save(
            QCoreApplication::applicationDirPath() + QStringLiteral("/about.png"));

        // Escape closes it again, back to the live page.
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->property("visible").toBool(), 5000);
    }

    void aboutButtonGivesWayToCalibrationPages()
    {
        auto *button = qobject_cast<QQuickItem *>(named(QStringLiteral("aboutButton")));
        QVERIFY(button);
        QObject *stack = named(QStringLiteral("mainStackView"));
        QVERIFY(stack);
        // The gyroscope page is pushed over the live page, as a click on its chart does.
        QObject *gyroLoader = named(QStringLiteral("gyroLoader"));
        QVERIFY(gyroLoader);
        gyroLoader->setProperty("active", true);
        QTRY_COMPARE_WITH_TIMEOUT(stack->property("depth").toInt(), 2, 5000);
        QVERIFY(!button->isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
