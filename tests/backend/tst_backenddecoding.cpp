// SPDX-License-Identifier: GPL-3.0-or-later
#include "backendtestsupport.h"

#include "moduledecoder.h"
#include "registerblocks.h"

#include <QMetaMethod>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <vector>

using namespace backendtest;

// Decoding of the register blocks, driven through the real frame cutter and dispatch.
class BackendDecodingTest : public QObject
{
    Q_OBJECT

private slots:
    void freshBackendHasCatalogueAndEmptyLive();
    void dispatchTableFollowsTheLinkBlocks();

    void sensorsRangeSetsFullScales_data();
    void sensorsRangeSetsFullScales();
    void versionPrecedesRangeInOnePass();
    void sampleBeforeRangeInSamePassIsDropped();

    void sensorSamplesScaleByTheirFullScale_data();
    void sensorSamplesScaleByTheirFullScale();
    void unknownRangeDropsSample_data();
    void unknownRangeDropsSample();
    void dataProblemNamesTheValueThatArrived_data();
    void dataProblemNamesTheValueThatArrived();
    void dataProblemOnlyForValuesThatArrived();

    void orientationScaling_data();
    void orientationScaling();
    void listsHoldLatestSampleOnly();
    void temperatureCutToHundredths_data();
    void temperatureCutToHundredths();
    void plainRegistersStoreTheirBytes_data();
    void plainRegistersStoreTheirBytes();
    void accMagEffLogsItsValue();
    void changedByteFlashesWholeBlockOnce();

    void testActionEmitsOnlySdmChanged();
    void randomFillMagScatterChangesNothing();
};

namespace {
// One spy per signal of the backend, to see which of them a call emits.
struct AllSignals
{
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    QStringList names;

    explicit AllSignals(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() != QMetaMethod::Signal)
                continue;
            spies.push_back(std::make_unique<QSignalSpy>(object, method));
            names << QString::fromLatin1(method.name());
        }
    }
    QStringList emitted() const
    {
        QStringList result;
        for (std::size_t i = 0; i < spies.size(); ++i) {
            if (!spies[i]->isEmpty())
                result << names.at(int(i));
        }
        return result;
    }
};
} // namespace

void BackendDecodingTest::freshBackendHasCatalogueAndEmptyLive()
{
    DurUzaBackend backend;
    QCOMPARE(backend.registers().size(), 61);
    QCOMPARE(backend.property("registers").value<QList<QObject *>>().size(), 61);
    QVERIFY(backend.accDataList().isEmpty());
    QVERIFY(backend.gyroDataList().isEmpty());
    QVERIFY(backend.magDataList().isEmpty());
    QVERIFY(backend.eulerDataList().isEmpty());
    QVERIFY(backend.quatDataList().isEmpty());
    QCOMPARE(backend.qQuat(), QQuaternion(1, 0, 0, 0));
    QCOMPARE(backend.magVect3(), QVector3D(0, 0, 0));
    QCOMPARE(backend.progressPercent(), 0.0);
    QVERIFY(backend.magScatterDataProxy() != nullptr);
    // What the interface reads goes through the meta-object, so check that path too.
    QCOMPARE(backend.property("magScatterDataProxy").value<QObject *>(),
        static_cast<QObject *>(backend.magScatterDataProxy()));
    QCOMPARE(backend.property("qQuat").value<QQuaternion>(), QQuaternion(1, 0, 0, 0));
    QCOMPARE(backend.property("progressPercent").toDouble(), 0.0);
    QCOMPARE(backend.magScatterDataProxy()->itemCount(), 0);
    QCOMPARE(backend.accFullScale(), -1.0f);
    QCOMPARE(backend.gyroFullScale(), -1.0f);
    QCOMPARE(backend.magFullScale(), -1.0f);
    QVERIFY(!backend.isConnected());
    for (QObject *object : backend.registers())
        QVERIFY(object->parent() == &backend);
}

