// SPDX-License-Identifier: GPL-3.0-or-later
// The backend's face of the module decoder: the decoder turns a dispatched block
// into values; this stores them into the register objects in row order and tells
// the pages (samples, orientation, what cannot be scaled).
#include "registerdecoder.h"

#include "backendlog.h"

#include <QDebug>

namespace {
using namespace RegisterMap;
using decode::BlockKind;
using decode::Sensor;

// The debug lines carry the signature of the handler that has always written them.
constexpr char sensorsRangeSignature[] = "void DurUzaBackend::sensorsRangeUpdated(const quint8*)";
constexpr char accMagEffSignature[] = "void DurUzaBackend::accMagEffUpdated(const quint8*)";

const char *unknownRangeMessage(Sensor sensor)
{
    switch (sensor) {
    case Sensor::Gyro:
        return "Gyro Range Unknown!";
    case Sensor::Mag:
        return "MAG Range Unknown!";
    default:
        return "ACC Range Unknown!";
    }
}

const int versionBlock = decode::blockIndexOf(HardwareVersion);
const int rangeBlock = decode::blockIndexOf(SensorsRange);
const int accMagEffBlock = decode::blockIndexOf(AccMagEff);
// Blocks whose samples go to the charts (linear acceleration and gravity do not).
const int accBlock = decode::blockIndexOf(Acc);
const int gyroBlock = decode::blockIndexOf(Gyro);
const int magBlock = decode::blockIndexOf(Mag);
} // namespace

RegisterDecoder::RegisterDecoder(const RegisterObjects &rows, QObject *parent)
    : QObject(parent)
    , m_rows(rows)
{ }

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

void RegisterDecoder::store(const decode::BlockValues &values)
{
    const int first = decode::firstRowOf(values.block);
    for (int i = 0; i < values.count; ++i)
        m_rows[std::size_t(first + i)]->setDataFromModule(decode::rowValue(values, i));
}

void RegisterDecoder::decode(int blockIndex, const quint8 *block)
{
    if (blockIndex < 0 || blockIndex >= decode::BlockCount) {
        qCWarning(lcBackend) << "no handler for register block" << blockIndex;
        return;
    }
    const decode::BlockLayout &layout = decode::Blocks[blockIndex];
    if (blockIndex == accMagEffBlock)
        qDebug() << accMagEffSignature << "Acc Mag Eff Updated:" << int(block[0]);

    decode::BlockValues values;
    decode::RangeDecoding range;
    m_decoder.decodeBlock(blockIndex, block, &values, &range);

    if (blockIndex == rangeBlock) {
        onRange(block[0], range);
        store(values);
        return;
    }
    if (layout.kind == BlockKind::Scaled && values.count == 0) {
        qDebug() << unknownRangeMessage(layout.sensor);
        return;
    }
    store(values);
    switch (layout.kind) {
    case BlockKind::Word:
        if (blockIndex == versionBlock)
            onVersion(int(values.values[0]));
        break;
    case BlockKind::Scaled: {
        const QVector3D sample(values.floatAt(0), values.floatAt(1), values.floatAt(2));
        if (blockIndex == accBlock)
            emit accDecoded(sample);
        else if (blockIndex == gyroBlock)
            emit gyroDecoded(sample);
        else if (blockIndex == magBlock)
            emit magDecoded(sample);
        break;
    }
    case BlockKind::Quaternion:
        emit quaternionDecoded(QQuaternion(
            values.floatAt(0), values.floatAt(1), values.floatAt(2), values.floatAt(3)));
        break;
    case BlockKind::Euler:
        emit eulerDecoded(QVector3D(values.floatAt(0), values.floatAt(1), values.floatAt(2)));
        break;
    default:
        break;
    }
}

void RegisterDecoder::onVersion(int hardwareVersion)
{
    if (!isKnownHardwareVersion(hardwareVersion))
        setDataProblem(
            DataProblemSource::HardwareVersion, unknownHardwareVersionText(hardwareVersion));
    else if (m_dataProblemSource == DataProblemSource::HardwareVersion)
        clearDataProblem();
}

void RegisterDecoder::onRange(quint8 range, const decode::RangeDecoding &decoded)
{
    // The dispatch runs in address order, so a version read in the same pass is
    // already known here.
    const int hardwareVersion = m_decoder.hardwareVersion();
    if (decoded.applied) {
        const RangeCodes &codes = decoded.codes;
        qDebug() << sensorsRangeSignature << "ACC Range Code:" << codes.acc
                 << "Gyro Range Code:" << codes.gyro << "MAG Range Code:" << codes.mag;
        // A code without a value of its own is a problem only while the sensor
        // has no earlier full scale to keep.
        const QString unscalable
            = unscalableRangeText(hardwareVersion, range, m_decoder.fullScales(), codes);
        if (unscalable.isEmpty())
            clearDataProblem();
        else
            setDataProblem(DataProblemSource::SensorsRange, unscalable);
    } else {
        qCInfo(lcBackend) << "range byte" << int(range) << "under unknown hardware version"
                          << hardwareVersion << "leaves the full scales as they were";
        // A version never read is not yet known, which is no problem to show.
        if (m_decoder.hardwareVersionKnown())
            setDataProblem(
                DataProblemSource::HardwareVersion, unknownHardwareVersionText(hardwareVersion));
    }
}
