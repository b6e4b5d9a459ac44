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
    QByteArray firstStreamed; // the first frame nobody asked for, whole

    static void onFrame(void *context, quint8 address, quint8 count, const quint8 *data)
    {
        auto *self = static_cast<Cutting *>(context);
        const quint64 begin = self->appended - quint64(self->cutter.pendingBytes());
        const bool answer = self->cutter.cuttingAnswer();
        self->cuts.push_back({begin, begin + count + 3, answer});
        if (!answer && self->firstStreamed.isEmpty()) {
            self->firstStreamed.append(char(0xBB)).append(char(address)).append(char(count));
            self->firstStreamed.append(reinterpret_cast<const char *>(data), count);
        }
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
    int clientControl1 = -1; // as the client last wrote it; -1 not yet
    std::size_t next = 0; // the chunk to play next
    int nextOffset = 0; // bytes of it already played (to end a message early)
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

    // The rest of chunk `next` goes out, and the map takes it whole.
    void playNext()
    {
        const Chunk &chunk = chunks[next];
        play(chunk.played.mid(nextOffset));
        image.appendReceived(chunk.recorded.constData(), chunk.recorded.size());
        image.extractFrames();
        ++next;
        nextOffset = 0;
    }
    // When the stream is switched off inside a message, the module still
    // sends that message whole: played now, up to its end.
    void finishMessage()
    {
        while (!atBoundary() && next < chunks.size()) {
            const QByteArray &played = chunks[next].played;
            const auto end = std::upper_bound(boundaries.begin(), boundaries.end(), playedPos);
            const int left = played.size() - nextOffset;
            const int take = end == boundaries.end()
                ? left
                : int(std::min<quint64>(quint64(left), *end - playedPos));
            if (take == left) {
                playNext();
                continue;
            }
            out += played.mid(nextOffset, take);
            playedPos += quint64(take);
            nextOffset += take;
        }
    }

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
    // Before the stream is switched on the client may read the measurements:
    // the module held about what it streamed first.
    if (knowsRequests && !cutting.firstStreamed.isEmpty()) {
        image.appendReceived(cutting.firstStreamed.constData(), cutting.firstStreamed.size());
        image.extractFrames();
    }

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
    std::size_t &next = d->next;
    next = 0;
    bool listening = false;
    bool playing = false;
    bool finished = false;
    // Play time runs only while a client listens (and, for a recording that
    // knows the session's requests, has the stream on): playStart is when
    // chunk 0 would have gone out had it never been held.
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
                        const int at = SimModule::control1Address - request.address;
                        if (at >= 0 && at < request.data.size())
                            d->clientControl1 = quint8(request.data[at]);
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
                openedAt = now;
            } else {
                d->pty.discardSlaveInput();
            }
        }
        const bool streamOn = !d->knowsRequests || d->clientControl1 > 0
            || (d->clientControl1 < 0 && now - openedAt >= streamRequestWait);
        if ((listening && streamOn) != playing) {
            playing = !playing;
            if (!playing) {
                heldSince = now;
                if (listening)
                    d->finishMessage();
            } else if (playStart < 0) {
                playStart = now;
            } else {
                playStart += now - heldSince;
            }
        }
        if (!d->answers.isEmpty() && (d->atBoundary() || next == d->chunks.size()))
            d->sendAnswers();

        if (playing) {
            while (next < d->chunks.size() && now >= playStart + d->chunks[next].at / speed)
                d->playNext();
            // The recording rests inside a message (or is over): the answer
            // goes out rather than wait.
            if (!d->answers.isEmpty()
                && (next == d->chunks.size()
                    || playStart + d->chunks[next].at / speed - now > longestAnswerDelay))
                d->sendAnswers();
            if (next == d->chunks.size()) {
                if (m_options.loop) {
                    next = 0;
                    d->nextOffset = 0;
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
        if (!playing)
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
