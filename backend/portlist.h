// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serialports.h"

#include <QString>

// How a port appears in the port list: "name: description", or the bare name when
// the port has no description.
QString portListEntry(const SerialPortEntry &port);
