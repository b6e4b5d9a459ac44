// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The register map: the catalogue of the module's 61 named registers, the named
// blocks the link reads and streams, and the per-register object the interface
// binds to.
#include "registercatalogue.h"
#include "registermap.h"
#include "registerobjects.h"
#include "registryitemmodel.h"
