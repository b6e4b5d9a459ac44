// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cmath>

// Just enough 3D maths for the simulated module, in double precision so that
// the ground truth is exact well below the 16-bit resolution of the sensors.

struct Vec3
{
    double x = 0, y = 0, z = 0;

    Vec3 operator+(const Vec3 &o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3 &o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    double dot(const Vec3 &o) const { return x * o.x + y * o.y + z * o.z; }
    double norm() const { return std::sqrt(dot(*this)); }
    Vec3 normalized() const
    {
        const double n = norm();
        return n > 0 ? *this * (1.0 / n) : Vec3 {};
    }
    double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
};

// Row-major 3x3 matrix.
struct Mat3
{
    std::array<double, 9> m {1, 0, 0, 0, 1, 0, 0, 0, 1};

    static Mat3 identity() { return {}; }
    static Mat3 diagonal(double a, double b, double c) { return {{a, 0, 0, 0, b, 0, 0, 0, c}}; }
    double at(int row, int col) const { return m[std::size_t(row * 3 + col)]; }
    Vec3 operator*(const Vec3 &v) const
    {
        return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
    }
    Mat3 operator*(const Mat3 &o) const
    {
        Mat3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double s = 0;
                for (int k = 0; k < 3; ++k)
                    s += at(i, k) * o.at(k, j);
                r.m[std::size_t(i * 3 + j)] = s;
            }
        return r;
    }
    Mat3 transposed() const { return {{m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]}}; }
};

// Unit quaternion (w, x, y, z) rotating body vectors into the world frame.
struct Quat
{
    double w = 1, x = 0, y = 0, z = 0;

    static Quat fromAxisAngle(const Vec3 &axis, double radians)
    {
        const Vec3 a = axis.normalized();
        const double s = std::sin(radians / 2);
        return {std::cos(radians / 2), a.x * s, a.y * s, a.z * s};
    }
    Quat operator*(const Quat &o) const
    {
        return {w * o.w - x * o.x - y * o.y - z * o.z, w * o.x + x * o.w + y * o.z - z * o.y,
            w * o.y - x * o.z + y * o.w + z * o.x, w * o.z + x * o.y - y * o.x + z * o.w};
    }
    Quat conjugate() const { return {w, -x, -y, -z}; }
    Quat normalized() const
    {
        const double n = std::sqrt(w * w + x * x + y * y + z * z);
        return {w / n, x / n, y / n, z / n};
    }
    Mat3 toMatrix() const
    {
        return {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),
            2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x), 2 * (x * z - w * y),
            2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    }
    Vec3 rotate(const Vec3 &v) const { return toMatrix() * v; }
    Vec3 rotateInverse(const Vec3 &v) const { return toMatrix().transposed() * v; }
};

constexpr double simPi = 3.14159265358979323846;
constexpr double degToRad = simPi / 180.0;
constexpr double radToDeg = 180.0 / simPi;
