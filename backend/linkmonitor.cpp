// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkmonitor.h"

#include "registerdecoder.h"
#include "registryitemmodel.h"

#include "comshandler.h"

#include <array>

namespace {
// "Device ID", "Hardware Version" and "Software Version", in SeenModule's order.
constexpr std::array<int, 3> identityAddresses = {RegisterMap::DeviceId.address,
    RegisterMap::HardwareVersion.address, RegisterMap::SoftwareVersion.address};
} // namespace

LinkMonitor::LinkMonitor(ModuleSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    m_clock.start();
    m_sampleTimer.setInterval(SampleIntervalMs);
    connect(&m_sampleTimer, &QTimer::timeout, this, &LinkMonitor::sample);
    connect(
        m_sources.decoder, &RegisterDecoder::dataProblemChanged, this, &LinkMonitor::updateWarning);
    watchIdentityRows();
}

bool LinkMonitor::magCalibrated() const
{
    return m_sources.magCalibrated && m_sources.magCalibrated();
}

void LinkMonitor::watchIdentityRows()
{
    for (RegistryItemModel *row : *m_sources.rows) {
        if (!row)
            continue;
        for (std::size_t i = 0; i < identityAddresses.size(); ++i) {
            if (row->address() == identityAddresses[i])
                connect(row, &RegistryItemModel::dataUpdatedFromModule, this, [this, row, i] {
                    const int value = row->data().toInt();
                    if (i == 0)
                        m_identity.deviceId = value;
                    else if (i == 1)
                        m_identity.hardwareVersion = value;
                    else
                        m_identity.softwareVersion = value;
                    updateShown();
                    emit identityRead();
                });
        }
    }
}

void LinkMonitor::opened(const QString &port)
{
    m_openPort = port;
    m_identity = SeenModule();
    m_figures.begin(now());
    m_lastFrameClock = QTime::currentTime();
    m_lastStatusClock = QTime();
    m_sampleTimer.start();
}

void LinkMonitor::failed()
{
    m_openPort.clear();
    m_sampleTimer.stop();
    update();
}

void LinkMonitor::closed(const QString &port)
{
    if (port == m_openPort) {
        m_openPort.clear();
        m_sampleTimer.stop();
    }
    update();
}

void LinkMonitor::update()
{
    updateShown();
    updateWarning();
}

void LinkMonitor::sample()
{
    const qint64 lastFrame = m_figures.lastFrameAtMs();
    const qint64 lastStatus = m_figures.lastStatusAtMs();
    m_figures.sample(m_sources.coms->linkCounters(), now());
    if (m_figures.lastFrameAtMs() != lastFrame)
        m_lastFrameClock = QTime::currentTime();
    if (m_figures.lastStatusAtMs() != lastStatus)
        m_lastStatusClock = QTime::currentTime();
    update();
}

void LinkMonitor::updateShown()
{
    Shown shown;
    shown.linkOpen = !m_openPort.isEmpty();
    if (shown.linkOpen) {
        const LinkCounters &counters = m_figures.counters();
        shown.port = m_openPort;
        if (m_identity.deviceId >= 0 || m_identity.hardwareVersion >= 0
            || m_identity.softwareVersion >= 0)
            shown.identity = identityText(m_identity);
        shown.ranges = rangesText(m_sources.decoder->fullScales(), magCalibrated());
        shown.framesPerSecond = m_figures.framesPerSecond();
        shown.bytesPerSecond = m_figures.bytesPerSecond();
        shown.cutFrames = qint64(counters.cutFrames);
        shown.noiseBytes = qint64(counters.noiseBytes);
        shown.samplesNotShown = qint64(counters.framesNotDispatched);
        shown.statusMessage
            = statusMessageText(counters.statusMessages, counters.lastStatus, m_lastStatusClock);
    }
    if (shown == m_shown)
        return;
    m_shown = shown;
    emit figuresChanged();
}

void LinkMonitor::updateWarning()
{
    QString warning;
    if (!m_openPort.isEmpty())
        warning = connectionWarning(m_figures, now(), m_lastFrameClock,
            m_sources.decoder->dataProblem(), m_sources.decoder->fullScales());
    if (warning == m_warning)
        return;
    m_warning = warning;
    emit warningChanged();
}
