// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"

#include <QString>
#include <QVector4D>

#include <array>
#include <vector>

// The four magnetometer fits of Calibration run on one cloud, each on an object
// of its own (Method 3 keeps counts across calls), and judged alike: by how
// round each makes the cloud, the spread of the corrected field magnitude.
struct MagFitResult
{
    int method = 0; // 4, 1, 2 or 3
    QString name;
    bool valid = false; // finite parameters (and, for Method 3, its rotation rings found)
    Calibration::ParamBlock block {};
    float spreadPercent = 0; // standard deviation of |corrected| over its mean
    float quality = 0; // as Method 4 scores itself: (1 - RMS(1 - |corrected|)) * 100
};

class MagFitComparison
{
public:
    static constexpr int fitCount = 4;
    // Method 3 needs the points of three turns, one about each axis. A cloud
    // gathered by turning freely holds them as rings: the points whose corrected
    // direction lies this far from an axis' plane (cos 60 degrees), give or
    // take the band.
    static constexpr float ringHeight = 0.5f;
    static constexpr float ringBand = 0.12f;
    static constexpr int ringMinimumPoints = 12;

    // Runs the four fits in the order Method 4 (the procedure's own), 1, 2, 3.
    void run(const std::vector<QVector4D> &points);
    const std::array<MagFitResult, fitCount> &results() const { return m_results; }
    // Index of the valid fit with the lowest spread, or -1.
    int best() const;

    // Both on the corrected points M (p - offset), in float as calibrate_MAG
    // corrects; sums in double.
    static float magnitudeSpread(
        const std::vector<QVector4D> &points, const Calibration::ParamBlock &block);
    static float magnitudeQuality(
        const std::vector<QVector4D> &points, const Calibration::ParamBlock &block);

private:
    std::array<MagFitResult, fitCount> m_results {};
};
