// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QThread>

class ComsProtocol;
class ReceiveQueue;

// Runs on demand, once per burst of received chunks: appends them to the
// protocol's receive buffer and cuts frames into the register image.
class ProcessThread : public QThread
{
    Q_OBJECT
public:
    explicit ProcessThread(QObject *parent = nullptr);
    ~ProcessThread() override;

    // Called by the serial worker after it queued a chunk.
    void startProcessing(ComsProtocol *protocol, ReceiveQueue *queue);

    // Held while frames are cut into the image; the dispatch pass takes it to
    // copy the image and clear the flags.
    QMutex &processLock() { return m_processLock; }

signals:
    void processFinished();

protected:
    void run() override;

private:
    ComsProtocol *m_protocol = nullptr;
    QMutex m_processLock;
    ReceiveQueue *m_queue = nullptr;
    // Serialises starts: the port's worker and a test feeding bytes may both start passes.
    QMutex m_startLock;
};
