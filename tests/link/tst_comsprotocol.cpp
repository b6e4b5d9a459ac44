// SPDX-License-Identifier: GPL-3.0-or-later
// Frame cutter, register image and request building of the wire protocol.
#include "comsprotocol.h"
#include "registerblocks.h"

#include <QtTest>

#include <map>
#include <set>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

// Feeds each chunk and runs one cutter pass per chunk, as the processing thread
// does; an empty chunk is a pass that brought nothing new.
void feedPasses(ComsProtocol &protocol, const QList<QByteArray> &chunks)
{
    for (const QByteArray &chunk : chunks) {
        protocol.appendReceived(chunk.constData(), chunk.size());
        protocol.extractFrames();
    }
}

QList<QByteArray> emptyPasses(int count)
{
    QList<QByteArray> passes;
    for (int i = 0; i < count; ++i)
        passes.append(QByteArray());
    return passes;
}

QList<int> dispatchedBlocks(ComsProtocol &protocol)
{
    QList<int> calls;
    dispatchUpdatedBlocks(protocol.registerImage(), protocol.updatedFlags(),
        [&](int index, const quint8 *) { calls.append(index); });
    return calls;
}

using ByteMap = std::map<int, int>; // address -> expected value

// A data frame of `count` bytes from `address`, each byte `fill` (0xBB/0xEE-free
// unless asked for, so it cannot open a message by itself).
QByteArray dataFrame(int address, int count, int fill)
{
    QByteArray out = bytes({0xBB, address, count});
    out.append(QByteArray(count, char(quint8(fill))));
    return out;
}

void sendRead(ComsProtocol &protocol, int address, int count)
{
    protocol.noteRequestSent(readRequest(quint8(address), quint8(count)));
}

void sendControl1(ComsProtocol &protocol, int value)
{
    const quint8 byte = quint8(value);
    protocol.noteRequestSent(writeRequest(RegisterMap::Control1.address, &byte, 1));
}

qint64 fakeNow = 0;
qint64 fakeClock()
{
    return fakeNow;
}

// Addresses whose flags are set.
std::set<int> flaggedAddresses(ComsProtocol &protocol)
{
    std::set<int> out;
    for (int a = 0; a < ComsProtocol::ImageSize; ++a)
        if (protocol.updatedFlags()[a])
            out.insert(a);
    return out;
}

