// SPDX-License-Identifier: GPL-3.0-or-later
// The status strip's controller with the real backend and link against the
// simulated module on a pseudo-terminal: its figures and warnings, that it
// rests while nothing changes, the port list and the user's pick, typed and
// remembered ports, and a module that vanishes and comes back: the same one
// is reconnected, another one is not written to.
#include "connectioncontroller.h"
#include "durUzaBackend.h"
#include "portwatcher.h"

#include "comshandler.h"
#include "serialports.h"
#include "sim.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<ModuleSimulator> startSim(
    const QString &linkPath, quint16 hardwareVersion = 1442, double rate = 50)
{
    ModuleSimulator::Options options;
    options.linkPath = linkPath;
    options.streamRate = rate;
    options.identity.hardwareVersion = hardwareVersion;
    auto sim = std::make_unique<ModuleSimulator>(options);
    if (!sim->start())
        return nullptr;
    return sim;
}

std::unique_ptr<QSettings> settingsIn(const QTemporaryDir &dir)
{
    return std::make_unique<QSettings>(
        dir.filePath(QStringLiteral("velmar.ini")), QSettings::IniFormat);
}

bool isWrite(const SimRequest &request)
{
    return request.write;
}

QString describe(const std::vector<SimRequest> &requests, std::size_t from)
{
    QStringList out;
    for (std::size_t i = from; i < requests.size(); ++i)
        out << QStringLiteral("%1 %2+%3")
                   .arg(requests[i].write ? "write" : "read")
                   .arg(requests[i].address)
                   .arg(requests[i].count);
    return out.join(QStringLiteral(", "));
}

} // namespace

class TestConnectionController : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        linkPath = dir.filePath(QStringLiteral("module"));
        QFile::remove(dir.filePath(QStringLiteral("velmar.ini")));
        qputenv("VELMAR_EXTRA_PORTS", linkPath.toLocal8Bit());
    }
    void cleanup()
    {
        qunsetenv("VELMAR_EXTRA_PORTS");
        setUserPortPaths({});
    }

    void figuresFollowTheModuleAndRestWhenNothingChanges();
    void stoppedDataIsReportedAndClearsWhenItFlowsAgain();
    void undecodableHardwareVersionIsNamed();
    void selectionFollowsItsPortAcrossListChanges();
    void typedPathIsListedAndConnects();
    void vanishedPathLeavesTheListOnRefresh();
    void lastPortIsRememberedAndPreselected();
    void portWatcherSignalsOnceForABurst();
    void vanishedPortThatReturnsWithTheSameModuleIsReconnected();
    void differentModuleOnThePathIsNotWrittenTo();
    void waitingCanBeStoppedAndTheSettingTurnsItOff();
    void differentModuleNoticeClearsWhenTheOriginalReturns();
    void connectAtStartOnlyToTheNamedOrRememberedPort_data();
    void connectAtStartOnlyToTheNamedOrRememberedPort();

private:
    QTemporaryDir dir;
    QString linkPath;
};

void TestConnectionController::figuresFollowTheModuleAndRestWhenNothingChanges()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    QVERIFY(connection);
    QCOMPARE(backend.connection(), static_cast<QObject *>(connection));
    QVERIFY(!connection->linkOpen());
    QVERIFY(!connection->isSampling());

    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->linkOpen(), 10000);
    QCOMPARE(connection->port(), linkPath);
    QTRY_COMPARE_WITH_TIMEOUT(
        connection->identityText(), QString("ID 0x5A · HW 1442 · SW 210"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(
        connection->rangesText(), QString("Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2 gauss"), 10000);
    // 50 streamed frames of 37 bytes a second.
    QTRY_VERIFY_WITH_TIMEOUT(
        connection->framesPerSecond() >= 40 && connection->framesPerSecond() <= 60, 10000);
    QVERIFY2(connection->bytesPerSecond() >= 40 * 37 && connection->bytesPerSecond() <= 60 * 37,
        qPrintable(QString::number(connection->bytesPerSecond())));
    QCOMPARE(connection->statusMessage(), QString("none"));
    QCOMPARE(connection->cutFrames(), qint64(0));
    QCOMPARE(connection->warning(), QString());

    // Twice a second at most, however fast the frames come.
    QSignalSpy figures(connection, &ConnectionController::figuresChanged);
    QTRY_VERIFY_WITH_TIMEOUT(figures.count() >= 2, 5000);
    QElapsedTimer clock;
    clock.start();
    figures.clear();
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 3000, 10000);
    QVERIFY2(figures.count() <= 3000 / ConnectionController::SampleIntervalMs + 1,
        qPrintable(QString::number(figures.count())));

    // Disconnected, nothing runs and nothing changes.
    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(0);
    QVERIFY(closed.wait(10000));
    QVERIFY(!connection->linkOpen());
    QVERIFY(!connection->isSampling());
    figures.clear();
    QVERIFY(!figures.wait(1500));
    QCOMPARE(connection->framesPerSecond(), 0);
}

