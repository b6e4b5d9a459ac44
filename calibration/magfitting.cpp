// SPDX-License-Identifier: GPL-3.0-or-later
// Magnetometer Methods 4 (axis-aligned ellipsoid), 1 (general ellipsoid) and
// 2 (bounding box). Method 3 lives in magmethod3.cpp.

#include "calibration.h"

#include "calibrationlog.h"
#include "ellipsoidfit.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Solves the normal equations (A^T A) k = h with the explicitly formed n x cols
// design matrix A, as the fits are defined.
void solveNormalEquations(
    float *k, const std::vector<float> &design, const float *h, int rows, int cols)
{
    if (rows < cols) {
        // Under-determined: A^T A is singular. Rounding can leave a tiny pivot
        // instead of zero, and the garbage would pass for a finite fit, so give
        // the NaN that exact arithmetic would.
        qCDebug(lcCalibration) << "fit needs" << cols << "samples, got" << rows;
        std::fill(k, k + cols, std::numeric_limits<float>::quiet_NaN());
        return;
    }
    std::vector<float> transposed(design.size());
    transposeMatrix(transposed.data(), design.data(), rows, cols);
    float normal[81];
    multiplyMatrix(normal, transposed.data(), design.data(), cols, rows, cols);
    float inverse[81];
    invertMatrix(inverse, normal, cols);
    multiplyMatrix(k, inverse, h, cols, cols, 1);
}

} // namespace

AxisAlignedEllipsoid fitAxisAlignedEllipsoid(const std::vector<Sample4> &samples)
{
    const int n = int(samples.size());
    std::vector<float> design(std::size_t(n) * 6);
    float h[6] = {0, 0, 0, 0, 0, 0};
    for (int j = 0; j < n; ++j) {
        const float x = samples[std::size_t(j)].x();
        const float y = samples[std::size_t(j)].y();
        const float z = samples[std::size_t(j)].z();
        float *row = &design[std::size_t(j) * 6];
        row[0] = x;
        row[1] = y;
        row[2] = z;
        row[3] = -(y * y);
        row[4] = -(z * z);
        row[5] = 1.0f;
        h[0] += x * x * x;
        h[1] += y * x * x;
        h[2] += z * x * x;
        h[3] -= y * y * x * x;
        h[4] -= z * z * x * x;
        h[5] += x * x;
    }

    AxisAlignedEllipsoid fit;
    float *k = fit.k;
    solveNormalEquations(k, design, h, n, 6);

    const float ox = k[0] * 0.5f;
    const float oy = k[1] / (k[3] * 2.0f);
    const float oz = k[2] / (k[4] * 2.0f);
    fit.offset[0] = ox;
    fit.offset[1] = oy;
    fit.offset[2] = oz;
    fit.radius = std::sqrt(((oy * k[3]) * oy + (ox * ox + k[5])) + (oz * k[4]) * oz);
    const float s = 1.0f / fit.radius;
    fit.scale[0] = s;
    fit.scale[1] = std::sqrt(k[3]) * s;
    fit.scale[2] = std::sqrt(k[4]) * s;
    return fit;
}

void Calibration::setMagCalParamMthd4(std::vector<Sample4> magRawData)
{
    const AxisAlignedEllipsoid fit = fitAxisAlignedEllipsoid(magRawData);
    std::copy(fit.offset, fit.offset + 3, MAG_OFFSET);
    std::fill(MAG_INV_SCL_FACTOR, MAG_INV_SCL_FACTOR + 9, 0.0f);
    MAG_INV_SCL_FACTOR[0] = fit.scale[0];
    MAG_INV_SCL_FACTOR[4] = fit.scale[1];
    MAG_INV_SCL_FACTOR[8] = fit.scale[2];

    // Quality: RMS deviation of the corrected radius from 1.
    float sum = 0.0f;
    for (const Sample4 &p : magRawData) {
        const float ux = (p.x() - fit.offset[0]) * fit.scale[0];
        const float uy = fit.scale[1] * (p.y() - fit.offset[1]);
        const float uz = fit.scale[2] * (p.z() - fit.offset[2]);
        const float t = std::sqrt(ux * ux + uy * uy + uz * uz);
        sum += (1.0f - t) * (1.0f - t);
    }
    const float meanSquare = sum / float(magRawData.size());
    qDebug().nospace() << "Average Square Diff: " << meanSquare;
    MAG_CAL_QUALITY = (1.0f - std::sqrt(meanSquare)) * 100.0f;
}

