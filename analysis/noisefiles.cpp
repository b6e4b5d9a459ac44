// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisefiles.h"

#include "magunit.h"
#include "record.h"
#include "recordingdecoder.h"

#include <QFile>
#include <QJsonArray>

#include <cmath>

namespace NoiseFiles {
namespace {

constexpr double degToRad = 3.14159265358979323846 / 180;
constexpr double flickerGain = 0.44127462428966972; // 2 ln 2 / pi

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
    const int temperatureColumn = header.indexOf("temperature_C");
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
        if (temperatureColumn >= 0) {
            bool hasTemperature = false;
            const double celsius = cells[temperatureColumn].toDouble(&hasTemperature);
            if (hasTemperature && (s.temperature.empty() || t >= s.temperature.back().first + 1))
                s.temperature.emplace_back(t, celsius);
        }
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
        const double t = double(frame.timeUs) / 1e6;
        if ((frame.present & MeasurementFrame::Temperature)
            && (s.temperature.empty() || t >= s.temperature.back().first + 1))
            s.temperature.emplace_back(t, frame.temperature);
        if ((frame.present & needed) != needed)
            continue; // a frame without these values
        s.input.times.push_back(t);
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

QJsonValue termJson(const NoiseTerm &t)
{
    if (!t.known)
        return QJsonValue::Null;
    return QJsonObject {{QStringLiteral("value"), t.value}, {QStringLiteral("low"), t.low},
        {QStringLiteral("high"), t.high}};
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

} // namespace

bool isMeasurementCsv(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readLine().startsWith("time_s,");
}

Samples readRecording(const QString &path, bool withMag)
{
    return isMeasurementCsv(path) ? readMeasurementCsv(path, withMag)
                                  : readRawRecording(path, withMag);
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

double fittedAdev(const NoiseChannelResult &c, double tau)
{
    double avar = 0;
    if (c.N.known)
        avar += c.N.value * c.N.value / tau;
    if (c.B.known)
        avar += flickerGain * c.B.value * c.B.value;
    if (c.K.known)
        avar += c.K.value * c.K.value * tau / 3;
    return std::sqrt(avar);
}

QByteArray curvesCsv(const NoiseReport &r)
{
    QByteArray out("channel,curve,x,y,low,high\n");
    auto number = [](double v) { return QByteArray::number(v, 'g', 9); };
    for (const NoiseChannelResult &c : r.channels) {
        const QByteArray name = c.name.toUtf8();
        for (const AdevPoint &p : c.adev)
            out += name + ",adev," + number(p.tau) + ',' + number(p.adev) + ',' + number(p.low)
                + ',' + number(p.high) + '\n';
        for (const AdevPoint &p : c.adev)
            out += name + ",fit," + number(p.tau) + ',' + number(fittedAdev(c, p.tau)) + ",,\n";
        for (std::size_t i = 0; i < c.psd.size(); ++i)
            out += name + ",psd," + number(c.psdFrequency[i]) + ',' + number(c.psd[i]) + ",,\n";
    }
    return out;
}

} // namespace NoiseFiles
