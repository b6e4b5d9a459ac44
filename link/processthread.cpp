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
    waitForThread(this);
}

void ProcessThread::startProcessing(ComsProtocol *protocol, ReceiveQueue *queue)
{
    // push() told the caller that no pass is under way. A previous pass may
    // still be returning from run(); let it finish, then start a fresh one.
    LinkLocker locker(&m_startLock);
    waitForThread(this);
    m_protocol = protocol;
    m_queue = queue;
    start(QThread::HighPriority);
}

void ProcessThread::run()
{
    const RunEndMark runEnd(this);
    if (!m_protocol || !m_queue)
        return;

    std::deque<QByteArray> chunks;
    std::deque<qint64> receivedNs;
    quint64 epoch = 0;
    // One iteration is one pass of the frame cutter. The queue decides, under
    // its own lock, when the pass is the last one: a chunk pushed after that
    // decision starts a new run.
    while (m_queue->takeAll(chunks, &epoch, &receivedNs)) {
        {
            // Appended under the lock too: a new connection clears the receive
            // buffer under it, and chunks of the old one taken just before must
            // not land behind that.
            LinkLocker locker(&m_processLock);
            if (epoch == m_queue->epoch()) {
                for (std::size_t i = 0; i < chunks.size(); ++i)
                    m_protocol->appendReceived(chunks[i], receivedNs[i]);
            }
            m_protocol->extractFrames();
        }
        chunks.clear();
        receivedNs.clear();
        emit processFinished();
    }
}
