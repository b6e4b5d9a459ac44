// The three guided calibrations. The buttons advance their procedure here; the
// sensor handlers hand every scaled sample to the branches below.
#include "durUzaBackend.h"

#include <QDebug>

void DurUzaBackend::accCalButton()
{
    ++m_accCalStage;
    qDebug() << "Stage: " << m_accCalStage;
}

void DurUzaBackend::gyroCalButton()
{
    m_gyroCalActive = true;
}

void DurUzaBackend::magCalButton()
{
    ++m_magCalStage;
}

// The procedures that consume the samples are not written yet; the handlers already
// call these after their live path, so only the bodies will change.
void DurUzaBackend::accCalibrationSample(float, float, float) { }

void DurUzaBackend::gyroCalibrationSample(float, float, float) { }

void DurUzaBackend::magCalibrationSample(float, float, float) { }
