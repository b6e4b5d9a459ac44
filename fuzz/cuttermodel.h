// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registermap.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <vector>

// A deliberately plain model of the receive side's frame cutter, written from
// the wire rules rather than from the link's code (which avoids moving bytes
// and keeps a read offset). The fuzz harness runs it beside the real cutter and
// demands the same image, flags, status and leftovers after every pass.
//
// Rules: noise up to the next 0xBB/0xEE is dropped, but a lone last byte is kept
// for company; an incomplete head is waited for ten consecutive passes (a data
// frame whose count is known, one pass per byte it needs: max(10, n + 3)), the
// count restarting whenever a message is consumed or noise moved the head; then
// its first byte is dropped. Data bytes addressed past 0xAF are ignored.
//
// Once a connection has begun, a data frame header is judged as soon as its
// address and count are in: it is taken only as the answer to a read still
// awaited (oldest first; the answer to a read past 0xAF may carry only the
// bytes that exist) or as the block the module streams in the mode of
// "Control1" (11: 34 bytes from 0x06, 12: 12 bytes from 0x06). Anything else
// is noise: its first byte is dropped at once. An answer covering "Control1"
// sets the mode from the byte it carried, unless Control1 was written after
// the read was sent. The block of the mode before the last write of Control1
// is still taken until the answer to a read sent after that write arrives. At most 32 reads are
// awaited (the oldest is forgotten); the harness keeps the link's clock still, so none expires.
class CutterModel
{
public:
    static constexpr int imageSize = RegisterMap::Size;

    std::array<std::uint8_t, imageSize> image {};
    std::array<std::uint8_t, imageSize> flags {};
    std::uint8_t status = 0;
    int incompletePasses = 0;
    // Messages consumed whole, for statistics.
    long dataFrames = 0;
    long statusMessages = 0;

    void append(const std::uint8_t *bytes, std::size_t count)
    {
        m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    }

    std::size_t pending() const { return m_buffer.size(); }

    void beginConnection()
    {
        m_buffer.clear();
        incompletePasses = 0;
        flags.fill(0);
        checking = true;
        m_awaited.clear();
        streamingMode = -1;
        m_previousMode = -1;
        m_control1Writes = 0;
    }

    void readSent(std::uint8_t address, std::uint8_t count)
    {
        if (m_awaited.size() >= 32)
            m_awaited.erase(m_awaited.begin());
        m_awaited.push_back({address, count, m_control1Writes});
    }

    void control1Written(std::uint8_t value)
    {
        m_previousMode = streamingMode;
        streamingMode = value;
        ++m_control1Writes;
    }

    bool checking = false;
    int streamingMode = -1;
    std::size_t awaited() const { return m_awaited.size(); }

    void pass()
    {
        for (;;) {
            bool movedHead = false;
            while (m_buffer.size() >= 2 && !opensMessage(m_buffer.front())) {
                m_buffer.pop_front();
                movedHead = true;
            }
            if (movedHead)
                incompletePasses = 0;
            if (m_buffer.empty())
                return;

            const int passes = ++incompletePasses;
            int limit = 10;
            if (m_buffer.front() == 0xBB && m_buffer.size() >= 3) {
                const std::size_t count = m_buffer[2];
                int answers = -1;
                if (checking) {
                    answers = answeredRead(m_buffer[1], int(count));
                    if (answers < 0 && !streamed(m_buffer[1], int(count))) {
                        m_buffer.pop_front();
                        incompletePasses = 0;
                        continue;
                    }
                }
                if (m_buffer.size() >= count + 3) {
                    const int address = m_buffer[1];
                    for (std::size_t i = 0; i < count; ++i) {
                        if (address + int(i) < imageSize) {
                            image[std::size_t(address) + i] = m_buffer[3 + i];
                            flags[std::size_t(address) + i] = 1;
                        }
                    }
                    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(count + 3));
                    incompletePasses = 0;
                    ++dataFrames;
                    if (answers >= 0) {
                        const Read read = m_awaited[std::size_t(answers)];
                        m_awaited.erase(m_awaited.begin() + answers);
                        if (read.control1Writes == m_control1Writes)
                            m_previousMode = -1;
                        constexpr int control1 = RegisterMap::Control1.address;
                        if (address <= control1 && control1 < address + int(count)
                            && read.control1Writes == m_control1Writes)
                            streamingMode = image[control1];
                    }
                    continue;
                }
                limit = std::max(10, int(count) + 3);
            } else if (m_buffer.front() == 0xEE && m_buffer.size() >= 2) {
                status = m_buffer[1];
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + 2);
                incompletePasses = 0;
                ++statusMessages;
                continue;
            }
            if (passes <= limit)
                return;
            m_buffer.pop_front();
            incompletePasses = 0;
        }
    }

    void clearFlags() { flags.fill(0); }

private:
    struct Read
    {
        int address;
        int count;
        unsigned control1Writes;
    };

    static bool opensMessage(std::uint8_t byte) { return byte == 0xBB || byte == 0xEE; }

    int answeredRead(int address, int count) const
    {
        for (std::size_t i = 0; i < m_awaited.size(); ++i) {
            const Read &r = m_awaited[i];
            const int exists = std::max(0, std::min(r.count, imageSize - r.address));
            if (r.address == address && (r.count == count || exists == count))
                return int(i);
        }
        return -1;
    }

    bool streamed(int address, int count) const
    {
        for (const int mode : {streamingMode, m_previousMode}) {
            for (const RegisterMap::StreamedBlock &s : RegisterMap::StreamedBlocks) {
                if (mode == s.mode && address == s.block.address && count == s.block.count)
                    return true;
            }
        }
        return false;
    }

    std::deque<std::uint8_t> m_buffer;
    std::vector<Read> m_awaited;
    unsigned m_control1Writes = 0;
    int m_previousMode = -1;
};
