// SPDX-License-Identifier: GPL-3.0-or-later
// What recording costs the application at the line limit: the real link,
// backend and recording controller connected to velmar-sim (its own process)
// streaming as fast as the line carries, with sequence stamps in raw
// "Gyroscope X". Phases without and with recording alternate in one run, so
// that a change in the machine's load falls on both alike; the figure is the
// ratio of the process's CPU time per second recording to not recording.
// Each recording's CSV is then checked for a missing or repeated stamp.
//
//   bench_recordapp [--seconds 10] [--rounds 3] [--warmup 5] [--sim path] [--kv]
//
// Without the interface: its drawing costs the same either way and would
// only hide the recording's share.
#include "durUzaBackend.h"
#include "eventwait.h"
#include "record.h"
#include "recordingcontroller.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr float gyroFullScale = 500.0f; // hardware 1442, range 0x15

double processCpu()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double wallSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct CsvCheck
{
    long rows = 0;
    long missing = 0; // stamps skipped between rows
    long repeated = 0; // stamps not after the one before
};

// Stamps run 1..32767 and round again.
CsvCheck checkStamps(const QString &path)
{
    CsvCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    file.readLine(); // header
    int previous = -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const QList<QByteArray> cells = line.split(',');
        if (cells.size() < 5)
            continue;
        const int stamp = int(std::lround(cells[4].toDouble() * 32768.0 / gyroFullScale));
        ++check.rows;
        if (previous >= 0) {
            const int step = (stamp - previous + 32767) % 32767;
            if (step == 0 || step > 16000)
                ++check.repeated;
            else
                check.missing += step - 1;
        }
        previous = stamp;
    }
    return check;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
        QStringLiteral("Seconds per phase (default 10)."), QStringLiteral("n"),
        QStringLiteral("10"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
        QStringLiteral("Pairs of phases, without and with recording (default 3)."),
        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"),
        QStringLiteral("Seconds of streaming before the first phase (default 5)."),
        QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption simOption(
        QStringLiteral("sim"), QStringLiteral("Path of velmar-sim."), QStringLiteral("path"));
    const QCommandLineOption kvOption(
        QStringLiteral("kv"), QStringLiteral("One line of key=value pairs on stdout."));
    parser.addOptions({secondsOption, roundsOption, warmupOption, simOption, kvOption});
    parser.process(app);
    const int seconds = parser.value(secondsOption).toInt();
    const int rounds = parser.value(roundsOption).toInt();
    const int warmup = parser.value(warmupOption).toInt();
    if (seconds <= 0 || rounds <= 0 || warmup < 0 || seconds * rounds > 90) {
        std::fprintf(stderr, "phases of 1 s or more, at most 90 s recorded (stamps wrap)\n");
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
    RecordingController *recording = backend.recordingController();
    recording->setLocation(dir.filePath(QStringLiteral("recordings")));
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

    double plainCpu = 0, plainWall = 0, recCpu = 0, recWall = 0;
    CsvCheck total;
    QString failure;
    QObject::connect(recording, &RecordingController::errorMessageChanged,
        [&] { failure = recording->errorMessage(); });
    for (int round = 0; round < rounds && failure.isEmpty(); ++round) {
        double wall0 = wallSeconds(), cpu0 = processCpu();
        runFor(seconds * 1000);
        plainWall += wallSeconds() - wall0;
        plainCpu += processCpu() - cpu0;

        wall0 = wallSeconds();
        cpu0 = processCpu();
        recording->start();
        runFor(seconds * 1000);
        recording->stop();
        // The close (its last write and sync) is part of recording's cost.
        waitUntil([&] { return !recording->isRecording(); }, 10000);
        recWall += wallSeconds() - wall0;
        recCpu += processCpu() - cpu0;

        const CsvCheck check
            = checkStamps(recording->folder() + QStringLiteral("/measurements.csv"));
        if (check.rows != recording->framesWritten())
            failure = QStringLiteral("%1 rows in the CSV, %2 written")
                          .arg(check.rows)
                          .arg(recording->framesWritten());
        total.rows += check.rows;
        total.missing += check.missing;
        total.repeated += check.repeated;
    }
    backend.connectClicked(0);
    runFor(200);
    sim.closeWriteChannel();
    sim.terminate();
    sim.waitForFinished(3000);

    const double plain = plainCpu / plainWall;
    const double rec = recCpu / recWall;
    const double rowsPerSecond = total.rows / recWall;
    if (parser.isSet(kvOption)) {
        std::printf("plain_cpu_per_second=%.4f recording_cpu_per_second=%.4f ratio=%.3f "
                    "rows=%ld rows_per_second=%.1f missing=%ld repeated=%ld seconds=%d rounds=%d "
                    "error=%s\n",
            plain, rec, rec / plain, total.rows, rowsPerSecond, total.missing, total.repeated,
            seconds, rounds, failure.isEmpty() ? "none" : "yes");
    } else {
        std::printf("recording at the line limit, %d x (%d s without, %d s with):\n", rounds,
            seconds, seconds);
        std::printf("  process CPU %.4f s/s without, %.4f s/s recording: ratio %.3f\n", plain, rec,
            rec / plain);
        std::printf("  %ld rows (%.1f/s), %ld frames missing, %ld repeated\n", total.rows,
            rowsPerSecond, total.missing, total.repeated);
    }
    if (!failure.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(failure));
    return failure.isEmpty() && total.missing == 0 && total.repeated == 0 && total.rows > 0 ? 0 : 1;
}
