// SPDX-License-Identifier: GPL-3.0-or-later
// The gyroscope's period at rest. A run starts from a clean state, and one that
// ends without a result puts the module's previous parameters back.
#include "gyrocalibration.h"

#include "backendlog.h"
#include "calibrationguide.h"

#include <QDebug>

namespace {

// Samples after the reset block that are dropped: frames already on their way
// still carry the old state.
constexpr int settlingSamples = 10;
constexpr int gyroSamplesKept = 200;

} // namespace

GyroCalibration::GyroCalibration(const CalibrationServices &services, QObject *parent)
    : CalibrationProcedure(CalSensor::Gyro, services, parent)
{ }

void GyroCalibration::startGathering()
{
    m_sampleCount = 1;
    emit progressChanged(0.0);
}

void GyroCalibration::stopGathering()
{
    m_stage = Stage::Idle;
    m_sampleCount = 0;
    m_samples.clear();
}

void GyroCalibration::button()
{
    if (awaitingConfirmation()) {
        qCInfo(lcBackend) << "gyroscope result waits for the user; press ignored";
        return;
    }
    if (m_stage == Stage::Idle)
        startRun();
    m_stage = Stage::Collecting;
}

void GyroCalibration::sample(const QVector3D &v)
{
    if (m_stage != Stage::Collecting)
        return;
    if (!resetOut())
        return;
    ++m_sampleCount;
    if (m_sampleCount > settlingSamples) {
        m_samples.emplace_back(v.x(), v.y(), v.z(), 0.0f);
        emit progressChanged(double(m_samples.size()) / gyroSamplesKept * 100.0);
    }
    if (int(m_samples.size()) >= gyroSamplesKept)
        finish();
}

void GyroCalibration::finish()
{
    Calibration &maths = calibration();
    maths.set_GYRO_RNG_FACTOR(1.0f);
    maths.set_GYRO_CAL_OFST(m_samples);
    const Calibration::ParamBlock block = maths.get_GYRO_CAL_PARAM();
    qDebug().noquote().nospace() << "Cal Param:" << block[0] << "\t" << block[1] << "\t" << block[2]
                                 << "\t";
    const Calibration::ParamBlock offsets
        = {block[0], block[1], block[2], 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    if (!Calibration::isFiniteBlock(offsets)) {
        failRun(tr("Calibration failed: no valid result. Previous calibration kept."));
        return;
    }
    // guidance: a module turned during the rest period is refused
    int quality = int(maths.get_GYRO_CAL_QUALITY());
    if (guide()) {
        QString refusal;
        quality = guide()->gyroResult(m_samples, quality, savedParams(), offsets, &refusal);
        if (!refusal.isEmpty()) {
            failRun(refusal);
            return;
        }
    }
    finishRun(offsets, quality);
}
