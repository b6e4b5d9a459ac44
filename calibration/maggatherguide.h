// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "magfitcomparison.h"
#include "spherecoverage.h"

#include "sample4.h"
#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

// Guidance while magnetometer points are gathered: the cloud is fitted about once
// a second, and with that fit's centre and shape the directions of all kept
// points are mapped onto the sphere, so that coverage is judged on field
// directions and not on the raw, off-centre cloud. Also the live figures (share
// not covered, spread of the corrected magnitude, drift of the offset) and
// whether the data is good enough to finish.
class MagGatherGuide
{
public:
    // What "good enough" asks for.
    static constexpr int minimumPoints = 50;
    static constexpr double coverageNeeded = 75.0; // percent of the cells
    static constexpr double spreadLimit = 2.0; // percent of the field
    static constexpr double driftLimit = 1.0; // percent of the field
    static constexpr double driftWindow = 5.0; // seconds
    // A cloud flatter than this (smallest over largest variance) fixes no
    // ellipsoid: only its centroid is used then.
    static constexpr double flatness = 0.05;

    void clear();
    // A kept point, in the live units; mapped with the current fit at once.
    void addPoint(float x, float y, float z);
    // Refits, remaps every point and updates the figures; `seconds` on any
    // steady clock.
    void refresh(double seconds);

    const std::vector<Sample4> &points() const { return m_points; }
    const SphereCoverage &coverage() const { return m_coverage; }
    const MagFitComparison &fits() const { return m_fits; }
    bool fitsRun() const { return m_fitsRun; }

    double coveredPercent() const { return m_coverage.coveredPercent(); }
    // The face to turn towards the floor next, "" when nothing is missing.
    QString missingFace() const;
    QString hint() const;
    // Of the fit used for the map; negative while there is none.
    double spreadPercent() const { return m_spread; }
    // Change of the offset over the last driftWindow seconds, in percent of
    // the field; negative until the fit has run that long.
    double driftPercent() const { return m_drift; }
    bool goodEnough() const { return m_reasons.isEmpty(); }
    // Why not, one short sentence each.
    QStringList reasons() const { return m_reasons; }
    // A fit's score (0-100, from its residuals alone) held to what the data
    // shows: scaled down by the share of directions missing, by a spread or a
    // drift past their limits, and never above `notGoodCeiling` while the data
    // is not good enough. A fit to a third of the sphere can be perfect on
    // those points and wrong everywhere else.
    int heldScore(int fitScore, int notGoodCeiling) const;

private:
    void mapAll();
    void judge();

    std::vector<Sample4> m_points;
    SphereCoverage m_coverage;
    MagFitComparison m_fits;
    bool m_fitsRun = false;
    // What maps a point to its direction: offset and matrix (a block).
    Calibration::ParamBlock m_map {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool m_haveMap = false;
    double m_spread = -1.0;
    double m_drift = -1.0;
    double m_radius = 0.0;
    struct OffsetAt
    {
        double seconds;
        double offset[3];
    };
    std::deque<OffsetAt> m_offsets;
    QStringList m_reasons;
};
