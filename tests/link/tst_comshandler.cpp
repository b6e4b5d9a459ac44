// SPDX-License-Identifier: GPL-3.0-or-later
// Processing thread and dispatch pass of the link controller, driven without a
// port through feedReceived; port enumeration and bad start indexes.
#include "link.h"

#include <QtTest>

#include <QSerialPortInfo>

#include <algorithm>
#include <mutex>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

struct Call
{
    int block;
    QByteArray content; // the block's bytes as the handler saw them
};

// Records every handler call with a copy of the block it was given.
struct Recorder
{
    QList<Call> calls;

    void attach(ComsHandler &handler)
    {
        handler.setBlockHandler([this](int index, const quint8 *block) {
            calls.append({index,
                QByteArray(reinterpret_cast<const char *>(block),
                    registerBlocks[std::size_t(index)].length)});
        });
    }
    QList<int> blocks() const
    {
        QList<int> out;
        for (const Call &call : calls)
            out.append(call.block);
        return out;
    }
};

} // namespace

class TestComsHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("VELMAR_EXTRA_PORTS"); }

    void measurementFrameCallsItsSixHandlersOnceInAddressOrder();
    void changedSecondByteHandsOverTheBlockStart();
    void twoMeasurementFramesBeforeOnePassGiveACallEach();
    void everyFedChunkIsProcessedWithoutWaitingForAnother();
    void onePersistentThreadCutsEveryPassInOrder();
    void handlerBlockedInSendFrameDoesNotHoldUpProcessing();
    void startOnPortNoLongerListedReportsLinkError_data();
    void startOnPortNoLongerListedReportsLinkError();
    void extraPortsAreListedAfterTheSystemPorts();
};

void TestComsHandler::measurementFrameCallsItsSixHandlersOnceInAddressOrder()
{
    ComsHandler handler;
    Recorder recorder;
    recorder.attach(handler);

    QByteArray frame = bytes({0xBB, 0x06, 34});
    for (int i = 0; i < 34; ++i)
        frame.append(char(i + 1));
    handler.feedReceived(frame);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.blocks(), (QList<int> {4, 5, 6, 7, 8, 9}), 10000);

    // Nothing else may follow: a later frame for block 0 must be the very next call.
    handler.feedReceived(bytes({0xBB, 0x00, 0x01, 0x5A}));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.blocks(), (QList<int> {4, 5, 6, 7, 8, 9, 0}), 10000);

    QCOMPARE(recorder.calls[0].content, frame.mid(3, 6));
    QCOMPARE(recorder.calls[4].content, frame.mid(3 + 0x1A - 0x06, 8));
    QCOMPARE(recorder.calls[6].content, bytes({0x5A}));
}

void TestComsHandler::changedSecondByteHandsOverTheBlockStart()
{
    ComsHandler handler;
    Recorder recorder;
    recorder.attach(handler);

    handler.feedReceived(bytes({0xBB, 0x0C, 0x06, 10, 11, 12, 13, 14, 15}));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.calls.size(), 1, 10000);
    handler.feedReceived(bytes({0xBB, 0x0D, 0x01, 0x99}));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.calls.size(), 2, 10000);

    QCOMPARE(recorder.calls[1].block, 5);
    QCOMPARE(recorder.calls[1].content, bytes({10, 0x99, 12, 13, 14, 15}));
}

void TestComsHandler::twoMeasurementFramesBeforeOnePassGiveACallEach()
{
    // Two cutter passes, then one dispatch pass, all on this thread. Each
    // measurement frame is a sample of its own: the temperature block is
    // handed over once per frame, in order, each time with the bytes as they
    // stood after that frame; the range (a setting) once.
    ComsHandler handler;
    Recorder recorder;
    recorder.attach(handler);
    ComsProtocol *protocol = handler.protocol();

    const QByteArray first = bytes({0xBB, 0x18, 0x02, 0x01, 0x02});
    const QByteArray second = bytes({0xBB, 0x19, 0x01, 0x7F, 0xBB, 0x36, 0x01, 0x03});
    protocol->appendReceived(first.constData(), first.size());
    protocol->extractFrames();
    protocol->appendReceived(second.constData(), second.size());
    protocol->extractFrames();
    handler.process();

    QCOMPARE(recorder.blocks(), (QList<int> {7, 7, 14}));
    QCOMPARE(recorder.calls[0].content, bytes({0x01, 0x02}));
    QCOMPARE(recorder.calls[1].content, bytes({0x01, 0x7F}));
    for (int address = 0; address < ComsProtocol::ImageSize; ++address)
        QVERIFY2(protocol->updatedFlags()[address] == 0, qPrintable(QString::number(address)));

    handler.process();
    QCOMPARE(recorder.calls.size(), 3);
}

