// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moduledecoder.h"
#include "modulesources.h"
#include "record.h"

#include <QObject>
#include <QString>

#include <deque>
#include <utility>

struct ReceiveTapBatch;

// Recording from the interface: Record and Stop, the folder recordings go
// to, and what the running one has written. While recording, every chunk
// the link receives goes to the raw file and every measurement frame its
// cutter takes becomes a CSV row, decoded as the backend decodes it. Lives on
// the GUI thread; the Recorder writes on a thread of its own.
class RecordingController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ isRecording NOTIFY stateChanged)
    // "idle", "recording" or "stopping" (writing out the last data).
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(qint64 elapsedMs READ elapsedMs NOTIFY statusChanged)
    Q_PROPERTY(qint64 framesWritten READ framesWritten NOTIFY statusChanged)
    Q_PROPERTY(qint64 bytesWritten READ bytesWritten NOTIFY statusChanged)
    // True from a lost port until data arrives again.
    Q_PROPERTY(bool waitingForData READ waitingForData NOTIFY waitingForDataChanged)
    // The running (or last) recording's folder.
    Q_PROPERTY(QString folder READ folder NOTIFY stateChanged)
    // Where new recordings go, each in a folder named after its start time.
    Q_PROPERTY(QString location READ location WRITE setLocation NOTIFY locationChanged)
    // Why the last recording could not start or stopped by itself; empty otherwise.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    static constexpr const char *locationKey = "recording/location";

    RecordingController(ModuleSources sources, QObject *parent);
    ~RecordingController() override;

    // Documents/Velmar IMU.
    static QString defaultLocation();

    bool isRecording() const { return m_recorder.isRecording(); }
    QString state() const;
    qint64 elapsedMs() const { return m_recorder.elapsedMs(); }
    qint64 framesWritten() const { return m_recorder.framesWritten(); }
    qint64 bytesWritten() const { return m_recorder.bytesOnDisk(); }
    bool waitingForData() const { return m_waitingForData; }
    QString folder() const { return m_recorder.folder(); }
    // Remembered: the first recording keeps the default, a choice replaces it.
    QString location() const;
    void setLocation(const QString &location);
    // Asks the user for the place of new recordings (a folder dialog, so only in an
    // application with widgets); false when nothing was chosen.
    Q_INVOKABLE bool chooseLocation();
    QString errorMessage() const { return m_error; }

    Recorder *recorder() { return &m_recorder; }

public slots:
    void start();
    void stop();
    void toggle();
    void clearError();

signals:
    void stateChanged();
    void statusChanged();
    void waitingForDataChanged();
    void locationChanged();
    void errorMessageChanged();

private:
    void onTapped(ReceiveTapBatch &batch);
    void onFailed(const QString &message);
    void onStopped();
    void noteLost(const QString &text);
    void setError(const QString &message);
    void setWaitingForData(bool waiting);
    void untap();
    qint64 timeUs(qint64 steadyNs, qint64 *last);

    FullScales fullScales() const;

    ModuleSources m_sources;
    Recorder m_recorder;
    decode::ModuleDecoder m_decoder;
    bool m_tapped = false;
    bool m_stopping = false;
    bool m_waitingForData = false;
    QString m_openedPort; // reopened while waiting for data
    qint64 m_lastRawUs = 0; // times written so far, raw file and CSV
    qint64 m_lastRowUs = 0;
    // The raw file's time of the last chunks written, by receive time: a row
    // takes the time its completing chunk has in the file (held back behind an
    // earlier note or request there), as decoding the file offline does.
    std::deque<std::pair<qint64, qint64>> m_chunkTimes;
    QString m_error;
};
