// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

struct SerialPortEntry
{
    QString portName;
    QString description;
    QString systemLocation;
};

// The one port enumeration of the application: the system's serial ports, then
// every path listed in VELMAR_EXTRA_PORTS (':'-separated), which is how a
// pseudo-terminal or a simulator is reached. Extra entries carry the path as
// name and location and an empty description.
QList<SerialPortEntry> enumerateSerialPorts();
