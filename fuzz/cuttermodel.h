#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>

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
class CutterModel
{
public:
    static constexpr int imageSize = 176;

    std::array<std::uint8_t, imageSize> image{};
    std::array<std::uint8_t, imageSize> flags{};
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
    static bool opensMessage(std::uint8_t byte) { return byte == 0xBB || byte == 0xEE; }

    std::deque<std::uint8_t> m_buffer;
};
