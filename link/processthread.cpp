// SPDX-License-Identifier: GPL-3.0-or-later
#include "processthread.h"

#include "comsprotocol.h"
#include "receivequeue.h"

#include "linksync.h"

#include <deque>

ProcessThread::ProcessThread(QObject *parent)
    : QThread(parent)
{ }

ProcessThread::~ProcessThread()
{
    {
        std::lock_guard<std::mutex> locker(m_wakeLock);
        m_quit = true;
    }
    m_wake.notify_all();
    waitForThread(this);
}

void ProcessThread::startProcessing(ComsProtocol *protocol, ReceiveQueue *queue)
{
    // push() told the caller that no pass is under way: ask for one. The
    // port's worker and a test feeding bytes may both get here.
    {
        std::lock_guard<std::mutex> locker(m_wakeLock);
        m_protocol = protocol;
        m_queue = queue;
        m_passAsked = true;
        if (!isRunning() && !m_quit)
            start(QThread::HighPriority);
    }
    m_wake.notify_one();
}

void ProcessThread::waitUntilIdle()
{
    std::unique_lock<std::mutex> locker(m_wakeLock);
    m_idle.wait(locker, [this] { return m_quit || (!m_passAsked && !m_passRunning); });
}

void ProcessThread::run()
{
    const RunEndMark runEnd(this);
    std::deque<QByteArray> chunks;
    std::deque<qint64> receivedNs;
    for (;;) {
        ComsProtocol *protocol = nullptr;
        ReceiveQueue *queue = nullptr;
        {
            std::unique_lock<std::mutex> locker(m_wakeLock);
            m_passRunning = false;
            m_idle.notify_all();
            m_wake.wait(locker, [this] { return m_quit || m_passAsked; });
            if (m_quit)
                return;
            m_passAsked = false;
            m_passRunning = true;
            protocol = m_protocol;
            queue = m_queue;
        }
        if (!protocol || !queue)
            continue;

        quint64 epoch = 0;
        // One iteration is one pass of the frame cutter. The queue decides,
        // under its own lock, when the pass is the last one: a chunk pushed
        // after that decision asks for a new pass.
        while (queue->takeAll(chunks, &epoch, &receivedNs)) {
            {
                // Appended under the lock too: a new connection clears the
                // receive buffer under it, and chunks of the old one taken just
                // before must not land behind that.
                LinkLocker locker(&m_processLock);
                if (epoch == queue->epoch()) {
                    for (std::size_t i = 0; i < chunks.size(); ++i)
                        protocol->appendReceived(chunks[i], receivedNs[i]);
                }
                protocol->extractFrames();
            }
            chunks.clear();
            receivedNs.clear();
            emit processFinished();
        }
    }
}
