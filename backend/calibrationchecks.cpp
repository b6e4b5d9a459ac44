// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationchecks.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DurUzaBackend", text);
}

// Sensitivities below half of gravity per g mean the axis barely turned over
// between its two positions.
constexpr double accMinimumSensitivity = 0.5;
// A well-placed sensor gives a determinant near 1; near 0 the inverse is noise.
constexpr double accMinimumDeterminant = 0.25;

double determinant3(const std::array<double, 9> &m)
{
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6])
        + m[2] * (m[3] * m[7] - m[4] * m[6]);
}

// Eigenvalues of a symmetric 3 x 3 matrix, smallest and largest (trigonometric form).
std::pair<double, double> extremeEigenvalues(const std::array<double, 9> &a)
{
    const double q = (a[0] + a[4] + a[8]) / 3.0;
    const double off = a[1] * a[1] + a[2] * a[2] + a[5] * a[5];
    const double p2
        = (a[0] - q) * (a[0] - q) + (a[4] - q) * (a[4] - q) + (a[8] - q) * (a[8] - q) + 2.0 * off;
    const double p = std::sqrt(p2 / 6.0);
    if (p <= 1e-300)
        return {q, q};
    std::array<double, 9> b;
    for (int i = 0; i < 9; ++i)
        b[std::size_t(i)] = (a[std::size_t(i)] - (i % 4 == 0 ? q : 0.0)) / p;
    const double r = std::clamp(determinant3(b) / 2.0, -1.0, 1.0);
    const double phi = std::acos(r) / 3.0;
    const double largest = q + 2.0 * p * std::cos(phi);
    const double smallest = q + 2.0 * p * std::cos(phi + 2.0943951023931953);
    return {smallest, largest};
}

} // namespace

QString accMeansProblem(const float *m, float gravity)
{
    // Row i: how the three sensor axes answer gravity along axis i (x, y, z pairs).
    static const int up[3] = {4, 2, 0};
    static const int down[3] = {5, 3, 1};
    std::array<double, 9> s;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            s[std::size_t(3 * i + j)]
                = (double(m[3 * up[i] + j]) - double(m[3 * down[i] + j])) / (2.0 * double(gravity));
    }
    const bool finite = std::all_of(s.begin(), s.end(), [](double v) { return std::isfinite(v); });
    if (!finite)
        return tr("Calibration failed: no valid readings. Previous calibration kept.");
    for (int i = 0; i < 3; ++i) {
        if (!(s[std::size_t(4 * i)] >= accMinimumSensitivity))
            return tr("Calibration failed: positions do not match the prompts. "
                      "Previous calibration kept.");
    }
    if (!(std::fabs(determinant3(s)) >= accMinimumDeterminant))
        return tr("Calibration failed: positions do not match the prompts. "
                  "Previous calibration kept.");
    return QString();
}

QString magCloudProblem(const std::vector<Sample4> &points)
{
    const int n = int(points.size());
    if (n < magMinimumPoints)
        return tr("Calibration failed: %1 of the %2 points needed. Previous calibration kept.")
            .arg(n)
            .arg(magMinimumPoints);

    double mean[3] = {0, 0, 0};
    for (const Sample4 &p : points) {
        for (int i = 0; i < 3; ++i)
            mean[i] += double(p[i]);
    }
    for (double &v : mean)
        v /= n;
    std::array<double, 9> cov {};
    for (const Sample4 &p : points) {
        const double d[3] = {p.x() - mean[0], p.y() - mean[1], p.z() - mean[2]};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                cov[std::size_t(3 * i + j)] += d[i] * d[j] / n;
        }
    }
    const auto [smallest, largest] = extremeEigenvalues(cov);
    if (!(largest > 0.0) || !(smallest >= double(magMinimumFlatness) * largest))
        return tr("Calibration failed: the points lie almost in one plane. Rotate along all axes. "
                  "Previous calibration kept.");
    return QString();
}

QString magCoverageProblem(const std::vector<Sample4> &points, const Calibration::ParamBlock &block)
{
    std::array<int, 8> octants {};
    for (const Sample4 &p : points) {
        const double d[3] = {p.x() - block[0], p.y() - block[1], p.z() - block[2]};
        int octant = 0;
        for (int i = 0; i < 3; ++i) {
            const double u = block[std::size_t(3 + 3 * i)] * d[0]
                + block[std::size_t(4 + 3 * i)] * d[1] + block[std::size_t(5 + 3 * i)] * d[2];
            if (u < 0)
                octant |= 1 << i;
        }
        ++octants[std::size_t(octant)];
    }
    const bool covered = std::all_of(
        octants.begin(), octants.end(), [](int count) { return count >= magMinimumPerOctant; });
    if (!covered)
        return tr("Calibration failed: the sphere is not covered. Rotate along all axes. "
                  "Previous calibration kept.");
    return QString();
}
