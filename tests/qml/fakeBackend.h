// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QQuaternion>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>
#include <QVector3D>

#include "noisecheck.h"
#include <QtDataVisualization/QScatter3DSeries>

class FakeConnection;
class RegistryItemModel;
class ViewSettings;

// Stands in for the backend's recording controller: Record and Stop switch at
// once, and the tests set what a recording has written and its faults.
class FakeRecording : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ isRecording NOTIFY stateChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(qint64 elapsedMs MEMBER m_elapsedMs NOTIFY statusChanged)
    Q_PROPERTY(qint64 framesWritten MEMBER m_frames NOTIFY statusChanged)
    Q_PROPERTY(qint64 bytesWritten MEMBER m_bytes NOTIFY statusChanged)
    Q_PROPERTY(bool waitingForData MEMBER m_waiting NOTIFY statusChanged)
    Q_PROPERTY(QString folder MEMBER m_folder NOTIFY stateChanged)
    Q_PROPERTY(QString location MEMBER m_location NOTIFY stateChanged)
    Q_PROPERTY(QString errorMessage MEMBER m_error NOTIFY errorMessageChanged)

public:
    using QObject::QObject;
    bool isRecording() const { return m_recording; }
    QString state() const
    {
        return m_recording ? QStringLiteral("recording") : QStringLiteral("idle");
    }

    Q_INVOKABLE void reset();
    Q_INVOKABLE void setStatus(qint64 elapsedMs, qint64 frames, qint64 bytes, bool waiting);
    Q_INVOKABLE void setError(const QString &message);
    Q_INVOKABLE int toggles() const { return m_toggles; }

public slots:
    void start() { setRecording(true); }
    void stop() { setRecording(false); }
    void toggle()
    {
        ++m_toggles;
        setRecording(!m_recording);
    }
    void clearError() { setError(QString()); }
    // The real one opens a folder dialog; here nothing is chosen.
    bool chooseLocation() { return false; }

signals:
    void stateChanged();
    void statusChanged();
    void errorMessageChanged();

private:
    void setRecording(bool on);

    bool m_recording = false;
    int m_toggles = 0;
    qint64 m_elapsedMs = 0;
    qint64 m_frames = 0;
    qint64 m_bytes = 0;
    bool m_waiting = false;
    QString m_folder;
    QString m_location = QStringLiteral("/home/user/Documents/Velmar IMU");
    QString m_error;
};

// Stands in for the backend's calibrationGuide: the properties the pages bind
// to, settable by the tests, and the calls it takes recorded.
class FakeCalibrationGuide : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool magGathering MEMBER magGathering NOTIFY magChanged)
    Q_PROPERTY(int magPoints MEMBER magPoints NOTIFY magChanged)
    Q_PROPERTY(double magCoverage MEMBER magCoverage NOTIFY magChanged)
    Q_PROPERTY(double magUncovered MEMBER magUncovered NOTIFY magChanged)
    Q_PROPERTY(QVariantList coverageCells MEMBER coverageCells NOTIFY magChanged)
    Q_PROPERTY(QString magHint MEMBER magHint NOTIFY magChanged)
    Q_PROPERTY(double magSpread MEMBER magSpread NOTIFY magChanged)
    Q_PROPERTY(double magDrift MEMBER magDrift NOTIFY magChanged)
    Q_PROPERTY(bool magGoodEnough MEMBER magGoodEnough NOTIFY magChanged)
    Q_PROPERTY(QString magVerdict MEMBER magVerdict NOTIFY magChanged)
    Q_PROPERTY(QVariantList magFits MEMBER magFits NOTIFY magChanged)
    Q_PROPERTY(int magChosenFit MEMBER magChosenFit NOTIFY magChanged)
    Q_PROPERTY(QString faceUp MEMBER faceUp NOTIFY accChanged)
    Q_PROPERTY(QString expectedFace MEMBER expectedFace NOTIFY accChanged)
    Q_PROPERTY(QString faceProblem MEMBER faceProblem NOTIFY accChanged)
    Q_PROPERTY(QString accVerdict MEMBER accVerdict NOTIFY accChanged)
    Q_PROPERTY(bool holdPositions MEMBER holdPositions NOTIFY holdPositionsChanged)
    Q_PROPERTY(QString gyroVerdict MEMBER gyroVerdict NOTIFY gyroChanged)
    Q_PROPERTY(QVariantMap reports MEMBER reports NOTIFY reportsChanged)
    // The sensors whose report was printed, in order.
    Q_PROPERTY(QStringList printed MEMBER printed)
    Q_PROPERTY(bool headingRunning MEMBER headingRunning NOTIFY headingChanged)
    Q_PROPERTY(int headingStops MEMBER headingStops NOTIFY headingChanged)
    Q_PROPERTY(QString headingHint MEMBER headingHint NOTIFY headingChanged)
    Q_PROPERTY(QString headingSummary MEMBER headingSummary NOTIFY headingChanged)

