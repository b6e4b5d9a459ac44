// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectioncontroller.h"

#include "backendlog.h"
#include "durUzaBackend.h"
#include "portwatcher.h"
#include "registryitemmodel.h"

#include "comshandler.h"
#include "comsprotocol.h"
#include "serialports.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const QString lastPortKey = QStringLiteral("ports/last");
const QString autoReconnectKey = QStringLiteral("connection/autoReconnect");

// "Device ID" through "Software Version": what a returning module is known by.
constexpr RegisterSpan identitySpan {
    RegisterMap::DeviceId.address, quint8(RegisterMap::SoftwareVersion.end())};
constexpr std::array<int, 3> identityAddresses = {RegisterMap::DeviceId.address,
    RegisterMap::HardwareVersion.address, RegisterMap::SoftwareVersion.address};

QString pathFor(const QString &typed)
{
    if (!typed.contains(QLatin1Char('/')))
        return QStringLiteral("/dev/") + typed;
    return typed.startsWith(QLatin1Char('/')) ? typed : QFileInfo(typed).absoluteFilePath();
}
} // namespace

ConnectionController::ConnectionController(DurUzaBackend *backend)
    : QObject(backend)
    , m_backend(backend)
{
    m_clock.start();
    m_sampleTimer.setInterval(SampleIntervalMs);
    connect(&m_sampleTimer, &QTimer::timeout, this, &ConnectionController::sampleLink);
    m_identityTimer.setSingleShot(true);
    m_identityTimer.setInterval(IdentityTimeoutMs);
    connect(&m_identityTimer, &QTimer::timeout, this, [this] {
        giveUpCheck(tr("The module on %1 did not say which module it is within %2 s.")
                        .arg(m_lostPort)
                        .arg(IdentityTimeoutMs / 1000));
    });
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(RetryDelayMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &ConnectionController::lookForLostPort);

    ComsHandler *coms = backend->comsHandler();
    connect(coms, &ComsHandler::linkOpened, this, &ConnectionController::onLinkOpened);
    connect(coms, &ComsHandler::linkError, this, &ConnectionController::onLinkError);
    connect(coms, &ComsHandler::linkClosed, this, &ConnectionController::onLinkClosed);
    connect(
        backend, &DurUzaBackend::dataProblemChanged, this, &ConnectionController::updateWarning);
    watchIdentityRows();
    refresh();
}

ConnectionController::~ConnectionController() = default;

void ConnectionController::watchIdentityRows()
{
    const QList<QObject *> rows = m_backend->registers();
    for (QObject *object : rows) {
        auto *row = qobject_cast<RegistryItemModel *>(object);
        if (!row)
            continue;
        for (std::size_t i = 0; i < identityAddresses.size(); ++i) {
            if (row->address() == identityAddresses[i])
                connect(row, &RegistryItemModel::dataUpdatedFromModule, this, [this, row, i] {
                    const int value = row->data().toInt();
                    if (i == 0)
                        m_identity.deviceId = value;
                    else if (i == 1)
                        m_identity.hardwareVersion = value;
                    else
                        m_identity.softwareVersion = value;
                    onIdentityRow(int(i));
                });
        }
    }
}

void ConnectionController::attachToApplication(std::unique_ptr<QSettings> settings)
{
    m_settings = std::move(settings);
    m_attached = true;
    const bool autoReconnect
        = m_settings ? m_settings->value(autoReconnectKey, true).toBool() : true;
    if (autoReconnect != m_autoReconnect) {
        m_autoReconnect = autoReconnect;
        emit autoReconnectChanged();
    }
    if (m_settings) {
        const QString last = m_settings->value(lastPortKey).toString();
        // A path of the user's is listed again if it is there; a system port is
        // listed by the system when it is there.
        if (last.startsWith(QLatin1Char('/')) && !m_names.contains(last) && QFileInfo::exists(last))
            addUserPath(last);
        if (!last.isEmpty())
            m_wanted = last;
    }
    m_watcher = new PortWatcher(this);
    connect(m_watcher, &PortWatcher::portsMayHaveChanged, this, &ConnectionController::refresh);
    connect(
        m_watcher, &PortWatcher::pathsMayHaveChanged, this, &ConnectionController::lookForLostPort);
    m_watcher->watchPortsIn(m_names);
    refresh();
}

void ConnectionController::preselectPort(const QString &nameOrPath)
{
    const QString typed = nameOrPath.trimmed();
    if (typed.isEmpty())
        return;
    refresh();
    int index = m_names.indexOf(typed);
    if (index < 0 && typed.startsWith(QStringLiteral("/dev/")))
        index = m_names.indexOf(typed.mid(5));
    if (index < 0) {
        // Named on purpose: listed even if it is not there yet, so that Connect
        // says why it cannot be opened.
        addUserPath(pathFor(typed));
        refresh();
        index = m_names.indexOf(pathFor(typed));
    }
    selectIndex(index);
}

