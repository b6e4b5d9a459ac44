// SPDX-License-Identifier: GPL-3.0-or-later
// What keeps the module's calibration safe around the procedures. Right before a
// run sends its reset block it reads the sensor's parameters from the module, and
// only the answer lets it go on: that answer, not the register image (which a
// stale connection or line noise may have touched), is what goes back when the
// run is refused, fails or is abandoned. Every block written is read back, and
// the user hears "finished" or "kept" only once the read-back shows it. A run cut
// off with the link writes nothing later by itself: its saved parameters are
// offered when the same module is back on the same port.
#include "durUzaBackend.h"

#include "backendlog.h"
#include "modulebackups.h"

#include "link/comsprotocol.h"

#include <QDebug>

namespace {

const std::array<CalTarget, calSensorCount> calTargets = {{
    {"accelerometer", RegisterMap::AccCalibration.address, RegisterMap::AccCalibration.count / 4},
    {"gyroscope", RegisterMap::GyroCalibration.address, RegisterMap::GyroCalibration.count / 4},
    {"magnetometer", RegisterMap::MagCalibration.address, RegisterMap::MagCalibration.count / 4},
}};

// "Device ID", "Hardware Version", "Software Version".
constexpr std::array<int, 3> identityAddresses = {RegisterMap::DeviceId.address,
    RegisterMap::HardwareVersion.address, RegisterMap::SoftwareVersion.address};
constexpr int identityComplete = 0x7;

std::size_t at(CalSensor sensor)
{
    return std::size_t(sensor);
}

QString nameOf(CalSensor sensor)
{
    return QString::fromLatin1(calTarget(sensor).name);
}

// The floats a sensor keeps, the rest of the block neutral, so that a gyroscope
// block is judged and compared on its three offsets only.
Calibration::ParamBlock keptPart(CalSensor sensor, const Calibration::ParamBlock &block)
{
    Calibration::ParamBlock kept = resetParamBlock();
    std::copy_n(block.begin(), calTarget(sensor).floats, kept.begin());
    return kept;
}

QString keptSentence()
{
    return DurUzaBackend::tr("Previous calibration kept.");
}

// A message that promised "kept", for when the module did not take the
// previous parameters back.
QString notKept(const QString &message, const QString &why)
{
    QString text = message;
    if (text.endsWith(keptSentence()))
        text.chop(keptSentence().size());
    return (text.trimmed() + QLatin1Char(' ') + why).trimmed();
}

QString valuesText(CalSensor sensor, const Calibration::ParamBlock &block)
{
    QStringList values;
    for (int i = 0; i < calTarget(sensor).floats; ++i)
        values << QString::number(double(block[std::size_t(i)]), 'g', 6);
    return values.join(QStringLiteral(", "));
}

} // namespace

const CalTarget &calTarget(CalSensor sensor)
{
    return calTargets[at(sensor)];
}

bool calSensorNamed(const QString &name, CalSensor *sensor)
{
    for (int i = 0; i < calSensorCount; ++i) {
        if (name == QLatin1String(calTargets[std::size_t(i)].name)) {
            *sensor = CalSensor(i);
            return true;
        }
    }
    return false;
}

Calibration::ParamBlock resetParamBlock()
{
    Calibration::ParamBlock block {};
    block[3] = block[7] = block[11] = 1.0f;
    return block;
}

void DurUzaBackend::beginCalRun(CalSensor sensor)
{
    m_calRuns[at(sensor)] = CalRunGuard();
    m_calRuns[at(sensor)].active = true;
}

bool DurUzaBackend::calAwaitingConfirmation(CalSensor sensor) const
{
    return m_calRuns[at(sensor)].active && m_calRuns[at(sensor)].awaitingConfirmation;
}

// The block as the rows hold it after an answer: every row of it came in since
// the request (onCalRowAnswered).
Calibration::ParamBlock DurUzaBackend::answeredCalParams(CalSensor sensor) const
{
    const CalTarget &target = calTarget(sensor);
    const int firstRow = registerRowAt(target.address);
    Calibration::ParamBlock block = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        block[std::size_t(i)] = m_rows[std::size_t(firstRow + i)]->data().toFloat();
    return block;
}

CalIdentity DurUzaBackend::linkIdentity() const
{
    CalIdentity identity;
    if (m_identityAnswered != identityComplete)
        return identity;
    identity.known = true;
    identity.deviceId = m_rows[std::size_t(registerRowAt(identityAddresses[0]))]->data().toInt();
    identity.hardwareVersion
        = m_rows[std::size_t(registerRowAt(identityAddresses[1]))]->data().toInt();
    identity.softwareVersion
        = m_rows[std::size_t(registerRowAt(identityAddresses[2]))]->data().toInt();
    return identity;
}

