#include "calibrationlog.h"

Q_LOGGING_CATEGORY(lcCalibration, "velmar.calibration")
