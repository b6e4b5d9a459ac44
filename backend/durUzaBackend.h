// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"
#include "calibrationguide.h"
#include "calibrationrun.h"
#include "fullscale.h"

#include "link/comshandler.h"
#include "registermap.h"
#include "registerobjects.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuaternion>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVector3D>
#include <QVector4D>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>

#include <array>
#include <functional>
#include <memory>
#include <vector>

// The one object behind the interface: port list and connection, request sequences,
// decoding of the register blocks the link dispatches, live data for the charts and
// the 3D view, and the calibration buttons. Everything runs on the GUI thread.
//
// Work lives in helper files: decoding in blockhandlers.cpp, request sequences in
// requestsequences.cpp, calibration procedures in calibrationworkflows.cpp.
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
    // A value from the module that keeps the sensor data from being scaled (an
    // unknown hardware version or range code), in words for the live page; empty
    // while there is none, including while the ranges are simply not read yet.
    Q_PROPERTY(QString dataProblem READ dataProblem NOTIFY dataProblemChanged)
    // Calibrations a cut-off run left unrestored, offered now that the same module
    // is back on the same port: maps of sensor, port, savedAt, values and text.
    Q_PROPERTY(QVariantList calibrationRestoreOffers READ calibrationRestoreOffers NOTIFY
            calibrationRestoreOffersChanged)

public:
    // Where frames sent at once go; by default the link's sendFrame.
    using FrameSender = std::function<void(const quint8 *data, quint8 length)>;

    explicit DurUzaBackend(QObject *parent = nullptr);
    ~DurUzaBackend() override;

    QStringList availablePortsList();
    QList<QObject *> registers() const { return m_registerList; }
    QQuaternion qQuat() const { return m_qQuat; }
    QVariantList quatDataList() const { return m_quatDataList; }
    QVariantList eulerDataList() const { return m_eulerDataList; }
    QVariantList accDataList() const { return m_accDataList; }
    QVariantList gyroDataList() const { return m_gyroDataList; }
    QVariantList magDataList() const { return m_magDataList; }
    QtDataVisualization::QScatterDataProxy *magScatterDataProxy() const
    {
        return m_magScatterDataProxy.get();
    }
    QVector3D magVect3() const { return m_magVect3; }
    QVariantList calibrationRestoreOffers() const;

    // Edits one writable register from the register page: parses `text` by the
    // register's display code, writes it to the module and reads it back so the cell
    // shows what the module holds. Refuses (false, nothing sent, the reason in
    // registerWriteError) read-only or unknown addresses, text that does not parse or
    // does not fit the register, and any edit while not connected.
    Q_INVOKABLE bool writeRegisterText(int address, const QString &text);
    QString registerWriteError() const { return m_registerWriteError; }
    QString dataProblem() const { return m_dataProblem; }

    // Follows the Connect/Disconnect button, and drops back to false on a link error.
    bool isConnected() const { return m_connected; }
    float accFullScale() const { return m_fullScale.acc; }
    float gyroFullScale() const { return m_fullScale.gyro; }
    float magFullScale() const { return m_fullScale.mag; }

    ComsHandler *comsHandler() { return &m_coms; }
    // Redirects every frame (immediate and delayed) away from the link, e.g. into a
    // test's recorder. An empty sender restores the link.
    void setFrameSender(FrameSender sender);

public slots:
    void connectClicked(int index);
    void resetDefaults();
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
    void dataProblemChanged();
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
    // What became of a restore the user asked for from an offer.
    void calibrationNotice(const QString &sensor, const QString &message);
    void calibrationRestoreOffersChanged();

public:
    // Name of the handler the dispatch calls for a register block, e.g. "accUpdated".
    static const char *blockHandlerName(int blockIndex);

