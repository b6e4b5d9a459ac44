#pragma once

// The register map: the catalogue of the module's 61 named registers and the
// per-register object the interface binds to.
#include "registercatalogue.h"
#include "registerobjects.h"
#include "registryitemmodel.h"
