// SPDX-License-Identifier: GPL-3.0-or-later
// What recording costs: chunks and frames appended at ten times the line
// rate, paced like the link delivers them, with the Recorder writing to a
// real folder. Prints the CPU time of the calling thread and of the whole
// process as a share of one core, with and without recording, and how fast
// the writer drains when it is flooded.
//
// bench_record [seconds] [folder]   (defaults: 10 s, a temporary folder)
#include "record.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

// The line carries about 300 measurement frames a second of 37 bytes each.
constexpr int lineFramesPerSecond = 300;
constexpr int rateFactor = 10;
constexpr int framesPerSecond = lineFramesPerSecond * rateFactor;
constexpr int batchMs = 10; // the serial worker wakes for bursts like this

double cpuSeconds(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

QByteArray sampleChunk()
{
    QByteArray bytes = QByteArray::fromHex("bb0622");
    for (int i = 0; i < 34; ++i)
        bytes.append(char(i * 7));
    return bytes;
}

MeasurementFrame sampleFrame(qint64 timeUs, int n)
{
    MeasurementFrame f;
    f.timeUs = timeUs;
    f.present = 63;
    const float v = n * 0.001f;
    f.acc = {9.81f + v, -0.12f, 0.33f};
    f.gyro = {1.5f, -2.25f + v, 0.125f};
    f.mag = {0.31f, 0.12f, -0.44f + v};
    f.euler = {12.5f, -3.25f, 179.99f - v};
    f.quat = {0.998f, 0.01f, -0.02f, 0.05f};
    f.temperature = 25.25;
    return f;
}

struct Cost
{
    double threadCpu;
    double processCpu;
    double wall;
    long frames;
};

// Appends `seconds` worth of frames at the target rate; `recorder` null
// runs the same loop without recording, as the baseline.
Cost run(Recorder *recorder, double seconds)
{
    const QByteArray chunk = sampleChunk();
    const int perBatch = framesPerSecond * batchMs / 1000;
    const auto begin = std::chrono::steady_clock::now();
    const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    long frames = 0;
    volatile long sink = 0;
    for (int batch = 0; batch * batchMs < seconds * 1000; ++batch) {
        for (int i = 0; i < perBatch; ++i, ++frames) {
            if (recorder) {
                const qint64 now = recorder->elapsedUs();
                recorder->appendChunk(now, chunk);
                recorder->appendFrame(sampleFrame(now, int(frames)));
            } else {
                sink = sink + chunk.size() + long(sampleFrame(frames, int(frames)).acc[0]);
            }
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_until(begin + std::chrono::milliseconds((batch + 1) * batchMs));
    }
    const double wall
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return {cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0,
        cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0, wall, frames};
}

void waitFor(Recorder &recorder, bool recording)
{
    while (recorder.isRecording() != recording)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 10.0;
    QTemporaryDir temporary;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();

    const Cost idle = run(nullptr, seconds);

    Recorder recorder;
    bool started = false;
    QObject::connect(&recorder, &Recorder::started, [&] { started = true; });
    QObject::connect(&recorder, &Recorder::failed,
        [](const QString &m) { std::fprintf(stderr, "%s\n", qPrintable(m)); });
    recorder.start(base, RecordingInfo());
    while (!started && recorder.isRecording())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!started)
        return 1;
    const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const Cost rec = run(&recorder, seconds);
    recorder.stop();
    waitFor(recorder, false);
    const double processWithClose = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
    if (recorder.framesWritten() != rec.frames) {
        std::fprintf(stderr, "wrote %lld of %ld frames\n", recorder.framesWritten(), rec.frames);
        return 1;
    }

    // Flooded: how many frames a second the writer gets to disk.
    const long flood = 300000;
    recorder.start(base, RecordingInfo());
    started = false;
    while (!started && recorder.isRecording())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QElapsedTimer timer;
    timer.start();
    const QByteArray chunk = sampleChunk();
    const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (long n = 0; n < flood; ++n) {
        recorder.appendChunk(n, chunk);
        recorder.appendFrame(sampleFrame(n, int(n)));
    }
    const double appendNs = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0) / flood * 1e9;
    recorder.stop();
    waitFor(recorder, false);
    const double floodRate = flood / (timer.nsecsElapsed() / 1e9);

    const auto pct = [](double cpu, double wall) { return 100.0 * cpu / wall; };
    std::printf("record: %d frames/s of 37 bytes (%dx the line rate) for %.0f s, %ld frames\n",
        framesPerSecond, rateFactor, rec.wall, rec.frames);
    std::printf("record: calling thread %.2f%% of a core recording, %.2f%% without\n",
        pct(rec.threadCpu, rec.wall), pct(idle.threadCpu, idle.wall));
    std::printf("record: whole process  %.2f%% of a core recording (%.2f%% with the close), "
                "%.2f%% without\n",
        pct(rec.processCpu, rec.wall), pct(processWithClose, rec.wall),
        pct(idle.processCpu, idle.wall));
    std::printf(
        "record: one chunk + one frame appended in %.0f ns on the calling thread\n", appendNs);
    std::printf("record: flooded, the writer stores %.0f frames/s with their chunks (%.0fx the "
                "line rate)\n",
        floodRate, floodRate / lineFramesPerSecond);
    return 0;
}
