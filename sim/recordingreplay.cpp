// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingreplay.h"

#include "pseudoterminal.h"
#include "requestparser.h"
#include "simmodule.h"

#include "comsprotocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int hangupProbeMs = 10;
constexpr int longestWaitMs = 250;
} // namespace

struct RecordingReplay::Private
{
    PseudoTerminal pty;
    // The recording's chunks, times in seconds from the first one.
    std::vector<std::pair<double, QByteArray>> chunks;
    // The map as the recorded data frames left it, cut as the application cuts.
    ComsProtocol image;
    RequestParser parser;
    QByteArray out; // chunks and answers not yet taken by the client
    const Clock::time_point origin = Clock::now();

    double clock() const { return std::chrono::duration<double>(Clock::now() - origin).count(); }
    QByteArray answerRead(quint8 address, quint8 count)
    {
        const int available
            = std::max(0, std::min(int(count), SimModule::imageSize - int(address)));
        QByteArray frame;
        frame.append(char(0xBB));
        frame.append(char(address));
        frame.append(char(available));
        frame.append(reinterpret_cast<const char *>(image.registerImage() + address), available);
        return frame;
    }
    void applyWrite(quint8 address, const QByteArray &data)
    {
        for (int i = 0; i < data.size(); ++i) {
            const int at = address + i;
            if (at >= SimModule::imageSize)
                break;
            if (at >= SimModule::firstWritable)
                image.registerImage()[at] = quint8(data[i]);
        }
    }
};

RecordingReplay::RecordingReplay(const Options &options)
    : d(new Private)
    , m_options(options)
{ }

RecordingReplay::~RecordingReplay()
{
    if (!m_options.linkPath.isEmpty())
        removeSymlinkTo(m_options.linkPath, d->pty.slavePath());
    delete d;
}

bool RecordingReplay::open(QString *error)
{
    m_recording = readRawRecording(m_options.path);
    // A damaged tail still leaves every whole record before it to play.
    if (!m_recording.headerValid) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_options.path, m_recording.error);
        return false;
    }
    d->chunks.clear();
    qint64 first = -1;
    for (const RawRecord &record : m_recording.records) {
        if (record.type != RawRecordType::Chunk || record.payload.isEmpty())
            continue;
        if (first < 0)
            first = record.timeUs;
        d->chunks.emplace_back(double(record.timeUs - first) / 1e6, record.payload);
    }
    if (d->chunks.empty()) {
        if (error)
            *error
                = QStringLiteral("%1: the recording holds no received bytes").arg(m_options.path);
        return false;
    }
    // Until the recording's own frames fill it in, the map holds what its
    // header says of the module: a client that reads the identity and range
    // at once can scale the data that follows.
    const RecordingInfo &info = m_recording.info;
    quint8 *image = d->image.registerImage();
    image[0x00] = info.deviceId;
    image[0x02] = quint8(info.hardwareVersion & 0xFF);
    image[0x03] = quint8(info.hardwareVersion >> 8);
    image[0x04] = quint8(info.softwareVersion & 0xFF);
    image[0x05] = quint8(info.softwareVersion >> 8);
    image[SimModule::rangeAddress] = info.sensorsRange;
    if (!d->pty.open(error))
        return false;
    if (!m_options.linkPath.isEmpty()
        && !pointSymlink(m_options.linkPath, d->pty.slavePath(), error))
        return false;
    return true;
}

QString RecordingReplay::slavePath() const
{
    return d->pty.slavePath();
}

int RecordingReplay::chunkCount() const
{
    return int(d->chunks.size());
}

void RecordingReplay::run(int stopFd, void (*onEvent)(const QString &text))
{
    const double speed = std::clamp(m_options.speed, minSpeed, maxSpeed);
    const int master = d->pty.masterFd();
    std::size_t next = 0;
    bool listening = false;
    bool finished = false;
    // Play time runs only while a client listens: playStart is when chunk 0
    // would have gone out had nobody ever been away.
    double playStart = -1;
    double heldSince = 0;

    for (;;) {
        const double now = d->clock();
        pollfd probe {master, POLLIN, 0};
        ::poll(&probe, 1, 0);
        if (probe.revents & POLLIN) {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                for (const auto &request : d->parser.feed(buffer, int(n), now)) {
                    if (request.write)
                        d->applyWrite(request.address, request.data);
                    else
                        d->out += d->answerRead(request.address, request.count);
                }
            }
        }
        const bool hungUp = (probe.revents & POLLHUP) && !(probe.revents & POLLIN);
        if (hungUp == listening) {
            listening = !hungUp;
            if (listening) {
                if (playStart < 0)
                    playStart = now;
                else
                    playStart += now - heldSince;
            } else {
                heldSince = now;
                d->pty.discardSlaveInput();
            }
        }

        if (listening) {
            while (next < d->chunks.size() && now >= playStart + d->chunks[next].first / speed) {
                const QByteArray &chunk = d->chunks[next].second;
                d->out += chunk;
                d->image.appendReceived(chunk.constData(), chunk.size());
                d->image.extractFrames();
                ++next;
            }
            if (next == d->chunks.size()) {
                if (m_options.loop) {
                    next = 0;
                    playStart = now;
                    if (onEvent)
                        onEvent(QStringLiteral("starting over"));
                } else if (!finished) {
                    finished = true;
                    if (onEvent)
                        onEvent(QStringLiteral("end of recording"));
                }
            }
        }

        bool wantWritable = false;
        if (listening && !d->out.isEmpty()) {
            const ssize_t n = ::write(master, d->out.constData(), size_t(d->out.size()));
            if (n > 0)
                d->out.remove(0, int(n));
            wantWritable = !d->out.isEmpty(); // the client is not reading: wait, lose nothing
        }

        int waitMs = longestWaitMs;
        if (!listening)
            waitMs = hangupProbeMs; // a hung-up master polls readable at once
        else if (next < d->chunks.size()) {
            const double due = playStart + d->chunks[next].first / speed - d->clock();
            waitMs = int(std::clamp(std::ceil(due * 1000.0), 0.0, double(longestWaitMs)));
        }
        pollfd fds[2]
            = {{stopFd, POLLIN, 0}, {master, short(POLLIN | (wantWritable ? POLLOUT : 0)), 0}};
        ::poll(fds, listening ? 2 : 1, waitMs);
        if (fds[0].revents & POLLIN)
            return;
    }
}
