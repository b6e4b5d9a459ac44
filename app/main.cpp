#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "registryitemmodel.h"
#include "renderMode.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    // Widgets flavour: the charts render a widget-based plot.
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/Graphics/ICON.png")));
    if (!rendermode::applyAtStartup(app.arguments()))
        return 2;

    DurUzaBackend backend;

    qmlRegisterType<RegistryItemModel>("com.duruza.registryModel", 1, 0, "RegisterModel");
    qmlRegisterType<CustomPlotItem>("CustomPlot", 1, 0, "CustomPlotItem");

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("backEnd"), &backend);

    const QUrl url(QStringLiteral("qrc:/main.qml"));
    // Queued, so that a main document that fails to load ends the event loop
    // once it runs rather than before.
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    return app.exec();
}
