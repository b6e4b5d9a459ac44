// SPDX-License-Identifier: GPL-3.0-or-later
// What keeps the module's calibration safe around a procedure (see the header).
#include "calibrationprocedure.h"

#include "backendlog.h"
#include "moduleidentity.h"
#include "modulerequests.h"
#include "restoreoffers.h"

#include "comsprotocol.h"

#include <QDebug>

namespace {

QString keptSentence()
{
    return CalibrationProcedure::tr("Previous calibration kept.");
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

} // namespace

CalibrationProcedure::CalibrationProcedure(
    CalSensor sensor, const CalibrationServices &services, QObject *parent)
    : QObject(parent)
    , m_sensor(sensor)
    , m_services(services)
{
    const CalTarget &target = calTarget(sensor);
    const int firstRow = registerRowAt(target.address);
    for (int k = 0; k < target.floats; ++k) {
        connect(m_services.rows[std::size_t(firstRow + k)],
            &RegistryItemModel::dataUpdatedFromModule, this, [this, k] { onRowAnswered(k); });
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CalibrationProcedure::onTimeout);
}

void CalibrationProcedure::startRun()
{
    stopProcedure();
    m_run.active = true;
}

bool CalibrationProcedure::awaitingConfirmation() const
{
    return m_run.active && m_run.awaitingConfirmation;
}

// The block as the rows hold it after an answer: every row of it came in since
// the request (onRowAnswered).
Calibration::ParamBlock CalibrationProcedure::answeredParams() const
{
    const CalTarget &target = calTarget(m_sensor);
    const int firstRow = registerRowAt(target.address);
    Calibration::ParamBlock block = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        block[std::size_t(i)] = m_services.rows[std::size_t(firstRow + i)]->data().toFloat();
    return block;
}

bool CalibrationProcedure::resetOut()
{
    if (m_run.resetSent)
        return true;
    if (sendReset())
        startGathering();
    return false;
}

// Asks the module for its parameters first; the reset goes out with a sample
// after the answer. Without an answer within the bound the run ends unstarted.
bool CalibrationProcedure::sendReset()
{
    const CalTarget &target = calTarget(m_sensor);
    if (!m_run.saved.valid) {
        if (!m_run.readRequested) {
            qCInfo(lcBackend) << "reading the module's" << target.name
                              << "parameters before the reset";
            m_rowsAnswered = 0;
            m_services.requests.readNow({target.address, quint8(4 * target.floats)});
            m_run.readRequested = true;
            m_timer.start(calReadTimeoutMs);
        }
        return false;
    }
    // module files hook: the first write of a run; the block was just read.
    // No backup, no write: the run ends before anything reaches the module.
    if (m_services.beforeFirstWrite && *m_services.beforeFirstWrite) {
        const QString refusal = (*m_services.beforeFirstWrite)(
            QStringLiteral("before %1 calibration").arg(QLatin1String(target.name)));
        if (!refusal.isEmpty()) {
            failRun(
                tr("Calibration not started: %1 Nothing was written to the module.").arg(refusal));
            return false;
        }
    }
    quint8 bytes[48];
    const Calibration::ParamBlock reset = resetParamBlock();
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, reset[std::size_t(i)]);
    m_services.requests.sendNow(writeRequest(target.address, bytes, quint8(4 * target.floats)));
    m_run.resetSent = true;
    return true;
}

// A result goes to the module unless it scored below the floor; then the user
// decides, and the module keeps the reset block meanwhile.
void CalibrationProcedure::finishRun(
    const Calibration::ParamBlock &block, int quality, const QString &why)
{
    if (quality < calQualityFloor) {
        stopGathering();
        m_run.awaitingConfirmation = true;
        m_run.heldResult = block;
        m_run.heldQuality = quality;
        qCInfo(lcBackend) << calTarget(m_sensor).name << "result scored" << quality
                          << "; waiting for the user to write or discard it";
        emit needsConfirmation(double(quality), why);
        return;
    }
    PendingParams write;
    write.kind = PendingParams::Kind::Result;
    write.block = block;
    write.quality = quality;
    write.saved = m_run.saved;
    stopProcedure();
    writeVerified(write);
}

