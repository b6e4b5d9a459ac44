// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli mag-fit: every magnetometer fit on a recorded or kept cloud, each
// judged on points it did not see, and the chosen one written on request.

#include "clicommand.h"

#include "magcloudfile.h"
#include "magfitcomparison.h"
#include "record.h"
#include "recordingcsv.h"
#include "spherecoverage.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <cmath>

namespace Cli {

namespace {

// The magnetometer columns of the measurement CSV the tool writes.
bool readCsvMagnetometer(const QString &path, std::vector<Sample4> *points, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    const QList<QByteArray> header = file.readLine().trimmed().split(',');
    int column[3] = {-1, -1, -1};
    for (int i = 0; i < header.size(); ++i) {
        for (int a = 0; a < 3; ++a) {
            if (header[i].startsWith(QByteArray("mag_") + "xyz"[a]))
                column[a] = i;
        }
    }
    if (column[0] < 0 || column[1] < 0 || column[2] < 0) {
        *error = QStringLiteral("no mag_x, mag_y and mag_z columns");
        return false;
    }
    while (!file.atEnd()) {
        const QList<QByteArray> cells = file.readLine().trimmed().split(',');
        float xyz[3];
        bool all = true;
        for (int a = 0; a < 3 && all; ++a) {
            bool ok = false;
            xyz[a] = column[a] < cells.size() ? cells[column[a]].toFloat(&ok) : 0.0f;
            all = ok && std::isfinite(xyz[a]);
        }
        if (all) // rows of other frames leave these cells empty
            points->emplace_back(xyz[0], xyz[1], xyz[2], 0.0f);
    }
    return true;
}

} // namespace

// The one place a raw recording becomes magnetometer points; today through
// the offline conversion to the measurement CSV.
bool readRecordingMagnetometer(const QString &path, MagCloud *cloud, QString *why, QString *note)
{
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        *why = probe.errorString();
        return false;
    }
    const QByteArray start = probe.read(16);
    probe.close();
    if (start.startsWith(rawMagic)) {
        const RawRecording header = readRawRecording(path);
        cloud->fullScale = header.info.magFullScale > 0 ? double(header.info.magFullScale) : 0.0;
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("recording.csv"));
        const RecordingCsvResult converted = convertRecordingToCsv(path, csv);
        if (!converted.ok) {
            *why = converted.error;
            return false;
        }
        if (!readCsvMagnetometer(csv, &cloud->points, why))
            return false;
        *note = QStringLiteral("points as recorded: the recording does not hold the calibration "
                               "that was active");
        return true;
    }
    if (start.trimmed().startsWith('{'))
        return loadMagCloud(path, cloud, why); // kept raw: nothing to undo
    if (!readCsvMagnetometer(path, &cloud->points, why))
        return false;
    *note = QStringLiteral("points as recorded: a CSV does not hold the calibration that was "
                           "active");
    return true;
}