std::set<int> range(int from, int count)
{
    std::set<int> out;
    for (int a = from; a < from + count && a < ComsProtocol::ImageSize; ++a)
        out.insert(a);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(ByteMap)

class TestComsProtocol : public QObject
{
    Q_OBJECT

private slots:
    void workedExampleStoresFlagsLogsAndWaits();
    void cutterCases_data();
    void cutterCases();
    void incompleteHeadIsWaitedForTenPassesThenDropped();
    void loneByteIsDroppedAtOnceWhenAnotherArrives();
    void blockFlagsFollowFrameExtent_data();
    void blockFlagsFollowFrameExtent();
    void requestsAreBuiltByteExact_data();
    void requestsAreBuiltByteExact();
    void registerBlocksTileTheImage();

    void connectionTakesOnlyFramesTheModuleMaySend_data();
    void connectionTakesOnlyFramesTheModuleMaySend();
    void noiseHeaderDoesNotSwallowTheStreamBehindIt();
    void wholeMapAnswerArrivesWholeOneBytePerPass();
    void answerIsTakenOnceAndForgottenAfterItsLifetime();
    void control1ReadBackSetsTheStreamedBlockUnlessWrittenSince();
    void beginConnectionForgetsWhatTheLastOneLeft();
    void joiningLinkTakesNoAnswerOutOfTheStream_data();
    void joiningLinkTakesNoAnswerOutOfTheStream();
};

void TestComsProtocol::workedExampleStoresFlagsLogsAndWaits()
{
    ComsProtocol protocol;
    const QByteArray input = bytes({0x00, 0xBB, 0x00, 0x02, 0x12, 0x34, 0xEE, 0x05, 0xBB, 0x10});
    QTest::ignoreMessage(QtDebugMsg, "Module Status: 5");
    feedPasses(protocol, {input});

    QCOMPARE(protocol.registerImage()[0x00], quint8(0x12));
    QCOMPARE(protocol.registerImage()[0x01], quint8(0x34));
    QCOMPARE(protocol.updatedFlags()[0x00], quint8(1));
    QCOMPARE(protocol.updatedFlags()[0x01], quint8(1));
    QCOMPARE(protocol.moduleStatus(), quint8(5));
    QCOMPARE(protocol.incompletePasses(), 1);
    QCOMPARE(protocol.pendingBytes(), 2);

    // The left-over BB 10 is the head of a frame that completes later.
    QTest::ignoreMessage(QtDebugMsg, "Module Status: 5");
    feedPasses(protocol, {bytes({0x01, 0xAB, 0xEE, 0x05})});
    QCOMPARE(protocol.registerImage()[0x10], quint8(0xAB));
    QCOMPARE(protocol.pendingBytes(), 0);
    QCOMPARE(protocol.incompletePasses(), 0);
}

// Each row: chunks fed one per pass; the bytes expected in the image (every other
// byte stays 0 and unflagged); what is left pending; the wait count; the status.
void TestComsProtocol::cutterCases_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<ByteMap>("stored");
    QTest::addColumn<int>("pending");
    QTest::addColumn<int>("incomplete");
    QTest::addColumn<int>("status");

    QTest::newRow("count 0 is consumed whole and changes nothing")
        << QList<QByteArray> {bytes({0xBB, 0x10, 0x00})} << ByteMap {} << 0 << 0 << 0;
    QTest::newRow("count 0 followed by a frame")
        << QList<QByteArray> {bytes({0xBB, 0x10, 0x00, 0xBB, 0x11, 0x01, 0x42})}
        << ByteMap {{0x11, 0x42}} << 0 << 0 << 0;

    QList<QByteArray> split {bytes({0xBB, 0x06, 0x02, 0x11})};
    split += emptyPasses(9);
    split += bytes({0x22});
    QTest::newRow("split frame completed on the eleventh pass is stored")
        << split << ByteMap {{0x06, 0x11}, {0x07, 0x22}} << 0 << 0 << 0;
    QList<QByteArray> late {bytes({0xBB, 0x06, 0x02, 0x11})};
    late += emptyPasses(10);
    late += bytes({0x22});
    // BB is dropped on the eleventh pass, 06 02 11 are then skipped as noise, and
    // the lone 22 starts a fresh wait.
    QTest::newRow("split frame completed one pass too late is dropped")
        << late << ByteMap {} << 1 << 1 << 0;

    QList<QByteArray> afterNoise;
    for (int i = 0; i < 12; ++i)
        afterNoise += bytes({0x01, 0x02});
    afterNoise += bytes({0x03, 0xBB, 0x06});
    afterNoise += bytes({0x02, 0x11, 0x22});
    QTest::newRow("noise-only chunks do not use up the wait of a later frame")
        << afterNoise << ByteMap {{0x06, 0x11}, {0x07, 0x22}} << 0 << 0 << 0;

    QList<QByteArray> dribbled;
    const QByteArray wholeMap = [] {
        QByteArray frame = bytes({0xBB, 0x00, 0xB0});
        for (int i = 0; i < 176; ++i)
            frame.append(char(0x80 ^ i));
        return frame;
    }();
    for (char byte : wholeMap)
        dribbled += QByteArray(1, byte);
    ByteMap wholeImage;
    for (int i = 0; i < 176; ++i)
        wholeImage[i] = 0x80 ^ i;
    QTest::newRow("a whole-map answer arriving one byte per pass is stored")
        << dribbled << wholeImage << 0 << 0 << 0;

    QList<QByteArray> overdue {bytes({0xBB, 0x06, 0x0C, 0x01})};
    overdue += emptyPasses(15); // waited for 12 + 3 passes, dropped on the next
    QTest::newRow("a data frame waits one pass per byte it needs, then is dropped")
        << overdue << ByteMap {} << 1 << 1 << 0;

    QTest::newRow("split frame in three chunks")
        << QList<QByteArray> {bytes({0xBB}), bytes({0x20, 0x03, 0x01}), bytes({0x02, 0x03})}
        << ByteMap {{0x20, 1}, {0x21, 2}, {0x22, 3}} << 0 << 0 << 0;

    QTest::newRow("status value 0xBB does not start a frame")
        << QList<QByteArray> {bytes({0xEE, 0xBB, 0xBB, 0x06, 0x01, 0x55})} << ByteMap {{0x06, 0x55}}
        << 0 << 0 << 0xBB;
    QTest::newRow("status value 0xEE is consumed whole")
        << QList<QByteArray> {bytes({0xEE, 0xEE})} << ByteMap {} << 0 << 0 << 0xEE;

    QTest::newRow("noise and a request echo before the first frame are dropped")
        << QList<QByteArray> {bytes(
               {0x01, 0x02, 0xAA, 0x00, 0x34, 0x01, 0x00, 0xBB, 0x00, 0x01, 0x7F})}
        << ByteMap {{0x00, 0x7F}} << 0 << 0 << 0;
    QTest::newRow("pure noise leaves one byte waiting")
        << QList<QByteArray> {bytes({0x01, 0x02, 0x03, 0x04})} << ByteMap {} << 1 << 1 << 0;

    QTest::newRow("frame crossing 0xAF keeps its in-range part")
        << QList<QByteArray> {bytes({0xBB, 0xAE, 0x04, 0x01, 0x02, 0x03, 0x04})}
        << ByteMap {{0xAE, 0x01}, {0xAF, 0x02}} << 0 << 0 << 0;
    QByteArray farFrame = bytes({0xBB, 0xFF, 0xFF});
    farFrame.append(QByteArray(255, char(0x5A)));
    farFrame.append(bytes({0xBB, 0x01, 0x01, 0x33}));
    QTest::newRow("frame wholly past 0xAF is consumed and stores nothing")
        << QList<QByteArray> {farFrame} << ByteMap {{0x01, 0x33}} << 0 << 0 << 0;
    QByteArray fullRead = bytes({0xBB, 0x00, 0xFF});
    for (int i = 0; i < 255; ++i)
        fullRead.append(char(i));
    ByteMap firstImage;
    for (int i = 0; i < ComsProtocol::ImageSize; ++i)
        firstImage[i] = i;
    QTest::newRow("count 255 from 0x00 fills the image and no more")
        << QList<QByteArray> {fullRead} << firstImage << 0 << 0 << 0;
}

