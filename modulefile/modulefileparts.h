// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Inside the module file library: what its reader, writer and comparisons
// share about the catalogue and the file's calibration blocks.
#include "modulefile.h"

namespace ModuleFileParts {

constexpr int firstWritableRow = 27; // "Control1"

inline const RegisterInfo &infoOf(int row)
{
    return registerCatalogue[std::size_t(row)];
}

// The catalogue row of the register with that exact name; -1 if none.
int rowNamed(const QString &name);

// Where a file's bytes of the register at `address` (a writable one) are kept.
inline quint8 *writableAt(ModuleFile &file, int address)
{
    return file.writable.data() + (address - RegisterMap::Writable.address);
}

struct CalibrationShape
{
    CalibrationBlock block;
    RegisterSpan offset;
    RegisterSpan matrix; // count 0: none in the file
};

constexpr CalibrationShape calibrationShapes[calibrationBlockCount] = {
    {CalibrationBlock::Accelerometer, RegisterMap::AccOffset, RegisterMap::AccScale},
    {CalibrationBlock::Gyroscope, RegisterMap::GyroOffset, {RegisterMap::GyroScale.address, 0}},
    {CalibrationBlock::Magnetometer, RegisterMap::MagOffset, RegisterMap::MagScale},
};

} // namespace ModuleFileParts
