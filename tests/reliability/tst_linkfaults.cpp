// SPDX-License-Identifier: GPL-3.0-or-later
// Faults around the connection, with the real backend and link against the
// simulated module on a pseudo-terminal: a module that vanishes mid-stream, a
// port another process holds, fast connect/disconnect cycles with delayed
// writes pending, Connect with no port selected, and requests while no link is up.

#include "sim.h"

#include <durUzaBackend.h>

#include "comshandler.h"
#include "delayedwrite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "registryitemmodel.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

namespace {

// Generous: a write may wait up to about 3 s for a port being opened; anything
// longer means the GUI thread is stuck.
constexpr qint64 longestAllowedGapMs = 3500;
// A request that waits for a port sleeps a whole second first.
constexpr qint64 promptReturnMs = 900;

// Measures how long the event loop of this thread goes without running a timer.
class GapMonitor
{
public:
    GapMonitor()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestGapMs() const { return std::max(m_longest, m_clock.elapsed() - m_last); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

std::unique_ptr<ModuleSimulator> startSim(const QString &linkPath = QString())
{
    ModuleSimulator::Options options;
    options.linkPath = linkPath;
    options.streamRate = 50;
    auto sim = std::make_unique<ModuleSimulator>(options);
    if (!sim->start())
        return nullptr;
    return sim;
}

int pendingDelayedWrites(DurUzaBackend &backend)
{
    return backend.comsHandler()->findChildren<DelayedWrite *>().size();
}

int portIndex(DurUzaBackend &backend, const QString &path)
{
    return int(backend.availablePortsList().indexOf(path));
}

// Only the connect sequence and its streaming switch may reach the module: a
// torn or interleaved frame would show up here as some other request.
bool isConnectSequenceRequest(const SimRequest &r)
{
    if (r.write)
        return r.address == 0x34 && r.count == 1
            && (r.data == QByteArray(1, char(0)) || r.data == QByteArray(1, char(11)));
    return (r.address == 0 && r.count == 176) || (r.address == 6 && r.count == 34);
}

// Calls each request the interface can make while no link is up; returns the
// longest time one of them held the caller.
qint64 longestRequestCall(DurUzaBackend &backend)
{
    const std::function<void()> requests[] = {
        [&] { backend.requestAllData(); },
        [&] { backend.requestChartData(); },
        [&] { backend.requestAccOnly(); },
        [&] { backend.requestGyroOnly(); },
        [&] { backend.requestMagOnly(); },
        [&] { backend.requestRangeData(); },
        [&] { backend.resetDefaults(); },
        [&] { backend.writeRegisterText(0x34, "11"); },
    };
    qint64 longest = 0;
    for (const auto &request : requests) {
        QElapsedTimer call;
        call.start();
        request();
        longest = std::max(longest, call.elapsed());
    }
    return longest;
}

// Body of the helper process that holds a port: "lock" opens it as any Qt
// program does (lock file, then an exclusive open), "exclusive" only opens the
// device and sets TIOCEXCL, as programs that know no lock files do.
int holdPort(const char *path, const std::string &how)
{
    std::unique_ptr<QSerialPort> port;
    int fd = -1;
    if (how == "lock") {
        port = std::make_unique<QSerialPort>(QString::fromLocal8Bit(path));
        if (!port->open(QIODevice::ReadWrite)) {
            std::printf("failed: %s\n", qPrintable(port->errorString()));
            return 1;
        }
    } else {
        fd = ::open(path, O_RDWR | O_NOCTTY);
        if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0) {
            std::printf("failed: %s\n", std::strerror(errno));
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line); // until the test closes our input
    if (fd >= 0)
        ::close(fd);
    return 0;
}

// A module played by the test on a pseudo-terminal: it sees every byte the link
// sends and answers only what the test writes.
class PtyModule
{
public:
    PtyModule()
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        m_path = QString::fromLocal8Bit(::ttyname(m_slave));
        termios settings {};
        ::tcgetattr(m_slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(m_slave, TCSANOW, &settings);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyModule()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    bool isOpen() const { return m_master >= 0 && !m_path.isEmpty(); }
    QString path() const { return m_path; }
    bool write(const QByteArray &data)
    {
        return ::write(m_master, data.constData(), size_t(data.size())) == ssize_t(data.size());
    }
    QByteArray received()
    {
        char buffer[512];
        ssize_t n;
        while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
            m_received.append(buffer, int(n));
        return m_received;
    }
    void forget()
    {
        received();
        m_received.clear();
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_received;
};

QByteArray hexBytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

const QByteArray mapRead = hexBytes("AA0100B0");
const QByteArray streamingOn = hexBytes("AA0034010B");

// The whole-map answer of a module with that identity and range byte; the
// calibration mirrors hold a pattern of their own.
QByteArray mapAnswer(int deviceId, int hardwareVersion, int sensorsRange)
{
    QByteArray map(176, char(0x01));
    map[0] = char(deviceId);
    map[2] = char(hardwareVersion & 0xFF);
    map[3] = char(hardwareVersion >> 8);
    map[0x34] = char(0);
    map[0x36] = char(sensorsRange);
    for (int a = 0x37; a < 0xAF; ++a)
        map[a] = char(0x10 + a % 0x40);
    return hexBytes("BB00B0") + map;
}

// A measurement block as streamed in mode 11, accelerometer X at `accX`.
QByteArray streamedFrame(qint16 accX)
{
    QByteArray block(34, char(0x02));
    block[0] = char(accX & 0xFF);
    block[1] = char((accX >> 8) & 0xFF);
    return hexBytes("BB0622") + block;
}

RegistryItemModel *registerAt(DurUzaBackend &backend, int address)
{
    const QList<QObject *> rows = backend.registers();
    for (QObject *object : rows) {
        auto *row = qobject_cast<RegistryItemModel *>(object);
        if (row && row->address() == address)
            return row;
    }
    return nullptr;
}

} // namespace

class LinkFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("VELMAR_EXTRA_PORTS"); }

    void vanishedModuleIsReportedAndConnectsAgainWhenBack();
    void portHeldByAnotherProcessIsReported_data();
    void portHeldByAnotherProcessIsReported();
    void quickConnectCyclesWithPendingWritesKeepTheGuiResponsive();
    void connectWithNoPortSelectedReportsAndSendsNothing_data();
    void connectWithNoPortSelectedReportsAndSendsNothing();
    void requestsWhileDisconnectedReturnPromptly_data();
    void requestsWhileDisconnectedReturnPromptly();
    void connectOpensThePortPickedNotTheIndexInANewList_data();
    void connectOpensThePortPickedNotTheIndexInANewList();
    void frameCutByDisconnectDoesNotReachTheNextConnection();
    void noiseLikeAHeaderWritesNothing_data();
    void noiseLikeAHeaderWritesNothing();
    void lateErrorOfAnAbandonedAttemptKeepsTheNewConnection();
};

void LinkFaultsTest::vanishedModuleIsReportedAndConnectsAgainWhenBack()
{
    // The symbolic link stays put across the replug, as a device name does.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("module");
    auto sim = startSim(path);
    QVERIFY(sim);
    qputenv("VELMAR_EXTRA_PORTS", path.toLocal8Bit());
    DurUzaBackend backend;
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    const int index = portIndex(backend, path);
    QVERIFY(index >= 0);
    backend.connectClicked(index);
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 5, 10000);