public:
    using QObject::QObject;
    Q_INVOKABLE void startHeadingTurns()
    {
        headingRunning = true;
        emit headingChanged();
    }
    Q_INVOKABLE void stopHeadingTurns()
    {
        headingRunning = false;
        emit headingChanged();
    }
    Q_INVOKABLE void chooseMagFit(int index)
    {
        magChosenFit = index;
        emit magChanged();
    }
    Q_INVOKABLE QString reportText(const QString &sensor) const
    {
        return reports.value(sensor).toString();
    }
    // The page is the text in a heading; printing records the sensor and
    // answers with pdfPath, or with pdfError when that is set.
    Q_INVOKABLE QString reportHtml(const QString &sensor) const
    {
        return QStringLiteral(
            "<h2>%1</h2><table><tr><td>Module</td><td>ID 0x42 · HW 1 · SW 2</td></tr></table>")
            .arg(reports.value(sensor).toString());
    }
    Q_INVOKABLE QString saveReportPdf(const QString &sensor)
    {
        printed.append(sensor);
        return pdfError.isEmpty() ? pdfPath : QString();
    }
    Q_INVOKABLE QString reportPdfError() const { return pdfError; }

    bool magGathering = false;
    int magPoints = 0;
    double magCoverage = 0;
    double magUncovered = 100;
    QVariantList coverageCells;
    QString magHint;
    double magSpread = -1;
    double magDrift = -1;
    bool magGoodEnough = false;
    QString magVerdict;
    QVariantList magFits;
    int magChosenFit = -1;
    QString faceUp;
    QString expectedFace;
    QString faceProblem;
    QString accVerdict;
    bool holdPositions = false;
    QString gyroVerdict;
    QVariantMap reports;
    Q_INVOKABLE void setPdfAnswer(const QString &path, const QString &error)
    {
        pdfPath = path;
        pdfError = error;
        printed.clear();
    }
    QStringList printed;
    QString pdfPath;
    QString pdfError;
    bool headingRunning = false;
    int headingStops = 0;
    QString headingHint;
    QString headingSummary;

signals:
    void headingChanged();
    void magChanged();
    void accChanged();
    void holdPositionsChanged();
    void gyroChanged();
    void reportsChanged();
};

// Stands in for the backend's module backups: the list is what the test sets,
// and Restore only records which file it was asked for.
class FakeModuleBackups : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList backups MEMBER m_backups NOTIFY backupsChanged)
    Q_PROPERTY(QString folder MEMBER m_folder CONSTANT)
    Q_PROPERTY(QString lastError MEMBER m_lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool restoring MEMBER m_restoring NOTIFY restoreStateChanged)
    Q_PROPERTY(QString restoreStatus MEMBER m_restoreStatus NOTIFY restoreStateChanged)

public:
    using QObject::QObject;
    Q_INVOKABLE void refresh() { ++m_refreshes; }
    Q_INVOKABLE bool restore(const QString &path)
    {
        m_restored.append(path);
        return true;
    }
    // What the test set with setDifferences, whatever the path.
    Q_INVOKABLE QVariantList differences(const QString &path)
    {
        m_asked.append(path);
        return m_differences;
    }

    // Test controls.
    Q_INVOKABLE void reset();
    Q_INVOKABLE void setBackups(const QVariantList &list);
    Q_INVOKABLE QStringList restored() const { return m_restored; }
    Q_INVOKABLE void setDifferences(const QVariantList &rows) { m_differences = rows; }
    Q_INVOKABLE void setRestoreState(bool restoring, const QString &status);
    Q_INVOKABLE void setLastError(const QString &text);

