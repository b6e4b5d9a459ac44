// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sample4.h"

#include <vector>

// Whether the module was turned while the gyroscope offset was measured. A turn
// shifts the average the offset is taken from, so a run with one is refused. A
// turn is a few samples in a row that leave the typical value (the median) by
// far more than the noise (the median absolute deviation) allows.
struct GyroRestCheck
{
    // Below this nobody turns a module by hand, whatever the noise.
    static constexpr double minimumRateDegPerSec = 1.0;
    // Noise figures (robust standard deviations) a turn must exceed.
    static constexpr double noiseFactor = 8.0;
    static constexpr int samplesInRow = 3;

    bool moved = false;
    int axis = -1; // 0 x, 1 y, 2 z, of the largest deviation
    double peakDegPerSec = 0; // the largest deviation from the median
    int firstSample = -1; // where the first turn began, counted from 0
    double thresholdDegPerSec = 0; // per axis, the largest of the three
    double noiseDegPerSec = 0; // the largest robust standard deviation

    static GyroRestCheck evaluate(const std::vector<Sample4> &samples);
};
