// SPDX-License-Identifier: GPL-3.0-or-later
// Soak of the receive path: the simulated module streams at the line limit
// (115200 baud) with line noise, split messages and cut frames into the real
// link and backend, for a given time (default 600 s). Checks, and prints:
//  - no crash and no link error;
//  - every intact streamed frame the simulator sent was applied to the register
//    image, and nothing else was: the cutter is watched at every status message
//    (the simulator sends one before each message), where the image shows the
//    frame cut just before it (see StampTracker);
//  - the samples the backend's handlers received came in stamp order;
//  - no register outside the streamed block (ranges, calibration mirrors,
//    Control1, ...) changed while streaming;
//  - resident memory grew by less than 2 MB from the first minute (a third of
//    the run for runs shorter than three minutes) to the end.
// Two more faults, each switched on by an option, bring in what no filler-free
// byte stream can avoid:
//  --header-noise   noise with 0xBB and 0xEE, and frame headers such as BB 40 30
//                   (1% of messages) right before a message;
//  --unpadded-cuts  cut frames are followed at once by the next message, with no
//                   filler; such a frame may take the frame after it along, so
//                   then every intact frame but those is applied.
// Exit code 0 when all hold.
// Usage: velmar-soak [seconds] [--seed N] [--header-noise] [--unpadded-cuts]

#include "soakprobe.h"

#include "sim.h"

#include <durUzaBackend.h>
#include <registryitemmodel.h>

#include "comshandler.h"
#include "comsprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr long rssGrowthLimitKb = 2048;

StampTracker tracker;
std::atomic<const quint8 *> watchedImage {nullptr};
std::atomic<int> warnings {0};

// Everything the link and backend log goes through here. The cutter writes
// "Module Status:" on the processing thread while it holds the processing lock,
// in the middle of its pass, so the image can be read there without a race.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg) {
        const quint8 *image = watchedImage.load();
        if (image && text.startsWith(QLatin1String("Module Status:")))
            tracker.look(image);
        return;
    }
    if (warnings.fetch_add(1) < 20)
        std::fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg)
        std::abort();
}

// Runs the event loop until `done` holds or `timeoutMs` passed.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

