// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// velmar-cli's exit status, documented in --help and the manual page.
namespace CliExit {
constexpr int Ok = 0;
constexpr int Failure = 1; // anything else: a file that cannot be written, say
constexpr int Usage = 2; // unknown command or option, missing or extra arguments
constexpr int PortUnavailable = 3; // not a serial device, cannot be opened, failed
constexpr int ModuleSilent = 4; // no answer to a read in time
constexpr int Refused = 5; // input refused before anything was sent
constexpr int Mismatch = 6; // the module holds something other than was written
} // namespace CliExit

// Runs one velmar-cli command line (without the program name); prints to
// standard output and standard error and returns the exit status.
int runCliCommand(const QStringList &arguments);

// The top-level help text (every option a command takes is listed there).
QString cliHelpText();
