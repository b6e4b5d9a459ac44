// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the register blocks the link dispatches: each handler reads its block
// from the register image, stores the values into its register objects in row order,
// and updates the live lists and properties that depend on them.
#include "registerdecoder.h"

#include "backendlog.h"
#include "measurementdecoder.h"

#include <QDebug>

#include <cmath>

namespace {
using namespace RegisterMap;

// Row of the register at `address` in the catalogue; the handlers name their first
// register by its name in the map so the catalogue stays the one place rows are defined.
int rowOf(int address)
{
    const int row = registerRowAt(address);
    Q_ASSERT(row >= 0);
    return row;
}

// The debug lines carry the signature of the handler that has always written them.
constexpr char sensorsRangeSignature[] = "void DurUzaBackend::sensorsRangeUpdated(const quint8*)";
constexpr char accMagEffSignature[] = "void DurUzaBackend::accMagEffUpdated(const quint8*)";
} // namespace

const std::array<RegisterDecoder::HandlerEntry, 22> RegisterDecoder::handlerTable = {{
    {"deviceIdUpdated", &RegisterDecoder::deviceIdUpdated},
    {"statusUpdated", &RegisterDecoder::statusUpdated},
    {"hardwareVersionUpdated", &RegisterDecoder::hardwareVersionUpdated},
    {"softwareVersionUpdated", &RegisterDecoder::softwareVersionUpdated},
    {"accUpdated", &RegisterDecoder::accUpdated},
    {"gyroUpdated", &RegisterDecoder::gyroUpdated},
    {"magUpdated", &RegisterDecoder::magUpdated},
    {"temperatureUpdated", &RegisterDecoder::temperatureUpdated},
    {"quaternionUpdated", &RegisterDecoder::quaternionUpdated},
    {"eulerUpdated", &RegisterDecoder::eulerUpdated},
    {"linearAccUpdated", &RegisterDecoder::linearAccUpdated},
    {"gravityUpdated", &RegisterDecoder::gravityUpdated},
    {"control1Updated", &RegisterDecoder::control1Updated},
    {"control2Updated", &RegisterDecoder::control2Updated},
    {"sensorsRangeUpdated", &RegisterDecoder::sensorsRangeUpdated},
    {"accOffsetUpdated", &RegisterDecoder::accOffsetUpdated},
    {"accScaleUpdated", &RegisterDecoder::accScaleUpdated},
    {"gyroOffsetUpdated", &RegisterDecoder::gyroOffsetUpdated},
    {"gyroScaleUpdated", &RegisterDecoder::gyroScaleUpdated},
    {"magOffsetUpdated", &RegisterDecoder::magOffsetUpdated},
    {"magScaleUpdated", &RegisterDecoder::magScaleUpdated},
    {"accMagEffUpdated", &RegisterDecoder::accMagEffUpdated},
}};

RegisterDecoder::RegisterDecoder(const RegisterObjects &rows, QObject *parent)
    : QObject(parent)
    , m_rows(rows)
{ }

const char *RegisterDecoder::handlerName(int blockIndex)
{
    if (blockIndex < 0 || blockIndex >= int(handlerTable.size()))
        return nullptr;
    return handlerTable[std::size_t(blockIndex)].name;
}

void RegisterDecoder::decode(int blockIndex, const quint8 *block)
{
    if (blockIndex < 0 || blockIndex >= int(handlerTable.size())) {
        qCWarning(lcBackend) << "no handler for register block" << blockIndex;
        return;
    }
    (this->*handlerTable[std::size_t(blockIndex)].handler)(block);
}

void RegisterDecoder::setDataProblem(DataProblemSource source, const QString &text)
{
    m_dataProblemSource = source;
    if (text == m_dataProblem)
        return;
    if (!text.isEmpty())
        qCWarning(lcBackend) << text;
    m_dataProblem = text;
    emit dataProblemChanged();
}

void RegisterDecoder::storeBytes(int firstRow, int count, const quint8 *block)
{
    for (int i = 0; i < count; ++i)
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(int(block[i]));
}

void RegisterDecoder::storeReals(int firstRow, int count, const quint8 *block)
{
    for (int i = 0; i < count; ++i)
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(readF32(block + 4 * i));
}

bool RegisterDecoder::storeScaled(int firstRow, int count, const quint8 *block, float fullScale,
    const char *unknownRangeMessage, QVector3D *sample)
{
    if (!(fullScale > 0)) {
        qDebug() << unknownRangeMessage;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const float value = scaleRaw(readI16(block + 2 * i), fullScale);
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(value);
        if (sample)
            (*sample)[i] = value;
    }
    return true;
}

void RegisterDecoder::deviceIdUpdated(const quint8 *block)
{
    storeBytes(rowOf(DeviceId.address), 1, block);
}

void RegisterDecoder::statusUpdated(const quint8 *block)
{
    storeBytes(rowOf(Status.address), 1, block);
}

