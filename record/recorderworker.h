// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the Recorder that runs on its writing thread.
#pragma once

#include "record.h"

#include <QFile>
#include <QObject>
#include <mutex>
#include <vector>

class QTimer;

// What the callers hand over, taken by the worker in one swap per pass.
struct RecorderQueue
{
    struct RawItem
    {
        RawRecordType type;
        qint64 timeUs;
        QByteArray bytes;
    };

    // A std::mutex rather than a QMutex: its pthread calls are visible to
    // ThreadSanitizer even when contended.
    std::mutex mutex;
    std::vector<RawItem> raw; // chunks and notes, in arrival order
    std::vector<MeasurementFrame> frames;
    // Read without the lock by every caller; set by the owner and the worker.
    std::atomic<bool> accepting {false};
    std::atomic<qint64> startNs {0}; // monotonic clock at start()

    static qint64 nowNs();
    qint64 elapsedUs() const { return (nowNs() - startNs.load()) / 1000; }
};

class RecorderWorker : public QObject
{
    Q_OBJECT
public:
    RecorderWorker(std::shared_ptr<RecorderQueue> queue, QString folder, RecordingInfo info);

public slots:
    void open();
    void close();

signals:
    void opened(const QString &folder);
    void progress(qint64 elapsedMs, qint64 frames, qint64 bytes);
    void failed(const QString &message);
    void closed();

private:
    struct Output
    {
        QFile file;
        qint64 committed = 0; // bytes on disk, all of them whole records
    };
    void tick();
    bool drain();
    // Puts what the files hold on the disk; false (and the recording stopped
    // with the reason) when the system cannot.
    bool syncOutputs();
    bool writeWhole(
        Output &out, const QByteArray &bytes, const std::vector<int> &ends, qint64 *records);
    void fail(const QString &message);
    void finish();

    std::shared_ptr<RecorderQueue> m_queue;
    QString m_folder;
    RecordingInfo m_info;
    QTimer *m_timer = nullptr;
    int m_ticks = 0;
    bool m_open = false;
    bool m_finished = false;
    Output m_raw;
    Output m_csv;
    qint64 m_frames = 0;
    std::vector<RecorderQueue::RawItem> m_rawBatch;
    std::vector<MeasurementFrame> m_frameBatch;
};
