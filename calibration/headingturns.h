// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Guided heading turns after a magnetometer calibration: the module laid flat
// and turned to eight headings, 45 degrees apart, in order; each heading is
// taken once the module has rested there. The module sends its field corrected
// by its active calibration; that correction is undone, so that the same stops
// can be judged with any calibration (the one before the run and the new one).

#include "calibration.h"
#include "headingdeviation.h"

#include <QString>
#include <QVector3D>

#include <deque>
#include <vector>

class HeadingTurns
{
public:
    static constexpr int headingCount = 8;
    static constexpr double stepDeg = 360.0 / headingCount;
    // Samples in the window that must be still; at 100 Hz half a second. A
    // stop takes two such windows and keeps the second.
    static constexpr int restSamples = 50;
    // Still: every axis' standard deviation within these shares of the
    // vector's length (the simulator's noise is about 0.3 % and 0.4 %)...
    static constexpr double accStill = 0.02;
    static constexpr double magStill = 0.015;
    // ... and the mean of the window's two halves this close (0.4 % of the
    // field is about a quarter degree of heading).
    static constexpr double magSettled = 0.004;
    // Flat: gravity within 10 degrees of the z axis.
    static constexpr double flatCos = 0.985;
    // A new heading: the field (as sent) moved by at least this share of its
    // length since the last stop; a turn of 45 degrees moves it by about 0.7
    // of its horizontal part.
    static constexpr double moved = 0.2;

    // Starts afresh; `active` is the calibration the module applies now.
    void start(const Calibration::ParamBlock &active);
    bool running() const { return m_running; }
    // One sample pair as the module sends them. True when it took a stop.
    bool add(const QVector3D &acc, const QVector3D &mag);

    int stopsTaken() const { return int(m_stops.size()); }
    bool done() const { return stopsTaken() >= headingCount; }
    double targetDeg() const { return stepDeg * stopsTaken(); }
    // What to do now, for the page.
    QString hint() const;
    // The stops, their field as the sensor read it before any correction.
    const std::vector<HeadingStop> &stops() const { return m_stops; }
    // False while the active calibration cannot be undone (not invertible).
    bool undoable() const { return m_undoable; }

private:
    bool m_running = false;
    bool m_undoable = false;
    bool m_flat = true;
    bool m_settled = false; // one still window seen here already
    Calibration::ParamBlock m_active {};
    double m_inverse[9] {};
    std::deque<QVector3D> m_acc, m_mag;
    QVector3D m_lastStopMag; // as sent
    std::vector<HeadingStop> m_stops;
};
