#include "fullscale.h"

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
