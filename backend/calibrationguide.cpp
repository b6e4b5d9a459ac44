// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationguide.h"

#include "accposecheck.h"
#include "backendlog.h"
#include "durUzaBackend.h"
#include "gyrorestcheck.h"
#include "magcloudfile.h"
#include "registercatalogue.h"
#include "registermap.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

// The live figures are refitted about once a second.
constexpr int magRefreshMs = 1000;

int indexOf(const QString &sensor)
{
    CalSensor s;
    return calSensorNamed(sensor, &s) ? int(s) : -1;
}

QString axisName(int axis)
{
    return axis >= 0 && axis < 3 ? QString(QLatin1Char("XYZ"[axis])) : QString();
}

QVariant registerValue(DurUzaBackend *backend, RegisterSpan span)
{
    const int row = registerRowAt(span.address);
    const QList<QObject *> rows = backend->registers();
    if (row < 0 || row >= rows.size())
        return QVariant();
    return rows.at(row)->property("data");
}

} // namespace

CalibrationGuide::CalibrationGuide(DurUzaBackend *backend)
    : QObject(backend)
    , m_backend(backend)
    , m_reportFolder(CalibrationReport::defaultFolder())
{
    m_magTimer.setInterval(magRefreshMs);
    connect(&m_magTimer, &QTimer::timeout, this, &CalibrationGuide::refreshMag);
    m_clock.start();
    // Results are kept or not only once the module has answered; so are reports.
    connect(backend, &DurUzaBackend::accCalFinished, this,
        [this] { finishReport(QStringLiteral("accelerometer"), tr("written")); });
    connect(backend, &DurUzaBackend::gyroCalFinished, this,
        [this] { finishReport(QStringLiteral("gyroscope"), tr("written")); });
    connect(backend, &DurUzaBackend::magCalFinished, this,
        [this] { finishReport(QStringLiteral("magnetometer"), tr("written")); });
    connect(backend, &DurUzaBackend::calibrationFailed, this,
        [this](const QString &sensor, const QString &message) {
            if (sensor == QLatin1String("magnetometer") && m_magTimer.isActive()) {
                m_magTimer.stop();
                emit magChanged();
            }
            finishReport(sensor, message);
        });
}

// ---- Magnetometer ------------------------------------------------------------

void CalibrationGuide::magRunStarted()
{
    m_mag.clear();
    m_magCloud = MagCloud();
    m_pickedFit = -1;
    m_magTimer.start();
    emit magChanged();
}

void CalibrationGuide::startHeadingTurns()
{
    m_headingActive = m_backend->activeMagCalibration();
    m_heading.start(m_headingActive);
    // The magnetometer page streams the field alone; the check needs gravity too.
    if (m_backend->isConnected())
        m_backend->requestChartData();
    m_headingBefore = HeadingTable();
    m_headingAfter = HeadingTable();
    m_headingSummary.clear();
    emit headingChanged();
}

void CalibrationGuide::stopHeadingTurns()
{
    if (!m_heading.running())
        return;
    m_heading = HeadingTurns();
    m_headingSummary = tr("Heading check stopped.");
    emit headingChanged();
}

void CalibrationGuide::headingMag(const QVector3D &sample)
{
    if (!m_heading.running() || !m_heading.add(m_lastAcc, sample))
        return;
    if (m_heading.done()) {
        m_headingBefore = headingDeviation(m_heading.stops(), m_magBeforeRun);
        m_headingAfter = headingDeviation(m_heading.stops(), m_headingActive);
        auto figures = [this](const HeadingTable &t) {
            return t.ok ? tr("max %1°, RMS %2°")
                              .arg(t.maxDeviationDeg, 0, 'f', 2)
                              .arg(t.rmsDeviationDeg, 0, 'f', 2)
                        : tr("no table (%1)").arg(t.reason);
        };
        m_headingSummary = tr("Heading deviation over %1 headings: before the calibration %2; "
                              "with it %3.")
                               .arg(m_heading.stopsTaken())
                               .arg(figures(m_headingBefore), figures(m_headingAfter));
        qCInfo(lcBackend).noquote() << m_headingSummary;
    }
    emit headingChanged();
}

void CalibrationGuide::magPointKept(float x, float y, float z)
{
    m_mag.addPoint(x, y, z);
}

