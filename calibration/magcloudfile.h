// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A kept magnetometer cloud: the points as the sensor read them (the module's
// own correction undone) and the calibration that was active while they were
// taken, so that any fit can be run on them again later.
//
// JSON: {"format": "velmar-mag-cloud", "formatVersion": 1, "fullScale": f,
//        "active": {"offset": [3 reals], "matrix": [9 reals, row-major]},
//        "points": [[x, y, z], ...]}
// in the module's magnetometer unit; "fullScale" 0 when the range was unknown.

#include "calibration.h"

#include "sample4.h"
#include <QString>

#include <vector>

struct MagCloud
{
    std::vector<Sample4> points;
    Calibration::ParamBlock active {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    double fullScale = 0.0;
};

// Written to a temporary file, flushed and synced, then renamed over `path`;
// false with the reason when any step fails (nothing left half written).
bool saveMagCloud(const QString &path, const MagCloud &cloud, QString *error);
// False with the reason when the file is not such a cloud or holds a value
// that is not finite.
bool loadMagCloud(const QString &path, MagCloud *cloud, QString *error);
