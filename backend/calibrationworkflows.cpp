// SPDX-License-Identifier: GPL-3.0-or-later
// The three guided calibrations. The buttons advance their procedure here; the
// sensor handlers hand every scaled sample to the branches below. Each run starts
// from a clean state, and one that ends without a result puts the module's
// previous parameters back (calibrationguard.cpp), as does a result scored below
// the floor that the user discards.
#include "durUzaBackend.h"

#include "backendlog.h"
#include "calibrationchecks.h"

#include <QDebug>

using namespace QtDataVisualization;

namespace {

// Samples after the reset block (or after turning to a new position) that are
// dropped: frames already on their way still carry the old state.
constexpr int settlingSamples = 10;
constexpr int accSamplesPerPosition = 100;
constexpr int accPositions = 6;
constexpr int gyroSamplesKept = 200;
// Kept magnetometer points are at least this far apart (squared distance).
constexpr float magMinimumSpacingSquared = 0.001f;
// The gathered-points series is refreshed once it holds more than this many.
constexpr int magSeriesThreshold = 10;

} // namespace

// The reset is out: the sample that asked for it (or, after the module answered
// the read of its parameters, the one that asked for that read) counts as the first.
void DurUzaBackend::startCalGathering(CalSensor sensor)
{
    switch (sensor) {
    case CalSensor::Acc:
        m_accSampleCount = 1;
        m_progressPercent = 0.0;
        emit progressPercentChanged();
        m_accPositionSums.fill(0.0f);
        break;
    case CalSensor::Gyro:
        m_gyroSampleCount = 1;
        m_progressPercent = 0.0;
        emit progressPercentChanged();
        break;
    case CalSensor::Mag:
        m_magSettleCount = 1;
        if (m_magCalStage == 0)
            m_magCalStage = 1;
        qDebug() << "MagCalStage0";
        break;
    }
}

// ---- Accelerometer: six static positions -------------------------------------

void DurUzaBackend::accCalButton()
{
    if (calAwaitingConfirmation(CalSensor::Acc)) {
        qCInfo(lcBackend) << "accelerometer result waits for the user; press ignored";
        return;
    }
    if (m_accCalStage < 0 || m_accCalStage >= 2 * accPositions) {
        // A new run, whatever an earlier one left behind.
        stopCalProcedure(CalSensor::Acc);
        beginCalRun(CalSensor::Acc);
        m_accCalStage = 0;
    } else if (m_accCalStage % 2 == 1) {
        // A position ends by itself after its samples; cutting it short would put
        // a partial sum into the estimate.
        qCInfo(lcBackend) << "accelerometer position" << (m_accCalStage - 1) / 2
                          << "still gathering; press ignored";
        return;
    } else {
        ++m_accCalStage;
    }
    qDebug().nospace() << "Stage: " << m_accCalStage;
}

void DurUzaBackend::accCalibrationSample(float x, float y, float z)
{
    // guidance: the face up now, and a wrong one named at once
    m_guide->accSample(m_accCalStage, m_calRuns[std::size_t(CalSensor::Acc)].active, x, y, z);
    if (!m_calRuns[std::size_t(CalSensor::Acc)].active)
        return;
    if (!m_calRuns[std::size_t(CalSensor::Acc)].resetSent) {
        // The first sample of the run sends the reset, also when the first
        // position was asked for before any sample arrived.
        if (sendCalReset(CalSensor::Acc))
            startCalGathering(CalSensor::Acc);
        return;
    }
    const int stage = m_accCalStage;
    if (stage < 1 || stage > 2 * accPositions - 1 || stage % 2 == 0)
        return;
    const float sample[3] = {x, y, z};
    // guidance: a position is gathered only while its face holds steady; a
    // sample off it starts the position's average again
    if (m_accSampleCount >= settlingSamples
        && !m_guide->accPositionSample((stage - 1) / 2, x, y, z)) {
        m_accSampleCount = settlingSamples;
        std::fill_n(m_accPositionSums.begin() + 3 * ((stage - 1) / 2), 3, 0.0f);
        return;
    }
    gatherAccCalData((stage - 1) / 2, sample);
    if (m_accCalStage == 2 * accPositions)
        finishAccCalibration();
}

