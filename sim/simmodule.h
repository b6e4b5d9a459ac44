// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sensormodel.h"
#include "simtypes.h"

#include <registermap.h>

#include <QByteArray>

#include <array>

// The module behind the wire: the 176-byte register map, the answers to read
// and write requests, the streaming mode set by "Control1" and the full scales
// set by "Sensors Range" under the hardware version. No I/O, no locking.
class SimModule
{
public:
    static constexpr int imageSize = RegisterMap::Size;
    static constexpr int firstWritable = RegisterMap::Writable.address;
    static constexpr quint8 control1Address = RegisterMap::Control1.address;
    static constexpr quint8 rangeAddress = RegisterMap::SensorsRange.address;

    // Control1 11 streams the 34 bytes from accelerometer to Euler angles,
    // 12 the 12 bytes of accelerometer and gyroscope; any other value is quiet.
    enum class StreamMode { Off, All, AccGyro };

    SimModule()
        : SimModule(SimIdentity())
    { }
    explicit SimModule(const SimIdentity &identity);

    // A data frame BB a n' data with the bytes from `address`; n' counts only
    // the bytes that exist, so a start past 0xAF answers with n' = 0.
    QByteArray answerRead(quint8 address, quint8 count, double now);
    // Stores what falls on bytes 52..175; lower bytes are read-only and ignored.
    void applyWrite(quint8 address, const QByteArray &data);

    StreamMode streamMode() const;
    // The next streamed data frame; with stamp >= 0 it replaces the raw
    // "Gyroscope X" so that a receiver can tell the frames apart.
    QByteArray streamFrame(double now, int stamp = -1);

    // On: every streamed frame carries BB 00 B0 among its measurement bytes,
    // as readings can, so that it holds what looks like the header of the
    // answer to a read of the whole map (worst case for a receiver that
    // joins a stream). The bytes after it are the frame's own.
    void setLookalikeHeaders(bool on) { m_lookalikeHeaders = on; }

    const std::array<quint8, imageSize> &image() const { return m_image; }
    void setHardwareVersion(quint16 version);
    void setSensorsRange(quint8 range);
    SimFullScales fullScales() const { return m_scales; }

    SensorModel &sensors() { return m_sensors; }
    const SensorModel &sensors() const { return m_sensors; }
    SimTruth truth(double now) const;

    // The full scales of a "Sensors Range" byte under a hardware version; codes
    // that name no range leave the previous value, as the tool does.
    static SimFullScales decodeRange(quint16 hardwareVersion, quint8 range, SimFullScales previous);

private:
    void refreshLive(double now);
    QByteArray frame(int address, int count) const;

    std::array<quint8, imageSize> m_image {};
    SimFullScales m_scales;
    SensorModel m_sensors;
    bool m_lookalikeHeaders = false;
};
