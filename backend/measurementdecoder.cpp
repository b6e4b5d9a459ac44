// SPDX-License-Identifier: GPL-3.0-or-later
#include "measurementdecoder.h"

#include "registercatalogue.h"

#include <algorithm>
#include <cmath>

namespace {
using namespace RegisterMap;

// Raw counts per degree, and the offset in degrees of a raw 0.
constexpr double temperatureCountsPerDegree = 326.8;
constexpr double temperatureOffset = 25.0;
} // namespace

float measurement::quaternionComponent(const quint8 *bytes)
{
    return float(readI16(bytes) / 1000.0);
}

float measurement::eulerAngle(const quint8 *bytes)
{
    return float(readI16(bytes) / 100.0);
}

double measurement::temperatureCelsius(const quint8 *bytes)
{
    const double raw = readI16(bytes);
    return std::floor((raw / temperatureCountsPerDegree + temperatureOffset) * 100.0) / 100.0;
}

void MeasurementDecoder::reset(const std::array<quint8, RegisterMap::Size> &image,
    int hardwareVersion, const FullScales &scales)
{
    m_image = image;
    m_hardwareVersion = hardwareVersion;
    m_scales = scales;
}

bool MeasurementDecoder::decode(quint8 address, const QByteArray &data, MeasurementFrame *frame)
{
    const int first = address;
    const int end = std::min(first + int(data.size()), int(Size));
    if (first >= end)
        return false;
    std::copy_n(
        reinterpret_cast<const quint8 *>(data.constData()), end - first, m_image.begin() + first);
    auto touches = [&](RegisterSpan span) { return first < span.end() && end > span.address; };

    if (touches(HardwareVersion))
        m_hardwareVersion = readU16(m_image.data() + HardwareVersion.address);
    const bool measured = first < Measurements.end() && end > Measurements.address;
    if (measured) {
        *frame = MeasurementFrame {};
        auto scaled = [&](RegisterSpan span, float fullScale, std::array<float, 3> &out,
                          MeasurementFrame::Field field) {
            if (!touches(span) || !(fullScale > 0))
                return;
            for (int i = 0; i < 3; ++i)
                out[std::size_t(i)]
                    = scaleRaw(readI16(m_image.data() + span.address + 2 * i), fullScale);
            frame->present |= field;
        };
        scaled(Acc, m_scales.acc, frame->acc, MeasurementFrame::Acc);
        scaled(Gyro, m_scales.gyro, frame->gyro, MeasurementFrame::Gyro);
        scaled(Mag, m_scales.mag, frame->mag, MeasurementFrame::Mag);
        if (touches(Temperature)) {
            frame->temperature
                = measurement::temperatureCelsius(m_image.data() + Temperature.address);
            frame->present |= MeasurementFrame::Temperature;
        }
        if (touches(Quaternion)) {
            for (int i = 0; i < 4; ++i)
                frame->quat[std::size_t(i)]
                    = measurement::quaternionComponent(m_image.data() + Quaternion.address + 2 * i);
            frame->present |= MeasurementFrame::Quaternion;
        }
        if (touches(Euler)) {
            for (int i = 0; i < 3; ++i)
                frame->euler[std::size_t(i)]
                    = measurement::eulerAngle(m_image.data() + Euler.address + 2 * i);
            frame->present |= MeasurementFrame::Euler;
        }
    }
    // After the measurements, as the backend's dispatch in address order.
    if (touches(SensorsRange))
        applySensorsRange(m_hardwareVersion, m_image[SensorsRange.address], m_scales, nullptr);
    return measured;
}
