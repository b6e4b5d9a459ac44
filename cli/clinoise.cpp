// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli noise: noise densities, bias instability and random walks from
// a resting recording (a raw recording, a CSV the tool wrote, or a port
// measured now).
#include "clicommand.h"

#include "magunit.h"
#include "noiseanalysis.h"
#include "noisefiles.h"
#include "record.h"
#include "recordingdecoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cmath>

namespace Cli {
namespace {

QString termText(const NoiseTerm &t, const QString &unit)
{
    if (!t.known)
        return QStringLiteral("- (%1)").arg(t.reason);
    return QStringLiteral("%1 [%2, %3] %4")
        .arg(t.value, 0, 'g', 4)
        .arg(t.low, 0, 'g', 4)
        .arg(t.high, 0, 'g', 4)
        .arg(unit);
}

} // namespace

int Command::noise()
{
    const QString where = QStringLiteral("noise");
    const bool withMag = m_parser.isSet(QStringLiteral("mag"));
    double seconds = 60;
    if (m_parser.isSet(QStringLiteral("seconds"))) {
        bool ok = false;
        seconds = m_parser.value(QStringLiteral("seconds")).toDouble(&ok);
        if (!ok || !(seconds >= 10 && seconds <= 86400))
            return fail(CliExit::Usage, where,
                QStringLiteral("--seconds takes a number of seconds from 10 to 86400"));
    }
    const QString yamlPath = m_parser.value(QStringLiteral("yaml"));
    if (!yamlPath.isEmpty() && QFileInfo(yamlPath).exists() && !QFileInfo(yamlPath).isFile())
        return fail(CliExit::Refused, yamlPath, QStringLiteral("is not a regular file"));

    const QString source = arg(0);
    const QFileInfo info(source);
    NoiseFiles::Samples samples;
    if (info.isFile()) {
        samples = NoiseFiles::readRecording(source, withMag);
    } else {
        // A port: record at rest for --seconds, as `record` does, then analyse.
        const ModuleSnapshot module = readModule(Decoding::Decoded);
        if (!module.ok())
            return module.status;
        QTemporaryFile raw(QDir::temp().filePath(QStringLiteral("velmar-cli-XXXXXX.velmarec")));
        if (!raw.open())
            return fail(CliExit::Failure, raw.fileTemplate(), raw.errorString());
        RecordingInfo rec;
        rec.deviceId = module.identity.deviceId;
        rec.hardwareVersion = module.identity.hardwareVersion;
        rec.softwareVersion = module.identity.softwareVersion;
        rec.sensorsRange = module.image[RegisterMap::SensorsRange.address];
        rec.accFullScale = module.decoder->accFullScale();
        rec.gyroFullScale = module.decoder->gyroFullScale();
        rec.magFullScale = module.decoder->magFullScale();
        rec.magCalibrated = magCalibrated(&module.image[RegisterMap::MagCalibration.address]);
        rec.startUtc = QDateTime::currentDateTimeUtc();
        RawRecordWriter writer(&raw);
        bool written = writer.writeHeader(rec);
        qint64 startUs = -1;
        m_link.setFrameTap([&](qint64 timeUs, const QByteArray &frame) {
            if (startUs < 0)
                startUs = timeUs;
            written = writer.writeChunk(timeUs - startUs, frame) && written;
        });
        const quint8 before = module.image[RegisterMap::Control1.address];
        m_link.write(RegisterMap::Control1.address, QByteArray(1, char(RegisterMap::StreamingAll)));
        ModuleLink::pause(int(seconds * 1000));
        QByteArray held;
        const bool restored = m_link.writeAndReadBack(
            RegisterMap::Control1.address, QByteArray(1, char(before)), &held);
        m_link.setFrameTap(nullptr);
        if (!restored)
            return linkFailure();
        if (!written || !raw.flush())
            return fail(CliExit::Failure, raw.fileName(), raw.errorString());
        samples = NoiseFiles::readRecording(raw.fileName(), withMag);
    }
    if (!samples.error.isEmpty())
        return fail(CliExit::Failure, source, samples.error);

    const NoiseReport report = analyseNoise(samples.input);
    if (!report.ok)
        return fail(CliExit::Refused, source, report.error);

    if (!yamlPath.isEmpty()) {
        QSaveFile file(yamlPath);
        const QByteArray text = NoiseFiles::yamlText(report).toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            return fail(CliExit::Failure, yamlPath, file.errorString());
    }
    if (m_json) {
        printJson(NoiseFiles::reportJson(report));
        return CliExit::Ok;
    }
    out() << QStringLiteral("%1 s at %2 Hz; 90 % intervals in brackets\n")
                 .arg(report.durationS, 0, 'f', 1)
                 .arg(report.rateHz, 0, 'f', 2);
    for (const NoiseChannelResult &c : report.channels)
        out() << QStringLiteral("%1 (%2)\n  N %3\n  B %4\n  K %5\n")
                     .arg(c.name, c.unit, termText(c.N, c.unit + QStringLiteral("/sqrt(Hz)")),
                         termText(c.B, c.unit),
                         termText(c.K, c.unit + QStringLiteral("*sqrt(Hz)")));
    if (!report.warning.isEmpty())
        out() << QStringLiteral("warning: %1\n").arg(report.warning);
    if (!yamlPath.isEmpty())
        out() << QStringLiteral("YAML written to %1\n").arg(yamlPath);
    return CliExit::Ok;
}

} // namespace Cli
