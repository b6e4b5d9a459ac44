#include "registerblocks.h"

#include "comsprotocol.h"

#include <cstring>

const std::array<RegisterBlock, 22> registerBlocks = {{
    {0x00, 1, "deviceIdUpdated"},
    {0x01, 1, "statusUpdated"},
    {0x02, 2, "hardwareVersionUpdated"},
    {0x04, 2, "softwareVersionUpdated"},
    {0x06, 6, "accUpdated"},
    {0x0C, 6, "gyroUpdated"},
    {0x12, 6, "magUpdated"},
    {0x18, 2, "temperatureUpdated"},
    {0x1A, 8, "quaternionUpdated"},
    {0x22, 6, "eulerUpdated"},
    {0x28, 6, "linearAccUpdated"},
    {0x2E, 6, "gravityUpdated"},
    {0x34, 1, "control1Updated"},
    {0x35, 1, "control2Updated"},
    {0x36, 1, "sensorsRangeUpdated"},
    {0x37, 12, "accOffsetUpdated"},
    {0x43, 36, "accScaleUpdated"},
    {0x67, 12, "gyroOffsetUpdated"},
    {0x73, 12, "gyroScaleUpdated"},
    {0x7F, 12, "magOffsetUpdated"},
    {0x8B, 36, "magScaleUpdated"},
    {0xAF, 1, "accMagEffUpdated"},
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
        std::array<quint8, ComsProtocol::ImageSize> table{};
        for (int a = 0; a < ComsProtocol::ImageSize; ++a)
            table[std::size_t(a)] = quint8(registerBlockAt(a));
        return table;
    }();
    static_assert(ComsProtocol::ImageSize % 8 == 0, "flags are scanned eight at a time");

    // Most of the image is unflagged in a pass: skip it eight flags at a time.
    std::array<bool, registerBlocks.size()> updated{};
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
