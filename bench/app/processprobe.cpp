// SPDX-License-Identifier: GPL-3.0-or-later
#include "processprobe.h"

#include <QQuickWindow>

#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

namespace processprobe {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QMap<QString, double> cpuSecondsByThread()
{
    QMap<QString, double> byName;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QStringList tasks
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        QFile statFile(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!statFile.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = statFile.readAll();
        // "pid (comm) state ..." - the name may hold blanks and parentheses.
        const int open = stat.indexOf('(');
        const int close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        QString name = QString::fromLocal8Bit(stat.mid(open + 1, close - open - 1));
        // Numbered worker threads count as one kind.
        while (!name.isEmpty() && (name.back().isDigit() || name.back() == QLatin1Char('-')))
            name.chop(1);
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        // Fields 14 and 15 of stat (utime, stime) are 11 and 12 after the name.
        byName[name] += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return byName;
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace processprobe

StallProbe::StallProbe(int intervalMs, QObject *parent)
    : QObject(parent)
    , m_intervalMs(intervalMs)
{
    m_clock.start();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

void StallProbe::start()
{
    m_lastTick = now();
    m_timer.start();
}

void StallProbe::watchSync(QQuickWindow *window)
{
    connect(
        window, &QQuickWindow::afterAnimating, this, [this] { m_syncAsked = now(); },
        Qt::DirectConnection);
    connect(
        window, &QQuickWindow::afterSynchronizing, this,
        [this] {
            const qint64 asked = m_syncAsked.exchange(-1);
            const qint64 start = m_windowStart.load();
            if (asked < 0 || start < 0 || m_windowEnd.load() >= 0 || asked < start)
                return;
            const qint64 wait = now() - asked;
            if (wait > m_longestSync)
                m_longestSync = wait;
            if (wait > 30000000)
                ++m_syncsOver30;
        },
        Qt::DirectConnection);
}

void StallProbe::openWindow()
{
    m_longestGap = 0;
    m_stallsOver50 = 0;
    m_longestSync = 0;
    m_syncsOver30 = 0;
    m_windowEnd = -1;
    m_windowStart = now();
}

void StallProbe::closeWindow()
{
    // A stall that is still going on ends the window with it.
    const qint64 end = now();
    const qint64 open = std::max(m_lastTick.load(), m_windowStart.load());
    if (end - open > m_longestGap)
        m_longestGap = end - open;
    m_windowEnd = end;
}

double StallProbe::longestStallMs() const
{
    return std::max(0.0, m_longestGap.load() / 1e6 - m_intervalMs);
}

void StallProbe::tick()
{
    const qint64 at = now();
    const qint64 last = m_lastTick.exchange(at);
    const qint64 start = m_windowStart.load();
    if (start < 0 || m_windowEnd.load() >= 0 || at <= start)
        return;
    // Only the part of the gap inside the window counts.
    const qint64 gap = at - std::max(last, start);
    if (gap > m_longestGap)
        m_longestGap = gap;
    if (gap / 1e6 - m_intervalMs > 50)
        ++m_stallsOver50;
}
