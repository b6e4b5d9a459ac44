// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"
#include "calibrationreport.h"
#include "calibrationrun.h"

#include "accfaceguide.h"
#include "headingturns.h"
#include "magcloudfile.h"
#include "maggatherguide.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <vector>

class DurUzaBackend;

// What the calibration pages show around the procedures: for the magnetometer,
// the sphere of field directions reached so far with a hint where to turn, live
// figures of the fit and whether the data is good enough, and the four fits to
// choose from; for the accelerometer, the face up now and a wrong face named at
// once; for all three, an honest check of the result and a report of the run.
// The procedures call the hooks below at marked lines; the pages bind to the
// properties. GUI thread only.
class CalibrationGuide : public QObject
{
    Q_OBJECT
    // Magnetometer, refreshed about once a second while points are gathered.
    Q_PROPERTY(bool magGathering READ magGathering NOTIFY magChanged)
    Q_PROPERTY(int magPoints READ magPoints NOTIFY magChanged)
    Q_PROPERTY(double magCoverage READ magCoverage NOTIFY magChanged)
    Q_PROPERTY(double magUncovered READ magUncovered NOTIFY magChanged)
    // Per cell of the sphere: x, y, z of its centre and 1 when reached, else 0.
    Q_PROPERTY(QVariantList coverageCells READ coverageCells NOTIFY magChanged)
    Q_PROPERTY(QString magHint READ magHint NOTIFY magChanged)
    // Negative while not known yet.
    Q_PROPERTY(double magSpread READ magSpread NOTIFY magChanged)
    Q_PROPERTY(double magDrift READ magDrift NOTIFY magChanged)
    Q_PROPERTY(bool magGoodEnough READ magGoodEnough NOTIFY magChanged)
    Q_PROPERTY(QString magVerdict READ magVerdict NOTIFY magChanged)
    // Per fit: name, method, valid, spread (percent), best, parameters (12).
    Q_PROPERTY(QVariantList magFits READ magFits NOTIFY magChanged)
    // The fit that Finish writes: the user's pick, else the best; -1 for none.
    Q_PROPERTY(int magChosenFit READ magChosenFit NOTIFY magChanged)
    // Accelerometer.
    Q_PROPERTY(QString faceUp READ faceUp NOTIFY accChanged)
    Q_PROPERTY(QString expectedFace READ expectedFace NOTIFY accChanged)
    Q_PROPERTY(QString faceProblem READ faceProblem NOTIFY accChanged)
    Q_PROPERTY(QString accVerdict READ accVerdict NOTIFY accChanged)
    // On: a position is gathered only while its face is steady (the page turns it on).
    Q_PROPERTY(
        bool holdPositions READ holdPositions WRITE setHoldPositions NOTIFY holdPositionsChanged)
    // Gyroscope: the turn found in the last run's rest period, or empty.
    Q_PROPERTY(QString gyroVerdict READ gyroVerdict NOTIFY gyroChanged)
    // Heading check after a magnetometer calibration: the module laid flat and
    // turned through eight headings; the deviation before and after.
    Q_PROPERTY(bool headingRunning READ headingRunning NOTIFY headingChanged)
    Q_PROPERTY(int headingStops READ headingStops NOTIFY headingChanged)
    Q_PROPERTY(QString headingHint READ headingHint NOTIFY headingChanged)
    Q_PROPERTY(QString headingSummary READ headingSummary NOTIFY headingChanged)
    // Reports: sensor name to the path of its latest report.
    Q_PROPERTY(QVariantMap reports READ reports NOTIFY reportsChanged)

public:
    explicit CalibrationGuide(DurUzaBackend *backend);

    bool magGathering() const { return m_magTimer.isActive(); }
    int magPoints() const { return int(m_mag.points().size()); }
    double magCoverage() const { return m_mag.coveredPercent(); }
    double magUncovered() const { return 100.0 - m_mag.coveredPercent(); }
    QVariantList coverageCells() const;
    QString magHint() const { return m_mag.hint(); }
    double magSpread() const { return m_mag.spreadPercent(); }
    double magDrift() const { return m_mag.driftPercent(); }
    bool magGoodEnough() const { return m_mag.goodEnough(); }
    QString magVerdict() const;
    // Why the last result scored below its fit, or empty.
    QString magScoreReason() const { return m_magScoreReason; }
    QVariantList magFits() const;
    int magChosenFit() const;
    Q_INVOKABLE void chooseMagFit(int index);

    QString faceUp() const { return AccFaceGuide::faceName(m_face.faceUp()); }
    QString expectedFace() const { return AccFaceGuide::faceName(m_expectedFace); }
    QString faceProblem() const { return m_faceProblem; }
    QString accVerdict() const { return m_accVerdict; }
    bool holdPositions() const { return m_holdPositions; }
    void setHoldPositions(bool on);