void CalibrationProcedure::confirmResult()
{
    if (!awaitingConfirmation())
        return;
    const CalRunGuard run = m_run;
    PendingParams write;
    write.kind = PendingParams::Kind::Result;
    write.block = run.heldResult;
    write.quality = run.heldQuality;
    write.saved = run.saved;
    stopProcedure();
    writeVerified(write);
}

void CalibrationProcedure::discardResult()
{
    if (!awaitingConfirmation())
        return;
    failRun(tr("Calibration result discarded. Previous calibration kept."));
}

void CalibrationProcedure::writeVerified(const PendingParams &write)
{
    const CalTarget &target = calTarget(m_sensor);
    const Calibration::ParamBlock kept = keptPart(m_sensor, write.block);
    if (!Calibration::isFiniteBlock(kept)) {
        qCWarning(lcBackend) << "refused to write non-finite" << target.name << "parameters";
        return;
    }
    quint8 bytes[48];
    for (int i = 0; i < target.floats; ++i)
        writeF32(bytes + 4 * i, kept[std::size_t(i)]);
    m_services.requests.sendNow(writeRequest(target.address, bytes, quint8(4 * target.floats)));
    m_rowsAnswered = 0;
    m_services.requests.readNow({target.address, quint8(4 * target.floats)});
    m_pending = write;
    m_pending.block = kept;
    m_pending.readBackRequested = true;
    m_timer.start(calReadTimeoutMs);
}

void CalibrationProcedure::stopProcedure()
{
    stopGathering();
    if (!m_pending.readBackRequested)
        m_timer.stop();
    m_run = CalRunGuard();
}

void CalibrationProcedure::failRun(const QString &message)
{
    const CalRunGuard run = m_run;
    stopProcedure();
    QString text = message;
    if (run.resetSent) {
        if (run.saved.valid && Calibration::isFiniteBlock(keptPart(m_sensor, run.saved.block))) {
            PendingParams restore;
            restore.kind = PendingParams::Kind::Restore;
            restore.block = run.saved.block;
            restore.message = message;
            restore.saved = run.saved;
            writeVerified(restore);
            // The user hears what became of it once the module has answered.
            return;
        }
        qCWarning(lcBackend) << "previous" << calTarget(m_sensor).name
                             << "parameters were not finite; the module keeps the reset";
        text = tr("Calibration failed. The previous calibration was invalid; "
                  "the module keeps neutral parameters.");
    }
    qCInfo(lcBackend) << calTarget(m_sensor).name << "calibration ended without result:" << text;
    emit failed(text);
}
void CalibrationProcedure::onReadBack(const Calibration::ParamBlock &held)
{
    const PendingParams write = m_pending;
    m_pending = PendingParams();
    m_timer.stop();
    const bool taken = keptPart(m_sensor, held) == write.block;
    const QString name = calSensorName(m_sensor);
    if (write.kind == PendingParams::Kind::Result) {
        if (taken) {
            qCInfo(lcBackend) << calTarget(m_sensor).name << "result confirmed by the module";
            emit finished(double(write.quality));
            return;
        }
        qCWarning(lcBackend) << "the module did not take the" << calTarget(m_sensor).name
                             << "result; it holds" << valuesText(m_sensor, held);
        const QString refused = tr("Calibration failed: the module did not take the new "
                                   "parameters.");
        const Calibration::ParamBlock previous = keptPart(m_sensor, write.saved.block);
        if (write.saved.valid && keptPart(m_sensor, held) == previous) {
            emit failed(refused + QLatin1Char(' ') + keptSentence());
        } else if (write.saved.valid && Calibration::isFiniteBlock(previous)) {
            PendingParams restore;
            restore.kind = PendingParams::Kind::Restore;
            restore.block = write.saved.block;
            restore.message = refused + QLatin1Char(' ') + keptSentence();
            restore.saved = write.saved;
            writeVerified(restore);
        } else {
            emit failed(refused);
        }
        return;
    }
    // A restore, after a failed run or asked for from an offer.
    if (taken) {
        qCInfo(lcBackend) << calTarget(m_sensor).name << "previous parameters confirmed";
        if (write.kind == PendingParams::Kind::Restore && !write.message.isEmpty())
            emit failed(write.message);
        else
            emit notice(tr("The %1 calibration saved at %2 was restored.")
                            .arg(name, write.saved.at.toString(QStringLiteral("HH:mm:ss"))));
        return;
    }
    qCWarning(lcBackend) << "the module did not take back the" << calTarget(m_sensor).name
                         << "parameters; it holds" << valuesText(m_sensor, held);
    const QString why = tr("The module did not take back its previous calibration; it holds %1.")
                            .arg(valuesText(m_sensor, held));
    if (!write.message.isEmpty())
        emit failed(notKept(write.message, why));
    else
        emit notice(why);
}

