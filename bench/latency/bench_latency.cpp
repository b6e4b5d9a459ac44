// SPDX-License-Identifier: GPL-3.0-or-later
// Latency from the simulated module writing a measurement frame to the
// pseudo-terminal to the backend emitting gyroDataListChanged on the GUI
// thread, through the real link (serial worker, processing thread, dispatch).
//
//   bench_latency [--rate <frames/s>|line] [--frames N] [--kv]
//
// Each streamed frame carries its sequence number as raw "Gyroscope X". The
// simulator's write() is wrapped at link time (-Wl,--wrap=write; the simulator
// is a static library) to note when each numbered frame entered the pty; the
// backend's change signal gives the other end. Frames per dispatch pass is how
// far the number moved between two signals: 1 when every frame is handed over
// on its own, more when bytes pile up before a pass runs.
#include "durUzaBackend.h"
#include "sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include <sys/types.h>

namespace {

constexpr int stampSlots = 32768;
std::array<std::atomic<qint64>, stampSlots> writeTimes {};
std::atomic<quint64> wrappedFrames {0};

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const std::size_t at
        = std::min(sorted.size() - 1, std::size_t(std::ceil(p * double(sorted.size()))) - 1);
    return sorted[at];
}

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return percentile(values, 0.5);
}

} // namespace

extern "C" ssize_t __real_write(int fd, const void *buffer, size_t count);