void TestComsProtocol::cutterCases()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(ByteMap, stored);
    QFETCH(int, pending);
    QFETCH(int, incomplete);
    QFETCH(int, status);

    ComsProtocol protocol;
    if (status != 0)
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QStringLiteral("Module Status: %1").arg(status)));
    feedPasses(protocol, chunks);

    for (int address = 0; address < ComsProtocol::ImageSize; ++address) {
        const auto it = stored.find(address);
        const int value = it == stored.end() ? 0 : it->second;
        const int flag = it == stored.end() ? 0 : 1;
        QVERIFY2(protocol.registerImage()[address] == value, qPrintable(QString::number(address)));
        QVERIFY2(protocol.updatedFlags()[address] == flag, qPrintable(QString::number(address)));
    }
    QCOMPARE(protocol.pendingBytes(), pending);
    QCOMPARE(protocol.incompletePasses(), incomplete);
    QCOMPARE(int(protocol.moduleStatus()), status);
}

void TestComsProtocol::incompleteHeadIsWaitedForTenPassesThenDropped()
{
    // A frame head asking for 5 data bytes, with a status message inside the
    // bytes that did arrive: only after resynchronising is that status seen.
    ComsProtocol protocol;
    feedPasses(protocol, {bytes({0xBB, 0x06, 0x05, 0xEE, 0x07})});
    feedPasses(protocol, emptyPasses(9));
    QCOMPARE(protocol.incompletePasses(), 10);
    QCOMPARE(protocol.pendingBytes(), 5);
    QCOMPARE(protocol.moduleStatus(), quint8(0));

    QTest::ignoreMessage(QtDebugMsg, "Module Status: 7");
    feedPasses(protocol, emptyPasses(1));
    QCOMPARE(protocol.moduleStatus(), quint8(7));
    QCOMPARE(protocol.pendingBytes(), 0);
    QCOMPARE(protocol.incompletePasses(), 0);
    QCOMPARE(protocol.updatedFlags()[0x06], quint8(0));

    // A lone byte is likewise dropped on its eleventh pass.
    feedPasses(protocol, {bytes({0x41})});
    feedPasses(protocol, emptyPasses(9));
    QCOMPARE(protocol.pendingBytes(), 1);
    feedPasses(protocol, emptyPasses(1));
    QCOMPARE(protocol.pendingBytes(), 0);
}

