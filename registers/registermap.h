// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Where things live in the module's 176-byte register space, named once. The
// catalogue lists every register; this names the stretches the link reads,
// writes and is streamed, and the registers the code asks for by name.
// tst_registermap holds the two together.

// A run of bytes in the register space: what one request reads or writes.
struct RegisterSpan
{
    quint8 address;
    quint8 count;
    constexpr int end() const { return int(address) + int(count); }
    constexpr bool contains(int at) const { return at >= int(address) && at < end(); }
};

namespace RegisterMap {

constexpr int Size = 176;
// The whole space, as one read asks for it.
constexpr RegisterSpan Whole {0x00, quint8(Size)};

// Identity and state.
constexpr RegisterSpan DeviceId {0x00, 1};
constexpr RegisterSpan Status {0x01, 1};
constexpr RegisterSpan HardwareVersion {0x02, 2};
constexpr RegisterSpan SoftwareVersion {0x04, 2};

// Live measurements: three 16-bit axes each, except temperature and the quaternion.
constexpr RegisterSpan Acc {0x06, 6};
constexpr RegisterSpan Gyro {0x0C, 6};
constexpr RegisterSpan Mag {0x12, 6};
constexpr RegisterSpan Temperature {0x18, 2};
constexpr RegisterSpan Quaternion {0x1A, 8};
constexpr RegisterSpan Euler {0x22, 6};
constexpr RegisterSpan LinearAcc {0x28, 6};
constexpr RegisterSpan Gravity {0x2E, 6};

// Control and range bytes.
constexpr RegisterSpan Control1 {0x34, 1};
constexpr RegisterSpan Control2 {0x35, 1};
constexpr RegisterSpan SensorsRange {0x36, 1};

// Calibration parameters, as 32-bit reals.
constexpr RegisterSpan AccOffset {0x37, 12};
constexpr RegisterSpan AccScale {0x43, 36};
constexpr RegisterSpan GyroOffset {0x67, 12};
constexpr RegisterSpan GyroScale {0x73, 12};
constexpr RegisterSpan MagOffset {0x7F, 12};
constexpr RegisterSpan MagScale {0x8B, 36};
constexpr RegisterSpan AccMagEff {0xAF, 1};

// What a calibration run reads and writes per sensor: offsets and matrix for the
// accelerometer and the magnetometer, the three offsets for the gyroscope.
constexpr RegisterSpan AccCalibration {AccOffset.address, AccOffset.count + AccScale.count};
constexpr RegisterSpan GyroCalibration = GyroOffset;
constexpr RegisterSpan MagCalibration {MagOffset.address, MagOffset.count + MagScale.count};

// Control1 through the last register: the stretch a factory reset rewrites at once.
constexpr RegisterSpan Writable {Control1.address, quint8(Size - Control1.address)};

// Accelerometer through Euler angles: every live measurement in one read.
constexpr RegisterSpan Measurements {Acc.address, quint8(Euler.end() - Acc.address)};

// Streaming modes written to Control1, and the block the module streams in each.
constexpr quint8 StreamingOff = 0;
constexpr quint8 StreamingAll = 11;
constexpr quint8 StreamingAccGyro = 12;
constexpr RegisterSpan StreamedAll = Measurements;
constexpr RegisterSpan StreamedAccGyro {Acc.address, quint8(Gyro.end() - Acc.address)};

struct StreamedBlock
{
    int mode;
    RegisterSpan block;
};
constexpr StreamedBlock StreamedBlocks[] = {
    {StreamingAll, StreamedAll},
    {StreamingAccGyro, StreamedAccGyro},
};

static_assert(Measurements.count == 34 && StreamedAccGyro.count == 12, "streamed frame sizes");
static_assert(Writable.count == 124 && Writable.end() == Size, "writable stretch");
static_assert(AccMagEff.end() == Size, "the last register closes the space");
static_assert(AccCalibration.count == 48 && MagCalibration.count == 48, "twelve reals each");

} // namespace RegisterMap
