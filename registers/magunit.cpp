// SPDX-License-Identifier: GPL-3.0-or-later
#include "magunit.h"

#include "registercatalogue.h"

bool magCalibrated(const quint8 *magCalibrationBlock)
{
    const std::array<quint8, writableLength> defaults = defaultBlock();
    const quint8 *factory = defaults.data() + (RegisterMap::MagCalibration.address - writableStart);
    for (int i = 0; i < RegisterMap::MagCalibration.count; i += 4) {
        // As values: a -0.0 written back is still the factory's 0.
        if (readF32(magCalibrationBlock + i) != readF32(factory + i))
            return true;
    }
    return false;
}

QString magUnitText(bool calibrated)
{
    return calibrated ? QStringLiteral("relative to the local field") : QStringLiteral("gauss");
}

QString magUnitColumn(bool calibrated)
{
    return magUnitText(calibrated).replace(QLatin1Char(' '), QLatin1Char('_'));
}
