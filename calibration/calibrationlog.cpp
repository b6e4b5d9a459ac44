// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationlog.h"

Q_LOGGING_CATEGORY(lcCalibration, "velmar.calibration")
