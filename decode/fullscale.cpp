// SPDX-License-Identifier: GPL-3.0-or-later
#include "fullscale.h"

#include <QStringList>

#include <array>

bool applySensorsRange(int hardwareVersion, quint8 range, FullScales &scales, RangeCodes *codes)
{
    RangeCodes read;
    if (hardwareVersion == hardwareVersion1442) {
        static constexpr std::array<float, 4> acc = {20, 40, 80, 160};
        static constexpr std::array<float, 4> gyro = {250, 500, 1000, 2000};
        read.acc = (range >> 4) & 3;
        read.gyro = (range >> 2) & 3;
        read.mag = range & 3;
        scales.acc = acc[std::size_t(read.acc)];
        scales.gyro = gyro[std::size_t(read.gyro)];
        if (read.mag == 0)
            scales.mag = 2;
        else if (read.mag == 1)
            scales.mag = 8;
    } else if (hardwareVersion == hardwareVersion2542) {
        static constexpr std::array<float, 4> acc = {30, 60, 120, 240};
        static constexpr std::array<float, 5> gyro = {125, 250, 500, 1000, 2000};
        read.acc = (range >> 3) & 3;
        read.gyro = range & 7;
        read.mag = 0;
        scales.acc = acc[std::size_t(read.acc)];
        if (read.gyro < int(gyro.size()))
            scales.gyro = gyro[std::size_t(read.gyro)];
        scales.mag = 8;
    } else {
        return false;
    }
    if (codes)
        *codes = read;
    return true;
}

float scaleRaw(qint16 raw, float fullScale)
{
    return float(double(raw) * (1.0 / 32768.0) * double(fullScale));
}

bool isKnownHardwareVersion(int hardwareVersion)
{
    return hardwareVersion == hardwareVersion1442 || hardwareVersion == hardwareVersion2542;
}

QString unknownHardwareVersionText(int hardwareVersion)
{
    return QStringLiteral("Hardware Version %1 is not known (only %2 and %3 are): accelerometer, "
                          "gyroscope and magnetometer data cannot be scaled and are not shown.")
        .arg(hardwareVersion)
        .arg(hardwareVersion1442)
        .arg(hardwareVersion2542);
}

QString unscalableRangeText(
    int hardwareVersion, quint8 range, const FullScales &scales, const RangeCodes &codes)
{
    QStringList codeTexts;
    QStringList sensors;
    const auto check = [&](float fullScale, const char *sensor, int code) {
        if (fullScale > 0)
            return;
        codeTexts << QStringLiteral("%1 range code %2").arg(QLatin1String(sensor)).arg(code);
        sensors << QLatin1String(sensor);
    };
    check(scales.acc, "accelerometer", codes.acc);
    check(scales.gyro, "gyroscope", codes.gyro);
    check(scales.mag, "magnetometer", codes.mag);
    if (sensors.isEmpty())
        return QString();
    return QStringLiteral("Sensors Range 0x%1 under Hardware Version %2: %3 not known, so %4 data "
                          "cannot be scaled and is not shown.")
        .arg(QString::number(range, 16).toUpper().rightJustified(2, QLatin1Char('0')))
        .arg(hardwareVersion)
        .arg(codeTexts.join(QStringLiteral(" and ")) + (sensors.size() > 1 ? " are" : " is"))
        .arg(sensors.join(QStringLiteral(" and ")));
}