void Calibration::set_MAG_CAL_PARAM_MTHD1(std::vector<Sample4> samples)
{
    const int n = int(samples.size());

    // Stage 1, centre: k0 x^2 + k1 y^2 + k2 z^2 + 2 k3 xy + 2 k4 xz + 2 k5 yz
    //                  + 2 k6 x + 2 k7 y + 2 k8 z = 1.
    float k[9];
    {
        std::vector<float> design(std::size_t(n) * 9);
        float h[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
        for (int j = 0; j < n; ++j) {
            const float x = samples[std::size_t(j)].x();
            const float y = samples[std::size_t(j)].y();
            const float z = samples[std::size_t(j)].z();
            float *row = &design[std::size_t(j) * 9];
            row[0] = x * x;
            row[1] = y * y;
            row[2] = z * z;
            row[3] = (x * 2.0f) * y;
            row[4] = (x * 2.0f) * z;
            row[5] = (y * 2.0f) * z;
            row[6] = x * 2.0f;
            row[7] = y * 2.0f;
            row[8] = z * 2.0f;
            for (int i = 0; i < 9; ++i)
                h[i] += row[i];
        }
        solveNormalEquations(k, design, h, n, 9);
    }
    const float quadratic[9] = {k[0], k[3], k[4], k[3], k[1], k[5], k[4], k[5], k[2]};
    float qi[9];
    invertMatrix3(qi, quadratic);
    for (int i = 0; i < 3; ++i)
        MAG_OFFSET[i] = -((qi[3 * i + 1] * k[7] + qi[3 * i] * k[6]) + qi[3 * i + 2] * k[8]);

    // Stage 2, shape of the centred cloud:
    // r0 dx^2 + r1 dy^2 + r2 dz^2 + 2 r3 dxdy + 2 r4 dxdz + 2 r5 dydz = 1.
    float r[6];
    {
        std::vector<float> design(std::size_t(n) * 6);
        float h[6] = {0, 0, 0, 0, 0, 0};
        for (int j = 0; j < n; ++j) {
            const float dx = samples[std::size_t(j)].x() - MAG_OFFSET[0];
            const float dy = samples[std::size_t(j)].y() - MAG_OFFSET[1];
            const float dz = samples[std::size_t(j)].z() - MAG_OFFSET[2];
            float *row = &design[std::size_t(j) * 6];
            row[0] = dx * dx;
            row[1] = dy * dy;
            row[2] = dz * dz;
            row[3] = (dx * 2.0f) * dy;
            row[4] = (dx * 2.0f) * dz;
            row[5] = (dy * 2.0f) * dz;
            for (int i = 0; i < 6; ++i)
                h[i] += row[i];
        }
        solveNormalEquations(r, design, h, n, 6);
    }
    const float shape[9] = {r[0], r[3], r[4], r[3], r[1], r[5], r[4], r[5], r[2]};

    // The correction is the square root of the shape matrix, V D V^-1 with the
    // eigenvectors as the COLUMNS of V. eigenSymmetric3 returns them as rows, so
    // transpose first; with rows the product would be a different matrix that
    // does not map the ellipsoid onto the unit sphere once it is rotated.
    float lambda[3];
    float vectorRows[9];
    eigenSymmetric3(shape, lambda, vectorRows);
    float v[9];
    transposeMatrix(v, vectorRows, 3, 3);
    const float d[9] = {std::sqrt(lambda[0]), 0.0f, 0.0f, 0.0f, std::sqrt(lambda[1]), 0.0f, 0.0f,
        0.0f, std::sqrt(lambda[2])};
    float vd[9];
    multiplyMatrix(vd, v, d, 3, 3, 3);
    float vInverse[9];
    invertMatrix3(vInverse, v);
    multiplyMatrix(MAG_INV_SCL_FACTOR, vd, vInverse, 3, 3, 3);
}

void Calibration::set_MAG_CAL_PARAM_MTHD2(std::vector<Sample4> samples)
{
    if (samples.empty()) {
        // Nothing to bound: keep the parameters the module already has.
        qCWarning(lcCalibration) << "bounding-box fit without samples: parameters kept";
        return;
    }
    float minimum[3] = {samples[0].x(), samples[0].y(), samples[0].z()};
    float maximum[3] = {minimum[0], minimum[1], minimum[2]};
    for (std::size_t j = 1; j < samples.size(); ++j) {
        const float value[3] = {samples[j].x(), samples[j].y(), samples[j].z()};
        for (int axis = 0; axis < 3; ++axis) {
            if (maximum[axis] < value[axis])
                maximum[axis] = value[axis];
            if (minimum[axis] > value[axis])
                minimum[axis] = value[axis];
        }
    }
    std::fill(MAG_INV_SCL_FACTOR, MAG_INV_SCL_FACTOR + 9, 0.0f);
    for (int axis = 0; axis < 3; ++axis) {
        MAG_OFFSET[axis] = (minimum[axis] + maximum[axis]) * 0.5f;
        MAG_INV_SCL_FACTOR[4 * axis] = 2.0f / (maximum[axis] - minimum[axis]);
    }
}
