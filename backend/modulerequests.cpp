// SPDX-License-Identifier: GPL-3.0-or-later
// What the backend asks of the module: the request sequences behind the interface's
// buttons and pages, the factory reset, and single-register edits.
#include "modulerequests.h"

#include "comshandler.h"
#include "comsprotocol.h"
#include "delayedwrite.h"
#include "registercatalogue.h"

#include <QByteArray>
#include <QTimer>

namespace {
using namespace RegisterMap;

// A read goes out 500 ms after the call and the streaming switch 100 ms after it,
// so the module has answered the reads sent at once before it starts streaming.
constexpr int measureReadDelayMs = 500;
constexpr int streamingDelayMs = 600;

} // namespace

ModuleRequests::ModuleRequests(ComsHandler &link)
    : m_link(link)
{ }

void ModuleRequests::setFrameSender(FrameSender sender)
{
    m_frameSender = std::move(sender);
}

void ModuleRequests::sendNow(const QByteArray &frame)
{
    const auto *data = reinterpret_cast<const quint8 *>(frame.constData());
    if (m_frameSender)
        m_frameSender(data, quint8(frame.size()));
    else
        m_link.sendFrame(data, frame.size());
}

void ModuleRequests::sendLater(int delayMs, const QByteArray &frame)
{
    if (m_frameSender) {
        QTimer::singleShot(delayMs, &m_link, [this, frame] {
            if (m_frameSender)
                m_frameSender(
                    reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
        });
        return;
    }
    // Parented to the link rather than left free, so a timer that has not fired when
    // the backend goes away goes with it instead of writing through a dead link.
    new DelayedWrite(delayMs, reinterpret_cast<const quint8 *>(frame.constData()), frame.size(),
        &m_link, &m_link);
}

void ModuleRequests::writeControl1(quint8 value)
{
    sendNow(writeRequest(Control1.address, &value, 1));
}

void ModuleRequests::writeControl1Later(int delayMs, quint8 value)
{
    sendLater(delayMs, writeRequest(Control1.address, &value, 1));
}

void ModuleRequests::readNow(RegisterSpan span)
{
    sendNow(readRequest(span));
}

void ModuleRequests::readLater(int delayMs, RegisterSpan span)
{
    sendLater(delayMs, readRequest(span));
}

// Streaming off, a read at once, a measurement read after 500 ms, then the module
// switched to `streamingMode` after 600 ms.
void ModuleRequests::startSequence(
    RegisterSpan firstRead, RegisterSpan measurement, quint8 streamingMode)
{
    writeControl1(StreamingOff);
    readNow(firstRead);
    readLater(measureReadDelayMs, measurement);
    writeControl1Later(streamingDelayMs, streamingMode);
}

void ModuleRequests::resetDefaults()
{
    const auto block = defaultBlock();
    sendNow(writeRequest(Writable.address, block.data(), quint8(block.size())));
}

void ModuleRequests::requestAllData()
{
    writeControl1(StreamingOff);
    readNow(Whole);
}

void ModuleRequests::requestChartData()
{
    startSequence(Whole, Measurements, StreamingAll);
}

void ModuleRequests::requestAccOnly()
{
    startSequence(SensorsRange, Acc, StreamingAccGyro);
}

void ModuleRequests::requestGyroOnly()
{
    startSequence(SensorsRange, Gyro, StreamingAccGyro);
}

void ModuleRequests::requestMagOnly()
{
    startSequence(SensorsRange, Mag, StreamingAll);
}

void ModuleRequests::requestRangeData()
{
    readNow(SensorsRange);
}

void ModuleRequests::writeAndReadBack(quint8 address, const quint8 *bytes, quint8 width)
{
    sendNow(writeRequest(address, bytes, width));
    // Read it back so the cell shows what the module actually holds.
    readNow({address, width});
}
