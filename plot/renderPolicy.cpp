// SPDX-License-Identifier: GPL-3.0-or-later
#include "renderPolicy.h"

#include "customPlotItem.h"
#include "plotTicker.h"

RenderPolicy &RenderPolicy::shared()
{
    static RenderPolicy policy;
    return policy;
}

RenderPolicy::RenderPolicy()
{
    connect(&PlotTicker::shared(), &PlotTicker::streamingChanged, this,
        &RenderPolicy::streamingChanged);
}

bool RenderPolicy::streaming() const
{
    return PlotTicker::shared().isStreaming();
}

void RenderPolicy::setSoftware(bool on)
{
    PlotTicker::shared().setIntervalMs(
        on ? CustomPlotItem::softwareReplotIntervalMs : CustomPlotItem::replotIntervalMs);
    if (on == m_software)
        return;
    m_software = on;
    emit softwareChanged();
}