void TestConnectionController::stoppedDataIsReportedAndClearsWhenItFlowsAgain()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);
    QCOMPARE(connection->warning(), QString());

    QSignalSpy warnings(connection, &ConnectionController::warningChanged);
    sim->stall(4000);
    QVERIFY(warnings.wait(5000));
    QVERIFY2(connection->warning().startsWith("No data from the module since"),
        qPrintable(connection->warning()));
    // Said once, not again while it stays so.
    QVERIFY(!warnings.wait(1200));
    QCOMPARE(warnings.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(connection->framesPerSecond(), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(connection->warning(), QString(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);

    // Streaming switched off on purpose (the register page's Read) is no stall.
    backend.requestAllData();
    QTRY_COMPARE_WITH_TIMEOUT(connection->framesPerSecond(), 0, 10000);
    QVERIFY(!warnings.wait(1500));
    QCOMPARE(connection->warning(), QString());
}

void TestConnectionController::undecodableHardwareVersionIsNamed()
{
    auto sim = startSim(linkPath, 9999);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->warning().contains("Hardware Version 9999"), 10000);
    QCOMPARE(connection->identityText(), QString("ID 0x5A · HW 9999 · SW 210"));
    // The frames keep coming; only their values cannot be shown.
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);
    QCOMPARE(connection->rangesText(), QString());
}

void TestConnectionController::selectionFollowsItsPortAcrossListChanges()
{
    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-a:/tmp/velmar-b");
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->refresh();
    const int b = connection->portNames().indexOf("/tmp/velmar-b");
    QVERIFY(b > 0);
    connection->selectIndex(b);
    QCOMPARE(connection->selectedIndex(), b);

    QSignalSpy selected(connection, &ConnectionController::selectedIndexChanged);
    QSignalSpy ports(connection, &ConnectionController::portsChanged);
    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-c:/tmp/velmar-a:/tmp/velmar-b");
    connection->refresh();
    QCOMPARE(ports.count(), 1);
    QCOMPARE(connection->ports().at(connection->selectedIndex()), QString("/tmp/velmar-b"));
    QVERIFY(selected.count() >= 1);

    // Gone: the first entry is shown, the pick is kept for when it is back.
    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-c");
    connection->refresh();
    QCOMPARE(connection->ports().at(connection->selectedIndex()), connection->ports().first());
    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-c:/tmp/velmar-b");
    connection->refresh();
    QCOMPARE(connection->ports().at(connection->selectedIndex()), QString("/tmp/velmar-b"));

    // Nothing changed, nothing said.
    ports.clear();
    selected.clear();
    connection->refresh();
    QCOMPARE(ports.count(), 0);
    QCOMPARE(selected.count(), 0);
}

void TestConnectionController::typedPathIsListedAndConnects()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    qunsetenv("VELMAR_EXTRA_PORTS");
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    QVERIFY(!connection->portNames().contains(linkPath));

    // No such device: refused, and said why.
    QCOMPARE(connection->usePath(dir.filePath("nothing-here")), -1);
    QVERIFY2(
        connection->notice().contains("There is no device at"), qPrintable(connection->notice()));
    QCOMPARE(connection->usePath("   "), -1);

    const int index = connection->usePath("  " + linkPath + " ");
    QVERIFY(index >= 0);
    QCOMPARE(connection->ports().at(index), linkPath);
    QCOMPARE(connection->selectedIndex(), index);
    // Typed again, or as its list entry: the same entry, not a second one.
    QCOMPARE(connection->usePath(linkPath), index);
    QCOMPARE(connection->ports().count(linkPath), 1);

    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    backend.connectClicked(index);
    QVERIFY(samples.wait(10000));
    QCOMPARE(connection->port(), linkPath);
}

