// SPDX-License-Identifier: GPL-3.0-or-later
#include "sensormodel.h"

#include <registercatalogue.h>

#include <algorithm>

namespace {

Vec3 toVec(const std::array<double, 3> &a)
{
    return {a[0], a[1], a[2]};
}
std::array<double, 3> toArray(const Vec3 &v)
{
    return {v.x, v.y, v.z};
}
Mat3 toMat(const std::array<double, 9> &a)
{
    return {a};
}

Vec3 readVec(const quint8 *image, int address)
{
    return {readF32(image + address), readF32(image + address + 4), readF32(image + address + 8)};
}

Mat3 readMat(const quint8 *image, int address)
{
    Mat3 m;
    for (int i = 0; i < 9; ++i)
        m.m[std::size_t(i)] = readF32(image + address + 4 * i);
    return m;
}

Vec3 scaled(const Vec3 &v, const Vec3 &s)
{
    return {v.x * s.x, v.y * s.y, v.z * s.z};
}

void putI16(quint8 *at, qint16 value)
{
    writeU16(at, quint16(value));
}

void putVec(quint8 *at, const Vec3 &v, double fullScale)
{
    for (int i = 0; i < 3; ++i)
        putI16(at + 2 * i, SensorModel::encode(v[i], fullScale));
}

// The tumble: a fast spin about the body z axis while that axis tilts from up
// to down and back within a minute, all under a slow turn about the vertical.
// Gravity and the earth field then pass within ~15 degrees of every body
// direction, at body rates below 200 deg/s.
constexpr double tumbleSpin = 150.0; // deg/s about body z
constexpr double tumbleHeading = 37.0; // deg/s about the vertical
constexpr double tumblePeriod = 60.0; // s for up-down-up

} // namespace

SensorModel::Correction SensorModel::Correction::fromImage(const quint8 *image)
{
    Correction c;
    c.accOffset = readVec(image, 55);
    c.accMatrix = readMat(image, 67);
    c.gyroOffset = readVec(image, 103);
    c.gyroScale = readVec(image, 115);
    c.magOffset = readVec(image, 127);
    c.magMatrix = readMat(image, 139);
    return c;
}

SensorModel::SensorModel() = default;

void SensorModel::setMotion(const SimMotion &motion, double now)
{
    m_motion = motion;
    m_motionStart = now;
}

Quat SensorModel::poseQuaternion(SimPose pose, double headingDeg)
{
    const Vec3 ex {1, 0, 0}, ey {0, 1, 0}, ez {0, 0, 1};
    Quat q;
    switch (pose) {
    case SimPose::ZUp:
        break;
    case SimPose::ZDown:
        q = Quat::fromAxisAngle(ex, simPi);
        break;
    case SimPose::YUp: // body y turned onto the vertical
        q = Quat::fromAxisAngle(ex, simPi / 2);
        break;
    case SimPose::YDown:
        q = Quat::fromAxisAngle(ex, -simPi / 2);
        break;
    case SimPose::XUp:
        q = Quat::fromAxisAngle(ey, -simPi / 2);
        break;
    case SimPose::XDown:
        q = Quat::fromAxisAngle(ey, simPi / 2);
        break;
    }
    return Quat::fromAxisAngle(ez, headingDeg * degToRad) * q;
}

Quat SensorModel::orientationAt(double now) const
{
    const double t = now - m_motionStart;
    const Quat start = poseQuaternion(m_motion.pose, m_motion.headingDeg);
    switch (m_motion.kind) {
    case SimMotion::Still:
        return start;
    case SimMotion::Rotate:
        return (start
            * Quat::fromAxisAngle(toVec(m_motion.axis), m_motion.rateDegPerSec * degToRad * t))
            .normalized();
    case SimMotion::Tumble:
        return (Quat::fromAxisAngle({0, 0, 1}, tumbleHeading * degToRad * t)
            * Quat::fromAxisAngle(
                {1, 0, 0}, simPi / 2 * (1 - std::cos(2 * simPi * t / tumblePeriod)))
            * Quat::fromAxisAngle({0, 0, 1}, tumbleSpin * degToRad * t))
            .normalized();
    }
    return start;
}

qint16 SensorModel::encode(double value, double fullScale)
{
    const double raw = std::round(value / fullScale * 32768.0);
    return qint16(std::clamp(raw, -32768.0, 32767.0));
}

