// SPDX-License-Identifier: GPL-3.0-or-later
#include "simcontrol.h"

#include "modulesimulator.h"

#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const char *const helpText
    = "pose z-up|z-down|y-up|y-down|x-up|x-down [heading-deg]  hold still in a pose\n"
      "rotate x|y|z <deg/s>        turn about a body axis, from the current pose\n"
      "tumble                      turn through every direction within a minute\n"
      "errors on|off               sensor errors and noise (off: ideal sensor)\n"
      "seed <n> [rotated]          draw new sensor errors; rotated: soft iron off the axes\n"
      "rate <frames/s>             streaming rate\n"
      "range <byte>                \"Sensors Range\" (decimal or 0x..)\n"
      "hw <version>                \"Hardware Version\", 1442 or 2542\n"
      "noise <chance> [max-bytes]  noise bursts between messages\n"
      "split <chance>              messages in several chunks\n"
      "truncate <chance>           data frames cut short\n"
      "status <chance>             status messages EE v\n"
      "raw-noise on|off            noise bursts with any byte, 0xBB and 0xEE included\n"
      "header-noise <chance>       noise shaped as a frame header (BB a n) before a message\n"
      "cut <chance>                data frames cut short, the next message right after\n"
      "faults off                  no line faults\n"
      "stall <ms>                  the line goes quiet\n"
      "vanish [ms]                 pull the cable; back after ms, or at \"replug\"\n"
      "replug                      plug the cable in again\n"
      "stamp on|off                sequence numbers in raw \"Gyroscope X\"\n"
      "stats                       counters\n"
      "truth                       true orientation and sensor values now\n"
      "truth noise                 the noise model's terms (N, B, K per axis) at the stream rate\n"
      "help                        this list\n"
      "quit                        stop the simulator\n";

} // namespace

bool parseSimPose(const QString &name, SimPose *pose)
{
    static const struct
    {
        const char *name;
        SimPose pose;
    } poses[] = {{"z-up", SimPose::ZUp}, {"z-down", SimPose::ZDown}, {"y-up", SimPose::YUp},
        {"y-down", SimPose::YDown}, {"x-up", SimPose::XUp}, {"x-down", SimPose::XDown}};
    for (const auto &p : poses) {
        if (name.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0) {
            *pose = p.pose;
            return true;
        }
    }
    return false;
}

namespace {

constexpr quint64 maxNoiseBurst = 4096;

QString numberText(double v)
{
    return QString::number(v, 'g', 10);
}

QString triple(const std::array<double, 3> &v)
{
    return QStringLiteral("%1 %2 %3")
        .arg(v[0], 0, 'f', 4)
        .arg(v[1], 0, 'f', 4)
        .arg(v[2], 0, 'f', 4);
}

SimControlReply fail(const QString &why)
{
    return {false, false, why};
}

} // namespace

QString simControlHelp()
{
    return QString::fromLatin1(helpText);
}

bool parseSimNumber(const QString &text, double low, double high, double *value, QString *why)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    // toDouble takes "nan" and "inf"; neither is a rate, a chance or an angle.
    if (!ok || !std::isfinite(v) || v < low || v > high) {
        if (why)
            *why = QStringLiteral("%1 is not a number from %2 to %3")
                       .arg(text, numberText(low), numberText(high));
        return false;
    }
    *value = v;
    return true;
}

bool parseSimWhole(
    const QString &text, quint64 low, quint64 high, quint64 *value, QString *why, int base)
{
    bool ok = false;
    const quint64 v = text.toULongLong(&ok, base);
    if (!ok || v < low || v > high) {
        if (why)
            *why = QStringLiteral("%1 is not a whole number from %2 to %3")
                       .arg(text)
                       .arg(low)
                       .arg(high);
        return false;
    }
    *value = v;
    return true;
}

