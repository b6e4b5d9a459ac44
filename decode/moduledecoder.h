// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The module's bytes to values, with no event loop and no objects to wire up:
// one table says what each register block holds, a decoder turns a block, a
// frame or a whole register image into register values and scaled samples,
// following the full scales that "Hardware Version" and "Sensors Range" give.
// The backend, velmar-cli, the recording's CSV and replay all decode here.

#include "fullscale.h"

#include "blocklayout.h"
#include "record.h"

#include <QVariant>

#include <array>
#include <cstddef>

namespace decode {

// The block table lives with the register map; the decoder names it here.
using RegisterMap::blockAt;
using RegisterMap::BlockCount;
using RegisterMap::blockIndexOf;
using RegisterMap::BlockKind;
using RegisterMap::BlockLayout;
using RegisterMap::Blocks;
using RegisterMap::MaxBlockValues;
using Sensor = RegisterMap::BlockSensor;

// One block decoded: the values its rows hold, in row order.
struct BlockValues
{
    int block = -1; // index in Blocks
    int count = 0; // values below; 0 for a Scaled block whose full scale is unknown
    std::array<double, MaxBlockValues> values {};
    // Whole numbers (bytes, words) rather than reals.
    bool integral = false;
    // A block of reals as the module holds them, bit for bit: a signalling NaN
    // would come back quieted through `values`.
    std::array<float, MaxBlockValues> reals {};
    bool exactReals = false;
    // Single precision (scaled samples, quaternion, angles, reals), as the
    // charts and the rows hold them; the temperature is double.
    float floatAt(int i) const
    {
        return exactReals ? reals[std::size_t(i)] : float(values[std::size_t(i)]);
    }
};

// Value `i` of a decoded block as its register row holds it: an int for
// bytes and words, a double for the temperature, a float otherwise.
QVariant rowValue(const BlockValues &block, int i);
// Catalogue row of a block's first value.
int firstRowOf(int blockIndex);

// What decoding "Sensors Range" did to the full scales.
struct RangeDecoding
{
    bool applied = false; // a layout for the hardware version was known
    RangeCodes codes;
};

// The decoding state of one module: its register image as far as it arrived,
// its hardware version and the full scales in force. Blocks are decoded in
// address order, so a "Sensors Range" arriving with measurements scales only
// what follows, as the module means it.
class ModuleDecoder
{
public:
    ModuleDecoder() = default;

    // Nothing known: no version, no full scales, an empty image.
    void reset();
    // Starting from what a recording's header or a session already knows.
    void setHardwareVersion(int version);
    int hardwareVersion() const { return m_hardwareVersion; }
    // True once a "Hardware Version" block was decoded or set.
    bool hardwareVersionKnown() const { return m_versionKnown; }
    void setFullScales(const FullScales &scales) { m_scales = scales; }
    const FullScales &fullScales() const { return m_scales; }
    void forgetFullScales() { m_scales = FullScales {}; }
    // "Sensors Range" under the current hardware version.
    RangeDecoding applyRange(quint8 range);

    const std::array<quint8, RegisterMap::Size> &image() const { return m_image; }
    // The image a session already holds, for frames that cover part of a block.
    void setImage(const std::array<quint8, RegisterMap::Size> &image) { m_image = image; }

    // Decodes block `blockIndex` from its first byte. A "Hardware Version"
    // block sets the version; a "Sensors Range" block changes the full scales
    // (what it did is in `range` when given). False for an index past the table.
    bool decodeBlock(
        int blockIndex, const quint8 *block, BlockValues *out, RangeDecoding *range = nullptr);

    // A data frame as the cutter took it: stores it into the image and decodes
    // every measurement block it touches into `sample` (time not set). Returns
    // true when the frame touched the measurements (accelerometer to Euler
    // angles), even if no sensor could be scaled.
    bool decodeFrame(quint8 address, const quint8 *data, int count, MeasurementFrame *sample);

    // A whole register image, as read from the module: two passes, so that the
    // measurements follow the "Sensors Range" the same image holds. `values`
    // gets one entry per block.
    void decodeImage(const quint8 *image, std::array<BlockValues, BlockCount> *values);

private:
    std::array<quint8, RegisterMap::Size> m_image {};
    int m_hardwareVersion = 0;
    bool m_versionKnown = false;
    FullScales m_scales;
};

// The value helpers the blocks use, for callers that hold one register.
float quaternionComponent(const quint8 *bytes);
float eulerAngle(const quint8 *bytes);
// Cut (not rounded) to hundredths of a degree Celsius.
double temperatureCelsius(const quint8 *bytes);

} // namespace decode
