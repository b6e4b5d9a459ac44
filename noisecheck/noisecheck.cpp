// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisecheck.h"

#include "noisefiles.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>

#include <cmath>

namespace {

constexpr double standardGravity = 9.80665;
const char *const axisNames[6] = {"gyro_x", "gyro_y", "gyro_z", "acc_x", "acc_y", "acc_z"};

QString localPath(const QString &pathOrUrl)
{
    const QUrl url(pathOrUrl);
    return url.isLocalFile() ? url.toLocalFile() : pathOrUrl;
}

// A term in the channel's unit and in the unit datasheets use.
QVariantMap termMap(
    const NoiseTerm &t, const QString &unit, double toSheet, const QString &sheetUnit)
{
    return {{QStringLiteral("known"), t.known}, {QStringLiteral("value"), t.value},
        {QStringLiteral("low"), t.low}, {QStringLiteral("high"), t.high},
        {QStringLiteral("unit"), unit}, {QStringLiteral("sheet"), t.value * toSheet},
        {QStringLiteral("sheetLow"), t.low * toSheet},
        {QStringLiteral("sheetHigh"), t.high * toSheet}, {QStringLiteral("sheetUnit"), sheetUnit},
        {QStringLiteral("reason"), t.reason}};
}

QVariantMap channelMap(const NoiseChannelResult &c)
{
    QVariantMap m {{QStringLiteral("name"), c.name}, {QStringLiteral("unit"), c.unit}};
    QVariantList adev, fit, psd;
    for (const AdevPoint &p : c.adev) {
        adev.append(QVariant(QVariantList {p.tau, p.adev, p.low, p.high}));
        fit.append(QVariant(QVariantList {p.tau, NoiseFiles::fittedAdev(c, p.tau)}));
    }
    for (std::size_t i = 0; i < c.psd.size(); ++i)
        psd.append(QVariant(QVariantList {c.psdFrequency[i], c.psd[i]}));
    m.insert(QStringLiteral("adev"), adev);
    m.insert(QStringLiteral("fit"), fit);
    m.insert(QStringLiteral("psd"), psd);
    m.insert(QStringLiteral("psdN"), c.psdN);
    if (c.kind == NoiseChannel::Gyro) {
        // deg/s/sqrt(Hz) = deg/sqrt(s): x60 for deg/sqrt(h); deg/s: x3600 for
        // deg/h; deg/s*sqrt(Hz) = deg/s/sqrt(s): x3600x60 for deg/h/sqrt(h).
        m.insert(QStringLiteral("kind"), QStringLiteral("gyro"));
        m.insert(QStringLiteral("N"),
            termMap(c.N, c.unit + QStringLiteral("/sqrt(Hz)"), 60, QStringLiteral("deg/sqrt(h)")));
        m.insert(QStringLiteral("B"), termMap(c.B, c.unit, 3600, QStringLiteral("deg/h")));
        m.insert(QStringLiteral("K"),
            termMap(c.K, c.unit + QStringLiteral("*sqrt(Hz)"), 3600 * 60,
                QStringLiteral("deg/h/sqrt(h)")));
    } else {
        const double toMicroG = 1e6 / standardGravity;
        m.insert(QStringLiteral("kind"), QStringLiteral("acc"));
        m.insert(QStringLiteral("N"),
            termMap(c.N, c.unit + QStringLiteral("/sqrt(Hz)"), toMicroG,
                QStringLiteral("ug/sqrt(Hz)")));
        m.insert(QStringLiteral("B"), termMap(c.B, c.unit, toMicroG, QStringLiteral("ug")));
        m.insert(QStringLiteral("K"),
            termMap(c.K, c.unit + QStringLiteral("*sqrt(Hz)"), toMicroG,
                QStringLiteral("ug*sqrt(Hz)")));
    }
    return m;
}

QString minutesText(double seconds)
{
    if (seconds >= 3600)
        return NoiseCheck::tr("%1 h").arg(seconds / 3600, 0, 'f', 1);
    if (seconds >= 60)
        return NoiseCheck::tr("%1 min").arg(std::round(seconds / 60));
    return NoiseCheck::tr("%1 s").arg(std::round(seconds));
}

} // namespace

void NoiseWorker::analyseSamples(const NoiseInput &input, quint64 job)
{
    emit done(analyseNoise(input), QVariantList(), job);
}

void NoiseWorker::analyseFile(const QString &path, quint64 job)
{
    const NoiseFiles::Samples samples = NoiseFiles::readRecording(path);
    QVariantList temperature;
    for (const auto &[t, celsius] : samples.temperature)
        temperature.append(QVariant(QVariantList {t, celsius}));
    if (!samples.error.isEmpty()) {
        NoiseReport refused;
        refused.error = samples.error;
        emit done(refused, temperature, job);
        return;
    }
    emit done(analyseNoise(samples.input), temperature, job);
}