void BackendDecodingTest::dispatchTableFollowsTheLinkBlocks()
{
    // The link dispatches by index; the decoder must read the same block there.
    QCOMPARE(int(registerBlocks.size()), decode::BlockCount);
    for (int i = 0; i < int(registerBlocks.size()); ++i) {
        QCOMPARE(int(decode::Blocks[i].span.address), int(registerBlocks[std::size_t(i)].start));
        QCOMPARE(int(decode::Blocks[i].span.count), int(registerBlocks[std::size_t(i)].length));
    }
    QCOMPARE(registerBlockAt(RegisterMap::Size), -1);
}

void BackendDecodingTest::sensorsRangeSetsFullScales_data()
{
    // priorRange < 0: no earlier range byte; otherwise one is decoded first under the
    // same version, to see which full scales a later code leaves as they were.
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("priorRange");
    QTest::addColumn<int>("range");
    QTest::addColumn<float>("acc");
    QTest::addColumn<float>("gyro");
    QTest::addColumn<float>("mag");
    QTest::newRow("1442 all codes 0") << 1442 << -1 << 0x00 << 20.f << 250.f << 2.f;
    QTest::newRow("1442 all codes 1") << 1442 << -1 << 0x15 << 40.f << 500.f << 8.f;
    QTest::newRow("1442 0x3F keeps mag, none before")
        << 1442 << -1 << 0x3F << 160.f << 2000.f << -1.f;
    QTest::newRow("1442 0x3F keeps mag from 0x01")
        << 1442 << 0x01 << 0x3F << 160.f << 2000.f << 8.f;
    QTest::newRow("1442 0x2A keeps mag from 0x00") << 1442 << 0x00 << 0x2A << 80.f << 1000.f << 2.f;
    QTest::newRow("2542 0x1C") << 2542 << -1 << 0x1C << 240.f << 2000.f << 8.f;
    QTest::newRow("2542 0x0B") << 2542 << -1 << 0x0B << 60.f << 1000.f << 8.f;
    QTest::newRow("2542 0x10") << 2542 << -1 << 0x10 << 120.f << 125.f << 8.f;
    QTest::newRow("2542 0x07 keeps gyro, none before") << 2542 << -1 << 0x07 << 30.f << -1.f << 8.f;
    QTest::newRow("2542 0x07 keeps gyro from 0x02") << 2542 << 0x02 << 0x07 << 30.f << 500.f << 8.f;
    QTest::newRow("2542 0x05 keeps gyro from 0x01") << 2542 << 0x01 << 0x05 << 30.f << 250.f << 8.f;
    QTest::newRow("other version") << 1000 << -1 << 0x00 << -1.f << -1.f << -1.f;
    QTest::newRow("version 0") << 0 << -1 << 0x1C << -1.f << -1.f << -1.f;
}

void BackendDecodingTest::sensorsRangeSetsFullScales()
{
    QFETCH(int, version);
    QFETCH(int, priorRange);
    QFETCH(int, range);
    QFETCH(float, acc);
    QFETCH(float, gyro);
    QFETCH(float, mag);
    DurUzaBackend backend;
    if (priorRange >= 0)
        setRange(backend, version, priorRange);
    setRange(backend, version, range);
    QCOMPARE(backend.accFullScale(), acc);
    QCOMPARE(backend.gyroFullScale(), gyro);
    QCOMPARE(backend.magFullScale(), mag);
    // Stored whatever the version.
    RegistryItemModel *rangeRegister = registerNamed(backend, "Sensors Range");
    QCOMPARE(rangeRegister->data().userType(), int(QMetaType::Int));
    QCOMPARE(rangeRegister->data().toInt(), range);
    QCOMPARE(registerNamed(backend, "Hardware Version")->data().toInt(), version);
}

void BackendDecodingTest::versionPrecedesRangeInOnePass()
{
    // One frame from address 0 to 54, as a read of the whole map delivers it: the
    // version block comes before the range block in the same dispatch pass.
    DurUzaBackend backend;
    QByteArray bytes(55, '\0');
    bytes.replace(2, 2, le16(1442));
    bytes[54] = char(0x3F);
    feed(backend, dataFrame(0, bytes));
    QCOMPARE(backend.accFullScale(), 160.f);
    QCOMPARE(backend.gyroFullScale(), 2000.f);
}

