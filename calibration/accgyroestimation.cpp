// SPDX-License-Identifier: GPL-3.0-or-later
// Six-position accelerometer estimate and gyroscope offset estimate, each with
// its quality score.

#include "calibration.h"

#include "calibrationlog.h"

#include <algorithm>
#include <cmath>

namespace {

// Points per residual: 18 residuals, so a perfect estimate scores 100.
constexpr float accPointsGood = 5.5555553f; // 100 / 18
constexpr float accPointsFair = 1.111111f; // 20 / 18
constexpr float accPointsPoor = 0.5555555f; // 10 / 18

// Points per deviation: 5 segments x 3 axes, so a perfectly steady list scores 100.
constexpr float gyroPointsGood = 6.6666665f; // 100 / 15
constexpr float gyroPointsFair = 1.3333333f; // 20 / 15
constexpr float gyroPointsPoor = 0.6666666f; // 10 / 15

// Lower band first; a NaN fails every comparison and scores nothing.
float bandPoints(float value, const float *bands, float good, float fair, float poor)
{
    if (value < bands[0])
        return good;
    if (value < bands[1])
        return fair;
    if (value < bands[2])
        return poor;
    return 0.0f;
}

// Position indices of the +g and -g mean of each sensor axis (x, y, z).
constexpr int upPosition[3] = {4, 2, 0};
constexpr int downPosition[3] = {5, 3, 1};

} // namespace

void Calibration::set_ACC_CAL_PARAM_SLOT(
    const float *ACC_RAW_FOR_CAL, float sensorMaxInt, float sensorPhysicalRange)
{
    Q_UNUSED(sensorMaxInt)
    Q_UNUSED(sensorPhysicalRange)
    if (!ACC_RAW_FOR_CAL) {
        qCWarning(lcCalibration) << "accelerometer estimate called without means";
        return;
    }
    const float *m = ACC_RAW_FOR_CAL;
    const float g = LOCAL_GRAVITY;

    for (int axis = 0; axis < 3; ++axis)
        ACC_OFFSET[axis]
            = (m[3 * upPosition[axis] + axis] + m[3 * downPosition[axis] + axis]) * 0.5f;

    // S[i][j]: response of sensor axis j to gravity along axis i.
    float s[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            s[3 * i + j] = (m[3 * upPosition[i] + j] - m[3 * downPosition[i] + j]) / (g + g);
    }

    // The sensor maps gravity to readings through S transposed; the correction,
    // applied row by row to (reading - offset), must undo that matrix. With
    // cross-axis terms that are not symmetric, inverting S itself would not.
    float sensorResponse[9];
    transposeMatrix(sensorResponse, s, 3, 3);
    invertMatrix3(ACC_INV_SCL_FACTOR, sensorResponse);

    scoreAccelerometer(ACC_RAW_FOR_CAL + 18);
}

void Calibration::scoreAccelerometer(const float *verificationMeans)
{
    const float *c = verificationMeans;
    const float g = LOCAL_GRAVITY;

    float d[18]; // column k = verification mean k - offset
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 6; ++k)
            d[6 * i + k] = c[3 * k + i] - ACC_OFFSET[i];
    }
    float corrected[18];
    multiplyMatrix(corrected, ACC_INV_SCL_FACTOR, d, 3, 3, 6);

    ACC_CAL_QUALITY = 0.0f;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 6; ++k) {
            const float v = corrected[6 * i + k];
            // Gravity acts on axis i in the two positions of its pair.
            const bool alongGravity = (k == upPosition[i] || k == downPosition[i]);
            const float residual = alongGravity ? std::fabs(std::fabs(v) - g) : std::fabs(v);
            ACC_CAL_QUALITY += bandPoints(
                residual, ACC_QUALITY_BANDS, accPointsGood, accPointsFair, accPointsPoor);
        }
    }
}

void Calibration::set_GYRO_CAL_OFST(std::vector<Sample4> samples)
{
    const float f = GYRO_RNG_FACTOR;
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (const Sample4 &sample : samples) {
        sum[0] += sample.x();
        sum[1] += sample.y();
        sum[2] += sample.z();
    }
    const float n = float(samples.size());
    for (int axis = 0; axis < 3; ++axis)
        GYRO_OFFSET[axis] = sum[axis] / (n * f);

    scoreGyroscope(samples);
}

void Calibration::scoreGyroscope(const std::vector<Sample4> &samples)
{
    GYRO_CAL_QUALITY = 0.0f;
    const int c = int(samples.size() / 5);
    if (c == 0) {
        // Fewer than five samples: no segment exists, so nothing can be steady.
        qCDebug(lcCalibration) << "gyroscope quality needs five samples, got" << samples.size();
        return;
    }
    // Five consecutive segments of `length` samples from sample 0; the tail from
    // 5 * length on is not scored. With 5 to 9 samples the segments are one
    // sample each: a length of c - 1 would be 0 there, and empty segments
    // (0 / 0) scored nothing however steady the module was.
    const int length = std::max(1, c - 1);
    float segmentSum[5][3] = {};
    for (int t = 0; t < length; ++t) {
        for (int k = 0; k < 5; ++k) {
            const Sample4 &sample = samples[std::size_t(k * length + t)];
            segmentSum[k][0] += sample.x();
            segmentSum[k][1] += sample.y();
            segmentSum[k][2] += sample.z();
        }
    }

    const float f = GYRO_RNG_FACTOR;
    for (int k = 0; k < 5; ++k) {
        for (int axis = 0; axis < 3; ++axis) {
            const float mean = segmentSum[k][axis] / (float(length) * f);
            const float deviation = std::fabs(mean - GYRO_OFFSET[axis]);
            GYRO_CAL_QUALITY += bandPoints(
                deviation, GYRO_QUALITY_BANDS, gyroPointsGood, gyroPointsFair, gyroPointsPoor);
        }
    }
}
