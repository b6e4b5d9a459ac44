// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagedecoder.h"

#include "durUzaBackend.h"
#include "magunit.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QEventLoop>
#include <QTimer>

namespace {
constexpr int decodeTimeoutMs = 10000;
} // namespace

ImageDecoder::ImageDecoder()
    : m_backend(std::make_unique<DurUzaBackend>())
{ }

ImageDecoder::~ImageDecoder() = default;

bool ImageDecoder::decode(const RegisterImage &image)
{
    QByteArray frame;
    frame.append(char(0xBB));
    frame.append(char(0x00));
    frame.append(char(image.size()));
    frame.append(reinterpret_cast<const char *>(image.data()), int(image.size()));

    const QList<QObject *> rows = m_backend->registers();
    m_decoded.fill(false);
    for (int row = 0; row < rows.size(); ++row) {
        QObject::connect(qobject_cast<RegistryItemModel *>(rows[row]),
            &RegistryItemModel::dataUpdatedFromModule, m_backend.get(),
            [this, row] { m_decoded[std::size_t(row)] = true; });
    }
    // The dispatch visits the blocks in address order, so the measurements come
    // before "Sensors Range" in one pass: the first pass teaches the backend the
    // full scales, the second decodes the measurements with them.
    for (int pass = 0; pass < 2; ++pass) {
        m_decoded.fill(false);
        // The last register's store ends the dispatch pass.
        QEventLoop loop;
        const auto done = QObject::connect(qobject_cast<RegistryItemModel *>(rows.last()),
            &RegistryItemModel::dataUpdatedFromModule, &loop, &QEventLoop::quit);
        QTimer::singleShot(decodeTimeoutMs, &loop, &QEventLoop::quit);
        m_backend->comsHandler()->feedReceived(frame);
        if (!m_decoded[std::size_t(rows.size() - 1)])
            loop.exec();
        QObject::disconnect(done);
        if (!m_decoded[std::size_t(rows.size() - 1)]) {
            m_error
                = QStringLiteral("decoding did not finish within %1 s").arg(decodeTimeoutMs / 1000);
            return false;
        }
    }
    return true;
}

QVariant ImageDecoder::value(int row) const
{
    if (row < 0 || row >= registerCount || !m_decoded[std::size_t(row)])
        return QVariant();
    return qobject_cast<RegistryItemModel *>(m_backend->registers().at(row))->data();
}

float ImageDecoder::accFullScale() const
{
    return m_backend->accFullScale();
}

float ImageDecoder::gyroFullScale() const
{
    return m_backend->gyroFullScale();
}

float ImageDecoder::magFullScale() const
{
    return m_backend->magFullScale();
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
