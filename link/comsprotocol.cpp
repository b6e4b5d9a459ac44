// SPDX-License-Identifier: GPL-3.0-or-later
#include "comsprotocol.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {
constexpr quint8 RequestStart = 0xAA;
constexpr quint8 ReadCommand = 0x01;
constexpr quint8 WriteCommand = 0x00;
constexpr quint8 DataFrameStart = 0xBB;
constexpr quint8 StatusStart = 0xEE;
// Passes an incomplete message at the head is waited for before its first byte
// is dropped. A data frame may take one pass per byte it needs: a long frame
// (a whole-map read is 179 bytes) often arrives in more than ten chunks, and
// dropping it then would lose the answer although every byte came.
constexpr qint32 IncompletePassLimit = 10;

constexpr quint8 Control1Address = RegisterMap::Control1.address;

qint64 steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint32 passLimitFor(const quint8 *head, std::size_t available)
{
    if (head[0] == 0xBB && available >= 3)
        return std::max(IncompletePassLimit, qint32(head[2]) + 3);
    return IncompletePassLimit;
}
} // namespace

ComsProtocol::ComsProtocol()
    : m_clock(steadyMilliseconds)
{ }

ComsProtocol::~ComsProtocol() = default;

QByteArray readRequest(quint8 address, quint8 count)
{
    const char frame[] = {char(RequestStart), char(ReadCommand), char(address), char(count)};
    return QByteArray(frame, int(sizeof frame));
}

QByteArray readRequest(RegisterSpan span)
{
    return readRequest(span.address, span.count);
}

QByteArray writeRequest(quint8 address, const quint8 *data, quint8 length)
{
    QByteArray frame;
    frame.reserve(4 + length);
    frame.append(char(RequestStart)).append(char(WriteCommand));
    frame.append(char(address)).append(char(length));
    if (length > 0)
        frame.append(reinterpret_cast<const char *>(data), length);
    return frame;
}

void ComsProtocol::appendReceived(const char *data, qint32 length)
{
    if (length <= 0)
        return;
    const auto *bytes = reinterpret_cast<const quint8 *>(data);
    m_counters.bytesReceived += quint64(length);
    // A slow port hands over single bytes, one processing pass each: keep
    // that case free of the range insert's bookkeeping.
    if (length == 1)
        m_receiveBuffer.push_back(bytes[0]);
    else
        m_receiveBuffer.insert(m_receiveBuffer.end(), bytes, bytes + length);
}

void ComsProtocol::appendReceived(const QByteArray &chunk, qint64 receivedNs)
{
    appendReceived(chunk.constData(), chunk.size());
    if (m_tap && !chunk.isEmpty()) {
        m_tap->chunkAppended(receivedNs, chunk, m_streamBase + m_receiveBuffer.size());
        m_tapPending.store(true, std::memory_order_release);
    }
}

void ComsProtocol::setTapping(bool on, qint64 nowNs)
{
    if (!on) {
        m_tap.reset();
        m_tapPending.store(false, std::memory_order_release);
        return;
    }
    if (m_tap)
        return;
    m_tap = std::make_unique<ReceiveTap>();
    // What the cutter knows so far goes first, so that offline decoding takes
    // the frames it takes: a connection under way, the streaming mode, the
    // answers awaited.
    if (m_checkHeaders) {
        m_tap->linkEvent(nowNs, TappedChunk::Kind::Connection);
        if (m_streamingMode >= 0) {
            const quint8 mode = quint8(m_streamingMode);
            m_tap->linkEvent(nowNs, TappedChunk::Kind::Request,
                writeRequest(RegisterMap::Control1.address, &mode, 1));
        }
        for (const Awaited &a : m_awaited)
            m_tap->linkEvent(nowNs, TappedChunk::Kind::Request, readRequest(a.address, a.count));
        m_tapPending.store(true, std::memory_order_release);
    }
    const std::size_t pending = m_receiveBuffer.size() - m_readOffset;
    if (pending > 0) {
        m_tap->chunkAppended(nowNs,
            QByteArray(reinterpret_cast<const char *>(m_receiveBuffer.data() + m_readOffset),
                int(pending)),
            m_streamBase + m_receiveBuffer.size());
        m_tapPending.store(true, std::memory_order_release);
    }
}

ReceiveTapBatch ComsProtocol::takeTapped()
{
    m_tapPending.store(false, std::memory_order_release);
    return m_tap ? m_tap->take() : ReceiveTapBatch {};
}

