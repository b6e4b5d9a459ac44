// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstatus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>

class DurUzaBackend;
class PortWatcher;
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
class ConnectionController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
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
    static constexpr int SampleIntervalMs = 500;
    static constexpr int IdentityTimeoutMs = 3000;
    // After an open that failed while waiting (udev may still be setting the
    // device's permissions), a few more tries at this spacing.
    static constexpr int RetryDelayMs = 1000;
    static constexpr int RetryLimit = 5;

    explicit ConnectionController(DurUzaBackend *backend);
    ~ConnectionController() override;

    // Turns on what only the application wants: the port list follows devices,
    // the settings keep the last port and the reconnect setting (on unless the
    // settings say otherwise), and lost modules are reconnected. Takes the
    // settings; null keeps nothing on disk.
    void attachToApplication(std::unique_ptr<QSettings> settings);
    // The port to preselect, e.g. from --port: listed (as a path of the user's
    // if the system does not list it) and selected.
    void preselectPort(const QString &nameOrPath);
    // For --connect: the live page connects once, as soon as it exists.
    void setConnectOnStart(bool on) { m_connectOnStart = on; }

    QStringList ports() const { return m_labels; }
    QStringList portNames() const { return m_names; }
    int selectedIndex() const;
    bool autoReconnect() const { return m_autoReconnect; }
    void setAutoReconnect(bool on);

    bool linkOpen() const { return m_shown.linkOpen; }
    QString port() const { return m_shown.port; }
    QString identityText() const { return m_shown.identity; }
    QString rangesText() const { return m_shown.ranges; }
    int framesPerSecond() const { return m_shown.framesPerSecond; }
    int bytesPerSecond() const { return m_shown.bytesPerSecond; }
    qint64 cutFrames() const { return m_shown.cutFrames; }
    qint64 noiseBytes() const { return m_shown.noiseBytes; }
    QString statusMessage() const { return m_shown.statusMessage; }
    QString warning() const { return m_warning; }
    QString notice() const { return m_notice; }
    bool noticeIsWarning() const { return m_noticeIsWarning; }
    bool waitingForPort() const { return m_state == State::Waiting; }
    bool checkingModule() const { return m_state == State::Checking; }
    // The link's counters are being sampled: only while a link is open.
    bool isSampling() const { return m_sampleTimer.isActive(); }
    // The identity read in the current (or last) connection.
    SeenModule identity() const { return m_identity; }

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
    enum class State { Idle, Waiting, Checking };
    struct Shown
    {
        bool linkOpen = false;
        QString port;
        QString identity;
        QString ranges;
        int framesPerSecond = 0;
        int bytesPerSecond = 0;
        qint64 cutFrames = 0;
        qint64 noiseBytes = 0;
        QString statusMessage;
        bool operator==(const Shown &o) const
        {
            return linkOpen == o.linkOpen && port == o.port && identity == o.identity
                && ranges == o.ranges && framesPerSecond == o.framesPerSecond
                && bytesPerSecond == o.bytesPerSecond && cutFrames == o.cutFrames
                && noiseBytes == o.noiseBytes && statusMessage == o.statusMessage;
        }
    };

    qint64 now() const { return m_clock.elapsed(); }
    void watchIdentityRows();
    void onIdentityRow(int which);
    void onLinkOpened(const QString &port);
    void onLinkError(const QString &port, const QString &reason);
    void onLinkClosed(const QString &port);
    void sampleLink();
    void updateShown();
    void updateWarning();
    void setNotice(const QString &text, bool isWarning);
    void setState(State state);
    void setWanted(const QString &name);
    void rememberPort(const QString &name);
    void addUserPath(const QString &path);
    bool portPresent(const QString &name) const;
    void lookForLostPort();
    void startCheck();
    void finishCheck();
    void giveUpCheck(const QString &why);

    DurUzaBackend *m_backend;
    std::unique_ptr<QSettings> m_settings;
    PortWatcher *m_watcher = nullptr;
    QElapsedTimer m_clock;

    QStringList m_labels;
    QStringList m_names;
    QString m_wanted;
    bool m_autoReconnect = false;
    bool m_attached = false;
    bool m_connectOnStart = false;

    QString m_openPort;
    QTimer m_sampleTimer;
    ConnectionFigures m_figures;
    QTime m_lastFrameClock;
    QTime m_lastStatusClock;
    Shown m_shown;
    QString m_warning;
    QString m_notice;
    bool m_noticeIsWarning = false;

    SeenModule m_identity;
    // The module that was lost, and where; what a returning module must match.
    SeenModule m_lostIdentity;
    QString m_lostPort;
    State m_state = State::Idle;
    QTimer m_identityTimer;
    QTimer m_retryTimer;
    int m_retries = 0;
};
