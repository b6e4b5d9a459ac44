// SPDX-License-Identifier: GPL-3.0-or-later
#include "livemonitor.h"

#include "countingplotitem.h"
#include "processprobe.h"

#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

LiveMonitor::LiveMonitor(const Plan &plan, LiveCounters &counters, StallProbe &stalls,
    QList<CountingPlotItem *> charts, QStringList chartNames)
    : m_plan(plan)
    , m_counters(counters)
    , m_stalls(stalls)
    , m_charts(std::move(charts))
    , m_chartNames(std::move(chartNames))
{ }

LiveMonitor::~LiveMonitor()
{
    if (m_thread.joinable())
        m_thread.join();
}

void LiveMonitor::start(std::function<void()> finish, std::function<void()> abandon)
{
    m_finish = std::move(finish);
    m_abandon = std::move(abandon);
    m_thread = std::thread([this] { run(); });
}

void LiveMonitor::run()
{
    // The stream must reach the interface before anything is worth measuring.
    QElapsedTimer waited;
    waited.start();
    while (m_plan.needSamples && m_counters.samples.load() <= 50 && waited.elapsed() < 15000)
        sleepMs(20);
    if (m_plan.needSamples && m_counters.samples.load() <= 50) {
        std::fprintf(stderr, "no samples reach the interface\n");
    } else {
        sleepMs(m_plan.warmupSeconds * 1000);

        std::vector<CountingPlotItem::Counts> before;
        for (CountingPlotItem *chart : m_charts)
            before.push_back(chart->counts());
        const qint64 samplesBefore = m_counters.samples.load();
        const qint64 framesBefore = m_counters.frames.load();
        const qint64 rssBase = processprobe::residentKb();
        const auto threadsBefore = processprobe::cpuSecondsByThread();
        const double cpuBefore = processprobe::cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        m_stalls.openWindow();
        qint64 rssPeak = rssBase;
        for (int s = 0; s < m_plan.seconds; ++s) {
            // Whole seconds of wall time from the start, whatever the sleeps overran.
            const qint64 due = (s + 1) * 1000LL - wall.elapsed();
            if (due > 0)
                sleepMs(int(due));
            rssPeak = std::max(rssPeak, processprobe::residentKb());
        }
        m_stalls.closeWindow();
        const double elapsed = wall.nsecsElapsed() / 1e9;
        const double cpu = processprobe::cpuSeconds() - cpuBefore;
        const auto threadsAfter = processprobe::cpuSecondsByThread();
        const qint64 rssEnd = processprobe::residentKb();
        const double samples = (m_counters.samples.load() - samplesBefore) / elapsed;
        const double frames = (m_counters.frames.load() - framesBefore) / elapsed;

        QStringList perChart;
        double paints = 0, replots = 0, paintMs = 0, replotMs = 0, minPaints = 1e9, maxPaints = 0;
        for (int i = 0; i < m_charts.size(); ++i) {
            const CountingPlotItem::Counts now = m_charts[i]->counts();
            const CountingPlotItem::Counts &then = before[std::size_t(i)];
            const double rate = (now.paints - then.paints) / elapsed;
            const double replotRate = (now.replots - then.replots) / elapsed;
            minPaints = std::min(minPaints, rate);
            maxPaints = std::max(maxPaints, rate);
            paints += rate;
            replots += replotRate;
            paintMs += (now.paintNs - then.paintNs) / 1e6;
            replotMs += (now.replotNs - then.replotNs) / 1e6;
            perChart << QStringLiteral("%1:%2/%3")
                            .arg(m_chartNames.value(i))
                            .arg(rate, 0, 'f', 1)
                            .arg(replotRate, 0, 'f', 1);
        }
        const int chartCount = std::max(1, int(m_charts.size()));
        QStringList threadCpu;
        for (auto it = threadsAfter.begin(); it != threadsAfter.end(); ++it) {
            const double used = (it.value() - threadsBefore.value(it.key())) / elapsed;
            if (used >= 0.005)
                threadCpu << QStringLiteral("%1:%2")
                                 .arg(QString(it.key()).replace(QLatin1Char(' '), QLatin1Char('_')))
                                 .arg(used, 0, 'f', 3);
        }

        if (m_plan.kv) {
            std::printf(
                "mode=%s seconds=%.1f samples_per_second=%.1f cpu_per_second=%.3f charts=%d "
                "chart_paints_per_second=%.1f chart_paints_min=%.1f chart_paints_max=%.1f "
                "chart_replots_per_second=%.1f paint_cpu_ms_per_second=%.1f "
                "replot_cpu_ms_per_second=%.1f "
                "frames_per_second=%.1f longest_stall_ms=%.1f stalls_over_50ms=%d "
                "longest_sync_wait_ms=%.1f "
                "sync_waits_over_30ms=%d rss_base_kb=%lld "
                "rss_end_kb=%lld rss_peak_kb=%lld thread_cpu=%s\n",
                qPrintable(m_plan.mode), elapsed, samples, cpu / elapsed, int(m_charts.size()),
                paints / chartCount, minPaints, maxPaints, replots / chartCount, paintMs / elapsed,
                replotMs / elapsed, frames, m_stalls.longestStallMs(), m_stalls.stallsOver50Ms(),
                m_stalls.longestSyncWaitMs(), m_stalls.syncWaitsOver30Ms(), rssBase, rssEnd,
                rssPeak, qPrintable(threadCpu.join(QLatin1Char(','))));
        } else {
            std::printf("%s, %.0f s at %.0f samples/s on %d charts\n", qPrintable(m_plan.mode),
                elapsed, samples, int(m_charts.size()));
            std::printf("  CPU %.3f s/s; threads: %s\n", cpu / elapsed,
                qPrintable(threadCpu.join(QLatin1Char(' '))));
            std::printf("  chart paints/s %.1f (min %.1f, max %.1f), replots/s %.1f; per chart "
                        "paints/replots: %s\n",
                paints / chartCount, minPaints, maxPaints, replots / chartCount,
                qPrintable(perChart.join(QLatin1Char(' '))));
            std::printf(
                "  drawing (thread CPU): paint %.1f ms/s, replot %.1f ms/s; window frames/s %.1f\n",
                paintMs / elapsed, replotMs / elapsed, frames);
            std::printf("  GUI thread longest stall %.1f ms, stalls over 50 ms: %d\n",
                m_stalls.longestStallMs(), m_stalls.stallsOver50Ms());
            std::printf("  GUI thread waiting for the render thread's sync: longest %.1f ms, %d "
                        "waits over 30 ms\n",
                m_stalls.longestSyncWaitMs(), m_stalls.syncWaitsOver30Ms());
            std::printf("  resident set: %lld kB at start, %lld kB at end (peak %lld kB)\n",
                rssBase, rssEnd, rssPeak);
        }
        std::fflush(stdout);
        m_succeeded = true;
    }

    m_finish();
    QElapsedTimer grace;
    grace.start();
    while (!m_guiReturned && grace.elapsed() < 20000)
        sleepMs(50);
    if (!m_guiReturned) {
        std::fprintf(
            stderr, "the GUI thread did not return to its event loop within 20 s; ending\n");
        m_abandon();
        std::fflush(nullptr);
        std::_Exit(m_succeeded ? 0 : 1);
    }
}
