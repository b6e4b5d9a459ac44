// SPDX-License-Identifier: GPL-3.0-or-later
#include "durUzaBackend.h"

#include "backendlog.h"
#include "connectioncontroller.h"
#include "modulebackups.h"
#include "moduledecoder.h"
#include "modulefiles.h"
#include "portlist.h"

#include "comsprotocol.h"
#include "magunit.h"
#include "registerblocks.h"
#include "registertext.h"
#include "serialports.h"

#include <QDebug>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcBackend, "velmar.backend")

using namespace QtDataVisualization;

QString portListEntry(const SerialPortEntry &port)
{
    if (port.description.isEmpty())
        return port.portName;
    return port.portName + QStringLiteral(": ") + port.description;
}

QString portDetailText(const SerialPortEntry &port)
{
    QStringList parts;
    if (!port.manufacturer.isEmpty())
        parts << port.manufacturer;
    if (port.hasIdentifiers)
        parts << DurUzaBackend::tr("product %1:%2")
                     .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(port.productId, 4, 16, QLatin1Char('0'));
    if (!port.serialNumber.isEmpty())
        parts << DurUzaBackend::tr("serial %1").arg(port.serialNumber);
    return parts.join(QStringLiteral(" · "));
}

// The catalogue comes before the helpers that watch its rows.
DurUzaBackend::DurUzaBackend(QObject *parent)
    : QObject(parent)
    , m_rows(createRegisterObjects(this))
{
    m_coms.setBlockHandler(
        [this](int blockIndex, const quint8 *block) { dispatchBlock(blockIndex, block); });
    forwardSamples();
    forwardCalibration();
    feedNoiseCheck();
    connect(&m_coms, &ComsHandler::linkError, this, &DurUzaBackend::onLinkError);
    connect(&m_coms, &ComsHandler::linkOpened, this,
        [](const QString &port) { qCInfo(lcBackend) << "link open on" << port; });
    connect(&m_coms, &ComsHandler::linkClosed, this,
        [](const QString &port) { qCInfo(lcBackend) << "link closed on" << port; });

    for (RegistryItemModel *row : m_rows)
        m_registerList.append(row);
    watchCalibrationLink();

    // Module files: backups of what this connection last read from the module.
    m_moduleBackups = new ModuleBackups(
        [this](ModuleBackups::Image *image) {
            // The identity is forgotten when the link goes; known, it names
            // the module the rows were read from (fed rows, for tools, too).
            if (!m_identity.current().known)
                return false;
            *image = m_coms.registerImageSnapshot();
            return true;
        },
        [this](const QByteArray &frame) { m_requests.sendNow(frame); },
        BackupStore::defaultFolder(), this);
    // No backup, no write: without a known module there is nothing to back
    // up, so nothing is written either.
    m_beforeCalibrationWrite = [this](const QString &trigger) {
        return m_moduleBackups->backupBefore(trigger) ? QString() : m_moduleBackups->lastError();
    };
    // Module files: Export and Import read the module afresh.
    m_moduleFiles = new ModuleFiles(
        [this](ModuleFiles::Image *image) {
            if (!m_connected || !m_identity.current().known)
                return false;
            *image = m_coms.registerImageSnapshot();
            return true;
        },
        [this](const QByteArray &frame) { m_requests.sendNow(frame); }, this);
    m_moduleFiles->setBackup(m_beforeCalibrationWrite);
    // A line about the module as it was goes when the link comes or goes.
    connect(&m_coms, &ComsHandler::linkOpened, m_moduleFiles, &ModuleFiles::moduleChanged);
    connect(&m_coms, &ComsHandler::linkClosed, m_moduleFiles, &ModuleFiles::moduleChanged);
    // A restore rewrites the module: what Export or Import said no longer holds.
    connect(m_moduleBackups, &ModuleBackups::restoreStateChanged, m_moduleFiles,
        &ModuleFiles::moduleChanged);
    connect(&m_coms, &ComsHandler::linkOpened, m_moduleBackups, &ModuleBackups::linkChanged);
    connect(&m_coms, &ComsHandler::linkClosed, m_moduleBackups, &ModuleBackups::linkChanged);

    // Last, so its link handlers run after ours.
    m_connection = new ConnectionController(this);
}

