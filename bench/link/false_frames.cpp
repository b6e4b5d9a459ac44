// SPDX-License-Identifier: GPL-3.0-or-later
// How many data frames the cutter takes from line noise while the module
// streams: seeded random noise (with 0xBB and 0xEE among it) between valid
// streamed frames, handed over in chunks of random size, one cutter pass each.
//
//   <build>/bench/link/bench_false_frames [--seed N] [--noise-bytes N]
//                                         [--mean-gap N] [--marker-share F]
//
// Prints, with header judging off (every complete frame taken, as before a
// connection and as the cutter did before it knew what the module may send)
// and on (a connection streaming in mode 11): false frames taken per million
// noise bytes, how many of them wrote outside the streamed block (the sensor
// range, the calibration mirrors...), and streamed frames lost.
#include "comsprotocol.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <random>

namespace {

struct Options
{
    quint32 seed = 1;
    long noiseBytes = 1000000;
    int meanGap = 16; // noise bytes between two frames, on average
    double markerShare = 0.0625; // share of noise bytes that are 0xBB or 0xEE
};

constexpr int StreamAddress = RegisterMap::StreamedAll.address;
constexpr int StreamCount = RegisterMap::StreamedAll.count;

struct Tally
{
    long genuineSent = 0;
    long genuineTaken = 0;
    long falseFrames = 0;
    long falseOutsideStream = 0;
    // Payloads of the frames sent, by sequence number, to recognise them.
    std::vector<QByteArray> payloads;
};

void observe(void *context, quint8 address, quint8 count, const quint8 *data)
{
    auto *tally = static_cast<Tally *>(context);
    if (address == StreamAddress && count == StreamCount) {
        // Sequence number in the first three bytes (7 bits each, never a marker).
        const long seq = long(data[0]) | (long(data[1]) << 7) | (long(data[2]) << 14);
        const std::size_t index = std::size_t(seq);
        if (index < tally->payloads.size()
            && std::memcmp(tally->payloads[index].constData(), data, StreamCount) == 0) {
            ++tally->genuineTaken;
            return;
        }
    }
    ++tally->falseFrames;
    if (count > 0 && !(address >= StreamAddress && address + count <= StreamAddress + StreamCount))
        ++tally->falseOutsideStream;
}

Tally run(const Options &options, bool judgeHeaders)
{
    std::mt19937 random(options.seed);
    std::uniform_int_distribution<int> byteOf(0, 255);
    std::uniform_int_distribution<int> gapOf(0, 2 * options.meanGap);
    std::uniform_int_distribution<int> chunkOf(1, 64);
    std::bernoulli_distribution marker(options.markerShare);

    Tally tally;
    ComsProtocol protocol;
    protocol.setFrameObserver(observe, &tally);
    if (judgeHeaders) {
        protocol.beginConnection();
        const quint8 mode = RegisterMap::StreamingAll;
        protocol.noteRequestSent(writeRequest(RegisterMap::Control1.address, &mode, 1));
    }

    QByteArray line;
    long noise = 0;
    while (noise < options.noiseBytes) {
        const int gap = gapOf(random);
        for (int i = 0; i < gap; ++i)
            line.append(char(marker(random) ? (byteOf(random) & 1 ? 0xBB : 0xEE) : byteOf(random)));
        noise += gap;
        QByteArray payload(StreamCount, 0);
        const long seq = tally.genuineSent++;
        payload[0] = char(seq & 0x7F);
        payload[1] = char((seq >> 7) & 0x7F);
        payload[2] = char((seq >> 14) & 0x7F);
        for (int i = 3; i < StreamCount; ++i) {
            int b = byteOf(random);
            if (b == 0xBB || b == 0xEE)
                b ^= 0x01;
            payload[i] = char(b);
        }
        tally.payloads.push_back(payload);
        line.append(char(0xBB))
            .append(char(StreamAddress))
            .append(char(StreamCount))
            .append(payload);
    }
    // Sequence numbers have 21 bits: every frame of a run is told apart.
    if (tally.genuineSent > (1 << 21)) {
        std::fprintf(
            stderr, "bench_false_frames: more than %d frames, lower --noise-bytes\n", 1 << 21);
        std::exit(2);
    }
    for (int at = 0; at < line.size();) {
        const int n = std::min(chunkOf(random), int(line.size()) - at);
        protocol.appendReceived(line.constData() + at, n);
        protocol.extractFrames();
        protocol.clearUpdatedFlags();
        at += n;
    }
    for (int i = 0; i < 300; ++i)
        protocol.extractFrames();
    return tally;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Options options;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seed")
            options.seed = args[i + 1].toUInt();
        else if (args[i] == "--noise-bytes")
            options.noiseBytes = args[i + 1].toLong();
        else if (args[i] == "--mean-gap")
            options.meanGap = args[i + 1].toInt();
        else if (args[i] == "--marker-share")
            options.markerShare = args[i + 1].toDouble();
    }
    std::printf("seed %u, %ld noise bytes, mean gap %d, marker share %.4f, chunks of 1-64 bytes\n",
        options.seed, options.noiseBytes, options.meanGap, options.markerShare);
    for (const bool judge : {false, true}) {
        const Tally t = run(options, judge);
        const double perMillion = 1e6 * double(t.falseFrames) / double(options.noiseBytes);
        std::printf("%-24s streamed frames %ld, taken intact %ld (lost %ld); false frames %ld "
                    "(%.1f per million noise bytes), %ld of them outside the streamed block\n",
            judge ? "headers judged:" : "every frame taken:", t.genuineSent, t.genuineTaken,
            t.genuineSent - t.genuineTaken, t.falseFrames, perMillion, t.falseOutsideStream);
    }
    return 0;
}
