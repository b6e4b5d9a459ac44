// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli noise: noise densities, bias instability and random walks from
// a resting recording (a raw recording, a CSV the tool wrote, or a port
// measured now).
#include "clicommand.h"

#include "magunit.h"
#include "noiseanalysis.h"
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

constexpr double degToRad = 3.14159265358979323846 / 180;

struct Samples
{
    NoiseInput input;
    QString error;
};

// Reads the measurement CSV the tool writes: the rows that carry every
// wanted channel, with their times.
Samples readMeasurementCsv(const QString &path, bool withMag)
{
    Samples s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        s.error = file.errorString();
        return s;
    }
    const QList<QByteArray> header = file.readLine().trimmed().split(',');
    struct Column
    {
        const char *header;
        const char *name;
        const char *unit;
        NoiseChannel::Kind kind;
    };
    std::vector<Column> wanted = {{"gyro_x_deg/s", "gyro_x", "deg/s", NoiseChannel::Gyro},
        {"gyro_y_deg/s", "gyro_y", "deg/s", NoiseChannel::Gyro},
        {"gyro_z_deg/s", "gyro_z", "deg/s", NoiseChannel::Gyro},
        {"acc_x_m/s2", "acc_x", "m/s^2", NoiseChannel::Acc},
        {"acc_y_m/s2", "acc_y", "m/s^2", NoiseChannel::Acc},
        {"acc_z_m/s2", "acc_z", "m/s^2", NoiseChannel::Acc}};
    if (withMag)
        for (const char *axis : {"mag_x", "mag_y", "mag_z"})
            wanted.push_back({axis, axis, "full scale", NoiseChannel::Mag});
    // The magnetometer's columns carry their unit after the axis ("mag_x_gauss").
    auto columnOf = [&header](const Column &c) {
        if (c.kind != NoiseChannel::Mag)
            return int(header.indexOf(c.header));
        const QByteArray prefix = QByteArray(c.header) + '_';
        for (int i = 0; i < header.size(); ++i)
            if (header[i] == c.header || header[i].startsWith(prefix))
                return i;
        return -1;
    };
    std::vector<int> index;
    const int timeColumn = header.indexOf("time_s");
    for (const Column &c : wanted) {
        index.push_back(columnOf(c));
        if (index.back() < 0 || timeColumn < 0) {
            s.error = QStringLiteral("not a measurement CSV of this tool (no column %1)")
                          .arg(QLatin1String(timeColumn < 0 ? "time_s" : c.header));
            return s;
        }
        s.input.channels.push_back({QLatin1String(c.name), QLatin1String(c.unit), c.kind, {}});
    }
    qint64 line = 1;
    while (!file.atEnd()) {
        const QByteArray text = file.readLine();
        ++line;
        const QList<QByteArray> cells = text.trimmed().split(',');
        if (cells.size() != header.size()) {
            s.error = QStringLiteral("line %1 has %2 cells, the header %3")
                          .arg(line)
                          .arg(cells.size())
                          .arg(header.size());
            return s;
        }
        bool complete = true;
        float values[9];
        for (std::size_t k = 0; k < index.size() && complete; ++k) {
            const QByteArray &cell = cells[index[k]];
            values[k] = cell.toFloat(&complete);
        }
        if (!complete)
            continue; // a frame without these values
        bool ok = false;
        const double t = cells[timeColumn].toDouble(&ok);
        if (!ok) {
            s.error = QStringLiteral("line %1: the time is not a number").arg(line);
            return s;
        }
        s.input.times.push_back(t);
        for (std::size_t k = 0; k < index.size(); ++k)
            s.input.channels[k].values.push_back(values[k]);
    }
    return s;
}

// Raw recordings are decoded as they stream from the file, by the link's own
// rules; only frames carrying every wanted channel become samples.
Samples readRawRecording(const QString &path, bool withMag)
{
    Samples s;
    decode::RecordingDecoder decoder;
    if (!decoder.open(path)) {
        s.error = decoder.error();
        return s;
    }
    const QString magUnit = magUnitText(decoder.info().magCalibrated);
    const struct
    {
        const char *name;
        QString unit;
        NoiseChannel::Kind kind;
    } wanted[] = {{"gyro_x", QStringLiteral("deg/s"), NoiseChannel::Gyro},
        {"gyro_y", QStringLiteral("deg/s"), NoiseChannel::Gyro},
        {"gyro_z", QStringLiteral("deg/s"), NoiseChannel::Gyro},
        {"acc_x", QStringLiteral("m/s^2"), NoiseChannel::Acc},
        {"acc_y", QStringLiteral("m/s^2"), NoiseChannel::Acc},
        {"acc_z", QStringLiteral("m/s^2"), NoiseChannel::Acc},
        {"mag_x", magUnit, NoiseChannel::Mag}, {"mag_y", magUnit, NoiseChannel::Mag},
        {"mag_z", magUnit, NoiseChannel::Mag}};
    const int channels = withMag ? 9 : 6;
    for (int k = 0; k < channels; ++k)
        s.input.channels.push_back(
            {QLatin1String(wanted[k].name), wanted[k].unit, wanted[k].kind, {}});
    const unsigned needed = MeasurementFrame::Gyro | MeasurementFrame::Acc
        | (withMag ? unsigned(MeasurementFrame::Mag) : 0u);
    MeasurementFrame frame;
    while (decoder.next(&frame)) {
        if ((frame.present & needed) != needed)
            continue; // a frame without these values
        s.input.times.push_back(double(frame.timeUs) / 1e6);
        for (int k = 0; k < 3; ++k) {
            s.input.channels[std::size_t(k)].values.push_back(frame.gyro[std::size_t(k)]);
            s.input.channels[std::size_t(3 + k)].values.push_back(frame.acc[std::size_t(k)]);
            if (withMag)
                s.input.channels[std::size_t(6 + k)].values.push_back(frame.mag[std::size_t(k)]);
        }
    }
    if (!decoder.error().isEmpty() && s.input.times.empty())
        s.error = decoder.error();
    return s;
}