void DurUzaBackend::gatherAccCalData(int position, const float *sample)
{
    ++m_accSampleCount;
    if (m_accSampleCount <= settlingSamples)
        return;
    for (int axis = 0; axis < 3; ++axis)
        m_accPositionSums[std::size_t(3 * position + axis)] += sample[axis];
    qDebug() << "ACC Cal Sample:" << m_accSampleCount;
    const float done = float(m_accSampleCount - settlingSamples) / accSamplesPerPosition + position;
    m_progressPercent = double(done) / accPositions * 100.0;
    emit progressPercentChanged();
    if (m_accSampleCount == settlingSamples + accSamplesPerPosition) {
        ++m_accCalStage;
        emit accCalStageFinished();
        m_accSampleCount = 0;
    }
}

void DurUzaBackend::finishAccCalibration()
{
    // The estimate scores itself on a second set of six means; with one set
    // gathered, the same means serve, which scores how well it reproduces them.
    float means[36];
    for (int i = 0; i < 18; ++i) {
        means[i] = m_accPositionSums[std::size_t(i)] / accSamplesPerPosition;
        means[18 + i] = means[i];
    }
    const QString problem = accMeansProblem(means, m_calibration.LOCAL_GRAVITY);
    if (!problem.isEmpty()) {
        failCalRun(CalSensor::Acc, problem);
        return;
    }
    m_calibration.set_ACC_RNG_FACTOR(1.0f);
    m_calibration.set_ACC_CAL_PARAM_SLOT(means, 0.0f, 0.0f);
    const Calibration::ParamBlock block = m_calibration.get_ACC_CAL_PARAM();
    if (!Calibration::isFiniteBlock(block)) {
        failCalRun(
            CalSensor::Acc, tr("Calibration failed: no valid result. Previous calibration kept."));
        return;
    }
    // guidance: scored on what the fit cannot absorb; poses far off are refused
    QString refusal;
    const int quality
        = m_guide->accResult(means, m_calibration, m_calibration.get_ACC_CAL_QUALITY(),
            m_calRuns[std::size_t(CalSensor::Acc)].saved, block, &refusal);
    if (!refusal.isEmpty()) {
        failCalRun(CalSensor::Acc, refusal);
        return;
    }
    finishCalRun(CalSensor::Acc, block, quality);
}

// ---- Gyroscope: a period at rest ---------------------------------------------

void DurUzaBackend::gyroCalButton()
{
    if (calAwaitingConfirmation(CalSensor::Gyro)) {
        qCInfo(lcBackend) << "gyroscope result waits for the user; press ignored";
        return;
    }
    if (!m_gyroCalActive) {
        stopCalProcedure(CalSensor::Gyro);
        beginCalRun(CalSensor::Gyro);
    }
    m_gyroCalActive = true;
}

void DurUzaBackend::gyroCalibrationSample(float x, float y, float z)
{
    if (!m_gyroCalActive)
        return;
    if (!m_calRuns[std::size_t(CalSensor::Gyro)].resetSent) {
        if (sendCalReset(CalSensor::Gyro))
            startCalGathering(CalSensor::Gyro);
        return;
    }
    ++m_gyroSampleCount;
    if (m_gyroSampleCount > settlingSamples) {
        m_gyroCalSamples.emplace_back(x, y, z, 0.0f);
        m_progressPercent = double(m_gyroCalSamples.size()) / gyroSamplesKept * 100.0;
        emit progressPercentChanged();
    }
    if (int(m_gyroCalSamples.size()) >= gyroSamplesKept)
        finishGyroCalibration();
}