SensorModel::Readings SensorModel::evaluate(
    double now, const Correction &correction, const SimFullScales &scales) const
{
    Readings r;
    SimTruth &truth = r.truth;
    const Quat q = orientationAt(now);
    r.orientation = q;
    truth.seconds = now - m_motionStart;
    truth.quaternion = {q.w, q.x, q.y, q.z};
    truth.fullScales = scales;

    const Mat3 R = q.toMatrix();
    truth.eulerDeg = {std::atan2(R.at(2, 1), R.at(2, 2)) * radToDeg,
        std::asin(std::clamp(-R.at(2, 0), -1.0, 1.0)) * radToDeg,
        std::atan2(R.at(1, 0), R.at(0, 0)) * radToDeg};

    // At rest or turning about its own centre the module feels only gravity's
    // reaction, which points up.
    const Vec3 acc = q.rotateInverse({0, 0, gravity});
    const double incl = inclinationDeg * degToRad;
    const Vec3 mag
        = q.rotateInverse({earthField * std::cos(incl), 0, -earthField * std::sin(incl)});

    // Body rate from the derivative of the orientation: w = 2 conj(q) dq/dt.
    Vec3 gyro;
    if (m_motion.kind != SimMotion::Still) {
        const double h = 1e-4;
        const Quat a = orientationAt(now - h), b = orientationAt(now + h);
        const Quat dq {(b.w - a.w) / (2 * h), (b.x - a.x) / (2 * h), (b.y - a.y) / (2 * h),
            (b.z - a.z) / (2 * h)};
        const Quat w = q.conjugate() * dq;
        gyro = Vec3 {w.x, w.y, w.z} * (2 * radToDeg);
    }
    truth.acc = toArray(acc);
    truth.gyro = toArray(gyro);
    truth.mag = toArray(mag);

    Vec3 accSensed = acc, gyroSensed = gyro, magSensed = mag;
    if (m_errorsOn) {
        accSensed = toMat(m_errors.accMatrix) * acc + toVec(m_errors.accBias);
        gyroSensed = scaled(gyro, toVec(m_errors.gyroScale)) + toVec(m_errors.gyroBias);
        magSensed = toMat(m_errors.magSoftIron) * mag + toVec(m_errors.magHardIron);
    }
    truth.accSensed = toArray(accSensed);
    truth.gyroSensed = toArray(gyroSensed);
    truth.magSensed = toArray(magSensed);
    truth.accOutput = toArray(correction.accMatrix * (accSensed - correction.accOffset));
    truth.gyroOutput = toArray(scaled(gyroSensed - correction.gyroOffset, correction.gyroScale));
    truth.magOutput = toArray(correction.magMatrix * (magSensed - correction.magOffset));

    truth.temperature = 30.0 + 0.5 * std::sin(2 * simPi * now / 300.0);
    return r;
}

void SensorModel::setStochastic(const StochasticParameters &parameters, quint64 seed)
{
    m_stochastic.emplace(parameters, seed);
    m_stochasticAt = -1;
}

QString SensorModel::stochasticTruthText(double rateHz, const SimFullScales &scales) const
{
    if (!m_stochastic)
        return QStringLiteral("the stochastic noise model is off (velmar-sim --noise-model)");
    StochasticParameters p = m_stochastic->parameters();
    p.gyroLsb = scales.gyro / 32768.0;
    p.accLsb = scales.acc / 32768.0;
    return StochasticSensor(p, 0).truthText(rateHz);
}

SimTruth SensorModel::truth(
    double now, const Correction &correction, const SimFullScales &scales) const
{
    return evaluate(now, correction, scales).truth;
}

std::array<quint8, SensorModel::liveLength> SensorModel::liveBytes(
    double now, const Correction &correction, const SimFullScales &scales)
{
    const Readings r = evaluate(now, correction, scales);
    const SimTruth &t = r.truth;
    Vec3 acc = toVec(t.accSensed), gyro = toVec(t.gyroSensed), mag = toVec(t.magSensed);
    double temperature = t.temperature;
    if (m_stochastic) {
        // One step per frame, as long as the time since the last frame.
        const double dt = m_stochasticAt < 0 || now <= m_stochasticAt ? 0.01 : now - m_stochasticAt;
        m_stochasticAt = now;
        const std::array<double, 6> e = m_stochastic->step(dt);
        gyro = gyro + Vec3 {e[0], e[1], e[2]};
        acc = acc + Vec3 {e[3], e[4], e[5]};
        if (m_stochastic->parameters().tempRamp != 0)
            temperature = m_stochastic->temperature();
    } else if (m_errorsOn) {
        std::normal_distribution<double> unit(0.0, 1.0);
        auto noisy = [&](const Vec3 &v, double sd) {
            return Vec3 {v.x + sd * unit(m_rng), v.y + sd * unit(m_rng), v.z + sd * unit(m_rng)};
        };
        acc = noisy(acc, m_errors.accNoise);
        gyro = noisy(gyro, m_errors.gyroNoise);
        mag = noisy(mag, m_errors.magNoise);
    }
    acc = correction.accMatrix * (acc - correction.accOffset);
    gyro = scaled(gyro - correction.gyroOffset, correction.gyroScale);
    mag = correction.magMatrix * (mag - correction.magOffset);

    std::array<quint8, liveLength> bytes {};
    auto b = [&bytes](int address) { return bytes.data() + (address - liveStart); };
    putVec(b(0x06), acc, scales.acc);
    putVec(b(0x0C), gyro, scales.gyro);
    putVec(b(0x12), mag, scales.mag);
    putI16(b(0x18), qint16(std::lround((temperature - 25.0) * 326.8)));
    const Quat q = r.orientation.w < 0
        ? Quat {-r.orientation.w, -r.orientation.x, -r.orientation.y, -r.orientation.z}
        : r.orientation;
    const double quat[4] = {q.w, q.x, q.y, q.z};
    for (int i = 0; i < 4; ++i)
        putI16(b(0x1A) + 2 * i, qint16(std::lround(quat[i] * 1000.0)));
    for (int i = 0; i < 3; ++i)
        putI16(b(0x22) + 2 * i, qint16(std::lround(t.eulerDeg[std::size_t(i)] * 100.0)));
    putVec(b(0x28), Vec3 {}, scales.acc); // linear acceleration: none while turning in place
    putVec(b(0x2E), toVec(t.acc), scales.acc);
    return bytes;
}
