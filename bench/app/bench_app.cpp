// SPDX-License-Identifier: GPL-3.0-or-later
// The application under load, measured from inside one process built like
// velmar-imu (same start-up steps, the real QML documents and backend), with
// the chart item replaced by a counting subclass. The simulated module runs as
// its own process (velmar-sim), so the CPU figures are the application's alone.
//
//   bench_app [--seconds 30] [--warmup 10] [--replot-every-sample] [--kv]
//             [--render-mode auto|software|full] [--state live|minimised|registers|disconnected]
//             [--record] [--screenshot file.png]
//   bench_app --memory-minutes 10 [--rss-baseline 60]
//   bench_app --startup <path to velmar-imu> [--runs 5]
//
// For diagnosis, --without-3d, --without-shadows and --stroked-polylines change
// the live page to show what a part costs; bench.sh never uses them.
//
// Screenshots: --screenshot FILE [--size 1920x1080] [--pause-zoom] saves the
// window at the end, at that size, with the charts paused and the main chart
// zoomed if asked.
//
// Run under a display (xvfb-run -a -s "-screen 0 1280x1024x24").
#include "appwiring.h"
#include "countingplotitem.h"
#include "eventwait.h"
#include "livemonitor.h"
#include "processprobe.h"
#include "quicktree.h"
#include "startuptimer.h"

#include "durUzaBackend.h"
#include "registryitemmodel.h"
#include "renderMode.h"
#include "renderPolicy.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>

using quicktree::findNamed;

