// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Checks on a magnetometer fit before it may be offered or written, and the
// split of a cloud into fitting and checking points.

#include "calibration.h"

#include "sample4.h"
#include <QString>

#include <array>
#include <vector>

namespace magfit {

// Semi-axes of the ellipsoid {p : |M (p - offset)| = 1} of a parameter block,
// in the field's unit: 1 / singular values of M, longest first. Non-finite
// values when the block is not a proper ellipsoid.
std::array<double, 3> semiAxes(const Calibration::ParamBlock &block);

// Empty when the block is a proper ellipsoid: every parameter finite, the
// matrix turning the field without mirroring it (determinant > 0) and every
// axis finite and positive. Otherwise why not, for the user.
QString improperReason(const Calibration::ParamBlock &block);

struct Bounds
{
    // The magnetometer's full scale in the points' unit; 0 or less: unknown,
    // and the two range bounds are not applied.
    double fullScale = 0.0;
    // Soft iron of a board stretches the field by tens of percent, not by a
    // factor of two: beyond that the cloud was not one field.
    double maxAxisRatio = 2.0;
};

// Empty when the block lies within the bounds; otherwise the bound it breaks,
// named with the figure. Call on proper blocks only.
QString boundsProblem(const Calibration::ParamBlock &block, const Bounds &bounds);

// Deterministic split: 3 of every 10 points of each coverage patch (directions
// seen from the middle of the cloud's bounding box, 120 patches) are kept for
// checking, so the checking points spread over the sphere as the cloud does.
struct Split
{
    std::vector<Sample4> fitting;
    std::vector<Sample4> checking;
};
Split splitForChecking(const std::vector<Sample4> &points);

} // namespace magfit
