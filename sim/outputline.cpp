// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputline.h"

#include <registermap.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {
constexpr quint8 statusStart = 0xEE;
constexpr quint8 dataStart = 0xBB;
constexpr double fillerGap = 0.003;
constexpr int fillerSingles = 11;

constexpr quint8 streamStart = RegisterMap::StreamedAll.address;
constexpr int imageSize = RegisterMap::Size;

bool opensMessage(quint8 byte)
{
    return byte == dataStart || byte == statusStart;
}

// The blocks a module streams: a header of one of them is a frame to any
// receiver, so noise never carries it.
bool streamedBlock(quint8 address, quint8 count)
{
    return address == streamStart
        && (count == RegisterMap::StreamedAll.count || count == RegisterMap::StreamedAccGyro.count);
}

// Headers of blocks that must never change unasked (the calibration mirrors,
// Control1, "Sensors Range") and of the whole map, which comes only when asked for.
const quint8 favouriteHeaders[][2]
    = {{0x40, 0x30}, {0x37, 0x30}, {0x34, 0x01}, {0x36, 0x01}, {0x00, 0xB0}};
} // namespace

OutputLine::OutputLine(double bytesPerSecond)
    : m_bytesPerSecond(bytesPerSecond)
{ }

void OutputLine::setFaults(const SimFaults &faults)
{
    if (faults.seed != m_seed) {
        m_seed = faults.seed;
        m_rng.seed(m_seed);
    }
    m_faults = faults;
}

void OutputLine::pushNoise(int count, double gapBefore, bool raw)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray noise;
    while (noise.size() < count) {
        const quint8 b = quint8(byte(m_rng));
        if (raw || !opensMessage(b))
            noise.append(char(b));
    }
    // Raw noise may hold any header but a streamed block's, and does not end
    // in 0xEE: a status start right before a message takes the message's first
    // byte as its value, and no receiver gets that message back.
    for (int i = 0; i + 2 < noise.size(); ++i) {
        if (quint8(noise[i]) == dataStart
            && streamedBlock(quint8(noise[i + 1]), quint8(noise[i + 2])))
            noise[i + 1] = char(streamStart + 1);
    }
    if (quint8(noise.back()) == statusStart)
        noise.back() = char(statusStart - 1);
    m_queue.push_back({noise, gapBefore, Kind::Noise, false, true});
}

void OutputLine::pushHeaderNoise()
{
    quint8 address, count;
    if (std::uniform_int_distribution<int>(0, 1)(m_rng) == 0) {
        const auto &h = favouriteHeaders[std::uniform_int_distribution<std::size_t>(
            0, std::size(favouriteHeaders) - 1)(m_rng)];
        address = h[0];
        count = h[1];
    } else {
        do {
            address = quint8(std::uniform_int_distribution<int>(0, imageSize - 1)(m_rng));
            count = quint8(std::uniform_int_distribution<int>(1, imageSize - address)(m_rng));
        } while (streamedBlock(address, count));
    }
    const char header[3] = {char(dataStart), char(address), char(count)};
    Chunk chunk {QByteArray(header, 3), 0, Kind::Noise, false, true};
    chunk.headerShaped = true;
    m_queue.push_back(chunk);
}

void OutputLine::enqueueFrame(const QByteArray &frame, Kind kind, int stampGuard)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto happens = [&](double p) { return p > 0 && chance(m_rng) < p; };

    if (happens(m_faults.statusChance)) {
        const char status[2]
            = {char(statusStart), char(std::uniform_int_distribution<int>(0, 255)(m_rng))};
        m_queue.push_back({QByteArray(status, 2), 0, Kind::Status, false, true});
    }
    if (happens(m_faults.noiseChance))
        pushNoise(std::uniform_int_distribution<int>(1, std::max(1, m_faults.noiseMaxBytes))(m_rng),
            0, m_faults.rawNoise);
    if (happens(m_faults.headerNoiseChance))
        pushHeaderNoise();

    const int count = frame.size() - 3;
    if (count > 0 && happens(m_faults.truncateChance)) {
        int keep = count - 1;
        if (stampGuard > 0)
            keep = std::min(keep, stampGuard);
        keep = std::uniform_int_distribution<int>(0, keep)(m_rng);
        // A kept 0xBB or 0xEE would look like a message start when the
        // receiver resynchronises; cut before it.
        for (int i = 0; i < keep; ++i) {
            if (opensMessage(quint8(frame[3 + i]))) {
                keep = i;
                break;
            }
        }
        m_queue.push_back({frame.left(3 + keep), 0, kind, true, false});
        // Line noise where the tail should have been, exactly as long as the
        // tail, so the next frame arrives clean whatever the receiver does: it
        // fills the cut frame with the noise, or gives it up after waiting.
        // The first bytes come one at a time, enough separate arrivals for a
        // receiver that gives up after ten; the rest in one piece, since a long
        // run of lone noise bytes can exhaust its patience for the next frame.
        const int tail = count - keep;
        const int single = std::min(tail, fillerSingles);
        for (int i = 0; i < single; ++i)
            pushNoise(1, fillerGap);
        if (tail > single)
            pushNoise(tail - single, fillerGap);
        return;
    }

    if (frame.size() >= 2 && happens(m_faults.cutChance)) {
        // Cut anywhere after the start byte, the header itself included, as a
        // line that drops out does; a stamp guard keeps the stamp off the line.
        int keep = frame.size() - 1;
        if (stampGuard > 0)
            keep = std::min(keep, 3 + stampGuard);
        keep = std::uniform_int_distribution<int>(1, keep)(m_rng);
        Chunk chunk {frame.left(keep), 0, kind, true, false};
        chunk.unpadded = true;
        m_queue.push_back(chunk);
        return;
    }

    if (frame.size() >= 2 && happens(m_faults.splitChance)) {
        const int pieces
            = std::min<int>(frame.size(), std::uniform_int_distribution<int>(2, 4)(m_rng));
        std::vector<int> cuts;
        std::uniform_int_distribution<int> cutAt(1, frame.size() - 1);
        while (int(cuts.size()) < pieces - 1) {
            const int c = cutAt(m_rng);
            if (std::find(cuts.begin(), cuts.end(), c) == cuts.end())
                cuts.push_back(c);
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(frame.size());
        std::uniform_real_distribution<double> gap(0.001, 0.004);
        int from = 0;
        for (int cut : cuts) {
            const bool last = cut == frame.size();
            m_queue.push_back(
                {frame.mid(from, cut - from), from == 0 ? 0 : gap(m_rng), kind, last, true});
            from = cut;
        }
        return;
    }
    m_queue.push_back({frame, 0, kind, true, true});
}

double OutputLine::nextSendTime() const
{
    if (m_queue.empty())
        return m_lineFreeAt;
    return m_lineFreeAt + (m_frontStarted ? 0 : m_queue.front().gapBefore);
}

bool OutputLine::consumed(int count, double now, Chunk *done)
{
    m_lineFreeAt = std::max(m_lineFreeAt, now) + count / m_bytesPerSecond;
    Chunk &front = m_queue.front();
    front.bytes.remove(0, count);
    m_frontStarted = true;
    if (!front.bytes.isEmpty())
        return false;
    if (done)
        *done = front;
    m_queue.pop_front();
    m_frontStarted = false;
    return true;
}
