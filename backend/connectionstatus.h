// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fullscale.h"

#include "linkcounters.h"

#include <QString>
#include <QTime>
#include <QtGlobal>

#include <deque>

// "Device ID", "Hardware Version" and "Software Version" as read from the
// module in one connection; -1 for a value not read yet.
struct SeenModule
{
    int deviceId = -1;
    int hardwareVersion = -1;
    int softwareVersion = -1;

    bool complete() const { return deviceId >= 0 && hardwareVersion >= 0 && softwareVersion >= 0; }
    bool operator==(const SeenModule &other) const
    {
        return deviceId == other.deviceId && hardwareVersion == other.hardwareVersion
            && softwareVersion == other.softwareVersion;
    }
    bool operator!=(const SeenModule &other) const { return !(*this == other); }
};

// The moving figures of one connection, worked out from the link's counters
// each time they are sampled. The time comes in as an argument (milliseconds
// of a monotonic clock), so that tests set it.
class ConnectionFigures
{
public:
    // Rates are taken over about this long.
    static constexpr qint64 RateWindowMs = 1000;
    // Streaming data that stops for longer than this is reported.
    static constexpr qint64 StallMs = 1000;

    // The link opened: its counters start again from 0.
    void begin(qint64 nowMs);
    void sample(const LinkCounters &counters, qint64 nowMs);

    const LinkCounters &counters() const { return m_counters; }
    // Whole frames and bytes per second over the last RateWindowMs; 0 until two
    // samples are far enough apart to tell.
    int framesPerSecond() const { return m_framesPerSecond; }
    int bytesPerSecond() const { return m_bytesPerSecond; }
    // The module streams (the last "Control1" written or read back is a
    // streaming mode) but no frame came for more than StallMs.
    bool stalled(qint64 nowMs) const;
    // Bytes kept coming while no frame could be cut from them.
    bool bytesWithoutFrames() const { return m_bytesSinceLastFrame; }
    qint64 lastFrameAtMs() const { return m_lastFrameAtMs; }
    bool sawFrame() const { return m_counters.frames > 0; }
    // When the latest status message was first counted; -1 if none came.
    qint64 lastStatusAtMs() const { return m_lastStatusAtMs; }
    qint64 beganAtMs() const { return m_beganAtMs; }

private:
    struct Point
    {
        qint64 atMs;
        quint64 frames;
        quint64 bytes;
    };
    std::deque<Point> m_points;
    LinkCounters m_counters;
    int m_framesPerSecond = 0;
    int m_bytesPerSecond = 0;
    qint64 m_beganAtMs = 0;
    qint64 m_lastFrameAtMs = 0;
    qint64 m_lastStatusAtMs = -1;
    bool m_bytesSinceLastFrame = false;
};

bool isStreamingMode(int control1);

// "ID 0x5A · HW 1442 · SW 210"; a value not read yet shows as "?".
QString identityText(const SeenModule &identity);
// "Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2" from the decoded full scales; a
// range not decoded shows as "?"; empty when none is.
// The magnetometer's range in the unit its numbers are in (magUnitText).
QString rangesText(const FullScales &scales, bool magCalibrated = false);
// The last status message in words: "none" or "0x05 (5) at 12:03:04"; with
// more than one, how many came.
QString statusMessageText(quint64 count, quint8 lastValue, const QTime &at);
// Why the charts stop or stay empty, in words; empty when nothing is wrong.
// `dataProblem` is the backend's text about a value that cannot be decoded.
QString connectionWarning(const ConnectionFigures &figures, qint64 nowMs, const QTime &lastFrameAt,
    const QString &dataProblem, const FullScales &scales);
