// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstatus.h"

#include <QObject>
#include <QTimer>

class DurUzaBackend;
class LinkMonitor;
class PortChoice;

// Gets a lost module back: after the link to a module whose identity was read
// fails, waits for its port to return, opens it holding every write, reads
// the identity, and connects as the Connect button does only when it is the
// same module. Another module, no answer in time or a port that goes again
// end the wait with a notice; nothing is written to the module meanwhile.
// After another module, its port going away starts the wait again, so that
// the notice does not outlive the other module and the lost one can return.
class ModuleReconnector : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Waiting, Checking };

    static constexpr int IdentityTimeoutMs = 3000;
    // After an open that failed while waiting (udev may still be setting the
    // device's permissions), a few more tries at this spacing.
    static constexpr int RetryDelayMs = 1000;
    static constexpr int RetryLimit = 5;
    // After another module was found on the port: how often to look whether
    // it went, so that the lost module coming back in its place is checked.
    static constexpr int WatchIntervalMs = 500;

    ModuleReconnector(
        DurUzaBackend *backend, PortChoice *ports, LinkMonitor *monitor, QObject *parent = nullptr);

    State state() const { return m_state; }

    // The open link to `port` failed for `reason`: wait for it to come back.
    void lost(const QString &port, const QString &reason);
    // The check's own open failed: wait again, with a few retries.
    void checkFailed();
    // A link to `port` is up. True when it is the check's own; any other
    // (the user connected) ends whatever was awaited.
    bool linkOpened(const QString &port);
    // An identity register came: once all three are in, the check decides.
    void identityRead();
    // Starts the check when the lost port is there again. After another
    // module was found there, waits again once that one's port has gone.
    void lookForLostPort();
    // Stops waiting, or checking the module that came back.
    void cancel();

signals:
    void stateChanged();
    // What happened, for the notice; an empty text clears it.
    void notice(const QString &text, bool isWarning);
    void reconnected(const QString &port);

private:
    void setState(State state);
    void startCheck();
    void finishCheck();
    void giveUpCheck(const QString &why);
    // Closes the check link, goes Idle and says why.
    void giveUp(const QString &why);

    DurUzaBackend *m_backend;
    PortChoice *m_ports;
    LinkMonitor *m_monitor;
    // The module that was lost, and where; what a returning module must match.
    SeenModule m_lostIdentity;
    QString m_lostPort;
    State m_state = State::Idle;
    QTimer m_identityTimer;
    QTimer m_retryTimer;
    int m_retries = 0;
    // Another module was found where the lost one was: the lost one may still
    // come back there, until the user connects or cancels.
    bool m_watchingForOriginal = false;
    QTimer m_watchTimer;
    void stopWatching();
};