void ComsProtocol::beginConnection()
{
    m_streamBase += m_receiveBuffer.size();
    m_receiveBuffer.clear();
    m_readOffset = 0;
    m_incompletePasses = 0;
    clearUpdatedFlags();
    m_checkHeaders = true;
    m_inStep = true;
    m_awaited.clear();
    m_streamingMode = -1;
    m_previousMode = -1;
    m_control1Writes = 0;
    m_rejectedHeaders = 0;
    m_counters = LinkCounters();
    if (m_tap) {
        m_tap->linkEvent(steadyNowNs(), TappedChunk::Kind::Connection);
        m_tapPending.store(true, std::memory_order_release);
    }
}

void ComsProtocol::noteRequestSent(const quint8 *frame, int length)
{
    if (length < 4 || frame[0] != RequestStart)
        return;
    const quint8 address = frame[2];
    const quint8 count = frame[3];
    if (m_tap) {
        m_tap->linkEvent(steadyNowNs(), TappedChunk::Kind::Request,
            QByteArray(reinterpret_cast<const char *>(frame), length));
        m_tapPending.store(true, std::memory_order_release);
    }
    if (frame[1] == ReadCommand) {
        if (int(m_awaited.size()) >= AwaitedLimit)
            m_awaited.pop_front();
        m_awaited.push_back({address, count, m_control1Writes, m_clock()});
    } else if (frame[1] == WriteCommand && address <= Control1Address
        && int(Control1Address) < int(address) + count
        && 4 + int(Control1Address - address) < length) {
        m_previousMode = m_streamingMode;
        m_previousModeSince = m_clock();
        m_streamingMode = frame[4 + (Control1Address - address)];
        ++m_control1Writes;
    }
}

ComsProtocol::Header ComsProtocol::judgeHeader(
    quint8 address, quint8 count, std::size_t *awaitedIndex)
{
    const qint64 now = m_clock();
    while (!m_awaited.empty() && now - m_awaited.front().sentAt > AwaitedLifetimeMs)
        m_awaited.pop_front();
    // The module answers a read that runs past the last register with the part
    // that exists.
    for (std::size_t i = 0; i < m_awaited.size(); ++i) {
        const Awaited &a = m_awaited[i];
        const int existing = std::max(0, std::min(int(a.count), ImageSize - int(a.address)));
        if (a.address == address && (a.count == count || existing == count)) {
            *awaitedIndex = i;
            return Header::Answer;
        }
    }
    if (m_previousMode >= 0 && now - m_previousModeSince > AwaitedLifetimeMs)
        m_previousMode = -1;
    // A joining link does not choose the mode, and a mode read from an answer
    // out of step would lose the step for good.
    const bool anyMode = m_joinsStream;
    for (const RegisterMap::StreamedBlock &streamed : RegisterMap::StreamedBlocks) {
        if ((anyMode || streamed.mode == m_streamingMode || streamed.mode == m_previousMode)
            && streamed.block.address == address && streamed.block.count == count)
            return Header::Streamed;
    }
    return Header::Noise;
}

void ComsProtocol::takeAnswer(std::size_t awaitedIndex, quint8 address, quint8 count)
{
    const Awaited answered = m_awaited[awaitedIndex];
    m_awaited.erase(m_awaited.begin() + std::ptrdiff_t(awaitedIndex));
    // The module answers in order: it has taken the last write of Control1.
    if (answered.control1Writes == m_control1Writes)
        m_previousMode = -1;
    // "Control1" read back tells the mode, unless a later write changed it
    // while the read was under way.
    if (address <= Control1Address && int(Control1Address) < int(address) + count
        && answered.control1Writes == m_control1Writes)
        m_streamingMode = m_registerImage[Control1Address];
}

void ComsProtocol::dropPending(std::size_t count)
{
    m_readOffset += count;
}

void ComsProtocol::storeFrame(quint8 address, const quint8 *data, int count)
{
    // Bytes addressed past the last register have nowhere to go: they are
    // ignored while the in-range part of the frame is kept.
    const int stored = std::min(count, ImageSize - int(address));
    for (int i = 0; i < stored; ++i) {
        m_registerImage[address + i] = data[i];
        m_updatedFlags[address + i] = 1;
    }
    if (stored > 0) {
        m_storedFrames.add(address, data, stored);
        m_flagsSet.store(true, std::memory_order_release);
    }
}