void BackendDecodingTest::sampleBeforeRangeInSamePassIsDropped()
{
    // The accelerometer block precedes the range block, so its sample in the same pass
    // meets an unknown range; the next sample is shown.
    DurUzaBackend backend;
    QByteArray bytes(55, '\0');
    bytes.replace(2, 2, le16(1442));
    bytes.replace(6, 6, le16s({16384, 0, 0}));
    QTest::ignoreMessage(QtDebugMsg, "ACC Range Unknown!");
    QTest::ignoreMessage(QtDebugMsg, "Gyro Range Unknown!");
    QTest::ignoreMessage(QtDebugMsg, "MAG Range Unknown!");
    QTest::ignoreMessage(QtDebugMsg, "ACC Range Unknown!"); // linear acceleration
    QTest::ignoreMessage(QtDebugMsg, "ACC Range Unknown!"); // gravity
    feed(backend, dataFrame(0, bytes));
    QVERIFY(backend.accDataList().isEmpty());
    feed(backend, dataFrame(6, le16s({16384, 0, 0})));
    QCOMPARE(floats(backend.accDataList()), (QList<float> {10.f, 0.f, 0.f}));
}

void BackendDecodingTest::sensorSamplesScaleByTheirFullScale_data()
{
    // Under 1442 with range 0x00: accelerometer 20, gyroscope 250, magnetometer 2.
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("firstRegister");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QList<float>>("expected");
    QTest::newRow("acc half scale")
        << 6 << "Accelerometer X" << le16s({16384, -16384, 0}) << QList<float> {10.f, -10.f, 0.f};
    QTest::newRow("acc extremes") << 6 << "Accelerometer X" << le16s({32767, -32768, 1})
                                  << QList<float> {float(32767 / 32768.0 * 20), -20.f,
                                         float(1 / 32768.0 * 20)};
    QTest::newRow("gyro") << 12 << "Gyroscope X" << le16s({16384, 32767, -32768})
                          << QList<float> {125.f, float(32767 / 32768.0 * 250), -250.f};
    QTest::newRow("mag") << 18 << "Magnetometer X" << le16s({16384, -8192, -32768})
                         << QList<float> {1.f, -0.5f, -2.f};
    QTest::newRow("linear acceleration")
        << 40 << "Linear Acceleration X" << le16s({8192, 0, -32768})
        << QList<float> {5.f, 0.f, -20.f};
    QTest::newRow("gravity") << 46 << "Gravity X" << le16s({0, 0, 16056})
                             << QList<float> {0.f, 0.f, float(16056 / 32768.0 * 20)};
}

void BackendDecodingTest::sensorSamplesScaleByTheirFullScale()
{
    QFETCH(int, address);
    QFETCH(QString, firstRegister);
    QFETCH(QByteArray, raw);
    QFETCH(QList<float>, expected);
    DurUzaBackend backend;
    setRange(backend, 1442, 0x00);
    feed(backend, dataFrame(address, raw));

    const int firstRow = backend.registers().indexOf(registerNamed(backend, firstRegister));
    QVERIFY(firstRow >= 0);
    for (int i = 0; i < 3; ++i) {
        auto *item = qobject_cast<RegistryItemModel *>(backend.registers().at(firstRow + i));
        QCOMPARE(item->data().userType(), int(QMetaType::Float));
        QCOMPARE(item->data().toFloat(), expected.at(i));
        QVERIFY(item->updated());
    }
    const QList<float> listed = address == 6 ? floats(backend.accDataList())
        : address == 12                      ? floats(backend.gyroDataList())
        : address == 18                      ? floats(backend.magDataList())
                                             : QList<float>();
    if (address <= 18) {
        QCOMPARE(listed, expected);
        for (const QVariant &v : (address == 6 ? backend.accDataList()
                     : address == 12           ? backend.gyroDataList()
                                               : backend.magDataList()))
            QCOMPARE(v.userType(), int(QMetaType::Float));
    }
    if (address == 18)
        QCOMPARE(backend.magVect3(), QVector3D(expected[0], expected[1], expected[2]));
}

