// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvtext.h"

#include <charconv>

namespace decode {

namespace {
constexpr int numberRoom = 32;

template <typename T> char *number(char *out, T value)
{
    // Locale free, and the shortest text that reads back to the same value.
    return std::to_chars(out, out + numberRoom, value).ptr;
}

template <std::size_t N> char *values(char *out, bool present, const std::array<float, N> &values)
{
    for (float v : values) {
        *out++ = ',';
        if (present)
            out = number(out, v);
    }
    return out;
}
} // namespace

char *writeCsvRow(char *out, const MeasurementFrame &frame)
{
    // Exact microseconds: integer seconds, then six digits. A time before the
    // start is negative; its size is taken unsigned, which holds even the
    // most negative time a record can carry.
    quint64 us = quint64(frame.timeUs);
    if (frame.timeUs < 0) {
        *out++ = '-';
        us = 0 - us;
    }
    out = number(out, us / 1000000);
    *out++ = '.';
    quint64 fraction = us % 1000000;
    for (int i = 5; i >= 0; --i) {
        out[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    out += 6;
    out = values(out, frame.present & MeasurementFrame::Acc, frame.acc);
    out = values(out, frame.present & MeasurementFrame::Gyro, frame.gyro);
    out = values(out, frame.present & MeasurementFrame::Mag, frame.mag);
    out = values(out, frame.present & MeasurementFrame::Euler, frame.euler);
    out = values(out, frame.present & MeasurementFrame::Quaternion, frame.quat);
    *out++ = ',';
    if (frame.present & MeasurementFrame::Temperature)
        out = number(out, frame.temperature);
    *out++ = '\n';
    return out;
}

} // namespace decode
