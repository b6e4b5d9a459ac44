// What keeps the module's calibration safe around the procedures. A run saves the
// sensor's parameters from the register image before it sends the reset block;
// when the run is refused, fails or is abandoned those parameters go back. Every
// block written is read back, and counts as written only once the read-back shows
// it: a block the link lost on the way is written again when the same port opens.
#include "durUzaBackend.h"

#include "backendlog.h"

#include "link/comsprotocol.h"

#include <QDebug>

namespace {

const std::array<CalTarget, calSensorCount> calTargets = {{
    {"accelerometer", 55, 12},
    {"gyroscope", 103, 3},
    {"magnetometer", 127, 12},
}};

std::size_t at(CalSensor sensor)
{
    return std::size_t(sensor);
}

// The floats a sensor keeps, the rest of the block neutral, so that a gyroscope
// block is judged and compared on its three offsets only.
Calibration::ParamBlock keptPart(CalSensor sensor, const Calibration::ParamBlock &block)
{
    Calibration::ParamBlock kept = resetParamBlock();
    std::copy_n(block.begin(), calTarget(sensor).floats, kept.begin());
    return kept;
}

} // namespace

const CalTarget &calTarget(CalSensor sensor)
{
    return calTargets[at(sensor)];
}

Calibration::ParamBlock resetParamBlock()
{
    Calibration::ParamBlock block {};
    block[3] = block[7] = block[11] = 1.0f;
    return block;
}

void DurUzaBackend::beginCalRun(CalSensor sensor)
{
    watchCalibrationLink();
    m_calRuns[at(sensor)] = CalRunGuard();
    m_calRuns[at(sensor)].active = true;
}

// The parameters are known once every register of the block has come from the
// module (the connect sequence reads them all), or when we wrote them ourselves.
bool DurUzaBackend::calParamsKnown(CalSensor sensor) const
{
    const PendingParams &pending = m_pendingParams[at(sensor)];
    if (pending.pending && !pending.lost)
        return true;
    const CalTarget &target = calTarget(sensor);
    const int firstRow = registerRowAt(target.address);
    for (int row = firstRow; row < firstRow + target.floats; ++row) {
        if (!m_rows[std::size_t(row)]->updated())
            return false;
    }
    return true;
}

Calibration::ParamBlock DurUzaBackend::moduleCalParams(CalSensor sensor) const
{
    const CalTarget &target = calTarget(sensor);
    const std::array<quint8, 176> image = m_coms.registerImageSnapshot();
    Calibration::ParamBlock block = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        block[std::size_t(i)] = readF32(image.data() + target.address + 4 * i);
    return block;
}

// Sends the reset block unless the module's parameters are still unknown; then it
// asks for them once and the caller tries again with a later sample.
bool DurUzaBackend::sendCalReset(CalSensor sensor)
{
    CalRunGuard &run = m_calRuns[at(sensor)];
    const CalTarget &target = calTarget(sensor);
    if (!calParamsKnown(sensor)) {
        if (!run.readRequested) {
            qCInfo(lcBackend) << target.name << "parameters never read; reading them first";
            readNow(target.address, quint8(4 * target.floats));
            run.readRequested = true;
        }
        return false;
    }
    PendingParams &pending = m_pendingParams[at(sensor)];
    if (pending.pending && !pending.lost) {
        // Written by us and not yet read back: that is what the module holds.
        run.saved = pending.block;
        pending = PendingParams();
    } else {
        run.saved = moduleCalParams(sensor);
    }
    quint8 bytes[48];
    const Calibration::ParamBlock reset = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, reset[std::size_t(i)]);
    m_coms.protocol()->buildWriteRequest(target.address, quint8(4 * target.floats), bytes);
    sendNow();
    run.resetSent = true;
    return true;
}

void DurUzaBackend::writeCalParams(CalSensor sensor, const Calibration::ParamBlock &block)
{
    const CalTarget &target = calTarget(sensor);
    const Calibration::ParamBlock kept = keptPart(sensor, block);
    if (!Calibration::isFiniteBlock(kept)) {
        qCWarning(lcBackend) << "refused to write non-finite" << target.name << "parameters";
        return;
    }
    quint8 bytes[48];
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, kept[std::size_t(i)]);
    m_coms.protocol()->buildWriteRequest(target.address, quint8(4 * target.floats), bytes);
    sendNow();
    // Read back, so the register image follows the module and the write is confirmed.
    readNow(target.address, quint8(4 * target.floats));
    PendingParams &pending = m_pendingParams[at(sensor)];
    pending = PendingParams();
    pending.pending = true;
    pending.block = kept;
}