// Asks the module for its parameters first; the reset goes out with a sample
// after the answer. Without an answer within the bound the run ends unstarted.
bool DurUzaBackend::sendCalReset(CalSensor sensor)
{
    CalRunGuard &run = m_calRuns[at(sensor)];
    const CalTarget &target = calTarget(sensor);
    if (!run.saved.valid) {
        if (!run.readRequested) {
            qCInfo(lcBackend) << "reading the module's" << target.name
                              << "parameters before the reset";
            m_calRowsAnswered[at(sensor)] = 0;
            readNow({target.address, quint8(4 * target.floats)});
            run.readRequested = true;
            m_calTimers[at(sensor)].start(calReadTimeoutMs);
        }
        return false;
    }
    // module files hook: the first write of a run; the block was just read.
    m_moduleBackups->backupBefore(
        QStringLiteral("before %1 calibration").arg(QLatin1String(target.name)));
    quint8 bytes[48];
    const Calibration::ParamBlock reset = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, reset[std::size_t(i)]);
    sendNow(writeRequest(target.address, bytes, quint8(4 * target.floats)));
    run.resetSent = true;
    return true;
}

// A result goes to the module unless it scored below the floor; then the user
// decides, and the module keeps the reset block meanwhile.
void DurUzaBackend::finishCalRun(
    CalSensor sensor, const Calibration::ParamBlock &block, int quality)
{
    CalRunGuard &run = m_calRuns[at(sensor)];
    if (quality < calQualityFloor) {
        stopCalGathering(sensor);
        run.awaitingConfirmation = true;
        run.heldResult = block;
        run.heldQuality = quality;
        qCInfo(lcBackend) << calTarget(sensor).name << "result scored" << quality
                          << "; waiting for the user to write or discard it";
        emit calibrationNeedsConfirmation(nameOf(sensor), double(quality));
        return;
    }
    PendingParams write;
    write.kind = PendingParams::Kind::Result;
    write.block = block;
    write.quality = quality;
    write.saved = run.saved;
    stopCalProcedure(sensor);
    writeVerified(sensor, write);
}

void DurUzaBackend::confirmCalibrationResult(const QString &sensorName)
{
    CalSensor sensor;
    if (!calSensorNamed(sensorName, &sensor) || !calAwaitingConfirmation(sensor))
        return;
    const CalRunGuard run = m_calRuns[at(sensor)];
    PendingParams write;
    write.kind = PendingParams::Kind::Result;
    write.block = run.heldResult;
    write.quality = run.heldQuality;
    write.saved = run.saved;
    stopCalProcedure(sensor);
    writeVerified(sensor, write);
}

void DurUzaBackend::discardCalibrationResult(const QString &sensorName)
{
    CalSensor sensor;
    if (!calSensorNamed(sensorName, &sensor) || !calAwaitingConfirmation(sensor))
        return;
    failCalRun(sensor, tr("Calibration result discarded. Previous calibration kept."));
}

void DurUzaBackend::writeVerified(CalSensor sensor, const PendingParams &write)
{
    const CalTarget &target = calTarget(sensor);
    const Calibration::ParamBlock kept = keptPart(sensor, write.block);
    if (!Calibration::isFiniteBlock(kept)) {
        qCWarning(lcBackend) << "refused to write non-finite" << target.name << "parameters";
        return;
    }
    quint8 bytes[48];
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, kept[std::size_t(i)]);
    sendNow(writeRequest(target.address, bytes, quint8(4 * target.floats)));
    m_calRowsAnswered[at(sensor)] = 0;
    readNow({target.address, quint8(4 * target.floats)});
    PendingParams &pending = m_pendingParams[at(sensor)];
    pending = write;
    pending.block = kept;
    pending.readBackRequested = true;
    m_calTimers[at(sensor)].start(calReadTimeoutMs);
}

void DurUzaBackend::stopCalGathering(CalSensor sensor)
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
}

void DurUzaBackend::stopCalProcedure(CalSensor sensor)
{
    stopCalGathering(sensor);
    if (!m_pendingParams[at(sensor)].readBackRequested)
        m_calTimers[at(sensor)].stop();
    m_calRuns[at(sensor)] = CalRunGuard();
}

