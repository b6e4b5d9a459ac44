// SPDX-License-Identifier: GPL-3.0-or-later
// The magnetometer's cloud of points while the module turns. A run starts from a
// clean state, and one that ends without a result puts the module's previous
// parameters back.
#include "magcalibration.h"

#include "magfitcheck.h"

#include "backendlog.h"
#include "calibrationchecks.h"
#include "calibrationguide.h"
#include "magscatter.h"

#include <QDebug>

namespace {

// Samples after the reset block that are dropped: frames already on their way
// still carry the old state.
constexpr int settlingSamples = 10;
// Kept magnetometer points are at least this far apart (squared distance).
constexpr float magMinimumSpacingSquared = 0.001f;

} // namespace

MagCalibration::MagCalibration(
    const CalibrationServices &services, MagScatter &scatter, QObject *parent)
    : CalibrationProcedure(CalSensor::Mag, services, parent)
    , m_scatter(scatter)
{ }

int MagCalibration::stageNumber() const
{
    switch (m_stage) {
    case Stage::Idle:
        return -1;
    case Stage::Armed:
        return 0;
    case Stage::Gathering:
        return 1;
    case Stage::FitDue:
        return 2;
    }
    return -1;
}

void MagCalibration::startGathering()
{
    m_settleCount = 1;
    if (m_stage == Stage::Armed)
        m_stage = Stage::Gathering;
    qDebug() << "MagCalStage0";
}

void MagCalibration::stopGathering()
{
    m_stage = Stage::Idle;
    m_settleCount = 0;
    m_scatter.clear();
    m_samples.clear();
}

void MagCalibration::button()
{
    if (awaitingConfirmation()) {
        qCInfo(lcBackend) << "magnetometer result waits for the user; press ignored";
        return;
    }
    switch (m_stage) {
    case Stage::Idle:
        startRun();
        m_scatter.clearShown();
        m_stage = Stage::Armed;
        if (guide())
            guide()->magRunStarted(); // guidance: a fresh coverage map
        break;
    case Stage::Armed:
        m_stage = Stage::Gathering;
        break;
    case Stage::Gathering:
        m_stage = Stage::FitDue;
        break;
    case Stage::FitDue:
        // The fit runs with the next sample; a further press must not skip it.
        qCInfo(lcBackend) << "magnetometer fit already due; press ignored";
        break;
    }
}

void MagCalibration::sample(const QVector3D &v)
{
    if (!isRunning())
        return;
    if (m_stage == Stage::FitDue) {
        fit();
        return;
    }
    if (!resetOut())
        return;
    if (m_stage != Stage::Gathering)
        return;
    m_scatter.showLatest(v);
    if (m_settleCount < settlingSamples) {
        ++m_settleCount;
        return;
    }
    gatherPoint(v);
}

void MagCalibration::gatherPoint(const QVector3D &point)
{
    const float x = point.x();
    const float y = point.y();
    const float z = point.z();
    for (auto it = m_samples.rbegin(); it != m_samples.rend(); ++it) {
        const double dx = double(x) - double(it->x());
        const double dy = double(y) - double(it->y());
        const double dz = double(z) - double(it->z());
        if (float(dx * dx + dy * dy + dz * dz) < magMinimumSpacingSquared)
            return;
    }
    m_samples.emplace_back(x, y, z, 0.0f);
    if (guide())
        guide()->magPointKept(x, y, z); // guidance: onto the coverage map
    if (m_scatter.addGathered(point))
        qDebug() << "Cal Stage" << stageNumber();
}

void MagCalibration::fit()
{
    const std::vector<Sample4> points = m_samples;
    QString problem = magCloudProblem(points);
    Calibration::ParamBlock block {};
    int quality = 0;
    Calibration &maths = calibration();
    if (problem.isEmpty()) {
        maths.setMagCalParamMthd4(points);
        block = maths.get_MAG_CAL_PARAM();
        quality = int(maths.get_MAG_CAL_QUALITY());
        // guidance: the four fits compared; the chosen one (by default the
        // lowest spread) is what is written
        if (guide()) {
            quality = guide()->magResult(points, savedParams(), &block, quality);
            maths.load_MAG_CAL_PARAM(block.data(), block.data() + 3);
        }
        // Only a proper ellipsoid is ever written.
        if (!magfit::improperReason(block).isEmpty())
            problem = tr("Calibration failed: no valid result (%1). Previous calibration kept.")
                          .arg(magfit::improperReason(block));
        else
            problem = magCoverageProblem(points, block);
    }
    qDebug() << "MagCalStage2";
    if (!problem.isEmpty()) {
        failRun(problem);
        return;
    }
    finishRun(block, quality, guide() ? guide()->magScoreReason() : QString());
}