void TestComsProtocol::loneByteIsDroppedAtOnceWhenAnotherArrives()
{
    ComsProtocol protocol;
    feedPasses(protocol, {bytes({0x41})});
    QCOMPARE(protocol.pendingBytes(), 1);
    QCOMPARE(protocol.incompletePasses(), 1);

    feedPasses(protocol, {bytes({0xBB, 0x02, 0x01, 0x99})});
    QCOMPARE(protocol.registerImage()[0x02], quint8(0x99));
    QCOMPARE(protocol.pendingBytes(), 0);
    QCOMPARE(protocol.incompletePasses(), 0);
}

void TestComsProtocol::blockFlagsFollowFrameExtent_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("blocks");

    QList<int> all;
    for (int i = 0; i < 22; ++i)
        all.append(i);
    QTest::newRow("0x06 count 6 is the accelerometer only") << 0x06 << 6 << QList<int> {4};
    QTest::newRow("0x00 count 176 is every block") << 0x00 << 176 << all;
    QTest::newRow("measurement read 0x06 count 34") << 0x06 << 34 << QList<int> {4, 5, 6, 7, 8, 9};
    QTest::newRow("one byte inside a block") << 0x45 << 1 << QList<int> {16};
    QTest::newRow("last byte") << 0xAF << 1 << QList<int> {21};
    QTest::newRow("0x34 count 124 is the writable stretch")
        << 0x34 << 124 << QList<int> {12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
}

void TestComsProtocol::blockFlagsFollowFrameExtent()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QList<int>, blocks);

    ComsProtocol protocol;
    QByteArray frame = bytes({0xBB, start, count});
    frame.append(QByteArray(count, char(0x11)));
    feedPasses(protocol, {frame});
    QCOMPARE(dispatchedBlocks(protocol), blocks);

    protocol.clearUpdatedFlags();
    QCOMPARE(dispatchedBlocks(protocol), QList<int> {});
}

void TestComsProtocol::requestsAreBuiltByteExact_data()
{
    QTest::addColumn<bool>("isWrite");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("payload"); // read: one byte, the count
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("read the whole map")
        << false << 0x00 << bytes({0xB0}) << bytes({0xAA, 0x01, 0x00, 0xB0});
    QTest::newRow("write Control1 := 11")
        << true << 0x34 << bytes({0x0B}) << bytes({0xAA, 0x00, 0x34, 0x01, 0x0B});
    QByteArray defaults;
    for (int i = 0; i < 124; ++i)
        defaults.append(char(0xC0 ^ i));
    QTest::newRow("write of 124 bytes")
        << true << 0x34 << defaults << bytes({0xAA, 0x00, 0x34, 124}) + defaults;
    QTest::newRow("write of no bytes")
        << true << 0x10 << QByteArray() << bytes({0xAA, 0x00, 0x10, 0x00});
}

