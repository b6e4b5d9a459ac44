// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// What the magnetometer's numbers are in. The module reports its field in its
// full-scale unit, gauss, while its magnetometer calibration registers hold the
// factory default (no offset, the identity matrix). A calibration scales the
// field so that the local field reads 1: from then on the numbers are relative
// to the local field, and calling them gauss would be wrong by the local
// field's strength (about 0.5 gauss). Every place that names the unit (charts,
// readouts, status strip, CSV headers, the command-line tool) asks here.

// Whether the 48 bytes of the magnetometer calibration block (offsets, then
// the 3 x 3 matrix, as the module holds them from "Magnetometer Offset X")
// differ from the factory default.
bool magCalibrated(const quint8 *magCalibrationBlock);

// The unit as people read it: "gauss", or "relative to the local field".
QString magUnitText(bool calibrated);

// The same text as part of a CSV column name: spaces become '_'.
QString magUnitColumn(bool calibrated);
