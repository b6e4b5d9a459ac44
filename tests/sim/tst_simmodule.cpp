// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated module without I/O: register map, requests, streaming frames,
// full scales and the sensor model.

#include "sim.h"

#include <registercatalogue.h>

#include <QtTest>

#include <cmath>

namespace {

qint16 rawAt(const QByteArray &frame, int address)
{
    const int at = 3 + address - quint8(frame[1]);
    return readI16(reinterpret_cast<const quint8 *>(frame.constData()) + at);
}

std::array<double, 3> decoded(const QByteArray &frame, int address, double fullScale)
{
    return {rawAt(frame, address) / 32768.0 * fullScale,
        rawAt(frame, address + 2) / 32768.0 * fullScale,
        rawAt(frame, address + 4) / 32768.0 * fullScale};
}

QByteArray floats(std::initializer_list<double> values)
{
    QByteArray bytes;
    for (double v : values) {
        quint8 b[4];
        writeF32(b, float(v));
        bytes.append(reinterpret_cast<const char *>(b), 4);
    }
    return bytes;
}

Mat3 inverse(const Mat3 &a)
{
    const auto &m = a.m;
    const double c00 = m[4] * m[8] - m[5] * m[7], c01 = m[5] * m[6] - m[3] * m[8],
                 c02 = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * c00 + m[1] * c01 + m[2] * c02;
    return {{c00 / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
        c01 / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det, c02 / det,
        (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det}};
}

QByteArray matrixBytes(const Mat3 &m)
{
    return floats({m.m[0], m.m[1], m.m[2], m.m[3], m.m[4], m.m[5], m.m[6], m.m[7], m.m[8]});
}

void compareVec(
    const std::array<double, 3> &actual, const std::array<double, 3> &expected, double tolerance)
{
    for (int i = 0; i < 3; ++i) {
        if (std::abs(actual[std::size_t(i)] - expected[std::size_t(i)]) > tolerance)
            QFAIL(qPrintable(QStringLiteral("axis %1: %2 instead of %3")
                                 .arg(i)
                                 .arg(actual[std::size_t(i)])
                                 .arg(expected[std::size_t(i)])));
    }
}

} // namespace

class TestSimModule : public QObject
{
    Q_OBJECT

private slots:
    void startsWithIdentityAndFactoryDefaults()
    {
        SimIdentity id;
        id.hardwareVersion = 2542;
        id.sensorsRange = 0x1C;
        SimModule module(id);
        const auto &image = module.image();
        QCOMPARE(readU16(&image[2]), quint16(2542));
        QCOMPARE(image[0], id.deviceId);
        const auto defaults = defaultBlock();
        for (int a = 52; a < 176; ++a)
            QCOMPARE(
                image[std::size_t(a)], a == 0x36 ? quint8(0x1C) : defaults[std::size_t(a - 52)]);
        QCOMPARE(module.streamMode(), SimModule::StreamMode::Off); // factory Control1 0x85 is quiet
    }

