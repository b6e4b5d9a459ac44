// SPDX-License-Identifier: GPL-3.0-or-later
#include "recorderworker.h"
#include "threadsync.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRecord, "velmar.record")

namespace {

// Queued data goes to the files this often; the status and a sync to the
// disk follow every `syncTicks` passes, so a crash loses at most a second.
constexpr int drainIntervalMs = 100;
constexpr int syncTicks = 10;

} // namespace

qint64 RecorderQueue::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

RecorderWorker::RecorderWorker(
    std::shared_ptr<RecorderQueue> queue, QString folder, RecordingInfo info)
    : m_queue(std::move(queue))
    , m_folder(std::move(folder))
    , m_info(std::move(info))
{ }

void RecorderWorker::open()
{
    syncAcquire(this);
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isDir()) {
        fail(QStringLiteral("Cannot create the recording folder \"%1\"")
                 .arg(QDir::toNativeSeparators(m_folder)));
        return;
    }
    const QDir dir(m_folder);
    if (dir.exists(QString::fromLatin1(Recorder::rawFileName))
        || dir.exists(QString::fromLatin1(Recorder::csvFileName))) {
        fail(QStringLiteral("The folder \"%1\" already holds a recording")
                 .arg(QDir::toNativeSeparators(m_folder)));
        return;
    }
    // Unbuffered: every write goes straight to the file, so a failed write
    // leaves nothing behind in a buffer and the file size tells what landed.
    // NewOnly: a recording never overwrites an earlier one.
    const auto mode = QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered;
    for (auto [out, name] :
        {std::pair {&m_raw, Recorder::rawFileName}, std::pair {&m_csv, Recorder::csvFileName}}) {
        out->file.setFileName(dir.filePath(QString::fromLatin1(name)));
        if (!out->file.open(mode)) {
            fail(QStringLiteral("Cannot write in the recording folder \"%1\": %2")
                     .arg(QDir::toNativeSeparators(m_folder), out->file.errorString()));
            return;
        }
    }
    m_open = true;
    if (!writeWhole(m_raw, encodeRawHeader(m_info), {}, nullptr)
        || !writeWhole(m_csv, csvHeaderRow(m_info.magCalibrated), {}, nullptr))
        return;
    m_timer = new QTimer(this);
    m_timer->setInterval(drainIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &RecorderWorker::tick);
    m_timer->start();
    emit opened(m_folder);
}

void RecorderWorker::tick()
{
    if (!drain())
        return;
    if (++m_ticks % syncTicks == 0) {
        if (!syncOutputs())
            return;
        emit progress(m_queue->elapsedUs() / 1000, m_frames, m_raw.committed + m_csv.committed);
    }
}

bool RecorderWorker::drain()
{
    {
        std::unique_lock lock(m_queue->mutex);
        m_rawBatch.swap(m_queue->raw);
        m_frameBatch.swap(m_queue->frames);
    }
    QByteArray bytes;
    std::vector<int> ends;
    for (const auto &item : m_rawBatch) {
        bytes += encodeRawRecord(item.type, item.timeUs, item.bytes);
        ends.push_back(bytes.size());
    }
    m_rawBatch.clear();
    if (!bytes.isEmpty() && !writeWhole(m_raw, bytes, ends, nullptr))
        return false;

    bytes.clear();
    ends.clear();
    for (const auto &frame : m_frameBatch) {
        bytes += csvRow(frame);
        ends.push_back(bytes.size());
    }
    m_frameBatch.clear();
    return bytes.isEmpty() || writeWhole(m_csv, bytes, ends, &m_frames);
}

// Writes `bytes`, counting the whole records that got out in `records`; on
// failure cuts the file back to the last of them (`ends` are the record ends
// within `bytes`) and stops.
bool RecorderWorker::writeWhole(
    Output &out, const QByteArray &bytes, const std::vector<int> &ends, qint64 *records)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = out.file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    const auto whole = std::upper_bound(ends.begin(), ends.end(), done) - ends.begin();
    if (records)
        *records += whole;
    if (done == bytes.size()) {
        out.committed += done;
        return true;
    }
    const QString reason = out.file.errorString();
    const qint64 keep = whole ? ends[whole - 1] : 0;
    out.committed += keep;
    if (!out.file.resize(out.committed))
        qCWarning(lcRecord) << "cannot cut" << out.file.fileName() << "back to" << out.committed
                            << "bytes:" << out.file.errorString();
    fail(QStringLiteral("Recording stopped: cannot write \"%1\": %2")
             .arg(QDir::toNativeSeparators(out.file.fileName()), reason));
    return false;
}

void RecorderWorker::fail(const QString &message)
{
    qCWarning(lcRecord).noquote() << message;
    m_queue->accepting = false;
    emit failed(message);
    finish();
}

bool RecorderWorker::syncOutputs()
{
    for (Output *out : {&m_raw, &m_csv}) {
        if (::fdatasync(out->file.handle()) != 0) {
            const int error = errno;
            fail(QStringLiteral("Recording stopped: cannot put \"%1\" on the disk: %2")
                     .arg(QDir::toNativeSeparators(out->file.fileName()),
                         QString::fromLocal8Bit(std::strerror(error))));
            return false;
        }
    }
    return true;
}

void RecorderWorker::close()
{
    syncAcquire(this);
    // A failed last write or sync has already finished the recording.
    if (m_open && (!drain() || !syncOutputs()))
        return;
    finish();
}

