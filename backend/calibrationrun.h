// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Bookkeeping that lets the three calibration procedures leave the module as they
// found it when a run is refused, fails or is abandoned, and that says "kept" or
// "finished" only once the module has shown that it holds the parameters.

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
// The sensor of a name as calTarget gives it; false for any other text.
bool calSensorNamed(const QString &name, CalSensor *sensor);
// calTarget's name as the interface hears it.
QString calSensorName(CalSensor sensor);

// The block the procedures write before gathering: zero offsets, identity matrix.
Calibration::ParamBlock resetParamBlock();

// The floats a sensor keeps, the rest of the block neutral, so that a gyroscope
// block is judged and compared on its three offsets only.
Calibration::ParamBlock keptPart(CalSensor sensor, const Calibration::ParamBlock &block);

// The floats a sensor keeps, for messages and the log.
QString valuesText(CalSensor sensor, const Calibration::ParamBlock &block);

// calQualityFloor (calibration.h): below it a result waits for the user.

// How long the module may take to answer a read of its parameters. At 115200
// baud a 48-byte answer takes 5 ms even behind a full stream frame; this bound
// covers a busy computer.
constexpr int calReadTimeoutMs = 2000;

// "Device ID", "Hardware Version" and "Software Version", as read in one connection.
struct CalIdentity
{
    bool known = false;
    int deviceId = 0;
    int hardwareVersion = 0;
    int softwareVersion = 0;
    bool operator==(const CalIdentity &other) const
    {
        return known && other.known && deviceId == other.deviceId
            && hardwareVersion == other.hardwareVersion && softwareVersion == other.softwareVersion;
    }
};

// The parameters a module held before a run reset it, as it answered them.
struct CalSavedParams
{
    bool valid = false;
    Calibration::ParamBlock block {};
    QDateTime at;
    CalIdentity identity;
};

// One run of a procedure, from the button that arms it to its end.
struct CalRunGuard
{
    bool active = false;
    // The parameters were asked for right before the reset; the run waits for them.
    bool readRequested = false;
    // The reset block went out: from now on the module no longer holds `saved`.
    bool resetSent = false;
    CalSavedParams saved;
    // A result scored below the floor, waiting for the user to write or discard it.
    bool awaitingConfirmation = false;
    Calibration::ParamBlock heldResult {};
    int heldQuality = 0;
};

// A write of calibration parameters waiting for its read-back. Only the read-back
// decides what the user is told.
struct PendingParams
{
    enum class Kind { None, Result, Restore };
    Kind kind = Kind::None;
    bool readBackRequested = false;
    Calibration::ParamBlock block {};
    // For a result: its quality. For a restore: what the user is told on success.
    int quality = 0;
    QString message;
    // What the module held before the run, for when the write does not take.
    CalSavedParams saved;
};

// Parameters a run cut off with the link left unrestored: offered to the user when
// the same port opens again and the module there is the same one.
struct RestoreOffer
{
    bool pending = false;
    // Shown to the user: the module's identity matched in this connection.
    bool shown = false;
    QString port;
    CalSavedParams saved;
};