void BackendDecodingTest::unknownRangeDropsSample_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("firstRegister");
    QTest::addColumn<QString>("message");
    QTest::newRow("acc") << 6 << "Accelerometer X"
                         << "ACC Range Unknown!";
    QTest::newRow("gyro") << 12 << "Gyroscope X"
                          << "Gyro Range Unknown!";
    QTest::newRow("mag") << 18 << "Magnetometer X"
                         << "MAG Range Unknown!";
    QTest::newRow("linear acceleration") << 40 << "Linear Acceleration X"
                                         << "ACC Range Unknown!";
    QTest::newRow("gravity") << 46 << "Gravity X"
                             << "ACC Range Unknown!";
}

void BackendDecodingTest::unknownRangeDropsSample()
{
    QFETCH(int, address);
    QFETCH(QString, firstRegister);
    QFETCH(QString, message);
    DurUzaBackend backend;
    // A version the backend cannot decode leaves every range unknown, too.
    setRange(backend, 1000, 0x00);
    AllSignals signalsSeen(&backend);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    feed(backend, dataFrame(address, le16s({16384, 16384, 16384})));
    QCOMPARE(signalsSeen.emitted(), QStringList());
    QVERIFY(backend.accDataList().isEmpty());
    QVERIFY(backend.gyroDataList().isEmpty());
    QVERIFY(backend.magDataList().isEmpty());
    QCOMPARE(backend.magVect3(), QVector3D(0, 0, 0));
    const int firstRow = backend.registers().indexOf(registerNamed(backend, firstRegister));
    for (int i = 0; i < 3; ++i) {
        auto *item = qobject_cast<RegistryItemModel *>(backend.registers().at(firstRow + i));
        QVERIFY(!item->updated());
        QCOMPARE(item->data(), QVariant(0));
    }
}

void BackendDecodingTest::dataProblemNamesTheValueThatArrived_data()
{
    // Each step is a "Hardware Version" and a "Sensors Range" in one pass, as a read
    // of the whole map brings them; the problem is what the page shows afterwards.
    QTest::addColumn<QList<QPoint>>("steps"); // (version, range)
    QTest::addColumn<QStringList>("problemParts"); // empty: no problem
    QTest::addColumn<int>("changes"); // dataProblemChanged over all steps
    QTest::newRow("1442, known codes") << QList<QPoint> {{1442, 0x15}} << QStringList() << 0;
    QTest::newRow("2542, known codes") << QList<QPoint> {{2542, 0x1C}} << QStringList() << 0;
    QTest::newRow("unknown version")
        << QList<QPoint> {{1234, 0x00}}
        << QStringList {"Hardware Version 1234", "not known", "cannot be scaled"} << 1;
    QTest::newRow("unknown magnetometer code, nothing to keep")
        << QList<QPoint> {{1442, 0x3F}}
        << QStringList {"Sensors Range 0x3F", "Hardware Version 1442",
               "magnetometer range code 3 is not known", "cannot be scaled"}
        << 1;
    QTest::newRow("unknown gyroscope code, nothing to keep")
        << QList<QPoint> {{2542, 0x07}}
        << QStringList {"Sensors Range 0x07", "gyroscope range code 7", "gyroscope data"} << 1;
    QTest::newRow("unknown code keeps an earlier full scale")
        << QList<QPoint> {{1442, 0x01}, {1442, 0x3F}} << QStringList() << 0;
    QTest::newRow("cleared by a known version")
        << QList<QPoint> {{1234, 0x00}, {1442, 0x00}} << QStringList() << 2;
    QTest::newRow("cleared by a known range")
        << QList<QPoint> {{1442, 0x02}, {1442, 0x01}} << QStringList() << 2;
    QTest::newRow("replaced by the next unknown version")
        << QList<QPoint> {{1442, 0x03}, {4242, 0x00}} << QStringList {"Hardware Version 4242"} << 2;
}

