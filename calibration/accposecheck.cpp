// SPDX-License-Identifier: GPL-3.0-or-later
#include "accposecheck.h"

#include "accfaceguide.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

using V = std::array<double, 3>;

V sub(const V &a, const V &b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
double dot(const V &a, const V &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
double norm(const V &a)
{
    return std::sqrt(dot(a, a));
}
V cross(const V &a, const V &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V scaled(const V &a, double s)
{
    return {a[0] * s, a[1] * s, a[2] * s};
}
double angleDeg(const V &a, const V &b)
{
    const double c = dot(a, b) / (norm(a) * norm(b));
    return std::acos(std::max(-1.0, std::min(1.0, c))) * 180.0 / M_PI;
}

} // namespace

AccPoseCheck AccPoseCheck::evaluate(const float *means, const float *offset, float gravity)
{
    AccPoseCheck check;
    const V o = {double(offset[0]), double(offset[1]), double(offset[2])};
    std::array<V, 6> u;
    for (int k = 0; k < 6; ++k) {
        u[std::size_t(k)]
            = sub({double(means[3 * k]), double(means[3 * k + 1]), double(means[3 * k + 2])}, o);
        check.magnitudeError[std::size_t(k)] = std::fabs(norm(u[std::size_t(k)]) - double(gravity));
    }
    // The sensed direction of each body axis (pairs Z, Y, X).
    std::array<V, 3> axis;
    for (int p = 0; p < 3; ++p) {
        const V &up = u[std::size_t(2 * p)];
        const V &down = u[std::size_t(2 * p + 1)];
        check.antipodalDeg[std::size_t(p)] = angleDeg(up, scaled(down, -1.0));
        axis[std::size_t(p)] = sub(up, down);
    }
    check.squareDeg = {std::fabs(90.0 - angleDeg(axis[0], axis[1])),
        std::fabs(90.0 - angleDeg(axis[0], axis[2])), std::fabs(90.0 - angleDeg(axis[1], axis[2]))};
    // The axis each pair should lie along, from the other two (right-handed: z = x × y).
    const std::array<V, 3> implied
        = {cross(axis[2], axis[1]), cross(axis[0], axis[2]), cross(axis[1], axis[0])};
    for (int p = 0; p < 3; ++p) {
        V n = implied[std::size_t(p)];
        if (dot(n, axis[std::size_t(p)]) < 0)
            n = scaled(n, -1.0);
        check.poseTiltDeg[std::size_t(2 * p)] = angleDeg(u[std::size_t(2 * p)], n);
        check.poseTiltDeg[std::size_t(2 * p + 1)]
            = angleDeg(scaled(u[std::size_t(2 * p + 1)], -1), n);
    }

    double misfit = 0;
    int worstPair = 0;
    for (int p = 0; p < 3; ++p) {
        if (check.antipodalDeg[std::size_t(p)] > misfit) {
            misfit = check.antipodalDeg[std::size_t(p)];
            worstPair = p;
        }
    }
    // Axis pairs Z-Y, Z-X, Y-X; a pair out of square names the pose of the two
    // involved that lies furthest from its implied axis.
    static const int involved[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    int squarePair = -1;
    for (int s = 0; s < 3; ++s) {
        const double excess = check.squareDeg[std::size_t(s)] - squareBudgetDeg;
        if (excess > misfit) {
            misfit = excess;
            squarePair = s;
        }
    }
    const bool finite = std::isfinite(misfit)
        && std::all_of(check.antipodalDeg.begin(), check.antipodalDeg.end(),
            [](double v) { return std::isfinite(v); });
    if (!finite)
        misfit = 180.0;
    check.misfitDeg = misfit;
    auto furthest = [&check](int pair) {
        return check.poseTiltDeg[std::size_t(2 * pair)]
                >= check.poseTiltDeg[std::size_t(2 * pair + 1)]
            ? 2 * pair
            : 2 * pair + 1;
    };
    if (squarePair < 0) {
        check.worstPose = furthest(worstPair);
    } else {
        const int a = furthest(involved[squarePair][0]);
        const int b = furthest(involved[squarePair][1]);
        check.worstPose
            = check.poseTiltDeg[std::size_t(a)] >= check.poseTiltDeg[std::size_t(b)] ? a : b;
    }
    check.score = std::max(0.0, std::min(100.0, 100.0 - pointsPerDeg * misfit));
    return check;
}

QString AccPoseCheck::problem() const
{
    if (!warned())
        return QString();
    return QCoreApplication::translate("CalibrationGuide", "%1 was held about %2° off level.")
        .arg(AccFaceGuide::faceName(worstPose))
        .arg(misfitDeg, 0, 'f', 1);
}

QString AccPoseCheck::basis() const
{
    return QCoreApplication::translate("CalibrationGuide",
        "Opposite poses %1°, %2°, %3° from antipodal (Z, Y, X); axes %4°, %5°, %6° out of square "
        "(%7° allowed for cross-axis error); %8 points off per degree of the worst.")
        .arg(antipodalDeg[0], 0, 'f', 2)
        .arg(antipodalDeg[1], 0, 'f', 2)
        .arg(antipodalDeg[2], 0, 'f', 2)
        .arg(squareDeg[0], 0, 'f', 2)
        .arg(squareDeg[1], 0, 'f', 2)
        .arg(squareDeg[2], 0, 'f', 2)
        .arg(squareBudgetDeg, 0, 'f', 1)
        .arg(pointsPerDeg, 0, 'f', 0);
}
