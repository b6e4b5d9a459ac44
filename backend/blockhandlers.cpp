// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the register blocks the link dispatches: each handler reads its block
// from the register image, stores the values into its register objects in row order,
// and updates the live lists and properties that depend on them.
#include "durUzaBackend.h"

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
} // namespace

const std::array<DurUzaBackend::BlockHandlerEntry, 22> DurUzaBackend::blockHandlerTable = {{
    {"deviceIdUpdated", &DurUzaBackend::deviceIdUpdated},
    {"statusUpdated", &DurUzaBackend::statusUpdated},
    {"hardwareVersionUpdated", &DurUzaBackend::hardwareVersionUpdated},
    {"softwareVersionUpdated", &DurUzaBackend::softwareVersionUpdated},
    {"accUpdated", &DurUzaBackend::accUpdated},
    {"gyroUpdated", &DurUzaBackend::gyroUpdated},
    {"magUpdated", &DurUzaBackend::magUpdated},
    {"temperatureUpdated", &DurUzaBackend::temperatureUpdated},
    {"quaternionUpdated", &DurUzaBackend::quaternionUpdated},
    {"eulerUpdated", &DurUzaBackend::eulerUpdated},
    {"linearAccUpdated", &DurUzaBackend::linearAccUpdated},
    {"gravityUpdated", &DurUzaBackend::gravityUpdated},
    {"control1Updated", &DurUzaBackend::control1Updated},
    {"control2Updated", &DurUzaBackend::control2Updated},
    {"sensorsRangeUpdated", &DurUzaBackend::sensorsRangeUpdated},
    {"accOffsetUpdated", &DurUzaBackend::accOffsetUpdated},
    {"accScaleUpdated", &DurUzaBackend::accScaleUpdated},
    {"gyroOffsetUpdated", &DurUzaBackend::gyroOffsetUpdated},
    {"gyroScaleUpdated", &DurUzaBackend::gyroScaleUpdated},
    {"magOffsetUpdated", &DurUzaBackend::magOffsetUpdated},
    {"magScaleUpdated", &DurUzaBackend::magScaleUpdated},
    {"accMagEffUpdated", &DurUzaBackend::accMagEffUpdated},
}};

void DurUzaBackend::setDataProblem(DataProblemSource source, const QString &text)
{
    m_dataProblemSource = source;
    if (text == m_dataProblem)
        return;
    if (!text.isEmpty())
        qCWarning(lcBackend) << text;
    m_dataProblem = text;
    emit dataProblemChanged();
}

void DurUzaBackend::storeBytes(int firstRow, int count, const quint8 *block)
{
    for (int i = 0; i < count; ++i)
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(int(block[i]));
}

void DurUzaBackend::storeReals(int firstRow, int count, const quint8 *block)
{
    for (int i = 0; i < count; ++i)
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(readF32(block + 4 * i));
}

bool DurUzaBackend::storeScaled(int firstRow, int count, const quint8 *block, float fullScale,
    const char *unknownRangeMessage, QVariantList *values)
{
    if (!(fullScale > 0)) {
        qDebug() << unknownRangeMessage;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const float value = scaleRaw(readI16(block + 2 * i), fullScale);
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(value);
        if (values)
            values->append(value);
    }
    return true;
}

void DurUzaBackend::deviceIdUpdated(const quint8 *block)
{
    storeBytes(rowOf(DeviceId.address), 1, block);
}

void DurUzaBackend::statusUpdated(const quint8 *block)
{
    storeBytes(rowOf(Status.address), 1, block);
}

void DurUzaBackend::hardwareVersionUpdated(const quint8 *block)
{
    const int hardwareVersion = readU16(block);
    m_rows[std::size_t(rowOf(HardwareVersion.address))]->setDataFromModule(hardwareVersion);
    if (!isKnownHardwareVersion(hardwareVersion))
        setDataProblem(
            DataProblemSource::HardwareVersion, unknownHardwareVersionText(hardwareVersion));
    else if (m_dataProblemSource == DataProblemSource::HardwareVersion)
        clearDataProblem();
}

void DurUzaBackend::softwareVersionUpdated(const quint8 *block)
{
    m_rows[std::size_t(rowOf(SoftwareVersion.address))]->setDataFromModule(int(readU16(block)));
}

