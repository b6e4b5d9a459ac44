// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>

#include "receivequeue.h"

class ComsHandler;
class ComsProtocol;
class ProcessThread;
class QSerialPort;

// The serial worker: owns the port while a connection is up. Only this thread
// touches the QSerialPort; serialWrite hands frames over to it.
class ComsSlave : public QThread
{
    Q_OBJECT
public:
    ComsSlave(QObject *parent, ComsHandler *handler, ProcessThread *processThread);
    ~ComsSlave() override;

    // `attempt` numbers the connection; the run's notifications carry it.
    // Returns false when a live connection kept its port (nothing started).
    bool startSlave(const QString &portName, ComsProtocol *protocol, quint64 attempt = 0);
    void stopSlave();
    // Never waits: the bytes are queued for the worker, which sends them in
    // call order once the port is open (at once if it already is) and drops
    // them if the open fails. With no port open and none being opened it drops
    // the bytes at once.
    void serialWrite(const quint8 *data, quint8 length);

    // What the worker does with every chunk it reads: queue it and make sure a
    // processing pass will see it.
    void queueReceived(const QByteArray &chunk, ComsProtocol *protocol);

    bool isConnected() const { return m_connected.load(); }

    // Test seam: called on the worker thread right before each open, so a test
    // can hold the open back and see what callers do meanwhile.
    void setOpenGate(std::function<void()> gate);

signals:
    // Emitted on the worker thread; ComsHandler forwards them queued.
    void portOpened(const QString &portName);
    void portFailed(quint64 attempt, const QString &portName, const QString &errorText);
    void portClosed(const QString &portName);

protected:
    void run() override;

private:
    void writePending();

    ComsProtocol *m_protocol = nullptr;
    std::atomic<bool> m_connected {false};
    QString m_portName;
    QMutex m_portLock;
    // Set whenever no run is wanted: before the first start, after a stop or a
    // failed open. startSlave clears it.
    std::atomic<bool> m_stop {true};
    // Worker-thread object that accepts write wake-ups; null while no port is open.
    QObject *m_portContext = nullptr;
    // The open port of the current run; used on the worker thread only.
    QSerialPort *m_port = nullptr;
    std::deque<QByteArray> m_writeQueue;
    std::function<void()> m_openGate;
    quint64 m_attempt = 0;
    [[maybe_unused]] ComsHandler *m_handler; // back-reference to the owner
    ProcessThread *m_processThread;
    ReceiveQueue m_receiveQueue;
};