private:
    using BlockHandlerFn = void (DurUzaBackend::*)(const quint8 *block);
    struct BlockHandlerEntry
    {
        const char *name;
        BlockHandlerFn handler;
    };
    // The handlers in register-block order, named as the link names the blocks.
    static const std::array<BlockHandlerEntry, 22> blockHandlerTable;

    void dispatchBlock(int blockIndex, const quint8 *block);
    void onLinkError(const QString &portName, const QString &errorText);

    // Register-block handlers (blockhandlers.cpp), in address order.
    void deviceIdUpdated(const quint8 *block);
    void statusUpdated(const quint8 *block);
    void hardwareVersionUpdated(const quint8 *block);
    void softwareVersionUpdated(const quint8 *block);
    void accUpdated(const quint8 *block);
    void gyroUpdated(const quint8 *block);
    void magUpdated(const quint8 *block);
    void temperatureUpdated(const quint8 *block);
    void quaternionUpdated(const quint8 *block);
    void eulerUpdated(const quint8 *block);
    void linearAccUpdated(const quint8 *block);
    void gravityUpdated(const quint8 *block);
    void control1Updated(const quint8 *block);
    void control2Updated(const quint8 *block);
    void sensorsRangeUpdated(const quint8 *block);
    void accOffsetUpdated(const quint8 *block);
    void accScaleUpdated(const quint8 *block);
    void gyroOffsetUpdated(const quint8 *block);
    void gyroScaleUpdated(const quint8 *block);
    void magOffsetUpdated(const quint8 *block);
    void magScaleUpdated(const quint8 *block);
    void accMagEffUpdated(const quint8 *block);

    // What the last version and range values say about scaling (blockhandlers.cpp).
    enum class DataProblemSource { None, HardwareVersion, SensorsRange };
    void setDataProblem(DataProblemSource source, const QString &text);
    void clearDataProblem() { setDataProblem(DataProblemSource::None, QString()); }

    // Decoding helpers shared by the handlers.
    void storeBytes(int firstRow, int count, const quint8 *block);
    void storeReals(int firstRow, int count, const quint8 *block);
    bool storeScaled(int firstRow, int count, const quint8 *block, float fullScale,
        const char *unknownRangeMessage, QVariantList *values);

    // Request building (requestsequences.cpp).
    void sendNow(const QByteArray &frame);
    void setRegisterWriteError(const QString &reason);
    void sendLater(int delayMs, const QByteArray &frame);
    void writeControl1(quint8 value);
    void writeControl1Later(int delayMs, quint8 value);
    void readNow(RegisterSpan span);
    void readLater(int delayMs, RegisterSpan span);
    void startSequence(RegisterSpan firstRead, RegisterSpan measurement, quint8 streamingMode);

    // Calibration branches (calibrationworkflows.cpp), fed each scaled sample after
    // the live path of the sensor's handler.
    void accCalibrationSample(float x, float y, float z);
    void gyroCalibrationSample(float x, float y, float z);
    void magCalibrationSample(float x, float y, float z);
    void gatherAccCalData(int position, const float *sample);
    void finishAccCalibration();
    void finishGyroCalibration();
    void showLatestMagPoint(float x, float y, float z);
    void gatherMagPoint(float x, float y, float z);
    void fitMagCalibration();
    void clearMagPoints();

    // What keeps the module's parameters safe (calibrationguard.cpp).
    void beginCalRun(CalSensor sensor);
    bool sendCalReset(CalSensor sensor);
    void startCalGathering(CalSensor sensor);
    void finishCalRun(CalSensor sensor, const Calibration::ParamBlock &block, int quality);
    void writeVerified(CalSensor sensor, const PendingParams &write);
    void failCalRun(CalSensor sensor, const QString &message);
    void abandonCalRun(CalSensor sensor, const QString &lostPort);
    void stopCalGathering(CalSensor sensor);
    void stopCalProcedure(CalSensor sensor);
    bool calAwaitingConfirmation(CalSensor sensor) const;
    Calibration::ParamBlock answeredCalParams(CalSensor sensor) const;
    CalIdentity linkIdentity() const;
    void watchCalibrationLink();
    void onCalibrationLinkLost(const QString &port);
    void onCalibrationLinkOpened(const QString &port);
    void onCalRowAnswered(CalSensor sensor, int index);
    void onCalBlockAnswered(CalSensor sensor);
    void onReadBack(CalSensor sensor, const Calibration::ParamBlock &held);
    void onCalTimeout(CalSensor sensor);
    void onIdentityRowAnswered(int bit);
    void offerRestore(CalSensor sensor, const QString &port, const CalSavedParams &saved);
    void showRestoreOffers();

    // Construction order matters: the link first, the catalogue last.
    QVector3D m_magVect3;
    QStringList m_portCache;
    // The port names behind m_portCache, entry for entry: Connect opens the
    // port the user saw, not whatever a fresh enumeration has at that index.
    QStringList m_portNameCache;
    ComsHandler m_coms;

    FullScales m_fullScale;
    QVariantList m_quatDataList;
    QVariantList m_eulerDataList;
    QVariantList m_accDataList;
    QVariantList m_gyroDataList;
    QVariantList m_magDataList;
    QQuaternion m_qQuat;

    // Calibration state; the procedures that drive it live in calibrationworkflows.cpp.
    bool m_gyroCalActive = false;
    int m_gyroSampleCount = 0;
    int m_accSampleCount = 0;
    std::array<float, 18> m_accPositionSums {};
    int m_accCalStage = -1;
    std::vector<QVector4D> m_gyroCalSamples;
    double m_progressPercent = 0.0;
    int m_magCalStage = -1;
    // Magnetometer samples since its reset; the first ones may predate it.
    int m_magSettleCount = 0;
    Calibration m_calibration;
    std::array<CalRunGuard, calSensorCount> m_calRuns {};
    std::array<PendingParams, calSensorCount> m_pendingParams {};
    std::array<RestoreOffer, calSensorCount> m_restoreOffers {};
    // Rows of each parameter block answered since its last read request, one bit each.
    std::array<quint32, calSensorCount> m_calRowsAnswered {};
    // Bounds the wait for a parameter read or a read-back.
    std::array<QTimer, calSensorCount> m_calTimers;
    // Identity registers read in this connection, one bit each.
    int m_identityAnswered = 0;
    QString m_linkPort;
    // Owned by m_magScatterDataProxy once handed to it; kept here to append to it.
    QtDataVisualization::QScatterDataArray *m_gatheredPointArray = nullptr;
    std::unique_ptr<QtDataVisualization::QScatterDataArray> m_latestPointArray;
    std::vector<QVector4D> m_magCalSamples;
    std::unique_ptr<QtDataVisualization::QScatterDataProxy> m_magScatterDataProxy;
    // The interface owns the series and re-creates them with its page.
    QPointer<QtDataVisualization::QScatter3DSeries> m_magSctr3DSeries;
    QPointer<QtDataVisualization::QScatter3DSeries> m_magSctr3DSeries2;

    bool m_connected = false;
    FrameSender m_frameSender;
    QString m_registerWriteError;
    QString m_dataProblem;
    DataProblemSource m_dataProblemSource = DataProblemSource::None;

    RegisterObjects m_rows {};
    QList<QObject *> m_registerList;

    // --- calibration guidance ---
    // Coverage, face up, fit choice, honest checks and reports for the pages
    // (calibrationguide.h); the procedures call it at lines marked "guidance".
    Q_PROPERTY(QObject *calibrationGuide READ calibrationGuide CONSTANT)

public:
    QObject *calibrationGuide() const { return m_guide; }
    CalibrationGuide *guide() const { return m_guide; }

private:
    // A child of the backend; made last, after the register objects.
    CalibrationGuide *m_guide = new CalibrationGuide(this);
};
