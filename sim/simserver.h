// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulesimulator.h"
#include "outputline.h"
#include "pseudoterminal.h"
#include "requestparser.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The serving side of ModuleSimulator: its own thread reads requests from the
// pseudo-terminal, lets SimModule answer them, streams, and paces everything
// through OutputLine; it also pulls and puts back the simulated cable. What
// the callers' threads may touch is guarded by `mutex`; the rest is the
// thread's own.
class SimServer
{
public:
    using Clock = std::chrono::steady_clock;

    enum class PlugRequest { None, Unplug, Replug };

    explicit SimServer(const ModuleSimulator::Options &options);

    double clock() const { return std::chrono::duration<double>(Clock::now() - origin).count(); }
    // Wakes the thread from its sleep: something from outside is waiting.
    void wakeUp() const;

    // Opens the pseudo-terminal, makes the link and starts the thread.
    bool start(QString *error);
    // Stops the thread, closes the pseudo-terminal and removes the link.
    void stop();
    // Asks the thread to pull or put back the cable, and waits (at most 2 s)
    // until it has.
    void unplug(int backAfterMs);
    void replug();

    void run();
    void serviceInput(double now);
    void serviceStream(double now, double rate, double quietUntil);
    void serviceOutput(double quietUntil);
    void noteHangup(bool hungUp);
    void doUnplug(int backAfterMs);
    void doReplug();

    const ModuleSimulator::Options options;
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
    OutputLine line {ModuleSimulator::lineBytesPerSecond};
    bool listening = false;
    // A client just opened while the module streams: see sendJoinBacklog.
    bool joinMidFrame = false;
    quint64 joinCount = 0;
    static constexpr int joinBacklogFrames = 4;
    void sendJoinBacklog(double now);
    bool wantWritable = false;
    double nextStreamDue = 0;
    double lastStreamAt = -1; // when the latest streamed frame was queued
    double scheduledRate = 0; // the rate nextStreamDue was computed with
    SimModule::StreamMode lastMode = SimModule::StreamMode::Off;
};
