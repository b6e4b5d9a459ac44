// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeConnection.h"

FakeConnection::FakeConnection(QObject *backend, PortSource source)
    : QObject(backend)
    , m_backend(backend)
    , m_source(source)
{ }

QStringList FakeConnection::ports() const
{
    if (!m_portsRead) {
        m_ports = m_source(m_backend);
        m_portsRead = true;
    }
    return m_ports;
}

void FakeConnection::reset()
{
    m_ports.clear();
    m_portsRead = false;
    m_portDetails.clear();
    emit portDetailsChanged();
    m_wanted.clear();
    m_autoReconnect = true;
    m_linkOpen = false;
    m_port.clear();
    m_identityText.clear();
    m_rangesText.clear();
    m_framesPerSecond = m_bytesPerSecond = 0;
    m_cutFrames = m_noiseBytes = m_samplesNotShown = 0;
    m_statusMessage.clear();
    m_warning.clear();
    m_notice.clear();
    m_noticeIsWarning = false;
    m_waitingForPort = m_checkingModule = false;
    m_connectOnStart = false;
    m_cancelCalls = 0;
    m_usedPaths.clear();
    emit portsChanged();
    emit selectedIndexChanged();
    emit autoReconnectChanged();
    emit figuresChanged();
    emit warningChanged();
    emit noticeChanged();
    emit reconnectStateChanged();
}

int FakeConnection::selectedIndex() const
{
    const QStringList listed = ports();
    const int index = listed.indexOf(m_wanted);
    if (index >= 0)
        return index;
    return listed.isEmpty() ? -1 : 0;
}

void FakeConnection::refresh()
{
    const QStringList ports = m_source(m_backend);
    if (m_portsRead && ports == m_ports)
        return;
    m_ports = ports;
    m_portsRead = true;
    emit portsChanged();
    emit selectedIndexChanged();
}

void FakeConnection::selectIndex(int index)
{
    ports();
    if (index < 0 || index >= m_ports.size() || m_ports.at(index) == m_wanted)
        return;
    m_wanted = m_ports.at(index);
    emit selectedIndexChanged();
}

int FakeConnection::usePath(const QString &text)
{
    m_usedPaths << text;
    ports();
    int index = m_ports.indexOf(text);
    if (index < 0 && text.startsWith(QLatin1Char('/'))) {
        m_ports << text;
        emit portsChanged();
        index = m_ports.size() - 1;
    }
    selectIndex(index);
    return index;
}

bool FakeConnection::takeConnectOnStart()
{
    const bool on = m_connectOnStart;
    m_connectOnStart = false;
    return on;
}
