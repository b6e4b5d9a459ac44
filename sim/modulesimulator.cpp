// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulesimulator.h"

#include "outputline.h"
#include "pseudoterminal.h"
#include "requestparser.h"
#include "simlog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/select.h>
#include <thread>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSim, "velmar.sim", QtInfoMsg)

namespace {
using Clock = std::chrono::steady_clock;
constexpr int stampDataOffset = 0x0C - 0x06; // raw "Gyroscope X" in a streamed frame
constexpr double hangupProbeSeconds = 0.01;
constexpr double longestSleepSeconds = 0.25;
constexpr std::size_t maxLoggedRequests = 10000;

// Sleeps until one of `fds` is ready or `seconds` pass, with microsecond
// resolution: at the line rate a frame takes about 3 ms.
void waitFor(pollfd *fds, int count, double seconds)
{
    seconds = std::clamp(seconds, 0.0, longestSleepSeconds);
    timeval tv;
    tv.tv_sec = time_t(seconds);
    tv.tv_usec = suseconds_t((seconds - double(tv.tv_sec)) * 1e6);
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    int highest = -1;
    for (int i = 0; i < count; ++i) {
        if (fds[i].events & POLLIN)
            FD_SET(fds[i].fd, &readable);
        if (fds[i].events & POLLOUT)
            FD_SET(fds[i].fd, &writable);
        highest = std::max(highest, fds[i].fd);
    }
    const int n = ::select(highest + 1, &readable, &writable, nullptr, &tv);
    for (int i = 0; i < count; ++i)
        fds[i].revents = n > 0 && FD_ISSET(fds[i].fd, &readable) ? POLLIN : 0;
}
} // namespace

struct ModuleSimulator::Private
{
    enum class PlugRequest { None, Unplug, Replug };

    explicit Private(const Options &o)
        : options(o)
        , module(o.identity)
        , streamRate(std::isfinite(o.streamRate)
                  ? std::clamp(o.streamRate, minStreamRate, maxStreamRate)
                  : 100.0)
        , faults(o.faults)
    {
        SensorModel &sensors = module.sensors();
        sensors.setErrors(SimSensorErrors::generate(o.seed, o.rotatedSoftIron));
        sensors.setErrorsEnabled(o.sensorErrors);
        sensors.setNoiseSeed(o.seed);
        sensors.setMotion(o.motion, 0);
    }

    double clock() const { return std::chrono::duration<double>(Clock::now() - origin).count(); }
    void wakeUp() const
    {
        if (wakeFds[1] >= 0) {
            const char b = 1;
            [[maybe_unused]] const auto n = ::write(wakeFds[1], &b, 1);
        }
    }

    void run();
    void serviceInput(double now);
    void serviceStream(double now, double rate, double quietUntil);
    void serviceOutput(double quietUntil);
    void noteHangup(bool hungUp);
    void doUnplug(int backAfterMs);
    void doReplug();

    const Options options;
    const Clock::time_point origin = Clock::now();

    // Guarded by `mutex`: shared with the callers' threads.
    mutable std::mutex mutex;
    std::condition_variable plugChanged;
    SimModule module;
    double streamRate;
    bool stamp = false;
    int stampNext = 1;
    std::deque<SimRequest> requestLog;
    SimFaults faults;
    double stallUntil = 0;
    int ignoredWritesFirst = 0;
    int ignoredWritesCount = 0;
    SimCounters counters;
    QString slavePath;
    bool running = false;
    bool plugged = false;
    bool stopRequested = false;
    PlugRequest plugRequest = PlugRequest::None;
    int unplugBackAfterMs = -1;
    double replugAt = -1;
    quint64 plugGeneration = 0;

    // The simulator thread's own.
    std::thread thread;
    int wakeFds[2] = {-1, -1};
    PseudoTerminal pty;
    RequestParser parser;
    OutputLine line {lineBytesPerSecond};
    bool listening = false;
    bool wantWritable = false;
    double nextStreamDue = 0;
    double lastStreamAt = -1; // when the latest streamed frame was queued
    double scheduledRate = 0; // the rate nextStreamDue was computed with
    SimModule::StreamMode lastMode = SimModule::StreamMode::Off;
};

