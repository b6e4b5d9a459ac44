// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeBackend.h"

#include "record.h"

#include <QFile>

#include <cmath>
#include <random>

#include "fakeConnection.h"

#include "registertext.h"
#include "registryitemmodel.h"
#include "viewSettings.h"

FakeBackend::FakeBackend(QObject *parent)
    : QObject(parent)
{
    // A few registers covering the three display codes, write access and choices.
    m_registers = {
        new RegistryItemModel(this, 2, 1, QStringLiteral("Hardware Version"), false,
            QStringLiteral("Hardware version"), {}),
        new RegistryItemModel(this, 10, 0, QStringLiteral("Hex Register"), true,
            QStringLiteral("A writable byte"), {}),
        new RegistryItemModel(this, 52, 0, QStringLiteral("Control1"), true,
            QStringLiteral("Streaming mode"), {QStringLiteral("Off"), QStringLiteral("Stream")}),
        new RegistryItemModel(this, 55, 2, QStringLiteral("ACC Offset X"), true,
            QStringLiteral("Accelerometer offset"), {}),
    };
    // The writable ones with the defaults a factory reset writes.
    const QVariantList defaults {QVariant(), 0, 0x85, 0.0};
    for (int i = 0; i < m_registers.size(); ++i)
        qobject_cast<RegistryItemModel *>(m_registers[i])->setFactoryDefault(defaults[i]);
    m_viewSettings = new ViewSettings(m_settingsDir.filePath(QStringLiteral("settings.ini")), this);
    m_connection = new FakeConnection(this, [](const QObject *backend) {
        return static_cast<const FakeBackend *>(backend)->availablePortsList();
    });
}

QObject *FakeBackend::connection() const
{
    return m_connection;
}

QObject *FakeBackend::viewSettings() const
{
    return m_viewSettings;
}

void FakeBackend::reset()
{
    m_noise.cancel();
    m_noise.setClock([this] { return m_noiseTime; });
    m_noise.setExportFolder(m_settingsDir.path());
    m_ports = QStringList {QStringLiteral("ttyFAKE0: First"), QStringLiteral("ttyFAKE1")};
    m_callNames.clear();
    m_callArguments.clear();
    setList(QStringLiteral("euler"), {});
    setList(QStringLiteral("quat"), {});
    setList(QStringLiteral("acc"), {});
    setList(QStringLiteral("gyro"), {});
    setList(QStringLiteral("mag"), {});
    setProgress(0);
    m_connected = true;
    m_registerWriteError.clear();
    m_resetDefaultsError.clear();
    setDataProblem(QString());
    if (m_magUnit != QLatin1String("gauss")) {
        m_magUnit = QStringLiteral("gauss");
        emit magUnitChanged();
    }
    setRestoreOffers({});
    // Each test starts as on a first run: nothing remembered.
    m_viewSettings->storeWindow(QRect(), false);
    m_viewSettings->setExportFolder(m_settingsDir.filePath(QStringLiteral("exports")));
    for (QObject *object : qAsConst(m_registers))
        static_cast<RegistryItemModel *>(object)->setDataFromModule(0);
    m_recording.reset();
    m_connection->reset();
    m_moduleBackups.reset();
    m_moduleFiles.reset();
}

void FakeModuleBackups::reset()
{
    m_restored.clear();
    m_refreshes = 0;
    m_lastError.clear();
    m_differences.clear();
    m_asked.clear();
    setBackups({});
    setRestoreState(false, QString());
    emit lastErrorChanged();
}

void FakeModuleBackups::setRestoreState(bool restoring, const QString &status)
{
    m_restoring = restoring;
    m_restoreStatus = status;
    emit restoreStateChanged();
}

void FakeModuleBackups::setLastError(const QString &text)
{
    m_lastError = text;
    emit lastErrorChanged();
}

void FakeModuleBackups::setBackups(const QVariantList &list)
{
    m_backups = list;
    emit backupsChanged();
}

void FakeModuleFiles::reset()
{
    m_calls.clear();
    m_lastArguments.clear();
    m_files.clear();
    m_busy = false;
    m_status.clear();
    m_failed = false;
    m_importPath.clear();
    m_rows.clear();
    emit stateChanged();
}

void FakeModuleFiles::setRows(const QString &path, const QVariantList &rows)
{
    m_importPath = path;
    m_rows = rows;
    emit stateChanged();
}

void FakeModuleFiles::setStatus(const QString &status, bool failed, bool busy)
{
    m_status = status;
    m_failed = failed;
    m_busy = busy;
    emit stateChanged();
}

void FakeRecording::reset()
{
    m_toggles = 0;
    setRecording(false);
    setStatus(0, 0, 0, false);
    setError(QString());
}

void FakeRecording::setStatus(qint64 elapsedMs, qint64 frames, qint64 bytes, bool waiting)
{
    m_elapsedMs = elapsedMs;
    m_frames = frames;
    m_bytes = bytes;
    m_waiting = waiting;
    emit statusChanged();
}

void FakeRecording::setError(const QString &message)
{
    m_error = message;
    emit errorMessageChanged();
}

void FakeRecording::setRecording(bool on)
{
    if (on == m_recording)
        return;
    m_recording = on;
    m_folder = on ? m_location + QStringLiteral("/2026-12-08_07-00-00") : m_folder;
    emit stateChanged();
}

