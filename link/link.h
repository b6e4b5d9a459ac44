// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The device link: wire protocol, register blocks, port enumeration, the link
// controller and delayed writes.
#include "comshandler.h"
#include "comsprotocol.h"
#include "delayedwrite.h"
#include "registerblocks.h"
#include "serialports.h"