void TestComsHandler::everyFedChunkIsProcessedWithoutWaitingForAnother()
{
    // Each chunk is fed just as the pass that stored the one before is ending,
    // the moment a chunk could be left queued until another comes along. The
    // image is polled without sleeping so that moment is hit again and again.
    ComsHandler handler;
    Recorder recorder;
    recorder.attach(handler);
    constexpr int Rounds = 3000;
    for (int i = 1; i <= Rounds; ++i) {
        const int value = i & 0xFF;
        handler.feedReceived(bytes({0xBB, 0x00, 0x01, value}));
        QElapsedTimer waited;
        waited.start();
        while (handler.registerImageSnapshot()[0] != value && waited.elapsed() < 10000)
            QThread::yieldCurrentThread();
        QVERIFY2(handler.registerImageSnapshot()[0] == value, qPrintable(QString::number(i)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        !recorder.calls.isEmpty() && recorder.calls.last().content == bytes({Rounds & 0xFF}),
        10000);
}

void TestComsHandler::onePersistentThreadCutsEveryPassInOrder()
{
    // A burst every few milliseconds: the thread that cuts them is started
    // once and kept, not started anew for each pass. Each chunk is fed only
    // after the one before was cut, so every chunk is a pass of its own.
    struct Seen
    {
        std::mutex lock;
        std::vector<long> threads;
        std::vector<int> values;
    } seen;
    ComsHandler handler;
    handler.protocol()->setFrameObserver(
        [](void *context, quint8, quint8, const quint8 *data) {
            auto *s = static_cast<Seen *>(context);
            std::lock_guard<std::mutex> locker(s->lock);
            s->threads.push_back(long(::syscall(SYS_gettid)));
            s->values.push_back(data[0]);
        },
        &seen);
    constexpr int Passes = 40;
    for (int i = 1; i <= Passes; ++i) {
        handler.feedReceived(bytes({0xBB, 0x00, 0x01, i}));
        QElapsedTimer waited;
        waited.start();
        while (handler.registerImageSnapshot()[0] != i && waited.elapsed() < 10000)
            QThread::yieldCurrentThread();
        QVERIFY2(handler.registerImageSnapshot()[0] == i, qPrintable(QString::number(i)));
    }
    std::lock_guard<std::mutex> locker(seen.lock);
    QCOMPARE(int(seen.values.size()), Passes);
    for (int i = 0; i < Passes; ++i)
        QCOMPARE(seen.values[std::size_t(i)], i + 1);
    const long cutter = seen.threads.front();
    QVERIFY(cutter != long(::syscall(SYS_gettid)));
    QCOMPARE(int(std::count(seen.threads.begin(), seen.threads.end(), cutter)), Passes);
}

void TestComsHandler::handlerBlockedInSendFrameDoesNotHoldUpProcessing()
{
    // A handler may block (sendFrame waits while a port is being opened). Bytes
    // that arrive meanwhile must be cut into the image while it is still blocked,
    // so the dispatch must not hold the processing lock around handler calls.
    ComsHandler handler;
    std::array<quint8, 176> seenWhileBlocked {};
    int calls = 0;
    handler.setBlockHandler([&](int index, const quint8 *) {
        ++calls;
        if (index != 0 || calls > 1)
            return;
        handler.feedReceived(bytes({0xBB, 0x01, 0x01, 0x66}));
        QElapsedTimer waited;
        waited.start();
        do {
            seenWhileBlocked = handler.registerImageSnapshot();
            QThread::yieldCurrentThread();
        } while (seenWhileBlocked[0x01] != 0x66 && waited.elapsed() < 10000);
    });

    handler.feedReceived(bytes({0xBB, 0x00, 0x01, 0x11}));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 15000);
    QCOMPARE(int(seenWhileBlocked[0x01]), 0x66);
}

void TestComsHandler::startOnPortNoLongerListedReportsLinkError_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("expectedText");
    QTest::newRow("unplugged device") << "/dev/velmar-unplugged"
                                      << "/dev/velmar-unplugged";
    QTest::newRow("system-style name") << "ttyVELMAR9"
                                       << "ttyVELMAR9";
    QTest::newRow("no name") << ""
                             << "No serial port selected";
}

void TestComsHandler::startOnPortNoLongerListedReportsLinkError()
{
    QFETCH(QString, portName);
    QFETCH(QString, expectedText);
    ComsHandler handler;
    QSignalSpy errors(&handler, &ComsHandler::linkError);
    QSignalSpy opened(&handler, &ComsHandler::linkOpened);
    QSignalSpy closed(&handler, &ComsHandler::linkClosed);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("start:"));
    handler.start(portName);
    QCOMPARE(errors.size(), 0); // reported queued, never from inside start()
    // Nothing is being opened, so a request made now is dropped, not kept.
    const quint8 frame[] = {0xAA, 0x01, 0x00, 0xB0};
    handler.sendFrame(frame, sizeof frame);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), portName);
    QVERIFY2(errors.at(0).at(1).toString().contains(expectedText),
        qPrintable(errors.at(0).at(1).toString()));
    QCOMPARE(opened.size(), 0);
    QCOMPARE(closed.size(), 0);
    handler.stop();
}

void TestComsHandler::extraPortsAreListedAfterTheSystemPorts()
{
    QStringList systemNames;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        systemNames.append(info.portName());

    auto names = [] {
        QStringList out;
        const auto ports = enumerateSerialPorts();
        for (const SerialPortEntry &entry : ports)
            out.append(entry.portName);
        return out;
    };
    QCOMPARE(names(), systemNames);

    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-a::/dev/pts/77");
    QCOMPARE(names(), (systemNames + QStringList {"/tmp/velmar-a", "/dev/pts/77"}));
    const SerialPortEntry last = enumerateSerialPorts().last();
    QCOMPARE(last.systemLocation, QString("/dev/pts/77"));
    QVERIFY(last.description.isEmpty());
}

QTEST_GUILESS_MAIN(TestComsHandler)
#include "tst_comshandler.moc"
