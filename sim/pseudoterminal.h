// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One pseudo-terminal in raw mode: the simulator keeps the master side, a
// client opens the slave path as if it were a serial port.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens a new master (non-blocking) and puts the slave in raw mode.
    bool open(QString *error);
    // Closes the master; a client holding the slave sees a hang-up, as when a
    // cable is pulled.
    void close();
    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Drops what waits unread on the slave side: bytes a client left behind
    // must not greet the next client that opens the port.
    void discardSlaveInput() const;

private:
    int m_master = -1;
    QString m_slavePath;
};

// Points the symbolic link `link` at `target`, replacing an older link in one
// step. Refuses to replace anything that is not a symbolic link.
bool pointSymlink(const QString &link, const QString &target, QString *error);
// Removes `link` if it is a symbolic link to `target`.
void removeSymlinkTo(const QString &link, const QString &target);
