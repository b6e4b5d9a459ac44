// SPDX-License-Identifier: GPL-3.0-or-later
// The noise analysis of a 3-hour rest at the line limit (311 frames/s),
// decoding included: the samples wait as the module's 16-bit register bytes
// (accelerometer then gyroscope, little-endian), are decoded into the six
// channels and analysed. Prints the wall time and the peak resident set.
//
//   bench_noise [--hours 3] [--rate 311]
#include "noisegen.h"
#include "sensormodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <sys/resource.h>

#include <cstdio>

namespace {

double peakRssMb()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double hours = 3, rate = 311;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--hours"))
            hours = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--rate"))
            rate = args[i + 1].toDouble();
    }
    const double fullScale[6] = {20, 20, 20, 250, 250, 250};
    const StochasticParameters p = benchParameters();
    StochasticSensor sensor(p, 1);
    const long n = std::lround(hours * 3600 * rate);
    std::vector<quint8> bytes(std::size_t(n) * 12);
    for (long s = 0; s < n; ++s) {
        const std::array<double, 6> e = sensor.step(1 / rate);
        // Register order: accelerometer x, y, z, then gyroscope x, y, z.
        const double v[6] = {e[3], e[4], 9.79426 + e[5], e[0], e[1], e[2]};
        for (int k = 0; k < 6; ++k) {
            const quint16 raw = quint16(SensorModel::encode(v[k], fullScale[k]));
            bytes[std::size_t(s * 12 + 2 * k)] = quint8(raw & 0xff);
            bytes[std::size_t(s * 12 + 2 * k + 1)] = quint8(raw >> 8);
        }
    }
    const double rssBefore = peakRssMb();

    QElapsedTimer timer;
    timer.start();
    static const char *names[6] = {"acc_x", "acc_y", "acc_z", "gyro_x", "gyro_y", "gyro_z"};
    NoiseInput in;
    in.rateHz = rate;
    for (int k = 0; k < 6; ++k) {
        NoiseChannel c {QLatin1String(names[k]),
            k < 3 ? QStringLiteral("m/s^2") : QStringLiteral("deg/s"),
            k < 3 ? NoiseChannel::Acc : NoiseChannel::Gyro, {}};
        c.values.resize(std::size_t(n));
        const float scale = float(fullScale[k] / 32768.0);
        for (long s = 0; s < n; ++s) {
            const std::size_t at = std::size_t(s * 12 + 2 * k);
            c.values[std::size_t(s)]
                = float(qint16(quint16(bytes[at] | (bytes[at + 1] << 8)))) * scale;
        }
        in.channels.push_back(std::move(c));
    }
    const double decodeS = double(timer.nsecsElapsed()) / 1e9;
    const NoiseReport r = analyseNoise(in);
    const double totalS = double(timer.nsecsElapsed()) / 1e9;
    if (!r.ok) {
        std::fprintf(stderr, "bench_noise: refused: %s\n", qPrintable(r.error));
        return 1;
    }
    std::printf("%.2f h at %.0f Hz (%ld samples x 6 channels, %.1f MB of register bytes)\n", hours,
        rate, n, double(bytes.size()) / 1e6);
    std::printf("decode %.2f s, decode + analysis %.2f s (target <= 10 s)\n", decodeS, totalS);
    std::printf("peak resident set %.1f MB (%.1f MB before decoding; target < 400 MB)\n",
        peakRssMb(), rssBefore);
    return 0;
}