    bool headingRunning() const { return m_heading.running(); }
    int headingStops() const { return m_heading.stopsTaken(); }
    QString headingHint() const { return m_heading.hint(); }
    QString headingSummary() const { return m_headingSummary; }
    // Judged against the calibration the module holds now and the one it held
    // before this session's last magnetometer run (the factory's without one).
    Q_INVOKABLE void startHeadingTurns();
    Q_INVOKABLE void stopHeadingTurns();
    const HeadingTable &headingBefore() const { return m_headingBefore; }
    const HeadingTable &headingAfter() const { return m_headingAfter; }
    // Every sample as decoded, for the heading check.
    void headingAcc(const QVector3D &sample) { m_lastAcc = sample; }
    void headingMag(const QVector3D &sample);

    QString gyroVerdict() const { return m_gyroVerdict; }
    QVariantMap reports() const { return m_reportPaths; }
    Q_INVOKABLE QString reportText(const QString &sensor) const;
    // The latest report as a page (headings and tables), empty without one.
    Q_INVOKABLE QString reportHtml(const QString &sensor) const;
    // Prints the latest report as PDF beside its file (same name, .pdf); the
    // path written, or empty with the reason in reportPdfError.
    Q_INVOKABLE QString saveReportPdf(const QString &sensor);
    Q_INVOKABLE QString reportPdfError() const { return m_reportPdfError; }
    // Where a magnetometer run's points are kept beside its report.
    static QString magCloudPath(const QString &reportPath);
    // Where reports go; by default the application's data folder.
    void setReportFolder(const QString &folder) { m_reportFolder = folder; }

    // ---- Hooks of the procedures ----
    // Every accelerometer sample; `stage` and `running` as the procedure has them.
    void accSample(int stage, bool running, float x, float y, float z);
    // A sample of position 0..5 about to be gathered: false when it must not be
    // (wrong face, or the module moved), and the position starts again.
    bool accPositionSample(int position, float x, float y, float z);
    // The six-position result: the quality to report, or a refusal (non-empty
    // `refusal`). means: the 36 floats the estimate was given.
    int accResult(const float *means, const Calibration &calibration, int quality,
        const CalSavedParams &before, const Calibration::ParamBlock &after, QString *refusal);
    int gyroResult(const std::vector<Sample4> &samples, int quality, const CalSavedParams &before,
        const Calibration::ParamBlock &after, QString *refusal);
    void magRunStarted();
    void magPointKept(float x, float y, float z);
    // At the fit: runs the four fits on the kept points and puts the chosen one
    // into `block`; returns its quality (`method4Quality` when Method 4 is it),
    // held to the coverage, spread and drift (see magScoreReason).
    int magResult(const std::vector<Sample4> &points, const CalSavedParams &before,
        Calibration::ParamBlock *block, int method4Quality);

public slots:
    void refreshMag();

signals:
    void magChanged();
    void accChanged();
    void holdPositionsChanged();
    void gyroChanged();
    void reportsChanged();
    void headingChanged();
    void reportSaved(const QString &sensor, const QString &path);

private:
    void prepareReport(const QString &sensor, const CalSavedParams &before,
        const Calibration::ParamBlock &after, int floats, double quality, const QString &basis,
        const QJsonArray &residuals);
    void finishReport(const QString &sensor, const QString &outcome);
    void updateFaceProblem();
    // The last run's points saved beside its report; the line for the report.
    QString keepMagCloud(const QString &reportPath);

    DurUzaBackend *m_backend;
    // Magnetometer.
    MagGatherGuide m_mag;
    QTimer m_magTimer;
    QElapsedTimer m_clock;
    int m_pickedFit = -1;
    QString m_magScoreReason;
    MagCloud m_magCloud; // the last run's points, kept with its report
    // Heading check.
    HeadingTurns m_heading;
    QVector3D m_lastAcc;
    Calibration::ParamBlock m_magBeforeRun {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    Calibration::ParamBlock m_headingActive {};
    HeadingTable m_headingBefore, m_headingAfter;
    QString m_headingSummary;
    // Accelerometer.
    AccFaceGuide m_face;
    bool m_holdPositions = false;
    int m_lastStage = -1;
    int m_expectedFace = -1;
    QString m_faceProblem;
    QString m_lastFaceUp;
    QString m_accVerdict;
    QString m_gyroVerdict;
    // Reports waiting for the run's outcome, per sensor (acc, gyro, mag).
    std::array<bool, 3> m_reportPending {};
    std::array<CalibrationReport, 3> m_reports {};
    std::array<QString, 3> m_reportTexts {};
    // What became of a report's files, for the page (also in the text).
    std::array<QStringList, 3> m_reportNotes {};
    QString m_reportPdfError;
    QVariantMap m_reportPaths;
    QString m_reportFolder;
};
