// SPDX-License-Identifier: GPL-3.0-or-later
#include "backendtestsupport.h"

#include "linkmonitor.h"
#include "moduleidentity.h"
#include "registerdecoder.h"
#include "restoreoffers.h"

#include <QSignalSpy>
#include <QtTest>

// The pieces behind the backend on their own: the decoder that turns register
// blocks into values, the identity of the module on the line, and the restore
// offers that wait for that module.
class BackendPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void decoderHandsOnSamplesOnlyWhileTheRangeIsKnown();
    void identityIsKnownOnlyOnceAllThreeAreReadInThisConnection();
    void identityReadWhileStreamingNeedsASecondReadThatAgrees_data();
    void identityReadWhileStreamingNeedsASecondReadThatAgrees();
    void streamedHeadersInAMapAreFound();
    void offersAreShownOnlyToTheSameModuleOnTheSamePort();
    void linkMonitorReadsTheModuleThroughItsSourcesAlone();
};

namespace {

using namespace RegisterMap;

// Block indices in address order, as the link dispatches them.
constexpr int hardwareVersionBlock = 2;
constexpr int accBlock = 4;
constexpr int sensorsRangeBlock = 14;

const quint8 *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const quint8 *>(bytes.constData());
}

RegistryItemModel *rowAt(const RegisterObjects &rows, int address)
{
    return rows[std::size_t(registerRowAt(address))];
}

CalIdentity identityOf(int deviceId, int hardwareVersion, int softwareVersion)
{
    CalIdentity identity;
    identity.known = true;
    identity.deviceId = deviceId;
    identity.hardwareVersion = hardwareVersion;
    identity.softwareVersion = softwareVersion;
    return identity;
}

} // namespace

void BackendPartsTest::decoderHandsOnSamplesOnlyWhileTheRangeIsKnown()
{
    QObject owner;
    const RegisterObjects rows = createRegisterObjects(&owner);
    RegisterDecoder decoder(rows);
    QSignalSpy samples(&decoder, &RegisterDecoder::accDecoded);
    const QByteArray raw = backendtest::le16s({16384, -16384, 0});
    decoder.decode(accBlock, bytesOf(raw));
    QCOMPARE(samples.count(), 0);
    QVERIFY(!rowAt(rows, Acc.address)->updated());

    decoder.decode(hardwareVersionBlock, bytesOf(backendtest::le16(1442)));
    decoder.decode(sensorsRangeBlock, bytesOf(QByteArray(1, '\0')));
    QCOMPARE(decoder.fullScales().acc, 20.0f);
    decoder.decode(accBlock, bytesOf(raw));
    QCOMPARE(samples.count(), 1);
    QCOMPARE(samples.first().at(0).value<QVector3D>(), QVector3D(10.0f, -10.0f, 0.0f));
    // The registers are stored before the sample goes on.
    QCOMPARE(rowAt(rows, Acc.address)->data().toFloat(), 10.0f);

    // Another module: its samples wait for its own range.
    decoder.forgetFullScales();
    decoder.decode(accBlock, bytesOf(raw));
    QCOMPARE(samples.count(), 1);
    // An unknown block index is no crash and no sample.
    decoder.decode(decode::BlockCount, bytesOf(raw));
    decoder.decode(-1, bytesOf(raw));
    QCOMPARE(samples.count(), 1);
}

void BackendPartsTest::identityIsKnownOnlyOnceAllThreeAreReadInThisConnection()
{
    QObject owner;
    const RegisterObjects rows = createRegisterObjects(&owner);
    ModuleIdentity identity(rows);
    QSignalSpy complete(&identity, &ModuleIdentity::complete);
    identity.linkOpened(QStringLiteral("/dev/ttyA"));
    rowAt(rows, DeviceId.address)->setDataFromModule(0x42);
    rowAt(rows, HardwareVersion.address)->setDataFromModule(1442);
    QVERIFY(!identity.current().known);
    QCOMPARE(complete.count(), 0);
    rowAt(rows, SoftwareVersion.address)->setDataFromModule(0x0102);
    QCOMPARE(complete.count(), 1);
    QVERIFY(identity.current() == identityOf(0x42, 1442, 0x0102));
    QCOMPARE(identity.port(), QStringLiteral("/dev/ttyA"));

    identity.linkLost();
    QVERIFY(!identity.current().known);
    QVERIFY(identity.port().isEmpty());
    // What an earlier connection read does not count for this one.
    identity.linkOpened(QStringLiteral("/dev/ttyA"));
    rowAt(rows, SoftwareVersion.address)->setDataFromModule(0x0102);
    QVERIFY(!identity.current().known);
    QCOMPARE(complete.count(), 1);
}

