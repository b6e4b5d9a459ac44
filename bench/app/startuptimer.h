// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Start-up of the real executable, `runs` times: from starting the process to
// its "Main Window Root Done!" line, written when the main window has been
// created (still hidden behind the splash). Prints the median and the worst,
// as key=value pairs with `kv`; returns the exit code for main.
int measureStartup(const QString &program, int runs, bool kv);
