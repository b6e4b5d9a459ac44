#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

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
// longest gap well above the interval is a stall (a long paint, a blocking
// call, a slow binding).
class StallProbe : public QObject
{
public:
    explicit StallProbe(int intervalMs = 5, QObject *parent = nullptr);

    void start();
    void stop();

    double longestStallMs() const { return m_longestNs / 1e6 - m_intervalMs; }
    int stallsOver(double ms) const;

private:
    void tick();

    int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longestNs = 0;
    QVector<qint64> m_gapsNs;
};
