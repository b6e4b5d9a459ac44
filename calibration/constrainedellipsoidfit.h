// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"

#include "sample4.h"
#include <QString>

#include <vector>

// An ellipsoid fit that cannot return anything but an ellipsoid: Li and
// Griffiths' constrained least squares (IEEE GMP 2004, "Least squares
// ellipsoid specific fitting", constraint 4J - I^2 > 0), then refined by
// Levenberg-Marquardt on the distance of each corrected point from the unit
// sphere, which removes most of the algebraic fit's bias on partial clouds.
// Double precision throughout; the sums of squares are formed in one pass, so
// memory does not grow with the number of points (the refinement's Jacobian
// does, 9 doubles a point).
struct EllipsoidSpecificFit
{
    bool ok = false;
    QString reason; // why not, when !ok
    Calibration::ParamBlock block {}; // offset, then M with |M (p - offset)| = 1
    int refinementSteps = 0;
};

EllipsoidSpecificFit fitEllipsoidSpecific(const std::vector<Sample4> &points);
