// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

// Stands in for backEnd.connection (ConnectionController) in the QML tests.
// Its figures are plain writable properties the tests set. The port list is
// the fake backend's as it is when first read after reset() (when a page
// starts), and again on refresh() only, as the real one reads the
// enumeration.
class FakeConnection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
    Q_PROPERTY(QStringList portDetails MEMBER m_portDetails NOTIFY portDetailsChanged)
    Q_PROPERTY(bool autoReconnect MEMBER m_autoReconnect NOTIFY autoReconnectChanged)
    Q_PROPERTY(bool linkOpen MEMBER m_linkOpen NOTIFY figuresChanged)
    Q_PROPERTY(QString port MEMBER m_port NOTIFY figuresChanged)
    Q_PROPERTY(QString identityText MEMBER m_identityText NOTIFY figuresChanged)
    Q_PROPERTY(QString rangesText MEMBER m_rangesText NOTIFY figuresChanged)
    Q_PROPERTY(int framesPerSecond MEMBER m_framesPerSecond NOTIFY figuresChanged)
    Q_PROPERTY(int bytesPerSecond MEMBER m_bytesPerSecond NOTIFY figuresChanged)
    Q_PROPERTY(qint64 cutFrames MEMBER m_cutFrames NOTIFY figuresChanged)
    Q_PROPERTY(qint64 noiseBytes MEMBER m_noiseBytes NOTIFY figuresChanged)
    Q_PROPERTY(qint64 samplesNotShown MEMBER m_samplesNotShown NOTIFY figuresChanged)
    Q_PROPERTY(QString statusMessage MEMBER m_statusMessage NOTIFY figuresChanged)
    Q_PROPERTY(QString warning MEMBER m_warning NOTIFY warningChanged)
    Q_PROPERTY(QString notice MEMBER m_notice NOTIFY noticeChanged)
    Q_PROPERTY(bool noticeIsWarning MEMBER m_noticeIsWarning NOTIFY noticeChanged)
    Q_PROPERTY(bool waitingForPort MEMBER m_waitingForPort NOTIFY reconnectStateChanged)
    Q_PROPERTY(bool checkingModule MEMBER m_checkingModule NOTIFY reconnectStateChanged)

public:
    using PortSource = QStringList (*)(const QObject *backend);
    FakeConnection(QObject *backend, PortSource source);

    QStringList ports() const;
    int selectedIndex() const;

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void selectIndex(int index);
    // A listed entry gives its index; a path starting with '/' is listed and
    // picked; anything else is refused (-1), as a missing device is.
    Q_INVOKABLE int usePath(const QString &text);
    Q_INVOKABLE void cancelReconnect() { ++m_cancelCalls; }
    Q_INVOKABLE bool takeConnectOnStart();

    // Test controls.
    Q_INVOKABLE void reset();
    Q_INVOKABLE void setConnectOnStart(bool on) { m_connectOnStart = on; }
    Q_INVOKABLE void setPortDetails(const QStringList &details)
    {
        m_portDetails = details;
        emit portDetailsChanged();
    }
    Q_INVOKABLE int cancelCalls() const { return m_cancelCalls; }
    Q_INVOKABLE QStringList usedPaths() const { return m_usedPaths; }

signals:
    void portsChanged();
    void portDetailsChanged();
    void selectedIndexChanged();
    void autoReconnectChanged();
    void figuresChanged();
    void warningChanged();
    void noticeChanged();
    void reconnectStateChanged();
    void reconnected(const QString &port);

private:
    QObject *m_backend;
    PortSource m_source;
    mutable QStringList m_ports;
    QStringList m_portDetails;
    mutable bool m_portsRead = false;
    QString m_wanted;
    bool m_autoReconnect = true;
    bool m_linkOpen = false;
    QString m_port;
    QString m_identityText;
    QString m_rangesText;
    int m_framesPerSecond = 0;
    int m_bytesPerSecond = 0;
    qint64 m_cutFrames = 0;
    qint64 m_noiseBytes = 0;
    qint64 m_samplesNotShown = 0;
    QString m_statusMessage;
    QString m_warning;
    QString m_notice;
    bool m_noticeIsWarning = false;
    bool m_waitingForPort = false;
    bool m_checkingModule = false;
    bool m_connectOnStart = false;
    int m_cancelCalls = 0;
    QStringList m_usedPaths;
};
