// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fullscale.h"

#include "record.h"
#include "registermap.h"

#include <QByteArray>

#include <array>

// Decoding of the live measurements, shared by the block handlers and the
// recording's CSV, so that a row holds what the pages show.
namespace measurement {
float quaternionComponent(const quint8 *bytes);
float eulerAngle(const quint8 *bytes);
// Cut (not rounded) to hundredths of a degree Celsius.
double temperatureCelsius(const quint8 *bytes);
} // namespace measurement

// Decodes data frames one at a time, in the order the cutter took them, as the
// backend decodes a dispatch of that frame alone: a frame updates a copy of the
// register image, each measurement block it touches is decoded from that copy,
// and the hardware version and the range byte it carries scale what follows.
class MeasurementDecoder
{
public:
    void reset(const std::array<quint8, RegisterMap::Size> &image, int hardwareVersion,
        const FullScales &scales);
    // A new connection starts with the full scales the backend has then.
    void setFullScales(const FullScales &scales) { m_scales = scales; }
    const FullScales &fullScales() const { return m_scales; }

    // True when the frame touches the measurements (accelerometer to Euler
    // angles): `frame` then holds its row, without the time.
    bool decode(quint8 address, const QByteArray &data, MeasurementFrame *frame);

private:
    std::array<quint8, RegisterMap::Size> m_image {};
    int m_hardwareVersion = 0;
    FullScales m_scales;
};