void BackendDecodingTest::dataProblemNamesTheValueThatArrived()
{
    QFETCH(QList<QPoint>, steps);
    QFETCH(QStringList, problemParts);
    QFETCH(int, changes);
    DurUzaBackend backend;
    QCOMPARE(backend.dataProblem(), QString());
    QSignalSpy problemChanges(&backend, &DurUzaBackend::dataProblemChanged);
    for (const QPoint &step : steps)
        setRange(backend, step.x(), step.y());
    const QString problem = backend.property("dataProblem").toString();
    QCOMPARE(problem.isEmpty(), problemParts.isEmpty());
    for (const QString &part : problemParts)
        QVERIFY2(problem.contains(part), qPrintable(problem));
    QCOMPARE(problemChanges.count(), changes);
}

void BackendDecodingTest::dataProblemOnlyForValuesThatArrived()
{
    DurUzaBackend backend;
    QSignalSpy problemChanges(&backend, &DurUzaBackend::dataProblemChanged);
    // A range byte before any version: not known yet, nothing to report, and the
    // samples are dropped as before.
    feed(backend, dataFrame(54, QByteArray(1, char(0x00))));
    QTest::ignoreMessage(QtDebugMsg, "ACC Range Unknown!");
    feed(backend, dataFrame(6, le16s({1, 2, 3})));
    QCOMPARE(backend.dataProblem(), QString());
    QCOMPARE(problemChanges.count(), 0);

    // An unknown version on its own is reported at once, and the range byte
    // that follows under it keeps the report.
    feed(backend, dataFrame(2, le16(999)));
    QVERIFY(backend.dataProblem().contains(QStringLiteral("Hardware Version 999")));
    feed(backend, dataFrame(54, QByteArray(1, char(0x00))));
    QVERIFY(backend.dataProblem().contains(QStringLiteral("Hardware Version 999")));
    QCOMPARE(problemChanges.count(), 1);

    // A known version alone clears it; samples still wait for the range.
    feed(backend, dataFrame(2, le16(2542)));
    QCOMPARE(backend.dataProblem(), QString());
    QCOMPARE(problemChanges.count(), 2);
    feed(backend, dataFrame(54, QByteArray(1, char(0x00))));
    feed(backend, dataFrame(6, le16s({16384, 0, 0})));
    QCOMPARE(floats(backend.accDataList()), (QList<float> {15.f, 0.f, 0.f}));
    QCOMPARE(problemChanges.count(), 2);
}

void BackendDecodingTest::orientationScaling_data()
{
    QTest::addColumn<QByteArray>("quatRaw");
    QTest::addColumn<QList<float>>("quat");
    QTest::addColumn<QByteArray>("eulerRaw");
    QTest::addColumn<QList<float>>("euler");
    QTest::newRow("identity, 45 degrees") << le16s({1000, 0, 0, 0}) << QList<float> {1, 0, 0, 0}
                                          << le16s({4500, 0, 0}) << QList<float> {45, 0, 0};
    QTest::newRow("half turn, negative angles")
        << le16s({0, 707, -707, 0}) << QList<float> {0, 0.707f, -0.707f, 0}
        << le16s({-18000, 9000, -1}) << QList<float> {-180, 90, -0.01f};
    QTest::newRow("extremes") << le16s({32767, -32768, 1, -1})
                              << QList<float> {32.767f, -32.768f, 0.001f, -0.001f}
                              << le16s({32767, -32768, 0}) << QList<float> {327.67f, -327.68f, 0};
}

void BackendDecodingTest::orientationScaling()
{
    QFETCH(QByteArray, quatRaw);
    QFETCH(QList<float>, quat);
    QFETCH(QByteArray, eulerRaw);
    QFETCH(QList<float>, euler);
    // Orientation needs no range byte: the divisors are fixed.
    DurUzaBackend backend;
    feed(backend, dataFrame(26, quatRaw + eulerRaw));
    QCOMPARE(floats(backend.quatDataList()), quat);
    QCOMPARE(backend.qQuat(), QQuaternion(quat[0], quat[1], quat[2], quat[3]));
    QCOMPARE(backend.qQuat().scalar(), quat[0]);
    QCOMPARE(floats(backend.eulerDataList()), euler);
    QCOMPARE(registerNamed(backend, "Quaternion1")->data().toFloat(), quat[1]);
    QCOMPARE(registerNamed(backend, "Euler Angle Yaw")->data().toFloat(), euler[2]);
}

