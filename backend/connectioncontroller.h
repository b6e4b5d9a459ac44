// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstatus.h"
#include "linkmonitor.h"
#include "modulereconnector.h"
#include "portchoice.h"

#include <QObject>
#include <QStringList>

#include <memory>

class DurUzaBackend;
class QSettings;

// The connection as the live page's status strip shows it, and the ports as
// the port box offers them. Reached from QML as backEnd.connection.
//
// Figures: port, the module's identity and decoded ranges, frames and bytes per
// second, what the cutter dropped since connect, the last status message, and
// a warning when data stops or cannot be decoded. They are sampled from the
// link twice a second while a link is open, and their change signals come only
// when a shown value changed; with no link open nothing runs.
//
// Ports: the list as the backend enumerates it, the entry to preselect (the
// one last picked or used, kept by name across list changes), paths typed by
// the user, and getting a lost module back. When attachToApplication() has
// been called, the list follows devices coming and going (PortWatcher), the
// last port used is kept in the settings, and a module whose port vanished is
// reconnected when its port returns, once its identity has been read and is
// the one it had; until then nothing is written to it.
//
// The work is done by PortChoice (the list and the pick), LinkMonitor (the
// figures and the warning) and ModuleReconnector (a lost module back); this
// class is their face and keeps the notice and the reconnect setting.
class ConnectionController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
    // Entry for entry with ports: what else the system knows of each port
    // (maker, product, serial number), empty where it knows nothing.
    Q_PROPERTY(QStringList portDetails READ portDetails NOTIFY portDetailsChanged)
    Q_PROPERTY(
        bool autoReconnect READ autoReconnect WRITE setAutoReconnect NOTIFY autoReconnectChanged)

    Q_PROPERTY(bool linkOpen READ linkOpen NOTIFY figuresChanged)
    Q_PROPERTY(QString port READ port NOTIFY figuresChanged)
    Q_PROPERTY(QString identityText READ identityText NOTIFY figuresChanged)
    Q_PROPERTY(QString rangesText READ rangesText NOTIFY figuresChanged)
    Q_PROPERTY(int framesPerSecond READ framesPerSecond NOTIFY figuresChanged)
    Q_PROPERTY(int bytesPerSecond READ bytesPerSecond NOTIFY figuresChanged)
    Q_PROPERTY(qint64 cutFrames READ cutFrames NOTIFY figuresChanged)
    Q_PROPERTY(qint64 noiseBytes READ noiseBytes NOTIFY figuresChanged)
    // Samples the link took but could not hand to the charts one by one (more
    // arrived between two passes than it keeps); the charts name them.
    Q_PROPERTY(qint64 samplesNotShown READ samplesNotShown NOTIFY figuresChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY figuresChanged)

    // Data stopped, or arrives and cannot be decoded; empty otherwise.
    Q_PROPERTY(QString warning READ warning NOTIFY warningChanged)
    // What happened to the connection by itself (lost, waiting, reconnected,
    // another module found); empty when there is nothing to tell.
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool noticeIsWarning READ noticeIsWarning NOTIFY noticeChanged)
    Q_PROPERTY(bool waitingForPort READ waitingForPort NOTIFY reconnectStateChanged)
    Q_PROPERTY(bool checkingModule READ checkingModule NOTIFY reconnectStateChanged)

