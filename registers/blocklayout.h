// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What each register block holds, once: the link dispatches by it, the decoder
// turns its bytes into values by it. Adding a block is one line here (its span
// is named in registermap.h).

#include "registermap.h"

#include <array>
#include <cstddef>

namespace RegisterMap {

// How a block's bytes become values.
enum class BlockKind {
    Byte, // one unsigned byte
    Word, // one unsigned 16-bit value (the versions)
    Scaled, // three signed 16-bit axes, times the sensor's full scale / 32768
    Temperature, // degrees Celsius, cut to hundredths
    Quaternion, // four signed 16-bit values / 1000, scalar part first
    Euler, // roll, pitch, yaw: signed 16-bit / 100 degrees
    Reals, // 32-bit reals (calibration parameters)
};

// The full scale a Scaled block follows.
enum class BlockSensor { None, Acc, Gyro, Mag };

struct BlockLayout
{
    RegisterSpan span;
    BlockKind kind;
    BlockSensor sensor;
    // Values the block holds: the rows of the register catalogue it fills.
    constexpr int values() const
    {
        switch (kind) {
        case BlockKind::Byte:
        case BlockKind::Word:
        case BlockKind::Temperature:
            return 1;
        case BlockKind::Scaled:
        case BlockKind::Euler:
            return 3;
        case BlockKind::Quaternion:
            return 4;
        case BlockKind::Reals:
            return span.count / 4;
        }
        return 0;
    }
};

// Every block, in address order, tiling the register space.
inline constexpr BlockLayout Blocks[] = {
    {DeviceId, BlockKind::Byte, BlockSensor::None},
    {Status, BlockKind::Byte, BlockSensor::None},
    {HardwareVersion, BlockKind::Word, BlockSensor::None},
    {SoftwareVersion, BlockKind::Word, BlockSensor::None},
    {Acc, BlockKind::Scaled, BlockSensor::Acc},
    {Gyro, BlockKind::Scaled, BlockSensor::Gyro},
    {Mag, BlockKind::Scaled, BlockSensor::Mag},
    {Temperature, BlockKind::Temperature, BlockSensor::None},
    {Quaternion, BlockKind::Quaternion, BlockSensor::None},
    {Euler, BlockKind::Euler, BlockSensor::None},
    {LinearAcc, BlockKind::Scaled, BlockSensor::Acc},
    {Gravity, BlockKind::Scaled, BlockSensor::Acc},
    {Control1, BlockKind::Byte, BlockSensor::None},
    {Control2, BlockKind::Byte, BlockSensor::None},
    {SensorsRange, BlockKind::Byte, BlockSensor::None},
    {AccOffset, BlockKind::Reals, BlockSensor::None},
    {AccScale, BlockKind::Reals, BlockSensor::None},
    {GyroOffset, BlockKind::Reals, BlockSensor::None},
    {GyroScale, BlockKind::Reals, BlockSensor::None},
    {MagOffset, BlockKind::Reals, BlockSensor::None},
    {MagScale, BlockKind::Reals, BlockSensor::None},
    {AccMagEff, BlockKind::Byte, BlockSensor::None},
};
inline constexpr int BlockCount = int(std::size(Blocks));
// The most values one block holds (a 3x3 matrix).
inline constexpr int MaxBlockValues = 9;

constexpr bool blocksTileTheSpace()
{
    int next = 0;
    for (const BlockLayout &b : Blocks) {
        if (b.span.address != next || b.span.count == 0)
            return false;
        next = b.span.end();
    }
    return next == Size;
}
static_assert(blocksTileTheSpace(), "the blocks tile the register space in address order");

// Index in Blocks of the block with exactly this span, or -1.
constexpr int blockIndexOf(RegisterSpan span)
{
    for (int b = 0; b < BlockCount; ++b)
        if (Blocks[b].span.address == span.address && Blocks[b].span.count == span.count)
            return b;
    return -1;
}

namespace detail {
struct BlockOfAddress
{
    std::array<signed char, Size> index {};
    constexpr BlockOfAddress()
    {
        for (int b = 0; b < BlockCount; ++b)
            for (int a = Blocks[b].span.address; a < Blocks[b].span.end(); ++a)
                index[std::size_t(a)] = static_cast<signed char>(b);
    }
};
inline constexpr BlockOfAddress blockOfAddress;
} // namespace detail

// Index in Blocks of the block holding `address`, or -1 past the space.
constexpr int blockAt(int address)
{
    return address < 0 || address >= Size ? -1 : detail::blockOfAddress.index[std::size_t(address)];
}

} // namespace RegisterMap