QObject *DurUzaBackend::moduleFiles() const
{
    return m_moduleFiles;
}

QObject *DurUzaBackend::moduleBackups() const
{
    return m_moduleBackups;
}

// Members go in reverse order: the catalogue's objects with QObject, the link (which
// stops and waits for its threads, and takes pending delayed writes with it) before,
// and before it everything that works on them.
DurUzaBackend::~DurUzaBackend() = default;

QStringList DurUzaBackend::availablePortsList()
{
    m_portCache.clear();
    m_portNameCache.clear();
    m_portDetailCache.clear();
    const QList<SerialPortEntry> ports = enumerateSerialPorts();
    for (const SerialPortEntry &port : ports) {
        // A path that led to a device and no longer does (a simulator that
        // ended, a link removed) is a port gone; one named before it exists
        // stays listed, so that Connect can say why it cannot be opened.
        if (port.portName.contains(QLatin1Char('/'))) {
            if (QFileInfo::exists(port.portName))
                m_pathsSeen.insert(port.portName);
            else if (m_pathsSeen.contains(port.portName))
                continue;
        }
        m_portCache.append(portListEntry(port));
        m_portNameCache.append(port.portName);
        m_portDetailCache.append(portDetailText(port));
    }
    return m_portCache;
}

void DurUzaBackend::connectClicked(int index)
{
    if (m_connected) {
        m_connected = false;
        m_decoder.clearDataProblem();
        m_coms.stop();
        return;
    }
    // The interface passes a combo box index; with no port listed that is -1.
    if (index < 0 || index >= m_portCache.size()) {
        qCWarning(lcBackend) << "connect with port index" << index << "of" << m_portCache.size();
        emit connectionError(QString(), tr("No serial port selected"));
        return;
    }
    m_connected = true;
    qDebug() << "Selected:" << m_portCache.at(index);
    m_decoder.forgetFullScales();
    m_coms.start(m_portNameCache.at(index));
    requestChartData();
}

void DurUzaBackend::onLinkError(const QString &portName, const QString &errorText)
{
    qCWarning(lcBackend) << "link error on" << portName << ":" << errorText;
    m_connected = false;
    m_decoder.clearDataProblem();
    emit connectionError(portName, errorText);
}

ModuleSources DurUzaBackend::moduleSources()
{
    return {&m_coms, &m_rows, &m_decoder, [this] { return m_magCalibrated; }};
}

QObject *DurUzaBackend::connection() const
{
    return m_connection;
}

void DurUzaBackend::setMagSctr3DSeries(QScatter3DSeries *magSctr3DSeries)
{
    m_magScatter.setGatheredSeries(magSctr3DSeries);
}

void DurUzaBackend::setMagSctr3DSeries2(QScatter3DSeries *magSctr3DSeries2)
{
    m_magScatter.setLatestSeries(magSctr3DSeries2);
}

void DurUzaBackend::testAction()
{
    emit sdmChanged();
}

void DurUzaBackend::randomFillMagScatter() { }

void DurUzaBackend::setFrameSender(FrameSender sender)
{
    m_requests.setFrameSender(std::move(sender));
}

QString DurUzaBackend::magUnit() const
{
    return magUnitText(m_magCalibrated);
}

void DurUzaBackend::dispatchBlock(int blockIndex, const quint8 *block)
{
    // The block points into a whole image: a block that touches the
    // magnetometer's calibration decides its unit afresh, and holds the
    // calibration the heading check undoes.
    const RegisterBlock &span = registerBlocks[std::size_t(blockIndex)];
    constexpr RegisterSpan magCal = RegisterMap::MagCalibration;
    if (span.start < magCal.address + magCal.count && span.start + span.length > magCal.address) {
        const quint8 *magBytes = block - span.start + magCal.address;
        for (int i = 0; i < 12; ++i)
            m_activeMag[std::size_t(i)] = readF32(magBytes + 4 * i);
        const bool calibrated = ::magCalibrated(magBytes);
        if (calibrated != m_magCalibrated) {
            m_magCalibrated = calibrated;
            emit magUnitChanged();
        }
    }
    m_decoder.decode(blockIndex, block);
    constexpr RegisterSpan temperature = RegisterMap::Temperature;
    if (m_noise->measuring() && span.start <= temperature.address
        && span.start + span.length >= temperature.address + temperature.count)
        m_noise->addTemperature(
            decode::temperatureCelsius(block - span.start + temperature.address));
    if (m_control1ToConfirm >= 0 && blockIndex == registerBlockAt(RegisterMap::Acc.address))
        readBackStreamingMode();
    m_moduleFiles->blockAnswered(blockIndex); // module files hook: a fresh answer arrived
    m_moduleBackups->blockAnswered(blockIndex);
}