void TestComsProtocol::requestsAreBuiltByteExact()
{
    QFETCH(bool, isWrite);
    QFETCH(int, address);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);

    // A longer request first: frames are built whole, so nothing of it may show.
    const QByteArray filler(200, char(0x77));
    const QByteArray longer = writeRequest(
        0x00, reinterpret_cast<const quint8 *>(filler.constData()), quint8(filler.size()));
    QCOMPARE(longer.size(), 204);
    const QByteArray built = isWrite
        ? writeRequest(quint8(address), reinterpret_cast<const quint8 *>(payload.constData()),
            quint8(payload.size()))
        : readRequest(quint8(address), quint8(payload.at(0)));
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void TestComsProtocol::registerBlocksTileTheImage()
{
    int next = 0;
    for (const RegisterBlock &block : registerBlocks) {
        QCOMPARE(int(block.start), next);
        QVERIFY(block.length > 0);
        next += block.length;
    }
    QCOMPARE(next, ComsProtocol::ImageSize);
    QCOMPARE(int(registerBlocks[4].start), int(RegisterMap::Acc.address));
    QCOMPARE(int(registerBlocks[4].length), int(RegisterMap::Acc.count));
    QCOMPARE(int(registerBlocks[21].start), int(RegisterMap::AccMagEff.address));
    QCOMPARE(registerBlockAt(0x07), 4);
    QCOMPARE(registerBlockAt(0xB0), -1);
}

void TestComsProtocol::connectionTakesOnlyFramesTheModuleMaySend_data()
{
    // What the link sent ("r a n" reads, "c v" writes of Control1), what came
    // back, and the addresses that must be flagged afterwards.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QList<int>>("flagged"); // first address, count, ...
    QTest::addColumn<int>("rejected"); // headers judged to be noise

    QTest::newRow("nothing asked, nothing streamed")
        << QStringList {} << dataFrame(0x06, 34, 1) << QList<int> {} << 1;
    QTest::newRow("asked for") << QStringList {"r 54 1"} << dataFrame(0x36, 1, 0x15)
                               << QList<int> {0x36, 1} << 0;
    QTest::newRow("asked for elsewhere")
        << QStringList {"r 54 1"} << dataFrame(0x37, 1, 0x15) << QList<int> {} << 1;
    QTest::newRow("asked for, other length")
        << QStringList {"r 6 6"} << dataFrame(0x06, 12, 1) << QList<int> {} << 1;
    QTest::newRow("read past the end answered with what exists")
        << QStringList {"r 160 32"} << dataFrame(160, 16, 3) << QList<int> {160, 16} << 0;
    QTest::newRow("streamed in mode 11")
        << QStringList {"c 11"} << dataFrame(0x06, 34, 1) << QList<int> {0x06, 34} << 0;
    QTest::newRow("mode 11 block in mode 12")
        << QStringList {"c 12"} << dataFrame(0x06, 34, 1) << QList<int> {} << 1;
    QTest::newRow("streamed in mode 12")
        << QStringList {"c 12"} << dataFrame(0x06, 12, 1) << QList<int> {0x06, 12} << 0;
    // Frames streamed before the module took the write are still on their
    // way; once it answered a later read, the old mode's block is noise.
    QTest::newRow("streaming just switched off")
        << QStringList {"c 11", "c 0"} << dataFrame(0x06, 34, 1) << QList<int> {0x06, 34} << 0;
    QTest::newRow("streaming off, module took the write")
        << QStringList {"c 11", "c 0", "r 54 1"}
        << dataFrame(0x36, 1, 0x15) + dataFrame(0x06, 34, 1) << QList<int> {0x36, 1} << 1;
    QTest::newRow("switched to 12, module took the write")
        << QStringList {"c 11", "c 12", "r 54 1"}
        << dataFrame(0x06, 12, 1) + dataFrame(0x36, 1, 0x15) + dataFrame(0x06, 34, 1)
        << QList<int> {0x06, 12, 0x36, 1} << 1;
    QTest::newRow("mirror header in mode 11")
        << QStringList {"c 11"} << dataFrame(0x37, 0x30, 1) << QList<int> {} << 1;
    QTest::newRow("range header in mode 11")
        << QStringList {"c 11"} << dataFrame(0x36, 1, 0xFF) << QList<int> {} << 1;
    QTest::newRow("control1 written as part of a block")
        << QStringList {"w 52 3 12"} << dataFrame(0x06, 12, 1) << QList<int> {0x06, 12} << 0;
}

