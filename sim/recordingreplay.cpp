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
// An answer waits for the message being played to end, as a module finishes
// a frame before it answers; no longer than this when the recording pauses
// in the middle of one (a frame cut short).
constexpr double longestAnswerDelay = 0.05;
// A recording that knows the session's requests streams once the client
// switches the stream on, as the module did for the session; a client that
// never writes "Control1" (a serial terminal) gets it after this long.
constexpr double streamRequestWait = 1.0;

// The live link's cutter ages awaited answers on its clock; here that clock
// is the recording's own time, set before each record.
thread_local qint64 t_recordingMs = 0;
qint64 recordingClock()
{
    return t_recordingMs;
}

// The recording cut as the live link cut it: where each frame it took lies
// in the received bytes, and whether it answered one of the session's reads.
struct Cutting
{
    struct Cut
    {
        quint64 begin;
        quint64 end;
        bool answer;
    };
    ComsProtocol cutter;
    quint64 appended = 0;
    std::vector<Cut> cuts;

    static void onFrame(void *context, quint8, quint8 count, const quint8 *)
    {
        auto *self = static_cast<Cutting *>(context);
        const quint64 begin = self->appended - quint64(self->cutter.pendingBytes());
        self->cuts.push_back({begin, begin + count + 3, self->cutter.cuttingAnswer()});
    }
};
} // namespace

struct RecordingReplay::Private
{
    struct Chunk
    {
        double at; // seconds from the first chunk
        QByteArray recorded; // as received, for the map
        QByteArray played; // without the answers to the session's own reads
    };
    PseudoTerminal pty;
    std::vector<Chunk> chunks;
    // Positions in the played bytes where a message ends: the only places an
    // answer to the client may go, so that it never splits a frame.
    std::vector<quint64> boundaries;
    quint64 playedPos = 0;
    QByteArray answers; // to the client's reads, waiting for a boundary
    bool knowsRequests = false; // the recording holds a connection record
    bool streamAsked = false; // the client wrote "Control1"
    // The map as the recorded data frames left it, cut as the application cuts.
    ComsProtocol image;
    RequestParser parser;
    QByteArray out; // chunks and answers not yet taken by the client
    const Clock::time_point origin = Clock::now();

    bool atBoundary() const
    {
        return playedPos == 0
            || std::binary_search(boundaries.begin(), boundaries.end(), playedPos);
    }
    void sendAnswers()
    {
        out += answers;
        answers.clear();
    }
    // Plays a chunk; answers waiting go out at the first message end in it.
    void play(const QByteArray &bytes)
    {
        int split = -1;
        if (!answers.isEmpty()) {
            const auto next = std::upper_bound(boundaries.begin(), boundaries.end(), playedPos);
            if (next != boundaries.end() && *next <= playedPos + quint64(bytes.size()))
                split = int(*next - playedPos);
        }
        if (split < 0) {
            out += bytes;
        } else {
            out += bytes.left(split);
            sendAnswers();
            out += bytes.mid(split);
        }
        playedPos += quint64(bytes.size());
    }
    void prepare(const QVector<RawRecord> &records);

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

// A recording that knows the session's requests (a connection record)
// holds answers to reads the session sent; the client of the replay did not
// send them, and would take them as noise. They feed the map but are not
// played: the replay answers the client's own reads from that map instead.
// An older recording is played whole.
void RecordingReplay::Private::prepare(const QVector<RawRecord> &records)
{
    Cutting cutting;
    cutting.cutter.setFrameObserver(&Cutting::onFrame, &cutting);
    cutting.cutter.setClock(&recordingClock);
    std::vector<std::pair<quint64, quint64>> spans; // each chunk's received bytes
    qint64 first = -1;
    for (const RawRecord &record : records) {
        t_recordingMs = record.timeUs / 1000;
        switch (record.type) {
        case RawRecordType::Connection:
            knowsRequests = true;
            cutting.cutter.beginConnection();
            break;
        case RawRecordType::Request:
            cutting.cutter.noteRequestSent(record.payload);
            break;
        case RawRecordType::Chunk:
            if (record.payload.isEmpty())
                break;
            if (first < 0)
                first = record.timeUs;
            spans.emplace_back(cutting.appended, cutting.appended + quint64(record.payload.size()));
            chunks.push_back({double(record.timeUs - first) / 1e6, record.payload, QByteArray()});
            cutting.cutter.appendReceived(record.payload.constData(), record.payload.size());
            cutting.appended += quint64(record.payload.size());
            cutting.cutter.extractFrames();
            break;
        case RawRecordType::Note:
            break;
        }
    }

    // Message ends, and the bytes left out, in played positions.
    std::vector<std::pair<quint64, quint64>> answers;
    quint64 removed = 0;
    boundaries.clear();
    for (const Cutting::Cut &cut : cutting.cuts) {
        if (cut.answer) {
            answers.emplace_back(cut.begin, cut.end);
            boundaries.push_back(cut.begin - removed);
            removed += cut.end - cut.begin;
        } else {
            boundaries.push_back(cut.end - removed);
        }
    }
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());

