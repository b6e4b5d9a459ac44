// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fullscale.h"
#include "moduledecoder.h"
#include "registerobjects.h"

#include <QObject>
#include <QQuaternion>
#include <QString>
#include <QVector3D>

#include <array>

// The backend's face of the module decoder: each block the link dispatches is
// decoded there, and its values are stored into the register objects in row
// order; the scaled sensor samples and the orientation are handed on, and what
// keeps data from being scaled is said in words. GUI thread only.
class RegisterDecoder : public QObject
{
    Q_OBJECT

public:
    // `rows` are the catalogue's objects, filled before the first block arrives.
    explicit RegisterDecoder(const RegisterObjects &rows, QObject *parent = nullptr);

    // Decodes register block `blockIndex` (in address order) from its first byte.
    void decode(int blockIndex, const quint8 *block);

    const FullScales &fullScales() const { return m_decoder.fullScales(); }
    // Another module may have other ranges: its samples wait until its own
    // "Hardware Version" and "Sensors Range" have been read.
    void forgetFullScales() { m_decoder.forgetFullScales(); }

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
    // What the last version and range values say about scaling.
    enum class DataProblemSource { None, HardwareVersion, SensorsRange };
    void setDataProblem(DataProblemSource source, const QString &text);

    void store(const decode::BlockValues &values);
    void onVersion(int hardwareVersion);
    void onRange(quint8 range, const decode::RangeDecoding &decoded);

    const RegisterObjects &m_rows;
    decode::ModuleDecoder m_decoder;
    QString m_dataProblem;
    DataProblemSource m_dataProblemSource = DataProblemSource::None;
};
