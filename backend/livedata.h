// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QQuaternion>
#include <QVariantList>
#include <QVector3D>

// The latest sample of each live quantity, as the charts and the 3D view bind to
// it. Each list holds only the latest sample, its change signal once per sample;
// the charts keep their own history. The lists are built when read, not when a
// sample arrives: with the window minimised most samples are never read as
// lists. Empty before the first sample. GUI thread only.
class LiveData : public QObject
{
    Q_OBJECT

public:
    explicit LiveData(QObject *parent = nullptr);

    QQuaternion qQuat() const { return m_qQuat; }
    QVariantList quatDataList() const;
    QVariantList eulerDataList() const;
    QVariantList accDataList() const;
    QVariantList gyroDataList() const;
    QVariantList magDataList() const;
    QVector3D magVect3() const { return m_magVect3; }
    // The latest accelerometer sample as it came (zero before the first).
    QVector3D lastAcc() const { return m_acc; }

    void setAcc(const QVector3D &sample);
    void setGyro(const QVector3D &sample);
    void setMag(const QVector3D &sample);
    void setQuaternion(const QQuaternion &orientation);
    void setEuler(const QVector3D &angles);

signals:
    void qQuatChanged();
    void quatDataListChanged();
    void eulerDataListChanged();
    void accDataListChanged();
    void gyroDataListChanged();
    void magDataListChanged();
    void magVect3Changed();

private:
    enum Received { Acc = 1, Gyro = 2, Mag = 4, Quat = 8, Euler = 16 };

    QVector3D m_magVect3;
    QVector3D m_acc;
    QVector3D m_gyro;
    QVector3D m_euler;
    QQuaternion m_qQuat;
    // Which quantities have had a sample (Received flags).
    int m_received = 0;
};