int ConnectionController::selectedIndex() const
{
    int index = m_names.indexOf(m_wanted);
    // "/dev/ttyUSB0" typed while it was unplugged is "ttyUSB0" once the system lists it.
    if (index < 0 && m_wanted.startsWith(QStringLiteral("/dev/")))
        index = m_names.indexOf(m_wanted.mid(5));
    if (index >= 0)
        return index;
    return m_names.isEmpty() ? -1 : 0;
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
    const int before = selectedIndex();
    const QStringList labels = m_backend->availablePortsList();
    const QStringList names = m_backend->portNamesListed();
    const bool changed = labels != m_labels || names != m_names;
    if (changed) {
        m_labels = labels;
        m_names = names;
        if (m_watcher)
            m_watcher->watchPortsIn(m_names);
        emit portsChanged();
    }
    // Also after any change of the list: the port box re-applies it to its new model.
    if (changed || selectedIndex() != before)
        emit selectedIndexChanged();
    if (m_state == State::Waiting)
        lookForLostPort();
}

void ConnectionController::selectIndex(int index)
{
    if (index >= 0 && index < m_names.size())
        setWanted(m_names.at(index));
}

int ConnectionController::usePath(const QString &text)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        return -1;
    refresh();
    int index = m_labels.indexOf(typed);
    if (index < 0)
        index = m_names.indexOf(typed);
    if (index < 0 && typed.startsWith(QStringLiteral("/dev/")))
        index = m_names.indexOf(typed.mid(5));
    if (index < 0) {
        const QString path = pathFor(typed);
        if (!QFileInfo::exists(path)) {
            setNotice(tr("There is no device at %1.").arg(path), true);
            return -1;
        }
        addUserPath(path);
        refresh();
        index = m_names.indexOf(path);
    }
    selectIndex(index);
    return index;
}

void ConnectionController::cancelReconnect()
{
    if (m_state == State::Idle)
        return;
    if (m_state == State::Checking)
        m_backend->comsHandler()->stop();
    m_identityTimer.stop();
    m_retryTimer.stop();
    setState(State::Idle);
    setNotice(QString(), false);
}

bool ConnectionController::takeConnectOnStart()
{
    const bool connect = m_connectOnStart;
    m_connectOnStart = false;
    return connect;
}

void ConnectionController::setWanted(const QString &name)
{
    if (name == m_wanted)
        return;
    const int before = selectedIndex();
    m_wanted = name;
    if (selectedIndex() != before)
        emit selectedIndexChanged();
}

void ConnectionController::rememberPort(const QString &name)
{
    setWanted(name);
    if (m_settings)
        m_settings->setValue(lastPortKey, name);
}

void ConnectionController::addUserPath(const QString &path)
{
    QStringList paths = userPortPaths();
    if (!paths.contains(path)) {
        paths.append(path);
        setUserPortPaths(paths);
    }
}

bool ConnectionController::portPresent(const QString &name) const
{
    // A path is there when it leads to something (a dangling symbolic link is
    // a module gone); a system port when the system lists it.
    if (name.contains(QLatin1Char('/')))
        return QFileInfo::exists(name);
    return m_names.contains(name);
}

void ConnectionController::onLinkOpened(const QString &port)
{
    m_openPort = port;
    m_identity = SeenModule();
    m_figures.begin(now());
    m_lastFrameClock = QTime::currentTime();
    m_lastStatusClock = QTime();
    m_sampleTimer.start();
    if (m_state == State::Checking && port == m_lostPort) {
        m_identityTimer.start();
    } else {
        // The user connected: whatever was awaited is over.
        m_identityTimer.stop();
        m_retryTimer.stop();
        setState(State::Idle);
        setNotice(QString(), false);
        rememberPort(port);
    }
    updateShown();
    updateWarning();
}

void ConnectionController::onLinkError(const QString &port, const QString &reason)
{
    const bool wasOpen = !m_openPort.isEmpty() && port == m_openPort;
    m_openPort.clear();
    m_sampleTimer.stop();
    updateShown();
    updateWarning();
    if (m_state == State::Checking) {
        // Back too early (not listed yet, permissions not set yet) or gone again.
        m_identityTimer.stop();
        setState(State::Waiting);
        if (m_retries < RetryLimit) {
            ++m_retries;
            m_retryTimer.start();
        }
        return;
    }
    // An open that failed is for the user to retry; the live page says why.
    if (!wasOpen || !m_attached || !m_autoReconnect)
        return;
    if (!m_identity.complete()) {
        setNotice(tr("Lost %1 (%2). Its module had not said which module it is, so it is not "
                     "reconnected by itself: press Connect when it is back.")
                      .arg(port, reason),
            true);
        return;
    }
    m_lostPort = port;
    m_lostIdentity = m_identity;
    m_retries = 0;
    setState(State::Waiting);
    setNotice(tr("Lost %1 (%2). Waiting for it to come back: the same module is reconnected by "
                 "itself.")
                  .arg(port, reason),
        true);
    qCInfo(lcBackend) << "waiting for" << port << "to come back with" << ::identityText(m_identity);
    // One look a moment later, for a port that never went (a passing error) or
    // whose return no folder change announces.
    m_retryTimer.start();
}