// A link that led to a device and went (a simulator that ended) is not
// offered any more; one named before anything is there stays, so that
// Connect can say why it cannot be opened; one that comes back is listed.
void TestConnectionController::vanishedPathLeavesTheListOnRefresh()
{
    const QString never = dir.filePath(QStringLiteral("never-there"));
    QFile device(linkPath);
    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();
    qputenv("VELMAR_EXTRA_PORTS", (linkPath + QLatin1Char(':') + never).toLocal8Bit());
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->refresh();
    QVERIFY(connection->portNames().contains(linkPath));
    QVERIFY(connection->portNames().contains(never));
    // A path has nothing but its path to show.
    QCOMPARE(connection->portDetails().size(), connection->ports().size());
    QCOMPARE(connection->portDetails().at(connection->portNames().indexOf(linkPath)), QString());

    QVERIFY(QFile::remove(linkPath));
    QSignalSpy changed(connection, &ConnectionController::portsChanged);
    connection->refresh();
    QCOMPARE(changed.count(), 1);
    QVERIFY(!connection->portNames().contains(linkPath));
    QVERIFY(connection->portNames().contains(never));
    QCOMPARE(connection->portDetails().size(), connection->ports().size());
    // Entry for entry with what Connect opens.
    QCOMPARE(backend.portNamesListed(), connection->portNames());

    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();
    connection->refresh();
    QVERIFY(connection->portNames().contains(linkPath));
    QVERIFY(QFile::remove(linkPath));
}

void TestConnectionController::lastPortIsRememberedAndPreselected()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    qputenv("VELMAR_EXTRA_PORTS", ("/tmp/velmar-first:" + linkPath).toLocal8Bit());
    {
        DurUzaBackend backend;
        ConnectionController *connection = backend.connectionController();
        connection->attachToApplication(settingsIn(dir));
        // Nothing remembered yet: the first entry.
        QCOMPARE(connection->selectedIndex(), 0);
        QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);
        backend.connectClicked(connection->portNames().indexOf(linkPath));
        QVERIFY(opened.wait(10000));
        QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
        backend.connectClicked(0);
        QVERIFY(closed.wait(10000));
    }
    QCOMPARE(settingsIn(dir)->value("ports/last").toString(), linkPath);
    {
        DurUzaBackend backend;
        ConnectionController *connection = backend.connectionController();
        connection->attachToApplication(settingsIn(dir));
        QCOMPARE(connection->ports().at(connection->selectedIndex()), linkPath);
        // --port wins over the remembered one.
        connection->preselectPort("/tmp/velmar-first");
        QCOMPARE(connection->ports().at(connection->selectedIndex()), QString("/tmp/velmar-first"));
    }
    // A remembered path the system does not list comes back as the user's path.
    qunsetenv("VELMAR_EXTRA_PORTS");
    {
        DurUzaBackend backend;
        ConnectionController *connection = backend.connectionController();
        QVERIFY(!connection->portNames().contains(linkPath));
        connection->attachToApplication(settingsIn(dir));
        QCOMPARE(connection->ports().at(connection->selectedIndex()), linkPath);
    }
    QFile::remove(dir.filePath(QStringLiteral("velmar.ini")));
}

