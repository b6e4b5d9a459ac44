// SPDX-License-Identifier: GPL-3.0-or-later
#include "countingplotitem.h"

#include <qcustomplot.h>

#include <time.h>

namespace {
bool strokedPolylines = false;

QList<CountingPlotItem *> &registry()
{
    static QList<CountingPlotItem *> items;
    return items;
}
} // namespace

CountingPlotItem::CountingPlotItem(QQuickItem *parent)
    : CustomPlotItem(parent)
{
    registry().append(this);
}

CountingPlotItem::~CountingPlotItem()
{
    registry().removeOne(this);
}

const QList<CountingPlotItem *> &CountingPlotItem::all()
{
    return registry();
}

void CountingPlotItem::setStrokedPolylines(bool on)
{
    strokedPolylines = on;
}

qint64 CountingPlotItem::threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void CountingPlotItem::componentComplete()
{
    CustomPlotItem::componentComplete();
    // The documents set signalNames before completion, which creates the plot.
    if (QCustomPlot *plot = customPlot()) {
        if (strokedPolylines)
            plot->setPlottingHint(QCP::phFastPolylines, false);
        connect(
            plot, &QCustomPlot::beforeReplot, this, [this] { m_replotStartNs = threadCpuNs(); });
        connect(plot, &QCustomPlot::afterReplot, this, [this] {
            ++m_replots;
            if (m_replotStartNs >= 0)
                m_replotNs += threadCpuNs() - m_replotStartNs;
        });
    }
}

void CountingPlotItem::paint(QPainter *painter)
{
    // May run on the scene graph's render thread while the GUI thread waits.
    const qint64 start = threadCpuNs();
    CustomPlotItem::paint(painter);
    m_paintNs.fetch_add(threadCpuNs() - start, std::memory_order_relaxed);
    m_paints.fetch_add(1, std::memory_order_relaxed);
}

CountingPlotItem::Counts CountingPlotItem::counts() const
{
    return {m_paints.load(), m_paintNs.load(), m_replots.load(), m_replotNs.load()};
}
