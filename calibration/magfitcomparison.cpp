// SPDX-License-Identifier: GPL-3.0-or-later
#include "magfitcomparison.h"

#include "ellipsoidfit.h"

#include <cmath>
#include <limits>

namespace {

std::array<float, 3> corrected(const QVector4D &p, const Calibration::ParamBlock &b)
{
    const float d[3] = {p.x() - b[0], p.y() - b[1], p.z() - b[2]};
    std::array<float, 3> u {};
    for (int i = 0; i < 3; ++i) {
        float s = 0.0f;
        for (int j = 0; j < 3; ++j)
            s += b[std::size_t(3 + 3 * i + j)] * d[j];
        u[std::size_t(i)] = s;
    }
    return u;
}

float length(const std::array<float, 3> &u)
{
    return std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
}

MagFitResult judged(int method, const QString &name, const Calibration::ParamBlock &block,
    const std::vector<QVector4D> &points, bool usable = true)
{
    MagFitResult r;
    r.method = method;
    r.name = name;
    r.block = block;
    r.valid = usable && !points.empty() && Calibration::isFiniteBlock(block);
    if (r.valid) {
        r.spreadPercent = MagFitComparison::magnitudeSpread(points, block);
        r.quality = MagFitComparison::magnitudeQuality(points, block);
        r.valid = std::isfinite(r.spreadPercent) && std::isfinite(r.quality);
    }
    if (!r.valid) {
        r.spreadPercent = std::numeric_limits<float>::infinity();
        r.quality = 0.0f;
    }
    return r;
}

} // namespace

float MagFitComparison::magnitudeSpread(
    const std::vector<QVector4D> &points, const Calibration::ParamBlock &block)
{
    if (points.empty())
        return std::numeric_limits<float>::quiet_NaN();
    double sum = 0.0, sumSquares = 0.0;
    for (const QVector4D &p : points) {
        const double t = double(length(corrected(p, block)));
        sum += t;
        sumSquares += t * t;
    }
    const double n = double(points.size());
    const double mean = sum / n;
    const double variance = std::max(0.0, sumSquares / n - mean * mean);
    return float(std::sqrt(variance) / mean * 100.0);
}

float MagFitComparison::magnitudeQuality(
    const std::vector<QVector4D> &points, const Calibration::ParamBlock &block)
{
    if (points.empty())
        return std::numeric_limits<float>::quiet_NaN();
    double sum = 0.0;
    for (const QVector4D &p : points) {
        const double deviation = 1.0 - double(length(corrected(p, block)));
        sum += deviation * deviation;
    }
    return float((1.0 - std::sqrt(sum / double(points.size()))) * 100.0);
}

void MagFitComparison::run(const std::vector<QVector4D> &points)
{
    // Method 4 straight from its ellipsoid: the same block as the slot gives,
    // without the slot's debug line on every refresh.
    const AxisAlignedEllipsoid e = fitAxisAlignedEllipsoid(points);
    const Calibration::ParamBlock m4 = {e.offset[0], e.offset[1], e.offset[2], e.scale[0], 0, 0, 0,
        e.scale[1], 0, 0, 0, e.scale[2]};
    m_results[0] = judged(4, QStringLiteral("Method 4: axis-aligned ellipsoid"), m4, points);

    Calibration general;
    general.set_MAG_CAL_PARAM_MTHD1(points);
    m_results[1] = judged(1, QStringLiteral("Method 1: general ellipsoid"),
        general.get_MAG_CAL_PARAM(), points, points.size() >= 9);

    Calibration box;
    if (!points.empty())
        box.set_MAG_CAL_PARAM_MTHD2(points);
    m_results[2] = judged(2, QStringLiteral("Method 2: bounding box"), box.get_MAG_CAL_PARAM(),
        points, !points.empty());

    // Rings about z, y and x (Method 3's parameter order), picked with Method 4.
    std::array<std::vector<QVector4D>, 3> rings;
    if (m_results[0].valid) {
        for (const QVector4D &p : points) {
            const std::array<float, 3> u = corrected(p, m4);
            const float t = length(u);
            for (int axis = 0; axis < 3; ++axis) {
                if (std::fabs(u[std::size_t(axis)] / t + ringHeight) < ringBand)
                    rings[std::size_t(2 - axis)].push_back(p);
            }
        }
    }
    bool ringsFound = true;
    for (const auto &ring : rings)
        ringsFound = ringsFound && int(ring.size()) >= ringMinimumPoints;
    Calibration aligned;
    if (ringsFound)
        aligned.set_MAG_CAL_PARAM_MTHD3(points, rings[0], rings[1], rings[2]);
    m_results[3] = judged(3, QStringLiteral("Method 3: ellipsoid and axis alignment"),
        aligned.get_MAG_CAL_PARAM(), points, ringsFound);
}

int MagFitComparison::best() const
{
    int best = -1;
    for (int i = 0; i < fitCount; ++i) {
        const MagFitResult &r = m_results[std::size_t(i)];
        if (r.valid && (best < 0 || r.spreadPercent < m_results[std::size_t(best)].spreadPercent))
            best = i;
    }
    return best;
}
