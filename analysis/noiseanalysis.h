// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Noise and stability of a module at rest: overlapping Allan deviation with
// confidence intervals, the white-noise density N, bias instability B and
// rate random walk K fitted together, and a Welch spectrum. Pure computation
// on decoded samples: no QObject, no event loop, callable from the
// application, the command-line tool, scripts and benchmarks alike.
//
// Definitions (each channel in its own unit u, u/s for a rate):
//   AVAR(tau) = N^2 / tau + (2 ln 2 / pi) B^2 + K^2 tau / 3
//   N: the white part's deviation at tau = 1 s (u / sqrt(Hz))
//   B: the flat part's level / 0.664 (u)
//   K: the +1/2-slope part's deviation at tau = 3 s (u * sqrt(Hz))

#include <QString>

#include <vector>

struct NoiseChannel
{
    enum Kind { Gyro, Acc, Mag };
    QString name; // gyro_x, acc_y, ...
    QString unit; // deg/s, m/s^2, ...
    Kind kind = Gyro;
    std::vector<float> values; // one per sample, evenly spaced
};

struct NoiseInput
{
    double rateHz = 0; // sampling rate; taken from the times when 0
    // Sample times in seconds (optional): used to find the rate and gaps.
    std::vector<double> times;
    std::vector<NoiseChannel> channels;
};

// A coefficient with its 90 % interval, or the reason it is not known.
struct NoiseTerm
{
    bool known = false;
    double value = 0;
    double low = 0;
    double high = 0; // when not known: the most the data allow
    QString reason; // why not known (too little data: how long a recording it needs)
    double neededSeconds = 0; // when too little data: the recording length that would do
};

struct AdevPoint
{
    double tau = 0; // s
    double adev = 0;
    double low = 0; // 90 % interval
    double high = 0;
    double edf = 0; // equivalent degrees of freedom of the variance estimate
};

struct NoiseChannelResult
{
    QString name;
    QString unit;
    NoiseChannel::Kind kind = NoiseChannel::Gyro;
    std::vector<AdevPoint> adev;
    NoiseTerm N, B, K;
    // Welch spectrum, one-sided, unit^2/Hz, averaged onto log-spaced bins.
    std::vector<double> psdFrequency;
    std::vector<double> psd;
    // N read off the spectrum's white floor (sqrt(PSD / 2)); 0 when too short.
    double psdN = 0;
    bool psdAgrees = true; // the floor and the Allan fit tell the same N
};

struct NoiseReport
{
    bool ok = false;
    QString error; // why the recording was refused
    double durationS = 0;
    double rateHz = 0;
    std::vector<NoiseChannelResult> channels;
    QString warning; // analysed, but something deserves a word
};

struct NoiseOptions
{
    double minSeconds = 10; // shorter recordings are refused
    // A 1 s mean off the record's median by more than this counts as motion.
    double gyroMotionThreshold = 0.5; // deg/s
    double accMotionThreshold = 0.1; // m/s^2
    int pointsPerDecade = 8;
    bool spectrum = true;
};

NoiseReport analyseNoise(const NoiseInput &input, const NoiseOptions &options = {});

// Building blocks, public for the tests and benchmarks.
namespace NoiseMath {
// Overlapping Allan variance of rate samples at averaging factor m.
double overlappingAvar(const std::vector<double> &phase, double tau0, long m);
// Cumulative sum (times tau0) of the samples with their mean removed; M+1 points.
std::vector<double> phaseOf(const std::vector<float> &values, double tau0);
// Equivalent degrees of freedom of the overlapping Allan variance with M
// samples at factor m for white (alpha 0), flicker (-1) and random walk (-2)
// frequency noise.
double edfWhite(long M, long m);
double edfFlicker(long M, long m);
double edfRandomWalk(long M, long m);
// Correlation between the overlapping Allan variances at factors `ms` of M
// samples, for noise whose Allan variance is white / tau + flat + walk * tau;
// row-major, ms.size() squared. Large-record approximation.
std::vector<double> avarCorrelation(
    const std::vector<long> &ms, double tau0, long M, double white, double flat, double walk);
// Quantile of the chi-squared distribution with `dof` degrees of freedom.
double chiSquaredQuantile(double p, double dof);
// The standard normal's 95th percentile: a two-sided 90 % interval is +-z90 sd.
constexpr double z90 = 1.6448536269514722;
} // namespace NoiseMath
