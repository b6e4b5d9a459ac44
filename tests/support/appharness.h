// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "appwiring.h"
#include "durUzaBackend.h"
#include "quicktree.h"
#include "sim.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The whole application in one process against the simulated module, for the
// tests that drive its interface with mouse and keys: the module, the backend,
// the engine with the main document, its window, and the steps to find, click
// and photograph items. A test class derives from it beside QObject.
class AppHarness
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<ModuleSimulator> module;
    std::unique_ptr<DurUzaBackend> backend;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;

    // The module these tests use: turning slowly so that every chart moves,
    // streaming 50 frames a second, behind a link path in `dir` that stays
    // across unplug and replug, like a udev symlink. Empty, or why it did not
    // start.
    QString startModule()
    {
        if (!dir.isValid())
            return QStringLiteral("no temporary folder: %1").arg(dir.errorString());
        ModuleSimulator::Options options;
        options.linkPath = dir.filePath(QStringLiteral("velmar-module"));
        options.motion = SimMotion::rotating(SimPose::ZUp, {1, 1, 1}, 40);
        options.streamRate = 50;
        module = std::make_unique<ModuleSimulator>(options);
        QString error;
        module->start(&error);
        return error;
    }

    // The main document on `backend`, as main() loads it; the main window (still
    // behind the splash), or null.
    QQuickWindow *loadInterface()
    {
        engine = std::make_unique<QQmlApplicationEngine>();
        loadMainDocument(*engine, *backend);
        window = findMainWindow();
        return window;
    }

    void tearDown()
    {
        engine.reset();
        backend.reset();
        module.reset();
    }

    QQuickWindow *findMainWindow() const
    {
        if (engine->rootObjects().isEmpty())
            return nullptr;
        auto *loader = engine->rootObjects().first()->property("appWindow").value<QObject *>();
        return loader ? qobject_cast<QQuickWindow *>(loader->property("item").value<QObject *>())
                      : nullptr;
    }

    template <typename T = QQuickItem> T *item(const QString &name, QObject *under = nullptr) const
    {
        const QList<QObject *> found
            = quicktree::findAllNamed(under ? under : window->contentItem(), name);
        return found.isEmpty() ? nullptr : qobject_cast<T *>(found.first());
    }

    QString text(const QString &name) const
    {
        QQuickItem *found = item(name);
        return found ? found->property("text").toString() : QString();
    }

    bool shown(const QString &name) const
    {
        QQuickItem *found = item(name);
        return found && found->isVisible();
    }

    void click(QQuickItem *target)
    {
        QVERIFY(target);
        const QPointF centre
            = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // Under screenshots/ next to the test's executable.
    void saveScreenshot(const QString &name)
    {
        QDir out(QCoreApplication::applicationDirPath());
        out.mkpath(QStringLiteral("screenshots"));
        const QImage image = window->grabWindow();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(out.filePath(QStringLiteral("screenshots/%1.png").arg(name))));
    }
};
