// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acccalibration.h"
#include "calibration.h"
#include "calibrationguide.h"
#include "gyrocalibration.h"
#include "livedata.h"
#include "magcalibration.h"
#include "magscatter.h"
#include "moduleidentity.h"
#include "modulerequests.h"
#include "noisecheck.h"
#include "recordingcontroller.h"
#include "registerdecoder.h"
#include "restoreoffers.h"

#include "comshandler.h"
#include "registerobjects.h"
#include "viewSettings.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuaternion>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVector3D>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class ModuleBackups;
class ConnectionController;
class ModuleFiles;

// The one object behind the interface: port list and connection, request sequences,
// decoding of the register blocks the link dispatches, live data for the charts and
// the 3D view, and the calibration buttons. Everything runs on the GUI thread.
//
// It forwards; the work is done behind it, one concern a class: RegisterDecoder
// (register blocks into values and full scales), LiveData (what the charts and the
// 3D view show), ModuleRequests (request sequences and delayed writes), one
// procedure per calibration (AccCalibration, GyroCalibration, MagCalibration, each
// a CalibrationProcedure, which keeps the module's parameters safe around it),
// MagScatter, ModuleIdentity and RestoreOffers.
class DurUzaBackend : public QObject
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
    Q_PROPERTY(QtDataVisualization::QScatterDataProxy *magScatterDataProxy READ magScatterDataProxy
            NOTIFY magScatterDataProxyChanged)
    Q_PROPERTY(QVector3D magVect3 READ magVect3 NOTIFY magVect3Changed)
    // Why the last register edit was refused; empty after one that went out.
    Q_PROPERTY(QString registerWriteError READ registerWriteError NOTIFY registerWriteErrorChanged)
    // Why the last Reset Defaults wrote nothing (no backup); empty after one that went out.
    Q_PROPERTY(QString resetDefaultsError READ resetDefaultsError NOTIFY resetDefaultsErrorChanged)
    // A value from the module that keeps the sensor data from being scaled (an
    // unknown hardware version or range code), in words for the live page; empty
    // while there is none, including while the ranges are simply not read yet.
    Q_PROPERTY(QString dataProblem READ dataProblem NOTIFY dataProblemChanged)
    // The magnetometer's unit as the module's calibration registers make it
    // (magUnitText): "gauss" until they differ from the factory default.
    Q_PROPERTY(QString magUnit READ magUnit NOTIFY magUnitChanged)
    // Calibrations a cut-off run left unrestored, offered now that the same module
    // is back on the same port: maps of sensor, port, savedAt, values and text.
    Q_PROPERTY(QVariantList calibrationRestoreOffers READ calibrationRestoreOffers NOTIFY
            calibrationRestoreOffersChanged)
    // The sub-objects the pages reach through this one.
    // Backups before a calibration or Reset Defaults overwrites the module.
    Q_PROPERTY(QObject *moduleBackups READ moduleBackups CONSTANT)
    // What the window remembers between runs: its size and place, and the
    // folder charts are exported to (ViewSettings).
    Q_PROPERTY(QObject *viewSettings READ viewSettings CONSTANT)
    // Record, Stop and what the running recording has written, for the live page.
    Q_PROPERTY(QObject *recording READ recording CONSTANT)
    // The connection's figures for the status strip, and the port list as the
    // port box shows it (backend/connectioncontroller.h).
    Q_PROPERTY(QObject *connection READ connection CONSTANT)
    // Coverage, face up, fit choice, honest checks and reports for the pages
    // (calibrationguide.h); the procedures call it at lines marked "guidance".
    Q_PROPERTY(QObject *calibrationGuide READ calibrationGuide CONSTANT)
    // Export and Import on the register page.
    Q_PROPERTY(QObject *moduleFiles READ moduleFiles CONSTANT)
    // A measurement at rest or a recording, analysed on its own thread: Allan
    // curves, N, B, K, spectra and exports (noisecheck/noisecheck.h).
    Q_PROPERTY(NoiseCheck *noise READ noise CONSTANT)

