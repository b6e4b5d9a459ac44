// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Diagnostics of the simulated module.
Q_DECLARE_LOGGING_CATEGORY(lcSim)