void CalibrationGuide::refreshMag()
{
    m_mag.refresh(m_clock.elapsed() / 1000.0);
    emit magChanged();
}

QVariantList CalibrationGuide::coverageCells() const
{
    const SphereCoverage &coverage = m_mag.coverage();
    QVariantList cells;
    cells.reserve(4 * coverage.cellCount());
    for (int i = 0; i < coverage.cellCount(); ++i) {
        const SphereCoverage::Direction &c = coverage.centres()[std::size_t(i)];
        cells << c[0] << c[1] << c[2] << (coverage.covered(i) ? 1 : 0);
    }
    return cells;
}

QString CalibrationGuide::magVerdict() const
{
    if (m_mag.goodEnough())
        return tr("Good enough to finish: %1% of the directions covered, field spread %2%.")
            .arg(qRound(m_mag.coveredPercent()))
            .arg(m_mag.spreadPercent(), 0, 'f', 1);
    return tr("Not good enough yet: %1").arg(m_mag.reasons().join(QLatin1Char(' ')));
}

QVariantList CalibrationGuide::magFits() const
{
    QVariantList fits;
    if (!m_mag.fitsRun())
        return fits;
    const int best = m_mag.fits().best();
    for (int i = 0; i < MagFitComparison::fitCount; ++i) {
        const MagFitResult &r = m_mag.fits().results()[std::size_t(i)];
        QVariantMap fit;
        fit[QStringLiteral("name")] = r.name;
        fit[QStringLiteral("method")] = r.method;
        fit[QStringLiteral("valid")] = r.valid;
        fit[QStringLiteral("spread")] = r.valid ? double(r.spreadPercent) : -1.0;
        fit[QStringLiteral("heldOutSpread")] = r.valid ? double(r.heldOutSpreadPercent) : -1.0;
        fit[QStringLiteral("reason")] = r.reason;
        fit[QStringLiteral("best")] = i == best;
        QVariantList parameters;
        for (float v : r.block)
            parameters << double(v);
        fit[QStringLiteral("parameters")] = parameters;
        fits << fit;
    }
    return fits;
}

int CalibrationGuide::magChosenFit() const
{
    if (m_pickedFit >= 0)
        return m_pickedFit;
    return m_mag.fitsRun() ? m_mag.fits().best() : -1;
}

void CalibrationGuide::chooseMagFit(int index)
{
    m_pickedFit = index >= 0 && index < MagFitComparison::fitCount ? index : -1;
    emit magChanged();
}

