// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-sim: a simulated module on a new pseudo-terminal, for working
// without hardware. Prints the device path, serves until interrupted, and takes
// control commands on standard input and/or a FIFO.

#include "recordingcsv.h"
#include "recordingreplay.h"
#include "sim.h"
#include "velmar_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &b, 1);
}

void printLine(const QString &text)
{
    std::fputs(qPrintable(text), stdout);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reads control lines from one descriptor and runs them.
class ControlChannel : public QObject
{
public:
    ControlChannel(int fd, ModuleSimulator &sim, QObject *parent)
        : QObject(parent)
        , m_fd(fd)
        , m_sim(sim)
        , m_notifier(fd, QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readLines(); });
    }

private:
    void readLines()
    {
        char buffer[65536];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n == 0) // end of input: keep serving, stop listening here
                m_notifier.setEnabled(false);
            return;
        }
        for (const SimControlLineReader::Line &line : m_reader.feed(buffer, int(n))) {
            if (line.tooLong) {
                printLine(QStringLiteral(
                    "error: control line longer than %1 bytes, ignored up to its end")
                              .arg(SimControlLineReader::maxLength));
                continue;
            }
            const SimControlReply reply = runControlLine(m_sim, line.text);
            if (!reply.text.isEmpty())
                printLine(reply.ok ? reply.text : QStringLiteral("error: ") + reply.text);
            if (reply.quit)
                QCoreApplication::quit();
        }
    }

    int m_fd;
    ModuleSimulator &m_sim;
    QSocketNotifier m_notifier;
    SimControlLineReader m_reader;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmar-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated Velmar IMU module on a new pseudo-terminal. Prints the device "
                       "path and serves until "
                       "interrupted. Control commands (one a line; \"help\" lists them) are read "
                       "from standard input and "
                       "from the --control FIFO."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption link(QStringLiteral("link"),
        QStringLiteral("Make a symbolic link to the device at <path> (removed at exit, kept across "
                       "vanish/replug)."),
        QStringLiteral("path"));
    const QCommandLineOption control(QStringLiteral("control"),
        QStringLiteral("Read control commands from the FIFO <path> (created if missing)."),
        QStringLiteral("path"));
    const QCommandLineOption noStdin(QStringLiteral("no-stdin"),
        QStringLiteral("Do not read control commands from standard input."));
    const QCommandLineOption hw(QStringLiteral("hw"),
        QStringLiteral("\"Hardware Version\": 1442 (default) or 2542."), QStringLiteral("version"),
        QStringLiteral("1442"));
    const QCommandLineOption range(QStringLiteral("range"),
        QStringLiteral("\"Sensors Range\" byte at start (decimal or 0x..; default 0)."),
        QStringLiteral("byte"), QStringLiteral("0"));
    const QCommandLineOption stream(QStringLiteral("stream"),
        QStringLiteral("Stream from the start, before anyone asks, in mode 11 (all measurements) "
                       "or 12 (accelerometer and gyroscope): a module left streaming."),
        QStringLiteral("mode"));
    const QCommandLineOption lookalike(QStringLiteral("lookalike-headers"),
        QStringLiteral("Streamed frames carry BB 00 B0 among their measurement bytes, as readings "
                       "can: what looks like the header of a whole-map answer."));
    const QCommandLineOption rate(QStringLiteral("rate"),
        QStringLiteral("Streamed frames per second (default 100; the line carries at most ~311 "
                       "full frames/s)."),
        QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption pose(QStringLiteral("pose"),
        QStringLiteral("Hold still in a pose: z-up, z-down, y-up, y-down, x-up, x-down."),
        QStringLiteral("pose"));
    const QCommandLineOption rotate(QStringLiteral("rotate"),
        QStringLiteral("Turn about a body axis, e.g. z:30 (deg/s)."), QStringLiteral("axis:rate"));
    const QCommandLineOption tumble(QStringLiteral("tumble"),
        QStringLiteral("Turn through every direction within a minute (the default motion)."));
    const QCommandLineOption ideal(QStringLiteral("ideal"),
        QStringLiteral("Ideal sensors: no errors, no noise (default: realistic errors)."));
    const QCommandLineOption seed(QStringLiteral("seed"),
        QStringLiteral("Seed of the sensor errors and noise (default 1)."), QStringLiteral("n"),
        QStringLiteral("1"));
    const QCommandLineOption rotatedSoftIron(QStringLiteral("rotated-soft-iron"),
        QStringLiteral("Magnetometer soft iron off the body axes."));
    const QCommandLineOption noise(QStringLiteral("noise"),
        QStringLiteral("Chance of a noise burst before a message (0..1)."),
        QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption split(QStringLiteral("split"),
        QStringLiteral("Chance that a message goes out in chunks."), QStringLiteral("chance"),
        QStringLiteral("0"));
    const QCommandLineOption truncate(QStringLiteral("truncate"),
        QStringLiteral("Chance that a data frame is cut short."), QStringLiteral("chance"),
        QStringLiteral("0"));
    const QCommandLineOption status(QStringLiteral("status"),
        QStringLiteral("Chance of a status message EE v before a message."),
        QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption rawNoise(QStringLiteral("raw-noise"),
        QStringLiteral(
            "Noise bursts with any byte, 0xBB and 0xEE included (default: never those)."));
    const QCommandLineOption headerNoise(QStringLiteral("header-noise"),
        QStringLiteral("Chance of noise shaped as a frame header (BB a n) before a message."),
        QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption cut(QStringLiteral("cut"),
        QStringLiteral(
            "Chance that a data frame is cut short with the next message right after (no filler)."),
        QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption replay(QStringLiteral("replay"),
        QStringLiteral("Play the raw recording <file> instead of simulating (reads are answered "
                       "from the register map it built up; the module options are ignored)."),
        QStringLiteral("file"));
    const QCommandLineOption speed(QStringLiteral("speed"),
        QStringLiteral("With --replay: play <x> times as fast as recorded (default 1)."),
        QStringLiteral("x"), QStringLiteral("1"));
    const QCommandLineOption loop(
        QStringLiteral("loop"), QStringLiteral("With --replay: start over at the end."));
    const QCommandLineOption csv(QStringLiteral("csv"),
        QStringLiteral("With --replay: write the recording's measurements to the CSV <out> and "
                       "exit, without a pseudo-terminal."),
        QStringLiteral("out"));
    parser.addOptions({link, control, noStdin, hw, range, stream, lookalike, rate, pose, rotate,
        tumble, ideal, seed, rotatedSoftIron, noise, split, truncate, status, rawNoise, headerNoise,
        cut, replay, speed, loop, csv});
    // The stochastic model of a resting part, for the noise analysis.
    const QCommandLineOption noiseModel(QStringLiteral("noise-model"),
        QStringLiteral("Stochastic sensor noise of a consumer MEMS part (white noise, bias "
                       "instability, rate random walk); 'truth noise' prints its terms."));
    const QCommandLineOption gyroTerms(QStringLiteral("gyro-terms"),
        QStringLiteral("Gyroscope N (deg/s/sqrt(Hz)), B (deg/s), K (deg/s*sqrt(Hz)) on every "
                       "axis; implies --noise-model."),
        QStringLiteral("N,B,K"));
    const QCommandLineOption accTerms(QStringLiteral("acc-terms"),
        QStringLiteral("Accelerometer N (m/s^2/sqrt(Hz)), B (m/s^2), K (m/s^2*sqrt(Hz)) on every "
                       "axis; implies --noise-model."),
        QStringLiteral("N,B,K"));
    const QCommandLineOption tempRamp(QStringLiteral("temp-ramp"),
        QStringLiteral("Temperature ramp (degC/s) and bias coefficients of gyroscope (deg/s "
                       "per degC) and accelerometer (m/s^2 per degC); implies --noise-model."),
        QStringLiteral("rate,gyro,acc"));
    parser.addOptions({noiseModel, gyroTerms, accTerms, tempRamp});
    parser.process(app);

    auto refuse = [](const QCommandLineOption &o, const QString &why) {
        std::fprintf(stderr, "velmar-sim: bad value for --%s: %s\n", qPrintable(o.names().first()),
            qPrintable(why));
        std::exit(2);
    };
    auto number = [&](const QCommandLineOption &o, double low, double high) {
        double v = 0;
        QString why;
        if (!parseSimNumber(parser.value(o), low, high, &v, &why))
            refuse(o, why);
        return v;
    };
    auto whole = [&](const QCommandLineOption &o, quint64 low, quint64 high, int base = 10) {
        quint64 v = 0;
        QString why;
        if (!parseSimWhole(parser.value(o), low, high, &v, &why, base))
            refuse(o, why);
        return v;
    };

    if (!parser.isSet(replay)) {
        for (const QCommandLineOption *o : {&speed, &loop, &csv}) {
            if (parser.isSet(*o)) {
                std::fprintf(
                    stderr, "velmar-sim: --%s needs --replay\n", qPrintable(o->names().first()));
                return 2;
            }
        }
    } else if (parser.isSet(csv)) {
        const RecordingCsvResult result
            = convertRecordingToCsv(parser.value(replay), parser.value(csv));
        if (!result.warning.isEmpty())
            std::fprintf(stderr, "velmar-sim: %s\n", qPrintable(result.warning));
        if (!result.ok) {
            std::fprintf(stderr, "velmar-sim: %s\n", qPrintable(result.error));
            return 1;
        }
        printLine(QStringLiteral("%1 rows from %2 data frames written to %3")
                      .arg(result.rows)
                      .arg(result.frames)
                      .arg(parser.value(csv)));
        return 0;
    } else {
        RecordingReplay::Options replayOptions;
        replayOptions.path = parser.value(replay);
        replayOptions.speed = number(speed, RecordingReplay::minSpeed, RecordingReplay::maxSpeed);
        replayOptions.loop = parser.isSet(loop);
        replayOptions.linkPath = parser.value(link);
        RecordingReplay player(replayOptions);
        QString error;
        if (!player.open(&error)) {
            std::fprintf(stderr, "velmar-sim: %s\n", qPrintable(error));
            return 1;
        }
        if (!player.damage().isEmpty())
            std::fprintf(stderr, "velmar-sim: %s: %s; playing what came before it\n",
                qPrintable(replayOptions.path), qPrintable(player.damage()));
        printLine(player.slavePath());
        if (!replayOptions.linkPath.isEmpty())
            printLine(QStringLiteral("link: %1").arg(replayOptions.linkPath));
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::fprintf(stderr, "velmar-sim: cannot make a pipe\n");
            return 1;
        }
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        player.run(signalPipe[0], [](const QString &text) { printLine(text); });
        return 0;
    }

    ModuleSimulator::Options options;
    options.linkPath = parser.value(link);
    options.identity.hardwareVersion = quint16(whole(hw, 0, 65535));
    options.identity.sensorsRange = quint8(whole(range, 0, 255, 0));
    if (parser.isSet(stream)) {
        const quint64 mode = whole(stream, 11, 12);
        options.identity.control1 = int(mode);
    }
    options.streamRate
        = number(rate, ModuleSimulator::minStreamRate, ModuleSimulator::maxStreamRate);
    options.sensorErrors = !parser.isSet(ideal);
    options.seed = whole(seed, 0, std::numeric_limits<quint64>::max());
    options.rotatedSoftIron = parser.isSet(rotatedSoftIron);
    options.faults.noiseChance = number(noise, 0, 1);
    options.faults.splitChance = number(split, 0, 1);
    options.faults.truncateChance = number(truncate, 0, 1);
    options.faults.statusChance = number(status, 0, 1);
    options.faults.rawNoise = parser.isSet(rawNoise);
    options.faults.headerNoiseChance = number(headerNoise, 0, 1);
    options.faults.cutChance = number(cut, 0, 1);
    options.lookalikeHeaders = parser.isSet(lookalike);
    if (parser.isSet(noiseModel) || parser.isSet(gyroTerms) || parser.isSet(accTerms)
        || parser.isSet(tempRamp)) {
        auto triple = [&](const QCommandLineOption &o) {
            const QStringList parts = parser.value(o).split(QLatin1Char(','));
            std::array<double, 3> v {};
            if (parts.size() != 3)
                refuse(o, QStringLiteral("three numbers separated by commas are needed"));
            for (int i = 0; i < 3; ++i) {
                QString why;
                if (!parseSimNumber(parts[i], -1e6, 1e6, &v[std::size_t(i)], &why))
                    refuse(o, why);
            }
            return v;
        };
        StochasticParameters p = StochasticParameters::consumerMems();
        for (auto [option, axes] :
            {std::pair {&gyroTerms, &p.gyro}, std::pair {&accTerms, &p.acc}}) {
            if (!parser.isSet(*option))
                continue;
            const std::array<double, 3> v = triple(*option);
            if (v[0] < 0 || v[1] < 0 || v[2] < 0)
                refuse(*option, QStringLiteral("the terms cannot be negative"));
            for (StochasticAxis &a : *axes) {
                a.whiteDensity = v[0];
                a.biasInstability = v[1];
                a.rateRandomWalk = v[2];
            }
        }
        if (parser.isSet(tempRamp)) {
            const std::array<double, 3> v = triple(tempRamp);
            p.tempRamp = v[0];
            for (StochasticAxis &a : p.gyro)
                a.tempCoefficient = v[1];
            for (StochasticAxis &a : p.acc)
                a.tempCoefficient = v[2];
        }
        options.stochastic = p;
    }
    options.motion = SimMotion::tumbling();
    if (parser.isSet(pose)) {
        SimPose p;
        if (!parseSimPose(parser.value(pose), &p)) {
            std::fprintf(stderr, "velmar-sim: unknown pose %s\n", qPrintable(parser.value(pose)));
            return 2;
        }
        options.motion = SimMotion::still(p);
    }
    if (parser.isSet(rotate)) {
        const QStringList parts = parser.value(rotate).split(QLatin1Char(':'));
        const QString axis = parts.value(0).toLower();
        if (parts.size() != 2 || axis.size() != 1 || axis[0] < QLatin1Char('x')
            || axis[0] > QLatin1Char('z')) {
            std::fprintf(stderr, "velmar-sim: --rotate takes axis:rate, e.g. z:30\n");
            return 2;
        }
        double degPerSec = 0;
        QString why;
        if (!parseSimNumber(parts[1], -simMaxTurnRate, simMaxTurnRate, &degPerSec, &why))
            refuse(rotate, why);
        std::array<double, 3> a {0, 0, 0};
        a[std::size_t(axis[0].unicode() - 'x')] = 1;
        options.motion = SimMotion::rotating(
            options.motion.kind == SimMotion::Still ? options.motion.pose : SimPose::ZUp, a,
            degPerSec);
    }

    ModuleSimulator sim(options);
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "velmar-sim: %s\n", qPrintable(error));
        return 1;
    }
    printLine(sim.slavePath());
    if (!options.linkPath.isEmpty())
        printLine(QStringLiteral("link: %1").arg(options.linkPath));

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        auto *quitter = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(quitter, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    }

    if (!parser.isSet(noStdin))
        new ControlChannel(STDIN_FILENO, sim, &app);

    bool madeFifo = false;
    const QString fifoPath = parser.value(control);
    if (!fifoPath.isEmpty()) {
        const QByteArray path = QFile::encodeName(fifoPath);
        struct stat st
        {
        };
        if (::stat(path.constData(), &st) != 0) {
            madeFifo = ::mkfifo(path.constData(), 0600) == 0;
        } else if (!S_ISFIFO(st.st_mode)) {
            std::fprintf(stderr, "velmar-sim: %s is not a FIFO\n", path.constData());
            return 1;
        }
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // Our own writer keeps the FIFO from reporting end-of-file whenever a
        // writer such as `echo cmd > fifo` closes.
        const int keepOpen = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || keepOpen < 0) {
            std::fprintf(stderr, "velmar-sim: cannot open %s\n", path.constData());
            return 1;
        }
        new ControlChannel(fd, sim, &app);
    }

    const int result = app.exec();
    sim.stop();
    if (madeFifo)
        QFile::remove(fifoPath);
    return result;
}