void ConnectionController::onLinkClosed(const QString &port)
{
    if (port == m_openPort) {
        m_openPort.clear();
        m_sampleTimer.stop();
    }
    updateShown();
    updateWarning();
}

void ConnectionController::lookForLostPort()
{
    if (m_state != State::Waiting || !portPresent(m_lostPort))
        return;
    startCheck();
}

void ConnectionController::startCheck()
{
    setState(State::Checking);
    m_identity = SeenModule();
    qCInfo(lcBackend) << m_lostPort << "is back: reading its identity before anything is written";
    setNotice(tr("%1 is back: reading which module it is before anything is written to it.")
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

void ConnectionController::onIdentityRow(int)
{
    updateShown();
    if (m_state == State::Checking && m_identity.complete())
        finishCheck();
}

void ConnectionController::finishCheck()
{
    m_identityTimer.stop();
    const QString port = m_lostPort;
    setState(State::Idle);
    // The user connected meanwhile: that connection stands.
    if (m_backend->isConnected())
        return;
    if (m_identity != m_lostIdentity) {
        m_backend->comsHandler()->stop();
        qCWarning(lcBackend) << "another module on" << port << ":" << ::identityText(m_identity)
                             << "instead of" << ::identityText(m_lostIdentity);
        setNotice(tr("A different module is on %1: %2, before %3. Nothing was written to it; "
                     "press Connect to use it.")
                      .arg(port, ::identityText(m_identity), ::identityText(m_lostIdentity)),
            true);
        return;
    }
    refresh();
    const int index = m_names.indexOf(port);
    if (index < 0) {
        giveUpCheck(tr("%1 went again.").arg(port));
        return;
    }
    rememberPort(port);
    // Exactly what the Connect button does, connect sequence and all.
    m_backend->connectClicked(index);
    setNotice(tr("Reconnected to %1: the same module (%2) came back.")
                  .arg(port, ::identityText(m_identity)),
        false);
    emit reconnected(port);
}

void ConnectionController::giveUpCheck(const QString &why)
{
    if (m_state != State::Checking)
        return;
    m_backend->comsHandler()->stop();
    setState(State::Idle);
    setNotice(why + QLatin1Char(' ') + tr("Nothing was written to it; press Connect to try again."),
        true);
}

void ConnectionController::sampleLink()
{
    const qint64 lastFrame = m_figures.lastFrameAtMs();
    const qint64 lastStatus = m_figures.lastStatusAtMs();
    m_figures.sample(m_backend->comsHandler()->linkCounters(), now());
    if (m_figures.lastFrameAtMs() != lastFrame)
        m_lastFrameClock = QTime::currentTime();
    if (m_figures.lastStatusAtMs() != lastStatus)
        m_lastStatusClock = QTime::currentTime();
    updateShown();
    updateWarning();
}

void ConnectionController::updateShown()
{
    Shown shown;
    shown.linkOpen = !m_openPort.isEmpty();
    if (shown.linkOpen) {
        const LinkCounters &counters = m_figures.counters();
        shown.port = m_openPort;
        if (m_identity.deviceId >= 0 || m_identity.hardwareVersion >= 0
            || m_identity.softwareVersion >= 0)
            shown.identity = ::identityText(m_identity);
        shown.ranges = ::rangesText(FullScales {
            m_backend->accFullScale(), m_backend->gyroFullScale(), m_backend->magFullScale()});
        shown.framesPerSecond = m_figures.framesPerSecond();
        shown.bytesPerSecond = m_figures.bytesPerSecond();
        shown.cutFrames = qint64(counters.cutFrames);
        shown.noiseBytes = qint64(counters.noiseBytes);
        shown.statusMessage
            = statusMessageText(counters.statusMessages, counters.lastStatus, m_lastStatusClock);
    }
    if (shown == m_shown)
        return;
    m_shown = shown;
    emit figuresChanged();
}

void ConnectionController::updateWarning()
{
    QString warning;
    if (!m_openPort.isEmpty())
        warning = connectionWarning(m_figures, now(), m_lastFrameClock, m_backend->dataProblem(),
            FullScales {
                m_backend->accFullScale(), m_backend->gyroFullScale(), m_backend->magFullScale()});
    if (warning == m_warning)
        return;
    m_warning = warning;
    emit warningChanged();
}

void ConnectionController::setNotice(const QString &text, bool isWarning)
{
    if (text == m_notice && isWarning == m_noticeIsWarning)
        return;
    m_notice = text;
    m_noticeIsWarning = isWarning;
    emit noticeChanged();
}

void ConnectionController::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit reconnectStateChanged();
}
