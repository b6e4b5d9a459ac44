// SPDX-License-Identifier: GPL-3.0-or-later
// Magnetometer Method 3: the axis-aligned ellipsoid of Method 4, then the axis
// alignment found from three single-axis rotations, scored by field
// inclination, steadiness and octant coverage.

#include "calibration.h"

#include "calibrationlog.h"
#include "ellipsoidfit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float method3Inclination = 0.95990276f;

// Least-squares normal c of the plane q . c = -|q| through the normalised points
// q = E (p - offset) of one rotation set, returned with unit length.
void planeNormal(
    float *unitNormal, const std::vector<Sample4> &set, const float *e, const float *offset)
{
    const int m = int(set.size());
    if (m < 3) {
        // Fewer than three points span no plane; see solveNormalEquations.
        std::fill(unitNormal, unitNormal + 3, std::numeric_limits<float>::quiet_NaN());
        return;
    }
    std::vector<float> points(std::size_t(m) * 3); // P, 3 x m, one point per column
    std::vector<float> b(static_cast<std::size_t>(m));
    for (int j = 0; j < m; ++j) {
        const Sample4 &p = set[std::size_t(j)];
        const float d[3] = {p.x() - offset[0], p.y() - offset[1], p.z() - offset[2]};
        float q[3];
        multiplyMatrix(q, e, d, 3, 3, 1);
        for (int r = 0; r < 3; ++r)
            points[std::size_t(r * m + j)] = q[r];
        b[std::size_t(j)] = -std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    }
    std::vector<float> transposed(points.size());
    transposeMatrix(transposed.data(), points.data(), 3, m);
    float gram[9];
    multiplyMatrix(gram, points.data(), transposed.data(), 3, m, 3);
    float gramInverse[9];
    invertMatrix3(gramInverse, gram);
    std::vector<float> projector(points.size());
    multiplyMatrix(projector.data(), gramInverse, points.data(), 3, 3, m);
    float c[3];
    multiplyMatrix(c, projector.data(), b.data(), 3, m, 1);
    float norm;
    normalizeVector3(unitNormal, &norm, c);
}

// Band score of the Method 3 evaluation: below the first band 10, strictly
// between the bands 5; a value exactly on a band edge scores nothing.
int bandScore(float value, const float *bands)
{
    if (value < bands[0])
        return 10;
    if (bands[0] < value && value < bands[1])
        return 5;
    return 0;
}

} // namespace

void Calibration::set_MAG_CAL_PARAM_MTHD3(std::vector<Sample4> allSamples,
    std::vector<Sample4> rotZ, std::vector<Sample4> rotY, std::vector<Sample4> rotX)
{
    const AxisAlignedEllipsoid fit = fitAxisAlignedEllipsoid(allSamples);
    std::copy(fit.offset, fit.offset + 3, MAG_OFFSET);
    const float e[9]
        = {fit.scale[0], 0.0f, 0.0f, 0.0f, fit.scale[1], 0.0f, 0.0f, 0.0f, fit.scale[2]};

    float normalZ[3], normalY[3], normalX[3];
    planeNormal(normalZ, rotZ, e, MAG_OFFSET);
    planeNormal(normalY, rotY, e, MAG_OFFSET);
    planeNormal(normalX, rotX, e, MAG_OFFSET);

    // Columns: the sensor's view of the module's x, y and z axes.
    float axes[9];
    for (int r = 0; r < 3; ++r) {
        axes[3 * r] = normalX[r];
        axes[3 * r + 1] = normalY[r];
        axes[3 * r + 2] = normalZ[r];
    }
    float axesInverse[9];
    invertMatrix(axesInverse, axes, 3);
    multiplyMatrix(MAG_INV_SCL_FACTOR, axesInverse, e, 3, 3, 3);

    scoreMagMethod3(allSamples, rotZ, rotY, rotX);
}

void Calibration::scoreMagMethod3(const std::vector<Sample4> &allSamples,
    const std::vector<Sample4> &rotZ, const std::vector<Sample4> &rotY,
    const std::vector<Sample4> &rotX)
{
    MAG_CAL_QUALITY = 0.0f;
    LOCAL_INCLINATION = method3Inclination;
    const float sigma = std::sin(LOCAL_INCLINATION);

    // As calibrate_MAG on integer counts. std::trunc rather than a cast to int,
    // so that a non-finite or huge sample cannot overflow the conversion.
    auto corrected = [this](const Sample4 &p, float *out) {
        const float diff[3] = {std::trunc(p.x()) - MAG_OFFSET[0], std::trunc(p.y()) - MAG_OFFSET[1],
            std::trunc(p.z()) - MAG_OFFSET[2]};
        multiplyMatrix(out, MAG_INV_SCL_FACTOR, diff, 3, 3, 1);
    };

    // Each rotation set is judged on the component along its rotation axis.
    const std::vector<Sample4> *sets[3] = {&rotZ, &rotY, &rotX};
    const int axisOfSet[3] = {2, 1, 0};
    float mean[3];
    float spread[3];
    for (int s = 0; s < 3; ++s) {
        const std::vector<Sample4> &set = *sets[s];
        std::vector<float> component(set.size());
        float sum = 0.0f;
        for (std::size_t j = 0; j < set.size(); ++j) {
            float c[3];
            corrected(set[j], c);
            component[j] = c[axisOfSet[s]];
            sum += component[j];
        }
        const float m = float(set.size());
        mean[s] = sum / m;
        float squares = 0.0f;
        for (float c : component)
            squares += (c - mean[s]) * (c - mean[s]);
        spread[s] = std::fabs(squares / m);
    }
    for (int s = 0; s < 3; ++s)
        MAG_CAL_QUALITY += float(bandScore(std::fabs(mean[s] + sigma), MAG_MEAN_BANDS));
    for (int s = 0; s < 3; ++s)
        MAG_CAL_QUALITY += float(bandScore(spread[s], MAG_SPREAD_BANDS));

    // Counter index by sign bits (x < 0, y < 0, z < 0), in the order
    // +++, ++-, +-+, -++, +--, -+-, --+, ---.
    static constexpr int octantOfSigns[8] = {0, 1, 2, 4, 3, 5, 6, 7};
    for (const Sample4 &p : allSamples) {
        float c[3];
        corrected(p, c);
        bool onBoundary = false;
        int signs = 0;
        for (int axis = 0; axis < 3; ++axis) {
            if (!(c[axis] > 0.0f) && !(c[axis] < 0.0f))
                onBoundary = true; // zero or NaN: in no octant
            signs = (signs << 1) | (c[axis] < 0.0f ? 1 : 0);
        }
        if (!onBoundary)
            ++MAG_OCTANT_COUNT[octantOfSigns[signs]];
    }
    for (int count : MAG_OCTANT_COUNT) {
        if (count > MAG_OCTANT_MIN)
            MAG_CAL_QUALITY += 5.0f;
    }
}
