// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectioncontroller.h"

#include "durUzaBackend.h"

#include "appsettings.h"
#include "comshandler.h"

#include <QSettings>

namespace {
const QString autoReconnectKey = QStringLiteral("connection/autoReconnect");
} // namespace

ConnectionController::ConnectionController(DurUzaBackend *backend)
    : QObject(backend)
    , m_backend(backend)
    , m_ports([this, backend](QStringList *labels, QStringList *names) {
        *labels = backend->availablePortsList();
        *names = backend->portNamesListed();
        const QStringList details = backend->portDetailsListed();
        // Before the list's own signal: a new entry finds its details there.
        // The first list comes quietly, as PortChoice's does: nobody has seen one.
        const bool first = !m_portDetailsListed;
        m_portDetailsListed = true;
        if (details != m_portDetails) {
            m_portDetails = details;
            if (!first)
                emit portDetailsChanged();
        }
    })
    , m_monitor(backend->moduleSources())
    , m_reconnector(backend, &m_ports, &m_monitor)
{
    connect(&m_ports, &PortChoice::portsChanged, this, &ConnectionController::portsChanged);
    connect(&m_ports, &PortChoice::selectedIndexChanged, this,
        &ConnectionController::selectedIndexChanged);
    connect(&m_ports, &PortChoice::noDeviceAt, this, [this](const QString &path) {
        setNotice(tr("There is no device at %1.").arg(path), true);
    });
    // A new list, or a folder of a port named by path changed: the lost port may be back.
    connect(&m_ports, &PortChoice::listed, &m_reconnector, &ModuleReconnector::lookForLostPort);
    connect(&m_ports, &PortChoice::pathsMayHaveChanged, &m_reconnector,
        &ModuleReconnector::lookForLostPort);

    connect(&m_monitor, &LinkMonitor::figuresChanged, this, &ConnectionController::figuresChanged);
    connect(&m_monitor, &LinkMonitor::warningChanged, this, &ConnectionController::warningChanged);
    connect(
        &m_monitor, &LinkMonitor::identityRead, &m_reconnector, &ModuleReconnector::identityRead);

    connect(&m_reconnector, &ModuleReconnector::stateChanged, this,
        &ConnectionController::reconnectStateChanged);
    connect(&m_reconnector, &ModuleReconnector::notice, this, &ConnectionController::setNotice);
    connect(
        &m_reconnector, &ModuleReconnector::reconnected, this, &ConnectionController::reconnected);

    ComsHandler *coms = backend->comsHandler();
    connect(coms, &ComsHandler::linkOpened, this, &ConnectionController::onLinkOpened);
    connect(coms, &ComsHandler::linkError, this, &ConnectionController::onLinkError);
    connect(coms, &ComsHandler::linkClosed, &m_monitor, &LinkMonitor::closed);
}

ConnectionController::~ConnectionController() = default;

void ConnectionController::attachToApplication(
    std::unique_ptr<QSettings> settings, const QStringList &settingsProblems)
{
    m_settings = std::move(settings);
    m_attached = true;
    // Unusable values are replaced once here, before anything reads them
    // again, and the status strip names each.
    const QStringList problems
        = settingsProblems + (m_settings ? AppSettings::repair(*m_settings) : QStringList());
    for (const QString &problem : problems)
        qWarning().noquote() << problem;
    if (!problems.isEmpty())
        setNotice(problems.join(QLatin1Char(' ')), true);
    const bool autoReconnect
        = m_settings ? AppSettings::readBool(*m_settings, autoReconnectKey, true) : true;
    if (autoReconnect != m_autoReconnect) {
        m_autoReconnect = autoReconnect;
        emit autoReconnectChanged();
    }
    m_ports.attach(m_settings.get());
}

void ConnectionController::preselectPort(const QString &nameOrPath)
{
    m_portNamed = true;
    m_namedPort = nameOrPath.trimmed();
    m_ports.preselect(nameOrPath);
}

void ConnectionController::setAutoReconnect(bool on)
{
    if (on == m_autoReconnect)
        return;
    m_autoReconnect = on;
    if (m_settings)
        m_settings->setValue(autoReconnectKey, on);
    emit autoReconnectChanged();
    if (!on)
        cancelReconnect();
}

void ConnectionController::refresh()
{
    m_ports.refresh();
}

void ConnectionController::selectIndex(int index)
{
    m_ports.select(index);
}

int ConnectionController::usePath(const QString &text)
{
    return m_ports.usePath(text);
}

void ConnectionController::cancelReconnect()
{
    m_reconnector.cancel();
}

// Connecting at start goes only to the port the user named or last used: the
// first port of the list may be anything (a modem, another device), and the
// connect sequence writes to it.
bool ConnectionController::takeConnectOnStart()
{
    if (!m_connectOnStart)
        return false;
    m_connectOnStart = false;
    QString refusal;
    const QString wanted = m_ports.wanted();
    if (m_portNamed && m_namedPort.isEmpty())
        refusal = tr("Not connected: --port names no port. Choose one and press Connect.");
    else if (wanted.isEmpty())
        refusal = tr("Not connected: no port was named (--port) or used before. Choose one and "
                     "press Connect.");
    else if (!m_ports.present(wanted) || m_ports.wantedIndex() < 0)
        refusal = tr("Not connected: the port %1 is not there. Plug the module in, or choose "
                     "another port and press Connect.")
                      .arg(wanted);
    if (!refusal.isEmpty()) {
        setNotice(refusal, true);
        return false;
    }
    m_ports.select(m_ports.wantedIndex());
    return true;
}

void ConnectionController::onLinkOpened(const QString &port)
{
    m_monitor.opened(port);
    // Unless it is the reconnect check's own open, the user connected.
    if (!m_reconnector.linkOpened(port))
        m_ports.remember(port);
    m_monitor.update();
}

void ConnectionController::onLinkError(const QString &port, const QString &reason)
{
    const bool wasOpen = !m_monitor.openPort().isEmpty() && port == m_monitor.openPort();
    m_monitor.failed();
    if (m_reconnector.state() == ModuleReconnector::State::Checking) {
        m_reconnector.checkFailed();
        return;
    }
    // An open that failed is for the user to retry; the live page says why.
    if (!wasOpen || !m_attached || !m_autoReconnect)
        return;
    m_reconnector.lost(port, reason);
}

void ConnectionController::setNotice(const QString &text, bool isWarning)
{
    if (text == m_notice && isWarning == m_noticeIsWarning)
        return;
    m_notice = text;
    m_noticeIsWarning = isWarning;
    emit noticeChanged();
}
