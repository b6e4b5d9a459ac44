// SPDX-License-Identifier: GPL-3.0-or-later
#include "registerblocks.h"

#include "comsprotocol.h"

#include <cstring>

static_assert(ComsProtocol::ImageSize == RegisterMap::Size, "the image is the register space");

int registerBlockAt(int address)
{
    return RegisterMap::blockAt(address);
}

int dispatchUpdatedBlocks(const quint8 *image, const quint8 *flags,
    const std::function<void(int blockIndex, const quint8 *block)> &handler)
{
    static_assert(ComsProtocol::ImageSize % 8 == 0, "flags are scanned eight at a time");

    // Most of the image is unflagged in a pass: skip it eight flags at a time.
    std::array<bool, registerBlocks.size()> updated {};
    for (int at = 0; at < ComsProtocol::ImageSize; at += 8) {
        quint64 word;
        std::memcpy(&word, flags + at, sizeof word);
        if (word == 0)
            continue;
        for (int b = at; b < at + 8; ++b) {
            if (flags[b])
                updated[std::size_t(RegisterMap::blockAt(b))] = true;
        }
    }
    int calls = 0;
    for (std::size_t i = 0; i < registerBlocks.size(); ++i) {
        if (!updated[i])
            continue;
        ++calls;
        if (handler)
            handler(int(i), image + registerBlocks[i].start);
    }
    return calls;
}