void FakeBackend::setList(const QString &which, const QVariantList &values)
{
    if (which == QLatin1String("euler")) {
        m_euler = values;
        emit eulerDataListChanged();
    } else if (which == QLatin1String("quat")) {
        m_quat = values;
        emit quatDataListChanged();
    } else if (which == QLatin1String("acc")) {
        m_acc = values;
        emit accDataListChanged();
    } else if (which == QLatin1String("gyro")) {
        m_gyro = values;
        emit gyroDataListChanged();
    } else if (which == QLatin1String("mag")) {
        m_mag = values;
        emit magDataListChanged();
    }
}

void FakeBackend::setRestoreOffers(const QVariantList &offers)
{
    m_restoreOffers = offers;
    emit calibrationRestoreOffersChanged();
}

void FakeBackend::setProgress(double percent)
{
    m_progress = percent;
    emit progressPercentChanged();
}

void FakeBackend::setMagVector(const QVector3D &v)
{
    m_magVect3 = v;
    emit magVect3Changed();
}

RegistryItemModel *FakeBackend::registerAt(int address) const
{
    for (QObject *object : m_registers) {
        auto *reg = static_cast<RegistryItemModel *>(object);
        if (reg->address() == address)
            return reg;
    }
    return nullptr;
}

void FakeBackend::setRegisterFromModule(int address, const QVariant &value)
{
    if (RegistryItemModel *reg = registerAt(address))
        reg->setDataFromModule(value);
}

bool FakeBackend::writeRegisterText(int address, const QString &text)
{
    record(QStringLiteral("writeRegisterText"), {address, text});
    RegistryItemModel *reg = registerAt(address);
    RegisterText parsed;
    if (!reg || !reg->writeAccess())
        parsed.refusal = QStringLiteral("read-only");
    else
        parsed = parseRegisterText(reg->modelDataType(), reg->modelDataType() == 2 ? 4 : 1, text);
    if (parsed.accepted() && !m_connected)
        parsed.refusal
            = QStringLiteral("Not connected: connect to the module first; nothing was written.");
    m_registerWriteError = parsed.refusal;
    emit registerWriteErrorChanged();
    if (!parsed.accepted())
        return false;
    const QVariant value = reg->modelDataType() == 2 ? QVariant(readF32(parsed.bytes))
                                                     : QVariant(int(parsed.bytes[0]));
    record(QStringLiteral("sent"), {address, value});
    reg->setDataFromModule(value);
    return true;
}

void FakeBackend::setDataProblem(const QString &text)
{
    if (text == m_dataProblem)
        return;
    m_dataProblem = text;
    emit dataProblemChanged();
}

void FakeBackend::setMagSctr3DSeries(QtDataVisualization::QScatter3DSeries *series)
{
    record(QStringLiteral("setMagSctr3DSeries"), {QVariant::fromValue<QObject *>(series)});
}

void FakeBackend::setMagSctr3DSeries2(QtDataVisualization::QScatter3DSeries *series)
{
    record(QStringLiteral("setMagSctr3DSeries2"), {QVariant::fromValue<QObject *>(series)});
}

void FakeBackend::record(const QString &name, const QVariantList &arguments)
{
    m_callNames << name;
    m_callArguments << arguments;
}

int FakeBackend::callCount(const QString &name) const
{
    return m_callNames.count(name);
}

QVariantList FakeBackend::lastArguments(const QString &name) const
{
    const int i = m_callNames.lastIndexOf(name);
    return i < 0 ? QVariantList() : m_callArguments.at(i);
}

namespace {
struct RestSample
{
    QVector3D gyro;
    QVector3D acc;
};

// White noise at rest: gyroscope 0.01 deg/s, accelerometer 0.002 m/s^2 per
// sample; `turn` adds 20 deg/s about z.
RestSample restSample(std::mt19937 &rng, bool turn)
{
    std::normal_distribution<float> n(0, 1);
    return {QVector3D(0.01f * n(rng), 0.01f * n(rng), 0.01f * n(rng) + (turn ? 20 : 0)),
        QVector3D(0.002f * n(rng), 0.002f * n(rng), 9.81f + 0.002f * n(rng))};
}
} // namespace

void FakeBackend::feedNoiseSamples(double seconds, double rateHz, bool moving)
{
    std::mt19937 rng(m_noiseSeed++);
    const long count = std::lround(seconds * rateHz);
    for (long i = 0; i < count; ++i) {
        m_noiseTime += 1 / rateHz;
        const RestSample s = restSample(rng, moving && std::abs(i - count / 2) < rateHz * 2);
        m_noise.addSample(s.gyro, s.acc);
    }
}

QString FakeBackend::writeNoiseCsv(double seconds, double rateHz, bool moving, bool withTemperature)
{
    const QString path = m_settingsDir.filePath(
        QStringLiteral("rest-%1%2.csv").arg(m_noiseSeed).arg(moving ? "-moved" : ""));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    std::mt19937 rng(m_noiseSeed++);
    file.write(csvHeaderRow());
    const long count = std::lround(seconds * rateHz);
    for (long i = 0; i < count; ++i) {
        const RestSample s = restSample(rng, moving && std::abs(i - count / 2) < rateHz * 2);
        MeasurementFrame frame;
        frame.timeUs = qint64(std::llround(double(i) / rateHz * 1e6));
        frame.present = MeasurementFrame::Acc | MeasurementFrame::Gyro
            | (withTemperature ? unsigned(MeasurementFrame::Temperature) : 0u);
        frame.gyro = {s.gyro.x(), s.gyro.y(), s.gyro.z()};
        frame.acc = {s.acc.x(), s.acc.y(), s.acc.z()};
        frame.temperature = 25 + double(i) / double(count); // a slow one-degree rise
        file.write(csvRow(frame));
    }
    return file.flush() ? path : QString();
}

QString FakeBackend::fileText(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