void TestComsProtocol::connectionTakesOnlyFramesTheModuleMaySend()
{
    QFETCH(QStringList, sent);
    QFETCH(QByteArray, received);
    QFETCH(QList<int>, flagged);
    QFETCH(int, rejected);
    ComsProtocol protocol;
    protocol.beginConnection();
    for (const QString &request : sent) {
        const QStringList f = request.split(' ');
        if (f[0] == "r") {
            sendRead(protocol, f[1].toInt(), f[2].toInt());
        } else if (f[0] == "c") {
            sendControl1(protocol, f[1].toInt());
        } else {
            // A write of several registers from f[1] whose Control1 byte is f[3].
            QByteArray data(f[2].toInt(), char(0x55));
            data[RegisterMap::Control1.address - f[1].toInt()] = char(f[3].toInt());
            protocol.noteRequestSent(writeRequest(quint8(f[1].toInt()),
                reinterpret_cast<const quint8 *>(data.constData()), quint8(data.size())));
        }
    }
    feedPasses(protocol, {received});
    std::set<int> expected;
    for (int i = 0; i + 1 < flagged.size(); i += 2) {
        const std::set<int> part = range(flagged[i], flagged[i + 1]);
        expected.insert(part.begin(), part.end());
    }
    QCOMPARE(flaggedAddresses(protocol), expected);
    QCOMPARE(int(protocol.rejectedHeaders()), rejected);
    // A rejected header leaves nothing waiting for its bytes.
    QVERIFY(protocol.pendingBytes() <= 1);
}

void TestComsProtocol::noiseHeaderDoesNotSwallowTheStreamBehindIt()
{
    // "BB 40 30" in line noise used to be taken as a 48-byte frame: the next
    // frame vanished into it and later bytes landed on the calibration mirrors.
    ComsProtocol protocol;
    protocol.beginConnection();
    sendControl1(protocol, 11);
    QByteArray line = bytes({0x13, 0xBB, 0x40, 0x30});
    line += dataFrame(0x06, 34, 0x21) + dataFrame(0x06, 34, 0x22);
    for (const char byte : line)
        feedPasses(protocol, {QByteArray(1, byte)});
    QCOMPARE(flaggedAddresses(protocol), range(0x06, 34));
    QCOMPARE(int(protocol.registerImage()[0x06]), 0x22);
    QCOMPARE(int(protocol.registerImage()[0x27]), 0x22);
    for (int a = 0x28; a < ComsProtocol::ImageSize; ++a)
        QCOMPARE(int(protocol.registerImage()[a]), 0);
    QCOMPARE(protocol.rejectedHeaders(), quint64(1));
    QCOMPARE(protocol.pendingBytes(), 0);
}