void DurUzaBackend::stopCalProcedure(CalSensor sensor)
{
    switch (sensor) {
    case CalSensor::Acc:
        m_accCalStage = -1;
        m_accSampleCount = 0;
        m_accPositionSums.fill(0.0f);
        break;
    case CalSensor::Gyro:
        m_gyroCalActive = false;
        m_gyroSampleCount = 0;
        m_gyroCalSamples.clear();
        break;
    case CalSensor::Mag:
        m_magCalStage = -1;
        m_magSettleCount = 0;
        clearMagPoints();
        break;
    }
    m_calRuns[at(sensor)] = CalRunGuard();
}

void DurUzaBackend::failCalRun(CalSensor sensor, const QString &message)
{
    const CalRunGuard run = m_calRuns[at(sensor)];
    stopCalProcedure(sensor);
    QString text = message;
    if (run.resetSent) {
        if (Calibration::isFiniteBlock(keptPart(sensor, run.saved))) {
            writeCalParams(sensor, run.saved);
        } else {
            qCWarning(lcBackend) << "previous" << calTarget(sensor).name
                                 << "parameters were not finite; the module keeps the reset";
            text = tr("Calibration failed. The previous calibration was invalid; "
                      "the module keeps neutral parameters.");
        }
    }
    qCInfo(lcBackend) << calTarget(sensor).name << "calibration ended without result:" << text;
    emit calibrationFailed(QString::fromLatin1(calTarget(sensor).name), text);
}

// The link is gone: nothing can be written now. What the module should hold goes
// back when the same port opens again.
void DurUzaBackend::abandonCalRun(CalSensor sensor, const QString &lostPort)
{
    const CalRunGuard run = m_calRuns[at(sensor)];
    stopCalProcedure(sensor);
    QString text = tr("Connection lost. Calibration cancelled.");
    if (run.resetSent && Calibration::isFiniteBlock(keptPart(sensor, run.saved))) {
        PendingParams &pending = m_pendingParams[at(sensor)];
        pending.pending = true;
        pending.lost = true;
        pending.port = lostPort;
        pending.block = keptPart(sensor, run.saved);
        text = tr("Connection lost. The previous calibration is written back on reconnect.");
    }
    qCInfo(lcBackend) << calTarget(sensor).name << "calibration cut off on" << lostPort;
    emit calibrationFailed(QString::fromLatin1(calTarget(sensor).name), text);
}

void DurUzaBackend::cancelCalibration()
{
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        if (m_calRuns[at(sensor)].active)
            failCalRun(sensor, tr("Calibration cancelled. Previous calibration kept."));
    }
}

// Connected when the first run is armed: before that nothing can need it.
void DurUzaBackend::watchCalibrationLink()
{
    if (m_calLinkWatched)
        return;
    m_calLinkWatched = true;
    connect(&m_coms, &ComsHandler::linkError, this,
        [this](const QString &port, const QString &) { onCalibrationLinkLost(port); });
    connect(&m_coms, &ComsHandler::linkClosed, this, &DurUzaBackend::onCalibrationLinkLost);
    connect(&m_coms, &ComsHandler::linkOpened, this, &DurUzaBackend::onCalibrationLinkOpened);
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        const CalTarget &target = calTarget(sensor);
        // The block's registers are stored in row order: its last one closes a read-back.
        const int lastRow = registerRowAt(target.address) + target.floats - 1;
        connect(m_rows[std::size_t(lastRow)], &RegistryItemModel::dataUpdatedFromModule, this,
            [this, sensor] { confirmCalParams(sensor); });
    }
}

void DurUzaBackend::onCalibrationLinkLost(const QString &port)
{
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        if (m_calRuns[at(sensor)].active)
            abandonCalRun(sensor, port);
        PendingParams &pending = m_pendingParams[at(sensor)];
        if (pending.pending && !pending.lost) {
            qCInfo(lcBackend) << calTarget(sensor).name
                              << "parameters not yet confirmed when the link went; due again on"
                              << port;
            pending.lost = true;
            pending.port = port;
        }
    }
}

void DurUzaBackend::onCalibrationLinkOpened(const QString &port)
{
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        const PendingParams pending = m_pendingParams[at(sensor)];
        if (pending.pending && pending.lost && pending.port == port) {
            qCInfo(lcBackend) << "writing back" << calTarget(sensor).name << "parameters on"
                              << port;
            writeCalParams(sensor, pending.block);
        }
    }
}

void DurUzaBackend::confirmCalParams(CalSensor sensor)
{
    PendingParams &pending = m_pendingParams[at(sensor)];
    if (!pending.pending || pending.lost)
        return;
    if (moduleCalParams(sensor) == pending.block) {
        qCDebug(lcBackend) << calTarget(sensor).name << "parameters confirmed by the module";
        pending = PendingParams();
    }
}