void BackendPartsTest::identityReadWhileStreamingNeedsASecondReadThatAgrees_data()
{
    // The identities the module's answers give, one per read, and what becomes of them.
    QTest::addColumn<QList<int>>("deviceIds"); // hardware 1442, software 0x0102 throughout
    QTest::addColumn<QStringList>("reads"); // what the identity asked the module for
    QTest::addColumn<int>("known"); // the device id confirmed, -1 none
    QTest::addColumn<bool>("gaveUp");
    QTest::newRow("agrees at once")
        << QList<int> {0x42, 0x42} << QStringList {"0+176"} << 0x42 << false;
    QTest::newRow("false map, then the module's own")
        << QList<int> {0xFF, 0x42, 0x42, 0x42} << QStringList {"0+176", "0+176", "0+176"} << 0x42
        << false;
    QTest::newRow("never agrees") << QList<int> {1, 2, 3, 4, 5, 6, 7,
        8} << QStringList {"0+176", "0+176", "0+176", "0+176", "0+176", "0+176", "0+176"}
                                  << -1 << true;
}

void BackendPartsTest::identityReadWhileStreamingNeedsASecondReadThatAgrees()
{
    QFETCH(QList<int>, deviceIds);
    QFETCH(QStringList, reads);
    QFETCH(int, known);
    QFETCH(bool, gaveUp);
    QObject owner;
    const RegisterObjects rows = createRegisterObjects(&owner);
    ModuleIdentity identity(rows);
    QStringList asked;
    identity.setReader([&asked](RegisterSpan span) {
        asked << QStringLiteral("%1+%2").arg(span.address).arg(span.count);
    });
    identity.setSuspicion([] { return true; });
    QSignalSpy complete(&identity, &ModuleIdentity::complete);
    QSignalSpy refused(&identity, &ModuleIdentity::notConfirmed);
    identity.linkOpened(QStringLiteral("/dev/ttyA"));
    for (const int deviceId : deviceIds) {
        rowAt(rows, DeviceId.address)->setDataFromModule(deviceId);
        rowAt(rows, HardwareVersion.address)->setDataFromModule(1442);
        rowAt(rows, SoftwareVersion.address)->setDataFromModule(0x0102);
    }
    QCOMPARE(asked, reads);
    QCOMPARE(identity.current().known, known >= 0);
    QCOMPARE(complete.count(), known >= 0 ? 1 : 0);
    if (known >= 0)
        QVERIFY(identity.current() == identityOf(known, 1442, 0x0102));
    QCOMPARE(refused.count(), gaveUp ? 1 : 0);
}

void BackendPartsTest::streamedHeadersInAMapAreFound()
{
    QByteArray map(176, char(0x11));
    const auto holds = [&map] {
        return ModuleIdentity::holdsStreamedHeader(
            reinterpret_cast<const quint8 *>(map.constData()), map.size());
    };
    QVERIFY(!holds());
    map.replace(100, 3, QByteArray::fromHex("BB0622"));
    QVERIFY(holds());
    map.replace(100, 3, QByteArray::fromHex("BB0612"));
    QVERIFY(!holds());
    // Mode 12's block, right at the end.
    map.replace(173, 3, QByteArray::fromHex("BB060C"));
    QVERIFY(holds());
}

