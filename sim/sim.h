// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulated module: a ModuleSimulator serves the module's wire protocol on
// a pseudo-terminal from its own thread, with the register map, streaming, a
// sensor model with ground truth, and line faults. See modulesimulator.h.
#include "modulesimulator.h"
#include "simcontrol.h"
#include "simmodule.h"
#include "simtypes.h"
