// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fullscale.h"
#include "registerobjects.h"

#include <QObject>
#include <QQuaternion>
#include <QString>
#include <QVector3D>

#include <array>

// Decoding of the register blocks the link dispatches: each handler reads its block
// from the register image, stores the values into its register objects in row
// order, keeps the full scales the "Sensors Range" byte gives, and hands the scaled
// sensor samples and the orientation on. GUI thread only.
class RegisterDecoder : public QObject
{
    Q_OBJECT

public:
    // `rows` are the catalogue's objects, filled before the first block arrives.
    explicit RegisterDecoder(const RegisterObjects &rows, QObject *parent = nullptr);

    // Runs the handler of register block `blockIndex` on the block's first byte.
    void decode(int blockIndex, const quint8 *block);
    // Name of the handler of a register block, e.g. "accUpdated"; null past the last.
    static const char *handlerName(int blockIndex);

    const FullScales &fullScales() const { return m_fullScale; }
    // Another module may have other ranges: its samples wait until its own
    // "Hardware Version" and "Sensors Range" have been read.
    void forgetFullScales() { m_fullScale = FullScales {}; }

    // A value from the module that keeps sensor data from being scaled, in words;
    // empty while there is none.
    QString dataProblem() const { return m_dataProblem; }
    void clearDataProblem() { setDataProblem(DataProblemSource::None, QString()); }

signals:
    // Scaled samples, emitted after their registers are stored; none while the
    // sensor's range is unknown.
    void accDecoded(const QVector3D &sample);
    void gyroDecoded(const QVector3D &sample);
    void magDecoded(const QVector3D &sample);
    // Scalar part first, as the module sends it.
    void quaternionDecoded(const QQuaternion &orientation);
    // Roll, pitch, yaw.
    void eulerDecoded(const QVector3D &angles);
    void dataProblemChanged();

private:
    using HandlerFn = void (RegisterDecoder::*)(const quint8 *block);
    struct HandlerEntry
    {
        const char *name;
        HandlerFn handler;
    };
    // The handlers in register-block order, named as the link names the blocks.
    static const std::array<HandlerEntry, 22> handlerTable;

    // Register-block handlers, in address order.
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

    // What the last version and range values say about scaling.
    enum class DataProblemSource { None, HardwareVersion, SensorsRange };
    void setDataProblem(DataProblemSource source, const QString &text);

    // Decoding helpers shared by the handlers.
    void storeBytes(int firstRow, int count, const quint8 *block);
    void storeReals(int firstRow, int count, const quint8 *block);
    bool storeScaled(int firstRow, int count, const quint8 *block, float fullScale,
        const char *unknownRangeMessage, QVector3D *sample);

    const RegisterObjects &m_rows;
    FullScales m_fullScale;
    QString m_dataProblem;
    DataProblemSource m_dataProblemSource = DataProblemSource::None;
};