int main(int argc, char *argv[])
{
    // Messages keep the default handler: the application writes its debug
    // lines (one per magnetometer sample from the 3D view) and so does this;
    // scripts/bench.sh sends them to a log file.
    // As velmar-imu's main, step by step.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/Graphics/ICON.png")));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
        QStringLiteral("Seconds measured."), QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"),
        QStringLiteral("Seconds of streaming before measuring (the charts fill their 8 s)."),
        QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption everySampleOption(QStringLiteral("replot-every-sample"),
        QStringLiteral("Replot the charts on every sample instead of once per 30 ms tick."));
    const QCommandLineOption memoryOption(QStringLiteral("memory-minutes"),
        QStringLiteral("Stream this long and report the resident set growth."),
        QStringLiteral("n"));
    const QCommandLineOption baselineOption(QStringLiteral("rss-baseline"),
        QStringLiteral(
            "Seconds after connecting when the resident set is taken as the base (default 60)."),
        QStringLiteral("n"), QStringLiteral("60"));
    const QCommandLineOption rateOption(QStringLiteral("rate"),
        QStringLiteral("Streamed frames per second, or 'line' (default)."), QStringLiteral("n"),
        QStringLiteral("line"));
    const QCommandLineOption simOption(
        QStringLiteral("sim"), QStringLiteral("Path of velmar-sim."), QStringLiteral("path"));
    const QCommandLineOption startupOption(QStringLiteral("startup"),
        QStringLiteral("Time the start-up of this velmar-imu executable instead."),
        QStringLiteral("path"));
    const QCommandLineOption runsOption(QStringLiteral("runs"),
        QStringLiteral("Start-ups to time."), QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
        QStringLiteral("Save the window as this PNG at the end of the measurement."),
        QStringLiteral("path"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
        QStringLiteral("Record (Ctrl+R) into a temporary folder from the connect to the end."));
    const QCommandLineOption no3dOption(QStringLiteral("without-3d"),
        QStringLiteral("Diagnosis only: unload the 3D view, to see what it costs."));
    const QCommandLineOption noShadowOption(QStringLiteral("without-shadows"),
        QStringLiteral("Diagnosis only: hide the drop shadows, to see what they cost."));
    const QCommandLineOption strokedPolylinesOption(QStringLiteral("stroked-polylines"),
        QStringLiteral(
            "Diagnosis only: draw each curve as one stroked polyline, as before fast polylines."));
    const QCommandLineOption renderModeOption(QStringLiteral("render-mode"),
        QStringLiteral(
            "auto (default: from the OpenGL renderer), software or full, as velmar-imu takes it."),
        QStringLiteral("mode"), QStringLiteral("auto"));
    const QCommandLineOption stateOption(QStringLiteral("state"),
        QStringLiteral(
            "live (default): connected, live page shown; minimised: connected, window minimised; "
            "registers: connected, register page shown; disconnected: no module, live page shown."),
        QStringLiteral("state"), QStringLiteral("live"));
    const QCommandLineOption kvOption(
        QStringLiteral("kv"), QStringLiteral("One line of key=value pairs on stdout."));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
        QStringLiteral("Window size while measuring, e.g. 1920x1080 (default 1024x768)."),
        QStringLiteral("WxH"));
    const QCommandLineOption pauseZoomOption(QStringLiteral("pause-zoom"),
        QStringLiteral("Before the screenshot: pause the charts and zoom the main chart."));
    parser.addOptions({secondsOption, warmupOption, everySampleOption, memoryOption, baselineOption,
        rateOption, simOption, startupOption, runsOption, screenshotOption, recordOption,
        no3dOption, noShadowOption, strokedPolylinesOption, renderModeOption, stateOption, kvOption,
        sizeOption, pauseZoomOption});
    parser.process(app);
    const QString state = parser.value(stateOption);
    if (!QStringList {"live", "minimised", "registers", "disconnected"}.contains(state)) {
        std::fprintf(stderr, "unknown --state %s\n", qPrintable(state));
        return 2;
    }
    const bool connecting = state != QLatin1String("disconnected");
    // As velmar-imu decides it; the option reaches it through the arguments.
    if (!rendermode::applyAtStartup(app.arguments()))
        return 2;
    const bool kv = parser.isSet(kvOption);
    // The size the figures have always been taken at, whatever the window
    // remembers from the last run.
    QSize windowSize(1024, 768);
    if (parser.isSet(sizeOption)) {
        const QStringList parts = parser.value(sizeOption).split(QLatin1Char('x'));
        if (parts.size() == 2)
            windowSize = QSize(parts.at(0).toInt(), parts.at(1).toInt());
        if (windowSize.width() <= 0 || windowSize.height() <= 0) {
            std::fprintf(stderr, "--size wants WxH, e.g. 1920x1080\n");
            return 2;
        }
    }

    if (parser.isSet(startupOption))
        return measureStartup(
            parser.value(startupOption), std::max(1, parser.value(runsOption).toInt()), kv);

    const bool memoryRun = parser.isSet(memoryOption);
    const int baselineSeconds = parser.value(baselineOption).toInt();
    const int seconds = memoryRun ? parser.value(memoryOption).toInt() * 60 - baselineSeconds
                                  : parser.value(secondsOption).toInt();
    const int warmup = memoryRun ? baselineSeconds : parser.value(warmupOption).toInt();
    if (seconds <= 0 || warmup < 0) {
        std::fprintf(stderr, "nothing to measure\n");
        return 2;
    }
    const bool everySample = parser.isSet(everySampleOption);
    CustomPlotItem::setReplotEverySample(everySample);
    CountingPlotItem::setStrokedPolylines(parser.isSet(strokedPolylinesOption));

    // The module, as a process of its own.
    QString simPath = parser.value(simOption);
    if (simPath.isEmpty())
        simPath = QCoreApplication::applicationDirPath() + QStringLiteral("/../../sim/velmar-sim");
    QTemporaryDir dir;
    const QString linkPath = dir.path() + QStringLiteral("/imu");
    const QString rate = parser.value(rateOption) == QLatin1String("line")
        ? QStringLiteral("1000")
        : parser.value(rateOption);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simPath,
        {QStringLiteral("--link"), linkPath, QStringLiteral("--rate"), rate,
            QStringLiteral("--no-stdin")});
    if (!sim.waitForStarted(5000)
        || !waitUntil([&] { return QFileInfo::exists(linkPath); }, 5000)) {
        std::fprintf(stderr, "velmar-sim did not start (%s)\n", qPrintable(simPath));
        return 1;
    }
    qputenv("VELMAR_EXTRA_PORTS", linkPath.toLocal8Bit());

    DurUzaBackend backend;
    QQmlApplicationEngine engine;
    loadMainDocument<CountingPlotItem>(engine, backend);
    if (engine.rootObjects().isEmpty())
        return 1;

    // The main window shows when the splash times out.
    QQuickWindow *window = nullptr;
    const bool shown = waitUntil(
        [&] {
            auto *loader = engine.rootObjects().first()->property("appWindow").value<QObject *>();
            window = loader
                ? qobject_cast<QQuickWindow *>(loader->property("item").value<QObject *>())
                : nullptr;
            return window && window->isVisible() && window->isExposed();
        },
        15000);
    if (!shown) {
        std::fprintf(stderr, "the main window did not show\n");
        return 1;
    }

    if (windowSize.isValid()) {
        window->setWindowStates(Qt::WindowNoState);
        window->resize(windowSize);
        waitUntil([&] { return window->size() == windowSize; }, 5000);
    }

    if (parser.isSet(no3dOption)) {
        if (QObject *view = findNamed(window->contentItem(), QStringLiteral("scene3dLoader")))
            view->setProperty("active", false);
    }

    if (parser.isSet(noShadowOption)) {
        const QList<QObject *> all = window->contentItem()->findChildren<QObject *>();
        for (QObject *object : all) {
            if (QByteArray(object->metaObject()->className()).startsWith("DropShadow"))
                object->setProperty("visible", false);
        }
    }

    // Pick the simulator's port and press Connect, as a user would.
    QObject *swipeView = findNamed(window->contentItem(), QStringLiteral("swipeView"));
    auto *combo = qobject_cast<QQuickItem *>(
        findNamed(window->contentItem(), QStringLiteral("serialComboBox")));
    auto *connectButton = qobject_cast<QQuickItem *>(
        findNamed(window->contentItem(), QStringLiteral("connectButton")));
    const int port = backend.availablePortsList().indexOf(linkPath);
    if (!combo || !connectButton || port < 0) {
        std::fprintf(stderr, "no port selector, Connect button or port\n");
        return 1;
    }
    combo->setProperty("currentIndex", port);
    const QPointF centre = connectButton->mapToScene(
        QPointF(connectButton->width() / 2, connectButton->height() / 2));
    if (connecting)
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    RecordingController *recording = backend.recordingController();
    if (parser.isSet(recordOption)) {
        recording->setLocation(dir.path() + QStringLiteral("/recordings"));
        // A shortcut of the window answers only while the window is active.
        window->requestActivate();
        QTest::qWaitForWindowActive(window);
        QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
        if (!waitUntil([&] { return recording->isRecording(); }, 2000)) {
            std::fprintf(stderr, "Ctrl+R did not start a recording\n");
            return 1;
        }
    }
    if (state == QLatin1String("minimised"))
        window->showMinimized();
    if (state == QLatin1String("registers")) {
        if (!swipeView) {
            std::fprintf(stderr, "no swipe view\n");
            return 1;
        }
        swipeView->setProperty("currentIndex", 1);
    }

    LiveCounters counters;
    QObject::connect(&backend, &DurUzaBackend::eulerDataListChanged, [&] { ++counters.samples; });
    // Emitted on the render thread.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window, [&] { ++counters.frames; },
        Qt::DirectConnection);
    StallProbe stalls;
    stalls.watchSync(window);
    // The probe's 5 ms timer is work of its own: only where stalls matter.
    if (state == QLatin1String("live"))
        stalls.start();

    const QList<CountingPlotItem *> charts = CountingPlotItem::all();
    QStringList chartNames;
    for (CountingPlotItem *chart : charts)
        chartNames << chart->signalNames().value(0).section(QLatin1Char('_'), 0, 0);
    LiveMonitor::Plan plan;
    plan.warmupSeconds = warmup;
    plan.seconds = seconds;
    plan.mode = (everySample ? QStringLiteral("every-sample") : QStringLiteral("throttled"))
        + QLatin1Char('-') + state
        + (RenderPolicy::shared().software() ? QStringLiteral("-software")
                                             : QStringLiteral("-full"));
    plan.needSamples = connecting;
    if (parser.isSet(no3dOption))
        plan.mode += QStringLiteral("-without-3d");
    if (parser.isSet(noShadowOption))
        plan.mode += QStringLiteral("-without-shadows");
    if (parser.isSet(strokedPolylinesOption))
        plan.mode += QStringLiteral("-stroked-polylines");
    plan.kv = kv;
    LiveMonitor monitor(plan, counters, stalls, charts, chartNames);
    const qint64 simPid = sim.processId();
    monitor.start(
        [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); },
        [simPid] { ::kill(pid_t(simPid), SIGTERM); });
    app.exec();
    monitor.guiReturned();

    if (parser.isSet(pauseZoomOption)) {
        // As Space and two wheel notches over the middle of the main chart would.
        QObject *page = findNamed(window->contentItem(), QStringLiteral("firstPage"));
        auto *toolbar = page ? page->property("chartToolbar").value<QObject *>() : nullptr;
        auto *euler = qobject_cast<QQuickItem *>(
            findNamed(window->contentItem(), QStringLiteral("eulerCustomPlot")));
        if (!toolbar || !euler) {
            std::fprintf(stderr, "no chart toolbar or main chart\n");
            return 1;
        }
        toolbar->setProperty("paused", true);
        QMetaObject::invokeMethod(euler, "zoomAt", Q_ARG(qreal, euler->width() * 0.7),
            Q_ARG(qreal, euler->height() / 2), Q_ARG(qreal, 0.64), Q_ARG(bool, false));
        runFor(300);
    }
    if (parser.isSet(screenshotOption))
        window->grabWindow().save(parser.value(screenshotOption));
    if (recording->isRecording()) {
        QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
        waitUntil([&] { return !recording->isRecording(); }, 10000);
        std::fprintf(stderr, "recorded %lld frames, %lld bytes in %s%s%s\n",
            recording->framesWritten(), recording->bytesWritten(), qPrintable(recording->folder()),
            recording->errorMessage().isEmpty() ? "" : ": ", qPrintable(recording->errorMessage()));
    }
    if (state == QLatin1String("minimised"))
        window->showNormal();
    if (connecting)
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint()); // Disconnect
    runFor(200);
    sim.terminate();
    sim.waitForFinished(3000);
    return monitor.succeeded() ? 0 : 1;
}
