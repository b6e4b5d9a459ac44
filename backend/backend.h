// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The backend: the object behind the interface, with its helpers.
#include "durUzaBackend.h"
#include "fullscale.h"
#include "portlist.h"
