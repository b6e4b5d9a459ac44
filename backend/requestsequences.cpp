// SPDX-License-Identifier: GPL-3.0-or-later
// What the backend asks of the module: the request sequences behind the interface's
// buttons and pages, the factory reset, and single-register edits.
#include "durUzaBackend.h"

#include "backendlog.h"
#include "modulebackups.h"

#include "link/comsprotocol.h"
#include "link/delayedwrite.h"
#include "registertext.h"

#include <QByteArray>
#include <QTimer>

namespace {
using namespace RegisterMap;

// A read goes out 500 ms after the call and the streaming switch 100 ms after it,
// so the module has answered the reads sent at once before it starts streaming.
constexpr int measureReadDelayMs = 500;
constexpr int streamingDelayMs = 600;

} // namespace

void DurUzaBackend::sendNow(const QByteArray &frame)
{
    const auto *data = reinterpret_cast<const quint8 *>(frame.constData());
    if (m_frameSender)
        m_frameSender(data, quint8(frame.size()));
    else
        m_coms.sendFrame(data, frame.size());
}

void DurUzaBackend::sendLater(int delayMs, const QByteArray &frame)
{
    if (m_frameSender) {
        QTimer::singleShot(delayMs, this, [this, frame] {
            if (m_frameSender)
                m_frameSender(
                    reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
        });
        return;
    }
    // Parented to the link rather than left free, so a timer that has not fired when
    // the backend goes away goes with it instead of writing through a dead link.
    new DelayedWrite(delayMs, reinterpret_cast<const quint8 *>(frame.constData()), frame.size(),
        &m_coms, &m_coms);
}

void DurUzaBackend::writeControl1(quint8 value)
{
    sendNow(writeRequest(Control1.address, &value, 1));
}

void DurUzaBackend::writeControl1Later(int delayMs, quint8 value)
{
    sendLater(delayMs, writeRequest(Control1.address, &value, 1));
}

void DurUzaBackend::readNow(RegisterSpan span)
{
    sendNow(readRequest(span));
}

void DurUzaBackend::readLater(int delayMs, RegisterSpan span)
{
    sendLater(delayMs, readRequest(span));
}

// Streaming off, a read at once, a measurement read after 500 ms, then the module
// switched to `streamingMode` after 600 ms.
void DurUzaBackend::startSequence(
    RegisterSpan firstRead, RegisterSpan measurement, quint8 streamingMode)
{
    writeControl1(StreamingOff);
    readNow(firstRead);
    readLater(measureReadDelayMs, measurement);
    writeControl1Later(streamingDelayMs, streamingMode);
}

void DurUzaBackend::resetDefaults()
{
    m_moduleBackups->backupBefore(QStringLiteral("before Reset Defaults")); // module files hook
    const auto block = defaultBlock();
    sendNow(writeRequest(Writable.address, block.data(), quint8(block.size())));
}

void DurUzaBackend::requestAllData()
{
    writeControl1(StreamingOff);
    readNow(Whole);
}

void DurUzaBackend::requestChartData()
{
    startSequence(Whole, Measurements, StreamingAll);
}

void DurUzaBackend::requestAccOnly()
{
    startSequence(SensorsRange, Acc, StreamingAccGyro);
}

void DurUzaBackend::requestGyroOnly()
{
    startSequence(SensorsRange, Gyro, StreamingAccGyro);
}

void DurUzaBackend::requestMagOnly()
{
    startSequence(SensorsRange, Mag, StreamingAll);
}

void DurUzaBackend::requestRangeData()
{
    readNow(SensorsRange);
}

bool DurUzaBackend::writeRegisterText(int address, const QString &text)
{
    RegisterText parsed = parseRegisterTextAt(address, text);
    // Without a link both frames would be dropped on the way; say so instead.
    if (parsed.accepted() && !m_connected)
        parsed.refusal = tr("Not connected: connect to the module first; nothing was written.");
    if (!parsed.accepted()) {
        qCWarning(lcBackend) << "refused" << text << "for address" << address << ":"
                             << parsed.refusal;
        setRegisterWriteError(parsed.refusal);
        return false;
    }
    setRegisterWriteError(QString());
    sendNow(writeRequest(quint8(address), parsed.bytes, quint8(parsed.width)));
    // Read it back so the cell shows what the module actually holds.
    readNow({quint8(address), quint8(parsed.width)});
    return true;
}

void DurUzaBackend::setRegisterWriteError(const QString &reason)
{
    if (reason == m_registerWriteError)
        return;
    m_registerWriteError = reason;
    emit registerWriteErrorChanged();
}
