#include "simcontrol.h"

#include "modulesimulator.h"

#include <QStringList>

namespace {

const char *const helpText =
    "pose z-up|z-down|y-up|y-down|x-up|x-down [heading-deg]  hold still in a pose\n"
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
    "faults off                  no line faults\n"
    "stall <ms>                  the line goes quiet\n"
    "vanish [ms]                 pull the cable; back after ms, or at \"replug\"\n"
    "replug                      plug the cable in again\n"
    "stamp on|off                sequence numbers in raw \"Gyroscope X\"\n"
    "stats                       counters\n"
    "truth                       true orientation and sensor values now\n"
    "help                        this list\n"
    "quit                        stop the simulator\n";

} // namespace

bool parseSimPose(const QString &name, SimPose *pose)
{
    static const struct { const char *name; SimPose pose; } poses[] = {
        {"z-up", SimPose::ZUp}, {"z-down", SimPose::ZDown}, {"y-up", SimPose::YUp},
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

bool parseChance(const QString &text, double *chance)
{
    bool ok = false;
    *chance = text.toDouble(&ok);
    return ok && *chance >= 0 && *chance <= 1;
}

QString triple(const std::array<double, 3> &v)
{
    return QStringLiteral("%1 %2 %3").arg(v[0], 0, 'f', 4).arg(v[1], 0, 'f', 4).arg(v[2], 0, 'f', 4);
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

SimControlReply runControlLine(ModuleSimulator &sim, const QString &line)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty() || w[0].startsWith(QLatin1Char('#')))
        return {};
    const QString cmd = w[0].toLower();
    const int args = w.size() - 1;
    bool ok = true;

    if (cmd == QLatin1String("pose") && args >= 1) {
        SimPose pose;
        if (!parseSimPose(w[1], &pose))
            return fail(QStringLiteral("unknown pose %1").arg(w[1]));
        const double heading = args >= 2 ? w[2].toDouble(&ok) : 0.0;
        if (!ok)
            return fail(QStringLiteral("bad heading"));
        sim.setMotion(SimMotion::still(pose, heading));
    } else if (cmd == QLatin1String("rotate") && args == 2) {
        const QString axis = w[1].toLower();
        const double rate = w[2].toDouble(&ok);
        if (!ok || (axis != QLatin1String("x") && axis != QLatin1String("y") && axis != QLatin1String("z")))
            return fail(QStringLiteral("usage: rotate x|y|z <deg/s>"));
        std::array<double, 3> a{0, 0, 0};
        a[std::size_t(axis[0].unicode() - 'x')] = 1;
        const SimMotion now = sim.motion();
        sim.setMotion(SimMotion::rotating(now.pose, a, rate));
    } else if (cmd == QLatin1String("tumble") && args == 0) {
        sim.setMotion(SimMotion::tumbling());
    } else if (cmd == QLatin1String("errors") && args == 1
               && (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
        sim.setSensorErrorsEnabled(w[1] == QLatin1String("on"));
    } else if (cmd == QLatin1String("seed") && args >= 1) {
        const quint64 seed = w[1].toULongLong(&ok);
        if (!ok)
            return fail(QStringLiteral("bad seed"));
        sim.setSensorErrors(SimSensorErrors::generate(seed, args >= 2 && w[2] == QLatin1String("rotated")));
    } else if (cmd == QLatin1String("rate") && args == 1) {
        const double rate = w[1].toDouble(&ok);
        if (!ok || rate <= 0)
            return fail(QStringLiteral("bad rate"));
        sim.setStreamRate(rate);
    } else if (cmd == QLatin1String("range") && args == 1) {
        const uint range = w[1].toUInt(&ok, 0);
        if (!ok || range > 255)
            return fail(QStringLiteral("bad range byte"));
        sim.setSensorsRange(quint8(range));
    } else if (cmd == QLatin1String("hw") && args == 1) {
        const uint version = w[1].toUInt(&ok);
        if (!ok || version > 65535)
            return fail(QStringLiteral("bad hardware version"));
        sim.setHardwareVersion(quint16(version));
    } else if ((cmd == QLatin1String("noise") || cmd == QLatin1String("split") || cmd == QLatin1String("truncate")
                || cmd == QLatin1String("status"))
               && args >= 1) {
        double chance;
        if (!parseChance(w[1], &chance))
            return fail(QStringLiteral("a chance is a number from 0 to 1"));
        SimFaults f = sim.faults();
        if (cmd == QLatin1String("noise")) {
            f.noiseChance = chance;
            if (args >= 2)
                f.noiseMaxBytes = qMax(1, w[2].toInt());
        } else if (cmd == QLatin1String("split")) {
            f.splitChance = chance;
        } else if (cmd == QLatin1String("truncate")) {
            f.truncateChance = chance;
        } else {
            f.statusChance = chance;
        }
        sim.setFaults(f);
    } else if (cmd == QLatin1String("faults") && args == 1 && w[1] == QLatin1String("off")) {
        SimFaults f;
        f.seed = sim.faults().seed;
        sim.setFaults(f);
    } else if (cmd == QLatin1String("stall") && args == 1) {
        const int ms = w[1].toInt(&ok);
        if (!ok || ms < 0)
            return fail(QStringLiteral("bad duration"));
        sim.stall(ms);
    } else if (cmd == QLatin1String("vanish") && args <= 1) {
        const int ms = args == 1 ? w[1].toInt(&ok) : -1;
        if (!ok || (args == 1 && ms < 0))
            return fail(QStringLiteral("bad duration"));
        sim.unplug(ms);
    } else if (cmd == QLatin1String("replug") && args == 0) {
        sim.replug();
        return {true, false, sim.slavePath()};
    } else if (cmd == QLatin1String("stamp") && args == 1
               && (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
        sim.setSequenceStamp(w[1] == QLatin1String("on"));
    } else if (cmd == QLatin1String("stats") && args == 0) {
        const SimCounters c = sim.counters();
        return {true, false,
                QStringLiteral("frames %1 (intact %2), streamed %3 (intact %4), status %5, noise bytes %6, "
                               "bytes sent %7, received %8, requests %9 (read %10, write %11)")
                    .arg(c.dataFrames).arg(c.intactDataFrames).arg(c.streamFrames).arg(c.intactStreamFrames)
                    .arg(c.statusMessages).arg(c.noiseBytes).arg(c.bytesSent).arg(c.bytesReceived)
                    .arg(c.requestsHandled).arg(c.readRequests).arg(c.writeRequests)};
    } else if (cmd == QLatin1String("truth") && args == 0) {
        const SimTruth t = sim.truth();
        return {true, false,
                QStringLiteral("euler %1 | acc %2 | gyro %3 | mag %4 | out acc %5 | out gyro %6 | out mag %7")
                    .arg(triple(t.eulerDeg), triple(t.acc), triple(t.gyro), triple(t.mag), triple(t.accOutput),
                         triple(t.gyroOutput), triple(t.magOutput))};
    } else if (cmd == QLatin1String("help")) {
        return {true, false, simControlHelp()};
    } else if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        return {true, true, QString()};
    } else {
        return fail(QStringLiteral("unknown command: %1 (try help)").arg(line.simplified()));
    }
    return {};
}
