// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registerobjects.h"

#include <functional>

class ComsHandler;
class RegisterDecoder;

// What the sub-objects may read of the module behind the link, instead of the
// whole backend: the link itself, the register rows, the decoder (full scales
// and what keeps data from being scaled), and whether the magnetometer's
// calibration differs from the factory default. All live on the GUI thread
// and outlive the objects given them.
struct ModuleSources
{
    ComsHandler *coms = nullptr;
    const RegisterObjects *rows = nullptr;
    const RegisterDecoder *decoder = nullptr;
    std::function<bool()> magCalibrated;
};
