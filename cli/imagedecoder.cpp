// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagedecoder.h"

#include "magunit.h"
#include "registercatalogue.h"

bool ImageDecoder::decode(const RegisterImage &image)
{
    std::array<decode::BlockValues, decode::BlockCount> blocks;
    m_decoder.decodeImage(image.data(), &blocks);
    m_values.fill(QVariant());
    for (const decode::BlockValues &block : blocks) {
        const int first = decode::firstRowOf(block.block);
        for (int i = 0; i < block.count; ++i)
            m_values[std::size_t(first + i)] = decode::rowValue(block, i);
    }
    return true;
}

QVariant ImageDecoder::value(int row) const
{
    if (row < 0 || row >= registerCount)
        return QVariant();
    return m_values[std::size_t(row)];
}

QString ImageDecoder::unit(int row, const quint8 *image)
{
    const int address = registerCatalogue[std::size_t(row)].address;
    using namespace RegisterMap;
    if (Acc.contains(address) || LinearAcc.contains(address) || Gravity.contains(address))
        return QStringLiteral("m/s2");
    if (Gyro.contains(address))
        return QStringLiteral("deg/s");
    if (Mag.contains(address))
        return magUnitText(magCalibrated(image + RegisterMap::MagCalibration.address));
    if (Temperature.contains(address))
        return QStringLiteral("degC");
    if (Euler.contains(address))
        return QStringLiteral("deg");
    return QString();
}
