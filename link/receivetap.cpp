// SPDX-License-Identifier: GPL-3.0-or-later
#include "receivetap.h"

void ReceiveTap::chunkAppended(qint64 receivedNs, const QByteArray &bytes, quint64 end)
{
    m_batch.chunks.push_back({receivedNs, bytes});
    m_ends.push_back({end, receivedNs});
}

void ReceiveTap::linkEvent(qint64 sentNs, TappedChunk::Kind kind, const QByteArray &bytes)
{
    m_batch.chunks.push_back({sentNs, bytes, kind});
}

void ReceiveTap::frameCut(quint64 end, quint8 address, const quint8 *data, int count)
{
    while (m_ends.size() > 1 && m_ends.front().end < end)
        m_ends.pop_front();
    const qint64 receivedNs = m_ends.empty() ? 0 : m_ends.front().receivedNs;
    m_batch.frames.push_back(
        {receivedNs, address, QByteArray(reinterpret_cast<const char *>(data), count)});
}

void ReceiveTap::consumedUpTo(quint64 position)
{
    while (!m_ends.empty() && m_ends.front().end <= position)
        m_ends.pop_front();
}

ReceiveTapBatch ReceiveTap::take()
{
    ReceiveTapBatch batch;
    std::swap(batch, m_batch);
    return batch;
}