NoiseCheck::NoiseCheck(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<NoiseInput>();
    qRegisterMetaType<NoiseReport>();
    m_elapsed.start();
    m_clock = [this] { return double(m_elapsed.nsecsElapsed()) / 1e9; };
    m_worker = new NoiseWorker;
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("noise analysis"));
    connect(this, &NoiseCheck::analyseSamplesOn, m_worker, &NoiseWorker::analyseSamples,
        Qt::QueuedConnection);
    connect(this, &NoiseCheck::analyseFileOn, m_worker, &NoiseWorker::analyseFile,
        Qt::QueuedConnection);
    connect(m_worker, &NoiseWorker::done, this, &NoiseCheck::onDone, Qt::QueuedConnection);
    m_thread.start(QThread::LowPriority);
    m_exportFolder = QDir::homePath();
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &NoiseCheck::tick);
}

void NoiseCheck::tick()
{
    if (!m_measuring) {
        m_tick.stop();
        return;
    }
    const double t = m_clock() - m_start;
    if (t >= m_plannedSeconds) {
        finish();
        return;
    }
    if (t > 3 && (m_times.empty() || t - m_times.back() > 3))
        setState(tr("Measuring, but no samples arrive: is the module streaming?"), QString());
    else if (!m_times.empty() && m_status != tr("Measuring: keep the module still."))
        setState(tr("Measuring: keep the module still."), QString());
    emit progressChanged();
}

NoiseCheck::~NoiseCheck()
{
    // An analysis under way runs to its end; its result is dropped. The worker
    // is deleted here, once its thread has ended, not by a deleteLater on that
    // thread: its QObject teardown there read this object's connections while
    // this thread was already freeing them.
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

double NoiseCheck::progress() const
{
    if (!m_measuring || m_plannedSeconds <= 0)
        return hasResult() && !m_interim ? 1 : 0;
    return std::min(1.0, (m_clock() - m_start) / m_plannedSeconds);
}

double NoiseCheck::secondsLeft() const
{
    if (!m_measuring)
        return 0;
    return std::max(0.0, m_plannedSeconds - (m_clock() - m_start));
}

void NoiseCheck::setState(const QString &status, const QString &error)
{
    m_status = status;
    m_error = error;
    emit stateChanged();
}

bool NoiseCheck::measure(double seconds)
{
    if (m_measuring || busy()) {
        setState(m_status, tr("A measurement or an analysis is already running."));
        return false;
    }
    if (!(seconds >= 60 && seconds <= 86400)) {
        setState(QString(), tr("Choose a time from one minute to 24 hours."));
        return false;
    }
    if (m_connected && !m_connected()) {
        setState(QString(), tr("Connect to the module first: the measurement uses its samples."));
        return false;
    }
    m_times.clear();
    for (auto &v : m_values)
        v.clear();
    m_liveTemperature.clear();
    // The table and curves show this run's terms from now on.
    m_report = NoiseReport();
    m_channels.clear();
    m_temperature.clear();
    m_interim = false;
    emit resultChanged();
    m_plannedSeconds = seconds;
    m_start = m_clock();
    m_lastInterim = 0;
    m_measuring = true;
    m_tick.start();
    m_pendingSource = tr("measured at rest, %1").arg(minutesText(seconds));
    setState(tr("Measuring: keep the module still."), QString());
    emit progressChanged();
    return true;
}

void NoiseCheck::addTemperature(double celsius)
{
    if (!m_measuring)
        return;
    const double t = m_clock() - m_start;
    if (m_liveTemperature.isEmpty()
        || t >= m_liveTemperature.last().toList().value(0).toDouble() + 1)
        m_liveTemperature.append(QVariant(QVariantList {t, celsius}));
}

void NoiseCheck::addSample(const QVector3D &gyro, const QVector3D &acc)
{
    if (!m_measuring)
        return;
    const double t = m_clock() - m_start;
    if (t > m_plannedSeconds) {
        finish();
        return;
    }
    m_times.push_back(t);
    for (int k = 0; k < 3; ++k) {
        m_values[k].push_back(gyro[k]);
        m_values[3 + k].push_back(acc[k]);
    }
    emit progressChanged();
    // The terms known so far, while the worker is free.
    if (!busy() && t - m_lastInterim >= m_interimEvery) {
        m_lastInterim = t;
        startJob(gathered());
    }
}

NoiseInput NoiseCheck::gathered() const
{
    NoiseInput input;
    input.times = m_times;
    for (int k = 0; k < 6; ++k)
        input.channels.push_back(
            {QLatin1String(axisNames[k]), k < 3 ? QStringLiteral("deg/s") : QStringLiteral("m/s^2"),
                k < 3 ? NoiseChannel::Gyro : NoiseChannel::Acc, m_values[k]});
    return input;
}

void NoiseCheck::startJob(const NoiseInput &input)
{
    m_busyJob = m_nextJob++;
    emit analyseSamplesOn(input, m_busyJob);
    emit stateChanged();
}

void NoiseCheck::finish()
{
    if (!m_measuring)
        return;
    m_measuring = false;
    const NoiseInput input = gathered();
    m_times.clear();
    for (auto &v : m_values)
        v.clear();
    // The last word is the whole run's: an interim job still out is dropped.
    startJob(input);
    m_finalJob = m_busyJob;
    m_status = tr("Analysing %1 of samples…")
                   .arg(minutesText(input.times.empty() ? 0 : input.times.back()));
    emit stateChanged();
    emit progressChanged();
}

void NoiseCheck::cancel()
{
    if (!m_measuring)
        return;
    m_measuring = false;
    m_times.clear();
    for (auto &v : m_values)
        v.clear();
    m_busyJob = 0;
    m_finalJob = 0;
    setState(tr("Measurement cancelled."), QString());
    emit progressChanged();
}

bool NoiseCheck::openRecording(const QString &pathOrUrl)
{
    if (m_measuring || busy()) {
        setState(m_status, tr("A measurement or an analysis is already running."));
        return false;
    }
    const QString path = localPath(pathOrUrl);
    if (!QFileInfo(path).isFile()) {
        setState(QString(), tr("%1 is not a file.").arg(path));
        return false;
    }
    m_busyJob = m_nextJob++;
    m_finalJob = m_busyJob;
    m_liveTemperature.clear(); // a measurement's readings are not the file's
    m_pendingSource = QFileInfo(path).fileName();
    emit analyseFileOn(path, m_busyJob);
    setState(tr("Reading and analysing %1…").arg(m_pendingSource), QString());
    return true;
}

bool NoiseCheck::chooseRecording()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QString chosen = QFileDialog::getOpenFileName(nullptr, tr("Open a resting recording"),
        m_exportFolder, tr("Recordings (*.velmarec *.csv);;All files (*)"));
    return !chosen.isEmpty() && openRecording(chosen);
}

