// SPDX-License-Identifier: GPL-3.0-or-later
#include "accfaceguide.h"

#include <cmath>

QString AccFaceGuide::faceName(int face)
{
    static const char *const names[6] = {"Z-Up", "Z-Down", "Y-Up", "Y-Down", "X-Up", "X-Down"};
    return face >= 0 && face < 6 ? QString::fromLatin1(names[face]) : QString();
}

int AccFaceGuide::faceOf(double x, double y, double z) const
{
    const double v[3] = {x, y, z};
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!std::isfinite(length) || std::fabs(length - m_gravity) > magnitudeTolerance * m_gravity)
        return -1;
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (std::fabs(v[a]) > std::fabs(v[axis]))
            axis = a;
    }
    if (std::fabs(v[axis]) < std::cos(faceConeDeg * M_PI / 180.0) * length)
        return -1;
    // z is asked for first, then y, then x; up before down.
    const int pair = 2 - axis;
    return 2 * pair + (v[axis] < 0 ? 1 : 0);
}

void AccFaceGuide::addSample(double x, double y, double z)
{
    const int face = faceOf(x, y, z);
    if (face == m_lastFace) {
        ++m_run;
    } else {
        m_lastFace = face;
        m_run = 1;
    }
    if (face < 0)
        m_faceUp = -1;
    else if (m_run >= steadySamples)
        m_faceUp = face;
    else if (m_faceUp != face)
        m_faceUp = -1;
}

bool AccFaceGuide::fitsPosition(int face, double x, double y, double z)
{
    if (face != m_positionFace) {
        restartPosition();
        m_positionFace = face;
    }
    if (faceOf(x, y, z) != face) {
        restartPosition();
        return false;
    }
    if (m_positionCount > 0) {
        const double *s = m_positionSum;
        const double dot = s[0] * x + s[1] * y + s[2] * z;
        const double lengths
            = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) * std::sqrt(x * x + y * y + z * z);
        const double angle = std::acos(std::max(-1.0, std::min(1.0, dot / lengths))) * 180.0 / M_PI;
        if (angle > steadyDeg) {
            restartPosition();
            return false;
        }
    }
    m_positionSum[0] += x;
    m_positionSum[1] += y;
    m_positionSum[2] += z;
    ++m_positionCount;
    return true;
}

void AccFaceGuide::restartPosition()
{
    m_positionCount = 0;
    m_positionSum[0] = m_positionSum[1] = m_positionSum[2] = 0.0;
}