void RecorderWorker::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_timer)
        m_timer->stop();
    if (m_open) {
        m_open = false;
        for (Output *out : {&m_raw, &m_csv}) {
            ::fdatasync(out->file.handle());
            out->file.close();
        }
        emit progress(m_queue->elapsedUs() / 1000, m_frames, m_raw.committed + m_csv.committed);
    }
    std::unique_lock lock(m_queue->mutex);
    m_queue->raw.clear();
    m_queue->frames.clear();
    lock.unlock();
    // After the signal: its delivery still reads this object, and the owner
    // deletes it once the thread has ended.
    emit closed();
    syncRelease(this);
}

Recorder::Recorder(QObject *parent)
    : QObject(parent)
    , m_queue(std::make_shared<RecorderQueue>())
{ }

Recorder::~Recorder()
{
    if (!m_thread)
        return;
    m_queue->accepting = false;
    disconnect(m_worker, nullptr, this, nullptr);
    syncRelease(m_worker);
    QMetaObject::invokeMethod(m_worker, "close", Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    syncAcquire(m_worker);
    delete m_worker;
}

QString Recorder::start(const QString &baseFolder, const RecordingInfo &info, const QString &name)
{
    if (m_thread)
        return QString();
    const QDir base(baseFolder);
    QString folder;
    if (!name.isEmpty()) {
        folder = base.filePath(name);
    } else {
        const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss");
        folder = base.filePath(stamp);
        for (int n = 2; QFileInfo::exists(folder); ++n)
            folder = base.filePath(QStringLiteral("%1-%2").arg(stamp).arg(n));
    }
    folder = QDir::cleanPath(folder);

    RecordingInfo header = info;
    if (!header.startUtc.isValid())
        header.startUtc = QDateTime::currentDateTimeUtc();
    {
        std::unique_lock lock(m_queue->mutex);
        m_queue->raw.clear();
        m_queue->frames.clear();
    }
    m_queue->startNs = RecorderQueue::nowNs();

    m_folder = folder;
    m_error.clear();
    m_elapsedMs = m_framesWritten = m_bytesOnDisk = 0;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("velmar-recorder"));
    m_worker = new RecorderWorker(m_queue, folder, header);
    m_worker->moveToThread(m_thread);
    connect(m_worker, &RecorderWorker::opened, this, &Recorder::started);
    connect(m_worker, &RecorderWorker::progress, this, &Recorder::onProgress);
    connect(m_worker, &RecorderWorker::failed, this, &Recorder::onFailed);
    connect(m_worker, &RecorderWorker::closed, this, &Recorder::onFinished);
    m_thread->start();
    syncRelease(m_worker);
    QMetaObject::invokeMethod(m_worker, "open", Qt::QueuedConnection);
    m_queue->accepting = true;
    m_recording = true;
    emit recordingChanged();
    emit statusChanged();
    return folder;
}

void Recorder::stop()
{
    if (!m_recording || !m_queue->accepting.exchange(false))
        return;
    syncRelease(m_worker);
    QMetaObject::invokeMethod(m_worker, "close", Qt::QueuedConnection);
}

qint64 Recorder::elapsedUs() const
{
    return m_queue->elapsedUs();
}

qint64 Recorder::sinceStartUs(qint64 steadyNs) const
{
    return std::max<qint64>(0, (steadyNs - m_queue->startNs.load()) / 1000);
}

void Recorder::appendChunk(const QByteArray &bytes)
{
    appendChunk(m_queue->elapsedUs(), bytes);
}

void Recorder::appendChunk(qint64 timeUs, const QByteArray &bytes)
{
    if (!m_queue->accepting)
        return;
    std::unique_lock lock(m_queue->mutex);
    m_queue->raw.push_back({RawRecordType::Chunk, timeUs, bytes});
}

void Recorder::appendRequest(qint64 timeUs, const QByteArray &frame)
{
    if (!m_queue->accepting)
        return;
    std::unique_lock lock(m_queue->mutex);
    m_queue->raw.push_back({RawRecordType::Request, timeUs, frame});
}

void Recorder::noteConnection(qint64 timeUs)
{
    if (!m_queue->accepting)
        return;
    std::unique_lock lock(m_queue->mutex);
    m_queue->raw.push_back({RawRecordType::Connection, timeUs, QByteArray()});
}

void Recorder::appendFrame(const MeasurementFrame &frame)
{
    if (!m_queue->accepting)
        return;
    std::unique_lock lock(m_queue->mutex);
    m_queue->frames.push_back(frame);
}

void Recorder::noteGap(const QString &text)
{
    noteGap(m_queue->elapsedUs(), text);
}

void Recorder::noteGap(qint64 timeUs, const QString &text)
{
    if (!m_queue->accepting)
        return;
    const qint64 now = timeUs;
    const QByteArray bytes = text.toUtf8();
    std::unique_lock lock(m_queue->mutex);
    m_queue->raw.push_back({RawRecordType::Note, now, bytes});
}

void Recorder::onProgress(qint64 elapsedMs, qint64 frames, qint64 bytes)
{
    m_elapsedMs = elapsedMs;
    m_framesWritten = frames;
    m_bytesOnDisk = bytes;
    emit statusChanged();
}

void Recorder::onFailed(const QString &message)
{
    m_error = message;
    emit failed(message);
}

void Recorder::onFinished()
{
    if (!m_thread)
        return;
    // The worker has closed its files; its thread only has to leave its loop.
    m_thread->quit();
    m_thread->wait();
    syncAcquire(m_worker);
    delete m_worker;
    delete m_thread;
    m_worker = nullptr;
    m_thread = nullptr;
    m_recording = false;
    emit recordingChanged();
    emit stopped();
}
