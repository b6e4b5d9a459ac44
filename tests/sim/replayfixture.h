// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Raw recordings made from the simulated module's own frames, for the replay
// and CSV tests.

#include "record.h"
#include "simmodule.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

struct TestRecording
{
    RecordingInfo info;
    QVector<qint64> timesUs;
    QVector<QByteArray> chunks;
    QVector<QByteArray> messages; // the frames as the module sent them
    int streamedFrames = 0;

    QByteArray allBytes() const
    {
        QByteArray all;
        for (const QByteArray &c : chunks)
            all += c;
        return all;
    }
    bool write(const QString &path) const
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        RawRecordWriter writer(&file);
        if (!writer.writeHeader(info))
            return false;
        writer.writeNote(0, QStringLiteral("recording started"));
        for (int i = 0; i < chunks.size(); ++i)
            if (!writer.writeChunk(timesUs[i], chunks[i]))
                return false;
        return true;
    }
};

inline RecordingInfo testInfo(quint8 range)
{
    RecordingInfo info;
    info.deviceId = 0x5A;
    info.hardwareVersion = 1442;
    info.softwareVersion = 210;
    info.sensorsRange = range;
    const SimFullScales scales = SimModule::decodeRange(1442, range, SimFullScales {});
    info.accFullScale = float(scales.acc);
    info.gyroFullScale = float(scales.gyro);
    info.magFullScale = float(scales.mag);
    info.startUtc = QDateTime::fromMSecsSinceEpoch(1765000000000, Qt::UTC);
    return info;
}

// The whole map answered at the start, then `frames` streamed frames, each
// stamped with its number, `periodUs` apart; the bytes are cut into chunks of
// `chunkBytes` (0: one chunk per message), so that chunks hold several frames
// or parts of them, as a serial port delivers them.
inline TestRecording streamedRecording(
    int frames, qint64 periodUs, int chunkBytes, quint8 range = 0x15)
{
    SimIdentity identity;
    identity.sensorsRange = range;
    SimModule module(identity);
    module.sensors().setMotion(SimMotion::tumbling(), 0);
    TestRecording r;
    r.info = testInfo(range);
    QVector<QByteArray> messages;
    QVector<qint64> messageTimes;
    messages.append(module.answerRead(0x00, 176, 0));
    messageTimes.append(0);
    module.applyWrite(SimModule::control1Address, QByteArray(1, char(11)));
    for (int i = 0; i < frames; ++i) {
        const double t = double(periodUs) * (i + 1) / 1e6;
        messages.append(module.streamFrame(t, i + 1));
        messageTimes.append(periodUs * (i + 1));
    }
    r.streamedFrames = frames;
    r.messages = messages;
    if (chunkBytes <= 0) {
        r.chunks = messages;
        r.timesUs = messageTimes;
        return r;
    }
    QByteArray all;
    for (const QByteArray &m : messages)
        all += m;
    const qint64 last = messageTimes.last();
    for (int at = 0; at < all.size(); at += chunkBytes) {
        r.chunks.append(all.mid(at, chunkBytes));
        r.timesUs.append(last * qint64(std::min(all.size(), at + chunkBytes)) / all.size());
    }
    return r;
}
