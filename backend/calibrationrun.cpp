// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationrun.h"

#include "registermap.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

const std::array<CalTarget, calSensorCount> calTargets = {{
    {"accelerometer", RegisterMap::AccCalibration.address, RegisterMap::AccCalibration.count / 4},
    {"gyroscope", RegisterMap::GyroCalibration.address, RegisterMap::GyroCalibration.count / 4},
    {"magnetometer", RegisterMap::MagCalibration.address, RegisterMap::MagCalibration.count / 4},
}};

} // namespace

const CalTarget &calTarget(CalSensor sensor)
{
    return calTargets[std::size_t(sensor)];
}

bool calSensorNamed(const QString &name, CalSensor *sensor)
{
    for (int i = 0; i < calSensorCount; ++i) {
        if (name == QLatin1String(calTargets[std::size_t(i)].name)) {
            *sensor = CalSensor(i);
            return true;
        }
    }
    return false;
}

QString calSensorName(CalSensor sensor)
{
    return QString::fromLatin1(calTarget(sensor).name);
}

Calibration::ParamBlock resetParamBlock()
{
    Calibration::ParamBlock block {};
    block[3] = block[7] = block[11] = 1.0f;
    return block;
}

Calibration::ParamBlock keptPart(CalSensor sensor, const Calibration::ParamBlock &block)
{
    Calibration::ParamBlock kept = resetParamBlock();
    std::copy_n(block.begin(), calTarget(sensor).floats, kept.begin());
    return kept;
}

QString valuesText(CalSensor sensor, const Calibration::ParamBlock &block)
{
    QStringList values;
    for (int i = 0; i < calTarget(sensor).floats; ++i)
        values << QString::number(double(block[std::size_t(i)]), 'g', 6);
    return values.join(QStringLiteral(", "));
}
