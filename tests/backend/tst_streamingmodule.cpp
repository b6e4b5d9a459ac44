// SPDX-License-Identifier: GPL-3.0-or-later
// The backend against a simulated module that already streams when the
// connection starts (as one left streaming by a Disconnect): its measurement
// bytes can look like the answer to the whole-map read, and must not be taken
// for the module's identity or its registers.
#include "backendtestsupport.h"

#include "modulesimulator.h"
#include "registerrows.h"

#include <QtTest>

#include <algorithm>

using namespace backendtest;

namespace {

constexpr int deviceId = 0x5A;
constexpr int hardwareVersion = 1442;
constexpr int softwareVersion = 210;

ModuleSimulator::Options streamingModule(quint64 seed, int control1)
{
    ModuleSimulator::Options options;
    options.identity.control1 = control1;
    options.sensorErrors = true;
    options.seed = seed;
    options.streamRate = 296; // the line limit: the most stream bytes per answer
    // Every streamed frame holds what looks like a whole-map answer header.
    options.lookalikeHeaders = true;
    options.motion = SimMotion::tumbling();
    return options;
}

QString writesText(const std::vector<SimRequest> &requests)
{
    QStringList out;
    for (const SimRequest &request : requests) {
        if (request.write)
            out << QStringLiteral("%1+%2").arg(request.address).arg(request.count);
    }
    return out.join(QStringLiteral(", "));
}

} // namespace

class StreamingModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void identityAndMapAreTheModulesOwn_data();
    void identityAndMapAreTheModulesOwn();
    void registerPageShowsTheStreamingModeTheModuleHolds();
};

void StreamingModuleTest::identityAndMapAreTheModulesOwn_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<int>("control1");
    for (quint64 seed = 1; seed <= 6; ++seed)
        QTest::addRow("mode 11, seed %llu", seed) << seed << 11;
    QTest::addRow("mode 12, seed 7") << quint64(7) << 12;
}

void StreamingModuleTest::identityAndMapAreTheModulesOwn()
{
    QFETCH(quint64, seed);
    QFETCH(int, control1);
    ModuleSimulator sim(streamingModule(seed, control1));
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    qputenv("VELMAR_EXTRA_PORTS", sim.slavePath().toLocal8Bit());

    DurUzaBackend backend;
    // Every value the identity rows take in this connection: none may be false.
    QStringList seen;
    for (const char *name : {"Device ID", "Hardware Version", "Software Version"}) {
        RegistryItemModel *row = registerNamed(backend, QLatin1String(name));
        connect(row, &RegistryItemModel::dataUpdatedFromModule, this, [&seen, row] {
            seen << row->registerName() + QLatin1Char('=') + row->data().toString();
        });
    }
    const int index = backend.availablePortsList().indexOf(sim.slavePath());
    QVERIFY(index >= 0);
    QSignalSpy refused(&backend, &DurUzaBackend::calibrationFailed);
    backend.connectClicked(index);
    // Nothing read yet: a calibration, which writes, does not start.
    QVERIFY(!backend.moduleIdentity().known);
    backend.gyroCalButton();
    QCOMPARE(refused.count(), 1);
    QVERIFY2(refused.at(0).at(1).toString().contains(QLatin1String("not confirmed")),
        qPrintable(refused.at(0).at(1).toString()));
    QTRY_VERIFY_WITH_TIMEOUT(backend.moduleIdentity().known, 15000);

    const CalIdentity identity = backend.moduleIdentity();
    QCOMPARE(identity.deviceId, deviceId);
    QCOMPARE(identity.hardwareVersion, hardwareVersion);
    QCOMPARE(identity.softwareVersion, softwareVersion);
    // The rows end with the module's values, and the calibration mirrors are its own.
    QTRY_COMPARE_WITH_TIMEOUT(
        registerNamed(backend, "Hardware Version")->data(), QVariant(hardwareVersion), 5000);
    QCOMPARE(registerNamed(backend, "Device ID")->data(), QVariant(deviceId));
    QCOMPARE(registerNamed(backend, "Software Version")->data(), QVariant(softwareVersion));
    const auto held = sim.registerImage();
    const auto image = backend.comsHandler()->registerImageSnapshot();
    QVERIFY2(std::equal(held.begin() + 55, held.end(), image.begin() + 55),
        "the calibration registers read are not the module's");
    QCOMPARE(backend.accFullScale(), 20.f);

    // Nothing but the connect sequence's switches of the stream was written.
    for (const SimRequest &request : sim.requests()) {
        QVERIFY2(!request.write || (request.address == 52 && request.count == 1),
            qPrintable(writesText(sim.requests())));
    }
    qunsetenv("VELMAR_EXTRA_PORTS");
    const int falseReads = seen.filter(QStringLiteral("Hardware Version=")).size()
        - seen.filter(QStringLiteral("Hardware Version=1442")).size();
    if (falseReads > 0)
        qInfo() << falseReads << "false map(s) read and replaced before confirming:" << seen;
}

void StreamingModuleTest::registerPageShowsTheStreamingModeTheModuleHolds()
{
    ModuleSimulator sim(streamingModule(1, 12));
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    qputenv("VELMAR_EXTRA_PORTS", sim.slavePath().toLocal8Bit());
    DurUzaBackend backend;
    QSignalSpy samples(&backend, &DurUzaBackend::eulerDataListChanged);
    backend.connectClicked(backend.availablePortsList().indexOf(sim.slavePath()));
    // Streaming in mode 11 (the Euler angles come only in it).
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 5, 15000);
    QCOMPARE(int(sim.registerImage()[52]), 11);
    QTRY_COMPARE_WITH_TIMEOUT(registerNamed(backend, "Control1")->data(), QVariant(11), 5000);

    // The calibration pages switch to mode 12: the row follows.
    backend.requestGyroOnly();
    QTRY_COMPARE_WITH_TIMEOUT(registerNamed(backend, "Control1")->data(), QVariant(12), 5000);
    QCOMPARE(int(sim.registerImage()[52]), 12);
    qunsetenv("VELMAR_EXTRA_PORTS");
}

QTEST_MAIN(StreamingModuleTest)
#include "tst_streamingmodule.moc"