void ComsProtocol::extractFrames()
{
    const quint8 *const buffer = m_receiveBuffer.data();
    const std::size_t end = m_receiveBuffer.size();

    for (;;) {
        // Step over noise up to the next message start, always keeping one byte:
        // a lone byte waits for company before it can be judged.
        const std::size_t before = m_readOffset;
        while (end - m_readOffset >= 2 && buffer[m_readOffset] != DataFrameStart
            && buffer[m_readOffset] != StatusStart)
            ++m_readOffset;
        // The wait counts passes spent on one head. Noise-only chunks must not
        // use up the wait of a frame that starts after them.
        if (m_readOffset != before) {
            m_incompletePasses = 0;
            m_counters.noiseBytes += m_readOffset - before;
            m_inStep = false;
        }

        const std::size_t available = end - m_readOffset;
        if (available == 0)
            break;

        const qint32 passes = ++m_incompletePasses;
        const quint8 *head = buffer + m_readOffset;

        if (head[0] == DataFrameStart && available >= 3) {
            const quint8 address = head[1];
            const std::size_t count = head[2];
            // A header the module cannot have sent is judged at once, so it
            // neither swallows the frames behind it nor waits for its bytes.
            std::size_t awaitedIndex = 0;
            Header header = m_checkHeaders ? judgeHeader(address, quint8(count), &awaitedIndex)
                                           : Header::Streamed;
            if (header == Header::Answer && m_joinsStream && !m_inStep)
                header = Header::Noise;
            if (header == Header::Noise) {
                m_inStep = false;
                ++m_rejectedHeaders;
                ++m_counters.noiseBytes;
                dropPending(1);
                m_incompletePasses = 0;
                continue;
            }
            if (available >= count + 3) {
                if (m_frameObserver) {
                    m_cuttingAnswer = header == Header::Answer;
                    m_frameObserver(m_frameObserverContext, address, quint8(count), head + 3);
                }
                if (m_tap) {
                    m_tap->frameCut(
                        m_streamBase + m_readOffset + count + 3, address, head + 3, int(count));
                    m_tapPending.store(true, std::memory_order_release);
                }
                storeFrame(address, head + 3, int(count));
                ++m_counters.frames;
                m_counters.frameBytes += count + 3;
                dropPending(count + 3);
                m_incompletePasses = 0;
                m_inStep = true;
                if (header == Header::Answer)
                    takeAnswer(awaitedIndex, address, quint8(count));
                continue;
            }
        } else if (head[0] == StatusStart && available >= 2) {
            m_moduleStatus = head[1];
            qDebug() << "Module Status:" << int(m_moduleStatus);
            ++m_counters.statusMessages;
            m_counters.statusBytes += 2;
            m_counters.lastStatus = m_moduleStatus;
            dropPending(2);
            m_incompletePasses = 0;
            m_inStep = true;
            continue;
        }

        // Incomplete message at the head.
        if (passes <= passLimitFor(head, available))
            break;
        // A message head given up: its first byte is noise from here on.
        if (head[0] == DataFrameStart || head[0] == StatusStart)
            ++m_counters.cutFrames;
        ++m_counters.noiseBytes;
        dropPending(1);
        m_incompletePasses = 0;
        m_inStep = false;
    }

    if (m_tap)
        m_tap->consumedUpTo(m_streamBase + m_readOffset);

    // Compact once the consumed part outweighs the rest, so every byte is moved
    // a bounded number of times on average.
    if (m_readOffset == m_receiveBuffer.size()) {
        m_streamBase += m_receiveBuffer.size();
        m_receiveBuffer.clear();
        m_readOffset = 0;
    } else if (m_readOffset > 0 && m_readOffset >= m_receiveBuffer.size() / 2) {
        m_streamBase += m_readOffset;
        m_receiveBuffer.erase(
            m_receiveBuffer.begin(), m_receiveBuffer.begin() + std::ptrdiff_t(m_readOffset));
        m_readOffset = 0;
    }
}

quint8 *ComsProtocol::registerImage()
{
    return m_registerImage.data();
}

quint8 *ComsProtocol::updatedFlags()
{
    return m_updatedFlags.data();
}

void ComsProtocol::clearUpdatedFlags()
{
    m_updatedFlags.fill(0);
    m_storedFrames.clear();
    m_flagsSet.store(false, std::memory_order_release);
}

StoredFrames ComsProtocol::takeStoredFrames()
{
    StoredFrames taken;
    std::swap(taken, m_storedFrames);
    // Past the bound only the latest image shows: the frames before it that
    // were not kept never reach the backend.
    if (taken.overflowed())
        m_counters.framesNotDispatched += taken.stored() - quint64(StoredFrames::limit) - 1;
    return taken;
}

quint8 ComsProtocol::moduleStatus() const
{
    return m_moduleStatus;
}

qint32 ComsProtocol::incompletePasses() const
{
    return m_incompletePasses;
}

int ComsProtocol::pendingBytes() const
{
    return int(m_receiveBuffer.size() - m_readOffset);
}

LinkCounters ComsProtocol::counters() const
{
    LinkCounters counters = m_counters;
    counters.rejectedHeaders = m_rejectedHeaders;
    counters.pendingBytes = quint64(pendingBytes());
    counters.streamingMode = m_streamingMode;
    return counters;
}
