// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linkcounters.h"
#include "receivetap.h"
#include "registermap.h"
#include "storedframes.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <vector>

// Request frames, built whole: nothing shared between two requests.
QByteArray readRequest(quint8 address, quint8 count);
QByteArray readRequest(RegisterSpan span);
QByteArray writeRequest(quint8 address, const quint8 *data, quint8 length);

// Wire protocol state of one link: the frame cutter and the
// local mirror of the module's 176 registers with one updated flag per byte.
// No lock of its own: ComsHandler and ProcessThread keep the threads apart.
class ComsProtocol
{
public:
    static constexpr int ImageSize = RegisterMap::Size;

    ComsProtocol();
    ~ComsProtocol();

    ComsProtocol(const ComsProtocol &) = delete;
    ComsProtocol &operator=(const ComsProtocol &) = delete;

    void appendReceived(const char *data, qint32 length);
    // The same, for a chunk received at `receivedNs` (steady clock): a tap,
    // when on, keeps it.
    void appendReceived(const QByteArray &chunk, qint64 receivedNs);
    void extractFrames();

    // While on, every chunk appended and every data frame taken is kept for
    // takeTapped(), for a recorder. Switching on keeps the bytes received
    // before and not yet cut as a first chunk stamped `nowNs`, so that every
    // frame taken afterwards is whole in the kept chunks. Off drops the rest.
    void setTapping(bool on, qint64 nowNs = 0);
    bool isTapping() const { return bool(m_tap); }
    ReceiveTapBatch takeTapped();
    // Readable without the processing lock, like hasUpdatedFlags().
    bool hasTapped() const { return m_tapPending.load(std::memory_order_acquire); }

    // A connection starts: nothing received on an earlier one (bytes, pass
    // count, updated flags, awaited answers, streaming mode) counts any more.
    // From here on a data frame is taken only if the module may send it: the
    // block it streams in the mode last written or read back, or the answer to
    // a read this link sent and still awaits. Any other header is noise.
    // Before the first connection every complete frame is taken, which is what
    // tools that drive the cutter without a port rely on.
    void beginConnection();
    bool checksHeaders() const { return m_checkHeaders; }
    // For a link that joins a module which may already be streaming and must
    // not switch it off (the command-line tool): whatever the mode, every
    // streamed block is taken whole, so the cutter falls into step with
    // the stream, and an answer is taken only in step, right after a message
    // taken whole or first on the line. A header met among bytes dropped as
    // noise may be measurement bytes that look like an answer. Off by default.
    void setJoinsStream(bool on) { m_joinsStream = on; }
    // Tells the cutter about a request that went to the module: a read is
    // awaited, a write of "Control1" selects what the module streams.
    void noteRequestSent(const quint8 *frame, int length);
    void noteRequestSent(const QByteArray &frame)
    {
        noteRequestSent(reinterpret_cast<const quint8 *>(frame.constData()), frame.size());
    }
    // Answers not yet arrived; each is forgotten after AwaitedLifetimeMs.
    int awaitedAnswers() const { return int(m_awaited.size()); }
    // "Control1" as last written or read back in this connection; -1 unknown.
    int streamingMode() const { return m_streamingMode; }
    // Frames judged to be noise by their header since the connection began.
    quint64 rejectedHeaders() const { return m_rejectedHeaders; }

    // Called for every data frame stored, on the thread that cuts; for tools
    // that count what the cutter takes. Null (the default) costs one test.
    using FrameObserver = void (*)(void *context, quint8 address, quint8 count, const quint8 *data);
    void setFrameObserver(FrameObserver observer, void *context)
    {
        m_frameObserver = observer;
        m_frameObserverContext = context;
    }
    // While an observer runs: whether the frame answers a read this link
    // awaits (a replay leaves such answers to its own client's reads). The
    // frame is still pending then, so its first byte lies pendingBytes()
    // before the end of what was appended.
    bool cuttingAnswer() const { return m_cuttingAnswer; }

    static constexpr int AwaitedLifetimeMs = 5000;
    static constexpr int AwaitedLimit = 32;
    using Clock = qint64 (*)();
    // Milliseconds of a monotonic clock; replaceable so a test can age answers.
    void setClock(Clock clock) { m_clock = clock; }

    quint8 *registerImage();
    quint8 *updatedFlags();
    // Clears the flags and the stored frames.
    void clearUpdatedFlags();
    // The frames stored since the last take, in order (the flags stay).
    StoredFrames takeStoredFrames();
    // True while any updated flag is set: lets a dispatch pass that follows a
    // pass without a complete frame return at once. Readable without the
    // processing lock: a frame stored after a false answer is followed by a
    // processFinished of its own, whose dispatch pass sees it.
    bool hasUpdatedFlags() const { return m_flagsSet.load(std::memory_order_acquire); }
    quint8 moduleStatus() const;
    qint32 incompletePasses() const;

    // Received bytes not yet consumed by the cutter.
    int pendingBytes() const;

    // What this connection has brought so far; reset by beginConnection.
    LinkCounters counters() const;

private:
    struct Awaited
    {
        quint8 address;
        quint8 count;
        quint32 control1Writes; // writes of "Control1" sent before this read
        qint64 sentAt;
    };
    enum class Header { Noise, Streamed, Answer };

    void dropPending(std::size_t count);
    void storeFrame(quint8 address, const quint8 *data, int count);
    Header judgeHeader(quint8 address, quint8 count, std::size_t *awaitedIndex);
    void takeAnswer(std::size_t awaitedIndex, quint8 address, quint8 count);

    std::array<quint8, ImageSize> m_registerImage {};
    std::array<quint8, ImageSize> m_updatedFlags {};
    StoredFrames m_storedFrames;
    // Consumed bytes are skipped by m_readOffset and only compacted away now and
    // then, so the cutter's cost stays linear however the bytes arrive.
    std::vector<quint8> m_receiveBuffer;
    std::size_t m_readOffset = 0;
    qint32 m_incompletePasses = 0;
    quint8 m_moduleStatus = 0;
    std::atomic<bool> m_flagsSet {false};

    bool m_checkHeaders = false;
    bool m_joinsStream = false;
    // No byte was dropped since the last message taken whole (or the start).
    bool m_inStep = true;
    std::deque<Awaited> m_awaited;
    int m_streamingMode = -1;
    // The mode before the last write of "Control1": frames the module streamed
    // before it took the write may still be on their way. They count until the
    // answer to a read sent after the write shows the module got that far, or
    // for AwaitedLifetimeMs.
    int m_previousMode = -1;
    qint64 m_previousModeSince = 0;
    quint32 m_control1Writes = 0;
    quint64 m_rejectedHeaders = 0;
    LinkCounters m_counters;
    Clock m_clock;
    FrameObserver m_frameObserver = nullptr;
    bool m_cuttingAnswer = false;
    void *m_frameObserverContext = nullptr;
    // Stream position of m_receiveBuffer[0]: bytes received on this link
    // before it, cut or dropped.
    quint64 m_streamBase = 0;
    std::unique_ptr<ReceiveTap> m_tap;
    std::atomic<bool> m_tapPending {false};
};
