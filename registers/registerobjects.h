// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <array>

using RegisterObjects = std::array<RegistryItemModel *, registerCount>;

// One object per catalogue row, in catalogue order, each a child of `parent`
// (which therefore owns them). Values start as integer 0, not yet updated.
RegisterObjects createRegisterObjects(QObject *parent);