void TestConnectionController::portWatcherSignalsOnceForABurst()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PortWatcher watcher;
    watcher.watchPortsIn({folder.filePath("module"), "ttyS0"});
    QVERIFY(watcher.watchedFolders().contains("/dev"));
    QVERIFY(watcher.watchedFolders().contains(QDir::cleanPath(folder.path())));
    QSignalSpy changed(&watcher, &PortWatcher::pathsMayHaveChanged);
    QSignalSpy devices(&watcher, &PortWatcher::portsMayHaveChanged);
    for (int i = 0; i < 20; ++i) {
        QFile file(folder.filePath(QString("device%1").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(changed.wait(5000));
    QVERIFY(!changed.wait(PortWatcher::SettleMs * 3));
    QCOMPARE(changed.count(), 1);
    // Only /dev asks for the ports to be enumerated again.
    QCOMPARE(devices.count(), 0);

    // A folder no port lives in any more is let go.
    watcher.watchPortsIn({});
    QCOMPARE(watcher.watchedFolders(), QStringList {"/dev"});
}

void TestConnectionController::vanishedPortThatReturnsWithTheSameModuleIsReconnected()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(settingsIn(dir));
    QVERIFY(connection->autoReconnect());
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 5, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(connection->identity().complete(), 10000);

    QSignalSpy reconnected(connection, &ConnectionController::reconnected);
    sim->unplug(-1);
    QTRY_VERIFY_WITH_TIMEOUT(connection->waitingForPort(), 10000);
    QVERIFY(!backend.isConnected());
    QVERIFY2(connection->notice().contains("Waiting for it to come back"),
        qPrintable(connection->notice()));
    const std::size_t before = sim->requests().size();

    sim->replug();
    QVERIFY(reconnected.wait(10000));
    QCOMPARE(reconnected.at(0).at(0).toString(), linkPath);
    QVERIFY(backend.isConnected());
    QVERIFY(!connection->waitingForPort() && !connection->checkingModule());
    QVERIFY2(connection->notice().startsWith("Reconnected to " + linkPath),
        qPrintable(connection->notice()));
    samples.clear();
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 5, 10000);

    // The module heard a read of its identity first, and the connect sequence
    // (which begins with a write) only after that.
    const std::vector<SimRequest> requests = sim->requests();
    QVERIFY(requests.size() > before + 1);
    const SimRequest &first = requests[before];
    QVERIFY2(!first.write && first.address == 0 && first.count == 6,
        qPrintable(describe(requests, before)));
    QVERIFY2(requests[before + 1].write, qPrintable(describe(requests, before)));
}

void TestConnectionController::differentModuleOnThePathIsNotWrittenTo()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(settingsIn(dir));
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->identity().complete(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);

    sim->unplug(-1);
    QTRY_VERIFY_WITH_TIMEOUT(connection->waitingForPort(), 10000);
    // Another module on the same path: another hardware version.
    sim->setHardwareVersion(2542);
    const std::size_t before = sim->requests().size();
    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    QSignalSpy reconnected(connection, &ConnectionController::reconnected);
    sim->replug();
    QTRY_VERIFY_WITH_TIMEOUT(connection->notice().startsWith("A different module"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000);
    QVERIFY2(connection->notice().contains("HW 2542") && connection->notice().contains("HW 1442"),
        qPrintable(connection->notice()));
    QVERIFY(connection->noticeIsWarning());
    QCOMPARE(reconnected.count(), 0);
    QVERIFY(!backend.isConnected());
    QVERIFY(!connection->waitingForPort());

    // The module's own log: one read of its identity, no write at all.
    const std::vector<SimRequest> requests = sim->requests();
    QCOMPARE(requests.size(), before + 1);
    QVERIFY(std::none_of(requests.begin() + std::ptrdiff_t(before), requests.end(), isWrite));
    QCOMPARE(requests[before].address, quint8(0));
    QCOMPARE(requests[before].count, quint8(6));
}

void TestConnectionController::waitingCanBeStoppedAndTheSettingTurnsItOff()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(settingsIn(dir));
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->identity().complete(), 10000);
    sim->unplug(-1);
    QTRY_VERIFY_WITH_TIMEOUT(connection->waitingForPort(), 10000);
    connection->cancelReconnect();
    QVERIFY(!connection->waitingForPort());
    QCOMPARE(connection->notice(), QString());

    // With the setting off a lost port is only reported.
    connection->setAutoReconnect(false);
    QCOMPARE(settingsIn(dir)->value("connection/autoReconnect").toBool(), false);
    sim->replug();
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    // Streaming: the connect sequence has gone out whole.
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);
    const std::size_t before = sim->requests().size();
    sim->unplug(300);
    QVERIFY(errors.wait(10000));
    QVERIFY(!connection->waitingForPort());
    QTRY_VERIFY_WITH_TIMEOUT(sim->isPlugged(), 10000);
    QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);
    QVERIFY(!opened.wait(2000));
    QCOMPARE(sim->requests().size(), before);
    QFile::remove(dir.filePath(QStringLiteral("velmar.ini")));
}