    sim->unplug(1000);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), path);
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());
    QVERIFY(!backend.isConnected());
    // The backend keeps what it had and keeps serving the interface.
    QCOMPARE(backend.accDataList().size(), 3);
    QCOMPARE(backend.registers().size(), 61);

    QTRY_VERIFY_WITH_TIMEOUT(sim->isPlugged(), 10000);
    const quint64 streamedBefore = sim->counters().intactStreamFrames;
    samples.clear();
    backend.connectClicked(portIndex(backend, path));
    QVERIFY(backend.isConnected());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 5, 10000);
    QVERIFY(sim->counters().intactStreamFrames > streamedBefore);
    QCOMPARE(errors.count(), 1);

    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(index);
    QVERIFY(closed.wait(10000));
}

void LinkFaultsTest::portHeldByAnotherProcessIsReported_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("holder takes the lock file") << "lock";
    QTest::newRow("holder only opens exclusively") << "exclusive";
}

void LinkFaultsTest::portHeldByAnotherProcessIsReported()
{
    QFETCH(QString, how);
    // Root passes an exclusive open (TIOCEXCL) regardless; only the lock file
    // that Qt's serial ports share keeps it out then.
    if (how == "exclusive" && ::geteuid() == 0)
        QSKIP("root is not kept out by TIOCEXCL");

    auto sim = startSim();
    QVERIFY(sim);
    const QString path = sim->slavePath();
    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QCoreApplication::applicationFilePath(), {"--hold-port", path, how});
    QVERIFY(holder.waitForStarted(10000));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    qputenv("VELMAR_EXTRA_PORTS", path.toLocal8Bit());
    DurUzaBackend backend;
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    const int index = portIndex(backend, path);
    QVERIFY(index >= 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("link error"));
    backend.connectClicked(index);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.at(0).at(0).toString(), path);
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());
    QVERIFY(!backend.isConnected());
    QCOMPARE(sim->counters().requestsHandled, quint64(0));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);

    // Once the other program let go, Connect works.
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    backend.connectClicked(index);
    QVERIFY(backend.isConnected());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 3, 10000);
    QCOMPARE(errors.count(), 1);
    backend.connectClicked(index);
}