    std::size_t a = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const auto [begin, end] = spans[i];
        const QByteArray &recorded = chunks[i].recorded;
        QByteArray &played = chunks[i].played;
        quint64 at = begin;
        while (at < end) {
            while (a < answers.size() && answers[a].second <= at)
                ++a;
            const quint64 keepUntil
                = a < answers.size() ? std::min(end, std::max(at, answers[a].first)) : end;
            played.append(recorded.constData() + (at - begin), int(keepUntil - at));
            at = keepUntil;
            if (a < answers.size() && at >= answers[a].first)
                at = std::min(end, answers[a].second);
        }
    }
}

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
    d->prepare(m_recording.records);
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
    double openedAt = 0;

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
                    if (request.write) {
                        d->applyWrite(request.address, request.data);
                        if (request.address <= SimModule::control1Address
                            && SimModule::control1Address < request.address + request.data.size())
                            d->streamAsked = true;
                    } else
                        d->answers += d->answerRead(request.address, request.count);
                }
            }
            if (!d->answers.isEmpty() && d->atBoundary())
                d->sendAnswers();
        }
        const bool hungUp = (probe.revents & POLLHUP) && !(probe.revents & POLLIN);
        if (hungUp == listening) {
            listening = !hungUp;
            if (listening) {
                if (playStart < 0)
                    openedAt = now;
                else
                    playStart += now - heldSince;
            } else {
                heldSince = now;
                d->pty.discardSlaveInput();
            }
        }

        if (listening && playStart < 0
            && (!d->knowsRequests || d->streamAsked || now - openedAt >= streamRequestWait))
            playStart = now;
        if (listening && playStart >= 0) {
            while (next < d->chunks.size() && now >= playStart + d->chunks[next].at / speed) {
                const Private::Chunk &chunk = d->chunks[next];
                d->play(chunk.played);
                d->image.appendReceived(chunk.recorded.constData(), chunk.recorded.size());
                d->image.extractFrames();
                ++next;
            }
            // The recording rests inside a message (or is over): the answer
            // goes out rather than wait.
            if (!d->answers.isEmpty()
                && (next == d->chunks.size()
                    || playStart + d->chunks[next].at / speed - now > longestAnswerDelay))
                d->sendAnswers();
            if (next == d->chunks.size()) {
                if (m_options.loop) {
                    next = 0;
                    d->playedPos = 0;
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
        if (!listening || playStart < 0)
            waitMs = hangupProbeMs; // a hung-up master polls readable at once
        else if (next < d->chunks.size()) {
            const double due = playStart + d->chunks[next].at / speed - d->clock();
            waitMs = int(std::clamp(std::ceil(due * 1000.0), 0.0, double(longestWaitMs)));
        }
        pollfd fds[2]
            = {{stopFd, POLLIN, 0}, {master, short(POLLIN | (wantWritable ? POLLOUT : 0)), 0}};
        ::poll(fds, listening ? 2 : 1, waitMs);
        if (fds[0].revents & POLLIN)
            return;
    }
}
