// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationprocedure.h"

#include "sample4.h"
#include <QVector3D>

#include <vector>

// The gyroscope calibration: a period at rest. One press starts it; after 10
// settling samples it keeps 200 and writes their mean as the offsets.
class GyroCalibration : public CalibrationProcedure
{
    Q_OBJECT

public:
    enum class Stage {
        Idle,
        Collecting, // from the press until 200 samples are kept
    };

    explicit GyroCalibration(const CalibrationServices &services, QObject *parent = nullptr);

    Stage stage() const { return m_stage; }
    int keptSamples() const { return int(m_samples.size()); }

    void button();
    void sample(const QVector3D &sample);

protected:
    void startGathering() override;
    void stopGathering() override;

private:
    void finish();

    Stage m_stage = Stage::Idle;
    // Samples seen since the reset, settling ones included.
    int m_sampleCount = 0;
    std::vector<Sample4> m_samples;
};