void LinkFaultsTest::quickConnectCyclesWithPendingWritesKeepTheGuiResponsive()
{
    auto sim = startSim();
    QVERIFY(sim);
    qputenv("VELMAR_EXTRA_PORTS", sim->slavePath().toLocal8Bit());
    DurUzaBackend backend;
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    const int index = portIndex(backend, sim->slavePath());
    QVERIFY(index >= 0);

    GapMonitor gaps;
    constexpr int cycles = 100;
    for (int i = 0; i < cycles; ++i) {
        backend.connectClicked(index);
        QVERIFY(backend.isConnected());
        // Disconnect at once, or while the delayed read (500 ms) or the
        // streaming switch (600 ms) of this or an earlier cycle is due.
        QTest::qWait((i % 4) * 200);
        backend.connectClicked(index);
        QVERIFY(!backend.isConnected());
        QTest::qWait(i % 3 == 0 ? 0 : 50);
    }
    QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 20000);
    qInfo("%d cycles: the GUI thread stood still for at most %lld ms", cycles, gaps.longestGapMs());
    QVERIFY2(gaps.longestGapMs() < longestAllowedGapMs,
        qPrintable(
            QStringLiteral("the GUI thread stood still for %1 ms").arg(gaps.longestGapMs())));
    QCOMPARE(errors.count(), 0);
    const std::vector<SimRequest> requests = sim->requests();
    QVERIFY(!requests.empty());
    for (const SimRequest &r : requests)
        QVERIFY2(isConnectSequenceRequest(r),
            qPrintable(QStringLiteral("%1 %2 %3").arg(r.write).arg(r.address).arg(r.count)));

    // The link is as good as new.
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    backend.connectClicked(index);
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 3, 10000);
    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(index);
    QVERIFY(closed.wait(10000));
    QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
}

void LinkFaultsTest::connectWithNoPortSelectedReportsAndSendsNothing_data()
{
    QTest::addColumn<bool>("simListed");
    QTest::newRow("empty port list") << false;
    QTest::newRow("ports listed, none selected") << true;
}

void LinkFaultsTest::connectWithNoPortSelectedReportsAndSendsNothing()
{
    QFETCH(bool, simListed);
    auto sim = startSim();
    QVERIFY(sim);
    if (simListed)
        qputenv("VELMAR_EXTRA_PORTS", sim->slavePath().toLocal8Bit());
    DurUzaBackend backend;
    const QStringList ports = backend.availablePortsList();
    QCOMPARE(ports.contains(sim->slavePath()), simListed);
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);
    GapMonitor gaps;

    // A combo box with nothing chosen gives -1; twice, since a refused Connect
    // must not leave the button in its Disconnect state.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connect with port index -1"));
        backend.connectClicked(-1);
        QCOMPARE(errors.count(), attempt);
        QVERIFY(errors.last().at(0).toString().isEmpty());
        QVERIFY(!errors.last().at(1).toString().isEmpty());
        QVERIFY(!backend.isConnected());
    }
    QTest::qWait(800); // past the delayed writes a connect would have scheduled
    QCOMPARE(pendingDelayedWrites(backend), 0);
    QCOMPARE(opened.count(), 0);
    QCOMPARE(sim->counters().bytesReceived, quint64(0));
    QVERIFY(gaps.longestGapMs() < longestAllowedGapMs);
}

void LinkFaultsTest::requestsWhileDisconnectedReturnPromptly_data()
{
    QTest::addColumn<QString>("history");
    QTest::newRow("never connected") << "never";
    QTest::newRow("after a disconnect") << "disconnected";
    QTest::newRow("after a port that failed to open") << "failed";
}

