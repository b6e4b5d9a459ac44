// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QCustomPlot;

// What a chart writes out: the shown time range as comma-separated values,
// or the plot as an image. The functions that return a QString return it
// empty when written, else the reason.
namespace chartexport {

// A unit as a column name carries it: plain ASCII ("deg/s" for "°/s").
QString csvUnit(const QString &unit);
// "time_s", then one column per curve named "<curve>_<unit>"; one row per
// sample time in the plot's shown time range. Only the header without a plot.
QByteArray visibleCsv(const QCustomPlot *plot, const QString &valueUnit);
QString saveCsv(const QByteArray &csv, const QString &path);
// The plot as it stands, drawn afresh at its size.
QString savePng(QCustomPlot *plot, const QString &path);

} // namespace chartexport
