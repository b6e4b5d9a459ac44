// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMutex>

#include <deque>

// Received chunks on their way from the serial worker to the processing thread.
// It also records whether a processing pass is under way, under the same lock
// as the chunks, so a chunk queued while a pass is ending is never left behind.
class ReceiveQueue
{
public:
    // Appends a chunk; returns true when no pass is under way, i.e. the caller
    // must start one.
    bool push(const QByteArray &chunk);
    // Moves every queued chunk into `out`, with the connection they belong to
    // in `epoch` and, in `receivedNs`, the steady-clock time each was pushed.
    // When the queue is empty the pass counts as finished and false is returned.
    bool takeAll(std::deque<QByteArray> &out, quint64 *epoch = nullptr,
        std::deque<qint64> *receivedNs = nullptr);
    // Drops the queued chunks and starts a new connection: chunks taken before
    // (and still on their way into the cutter) carry an older epoch.
    void clear();
    quint64 epoch() const;
    bool isEmpty() const;

private:
    mutable QMutex m_lock;
    std::deque<QByteArray> m_chunks;
    std::deque<qint64> m_receivedNs; // one per chunk: recordings keep receive times
    bool m_passActive = false;
    quint64 m_epoch = 0;
};