public:
    static constexpr int SampleIntervalMs = LinkMonitor::SampleIntervalMs;
    static constexpr int IdentityTimeoutMs = ModuleReconnector::IdentityTimeoutMs;
    static constexpr int RetryDelayMs = ModuleReconnector::RetryDelayMs;
    static constexpr int RetryLimit = ModuleReconnector::RetryLimit;

    explicit ConnectionController(DurUzaBackend *backend);
    ~ConnectionController() override;

    // Turns on what only the application wants: the port list follows devices,
    // the settings keep the last port and the reconnect setting (on unless the
    // settings say otherwise), and lost modules are reconnected. Takes the
    // settings; null keeps nothing on disk.
    // `settingsProblems`: unusable settings already replaced at start-up
    // (AppSettings::repair), to be named with any found here.
    void attachToApplication(
        std::unique_ptr<QSettings> settings, const QStringList &settingsProblems = {});
    // The port to preselect, e.g. from --port: listed (as a path of the user's
    // if the system does not list it) and selected.
    void preselectPort(const QString &nameOrPath);
    // For --connect: the live page connects once, as soon as it exists.
    void setConnectOnStart(bool on) { m_connectOnStart = on; }

    QStringList ports() const { return m_ports.labels(); }
    QStringList portNames() const { return m_ports.names(); }
    QStringList portDetails() const
    {
        m_ports.names(); // enumerated when first asked for, details and all
        return m_portDetails;
    }
    int selectedIndex() const { return m_ports.selectedIndex(); }
    bool autoReconnect() const { return m_autoReconnect; }
    void setAutoReconnect(bool on);

    bool linkOpen() const { return m_monitor.shown().linkOpen; }
    QString port() const { return m_monitor.shown().port; }
    QString identityText() const { return m_monitor.shown().identity; }
    QString rangesText() const { return m_monitor.shown().ranges; }
    int framesPerSecond() const { return m_monitor.shown().framesPerSecond; }
    int bytesPerSecond() const { return m_monitor.shown().bytesPerSecond; }
    qint64 cutFrames() const { return m_monitor.shown().cutFrames; }
    qint64 noiseBytes() const { return m_monitor.shown().noiseBytes; }
    qint64 samplesNotShown() const { return m_monitor.shown().samplesNotShown; }
    QString statusMessage() const { return m_monitor.shown().statusMessage; }
    QString warning() const { return m_monitor.warning(); }
    QString notice() const { return m_notice; }
    bool noticeIsWarning() const { return m_noticeIsWarning; }
    bool waitingForPort() const
    {
        return m_reconnector.state() == ModuleReconnector::State::Waiting;
    }
    bool checkingModule() const
    {
        return m_reconnector.state() == ModuleReconnector::State::Checking;
    }
    // The link's counters are being sampled: only while a link is open.
    bool isSampling() const { return m_monitor.isSampling(); }
    // The identity read in the current (or last) connection.
    SeenModule identity() const { return m_monitor.identity(); }

    // Enumerates the ports again; the selection stays on the port it named.
    Q_INVOKABLE void refresh();
    // The user picked entry `index` of ports.
    Q_INVOKABLE void selectIndex(int index);
    // The user typed `text` into the port box: a listed entry, a port name, or
    // a path (a name without '/' is looked for in /dev). Returns the index of
    // its entry, listing the path if need be, or -1 (with a notice) when there
    // is no such device.
    Q_INVOKABLE int usePath(const QString &text);
    // Stops waiting for a lost port, or checking the module that came back on it.
    Q_INVOKABLE void cancelReconnect();
    // True once if the live page should connect as it starts (--connect).
    Q_INVOKABLE bool takeConnectOnStart();

signals:
    void portsChanged();
    void portDetailsChanged();
    void selectedIndexChanged();
    void autoReconnectChanged();
    void figuresChanged();
    void warningChanged();
    void noticeChanged();
    void reconnectStateChanged();
    // The module came back on `port`, was found to be the same, and the
    // connection is up again: the live page shows itself connected.
    void reconnected(const QString &port);

private:
    void onLinkOpened(const QString &port);
    void onLinkError(const QString &port, const QString &reason);
    void setNotice(const QString &text, bool isWarning);

    DurUzaBackend *m_backend;
    std::unique_ptr<QSettings> m_settings;
    QStringList m_portDetails;
    bool m_portDetailsListed = false;
    PortChoice m_ports;
    LinkMonitor m_monitor;
    ModuleReconnector m_reconnector;
    bool m_autoReconnect = false;
    bool m_attached = false;
    bool m_connectOnStart = false;
    // --port was given (perhaps empty), and what it said.
    bool m_portNamed = false;
    QString m_namedPort;
    QString m_notice;
    bool m_noticeIsWarning = false;
};
