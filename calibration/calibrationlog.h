// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Our own diagnostics of the calibration maths (velmar.calibration).
Q_DECLARE_LOGGING_CATEGORY(lcCalibration)
