// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration.h"

#include "calibrationlog.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr float degreesToRadians = 0.017453292f;

// Out-of-range or NaN qualities would make the conversion to int undefined;
// the workflows show and compare integers, so they read such a result as 0.
int roundQuality(float quality)
{
    if (!std::isfinite(quality))
        return 0;
    const double rounded = std::round(double(quality)); // halves away from zero
    return int(std::clamp(rounded, double(INT_MIN), double(INT_MAX)));
}

Calibration::ParamBlock makeBlock(const float *offset, const float *matrix)
{
    Calibration::ParamBlock block;
    std::copy(offset, offset + 3, block.begin());
    std::copy(matrix, matrix + 9, block.begin() + 3);
    return block;
}

// out[i] = sum over j of matrix[i][j] * diff[j], summed from 0 in order j = 0, 1, 2.
void applyMatrix(float *out, const float *matrix, const float *diff)
{
    for (int i = 0; i < 3; ++i) {
        float sum = 0.0f;
        for (int j = 0; j < 3; ++j)
            sum += matrix[3 * i + j] * diff[j];
        out[i] = sum;
    }
}

} // namespace

Calibration::Calibration(QObject *parent)
    : QObject(parent)
    , GYRO_RNG_FACTOR(131.072f)
    , ACC_RNG_FACTOR(1.0f)
    , MAG_RNG_SCL(4800.0f)
    , LOCAL_GRAVITY(9.79426f)
    , GYRO_OFFSET {2.8105927f, 2.310257f, 0.12992859f}
    , ACC_OFFSET {401.51f, 856.3425f, 344.535f}
    , MAG_OFFSET {-141.8641f, 79.1164f, 109.971f}
    , GYRO_INV_SCL_FACTOR {degreesToRadians, 0.0f, 0.0f, 0.0f, degreesToRadians, 0.0f, 0.0f, 0.0f,
          degreesToRadians}
    , ACC_INV_SCL_FACTOR {0.00059847365f, 1.2329256e-05f, 1.680909e-05f, -2.7322583e-05f,
          0.0005982103f, -7.626136e-06f, -1.0871117e-05f, -4.1086483e-07f, 0.000594586f}
    , MAG_INV_SCL_FACTOR {0.0087f, -0.0002f, 0.0003f, -0.0001f, 0.0078f, -0.0005f, -0.0006f,
          -0.0001f, 0.0077f}
    , LOCAL_MAGNITUDE(48.0f)
    , LOCAL_INCLINATION(0.94245005f)
    , ACC_QUALITY_BANDS {0.1f, 0.2f, 0.5f}
    , ACC_CAL_QUALITY(0.0f)
    , GYRO_QUALITY_BANDS {0.05f, 0.1f, 0.15f}
    , GYRO_CAL_QUALITY(0.0f)
    , MAG_SPREAD_BANDS {0.01f, 0.05f}
    , MAG_MEAN_BANDS {0.05f, 0.1f}
    , MAG_CAL_QUALITY(0.0f)
    , MAG_OCTANT_COUNT {0, 0, 0, 0, 0, 0, 0, 0}
    , MAG_OCTANT_MIN(30)
{ }

bool Calibration::isFiniteBlock(const ParamBlock &block)
{
    return std::all_of(block.begin(), block.end(), [](float v) { return std::isfinite(v); });
}

Calibration::ParamBlock Calibration::get_ACC_CAL_PARAM() const
{
    return makeBlock(ACC_OFFSET, ACC_INV_SCL_FACTOR);
}

Calibration::ParamBlock Calibration::get_GYRO_CAL_PARAM() const
{
    return makeBlock(GYRO_OFFSET, GYRO_INV_SCL_FACTOR);
}

Calibration::ParamBlock Calibration::get_MAG_CAL_PARAM() const
{
    return makeBlock(MAG_OFFSET, MAG_INV_SCL_FACTOR);
}

int Calibration::get_ACC_CAL_QUALITY() const
{
    return roundQuality(ACC_CAL_QUALITY);
}

int Calibration::get_GYRO_CAL_QUALITY() const
{
    return roundQuality(GYRO_CAL_QUALITY);
}

int Calibration::get_MAG_CAL_QUALITY() const
{
    return roundQuality(MAG_CAL_QUALITY);
}

void Calibration::calibrate_ACC(float *ACC_Calibrated, const int *ACC_RAW_INT)
{
    if (!ACC_Calibrated || !ACC_RAW_INT)
        return;
    float diff[3];
    for (int j = 0; j < 3; ++j)
        diff[j] = float(ACC_RAW_INT[j]) / ACC_RNG_FACTOR - ACC_OFFSET[j];
    applyMatrix(ACC_Calibrated, ACC_INV_SCL_FACTOR, diff);
}

void Calibration::calibrate_GYRO(float *GYRO_Calibrated, const int *GYRO_RAW_INT)
{
    if (!GYRO_Calibrated || !GYRO_RAW_INT)
        return;
    // GYRO_INV_SCL_FACTOR is kept for the module but deliberately not applied here.
    for (int i = 0; i < 3; ++i)
        GYRO_Calibrated[i]
            = (float(GYRO_RAW_INT[i]) / GYRO_RNG_FACTOR - GYRO_OFFSET[i]) * degreesToRadians;
}

void Calibration::calibrate_MAG(float *MAG_Calibrated, const int *MAG_RAW_INT)
{
    if (!MAG_Calibrated || !MAG_RAW_INT)
        return;
    float diff[3];
    for (int j = 0; j < 3; ++j)
        diff[j] = float(MAG_RAW_INT[j]) - MAG_OFFSET[j];
    applyMatrix(MAG_Calibrated, MAG_INV_SCL_FACTOR, diff);
}

void Calibration::set_ACC_RNG_FACTOR(float ACC_RNG_SCL)
{
    ACC_RNG_FACTOR = ACC_RNG_SCL;
}

void Calibration::set_GYRO_RNG_FACTOR(float GYRO_RNG_SCL)
{
    GYRO_RNG_FACTOR = GYRO_RNG_SCL;
}

void Calibration::set_LOCAL_MAGNET_PARAMS(
    float MAG_RNG_SCL, float LOCAL_MAGNITUDE, float LOCAL_INCLINATION)
{
    this->MAG_RNG_SCL = MAG_RNG_SCL;
    this->LOCAL_MAGNITUDE = LOCAL_MAGNITUDE;
    this->LOCAL_INCLINATION = LOCAL_INCLINATION;
}

void Calibration::set_Local_Gravity_Magnitude(float Gravity_Mag)
{
    LOCAL_GRAVITY = Gravity_Mag;
}

void Calibration::load_ACC_CAL_PARAM(const float *offset, const float *inv_scl_factor)
{
    if (!offset || !inv_scl_factor)
        return;
    std::copy(offset, offset + 3, ACC_OFFSET);
    std::copy(inv_scl_factor, inv_scl_factor + 9, ACC_INV_SCL_FACTOR);
}

void Calibration::load_GYRO_CAL_PARAM(const float *offset, const float *inv_scl_factor)
{
    if (!offset || !inv_scl_factor)
        return;
    std::copy(offset, offset + 3, GYRO_OFFSET);
    std::copy(inv_scl_factor, inv_scl_factor + 9, GYRO_INV_SCL_FACTOR);
}

void Calibration::load_MAG_CAL_PARAM(const float *offset, const float *inv_scl_factor)
{
    if (!offset || !inv_scl_factor)
        return;
    std::copy(offset, offset + 3, MAG_OFFSET);
    std::copy(inv_scl_factor, inv_scl_factor + 9, MAG_INV_SCL_FACTOR);
}
