// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulelink.h"

#include <QString>
#include <QVariant>

#include <array>
#include <memory>

class DurUzaBackend;

// A register image decoded exactly as the application decodes it: by the
// application's own backend, fed the image as the module's answer, so that
// velmar-cli and the register page never disagree on a value or a full scale.
class ImageDecoder
{
public:
    ImageDecoder();
    ~ImageDecoder();

    // False (with the reason in error()) if the decoding did not finish.
    bool decode(const RegisterImage &image);
    QString error() const { return m_error; }

    // The catalogue row's value as the register page holds it; invalid when the
    // row could not be decoded (a measurement whose full scale is not known).
    QVariant value(int row) const;
    float accFullScale() const;
    float gyroFullScale() const;
    float magFullScale() const;

    // The unit the value of `row` is in, empty for bytes and counts; the
    // magnetometer's depends on whether `image` holds a calibration for it.
    static QString unit(int row, const quint8 *image);

private:
    std::unique_ptr<DurUzaBackend> m_backend;
    std::array<bool, 61> m_decoded {};
    QString m_error;
};
