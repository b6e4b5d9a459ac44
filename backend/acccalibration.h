// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationprocedure.h"

#include <QVector3D>

#include <array>

// The accelerometer calibration: six static positions ("Z-Up", "Z-Down", "Y-Up",
// "Y-Down", "X-Up", "X-Down"), 100 samples each after 10 settling ones, then the
// six-position estimate. One press arms a run, one press starts each position, and
// a position ends by itself.
class AccCalibration : public CalibrationProcedure
{
    Q_OBJECT

public:
    enum class Stage {
        Idle,
        Armed, // the reset goes out with the next sample
        Gathering, // position `position()` takes samples
        Waiting, // position `position()` is done; the next press starts the following one
        Finishing, // the sixth position is done; the estimate runs at once
    };
    static constexpr int positions = 6;

    explicit AccCalibration(const CalibrationServices &services, QObject *parent = nullptr);

    Stage stage() const { return m_stage; }
    int position() const { return m_position; }
    // The stage as the log has always numbered it: -1 idle, 0 armed, 2k + 1 while
    // position k gathers, 2k + 2 after it.
    int stageNumber() const;

    void button();
    void sample(const QVector3D &sample);

signals:
    // A position has its samples.
    void positionGathered();

protected:
    void startGathering() override;
    void stopGathering() override;

private:
    void gather(const float *sample);
    void finish();

    Stage m_stage = Stage::Idle;
    int m_position = 0;
    // Samples seen in the current position, settling ones included.
    int m_sampleCount = 0;
    // Per-position sums (position k at 3k ... 3k + 2: x, y, z), means at the end.
    std::array<float, 3 * positions> m_positionSums {};
};
