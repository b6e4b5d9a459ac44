// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simmath.h"
#include "simtypes.h"
#include "stochasticsensor.h"

#include <registermap.h>

#include <array>
#include <optional>
#include <random>

// The physics and the sensors of the simulated module: a true orientation that
// follows a SimMotion, gravity and the earth field seen in the body frame, the
// sensor errors, the module's own calibration registers applied to the
// measurements, and the encoding into the live register bytes. Not thread-safe;
// the simulator guards it.
class SensorModel
{
public:
    static constexpr double gravity = 9.79426; // m/s^2
    static constexpr double earthField = 0.5; // field units (gauss)
    static constexpr double inclinationDeg = 55.0; // field points down, to the north
    static constexpr int liveStart = RegisterMap::Acc.address;
    // accelerometer .. gravity, 46 bytes
    static constexpr int liveLength = RegisterMap::Control1.address - RegisterMap::Acc.address;

    // The module's calibration registers, as the module applies them.
    struct Correction
    {
        Vec3 accOffset;
        Mat3 accMatrix;
        Vec3 gyroOffset;
        Vec3 gyroScale {1, 1, 1};
        Vec3 magOffset;
        Mat3 magMatrix;

        // Reads offsets and scale factors from a 176-byte register image.
        static Correction fromImage(const quint8 *image);
    };

    SensorModel();

    // `now` is the simulator's clock in seconds; motion time starts there.
    void setMotion(const SimMotion &motion, double now);
    SimMotion motion() const { return m_motion; }
    Quat orientationAt(double now) const;

    void setErrors(const SimSensorErrors &errors) { m_errors = errors; }
    SimSensorErrors errors() const { return m_errors; }
    void setErrorsEnabled(bool on) { m_errorsOn = on; }
    bool errorsEnabled() const { return m_errorsOn; }
    void setNoiseSeed(quint64 seed) { m_rng.seed(seed); }

    // The stochastic model of a resting MEMS part (white noise, bias
    // instability, rate random walk, temperature ramp) in place of the plain
    // white noise; its LSB follows the full scales in use.
    void setStochastic(const StochasticParameters &parameters, quint64 seed);
    bool stochasticEnabled() const { return m_stochastic.has_value(); }
    // The terms the analysis should find at `rateHz`, one line per axis.
    QString stochasticTruthText(double rateHz, const SimFullScales &scales) const;

    SimTruth truth(double now, const Correction &correction, const SimFullScales &scales) const;

    // The live bytes 0x06..0x33 at `now`; white noise is added while the errors are on.
    std::array<quint8, liveLength> liveBytes(
        double now, const Correction &correction, const SimFullScales &scales);

    static Quat poseQuaternion(SimPose pose, double headingDeg);
    static qint16 encode(double value, double fullScale);

private:
    struct Readings
    {
        SimTruth truth;
        Quat orientation;
    };
    Readings evaluate(double now, const Correction &correction, const SimFullScales &scales) const;

    SimMotion m_motion;
    double m_motionStart = 0;
    SimSensorErrors m_errors;
    bool m_errorsOn = false;
    std::mt19937_64 m_rng {1};
    std::optional<StochasticSensor> m_stochastic;
    double m_stochasticAt = -1; // clock of its latest step
};
