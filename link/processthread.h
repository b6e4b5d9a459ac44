// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QThread>

#include <condition_variable>
#include <mutex>

class ComsProtocol;
class ReceiveQueue;

// Wakes up once per burst of received chunks: appends them to the protocol's
// receive buffer and cuts frames into the register image. The thread is
// started on the first burst and then sleeps between bursts until it is
// destroyed: at the line limit a burst comes every few milliseconds, and
// starting a thread for each one cost more than cutting its frames.
class ProcessThread : public QThread
{
    Q_OBJECT
public:
    explicit ProcessThread(QObject *parent = nullptr);
    // Ends the thread (after the pass under way, if any).
    ~ProcessThread() override;

    // Called by the serial worker after it queued a chunk.
    void startProcessing(ComsProtocol *protocol, ReceiveQueue *queue);
    // Returns once no pass is under way or asked for: what was queued before
    // the call has been cut.
    void waitUntilIdle();

    // Held while frames are cut into the image; the dispatch pass takes it to
    // copy the image and clear the flags.
    QMutex &processLock() { return m_processLock; }

signals:
    void processFinished();

protected:
    void run() override;

private:
    QMutex m_processLock;
    // The wake-up state, under m_wakeLock: what to cut from, whether a pass
    // was asked for or runs, and whether the thread is to end.
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    ComsProtocol *m_protocol = nullptr;
    ReceiveQueue *m_queue = nullptr;
    bool m_passAsked = false;
    bool m_passRunning = false;
    bool m_quit = false;
};
