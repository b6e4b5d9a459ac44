// SPDX-License-Identifier: GPL-3.0-or-later
#include "spherecoverage.h"

#include <cmath>

SphereCoverage::SphereCoverage(int cells)
{
    // The golden-angle spiral: equal steps in z give equal areas, the angle
    // spreads neighbours evenly, so every cell is about 4 pi / cells.
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    m_centres.reserve(std::size_t(cells));
    for (int i = 0; i < cells; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / cells;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = golden * i;
        m_centres.push_back({r * std::cos(phi), r * std::sin(phi), z});
    }
    m_hits.assign(std::size_t(cells), 0);
}

void SphereCoverage::clear()
{
    std::fill(m_hits.begin(), m_hits.end(), 0);
}

int SphereCoverage::cellOf(double x, double y, double z) const
{
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length))
        return -1;
    int best = -1;
    double bestDot = -2.0;
    for (std::size_t i = 0; i < m_centres.size(); ++i) {
        const Direction &c = m_centres[i];
        const double dot = (c[0] * x + c[1] * y + c[2] * z) / length;
        if (dot > bestDot) {
            bestDot = dot;
            best = int(i);
        }
    }
    return best;
}

int SphereCoverage::add(double x, double y, double z)
{
    const int cell = cellOf(x, y, z);
    if (cell >= 0)
        ++m_hits[std::size_t(cell)];
    return cell;
}

int SphereCoverage::coveredCells() const
{
    int count = 0;
    for (int hits : m_hits)
        count += hits > 0 ? 1 : 0;
    return count;
}

double SphereCoverage::coveredPercent() const
{
    return m_hits.empty() ? 0.0 : 100.0 * coveredCells() / double(m_hits.size());
}

SphereCoverage::Direction SphereCoverage::mostMissing(double radiusDeg) const
{
    const double limit = std::cos(radiusDeg * M_PI / 180.0);
    int bestCount = 0;
    Direction best {0, 0, 0};
    for (const Direction &candidate : m_centres) {
        int count = 0;
        Direction sum {0, 0, 0};
        for (std::size_t i = 0; i < m_centres.size(); ++i) {
            const Direction &c = m_centres[i];
            if (m_hits[i] > 0
                || c[0] * candidate[0] + c[1] * candidate[1] + c[2] * candidate[2] < limit)
                continue;
            ++count;
            for (int a = 0; a < 3; ++a)
                sum[std::size_t(a)] += c[std::size_t(a)];
        }
        if (count > bestCount) {
            bestCount = count;
            best = sum;
        }
    }
    const double length = std::sqrt(best[0] * best[0] + best[1] * best[1] + best[2] * best[2]);
    if (length > 0.0) {
        for (double &v : best)
            v /= length;
    }
    return best;
}

QString SphereCoverage::faceTowards(const Direction &d)
{
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (std::fabs(d[std::size_t(a)]) > std::fabs(d[std::size_t(axis)]))
            axis = a;
    }
    const QChar sign = d[std::size_t(axis)] < 0 ? QLatin1Char('-') : QLatin1Char('+');
    return QString(sign) + QLatin1Char("XYZ"[axis]);
}
