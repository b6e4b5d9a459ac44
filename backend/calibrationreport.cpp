// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationreport.h"

#include "checkedfile.h"

#include <QDir>
#include <QJsonDocument>
#include <QObject>
#include <QStandardPaths>
#include <QStringList>

namespace {

QJsonArray floats(const std::vector<float> &values)
{
    QJsonArray array;
    for (float v : values)
        array.append(double(v));
    return array;
}

QString floatsText(const std::vector<float> &values)
{
    QStringList parts;
    for (float v : values)
        parts << QString::number(double(v), 'g', 6);
    return parts.join(QStringLiteral(", "));
}

} // namespace

QJsonObject CalibrationReport::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("format")] = format;
    o[QStringLiteral("sensor")] = sensor;
    o[QStringLiteral("date")] = at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
    if (identityKnown) {
        QJsonObject module;
        module[QStringLiteral("deviceId")] = deviceId;
        module[QStringLiteral("hardwareVersion")] = hardwareVersion;
        module[QStringLiteral("softwareVersion")] = softwareVersion;
        o[QStringLiteral("module")] = module;
    } else {
        o[QStringLiteral("module")] = QJsonValue::Null;
    }
    o[QStringLiteral("temperatureC")]
        = temperatureKnown ? QJsonValue(temperatureC) : QJsonValue(QJsonValue::Null);
    o[QStringLiteral("parametersBefore")]
        = beforeKnown ? QJsonValue(floats(before)) : QJsonValue(QJsonValue::Null);
    o[QStringLiteral("parametersAfter")] = floats(after);
    o[QStringLiteral("quality")] = quality;
    o[QStringLiteral("basis")] = basis;
    o[QStringLiteral("residuals")] = residuals;
    o[QStringLiteral("outcome")] = outcome;
    return o;
}

QString CalibrationReport::toText() const
{
    QStringList lines;
    lines << QObject::tr("%1 calibration, %2")
                 .arg(sensor, at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    lines << (identityKnown ? QObject::tr("Module: device %1, hardware %2, software %3")
                                  .arg(deviceId)
                                  .arg(hardwareVersion)
                                  .arg(softwareVersion)
                            : QObject::tr("Module: not identified"));
    lines << (temperatureKnown ? QObject::tr("Temperature: %1 °C").arg(temperatureC, 0, 'f', 1)
                               : QObject::tr("Temperature: unknown"));
    lines
        << QObject::tr("Before: %1").arg(beforeKnown ? floatsText(before) : QObject::tr("unknown"));
    lines << QObject::tr("After: %1").arg(floatsText(after));
    lines << QObject::tr("Score: %1/100. %2").arg(qRound(quality)).arg(basis);
    for (const QJsonValue &r : residuals) {
        QStringList parts;
        const QJsonObject item = r.toObject();
        for (auto it = item.begin(); it != item.end(); ++it)
            parts << it.key() + QLatin1Char(' ') + it.value().toVariant().toString();
        lines << QStringLiteral("  ") + parts.join(QStringLiteral(", "));
    }
    lines << QObject::tr("Outcome: %1").arg(outcome);
    return lines.join(QLatin1Char('\n'));
}

QString CalibrationReport::save(const QString &folder, QString *error) const
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error = QObject::tr("Cannot make the folder %1").arg(folder);
        return QString();
    }
    const QString path
        = dir.filePath(QStringLiteral("%1-%2.json")
                           .arg(sensor, at.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))));
    const QString why
        = CheckedFile::save(path, QJsonDocument(toJson()).toJson(QJsonDocument::Indented));
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return QString();
    }
    return path;
}

QString CalibrationReport::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/reports");
}