    void readAnswersOnlyBytesThatExist_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("answered");
        QTest::newRow("whole map") << 0 << 176 << 176;
        QTest::newRow("past the end from 0") << 0 << 255 << 176;
        QTest::newRow("measurements") << 6 << 34 << 34;
        QTest::newRow("range byte") << 54 << 1 << 1;
        QTest::newRow("last byte") << 0xAF << 1 << 1;
        QTest::newRow("last byte and beyond") << 0xAF << 10 << 1;
        QTest::newRow("two before the end, five asked") << 0xAE << 5 << 2;
        QTest::newRow("start just past the end") << 0xB0 << 1 << 0;
        QTest::newRow("start far past the end") << 0xFF << 255 << 0;
        QTest::newRow("nothing asked") << 10 << 0 << 0;
    }
    void readAnswersOnlyBytesThatExist()
    {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, answered);
        SimModule module;
        const QByteArray frame = module.answerRead(quint8(address), quint8(count), 1.0);
        QCOMPARE(frame.size(), 3 + answered);
        QCOMPARE(quint8(frame[0]), quint8(0xBB));
        QCOMPARE(quint8(frame[1]), quint8(address));
        QCOMPARE(quint8(frame[2]), quint8(answered));
        QCOMPARE(frame.mid(3),
            QByteArray(reinterpret_cast<const char *>(module.image().data()) + address, answered));
    }

    void writeStoresOnlyWritableBytes_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("length");
        QTest::newRow("identity") << 0 << 6;
        QTest::newRow("measurements") << 6 << 46;
        QTest::newRow("across the boundary") << 48 << 8;
        QTest::newRow("calibration block") << 55 << 48;
        QTest::newRow("last byte and beyond") << 0xAF << 5;
        QTest::newRow("start past the end") << 0xB5 << 4;
        QTest::newRow("all writable") << 52 << 124;
    }
    void writeStoresOnlyWritableBytes()
    {
        QFETCH(int, address);
        QFETCH(int, length);
        SimModule module;
        module.setHardwareVersion(0); // no range layout: writing range bytes changes nothing else
        const auto before = module.image();
        QByteArray data;
        for (int i = 0; i < length; ++i)
            data.append(char(0xC0 + i % 16));
        module.applyWrite(quint8(address), data);
        const auto after = module.image();
        for (int a = 0; a < 176; ++a) {
            const bool written = a >= 52 && a >= address && a < address + length;
            const quint8 expected = written ? quint8(data[a - address]) : before[std::size_t(a)];
            if (a >= 6 && a < 52)
                continue; // live bytes move with the sensors anyway
            QVERIFY2(
                after[std::size_t(a)] == expected, qPrintable(QStringLiteral("address %1").arg(a)));
        }
    }

    void control1SelectsTheStream_data()
    {
        QTest::addColumn<int>("control1");
        QTest::addColumn<int>("count"); // data bytes per streamed frame, 0 = none
        QTest::newRow("stop") << 0 << 0;
        QTest::newRow("all measurements") << 11 << 34;
        QTest::newRow("accelerometer and gyroscope") << 12 << 12;
        QTest::newRow("factory default") << 0x85 << 0;
        QTest::newRow("other") << 13 << 0;
    }
    void control1SelectsTheStream()
    {
        QFETCH(int, control1);
        QFETCH(int, count);
        SimModule module;
        module.applyWrite(0x34, QByteArray(1, char(control1)));
        const QByteArray frame = module.streamFrame(0.5);
        if (count == 0) {
            QVERIFY(frame.isEmpty());
            return;
        }
        QCOMPARE(frame.size(), 3 + count);
        QCOMPARE(quint8(frame[1]), quint8(0x06));
        QCOMPARE(quint8(frame[2]), quint8(count));
    }

    void stampReplacesRawGyroscopeX()
    {
        SimModule module;
        module.applyWrite(0x34, QByteArray(1, char(12)));
        QCOMPARE(rawAt(module.streamFrame(0.1, 1234), 0x0C), qint16(1234));
        QCOMPARE(rawAt(module.streamFrame(0.1, 32767), 0x0C), qint16(32767));
    }

    void rangeByteGivesFullScales_data()
    {
        QTest::addColumn<int>("hardware");
        QTest::addColumn<int>("range");
        QTest::addColumn<double>("acc");
        QTest::addColumn<double>("gyro");
        QTest::addColumn<double>("mag");
        // The previous full scales are 1, 2, 3 so that "unchanged" shows.
        QTest::newRow("1442 zero") << 1442 << 0x00 << 20.0 << 250.0 << 2.0;
        QTest::newRow("1442 mag code 1") << 1442 << 0x15 << 40.0 << 500.0 << 8.0;
        QTest::newRow("1442 all codes 3") << 1442 << 0x3F << 160.0 << 2000.0 << 3.0;
        QTest::newRow("1442 mag code 2") << 1442 << 0x2A << 80.0 << 1000.0 << 3.0;
        QTest::newRow("2542 acc 3 gyro 4") << 2542 << 0x1C << 240.0 << 2000.0 << 8.0;
        QTest::newRow("2542 gyro code 7") << 2542 << 0x07 << 30.0 << 2.0 << 8.0;
        QTest::newRow("2542 gyro code 0") << 2542 << 0x08 << 60.0 << 125.0 << 8.0;
        QTest::newRow("unknown hardware") << 1000 << 0x3F << 1.0 << 2.0 << 3.0;
    }
    void rangeByteGivesFullScales()
    {
        QFETCH(int, hardware);
        QFETCH(int, range);
        const SimFullScales s
            = SimModule::decodeRange(quint16(hardware), quint8(range), SimFullScales {1, 2, 3});
        QTEST(s.acc, "acc");
        QTEST(s.gyro, "gyro");
        QTEST(s.mag, "mag");
    }

    void writingTheRangeReencodesTheReadings()
    {
        SimModule module;
        module.applyWrite(0x34, QByteArray(1, char(11)));
        const qint16 at20 = rawAt(module.streamFrame(0.1), 0x0A);
        module.applyWrite(0x36, QByteArray(1, char(0x10))); // accelerometer full scale 40
        QCOMPARE(module.fullScales().acc, 40.0);
        const qint16 at40 = rawAt(module.streamFrame(0.1), 0x0A);
        QCOMPARE(at20, SensorModel::encode(SensorModel::gravity, 20));
        QCOMPARE(at40, SensorModel::encode(SensorModel::gravity, 40));
    }

    void poseReadsGravityOnTheNamedAxis_data()
    {
        QTest::addColumn<int>("pose");
        QTest::addColumn<int>("axis");
        QTest::addColumn<double>("sign");
        QTest::newRow("Z-Up") << int(SimPose::ZUp) << 2 << 1.0;
        QTest::newRow("Z-Down") << int(SimPose::ZDown) << 2 << -1.0;
        QTest::newRow("Y-Up") << int(SimPose::YUp) << 1 << 1.0;
        QTest::newRow("Y-Down") << int(SimPose::YDown) << 1 << -1.0;
        QTest::newRow("X-Up") << int(SimPose::XUp) << 0 << 1.0;
        QTest::newRow("X-Down") << int(SimPose::XDown) << 0 << -1.0;
    }
    void poseReadsGravityOnTheNamedAxis()
    {
        QFETCH(int, pose);
        QFETCH(int, axis);
        QFETCH(double, sign);
        SimModule module;
        module.sensors().setMotion(SimMotion::still(SimPose(pose), 30), 0);
        module.applyWrite(0x34, QByteArray(1, char(11)));
        const QByteArray frame = module.streamFrame(2.0);
        std::array<double, 3> expected {0, 0, 0};
        expected[std::size_t(axis)] = sign * SensorModel::gravity;
        const double lsb = 20.0 / 32768;
        compareVec(decoded(frame, 0x06, 20), expected, lsb);
        compareVec(decoded(frame, 0x0C, 250), {0, 0, 0}, 0); // held still
        // The module's gravity register agrees with its accelerometer.
        const QByteArray all = module.answerRead(0x2E, 6, 2.0);
        compareVec(decoded(all, 0x2E, 20), expected, lsb);
    }

    void orientationOutputsAgreeWithTheReadings()
    {
        SimModule module;
        module.sensors().setMotion(SimMotion::rotating(SimPose::YUp, {1, 2, 3}, 40), 0);
        module.applyWrite(0x34, QByteArray(1, char(11)));
        for (double t : {0.0, 1.3, 2.7, 5.1}) {
            const QByteArray frame = module.streamFrame(t);
            const Quat q = Quat {rawAt(frame, 0x1A) / 1000.0, rawAt(frame, 0x1C) / 1000.0,
                rawAt(frame, 0x1E) / 1000.0, rawAt(frame, 0x20) / 1000.0}
                               .normalized();
            // Gravity seen through the module's quaternion is what its accelerometer reads.
            const Vec3 g = q.rotateInverse({0, 0, SensorModel::gravity});
            compareVec(decoded(frame, 0x06, 20), {g.x, g.y, g.z}, 0.03);
            // Euler angles (z-y-x) describe the same rotation.
            const double roll = rawAt(frame, 0x22) / 100.0 * degToRad,
                         pitch = rawAt(frame, 0x24) / 100.0 * degToRad,
                         yaw = rawAt(frame, 0x26) / 100.0 * degToRad;
            const Quat e = Quat::fromAxisAngle({0, 0, 1}, yaw)
                * Quat::fromAxisAngle({0, 1, 0}, pitch) * Quat::fromAxisAngle({1, 0, 0}, roll);
            QVERIFY2(std::abs(std::abs(e.w * q.w + e.x * q.x + e.y * q.y + e.z * q.z) - 1) < 1e-4,
                qPrintable(QStringLiteral("t = %1").arg(t)));
            // A turn about a body axis reads as that axis times the rate.
            const double n = std::sqrt(14.0);
            compareVec(decoded(frame, 0x0C, 250), {40 / n, 80 / n, 120 / n}, 0.02);
        }
    }

    void earthFieldHasRealisticSizeAndInclination()
    {
        SimModule module;
        module.sensors().setMotion(SimMotion::tumbling(), 0);
        for (double t : {0.0, 7.0, 19.0}) {
            const SimTruth truth = module.truth(t);
            const Vec3 m {truth.mag[0], truth.mag[1], truth.mag[2]},
                a {truth.acc[0], truth.acc[1], truth.acc[2]};
            QVERIFY(std::abs(m.norm() - 0.5) < 1e-9);
            // The field dips below the horizon: its angle to "up" is 90 + 55 degrees.
            QVERIFY(
                std::abs(std::acos(m.dot(a) / (m.norm() * a.norm())) * radToDeg - 145.0) < 1e-6);
        }
    }

    void tumbleCoversEveryDirectionWithinAMinute()
    {
        SensorModel model;
        model.setMotion(SimMotion::tumbling(), 0);
        std::vector<Vec3> ups, fields;
        for (double t = 0; t < 60; t += 0.05) {
            const SimTruth truth = model.truth(t, SensorModel::Correction(), SimFullScales());
            ups.push_back(Vec3 {truth.acc[0], truth.acc[1], truth.acc[2]}.normalized());
            fields.push_back(Vec3 {truth.mag[0], truth.mag[1], truth.mag[2]}.normalized());
        }
        // Every one of 200 evenly spread directions has a sample within 20 degrees.
        const double golden = simPi * (3 - std::sqrt(5.0));
        for (int i = 0; i < 200; ++i) {
            const double z = 1 - 2 * (i + 0.5) / 200, r = std::sqrt(1 - z * z);
            const Vec3 d {r * std::cos(golden * i), r * std::sin(golden * i), z};
            for (const auto *samples : {&ups, &fields}) {
                double best = -1;
                for (const Vec3 &s : *samples)
                    best = std::max(best, s.dot(d));
                QVERIFY2(best > std::cos(20 * degToRad),
                    qPrintable(QStringLiteral("direction %1").arg(i)));
            }
        }
    }

    void factoryCalibrationSendsTheRawDistortedValues()
    {
        SimModule module;
        SimSensorErrors errors = SimSensorErrors::generate(3);
        errors.accNoise = errors.gyroNoise = errors.magNoise = 0;
        module.sensors().setErrors(errors);
        module.sensors().setErrorsEnabled(true);
        module.sensors().setMotion(SimMotion::rotating(SimPose::XDown, {0, 1, 0}, 20), 0);
        module.applyWrite(0x34, QByteArray(1, char(11)));
        const QByteArray frame = module.streamFrame(1.5);
        const SimTruth truth = module.truth(1.5);
        compareVec(decoded(frame, 0x06, 20), truth.accSensed, 20.0 / 32768);
        compareVec(decoded(frame, 0x0C, 250), truth.gyroSensed, 250.0 / 32768);
        compareVec(decoded(frame, 0x12, 2), truth.magSensed, 2.0 / 32768);
        QVERIFY(std::abs(truth.accSensed[0] - truth.acc[0]) > 0.01); // the errors are there
    }

    void goodCalibrationRegistersGiveTheTrueValues()
    {
        SimModule module;
        SimSensorErrors errors = SimSensorErrors::generate(4, true);
        errors.accNoise = errors.gyroNoise = errors.magNoise = 0;
        module.sensors().setErrors(errors);
        module.sensors().setErrorsEnabled(true);
        module.sensors().setMotion(SimMotion::tumbling(), 0);
        const auto &b = errors.accBias, &g = errors.gyroBias, &s = errors.gyroScale,
                   &h = errors.magHardIron;
        module.applyWrite(
            55, floats({b[0], b[1], b[2]}) + matrixBytes(inverse(Mat3 {errors.accMatrix})));
        module.applyWrite(103, floats({g[0], g[1], g[2], 1 / s[0], 1 / s[1], 1 / s[2]}));
        module.applyWrite(
            127, floats({h[0], h[1], h[2]}) + matrixBytes(inverse(Mat3 {errors.magSoftIron})));
        module.applyWrite(0x34, QByteArray(1, char(11)));
        for (double t : {0.5, 3.0, 11.0}) {
            const QByteArray frame = module.streamFrame(t);
            const SimTruth truth = module.truth(t);
            // Within the float rounding of the registers and one step of the encoding.
            compareVec(decoded(frame, 0x06, 20), truth.acc, 2e-3);
            compareVec(decoded(frame, 0x0C, 250), truth.gyro, 2e-2);
            compareVec(decoded(frame, 0x12, 2), truth.mag, 2e-4);
            compareVec(truth.accOutput, truth.acc, 1e-4);
        }
    }

    void sensorErrorsAreReproducibleAndRealistic()
    {
        const SimSensorErrors a = SimSensorErrors::generate(11), b = SimSensorErrors::generate(11),
                              c = SimSensorErrors::generate(12),
                              r = SimSensorErrors::generate(11, true);
        QCOMPARE(a.accBias, b.accBias);
        QCOMPARE(a.magSoftIron, b.magSoftIron);
        QVERIFY(a.accBias != c.accBias);
        for (quint64 seed = 1; seed < 50; ++seed) {
            const SimSensorErrors e = SimSensorErrors::generate(seed);
            for (int i = 0; i < 3; ++i) {
                QVERIFY(std::abs(e.accBias[std::size_t(i)]) <= 0.5);
                QVERIFY(std::abs(e.accMatrix[std::size_t(4 * i)] - 1) <= 0.03);
                QVERIFY(std::abs(e.gyroBias[std::size_t(i)]) <= 3.0);
                QVERIFY(e.magSoftIron[std::size_t(i * 3 + (i + 1) % 3)] == 0); // on the body axes
            }
        }
        // A rotated soft iron is still symmetric, but no longer diagonal.
        QVERIFY(std::abs(r.magSoftIron[1]) + std::abs(r.magSoftIron[2]) + std::abs(r.magSoftIron[5])
            > 1e-3);
        QVERIFY(std::abs(r.magSoftIron[1] - r.magSoftIron[3]) < 1e-12);
    }

    void noiseOnlyWhileErrorsAreOn()
    {
        SimModule module;
        module.sensors().setErrors(SimSensorErrors::generate(2));
        module.applyWrite(0x34, QByteArray(1, char(12)));
        QCOMPARE(module.streamFrame(1.0), module.streamFrame(1.0));
        module.sensors().setErrorsEnabled(true);
        QVERIFY(module.streamFrame(1.0) != module.streamFrame(1.0));
    }
};

QTEST_GUILESS_MAIN(TestSimModule)
#include "tst_simmodule.moc"