void ModuleSimulator::Private::run()
{
    for (;;) {
        double now = clock();
        PlugRequest request;
        bool replugDue;
        int backAfter;
        double rate, quietUntil;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopRequested)
                break;
            request = plugRequest;
            plugRequest = PlugRequest::None;
            backAfter = unplugBackAfterMs;
            replugDue = !plugged && replugAt >= 0 && now >= replugAt;
            rate = streamRate;
            quietUntil = stallUntil;
        }
        if (request == PlugRequest::Unplug && pty.isOpen())
            doUnplug(backAfter);
        if ((request == PlugRequest::Replug || replugDue) && !pty.isOpen())
            doReplug();

        if (pty.isOpen()) {
            pollfd probe {pty.masterFd(), POLLIN, 0};
            ::poll(&probe, 1, 0);
            if (probe.revents & POLLIN)
                serviceInput(now);
            noteHangup((probe.revents & POLLHUP) && !(probe.revents & POLLIN));
            serviceStream(now, rate, quietUntil);
            serviceOutput(quietUntil);
        }

        // Sleep until the next thing to do, a request, or a call from outside.
        now = clock();
        double sleep = longestSleepSeconds;
        pollfd fds[2] = {{wakeFds[0], POLLIN, 0}, {pty.masterFd(), 0, 0}};
        nfds_t count = 1;
        if (!pty.isOpen()) {
            std::lock_guard<std::mutex> lock(mutex);
            if (replugAt >= 0)
                sleep = replugAt - now;
        } else if (!listening) {
            sleep = hangupProbeSeconds; // a hung-up master polls readable at once
        } else {
            fds[1].events = POLLIN | (wantWritable ? POLLOUT : 0);
            count = 2;
            if (!line.isEmpty() && !wantWritable)
                sleep = std::max(line.nextSendTime(), quietUntil) - now;
            else if (line.isEmpty() && lastMode != SimModule::StreamMode::Off)
                sleep = std::max(nextStreamDue, quietUntil) - now;
        }
        waitFor(fds, int(count), sleep);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeFds[0], drain, sizeof drain) > 0) { }
        }
    }
}

void ModuleSimulator::Private::serviceInput(double now)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pty.masterFd(), buffer, sizeof buffer);
        if (n <= 0)
            return;
        const auto requests = parser.feed(buffer, int(n), now);
        std::vector<QByteArray> answers;
        {
            std::lock_guard<std::mutex> lock(mutex);
            line.setFaults(faults); // as they are when the request arrived
            counters.bytesReceived += quint64(n);
            for (const auto &r : requests) {
                ++counters.requestsHandled;
                requestLog.push_back({now, r.write, r.address, r.count, r.data});
                if (requestLog.size() > maxLoggedRequests)
                    requestLog.pop_front();
                if (r.write) {
                    ++counters.writeRequests;
                    const int offset = int(r.address) - ignoredWritesFirst;
                    if (offset < 0 || offset >= ignoredWritesCount)
                        module.applyWrite(r.address, r.data);
                } else {
                    ++counters.readRequests;
                    answers.push_back(module.answerRead(r.address, r.count, now));
                }
            }
        }
        for (const QByteArray &answer : answers)
            line.enqueueFrame(answer, OutputLine::Kind::Answer);
    }
}

void ModuleSimulator::Private::noteHangup(bool hungUp)
{
    if (hungUp == !listening)
        return;
    listening = !hungUp;
    if (hungUp) {
        // Nobody holds the port: what the module sends now is lost on the line.
        line.clear();
        wantWritable = false;
        pty.discardSlaveInput();
        qCDebug(lcSim) << "nobody listens on" << pty.slavePath();
    } else {
        qCDebug(lcSim) << "a client opened" << pty.slavePath();
    }
}

