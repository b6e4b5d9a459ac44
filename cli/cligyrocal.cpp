// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's gyroscope calibration: the module at rest is sampled, the offsets
// estimated and, with --write, written after a backup and read back.
#include "clicommand.h"

#include "calibration.h"
#include "gyrorestcheck.h"

#include "sample4.h"
#include <QDeadlineTimer>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Cli {

int Command::gyroCal()
{
    int samples = defaultGyroSamples;
    if (m_parser.isSet(QStringLiteral("samples"))) {
        bool ok = false;
        samples = m_parser.value(QStringLiteral("samples")).toInt(&ok);
        if (!ok || samples < 5 || samples > 100000)
            return fail(CliExit::Usage, QStringLiteral("gyro-cal"),
                QStringLiteral("--samples takes a whole number from 5 to 100000"));
    }
    const bool write = m_parser.isSet(QStringLiteral("write"));
    const bool force = m_parser.isSet(QStringLiteral("force"));
    if (force && !write)
        return fail(CliExit::Usage, QStringLiteral("gyro-cal"),
            QStringLiteral("--force is for --write, which is not given"));
    const ModuleSnapshot module = readModule(Decoding::Decoded);
    if (!module.ok())
        return module.status;
    const RegisterImage &image = module.image;
    const ImageDecoder &decoder = *module.decoder;
    const float fullScale = decoder.gyroFullScale();
    if (!(fullScale > 0))
        return fail(CliExit::Failure, port(),
            QStringLiteral("the gyroscope's range is not known (hardware version %1, sensors "
                           "range %2)")
                .arg(readU16(&image[2]))
                .arg(hexByte(image[RegisterMap::SensorsRange.address])));
    float offset[3];
    float scale[3];
    for (int axis = 0; axis < 3; ++axis) {
        offset[axis] = readF32(&image[RegisterMap::GyroOffset.address + 4 * axis]);
        scale[axis] = readF32(&image[RegisterMap::GyroScale.address + 4 * axis]);
        if (!std::isfinite(offset[axis]) || !std::isfinite(scale[axis]) || scale[axis] == 0.0f)
            return fail(CliExit::Failure, port(),
                QStringLiteral("the module's gyroscope offsets or scale factors are not usable "
                               "(%1, %2)")
                    .arg(double(offset[axis]))
                    .arg(double(scale[axis])));
    }

    // The module corrects what it sends: output = (sensed - offset) * scale. The
    // procedure wants what the sensor itself reads, so the correction is undone
    // here rather than reset in the module: nothing is written for the estimate.
    std::vector<Sample4> readings;
    readings.reserve(std::size_t(samples));
    QDeadlineTimer next(0);
    while (int(readings.size()) < samples) {
        if (!next.hasExpired())
            ModuleLink::pause(int(next.remainingTime()));
        next.setRemainingTime(gyroSampleIntervalMs);
        const QByteArray raw = m_link.read(RegisterMap::Gyro);
        if (raw.size() != RegisterMap::Gyro.count)
            return linkFailure();
        float sensed[3];
        for (int axis = 0; axis < 3; ++axis) {
            const qint16 counts
                = readI16(reinterpret_cast<const quint8 *>(raw.constData()) + 2 * axis);
            const double output = double(counts) / 32768.0 * double(fullScale);
            sensed[axis] = float(output / double(scale[axis]) + double(offset[axis]));
        }
        readings.emplace_back(sensed[0], sensed[1], sensed[2], 0.0f);
    }
    Calibration calibration;
    calibration.set_GYRO_RNG_FACTOR(1.0f);
    calibration.set_GYRO_CAL_OFST(readings);
    const Calibration::ParamBlock block = calibration.get_GYRO_CAL_PARAM();
    const int quality = calibration.get_GYRO_CAL_QUALITY();
    const float result[3] = {block[0], block[1], block[2]};
    if (!std::isfinite(result[0]) || !std::isfinite(result[1]) || !std::isfinite(result[2]))
        return fail(CliExit::Failure, port(), QStringLiteral("no valid result; nothing written"));

    // The application's rules for a result: a turn during the rest period
    // refuses a result that scored 50 or more (the turn shifted the average it
    // was taken from), and below 50 the user has to ask for it.
    const GyroRestCheck rest = GyroRestCheck::evaluate(readings);
    const QString turn = rest.moved
        ? QStringLiteral("the module turned during the rest period (up to %1 deg/s about %2, "
                         "from sample %3 of %4)")
              .arg(rest.peakDegPerSec, 0, 'f', 1)
              .arg(QLatin1Char("xyz"[std::max(0, std::min(2, rest.axis))]))
              .arg(rest.firstSample + 1)
              .arg(readings.size())
        : QString();
    QString refusal;
    if (rest.moved && quality >= calQualityFloor)
        refusal = turn + QStringLiteral("; keep it still and repeat");
    else if (quality < calQualityFloor && !force)
        refusal = QStringLiteral("quality %1 is below %2%3; --force writes it anyway")
                      .arg(quality)
                      .arg(calQualityFloor)
                      .arg(rest.moved ? QStringLiteral(" and ") + turn : QString());

    QString backup;
    bool matches = true;
    QString heldText;
    if (write && !refusal.isEmpty()) {
        if (m_json) {
            printJson(QJsonObject {{QStringLiteral("offset"),
                                       QJsonArray {floatValueText(result[0]).toDouble(),
                                           floatValueText(result[1]).toDouble(),
                                           floatValueText(result[2]).toDouble()}},
                {QStringLiteral("quality"), quality}, {QStringLiteral("samples"), samples},
                {QStringLiteral("moved"), rest.moved}, {QStringLiteral("written"), false},
                {QStringLiteral("refused"), refusal}});
        } else {
            out() << "gyroscope offsets (deg/s): " << floatValueText(result[0]) << ' '
                  << floatValueText(result[1]) << ' ' << floatValueText(result[2]) << '\n'
                  << "quality: " << quality << '\n';
        }
        out().flush();
        return fail(CliExit::Refused, port(), refusal + QStringLiteral("; nothing written"));
    }
    if (write) {
        int status = CliExit::Ok;
        backup = backupBeforeWrite(module, QStringLiteral("before gyroscope calibration"), &status);
        if (backup.isEmpty())
            return status;
        QByteArray bytes(RegisterMap::GyroOffset.count, '\0');
        for (int axis = 0; axis < 3; ++axis)
            writeF32(reinterpret_cast<quint8 *>(bytes.data()) + 4 * axis, result[axis]);
        QByteArray held;
        if (!m_link.writeAndReadBack(RegisterMap::GyroOffset.address, bytes, &held))
            return linkFailure();
        matches = held == bytes;
        QStringList heldValues;
        for (int axis = 0; axis < 3; ++axis)
            heldValues << floatValueText(
                readF32(reinterpret_cast<const quint8 *>(held.constData()) + 4 * axis));
        heldText = heldValues.join(QLatin1Char(' '));
    }
    if (m_json) {
        printJson(QJsonObject {
            {QStringLiteral("offset"),
                QJsonArray {floatValueText(result[0]).toDouble(),
                    floatValueText(result[1]).toDouble(), floatValueText(result[2]).toDouble()}},
            {QStringLiteral("quality"), quality}, {QStringLiteral("samples"), samples},
            {QStringLiteral("moved"), rest.moved}, {QStringLiteral("written"), write && matches},
            {QStringLiteral("backup"), backup}});
    } else {
        out() << "gyroscope offsets (deg/s): " << floatValueText(result[0]) << ' '
              << floatValueText(result[1]) << ' ' << floatValueText(result[2]) << '\n'
              << "quality: " << quality << '\n';
        if (rest.moved)
            out() << turn << '\n';
        if (write && matches)
            out() << "written and read back; backup " << backup << '\n';
        else if (!write)
            out() << "not written (add --write to write them)\n";
    }
    out().flush();
    if (!matches)
        return fail(CliExit::Mismatch, port(),
            QStringLiteral("the module holds %1 after writing the offsets").arg(heldText));
    return CliExit::Ok;
}

} // namespace Cli