signals:
    void backupsChanged();
    void lastErrorChanged();
    void restoreStateChanged();

private:
    QVariantList m_backups;
    QString m_folder = QStringLiteral("/home/user/.local/share/Velmar/Velmar IMU/backups");
    QString m_lastError;
    QStringList m_restored;
    int m_refreshes = 0;
    bool m_restoring = false;
    QString m_restoreStatus;
    QVariantList m_differences;
    QStringList m_asked;
};

// Stands in for Export and Import: each call is recorded, and the test plays
// the module's answers with setRows and setStatus.
class FakeModuleFiles : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString folder MEMBER m_folder NOTIFY folderChanged)
    Q_PROPERTY(bool busy MEMBER m_busy NOTIFY stateChanged)
    Q_PROPERTY(QString status MEMBER m_status NOTIFY stateChanged)
    Q_PROPERTY(bool failed MEMBER m_failed NOTIFY stateChanged)
    Q_PROPERTY(QString importPath MEMBER m_importPath NOTIFY stateChanged)
    Q_PROPERTY(QString importModule MEMBER m_importModule NOTIFY stateChanged)
    Q_PROPERTY(QVariantList importRows MEMBER m_rows NOTIFY stateChanged)

public:
    using QObject::QObject;
    Q_INVOKABLE bool exportModule() { return record(QStringLiteral("exportModule"), {}); }
    Q_INVOKABLE bool exportModuleTo(const QString &path)
    {
        return record(QStringLiteral("exportModuleTo"), {path});
    }
    // As without a desktop: nothing is asked, nothing opened.
    Q_INVOKABLE bool chooseImport()
    {
        record(QStringLiteral("chooseImport"), {});
        return false;
    }
    Q_INVOKABLE QStringList filesInFolder() const { return m_files; }
    Q_INVOKABLE bool openImport(const QString &path)
    {
        return record(QStringLiteral("openImport"), {path});
    }
    Q_INVOKABLE bool writeChosen(const QStringList &names)
    {
        return record(QStringLiteral("writeChosen"), {names});
    }
    Q_INVOKABLE void closeImport() { record(QStringLiteral("closeImport"), {}); }

    // Test controls.
    Q_INVOKABLE void reset();
    Q_INVOKABLE void setFiles(const QStringList &files) { m_files = files; }
    Q_INVOKABLE void setRows(const QString &path, const QVariantList &rows);
    Q_INVOKABLE void setStatus(const QString &status, bool failed, bool busy);
    Q_INVOKABLE QStringList calls() const { return m_calls; }
    Q_INVOKABLE QVariantList lastArguments() const { return m_lastArguments; }

signals:
    void folderChanged();
    void stateChanged();

private:
    bool record(const QString &name, const QVariantList &arguments)
    {
        m_calls.append(name);
        m_lastArguments = arguments;
        return true;
    }

    QString m_folder = QStringLiteral("/home/user/Documents/Velmar IMU");
    bool m_busy = false;
    QString m_status;
    bool m_failed = false;
    QString m_importPath;
    QString m_importModule = QStringLiteral("device 0x5A, hardware 1442, software 210");
    QVariantList m_rows;
    QStringList m_files;
    QStringList m_calls;
    QVariantList m_lastArguments;
};

