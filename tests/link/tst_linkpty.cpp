// SPDX-License-Identifier: GPL-3.0-or-later
// The link over a real pseudo-terminal, reached through VELMAR_EXTRA_PORTS.
#include "link.h"

#include <QtTest>

#include <QDir>
#include <QPointer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

// The module's end of the line: the pty master. The link opens the slave by path.
class PtyPair
{
public:
    PtyPair()
    {
        if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        m_path = QString::fromLocal8Bit(ttyname(m_slave));
        termios settings {};
        tcgetattr(m_slave, &settings);
        cfmakeraw(&settings);
        tcsetattr(m_slave, TCSANOW, &settings);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    bool isOpen() const { return m_master >= 0 && !m_path.isEmpty(); }
    QString path() const { return m_path; }

    void write(const QByteArray &data)
    {
        QCOMPARE(::write(m_master, data.constData(), size_t(data.size())), ssize_t(data.size()));
    }

    // Everything the link has written so far.
    QByteArray received()
    {
        char buffer[512];
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, buffer, sizeof buffer)) > 0)
            m_received.append(buffer, int(n));
        return m_received;
    }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_received;
};

// Starts `handler` on `path` listed as the only extra port; returns the name used.
QString startOn(ComsHandler &handler, const QString &path)
{
    qputenv("VELMAR_EXTRA_PORTS", path.toLocal8Bit());
    const QString name = enumerateSerialPorts().constLast().portName;
    handler.start(name);
    return name;
}

} // namespace

class TestLinkPty : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("VELMAR_EXTRA_PORTS"); }

    void openedLinkCarriesBytesBothWays();
    void delayedWritesGoOutInCreationOrder();
    void stopThenImmediateStartConnectsAgain();
    void unopenablePortReportsLinkErrorOnce_data();
    void unopenablePortReportsLinkErrorOnce();
    void closingTheMasterReportsErrorThenClosed();
    void framesSentWhileThePortOpensGoOutInOrderOnceOpen();
    void framesSentWhileAPortFailsToOpenAreDroppedWithTheError();
    void longPortPathOpensOrSaysWhy_data();
    void longPortPathOpensOrSaysWhy();
    void heldWritesNeverReachTheLineUntilTheNextStart();
    void countersFollowWhatTheLineBrings();
};

namespace {

void send(ComsHandler &handler, const QByteArray &frame)
{
    handler.sendFrame(reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
}

// A path of exactly `length` characters inside `dir`, its folders created.
QString deepPath(const QTemporaryDir &dir, int length)
{
    QString path = dir.path();
    const QString leaf = QStringLiteral("/module");
    while (path.size() + leaf.size() < length) {
        const int room = length - int(path.size()) - int(leaf.size()) - 1;
        path += '/' + QString(std::min(room, 200), QLatin1Char('d'));
        if (room < 1)
            break;
        QDir().mkpath(path);
    }
    return path + leaf;
}

} // namespace

void TestLinkPty::framesSentWhileThePortOpensGoOutInOrderOnceOpen()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    // The open waits for the test's word, so what callers see meanwhile does not
    // depend on how fast the worker is.
    QSemaphore openMayGo;
    handler.setPortOpenGate([&] { openMayGo.acquire(); });
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    startOn(handler, pty.path());

    const QByteArray frames[] = {bytes({0xAA, 0x00, 0x34, 0x01, 0x00}),
        bytes({0xAA, 0x01, 0x00, 0xB0}), bytes({0xAA, 0x01, 0x06, 0x22})};
    for (const QByteArray &frame : frames)
        send(handler, frame); // a call that waited for the open would never return here
    QVERIFY(!handler.isPortOpen());
    QCOMPARE(opened.size(), 0);
    QCOMPARE(pty.received(), QByteArray());

    openMayGo.release();
    QVERIFY(opened.wait(10000));
    const QByteArray last = bytes({0xAA, 0x00, 0x34, 0x01, 0x0B});
    send(handler, last);
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), frames[0] + frames[1] + frames[2] + last, 10000);

    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    handler.stop();
    QVERIFY(closed.wait(10000));
}