public:
    // Where frames sent at once go; by default the link's sendFrame.
    using FrameSender = std::function<void(const quint8 *data, quint8 length)>;

    explicit DurUzaBackend(QObject *parent = nullptr);
    ~DurUzaBackend() override;

    QStringList availablePortsList();
    QList<QObject *> registers() const { return m_registerList; }
    QQuaternion qQuat() const { return m_live.qQuat(); }
    QVariantList quatDataList() const { return m_live.quatDataList(); }
    QVariantList eulerDataList() const { return m_live.eulerDataList(); }
    QVariantList accDataList() const { return m_live.accDataList(); }
    QVariantList gyroDataList() const { return m_live.gyroDataList(); }
    QVariantList magDataList() const { return m_live.magDataList(); }
    QtDataVisualization::QScatterDataProxy *magScatterDataProxy() const
    {
        return m_magScatter.proxy();
    }
    QVector3D magVect3() const { return m_live.magVect3(); }
    QVariantList calibrationRestoreOffers() const;

    // Edits one writable register from the register page: parses `text` by the
    // register's display code, writes it to the module and reads it back so the cell
    // shows what the module holds. Refuses (false, nothing sent, the reason in
    // registerWriteError) read-only or unknown addresses, text that does not parse or
    // does not fit the register, and any edit while not connected.
    Q_INVOKABLE bool writeRegisterText(int address, const QString &text);
    QString registerWriteError() const { return m_registerWriteError; }
    QString resetDefaultsError() const { return m_resetDefaultsError; }
    QString dataProblem() const { return m_decoder.dataProblem(); }
    bool magCalibrated() const { return m_magCalibrated; }
    // The magnetometer calibration the module last answered with.
    Calibration::ParamBlock activeMagCalibration() const { return m_activeMag; }
    QString magUnit() const;

    // Follows the Connect/Disconnect button, and drops back to false on a link error.
    bool isConnected() const { return m_connected; }
    // Which module this connection reads, once confirmed; unknown until then.
    CalIdentity moduleIdentity() const { return m_identity.current(); }
    float accFullScale() const { return m_decoder.fullScales().acc; }
    float gyroFullScale() const { return m_decoder.fullScales().gyro; }
    float magFullScale() const { return m_decoder.fullScales().mag; }

    ComsHandler *comsHandler() { return &m_coms; }
    // The narrow view of the module the sub-objects read instead of this object.
    ModuleSources moduleSources();
    // Redirects every frame (immediate and delayed) away from the link, e.g. into a
    // test's recorder. An empty sender restores the link.
    void setFrameSender(FrameSender sender);

    // The sub-objects, as the pages see them and typed for C++.
    QObject *moduleBackups() const;
    ModuleBackups *backups() const { return m_moduleBackups; }
    QObject *viewSettings() { return &m_viewSettings; }
    QObject *recording() { return m_recording.get(); }
    RecordingController *recordingController() { return m_recording.get(); }
    QObject *connection() const;
    ConnectionController *connectionController() const { return m_connection; }
    // The port names behind the entries of the last availablePortsList(), entry
    // for entry.
    QStringList portNamesListed() const { return m_portNameCache; }
    // What else the system knows of each of them (portDetailText), entry for entry.
    QStringList portDetailsListed() const { return m_portDetailCache; }
    QObject *calibrationGuide() const { return m_guide; }
    CalibrationGuide *guide() const { return m_guide; }
    QObject *moduleFiles() const;
    ModuleFiles *files() const { return m_moduleFiles; }
    NoiseCheck *noise() const { return m_noise; }

public slots:
    void connectClicked(int index);
    // Saves a backup and, only once it has been read back, sends the reset;
    // false with resetDefaultsError when it did not.
    bool resetDefaults();
    void setMagSctr3DSeries(QtDataVisualization::QScatter3DSeries *magSctr3DSeries);
    void setMagSctr3DSeries2(QtDataVisualization::QScatter3DSeries *magSctr3DSeries2);
    void testAction();
    void requestAllData();
    void requestChartData();
    void requestAccOnly();
    void requestGyroOnly();
    void requestMagOnly();
    void requestRangeData();
    void gyroCalButton();
    void accCalButton();
    void magCalButton();
    // Abandons every calibration run: a page calls it when the user leaves it mid-run.
    // Where the run had already reset the module, its previous parameters go back.
    void cancelCalibration();
    double progressPercent() const { return m_progressPercent; }
    void randomFillMagScatter();
    // A result scored below the floor waits for one of these (calibrationNeedsConfirmation).
    void confirmCalibrationResult(const QString &sensor);
    void discardCalibrationResult(const QString &sensor);
    // Answers an offer of calibrationRestoreOffers: write it back (and read it back), or
    // forget it.
    void restoreCalibration(const QString &sensor);
    void dismissCalibrationRestore(const QString &sensor);

