// SPDX-License-Identifier: GPL-3.0-or-later
#include "moduledecoder.h"

#include "registercatalogue.h"

#include <algorithm>
#include <cmath>

namespace decode {

namespace {
using namespace RegisterMap;

// Raw counts per degree, and the offset in degrees of a raw 0.
constexpr double temperatureCountsPerDegree = 326.8;
constexpr double temperatureOffset = 25.0;

constexpr int indexOf(RegisterSpan span)
{
    return blockIndexOf(span);
}
constexpr int accBlock = indexOf(Acc);
constexpr int eulerBlock = indexOf(Euler);
constexpr int versionBlock = indexOf(HardwareVersion);
constexpr int rangeBlock = indexOf(SensorsRange);
static_assert(
    accBlock >= 0 && eulerBlock > accBlock && versionBlock >= 0 && rangeBlock > eulerBlock,
    "the measurements lie between the version and the range byte");

float fullScaleOf(const FullScales &scales, Sensor sensor)
{
    switch (sensor) {
    case Sensor::Acc:
        return scales.acc;
    case Sensor::Gyro:
        return scales.gyro;
    case Sensor::Mag:
        return scales.mag;
    case Sensor::None:
        break;
    }
    return -1.0f;
}
} // namespace

float quaternionComponent(const quint8 *bytes)
{
    return float(readI16(bytes) / 1000.0);
}

float eulerAngle(const quint8 *bytes)
{
    return float(readI16(bytes) / 100.0);
}

double temperatureCelsius(const quint8 *bytes)
{
    const double raw = readI16(bytes);
    return std::floor((raw / temperatureCountsPerDegree + temperatureOffset) * 100.0) / 100.0;
}

QVariant rowValue(const BlockValues &block, int i)
{
    const double value = block.values[std::size_t(i)];
    if (block.integral)
        return int(value);
    if (Blocks[block.block].kind == BlockKind::Temperature)
        return value;
    return block.floatAt(i);
}

int firstRowOf(int blockIndex)
{
    if (blockIndex < 0 || blockIndex >= BlockCount)
        return -1;
    return registerRowAt(Blocks[blockIndex].span.address);
}

void ModuleDecoder::reset()
{
    m_image.fill(0);
    m_hardwareVersion = 0;
    m_versionKnown = false;
    m_scales = FullScales {};
}

void ModuleDecoder::setHardwareVersion(int version)
{
    m_hardwareVersion = version;
    m_versionKnown = true;
}

RangeDecoding ModuleDecoder::applyRange(quint8 range)
{
    RangeDecoding out;
    out.applied = applySensorsRange(m_hardwareVersion, range, m_scales, &out.codes);
    return out;
}

bool ModuleDecoder::decodeBlock(
    int blockIndex, const quint8 *block, BlockValues *out, RangeDecoding *range)
{
    if (blockIndex < 0 || blockIndex >= BlockCount)
        return false;
    const BlockLayout &layout = Blocks[blockIndex];
    out->block = blockIndex;
    out->count = layout.values();
    out->integral = false;
    out->exactReals = false;
    switch (layout.kind) {
    case BlockKind::Byte:
        out->integral = true;
        out->values[0] = block[0];
        break;
    case BlockKind::Word:
        out->integral = true;
        out->values[0] = readU16(block);
        break;
    case BlockKind::Scaled: {
        const float fullScale = fullScaleOf(m_scales, layout.sensor);
        if (!(fullScale > 0)) {
            out->count = 0;
            break;
        }
        for (int i = 0; i < 3; ++i)
            out->values[std::size_t(i)] = scaleRaw(readI16(block + 2 * i), fullScale);
        break;
    }
    case BlockKind::Temperature:
        out->values[0] = temperatureCelsius(block);
        break;
    case BlockKind::Quaternion:
        for (int i = 0; i < 4; ++i)
            out->values[std::size_t(i)] = quaternionComponent(block + 2 * i);
        break;
    case BlockKind::Euler:
        for (int i = 0; i < 3; ++i)
            out->values[std::size_t(i)] = eulerAngle(block + 2 * i);
        break;
    case BlockKind::Reals:
        out->exactReals = true;
        for (int i = 0; i < out->count; ++i) {
            out->reals[std::size_t(i)] = readF32(block + 4 * i);
            out->values[std::size_t(i)] = out->reals[std::size_t(i)];
        }
        break;
    }
    if (blockIndex == versionBlock)
        setHardwareVersion(readU16(block));
    else if (blockIndex == rangeBlock) {
        const RangeDecoding decoded = applyRange(block[0]);
        if (range)
            *range = decoded;
    }
    return true;
}

bool ModuleDecoder::decodeFrame(
    quint8 address, const quint8 *data, int count, MeasurementFrame *sample)
{
    const int first = address;
    const int end = std::min(first + count, int(Size));
    if (first >= end)
        return false;
    std::copy_n(data, end - first, m_image.begin() + first);
    const int firstBlock = blockAt(first);
    const int lastBlock = blockAt(end - 1);

    if (firstBlock <= versionBlock && lastBlock >= versionBlock)
        setHardwareVersion(readU16(m_image.data() + HardwareVersion.address));
    const bool measured = firstBlock <= eulerBlock && lastBlock >= accBlock;
    if (measured) {
        sample->present = 0;
        const quint8 *image = m_image.data();
        for (int b = std::max(firstBlock, accBlock); b <= std::min(lastBlock, eulerBlock); ++b) {
            const BlockLayout &layout = Blocks[b];
            const quint8 *at = image + layout.span.address;
            switch (layout.kind) {
            case BlockKind::Scaled: {
                const float fullScale = fullScaleOf(m_scales, layout.sensor);
                if (!(fullScale > 0))
                    break;
                std::array<float, 3> *axes = layout.sensor == Sensor::Acc ? &sample->acc
                    : layout.sensor == Sensor::Gyro                       ? &sample->gyro
                                                                          : &sample->mag;
                for (int i = 0; i < 3; ++i)
                    (*axes)[std::size_t(i)] = scaleRaw(readI16(at + 2 * i), fullScale);
                sample->present |= layout.sensor == Sensor::Acc ? MeasurementFrame::Acc
                    : layout.sensor == Sensor::Gyro             ? MeasurementFrame::Gyro
                                                                : MeasurementFrame::Mag;
                break;
            }
            case BlockKind::Temperature:
                sample->temperature = temperatureCelsius(at);
                sample->present |= MeasurementFrame::Temperature;
                break;
            case BlockKind::Quaternion:
                for (int i = 0; i < 4; ++i)
                    sample->quat[std::size_t(i)] = quaternionComponent(at + 2 * i);
                sample->present |= MeasurementFrame::Quaternion;
                break;
            case BlockKind::Euler:
                for (int i = 0; i < 3; ++i)
                    sample->euler[std::size_t(i)] = eulerAngle(at + 2 * i);
                sample->present |= MeasurementFrame::Euler;
                break;
            default:
                break;
            }
        }
    }
    // After the measurements, in address order: the range scales what follows.
    if (firstBlock <= rangeBlock && lastBlock >= rangeBlock)
        applyRange(m_image[SensorsRange.address]);
    return measured;
}

void ModuleDecoder::decodeImage(const quint8 *image, std::array<BlockValues, BlockCount> *values)
{
    std::copy_n(image, Size, m_image.begin());
    // The first pass learns the version and the range, the second scales the
    // measurements with them.
    for (int pass = 0; pass < 2; ++pass)
        for (int b = 0; b < BlockCount; ++b)
            decodeBlock(b, image + Blocks[b].span.address, &(*values)[std::size_t(b)]);
}

} // namespace decode
