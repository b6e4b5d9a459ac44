// SPDX-License-Identifier: GPL-3.0-or-later
#include "headingdeviation.h"

#include <cmath>

namespace {

using V = std::array<double, 3>;

double dot(const V &a, const V &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

V cross(const V &a, const V &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Into (-180, 180].
double wrapped(double deg)
{
    deg = std::fmod(deg, 360.0);
    if (deg > 180.0)
        deg -= 360.0;
    if (deg <= -180.0)
        deg += 360.0;
    return deg;
}

} // namespace

HeadingTable headingDeviation(
    const std::vector<HeadingStop> &stops, const Calibration::ParamBlock &b)
{
    HeadingTable table;
    if (int(stops.size()) < headingMinimumStops) {
        table.reason = QStringLiteral("%1 headings, at least %2 needed")
                           .arg(stops.size())
                           .arg(headingMinimumStops);
        return table;
    }
    if (!Calibration::isFiniteBlock(b)) {
        table.reason = QStringLiteral("the calibration is not finite");
        return table;
    }
    std::vector<double> headings;
    for (const HeadingStop &stop : stops) {
        V up {double(stop.acc.x()), double(stop.acc.y()), double(stop.acc.z())};
        const double g = std::sqrt(dot(up, up));
        const V raw {double(stop.mag.x()) - double(b[0]), double(stop.mag.y()) - double(b[1]),
            double(stop.mag.z()) - double(b[2])};
        V m {};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                m[std::size_t(r)] += double(b[std::size_t(3 + 3 * r + c)]) * raw[std::size_t(c)];
        if (!(g > 0.0) || !std::isfinite(g)) {
            table.reason = QStringLiteral("no gravity at heading %1").arg(stop.turnedDeg);
            return table;
        }
        for (double &v : up)
            v /= g;
        // The level frame of the body: x's horizontal part, and up x that.
        const V bodyX {1, 0, 0};
        V east = cross(up, bodyX);
        V north = cross(east, up);
        if (dot(north, north) < 1e-6) { // x vertical: use y instead
            north = cross(cross(up, V {0, 1, 0}), up);
            east = cross(up, north);
        }
        const double heading = std::atan2(dot(m, east), dot(m, north)) * 180.0 / M_PI;
        const V horizontal {
            m[0] - dot(m, up) * up[0], m[1] - dot(m, up) * up[1], m[2] - dot(m, up) * up[2]};
        if (!(dot(horizontal, horizontal) > 1e-12) || !std::isfinite(heading)) {
            table.reason = QStringLiteral("no horizontal field at heading %1").arg(stop.turnedDeg);
            return table;
        }
        headings.push_back(heading);
    }
    // Turning the module by +a about the vertical turns the field in its frame
    // by -a; the mean deviation is north's unknown place and is taken out.
    double sinSum = 0, cosSum = 0;
    for (std::size_t i = 0; i < stops.size(); ++i) {
        HeadingRow row;
        row.turnedDeg = stops[i].turnedDeg - stops[0].turnedDeg;
        row.measuredDeg = wrapped(headings[0] - headings[i]);
        row.deviationDeg = wrapped(row.measuredDeg - row.turnedDeg);
        sinSum += std::sin(row.deviationDeg * M_PI / 180.0);
        cosSum += std::cos(row.deviationDeg * M_PI / 180.0);
        table.rows.push_back(row);
    }
    const double mean = std::atan2(sinSum, cosSum) * 180.0 / M_PI;
    double squares = 0;
    for (HeadingRow &row : table.rows) {
        row.deviationDeg = wrapped(row.deviationDeg - mean);
        table.maxDeviationDeg = std::max(table.maxDeviationDeg, std::fabs(row.deviationDeg));
        squares += row.deviationDeg * row.deviationDeg;
    }
    table.rmsDeviationDeg = std::sqrt(squares / double(table.rows.size()));
    table.ok = true;
    return table;
}
