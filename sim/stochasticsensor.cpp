// SPDX-License-Identifier: GPL-3.0-or-later
#include "stochasticsensor.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double standardGravity = 9.80665;

const StochasticAxis &axisOf(const StochasticParameters &p, int i)
{
    return i < 3 ? p.gyro[std::size_t(i)] : p.acc[std::size_t(i - 3)];
}

} // namespace

StochasticParameters StochasticParameters::consumerMems()
{
    StochasticParameters p;
    const double spread[3] = {1.0, 1.1, 0.9};
    for (std::size_t i = 0; i < 3; ++i) {
        p.gyro[i] = {0.007 * spread[i], 0.003 * spread[2 - i], 2e-4 * spread[i], 0};
        p.acc[i] = {150e-6 * standardGravity * spread[2 - i], 50e-6 * standardGravity * spread[i],
            3.3e-5 * spread[2 - i], 0};
    }
    return p;
}

std::vector<double> StochasticSensor::flickerTimeConstants()
{
    std::vector<double> t;
    for (int k = -5; k <= 10; ++k)
        t.push_back(std::pow(10.0, k / 2.0));
    return t;
}

double StochasticSensor::flickerRatio()
{
    return std::sqrt(10.0);
}

StochasticSensor::StochasticSensor(const StochasticParameters &parameters, quint64 seed)
    : m_parameters(parameters)
    , m_rng(seed)
    , m_tau(flickerTimeConstants())
{
    // Gauss-Markov processes with time constants a ratio r apart and equal
    // variance s^2 sum to a one-sided spectrum close to (s^2 / ln r) / f; the
    // flat Allan variance of h/f is 2 ln 2 h = (2 ln 2 / pi) B^2, so
    // s^2 = B^2 ln r / pi. They start in their stationary state.
    for (int i = 0; i < 6; ++i) {
        const double B = axisOf(m_parameters, i).biasInstability;
        const double s = B * std::sqrt(std::log(flickerRatio()) / pi);
        m_markov[std::size_t(i)].resize(m_tau.size());
        for (double &x : m_markov[std::size_t(i)])
            x = s * m_unit(m_rng);
    }
}

std::array<double, 6> StochasticSensor::step(double dt)
{
    if (dt != m_lastDt) {
        m_decay.resize(m_tau.size());
        m_drive.resize(m_tau.size());
        for (std::size_t k = 0; k < m_tau.size(); ++k) {
            m_decay[k] = std::exp(-dt / m_tau[k]);
            m_drive[k] = std::sqrt(-std::expm1(-2 * dt / m_tau[k]));
        }
        m_lastDt = dt;
    }
    m_time += dt;
    const double ln = std::sqrt(std::log(flickerRatio()) / pi);
    const double tempOffset = m_parameters.tempRamp * m_time;
    std::array<double, 6> out {};
    for (int i = 0; i < 6; ++i) {
        const StochasticAxis &a = axisOf(m_parameters, i);
        double e = a.whiteDensity / std::sqrt(dt) * m_unit(m_rng);
        if (a.biasInstability > 0) {
            const double s = a.biasInstability * ln;
            std::vector<double> &x = m_markov[std::size_t(i)];
            for (std::size_t k = 0; k < x.size(); ++k) {
                x[k] = m_decay[k] * x[k] + s * m_drive[k] * m_unit(m_rng);
                e += x[k];
            }
        }
        if (a.rateRandomWalk > 0)
            m_walk[std::size_t(i)] += a.rateRandomWalk * std::sqrt(dt) * m_unit(m_rng);
        out[std::size_t(i)] = e + m_walk[std::size_t(i)] + a.tempCoefficient * tempOffset;
    }
    return out;
}

double StochasticSensor::temperature() const
{
    return m_parameters.tempStart + m_parameters.tempRamp * m_time;
}

double StochasticSensor::quantise(double value, double lsb)
{
    return lsb > 0 ? std::round(value / lsb) * lsb : value;
}

StochasticSensor::Truth StochasticSensor::truth(double rateHz) const
{
    Truth t;
    for (int i = 0; i < 6; ++i) {
        const StochasticAxis &a = axisOf(m_parameters, i);
        const double lsb = i < 3 ? m_parameters.gyroLsb : m_parameters.accLsb;
        t.N[std::size_t(i)]
            = std::sqrt(a.whiteDensity * a.whiteDensity + lsb * lsb / (12 * rateHz));
        t.B[std::size_t(i)] = a.biasInstability;
        t.K[std::size_t(i)] = a.rateRandomWalk;
    }
    return t;
}

QString StochasticSensor::truthText(double rateHz) const
{
    static const char *names[6] = {"gyro_x", "gyro_y", "gyro_z", "acc_x", "acc_y", "acc_z"};
    const Truth t = truth(rateHz);
    QStringList lines;
    for (int i = 0; i < 6; ++i) {
        const std::size_t k = std::size_t(i);
        if (i < 3)
            lines << QStringLiteral("%1 N %2 deg/s/sqrt(Hz) (%3 deg/sqrt(h)) B %4 deg/s (%5 deg/h) "
                                    "K %6 deg/s*sqrt(Hz) (%7 deg/h/sqrt(h))")
                         .arg(QLatin1String(names[i]))
                         .arg(t.N[k], 0, 'g', 4)
                         .arg(t.N[k] * 60, 0, 'g', 4)
                         .arg(t.B[k], 0, 'g', 4)
                         .arg(t.B[k] * 3600, 0, 'g', 4)
                         .arg(t.K[k], 0, 'g', 4)
                         .arg(t.K[k] * 3600 * 60, 0, 'g', 4);
        else
            lines << QStringLiteral("%1 N %2 m/s^2/sqrt(Hz) (%3 ug/sqrt(Hz)) B %4 m/s^2 (%5 ug) "
                                    "K %6 m/s^2*sqrt(Hz) (%7 ug*sqrt(Hz))")
                         .arg(QLatin1String(names[i]))
                         .arg(t.N[k], 0, 'g', 4)
                         .arg(t.N[k] / standardGravity * 1e6, 0, 'g', 4)
                         .arg(t.B[k], 0, 'g', 4)
                         .arg(t.B[k] / standardGravity * 1e6, 0, 'g', 4)
                         .arg(t.K[k], 0, 'g', 4)
                         .arg(t.K[k] / standardGravity * 1e6, 0, 'g', 4);
    }
    return lines.join(QLatin1Char('\n'));
}
