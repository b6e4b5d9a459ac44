// SPDX-License-Identifier: GPL-3.0-or-later
#include "headingturns.h"

#include <cmath>

namespace {

struct Stats
{
    QVector3D mean;
    double worstDeviation = 0; // largest per-axis standard deviation
};

Stats stats(const std::deque<QVector3D> &window)
{
    Stats s;
    double sum[3] = {}, squares[3] = {};
    for (const QVector3D &v : window) {
        for (int i = 0; i < 3; ++i) {
            sum[i] += double(v[i]);
            squares[i] += double(v[i]) * double(v[i]);
        }
    }
    const double n = double(window.size());
    for (int i = 0; i < 3; ++i) {
        const double mean = sum[i] / n;
        s.mean[i] = float(mean);
        s.worstDeviation
            = std::max(s.worstDeviation, std::sqrt(std::max(0.0, squares[i] / n - mean * mean)));
    }
    return s;
}

} // namespace

void HeadingTurns::start(const Calibration::ParamBlock &active)
{
    *this = HeadingTurns();
    m_running = true;
    m_active = active;
    const float *m = active.data() + 3;
    const double det = double(m[0]) * (double(m[4]) * m[8] - double(m[5]) * m[7])
        - double(m[1]) * (double(m[3]) * m[8] - double(m[5]) * m[6])
        + double(m[2]) * (double(m[3]) * m[7] - double(m[4]) * m[6]);
    m_undoable = Calibration::isFiniteBlock(active) && std::isfinite(det) && std::fabs(det) > 1e-12;
    if (m_undoable) {
        const double inv[9] = {double(m[4]) * m[8] - double(m[5]) * m[7],
            double(m[2]) * m[7] - double(m[1]) * m[8], double(m[1]) * m[5] - double(m[2]) * m[4],
            double(m[5]) * m[6] - double(m[3]) * m[8], double(m[0]) * m[8] - double(m[2]) * m[6],
            double(m[2]) * m[3] - double(m[0]) * m[5], double(m[3]) * m[7] - double(m[4]) * m[6],
            double(m[1]) * m[6] - double(m[0]) * m[7], double(m[0]) * m[4] - double(m[1]) * m[3]};
        for (int i = 0; i < 9; ++i)
            m_inverse[i] = inv[i] / det;
    }
}

bool HeadingTurns::add(const QVector3D &acc, const QVector3D &mag)
{
    if (!m_running || !m_undoable || done())
        return false;
    m_acc.push_back(acc);
    m_mag.push_back(mag);
    if (int(m_acc.size()) > restSamples) {
        m_acc.pop_front();
        m_mag.pop_front();
    }
    if (int(m_acc.size()) < restSamples)
        return false;
    const Stats a = stats(m_acc);
    const Stats f = stats(m_mag);
    const double g = double(a.mean.length());
    const double field = double(f.mean.length());
    m_flat = g > 0 && std::fabs(double(a.mean.z())) / g >= flatCos;
    const bool still = g > 0 && field > 0 && a.worstDeviation <= accStill * g
        && f.worstDeviation <= magStill * field;
    if (!still || !m_flat) {
        m_settled = false;
        return false;
    }
    // A slow turn can be quiet sample to sample: the two halves of the window
    // must agree as well.
    const int half = restSamples / 2;
    const Stats early = stats(std::deque<QVector3D>(m_mag.begin(), m_mag.begin() + half));
    const Stats late = stats(std::deque<QVector3D>(m_mag.begin() + half, m_mag.end()));
    if (double((early.mean - late.mean).length()) > magSettled * field)
        return false;
    if (!m_stops.empty()
        && double((f.mean - m_lastStopMag).length()) < moved * double(m_lastStopMag.length()))
        return false; // still where the last heading was taken
    // The first still window may hold the end of the turn: the stop is the
    // mean of the window after it.
    if (!m_settled) {
        m_settled = true;
        m_acc.clear();
        m_mag.clear();
        return false;
    }
    // The field as the sensor read it: raw = M^-1 * sent + offset.
    QVector3D raw;
    for (int r = 0; r < 3; ++r) {
        double v = double(m_active[std::size_t(r)]);
        for (int c = 0; c < 3; ++c)
            v += m_inverse[3 * r + c] * double(f.mean[c]);
        raw[r] = float(v);
    }
    HeadingStop stop;
    stop.turnedDeg = targetDeg();
    stop.acc = a.mean;
    stop.mag = raw;
    m_stops.push_back(stop);
    m_lastStopMag = f.mean;
    m_acc.clear();
    m_mag.clear();
    m_settled = false;
    if (done())
        m_running = false;
    return true;
}

QString HeadingTurns::hint() const
{
    if (!m_undoable && (m_running || m_stops.empty()))
        return QStringLiteral(
            "The module's calibration cannot be undone; the heading check cannot run.");
    if (done())
        return QStringLiteral("All %1 headings taken.").arg(headingCount);
    if (!m_running)
        return QString();
    if (!m_flat)
        return QStringLiteral("Lay the module flat.");
    if (m_stops.empty())
        return QStringLiteral("Lay the module flat, note its heading as 0°, and hold it still.");
    return QStringLiteral(
        "Turn the module to %1° (anticlockwise seen from above) and hold it still.")
        .arg(targetDeg(), 0, 'f', 0);
}