void TestConnectionController::differentModuleNoticeClearsWhenTheOriginalReturns()
{
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(settingsIn(dir));
    backend.connectClicked(connection->portNames().indexOf(linkPath));
    QTRY_VERIFY_WITH_TIMEOUT(connection->identity().complete(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(connection->framesPerSecond() > 20, 10000);

    sim->unplug(-1);
    QTRY_VERIFY_WITH_TIMEOUT(connection->waitingForPort(), 10000);
    sim->setHardwareVersion(2542);
    sim->replug();
    QTRY_VERIFY_WITH_TIMEOUT(connection->notice().startsWith("A different module"), 10000);
    QVERIFY(!backend.isConnected());

    // The other module is taken away: the notice no longer holds.
    sim->unplug(-1);
    QTRY_VERIFY_WITH_TIMEOUT(connection->waitingForPort(), 10000);
    QVERIFY2(
        !connection->notice().contains("A different module"), qPrintable(connection->notice()));
    QVERIFY2(connection->notice().contains("HW 1442"), qPrintable(connection->notice()));

    // The first module comes back: reconnected, and the window says so.
    sim->setHardwareVersion(1442);
    QSignalSpy reconnected(connection, &ConnectionController::reconnected);
    sim->replug();
    QVERIFY(reconnected.wait(15000));
    QVERIFY(backend.isConnected());
    QVERIFY2(connection->notice().startsWith("Reconnected to " + linkPath),
        qPrintable(connection->notice()));
}

void TestConnectionController::connectAtStartOnlyToTheNamedOrRememberedPort_data()
{
    // "module": the simulator's path; "gone": a path with nothing there.
    QTest::addColumn<QString>("remembered"); // empty: nothing remembered
    QTest::addColumn<bool>("portOption"); // whether --port was given
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("notice"); // empty: connects to the module
    QTest::newRow("nothing named or remembered") << "" << false << ""
                                                 << "no port was named";
    QTest::newRow("empty --port") << "" << true << ""
                                  << "--port names no port";
    QTest::newRow("blank --port beats the remembered one") << "module" << true << "  "
                                                           << "--port names no port";
    QTest::newRow("remembered port gone") << "gone" << false << ""
                                          << "is not there";
    QTest::newRow("named port gone") << "module" << true << "gone"
                                     << "is not there";
    QTest::newRow("remembered port there") << "module" << false << ""
                                           << "";
    QTest::newRow("named port there") << "" << true << "module"
                                      << "";
}

void TestConnectionController::connectAtStartOnlyToTheNamedOrRememberedPort()
{
    QFETCH(QString, remembered);
    QFETCH(bool, portOption);
    QFETCH(QString, port);
    QFETCH(QString, notice);
    const QString gone = dir.filePath(QStringLiteral("gone"));
    const auto pathOf = [&](const QString &name) {
        return name == "module" ? linkPath : name == "gone" ? gone : name;
    };
    auto sim = startSim(linkPath);
    QVERIFY(sim);
    if (!remembered.isEmpty())
        settingsIn(dir)->setValue("ports/last", pathOf(remembered));

    // As velmar-imu --connect [--port ...] starts, and as its live page then presses Connect.
    DurUzaBackend backend;
    ConnectionController *connection = backend.connectionController();
    connection->attachToApplication(settingsIn(dir));
    QVERIFY(connection->portNames().contains(linkPath));
    if (portOption)
        connection->preselectPort(pathOf(port));
    connection->setConnectOnStart(true);
    const bool connects = connection->takeConnectOnStart();
    if (connects)
        backend.connectClicked(connection->selectedIndex());
    QVERIFY2(!connection->takeConnectOnStart(), "--connect is taken once");

    if (notice.isEmpty()) {
        QVERIFY2(connects, qPrintable(connection->notice()));
        QTRY_COMPARE_WITH_TIMEOUT(connection->port(), linkPath, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!sim->requests().empty(), 10000);
        return;
    }
    QVERIFY2(!connects, "connected although no usable port was named");
    QVERIFY(!backend.isConnected());
    QVERIFY2(connection->notice().contains(notice), qPrintable(connection->notice()));
    QVERIFY(connection->noticeIsWarning());
    if (notice == "is not there")
        QVERIFY2(connection->notice().contains(gone), qPrintable(connection->notice()));
    QVERIFY(sim->requests().empty());
}

QTEST_GUILESS_MAIN(TestConnectionController)
#include "tst_connectioncontroller.moc"
