// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// Value types of the simulator's public interface.

// What the module says about itself in bytes 0..5, and its range byte at start.
struct SimIdentity
{
    quint8 deviceId = 0x5A;
    quint8 status = 0x00;
    quint16 hardwareVersion = 1442; // 1442 or 2542 give the two range layouts
    quint16 softwareVersion = 210;
    quint8 sensorsRange = 0x00;
    // "Control1" at start; -1 keeps the factory default (quiet). 11 or 12 make
    // a module that streams before anyone asks, as one left streaming when the
    // last connection went away.
    int control1 = -1;
};

// The six static positions of a six-position calibration. In each the named
// body axis points up and the accelerometer reads +g on it; "Down" reads -g.
enum class SimPose { ZUp, ZDown, YUp, YDown, XUp, XDown };

// How the simulated module moves. Angles and rates in degrees.
struct SimMotion
{
    enum Kind { Still, Rotate, Tumble };
    Kind kind = Still;
    SimPose pose = SimPose::ZUp; // held (Still) or started from (Rotate)
    double headingDeg = 0; // turn of the start pose about the vertical
    std::array<double, 3> axis {0, 0, 1}; // body axis of a Rotate
    double rateDegPerSec = 30; // speed of a Rotate

    static SimMotion still(SimPose pose, double headingDeg = 0);
    static SimMotion rotating(SimPose start, std::array<double, 3> bodyAxis, double degPerSec);
    // Brings gravity and the earth field into every body direction within a
    // minute (a spin about body z while z tilts from up to down and back).
    static SimMotion tumbling();
};

// The sensors' own errors: measured = matrix * true + bias (+ white noise).
// The calibration registers of the module act on the measured values.
struct SimSensorErrors
{
    std::array<double, 3> accBias {}; // m/s^2
    std::array<double, 9> accMatrix {1, 0, 0, 0, 1, 0, 0, 0, 1}; // scale and cross-axis, row by row
    std::array<double, 3> gyroBias {}; // deg/s
    std::array<double, 3> gyroScale {1, 1, 1};
    std::array<double, 3> magHardIron {}; // field units
    std::array<double, 9> magSoftIron {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double accNoise = 0; // standard deviation per sample, m/s^2
    double gyroNoise = 0; // deg/s
    double magNoise = 0; // field units

    // Errors of the size real MEMS parts show, drawn from `seed`: accelerometer
    // bias up to ~50 mg per axis, scale errors up to 3 %, cross-axis up to 1 %;
    // gyroscope bias up to 3 deg/s, scale up to 2 %; magnetometer hard iron up
    // to half the earth field and soft iron up to 15 %, on the body axes or
    // (rotatedSoftIron) on a random set of axes; MEMS-typical white noise.
    static SimSensorErrors generate(quint64 seed, bool rotatedSoftIron = false);
};

// Full-scale values the module encodes its 16-bit readings with:
// value = raw / 32768 * fullScale.
struct SimFullScales
{
    double acc = 20; // m/s^2
    double gyro = 250; // deg/s
    double mag = 2; // the magnetometer's own unit
};

// The truth behind a sample, without noise.
struct SimTruth
{
    double seconds = 0; // since the motion was set
    std::array<double, 4> quaternion {1, 0, 0, 0}; // w, x, y, z; body to world (x north, z up)
    std::array<double, 3> eulerDeg {}; // roll, pitch, yaw (z-y-x order)
    std::array<double, 3> acc {}; // what an ideal accelerometer reads: gravity's reaction, m/s^2
    std::array<double, 3> gyro {}; // true body rate, deg/s
    std::array<double, 3> mag {}; // true earth field in the body frame
    std::array<double, 3> accSensed {}; // after the sensor errors
    std::array<double, 3> gyroSensed {};
    std::array<double, 3> magSensed {};
    std::array<double, 3> accOutput {}; // after the module's calibration registers
    std::array<double, 3> gyroOutput {};
    std::array<double, 3> magOutput {};
    double temperature = 0; // degrees Celsius
    SimFullScales fullScales;
};

// Faults on the line, applied to every message the module sends. By default
// noise never contains 0xBB or 0xEE: such a byte would open a phantom message
// that no receiver of this checksum-free protocol can tell from a real one.
// rawNoise, headerNoiseChance and cutChance bring exactly those in, to test a
// receiver that uses what it knows (which blocks it streams and asked for).
struct SimFaults
{
    double noiseChance = 0; // a burst of 1..noiseMaxBytes noise bytes before a message
    int noiseMaxBytes = 8;
    double splitChance = 0; // the message goes out in 2..4 chunks a few ms apart
    double truncateChance = 0; // a data frame is cut short (then line noise fills its gap)
    double statusChance = 0; // a status message EE v before a message
    // Noise bursts draw from every byte value, 0xBB and 0xEE included. They
    // still never hold the header of a streamed block (BB 06 22, BB 06 0C) nor
    // end in 0xEE: either would take a frame from any receiver.
    bool rawNoise = false;
    // Three noise bytes shaped as a data frame header, BB a n, right before a
    // message: a block inside the map that is not a streamed one, e.g. BB 40 30.
    double headerNoiseChance = 0;
    // A data frame is cut short anywhere after its first byte and the next
    // message follows at once, with no filler.
    double cutChance = 0;
    quint64 seed = 7; // the faults are drawn from this seed

    bool any() const
    {
        return noiseChance > 0 || splitChance > 0 || truncateChance > 0 || statusChance > 0
            || rawNoise || headerNoiseChance > 0 || cutChance > 0;
    }
};

// A request as the module received it.
struct SimRequest
{
    double seconds = 0; // on the simulator's clock, when its last byte was read
    bool write = false;
    quint8 address = 0;
    quint8 count = 0; // bytes asked for, or bytes of data written
    QByteArray data; // write data
};

// What the module has done since start.
struct SimCounters
{
    quint64 dataFrames = 0; // data frames begun (intact and truncated)
    quint64 intactDataFrames = 0; // data frames sent whole
    quint64 streamFrames = 0; // of those, streamed ones (Control1 11 or 12)
    quint64 intactStreamFrames = 0;
    quint64 statusMessages = 0;
    quint64 noiseBytes = 0; // noise bursts, header-shaped noise and the filler after truncations
    quint64 noiseOpenerBytes = 0; // of those, 0xBB and 0xEE bytes (raw and header-shaped noise)
    quint64 headerNoise = 0; // header-shaped noise BB a n sent whole
    quint64 cutFrames = 0; // data frames cut short with the next message right after
    quint64 bytesSent = 0; // everything written to the line
    quint64 bytesReceived = 0;
    quint64 requestsHandled = 0; // read and write requests
    quint64 readRequests = 0;
    quint64 writeRequests = 0;
};