// A decoded sample goes to the charts first, then to its sensor's calibration.
void DurUzaBackend::forwardSamples()
{
    connect(&m_decoder, &RegisterDecoder::accDecoded, this, [this](const QVector3D &sample) {
        m_live.setAcc(sample);
        m_accCal.sample(sample);
        m_guide->headingAcc(sample);
    });
    connect(&m_decoder, &RegisterDecoder::gyroDecoded, this, [this](const QVector3D &sample) {
        m_live.setGyro(sample);
        m_gyroCal.sample(sample);
    });
    connect(&m_decoder, &RegisterDecoder::magDecoded, this, [this](const QVector3D &sample) {
        m_live.setMag(sample);
        m_magCal.sample(sample);
        m_guide->headingMag(sample);
    });
    connect(&m_decoder, &RegisterDecoder::quaternionDecoded, &m_live, &LiveData::setQuaternion);
    connect(&m_decoder, &RegisterDecoder::eulerDecoded, &m_live, &LiveData::setEuler);
    connect(
        &m_decoder, &RegisterDecoder::dataProblemChanged, this, &DurUzaBackend::dataProblemChanged);
    connect(&m_live, &LiveData::qQuatChanged, this, &DurUzaBackend::qQuatChanged);
    connect(&m_live, &LiveData::quatDataListChanged, this, &DurUzaBackend::quatDataListChanged);
    connect(&m_live, &LiveData::eulerDataListChanged, this, &DurUzaBackend::eulerDataListChanged);
    connect(&m_live, &LiveData::accDataListChanged, this, &DurUzaBackend::accDataListChanged);
    connect(&m_live, &LiveData::gyroDataListChanged, this, &DurUzaBackend::gyroDataListChanged);
    connect(&m_live, &LiveData::magDataListChanged, this, &DurUzaBackend::magDataListChanged);
    connect(&m_live, &LiveData::magVect3Changed, this, &DurUzaBackend::magVect3Changed);
}

bool DurUzaBackend::resetDefaults()
{
    // module files hook: no backup, no reset.
    if (!m_moduleBackups->backupBefore(QStringLiteral("before Reset Defaults"))) {
        m_resetDefaultsError = tr("Reset Defaults refused, nothing was written: %1")
                                   .arg(m_moduleBackups->lastError());
        emit resetDefaultsErrorChanged();
        return false;
    }
    if (!m_resetDefaultsError.isEmpty()) {
        m_resetDefaultsError.clear();
        emit resetDefaultsErrorChanged();
    }
    m_requests.resetDefaults();
    m_moduleFiles->moduleChanged();
    return true;
}

// The sequences end by switching the module to a streaming mode, a write the
// register page would otherwise never see answered. Once the module streams the
// block of that mode it holds that "Control1": the page shows it, with no request
// added to the sequences.
void DurUzaBackend::readBackStreamingMode()
{
    if (m_coms.linkCounters().streamingMode != m_control1ToConfirm)
        return;
    const int mode = m_control1ToConfirm;
    m_control1ToConfirm = -1;
    m_rows[std::size_t(registerRowAt(RegisterMap::Control1.address))]->setDataFromModule(mode);
}

void DurUzaBackend::requestAllData()
{
    m_requests.requestAllData();
}

void DurUzaBackend::requestChartData()
{
    m_control1ToConfirm = RegisterMap::StreamingAll;
    m_requests.requestChartData();
}

