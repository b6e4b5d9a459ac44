// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "durUzaBackend.h"
#include "registerrows.h"

#include "comshandler.h"
#include "comsprotocol.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <initializer_list>

// Frame builders and a synchronous feed for backend tests: bytes go through the real
// frame cutter and the real dispatch pass, exactly as after a processing pass.
namespace backendtest {

inline QByteArray le16(int value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char(value & 0xFF);
    bytes[1] = char((value >> 8) & 0xFF);
    return bytes;
}

inline QByteArray le16s(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes += le16(v);
    return bytes;
}

// BB address count data
inline QByteArray dataFrame(int address, const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(0xBB));
    frame.append(char(address));
    frame.append(char(data.size()));
    frame += data;
    return frame;
}

// Cuts `bytes` into the register image and runs one dispatch pass on this thread.
// Only for tests without a connection: no processing thread runs meanwhile.
inline void feed(DurUzaBackend &backend, const QByteArray &bytes)
{
    ComsHandler *coms = backend.comsHandler();
    coms->protocol()->appendReceived(bytes.constData(), bytes.size());
    coms->protocol()->extractFrames();
    coms->process();
}

// Once a connection began the cutter takes only answers it awaits: tells it
// that a read of `count` registers from `address` went out.
inline void awaitAnswer(DurUzaBackend &backend, int address, int count)
{
    backend.comsHandler()->protocol()->noteRequestSent(readRequest(quint8(address), quint8(count)));
}

// "Hardware Version" and "Sensors Range" in one pass, as answers to reads.
inline void setRange(DurUzaBackend &backend, int hardwareVersion, int range)
{
    using namespace RegisterMap;
    awaitAnswer(backend, HardwareVersion.address, HardwareVersion.count);
    awaitAnswer(backend, SensorsRange.address, SensorsRange.count);
    feed(backend,
        dataFrame(HardwareVersion.address, le16(hardwareVersion))
            + dataFrame(SensorsRange.address, QByteArray(1, char(range))));
}

inline QList<float> floats(const QVariantList &list)
{
    QList<float> values;
    for (const QVariant &v : list)
        values << v.toFloat();
    return values;
}

} // namespace backendtest
