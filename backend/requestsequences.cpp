// What the backend asks of the module: the request sequences behind the interface's
// buttons and pages, the factory reset, and single-register edits.
#include "durUzaBackend.h"

#include "backendlog.h"

#include "link/comsprotocol.h"
#include "link/delayedwrite.h"

#include <QByteArray>
#include <QTimer>

#include <cmath>
#include <limits>

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

// Text for a byte register: 0x-hexadecimal or decimal, 0..255.
bool parseByte(const QString &text, quint8 *value)
{
    bool ok = false;
    uint parsed = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        parsed = text.mid(2).toUInt(&ok, 16);
    else
        parsed = text.toUInt(&ok, 10);
    if (!ok || parsed > 0xFF)
        return false;
    *value = quint8(parsed);
    return true;
}

bool parseUnsigned(const QString &text, int width, quint8 *bytes)
{
    bool ok = false;
    const qulonglong parsed = text.toULongLong(&ok, 10);
    const qulonglong limit
        = width >= 8 ? std::numeric_limits<qulonglong>::max() : (qulonglong(1) << (8 * width)) - 1;
    if (!ok || parsed > limit)
        return false;
    for (int i = 0; i < width; ++i)
        bytes[i] = quint8(parsed >> (8 * i));
    return true;
}

// A real that fits a 32-bit float; NaN and infinities are refused, since they
// would end up in the module's calibration registers.
bool parseReal(const QString &text, quint8 *bytes)
{
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !std::isfinite(parsed)
        || std::fabs(parsed) > double(std::numeric_limits<float>::max()))
        return false;
    writeF32(bytes, float(parsed));
    return true;
}
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
    const int row = registerRowAt(address);
    if (row < 0 || !registerCatalogue[std::size_t(row)].writable) {
        qCWarning(lcBackend) << "no writable register at address" << address;
        return false;
    }
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    const int width = byteWidth(info.width);
    const QString trimmed = text.trimmed();
    quint8 bytes[4] = {};
    bool parsed = false;
    switch (info.displayCode) {
    case 0:
        parsed = width == 1 && parseByte(trimmed, bytes);
        break;
    case 1:
        parsed = parseUnsigned(trimmed, width, bytes);
        break;
    case 2:
        parsed = width == 4 && parseReal(trimmed, bytes);
        break;
    }
    if (!parsed) {
        qCWarning(lcBackend) << "refused" << text << "for" << info.name;
        return false;
    }
    m_coms.protocol()->buildWriteRequest(quint8(address), quint8(width), bytes);
    sendNow();
    // Read it back so the cell shows what the module actually holds.
    readNow(quint8(address), quint8(width));
    return true;
}
