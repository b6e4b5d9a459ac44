// SPDX-License-Identifier: GPL-3.0-or-later
#include "storedframes.h"

#include "registerblocks.h"

#include <algorithm>
#include <cstring>

void StoredFrames::add(quint8 address, const quint8 *data, int count)
{
    ++m_stored;
    if (int(m_starts.size()) >= limit || count <= 0)
        return;
    m_starts.push_back({address, quint8(count), quint32(m_bytes.size())});
    m_bytes.insert(m_bytes.end(), data, data + count);
}

void StoredFrames::clear()
{
    m_starts.clear();
    m_bytes.clear();
    m_stored = 0;
}

int StoredFrames::dispatch(quint8 *image, int imageSize, int first, int end,
    const std::function<void(int blockIndex, const quint8 *block)> &handler) const
{
    std::vector<quint8> flags(std::size_t(imageSize), 0);
    int calls = 0;
    for (const Start &frame : m_starts) {
        const int stored = std::min(int(frame.count), imageSize - int(frame.address));
        if (stored <= 0)
            continue;
        std::memcpy(image + frame.address, m_bytes.data() + frame.offset, std::size_t(stored));
        const int from = std::max(first, int(frame.address));
        const int to = std::min(end, int(frame.address) + stored);
        if (from >= to)
            continue;
        std::fill(flags.begin(), flags.end(), quint8(0));
        std::fill(flags.begin() + from, flags.begin() + to, quint8(1));
        calls += dispatchUpdatedBlocks(image, flags.data(), handler);
    }
    return calls;
}