void DurUzaBackend::finishGyroCalibration()
{
    m_calibration.set_GYRO_RNG_FACTOR(1.0f);
    m_calibration.set_GYRO_CAL_OFST(m_gyroCalSamples);
    const Calibration::ParamBlock block = m_calibration.get_GYRO_CAL_PARAM();
    qDebug().noquote().nospace() << "Cal Param:" << block[0] << "\t" << block[1] << "\t" << block[2]
                                 << "\t";
    const Calibration::ParamBlock offsets
        = {block[0], block[1], block[2], 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    if (!Calibration::isFiniteBlock(offsets)) {
        failCalRun(
            CalSensor::Gyro, tr("Calibration failed: no valid result. Previous calibration kept."));
        return;
    }
    // guidance: a module turned during the rest period is refused
    QString refusal;
    const int quality
        = m_guide->gyroResult(m_gyroCalSamples, int(m_calibration.get_GYRO_CAL_QUALITY()),
            m_calRuns[std::size_t(CalSensor::Gyro)].saved, offsets, &refusal);
    if (!refusal.isEmpty()) {
        failCalRun(CalSensor::Gyro, refusal);
        return;
    }
    finishCalRun(CalSensor::Gyro, offsets, quality);
}

// ---- Magnetometer: a cloud of points while the module turns ------------------

void DurUzaBackend::magCalButton()
{
    if (calAwaitingConfirmation(CalSensor::Mag)) {
        qCInfo(lcBackend) << "magnetometer result waits for the user; press ignored";
        return;
    }
    if (m_magCalStage < 0 || m_magCalStage > 2) {
        stopCalProcedure(CalSensor::Mag);
        beginCalRun(CalSensor::Mag);
        m_magCalStage = 0;
        m_guide->magRunStarted(); // guidance: a fresh coverage map
    } else if (m_magCalStage == 2) {
        // The fit runs with the next sample; a further press must not skip it.
        qCInfo(lcBackend) << "magnetometer fit already due; press ignored";
    } else {
        ++m_magCalStage;
    }
}

void DurUzaBackend::magCalibrationSample(float x, float y, float z)
{
    if (!m_calRuns[std::size_t(CalSensor::Mag)].active)
        return;
    if (m_magCalStage == 2) {
        fitMagCalibration();
        return;
    }
    if (!m_calRuns[std::size_t(CalSensor::Mag)].resetSent) {
        if (sendCalReset(CalSensor::Mag))
            startCalGathering(CalSensor::Mag);
        return;
    }
    if (m_magCalStage != 1)
        return;
    showLatestMagPoint(x, y, z);
    if (m_magSettleCount < settlingSamples) {
        ++m_magSettleCount;
        return;
    }
    gatherMagPoint(x, y, z);
}

void DurUzaBackend::showLatestMagPoint(float x, float y, float z)
{
    m_latestPointArray->clear();
    m_latestPointArray->append(QScatterDataItem(QVector3D(x, y, z)));
    // The proxy takes ownership of what it is given: a copy, never our array.
    if (m_magSctr3DSeries2)
        m_magSctr3DSeries2->dataProxy()->resetArray(new QScatterDataArray(*m_latestPointArray));
}

void DurUzaBackend::gatherMagPoint(float x, float y, float z)
{
    for (auto it = m_magCalSamples.rbegin(); it != m_magCalSamples.rend(); ++it) {
        const double dx = double(x) - double(it->x());
        const double dy = double(y) - double(it->y());
        const double dz = double(z) - double(it->z());
        if (float(dx * dx + dy * dy + dz * dz) < magMinimumSpacingSquared)
            return;
    }
    m_magCalSamples.emplace_back(x, y, z, 0.0f);
    m_guide->magPointKept(x, y, z); // guidance: onto the coverage map
    m_gatheredPointArray->append(QScatterDataItem(QVector3D(x, y, z)));
    if (m_magSctr3DSeries && m_gatheredPointArray->size() > magSeriesThreshold) {
        m_magSctr3DSeries->dataProxy()->resetArray(new QScatterDataArray(*m_gatheredPointArray));
        qDebug() << "Cal Stage" << m_magCalStage;
    }
}

void DurUzaBackend::clearMagPoints()
{
    m_latestPointArray->clear();
    m_gatheredPointArray->clear();
    m_magCalSamples.clear();
}

void DurUzaBackend::fitMagCalibration()
{
    const std::vector<QVector4D> points = m_magCalSamples;
    QString problem = magCloudProblem(points);
    Calibration::ParamBlock block {};
    int quality = 0;
    if (problem.isEmpty()) {
        m_calibration.setMagCalParamMthd4(points);
        block = m_calibration.get_MAG_CAL_PARAM();
        // guidance: the four fits compared; the chosen one (by default the
        // lowest spread) is what is written
        quality = m_guide->magResult(points, m_calRuns[std::size_t(CalSensor::Mag)].saved, &block,
            int(m_calibration.get_MAG_CAL_QUALITY()));
        m_calibration.load_MAG_CAL_PARAM(block.data(), block.data() + 3);
        if (!Calibration::isFiniteBlock(block))
            problem = tr("Calibration failed: no valid result. Previous calibration kept.");
        else
            problem = magCoverageProblem(points, block);
    }
    qDebug() << "MagCalStage2";
    if (!problem.isEmpty()) {
        failCalRun(CalSensor::Mag, problem);
        return;
    }
    finishCalRun(CalSensor::Mag, block, quality);
}
