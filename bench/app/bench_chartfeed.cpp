// SPDX-License-Identifier: GPL-3.0-or-later
// Whether every sample reaches its chart at the line limit with both cores
// loaded: the real link and backend connected to velmar-sim (its own process)
// streaming as fast as the line carries, with sequence stamps in raw
// "Gyroscope X", and the application's chart item fed from the backend's
// gyroscope list as the live page feeds it (replotted on the shared tick,
// offscreen). Each phase makes a fresh chart and then compares, over the same
// seconds, the samples the backend decoded with the points in the chart's
// data, and finds stamps missing between the chart's points. Phases run
// without and with two busy-loop processes that this program starts and stops.
//
//   bench_chartfeed [--seconds 6] [--rounds 2] [--warmup 3] [--sim path] [--kv]
#include "comshandler.h"
#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "eventwait.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <qcustomplot.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

namespace {

constexpr float gyroFullScale = 500.0f; // hardware 1442, range 0x15

struct Phase
{
    long cut = 0; // frames the link's cutter took
    long decoded = 0; // samples the backend handed to its list
    long points = 0; // points in the chart's data
    long missing = 0; // stamps skipped between the chart's points
    long repeated = 0;
    quint64 notShown = 0; // counted by the link as not handed over
    double seconds = 0;
};

Phase measure(DurUzaBackend &backend, int seconds)
{
    Phase phase;
    auto chart = std::make_unique<CustomPlotItem>();
    chart->setWidth(600);
    chart->setHeight(200);
    chart->setSignalNames({QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z")});
    const LinkCounters before = backend.comsHandler()->linkCounters();
    const QMetaObject::Connection counting = QObject::connect(
        &backend, &DurUzaBackend::gyroDataListChanged, [&phase] { ++phase.decoded; });
    chart->setSource(&backend);
    chart->setSourceProperty(QStringLiteral("gyroDataList"));
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    chart->setSource(nullptr);
    QObject::disconnect(counting);
    phase.seconds = clock.elapsed() / 1000.0;
    const LinkCounters after = backend.comsHandler()->linkCounters();
    phase.notShown = after.framesNotDispatched - before.framesNotDispatched;
    phase.cut = long(after.frames - before.frames);
    const auto data = chart->customPlot()->graph(0)->data();
    int previous = -1;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
        ++phase.points;
        const int stamp = int(std::lround(it->value * 32768.0 / gyroFullScale));
        if (previous >= 0) {
            const int step = (stamp - previous + 32767) % 32767;
            if (step == 0 || step > 16000)
                ++phase.repeated;
            else
                phase.missing += step - 1;
        }
        previous = stamp;
    }
    return phase;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--busy-loop") == 0) {
        // One of the two processes that load the cores.
        volatile unsigned long spin = 0;
        for (;;)
            spin = spin + 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the chart draws through a QWidget
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
        QStringLiteral("Seconds per phase, at most 7: the chart keeps 8 (default 6)."),
        QStringLiteral("n"), QStringLiteral("6"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
        QStringLiteral("Pairs of phases, idle and loaded (default 2)."), QStringLiteral("n"),
        QStringLiteral("2"));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"),
        QStringLiteral("Seconds of streaming before the first phase (default 3)."),
        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption simOption(
        QStringLiteral("sim"), QStringLiteral("Path of velmar-sim."), QStringLiteral("path"));
    const QCommandLineOption kvOption(
        QStringLiteral("kv"), QStringLiteral("One line of key=value pairs on stdout."));
    parser.addOptions({secondsOption, roundsOption, warmupOption, simOption, kvOption});
    parser.process(app);
    const int seconds = parser.value(secondsOption).toInt();
    const int rounds = parser.value(roundsOption).toInt();
    const int warmup = parser.value(warmupOption).toInt();
    if (seconds < 1 || seconds > 7 || rounds < 1 || warmup < 0) {
        std::fprintf(stderr, "phases of 1 to 7 s, at least one round\n");
        return 2;
    }

    QString simPath = parser.value(simOption);
    if (simPath.isEmpty())
        simPath = QCoreApplication::applicationDirPath() + QStringLiteral("/../../sim/velmar-sim");
    QTemporaryDir dir;
    const QString linkPath = dir.filePath(QStringLiteral("imu"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simPath,
        {QStringLiteral("--link"), linkPath, QStringLiteral("--rate"), QStringLiteral("1000"),
            QStringLiteral("--range"), QStringLiteral("0x15"), QStringLiteral("--ideal")});
    if (!sim.waitForStarted(5000)
        || !waitUntil([&] { return QFileInfo::exists(linkPath); }, 5000)) {
        std::fprintf(stderr, "velmar-sim did not start (%s)\n", qPrintable(simPath));
        return 1;
    }
    qputenv("VELMAR_EXTRA_PORTS", linkPath.toLocal8Bit());

    DurUzaBackend backend;
    const int port = backend.availablePortsList().indexOf(linkPath);
    if (port < 0) {
        std::fprintf(stderr, "the simulator's port is not listed\n");
        return 1;
    }
    backend.connectClicked(port);
    if (!waitUntil([&] { return backend.gyroFullScale() > 0; }, 10000)) {
        std::fprintf(stderr, "no ranges from the simulator\n");
        return 1;
    }
    sim.write("stamp on\n");
    runFor(warmup * 1000);

    Phase idle, loaded;
    const auto add = [](Phase &sum, const Phase &p) {
        sum.cut += p.cut;
        sum.decoded += p.decoded;
        sum.points += p.points;
        sum.missing += p.missing;
        sum.repeated += p.repeated;
        sum.notShown += p.notShown;
        sum.seconds += p.seconds;
    };
    for (int round = 0; round < rounds; ++round) {
        add(idle, measure(backend, seconds));
        std::vector<std::unique_ptr<QProcess>> busy;
        for (int i = 0; i < 2; ++i) {
            busy.push_back(std::make_unique<QProcess>());
            busy.back()->start(
                QCoreApplication::applicationFilePath(), {QStringLiteral("--busy-loop")});
            busy.back()->waitForStarted(5000);
        }
        add(loaded, measure(backend, seconds));
        for (auto &process : busy) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) < 1)
        load[0] = -1;
    backend.connectClicked(0);
    runFor(200);
    sim.closeWriteChannel();
    sim.terminate();
    sim.waitForFinished(3000);

    // What never became a point: stamps skipped between the chart's points.
    const long idleLost = idle.missing;
    const long loadedLost = loaded.missing;
    if (parser.isSet(kvOption)) {
        std::printf("idle_cut=%ld idle_decoded=%ld idle_points=%ld idle_missing=%ld "
                    "idle_not_shown=%llu loaded_cut=%ld loaded_decoded=%ld loaded_points=%ld "
                    "loaded_missing=%ld loaded_not_shown=%llu loaded_points_per_second=%.1f "
                    "load1=%.2f\n",
            idle.cut, idle.decoded, idle.points, idle.missing, (unsigned long long)idle.notShown,
            loaded.cut, loaded.decoded, loaded.points, loaded.missing,
            (unsigned long long)loaded.notShown, loaded.points / loaded.seconds, load[0]);
    } else {
        std::printf("chart feed at the line limit, %d x (%d s idle, %d s with two busy loops):\n",
            rounds, seconds, seconds);
        for (const auto &[name, p, lost] :
            {std::tuple {"idle  ", idle, idleLost}, std::tuple {"loaded", loaded, loadedLost}}) {
            std::printf("  %s: %ld frames cut (%.1f/s), %ld samples decoded, %ld points in the "
                        "chart (%.1f/s); %ld stamps missing between points, %ld repeated; %llu "
                        "counted as not shown\n",
                name, p.cut, p.cut / p.seconds, p.decoded, p.points, p.points / p.seconds, lost,
                p.repeated, (unsigned long long)p.notShown);
        }
        std::printf("  load average at the end: %.2f\n", load[0]);
    }
    return idleLost == 0 && loadedLost == 0 ? 0 : 3;
}
