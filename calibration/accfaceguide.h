// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Which face of the module is up, from live accelerometer samples, and whether
// the samples of a position are steady on the face it asks for. Faces are
// numbered as the six positions are asked for: 0 Z-Up, 1 Z-Down, 2 Y-Up,
// 3 Y-Down, 4 X-Up, 5 X-Down; -1 is none (turning, or between two faces).
class AccFaceGuide
{
public:
    // A face is up when gravity lies within this angle of its axis...
    static constexpr double faceConeDeg = 30.0;
    // ... and the module feels about gravity only (it is not being moved).
    static constexpr double magnitudeTolerance = 0.15;
    // Samples in a row on one face before that face counts as up.
    static constexpr int steadySamples = 5;
    // A sample of a position further than this from the position's mean so far
    // means the module moved: the position starts again.
    static constexpr double steadyDeg = 3.0;

    explicit AccFaceGuide(double gravity = 9.79426)
        : m_gravity(gravity)
    { }

    static QString faceName(int face);
    int faceOf(double x, double y, double z) const;

    // Every live sample, whatever the procedure does.
    void addSample(double x, double y, double z);
    // The face up now, -1 while none has held for steadySamples samples.
    int faceUp() const { return m_faceUp; }

    // A sample of position `face` while it is gathered: true when it lies on
    // that face and close to the position's samples before it (which it then
    // joins); false starts the position again.
    bool fitsPosition(int face, double x, double y, double z);
    void restartPosition();

private:
    double m_gravity;
    int m_lastFace = -1;
    int m_run = 0;
    int m_faceUp = -1;
    int m_positionFace = -1;
    int m_positionCount = 0;
    double m_positionSum[3] = {0, 0, 0};
};
