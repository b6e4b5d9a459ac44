// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>

// What the six-position estimate cannot absorb. The fit turns whatever six means
// it gets into an offset and a matrix that reproduce them, so scoring it on its
// own data says little. Two properties of the poses themselves do not depend
// on the fit: the readings of opposite poses, less the offset, must point in
// opposite directions (a pose held off level breaks that by its angle), and the
// three axes the pairs give must stand square to each other within what the
// sensor's cross-axis error can explain. A pair held off level together shows
// as axes out of square.
struct AccPoseCheck
{
    // Cross-axis error of up to about 1 % per element skews two axes by up to
    // about 1.2 degrees; beyond this it is the poses.
    static constexpr double squareBudgetDeg = 1.5;
    // Misfit at which the result is only written with a warning, and refused.
    static constexpr double warnDeg = 1.5;
    static constexpr double refuseDeg = 4.0;
    // Points off per degree of misfit.
    static constexpr double pointsPerDeg = 10.0;

    std::array<double, 3> antipodalDeg {}; // pairs Z, Y, X: angle between up and -down
    std::array<double, 3> squareDeg {}; // axis pairs Z-Y, Z-X, Y-X: deviation from 90
    std::array<double, 6> poseTiltDeg {}; // each pose against the axis the other two pairs imply
    std::array<double, 6> magnitudeError {}; // | |mean - offset| - gravity |, m/s^2
    double misfitDeg = 0; // the worst antipodal angle, or squareness beyond the budget
    int worstPose = -1; // the pose most likely held off, 0..5
    double score = 0; // 0..100

    // means: 18 floats (x, y, z of Z-Up, Z-Down, Y-Up, Y-Down, X-Up, X-Down);
    // offset: the fitted offset.
    static AccPoseCheck evaluate(const float *means, const float *offset, float gravity);

    bool refused() const { return misfitDeg >= refuseDeg; }
    bool warned() const { return misfitDeg >= warnDeg; }
    // "Z-Up was held about 5.0° off level." or empty when the poses agree.
    QString problem() const;
    // What the score was based on, one line.
    QString basis() const;
};
