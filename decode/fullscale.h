// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// Full-scale values of the three sensors: a raw reading r means r / 32768 * F.
// Anything not greater than 0 means the range is not known yet.
struct FullScales
{
    float acc = -1.0f;
    float gyro = -1.0f;
    float mag = -1.0f;
};

// Layout of the "Sensors Range" byte; it depends on the hardware version.
struct RangeCodes
{
    int acc = 0;
    int gyro = 0;
    int mag = 0;
};

constexpr int hardwareVersion1442 = 1442;
constexpr int hardwareVersion2542 = 2542;

// Decodes `range` under `hardwareVersion` into `scales`. Codes with no value of their
// own leave that sensor's full scale as it was; an unknown hardware version changes
// nothing. Returns whether a layout applied, with the codes it read in `codes`.
bool applySensorsRange(int hardwareVersion, quint8 range, FullScales &scales, RangeCodes *codes);

// raw / 32768 * fullScale, in double, as a single-precision value.
float scaleRaw(qint16 raw, float fullScale);

bool isKnownHardwareVersion(int hardwareVersion);

// For the live page: a hardware version that arrived and has no range layout.
QString unknownHardwareVersionText(int hardwareVersion);

// For the live page: which sensors `range` (just decoded under a known
// `hardwareVersion` into `scales` with `codes`) leaves without a full scale, so
// that their samples are dropped. Empty when every sensor can be scaled.
QString unscalableRangeText(
    int hardwareVersion, quint8 range, const FullScales &scales, const RangeCodes &codes);
