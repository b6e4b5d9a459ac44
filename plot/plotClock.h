// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <functional>

// One time origin for every chart, so that charts created at different
// moments line up on the same time axis. Started by the first data point any
// chart receives. Tests may swap the time source to step time by hand.
class PlotClock
{
public:
    static PlotClock &shared();

    bool isStarted() const { return started; }
    void start();
    qint64 elapsedMs() const;

    // nowMs returns a monotonic time in milliseconds; an empty function
    // restores the real clock. Either way the clock is left unstarted.
    void setTimeSourceForTesting(std::function<qint64()> nowMs);

private:
    qint64 now() const;

    QElapsedTimer realTimer;
    std::function<qint64()> source;
    qint64 startMs = 0;
    bool started = false;
};
