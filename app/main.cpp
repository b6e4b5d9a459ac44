// SPDX-License-Identifier: GPL-3.0-or-later
#include "applog.h"
#include "appsettings.h"
#include "connectioncontroller.h"
#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "modulefiles.h"
#include "registryitemmodel.h"
#include "renderMode.h"
#include "velmar_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QSettings>
#include <QUrl>

#include <csignal>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("velmar-imu"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMAR_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Live data, registers and calibration for the Velmar nine-axis IMU module."));
    const QCommandLineOption help = parser.addHelpOption(); // and --help-all
    const QCommandLineOption version = parser.addVersionOption();
    // Read by rendermode::applyAtStartup once the application exists; listed
    // here so that --help names it.
    parser.addOption(QCommandLineOption(QStringLiteral("render-mode"),
        QStringLiteral("Drawing mode: auto (from the OpenGL renderer), software (draw less, "
                       "for software OpenGL) or full."),
        QStringLiteral("mode"), QStringLiteral("auto")));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Serial port to preselect: a name from the port list or a device path, "
                       "listed even if the system does not enumerate it."),
        QStringLiteral("path"));
    parser.addOption(portOption);
    const QCommandLineOption connectOption(QStringLiteral("connect"),
        QStringLiteral("Connect as soon as the window is up to the port named with --port, else "
                       "to the last port used; without one nothing is opened."));
    parser.addOption(connectOption);
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
        QStringLiteral("Print debug lines on standard error too, not only into the log (%1); "
                       "VELMAR_IMU_VERBOSE=1 does the same.")
            .arg(applog::defaultPath()));
    parser.addOption(verboseOption);
    // Qt's own options are words after one dash; read letter by letter,
    // -reverse would ask for the version and -stylesheet for help.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    // --help and --version answer without a display (over ssh, or when a
    // manual page is checked), so they are looked at before the QApplication
    // opens one. Anything else is left alone: Qt's own options (-platform,
    // -style) are taken out by the QApplication, and other arguments have
    // always been ignored.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")) || parser.isSet(version)) {
        // Prints and exits, as it would for any program with these options.
        QCoreApplication textOnly(argc, argv);
        parser.process(textOnly);
    }

    // Before anything logs: debug lines into the log, not onto the terminal.
    applog::install(
        applog::defaultPath(), parser.isSet(verboseOption) || applog::verboseFromEnvironment());

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    // Widgets flavour: the charts render a widget-based plot.
    QApplication app(argc, argv);
    // A file-size limit reached is a failed save to report, not a kill.
    std::signal(SIGXFSZ, SIG_IGN);
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELMAR_APP_ID));
    app.setWindowIcon(QIcon(QStringLiteral(":/Graphics/ICON.png")));
    // Before any part reads a setting: each then finds a value it can use.
    const QStringList settingsProblems = AppSettings::repair(*AppSettings::open());
    if (!rendermode::applyAtStartup(app.arguments()))
        return 2;

    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(AppSettings::open(), settingsProblems);
    if (parser.isSet(portOption))
        connection->preselectPort(parser.value(portOption));
    connection->setConnectOnStart(parser.isSet(connectOption));
    backend.files()->setFileAsker(ModuleFiles::desktopAsker());

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
