// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"

#include "sample4.h"

#include <vector>

// Whether gathered data can give a calibration worth writing into the module.
// Each check returns an empty string when the data is fine, else the reason,
// short enough for the page's hint banner.

// Method 4 has six unknowns. With kept points at least 0.03 field units apart, 50
// points trace a path about as long as half a great circle of the earth's field
// (radius about 0.5): fewer cannot cover the sphere the fit needs.
constexpr int magMinimumPoints = 50;
// Smallest over largest eigenvalue of the cloud's covariance. A sphere gives 1, a
// hemisphere 0.25, a 60-degree cap 0.1; points in one plane give noise level only.
constexpr float magMinimumFlatness = 0.05f;
// Corrected points (on the unit sphere once fitted) in every one of the eight
// octants, at least this many each: the fit is then pinned from all sides.
constexpr int magMinimumPerOctant = 3;

// The six position means (Z-Up, Z-Down, Y-Up, Y-Down, X-Up, X-Down, x y z each):
// each axis must read clearly more up than down (so no position was repeated or
// turned over), and the sensitivity matrix must be well away from singular.
QString accMeansProblem(const float *positionMeans, float gravity);

// Before the fit: enough points, not all in one plane.
QString magCloudProblem(const std::vector<Sample4> &points);

// After the fit: the corrected points cover all eight octants of the unit sphere.
QString magCoverageProblem(
    const std::vector<Sample4> &points, const Calibration::ParamBlock &block);
