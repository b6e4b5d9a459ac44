// SPDX-License-Identifier: GPL-3.0-or-later
#include "record.h"

#include "magunit.h"

#include <QIODevice>
#include <charconv>

namespace {

// Names carry their unit after the last '_' so that a spreadsheet shows it
// and pandas or a plotting tool can still pick them by name. The magnetometer's
// unit depends on what the module holds, so it is added when the header is made.
const char *const columnNames[] = {
    "time_s",
    "acc_x_m/s2",
    "acc_y_m/s2",
    "acc_z_m/s2",
    "gyro_x_deg/s",
    "gyro_y_deg/s",
    "gyro_z_deg/s",
    "mag_x",
    "mag_y",
    "mag_z",
    "roll_deg",
    "pitch_deg",
    "yaw_deg",
    "quat_w",
    "quat_x",
    "quat_y",
    "quat_z",
    "temperature_C",
};
constexpr int columns = int(sizeof columnNames / sizeof columnNames[0]);

template <typename T> void appendNumber(QByteArray &out, T value)
{
    // to_chars ignores the locale and gives the shortest text that reads
    // back to the same value.
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, int(result.ptr - text));
}

template <std::size_t N>
void appendValues(QByteArray &out, bool present, const std::array<float, N> &values)
{
    for (float v : values) {
        out.append(',');
        if (present)
            appendNumber(out, v);
    }
}

} // namespace

int csvColumnCount()
{
    return columns;
}

QByteArray csvHeaderRow(bool magCalibrated)
{
    const QByteArray magUnit = '_' + magUnitColumn(magCalibrated).toLatin1();
    QByteArray out;
    for (int i = 0; i < columns; ++i) {
        if (i)
            out.append(',');
        out.append(columnNames[i]);
        if (qstrncmp(columnNames[i], "mag_", 4) == 0)
            out.append(magUnit);
    }
    out.append('\n');
    return out;
}

QByteArray csvRow(const MeasurementFrame &frame)
{
    QByteArray out;
    out.reserve(256);
    // Exact microseconds: integer seconds, then six digits. A time before the
    // start is negative; its size is taken unsigned, which holds even the
    // most negative time a record can carry.
    quint64 us = quint64(frame.timeUs);
    if (frame.timeUs < 0) {
        out.append('-');
        us = 0 - us;
    }
    appendNumber(out, us / 1000000);
    out.append('.');
    const QByteArray fraction = QByteArray::number(us % 1000000);
    out.append(QByteArray(6 - fraction.size(), '0') + fraction);

    appendValues(out, frame.present & MeasurementFrame::Acc, frame.acc);
    appendValues(out, frame.present & MeasurementFrame::Gyro, frame.gyro);
    appendValues(out, frame.present & MeasurementFrame::Mag, frame.mag);
    appendValues(out, frame.present & MeasurementFrame::Euler, frame.euler);
    appendValues(out, frame.present & MeasurementFrame::Quaternion, frame.quat);
    out.append(',');
    if (frame.present & MeasurementFrame::Temperature)
        appendNumber(out, frame.temperature);
    out.append('\n');
    return out;
}

bool CsvWriter::put(const QByteArray &bytes)
{
    return m_device->write(bytes) == bytes.size();
}

bool CsvWriter::writeHeader(bool magCalibrated)
{
    return put(csvHeaderRow(magCalibrated));
}

bool CsvWriter::writeFrame(const MeasurementFrame &frame)
{
    return put(csvRow(frame));
}