bool isMeasurementCsv(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readLine().startsWith("time_s,");
}

QJsonValue termJson(const NoiseTerm &t)
{
    if (!t.known)
        return QJsonValue::Null;
    return QJsonObject {{QStringLiteral("value"), t.value}, {QStringLiteral("low"), t.low},
        {QStringLiteral("high"), t.high}};
}

QJsonObject reportJson(const NoiseReport &r)
{
    QJsonArray channels;
    for (const NoiseChannelResult &c : r.channels) {
        QJsonArray adev;
        for (const AdevPoint &p : c.adev)
            adev.append(QJsonArray {p.tau, p.adev, p.low, p.high});
        QJsonObject reasons;
        const std::pair<const char *, const NoiseTerm *> terms[3]
            = {{"N", &c.N}, {"B", &c.B}, {"K", &c.K}};
        QJsonObject channel {{QStringLiteral("name"), c.name}, {QStringLiteral("unit"), c.unit},
            {QStringLiteral("adev"), adev}};
        for (const auto &[name, term] : terms) {
            channel.insert(QLatin1String(name), termJson(*term));
            if (!term->known)
                reasons.insert(QLatin1String(name), term->reason);
        }
        if (!reasons.isEmpty())
            channel.insert(QStringLiteral("reasons"), reasons);
        channel.insert(QStringLiteral("psd_N"), c.psdN);
        channels.append(channel);
    }
    QJsonObject o {{QStringLiteral("duration_s"), r.durationS},
        {QStringLiteral("rate_hz"), r.rateHz}, {QStringLiteral("channels"), channels}};
    if (!r.warning.isEmpty())
        o.insert(QStringLiteral("warning"), r.warning);
    return o;
}

// The largest known value over a sensor's three axes, converted to SI; when
// no axis knows it, the most the data allow, said so in the comment.
QString yamlTerm(const NoiseReport &r, NoiseChannel::Kind kind, NoiseTerm NoiseChannelResult::*term,
    double toSi, const char *unit)
{
    double known = -1, bound = 0;
    for (const NoiseChannelResult &c : r.channels) {
        if (c.kind != kind)
            continue;
        const NoiseTerm &t = c.*term;
        if (t.known)
            known = std::max(known, t.value);
        bound = std::max(bound, t.high);
    }
    if (known >= 0)
        return QStringLiteral("%1  # %2").arg(known * toSi, 0, 'g', 6).arg(QLatin1String(unit));
    return QStringLiteral("%1  # %2, upper bound: not resolved in this recording")
        .arg(bound * toSi, 0, 'g', 6)
        .arg(QLatin1String(unit));
}

QString yamlText(const NoiseReport &r)
{
    return QStringLiteral(
        "# IMU noise from velmar-cli noise: %1 s at rest; the largest axis of each "
        "sensor, SI units.\n"
        "update_rate: %2  # Hz\n"
        "accelerometer_noise_density: %3\n"
        "accelerometer_random_walk: %4\n"
        "gyroscope_noise_density: %5\n"
        "gyroscope_random_walk: %6\n")
        .arg(r.durationS, 0, 'f', 1)
        .arg(r.rateHz, 0, 'f', 3)
        .arg(yamlTerm(r, NoiseChannel::Acc, &NoiseChannelResult::N, 1, "m/s^2/sqrt(Hz)"),
            yamlTerm(r, NoiseChannel::Acc, &NoiseChannelResult::K, 1, "m/s^3/sqrt(Hz)"),
            yamlTerm(r, NoiseChannel::Gyro, &NoiseChannelResult::N, degToRad, "rad/s/sqrt(Hz)"),
            yamlTerm(r, NoiseChannel::Gyro, &NoiseChannelResult::K, degToRad, "rad/s^2/sqrt(Hz)"));
}

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
    Samples samples;
    if (info.isFile()) {
        samples = isMeasurementCsv(source) ? readMeasurementCsv(source, withMag)
                                           : readRawRecording(source, withMag);
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
        samples = readRawRecording(raw.fileName(), withMag);
    }
    if (!samples.error.isEmpty())
        return fail(CliExit::Failure, source, samples.error);

    const NoiseReport report = analyseNoise(samples.input);
    if (!report.ok)
        return fail(CliExit::Refused, source, report.error);

    if (!yamlPath.isEmpty()) {
        QSaveFile file(yamlPath);
        const QByteArray text = yamlText(report).toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            return fail(CliExit::Failure, yamlPath, file.errorString());
    }
    if (m_json) {
        printJson(reportJson(report));
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