std::vector<SimControlLineReader::Line> SimControlLineReader::feed(const char *data, int size)
{
    std::vector<Line> lines;
    const char *const end = data + size;
    while (data < end) {
        const auto *newline
            = static_cast<const char *>(std::memchr(data, '\n', std::size_t(end - data)));
        const char *const stop = newline ? newline : end;
        if (!m_discarding) {
            if (m_line.size() + (stop - data) > maxLength) {
                m_discarding = true;
                m_line.clear();
                lines.push_back({QString(), true});
            } else {
                m_line.append(data, int(stop - data));
            }
        }
        if (!newline)
            break;
        if (!m_discarding)
            lines.push_back({QString::fromUtf8(m_line), false});
        m_line.clear();
        m_discarding = false;
        data = newline + 1;
    }
    return lines;
}

SimControlReply runControlLine(ModuleSimulator &sim, const QString &line)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty() || w[0].startsWith(QLatin1Char('#')))
        return {};
    const QString cmd = w[0].toLower();
    const int args = w.size() - 1;
    QString why;
    // Each refusal names the value and what was expected; nothing changes then.
    auto number = [&why](const QString &text, double low, double high, double *value) {
        return parseSimNumber(text, low, high, value, &why);
    };
    auto whole = [&why](const QString &text, quint64 low, quint64 high, quint64 *value,
                     int base = 10) { return parseSimWhole(text, low, high, value, &why, base); };
    constexpr quint64 longestMs = 2147483647;

    if (cmd == QLatin1String("pose") && args >= 1) {
        SimPose pose;
        if (!parseSimPose(w[1], &pose))
            return fail(QStringLiteral("unknown pose %1").arg(w[1]));
        double heading = 0;
        if (args >= 2 && !number(w[2], -360, 360, &heading))
            return fail(QStringLiteral("bad heading: ") + why);
        sim.setMotion(SimMotion::still(pose, heading));
    } else if (cmd == QLatin1String("rotate") && args == 2) {
        const QString axis = w[1].toLower();
        if (axis != QLatin1String("x") && axis != QLatin1String("y") && axis != QLatin1String("z"))
            return fail(QStringLiteral("usage: rotate x|y|z <deg/s>"));
        double rate;
        if (!number(w[2], -simMaxTurnRate, simMaxTurnRate, &rate))
            return fail(QStringLiteral("bad turn rate: ") + why);
        std::array<double, 3> a {0, 0, 0};
        a[std::size_t(axis[0].unicode() - 'x')] = 1;
        const SimMotion now = sim.motion();
        sim.setMotion(SimMotion::rotating(now.pose, a, rate));
    } else if (cmd == QLatin1String("tumble") && args == 0) {
        sim.setMotion(SimMotion::tumbling());
    } else if (cmd == QLatin1String("errors") && args == 1
        && (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
        sim.setSensorErrorsEnabled(w[1] == QLatin1String("on"));
    } else if (cmd == QLatin1String("seed") && args >= 1) {
        quint64 seed;
        if (!whole(w[1], 0, std::numeric_limits<quint64>::max(), &seed))
            return fail(QStringLiteral("bad seed: ") + why);
        sim.setSensorErrors(
            SimSensorErrors::generate(seed, args >= 2 && w[2] == QLatin1String("rotated")));
    } else if (cmd == QLatin1String("rate") && args == 1) {
        double rate;
        if (!number(w[1], ModuleSimulator::minStreamRate, ModuleSimulator::maxStreamRate, &rate))
            return fail(QStringLiteral("bad rate: ") + why);
        sim.setStreamRate(rate);
    } else if (cmd == QLatin1String("range") && args == 1) {
        quint64 range;
        if (!whole(w[1], 0, 255, &range, 0))
            return fail(QStringLiteral("bad range byte: ") + why);
        sim.setSensorsRange(quint8(range));
    } else if (cmd == QLatin1String("hw") && args == 1) {
        quint64 version;
        if (!whole(w[1], 0, 65535, &version))
            return fail(QStringLiteral("bad hardware version: ") + why);
        sim.setHardwareVersion(quint16(version));
    } else if ((cmd == QLatin1String("noise") || cmd == QLatin1String("split")
                   || cmd == QLatin1String("truncate") || cmd == QLatin1String("status")
                   || cmd == QLatin1String("header-noise") || cmd == QLatin1String("cut"))
        && (args == 1 || (args == 2 && cmd == QLatin1String("noise")))) {
        double chance;
        if (!number(w[1], 0, 1, &chance))
            return fail(QStringLiteral("bad chance: ") + why);
        SimFaults f = sim.faults();
        if (cmd == QLatin1String("noise")) {
            quint64 most = quint64(f.noiseMaxBytes);
            if (args >= 2 && !whole(w[2], 1, maxNoiseBurst, &most))
                return fail(QStringLiteral("bad burst length: ") + why);
            f.noiseChance = chance;
            f.noiseMaxBytes = int(most);
        } else if (cmd == QLatin1String("split")) {
            f.splitChance = chance;
        } else if (cmd == QLatin1String("truncate")) {
            f.truncateChance = chance;
        } else if (cmd == QLatin1String("header-noise")) {
            f.headerNoiseChance = chance;
        } else if (cmd == QLatin1String("cut")) {
            f.cutChance = chance;
        } else {
            f.statusChance = chance;
        }
        sim.setFaults(f);
    } else if (cmd == QLatin1String("raw-noise") && args == 1
        && (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
        SimFaults f = sim.faults();
        f.rawNoise = w[1] == QLatin1String("on");
        sim.setFaults(f);
    } else if (cmd == QLatin1String("faults") && args == 1 && w[1] == QLatin1String("off")) {
        SimFaults f;
        f.seed = sim.faults().seed;
        sim.setFaults(f);
    } else if (cmd == QLatin1String("stall") && args == 1) {
        quint64 ms;
        if (!whole(w[1], 0, longestMs, &ms))
            return fail(QStringLiteral("bad duration: ") + why);
        sim.stall(int(ms));
    } else if (cmd == QLatin1String("vanish") && args <= 1) {
        quint64 ms = 0;
        if (args == 1 && !whole(w[1], 0, longestMs, &ms))
            return fail(QStringLiteral("bad duration: ") + why);
        sim.unplug(args == 1 ? int(ms) : -1);
    } else if (cmd == QLatin1String("replug") && args == 0) {
        sim.replug();
        return {true, false, sim.slavePath()};
    } else if (cmd == QLatin1String("stamp") && args == 1
        && (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
        sim.setSequenceStamp(w[1] == QLatin1String("on"));
    } else if (cmd == QLatin1String("stats") && args == 0) {
        const SimCounters c = sim.counters();
        return {true, false,
            QStringLiteral(
                "frames %1 (intact %2, cut without filler %3), streamed %4 (intact %5), status %6, "
                "noise bytes %7 (0xBB/0xEE %8, frame headers %9), bytes sent %10, received %11, "
                "requests %12 (read %13, write %14)")
                .arg(c.dataFrames)
                .arg(c.intactDataFrames)
                .arg(c.cutFrames)
                .arg(c.streamFrames)
                .arg(c.intactStreamFrames)
                .arg(c.statusMessages)
                .arg(c.noiseBytes)
                .arg(c.noiseOpenerBytes)
                .arg(c.headerNoise)
                .arg(c.bytesSent)
                .arg(c.bytesReceived)
                .arg(c.requestsHandled)
                .arg(c.readRequests)
                .arg(c.writeRequests)};
    } else if (cmd == QLatin1String("truth") && args == 1 && w[1] == QLatin1String("noise")) {
        return {true, false, sim.noiseTruth()};
    } else if (cmd == QLatin1String("truth") && args == 0) {
        const SimTruth t = sim.truth();
        return {true, false,
            QStringLiteral(
                "euler %1 | acc %2 | gyro %3 | mag %4 | out acc %5 | out gyro %6 | out mag %7")
                .arg(triple(t.eulerDeg), triple(t.acc), triple(t.gyro), triple(t.mag),
                    triple(t.accOutput), triple(t.gyroOutput), triple(t.magOutput))};
    } else if (cmd == QLatin1String("help")) {
        return {true, false, simControlHelp()};
    } else if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        return {true, true, QString()};
    } else {
        return fail(QStringLiteral("unknown command: %1 (try help)").arg(line.simplified()));
    }
    return {};
}