int CalibrationGuide::magResult(const std::vector<Sample4> &points, const CalSavedParams &before,
    Calibration::ParamBlock *block, int method4Quality)
{
    m_magTimer.stop();
    if (before.valid)
        m_magBeforeRun = before.block;
    // Kept with the report: the points as gathered, under the reset block the
    // run put into the module, so any fit can be run on them again.
    m_magCloud.points = points;
    m_magCloud.active = resetParamBlock();
    m_magCloud.fullScale = double(m_backend->magFullScale());
    // The map and the fits on everything that was kept, as the page shows them.
    m_mag.refresh(m_clock.elapsed() / 1000.0);
    MagFitComparison compared;
    compared.run(points);
    int chosen = m_pickedFit;
    if (chosen < 0 || !compared.results()[std::size_t(chosen)].valid)
        chosen = compared.best();
    int quality = method4Quality;
    // No fit passed the checks: nothing is written (Method 4's block may be
    // finite and still no ellipsoid, or beyond the bounds).
    if (chosen < 0)
        block->fill(std::numeric_limits<float>::quiet_NaN());
    // The score of the chosen fit is the one on points it did not see.
    if (chosen >= 0) {
        const float q = compared.results()[std::size_t(chosen)].quality;
        quality = std::isfinite(q) ? int(std::lround(q)) : 0;
    }
    // Method 4 is what the procedure computed itself; any other replaces it.
    if (chosen > 0) {
        const MagFitResult &r = compared.results()[std::size_t(chosen)];
        *block = r.block;
        qCInfo(lcBackend) << "magnetometer: writing" << r.name << "spread" << r.spreadPercent
                          << "% instead of Method 4";
    }
    // The fit's score alone rates the points it was given; held to the
    // coverage, spread and drift, it rates the calibration. Data the guide does
    // not call good enough scores below the floor, so it waits for the user.
    const int fitQuality = quality;
    quality = m_mag.heldScore(fitQuality, calQualityFloor - 1);
    m_magScoreReason = quality < fitQuality || !m_mag.goodEnough()
        ? tr("Scored %1 (the fit alone: %2): %3")
              .arg(quality)
              .arg(fitQuality)
              .arg(m_mag.reasons().join(QLatin1Char(' ')))
        : QString();
    QJsonArray residuals;
    for (int i = 0; i < MagFitComparison::fitCount; ++i) {
        const MagFitResult &r = compared.results()[std::size_t(i)];
        QJsonObject fit;
        fit[QStringLiteral("fit")] = r.name;
        fit[QStringLiteral("spreadPercent")]
            = r.valid ? QJsonValue(double(r.spreadPercent)) : QJsonValue(QJsonValue::Null);
        fit[QStringLiteral("chosen")] = i == chosen;
        fit[QStringLiteral("heldOutSpreadPercent")]
            = r.valid ? QJsonValue(double(r.heldOutSpreadPercent)) : QJsonValue(QJsonValue::Null);
        fit[QStringLiteral("reason")]
            = r.valid ? QJsonValue(QJsonValue::Null) : QJsonValue(r.reason);
        residuals.append(fit);
    }
    const QString name = chosen >= 0 ? compared.results()[std::size_t(chosen)].name : tr("no fit");
    const QString basis
        = tr("%1 of %2 kept points; %3 (%4 by the user); coverage %5% of %6 directions; score "
             "from the RMS deviation of the corrected field from 1 on points the fit did not see, "
             "held to the coverage, spread and drift.")
              .arg(name)
              .arg(points.size())
              .arg(chosen >= 0 && chosen == m_pickedFit ? tr("chosen")
                                                        : tr("lowest held-out spread"))
              .arg(chosen >= 0 && chosen == m_pickedFit ? tr("picked") : tr("not picked"))
              .arg(qRound(m_mag.coveredPercent()))
              .arg(m_mag.coverage().cellCount());
    prepareReport(QStringLiteral("magnetometer"), before, *block, 12, quality, basis, residuals);
    emit magChanged();
    return quality;
}

// ---- Accelerometer -----------------------------------------------------------

void CalibrationGuide::setHoldPositions(bool on)
{
    if (on == m_holdPositions)
        return;
    m_holdPositions = on;
    m_face.restartPosition();
    emit holdPositionsChanged();
}

void CalibrationGuide::accSample(int stage, bool running, float x, float y, float z)
{
    if (stage != m_lastStage) {
        m_lastStage = stage;
        m_face.restartPosition();
        if (stage == 0)
            m_accVerdict.clear();
    }
    m_face.addSample(double(x), double(y), double(z));
    // Armed (0), then each position is asked for (2k) and gathered (2k + 1).
    m_expectedFace = running && stage >= 0 && stage < 12 ? stage / 2 : -1;
    updateFaceProblem();
}

bool CalibrationGuide::accPositionSample(int position, float x, float y, float z)
{
    if (!m_holdPositions)
        return true;
    return m_face.fitsPosition(position, double(x), double(y), double(z));
}

void CalibrationGuide::updateFaceProblem()
{
    QString problem;
    const int up = m_face.faceUp();
    if (m_holdPositions && m_expectedFace >= 0 && up >= 0 && up != m_expectedFace)
        problem = tr("This is %1; place the module with %2.")
                      .arg(AccFaceGuide::faceName(up), AccFaceGuide::faceName(m_expectedFace));
    const QString faceNow = AccFaceGuide::faceName(up);
    if (problem == m_faceProblem && faceNow == m_lastFaceUp)
        return;
    m_faceProblem = problem;
    m_lastFaceUp = faceNow;
    emit accChanged();
}

