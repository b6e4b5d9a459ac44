// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata.h"

namespace {

// Single-precision reals in variants, as the chart item reads them.
QVariantList valuesOf(const QVector3D &v, bool received)
{
    if (!received)
        return {};
    return {v.x(), v.y(), v.z()};
}

} // namespace

LiveData::LiveData(QObject *parent)
    : QObject(parent)
    , m_magVect3(0, 0, 0)
    , m_qQuat(1, 0, 0, 0)
{ }

QVariantList LiveData::accDataList() const
{
    return valuesOf(m_acc, m_received & Acc);
}

QVariantList LiveData::gyroDataList() const
{
    return valuesOf(m_gyro, m_received & Gyro);
}

QVariantList LiveData::magDataList() const
{
    return valuesOf(m_magVect3, m_received & Mag);
}

QVariantList LiveData::eulerDataList() const
{
    return valuesOf(m_euler, m_received & Euler);
}

// The chart shows the components, scalar part first.
QVariantList LiveData::quatDataList() const
{
    if (!(m_received & Quat))
        return {};
    return {m_qQuat.scalar(), m_qQuat.x(), m_qQuat.y(), m_qQuat.z()};
}

void LiveData::setAcc(const QVector3D &sample)
{
    m_acc = sample;
    m_received |= Acc;
    emit accDataListChanged();
}

void LiveData::setGyro(const QVector3D &sample)
{
    m_gyro = sample;
    m_received |= Gyro;
    emit gyroDataListChanged();
}

void LiveData::setMag(const QVector3D &sample)
{
    m_magVect3 = sample;
    m_received |= Mag;
    emit magDataListChanged();
    emit magVect3Changed();
}

void LiveData::setQuaternion(const QQuaternion &orientation)
{
    m_qQuat = orientation;
    m_received |= Quat;
    emit qQuatChanged();
    emit quatDataListChanged();
}

void LiveData::setEuler(const QVector3D &angles)
{
    m_euler = angles;
    m_received |= Euler;
    emit eulerDataListChanged();
}
