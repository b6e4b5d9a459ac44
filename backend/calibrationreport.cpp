// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationreport.h"

#include "checkedfile.h"
#include "connectionstatus.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QObject>
#include <QPageSize>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QStringList>
#include <QTextDocument>

#include <algorithm>

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

// A residual's key as a column heading with its unit, in the order the
// columns are shown; keys not listed follow under their own names.
struct Column
{
    const char *key;
    const char *heading;
};
const Column residualColumns[] = {
    {"pose", QT_TRANSLATE_NOOP("CalibrationReport", "Pose")},
    {"tiltDeg", QT_TRANSLATE_NOOP("CalibrationReport", "Tilt (°)")},
    {"magnitudeErrorMs2", QT_TRANSLATE_NOOP("CalibrationReport", "Magnitude error (m/s²)")},
    {"fit", QT_TRANSLATE_NOOP("CalibrationReport", "Fit")},
    {"spreadPercent", QT_TRANSLATE_NOOP("CalibrationReport", "Spread (%)")},
    {"heldOutSpreadPercent", QT_TRANSLATE_NOOP("CalibrationReport", "Spread on unseen points (%)")},
    {"chosen", QT_TRANSLATE_NOOP("CalibrationReport", "Written")},
    {"reason", QT_TRANSLATE_NOOP("CalibrationReport", "Not valid because")},
    {"peakDeviationDegPerSec", QT_TRANSLATE_NOOP("CalibrationReport", "Peak deviation (°/s)")},
    {"noiseDegPerSec", QT_TRANSLATE_NOOP("CalibrationReport", "Noise (°/s)")},
    {"motionThresholdDegPerSec", QT_TRANSLATE_NOOP("CalibrationReport", "Motion threshold (°/s)")},
    {"moved", QT_TRANSLATE_NOOP("CalibrationReport", "Turned")},
};

QString trReport(const char *text)
{
    return QCoreApplication::translate("CalibrationReport", text);
}

QString cell(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? trReport("yes") : trReport("no");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 4);
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QStringLiteral("–");
    default:
        return value.toVariant().toString().toHtmlEscaped();
    }
}

QString row(const QStringList &cells, bool heading = false)
{
    const QString tag = heading ? QStringLiteral("th") : QStringLiteral("td");
    QString html = QStringLiteral("<tr>");
    for (const QString &c : cells)
        html += QStringLiteral("<%1>%2</%1>").arg(tag, c);
    return html + QStringLiteral("</tr>");
}

QString table(const QString &rows)
{
    // Grey rules read on the page's dark background and on paper alike.
    return QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" "
                          "style=\"border-color: #888888; border-style: solid; "
                          "border-collapse: collapse\">")
        + rows + QStringLiteral("</table>");
}

QString floatCell(const std::vector<float> &values, std::size_t i)
{
    return i < values.size() ? QString::number(double(values[i]), 'g', 6) : QStringLiteral("–");
}

// What the module keeps, row by row: three offsets, then the nine factors of
// the correction matrix for the accelerometer and the magnetometer.
QStringList parameterNames(const QString &sensor, std::size_t count)
{
    QString unit;
    if (sensor == QLatin1String("accelerometer"))
        unit = QStringLiteral(" (m/s²)");
    else if (sensor == QLatin1String("gyroscope"))
        unit = QStringLiteral(" (°/s)");
    else
        unit = trReport(" (full-scale unit)");
    QStringList names;
    for (const char *axis : {"X", "Y", "Z"})
        names << trReport("Offset %1%2").arg(QLatin1String(axis), unit);
    for (std::size_t i = 3; i < count; ++i) {
        const int k = int(i) - 3;
        names << trReport("Matrix row %1, column %2").arg(k / 3 + 1).arg(k % 3 + 1);
    }
    return names;
}

