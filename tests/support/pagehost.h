// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quicktree.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QtTest>

// One page document from the resources in a window, as the main window shows
// it: `hostDocument` (a test's PageHost.qml) loads it and pushes it on its
// navigation stack, with `backend` published as backEnd. The backend must
// outlive the host: the pages still call it while they go.
class PageHost
{
public:
    PageHost(const QString &hostDocument, QObject *backend, const QString &document)
    {
        engine.rootContext()->setContextProperty(QStringLiteral("backEnd"), backend);
        engine.load(QUrl::fromLocalFile(hostDocument));
        if (engine.rootObjects().isEmpty())
            return;
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        loader = window->property("pageLoader").value<QObject *>();
        window->setProperty("pageSource", QUrl(QStringLiteral("qrc:/") + document));
        loader->setProperty("active", true);
        page = loader->property("item").value<QQuickItem *>();
    }

    // Shown, and the push transition over, so that clicks land where items are.
    bool ready()
    {
        if (!page || !QTest::qWaitForWindowExposed(window))
            return false;
        QObject *stack = window->property("stack").value<QObject *>();
        QSignalSpy busyChanged(stack, SIGNAL(busyChanged()));
        while (stack->property("busy").toBool()) {
            if (!busyChanged.wait(5000))
                return false;
        }
        return true;
    }

    QObject *child(const QString &name) const { return quicktree::findNamed(page, name); }
    QQuickItem *item(const QString &name) const { return qobject_cast<QQuickItem *>(child(name)); }
    QString text(const QString &name) const { return item(name)->property("text").toString(); }
    bool pageGone() const { return !loader->property("item").value<QObject *>(); }

    void click(QQuickItem *target)
    {
        QVERIFY(target);
        const QPointF centre
            = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }
    void click(const QString &name) { click(item(name)); }

    // The window as it is now, under screenshots/ next to the test's executable.
    void saveWindow(const QString &name)
    {
        QDir dir(QCoreApplication::applicationDirPath());
        QVERIFY(dir.mkpath(QStringLiteral("screenshots")));
        const QImage image = window->grabWindow();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(dir.filePath(QStringLiteral("screenshots/%1.png").arg(name))));
    }

    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
    QObject *loader = nullptr;
    QQuickItem *page = nullptr;
};
