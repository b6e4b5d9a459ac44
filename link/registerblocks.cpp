// SPDX-License-Identifier: GPL-3.0-or-later
#include "registerblocks.h"

#include "comsprotocol.h"

#include <cstring>

namespace {
using namespace RegisterMap;
constexpr RegisterBlock block(RegisterSpan span, const char *handler)
{
    return {span.address, span.count, handler};
}
} // namespace

const std::array<RegisterBlock, 22> registerBlocks = {{
    block(DeviceId, "deviceIdUpdated"),
    block(Status, "statusUpdated"),
    block(HardwareVersion, "hardwareVersionUpdated"),
    block(SoftwareVersion, "softwareVersionUpdated"),
    block(Acc, "accUpdated"),
    block(Gyro, "gyroUpdated"),
    block(Mag, "magUpdated"),
    block(Temperature, "temperatureUpdated"),
    block(Quaternion, "quaternionUpdated"),
    block(Euler, "eulerUpdated"),
    block(LinearAcc, "linearAccUpdated"),
    block(Gravity, "gravityUpdated"),
    block(Control1, "control1Updated"),
    block(Control2, "control2Updated"),
    block(SensorsRange, "sensorsRangeUpdated"),
    block(AccOffset, "accOffsetUpdated"),
    block(AccScale, "accScaleUpdated"),
    block(GyroOffset, "gyroOffsetUpdated"),
    block(GyroScale, "gyroScaleUpdated"),
    block(MagOffset, "magOffsetUpdated"),
    block(MagScale, "magScaleUpdated"),
    block(AccMagEff, "accMagEffUpdated"),
}};

int registerBlockAt(int address)
{
    if (address < 0 || address >= ComsProtocol::ImageSize)
        return -1;
    for (int i = int(registerBlocks.size()) - 1; i >= 0; --i) {
        if (address >= registerBlocks[std::size_t(i)].start)
            return i;
    }
    return -1;
}

int dispatchUpdatedBlocks(const quint8 *image, const quint8 *flags,
    const std::function<void(int blockIndex, const quint8 *block)> &handler)
{
    // Block of each address, built once.
    static const std::array<quint8, ComsProtocol::ImageSize> blockOf = [] {
        std::array<quint8, ComsProtocol::ImageSize> table {};
        for (int a = 0; a < ComsProtocol::ImageSize; ++a)
            table[std::size_t(a)] = quint8(registerBlockAt(a));
        return table;
    }();
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
                updated[blockOf[std::size_t(b)]] = true;
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