void DurUzaBackend::requestAccOnly()
{
    m_control1ToConfirm = RegisterMap::StreamingAccGyro;
    m_requests.requestAccOnly();
}

void DurUzaBackend::requestGyroOnly()
{
    m_control1ToConfirm = RegisterMap::StreamingAccGyro;
    m_requests.requestGyroOnly();
}

void DurUzaBackend::requestMagOnly()
{
    m_control1ToConfirm = RegisterMap::StreamingAll;
    m_requests.requestMagOnly();
}

void DurUzaBackend::requestRangeData()
{
    m_requests.requestRangeData();
}

bool DurUzaBackend::writeRegisterText(int address, const QString &text)
{
    RegisterText parsed = parseRegisterTextAt(address, text);
    // Without a link both frames would be dropped on the way; say so instead.
    if (parsed.accepted() && !m_connected)
        parsed.refusal = tr("Not connected: connect to the module first; nothing was written.");
    if (!parsed.accepted()) {
        qCWarning(lcBackend) << "refused" << text << "for address" << address << ":"
                             << parsed.refusal;
        setRegisterWriteError(parsed.refusal);
        return false;
    }
    setRegisterWriteError(QString());
    m_requests.writeAndReadBack(quint8(address), parsed.bytes, quint8(parsed.width));
    m_moduleFiles->moduleChanged();
    return true;
}

void DurUzaBackend::setRegisterWriteError(const QString &reason)
{
    if (reason == m_registerWriteError)
        return;
    m_registerWriteError = reason;
    emit registerWriteErrorChanged();
}

// ---- Calibration: the procedures run themselves; the backend names their sensor.

void DurUzaBackend::forwardCalibration()
{
    connect(
        &m_accCal, &AccCalibration::positionGathered, this, &DurUzaBackend::accCalStageFinished);
    connect(&m_accCal, &CalibrationProcedure::finished, this, &DurUzaBackend::accCalFinished);
    connect(&m_gyroCal, &CalibrationProcedure::finished, this, &DurUzaBackend::gyroCalFinished);
    connect(&m_magCal, &CalibrationProcedure::finished, this, &DurUzaBackend::magCalFinished);
    for (CalibrationProcedure *procedure :
        std::initializer_list<CalibrationProcedure *> {&m_accCal, &m_gyroCal, &m_magCal}) {
        const QString name = calSensorName(procedure->sensor());
        connect(
            procedure, &CalibrationProcedure::progressChanged, this, &DurUzaBackend::setProgress);
        connect(procedure, &CalibrationProcedure::failed, this,
            [this, name](const QString &message) { emit calibrationFailed(name, message); });
        connect(procedure, &CalibrationProcedure::needsConfirmation, this,
            [this, name](double quality, const QString &why) {
                emit calibrationScoreReason(name, why);
                emit calibrationNeedsConfirmation(name, quality);
            });
        connect(procedure, &CalibrationProcedure::notice, this,
            [this, name](const QString &message) { emit calibrationNotice(name, message); });
    }
    connect(
        &m_offers, &RestoreOffers::changed, this, &DurUzaBackend::calibrationRestoreOffersChanged);
}

void DurUzaBackend::setProgress(double percent)
{
    m_progressPercent = percent;
    emit progressPercentChanged();
}

CalibrationProcedure *DurUzaBackend::procedureNamed(const QString &name)
{
    CalSensor sensor;
    if (!calSensorNamed(name, &sensor))
        return nullptr;
    switch (sensor) {
    case CalSensor::Acc:
        return &m_accCal;
    case CalSensor::Gyro:
        return &m_gyroCal;
    case CalSensor::Mag:
        return &m_magCal;
    }
    return nullptr;
}

void DurUzaBackend::accCalButton()
{
    if (refuseUnconfirmedModule(m_accCal))
        return;
    m_accCal.button();
}

void DurUzaBackend::gyroCalButton()
{
    if (refuseUnconfirmedModule(m_gyroCal))
        return;
    m_gyroCal.button();
}

void DurUzaBackend::magCalButton()
{
    if (refuseUnconfirmedModule(m_magCal))
        return;
    m_magCal.button();
}

