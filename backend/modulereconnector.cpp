// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulereconnector.h"

#include "backendlog.h"
#include "durUzaBackend.h"
#include "linkmonitor.h"
#include "portchoice.h"

#include "comshandler.h"
#include "comsprotocol.h"

namespace {
// "Device ID" through "Software Version": what a returning module is known by.
constexpr RegisterSpan identitySpan {
    RegisterMap::DeviceId.address, quint8(RegisterMap::SoftwareVersion.end())};
} // namespace

ModuleReconnector::ModuleReconnector(
    DurUzaBackend *backend, PortChoice *ports, LinkMonitor *monitor, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
    , m_ports(ports)
    , m_monitor(monitor)
{
    m_identityTimer.setSingleShot(true);
    m_identityTimer.setInterval(IdentityTimeoutMs);
    connect(&m_identityTimer, &QTimer::timeout, this, [this] {
        giveUpCheck(tr("The module on %1 did not say which module it is within %2 s.")
                        .arg(m_lostPort)
                        .arg(IdentityTimeoutMs / 1000));
    });
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(RetryDelayMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &ModuleReconnector::lookForLostPort);
    m_watchTimer.setInterval(WatchIntervalMs);
    connect(&m_watchTimer, &QTimer::timeout, this, &ModuleReconnector::lookForLostPort);
}

void ModuleReconnector::stopWatching()
{
    m_watchingForOriginal = false;
    m_watchTimer.stop();
}

void ModuleReconnector::lost(const QString &port, const QString &reason)
{
    stopWatching();
    const SeenModule identity = m_monitor->identity();
    if (!identity.complete()) {
        emit notice(tr("Lost %1 (%2). Its module had not said which module it is, so it is not "
                       "reconnected by itself: press Connect when it is back.")
                        .arg(port, reason),
            true);
        return;
    }
    m_lostPort = port;
    m_lostIdentity = identity;
    m_retries = 0;
    setState(State::Waiting);
    emit notice(tr("Lost %1 (%2). Waiting for it to come back: the same module is reconnected by "
                   "itself.")
                    .arg(port, reason),
        true);
    qCInfo(lcBackend) << "waiting for" << port << "to come back with" << identityText(identity);
    // One look a moment later, for a port that never went (a passing error) or
    // whose return no folder change announces.
    m_retryTimer.start();
}

void ModuleReconnector::checkFailed()
{
    // Back too early (not listed yet, permissions not set yet) or gone again.
    m_identityTimer.stop();
    setState(State::Waiting);
    if (m_retries < RetryLimit) {
        ++m_retries;
        m_retryTimer.start();
    }
}

bool ModuleReconnector::linkOpened(const QString &port)
{
    if (m_state == State::Checking && port == m_lostPort) {
        m_identityTimer.start();
        return true;
    }
    m_identityTimer.stop();
    m_retryTimer.stop();
    stopWatching();
    setState(State::Idle);
    emit notice(QString(), false);
    return false;
}

void ModuleReconnector::identityRead()
{
    if (m_state == State::Checking && m_monitor->identity().complete())
        finishCheck();
}

void ModuleReconnector::lookForLostPort()
{
    if (m_state == State::Idle && m_watchingForOriginal) {
        // The other module is there until its port goes; then the wait for
        // the lost one starts again, and the notice says so.
        if (m_ports->present(m_lostPort))
            return;
        stopWatching();
        m_retries = 0;
        setState(State::Waiting);
        emit notice(tr("The other module left %1. Waiting for %2 to come back: it is reconnected "
                       "by itself.")
                        .arg(m_lostPort, identityText(m_lostIdentity)),
            true);
        return;
    }
    if (m_state != State::Waiting || !m_ports->present(m_lostPort))
        return;
    startCheck();
}

void ModuleReconnector::cancel()
{
    if (m_state == State::Idle && m_watchingForOriginal) {
        stopWatching();
        emit notice(QString(), false);
        return;
    }
    if (m_state == State::Idle)
        return;
    if (m_state == State::Checking)
        m_backend->comsHandler()->stop();
    m_identityTimer.stop();
    m_retryTimer.stop();
    setState(State::Idle);
    emit notice(QString(), false);
}

void ModuleReconnector::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void ModuleReconnector::startCheck()
{
    setState(State::Checking);
    m_monitor->forgetIdentity();
    qCInfo(lcBackend) << m_lostPort << "is back: reading its identity before anything is written";
    emit notice(tr("%1 is back: reading which module it is before anything is written to it.")
                    .arg(m_lostPort),
        false);
    ComsHandler *coms = m_backend->comsHandler();
    coms->start(m_lostPort);
    coms->holdWrites();
    const QByteArray read = readRequest(identitySpan);
    coms->sendFrame(reinterpret_cast<const quint8 *>(read.constData()), quint8(read.size()));
    // Covers the open as well as the answer.
    m_identityTimer.start();
}

void ModuleReconnector::finishCheck()
{
    m_identityTimer.stop();
    const QString port = m_lostPort;
    setState(State::Idle);
    // The user connected meanwhile: that connection stands.
    if (m_backend->isConnected())
        return;
    const SeenModule identity = m_monitor->identity();
    if (identity != m_lostIdentity) {
        m_backend->comsHandler()->stop();
        qCWarning(lcBackend) << "another module on" << port << ":" << identityText(identity)
                             << "instead of" << identityText(m_lostIdentity);
        emit notice(tr("A different module is on %1: %2, before %3. Nothing was written to it; "
                       "press Connect to use it.")
                        .arg(port, identityText(identity), identityText(m_lostIdentity)),
            true);
        m_watchingForOriginal = true;
        m_watchTimer.start();
        return;
    }
    stopWatching();
    m_ports->refresh();
    const int index = m_ports->names().indexOf(port);
    if (index < 0) {
        // Already Idle here, so not through giveUpCheck (which would ignore it).
        giveUp(tr("%1 went again.").arg(port));
        return;
    }
    m_ports->remember(port);
    // Exactly what the Connect button does, connect sequence and all.
    m_backend->connectClicked(index);
    emit notice(
        tr("Reconnected to %1: the same module (%2) came back.").arg(port, identityText(identity)),
        false);
    emit reconnected(port);
}

void ModuleReconnector::giveUpCheck(const QString &why)
{
    if (m_state != State::Checking)
        return;
    giveUp(why);
}

void ModuleReconnector::giveUp(const QString &why)
{
    stopWatching();
    m_backend->comsHandler()->stop();
    setState(State::Idle);
    emit notice(
        why + QLatin1Char(' ') + tr("Nothing was written to it; press Connect to try again."),
        true);
}