int CalibrationGuide::accResult(const float *means, const Calibration &calibration, int quality,
    const CalSavedParams &before, const Calibration::ParamBlock &after, QString *refusal)
{
    const AccPoseCheck check
        = AccPoseCheck::evaluate(means, calibration.ACC_OFFSET, calibration.LOCAL_GRAVITY);
    // The estimate's own score sees its own data; the poses' check sees what it
    // cannot absorb. The lower of the two is the honest one.
    const int honest = std::min(quality, int(std::lround(check.score)));
    m_accVerdict = check.problem();
    if (check.warned())
        m_accVerdict += QLatin1Char(' ')
            + tr("A level surface would read about %1° tilted.")
                  .arg(check.misfitDeg / 2, 0, 'f', 1);
    if (check.refused())
        *refusal = tr("Calibration refused: %1 Place the module flat on a level surface and "
                      "repeat. Previous calibration kept.")
                       .arg(check.problem());
    QJsonArray residuals;
    for (int k = 0; k < 6; ++k) {
        QJsonObject pose;
        pose[QStringLiteral("pose")] = AccFaceGuide::faceName(k);
        pose[QStringLiteral("tiltDeg")] = check.poseTiltDeg[std::size_t(k)];
        pose[QStringLiteral("magnitudeErrorMs2")] = check.magnitudeError[std::size_t(k)];
        residuals.append(pose);
    }
    prepareReport(QStringLiteral("accelerometer"), before, after, 12, honest,
        tr("Lower of the estimate's own fit (%1) and the pose check (%2): %3")
            .arg(quality)
            .arg(qRound(check.score))
            .arg(check.basis()),
        residuals);
    emit accChanged();
    return honest;
}

// ---- Gyroscope ---------------------------------------------------------------

int CalibrationGuide::gyroResult(const std::vector<Sample4> &samples, int quality,
    const CalSavedParams &before, const Calibration::ParamBlock &after, QString *refusal)
{
    const GyroRestCheck check = GyroRestCheck::evaluate(samples);
    const QString verdict = check.moved ? tr("the module turned during the rest period (up to "
                                             "%1°/s about %2, from sample %3 of %4).")
                                              .arg(check.peakDegPerSec, 0, 'f', 1)
                                              .arg(axisName(check.axis))
                                              .arg(check.firstSample + 1)
                                              .arg(samples.size())
                                        : QString();
    m_gyroVerdict = verdict.isEmpty() ? QString() : verdict.left(1).toUpper() + verdict.mid(1);
    emit gyroChanged();
    // A run that scored below the floor already waits for the user, who sees
    // its score; the page names the turn beside it.
    if (check.moved && quality >= calQualityFloor)
        *refusal = tr("Calibration refused: %1 Keep it still and repeat. Previous calibration "
                      "kept.")
                       .arg(verdict);
    QJsonArray residuals;
    QJsonObject rest;
    rest[QStringLiteral("peakDeviationDegPerSec")] = check.peakDegPerSec;
    rest[QStringLiteral("noiseDegPerSec")] = check.noiseDegPerSec;
    rest[QStringLiteral("motionThresholdDegPerSec")] = check.thresholdDegPerSec;
    rest[QStringLiteral("moved")] = check.moved;
    residuals.append(rest);
    prepareReport(QStringLiteral("gyroscope"), before, after, 3, quality,
        tr("Steadiness of the offset over five segments of %1 samples at rest; a turn (%2 "
           "samples in a row beyond %3°/s) refuses the run.")
            .arg(samples.size())
            .arg(GyroRestCheck::samplesInRow)
            .arg(check.thresholdDegPerSec, 0, 'f', 2),
        residuals);
    return quality;
}

// ---- Reports -----------------------------------------------------------------

void CalibrationGuide::prepareReport(const QString &sensor, const CalSavedParams &before,
    const Calibration::ParamBlock &after, int floats, double quality, const QString &basis,
    const QJsonArray &residuals)
{
    const int i = indexOf(sensor);
    if (i < 0)
        return;
    CalibrationReport report;
    report.sensor = sensor;
    report.at = QDateTime::currentDateTime();
    report.identityKnown = before.identity.known;
    report.deviceId = before.identity.deviceId;
    report.hardwareVersion = before.identity.hardwareVersion;
    report.softwareVersion = before.identity.softwareVersion;
    // Read with the whole map when the module was connected, and refreshed by
    // the streams that carry it.
    const QVariant temperature = registerValue(m_backend, RegisterMap::Temperature);
    report.temperatureKnown = before.identity.known && temperature.isValid();
    report.temperatureC = temperature.toDouble();
    report.beforeKnown = before.valid;
    report.before.assign(before.block.begin(), before.block.begin() + floats);
    report.after.assign(after.begin(), after.begin() + floats);
    report.quality = quality;
    report.basis = basis;
    report.residuals = residuals;
    m_reports[std::size_t(i)] = report;
    m_reportPending[std::size_t(i)] = true;
}

