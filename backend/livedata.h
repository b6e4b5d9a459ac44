// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QQuaternion>
#include <QVariantList>
#include <QVector3D>

// The latest sample of each live quantity, as the charts and the 3D view bind to
// it. Each list holds only the latest sample and is replaced as a whole, its change
// signal once per sample; the charts keep their own history. GUI thread only.
class LiveData : public QObject
{
    Q_OBJECT

public:
    explicit LiveData(QObject *parent = nullptr);

    QQuaternion qQuat() const { return m_qQuat; }
    QVariantList quatDataList() const { return m_quatDataList; }
    QVariantList eulerDataList() const { return m_eulerDataList; }
    QVariantList accDataList() const { return m_accDataList; }
    QVariantList gyroDataList() const { return m_gyroDataList; }
    QVariantList magDataList() const { return m_magDataList; }
    QVector3D magVect3() const { return m_magVect3; }

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
    QVector3D m_magVect3;
    QVariantList m_quatDataList;
    QVariantList m_eulerDataList;
    QVariantList m_accDataList;
    QVariantList m_gyroDataList;
    QVariantList m_magDataList;
    QQuaternion m_qQuat;
};
