// SPDX-License-Identifier: GPL-3.0-or-later
// How the magnetometer fits fare on partial clouds: 200 seeded clouds covering
// 30 to 60 % of the sphere (a cap of field directions, as when the module is
// turned only part of the way), with hard iron, rotated soft iron and sensor
// noise as the simulator's error model draws them, then full tumbles. Prints,
// per fit, how often its result is not a proper ellipsoid, how often the
// comparison still offers such a result, and the held-out spreads.
//
// Beside each chosen fit stands the floor: the exact calibration's spread on
// the same checking points, which is the sensor noise alone.
//
//   build/bench/calibration/mag_partial_clouds [clouds [noise [points]]]

#include "calibration.h"
#include "cloudgenerator.h"
#include "magfitcheck.h"
#include "magfitcomparison.h"
#include "spherecoverage.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

void quietDebug(QtMsgType, const QMessageLogContext &, const QString &) { }

constexpr double field = 0.5; // the simulator's earth field, in its unit
double noise = 0.002; // its magnetometer noise per axis (second argument)
int pointsPerCloud = 400; // third argument

// The block that maps centre + shape * u back onto u.
Calibration::ParamBlock exactBlock(const clouds::Vec3 &centre, const clouds::Mat3 &s)
{
    const double det = s[0] * (s[4] * s[8] - s[5] * s[7]) - s[1] * (s[3] * s[8] - s[5] * s[6])
        + s[2] * (s[3] * s[7] - s[4] * s[6]);
    const clouds::Mat3 inv {(s[4] * s[8] - s[5] * s[7]) / det, (s[2] * s[7] - s[1] * s[8]) / det,
        (s[1] * s[5] - s[2] * s[4]) / det, (s[5] * s[6] - s[3] * s[8]) / det,
        (s[0] * s[8] - s[2] * s[6]) / det, (s[2] * s[3] - s[0] * s[5]) / det,
        (s[3] * s[7] - s[4] * s[6]) / det, (s[1] * s[6] - s[0] * s[7]) / det,
        (s[0] * s[4] - s[1] * s[3]) / det};
    Calibration::ParamBlock b {};
    for (int i = 0; i < 3; ++i)
        b[std::size_t(i)] = float(centre[std::size_t(i)]);
    for (int i = 0; i < 9; ++i)
        b[std::size_t(3 + i)] = float(inv[std::size_t(i)]);
    return b;
}

struct Cloud
{
    std::vector<Sample4> points;
    std::vector<Sample4> wholeSphere; // the same module, every direction, no noise
    double coverage = 0;
    Calibration::ParamBlock exact {};
};

Cloud partialCloud(std::uint32_t seed, double fraction, int n)
{
    clouds::Noise rng(seed);
    const clouds::Vec3 centre {
        rng.uniform(-0.25, 0.25), rng.uniform(-0.25, 0.25), rng.uniform(-0.25, 0.25)};
    const clouds::Mat3 shape = clouds::turnedStretch(rng, field, 0.15);
    const std::vector<clouds::Vec3> directions = clouds::capDirections(rng, fraction, n);
    SphereCoverage coverage;
    for (const clouds::Vec3 &d : directions)
        coverage.add(d[0], d[1], d[2]);
    Cloud c;
    c.points = clouds::cloud(directions, centre, shape, noise, &rng);
    c.wholeSphere = clouds::cloud(clouds::unitSphere(2000), centre, shape);
    c.coverage = coverage.coveredPercent();
    c.exact = exactBlock(centre, shape);
    return c;
}

