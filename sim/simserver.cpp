// SPDX-License-Identifier: GPL-3.0-or-later
#include "simserver.h"

#include "simlog.h"

#include <registermap.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/select.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSim, "velmar.sim", QtInfoMsg)

namespace {
// raw "Gyroscope X" in a streamed frame
constexpr int stampDataOffset = RegisterMap::Gyro.address - RegisterMap::StreamedAll.address;
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

SimServer::SimServer(const ModuleSimulator::Options &o)
    : options(o)
    , module(o.identity)
    , streamRate(std::isfinite(o.streamRate) ? std::clamp(
                     o.streamRate, ModuleSimulator::minStreamRate, ModuleSimulator::maxStreamRate)
                                             : 100.0)
    , faults(o.faults)
{
    SensorModel &sensors = module.sensors();
    sensors.setErrors(SimSensorErrors::generate(o.seed, o.rotatedSoftIron));
    sensors.setErrorsEnabled(o.sensorErrors);
    sensors.setNoiseSeed(o.seed);
    if (o.stochastic)
        sensors.setStochastic(*o.stochastic, o.seed);
    sensors.setMotion(o.motion, 0);
    module.setLookalikeHeaders(o.lookalikeHeaders);
}

void SimServer::wakeUp() const
{
    if (wakeFds[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] const auto n = ::write(wakeFds[1], &b, 1);
    }
}

bool SimServer::start(QString *error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (running)
        return true;
    if (!pty.open(error))
        return false;
    if (!options.linkPath.isEmpty() && !pointSymlink(options.linkPath, pty.slavePath(), error)) {
        pty.close();
        return false;
    }
    if (::pipe2(wakeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        if (error)
            *error = QStringLiteral("pipe2 failed");
        pty.close();
        return false;
    }
    slavePath = pty.slavePath();
    running = true;
    plugged = true;
    stopRequested = false;
    thread = std::thread([this] { run(); });
    qCInfo(lcSim) << "serving on" << slavePath;
    return true;
}

void SimServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!running)
            return;
        stopRequested = true;
    }
    wakeUp();
    thread.join();
    QString lastSlave;
    {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
        plugged = false;
        lastSlave = slavePath;
    }
    pty.close();
    if (!options.linkPath.isEmpty())
        removeSymlinkTo(options.linkPath, lastSlave);
    for (int &fd : wakeFds) {
        ::close(fd);
        fd = -1;
    }
}

void SimServer::unplug(int backAfterMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!running || !plugged)
        return;
    const quint64 generation = plugGeneration;
    plugRequest = PlugRequest::Unplug;
    unplugBackAfterMs = backAfterMs;
    wakeUp();
    plugChanged.wait_for(
        lock, std::chrono::seconds(2), [&] { return plugGeneration != generation; });
}

void SimServer::replug()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!running || plugged)
        return;
    const quint64 generation = plugGeneration;
    plugRequest = PlugRequest::Replug;
    wakeUp();
    plugChanged.wait_for(
        lock, std::chrono::seconds(2), [&] { return plugGeneration != generation; });
}

void SimServer::run()
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
            // Before the input: a client that opens onto a stream meets the
            // frames already on their way before any answer.
            noteHangup((probe.revents & POLLHUP) && !(probe.revents & POLLIN));
            if (joinMidFrame && options.identity.control1 >= 0)
                sendJoinBacklog(now);
            if (probe.revents & POLLIN)
                serviceInput(now);
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

void SimServer::serviceInput(double now)
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

void SimServer::noteHangup(bool hungUp)
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
        joinMidFrame = true;
    }
}

// A module that streams does not wait for a client: one that opens the port
// meets the rest of the frame on the wire, then the few frames an adapter's
// buffer holds, before the answer to anything it asks. Only for a module
// started streaming (--stream): the other scenarios keep their line as it was.
void SimServer::sendJoinBacklog(double now)
{
    joinMidFrame = false;
    std::vector<QByteArray> frames;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (module.streamMode() == SimModule::StreamMode::Off)
            return;
        for (int i = 0; i <= joinBacklogFrames; ++i)
            frames.push_back(module.streamFrame(now));
    }
    std::mt19937_64 draw(options.seed * 7919 + joinCount++);
    const int cut = 1 + int(draw() % quint64(frames.front().size() - 1));
    line.enqueueFrame(frames.front().mid(cut), OutputLine::Kind::Noise);
    for (std::size_t i = 1; i < frames.size(); ++i)
        line.enqueueFrame(frames[i], OutputLine::Kind::Stream);
}

void SimServer::serviceStream(double now, double rate, double quietUntil)
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

void SimServer::serviceOutput(double quietUntil)
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

void SimServer::doUnplug(int backAfterMs)
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

void SimServer::doReplug()
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