int rawOf(const QVariant &value, float fullScale)
{
    return int(std::lround(value.toDouble() / double(fullScale) * 32768.0));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 600;
    quint64 seed = 7;
    bool headerNoise = false, unpaddedCuts = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seed") && i + 1 < args.size())
            seed = args[++i].toULongLong();
        else if (args[i] == QLatin1String("--header-noise"))
            headerNoise = true;
        else if (args[i] == QLatin1String("--unpadded-cuts"))
            unpaddedCuts = true;
        else if (args[i].toInt() > 0)
            seconds = args[i].toInt();
        else {
            std::fprintf(stderr,
                "usage: velmar-soak [seconds] [--seed N] [--header-noise] [--unpadded-cuts]\n");
            return 2;
        }
    }
    qInstallMessageHandler(messageHandler);

    ModuleSimulator::Options options;
    options.streamRate = 1000; // more than the line carries: paced at the line limit
    options.motion = SimMotion::still(SimPose::ZUp);
    options.faults.statusChance = 1.0; // the cutter's watch points; harmless on their own
    options.faults.seed = seed;
    ModuleSimulator sim(options);
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "soak: cannot start the simulator: %s\n", qPrintable(error));
        return 1;
    }
    sim.setSequenceStamp(true);
    qputenv("VELMAR_EXTRA_PORTS", sim.slavePath().toLocal8Bit());

    DurUzaBackend backend;
    int linkErrors = 0;
    QObject::connect(
        &backend, &DurUzaBackend::connectionError, [&](const QString &port, const QString &reason) {
            ++linkErrors;
            std::fprintf(
                stderr, "soak: link error on %s: %s\n", qPrintable(port), qPrintable(reason));
        });
    watchedImage = backend.comsHandler()->protocol()->registerImage();

    // What the handlers see: the stamp in "Gyroscope X" and, to tell a cut frame
    // from an intact one, the magnetometer, decoded back to raw counts.
    quint64 samples = 0, samplesFresh = 0, samplesBackwards = 0, samplesCorrupt = 0;
    int lastSampleStamp = 0;
    std::array<int, 3> magReference {};
    bool magReferenceSet = false;
    QObject::connect(&backend, &DurUzaBackend::magDataListChanged, [&] {
        ++samples;
        const QVariantList g = backend.gyroDataList();
        const QVariantList m = backend.magDataList();
        if (g.size() != 3 || m.size() != 3)
            return;
        if (magReferenceSet) {
            for (int i = 0; i < 3; ++i) {
                if (rawOf(m[i], backend.magFullScale()) != magReference[std::size_t(i)]) {
                    ++samplesCorrupt;
                    return;
                }
            }
        }
        const int stamp = rawOf(g[0], backend.gyroFullScale());
        if (stamp <= 0 || stamp == lastSampleStamp)
            return;
        const int step
            = ((stamp - lastSampleStamp) % StampTracker::stampCycle + StampTracker::stampCycle)
            % StampTracker::stampCycle;
        if (lastSampleStamp != 0 && step > StampTracker::stampCycle / 2)
            ++samplesBackwards;
        else
            ++samplesFresh;
        lastSampleStamp = stamp;
    });

    const int index = backend.availablePortsList().indexOf(sim.slavePath());
    backend.connectClicked(index);
    if (!runUntil(
            [&] { return sim.counters().intactStreamFrames >= 100 && samples >= 50; }, 20000)) {
        std::fprintf(stderr, "soak: the module did not start streaming\n");
        return 1;
    }
    const auto moduleImage = sim.registerImage();
    tracker.setReference(moduleImage.data());
    for (int i = 0; i < 3; ++i)
        magReference[std::size_t(i)] = qint16(
            moduleImage[std::size_t(0x12 + 2 * i)] | (moduleImage[std::size_t(0x13 + 2 * i)] << 8));
    magReferenceSet = true;
    // What the link holds outside the streamed block now is what it must hold
    // at the end of the streaming.
    tracker.guardOutside();
    if (!runUntil([] { return tracker.totals().guarding; }, 5000)) {
        std::fprintf(stderr, "soak: no status message to watch the register image at\n");
        return 1;
    }

    SimFaults faults = options.faults;
    faults.noiseChance = 0.05;
    faults.splitChance = 0.2;
    faults.truncateChance = unpaddedCuts ? 0 : 0.02;
    faults.cutChance = unpaddedCuts ? 0.02 : 0;
    faults.rawNoise = headerNoise;
    faults.headerNoiseChance = headerNoise ? 0.01 : 0;
    sim.setFaults(faults);

    std::printf(
        "soak: %d s at the line limit, 5%% %snoise, %s20%% split, 2%% cut frames %s(seed %llu)\n",
        seconds, headerNoise ? "raw " : "", headerNoise ? "1% frame headers as noise, " : "",
        unpaddedCuts ? "without filler " : "filled with noise ",
        static_cast<unsigned long long>(seed));
    const int baselineAt = seconds >= 180 ? 60 : seconds / 3;
    long rssBaseline = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer report;
    report.setInterval(10000);
    QObject::connect(&report, &QTimer::timeout, [&] {
        const SimCounters c = sim.counters();
        const StampTracker::Totals t = tracker.totals();
        std::printf(
            "  %4lld s: %llu frames sent (%llu intact), %llu applied, %llu samples, rss %ld kB\n",
            clock.elapsed() / 1000, static_cast<unsigned long long>(c.streamFrames),
            static_cast<unsigned long long>(c.intactStreamFrames),
            static_cast<unsigned long long>(t.fresh), static_cast<unsigned long long>(samples),
            residentKilobytes());
        std::fflush(stdout);
    });
    report.start();
    QTimer::singleShot(baselineAt * 1000, [&] { rssBaseline = residentKilobytes(); });
    QEventLoop run;
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    report.stop();
    const long rssEnd = residentKilobytes();

    // Stop cutting frames, stop streaming and read the whole map: its answer
    // comes after the last streamed frame, with a status message before it.
    faults.noiseChance = faults.splitChance = faults.truncateChance = faults.cutChance
        = faults.headerNoiseChance = 0;
    faults.rawNoise = false;
    sim.setFaults(faults);
    // Let what is on its way land, then stop guarding: the read rewrites the map.
    const quint64 landed = sim.counters().intactStreamFrames + 100;
    runUntil([&] { return sim.counters().intactStreamFrames >= landed; }, 10000);
    tracker.endGuard();
    // Only a whole-map read carries "Device ID".
    auto *deviceId = qobject_cast<RegistryItemModel *>(backend.registers().at(0));
    int fullReads = 0;
    const QMetaObject::Connection counted = QObject::connect(
        deviceId, &RegistryItemModel::dataUpdatedFromModule, [&] { ++fullReads; });
    backend.requestAllData();
    const bool answered = runUntil([&] { return fullReads > 0; }, 10000);
    QObject::disconnect(counted);
    const SimCounters sent = sim.counters();
    const StampTracker::Totals seen = tracker.totals();
    backend.connectClicked(index);
    runUntil([&] { return false; }, 1200); // let the worker close the port
    sim.stop();

    const quint64 cut = sent.streamFrames - sent.intactStreamFrames;
    const long growth = rssEnd - rssBaseline;
    std::printf("frames streamed: %llu, intact %llu, cut %llu (%llu without filler); noise bytes "
                "%llu (0xBB/0xEE "
                "%llu, frame headers %llu), status messages %llu, bytes %llu\n",
        static_cast<unsigned long long>(sent.streamFrames),
        static_cast<unsigned long long>(sent.intactStreamFrames),
        static_cast<unsigned long long>(cut), static_cast<unsigned long long>(sent.cutFrames),
        static_cast<unsigned long long>(sent.noiseBytes),
        static_cast<unsigned long long>(sent.noiseOpenerBytes),
        static_cast<unsigned long long>(sent.headerNoise),
        static_cast<unsigned long long>(sent.statusMessages),
        static_cast<unsigned long long>(sent.bytesSent));
    std::printf(
        "register image: %llu looks, %llu frames applied, %llu cut frames filled with noise, "
        "%llu stamps skipped, %llu backwards\n",
        static_cast<unsigned long long>(seen.looks), static_cast<unsigned long long>(seen.fresh),
        static_cast<unsigned long long>(seen.corrupt),
        static_cast<unsigned long long>(seen.skipped),
        static_cast<unsigned long long>(seen.backwards));
    std::printf(
        "handlers: %llu samples, %llu with a new stamp (the rest coalesced in a dispatch pass), "
        "%llu cut, %llu backwards\n",
        static_cast<unsigned long long>(samples), static_cast<unsigned long long>(samplesFresh),
        static_cast<unsigned long long>(samplesCorrupt),
        static_cast<unsigned long long>(samplesBackwards));
    QString changed;
    for (int a : tracker.changedAddresses())
        changed += QStringLiteral(" 0x%1").arg(a, 2, 16, QLatin1Char('0'));
    std::printf("outside the streamed block: %llu changes%s%s\n",
        static_cast<unsigned long long>(seen.outsideChanges), changed.isEmpty() ? "" : ", at",
        qPrintable(changed));
    std::printf("resident memory: %ld kB at %d s, %ld kB at the end: growth %ld kB (limit %ld)\n",
        rssBaseline, baselineAt, rssEnd, growth, rssGrowthLimitKb);

    int failures = 0;
    auto expect = [&](bool ok, const char *what) {
        if (!ok) {
            std::printf("FAILED: %s\n", what);
            ++failures;
        }
    };
    expect(answered, "the final whole-map read was answered");
    expect(linkErrors == 0, "no link error");
    if (unpaddedCuts) {
        // A frame cut without filler takes in the head of the next message, so
        // the frame after it may be lost with it; no other.
        expect(seen.fresh <= sent.intactStreamFrames
                && seen.fresh + sent.cutFrames >= sent.intactStreamFrames,
            "every intact frame applied but those a cut frame took along, and only intact ones");
        expect(seen.corrupt <= cut && seen.lastStamp <= sent.streamFrames,
            "no more corrupt frames than cut ones");
        expect(sent.cutFrames > 0, "frames were cut without filler");
    } else {
        expect(seen.fresh == sent.intactStreamFrames, "every intact frame applied, and only those");
        expect(seen.corrupt == cut, "every cut frame seen once, filled with noise");
        expect(seen.skipped == cut && seen.lastStamp <= sent.streamFrames,
            "the stamps skipped are the cut frames");
    }
    if (headerNoise)
        expect(sent.headerNoise > 0 && sent.noiseOpenerBytes > 0,
            "noise with 0xBB, 0xEE and frame headers was sent");
    expect(
        seen.outsideChanges == 0, "no register outside the streamed block changed while streaming");
    expect(seen.backwards == 0 && samplesBackwards == 0, "no stamp older than one before it");
    expect(samplesFresh <= seen.fresh && samplesCorrupt <= cut,
        "the handlers saw only what was applied");
    expect(cut > 0 && sent.noiseBytes > 0, "the line faults happened");
    expect(rssBaseline > 0 && growth < rssGrowthLimitKb, "resident memory grew by less than 2 MB");
    std::printf("soak: %s\n", failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
