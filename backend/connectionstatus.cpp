// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionstatus.h"

#include "magunit.h"
#include "registermap.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>

namespace {
// How long a connection may take to bring its first ranges: the whole-map read
// goes out at once and is answered in well under this.
constexpr qint64 rangesExpectedWithinMs = 2500;

QString tr(const char *text)
{
    return QCoreApplication::translate("ConnectionStatus", text);
}

QString hex2(int value)
{
    return QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString number(float value)
{
    return QString::number(double(value), 'g', 6);
}
} // namespace

void ConnectionFigures::begin(qint64 nowMs)
{
    m_points.clear();
    m_counters = LinkCounters();
    m_framesPerSecond = 0;
    m_bytesPerSecond = 0;
    m_beganAtMs = nowMs;
    m_lastFrameAtMs = nowMs;
    m_lastStatusAtMs = -1;
    m_bytesSinceLastFrame = false;
    m_points.push_back({nowMs, 0, 0});
}

void ConnectionFigures::sample(const LinkCounters &counters, qint64 nowMs)
{
    if (counters.frames != m_counters.frames) {
        m_lastFrameAtMs = nowMs;
        m_bytesSinceLastFrame = false;
    } else if (counters.bytesReceived != m_counters.bytesReceived) {
        m_bytesSinceLastFrame = true;
    }
    if (counters.statusMessages != m_counters.statusMessages)
        m_lastStatusAtMs = nowMs;
    m_counters = counters;

    m_points.push_back({nowMs, counters.frames, counters.bytesReceived});
    // Keep one point at or before the window's start as the base.
    while (m_points.size() > 2 && nowMs - m_points[1].atMs >= RateWindowMs)
        m_points.pop_front();
    const Point &base = m_points.front();
    const qint64 spanMs = nowMs - base.atMs;
    // Too short a span gives jumpy figures.
    if (spanMs < RateWindowMs / 2)
        return;
    const double seconds = double(spanMs) / 1000.0;
    m_framesPerSecond = int(std::lround(double(counters.frames - base.frames) / seconds));
    m_bytesPerSecond = int(std::lround(double(counters.bytesReceived - base.bytes) / seconds));
}

bool ConnectionFigures::stalled(qint64 nowMs) const
{
    return isStreamingMode(m_counters.streamingMode) && nowMs - m_lastFrameAtMs > StallMs;
}

bool isStreamingMode(int control1)
{
    for (const RegisterMap::StreamedBlock &streamed : RegisterMap::StreamedBlocks) {
        if (streamed.mode == control1)
            return true;
    }
    return false;
}

QString identityText(const SeenModule &identity)
{
    const auto part
        = [](int value, const QString &shown) { return value < 0 ? QStringLiteral("?") : shown; };
    return tr("ID %1 · HW %2 · SW %3")
        .arg(part(identity.deviceId, QStringLiteral("0x") + hex2(identity.deviceId)),
            part(identity.hardwareVersion, QString::number(identity.hardwareVersion)),
            part(identity.softwareVersion, QString::number(identity.softwareVersion)));
}

QString rangesText(const FullScales &scales, bool magCalibrated)
{
    if (!(scales.acc > 0) && !(scales.gyro > 0) && !(scales.mag > 0))
        return QString();
    const auto range = [](float fullScale, const QString &unit) {
        if (!(fullScale > 0))
            return QStringLiteral("?");
        return QStringLiteral("±") + number(fullScale) + unit;
    };
    return tr("Acc %1 · Gyro %2 · Mag %3")
        .arg(range(scales.acc, QStringLiteral(" m/s²")), range(scales.gyro, QStringLiteral(" °/s")),
            range(scales.mag, QLatin1Char(' ') + magUnitText(magCalibrated)));
}

QString statusMessageText(quint64 count, quint8 lastValue, const QTime &at)
{
    if (count == 0)
        return tr("none");
    QString text = tr("0x%1 (%2) at %3")
                       .arg(hex2(lastValue))
                       .arg(lastValue)
                       .arg(at.toString(QStringLiteral("HH:mm:ss")));
    if (count > 1)
        text += tr(", %1 since connect").arg(count);
    return text;
}

QString connectionWarning(const ConnectionFigures &figures, qint64 nowMs, const QTime &lastFrameAt,
    const QString &dataProblem, const FullScales &scales)
{
    QStringList warnings;
    if (!dataProblem.isEmpty())
        warnings << dataProblem;
    if (figures.stalled(nowMs)) {
        const QString since = figures.sawFrame()
            ? tr("since %1").arg(lastFrameAt.toString(QStringLiteral("HH:mm:ss")))
            : tr("since connect");
        if (figures.bytesWithoutFrames())
            warnings << tr("Bytes arrive but no frame could be cut from them %1: is this the "
                           "module, at 115200 baud?")
                            .arg(since);
        else
            warnings << tr("No data from the module %1 (more than a second).").arg(since);
    } else if (dataProblem.isEmpty() && figures.sawFrame()
        && nowMs - figures.beganAtMs() > rangesExpectedWithinMs
        && (!(scales.acc > 0) || !(scales.gyro > 0) || !(scales.mag > 0))) {
        QStringList missing;
        if (!(scales.acc > 0))
            missing << tr("accelerometer");
        if (!(scales.gyro > 0))
            missing << tr("gyroscope");
        if (!(scales.mag > 0))
            missing << tr("magnetometer");
        warnings << tr(
            "The %1 range is not known yet (\"Sensors Range\" not read): its samples are "
            "not shown.")
                        .arg(missing.join(tr(" and ")));
    }
    return warnings.join(QLatin1Char('\n'));
}
