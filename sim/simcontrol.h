#pragma once

#include "simtypes.h"

#include <QString>

class ModuleSimulator;

// The line-based control language of velmar-sim (standard input or a FIFO),
// one command per line, e.g. "pose x-down", "noise 0.1", "vanish 2000".
struct SimControlReply
{
    bool ok = true;
    bool quit = false;
    QString text; // what to print; may be empty
};

SimControlReply runControlLine(ModuleSimulator &sim, const QString &line);
// The command list, one line each, as "help" prints it.
QString simControlHelp();

// "z-up", "z-down", "y-up", "y-down", "x-up", "x-down" (any case).
bool parseSimPose(const QString &name, SimPose *pose);