void ModuleSimulator::Private::serviceStream(double now, double rate, double quietUntil)
{
    SimModule::StreamMode mode;
    {
        std::lock_guard<std::mutex> lock(mutex); // a request just handled may have changed it
        mode = module.streamMode();
    }
    const bool starting = mode != lastMode;
    lastMode = mode;
    if (mode == SimModule::StreamMode::Off)
        return;
    if (!listening || now < quietUntil || starting) {
        nextStreamDue = std::max(now, quietUntil);
        if (!listening || now < quietUntil)
            return;
    }
    if (rate != scheduledRate) {
        // A new rate counts from the latest frame, not from a slot drawn at the
        // old one: after 0.01/s the next frame would otherwise be 100 s away.
        if (lastStreamAt >= 0 && !starting)
            nextStreamDue = std::max(lastStreamAt + 1.0 / rate, quietUntil);
        scheduledRate = rate;
    }
    if (!line.isEmpty() || now < nextStreamDue)
        return;
    QByteArray frame;
    bool stamped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        line.setFaults(faults);
        stamped = stamp;
        frame = module.streamFrame(now, stamped ? stampNext : -1);
        if (stamped)
            stampNext = stampNext % 32767 + 1;
    }
    line.enqueueFrame(frame, OutputLine::Kind::Stream, stamped ? stampDataOffset : 0);
    // Keep the rate on average, but after the line was held up (a stall, the
    // filler of a cut frame) do not catch up in a burst: a real module drops
    // the samples it could not send, and frames at least half a period apart
    // reach a receiver as separate samples.
    const double period = 1.0 / rate;
    nextStreamDue = std::max(nextStreamDue + period, now + period / 2);
    lastStreamAt = now;
}

void ModuleSimulator::Private::serviceOutput(double quietUntil)
{
    while (listening && !line.isEmpty()) {
        const double now = clock();
        if (now < std::max(line.nextSendTime(), quietUntil))
            return;
        const OutputLine::Chunk &front = line.front();
        const OutputLine::Kind kind = front.kind;
        const ssize_t n
            = ::write(pty.masterFd(), front.bytes.constData(), size_t(front.bytes.size()));
        if (n <= 0) {
            wantWritable
                = n < 0 && errno == EAGAIN; // the client is not reading: wait, lose nothing
            return;
        }
        wantWritable = false;
        const auto openers
            = quint64(std::count_if(front.bytes.constData(), front.bytes.constData() + n,
                [](char b) { return b == char(0xBB) || b == char(0xEE); }));
        OutputLine::Chunk done;
        const bool complete = line.consumed(int(n), clock(), &done);
        std::lock_guard<std::mutex> lock(mutex);
        counters.bytesSent += quint64(n);
        if (kind == OutputLine::Kind::Noise) {
            counters.noiseBytes += quint64(n);
            counters.noiseOpenerBytes += openers;
        }
        if (!complete)
            continue;
        if (kind == OutputLine::Kind::Status)
            ++counters.statusMessages;
        counters.headerNoise += done.headerShaped ? 1 : 0;
        if (!done.endsFrame)
            continue;
        ++counters.dataFrames;
        counters.intactDataFrames += done.intact ? 1 : 0;
        counters.cutFrames += done.unpadded ? 1 : 0;
        if (kind == OutputLine::Kind::Stream) {
            ++counters.streamFrames;
            counters.intactStreamFrames += done.intact ? 1 : 0;
        }
    }
}

void ModuleSimulator::Private::doUnplug(int backAfterMs)
{
    qCInfo(lcSim) << "unplugged" << pty.slavePath();
    pty.close();
    line.clear();
    parser = RequestParser();
    listening = false;
    wantWritable = false;
    std::lock_guard<std::mutex> lock(mutex);
    plugged = false;
    replugAt = backAfterMs >= 0 ? clock() + backAfterMs / 1000.0 : -1;
    ++plugGeneration;
    plugChanged.notify_all();
}

void ModuleSimulator::Private::doReplug()
{
    QString error;
    const bool opened = pty.open(&error);
    if (!opened)
        qCWarning(lcSim) << "cannot open a pseudo-terminal:" << error;
    else if (!options.linkPath.isEmpty()
        && !pointSymlink(options.linkPath, pty.slavePath(), &error))
        qCWarning(lcSim) << error;
    if (opened)
        qCInfo(lcSim) << "plugged in again as" << pty.slavePath();
    std::lock_guard<std::mutex> lock(mutex);
    plugged = opened;
    if (opened)
        slavePath = pty.slavePath();
    replugAt = -1;
    ++plugGeneration;
    plugChanged.notify_all();
}

ModuleSimulator::ModuleSimulator()
    : ModuleSimulator(Options())
{ }

ModuleSimulator::ModuleSimulator(const Options &options)
    : d(std::make_unique<Private>(options))
{ }

ModuleSimulator::~ModuleSimulator()
{
    stop();
}

