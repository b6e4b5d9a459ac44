// SPDX-License-Identifier: GPL-3.0-or-later
#include "startuptimer.h"

#include "eventwait.h"

#include <QProcess>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cstdio>

namespace {

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int measureStartup(const QString &program, int runs, bool kv)
{
    QVector<double> times;
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("VELMAR_EXTRA_PORTS"));
        // The line it waits for is a debug line: on the terminal only when asked.
        environment.insert(QStringLiteral("VELMAR_IMU_VERBOSE"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        double seen = -1;
        QByteArray output;
        QObject::connect(&process, &QProcess::readyRead, [&] {
            output += process.readAll();
            if (seen < 0 && output.contains("Main Window Root Done!"))
                seen = clock.nsecsElapsed() / 1e6;
        });
        clock.start();
        process.start(program, QStringList());
        if (!process.waitForStarted(5000)) {
            std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
            return 1;
        }
        waitUntil([&] { return seen >= 0 || process.state() == QProcess::NotRunning; }, 20000);
        process.kill();
        process.waitForFinished(5000);
        if (seen < 0) {
            std::fprintf(stderr, "no \"Main Window Root Done!\" line from %s:\n%s\n",
                qPrintable(program), output.constData());
            return 1;
        }
        times.append(seen);
    }
    const double worst = *std::max_element(times.begin(), times.end());
    QStringList all;
    for (double t : times)
        all << QString::number(t, 'f', 0);
    if (kv)
        std::printf("startup_median_ms=%.1f startup_max_ms=%.1f runs_ms=%s\n", median(times), worst,
            qPrintable(all.join(QLatin1Char(','))));
    else
        std::printf("start-up to main window created: median %.0f ms, max %.0f ms (runs: %s ms)\n",
            median(times), worst, qPrintable(all.join(QStringLiteral(", "))));
    return 0;
}
