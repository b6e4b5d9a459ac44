// SPDX-License-Identifier: GPL-3.0-or-later
#include "plotTicker.h"

#include "customPlotItem.h"

PlotTicker &PlotTicker::shared()
{
    static PlotTicker ticker;
    return ticker;
}

PlotTicker::PlotTicker()
{
    m_timer.setInterval(CustomPlotItem::replotIntervalMs);
    // A precise timer: coarse ones may fire 5% late, which at 50 ms drops the
    // charts below the 20 replots a second they are meant to show.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PlotTicker::tick);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] { setStreaming(false); });
}

void PlotTicker::setStreaming(bool on)
{
    if (on == m_streaming)
        return;
    m_streaming = on;
    emit streamingChanged();
}

void PlotTicker::setIntervalMs(int ms)
{
    m_timer.setInterval(ms);
}

void PlotTicker::wake()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void PlotTicker::add(CustomPlotItem *chart)
{
    if (!m_charts.contains(chart))
        m_charts.append(chart);
}

void PlotTicker::remove(CustomPlotItem *chart)
{
    m_charts.removeAll(chart);
}

void PlotTicker::tick()
{
    bool busy = false;
    // A replot may not add or remove charts, but copy anyway: it is cheap.
    const QVector<CustomPlotItem *> charts = m_charts;
    for (CustomPlotItem *chart : charts)
        busy = chart->onTick() || busy;
    if (busy) {
        m_quiet.stop();
        setStreaming(true);
    } else {
        m_timer.stop();
        if (m_streaming && !m_quiet.isActive())
            m_quiet.start();
    }
}
