// SPDX-License-Identifier: GPL-3.0-or-later
#include "receivequeue.h"

#include "linksync.h"
#include "receivetap.h"

bool ReceiveQueue::push(const QByteArray &chunk)
{
    const qint64 now = steadyNowNs();
    LinkLocker locker(&m_lock);
    m_chunks.push_back(chunk);
    m_receivedNs.push_back(now);
    if (m_passActive)
        return false;
    m_passActive = true;
    return true;
}

bool ReceiveQueue::takeAll(
    std::deque<QByteArray> &out, quint64 *epoch, std::deque<qint64> *receivedNs)
{
    LinkLocker locker(&m_lock);
    if (epoch)
        *epoch = m_epoch;
    if (m_chunks.empty()) {
        m_passActive = false;
        return false;
    }
    for (QByteArray &chunk : m_chunks)
        out.push_back(std::move(chunk));
    if (receivedNs)
        receivedNs->insert(receivedNs->end(), m_receivedNs.begin(), m_receivedNs.end());
    m_chunks.clear();
    m_receivedNs.clear();
    return true;
}

void ReceiveQueue::clear()
{
    LinkLocker locker(&m_lock);
    m_chunks.clear();
    m_receivedNs.clear();
    ++m_epoch;
}

quint64 ReceiveQueue::epoch() const
{
    LinkLocker locker(&m_lock);
    return m_epoch;
}

bool ReceiveQueue::isEmpty() const
{
    LinkLocker locker(&m_lock);
    return m_chunks.empty();
}
