// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "customPlotItem.h"

#include <atomic>

// The application's chart item with counters around its two drawings: the
// replot into QCustomPlot's own buffers (GUI thread, timed between the plot's
// beforeReplot and afterReplot signals) and paint(), which renders the plot
// once more into an image for the scene graph. Times are the drawing thread's
// own CPU time, so a busy machine does not inflate them. Registered in place
// of CustomPlotItem, so the real QML documents create it unchanged.
class CountingPlotItem : public CustomPlotItem
{
    Q_OBJECT
public:
    explicit CountingPlotItem(QQuickItem *parent = nullptr);
    ~CountingPlotItem() override;

    void paint(QPainter *painter) override;

    struct Counts
    {
        qint64 paints = 0;
        qint64 paintNs = 0;
        qint64 replots = 0;
        qint64 replotNs = 0;
    };
    // Totals since creation; readable from any thread.
    Counts counts() const;

    // Every chart alive now, in creation order (GUI thread only).
    static const QList<CountingPlotItem *> &all();
    // Diagnosis only: draw each curve as one stroked polyline (the chart draws
    // segments), to see what that costs. Set before the documents load.
    static void setStrokedPolylines(bool on);

    // CPU time of the calling thread.
    static qint64 threadCpuNs();

protected:
    void componentComplete() override;

private:
    std::atomic<qint64> m_paints {0};
    std::atomic<qint64> m_paintNs {0};
    std::atomic<qint64> m_replots {0};
    std::atomic<qint64> m_replotNs {0};
    qint64 m_replotStartNs = -1;
};
