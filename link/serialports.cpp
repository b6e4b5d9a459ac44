// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialports.h"

#include <QSerialPortInfo>

QList<SerialPortEntry> enumerateSerialPorts()
{
    QList<SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.description(), info.systemLocation()});

    const QString extra = QString::fromLocal8Bit(qgetenv("VELMAR_EXTRA_PORTS"));
    const auto paths = extra.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : paths)
        ports.append({path, QString(), path});
    return ports;
}