void DurUzaBackend::accUpdated(const quint8 *block)
{
    QVariantList values;
    if (!storeScaled(rowOf(Acc.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", &values))
        return;
    m_accDataList = values;
    emit accDataListChanged();
    accCalibrationSample(values[0].toFloat(), values[1].toFloat(), values[2].toFloat());
}

void DurUzaBackend::gyroUpdated(const quint8 *block)
{
    QVariantList values;
    if (!storeScaled(
            rowOf(Gyro.address), 3, block, m_fullScale.gyro, "Gyro Range Unknown!", &values))
        return;
    m_gyroDataList = values;
    emit gyroDataListChanged();
    gyroCalibrationSample(values[0].toFloat(), values[1].toFloat(), values[2].toFloat());
}

void DurUzaBackend::magUpdated(const quint8 *block)
{
    QVariantList values;
    if (!storeScaled(rowOf(Mag.address), 3, block, m_fullScale.mag, "MAG Range Unknown!", &values))
        return;
    const float x = values[0].toFloat();
    const float y = values[1].toFloat();
    const float z = values[2].toFloat();
    m_magDataList = values;
    emit magDataListChanged();
    m_magVect3 = QVector3D(x, y, z);
    emit magVect3Changed();
    magCalibrationSample(x, y, z);
}

void DurUzaBackend::temperatureUpdated(const quint8 *block)
{
    // Shared with the recording's CSV.
    const double celsius = measurement::temperatureCelsius(block);
    m_rows[std::size_t(rowOf(Temperature.address))]->setDataFromModule(celsius);
}

void DurUzaBackend::quaternionUpdated(const quint8 *block)
{
    const int firstRow = rowOf(Quaternion.address);
    float q[4];
    QVariantList values;
    for (int i = 0; i < 4; ++i) {
        q[i] = measurement::quaternionComponent(block + 2 * i); // shared with the CSV
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(q[i]);
        values.append(q[i]);
    }
    m_qQuat = QQuaternion(q[0], q[1], q[2], q[3]);
    emit qQuatChanged();
    m_quatDataList = values;
    emit quatDataListChanged();
}

void DurUzaBackend::eulerUpdated(const quint8 *block)
{
    const int firstRow = rowOf(Euler.address);
    QVariantList values;
    for (int i = 0; i < 3; ++i) {
        const float angle = measurement::eulerAngle(block + 2 * i); // shared with the CSV
        m_rows[std::size_t(firstRow + i)]->setDataFromModule(angle);
        values.append(angle);
    }
    m_eulerDataList = values;
    emit eulerDataListChanged();
}

void DurUzaBackend::linearAccUpdated(const quint8 *block)
{
    storeScaled(rowOf(LinearAcc.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", nullptr);
}

void DurUzaBackend::gravityUpdated(const quint8 *block)
{
    storeScaled(rowOf(Gravity.address), 3, block, m_fullScale.acc, "ACC Range Unknown!", nullptr);
}

void DurUzaBackend::control1Updated(const quint8 *block)
{
    storeBytes(rowOf(Control1.address), 1, block);
}

void DurUzaBackend::control2Updated(const quint8 *block)
{
    storeBytes(rowOf(Control2.address), 1, block);
}

void DurUzaBackend::sensorsRangeUpdated(const quint8 *block)
{
    // The dispatch runs in address order, so a version read in the same pass is
    // already stored here.
    const RegistryItemModel *versionRow = m_rows[std::size_t(rowOf(HardwareVersion.address))];
    const int hardwareVersion = versionRow->data().toInt();
    RangeCodes codes;
    if (applySensorsRange(hardwareVersion, block[0], m_fullScale, &codes)) {
        qDebug() << Q_FUNC_INFO << "ACC Range Code:" << codes.acc
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

void DurUzaBackend::accOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(AccOffset.address), 3, block);
}

void DurUzaBackend::accScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(AccScale.address), 9, block);
}

void DurUzaBackend::gyroOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(GyroOffset.address), 3, block);
}

void DurUzaBackend::gyroScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(GyroScale.address), 3, block);
}

void DurUzaBackend::magOffsetUpdated(const quint8 *block)
{
    storeReals(rowOf(MagOffset.address), 3, block);
}

void DurUzaBackend::magScaleUpdated(const quint8 *block)
{
    storeReals(rowOf(MagScale.address), 9, block);
}

void DurUzaBackend::accMagEffUpdated(const quint8 *block)
{
    qDebug() << Q_FUNC_INFO << "Acc Mag Eff Updated:" << int(block[0]);
    storeBytes(rowOf(AccMagEff.address), 1, block);
}
