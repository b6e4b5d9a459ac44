// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the application's messages go. Debug and info lines go to the log
// file only, so that a terminal (or a desktop session's journal) shows just
// warnings and errors; the log gets everything. --verbose, or
// VELMAR_IMU_VERBOSE=1 in the environment, sends every line to standard
// error too, as before.
namespace applog {

// The log file: velmar-imu.log under $XDG_STATE_HOME/velmar-imu (by default
// ~/.local/state/velmar-imu). One older log is kept beside it as .log.1.
QString defaultPath();

// Whether the environment asks for every line on the terminal.
bool verboseFromEnvironment();

// Installs the message handler for the whole process. Returns the log's path,
// or an empty string when it could not be opened (then every line goes to
// standard error, so nothing is lost).
QString install(const QString &path, bool verbose);

} // namespace applog
