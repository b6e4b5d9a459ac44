// SPDX-License-Identifier: GPL-3.0-or-later
// Magnetometer fits on growing clouds: Methods 4 and 1 form the design matrix
// explicitly, so time (and working memory) must grow linearly with the number
// of points; and all five fits together on ten minutes' worth of points.

#include "calibration.h"
#include "magfitcomparison.h"

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Points on a rotated, offset ellipsoid with a little noise, fixed seed.
std::vector<Sample4> ellipsoidCloud(int n)
{
    std::mt19937 engine(7);
    auto uniform = [&engine] { return double(engine() >> 8) * (1.0 / 16777216.0); };
    std::vector<Sample4> samples;
    samples.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        const double z = 2.0 * uniform() - 1.0;
        const double phi = 2.0 * M_PI * uniform();
        const double r = std::sqrt(1.0 - z * z);
        const double u[3] = {r * std::cos(phi), r * std::sin(phi), z};
        const double noise = 0.002 * (uniform() - 0.5);
        samples.emplace_back(float(0.3 + 1.2 * u[0] + 0.1 * u[1] + noise),
            float(-0.2 + 0.1 * u[0] + 0.9 * u[1] + noise), float(0.1 + 1.05 * u[2] + noise), 0.0f);
    }
    return samples;
}

void quietDebug(QtMsgType, const QMessageLogContext &, const QString &) { }

void BM_Method4(benchmark::State &state)
{
    const std::vector<Sample4> cloud = ellipsoidCloud(int(state.range(0)));
    Calibration calibration;
    for (auto _ : state) {
        calibration.setMagCalParamMthd4(cloud); // takes its own copy, as the workflow does
        benchmark::DoNotOptimize(calibration.MAG_INV_SCL_FACTOR);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Method1(benchmark::State &state)
{
    const std::vector<Sample4> cloud = ellipsoidCloud(int(state.range(0)));
    Calibration calibration;
    for (auto _ : state) {
        calibration.set_MAG_CAL_PARAM_MTHD1(cloud);
        benchmark::DoNotOptimize(calibration.MAG_INV_SCL_FACTOR);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// All five fits as the page and velmar-cli mag-fit run them: each on the
// whole cloud and on its fitting part, judged on the checking part. 60,000
// points are ten minutes of the module's stream at about 100 Hz; the target
// is under a second.
void BM_AllFiveFits(benchmark::State &state)
{
    const std::vector<Sample4> cloud = ellipsoidCloud(int(state.range(0)));
    for (auto _ : state) {
        MagFitComparison fits;
        fits.run(cloud, 2.0);
        benchmark::DoNotOptimize(fits.best());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_AllFiveFits)->Arg(6000)->Arg(60000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Method4)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_Method1)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

} // namespace

int main(int argc, char **argv)
{
    // Method 4 reports its fit on the debug stream on every call.
    qInstallMessageHandler(quietDebug);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