void TestLinkPty::framesSentWhileAPortFailsToOpenAreDroppedWithTheError()
{
    ComsHandler handler;
    QSemaphore openMayGo;
    handler.setPortOpenGate([&] { openMayGo.acquire(); });
    QSignalSpy errors(&handler, &ComsHandler::linkError);
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
    startOn(handler, QStringLiteral("/dev/velmar-no-such-port"));
    send(handler, bytes({0xAA, 0x01, 0x00, 0xB0}));
    send(handler, bytes({0xAA, 0x00, 0x34, 0x01, 0x0B}));
    openMayGo.release();
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.size(), 1);

    // None of it reaches the port opened next.
    PtyPair pty;
    QVERIFY(pty.isOpen());
    openMayGo.release();
    startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));
    const QByteArray next = bytes({0xAA, 0x01, 0x36, 0x01});
    send(handler, next);
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), next, 10000);
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    handler.stop();
    QVERIFY(closed.wait(10000));
    QCOMPARE(pty.received(), next);
}

void TestLinkPty::longPortPathOpensOrSaysWhy_data()
{
    QTest::addColumn<bool>("linkToPty");
    QTest::newRow("symbolic link to a pty") << true;
    QTest::newRow("no device behind it") << false;
}

void TestLinkPty::longPortPathOpensOrSaysWhy()
{
    // A valid path, but "LCK.." plus it is too long a file name for the lock
    // Qt's serial port takes before opening.
    QFETCH(bool, linkToPty);
    PtyPair pty;
    QVERIFY(pty.isOpen());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = deepPath(dir, 2033);
    QCOMPARE(path.size(), 2033);
    if (linkToPty) {
        QVERIFY(QFile::link(pty.path(), path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    QSignalSpy errors(&handler, &ComsHandler::linkError);
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    if (!linkToPty)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
    startOn(handler, path);
    if (!linkToPty) {
        QVERIFY(errors.wait(10000));
        QCOMPARE(errors.at(0).at(0).toString(), path);
        const QString text = errors.at(0).at(1).toString();
        QVERIFY2(text.contains("too long") && !text.contains("Permission"), qPrintable(text));
        return;
    }
    QVERIFY2(opened.wait(10000), errors.isEmpty() ? "" : qPrintable(errors.at(0).at(1).toString()));
    QCOMPARE(opened.at(0).at(0).toString(), path);
    const QByteArray frame = bytes({0xAA, 0x01, 0x36, 0x01});
    send(handler, frame);
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), frame, 10000);
    pty.write(bytes({0xBB, 0x36, 0x01, 0x15}));
    QTRY_COMPARE_WITH_TIMEOUT(int(handler.registerImageSnapshot()[0x36]), 0x15, 10000);
    handler.stop();
    QVERIFY(closed.wait(10000));
    QCOMPARE(errors.size(), 0);
}

void TestLinkPty::openedLinkCarriesBytesBothWays()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QList<int> calls;
    QByteArray accBlock;
    handler.setBlockHandler([&](int index, const quint8 *block) {
        calls.append(index);
        if (index == 4)
            accBlock = QByteArray(reinterpret_cast<const char *>(block), 6);
    });
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));
    QCOMPARE(opened.at(0).at(0).toString(), pty.path());

    // Module to tool, split over two writes: the answer to a read of the
    // accelerometer (a frame nobody asked for would be noise).
    const QByteArray ask = bytes({0xAA, 0x01, 0x06, 0x06});
    handler.sendFrame(reinterpret_cast<const quint8 *>(ask.constData()), quint8(ask.size()));
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), ask, 10000);
    pty.write(bytes({0x00, 0xBB, 0x06, 0x06, 1, 2, 3}));
    pty.write(bytes({4, 5, 6}));
    QTRY_COMPARE_WITH_TIMEOUT(calls, QList<int> {4}, 10000);
    QCOMPARE(accBlock, bytes({1, 2, 3, 4, 5, 6}));
    QCOMPARE(int(handler.registerImageSnapshot()[0x0B]), 6);

    // Tool to module, in call order.
    const QByteArray first = bytes({0xAA, 0x00, 0x34, 0x01, 0x00});
    const QByteArray second = bytes({0xAA, 0x01, 0x00, 0xB0});
    const QByteArray third = bytes({0xAA, 0x01, 0x06, 0x22});
    for (const QByteArray &frame : {first, second, third})
        handler.sendFrame(
            reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), ask + first + second + third, 10000);

    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    handler.stop();
    QVERIFY(closed.wait(10000));
}

