// SPDX-License-Identifier: GPL-3.0-or-later
#include "maggatherguide.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CalibrationGuide", text);
}

// Smallest over largest eigenvalue of a symmetric 3 x 3 matrix (trigonometric form).
double eigenRatio(const std::array<double, 9> &a)
{
    const double q = (a[0] + a[4] + a[8]) / 3.0;
    const double off = a[1] * a[1] + a[2] * a[2] + a[5] * a[5];
    const double p2
        = (a[0] - q) * (a[0] - q) + (a[4] - q) * (a[4] - q) + (a[8] - q) * (a[8] - q) + 2.0 * off;
    const double p = std::sqrt(p2 / 6.0);
    if (!(p > 1e-300))
        return q > 0 ? 1.0 : 0.0;
    std::array<double, 9> b;
    for (int i = 0; i < 9; ++i)
        b[std::size_t(i)] = (a[std::size_t(i)] - (i % 4 == 0 ? q : 0.0)) / p;
    const double det = b[0] * (b[4] * b[8] - b[5] * b[7]) - b[1] * (b[3] * b[8] - b[5] * b[6])
        + b[2] * (b[3] * b[7] - b[4] * b[6]);
    const double r = std::max(-1.0, std::min(1.0, det / 2.0));
    const double phi = std::acos(r) / 3.0;
    const double largest = q + 2.0 * p * std::cos(phi);
    const double smallest = q + 2.0 * p * std::cos(phi + 2.0943951023931953);
    return largest > 0.0 ? smallest / largest : 0.0;
}

} // namespace

void MagGatherGuide::clear()
{
    *this = MagGatherGuide();
}

void MagGatherGuide::addPoint(float x, float y, float z)
{
    m_points.emplace_back(x, y, z, 0.0f);
    if (!m_haveMap)
        return;
    const float d[3] = {x - m_map[0], y - m_map[1], z - m_map[2]};
    double u[3];
    for (int i = 0; i < 3; ++i)
        u[i] = double(m_map[std::size_t(3 + 3 * i)] * d[0] + m_map[std::size_t(4 + 3 * i)] * d[1]
            + m_map[std::size_t(5 + 3 * i)] * d[2]);
    m_coverage.add(u[0], u[1], u[2]);
}

void MagGatherGuide::refresh(double seconds)
{
    const int n = int(m_points.size());
    m_haveMap = false;
    m_fitsRun = false;
    m_spread = -1.0;
    if (n >= 4) {
        double mean[3] = {0, 0, 0};
        for (const Sample4 &p : m_points) {
            for (int i = 0; i < 3; ++i)
                mean[i] += double(p[i]) / n;
        }
        std::array<double, 9> cov {};
        for (const Sample4 &p : m_points) {
            const double d[3] = {p.x() - mean[0], p.y() - mean[1], p.z() - mean[2]};
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j)
                    cov[std::size_t(3 * i + j)] += d[i] * d[j] / n;
            }
        }
        // Until the cloud has depth, its centroid is the best centre there is;
        // the map is redrawn from all points once a fit can be trusted.
        m_map = {float(mean[0]), float(mean[1]), float(mean[2]), 1, 0, 0, 0, 1, 0, 0, 0, 1};
        m_haveMap = true;
        if (n >= minimumPoints / 2 && eigenRatio(cov) >= flatness) {
            m_fits.run(m_points);
            m_fitsRun = true;
            const int best = m_fits.best();
            if (best >= 0) {
                m_map = m_fits.results()[std::size_t(best)].block;
                m_spread = double(m_fits.results()[std::size_t(best)].spreadPercent);
            }
        }
    }
    mapAll();

    // The offset's drift: how far the centre moved over the last seconds, in
    // parts of the field it is the centre of.
    m_drift = -1.0;
    if (m_fitsRun && m_spread >= 0.0) {
        m_radius = 0.0;
        for (const Sample4 &p : m_points)
            m_radius += std::sqrt(std::pow(p.x() - m_map[0], 2) + std::pow(p.y() - m_map[1], 2)
                            + std::pow(p.z() - m_map[2], 2))
                / n;
        m_offsets.push_back({seconds, {double(m_map[0]), double(m_map[1]), double(m_map[2])}});
        while (m_offsets.size() > 2 && m_offsets[1].seconds <= seconds - driftWindow)
            m_offsets.pop_front();
        const OffsetAt &then = m_offsets.front();
        if (then.seconds <= seconds - driftWindow && m_radius > 0.0) {
            const OffsetAt &now = m_offsets.back();
            double moved = 0.0;
            for (int i = 0; i < 3; ++i)
                moved += std::pow(now.offset[i] - then.offset[i], 2);
            m_drift = std::sqrt(moved) / m_radius * 100.0;
        }
    } else {
        m_offsets.clear();
    }
    judge();
}

void MagGatherGuide::mapAll()
{
    m_coverage.clear();
    if (!m_haveMap)
        return;
    const std::vector<Sample4> points = std::move(m_points);
    m_points.clear();
    m_points.reserve(points.size());
    for (const Sample4 &p : points)
        addPoint(p.x(), p.y(), p.z());
}

QString MagGatherGuide::missingFace() const
{
    if (m_coverage.coveredCells() == m_coverage.cellCount())
        return QString();
    const SphereCoverage::Direction d = m_coverage.mostMissing();
    if (d[0] == 0.0 && d[1] == 0.0 && d[2] == 0.0)
        return QString();
    return SphereCoverage::faceTowards(d);
}

QString MagGatherGuide::hint() const
{
    if (m_points.empty())
        return tr("Turn the module slowly through every direction.");
    const QString face = missingFace();
    if (face.isEmpty())
        return tr("Every direction reached.");
    // The earth's field points down into the floor (north of the equator):
    // a direction of the field is reached by turning that face downwards.
    return tr("Turn the %1 face towards the floor.").arg(face);
}

void MagGatherGuide::judge()
{
    m_reasons.clear();
    const int n = int(m_points.size());
    if (n < minimumPoints)
        m_reasons << tr("%1 of the %2 points needed.").arg(n).arg(minimumPoints);
    if (coveredPercent() < coverageNeeded)
        m_reasons << tr("%1% of the directions covered, %2% needed.")
                         .arg(qRound(coveredPercent()))
                         .arg(qRound(coverageNeeded));
    if (n >= minimumPoints && m_spread < 0.0)
        m_reasons << tr("No fit yet: the points lie almost in one plane.");
    else if (m_spread > spreadLimit)
        m_reasons << tr("Corrected field spreads %1%, %2% at most.")
                         .arg(m_spread, 0, 'f', 1)
                         .arg(spreadLimit, 0, 'f', 1);
    if (m_drift > driftLimit)
        m_reasons << tr("Offset still moving: %1% in %2 s.")
                         .arg(m_drift, 0, 'f', 1)
                         .arg(driftWindow, 0, 'f', 0);
}

int MagGatherGuide::heldScore(int fitScore, int notGoodCeiling) const
{
    double score = std::max(0, std::min(100, fitScore));
    if (coveredPercent() < coverageNeeded)
        score *= std::max(0.0, coveredPercent()) / coverageNeeded;
    if (m_spread > spreadLimit)
        score *= spreadLimit / m_spread;
    if (m_drift > driftLimit)
        score *= driftLimit / m_drift;
    int held = int(std::lround(score));
    if (!goodEnough())
        held = std::min(held, notGoodCeiling);
    return held;
}
