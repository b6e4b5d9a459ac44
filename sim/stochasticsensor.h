// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <random>
#include <vector>

// The random errors of a resting MEMS sensor, per axis: white noise, bias
// instability (flicker noise, built as a sum of first-order Gauss-Markov
// processes two a decade from 3 ms to 1e5 s), rate random walk, an optional
// bias that follows a temperature ramp, and quantisation to the output's LSB.
// Usable on its own to make hours of samples far faster than real time.
// Not thread-safe.
struct StochasticAxis
{
    double whiteDensity = 0; // N: unit / sqrt(Hz)
    double biasInstability = 0; // B: unit (flat Allan deviation / 0.664)
    double rateRandomWalk = 0; // K: unit * sqrt(Hz)
    double tempCoefficient = 0; // unit per degree Celsius
};

struct StochasticParameters
{
    std::array<StochasticAxis, 3> gyro {}; // deg/s
    std::array<StochasticAxis, 3> acc {}; // m/s^2
    double tempStart = 25; // degrees Celsius
    double tempRamp = 0; // degrees Celsius per second
    double gyroLsb = 0; // output step, 0 for none (set from the full scale)
    double accLsb = 0;

    // A consumer MEMS part: gyroscope N 0.007 deg/s/sqrt(Hz) (0.42 deg/sqrt(h)),
    // B 0.003 deg/s (10.8 deg/h), K 2e-4 deg/s*sqrt(Hz); accelerometer N 150
    // ug/sqrt(Hz), B 50 ug, K 3.3e-5 m/s^2*sqrt(Hz); small differences per axis.
    static StochasticParameters consumerMems();
};

class StochasticSensor
{
public:
    StochasticSensor(const StochasticParameters &parameters, quint64 seed);

    const StochasticParameters &parameters() const { return m_parameters; }

    // Advances the errors by dt seconds (one output sample) and returns the
    // error to add to each axis: gyroscope x, y, z then accelerometer x, y, z.
    std::array<double, 6> step(double dt);
    double temperature() const;
    double seconds() const { return m_time; }

    // Rounds to the output step, as the module's 16-bit registers do.
    static double quantise(double value, double lsb);

    // The terms as the analysis sees them at `rateHz`: quantisation adds
    // white noise lsb^2 / (12 rate), so N here includes it.
    struct Truth
    {
        std::array<double, 6> N {}, B {}, K {};
    };
    Truth truth(double rateHz) const;
    // One line per axis, in the channel's and the datasheets' units.
    QString truthText(double rateHz) const;

    // Gauss-Markov time constants of the flicker part and the ratio between them.
    static std::vector<double> flickerTimeConstants();
    static double flickerRatio();

private:
    StochasticParameters m_parameters;
    std::mt19937_64 m_rng;
    std::normal_distribution<double> m_unit {0.0, 1.0};
    std::array<std::vector<double>, 6> m_markov; // state of each Gauss-Markov process
    std::array<double, 6> m_walk {};
    std::vector<double> m_tau;
    double m_time = 0;
    // Cached for the last dt: decay, drive gain of each process.
    double m_lastDt = -1;
    std::vector<double> m_decay, m_drive;
};