void TestLinkPty::delayedWritesGoOutInCreationOrder()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));

    // Each timer keeps its own copy: the frame it was given goes away at once.
    QPointer<DelayedWrite> read;
    {
        const QByteArray frame = readRequest(RegisterMap::Measurements);
        read = new DelayedWrite(
            500, reinterpret_cast<const quint8 *>(frame.constData()), frame.size(), &handler);
    }
    QPointer<DelayedWrite> write;
    {
        const quint8 control = RegisterMap::StreamingAll;
        const QByteArray frame = writeRequest(RegisterMap::Control1.address, &control, 1);
        write = new DelayedWrite(
            600, reinterpret_cast<const quint8 *>(frame.constData()), frame.size(), &handler);
    }

    QCOMPARE(pty.received(), QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(
        pty.received(), bytes({0xAA, 0x01, 0x06, 0x22, 0xAA, 0x00, 0x34, 0x01, 0x0B}), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(read.isNull() && write.isNull(), 10000);
}

void TestLinkPty::stopThenImmediateStartConnectsAgain()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    QSignalSpy errors(&handler, &ComsHandler::linkError);
    const QString name = startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));

    handler.stop();
    handler.start(name);
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 2, 10000);
    QCOMPARE(closed.size(), 1);
    QCOMPARE(errors.size(), 0);

    // The new connection is live in both directions.
    const QByteArray frame = bytes({0xAA, 0x01, 0x34, 0x01});
    handler.sendFrame(reinterpret_cast<const quint8 *>(frame.constData()), quint8(frame.size()));
    QTRY_COMPARE_WITH_TIMEOUT(pty.received().right(4), frame, 10000);
    pty.write(bytes({0xBB, 0x34, 0x01, 0x0B}));
    QTRY_COMPARE_WITH_TIMEOUT(int(handler.registerImageSnapshot()[0x34]), 0x0B, 10000);

    handler.stop();
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, 10000);
}

void TestLinkPty::unopenablePortReportsLinkErrorOnce_data()
{
    QTest::addColumn<bool>("regularFile");
    QTest::newRow("path that does not exist") << false;
    QTest::newRow("regular file") << true;
}

void TestLinkPty::unopenablePortReportsLinkErrorOnce()
{
    QFETCH(bool, regularFile);
    QTemporaryFile file;
    QVERIFY(file.open());
    const QString path = regularFile ? file.fileName() : QStringLiteral("/dev/velmar-no-such-port");

    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    QSignalSpy errors(&handler, &ComsHandler::linkError);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
    startOn(handler, path);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.at(0).at(0).toString(), path);
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());

    // With no port open and none being opened, a write is dropped at once rather
    // than holding the caller in the connect wait (whose log line names serialWrite).
    QStringList lines;
    static QStringList *captured = nullptr;
    captured = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { captured->append(text); });
    const quint8 frame[] = {0xAA, 0x01, 0x00, 0xB0};
    handler.sendFrame(frame, sizeof frame);
    qInstallMessageHandler(previous);
    QVERIFY2(lines.filter("serialWrite").isEmpty(), qPrintable(lines.join('\n')));
    QVERIFY2(!lines.filter("no port open").isEmpty(), qPrintable(lines.join('\n')));

    // A good port afterwards still connects.
    PtyPair pty;
    QVERIFY(pty.isOpen());
    startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));
    handler.stop();
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(opened.size(), 1);
}

