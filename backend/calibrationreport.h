// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

// One calibration run written down, so that a result can be judged later: when,
// on which module at which temperature, what the module held before and what it
// was given, how well the data fitted, the score and what the score rests on.
//
// File: one JSON object per run, "reports/<sensor>-<yyyyMMdd-HHmmss-zzz>.json" in
// the application's data folder. Keys: "format" (1), "sensor", "date" (ISO 8601,
// local time with offset), "module" {"deviceId", "hardwareVersion",
// "softwareVersion"} or null, "temperatureC" or null, "parametersBefore" and
// "parametersAfter" (the floats the module keeps: 12, or 3 for the gyroscope;
// "before" null when unknown), "quality", "basis", "residuals" (per pose, per
// fit, or the rest check), "outcome" ("written", or why not).
struct CalibrationReport
{
    static constexpr int format = 1;

    QString sensor;
    QDateTime at;
    bool identityKnown = false;
    int deviceId = 0;
    int hardwareVersion = 0;
    int softwareVersion = 0;
    bool temperatureKnown = false;
    double temperatureC = 0;
    bool beforeKnown = false;
    std::vector<float> before;
    std::vector<float> after;
    double quality = 0;
    QString basis;
    QJsonArray residuals;
    QString outcome;

    QJsonObject toJson() const;
    // The same for a person, a few lines.
    QString toText() const;
    // The same as a page: headings, tables with units, the module named as the
    // status strip names it. `notes` are lines about the files (saved where,
    // or why not), shown last.
    QString toHtml(const QStringList &notes = QStringList()) const;
    // Writes the file into `folder` (made if missing); the path, or empty with
    // the reason in `error`.
    QString save(const QString &folder, QString *error = nullptr) const;
    // "reports" in the application's data folder.
    static QString defaultFolder();
    // Prints `html` (a page from toHtml) as an A4 PDF at `path`, written like
    // every other file; empty when done, else why not.
    static QString savePdf(const QString &html, const QString &path);
};