signals:
    void magScatterDataProxyChanged();
    void sdmChanged();
    void quatDataListChanged();
    void eulerDataListChanged();
    void accDataListChanged();
    void gyroDataListChanged();
    void magDataListChanged();
    void availablePortsListChanged();
    void registersChanged();
    void qQuatChanged();
    // A run's result is in the module: emitted once its read-back matches.
    void magCalFinished(double quality);
    void gyroCalFinished(double quality);
    void progressPercentChanged();
    void accCalStageFinished();
    void accCalFinished(double quality);
    void magVect3Changed();
    void registerWriteErrorChanged();
    void resetDefaultsErrorChanged();
    void dataProblemChanged();
    void magUnitChanged();
    // The port could not be opened, failed while open, or none was selected.
    // `portName` is empty when no port was involved.
    void connectionError(const QString &portName, const QString &reason);
    // A calibration run ended without a result: refused, failed, cancelled, cut
    // off with the link, or its result not taken by the module. `sensor` is
    // "accelerometer", "gyroscope" or "magnetometer"; `message` tells the user what
    // happened to the module, and comes only once the module has answered the
    // read-back of what was written (or the wait for it ran out).
    void calibrationFailed(const QString &sensor, const QString &message);
    // A run's result scored below the floor: it is written only if the user confirms.
    void calibrationNeedsConfirmation(const QString &sensor, double quality);
    // Right before calibrationNeedsConfirmation: what held the score down
    // (coverage, spread, drift), or empty when the procedure cannot say.
    void calibrationScoreReason(const QString &sensor, const QString &reason);
    // What became of a restore the user asked for from an offer.
    void calibrationNotice(const QString &sensor, const QString &message);
    void calibrationRestoreOffersChanged();

private:
    void dispatchBlock(int blockIndex, const quint8 *block);
    void forwardSamples();
    void forwardCalibration();
    void onLinkError(const QString &portName, const QString &errorText);
    void setRegisterWriteError(const QString &reason);
    void setProgress(double percent);
    // The procedure of a sensor as calibrationFailed names it; null for any other text.
    void readBackStreamingMode();
    bool refuseUnconfirmedModule(const CalibrationProcedure &procedure);
    CalibrationProcedure *procedureNamed(const QString &name);
    void watchCalibrationLink();
    void onCalibrationLinkLost(const QString &port);

    // Construction order matters: the link first, then the catalogue, then what
    // works on them.
    QStringList m_portCache;
    // The port names behind m_portCache, entry for entry: Connect opens the
    // port the user saw, not whatever a fresh enumeration has at that index.
    QStringList m_portNameCache;
    QStringList m_portDetailCache;
    // Paths that have led to a device while listed: gone, they are not listed.
    QSet<QString> m_pathsSeen;
    ComsHandler m_coms;
    RegisterObjects m_rows;
    QList<QObject *> m_registerList;
    ModuleRequests m_requests {m_coms};
    RegisterDecoder m_decoder {m_rows};
    LiveData m_live;
    MagScatter m_magScatter;
    Calibration m_calibration;
    // The streaming mode the last request sequence switches to, until read back; -1 none.
    int m_control1ToConfirm = -1;
    ModuleIdentity m_identity {m_rows};
    RestoreOffers m_offers;
    // Called right before a calibration run's first write (backups hang on it).
    std::function<QString(const QString &trigger)> m_beforeCalibrationWrite;
    // Coverage, face up, fit choice, honest checks and reports for the pages
    // (calibrationguide.h); the procedures call it at lines marked "guidance".
    CalibrationGuide *m_guide = new CalibrationGuide(this);
    CalibrationServices m_calServices {m_requests, m_rows, m_identity, m_offers, m_calibration,
        &m_beforeCalibrationWrite, m_guide};
    AccCalibration m_accCal {m_calServices};
    GyroCalibration m_gyroCal {m_calServices};
    MagCalibration m_magCal {m_calServices, m_magScatter};
    // Shared by the accelerometer and gyroscope procedures.
    double m_progressPercent = 0.0;

    bool m_connected = false;
    // The magnetometer calibration registers last seen differ from the factory default.
    bool m_magCalibrated = false;
    Calibration::ParamBlock m_activeMag {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    QString m_registerWriteError;
    QString m_resetDefaultsError;
    ModuleBackups *m_moduleBackups = nullptr; // a child, made by the constructor
    ViewSettings m_viewSettings;
    ConnectionController *m_connection = nullptr; // a QObject child
    ModuleFiles *m_moduleFiles = nullptr; // a child, made by the constructor
    void feedNoiseCheck();
    NoiseCheck *m_noise = nullptr; // a child, made by the constructor
    // Last, so it goes first: it hands the link's last data to its files
    // while the link still exists.
    std::unique_ptr<RecordingController> m_recording
        = std::make_unique<RecordingController>(moduleSources(), this);
};