void TestLinkPty::closingTheMasterReportsErrorThenClosed()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QStringList events;
    connect(&handler, &ComsHandler::linkOpened, this, [&] { events << "opened"; });
    connect(&handler, &ComsHandler::linkError, this, [&] { events << "error"; });
    connect(&handler, &ComsHandler::linkClosed, this, [&] { events << "closed"; });
    startOn(handler, pty.path());
    QTRY_COMPARE_WITH_TIMEOUT(events, QStringList {"opened"}, 10000);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("lost"));
    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(events, (QStringList {"opened", "error", "closed"}), 10000);

    // A stop after the loss changes nothing.
    handler.stop();
    QTest::qWait(0);
    QCOMPARE(events.size(), 3);
}

void TestLinkPty::heldWritesNeverReachTheLineUntilTheNextStart()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    startOn(handler, pty.path());
    handler.holdWrites();
    QVERIFY(handler.writesHeld());
    const quint8 streaming = RegisterMap::StreamingAll;
    const QByteArray write = writeRequest(RegisterMap::Control1.address, &streaming, 1);
    const QByteArray read = readRequest(RegisterMap::DeviceId.address, 6);
    // Sent while the port opens, and once it is open; a delayed write too.
    send(handler, write);
    send(handler, read);
    QVERIFY(opened.wait(10000));
    new DelayedWrite(
        50, reinterpret_cast<const quint8 *>(write.constData()), write.size(), &handler, &handler);
    send(handler, write);
    send(handler, read);
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), read + read, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(handler.findChildren<DelayedWrite *>().isEmpty(), 10000);
    QCOMPARE(pty.received(), read + read);
    // A held write does not count as sent: the cutter still knows no streaming mode.
    QCOMPARE(handler.linkCounters().streamingMode, -1);

    // The next start (the user's Connect) lets writes through again.
    handler.start(pty.path());
    QVERIFY(!handler.writesHeld());
    send(handler, write);
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), read + read + write, 10000);
    QCOMPARE(handler.linkCounters().streamingMode, int(RegisterMap::StreamingAll));
}

void TestLinkPty::countersFollowWhatTheLineBrings()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    ComsHandler handler;
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    startOn(handler, pty.path());
    QVERIFY(opened.wait(10000));
    send(handler, readRequest(RegisterMap::DeviceId.address, 2));
    QTRY_COMPARE_WITH_TIMEOUT(pty.received().size(), 4, 10000);

    // Noise (3 bytes), the awaited answer, a header nobody asked for (the
    // 4 bytes of a frame: noise too), a status message.
    const QByteArray answer = bytes({0xBB, 0x00, 0x02, 0x5A, 0x00});
    QTest::ignoreMessage(QtDebugMsg, "Module Status: 7");
    pty.write(bytes({0x01, 0x02, 0x03}) + answer + bytes({0xBB, 0x40, 0x01, 0x11, 0xEE, 0x07}));
    QTRY_COMPARE_WITH_TIMEOUT(handler.linkCounters().bytesReceived, quint64(14), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(handler.linkCounters().noiseBytes, quint64(7), 10000);
    const LinkCounters counters = handler.linkCounters();
    QCOMPARE(counters.frames, quint64(1));
    QCOMPARE(counters.frameBytes, quint64(answer.size()));
    QCOMPARE(counters.statusMessages, quint64(1));
    QCOMPARE(counters.lastStatus, quint8(7));
    QCOMPARE(counters.rejectedHeaders, quint64(1));
    QCOMPARE(counters.pendingBytes, quint64(0));

    // A new connection counts from nothing.
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);
    handler.stop();
    QVERIFY(closed.wait(10000));
    opened.clear();
    handler.start(pty.path());
    QVERIFY(opened.wait(10000));
    QCOMPARE(handler.linkCounters().bytesReceived, quint64(0));
    QCOMPARE(handler.linkCounters().frames, quint64(0));
}

QTEST_GUILESS_MAIN(TestLinkPty)
#include "tst_linkpty.moc"
