// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The heading deviation table of a magnetometer calibration: the module laid
// flat and turned through several headings, each measured at rest; the heading
// from the corrected field, tilt-compensated with the accelerometer, against
// the angle it was turned through.

#include "calibration.h"

#include <QString>
#include <QVector3D>

#include <vector>

struct HeadingStop
{
    double turnedDeg = 0; // turned from the first stop, about the vertical
    QVector3D acc; // at rest: gravity's reaction, any unit
    QVector3D mag; // as the sensor read it (no correction applied)
};

struct HeadingRow
{
    double turnedDeg = 0;
    double measuredDeg = 0; // the turn the corrected field shows, from the first stop
    double deviationDeg = 0; // measured - turned, less the mean (north is not known)
};

struct HeadingTable
{
    bool ok = false;
    QString reason; // why no table
    std::vector<HeadingRow> rows;
    double maxDeviationDeg = 0;
    double rmsDeviationDeg = 0;
};

// At least `minimumStops` stops; every stop must have a usable gravity and a
// horizontal field. The block corrects the magnetometer as the module does.
HeadingTable headingDeviation(
    const std::vector<HeadingStop> &stops, const Calibration::ParamBlock &magCalibration);

constexpr int headingMinimumStops = 8;