void LinkFaultsTest::requestsWhileDisconnectedReturnPromptly()
{
    QFETCH(QString, history);
    auto sim = startSim();
    QVERIFY(sim);
    const QString missing = QStringLiteral("/dev/velmar-no-such-port");
    qputenv("VELMAR_EXTRA_PORTS", (sim->slavePath() + ':' + missing).toLocal8Bit());
    DurUzaBackend backend;
    ComsHandler *coms = backend.comsHandler();
    QSignalSpy closed(coms, &ComsHandler::linkClosed);
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);

    if (history == "disconnected") {
        QSignalSpy opened(coms, &ComsHandler::linkOpened);
        backend.connectClicked(portIndex(backend, sim->slavePath()));
        QVERIFY(opened.count() > 0 || opened.wait(10000));
        backend.connectClicked(0);
        QVERIFY(closed.wait(10000));
        // What the connect sequence scheduled has gone out or been dropped.
        QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
    } else if (history == "failed") {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("link error"));
        backend.connectClicked(portIndex(backend, missing));
        QVERIFY(errors.wait(10000));
        QVERIFY(!backend.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
    }
    const quint64 receivedBefore = sim->counters().bytesReceived;
    const int errorsBefore = errors.count();

    GapMonitor gaps;
    const qint64 longest = longestRequestCall(backend);
    QVERIFY2(longest < promptReturnMs,
        qPrintable(QStringLiteral("a request held the caller %1 ms").arg(longest)));
    // Their delayed halves fire and are dropped the same way.
    QVERIFY(pendingDelayedWrites(backend) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
    QVERIFY(gaps.longestGapMs() < promptReturnMs);
    QCOMPARE(sim->counters().bytesReceived, receivedBefore);
    QCOMPARE(errors.count(), errorsBefore);
    QVERIFY(!backend.isConnected());
}

void LinkFaultsTest::connectOpensThePortPickedNotTheIndexInANewList_data()
{
    QTest::addColumn<bool>("pickedStillThere");
    QTest::newRow("picked port unplugged, another now at its index") << false;
    QTest::newRow("list reordered since it was shown") << true;
}

void LinkFaultsTest::connectOpensThePortPickedNotTheIndexInANewList()
{
    QFETCH(bool, pickedStillThere);
    PtyModule picked;
    PtyModule other;
    QVERIFY(picked.isOpen() && other.isOpen());
    qputenv("VELMAR_EXTRA_PORTS", (picked.path() + ':' + other.path()).toLocal8Bit());
    DurUzaBackend backend;
    const int index = int(backend.availablePortsList().indexOf(picked.path()));
    QVERIFY(index >= 0);
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);

    // What the system lists by the time the user presses Connect.
    const QString nowListed = pickedStillThere ? other.path() + ':' + picked.path() : other.path();
    qputenv("VELMAR_EXTRA_PORTS", nowListed.toLocal8Bit());

    if (pickedStillThere) {
        backend.connectClicked(index);
        QVERIFY(opened.wait(10000));
        QCOMPARE(opened.at(0).at(0).toString(), picked.path());
        QTRY_VERIFY_WITH_TIMEOUT(picked.received().contains(streamingOn), 10000);
        QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
        backend.connectClicked(index);
        QVERIFY(closed.wait(10000));
    } else {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("start:"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("link error"));
        backend.connectClicked(index);
        QVERIFY(errors.wait(10000));
        QCOMPARE(errors.at(0).at(0).toString(), picked.path());
        QVERIFY(errors.at(0).at(1).toString().contains(picked.path()));
        QVERIFY(!backend.isConnected());
    }
    // Past the connect sequence's delayed halves: nothing went anywhere else.
    QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
    QCOMPARE(other.received(), QByteArray());
    QCOMPARE(errors.count(), pickedStillThere ? 0 : 1);
    if (!pickedStillThere) {
        QCOMPARE(opened.count(), 0);
        QCOMPARE(picked.received(), QByteArray());
    }
}

void LinkFaultsTest::frameCutByDisconnectDoesNotReachTheNextConnection()
{
    PtyModule module;
    QVERIFY(module.isOpen());
    qputenv("VELMAR_EXTRA_PORTS", module.path().toLocal8Bit());
    DurUzaBackend backend;
    const int index = portIndex(backend, module.path());
    QVERIFY(index >= 0);
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);
    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);

    backend.connectClicked(index);
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(mapRead), 10000);
    QVERIFY(module.write(mapAnswer(0x41, 1442, 0x10)));
    QTRY_COMPARE_WITH_TIMEOUT(backend.accFullScale(), 40.0f, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(streamingOn), 10000);
    // One whole streamed frame, then 20 of the next frame's 37 bytes when the
    // user presses Disconnect.
    QVERIFY(module.write(streamedFrame(1000) + streamedFrame(2000).left(20)));
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, 10000);
    backend.connectClicked(index);
    QVERIFY(closed.wait(10000));

    // Another module on the same port, of another hardware version.
    module.forget();
    backend.connectClicked(index);
    QVERIFY(backend.isConnected());
    // Its samples are not scaled with the first module's ranges.
    QCOMPARE(backend.accFullScale(), -1.0f);
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(mapRead), 10000);
    QVERIFY(module.write(mapAnswer(0x42, 2542, 0x08)));
    RegistryItemModel *deviceId = registerAt(backend, 0x00);
    RegistryItemModel *hardware = registerAt(backend, 0x02);
    QVERIFY(deviceId && hardware);
    QTRY_COMPARE_WITH_TIMEOUT(hardware->data().toInt(), 2542, 10000);
    QCOMPARE(deviceId->data().toInt(), 0x42);
    QCOMPARE(backend.accFullScale(), 60.0f);
    backend.connectClicked(index);
    QVERIFY(closed.wait(10000));
}

