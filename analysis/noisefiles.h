// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Resting recordings read into the noise analysis, and its results written
// out: shared by velmar-cli noise and the application's noise page.

#include "noiseanalysis.h"

#include <QJsonObject>
#include <QString>

#include <vector>

namespace NoiseFiles {

struct Samples
{
    NoiseInput input;
    // The module's temperature over the run (s, degrees Celsius), at most
    // one reading a second; empty when the recording holds none.
    std::vector<std::pair<double, double>> temperature;
    QString error;
};

// A raw recording or a measurement CSV of this tool, told apart by the
// CSV's header; gyroscope and accelerometer (and the magnetometer's axes
// when asked) of the frames that carry them all.
Samples readRecording(const QString &path, bool withMag = false);
bool isMeasurementCsv(const QString &path);

// {"duration_s", "rate_hz", "channels": [{"name", "unit", "N", "B", "K",
// "adev": [[tau, adev, low, high], ...]}, ...]}; an unknown term is null and
// its reason is under "reasons".
QJsonObject reportJson(const NoiseReport &report);
// The form visual-inertial calibration tools read: update rate, noise
// densities and random walks in SI units, the largest axis of each sensor.
QString yamlText(const NoiseReport &report);
// The Allan curves, fitted curves and spectra as CSV rows:
// channel,curve,x,y,low,high (curve: adev, fit or psd).
QByteArray curvesCsv(const NoiseReport &report);
// The fitted Allan deviation of a channel at tau (known terms only).
double fittedAdev(const NoiseChannelResult &channel, double tau);

} // namespace NoiseFiles