void BackendPartsTest::offersAreShownOnlyToTheSameModuleOnTheSamePort()
{
    RestoreOffers offers;
    QSignalSpy changed(&offers, &RestoreOffers::changed);
    const CalIdentity module = identityOf(0x42, 1442, 0x0102);
    CalSavedParams saved;
    saved.valid = true;
    saved.block = {0.5f, -0.5f, 0.25f, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    saved.at = QDateTime::currentDateTime();
    saved.identity = module;
    offers.offer(CalSensor::Gyro, QStringLiteral("/dev/ttyA"), saved);
    QVERIFY(offers.isPending(CalSensor::Gyro));
    QVERIFY(!offers.isShown(CalSensor::Gyro));
    QVERIFY(offers.list().isEmpty());

    offers.showFor(QStringLiteral("/dev/ttyB"), module);
    offers.showFor(QStringLiteral("/dev/ttyA"), identityOf(0x42, 1442, 0x0103));
    offers.showFor(QStringLiteral("/dev/ttyA"), CalIdentity());
    QVERIFY(offers.list().isEmpty());
    QCOMPARE(changed.count(), 0);

    offers.showFor(QStringLiteral("/dev/ttyA"), module);
    QCOMPARE(changed.count(), 1);
    const QVariantList list = offers.list();
    QCOMPARE(list.size(), 1);
    const QVariantMap offer = list.first().toMap();
    QCOMPARE(offer.value(QStringLiteral("sensor")).toString(), QStringLiteral("gyroscope"));
    // Only the floats the gyroscope keeps.
    QCOMPARE(offer.value(QStringLiteral("values")).toList(), QVariantList({0.5, -0.5, 0.25}));
    offers.showFor(QStringLiteral("/dev/ttyA"), module);
    QCOMPARE(changed.count(), 1);

    offers.hideAll();
    QCOMPARE(changed.count(), 2);
    QVERIFY(offers.list().isEmpty());
    QVERIFY(offers.isPending(CalSensor::Gyro));
    offers.hideAll();
    QCOMPARE(changed.count(), 2);

    offers.showFor(QStringLiteral("/dev/ttyA"), module);
    const CalSavedParams taken = offers.take(CalSensor::Gyro);
    QCOMPARE(taken.block, keptPart(CalSensor::Gyro, saved.block));
    QVERIFY(!offers.isPending(CalSensor::Gyro));
    QVERIFY(offers.list().isEmpty());
    QCOMPARE(changed.count(), 4);
}

QTEST_GUILESS_MAIN(BackendPartsTest)
void BackendPartsTest::linkMonitorReadsTheModuleThroughItsSourcesAlone()
{
    // No backend: the rows, the decoder and the link the monitor is given are all it reads.
    QObject owner;
    const RegisterObjects rows = createRegisterObjects(&owner);
    RegisterDecoder decoder(rows);
    ComsHandler coms;
    bool magCalibrated = false;
    LinkMonitor monitor({&coms, &rows, &decoder, [&magCalibrated] { return magCalibrated; }});

    QSignalSpy identity(&monitor, &LinkMonitor::identityRead);
    rowAt(rows, DeviceId.address)->setDataFromModule(0x41);
    QCOMPARE(identity.count(), 1);
    QCOMPARE(monitor.identity().deviceId, 0x41);

    // The decoder's data problem becomes the warning while a link is open.
    monitor.opened(QStringLiteral("/dev/ttyPARTS"));
    QSignalSpy warnings(&monitor, &LinkMonitor::warningChanged);
    decoder.decode(hardwareVersionBlock, bytesOf(backendtest::le16(1234)));
    decoder.decode(sensorsRangeBlock, bytesOf(QByteArray(1, '\0')));
    QVERIFY2(!decoder.dataProblem().isEmpty(), "an unknown hardware version is a data problem");
    QVERIFY2(warnings.count() >= 1, "the monitor did not follow the decoder's data problem");
    QVERIFY2(monitor.warning().contains(decoder.dataProblem()), qPrintable(monitor.warning()));

    // A known version clears it, and the warning with it.
    decoder.decode(hardwareVersionBlock, bytesOf(backendtest::le16(1442)));
    decoder.decode(sensorsRangeBlock, bytesOf(QByteArray(1, '\0')));
    QCOMPARE(decoder.dataProblem(), QString());
    QVERIFY2(!monitor.warning().contains(QStringLiteral("1234")), qPrintable(monitor.warning()));
}

#include "tst_backendparts.moc"
