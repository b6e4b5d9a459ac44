// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Tells when serial ports may have come or gone, without polling: the kernel
// reports changes of the watched folders (inotify on Linux). It watches /dev,
// where the system's serial devices appear, and the folders of the ports
// named by path (a simulator's link, a pseudo-terminal, a udev symlink). A
// burst of changes (udev settling a device, a build writing to /tmp) gives one
// signal, a moment after it ends. Only a change in /dev asks for the ports to
// be enumerated again; a change elsewhere only for the named paths to be
// looked at, which costs a stat each.
class PortWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int SettleMs = 250;

    explicit PortWatcher(QObject *parent = nullptr);

    // Watches /dev and the folders of these port paths (names without a '/'
    // are system ports, found in /dev).
    void watchPortsIn(const QStringList &portNames);
    QStringList watchedFolders() const { return m_watcher.directories(); }

signals:
    // /dev changed: the system's serial ports may have come or gone.
    void portsMayHaveChanged();
    // A folder of a port named by path changed.
    void pathsMayHaveChanged();

private:
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    bool m_devChanged = false;
    bool m_pathsChanged = false;
};