void RegisterDecoder::hardwareVersionUpdated(const quint8 *block)
{
    const int hardwareVersion = readU16(block);
    m_rows[std::size_t(rowOf(HardwareVersion.address))]->setDataFromModule(hardwareVersion);
    if (!isKnownHardwareVersion(hardwareVersion))
        setDataProblem(
            DataProblemSource::HardwareVersion, unknownHardwareVersionText(hardwareVersion));
    else if (m_dataProblemSource == DataProblemSource::HardwareVersion)
        clearDataProblem();
}

void RegisterDecoder::softwareVersionUpdated(const quint8 *block)
{
    m_rows[std::size_t(rowOf(SoftwareVersion.address))]->setDataFromModule(int(readU16(block)));
}

void RegisterDecoder::accUpdated(const quint8 *block)
{
    QVector3D sample;
    if (!storeScaled(rowOf(Acc.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", &sample))
        return;
    emit accDecoded(sample);
}

void RegisterDecoder::gyroUpdated(const quint8 *block)
{
    QVector3D sample;
    if (!storeScaled(
            rowOf(Gyro.address), 3, block, m_fullScale.gyro, "Gyro Range Unknown!", &sample))
        return;
    emit gyroDecoded(sample);
}

void RegisterDecoder::magUpdated(const quint8 *block)
{
    QVector3D sample;
    if (!storeScaled(rowOf(Mag.address), 3, block, m_fullScale.mag, "MAG Range Unknown!", &sample))
        return;
    emit magDecoded(sample);
}

void RegisterDecoder::temperatureUpdated(const quint8 *block)
{
    // Shared with the recording's CSV.
    const double celsius = measurement::temperatureCelsius(block);
    m_rows[std::size_t(rowOf(Temperature.address))]->setDataFromModule(celsius);
}

void RegisterDecoder::quaternionUpdated(const quint8 *block)
{
    const int firstRow = rowOf(Quaternion.address);
    float q[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = measurement::quaternionComponent(block + 2 * i); // shared with the CSV
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(q[i]);
    }
    emit quaternionDecoded(QQuaternion(q[0], q[1], q[2], q[3]));
}

void RegisterDecoder::eulerUpdated(const quint8 *block)
{
    const int firstRow = rowOf(Euler.address);
    QVector3D angles;
    for (int i = 0; i < 3; ++i) {
        const float angle = measurement::eulerAngle(block + 2 * i); // shared with the CSV
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(angle);
        angles[i] = angle;
    }
    emit eulerDecoded(angles);
}

void RegisterDecoder::linearAccUpdated(const quint8 *block)
{
    storeScaled(rowOf(LinearAcc.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", nullptr);
}

void RegisterDecoder::gravityUpdated(const quint8 *block)
{
    storeScaled(rowOf(Gravity.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", nullptr);
}

void RegisterDecoder::control1Updated(const quint8 *block)
{
    storeBytes(rowOf(Control1.address), 1, block);
}

void RegisterDecoder::control2Updated(const quint8 *block)
{
    storeBytes(rowOf(Control2.address), 1, block);
}

void RegisterDecoder::sensorsRangeUpdated(const quint8 *block)
{
    // The dispatch runs in address order, so a version read in the same pass is
    // already stored here.
    const RegistryItemModel *versionRow = m_rows[std::size_t(rowOf(HardwareVersion.address))];
    const int hardwareVersion = versionRow->data().toInt();
    RangeCodes codes;
    if (applySensorsRange(hardwareVersion, block[0], m_fullScale, &codes)) {
        qDebug() << sensorsRangeSignature << "ACC Range Code:" << codes.acc
                 << "Gyro Range Code:" << codes.gyro << "MAG Range Code:" << codes.mag;
        // A code without a value of its own is a problem only while the sensor
        // has no earlier full scale to keep.
        const QString unscalable
            = unscalableRangeText(hardwareVersion, block[0], m_fullScale, codes);
        if (unscalable.isEmpty())
            clearDataProblem();
        else
            setDataProblem(DataProblemSource::SensorsRange, unscalable);
    } else {
        qCInfo(lcBackend) << "range byte" << int(block[0]) << "under unknown hardware version"
                          << hardwareVersion << "leaves the full scales as they were";
        // A version never read is not yet known, which is no problem to show.
        if (versionRow->updated())
            setDataProblem(
                DataProblemSource::HardwareVersion, unknownHardwareVersionText(hardwareVersion));
    }
    storeBytes(rowOf(SensorsRange.address), 1, block);
}

void RegisterDecoder::accOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(AccOffset.address), 3, block);
}

void RegisterDecoder::accScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(AccScale.address), 9, block);
}

void RegisterDecoder::gyroOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(GyroOffset.address), 3, block);
}

void RegisterDecoder::gyroScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(GyroScale.address), 3, block);
}

void RegisterDecoder::magOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(MagOffset.address), 3, block);
}

void RegisterDecoder::magScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(MagScale.address), 9, block);
}

void RegisterDecoder::accMagEffUpdated(const quint8 *block)
{
    qDebug() << accMagEffSignature << "Acc Mag Eff Updated:" << int(block[0]);
    storeBytes(rowOf(AccMagEff.address), 1, block);
}
