// Faults around the connection, with the real backend and link against the
// simulated module on a pseudo-terminal: a module that vanishes mid-stream, a
// port another process holds, fast connect/disconnect cycles with delayed
// writes pending, Connect with no port selected, and requests while no link is up.

#include "sim/sim.h"

#include <durUzaBackend.h>

#include "link/comshandler.h"
#include "link/delayedwrite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
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
        [&] { backend.requestAllData(); },   [&] { backend.requestChartData(); },
        [&] { backend.requestAccOnly(); },   [&] { backend.requestGyroOnly(); },
        [&] { backend.requestMagOnly(); },   [&] { backend.requestRangeData(); },
        [&] { backend.resetDefaults(); },    [&] { backend.writeRegisterText(0x34, "11"); },
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
             qPrintable(QStringLiteral("the GUI thread stood still for %1 ms").arg(gaps.longestGapMs())));
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
    QVERIFY2(longest < promptReturnMs, qPrintable(QStringLiteral("a request held the caller %1 ms").arg(longest)));
    // Their delayed halves fire and are dropped the same way.
    QVERIFY(pendingDelayedWrites(backend) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(pendingDelayedWrites(backend), 0, 10000);
    QVERIFY(gaps.longestGapMs() < promptReturnMs);
    QCOMPARE(sim->counters().bytesReceived, receivedBefore);
    QCOMPARE(errors.count(), errorsBefore);
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