void DurUzaBackend::failCalRun(CalSensor sensor, const QString &message)
{
    const CalRunGuard run = m_calRuns[at(sensor)];
    stopCalProcedure(sensor);
    QString text = message;
    if (run.resetSent) {
        if (run.saved.valid && Calibration::isFiniteBlock(keptPart(sensor, run.saved.block))) {
            PendingParams restore;
            restore.kind = PendingParams::Kind::Restore;
            restore.block = run.saved.block;
            restore.message = message;
            restore.saved = run.saved;
            writeVerified(sensor, restore);
            // The user hears what became of it once the module has answered.
            return;
        }
        qCWarning(lcBackend) << "previous" << calTarget(sensor).name
                             << "parameters were not finite; the module keeps the reset";
        text = tr("Calibration failed. The previous calibration was invalid; "
                  "the module keeps neutral parameters.");
    }
    qCInfo(lcBackend) << calTarget(sensor).name << "calibration ended without result:" << text;
    emit calibrationFailed(nameOf(sensor), text);
}

void DurUzaBackend::onReadBack(CalSensor sensor, const Calibration::ParamBlock &held)
{
    const PendingParams write = m_pendingParams[at(sensor)];
    m_pendingParams[at(sensor)] = PendingParams();
    m_calTimers[at(sensor)].stop();
    const bool taken = keptPart(sensor, held) == write.block;
    const QString name = nameOf(sensor);
    if (write.kind == PendingParams::Kind::Result) {
        if (taken) {
            qCInfo(lcBackend) << calTarget(sensor).name << "result confirmed by the module";
            if (sensor == CalSensor::Acc)
                emit accCalFinished(double(write.quality));
            else if (sensor == CalSensor::Gyro)
                emit gyroCalFinished(double(write.quality));
            else
                emit magCalFinished(double(write.quality));
            return;
        }
        qCWarning(lcBackend) << "the module did not take the" << calTarget(sensor).name
                             << "result; it holds" << valuesText(sensor, held);
        const QString refused = tr("Calibration failed: the module did not take the new "
                                   "parameters.");
        const Calibration::ParamBlock previous = keptPart(sensor, write.saved.block);
        if (write.saved.valid && keptPart(sensor, held) == previous) {
            emit calibrationFailed(name, refused + QLatin1Char(' ') + keptSentence());
        } else if (write.saved.valid && Calibration::isFiniteBlock(previous)) {
            PendingParams restore;
            restore.kind = PendingParams::Kind::Restore;
            restore.block = write.saved.block;
            restore.message = refused + QLatin1Char(' ') + keptSentence();
            restore.saved = write.saved;
            writeVerified(sensor, restore);
        } else {
            emit calibrationFailed(name, refused);
        }
        return;
    }
    // A restore, after a failed run or asked for from an offer.
    if (taken) {
        qCInfo(lcBackend) << calTarget(sensor).name << "previous parameters confirmed";
        if (write.kind == PendingParams::Kind::Restore && !write.message.isEmpty())
            emit calibrationFailed(name, write.message);
        else
            emit calibrationNotice(name,
                tr("The %1 calibration saved at %2 was restored.")
                    .arg(name, write.saved.at.toString(QStringLiteral("HH:mm:ss"))));
        return;
    }
    qCWarning(lcBackend) << "the module did not take back the" << calTarget(sensor).name
                         << "parameters; it holds" << valuesText(sensor, held);
    const QString why = tr("The module did not take back its previous calibration; it holds %1.")
                            .arg(valuesText(sensor, held));
    if (!write.message.isEmpty())
        emit calibrationFailed(name, notKept(write.message, why));
    else
        emit calibrationNotice(name, why);
}

void DurUzaBackend::onCalTimeout(CalSensor sensor)
{
    const QString name = nameOf(sensor);
    const PendingParams write = m_pendingParams[at(sensor)];
    if (write.readBackRequested) {
        m_pendingParams[at(sensor)] = PendingParams();
        qCWarning(lcBackend) << "no read-back of the" << calTarget(sensor).name << "parameters";
        const QString why = tr("The module did not answer the read-back; whether it holds the "
                               "parameters is unknown.");
        if (write.kind == PendingParams::Kind::Result)
            emit calibrationFailed(name, tr("Calibration not confirmed.") + QLatin1Char(' ') + why);
        else if (!write.message.isEmpty())
            emit calibrationFailed(name, notKept(write.message, why));
        else
            emit calibrationNotice(name, why);
        return;
    }
    const CalRunGuard &run = m_calRuns[at(sensor)];
    if (run.active && run.readRequested && !run.saved.valid) {
        qCWarning(lcBackend) << "no answer to the read of the" << calTarget(sensor).name
                             << "parameters; the run does not start";
        failCalRun(sensor,
            tr("Calibration not started: the module did not answer the read of its "
               "parameters. Nothing was changed."));
    }
}