void CalibrationProcedure::onTimeout()
{
    const PendingParams write = m_pending;
    if (write.readBackRequested) {
        m_pending = PendingParams();
        qCWarning(lcBackend) << "no read-back of the" << calTarget(m_sensor).name << "parameters";
        const QString why = tr("The module did not answer the read-back; whether it holds the "
                               "parameters is unknown.");
        if (write.kind == PendingParams::Kind::Result)
            emit failed(tr("Calibration not confirmed.") + QLatin1Char(' ') + why);
        else if (!write.message.isEmpty())
            emit failed(notKept(write.message, why));
        else
            emit notice(why);
        return;
    }
    const CalRunGuard &run = m_run;
    if (run.active && run.readRequested && !run.saved.valid) {
        qCWarning(lcBackend) << "no answer to the read of the" << calTarget(m_sensor).name
                             << "parameters; the run does not start";
        failRun(tr("Calibration not started: the module did not answer the read of its "
                   "parameters. Nothing was changed."));
    }
}

// The link is gone: nothing can be written now, and nothing is written later
// without the user.
void CalibrationProcedure::abandon(const QString &lostPort)
{
    const CalRunGuard run = m_run;
    stopProcedure();
    QString text = tr("Connection lost. Calibration cancelled.");
    if (run.resetSent) {
        if (run.saved.identity.known
            && Calibration::isFiniteBlock(keptPart(m_sensor, run.saved.block))) {
            m_services.offers.offer(m_sensor, lostPort, run.saved);
            text = tr("Connection lost. Calibration cancelled. The previous calibration can be "
                      "restored when the module is connected again.");
        } else {
            text = tr("Connection lost. Calibration cancelled. The module may keep neutral "
                      "parameters.");
        }
    }
    qCInfo(lcBackend) << calTarget(m_sensor).name << "calibration cut off on" << lostPort;
    emit failed(text);
}

void CalibrationProcedure::cancel()
{
    if (m_run.active)
        failRun(tr("Calibration cancelled. Previous calibration kept."));
}

void CalibrationProcedure::onRowAnswered(int index)
{
    m_rowsAnswered |= quint32(1) << index;
    const quint32 all = (quint32(1) << calTarget(m_sensor).floats) - 1;
    if (m_rowsAnswered == all) {
        m_rowsAnswered = 0;
        onBlockAnswered();
    }
}

void CalibrationProcedure::onBlockAnswered()
{
    const Calibration::ParamBlock held = answeredParams();
    if (m_run.active && m_run.readRequested && !m_run.saved.valid) {
        m_run.saved.valid = true;
        m_run.saved.block = held;
        m_run.saved.at = QDateTime::currentDateTime();
        m_run.saved.identity = m_services.identity.current();
        if (!m_pending.readBackRequested)
            m_timer.stop();
        qCInfo(lcBackend) << "the module holds" << calTarget(m_sensor).name << "parameters"
                          << valuesText(m_sensor, held);
        // No later than needed: every sample in between would be gathered for nothing.
        if (sendReset())
            startGathering();
    }
    if (m_pending.readBackRequested)
        onReadBack(held);
}

void CalibrationProcedure::linkLost(const QString &port)
{
    if (m_run.active)
        abandon(port);
    const PendingParams write = m_pending;
    if (write.readBackRequested) {
        m_pending = PendingParams();
        m_timer.stop();
        QString text = tr("Connection lost before the module confirmed the parameters.");
        if (write.saved.valid && write.saved.identity.known) {
            m_services.offers.offer(m_sensor, port, write.saved);
            text += QLatin1Char(' ')
                + tr("The previous calibration can be restored when the module is connected "
                     "again.");
        }
        emit failed(text);
    }
}

void CalibrationProcedure::restore(const CalSavedParams &saved)
{
    PendingParams restore;
    restore.kind = PendingParams::Kind::Restore;
    restore.block = saved.block;
    restore.saved = saved;
    writeVerified(restore);
}
