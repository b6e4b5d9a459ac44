// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serialports.h"

#include <QString>

// How a port appears in the port list: "name: description", or the bare name when
// the port has no description.
QString portListEntry(const SerialPortEntry &port);

// What else the system knows of the port, for a second line under its entry:
// "maker · product 1a86:7523 · serial A5C3", the known parts only; empty for a
// path (a simulator's link, a pseudo-terminal).
QString portDetailText(const SerialPortEntry &port);
