// SPDX-License-Identifier: GPL-3.0-or-later
#include "simtypes.h"

#include "simmath.h"

#include <random>

SimMotion SimMotion::still(SimPose pose, double headingDeg)
{
    SimMotion m;
    m.kind = Still;
    m.pose = pose;
    m.headingDeg = headingDeg;
    return m;
}

SimMotion SimMotion::rotating(SimPose start, std::array<double, 3> bodyAxis, double degPerSec)
{
    SimMotion m;
    m.kind = Rotate;
    m.pose = start;
    m.axis = bodyAxis;
    m.rateDegPerSec = degPerSec;
    return m;
}

SimMotion SimMotion::tumbling()
{
    SimMotion m;
    m.kind = Tumble;
    return m;
}

SimSensorErrors SimSensorErrors::generate(quint64 seed, bool rotatedSoftIron)
{
    std::mt19937_64 rng(seed);
    auto within = [&rng](double limit) {
        return std::uniform_real_distribution<double>(-limit, limit)(rng);
    };

    SimSensorErrors e;
    for (int i = 0; i < 3; ++i)
        e.accBias[std::size_t(i)] = within(0.49); // 50 mg
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            e.accMatrix[std::size_t(r * 3 + c)] = r == c ? 1.0 + within(0.03) : within(0.01);
    for (int i = 0; i < 3; ++i) {
        e.gyroBias[std::size_t(i)] = within(3.0);
        e.gyroScale[std::size_t(i)] = 1.0 + within(0.02);
        e.magHardIron[std::size_t(i)] = within(0.25);
    }
    const Mat3 stretch = Mat3::diagonal(1.0 + within(0.15), 1.0 + within(0.15), 1.0 + within(0.15));
    Mat3 soft = stretch;
    if (rotatedSoftIron) {
        const Vec3 axis {within(1.0), within(1.0), within(1.0) + 1e-3};
        const Mat3 turn = Quat::fromAxisAngle(axis, within(simPi)).toMatrix();
        soft = turn * stretch * turn.transposed();
    }
    e.magSoftIron = soft.m;
    // Noise of a consumer MEMS part sampled at about 100 Hz.
    e.accNoise = 0.03;
    e.gyroNoise = 0.05;
    e.magNoise = 0.002;
    return e;
}
