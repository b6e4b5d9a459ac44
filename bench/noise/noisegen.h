// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "noiseanalysis.h"
#include "stochasticsensor.h"

#include <QLatin1String>

#include <cmath>

// Six resting channels from the simulator's stochastic model, quantised to
// the module's LSB (full scales 250 deg/s and 20 m/s^2), far faster than real time.
inline StochasticParameters benchParameters()
{
    StochasticParameters p = StochasticParameters::consumerMems();
    p.gyroLsb = 250.0 / 32768;
    p.accLsb = 20.0 / 32768;
    return p;
}

inline NoiseInput simulatedRest(
    const StochasticParameters &p, double rate, double seconds, quint64 seed)
{
    StochasticSensor sensor(p, seed);
    static const char *names[6] = {"gyro_x", "gyro_y", "gyro_z", "acc_x", "acc_y", "acc_z"};
    NoiseInput in;
    in.rateHz = rate;
    for (int i = 0; i < 6; ++i)
        in.channels.push_back(
            {QLatin1String(names[i]), i < 3 ? QStringLiteral("deg/s") : QStringLiteral("m/s^2"),
                i < 3 ? NoiseChannel::Gyro : NoiseChannel::Acc, {}});
    const long n = std::lround(seconds * rate);
    for (auto &c : in.channels)
        c.values.reserve(std::size_t(n));
    for (long s = 0; s < n; ++s) {
        const std::array<double, 6> e = sensor.step(1 / rate);
        for (int i = 0; i < 6; ++i) {
            // z up: the accelerometer's z axis carries gravity's reaction.
            const double base = i == 5 ? 9.79426 : 0.0;
            in.channels[std::size_t(i)].values.push_back(float(StochasticSensor::quantise(
                base + e[std::size_t(i)], i < 3 ? p.gyroLsb : p.accLsb)));
        }
    }
    return in;
}
