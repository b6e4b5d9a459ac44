// What the backend asks of the module: the request sequences behind the interface's
// buttons and pages, the factory reset, and single-register edits.
#include "durUzaBackend.h"

#include "backendlog.h"

#include "link/comsprotocol.h"
#include "link/delayedwrite.h"
#include "registertext.h"

#include <QByteArray>
#include <QTimer>

namespace {
constexpr quint8 control1Address = 52;
constexpr quint8 sensorsRangeAddress = 54;
constexpr quint8 accAddress = 6;
constexpr quint8 gyroAddress = 12;
constexpr quint8 magAddress = 18;
constexpr quint8 axisBytes = 6;
// Accelerometer through Euler angles: every live measurement in one read.
constexpr quint8 measurementBytes = 34;

// Streaming modes of "Control1": off, and the two modes the module streams in.
constexpr quint8 streamingOff = 0;
constexpr quint8 streamingAll = 11;
constexpr quint8 streamingAccGyro = 12;

// A read goes out 500 ms after the call and the streaming switch 100 ms after it,
// so the module has answered the reads sent at once before it starts streaming.
constexpr int measureReadDelayMs = 500;
constexpr int streamingDelayMs = 600;

} // namespace

void DurUzaBackend::sendNow()
{
    ComsProtocol *protocol = m_coms.protocol();
    const quint8 length = quint8(protocol->frameLength());
    if (m_frameSender)
        m_frameSender(protocol->frameData(), length);
    else
        m_coms.sendFrame(protocol->frameData(), length);
}

void DurUzaBackend::sendLater(int delayMs)
{
    ComsProtocol *protocol = m_coms.protocol();
    if (m_frameSender) {
        const QByteArray frame(
            reinterpret_cast<const char *>(protocol->frameData()), protocol->frameLength());
        QTimer::singleShot(delayMs, this, [this, frame] {
            if (m_frameSender)
                m_frameSender(
                    reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
        });
        return;
    }
    // Parented to the link rather than left free, so a timer that has not fired when
    // the backend goes away goes with it instead of writing through a dead link.
    new DelayedWrite(delayMs, protocol->frameData(), protocol->frameLength(), &m_coms, &m_coms);
}

void DurUzaBackend::writeControl1(quint8 value)
{
    m_coms.protocol()->buildWriteRequest(control1Address, 1, &value);
    sendNow();
}

void DurUzaBackend::writeControl1Later(int delayMs, quint8 value)
{
    m_coms.protocol()->buildWriteRequest(control1Address, 1, &value);
    sendLater(delayMs);
}

void DurUzaBackend::readNow(quint8 address, quint8 count)
{
    m_coms.protocol()->buildReadRequest(address, count);
    sendNow();
}

void DurUzaBackend::readLater(int delayMs, quint8 address, quint8 count)
{
    m_coms.protocol()->buildReadRequest(address, count);
    sendLater(delayMs);
}

// Streaming off, a read at once, a measurement read after 500 ms, then the module
// switched to `streamingMode` after 600 ms.
void DurUzaBackend::startSequence(quint8 firstRead, quint8 firstCount, quint8 measureAddress,
    quint8 measureCount, quint8 streamingMode)
{
    writeControl1(streamingOff);
    readNow(firstRead, firstCount);
    readLater(measureReadDelayMs, measureAddress, measureCount);
    writeControl1Later(streamingDelayMs, streamingMode);
}

void DurUzaBackend::resetDefaults()
{
    const auto block = defaultBlock();
    m_coms.protocol()->buildWriteRequest(quint8(writableStart), quint8(block.size()), block.data());
    sendNow();
}

void DurUzaBackend::requestAllData()
{
    writeControl1(streamingOff);
    readNow(0, quint8(registerSpaceSize));
}

void DurUzaBackend::requestChartData()
{
    startSequence(0, quint8(registerSpaceSize), accAddress, measurementBytes, streamingAll);
}

void DurUzaBackend::requestAccOnly()
{
    startSequence(sensorsRangeAddress, 1, accAddress, axisBytes, streamingAccGyro);
}

void DurUzaBackend::requestGyroOnly()
{
    startSequence(sensorsRangeAddress, 1, gyroAddress, axisBytes, streamingAccGyro);
}

void DurUzaBackend::requestMagOnly()
{
    startSequence(sensorsRangeAddress, 1, magAddress, axisBytes, streamingAll);
}

void DurUzaBackend::requestRangeData()
{
    readNow(sensorsRangeAddress, 1);
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
    m_coms.protocol()->buildWriteRequest(quint8(address), quint8(parsed.width), parsed.bytes);
    sendNow();
    // Read it back so the cell shows what the module actually holds.
    readNow(quint8(address), quint8(parsed.width));
    return true;
}

void DurUzaBackend::setRegisterWriteError(const QString &reason)
{
    if (reason == m_registerWriteError)
        return;
    m_registerWriteError = reason;
    emit registerWriteErrorChanged();
}