// Stands in for the backend in the QML tests: the same properties, signals and
// slots the documents use, with every slot call recorded, and setters the
// tests use to play the module's part.
class FakeBackend : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QStringList availablePortsList READ availablePortsList NOTIFY availablePortsListChanged)
    Q_PROPERTY(QList<QObject *> registers READ registers NOTIFY registersChanged)
    Q_PROPERTY(QQuaternion qQuat READ qQuat NOTIFY qQuatChanged)
    Q_PROPERTY(QVariantList quatDataList READ quatDataList NOTIFY quatDataListChanged)
    Q_PROPERTY(QVariantList eulerDataList READ eulerDataList NOTIFY eulerDataListChanged)
    Q_PROPERTY(QVariantList accDataList READ accDataList NOTIFY accDataListChanged)
    Q_PROPERTY(QVariantList gyroDataList READ gyroDataList NOTIFY gyroDataListChanged)
    Q_PROPERTY(QVariantList magDataList READ magDataList NOTIFY magDataListChanged)
    Q_PROPERTY(double progressPercent READ progressPercent NOTIFY progressPercentChanged)
    Q_PROPERTY(QVector3D magVect3 READ magVect3 NOTIFY magVect3Changed)
    Q_PROPERTY(QString registerWriteError READ registerWriteError NOTIFY registerWriteErrorChanged)
    // Set by a test to play a Reset Defaults whose backup cannot be saved.
    Q_PROPERTY(
        QString resetDefaultsError MEMBER m_resetDefaultsError NOTIFY registerWriteErrorChanged)
    Q_PROPERTY(QString dataProblem READ dataProblem NOTIFY dataProblemChanged)
    Q_PROPERTY(QString magUnit MEMBER m_magUnit NOTIFY magUnitChanged)
    Q_PROPERTY(QVariantList calibrationRestoreOffers READ calibrationRestoreOffers NOTIFY
            calibrationRestoreOffersChanged)
    // The real settings object, on a file of the test's own.
    Q_PROPERTY(QObject *viewSettings READ viewSettings CONSTANT)
    Q_PROPERTY(QObject *recording READ recording CONSTANT)
    // The status strip's figures and the port list.
    Q_PROPERTY(QObject *connection READ connection CONSTANT)
    // The calibration pages' guidance.
    Q_PROPERTY(QObject *calibrationGuide READ calibrationGuide CONSTANT)

public:
    explicit FakeBackend(QObject *parent = nullptr);

    QStringList availablePortsList() const { return m_ports; }
    QList<QObject *> registers() const { return m_registers; }
    QQuaternion qQuat() const { return m_qQuat; }
    QVariantList quatDataList() const { return m_quat; }
    QVariantList eulerDataList() const { return m_euler; }
    QVariantList accDataList() const { return m_acc; }
    QVariantList gyroDataList() const { return m_gyro; }
    QVariantList magDataList() const { return m_mag; }
    QVector3D magVect3() const { return m_magVect3; }
    QString registerWriteError() const { return m_registerWriteError; }
    QString dataProblem() const { return m_dataProblem; }
    QVariantList calibrationRestoreOffers() const { return m_restoreOffers; }
    QObject *viewSettings() const;
    QObject *recording() { return &m_recording; }
    QObject *connection() const;
    QObject *calibrationGuide() const { return m_guide; }

    // Parses like the backend (same rules and reasons) and answers with a
    // read-back, like the module would; refuses read-only registers, text the
    // register cannot take and every edit while disconnected, with the reason in
    // registerWriteError.
    Q_INVOKABLE bool writeRegisterText(int address, const QString &text);

    // Test controls.
    Q_INVOKABLE void reset();
    Q_INVOKABLE void setPorts(const QStringList &ports) { m_ports = ports; }
    Q_INVOKABLE void setList(const QString &which, const QVariantList &values);
    Q_INVOKABLE void setProgress(double percent);
    Q_INVOKABLE void setMagVector(const QVector3D &v);
    Q_INVOKABLE void setRegisterFromModule(int address, const QVariant &value);
    // A module is attached after reset(); false plays a closed link.
    Q_INVOKABLE void setConnected(bool connected) { m_connected = connected; }
    Q_INVOKABLE void setDataProblem(const QString &text);
    Q_INVOKABLE void setRestoreOffers(const QVariantList &offers);
    // How often a slot ran; `name` alone, arguments are in lastArguments.
    Q_INVOKABLE int callCount(const QString &name) const;
    Q_INVOKABLE QVariantList lastArguments(const QString &name) const;
    Q_INVOKABLE QStringList callOrder() const { return m_callNames; }