void NoiseCheck::onDone(const NoiseReport &report, const QVariantList &temperature, quint64 job)
{
    if (job != m_busyJob)
        return; // cancelled, or overtaken by the final analysis
    m_busyJob = 0;
    const bool final = job == m_finalJob;
    if (!report.ok) {
        // A partial measurement too short so far says nothing worth showing.
        if (!final) {
            emit stateChanged();
            return;
        }
        // The terms of an earlier part still shown say which part they are.
        if (m_interim) {
            m_interim = false;
            m_source = tr("%1 s of a measurement whose whole run was refused")
                           .arg(std::round(m_report.durationS));
            emit resultChanged();
        }
        setState(QString(), tr("Refused: %1").arg(report.error));
        return;
    }
    m_report = report;
    m_interim = !final;
    m_source = m_pendingSource;
    m_channels.clear();
    for (const NoiseChannelResult &c : m_report.channels)
        m_channels.append(channelMap(c));
    m_temperature = temperature.isEmpty() ? m_liveTemperature : temperature;
    emit resultChanged();
    if (final)
        setState(m_report.warning.isEmpty() ? tr("Done.") : tr("Done, with a warning."), QString());
    else
        emit stateChanged();
    emit progressChanged();
}

void NoiseCheck::setExportError(const QString &text)
{
    if (text == m_exportError)
        return;
    m_exportError = text;
    emit exportErrorChanged();
}

bool NoiseCheck::writeChecked(const QString &pathOrUrl, const QByteArray &bytes)
{
    if (!hasResult()) {
        setExportError(tr("Nothing to export yet."));
        return false;
    }
    const QString path = localPath(pathOrUrl);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        setExportError(tr("Could not write %1: %2").arg(path, file.errorString()));
        return false;
    }
    setExportError(QString());
    return true;
}

bool NoiseCheck::exportCsv(const QString &pathOrUrl)
{
    return writeChecked(pathOrUrl, NoiseFiles::curvesCsv(m_report));
}

bool NoiseCheck::exportJson(const QString &pathOrUrl)
{
    return writeChecked(
        pathOrUrl, QJsonDocument(NoiseFiles::reportJson(m_report)).toJson(QJsonDocument::Indented));
}

bool NoiseCheck::exportYaml(const QString &pathOrUrl)
{
    return writeChecked(pathOrUrl, NoiseFiles::yamlText(m_report).toUtf8());
}

bool NoiseCheck::exportPng(const QVariant &image, const QString &pathOrUrl)
{
    const QImage picture = image.value<QImage>();
    if (picture.isNull()) {
        setExportError(tr("The page could not be captured."));
        return false;
    }
    const QString path = localPath(pathOrUrl);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        setExportError(tr("Could not write %1: %2").arg(path, file.errorString()));
        return false;
    }
    setExportError(QString());
    return true;
}

QString NoiseCheck::suggestedPath(const QString &extension) const
{
    return QDir(m_exportFolder)
        .filePath(QStringLiteral("noise-%1.%2")
                      .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                          extension));
}
