// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Seeded, reproducible sample clouds for the magnetometer fits. Only the raw
// std::mt19937 output is used: its sequence is fixed by the C++ standard,
// whereas the standard distributions differ between libraries.

#include "sample4.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace clouds {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<double, 9>; // row-major

class Noise
{
public:
    explicit Noise(std::uint32_t seed)
        : m_engine(seed)
    { }

    // Uniform in [0, 1).
    double uniform() { return double(m_engine() >> 8) * (1.0 / 16777216.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Box-Muller).
    double gaussian()
    {
        const double u1 = 1.0 - uniform(); // (0, 1]
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
    }

private:
    std::mt19937 m_engine;
};

// n unit vectors spread evenly over the sphere (Fibonacci lattice).
inline std::vector<Vec3> unitSphere(int n)
{
    std::vector<Vec3> points;
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < n; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / n;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = golden * i;
        points.push_back({r * std::cos(phi), r * std::sin(phi), z});
    }
    return points;
}

inline Vec3 apply(const Mat3 &m, const Vec3 &v)
{
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
        m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

inline Mat3 multiply(const Mat3 &a, const Mat3 &b)
{
    Mat3 c {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return c;
}

inline Mat3 transpose(const Mat3 &a)
{
    return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
}

inline Mat3 diagonal(double a, double b, double c)
{
    return {a, 0, 0, 0, b, 0, 0, 0, c};
}

// Rotation about x, then y, then z (angles in radians): Rz * Ry * Rx.
inline Mat3 rotation(double ax, double ay, double az)
{
    const Mat3 rx {1, 0, 0, 0, std::cos(ax), -std::sin(ax), 0, std::sin(ax), std::cos(ax)};
    const Mat3 ry {std::cos(ay), 0, std::sin(ay), 0, 1, 0, -std::sin(ay), 0, std::cos(ay)};
    const Mat3 rz {std::cos(az), -std::sin(az), 0, std::sin(az), std::cos(az), 0, 0, 0, 1};
    return multiply(rz, multiply(ry, rx));
}

// Samples centre + shape * u for the given unit vectors u, each coordinate with
// added Gaussian noise of the given standard deviation (none when noise is null).
inline std::vector<Sample4> cloud(const std::vector<Vec3> &directions, const Vec3 &centre,
    const Mat3 &shape, double sigma = 0.0, Noise *noise = nullptr)
{
    std::vector<Sample4> samples;
    for (const Vec3 &u : directions) {
        const Vec3 p = apply(shape, u);
        float c[3];
        for (int i = 0; i < 3; ++i)
            c[i] = float(centre[i] + p[i] + (noise ? sigma * noise->gaussian() : 0.0));
        samples.emplace_back(c[0], c[1], c[2], 0.0f);
    }
    return samples;
}

// Field directions in the module's frame while it turns about one of its own
// axes (0 = x, 1 = y, 2 = z) held vertical: the component along that axis is
// -sin(inclination), the horizontal part turns once around.
inline std::vector<Vec3> turnAbout(int axis, double inclination, int n)
{
    std::vector<Vec3> directions;
    const double vertical = -std::sin(inclination);
    const double horizontal = std::cos(inclination);
    for (int i = 0; i < n; ++i) {
        const double theta = 2.0 * M_PI * i / n;
        Vec3 v {};
        v[std::size_t(axis)] = vertical;
        v[std::size_t((axis + 1) % 3)] = horizontal * std::cos(theta);
        v[std::size_t((axis + 2) % 3)] = horizontal * std::sin(theta);
        directions.push_back(v);
    }
    return directions;
}

// A random rotation (angles uniform in each of Rz Ry Rx).
inline Mat3 randomRotation(Noise &rng)
{
    return rotation(rng.uniform(-M_PI, M_PI), rng.uniform(-M_PI, M_PI), rng.uniform(-M_PI, M_PI));
}

// n random directions within a cap that holds `fraction` of the sphere, about
// a random axis: a module turned only part of the way.
inline std::vector<Vec3> capDirections(Noise &rng, double fraction, int n)
{
    const Mat3 cap = randomRotation(rng);
    const double lowestZ = 1.0 - 2.0 * fraction;
    std::vector<Vec3> directions;
    for (int i = 0; i < n; ++i) {
        const double z = rng.uniform(lowestZ, 1.0);
        const double phi = rng.uniform(0.0, 2.0 * M_PI);
        const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
        directions.push_back(apply(cap, {r * std::cos(phi), r * std::sin(phi), z}));
    }
    return directions;
}

// Soft iron scaling a field of the given size: each principal axis stretched
// by up to `stretch`, the axes turned at random (symmetric, positive definite).
inline Mat3 turnedStretch(Noise &rng, double field, double stretch)
{
    const Mat3 turn = randomRotation(rng);
    const Mat3 scale = diagonal(field * (1.0 + rng.uniform(-stretch, stretch)),
        field * (1.0 + rng.uniform(-stretch, stretch)),
        field * (1.0 + rng.uniform(-stretch, stretch)));
    return multiply(turn, multiply(scale, transpose(turn)));
}

} // namespace clouds
