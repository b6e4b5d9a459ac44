// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <array>
#include <functional>

// The 22 register blocks that tile the register image, in the order
// the dispatch pass visits them (ascending start address).
struct RegisterBlock
{
    quint8 start;
    quint8 length;
    const char *handler; // name of the backend's handler, e.g. "accUpdated"
};

extern const std::array<RegisterBlock, 22> registerBlocks;

// Index of the block holding `address`, or -1 past the image.
int registerBlockAt(int address);

// One dispatch pass over an image and its flags: calls `handler` once per block
// with a flagged byte, in address order, with a pointer to the block's first byte
// in `image`. Returns the number of calls.
int dispatchUpdatedBlocks(const quint8 *image, const quint8 *flags,
    const std::function<void(int blockIndex, const quint8 *block)> &handler);