void TestComsProtocol::wholeMapAnswerArrivesWholeOneBytePerPass()
{
    ComsProtocol protocol;
    protocol.beginConnection();
    sendRead(protocol, 0, 176);
    QByteArray answer = bytes({0xBB, 0x00, 0xB0});
    for (int a = 0; a < 176; ++a)
        answer.append(char(quint8(a == 0 ? 0x42 : a % 0xBB)));
    for (const char byte : answer)
        feedPasses(protocol, {QByteArray(1, byte)});
    QCOMPARE(flaggedAddresses(protocol), range(0, 176));
    QCOMPARE(int(protocol.registerImage()[0]), 0x42);
    QCOMPARE(int(protocol.registerImage()[175]), 175 % 0xBB);
    QCOMPARE(protocol.awaitedAnswers(), 0);
    QCOMPARE(protocol.rejectedHeaders(), quint64(0));
}

void TestComsProtocol::answerIsTakenOnceAndForgottenAfterItsLifetime()
{
    ComsProtocol protocol;
    protocol.setClock(fakeClock);
    fakeNow = 1000;
    protocol.beginConnection();
    sendRead(protocol, 0x36, 1);
    sendRead(protocol, 0x36, 1);
    QCOMPARE(protocol.awaitedAnswers(), 2);
    feedPasses(protocol, {dataFrame(0x36, 1, 0x10), dataFrame(0x36, 1, 0x11)});
    QCOMPARE(int(protocol.registerImage()[0x36]), 0x11);
    QCOMPARE(protocol.awaitedAnswers(), 0);
    // Both answers came: a third copy was not asked for.
    feedPasses(protocol, {dataFrame(0x36, 1, 0x12)});
    QCOMPARE(int(protocol.registerImage()[0x36]), 0x11);

    // A read the module never answered stops vouching for its header.
    sendRead(protocol, 0x36, 1);
    fakeNow += ComsProtocol::AwaitedLifetimeMs;
    feedPasses(protocol, {dataFrame(0x36, 1, 0x13)});
    QCOMPARE(int(protocol.registerImage()[0x36]), 0x13);
    sendRead(protocol, 0x36, 1);
    fakeNow += ComsProtocol::AwaitedLifetimeMs + 1;
    feedPasses(protocol, {dataFrame(0x36, 1, 0x14)});
    QCOMPARE(int(protocol.registerImage()[0x36]), 0x13);
    QCOMPARE(protocol.awaitedAnswers(), 0);

    // The block of the mode before a write of Control1 counts for as long.
    sendControl1(protocol, 11);
    sendControl1(protocol, 0);
    fakeNow += ComsProtocol::AwaitedLifetimeMs;
    feedPasses(protocol, {dataFrame(0x06, 34, 0x21)});
    QCOMPARE(int(protocol.registerImage()[0x06]), 0x21);
    fakeNow += 1;
    feedPasses(protocol, {dataFrame(0x06, 34, 0x22)});
    QCOMPARE(int(protocol.registerImage()[0x06]), 0x21);

    // However many reads go unanswered, only the latest few are kept.
    for (int i = 0; i < ComsProtocol::AwaitedLimit + 10; ++i)
        sendRead(protocol, i, 1);
    QCOMPARE(protocol.awaitedAnswers(), ComsProtocol::AwaitedLimit);
}

void TestComsProtocol::control1ReadBackSetsTheStreamedBlockUnlessWrittenSince()
{
    ComsProtocol protocol;
    protocol.beginConnection();
    QCOMPARE(protocol.streamingMode(), -1);
    // Another program left the module streaming: the read of the whole map says so.
    sendRead(protocol, 0, 176);
    QByteArray map(176, char(0));
    map[0x34] = char(12);
    feedPasses(protocol, {bytes({0xBB, 0x00, 0xB0}) + map});
    QCOMPARE(protocol.streamingMode(), 12);
    feedPasses(protocol, {dataFrame(0x06, 12, 1)});
    QCOMPARE(int(protocol.registerImage()[0x06]), 1);

    // A read that was under way when Control1 was written tells the old mode.
    sendRead(protocol, 0x34, 1);
    sendControl1(protocol, 11);
    feedPasses(protocol, {dataFrame(0x34, 1, 0)});
    QCOMPARE(protocol.streamingMode(), 11);
    feedPasses(protocol, {dataFrame(0x06, 34, 2)});
    QCOMPARE(int(protocol.registerImage()[0x06]), 2);
}

