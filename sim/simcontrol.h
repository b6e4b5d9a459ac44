// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simtypes.h"

#include <QByteArray>
#include <QString>

#include <vector>

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

// The fastest turn the simulator takes, deg/s: five times the widest gyroscope range.
constexpr double simMaxTurnRate = 10000;

// A finite number from `low` to `high`, or a whole number from `low` to `high`
// (base 0: decimal, 0x.. or 0..); on refusal `why` says what was wrong, e.g.
// "nan is not a number from 0 to 1".
bool parseSimNumber(const QString &text, double low, double high, double *value, QString *why);
bool parseSimWhole(
    const QString &text, quint64 low, quint64 high, quint64 *value, QString *why, int base = 10);

// Cuts control input into lines in time linear in its length. A line longer
// than maxLength bytes is dropped (reported once, as soon as it is too long)
// and reading goes on after its end.
class SimControlLineReader
{
public:
    static constexpr int maxLength = 4096;

    struct Line
    {
        QString text;
        bool tooLong = false; // text is empty then
    };

    std::vector<Line> feed(const char *data, int size);

private:
    QByteArray m_line;
    bool m_discarding = false;
};
