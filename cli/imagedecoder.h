// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moduledecoder.h"
#include "modulelink.h"
#include "registercatalogue.h"

#include <QString>
#include <QVariant>

#include <array>

// A register image decoded exactly as the application decodes it, by the same
// module decoder, so that velmar-cli and the register page never disagree on a
// value or a full scale.
class ImageDecoder
{
public:
    // Always true: decoding needs nothing that can fail. Kept so that callers
    // read as before.
    bool decode(const RegisterImage &image);
    QString error() const { return QString(); }

    // The catalogue row's value as the register page holds it; invalid when the
    // row could not be decoded (a measurement whose full scale is not known).
    QVariant value(int row) const;
    float accFullScale() const { return m_decoder.fullScales().acc; }
    float gyroFullScale() const { return m_decoder.fullScales().gyro; }
    float magFullScale() const { return m_decoder.fullScales().mag; }

    // The unit the value of `row` is in, empty for bytes and counts; the
    // magnetometer's depends on whether `image` holds a calibration for it.
    static QString unit(int row, const quint8 *image);

private:
    decode::ModuleDecoder m_decoder;
    std::array<QVariant, registerCount> m_values {};
};