void BackendDecodingTest::listsHoldLatestSampleOnly()
{
    DurUzaBackend backend;
    setRange(backend, 1442, 0x00);
    QSignalSpy acc(&backend, &DurUzaBackend::accDataListChanged);
    QSignalSpy gyro(&backend, &DurUzaBackend::gyroDataListChanged);
    QSignalSpy mag(&backend, &DurUzaBackend::magDataListChanged);
    QSignalSpy magVector(&backend, &DurUzaBackend::magVect3Changed);
    QSignalSpy quat(&backend, &DurUzaBackend::quatDataListChanged);
    QSignalSpy qQuat(&backend, &DurUzaBackend::qQuatChanged);
    QSignalSpy euler(&backend, &DurUzaBackend::eulerDataListChanged);
    const int samples = 5;
    for (int s = 1; s <= samples; ++s) {
        // Accelerometer to Euler angles, as one streamed measurement group.
        QByteArray group = le16s({s * 1638, 0, 0}) + le16s({s * 131, 0, 0})
            + le16s({s * 1638, 0, 0}) + le16(0) + le16s({1000, 0, 0, 0}) + le16s({s * 100, 0, 0});
        feed(backend, dataFrame(6, group));
        QCOMPARE(backend.accDataList().size(), 3);
        QCOMPARE(backend.gyroDataList().size(), 3);
        QCOMPARE(backend.magDataList().size(), 3);
        QCOMPARE(backend.quatDataList().size(), 4);
        QCOMPARE(backend.eulerDataList().size(), 3);
    }
    for (QSignalSpy *spy : {&acc, &gyro, &mag, &magVector, &quat, &qQuat, &euler})
        QCOMPARE(spy->count(), samples);
    QCOMPARE(backend.eulerDataList().at(0).toFloat(), 5.f);
    QCOMPARE(backend.accDataList().at(0).toFloat(), float(5 * 1638 / 32768.0 * 20));
}

void BackendDecodingTest::temperatureCutToHundredths_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("celsius");
    QTest::newRow("raw 0 is 25.00") << 0 << 25.00;
    QTest::newRow("one unit up") << 3268 << 35.00;
    QTest::newRow("one unit down") << -3268 << 15.00;
    QTest::newRow("cut, not rounded, up") << 100 << 25.30; // 25.30599...
    QTest::newRow("cut, not rounded, down") << -1 << 24.99; // 24.99694...
    QTest::newRow("most negative") << -32768 << -75.27; // -75.2693...
}

void BackendDecodingTest::temperatureCutToHundredths()
{
    QFETCH(int, raw);
    QFETCH(double, celsius);
    DurUzaBackend backend;
    feed(backend, dataFrame(24, le16(raw)));
    const QVariant value = registerNamed(backend, "Temperature")->data();
    QCOMPARE(value.userType(), int(QMetaType::Double));
    QCOMPARE(value.toDouble(), celsius);
}

void BackendDecodingTest::plainRegistersStoreTheirBytes_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("device id") << 0 << QByteArray::fromHex("A5") << "Device ID" << QVariant(0xA5);
    QTest::newRow("status") << 1 << QByteArray::fromHex("FF") << "Status" << QVariant(255);
    QTest::newRow("hardware version") << 2 << le16(2542) << "Hardware Version" << QVariant(2542);
    QTest::newRow("software version, no sign")
        << 4 << QByteArray::fromHex("FFFF") << "Software Version" << QVariant(65535);
    QTest::newRow("control1") << 52 << QByteArray::fromHex("0B") << "Control1" << QVariant(11);
    QTest::newRow("control2") << 53 << QByteArray::fromHex("80") << "Control2" << QVariant(128);
    // Reals at addresses that are not multiples of four.
    QTest::newRow("acc offset z") << 55
                                  << QByteArray::fromHex("00000000"
                                                         "00000000"
                                                         "000010C0")
                                  << "ACC Offset Z" << QVariant(-2.25f);
    QTest::newRow("acc scale factor8")
        << 67 << QByteArray(32, '\0') + QByteArray::fromHex("0000C03F") << "ACC Scale Factor8"
        << QVariant(1.5f);
    QTest::newRow("gyro offset x") << 103
                                   << QByteArray::fromHex("0000803F"
                                                          "00000000"
                                                          "00000000")
                                   << "Gyroscope Offset X" << QVariant(1.0f);
    QTest::newRow("gyro scale factor y") << 115
                                         << QByteArray::fromHex("00000000"
                                                                "00002040"
                                                                "00000000")
                                         << "Gyroscope Scale Factor Y" << QVariant(2.5f);
    QTest::newRow("mag offset y, two blanks") << 127
                                              << QByteArray::fromHex("00000000"
                                                                     "0000A0C0"
                                                                     "00000000")
                                              << "MAG  Offset Y" << QVariant(-5.0f);
    QTest::newRow("mag scale factor0")
        << 139 << QByteArray::fromHex("00000040") + QByteArray(32, '\0') << "MAG Scale Factor0"
        << QVariant(2.0f);
}

