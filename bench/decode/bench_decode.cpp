// SPDX-License-Identifier: GPL-3.0-or-later
// Reading recordings: a raw recording with one frame per chunk (as a port at
// the line limit delivers them) converted to CSV, and decoded for analysis
// (samples, no text). Prints rows or frames a second, the floors (formatting
// the same rows as text alone, and writing that text to the disk alone), and
// the peak memory for a short and a long recording, which stays flat because
// the file is streamed.
//
// bench_decode [frames] [folder]   (defaults: 1,000,000 frames, a temporary folder)
#include "csvtext.h"
#include "record.h"
#include "recordingcsv.h"
#include "recordingdecoder.h"
#include "simmodule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Distinct frames from the simulated module, played over and over.
constexpr int distinctFrames = 4096;
constexpr double lineFramesPerSecond = 311.0;

// The process's CPU time: on a shared machine the wall clock also counts the
// time other processes held the cores.
double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool writeRecording(const QString &path, qint64 frames)
{
    SimIdentity identity;
    identity.sensorsRange = 0x15;
    SimModule module(identity);
    module.sensors().setMotion(SimMotion::tumbling(), 0);
    module.applyWrite(SimModule::control1Address, QByteArray(1, char(11)));
    std::vector<QByteArray> pool;
    for (int i = 0; i < distinctFrames; ++i)
        pool.push_back(module.streamFrame(i / lineFramesPerSecond));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    RecordingInfo info;
    info.hardwareVersion = 1442;
    info.sensorsRange = 0x15;
    info.accFullScale = 40;
    info.gyroFullScale = 500;
    info.magFullScale = 8;
    RawRecordWriter writer(&file);
    if (!writer.writeHeader(info) || !writer.writeConnection(0)
        || !writer.writeRequest(0, QByteArray::fromHex("aa0034010b")))
        return false;
    for (qint64 i = 0; i < frames; ++i) {
        if (!writer.writeChunk(qint64(double(i) * 1e6 / lineFramesPerSecond),
                pool[std::size_t(i % distinctFrames)]))
            return false;
    }
    return file.flush();
}

struct Figures
{
    double decodePerSecond = 0;
    double csvPerSecond = 0;
    double formatPerSecond = 0;
    double decodePerCpuSecond = 0;
    double csvPerCpuSecond = 0;
    double formatPerCpuSecond = 0;
    double diskMiBPerSecond = 0;
    qint64 rows = 0;
    double rowBytes = 0;
    long rssAfterDecodeKiB = 0;
    long rssAfterCsvKiB = 0;
};

bool run(const QString &folder, qint64 frames, Figures *out)
{
    const QString raw = folder + QStringLiteral("/bench.velmarec");
    const QString csv = folder + QStringLiteral("/bench.csv");
    if (!writeRecording(raw, frames))
        return false;

    // Decoding for analysis: every sample, no text.
    QElapsedTimer timer;
    timer.start();
    double cpu = cpuSeconds();
    decode::RecordingDecoder decoder;
    if (!decoder.open(raw))
        return false;
    std::vector<MeasurementFrame> batch(4096);
    qint64 samples = 0;
    double checksum = 0;
    for (int n; (n = decoder.read(batch.data(), int(batch.size()))) > 0;) {
        samples += n;
        checksum += double(batch[0].acc[0]);
    }
    out->decodePerSecond = double(decoder.frames()) / (timer.nsecsElapsed() / 1e9);
    out->decodePerCpuSecond = double(decoder.frames()) / (cpuSeconds() - cpu);
    out->rssAfterDecodeKiB = peakRssKiB();
    if (samples != frames)
        return false;

    timer.restart();
    cpu = cpuSeconds();
    const RecordingCsvResult result = convertRecordingToCsv(raw, csv);
    out->csvPerSecond = double(result.rows) / (timer.nsecsElapsed() / 1e9);
    out->csvPerCpuSecond = double(result.rows) / (cpuSeconds() - cpu);
    out->rows = result.rows;
    out->rssAfterCsvKiB = peakRssKiB();
    if (!result.ok)
        return false;

    // The floor: rows formatted into one reused buffer, with nothing else to
    // do, as many as the recording holds.
    decode::RecordingDecoder again;
    again.open(raw);
    const int held = again.read(batch.data(), int(batch.size()));
    std::vector<char> text(batch.size() * decode::csvRowCapacity);
    qint64 formatted = 0;
    qint64 textBytes = 0;
    timer.restart();
    cpu = cpuSeconds();
    while (formatted < frames) {
        char *end = text.data();
        for (int i = 0; i < held; ++i)
            end = decode::writeCsvRow(end, batch[std::size_t(i)]);
        formatted += held;
        textBytes += end - text.data();
    }
    out->formatPerSecond = double(formatted) / (timer.nsecsElapsed() / 1e9);
    out->formatPerCpuSecond = double(formatted) / (cpuSeconds() - cpu);
    out->rowBytes = double(textBytes) / double(formatted);

    // And the disk: as much text written and synced.
    QFile sink(folder + QStringLiteral("/sink.csv"));
    if (!sink.open(QIODevice::WriteOnly))
        return false;
    timer.restart();
    for (qint64 written = 0; written < textBytes; written += qint64(text.size()))
        sink.write(text.data(), qint64(text.size()));
    sink.flush();
    ::fsync(sink.handle());
    out->diskMiBPerSecond = double(textBytes) / (1 << 20) / (timer.nsecsElapsed() / 1e9);
    if (checksum == 42.0) // keeps the reads from being optimised away
        std::printf("\n");
    QFile::remove(raw);
    QFile::remove(csv);
    sink.remove();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 frames = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir temporary;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    if (frames <= 0 || folder.isEmpty()) {
        std::fprintf(stderr, "usage: bench_decode [frames] [folder]\n");
        return 2;
    }

    Figures shortRun, longRun;
    if (!run(folder, frames / 10, &shortRun) || !run(folder, frames, &longRun)) {
        std::fprintf(stderr, "bench_decode: the run failed\n");
        return 1;
    }
    std::printf(
        "frames per recording: %lld (one frame per chunk)\n", static_cast<long long>(frames));
    std::printf("decode for analysis: %.0f frames/s, %.0f per CPU second (target >= 2,000,000)\n",
        longRun.decodePerSecond, longRun.decodePerCpuSecond);
    std::printf("raw to CSV:          %.0f rows/s, %.0f per CPU second (target >= 500,000)\n",
        longRun.csvPerSecond, longRun.csvPerCpuSecond);
    std::printf("floor, formatting:   %.0f rows/s, %.0f per CPU second (the rows as text alone)\n",
        longRun.formatPerSecond, longRun.formatPerCpuSecond);
    std::printf(
        "floor, disk:         %.0f MiB/s written and synced (%.0f rows/s at this row length)\n",
        longRun.diskMiBPerSecond, longRun.diskMiBPerSecond * (1 << 20) / longRun.rowBytes);
    std::printf("peak memory:         %ld KiB after %lld frames, %ld KiB after %lld frames\n",
        shortRun.rssAfterCsvKiB, static_cast<long long>(frames / 10), longRun.rssAfterCsvKiB,
        static_cast<long long>(frames));
    return 0;
}
