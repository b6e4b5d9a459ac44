// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocklayout.h"

#include <QtGlobal>

#include <array>
#include <functional>

// The register blocks that tile the register image, in the order the dispatch
// pass visits them (ascending start address): the spans of RegisterMap::Blocks.
struct RegisterBlock
{
    quint8 start;
    quint8 length;
};

namespace detail {
constexpr std::array<RegisterBlock, RegisterMap::BlockCount> dispatchBlocks()
{
    std::array<RegisterBlock, RegisterMap::BlockCount> blocks {};
    for (int i = 0; i < RegisterMap::BlockCount; ++i)
        blocks[std::size_t(i)]
            = {RegisterMap::Blocks[i].span.address, RegisterMap::Blocks[i].span.count};
    return blocks;
}
} // namespace detail

inline constexpr std::array<RegisterBlock, RegisterMap::BlockCount> registerBlocks
    = detail::dispatchBlocks();

// Index of the block holding `address`, or -1 past the image.
int registerBlockAt(int address);

// One dispatch pass over an image and its flags: calls `handler` once per block
// with a flagged byte, in address order, with a pointer to the block's first byte
// in `image`. Returns the number of calls.
int dispatchUpdatedBlocks(const quint8 *image, const quint8 *flags,
    const std::function<void(int blockIndex, const quint8 *block)> &handler);