int Command::magFit()
{
    const QString path = arg(0);
    MagCloud cloud;
    QString why, note;
    if (!readRecordingMagnetometer(path, &cloud, &why, &note))
        return fail(CliExit::Refused, path, why);
    MagFitComparison fits;
    fits.run(cloud.points, cloud.fullScale);
    const int chosen = fits.best();

    // Coverage of the directions the chosen fit (or the cloud's middle) sees.
    SphereCoverage coverage;
    Calibration::ParamBlock around = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (chosen >= 0) {
        around = fits.results()[std::size_t(chosen)].block;
    } else if (!cloud.points.empty()) {
        for (const Sample4 &p : cloud.points)
            for (int a = 0; a < 3; ++a)
                around[std::size_t(a)] += p[a] / float(cloud.points.size());
    }
    for (const Sample4 &p : cloud.points) {
        double u[3];
        for (int r = 0; r < 3; ++r) {
            u[r] = 0;
            for (int c = 0; c < 3; ++c)
                u[r] += double(around[std::size_t(3 + 3 * r + c)])
                    * double(p[c] - around[std::size_t(c)]);
        }
        coverage.add(u[0], u[1], u[2]);
    }

    QString backup;
    bool matches = true;
    if (m_parser.isSet(QStringLiteral("write"))) {
        if (chosen < 0)
            return fail(CliExit::Refused, path, QStringLiteral("no valid fit; nothing written"));
        const ModuleSnapshot module = readModule(Decoding::Raw);
        if (!module.ok())
            return module.status;
        int status = CliExit::Ok;
        backup
            = backupBeforeWrite(module, QStringLiteral("before magnetometer calibration"), &status);
        if (backup.isEmpty())
            return status;
        const Calibration::ParamBlock &block = fits.results()[std::size_t(chosen)].block;
        QByteArray bytes(RegisterMap::MagCalibration.count, '\0');
        for (int i = 0; i < 12; ++i)
            writeF32(reinterpret_cast<quint8 *>(bytes.data()) + 4 * i, block[std::size_t(i)]);
        QByteArray held;
        if (!m_link.writeAndReadBack(RegisterMap::MagCalibration.address, bytes, &held))
            return linkFailure();
        matches = held == bytes;
    }

    auto number = [](float v) {
        return std::isfinite(v) ? QJsonValue(floatValueText(v).toDouble()) : QJsonValue();
    };
    if (m_json) {
        QJsonArray list;
        for (const MagFitResult &r : fits.results()) {
            QJsonArray offset, matrix;
            for (int i = 0; i < 3; ++i)
                offset.append(number(r.block[std::size_t(i)]));
            for (int i = 3; i < 12; ++i)
                matrix.append(number(r.block[std::size_t(i)]));
            list.append(
                QJsonObject {{QStringLiteral("method"), r.name}, {QStringLiteral("valid"), r.valid},
                    {QStringLiteral("reason"), r.valid ? QJsonValue() : QJsonValue(r.reason)},
                    {QStringLiteral("offset"), offset}, {QStringLiteral("matrix"), matrix},
                    {QStringLiteral("fit_spread_pct"),
                        r.valid ? number(r.spreadPercent) : QJsonValue()},
                    {QStringLiteral("heldout_spread_pct"),
                        r.valid ? number(r.heldOutSpreadPercent) : QJsonValue()}});
        }
        printJson(QJsonObject {{QStringLiteral("points"), int(cloud.points.size())},
            {QStringLiteral("coverage_pct"), std::round(coverage.coveredPercent() * 10.0) / 10.0},
            {QStringLiteral("fits"), list},
            {QStringLiteral("chosen"),
                chosen >= 0 ? QJsonValue(fits.results()[std::size_t(chosen)].name)
                            : QJsonValue()}});
    } else {
        out() << cloud.points.size() << " points (" << fits.fittingPoints() << " fitting, "
              << fits.checkingPoints() << " checking), " << qRound(coverage.coveredPercent())
              << "% of " << coverage.cellCount() << " directions covered\n";
        if (!note.isEmpty())
            out() << note << '\n';
        for (const MagFitResult &r : fits.results()) {
            out() << r.name << ": ";
            if (r.valid)
                out() << "fit spread " << QString::number(double(r.spreadPercent), 'f', 3)
                      << "%, held-out spread "
                      << QString::number(double(r.heldOutSpreadPercent), 'f', 3) << "%\n";
            else
                out() << "not valid: " << r.reason << '\n';
            QStringList values;
            for (float v : r.block)
                values << floatValueText(v);
            out() << "  offset " << values.mid(0, 3).join(QLatin1Char(' ')) << "; matrix "
                  << values.mid(3).join(QLatin1Char(' ')) << '\n';
        }
        out() << "chosen: "
              << (chosen >= 0 ? fits.results()[std::size_t(chosen)].name : QStringLiteral("none"))
              << '\n';
        if (!backup.isEmpty() && matches)
            out() << "written to " << port() << " and read back; backup " << backup << '\n';
    }
    out().flush();
    if (!matches)
        return fail(CliExit::Mismatch, port(),
            QStringLiteral("the module holds something else after writing the magnetometer "
                           "calibration"));
    return chosen >= 0 ? CliExit::Ok : CliExit::Failure;
}

} // namespace Cli
