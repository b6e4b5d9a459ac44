// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"

#include "sample4.h"
#include <QString>

#include <array>
#include <vector>

// The four magnetometer fits of Calibration and the ellipsoid-specific fit run
// on one cloud, each on an object of its own (Method 3 keeps counts across
// calls), and judged alike: by how round each makes the cloud, the spread of
// the corrected field magnitude, on the points it fitted and on points it did
// not see.
struct MagFitResult
{
    int method = 0; // 4, 1, 2, 3, or 5 for the ellipsoid-specific fit
    QString name;
    // A proper ellipsoid within the bounds, fitted on the whole cloud and on
    // its fitting part (and, for Method 3, its rotation rings found).
    bool valid = false;
    QString reason; // why not valid, for the user
    Calibration::ParamBlock block {}; // fitted on the whole cloud
    float spreadPercent = 0; // standard deviation of |corrected| over its mean, all points
    // The same spread on the checking points, of the fit on the fitting points.
    float heldOutSpreadPercent = 0;
    // As Method 4 scores itself, (1 - RMS(1 - |corrected|)) * 100, on the
    // checking points of the fit on the fitting points.
    float quality = 0;
};

class MagFitComparison
{
public:
    static constexpr int fitCount = 5;
    // Method 3 needs the points of three turns, one about each axis. A cloud
    // gathered by turning freely holds them as rings: the points whose corrected
    // direction lies this far from an axis' plane (cos 60 degrees), give or
    // take the band.
    static constexpr float ringHeight = 0.5f;
    static constexpr float ringBand = 0.12f;
    static constexpr int ringMinimumPoints = 12;

    // Runs the five fits in the order Method 4 (the procedure's own), 1, 2, 3,
    // ellipsoid-specific, each on the whole cloud and on its fitting part
    // (magfit::splitForChecking). Bounds as magfit::Bounds; a full scale of
    // 0 leaves the range bounds out.
    void run(const std::vector<Sample4> &points, double fullScale = 0.0);
    const std::array<MagFitResult, fitCount> &results() const { return m_results; }
    // Index of the valid fit with the lowest held-out spread, or -1.
    int best() const;
    int fittingPoints() const { return m_fitting; }
    int checkingPoints() const { return m_checking; }

    // Both on the corrected points M (p - offset), in float as calibrate_MAG
    // corrects; sums in double.
    static float magnitudeSpread(
        const std::vector<Sample4> &points, const Calibration::ParamBlock &block);
    static float magnitudeQuality(
        const std::vector<Sample4> &points, const Calibration::ParamBlock &block);

private:
    std::array<MagFitResult, fitCount> m_results {};
    int m_fitting = 0;
    int m_checking = 0;
};
