#pragma once

#include "calibration.h"

#include <QString>
#include <QtGlobal>

// Bookkeeping that lets the three calibration procedures leave the module as they
// found it when a run is refused, fails or is abandoned.

enum class CalSensor { Acc = 0, Gyro = 1, Mag = 2 };
constexpr int calSensorCount = 3;

// Where a sensor's parameters live in the module: the first register and how many
// floats of the 12-float parameter block the module keeps there.
struct CalTarget
{
    const char *name; // as the interface hears it in calibrationFailed
    quint8 address;
    int floats;
};

const CalTarget &calTarget(CalSensor sensor);

// The block the procedures write before gathering: zero offsets, identity matrix.
Calibration::ParamBlock resetParamBlock();

// One run of a procedure, from the button that arms it to its end.
struct CalRunGuard
{
    bool active = false;
    // The reset block went out: from now on the module no longer holds `saved`.
    bool resetSent = false;
    // The module's parameters had never been read; a read has been asked for.
    bool readRequested = false;
    Calibration::ParamBlock saved {};
};

// A block the module should hold but has not been seen holding: written and
// waiting for its read-back, or lost with the link and due again when the same
// port opens.
struct PendingParams
{
    bool pending = false;
    bool lost = false;
    QString port;
    Calibration::ParamBlock block {};
};