public slots:
    void connectClicked(int index) { record("connectClicked", {index}); }
    bool resetDefaults()
    {
        record("resetDefaults");
        return m_resetDefaultsError.isEmpty();
    }
    void setMagSctr3DSeries(QtDataVisualization::QScatter3DSeries *series);
    void setMagSctr3DSeries2(QtDataVisualization::QScatter3DSeries *series);
    void requestAllData() { record("requestAllData"); }
    void requestChartData() { record("requestChartData"); }
    void requestAccOnly() { record("requestAccOnly"); }
    void requestGyroOnly() { record("requestGyroOnly"); }
    void requestMagOnly() { record("requestMagOnly"); }
    void requestRangeData() { record("requestRangeData"); }
    void gyroCalButton() { record("gyroCalButton"); }
    void accCalButton() { record("accCalButton"); }
    void magCalButton() { record("magCalButton"); }
    void cancelCalibration() { record("cancelCalibration"); }
    void confirmCalibrationResult(const QString &sensor)
    {
        record("confirmCalibrationResult", {sensor});
    }
    void discardCalibrationResult(const QString &sensor)
    {
        record("discardCalibrationResult", {sensor});
    }
    void restoreCalibration(const QString &sensor) { record("restoreCalibration", {sensor}); }
    void dismissCalibrationRestore(const QString &sensor)
    {
        record("dismissCalibrationRestore", {sensor});
    }
    double progressPercent() const { return m_progress; }

signals:
    void quatDataListChanged();
    void eulerDataListChanged();
    void accDataListChanged();
    void gyroDataListChanged();
    void magDataListChanged();
    void availablePortsListChanged();
    void registersChanged();
    void qQuatChanged();
    void magCalFinished(double quality);
    void gyroCalFinished(double quality);
    void progressPercentChanged();
    void accCalStageFinished();
    void accCalFinished(double quality);
    void magVect3Changed();
    void registerWriteErrorChanged();
    void dataProblemChanged();
    void magUnitChanged();
    void connectionError(const QString &portName, const QString &reason);
    void calibrationFailed(const QString &sensor, const QString &message);
    void calibrationNeedsConfirmation(const QString &sensor, double quality);
    void calibrationScoreReason(const QString &sensor, const QString &reason);
    void calibrationNotice(const QString &sensor, const QString &message);
    void calibrationRestoreOffersChanged();

private:
    void record(const QString &name, const QVariantList &arguments = {});
    RegistryItemModel *registerAt(int address) const;

    QStringList m_ports;
    QList<QObject *> m_registers;
    QQuaternion m_qQuat;
    QVariantList m_quat, m_euler, m_acc, m_gyro, m_mag;
    double m_progress = 0;
    QVector3D m_magVect3;
    bool m_connected = true;
    QString m_registerWriteError;
    QString m_resetDefaultsError;
    QString m_dataProblem;
    QString m_magUnit = QStringLiteral("gauss");
    QVariantList m_restoreOffers;
    QStringList m_callNames;
    FakeCalibrationGuide *m_guide = new FakeCalibrationGuide(this);
    QList<QVariantList> m_callArguments;

    // Module files: the backups list and Export/Import of the register page.
    Q_PROPERTY(QObject *moduleBackups READ moduleBackups CONSTANT)
    Q_PROPERTY(QObject *moduleFiles READ moduleFiles CONSTANT)
public:
    QObject *moduleBackups() { return &m_moduleBackups; }
    QObject *moduleFiles() { return &m_moduleFiles; }

private:
    FakeModuleBackups m_moduleBackups;
    FakeModuleFiles m_moduleFiles;
    QTemporaryDir m_settingsDir;
    ViewSettings *m_viewSettings = nullptr;
    FakeRecording m_recording;
    FakeConnection *m_connection = nullptr;

    // --- noise page: the real object, fed synthetic samples on a test clock ---
    Q_PROPERTY(NoiseCheck *noise READ noise CONSTANT)
public:
    NoiseCheck *noise() { return &m_noise; }
    // `seconds` of samples at `rateHz` (white noise, the module at rest; with
    // `moving` a turn of 20 deg/s halfway), the test clock moving with them.
    Q_INVOKABLE void feedNoiseSamples(double seconds, double rateHz, bool moving = false);
    // Writes a measurement CSV of a rest of `seconds` (a turn halfway when
    // `moving`) and gives its path.
    Q_INVOKABLE QString writeNoiseCsv(
        double seconds, double rateHz, bool moving = false, bool withTemperature = true);
    Q_INVOKABLE void feedNoiseTemperature(double celsius) { m_noise.addTemperature(celsius); }
    Q_INVOKABLE QString fileText(const QString &path) const;
    // The test clock moves on with no samples: frames lost on the line.
    Q_INVOKABLE void skipNoiseTime(double seconds) { m_noiseTime += seconds; }

private:
    NoiseCheck m_noise;
    double m_noiseTime = 0;
    quint32 m_noiseSeed = 1;
};
