// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

class CountingPlotItem;
class StallProbe;

// Counted on the GUI thread (samples) and the render thread (frames).
struct LiveCounters
{
    std::atomic<qint64> samples {0};
    std::atomic<qint64> frames {0};
};

// Runs the measurement of a live run on its own thread, by the wall clock, so
// that it ends and reports on time even when the GUI thread is flooded and its
// timers no longer fire (as with a replot per sample at the line limit). When
// done it prints the figures and calls `finish` (which asks the GUI thread to
// quit); if the GUI thread has not returned `guiReturned` within 20 s, it
// calls `abandon` and ends the process.
class LiveMonitor
{
public:
    struct Plan
    {
        int warmupSeconds = 10;
        int seconds = 30;
        QString mode;
        bool kv = false;
        // False to measure a window with no stream (not connected).
        bool needSamples = true;
    };

    LiveMonitor(const Plan &plan, LiveCounters &counters, StallProbe &stalls,
        QList<CountingPlotItem *> charts, QStringList chartNames);
    ~LiveMonitor();

    void start(std::function<void()> finish, std::function<void()> abandon);
    void guiReturned() { m_guiReturned = true; }
    bool succeeded() const { return m_succeeded; }

private:
    void run();

    Plan m_plan;
    LiveCounters &m_counters;
    StallProbe &m_stalls;
    QList<CountingPlotItem *> m_charts;
    QStringList m_chartNames;
    std::function<void()> m_finish;
    std::function<void()> m_abandon;
    std::atomic<bool> m_guiReturned {false};
    std::atomic<bool> m_succeeded {false};
    std::thread m_thread;
};