void CalibrationGuide::finishReport(const QString &sensor, const QString &outcome)
{
    const int i = indexOf(sensor);
    if (i < 0 || !m_reportPending[std::size_t(i)])
        return;
    m_reportPending[std::size_t(i)] = false;
    CalibrationReport &report = m_reports[std::size_t(i)];
    report.outcome = outcome;
    m_reportTexts[std::size_t(i)] = report.toText();
    QStringList &notes = m_reportNotes[std::size_t(i)];
    notes.clear();
    QString error;
    const QString path = report.save(m_reportFolder, &error);
    if (path.isEmpty()) {
        qCWarning(lcBackend) << "calibration report not saved:" << error;
        notes << tr("Not saved: %1").arg(error);
    }
    if (sensor == QLatin1String("magnetometer") && !path.isEmpty() && !m_magCloud.points.empty())
        notes << keepMagCloud(path);
    for (const QString &note : qAsConst(notes))
        m_reportTexts[std::size_t(i)] += QLatin1Char('\n') + note;
    if (!path.isEmpty())
        notes << tr("Report saved as %1").arg(path);
    m_reportPaths[sensor] = path;
    emit reportsChanged();
    if (!path.isEmpty())
        emit reportSaved(sensor, path);
}

QString CalibrationGuide::magCloudPath(const QString &reportPath)
{
    const QFileInfo report(reportPath);
    return report.dir().filePath(report.completeBaseName() + QStringLiteral(".cloud.json"));
}

QString CalibrationGuide::keepMagCloud(const QString &reportPath)
{
    const QString path = magCloudPath(reportPath);
    QString error;
    if (!saveMagCloud(path, m_magCloud, &error)) {
        qCWarning(lcBackend) << "magnetometer points not kept:" << error;
        return tr("Points not kept: %1").arg(error);
    }
    return tr("Points kept in %1").arg(path);
}

QString CalibrationGuide::reportHtml(const QString &sensor) const
{
    const int i = indexOf(sensor);
    if (i < 0 || m_reportTexts[std::size_t(i)].isEmpty())
        return QString();
    return m_reports[std::size_t(i)].toHtml(m_reportNotes[std::size_t(i)]);
}

QString CalibrationGuide::saveReportPdf(const QString &sensor)
{
    m_reportPdfError.clear();
    const QString html = reportHtml(sensor);
    if (html.isEmpty()) {
        m_reportPdfError = tr("There is no report of a %1 calibration yet.").arg(sensor);
        return QString();
    }
    const int i = indexOf(sensor);
    const CalibrationReport &report = m_reports[std::size_t(i)];
    // Beside the report's own file, or where it would have been.
    QString path = m_reportPaths.value(sensor).toString();
    if (path.isEmpty())
        path = QDir(m_reportFolder)
                   .filePath(
                       QStringLiteral("%1-%2.json")
                           .arg(sensor, report.at.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))));
    const QFileInfo json(path);
    path = json.dir().filePath(json.completeBaseName() + QStringLiteral(".pdf"));
    if (!QDir().mkpath(json.absolutePath())) {
        m_reportPdfError = tr("Cannot make the folder %1").arg(json.absolutePath());
        return QString();
    }
    const QString why = CalibrationReport::savePdf(html, path);
    if (!why.isEmpty()) {
        qCWarning(lcBackend) << "calibration report not printed:" << why;
        m_reportPdfError = why;
        return QString();
    }
    return path;
}

QString CalibrationGuide::reportText(const QString &sensor) const
{
    const int i = indexOf(sensor);
    if (i < 0)
        return QString();
    const QString path = m_reportPaths.value(sensor).toString();
    return path.isEmpty() ? m_reportTexts[std::size_t(i)]
                          : m_reportTexts[std::size_t(i)] + QLatin1Char('\n') + path;
}