// The link is gone: nothing can be written now, and nothing is written later
// without the user.
void DurUzaBackend::abandonCalRun(CalSensor sensor, const QString &lostPort)
{
    const CalRunGuard run = m_calRuns[at(sensor)];
    stopCalProcedure(sensor);
    QString text = tr("Connection lost. Calibration cancelled.");
    if (run.resetSent) {
        if (run.saved.identity.known
            && Calibration::isFiniteBlock(keptPart(sensor, run.saved.block))) {
            offerRestore(sensor, lostPort, run.saved);
            text = tr("Connection lost. Calibration cancelled. The previous calibration can be "
                      "restored when the module is connected again.");
        } else {
            text = tr("Connection lost. Calibration cancelled. The module may keep neutral "
                      "parameters.");
        }
    }
    qCInfo(lcBackend) << calTarget(sensor).name << "calibration cut off on" << lostPort;
    emit calibrationFailed(nameOf(sensor), text);
}

void DurUzaBackend::cancelCalibration()
{
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        if (m_calRuns[at(sensor)].active)
            failCalRun(sensor, tr("Calibration cancelled. Previous calibration kept."));
    }
}

// Connected once, by the constructor.
void DurUzaBackend::watchCalibrationLink()
{
    connect(&m_coms, &ComsHandler::linkError, this,
        [this](const QString &port, const QString &) { onCalibrationLinkLost(port); });
    connect(&m_coms, &ComsHandler::linkClosed, this, &DurUzaBackend::onCalibrationLinkLost);
    connect(&m_coms, &ComsHandler::linkOpened, this, &DurUzaBackend::onCalibrationLinkOpened);
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        const CalTarget &target = calTarget(sensor);
        const int firstRow = registerRowAt(target.address);
        for (int k = 0; k < target.floats; ++k) {
            connect(m_rows[std::size_t(firstRow + k)], &RegistryItemModel::dataUpdatedFromModule,
                this, [this, sensor, k] { onCalRowAnswered(sensor, k); });
        }
        m_calTimers[at(sensor)].setSingleShot(true);
        connect(&m_calTimers[at(sensor)], &QTimer::timeout, this,
            [this, sensor] { onCalTimeout(sensor); });
    }
    for (std::size_t bit = 0; bit < identityAddresses.size(); ++bit) {
        connect(m_rows[std::size_t(registerRowAt(identityAddresses[bit]))],
            &RegistryItemModel::dataUpdatedFromModule, this,
            [this, bit] { onIdentityRowAnswered(int(bit)); });
    }
}

void DurUzaBackend::onCalRowAnswered(CalSensor sensor, int index)
{
    quint32 &answered = m_calRowsAnswered[at(sensor)];
    answered |= quint32(1) << index;
    const quint32 all = (quint32(1) << calTarget(sensor).floats) - 1;
    if (answered == all) {
        answered = 0;
        onCalBlockAnswered(sensor);
    }
}

void DurUzaBackend::onCalBlockAnswered(CalSensor sensor)
{
    const Calibration::ParamBlock held = answeredCalParams(sensor);
    CalRunGuard &run = m_calRuns[at(sensor)];
    if (run.active && run.readRequested && !run.saved.valid) {
        run.saved.valid = true;
        run.saved.block = held;
        run.saved.at = QDateTime::currentDateTime();
        run.saved.identity = linkIdentity();
        if (!m_pendingParams[at(sensor)].readBackRequested)
            m_calTimers[at(sensor)].stop();
        qCInfo(lcBackend) << "the module holds" << calTarget(sensor).name << "parameters"
                          << valuesText(sensor, held);
        // No later than needed: every sample in between would be gathered for nothing.
        if (sendCalReset(sensor))
            startCalGathering(sensor);
    }
    if (m_pendingParams[at(sensor)].readBackRequested)
        onReadBack(sensor, held);
}

