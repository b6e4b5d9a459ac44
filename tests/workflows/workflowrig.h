// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "../backend/backendtestsupport.h"

#include "registercatalogue.h"

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>
#include <QVector3D>

#include <array>
#include <cmath>
#include <vector>

// A backend fed through its real frame cutter and dispatch, with every frame it
// sends recorded, and the module's calibration registers already read once (as
// the connect sequence does). The rig plays the module's calibration registers:
// it takes the writes to them (unless told to ignore them) and answers the reads
// of them before the next sample it feeds, or when answerReads() is called.
namespace workflowtest {

using Block = std::array<float, 12>;

// Parameters the module holds before a run; a failed or abandoned run must leave
// exactly these.
inline Block previousAcc()
{
    return {0.1f, -0.2f, 0.3f, 1.01f, 0.002f, 0.0f, -0.001f, 0.99f, 0.0f, 0.0f, 0.003f, 1.02f};
}
inline Block previousGyro()
{
    return {0.5f, -0.5f, 0.25f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
}
inline Block previousMag()
{
    return {0.05f, 0.02f, -0.03f, 2.0f, 0, 0, 0, 2.1f, 0, 0, 0, 1.9f};
}
inline Block identityBlock()
{
    return {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
}

inline QByteArray floatBytes(const Block &block, int count)
{
    QByteArray bytes(4 * count, '\0');
    for (int i = 0; i < count; ++i)
        writeF32(reinterpret_cast<quint8 *>(bytes.data()) + 4 * i, block[std::size_t(i)]);
    return bytes;
}

inline QByteArray writeFrame(int address, const Block &block, int count)
{
    const QByteArray data = floatBytes(block, count);
    QByteArray frame;
    frame.append(char(0xAA));
    frame.append(char(0x00));
    frame.append(char(address));
    frame.append(char(data.size()));
    return frame + data;
}

inline QByteArray readFrame(int address, int count)
{
    QByteArray frame;
    frame.append(char(0xAA));
    frame.append(char(0x01));
    frame.append(char(address));
    frame.append(char(count));
    return frame;
}

inline bool isWriteTo(const QByteArray &frame, int address)
{
    return frame.size() >= 4 && quint8(frame[0]) == 0xAA && frame[1] == 0
        && quint8(frame[2]) == address;
}

inline Block blockOf(const QByteArray &frame)
{
    Block block = identityBlock();
    const int count = quint8(frame[3]) / 4;
    for (int i = 0; i < count && i < 12; ++i)
        block[std::size_t(i)]
            = readF32(reinterpret_cast<const quint8 *>(frame.constData()) + 4 + 4 * i);
    return block;
}

// A data folder of the rig's own, set before its backend is made: a
// calibration backs the module up before its first write, and those backups
// belong to the test, not to the user running it.
struct TestDataHome
{
    TestDataHome() { qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit()); }
    QTemporaryDir dir;
};

class Rig
{
    TestDataHome m_dataHome; // first: the backend below keeps its backups there

public:
    // Full scales 20 m/s^2, 250 deg/s and 2 field units (hardware 1442, range 0).
    // Without `knownModule` the rows never say which module this is.
    explicit Rig(bool readCalibrationRegisters = true, bool knownModule = true)
    {
        backend.setFrameSender([this](const quint8 *data, quint8 length) {
            const QByteArray frame(reinterpret_cast<const char *>(data), length);
            // Nothing non-finite may ever reach the calibration registers.
            if (isWriteTo(frame, 55) || isWriteTo(frame, 103) || isWriteTo(frame, 127)) {
                for (int i = 4; i + 4 <= frame.size(); i += 4) {
                    if (!std::isfinite(
                            readF32(reinterpret_cast<const quint8 *>(frame.constData()) + i)))
                        nonFiniteWrites++;
                }
            }
            frames << frame;
            playModule(frame);
        });
        if (knownModule)
            feedIdentity(0x42, 1442, 0x0102);
        backendtest::setRange(backend, 1442, 0x00);
        moduleAcc = previousAcc();
        moduleGyro = previousGyro();
        moduleMag = previousMag();
        if (readCalibrationRegisters)
            feedCalibration(previousAcc(), previousGyro(), previousMag());
    }

    // The module answering a read of its calibration registers.
    void feedCalibration(const Block &acc, const Block &gyro, const Block &mag)
    {
        feedBlock(55, acc, 12);
        feedBlock(103, gyro, 3);
        feedBlock(127, mag, 12);
    }

    // "Device ID", "Hardware Version" and "Software Version" as a connect reads them.
    void feedIdentity(int deviceId, int hardwareVersion, int softwareVersion)
    {
        backendtest::feed(backend,
            backendtest::dataFrame(0, QByteArray(1, char(deviceId)))
                + backendtest::dataFrame(2, backendtest::le16(hardwareVersion))
                + backendtest::dataFrame(4, backendtest::le16(softwareVersion)));
    }

    // Answers the reads of calibration registers sent since the last call, with
    // what the module holds now; answers may lead to further requests.
    void answerReads()
    {
        for (int round = 0; round < 10 && !unansweredReads.isEmpty(); ++round) {
            const QList<int> reads = unansweredReads;
            unansweredReads.clear();
            for (int address : reads) {
                if (Block *held = moduleBlock(address))
                    feedBlock(address, *held, address == 103 ? 3 : 12);
            }
        }
    }
    // The module holds `block` and sends it.
    void feedBlock(int address, const Block &block, int count)
    {
        if (Block *held = moduleBlock(address))
            std::copy_n(block.begin(), count, held->begin());
        backendtest::feed(backend, backendtest::dataFrame(address, floatBytes(block, count)));
    }

    // Samples in physical units, turned into raw readings of the full scale.
    void acc(const QVector3D &v, int times = 1) { sample(6, v, 20.0, times); }
    void gyro(const QVector3D &v, int times = 1) { sample(12, v, 250.0, times); }
    void mag(const QVector3D &v, int times = 1) { sample(18, v, 2.0, times); }
    static int raw(double value, double fullScale)
    {
        return int(std::lround(value / fullScale * 32768.0));
    }

    QList<QByteArray> takeFrames()
    {
        QList<QByteArray> taken = frames;
        frames.clear();
        return taken;
    }
    QList<QByteArray> writesTo(int address) const
    {
        QList<QByteArray> writes;
        for (const QByteArray &frame : frames) {
            if (isWriteTo(frame, address))
                writes << frame;
        }
        return writes;
    }

    // What the module holds in its calibration registers.
    Block moduleAcc {};
    Block moduleGyro {};
    Block moduleMag {};
    // Off: reads stay unanswered until the test feeds an answer itself.
    bool autoAnswer = true;
    // A module that acknowledges nothing and keeps its calibration registers.
    bool ignoreCalibrationWrites = false;
    QList<int> unansweredReads;

    DurUzaBackend backend;
    QList<QByteArray> frames;
    int nonFiniteWrites = 0;

private:
    Block *moduleBlock(int address)
    {
        if (address == 55)
            return &moduleAcc;
        if (address == 103)
            return &moduleGyro;
        if (address == 127)
            return &moduleMag;
        return nullptr;
    }

    void playModule(const QByteArray &frame)
    {
        if (frame.size() < 4 || quint8(frame[0]) != 0xAA)
            return;
        const int address = quint8(frame[2]);
        Block *held = moduleBlock(address);
        if (!held)
            return;
        if (frame[1] == 0 && !ignoreCalibrationWrites) {
            const Block written = blockOf(frame);
            std::copy_n(written.begin(), quint8(frame[3]) / 4, held->begin());
        } else if (frame[1] == 1 && autoAnswer) {
            unansweredReads << address;
        }
    }

    void sample(int address, const QVector3D &v, double fullScale, int times)
    {
        const QByteArray frame = backendtest::dataFrame(address,
            backendtest::le16s(
                {raw(v.x(), fullScale), raw(v.y(), fullScale), raw(v.z(), fullScale)}));
        for (int i = 0; i < times; ++i) {
            answerReads();
            backendtest::feed(backend, frame);
        }
    }
};

// The six position readings an ideal accelerometer gives, in prompt order.
inline std::array<QVector3D, 6> idealPositions(float g)
{
    return {QVector3D(0, 0, g), QVector3D(0, 0, -g), QVector3D(0, g, 0), QVector3D(0, -g, 0),
        QVector3D(g, 0, 0), QVector3D(-g, 0, 0)};
}

// Points spread evenly over an axis-aligned ellipsoid (a golden-angle spiral).
inline std::vector<QVector3D> ellipsoidPoints(
    int count, const QVector3D &centre, const QVector3D &semiAxes)
{
    std::vector<QVector3D> points;
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / count;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = golden * i;
        points.emplace_back(centre
            + QVector3D(float(r * std::cos(phi)), float(r * std::sin(phi)), float(z)) * semiAxes);
    }
    return points;
}

} // namespace workflowtest
