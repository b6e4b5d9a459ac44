// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "noiseanalysis.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QVariantList>
#include <QVector3D>

#include <functional>
#include <utility>
#include <vector>

// Runs the analysis away from the GUI thread. It owns nothing the GUI thread
// touches: inputs come in and reports go out by value, through queued calls.
class NoiseWorker : public QObject
{
    Q_OBJECT

public slots:
    void analyseSamples(const NoiseInput &input, quint64 job);
    void analyseFile(const QString &path, quint64 job);

signals:
    void done(const NoiseReport &report, const QVariantList &temperature, quint64 job);
};

// The noise page: measure at rest for a chosen time (the terms known so far
// shown as the samples come), or open a recording; the Allan curves with
// their intervals and fitted lines, the N, B, K table in channel and
// datasheet units, the spectra and the temperature over the run; exports.
// Lives on the GUI thread; every analysis runs on its worker's thread.
class NoiseCheck : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool measuring READ measuring NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(double plannedSeconds READ plannedSeconds NOTIFY stateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(double secondsLeft READ secondsLeft NOTIFY progressChanged)
    Q_PROPERTY(int samples READ sampleCount NOTIFY progressChanged)
    Q_PROPERTY(QString status READ status NOTIFY stateChanged)
    Q_PROPERTY(QString error READ error NOTIFY stateChanged)
    Q_PROPERTY(bool hasResult READ hasResult NOTIFY resultChanged)
    // The result is from part of a measurement still running.
    Q_PROPERTY(bool interim READ interim NOTIFY resultChanged)
    Q_PROPERTY(QString source READ source NOTIFY resultChanged)
    Q_PROPERTY(double durationSeconds READ durationSeconds NOTIFY resultChanged)
    Q_PROPERTY(double rateHz READ rateHz NOTIFY resultChanged)
    Q_PROPERTY(QString warning READ warning NOTIFY resultChanged)
    // One map a channel: name, unit, kind ("gyro", "acc"), N, B, K (each a
    // map: known, value, low, high, unit, sheet, sheetLow, sheetHigh,
    // sheetUnit, reason), adev [[tau, adev, low, high]], fit [[tau, adev]],
    // psd [[hz, unit^2/Hz]], psdN.
    Q_PROPERTY(QVariantList channels READ channels NOTIFY resultChanged)
    // [[seconds, degrees Celsius]] over the run.
    Q_PROPERTY(QVariantList temperature READ temperature NOTIFY resultChanged)
    Q_PROPERTY(QString exportError READ exportError NOTIFY exportErrorChanged)

public:
    explicit NoiseCheck(QObject *parent = nullptr);
    ~NoiseCheck() override;

    bool measuring() const { return m_measuring; }
    bool busy() const { return m_busyJob != 0; }
    double plannedSeconds() const { return m_plannedSeconds; }
    double progress() const;
    double secondsLeft() const;
    int sampleCount() const { return int(m_times.size()); }
    QString status() const { return m_status; }
    QString error() const { return m_error; }
    bool hasResult() const { return m_report.ok; }
    bool interim() const { return m_interim; }
    QString source() const { return m_source; }
    double durationSeconds() const { return m_report.durationS; }
    double rateHz() const { return m_report.rateHz; }
    QString warning() const { return m_report.warning; }
    QVariantList channels() const { return m_channels; }
    QVariantList temperature() const { return m_temperature; }
    QString exportError() const { return m_exportError; }
    const NoiseReport &report() const { return m_report; }

    // Starts a measurement at rest of `seconds` (60 to 86400) on the samples
    // the connected module streams; false with `error` when refused.
    Q_INVOKABLE bool measure(double seconds);
    // Ends a measurement early: what was gathered is analysed if long enough.
    Q_INVOKABLE void finish();
    // Drops a measurement without analysing it.
    Q_INVOKABLE void cancel();
    // Analyses a raw recording or a measurement CSV (a path or a file URL).
    Q_INVOKABLE bool openRecording(const QString &pathOrUrl);
    // Opens a file dialog for openRecording; false when nothing was chosen.
    Q_INVOKABLE bool chooseRecording();
    // Checked writes (temporary file, committed); false with exportError.
    Q_INVOKABLE bool exportCsv(const QString &pathOrUrl);
    Q_INVOKABLE bool exportJson(const QString &pathOrUrl);
    Q_INVOKABLE bool exportYaml(const QString &pathOrUrl);
    // `image` is what Item.grabToImage gave the page (its `image`).
    Q_INVOKABLE bool exportPng(const QVariant &image, const QString &pathOrUrl);
    // A path in the export folder for this result with the given extension.
    Q_INVOKABLE QString suggestedPath(const QString &extension) const;

    // The module's samples while connected (deg/s, m/s^2), and its temperature.
    void addSample(const QVector3D &gyro, const QVector3D &acc);
    void addTemperature(double celsius);
    // Sample times come from this clock in seconds; tests replace it.
    void setClock(std::function<double()> clock) { m_clock = std::move(clock); }
    // Whether the module is connected; a measurement needs it.
    void setConnected(std::function<bool()> connected) { m_connected = std::move(connected); }
    // How often the terms are worked out again while measuring (seconds of data).
    void setInterimEvery(double seconds) { m_interimEvery = seconds; }
    void setExportFolder(const QString &folder) { m_exportFolder = folder; }
    // Where the analyses run (never the thread this object lives on).
    const QThread *workerThread() const { return &m_thread; }

signals:
    void stateChanged();
    void progressChanged();
    void resultChanged();
    void exportErrorChanged();
    void analyseSamplesOn(const NoiseInput &input, quint64 job);
    void analyseFileOn(const QString &path, quint64 job);

private:
    void onDone(const NoiseReport &report, const QVariantList &temperature, quint64 job);
    void startJob(const NoiseInput &input);
    NoiseInput gathered() const;
    void setState(const QString &status, const QString &error);
    bool writeChecked(const QString &pathOrUrl, const QByteArray &bytes);
    void setExportError(const QString &text);

    void tick();

    QThread m_thread;
    QTimer m_tick; // the time left moves, and the run ends, with no samples too
    NoiseWorker *m_worker = nullptr; // lives on m_thread; deleted after it ends
    quint64 m_nextJob = 1;
    quint64 m_busyJob = 0;
    quint64 m_finalJob = 0; // the job whose result ends the measurement
    bool m_measuring = false;
    bool m_interim = false;
    double m_plannedSeconds = 0;
    double m_start = 0;
    double m_lastInterim = 0;
    double m_interimEvery = 30;
    std::function<double()> m_clock;
    std::function<bool()> m_connected;
    QElapsedTimer m_elapsed;
    std::vector<double> m_times;
    std::vector<float> m_values[6];
    QVariantList m_liveTemperature;
    QString m_status;
    QString m_error;
    QString m_source;
    QString m_pendingSource;
    QString m_exportError;
    QString m_exportFolder;
    NoiseReport m_report;
    QVariantList m_channels;
    QVariantList m_temperature;
};

Q_DECLARE_METATYPE(NoiseInput)
Q_DECLARE_METATYPE(NoiseReport)