void LinkFaultsTest::noiseLikeAHeaderWritesNothing_data()
{
    QTest::addColumn<QByteArray>("noise");
    QTest::newRow("BB 40 30: scale and offset mirrors") << hexBytes("BB4030");
    QTest::newRow("BB 37 30: accelerometer mirror") << hexBytes("57BB3730");
    QTest::newRow("BB 36 01 FF: sensors range") << hexBytes("BB3601FF");
    QTest::newRow("BB 06 22 cut short: a streamed header") << hexBytes("BB062203");
}

void LinkFaultsTest::noiseLikeAHeaderWritesNothing()
{
    QFETCH(QByteArray, noise);
    PtyModule module;
    QVERIFY(module.isOpen());
    qputenv("VELMAR_EXTRA_PORTS", module.path().toLocal8Bit());
    DurUzaBackend backend;
    const int index = portIndex(backend, module.path());
    QVERIFY(index >= 0);
    QSignalSpy samples(&backend, &DurUzaBackend::accDataListChanged);

    backend.connectClicked(index);
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(mapRead), 10000);
    QVERIFY(module.write(mapAnswer(0x42, 1442, 0x10)));
    QTRY_COMPARE_WITH_TIMEOUT(backend.accFullScale(), 40.0f, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(streamingOn), 10000);
    const std::array<quint8, 176> before = backend.comsHandler()->registerImageSnapshot();
    samples.clear();

    auto accXIs = [&](qint16 raw) {
        return !backend.accDataList().isEmpty()
            && backend.accDataList().at(0).toFloat() == float(raw / 32768.0 * 40.0);
    };
    // The frame right after the noise arrives. Only a cut streamed header may
    // take it as its own rest (the stream's own block, nothing else written).
    const bool cutStreamedHeader = noise.startsWith(hexBytes("BB0622"));
    QVERIFY(module.write(noise + streamedFrame(1000)));
    if (!cutStreamedHeader)
        QTRY_VERIFY_WITH_TIMEOUT(accXIs(1000), 10000);
    QVERIFY(module.write(streamedFrame(2000)));
    QTRY_VERIFY_WITH_TIMEOUT(accXIs(2000), 10000);
    const std::array<quint8, 176> after = backend.comsHandler()->registerImageSnapshot();
    for (int a = 0x34; a < 176; ++a)
        QVERIFY2(after[std::size_t(a)] == before[std::size_t(a)],
            qPrintable(QStringLiteral("register 0x%1 changed").arg(a, 2, 16, QLatin1Char('0'))));
    QCOMPARE(backend.accFullScale(), 40.0f);
    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(index);
    QVERIFY(closed.wait(10000));
}

void LinkFaultsTest::lateErrorOfAnAbandonedAttemptKeepsTheNewConnection()
{
    PtyModule module;
    QVERIFY(module.isOpen());
    const QString missing = QStringLiteral("/dev/velmar-no-such-port");
    qputenv("VELMAR_EXTRA_PORTS", (missing + ':' + module.path()).toLocal8Bit());
    DurUzaBackend backend;
    const int missingIndex = portIndex(backend, missing);
    const int moduleIndex = portIndex(backend, module.path());
    QVERIFY(missingIndex >= 0 && moduleIndex >= 0);
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);

    // Connect to a port that cannot open, Disconnect before its failure is
    // heard, Connect to the module: the first attempt's error arrives last.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
    backend.connectClicked(missingIndex);
    backend.connectClicked(missingIndex);
    backend.connectClicked(moduleIndex);
    QVERIFY(backend.isConnected());
    QVERIFY(opened.wait(10000));
    QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(streamingOn), 10000);
    QVERIFY(backend.isConnected());
    QCOMPARE(errors.count(), 0);

    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(moduleIndex);
    QVERIFY(closed.wait(10000));
    QVERIFY(!backend.isConnected());
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--hold-port") {
        QCoreApplication app(argc, argv);
        return holdPort(argv[2], argv[3]);
    }
    QCoreApplication app(argc, argv);
    LinkFaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_linkfaults.moc"
