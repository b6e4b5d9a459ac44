// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sample4.h"

#include <vector>

// Least-squares fit of an axis-aligned ellipsoid, shared by magnetometer
// Methods 4 and 3. k solves x^2 = k0 x + k1 y + k2 z - k3 y^2 - k4 z^2 + k5.
struct AxisAlignedEllipsoid
{
    float k[6];
    float offset[3];
    float radius;
    float scale[3]; // diagonal of the correction matrix
};

// Forms the n x 6 design matrix explicitly (working memory linear in n).
AxisAlignedEllipsoid fitAxisAlignedEllipsoid(const std::vector<Sample4> &samples);
