// SPDX-License-Identifier: GPL-3.0-or-later
#include "portwatcher.h"

#include "backendlog.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {
const char devFolder[] = "/dev";
} // namespace

PortWatcher::PortWatcher(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        const bool dev = m_devChanged;
        const bool paths = m_pathsChanged;
        m_devChanged = m_pathsChanged = false;
        if (dev)
            emit portsMayHaveChanged();
        if (paths)
            emit pathsMayHaveChanged();
    });
    // Restarted by each change, so a burst ends in one signal.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &folder) {
        if (folder == QLatin1String(devFolder))
            m_devChanged = true;
        else
            m_pathsChanged = true;
        m_settle.start();
    });
}

void PortWatcher::watchPortsIn(const QStringList &portNames)
{
    QSet<QString> wanted {QLatin1String(devFolder)};
    for (const QString &name : portNames) {
        if (!name.contains(QLatin1Char('/')))
            continue;
        // The folder the name lives in, not where a symbolic link points: a
        // replugged device is a new link target under the same name.
        const QString folder = QFileInfo(name).absolutePath();
        if (QFileInfo(folder).isDir())
            wanted.insert(QDir::cleanPath(folder));
    }
    const QStringList watched = m_watcher.directories();
    for (const QString &folder : watched) {
        if (!wanted.contains(folder))
            m_watcher.removePath(folder);
    }
    for (const QString &folder : qAsConst(wanted)) {
        if (!watched.contains(folder) && !m_watcher.addPath(folder))
            qCInfo(lcBackend) << "cannot watch" << folder << "for ports coming and going";
    }
}
