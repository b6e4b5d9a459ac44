// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's receive and transmit sides without a terminal: request
// cutting, and the line faults and pacing of what it sends.

#include "outputline.h"
#include "requestparser.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray dataFrame(int address, int count)
{
    QByteArray f;
    f.append(char(0xBB)).append(char(address)).append(char(count));
    for (int i = 0; i < count; ++i)
        f.append(char(0x10 + i)); // no 0xBB or 0xEE inside
    return f;
}

// Everything the line would send, chunk after chunk.
QList<OutputLine::Chunk> drain(OutputLine &line)
{
    QList<OutputLine::Chunk> chunks;
    double now = 0;
    while (!line.isEmpty()) {
        const OutputLine::Chunk front = line.front();
        now = std::max(now, line.nextSendTime());
        line.consumed(front.bytes.size(), now, nullptr);
        chunks.append(front);
    }
    return chunks;
}
} // namespace

class TestSimLine : public QObject
{
    Q_OBJECT

private slots:
    void requestsAreCutFromAnyBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("requests"); // "r a n" / "w a data-hex", separated by ';'
        QTest::newRow("read") << hex("AA0100B0") << "r 0 176";
        QTest::newRow("write") << hex("AA0034010B") << "w 52 0b";
        QTest::newRow("write of nothing") << hex("AA003400") << "w 52 ";
        QTest::newRow("noise before") << hex("0011BBEEAA010622") << "r 6 34";
        QTest::newRow("AA AA then read") << hex("AAAA010001") << "r 0 1";
        QTest::newRow("unknown kind skipped") << hex("AA02AA013601") << "r 54 1";
        QTest::newRow("AA inside write data") << hex("AA003702AAAAAA010001") << "w 55 aaaa;r 0 1";
        QTest::newRow("two in a row") << hex("AA010001AA0034010C") << "r 0 1;w 52 0c";
    }
    void requestsAreCutFromAnyBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, requests);
        // Fed whole and fed one byte at a time, the result is the same.
        for (int step : {int(bytes.size()), 1}) {
            RequestParser parser;
            QStringList got;
            for (int i = 0; i < bytes.size(); i += step) {
                for (const auto &r : parser.feed(
                         bytes.constData() + i, std::min(step, int(bytes.size()) - i), 0.0)) {
                    got << (r.write ? QStringLiteral("w %1 %2").arg(r.address).arg(
                                QString::fromLatin1(r.data.toHex()))
                                    : QStringLiteral("r %1 %2").arg(r.address).arg(r.count));
                }
            }
            QCOMPARE(got.join(QLatin1Char(';')), requests);
        }
    }

    void staleHalfRequestIsDropped()
    {
        RequestParser parser;
        QVERIFY(parser.feed(hex("AA000404").constData(), 4, 0.0).empty());
        QVERIFY(parser.midRequest());
        // The rest never came; a read long after is a read, not write data.
        const auto got = parser.feed(hex("AA010001").constData(), 4, 1.0);
        QCOMPARE(int(got.size()), 1);
        QVERIFY(!got[0].write);
        // Within the idle limit the bytes still belong to the write.
        QVERIFY(parser.feed(hex("AA0004").constData(), 3, 2.0).empty());
        QCOMPARE(int(parser.feed(hex("0102030405").constData(), 5, 2.1).size()), 1);
    }

    void cleanLineSendsFramesWhole()
    {
        OutputLine line(11520);
        line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream);
        const auto chunks = drain(line);
        QCOMPARE(chunks.size(), 1);
        QCOMPARE(chunks[0].bytes, dataFrame(6, 34));
        QVERIFY(chunks[0].endsFrame && chunks[0].intact);
    }

    void pacingNeverExceedsTheLineRate()
    {
        OutputLine line(11520);
        for (int i = 0; i < 50; ++i)
            line.enqueueFrame(dataFrame(0, 176), OutputLine::Kind::Answer);
        double now = 0, first = -1;
        int sent = 0;
        while (!line.isEmpty()) {
            now = std::max(now, line.nextSendTime());
            if (first < 0)
                first = now;
            const int n = std::min(7, int(line.front().bytes.size())); // partial writes too
            line.consumed(n, now, nullptr);
            sent += n;
            QVERIFY(sent <= (now - first) * 11520 + 7 + 1e-6);
        }
        QCOMPARE(sent, 50 * 179);
    }

    void faultsKeepIntactFramesRecoverable()
    {
        OutputLine line(11520);
        SimFaults faults;
        faults.noiseChance = faults.splitChance = faults.truncateChance = faults.statusChance = 0.3;
        line.setFaults(faults);
        const int frames = 400;
        for (int i = 0; i < frames; ++i)
            line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream);
        QByteArray wire;
        int ended = 0, intact = 0;
        for (const auto &c : drain(line)) {
            if (c.kind == OutputLine::Kind::Noise) {
                QVERIFY(!c.bytes.contains(char(0xBB)) && !c.bytes.contains(char(0xEE)));
            }
            if (c.endsFrame) {
                ++ended;
                intact += c.intact ? 1 : 0;
            }
            wire += c.bytes;
        }
        QCOMPARE(ended, frames);
        QVERIFY(intact < frames && intact > frames / 2);
        // A receiver that waits for a frame to complete (the filler completes
        // a cut one) finds every intact frame.
        int found = 0, cut = 0;
        for (int i = 0; i < wire.size();) {
            const quint8 b = quint8(wire[i]);
            if (b == 0xEE) {
                i += 2;
            } else if (b == 0xBB) {
                const QByteArray f = wire.mid(i, 3 + quint8(wire[i + 2]));
                (f == dataFrame(6, 34) ? found : cut)++;
                i += f.size();
            } else {
                ++i;
            }
        }
        QCOMPARE(found, intact);
        QCOMPARE(cut, frames - intact);
    }

    // Raw noise carries the bytes that open messages, but never the header of
    // a streamed block, which would be a frame to anyone, nor a final 0xEE.
    void rawNoiseCarriesMessageStarts()
    {
        OutputLine line(11520);
        SimFaults faults;
        faults.noiseChance = 1;
        faults.noiseMaxBytes = 64;
        faults.rawNoise = true;
        line.setFaults(faults);
        for (int i = 0; i < 2000; ++i)
            line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream);
        int bb = 0, ee = 0, frames = 0;
        for (const auto &c : drain(line)) {
            if (c.kind != OutputLine::Kind::Noise) {
                QCOMPARE(c.bytes, dataFrame(6, 34));
                ++frames;
                continue;
            }
            QVERIFY(!c.headerShaped);
            bb += c.bytes.count(char(0xBB));
            ee += c.bytes.count(char(0xEE));
            for (const char *streamed : {"\xBB\x06\x22", "\xBB\x06\x0C"})
                QVERIFY(!c.bytes.contains(QByteArray(streamed, 3)));
            QVERIFY(!c.bytes.endsWith(char(0xEE))); // it would eat the next message's first byte
        }
        QCOMPARE(frames, 2000);
        // About 65000 noise bytes: each value comes about 250 times.
        QVERIFY2(bb > 100 && ee > 100, qPrintable(QStringLiteral("%1 %2").arg(bb).arg(ee)));
    }

    void headerNoiseIsShapedAsAFrameHeader()
    {
        OutputLine line(11520);
        SimFaults faults;
        faults.headerNoiseChance = 1;
        line.setFaults(faults);
        for (int i = 0; i < 400; ++i)
            line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream);
        const auto chunks = drain(line);
        QCOMPARE(chunks.size(), 800);
        QSet<QByteArray> headers;
        for (int i = 0; i < chunks.size(); i += 2) {
            // The header right before the message, nothing between.
            const OutputLine::Chunk &h = chunks[i];
            QVERIFY(h.headerShaped && h.kind == OutputLine::Kind::Noise && !h.endsFrame);
            QCOMPARE(h.bytes.size(), 3);
            QCOMPARE(quint8(h.bytes[0]), quint8(0xBB));
            const int address = quint8(h.bytes[1]), count = quint8(h.bytes[2]);
            QVERIFY(count >= 1 && address + count <= 176);
            QVERIFY(!(address == 6 && (count == 34 || count == 12)));
            headers.insert(h.bytes);
            QCOMPARE(chunks[i + 1].bytes, dataFrame(6, 34));
        }
        // The blocks whose change matters most come up, and others too.
        QVERIFY(headers.contains(hex("BB4030")));
        QVERIFY(headers.contains(hex("BB3730")));
        QVERIFY(headers.size() > 50);
    }

    // A cut frame is a proper prefix of the frame from its first byte on, and
    // the next message follows it with no filler.
    void cutFrameIsFollowedAtOnce()
    {
        OutputLine line(11520);
        SimFaults faults;
        faults.cutChance = 0.5;
        line.setFaults(faults);
        for (int i = 0; i < 400; ++i)
            line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream, i % 2 == 0 ? 6 : 0);
        const auto chunks = drain(line);
        QCOMPARE(chunks.size(), 400);
        int cut = 0, shortest = 37, longest = 0;
        for (int i = 0; i < chunks.size(); ++i) {
            const OutputLine::Chunk &c = chunks[i];
            QVERIFY(c.endsFrame && c.kind == OutputLine::Kind::Stream);
            if (c.intact) {
                QCOMPARE(c.bytes, dataFrame(6, 34));
                QVERIFY(!c.unpadded);
                continue;
            }
            ++cut;
            QVERIFY(c.unpadded);
            QVERIFY(c.bytes.size() >= 1 && c.bytes.size() < 37);
            QVERIFY(dataFrame(6, 34).startsWith(c.bytes));
            if (i % 2 == 0)
                QVERIFY(c.bytes.size() <= 3 + 6); // the stamp never goes out
            shortest = std::min(shortest, int(c.bytes.size()));
            longest = std::max(longest, int(c.bytes.size()));
        }
        QVERIFY(cut > 150 && cut < 250);
        QVERIFY(shortest < 3); // the header itself is cut too
        QVERIFY(longest > 9); // and frames without a stamp deep inside
    }

    void truncationSparesTheStamp()
    {
        OutputLine line(11520);
        SimFaults faults;
        faults.truncateChance = 1;
        line.setFaults(faults);
        for (int i = 0; i < 100; ++i)
            line.enqueueFrame(dataFrame(6, 34), OutputLine::Kind::Stream, 6);
        for (const auto &c : drain(line)) {
            if (c.endsFrame) {
                QVERIFY(!c.intact);
                QVERIFY(c.bytes.size() <= 3 + 6);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_simline.moc"