void BackendDecodingTest::plainRegistersStoreTheirBytes()
{
    QFETCH(int, address);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QVariant, expected);
    DurUzaBackend backend;
    feed(backend, dataFrame(address, bytes));
    RegistryItemModel *item = registerNamed(backend, name);
    QVERIFY(item);
    QVERIFY(item->updated());
    QCOMPARE(item->data().userType(), expected.userType());
    QCOMPARE(item->data(), expected);
}

void BackendDecodingTest::accMagEffLogsItsValue()
{
    DurUzaBackend backend;
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("accMagEffUpdated.*Acc Mag Eff Updated: 10$"));
    feed(backend, dataFrame(175, QByteArray::fromHex("0A")));
    QCOMPARE(registerNamed(backend, "ACC_MAG_EFF")->data(), QVariant(10));
}

void BackendDecodingTest::changedByteFlashesWholeBlockOnce()
{
    // Only the middle byte of the gyroscope offsets changes, in two frames before one
    // pass: the whole block is stored once, with the later value, and no other block.
    DurUzaBackend backend;
    QList<QSignalSpy *> spies;
    for (QObject *object : backend.registers())
        spies << new QSignalSpy(object, SIGNAL(dataChanged()));
    ComsProtocol *protocol = backend.comsHandler()->protocol();
    const QByteArray first = dataFrame(108, QByteArray::fromHex("11"));
    const QByteArray second = dataFrame(108, QByteArray::fromHex("22"));
    protocol->appendReceived(first.constData(), first.size());
    protocol->extractFrames();
    protocol->appendReceived(second.constData(), second.size());
    protocol->extractFrames();
    backend.comsHandler()->process();
    QStringList flashed;
    for (int row = 0; row < spies.size(); ++row) {
        if (spies[row]->count() > 0)
            flashed << QStringLiteral("%1x%2")
                           .arg(qobject_cast<RegistryItemModel *>(backend.registers()[row])
                                    ->registerName())
                           .arg(spies[row]->count());
    }
    qDeleteAll(spies);
    QCOMPARE(flashed,
        (QStringList {"Gyroscope Offset Xx1", "Gyroscope Offset Yx1", "Gyroscope Offset Zx1"}));
    quint8 expected[4] = {0, 0x22, 0, 0};
    QCOMPARE(registerNamed(backend, "Gyroscope Offset Y")->data().toFloat(), readF32(expected));
}

void BackendDecodingTest::testActionEmitsOnlySdmChanged()
{
    DurUzaBackend backend;
    AllSignals signalsSeen(&backend);
    backend.testAction();
    QCOMPARE(signalsSeen.emitted(), QStringList {"sdmChanged"});
}

void BackendDecodingTest::randomFillMagScatterChangesNothing()
{
    DurUzaBackend backend;
    AllSignals signalsSeen(&backend);
    backend.randomFillMagScatter();
    QCOMPARE(signalsSeen.emitted(), QStringList());
    QCOMPARE(backend.magScatterDataProxy()->itemCount(), 0);
}

QTEST_GUILESS_MAIN(BackendDecodingTest)
#include "tst_backenddecoding.moc"
