// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>

class CustomPlotItem;

// The one timer every chart replots on, so that the charts of a page are
// drawn together in one pass instead of each on a timer of its own. It runs
// only while data arrives: a tick in which no chart had anything new to show
// stops it, and the next data write starts it again.
class PlotTicker : public QObject
{
    Q_OBJECT

public:
    static PlotTicker &shared();

    // 30 ms on hardware OpenGL; a software renderer draws less (50 ms).
    void setIntervalMs(int ms);
    int intervalMs() const { return m_timer.interval(); }
    bool isActive() const { return m_timer.isActive(); }

    // Starts the timer unless it runs already.
    void wake();

    void add(CustomPlotItem *chart);
    void remove(CustomPlotItem *chart);

    // One tick, as the timer would run it.
    void tick();

    // True from the first tick with something to draw until the charts have
    // had nothing new for quietMs: whether a stream is being shown.
    bool isStreaming() const { return m_streaming; }
    static constexpr int quietMs = 2000;

signals:
    void streamingChanged();

private:
    PlotTicker();
    void setStreaming(bool on);

    QTimer m_timer;
    QTimer m_quiet;
    bool m_streaming = false;
    QVector<CustomPlotItem *> m_charts;
};
