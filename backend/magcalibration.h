// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationprocedure.h"

#include "sample4.h"
#include <QVector3D>

#include <vector>

class MagScatter;

// The magnetometer calibration: a cloud of points gathered while the user turns
// the module, shown in the 3D scatter, then the ellipsoid fit (Method 4). One press
// starts gathering, a second asks for the fit, which runs with the next sample.
class MagCalibration : public CalibrationProcedure
{
    Q_OBJECT

public:
    enum class Stage {
        Idle,
        Armed, // the reset goes out with the next sample
        Gathering, // points are kept
        FitDue, // the fit runs with the next sample
    };

    MagCalibration(
        const CalibrationServices &services, MagScatter &scatter, QObject *parent = nullptr);

    Stage stage() const { return m_stage; }
    // The stage as the log has always numbered it: -1 idle, then 0 to 2.
    int stageNumber() const;
    int keptPoints() const { return int(m_samples.size()); }

    void button();
    void sample(const QVector3D &sample);

protected:
    void startGathering() override;
    void stopGathering() override;

private:
    void gatherPoint(const QVector3D &point);
    void fit();

    MagScatter &m_scatter;
    Stage m_stage = Stage::Idle;
    // Samples since the reset; the first ones may predate it.
    int m_settleCount = 0;
    // Kept points (x, y, z, 0).
    std::vector<Sample4> m_samples;
};