bool ModuleSimulator::start(QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->running)
        return true;
    if (!d->pty.open(error))
        return false;
    if (!d->options.linkPath.isEmpty()
        && !pointSymlink(d->options.linkPath, d->pty.slavePath(), error)) {
        d->pty.close();
        return false;
    }
    if (::pipe2(d->wakeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        if (error)
            *error = QStringLiteral("pipe2 failed");
        d->pty.close();
        return false;
    }
    d->slavePath = d->pty.slavePath();
    d->running = true;
    d->plugged = true;
    d->stopRequested = false;
    d->thread = std::thread([p = d.get()] { p->run(); });
    qCInfo(lcSim) << "serving on" << d->slavePath;
    return true;
}

void ModuleSimulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->running)
            return;
        d->stopRequested = true;
    }
    d->wakeUp();
    d->thread.join();
    QString lastSlave;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->running = false;
        d->plugged = false;
        lastSlave = d->slavePath;
    }
    d->pty.close();
    if (!d->options.linkPath.isEmpty())
        removeSymlinkTo(d->options.linkPath, lastSlave);
    for (int &fd : d->wakeFds) {
        ::close(fd);
        fd = -1;
    }
}

bool ModuleSimulator::isRunning() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->running;
}

QString ModuleSimulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->slavePath;
}

QString ModuleSimulator::linkPath() const
{
    return d->options.linkPath;
}

std::array<quint8, SimModule::imageSize> ModuleSimulator::registerImage() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.image();
}

void ModuleSimulator::setIgnoredWrites(int firstAddress, int count)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->ignoredWritesFirst = firstAddress;
    d->ignoredWritesCount = std::max(count, 0);
}

void ModuleSimulator::setHardwareVersion(quint16 version)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.setHardwareVersion(version);
}

void ModuleSimulator::setSensorsRange(quint8 range)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.setSensorsRange(range);
}

SimFullScales ModuleSimulator::fullScales() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.fullScales();
}

void ModuleSimulator::setMotion(const SimMotion &motion)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setMotion(motion, d->clock());
}

SimMotion ModuleSimulator::motion() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().motion();
}

SimTruth ModuleSimulator::truth() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.truth(d->clock());
}

void ModuleSimulator::setSensorErrorsEnabled(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setErrorsEnabled(on);
}

bool ModuleSimulator::sensorErrorsEnabled() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().errorsEnabled();
}

void ModuleSimulator::setSensorErrors(const SimSensorErrors &errors)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setErrors(errors);
}

SimSensorErrors ModuleSimulator::sensorErrors() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().errors();
}

void ModuleSimulator::setStreamRate(double framesPerSecond)
{
    if (!std::isfinite(framesPerSecond))
        return; // NaN would stream at the line limit, and nothing is slower than forever
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->streamRate = std::clamp(framesPerSecond, minStreamRate, maxStreamRate);
    }
    d->wakeUp();
}

double ModuleSimulator::streamRate() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->streamRate;
}

void ModuleSimulator::setSequenceStamp(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stamp = on;
    d->stampNext = 1;
}

void ModuleSimulator::setFaults(const SimFaults &faults)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->faults = faults;
    }
    d->wakeUp();
}

SimFaults ModuleSimulator::faults() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->faults;
}

void ModuleSimulator::stall(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stallUntil = std::max(d->stallUntil, d->clock() + milliseconds / 1000.0);
    }
    d->wakeUp();
}

void ModuleSimulator::unplug(int backAfterMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->running || !d->plugged)
        return;
    const quint64 generation = d->plugGeneration;
    d->plugRequest = Private::PlugRequest::Unplug;
    d->unplugBackAfterMs = backAfterMs;
    d->wakeUp();
    d->plugChanged.wait_for(
        lock, std::chrono::seconds(2), [&] { return d->plugGeneration != generation; });
}

void ModuleSimulator::replug()
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->running || d->plugged)
        return;
    const quint64 generation = d->plugGeneration;
    d->plugRequest = Private::PlugRequest::Replug;
    d->wakeUp();
    d->plugChanged.wait_for(
        lock, std::chrono::seconds(2), [&] { return d->plugGeneration != generation; });
}

bool ModuleSimulator::isPlugged() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->plugged;
}

SimCounters ModuleSimulator::counters() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->counters;
}

std::vector<SimRequest> ModuleSimulator::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return {d->requestLog.begin(), d->requestLog.end()};
}
