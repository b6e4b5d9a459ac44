// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Calibration maths of the module: parameters of the three sensors, correction
// of raw samples, the accelerometer six-position estimate, the gyroscope offset
// estimate and four magnetometer fits, plus the matrix toolkit they use.

#include "matrixtoolkit.h"

#include "sample4.h"
#include <QObject>

#include <array>
#include <vector>

// A result scored below this is written only when the user confirms it: a cut
// frame or a bump during the run scores near 0, a still module near 100, and
// half the points is where the spread starts to show in the readings.
constexpr int calQualityFloor = 50;

class Calibration : public QObject
{
    Q_OBJECT

public:
    // One sensor's parameters as the module stores them: offset x, y, z, then
    // the 3 x 3 correction matrix row by row.
    using ParamBlock = std::array<float, 12>;

    explicit Calibration(QObject *parent = nullptr);

    // True when all 12 values are finite; the workflows write nothing else.
    static bool isFiniteBlock(const ParamBlock &block);

    ParamBlock get_ACC_CAL_PARAM() const;
    ParamBlock get_GYRO_CAL_PARAM() const;
    ParamBlock get_MAG_CAL_PARAM() const;

    // Quality rounded half away from zero; a non-finite quality reads as 0.
    int get_ACC_CAL_QUALITY() const;
    int get_GYRO_CAL_QUALITY() const;
    int get_MAG_CAL_QUALITY() const;

    // The Method 3 evaluation on its own, with the current magnetometer
    // parameters: resets MAG_CAL_QUALITY, sets LOCAL_INCLINATION, scores the
    // rotation sets and adds allSamples to MAG_OCTANT_COUNT.
    void scoreMagMethod3(const std::vector<Sample4> &allSamples, const std::vector<Sample4> &rotZ,
        const std::vector<Sample4> &rotY, const std::vector<Sample4> &rotX);

    // Members in their declaration order; the estimation slots overwrite them.
    float GYRO_RNG_FACTOR;
    float ACC_RNG_FACTOR;
    float MAG_RNG_SCL;
    float LOCAL_GRAVITY;
    float GYRO_OFFSET[3];
    float ACC_OFFSET[3];
    float MAG_OFFSET[3];
    float GYRO_INV_SCL_FACTOR[9];
    float ACC_INV_SCL_FACTOR[9];
    float MAG_INV_SCL_FACTOR[9];
    float LOCAL_MAGNITUDE;
    float LOCAL_INCLINATION;
    float ACC_QUALITY_BANDS[3];
    float ACC_CAL_QUALITY;
    float GYRO_QUALITY_BANDS[3];
    float GYRO_CAL_QUALITY;
    float MAG_SPREAD_BANDS[2];
    float MAG_MEAN_BANDS[2];
    float MAG_CAL_QUALITY;
    int MAG_OCTANT_COUNT[8];
    int MAG_OCTANT_MIN;

public slots:
    void setMagCalParamMthd4(std::vector<Sample4> magRawData);
    // Each correction reads three counts and writes three floats.
    void calibrate_ACC(float *ACC_Calibrated, const int *ACC_RAW_INT);
    void calibrate_GYRO(float *GYRO_Calibrated, const int *GYRO_RAW_INT);
    void calibrate_MAG(float *MAG_Calibrated, const int *MAG_RAW_INT);
    // ACC_RAW_FOR_CAL: 36 floats, six estimation means then six verification
    // means in the order Z-Up, Z-Down, Y-Up, Y-Down, X-Up, X-Down.
    void set_ACC_CAL_PARAM_SLOT(
        const float *ACC_RAW_FOR_CAL, float sensorMaxInt, float sensorPhysicalRange);
    void set_GYRO_CAL_OFST(std::vector<Sample4>);
    void set_ACC_RNG_FACTOR(float ACC_RNG_SCL);
    void set_GYRO_RNG_FACTOR(float GYRO_RNG_SCL);
    void set_MAG_CAL_PARAM_MTHD1(std::vector<Sample4> samples);
    void set_MAG_CAL_PARAM_MTHD2(std::vector<Sample4> samples);
    void set_MAG_CAL_PARAM_MTHD3(std::vector<Sample4> allSamples, std::vector<Sample4> rotZ,
        std::vector<Sample4> rotY, std::vector<Sample4> rotX);
    void set_LOCAL_MAGNET_PARAMS(
        float MAG_RNG_SCL, float LOCAL_MAGNITUDE, float LOCAL_INCLINATION = 0.0f);
    void set_Local_Gravity_Magnitude(float Gravity_Mag);
    // Each load copies 3 offsets and 9 matrix elements.
    void load_ACC_CAL_PARAM(const float *offset, const float *inv_scl_factor);
    void load_GYRO_CAL_PARAM(const float *offset, const float *inv_scl_factor);
    void load_MAG_CAL_PARAM(const float *offset, const float *inv_scl_factor);

private:
    void scoreAccelerometer(const float *verificationMeans);
    void scoreGyroscope(const std::vector<Sample4> &samples);
};