struct Tally
{
    int improperRaw = 0; // result not a proper ellipsoid
    int finiteButImproper = 0; // ... which a finite-parameters rule let through
    int offeredImproper = 0; // valid in the comparison, yet improper
    int valid = 0;
    double worstHeldOut = 0, sumHeldOut = 0;
    double worstSphere = 0; // spread of the corrected field over every direction
    std::map<QString, int> refusals; // by reason, figures left out
};

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietDebug);
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    if (argc > 2)
        noise = std::atof(argv[2]);
    if (argc > 3)
        pointsPerCloud = std::max(20, std::atoi(argv[3]));
    for (int pass = 0; pass < 2; ++pass) {
        const bool full = pass == 1;
        Tally tally[MagFitComparison::fitCount];
        int chosenValid = 0;
        double worstChosen = 0, coverageLo = 100, coverageHi = 0;
        // The exact calibration on the same checking points, and how far the
        // chosen fit lies above it.
        double worstFloor = 0, sumFloor = 0, worstExcess = 0;
        int floorOver = 0, chosenOver = 0;
        int chosenBy[MagFitComparison::fitCount] = {};
        for (int seed = 0; seed < count; ++seed) {
            const double fraction = full ? 1.0 : 0.30 + 0.30 * seed / std::max(1, count - 1);
            const Cloud c = partialCloud(std::uint32_t(1000 + seed), fraction, pointsPerCloud);
            coverageLo = std::min(coverageLo, c.coverage);
            coverageHi = std::max(coverageHi, c.coverage);
            MagFitComparison fits;
            fits.run(c.points, 2.0);
            // Each method's raw result, as the methods themselves give it.
            for (int i = 0; i < MagFitComparison::fitCount; ++i) {
                const MagFitResult &r = fits.results()[std::size_t(i)];
                Tally &t = tally[i];
                const bool improper = !magfit::improperReason(r.block).isEmpty();
                t.improperRaw += improper ? 1 : 0;
                t.finiteButImproper += improper && Calibration::isFiniteBlock(r.block) ? 1 : 0;
                t.offeredImproper += improper && r.valid ? 1 : 0;
                if (!r.valid)
                    ++t.refusals[r.reason.section(QLatin1Char(' '), 0, 1)];
                if (r.valid) {
                    ++t.valid;
                    t.worstHeldOut = std::max(t.worstHeldOut, double(r.heldOutSpreadPercent));
                    t.sumHeldOut += double(r.heldOutSpreadPercent);
                    t.worstSphere = std::max(t.worstSphere,
                        double(MagFitComparison::magnitudeSpread(c.wholeSphere, r.block)));
                }
            }
            const int best = fits.best();
            if (best >= 0) {
                ++chosenValid;
                ++chosenBy[best];
                const double chosen
                    = double(fits.results()[std::size_t(best)].heldOutSpreadPercent);
                const double floor = double(MagFitComparison::magnitudeSpread(
                    magfit::splitForChecking(c.points).checking, c.exact));
                worstChosen = std::max(worstChosen, chosen);
                worstFloor = std::max(worstFloor, floor);
                sumFloor += floor;
                worstExcess = std::max(worstExcess, chosen - floor);
                floorOver += floor > 0.5 ? 1 : 0;
                chosenOver += chosen > 0.5 ? 1 : 0;
            }
        }
        std::printf("%s: %d clouds of %d points, coverage %.0f-%.0f %% of 120 patches, noise "
                    "%.3f per axis on a field of %.1f\n",
            full ? "full tumbles" : "partial clouds", count, pointsPerCloud, coverageLo, coverageHi,
            noise, field);
        std::printf("%-40s %9s %9s %9s %7s %10s %10s %10s %7s\n", "fit", "improper", "finite+",
            "offered", "valid", "heldout", "worst", "sphere", "chosen");
        MagFitComparison names;
        names.run({});
        for (int i = 0; i < MagFitComparison::fitCount; ++i) {
            const Tally &t = tally[i];
            std::printf("%-40s %9d %9d %9d %7d %9.3f%% %9.3f%% %9.3f%% %7d\n",
                qPrintable(names.results()[std::size_t(i)].name), t.improperRaw,
                t.finiteButImproper, t.offeredImproper, t.valid,
                t.valid ? t.sumHeldOut / t.valid : 0.0, t.worstHeldOut, t.worstSphere, chosenBy[i]);
        }
        for (int i = 0; i < MagFitComparison::fitCount; ++i) {
            for (const auto &refusal : tally[i].refusals)
                std::printf("  %s refused %d times: %s...\n",
                    qPrintable(names.results()[std::size_t(i)].name), refusal.second,
                    qPrintable(refusal.first));
        }
        std::printf("a fit chosen on %d of %d clouds; worst chosen held-out spread %.3f %%, over "
                    "0.5 %% on %d\n",
            chosenValid, count, worstChosen, chosenOver);
        std::printf("exact calibration on the same checking points: mean %.3f %%, worst %.3f %%, "
                    "over 0.5 %% on %d; chosen fit above it by at most %.3f %%\n\n",
            chosenValid ? sumFloor / chosenValid : 0.0, worstFloor, floorOver, worstExcess);
    }
    return 0;
}
