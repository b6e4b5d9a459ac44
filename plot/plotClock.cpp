// SPDX-License-Identifier: GPL-3.0-or-later
#include "plotClock.h"

PlotClock &PlotClock::shared()
{
    static PlotClock clock;
    return clock;
}

void PlotClock::start()
{
    if (!source && !realTimer.isValid())
        realTimer.start();
    startMs = now();
    started = true;
}

qint64 PlotClock::elapsedMs() const
{
    return started ? now() - startMs : 0;
}

void PlotClock::setTimeSourceForTesting(std::function<qint64()> nowMs)
{
    source = std::move(nowMs);
    started = false;
    startMs = 0;
}

qint64 PlotClock::now() const
{
    if (source)
        return source();
    return realTimer.isValid() ? realTimer.elapsed() : 0;
}
