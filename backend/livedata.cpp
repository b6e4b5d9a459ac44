// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata.h"

namespace {

// Single-precision reals in variants, as the chart item reads them.
QVariantList valuesOf(const QVector3D &v)
{
    return {v.x(), v.y(), v.z()};
}

} // namespace

LiveData::LiveData(QObject *parent)
    : QObject(parent)
    , m_magVect3(0, 0, 0)
    , m_qQuat(1, 0, 0, 0)
{ }

void LiveData::setAcc(const QVector3D &sample)
{
    m_accDataList = valuesOf(sample);
    emit accDataListChanged();
}

void LiveData::setGyro(const QVector3D &sample)
{
    m_gyroDataList = valuesOf(sample);
    emit gyroDataListChanged();
}

void LiveData::setMag(const QVector3D &sample)
{
    m_magDataList = valuesOf(sample);
    emit magDataListChanged();
    m_magVect3 = sample;
    emit magVect3Changed();
}

// The 3D box turns with qQuat; the chart shows the components, scalar part first.
void LiveData::setQuaternion(const QQuaternion &orientation)
{
    m_qQuat = orientation;
    emit qQuatChanged();
    m_quatDataList = {orientation.scalar(), orientation.x(), orientation.y(), orientation.z()};
    emit quatDataListChanged();
}

void LiveData::setEuler(const QVector3D &angles)
{
    m_eulerDataList = valuesOf(angles);
    emit eulerDataListChanged();
}