// Only calls from the statically linked project code land here: the simulator's
// writes to the pty master, and its one-byte wake-ups. Qt's own writes do not.
extern "C" ssize_t __wrap_write(int fd, const void *buffer, size_t count)
{
    const ssize_t written = __real_write(fd, buffer, count);
    const auto *b = static_cast<const quint8 *>(buffer);
    // A whole streamed measurement frame: BB 06 22, then 34 data bytes whose
    // seventh and eighth are raw "Gyroscope X", the sequence number.
    constexpr RegisterSpan streamed = RegisterMap::StreamedAll;
    if (written == 3 + streamed.count && b[0] == 0xBB && b[1] == streamed.address
        && b[2] == streamed.count) {
        const int stamp = qint16(quint16(b[3 + 6] | (b[3 + 7] << 8)));
        if (stamp > 0) {
            writeTimes[std::size_t(stamp)].store(nowNs(), std::memory_order_release);
            wrappedFrames.fetch_add(1, std::memory_order_relaxed);
        }
    }
    return written;
}

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietMessages);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption rateOption(QStringLiteral("rate"),
        QStringLiteral("Streamed frames per second, or 'line' for as fast as the line carries."),
        QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
        QStringLiteral("Frames to time."), QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption kvOption(
        QStringLiteral("kv"), QStringLiteral("One line of key=value pairs on stdout."));
    parser.addOptions({rateOption, framesOption, kvOption});
    parser.process(app);

    const QString rateText = parser.value(rateOption);
    const bool lineRate = rateText == QLatin1String("line");
    // Above the ~311 frames/s the line carries, the simulator sends back to back.
    const double rate = lineRate ? 1000.0 : rateText.toDouble();
    const int frames = std::clamp(parser.value(framesOption).toInt(), 100, 30000);
    if (rate <= 0) {
        std::fprintf(stderr, "bad --rate\n");
        return 2;
    }

    QTemporaryDir dir;
    ModuleSimulator::Options options;
    options.linkPath = dir.path() + QStringLiteral("/imu");
    options.streamRate = rate;
    options.motion = SimMotion::still(SimPose::ZUp);
    ModuleSimulator sim(options);
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("VELMAR_EXTRA_PORTS", options.linkPath.toLocal8Bit());

    DurUzaBackend backend;
    const int index = backend.availablePortsList().indexOf(options.linkPath);
    if (index < 0) {
        std::fprintf(stderr, "the simulator's port is not listed\n");
        return 1;
    }
    const double gyroFullScale = sim.fullScales().gyro;

    // Wait for the connect sequence to end and the stream to run.
    {
        QEventLoop loop;
        int samples = 0;
        const auto c = QObject::connect(&backend, &DurUzaBackend::gyroDataListChanged, &loop, [&] {
            if (backend.gyroFullScale() > 0 && ++samples >= 20)
                loop.quit();
        });
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        backend.connectClicked(index);
        loop.exec();
        QObject::disconnect(c);
        if (samples < 20) {
            std::fprintf(stderr, "no stream from the simulator\n");
            return 1;
        }
    }

    std::vector<double> latencies; // microseconds, in arrival order
    latencies.reserve(std::size_t(frames));
    std::vector<int> framesPerPass;
    framesPerPass.reserve(std::size_t(frames));
    int lastStamp = -1;
    int unmatched = 0;
    QEventLoop loop;
    QObject::connect(&backend, &DurUzaBackend::gyroDataListChanged, &loop, [&] {
        const qint64 seen = nowNs();
        const QVariantList values = backend.gyroDataList();
        const int stamp = int(std::lround(values.value(0).toDouble() * 32768.0 / gyroFullScale));
        if (stamp <= 0 || stamp >= stampSlots)
            return;
        const qint64 written
            = writeTimes[std::size_t(stamp)].exchange(0, std::memory_order_acquire);
        if (written == 0) {
            ++unmatched;
            return;
        }
        latencies.push_back(double(seen - written) / 1000.0);
        if (lastStamp > 0)
            framesPerPass.push_back(stamp - lastStamp);
        lastStamp = stamp;
        if (int(latencies.size()) >= frames)
            loop.quit();
    });
    const double expectedSeconds
        = frames / std::min(rate, ModuleSimulator::lineBytesPerSecond / 37.0);
    QTimer::singleShot(int(expectedSeconds * 1500) + 10000, &loop, &QEventLoop::quit);
    const quint64 wrappedBefore = wrappedFrames.load();
    QElapsedTimer wall;
    wall.start();
    sim.setSequenceStamp(true);
    loop.exec();
    const double seconds = wall.elapsed() / 1000.0;
    const quint64 written = wrappedFrames.load() - wrappedBefore;
    backend.connectClicked(index); // disconnect before the module goes

    if (latencies.empty()) {
        std::fprintf(stderr, "no frame was timed\n");
        return 1;
    }
    const std::size_t tenth = std::max<std::size_t>(1, latencies.size() / 10);
    const double firstMedian
        = medianOf({latencies.begin(), latencies.begin() + std::ptrdiff_t(tenth)});
    const double lastMedian = medianOf({latencies.end() - std::ptrdiff_t(tenth), latencies.end()});
    std::vector<double> sorted = latencies;
    std::sort(sorted.begin(), sorted.end());
    const int maxPerPass
        = framesPerPass.empty() ? 1 : *std::max_element(framesPerPass.begin(), framesPerPass.end());
    const auto multi
        = std::count_if(framesPerPass.begin(), framesPerPass.end(), [](int n) { return n > 1; });

    const double achieved = double(latencies.size()) / seconds;
    const QString rateLabel = lineRate ? QStringLiteral("line") : rateText;
    if (parser.isSet(kvOption)) {
        std::printf("rate=%s frames_timed=%zu frames_written=%llu unmatched=%d seconds=%.2f "
                    "frames_per_second=%.1f "
                    "median_us=%.1f p99_us=%.1f max_us=%.1f first_tenth_median_us=%.1f "
                    "last_tenth_median_us=%.1f "
                    "max_frames_per_pass=%d passes_with_several_frames=%lld\n",
            qPrintable(rateLabel), latencies.size(), (unsigned long long)written, unmatched,
            seconds, achieved, percentile(sorted, 0.5), percentile(sorted, 0.99), sorted.back(),
            firstMedian, lastMedian, maxPerPass, (long long)multi);
    } else {
        std::printf("rate %s: %zu frames timed in %.1f s (%.1f frames/s), %d unmatched\n",
            qPrintable(rateLabel), latencies.size(), seconds, achieved, unmatched);
        std::printf("  latency median %.1f us, p99 %.1f us, max %.1f us\n", percentile(sorted, 0.5),
            percentile(sorted, 0.99), sorted.back());
        std::printf(
            "  median of first tenth %.1f us, of last tenth %.1f us\n", firstMedian, lastMedian);
        std::printf("  frames per dispatch pass: max %d, passes with more than one: %lld of %zu\n",
            maxPerPass, (long long)multi, framesPerPass.size());
    }
    return 0;
}
