// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One reading as the calibration maths takes it: three axes and a fourth value
// the fits leave alone, in single precision. A plain type, so that the command
// line's calibration runs need no interface library.
class Sample4
{
public:
    constexpr Sample4() = default;
    constexpr Sample4(float x, float y, float z, float w)
        : m_v {x, y, z, w}
    { }

    constexpr float x() const { return m_v[0]; }
    constexpr float y() const { return m_v[1]; }
    constexpr float z() const { return m_v[2]; }
    constexpr float w() const { return m_v[3]; }
    void setX(float x) { m_v[0] = x; }
    void setY(float y) { m_v[1] = y; }
    void setZ(float z) { m_v[2] = z; }
    void setW(float w) { m_v[3] = w; }
    // Axis i: 0 x, 1 y, 2 z, 3 w.
    constexpr float operator[](int i) const { return m_v[i]; }
    float &operator[](int i) { return m_v[i]; }

    friend constexpr bool operator==(const Sample4 &a, const Sample4 &b)
    {
        return a.m_v[0] == b.m_v[0] && a.m_v[1] == b.m_v[1] && a.m_v[2] == b.m_v[2]
            && a.m_v[3] == b.m_v[3];
    }
    friend constexpr bool operator!=(const Sample4 &a, const Sample4 &b) { return !(a == b); }

private:
    float m_v[4] {};
};
