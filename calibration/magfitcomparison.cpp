// SPDX-License-Identifier: GPL-3.0-or-later
#include "magfitcomparison.h"

#include "constrainedellipsoidfit.h"
#include "ellipsoidfit.h"
#include "magfitcheck.h"

#include <cmath>
#include <limits>

namespace {

std::array<float, 3> corrected(const Sample4 &p, const Calibration::ParamBlock &b)
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

struct Fitted
{
    Calibration::ParamBlock block {};
    QString problem; // set when the method could not run or gave no ellipsoid
};

// The five fits on one set of points, in the order of the results.
std::array<Fitted, MagFitComparison::fitCount> fitAll(const std::vector<Sample4> &points)
{
    std::array<Fitted, MagFitComparison::fitCount> fits;
    // Method 4 straight from its ellipsoid: the same block as the slot gives,
    // without the slot's debug line on every refresh.
    const AxisAlignedEllipsoid e = fitAxisAlignedEllipsoid(points);
    const Calibration::ParamBlock m4 = {e.offset[0], e.offset[1], e.offset[2], e.scale[0], 0, 0, 0,
        e.scale[1], 0, 0, 0, e.scale[2]};
    fits[0].block = m4;

    Calibration general;
    general.set_MAG_CAL_PARAM_MTHD1(points);
    fits[1].block = general.get_MAG_CAL_PARAM();
    if (points.size() < 9)
        fits[1].problem = QStringLiteral("fewer than 9 points");

    Calibration box;
    if (!points.empty())
        box.set_MAG_CAL_PARAM_MTHD2(points);
    fits[2].block = box.get_MAG_CAL_PARAM();

    // Rings about z, y and x (Method 3's parameter order), picked with Method 4.
    std::array<std::vector<Sample4>, 3> rings;
    if (Calibration::isFiniteBlock(m4)) {
        for (const Sample4 &p : points) {
            const std::array<float, 3> u = corrected(p, m4);
            const float t = length(u);
            for (int axis = 0; axis < 3; ++axis) {
                if (std::fabs(u[std::size_t(axis)] / t + MagFitComparison::ringHeight)
                    < MagFitComparison::ringBand)
                    rings[std::size_t(2 - axis)].push_back(p);
            }
        }
    }
    bool ringsFound = true;
    for (const auto &ring : rings)
        ringsFound = ringsFound && int(ring.size()) >= MagFitComparison::ringMinimumPoints;
    Calibration aligned;
    if (ringsFound)
        aligned.set_MAG_CAL_PARAM_MTHD3(points, rings[0], rings[1], rings[2]);
    else
        fits[3].problem = QStringLiteral("no turn about each axis in the cloud");
    fits[3].block = aligned.get_MAG_CAL_PARAM();

    const EllipsoidSpecificFit specific = fitEllipsoidSpecific(points);
    fits[4].block = specific.block;
    if (!specific.ok)
        fits[4].problem = specific.reason;
    for (Fitted &f : fits) {
        if (f.problem.isEmpty())
            f.problem = magfit::improperReason(f.block);
    }
    return fits;
}

} // namespace

float MagFitComparison::magnitudeSpread(
    const std::vector<Sample4> &points, const Calibration::ParamBlock &block)
{
    if (points.empty())
        return std::numeric_limits<float>::quiet_NaN();
    double sum = 0.0, sumSquares = 0.0;
    for (const Sample4 &p : points) {
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
    const std::vector<Sample4> &points, const Calibration::ParamBlock &block)
{
    if (points.empty())
        return std::numeric_limits<float>::quiet_NaN();
    double sum = 0.0;
    for (const Sample4 &p : points) {
        const double deviation = 1.0 - double(length(corrected(p, block)));
        sum += deviation * deviation;
    }
    return float((1.0 - std::sqrt(sum / double(points.size()))) * 100.0);
}

void MagFitComparison::run(const std::vector<Sample4> &points, double fullScale)
{
    static const int methods[fitCount] = {4, 1, 2, 3, 5};
    static const char *const names[fitCount] = {"Method 4: axis-aligned ellipsoid",
        "Method 1: general ellipsoid", "Method 2: bounding box",
        "Method 3: ellipsoid and axis alignment", "Ellipsoid-specific fit"};
    const magfit::Split split = magfit::splitForChecking(points);
    m_fitting = int(split.fitting.size());
    m_checking = int(split.checking.size());
    const std::array<Fitted, fitCount> whole = fitAll(points);
    const std::array<Fitted, fitCount> part = fitAll(split.fitting);
    magfit::Bounds bounds;
    bounds.fullScale = fullScale;
    for (int i = 0; i < fitCount; ++i) {
        MagFitResult &r = m_results[std::size_t(i)];
        r = MagFitResult();
        r.method = methods[i];
        r.name = QString::fromLatin1(names[i]);
        r.block = whole[std::size_t(i)].block;
        if (points.empty())
            r.reason = QStringLiteral("no points");
        else if (!whole[std::size_t(i)].problem.isEmpty())
            r.reason = whole[std::size_t(i)].problem;
        else if (split.checking.empty())
            r.reason = QStringLiteral("too few points to check the fit on");
        else if (!part[std::size_t(i)].problem.isEmpty())
            r.reason = QStringLiteral("on the fitting points: ") + part[std::size_t(i)].problem;
        else
            r.reason = magfit::boundsProblem(r.block, bounds);
        if (r.reason.isEmpty()) {
            r.spreadPercent = magnitudeSpread(points, r.block);
            r.heldOutSpreadPercent = magnitudeSpread(split.checking, part[std::size_t(i)].block);
            r.quality = magnitudeQuality(split.checking, part[std::size_t(i)].block);
            if (!std::isfinite(r.spreadPercent) || !std::isfinite(r.heldOutSpreadPercent)
                || !std::isfinite(r.quality))
                r.reason = QStringLiteral("the corrected field is not finite");
        }
        r.valid = r.reason.isEmpty();
        if (!r.valid) {
            r.spreadPercent = std::numeric_limits<float>::infinity();
            r.heldOutSpreadPercent = std::numeric_limits<float>::infinity();
            r.quality = 0.0f;
        }
    }
}

int MagFitComparison::best() const
{
    int best = -1;
    for (int i = 0; i < fitCount; ++i) {
        const MagFitResult &r = m_results[std::size_t(i)];
        if (r.valid
            && (best < 0
                || r.heldOutSpreadPercent < m_results[std::size_t(best)].heldOutSpreadPercent))
            best = i;
    }
    return best;
}
