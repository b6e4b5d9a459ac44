// SPDX-License-Identifier: GPL-3.0-or-later
#include "simmodule.h"

#include <registercatalogue.h>

#include <algorithm>

namespace {
constexpr quint8 dataFrameStart = 0xBB;
constexpr quint8 streamAll = RegisterMap::StreamingAll;
constexpr quint8 streamAccGyro = RegisterMap::StreamingAccGyro;
constexpr int streamStart = RegisterMap::StreamedAll.address;
constexpr int streamAllLength = RegisterMap::StreamedAll.count;
constexpr int streamAccGyroLength = RegisterMap::StreamedAccGyro.count;
constexpr int gyroXAddress = RegisterMap::Gyro.address;
static_assert(
    RegisterMap::StreamedAccGyro.address == streamStart, "both modes stream from one address");
} // namespace

SimModule::SimModule(const SimIdentity &identity)
{
    m_image[0] = identity.deviceId;
    m_image[1] = identity.status;
    writeU16(&m_image[2], identity.hardwareVersion);
    writeU16(&m_image[4], identity.softwareVersion);
    const auto defaults = defaultBlock();
    std::copy(defaults.begin(), defaults.end(), m_image.begin() + firstWritable);
    m_image[rangeAddress] = identity.sensorsRange;
    if (identity.control1 >= 0)
        m_image[control1Address] = quint8(identity.control1);
    m_scales = decodeRange(identity.hardwareVersion, identity.sensorsRange, SimFullScales {});
    refreshLive(0);
}

SimFullScales SimModule::decodeRange(quint16 hardwareVersion, quint8 b, SimFullScales s)
{
    if (hardwareVersion == 1442) {
        static const double acc[] = {20, 40, 80, 160};
        static const double gyro[] = {250, 500, 1000, 2000};
        s.acc = acc[(b >> 4) & 3];
        s.gyro = gyro[(b >> 2) & 3];
        if ((b & 3) == 0)
            s.mag = 2;
        else if ((b & 3) == 1)
            s.mag = 8;
    } else if (hardwareVersion == 2542) {
        static const double acc[] = {30, 60, 120, 240};
        static const double gyro[] = {125, 250, 500, 1000, 2000};
        s.acc = acc[(b >> 3) & 3];
        if ((b & 7) < 5)
            s.gyro = gyro[b & 7];
        s.mag = 8;
    }
    return s;
}

void SimModule::setHardwareVersion(quint16 version)
{
    writeU16(&m_image[2], version);
    m_scales = decodeRange(version, m_image[rangeAddress], m_scales);
}

void SimModule::setSensorsRange(quint8 range)
{
    m_image[rangeAddress] = range;
    m_scales = decodeRange(readU16(&m_image[2]), range, m_scales);
}

QByteArray SimModule::frame(int address, int count) const
{
    QByteArray f;
    f.reserve(3 + count);
    f.append(char(dataFrameStart));
    f.append(char(address));
    f.append(char(count));
    if (count > 0)
        f.append(reinterpret_cast<const char *>(m_image.data() + address), count);
    return f;
}

QByteArray SimModule::answerRead(quint8 address, quint8 count, double now)
{
    const int available = std::max(0, std::min(int(count), imageSize - int(address)));
    const int end = address + available;
    if (available > 0 && address < firstWritable && end > SensorModel::liveStart)
        refreshLive(now);
    return frame(address, available);
}

void SimModule::applyWrite(quint8 address, const QByteArray &data)
{
    bool rangeWritten = false;
    for (int i = 0; i < data.size(); ++i) {
        const int at = address + i;
        if (at >= imageSize)
            break;
        if (at < firstWritable)
            continue;
        m_image[std::size_t(at)] = quint8(data[i]);
        rangeWritten = rangeWritten || at == rangeAddress;
    }
    if (rangeWritten)
        setSensorsRange(m_image[rangeAddress]);
}

SimModule::StreamMode SimModule::streamMode() const
{
    switch (m_image[control1Address]) {
    case streamAll:
        return StreamMode::All;
    case streamAccGyro:
        return StreamMode::AccGyro;
    default:
        return StreamMode::Off;
    }
}

QByteArray SimModule::streamFrame(double now, int stamp)
{
    const StreamMode mode = streamMode();
    if (mode == StreamMode::Off)
        return {};
    refreshLive(now);
    QByteArray f
        = frame(streamStart, mode == StreamMode::All ? streamAllLength : streamAccGyroLength);
    if (stamp >= 0) {
        const int at = 3 + gyroXAddress - streamStart;
        f[at] = char(stamp & 0xFF);
        f[at + 1] = char((stamp >> 8) & 0x7F);
    }
    if (m_lookalikeHeaders) {
        // Over the raw "Gyroscope X" and the low byte of "Gyroscope Y".
        const int at = 3 + gyroXAddress - streamStart;
        f[at] = char(0xBB);
        f[at + 1] = char(0x00);
        f[at + 2] = char(0xB0);
    }
    return f;
}

SimTruth SimModule::truth(double now) const
{
    return m_sensors.truth(now, SensorModel::Correction::fromImage(m_image.data()), m_scales);
}

void SimModule::refreshLive(double now)
{
    const auto live
        = m_sensors.liveBytes(now, SensorModel::Correction::fromImage(m_image.data()), m_scales);
    std::copy(live.begin(), live.end(), m_image.begin() + SensorModel::liveStart);
}