QString residualHeading(const QString &sensor)
{
    if (sensor == QLatin1String("accelerometer"))
        return trReport("Poses");
    if (sensor == QLatin1String("magnetometer"))
        return trReport("Fits compared");
    return trReport("Rest period");
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

QString CalibrationReport::toHtml(const QStringList &notes) const
{
    const QString title = sensor.left(1).toUpper() + sensor.mid(1);
    QString html = QStringLiteral("<html><body>");
    html
        += QStringLiteral("<h2>%1</h2>").arg(trReport("%1 calibration").arg(title.toHtmlEscaped()));

    QString summary;
    summary += row(
        {trReport("Date"), at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toHtmlEscaped()});
    SeenModule module;
    if (identityKnown)
        module = SeenModule {deviceId, hardwareVersion, softwareVersion};
    summary += row({trReport("Module"),
        identityKnown ? identityText(module).toHtmlEscaped() : trReport("not identified")});
    summary += row({trReport("Temperature"),
        temperatureKnown ? QStringLiteral("%1 °C").arg(temperatureC, 0, 'f', 1)
                         : trReport("unknown")});
    summary += row({trReport("Score"), QStringLiteral("%1/100").arg(qRound(quality))});
    summary += row({trReport("Outcome"), outcome.toHtmlEscaped()});
    html += table(summary);

    html += QStringLiteral("<h3>%1</h3>").arg(trReport("Parameters"));
    const std::size_t count = std::max(before.size(), after.size());
    const QStringList names = parameterNames(sensor, count);
    QString parameters = row({trReport("Parameter"), trReport("Before"), trReport("After")}, true);
    for (std::size_t i = 0; i < count; ++i)
        parameters += row({names.value(int(i)),
            beforeKnown ? floatCell(before, i) : trReport("unknown"), floatCell(after, i)});
    html += table(parameters);

    html += QStringLiteral("<h3>%1</h3><p>%2</p>")
                .arg(trReport("What the score rests on"), basis.toHtmlEscaped());

    if (!residuals.isEmpty()) {
        QStringList keys;
        for (const Column &c : residualColumns) {
            for (const QJsonValue &r : residuals) {
                if (r.toObject().contains(QLatin1String(c.key))) {
                    keys << QLatin1String(c.key);
                    break;
                }
            }
        }
        for (const QJsonValue &r : residuals) {
            for (const QString &key : r.toObject().keys()) {
                if (!keys.contains(key))
                    keys << key;
            }
        }
        QStringList headings;
        for (const QString &key : keys) {
            QString heading = key.toHtmlEscaped();
            for (const Column &c : residualColumns) {
                if (key == QLatin1String(c.key))
                    heading = trReport(c.heading);
            }
            headings << heading;
        }
        QString rows = row(headings, true);
        for (const QJsonValue &r : residuals) {
            const QJsonObject item = r.toObject();
            QStringList cells;
            for (const QString &key : keys)
                cells << cell(item.value(key));
            rows += row(cells);
        }
        html += QStringLiteral("<h3>%1</h3>").arg(residualHeading(sensor)) + table(rows);
    }

    if (!notes.isEmpty()) {
        html += QStringLiteral("<h3>%1</h3>").arg(trReport("Files"));
        for (const QString &note : notes)
            html += QStringLiteral("<p>%1</p>").arg(note.toHtmlEscaped());
    }
    return html + QStringLiteral("</body></html>");
}

QString CalibrationReport::savePdf(const QString &html, const QString &path)
{
    const QString refusal = CheckedFile::targetRefusal(path);
    if (!refusal.isEmpty())
        return refusal;
    // Printed into memory first, so that the file is written in one checked save.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setCreator(QStringLiteral("Velmar IMU"));
        writer.setTitle(QObject::tr("Calibration report"));
        QTextDocument document;
        document.setHtml(html);
        document.print(&writer);
    }
    const QByteArray pdf = buffer.data();
    if (!pdf.startsWith("%PDF-"))
        return QObject::tr("Cannot print the report as PDF for %1").arg(path);
    return CheckedFile::save(path, pdf);
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
