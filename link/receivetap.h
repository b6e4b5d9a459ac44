// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <deque>
#include <vector>

// The clock of the receive times: steady, in nanoseconds.
inline qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the link received and cut while a recorder listens: every chunk exactly
// as the port delivered it, and every data frame the cutter took, both in
// order and stamped with their receive time (nanoseconds of the steady clock).
struct TappedChunk
{
    // Besides what arrived, what the link knew in order with it: a request it
    // sent (`bytes` is the request), or that it began a connection.
    enum class Kind { Received, Request, Connection };
    qint64 receivedNs;
    QByteArray bytes;
    Kind kind = Kind::Received;
};

struct TappedFrame
{
    qint64 receivedNs; // of the chunk that completed the frame
    quint8 address;
    QByteArray data; // the frame's data bytes, without BB address count
};

struct ReceiveTapBatch
{
    std::vector<TappedChunk> chunks;
    std::vector<TappedFrame> frames;
    bool isEmpty() const { return chunks.empty() && frames.empty(); }
};

// Collects a batch on the processing thread; the owner (ComsProtocol) keeps
// it under the processing lock like the rest of its state.
class ReceiveTap
{
public:
    // `end` is the stream position just after the chunk's last byte.
    void chunkAppended(qint64 receivedNs, const QByteArray &bytes, quint64 end);
    // A request sent, or a connection begun, at `sentNs`.
    void linkEvent(qint64 sentNs, TappedChunk::Kind kind, const QByteArray &bytes = QByteArray());
    // `end` is the stream position just after the frame's last byte.
    void frameCut(quint64 end, quint8 address, const quint8 *data, int count);
    // The cutter is done with everything before `position`: no later frame can
    // end in a chunk that ends there.
    void consumedUpTo(quint64 position);
    ReceiveTapBatch take();
    bool isEmpty() const { return m_batch.isEmpty(); }

private:
    struct ChunkEnd
    {
        quint64 end;
        qint64 receivedNs;
    };
    ReceiveTapBatch m_batch;
    // Chunks whose end no frame has passed yet: a frame's time is that of the
    // first chunk reaching its end.
    std::deque<ChunkEnd> m_ends;
};
