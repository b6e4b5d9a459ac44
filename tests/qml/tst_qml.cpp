// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the Qt Quick tests in this folder against the real QML documents
// (compiled into the resources) with a recording stand-in for the backend.
#include "customPlotItem.h"
#include "fakeBackend.h"
#include "registryitemmodel.h"

#include <QApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        backend.reset();
        engine->rootContext()->setContextProperty(QStringLiteral("backEnd"), &backend);
    }

private:
    FakeBackend backend;
};

int main(int argc, char **argv)
{
    // The charts host a widget-based plot, so this must be a QApplication.
    QApplication app(argc, argv);
    qmlRegisterType<CustomPlotItem>("CustomPlot", 1, 0, "CustomPlotItem");
    qmlRegisterType<RegistryItemModel>("com.duruza.registryModel", 1, 0, "RegisterModel");
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "tst_qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "tst_qml.moc"
