// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>

class QQuickWindow;

// What the process costs, read from the kernel: CPU seconds of all its threads
// (scene graph, software GL and link threads included), per thread name, and
// the resident set.
namespace processprobe {

double cpuSeconds();
// CPU seconds per thread name ("velmar-imu", "QSGRenderThread", "llvmpipe-0",
// ...); threads of one name are added up.
QMap<QString, double> cpuSecondsByThread();
// VmRSS in kB.
qint64 residentKb();

} // namespace processprobe

// How long the GUI thread goes without servicing a short precise timer: a
// longest gap well above the interval is a stall (a long paint, a wait for the
// render thread, a flood of queued events). Ticks on the GUI thread; the
// figures are read from any thread, and a stall still going on when the window
// closes counts up to that moment.
class StallProbe : public QObject
{
public:
    explicit StallProbe(int intervalMs = 5, QObject *parent = nullptr);

    // Starts the timer (GUI thread).
    void start();
    // The measuring window, from any thread.
    void openWindow();
    void closeWindow();
    double longestStallMs() const;
    int stallsOver50Ms() const { return m_stallsOver50.load(); }

    // Also times each wait of the GUI thread for the render thread: from
    // afterAnimating (GUI thread, about to ask for a sync) to afterSynchronizing
    // (render thread, sync done, GUI thread released). A long wait means the
    // render thread was still drawing the previous frame.
    void watchSync(QQuickWindow *window);
    double longestSyncWaitMs() const { return m_longestSync.load() / 1e6; }
    int syncWaitsOver30Ms() const { return m_syncsOver30.load(); }

private:
    void tick();
    qint64 now() const { return m_clock.nsecsElapsed(); }

    const int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::atomic<qint64> m_lastTick {0};
    std::atomic<qint64> m_windowStart {-1};
    std::atomic<qint64> m_windowEnd {-1};
    std::atomic<qint64> m_longestGap {0};
    std::atomic<int> m_stallsOver50 {0};
    std::atomic<qint64> m_syncAsked {-1};
    std::atomic<qint64> m_longestSync {0};
    std::atomic<int> m_syncsOver30 {0};
};
