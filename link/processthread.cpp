#include "processthread.h"

#include "comsprotocol.h"
#include "receivequeue.h"

#include "linksync.h"

#include <deque>

ProcessThread::ProcessThread(QObject *parent)
    : QThread(parent)
{
}

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
    // One iteration is one pass of the frame cutter. The queue decides, under
    // its own lock, when the pass is the last one: a chunk pushed after that
    // decision starts a new run.
    while (m_queue->takeAll(chunks)) {
        for (const QByteArray &chunk : chunks)
            m_protocol->appendReceived(chunk.constData(), chunk.size());
        chunks.clear();
        {
            LinkLocker locker(&m_processLock);
            m_protocol->extractFrames();
        }
        emit processFinished();
    }
}
