// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialports.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>

#include <algorithm>

namespace {
QMutex userPathsLock;
QStringList userPaths;

void appendPath(QList<SerialPortEntry> &ports, const QString &path)
{
    const bool listed = std::any_of(ports.cbegin(), ports.cend(),
        [&](const SerialPortEntry &p) { return p.portName == path || p.systemLocation == path; });
    if (!listed)
        ports.append({path, QString(), path});
}
} // namespace

QList<SerialPortEntry> enumerateSerialPorts()
{
    QList<SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortEntry entry {info.portName(), info.description(), info.systemLocation()};
        entry.manufacturer = info.manufacturer();
        entry.serialNumber = info.serialNumber();
        entry.hasIdentifiers = info.hasVendorIdentifier() && info.hasProductIdentifier();
        entry.vendorId = info.vendorIdentifier();
        entry.productId = info.productIdentifier();
        ports.append(entry);
    }

    const QString extra = QString::fromLocal8Bit(qgetenv("VELMAR_EXTRA_PORTS"));
    const auto paths = extra.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : paths)
        ports.append({path, QString(), path});
    for (const QString &path : userPortPaths())
        appendPath(ports, path);
    return ports;
}

void setUserPortPaths(const QStringList &paths)
{
    const QMutexLocker locker(&userPathsLock);
    userPaths = paths;
}

QStringList userPortPaths()
{
    const QMutexLocker locker(&userPathsLock);
    return userPaths;
}