void DurUzaBackend::onCalibrationLinkLost(const QString &port)
{
    m_identityAnswered = 0;
    m_linkPort.clear();
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        if (m_calRuns[at(sensor)].active)
            abandonCalRun(sensor, port);
        const PendingParams write = m_pendingParams[at(sensor)];
        if (write.readBackRequested) {
            m_pendingParams[at(sensor)] = PendingParams();
            m_calTimers[at(sensor)].stop();
            QString text = tr("Connection lost before the module confirmed the parameters.");
            if (write.saved.valid && write.saved.identity.known) {
                offerRestore(sensor, port, write.saved);
                text += QLatin1Char(' ')
                    + tr("The previous calibration can be restored when the module is connected "
                         "again.");
            }
            emit calibrationFailed(nameOf(sensor), text);
        }
    }
    bool hidden = false;
    for (RestoreOffer &offer : m_restoreOffers) {
        hidden = hidden || offer.shown;
        offer.shown = false;
    }
    if (hidden)
        emit calibrationRestoreOffersChanged();
}

void DurUzaBackend::onCalibrationLinkOpened(const QString &port)
{
    // Identity and offers count only for what this connection reads.
    m_identityAnswered = 0;
    m_linkPort = port;
}

void DurUzaBackend::onIdentityRowAnswered(int bit)
{
    m_identityAnswered |= 1 << bit;
    if (m_identityAnswered == identityComplete)
        showRestoreOffers();
}

void DurUzaBackend::offerRestore(CalSensor sensor, const QString &port, const CalSavedParams &saved)
{
    RestoreOffer &offer = m_restoreOffers[at(sensor)];
    offer.pending = true;
    offer.shown = false;
    offer.port = port;
    offer.saved = saved;
    offer.saved.block = keptPart(sensor, saved.block);
    qCInfo(lcBackend) << calTarget(sensor).name << "parameters saved at"
                      << saved.at.toString(Qt::ISODate) << "offered when" << port
                      << "opens on the same module";
}

// Only the module whose identity was read when its parameters were saved, on the
// port it was cut off from, is offered its parameters back.
void DurUzaBackend::showRestoreOffers()
{
    const CalIdentity identity = linkIdentity();
    bool changed = false;
    for (int i = 0; i < calSensorCount; ++i) {
        RestoreOffer &offer = m_restoreOffers[std::size_t(i)];
        if (!offer.pending || offer.shown || offer.port != m_linkPort)
            continue;
        if (!(identity == offer.saved.identity)) {
            qCInfo(lcBackend) << "another module on" << m_linkPort << "; no"
                              << calTarget(CalSensor(i)).name << "restore offered";
            continue;
        }
        offer.shown = true;
        changed = true;
    }
    if (changed)
        emit calibrationRestoreOffersChanged();
}

QVariantList DurUzaBackend::calibrationRestoreOffers() const
{
    QVariantList offers;
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        const RestoreOffer &offer = m_restoreOffers[at(sensor)];
        if (!offer.shown)
            continue;
        QVariantList values;
        for (int k = 0; k < calTarget(sensor).floats; ++k)
            values << double(offer.saved.block[std::size_t(k)]);
        QVariantMap map;
        map[QStringLiteral("sensor")] = nameOf(sensor);
        map[QStringLiteral("port")] = offer.port;
        map[QStringLiteral("savedAt")] = offer.saved.at;
        map[QStringLiteral("values")] = values;
        map[QStringLiteral("text")]
            = tr("A %1 calibration on %2 was cut off. Restore the parameters the module held at "
                 "%3 (%4)?")
                  .arg(nameOf(sensor), offer.port,
                      offer.saved.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      valuesText(sensor, offer.saved.block));
        offers << map;
    }
    return offers;
}

void DurUzaBackend::restoreCalibration(const QString &sensorName)
{
    CalSensor sensor;
    if (!calSensorNamed(sensorName, &sensor) || !m_restoreOffers[at(sensor)].shown)
        return;
    const RestoreOffer offer = m_restoreOffers[at(sensor)];
    m_restoreOffers[at(sensor)] = RestoreOffer();
    emit calibrationRestoreOffersChanged();
    PendingParams restore;
    restore.kind = PendingParams::Kind::Restore;
    restore.block = offer.saved.block;
    restore.saved = offer.saved;
    writeVerified(sensor, restore);
}

void DurUzaBackend::dismissCalibrationRestore(const QString &sensorName)
{
    CalSensor sensor;
    if (!calSensorNamed(sensorName, &sensor) || !m_restoreOffers[at(sensor)].pending)
        return;
    const bool shown = m_restoreOffers[at(sensor)].shown;
    m_restoreOffers[at(sensor)] = RestoreOffer();
    if (shown)
        emit calibrationRestoreOffersChanged();
}
