// SPDX-License-Identifier: GPL-3.0-or-later
// Frame cutter plus dispatch pass throughput, and the latency of the real link
// over a pseudo-terminal.
//
//   cmake --build <build> --target bench_link && <build>/bench/link/bench_link
#include "link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One measurement frame as the module streams it in mode 11.
QByteArray measurementStream(std::size_t size)
{
    constexpr RegisterSpan block = RegisterMap::StreamedAll;
    QByteArray stream;
    std::mt19937 random(1);
    while (std::size_t(stream.size()) + 3 + block.count <= size) {
        stream.append(char(0xBB)).append(char(block.address)).append(char(block.count));
        for (int i = 0; i < block.count; ++i)
            stream.append(char(random() & 0xFF));
    }
    return stream;
}

// Bytes that never start a message.
QByteArray noiseStream(std::size_t size)
{
    QByteArray stream;
    std::mt19937 random(2);
    while (std::size_t(stream.size()) < size) {
        const char byte = char(random() & 0xFF);
        if (quint8(byte) != 0xBB && quint8(byte) != 0xEE)
            stream.append(byte);
    }
    return stream;
}

struct Sink
{
    long calls = 0;
    ComsHandler::BlockHandler handler()
    {
        return [this](int, const quint8 *block) { calls += block[0]; };
    }
};

// Cuts `stream` in chunks of `chunk` bytes, one cutter pass and one dispatch
// pass per chunk, exactly as the processing thread and the GUI thread do.
void runPasses(benchmark::State &state, const QByteArray &stream, int chunk)
{
    Sink sink;
    for (auto _ : state) {
        ComsHandler handler;
        handler.setBlockHandler(sink.handler());
        ComsProtocol *protocol = handler.protocol();
        for (int at = 0; at < stream.size(); at += chunk) {
            protocol->appendReceived(stream.constData() + at, std::min(chunk, stream.size() - at));
            protocol->extractFrames();
            handler.process();
        }
        benchmark::DoNotOptimize(protocol->pendingBytes());
    }
    benchmark::DoNotOptimize(sink.calls);
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
}

void cleanMeasurementFrames(benchmark::State &state)
{
    // The port delivers what it has buffered: a few frames per chunk.
    runPasses(state, measurementStream(std::size_t(state.range(0))), 128);
}
BENCHMARK(cleanMeasurementFrames)->Arg(37'000)->Arg(370'000)->Unit(benchmark::kMillisecond);

void pureNoiseInOneChunk(benchmark::State &state)
{
    const QByteArray stream = noiseStream(std::size_t(state.range(0)));
    runPasses(state, stream, stream.size());
}
BENCHMARK(pureNoiseInOneChunk)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void pureNoiseSmallChunks(benchmark::State &state)
{
    runPasses(state, noiseStream(std::size_t(state.range(0))), 64);
}
BENCHMARK(pureNoiseSmallChunks)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void tenPassWaitOneBytePerPass(benchmark::State &state)
{
    // Every byte is 0xBB: each head is a frame that asks for 187 bytes and is
    // waited for ten passes before its first byte goes, while the buffer behind
    // it keeps growing by one byte per pass.
    runPasses(state, QByteArray(int(state.range(0)), char(0xBB)), 1);
}
BENCHMARK(tenPassWaitOneBytePerPass)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void measurementFramesOneBytePerPass(benchmark::State &state)
{
    // A port that hands over every byte on its own: each frame head waits 36
    // passes for its data, and every 37th pass has blocks to dispatch.
    runPasses(state, measurementStream(std::size_t(state.range(0))), 1);
}
BENCHMARK(measurementFramesOneBytePerPass)
    ->Arg(37'000)
    ->Arg(370'000)
    ->Unit(benchmark::kMillisecond);

// --- latency through a real pseudo-terminal -------------------------------------

// The link logs every write and every status line; keep the figures readable.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

// The pty benchmarks need an event loop; the cutter benchmarks need none.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "bench_link";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qInstallMessageHandler(quietMessages);
        static QCoreApplication app(argc, argv);
    }
}

struct PtyLink
{
    int master = -1;
    int slave = -1;
    bool appReady = (ensureApplication(), true); // before the handler's objects
    ComsHandler handler;
    bool open = false;

    PtyLink()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios settings {};
        tcgetattr(slave, &settings);
        cfmakeraw(&settings);
        tcsetattr(slave, TCSANOW, &settings);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        qputenv("VELMAR_EXTRA_PORTS", ttyname(slave));
        QEventLoop loop;
        QObject::connect(&handler, &ComsHandler::linkOpened, &loop, [&] {
            open = true;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        handler.start(enumerateSerialPorts().constLast().portName);
        loop.exec();
    }
    ~PtyLink()
    {
        QEventLoop loop;
        QObject::connect(&handler, &ComsHandler::linkClosed, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        handler.stop();
        loop.exec();
        ::close(master);
        ::close(slave);
        qunsetenv("VELMAR_EXTRA_PORTS");
    }
};

void reportPercentiles(benchmark::State &state, std::vector<double> &samples)
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    state.counters["max_us"] = samples.back();
}

// From bytes written to the pty master to the handler call on the GUI thread.
void ptyReadToDispatch(benchmark::State &state)
{
    PtyLink link;
    if (!link.open) {
        state.SkipWithError("pseudo-terminal link did not open");
        return;
    }
    // The GUI thread sleeps in its event loop, as in the application.
    QEventLoop loop;
    int seen = -1;
    int value = 0;
    link.handler.setBlockHandler([&](int, const quint8 *block) {
        seen = block[0];
        if (seen == value)
            loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::vector<double> samples;
    for (auto _ : state) {
        value = (value + 1) & 0xFF;
        const char frame[] = {char(0xBB), 0x00, 0x01, char(value)};
        QElapsedTimer clock;
        clock.start();
        guard.start(2000);
        if (::write(link.master, frame, sizeof frame) != sizeof frame)
            state.SkipWithError("write to the pty master failed");
        if (seen != value)
            loop.exec();
        samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    reportPercentiles(state, samples);
}
BENCHMARK(ptyReadToDispatch)->Iterations(500)->Unit(benchmark::kMicrosecond);

// From sendFrame on the GUI thread to the bytes readable at the pty master.
void ptySendToMaster(benchmark::State &state)
{
    PtyLink link;
    if (!link.open) {
        state.SkipWithError("pseudo-terminal link did not open");
        return;
    }
    std::vector<double> samples;
    const quint8 frame[] = {0xAA, 0x01, 0x00, 0xB0};
    char buffer[64];
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        link.handler.sendFrame(frame, sizeof frame);
        int got = 0;
        while (got < int(sizeof frame) && clock.elapsed() < 2000) {
            const ssize_t n = ::read(link.master, buffer, sizeof buffer);
            if (n > 0)
                got += int(n);
        }
        samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    reportPercentiles(state, samples);
}
BENCHMARK(ptySendToMaster)->Iterations(500)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