// A run writes the module: not before this connection knows which module it is, so
// that a backup and a restore offer name the right one.
bool DurUzaBackend::refuseUnconfirmedModule(const CalibrationProcedure &procedure)
{
    if (procedure.isRunning() || !m_connected || m_identity.current().known)
        return false;
    qCWarning(lcBackend) << "calibration refused: the module's identity is not confirmed";
    emit calibrationFailed(calSensorName(procedure.sensor()),
        tr("Calibration not started: which module is connected is not confirmed yet (it may "
           "still be streaming). Nothing was changed; try again in a moment."));
    return true;
}

void DurUzaBackend::cancelCalibration()
{
    m_accCal.cancel();
    m_gyroCal.cancel();
    m_magCal.cancel();
}

void DurUzaBackend::confirmCalibrationResult(const QString &sensor)
{
    if (CalibrationProcedure *procedure = procedureNamed(sensor))
        procedure->confirmResult();
}

void DurUzaBackend::discardCalibrationResult(const QString &sensor)
{
    if (CalibrationProcedure *procedure = procedureNamed(sensor))
        procedure->discardResult();
}

QVariantList DurUzaBackend::calibrationRestoreOffers() const
{
    return m_offers.list();
}

void DurUzaBackend::restoreCalibration(const QString &sensor)
{
    CalibrationProcedure *procedure = procedureNamed(sensor);
    if (!procedure || !m_offers.isShown(procedure->sensor()))
        return;
    procedure->restore(m_offers.take(procedure->sensor()));
}

void DurUzaBackend::dismissCalibrationRestore(const QString &sensor)
{
    CalibrationProcedure *procedure = procedureNamed(sensor);
    if (!procedure || !m_offers.isPending(procedure->sensor()))
        return;
    m_offers.dismiss(procedure->sensor());
}

// Connected once, by the constructor, after the link's own handlers.
void DurUzaBackend::watchCalibrationLink()
{
    connect(&m_coms, &ComsHandler::linkError, this,
        [this](const QString &port, const QString &) { onCalibrationLinkLost(port); });
    connect(&m_coms, &ComsHandler::linkClosed, this, &DurUzaBackend::onCalibrationLinkLost);
    connect(&m_coms, &ComsHandler::linkOpened, &m_identity, &ModuleIdentity::linkOpened);
    // Not on the reconnect check's own link, which reads the identity once and
    // decides; the connect sequence that follows it confirms (or not) what it read.
    m_identity.setReader([this](RegisterSpan span) {
        if (m_connected)
            m_requests.readNow(span);
    });
    // Headers judged noise or frames given up mean the module sent what nobody
    // asked for: it streamed, and the map may have been cut out of the stream.
    m_identity.setSuspicion([this] {
        const LinkCounters counters = m_coms.linkCounters();
        if (counters.rejectedHeaders > 0 || counters.cutFrames > 0)
            return true;
        const auto image = m_coms.registerImageSnapshot();
        return ModuleIdentity::holdsStreamedHeader(image.data(), int(image.size()));
    });
    connect(&m_identity, &ModuleIdentity::notConfirmed, this,
        [this](const QString &why) { emit connectionError(m_identity.port(), why); });
    connect(&m_identity, &ModuleIdentity::complete, this,
        [this] { m_offers.showFor(m_identity.port(), m_identity.current()); });
}

void DurUzaBackend::onCalibrationLinkLost(const QString &port)
{
    m_identity.linkLost();
    m_accCal.linkLost(port);
    m_gyroCal.linkLost(port);
    m_magCal.linkLost(port);
    m_offers.hideAll();
}

// The noise page measures on the samples the charts get, one sample a
// gyroscope sample, with the accelerometer's latest beside it.
void DurUzaBackend::feedNoiseCheck()
{
    m_noise = new NoiseCheck(this);
    m_noise->setConnected([this] { return m_connected; });
    m_noise->setExportFolder(m_viewSettings.exportFolder());
    connect(&m_decoder, &RegisterDecoder::gyroDecoded, m_noise,
        [this](const QVector3D &gyro) { m_noise->addSample(gyro, m_live.lastAcc()); });
}