void TestComsProtocol::beginConnectionForgetsWhatTheLastOneLeft()
{
    ComsProtocol protocol;
    // Before any connection every complete frame is taken.
    QVERIFY(!protocol.checksHeaders());
    feedPasses(protocol, {dataFrame(0x40, 2, 7)});
    QCOMPARE(int(protocol.registerImage()[0x40]), 7);

    protocol.beginConnection();
    sendControl1(protocol, 11);
    sendRead(protocol, 0, 176);
    // A streamed frame cut by the Disconnect: 20 of its 37 bytes.
    feedPasses(protocol, {dataFrame(0x06, 34, 1).left(20), QByteArray()});
    QCOMPARE(protocol.pendingBytes(), 20);
    QCOMPARE(protocol.incompletePasses(), 2);

    protocol.beginConnection();
    QCOMPARE(protocol.pendingBytes(), 0);
    QCOMPARE(protocol.incompletePasses(), 0);
    QCOMPARE(protocol.awaitedAnswers(), 0);
    QCOMPARE(protocol.streamingMode(), -1);
    QVERIFY(flaggedAddresses(protocol).empty());
    QVERIFY(!protocol.hasUpdatedFlags());
    // The earlier connection's read and mode vouch for nothing now.
    feedPasses(protocol, {dataFrame(0x06, 34, 1), dataFrame(0x00, 176, 1)});
    QVERIFY(flaggedAddresses(protocol).empty());
    // Its registers stay as last received.
    QCOMPARE(int(protocol.registerImage()[0x40]), 7);
}

void TestComsProtocol::joiningLinkTakesNoAnswerOutOfTheStream_data()
{
    QTest::addColumn<int>("chunk"); // bytes per processing pass
    QTest::newRow("one pass") << 0;
    QTest::newRow("byte by byte") << 1;
    QTest::newRow("odd chunks") << 7;
}

void TestComsProtocol::joiningLinkTakesNoAnswerOutOfTheStream()
{
    // A module already streaming when the link opens: the line starts in the
    // middle of a frame, and every frame holds measurement bytes that read
    // "BB 00 B0", the header of the whole-map answer the link awaits.
    QFETCH(int, chunk);
    QByteArray streamed = dataFrame(0x06, 34, 0x21);
    streamed.replace(3 + 6, 3, bytes({0xBB, 0x00, 0xB0}));
    QByteArray map(176, char(0x11));
    map[0] = char(0x5A);
    map[0x34] = char(11);
    const QByteArray line
        = streamed.mid(5) + streamed + streamed + bytes({0xBB, 0x00, 0xB0}) + map + streamed;

    ComsProtocol protocol;
    protocol.setJoinsStream(true);
    protocol.beginConnection();
    sendRead(protocol, 0, 176);
    const int step = chunk == 0 ? line.size() : chunk;
    for (int at = 0; at < line.size(); at += step)
        feedPasses(protocol, {line.mid(at, step)});

    QCOMPARE(int(protocol.registerImage()[0]), 0x5A);
    QCOMPARE(int(protocol.registerImage()[0x40]), 0x11);
    QCOMPARE(protocol.awaitedAnswers(), 0);
    // In step with the stream: its frames were taken whole, and the mode read back.
    QCOMPARE(int(protocol.registerImage()[0x06]), 0x21);
    QCOMPARE(protocol.streamingMode(), 11);
    QCOMPARE(protocol.counters().frames, quint64(4));
    QCOMPARE(protocol.pendingBytes(), 0);
}

QTEST_APPLESS_MAIN(TestComsProtocol)
#include "tst_comsprotocol.moc"
