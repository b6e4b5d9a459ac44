// SPDX-License-Identifier: GPL-3.0-or-later
#include "magfitcheck.h"

#include "spherecoverage.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace magfit {

namespace {

Eigen::Matrix3d matrixOf(const Calibration::ParamBlock &block)
{
    Eigen::Matrix3d m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m(r, c) = double(block[std::size_t(3 + 3 * r + c)]);
    return m;
}

} // namespace

std::array<double, 3> semiAxes(const Calibration::ParamBlock &block)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (!Calibration::isFiniteBlock(block))
        return {nan, nan, nan};
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(matrixOf(block));
    const Eigen::Vector3d s = svd.singularValues(); // descending
    std::array<double, 3> axes {};
    for (int i = 0; i < 3; ++i)
        axes[std::size_t(i)] = s(2 - i) > 0.0 ? 1.0 / s(2 - i) : nan;
    return axes;
}

QString improperReason(const Calibration::ParamBlock &block)
{
    if (!Calibration::isFiniteBlock(block))
        return QStringLiteral("a parameter is not finite");
    const Eigen::Matrix3d m = matrixOf(block);
    const std::array<double, 3> axes = semiAxes(block);
    for (double a : axes) {
        if (!std::isfinite(a) || !(a > 0.0))
            return QStringLiteral("an axis is not finite and positive");
    }
    // A singular value this small against the largest is zero at float
    // precision: that axis is infinitely long.
    if (axes[2] / axes[0] < 1e-6)
        return QStringLiteral("an axis is not finite and positive");
    if (!(m.determinant() > 0.0))
        return QStringLiteral("the matrix mirrors the field");
    return {};
}

QString boundsProblem(const Calibration::ParamBlock &block, const Bounds &bounds)
{
    const std::array<double, 3> axes = semiAxes(block);
    const double ratio = axes[0] / axes[2];
    if (ratio > bounds.maxAxisRatio)
        return QStringLiteral("axis ratio %1 beyond the bound of %2")
            .arg(ratio, 0, 'f', 2)
            .arg(bounds.maxAxisRatio, 0, 'f', 2);
    if (bounds.fullScale <= 0.0)
        return {};
    // How far the fitted field reaches along each sensor axis: |offset| plus
    // the ellipsoid's extent, sqrt of the diagonal of (M^T M)^-1.
    const Eigen::Matrix3d m = matrixOf(block);
    const Eigen::Matrix3d shape = (m.transpose() * m).inverse();
    static const char axisName[] = "xyz";
    for (int i = 0; i < 3; ++i) {
        const double offset = double(block[std::size_t(i)]);
        if (std::fabs(offset) > bounds.fullScale)
            return QStringLiteral("offset %1 %2 beyond the range of +/-%3")
                .arg(QLatin1Char(axisName[i]))
                .arg(offset, 0, 'g', 4)
                .arg(bounds.fullScale, 0, 'g', 4);
        const double reach = std::fabs(offset) + std::sqrt(shape(i, i));
        if (reach > bounds.fullScale)
            return QStringLiteral("field reaching %1 on %2, beyond the range of +/-%3")
                .arg(reach, 0, 'g', 4)
                .arg(QLatin1Char(axisName[i]))
                .arg(bounds.fullScale, 0, 'g', 4);
    }
    return {};
}

Split splitForChecking(const std::vector<Sample4> &points)
{
    Split split;
    if (points.empty())
        return split;
    float lo[3], hi[3];
    for (int a = 0; a < 3; ++a)
        lo[a] = hi[a] = points.front()[a];
    for (const Sample4 &p : points) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    const SphereCoverage patches;
    std::vector<int> seen(std::size_t(patches.cellCount()) + 1, 0);
    split.fitting.reserve(points.size() * 7 / 10 + 1);
    split.checking.reserve(points.size() * 3 / 10 + 1);
    for (const Sample4 &p : points) {
        const int cell = patches.cellOf(double(p.x()) - 0.5 * (double(lo[0]) + double(hi[0])),
            double(p.y()) - 0.5 * (double(lo[1]) + double(hi[1])),
            double(p.z()) - 0.5 * (double(lo[2]) + double(hi[2])));
        // Points at the very middle have no direction; they share one count.
        const int k = seen[std::size_t(cell < 0 ? patches.cellCount() : cell)]++ % 10;
        (k == 2 || k == 5 || k == 8 ? split.checking : split.fitting).push_back(p);
    }
    return split;
}

} // namespace magfit
