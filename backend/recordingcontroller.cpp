// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingcontroller.h"

#include "backendlog.h"
#include "registerdecoder.h"

#include "comshandler.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

#include "appsettings.h"

#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

RecordingController::RecordingController(ModuleSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    connect(&m_recorder, &Recorder::recordingChanged, this, &RecordingController::stateChanged);
    connect(&m_recorder, &Recorder::statusChanged, this, &RecordingController::statusChanged);
    connect(&m_recorder, &Recorder::failed, this, &RecordingController::onFailed);
    connect(&m_recorder, &Recorder::stopped, this, &RecordingController::onStopped);

    ComsHandler *coms = m_sources.coms;
    connect(
        coms, &ComsHandler::linkError, this, [this](const QString &port, const QString &reason) {
            noteLost(QStringLiteral("port vanished: %1: %2").arg(port, reason));
        });
    connect(coms, &ComsHandler::linkClosed, this,
        [this](const QString &port) { noteLost(QStringLiteral("port closed: %1").arg(port)); });
    connect(coms, &ComsHandler::linkOpened, this, [this](const QString &port) {
        // The backend forgets the ranges on Connect and reads them anew.
        m_decoder.setFullScales(fullScales());
        // Noted with the first data from it, in the order of the receive times.
        if (m_tapped)
            m_openedPort = port;
    });
}

FullScales RecordingController::fullScales() const
{
    return m_sources.decoder->fullScales();
}

RecordingController::~RecordingController()
{
    // What the link still holds goes in; the Recorder then closes its files whole.
    untap();
}

QString RecordingController::defaultLocation()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    return QDir(documents).filePath(QStringLiteral("Velmar IMU"));
}

QString RecordingController::state() const
{
    if (!m_recorder.isRecording())
        return QStringLiteral("idle");
    return m_stopping ? QStringLiteral("stopping") : QStringLiteral("recording");
}

QString RecordingController::location() const
{
    return AppSettings::open()->value(QLatin1String(locationKey), defaultLocation()).toString();
}

void RecordingController::setLocation(const QString &location)
{
    const QString cleaned = QDir::cleanPath(location);
    if (cleaned.isEmpty() || cleaned == this->location())
        return;
    AppSettings::open()->setValue(QLatin1String(locationKey), cleaned);
    emit locationChanged();
}

