// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct SerialPortEntry
{
    QString portName;
    QString description;
    QString systemLocation;
    // What the system knows of the device behind it (USB adapters mostly);
    // empty, or without identifiers, for paths and plain UARTs.
    QString manufacturer = {};
    QString serialNumber = {};
    bool hasIdentifiers = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// The one port enumeration of the application: the system's serial ports, then
// every path listed in VELMAR_EXTRA_PORTS (':'-separated), which is how a
// pseudo-terminal or a simulator is reached, then the paths the user named
// (setUserPortPaths). Extra and user entries carry the path as name and
// location and an empty description; a user path already listed is not repeated.
QList<SerialPortEntry> enumerateSerialPorts();

// Paths the user named: typed into the port box or given on the command line.
// Process-wide, like the environment variable; thread-safe.
void setUserPortPaths(const QStringList &paths);
QStringList userPortPaths();
