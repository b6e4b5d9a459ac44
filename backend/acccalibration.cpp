// SPDX-License-Identifier: GPL-3.0-or-later
// The accelerometer's six static positions. The button advances the procedure;
// the sensor handler hands every scaled sample on. A run starts from a clean state,
// and one that ends without a result puts the module's previous parameters back.
#include "acccalibration.h"

#include "backendlog.h"
#include "calibrationchecks.h"
#include "calibrationguide.h"

#include <QDebug>

#include <algorithm>

namespace {

// Samples after the reset block (or after turning to a new position) that are
// dropped: frames already on their way still carry the old state.
constexpr int settlingSamples = 10;
constexpr int accSamplesPerPosition = 100;
constexpr int accPositions = AccCalibration::positions;

} // namespace

AccCalibration::AccCalibration(const CalibrationServices &services, QObject *parent)
    : CalibrationProcedure(CalSensor::Acc, services, parent)
{ }

int AccCalibration::stageNumber() const
{
    switch (m_stage) {
    case Stage::Idle:
        return -1;
    case Stage::Armed:
        return 0;
    case Stage::Gathering:
        return 2 * m_position + 1;
    case Stage::Waiting:
        return 2 * m_position + 2;
    case Stage::Finishing:
        return 2 * accPositions;
    }
    return -1;
}

void AccCalibration::startGathering()
{
    m_sampleCount = 1;
    emit progressChanged(0.0);
    m_positionSums.fill(0.0f);
}

void AccCalibration::stopGathering()
{
    m_stage = Stage::Idle;
    m_position = 0;
    m_sampleCount = 0;
    m_positionSums.fill(0.0f);
}

void AccCalibration::button()
{
    if (awaitingConfirmation()) {
        qCInfo(lcBackend) << "accelerometer result waits for the user; press ignored";
        return;
    }
    switch (m_stage) {
    case Stage::Idle:
    case Stage::Finishing:
        // A new run, whatever an earlier one left behind.
        startRun();
        m_stage = Stage::Armed;
        break;
    case Stage::Gathering:
        // A position ends by itself after its samples; cutting it short would put
        // a partial sum into the estimate.
        qCInfo(lcBackend) << "accelerometer position" << m_position
                          << "still gathering; press ignored";
        return;
    case Stage::Armed:
        m_stage = Stage::Gathering;
        m_position = 0;
        break;
    case Stage::Waiting:
        m_stage = Stage::Gathering;
        ++m_position;
        break;
    }
    qDebug().nospace() << "Stage: " << stageNumber();
}

void AccCalibration::sample(const QVector3D &v)
{
    // guidance: the face up now, and a wrong one named at once
    if (guide())
        guide()->accSample(stageNumber(), isRunning(), v.x(), v.y(), v.z());
    if (!isRunning())
        return;
    // The first sample of the run sends the reset, also when the first
    // position was asked for before any sample arrived.
    if (!resetOut())
        return;
    if (m_stage != Stage::Gathering)
        return;
    const float sample[3] = {v.x(), v.y(), v.z()};
    // guidance: a position is gathered only while its face holds steady; a
    // sample off it starts the position's average again
    if (guide() && m_sampleCount >= settlingSamples
        && !guide()->accPositionSample(m_position, v.x(), v.y(), v.z())) {
        m_sampleCount = settlingSamples;
        std::fill_n(m_positionSums.begin() + 3 * m_position, 3, 0.0f);
        return;
    }
    gather(sample);
    if (m_stage == Stage::Finishing)
        finish();
}

void AccCalibration::gather(const float *sample)
{
    ++m_sampleCount;
    if (m_sampleCount <= settlingSamples)
        return;
    for (int axis = 0; axis < 3; ++axis)
        m_positionSums[std::size_t(3 * m_position + axis)] += sample[axis];
    qDebug() << "ACC Cal Sample:" << m_sampleCount;
    const float done = float(m_sampleCount - settlingSamples) / accSamplesPerPosition + m_position;
    emit progressChanged(double(done) / accPositions * 100.0);
    if (m_sampleCount == settlingSamples + accSamplesPerPosition) {
        m_stage = m_position == accPositions - 1 ? Stage::Finishing : Stage::Waiting;
        emit positionGathered();
        m_sampleCount = 0;
    }
}

void AccCalibration::finish()
{
    // The estimate scores itself on a second set of six means; with one set
    // gathered, the same means serve, which scores how well it reproduces them.
    float means[36];
    for (int i = 0; i < 18; ++i) {
        means[i] = m_positionSums[std::size_t(i)] / accSamplesPerPosition;
        means[18 + i] = means[i];
    }
    Calibration &maths = calibration();
    const QString problem = accMeansProblem(means, maths.LOCAL_GRAVITY);
    if (!problem.isEmpty()) {
        failRun(problem);
        return;
    }
    maths.set_ACC_RNG_FACTOR(1.0f);
    maths.set_ACC_CAL_PARAM_SLOT(means, 0.0f, 0.0f);
    const Calibration::ParamBlock block = maths.get_ACC_CAL_PARAM();
    if (!Calibration::isFiniteBlock(block)) {
        failRun(tr("Calibration failed: no valid result. Previous calibration kept."));
        return;
    }
    // guidance: scored on what the fit cannot absorb; poses far off are refused
    int quality = maths.get_ACC_CAL_QUALITY();
    if (guide()) {
        QString refusal;
        quality = guide()->accResult(means, maths, quality, savedParams(), block, &refusal);
        if (!refusal.isEmpty()) {
            failRun(refusal);
            return;
        }
    }
    finishRun(block, quality);
}