bool RecordingController::chooseLocation()
{
    if (m_recorder.isRecording() || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QString chosen
        = QFileDialog::getExistingDirectory(nullptr, tr("Folder for recordings"), location());
    if (chosen.isEmpty())
        return false;
    setLocation(chosen);
    return true;
}

void RecordingController::start()
{
    if (m_recorder.isRecording())
        return;
    clearError();
    const QString base = location();
    const auto settings = AppSettings::open();
    if (!settings->contains(QLatin1String(locationKey)))
        settings->setValue(QLatin1String(locationKey), base);

    ComsHandler *coms = m_sources.coms;
    const std::array<quint8, RegisterMap::Size> image = coms->registerImageSnapshot();
    RecordingInfo info;
    info.deviceId = image[RegisterMap::DeviceId.address];
    info.hardwareVersion = readU16(image.data() + RegisterMap::HardwareVersion.address);
    info.softwareVersion = readU16(image.data() + RegisterMap::SoftwareVersion.address);
    info.sensorsRange = image[RegisterMap::SensorsRange.address];
    const FullScales scales = fullScales();
    info.accFullScale = scales.acc;
    info.gyroFullScale = scales.gyro;
    info.magFullScale = scales.mag;
    info.magCalibrated = m_sources.magCalibrated && m_sources.magCalibrated();
    const int versionRowIndex = registerRowAt(RegisterMap::HardwareVersion.address);
    const RegistryItemModel *versionRow
        = versionRowIndex >= 0 ? (*m_sources.rows)[std::size_t(versionRowIndex)] : nullptr;
    m_decoder.reset();
    m_decoder.setImage(image);
    m_decoder.setHardwareVersion(versionRow ? versionRow->data().toInt() : 0);
    m_decoder.setFullScales({info.accFullScale, info.gyroFullScale, info.magFullScale});

    m_stopping = false;
    m_lastRawUs = m_lastRowUs = 0;
    m_chunkTimes.clear();
    m_openedPort.clear();
    setWaitingForData(false);
    const QString folder = m_recorder.start(base, info);
    if (folder.isEmpty())
        return;
    qCInfo(lcBackend) << "recording to" << folder;
    coms->setReceiveTap([this](ReceiveTapBatch &batch) { onTapped(batch); });
    m_tapped = true;
    emit stateChanged();
}

void RecordingController::stop()
{
    if (!m_recorder.isRecording() || m_stopping)
        return;
    untap();
    m_stopping = true;
    m_recorder.stop();
    emit stateChanged();
}

void RecordingController::toggle()
{
    if (m_recorder.isRecording())
        stop();
    else
        start();
}

void RecordingController::clearError()
{
    setError(QString());
}

void RecordingController::untap()
{
    if (!m_tapped)
        return;
    m_tapped = false;
    m_sources.coms->setReceiveTap(nullptr);
}

qint64 RecordingController::timeUs(qint64 steadyNs, qint64 *last)
{
    // Never before what is already in the file: a chunk received just before
    // a loss may be handed over after its note.
    *last = std::max(*last, m_recorder.sinceStartUs(steadyNs));
    return *last;
}

void RecordingController::onTapped(ReceiveTapBatch &batch)
{
    for (const TappedChunk &chunk : batch.chunks) {
        const qint64 at = timeUs(chunk.receivedNs, &m_lastRawUs);
        switch (chunk.kind) {
        case TappedChunk::Kind::Request:
            m_recorder.appendRequest(at, chunk.bytes);
            continue;
        case TappedChunk::Kind::Connection:
            m_recorder.noteConnection(at);
            continue;
        case TappedChunk::Kind::Received:
            break;
        }
        if (m_waitingForData) {
            if (!m_openedPort.isEmpty())
                m_recorder.noteGap(at, QStringLiteral("port opened: %1").arg(m_openedPort));
            m_recorder.noteGap(at, QStringLiteral("data resumed"));
            setWaitingForData(false);
        }
        m_openedPort.clear();
        m_recorder.appendChunk(at, chunk.bytes);
        m_chunkTimes.emplace_back(chunk.receivedNs, at);
        if (m_chunkTimes.size() > 256)
            m_chunkTimes.pop_front();
    }
    MeasurementFrame row;
    for (const TappedFrame &frame : batch.frames) {
        if (!m_decoder.decodeFrame(frame.address,
                reinterpret_cast<const quint8 *>(frame.data.constData()), frame.data.size(), &row))
            continue;
        row.timeUs = timeUs(frame.receivedNs, &m_lastRowUs);
        for (auto it = m_chunkTimes.crbegin(); it != m_chunkTimes.crend(); ++it) {
            if (it->first == frame.receivedNs) {
                m_lastRowUs = row.timeUs = std::max(row.timeUs, it->second);
                break;
            }
        }
        m_recorder.appendFrame(row);
    }
}

void RecordingController::noteLost(const QString &text)
{
    if (!m_tapped || m_waitingForData)
        return;
    // What arrived before the loss goes in before the note.
    m_sources.coms->flushReceiveTap();
    m_recorder.noteGap(timeUs(steadyNowNs(), &m_lastRawUs), text);
    setWaitingForData(true);
}

void RecordingController::onFailed(const QString &message)
{
    qCWarning(lcBackend).noquote() << message;
    untap();
    setError(message);
}

void RecordingController::onStopped()
{
    untap();
    m_stopping = false;
    setWaitingForData(false);
    emit stateChanged();
}

void RecordingController::setError(const QString &message)
{
    if (message == m_error)
        return;
    m_error = message;
    emit errorMessageChanged();
}

void RecordingController::setWaitingForData(bool waiting)
{
    if (waiting == m_waitingForData)
        return;
    m_waitingForData = waiting;
    emit waitingForDataChanged();
}
