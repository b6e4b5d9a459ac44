// SPDX-License-Identifier: GPL-3.0-or-later
#include "noiseanalysis.h"

#include <QStringList>

#include <Eigen/Dense>
#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr double pi = 3.14159265358979323846;
// AVAR of flicker frequency noise with bias instability B is flickerGain * B^2.
const double flickerGain = 2.0 * std::log(2.0) / pi;
const double ridge = 1e-4;

// Regularised lower incomplete gamma P(a, x): series below a + 1, Lentz's
// continued fraction for Q above (Numerical Recipes, ch. 6.2).
double gammaP(double a, double x)
{
    if (x <= 0)
        return 0;
    const double lnPrefix = -x + a * std::log(x) - std::lgamma(a);
    if (x < a + 1) {
        double term = 1.0 / a, sum = term;
        for (int n = 1; n < 1000; ++n) {
            term *= x / (a + n);
            sum += term;
            if (std::fabs(term) < std::fabs(sum) * 1e-15)
                break;
        }
        return sum * std::exp(lnPrefix);
    }
    const double tiny = 1e-300;
    double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 1000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::fabs(d) < tiny)
            d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-15)
            break;
    }
    return 1 - std::exp(lnPrefix) * h;
}

struct Fit
{
    // AVAR = p[0] / tau + p[1] + p[2] * tau
    std::array<double, 3> p {};
    std::array<double, 3> sd {};
    std::array<bool, 3> used {};
    bool ok = false;
};

double model(const std::array<double, 3> &p, double tau)
{
    return p[0] / tau + p[1] + p[2] * tau;
}

double mixedEdf(long M, long m, const std::array<double, 3> &p, double tau)
{
    // Independent parts: the variance of the estimate is the sum of the parts'
    // variances, 2 s_i^2 / edf_i, so 1 / edf = sum (s_i / S)^2 / edf_i.
    const double s[3] = {p[0] / tau, p[1], p[2] * tau};
    const double total = s[0] + s[1] + s[2];
    if (total <= 0)
        return NoiseMath::edfWhite(M, m);
    const double e[3]
        = {NoiseMath::edfWhite(M, m), NoiseMath::edfFlicker(M, m), NoiseMath::edfRandomWalk(M, m)};
    double inv = 0;
    for (int i = 0; i < 3; ++i)
        inv += (s[i] / total) * (s[i] / total) / e[i];
    return inv > 0 ? 1 / inv : e[0];
}

// Weighted least squares on one subset of the terms; weights edf / (2 m_i^2).
Fit solveSubset(const std::vector<double> &tau, const std::vector<double> &avar,
    const std::vector<double> &weight, unsigned mask)
{
    Fit fit;
    std::vector<int> cols;
    for (int j = 0; j < 3; ++j)
        if (mask & (1u << j))
            cols.push_back(j);
    const int n = int(tau.size()), k = int(cols.size());
    if (n < k)
        return fit;
    Eigen::MatrixXd A(n, k);
    Eigen::VectorXd y(n);
    for (int i = 0; i < n; ++i) {
        const double basis[3] = {1 / tau[i], 1, tau[i]};
        const double sw = std::sqrt(weight[i]);
        for (int c = 0; c < k; ++c)
            A(i, c) = basis[cols[std::size_t(c)]] * sw;
        y(i) = avar[i] * sw;
    }
    // Columns span many decades: scale them before solving.
    Eigen::VectorXd scale = A.colwise().norm().transpose();
    for (int c = 0; c < k; ++c)
        if (scale(c) > 0)
            A.col(c) /= scale(c);
    const Eigen::VectorXd x = A.colPivHouseholderQr().solve(y);
    for (int c = 0; c < k; ++c) {
        const double v = x(c) / scale(c);
        if (!std::isfinite(v) || v < 0)
            return fit;
        fit.p[std::size_t(cols[std::size_t(c)])] = v;
        fit.used[std::size_t(cols[std::size_t(c)])] = true;
    }
    fit.ok = true;
    return fit;
}

// The non-negative fit: the feasible subset with the least weighted residual.
Fit fitTerms(const std::vector<double> &tau, const std::vector<double> &avar,
    const std::vector<double> &weight)
{
    Fit best;
    double bestCost = std::numeric_limits<double>::infinity();
    for (unsigned mask = 1; mask < 8; ++mask) {
        Fit f = solveSubset(tau, avar, weight, mask);
        if (!f.ok)
            continue;
        double cost = 0;
        for (std::size_t i = 0; i < tau.size(); ++i) {
            const double r = avar[i] - model(f.p, tau[i]);
            cost += weight[i] * r * r;
        }
        if (cost < bestCost * (1 - 1e-12)) {
            bestCost = cost;
            best = f;
        }
    }
    return best;
}

// Spread of each fitted coefficient. The estimates at neighbouring cluster
// times share most of their data and slow noise keeps even distant ones
// alike, so their errors are correlated in a way no simple model caught: a
// correlation taken as (tau_short / tau_long)^(1/4) left B's interval
// holding the truth in only 15 to 18 of 20 simulated records, with misses on
// both sides. So the spread is the worst case over every correlation, by
// Minkowski's inequality: sd(sum g_i a_i) <= sum |g_i| sd(a_i). It is wider,
// and a term it cannot tell from zero is reported as not resolved.
void fitSpread(Fit &fit, const std::vector<double> &tau, const std::vector<double> &weight,
    const std::vector<double> &pointSd)
{
    std::vector<int> cols;
    for (int j = 0; j < 3; ++j)
        if (fit.used[std::size_t(j)])
            cols.push_back(j);
    const int n = int(tau.size()), k = int(cols.size());
    Eigen::MatrixXd X(n, k);
    for (int i = 0; i < n; ++i) {
        const double basis[3] = {1 / tau[i], 1, tau[i]};
        for (int c = 0; c < k; ++c)
            X(i, c) = basis[cols[std::size_t(c)]];
    }
    Eigen::VectorXd colScale = X.colwise().norm().transpose();
    for (int c = 0; c < k; ++c)
        X.col(c) /= colScale(c);
    const Eigen::VectorXd w = Eigen::Map<const Eigen::VectorXd>(weight.data(), n);
    const Eigen::MatrixXd normal = X.transpose() * w.asDiagonal() * X;
    const Eigen::MatrixXd gain
        = normal.completeOrthogonalDecomposition().pseudoInverse() * X.transpose() * w.asDiagonal();
    for (int c = 0; c < k; ++c) {
        double sd = 0;
        for (int i = 0; i < n; ++i)
            sd += std::fabs(gain(c, i)) * pointSd[std::size_t(i)];
        fit.sd[std::size_t(cols[std::size_t(c)])] = sd / colScale(c);
    }
}

// Correlation of the overlapping Allan variances at factors `ms` for the
// noise of fit `p`, from the spectrum: for a Gaussian process the variances'
// covariance is (2 / n) * integral of G_m1 G_m2 S^2 df (Percival's large
// sample result), with G_m the overlapping Allan filter's squared gain and S
// the rate's two-sided spectrum: white h0 = 2 p0, flicker h-1 = p1 / (2 ln 2),
// random walk h-2 = 3 p2 / (2 pi^2). Where sin^4 of the filter swings faster
// than the rest of the integrand it is replaced by its mean, 3/8, so a
// log-spaced grid suffices. Not normalised by n: the caller takes the
// variances from the finite-record degrees of freedom.
Eigen::MatrixXd avarCorrelation(
    const std::vector<long> &ms, double tau0, long M, const std::array<double, 3> &p)
{
    const int k = int(ms.size());
    const double fHigh = 0.5 / tau0, fLow = 1e-3 / (double(M) * tau0);
    const int perDecade = 200;
    const int points = int(std::ceil(std::log10(fHigh / fLow) * perDecade)) + 1;
    const double h0 = 2 * p[0], h1 = p[1] / (2 * std::log(2.0)), h2 = 3 * p[2] / (2 * pi * pi);
    const double swingLimit = 8 * pi;
    Eigen::MatrixXd u(k, points);
    for (int j = 0; j < points; ++j) {
        const double f = fLow * std::pow(fHigh / fLow, double(j) / double(points - 1));
        // Trapezoid weight on the log grid: df = f ln(ratio) per step.
        const double step = std::log(fHigh / fLow) / double(points - 1);
        const double w = f * step * (j == 0 || j == points - 1 ? 0.5 : 1.0);
        const double s = h0 + h1 / f + h2 / (f * f);
        const double sinBase = std::sin(pi * f * tau0);
        for (int i = 0; i < k; ++i) {
            const double m = double(ms[std::size_t(i)]);
            const double x = pi * f * m * tau0;
            const double sin2 = std::sin(x) * std::sin(x);
            const double s4 = x < swingLimit ? sin2 * sin2 : 3.0 / 8.0;
            const double g = 2 * s4 / (m * m * sinBase * sinBase);
            u(i, j) = g * s * std::sqrt(w);
        }
    }
    Eigen::MatrixXd gram = u * u.transpose();
    Eigen::VectorXd d = gram.diagonal().cwiseSqrt();
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j)
            gram(i, j) = d(i) > 0 && d(j) > 0 ? gram(i, j) / (d(i) * d(j)) : double(i == j);
    return gram;
}

// Generalised least squares on the Allan variances (as in the generalised
// method of wavelet moments): the points weighted by the inverse of their
// full covariance rather than each on its own, which keeps the many nearly
// equal long-tau points from being counted as independent evidence. The
// covariance follows the fit, so it is iterated. Non-negative as the
// diagonal fit: the feasible subset of terms with the least cost.
Fit glsFit(const std::vector<long> &ms, const std::vector<double> &tau,
    const std::vector<double> &avar, double tau0, long M, Fit start)
{
    const int n = int(tau.size());
    Fit best = start;
    best.ok = false;
    if (!start.ok || n < 4)
        return best;
    std::array<double, 3> p = start.p;
    for (int iter = 0; iter < 4; ++iter) {
        Eigen::MatrixXd rho = avarCorrelation(ms, tau0, M, p);
        // A little ridge: neighbouring points correlate to within 1e-4 of
        // one, and the model is not exact to that.
        rho.diagonal().array() += ridge;
        Eigen::VectorXd sd(n);
        for (int i = 0; i < n; ++i) {
            const double mv = model(p, tau[std::size_t(i)]);
            const double e = mixedEdf(M, ms[std::size_t(i)], p, tau[std::size_t(i)]);
            sd(i) = (mv > 0 ? mv : avar[std::size_t(i)]) * std::sqrt(2 / e);
        }
        const Eigen::MatrixXd cov = sd.asDiagonal() * rho * sd.asDiagonal();
        const Eigen::LLT<Eigen::MatrixXd> llt(cov);
        if (llt.info() != Eigen::Success)
            return best;
        Eigen::MatrixXd X(n, 3);
        Eigen::VectorXd y(n);
        for (int i = 0; i < n; ++i) {
            X(i, 0) = 1 / tau[std::size_t(i)];
            X(i, 1) = 1;
            X(i, 2) = tau[std::size_t(i)];
            y(i) = avar[std::size_t(i)];
        }
        const Eigen::MatrixXd A = llt.matrixL().solve(X);
        const Eigen::VectorXd b = llt.matrixL().solve(y);
        Fit round;
        double bestCost = std::numeric_limits<double>::infinity();
        for (unsigned mask = 1; mask < 8; ++mask) {
            std::vector<int> cols;
            for (int j = 0; j < 3; ++j)
                if (mask & (1u << j))
                    cols.push_back(j);
            const int kc = int(cols.size());
            Eigen::MatrixXd As(n, kc);
            for (int c = 0; c < kc; ++c)
                As.col(c) = A.col(cols[std::size_t(c)]);
            Eigen::VectorXd scale = As.colwise().norm().transpose();
            for (int c = 0; c < kc; ++c)
                As.col(c) /= scale(c);
            const Eigen::VectorXd x = As.colPivHouseholderQr().solve(b);
            bool feasible = true;
            Fit f;
            for (int c = 0; c < kc; ++c) {
                const double v = x(c) / scale(c);
                feasible = feasible && std::isfinite(v) && v >= 0;
                f.p[std::size_t(cols[std::size_t(c)])] = v;
                f.used[std::size_t(cols[std::size_t(c)])] = true;
            }
            if (!feasible)
                continue;
            const double cost = (As * x - b).squaredNorm();
            if (cost < bestCost * (1 - 1e-12)) {
                bestCost = cost;
                // The coefficients' covariance: the inverse of A'A.
                const Eigen::MatrixXd info = As.transpose() * As;
                const Eigen::MatrixXd inv = info.completeOrthogonalDecomposition().pseudoInverse();
                for (int c = 0; c < kc; ++c)
                    f.sd[std::size_t(cols[std::size_t(c)])]
                        = std::sqrt(std::max(0.0, inv(c, c))) / scale(c);
                f.ok = true;
                round = f;
            }
        }
        if (!round.ok)
            return best;
        best = round;
        p = round.p;
    }
    return best;
}

// The least spread any estimator of the walk's coefficient can have from M
// samples when it is c: the Cramer-Rao bound of the Whittle likelihood, each
// periodogram ordinate at k / T an exponential variable about the one-sided
// spectrum h0 + h-1 / f + h-2 / f^2, the levels unknown together (white and
// flat only where the fit has them). In the Allan coefficient's units (AVAR
// part c * tau). Above the first 2000 frequencies the spectrum is smooth, so
// the sum is taken over groups 1 % wide.
double walkSpread(const std::array<double, 3> &p, double c, long M, double tau0)
{
    const double h[3] = {2 * p[0], p[1] / (2 * std::log(2.0)), 3 * c / (2 * pi * pi)};
    const double T = double(M) * tau0;
    Eigen::Matrix3d info = Eigen::Matrix3d::Zero();
    const auto add = [&](double k, double count) {
        const double f = k / T;
        const Eigen::Vector3d b(1, 1 / f, 1 / (f * f));
        const double S = h[0] * b(0) + h[1] * b(1) + h[2] * b(2);
        info += count * b * b.transpose() / (S * S);
    };
    const double last = double(M / 2);
    double k = 1;
    for (; k <= std::min(2000.0, last); ++k)
        add(k, 1);
    while (k <= last) {
        const double next = std::min(last + 1, std::floor(k * 1.01) + 1);
        add(std::sqrt(k * (next - 1)), next - k);
        k = next;
    }
    std::vector<int> keep;
    for (int j = 0; j < 2; ++j)
        if (h[j] > 0)
            keep.push_back(j);
    keep.push_back(2);
    Eigen::MatrixXd sub(keep.size(), keep.size());
    for (std::size_t r = 0; r < keep.size(); ++r)
        for (std::size_t q = 0; q < keep.size(); ++q)
            sub(Eigen::Index(r), Eigen::Index(q)) = info(keep[r], keep[q]);
    const Eigen::MatrixXd inv = sub.completeOrthogonalDecomposition().pseudoInverse();
    const double var = inv(Eigen::Index(keep.size() - 1), Eigen::Index(keep.size() - 1));
    return std::isfinite(var) && var > 0 ? std::sqrt(var) * 2 * pi * pi / 3
                                         : std::numeric_limits<double>::infinity();
}

// The 90 % interval of the walk's coefficient from its estimate `est`: the
// values c the estimate lies within z90 spreads of, each spread taken at c
// itself (an inverted test). The spread shrinks relative to c as the walk
// rises over more of the record's frequencies, so the interval reaches
// further below the estimate than above, as the few slow excursions make
// the estimate's scatter. Its low end is 0 when even no walk at all would
// give an estimate this large now and then.
std::pair<double, double> walkInterval(
    const std::array<double, 3> &p, double est, long M, double tau0)
{
    const double z = NoiseMath::z90;
    const auto bisect = [](auto f, double lo, double hi) {
        for (int i = 0; i < 60 && hi - lo > 1e-9 * hi; ++i) {
            const double mid = (lo + hi) / 2;
            (f(mid) < 0 ? lo : hi) = mid;
        }
        return (lo + hi) / 2;
    };
    const auto above = [&](double c) { return c - est - z * walkSpread(p, c, M, tau0); };
    double hi = std::max(est, 1e-300);
    for (int i = 0; i < 200 && above(hi) < 0; ++i)
        hi *= 2;
    const double high = bisect(above, est, hi);
    double low = 0;
    if (est - z * walkSpread(p, 0, M, tau0) > 0)
        low = bisect([&](double c) { return -(est - c - z * walkSpread(p, c, M, tau0)); }, 0, est);
    return {low, high};
}

QString lengthText(double seconds)
{
    if (seconds >= 5400)
        return QStringLiteral("%1 h").arg(seconds / 3600, 0, 'f', 1);
    if (seconds >= 120)
        return QStringLiteral("%1 min").arg(std::ceil(seconds / 60));
    return QStringLiteral("%1 s").arg(std::ceil(seconds));
}

// A variance coefficient c (AVAR part = c * basis) turned into the term's
// value through `toValue`, with the interval from the fit's spread.
template <typename F> NoiseTerm makeTerm(double c, double sd, bool used, F toValue)
{
    NoiseTerm t;
    t.value = used ? toValue(c) : 0;
    t.low = toValue(std::max(0.0, c - NoiseMath::z90 * sd));
    t.high = toValue(c + NoiseMath::z90 * sd);
    t.known = used && c - NoiseMath::z90 * sd > 0;
    return t;
}

std::vector<long> clusterFactors(long M, int perDecade)
{
    std::vector<long> ms;
    const long mMax = std::max<long>(1, M / 5);
    for (int i = 0;; ++i) {
        const long m = std::lround(std::pow(10.0, double(i) / perDecade));
        if (m > mMax)
            break;
        if (ms.empty() || m != ms.back())
            ms.push_back(m);
    }
    return ms;
}

void welch(const std::vector<float> &values, double rate, NoiseChannelResult &out)
{
    const long M = long(values.size());
    long L = 1;
    while (L * 2 <= std::min<long>(M / 4, 65536))
        L *= 2;
    if (L < 64)
        return;
    std::vector<double> window(std::size_t(L), 0.0);
    double wsum = 0;
    for (long i = 0; i < L; ++i) {
        window[std::size_t(i)] = 0.5 - 0.5 * std::cos(2 * pi * double(i) / double(L));
        wsum += window[std::size_t(i)] * window[std::size_t(i)];
    }
    double *in = fftw_alloc_real(std::size_t(L));
    fftw_complex *spectrum = fftw_alloc_complex(std::size_t(L / 2 + 1));
    fftw_plan plan = fftw_plan_dft_r2c_1d(int(L), in, spectrum, FFTW_ESTIMATE);
    std::vector<double> acc(std::size_t(L / 2 + 1), 0.0);
    long segments = 0;
    for (long start = 0; start + L <= M; start += L / 2) {
        double mean = 0;
        for (long i = 0; i < L; ++i)
            mean += values[std::size_t(start + i)];
        mean /= double(L);
        for (long i = 0; i < L; ++i)
            in[i] = (values[std::size_t(start + i)] - mean) * window[std::size_t(i)];
        fftw_execute(plan);
        for (long f = 0; f <= L / 2; ++f)
            acc[std::size_t(f)]
                += spectrum[f][0] * spectrum[f][0] + spectrum[f][1] * spectrum[f][1];
        ++segments;
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(spectrum);
    const double norm = 2.0 / (rate * wsum * double(segments)); // one-sided
    // White floor between rate/40 and rate/8: above the flicker corner, below
    // where an output filter would roll off.
    double floorSum = 0;
    long floorCount = 0;
    const double df = rate / double(L);
    for (long f = 1; f < L / 2; ++f) {
        const double freq = double(f) * df;
        if (freq >= rate / 40 && freq <= rate / 8) {
            floorSum += acc[std::size_t(f)] * norm;
            ++floorCount;
        }
    }
    if (floorCount > 0)
        out.psdN = std::sqrt(floorSum / double(floorCount) / 2);
    // Onto log-spaced bins, 20 a decade, so the curve stays small.
    const double perDecade = 20;
    double binStart = df;
    double sum = 0;
    long count = 0;
    for (long f = 1; f < L / 2; ++f) {
        const double freq = double(f) * df;
        sum += acc[std::size_t(f)] * norm;
        ++count;
        if (freq >= binStart * std::pow(10.0, 1 / perDecade) || f == L / 2 - 1) {
            out.psdFrequency.push_back(std::sqrt(binStart * freq));
            out.psd.push_back(sum / double(count));
            sum = 0;
            count = 0;
            binStart = freq + df;
        }
    }
}

QString motionCheck(const NoiseInput &input, double rate, const NoiseOptions &options)
{
    const long M = long(input.channels.front().values.size());
    const long win = std::max<long>(1, std::lround(rate));
    const long windows = M / win;
    if (windows < 3)
        return {};
    std::vector<char> moved(std::size_t(windows), 0);
    QString firstChannel;
    double firstOff = 0;
    for (const NoiseChannel &ch : input.channels) {
        if (ch.kind == NoiseChannel::Mag)
            continue;
        const double threshold = ch.kind == NoiseChannel::Gyro ? options.gyroMotionThreshold
                                                               : options.accMotionThreshold;
        std::vector<double> means(static_cast<std::size_t>(windows));
        for (long w = 0; w < windows; ++w) {
            double s = 0;
            for (long i = 0; i < win; ++i)
                s += ch.values[std::size_t(w * win + i)];
            means[std::size_t(w)] = s / double(win);
        }
        std::vector<double> sorted = means;
        std::nth_element(sorted.begin(), sorted.begin() + windows / 2, sorted.end());
        const double median = sorted[std::size_t(windows / 2)];
        for (long w = 0; w < windows; ++w) {
            const double off = std::fabs(means[std::size_t(w)] - median);
            if (off > threshold) {
                if (firstChannel.isEmpty() || off > firstOff) {
                    firstChannel = ch.name;
                    firstOff = off;
                }
                moved[std::size_t(w)] = 1;
            }
        }
    }
    QStringList spans;
    int count = 0;
    for (long w = 0; w < windows;) {
        if (!moved[std::size_t(w)]) {
            ++w;
            continue;
        }
        long end = w;
        while (end + 1 < windows && moved[std::size_t(end + 1)])
            ++end;
        if (count < 5)
            spans << QStringLiteral("%1-%2 s")
                         .arg(double(w * win) / rate, 0, 'f', 1)
                         .arg(double((end + 1) * win) / rate, 0, 'f', 1);
        ++count;
        w = end + 1;
    }
    if (spans.isEmpty())
        return {};
    return QStringLiteral("the module moved at %1%2 (%3 off its resting value by up to %4): "
                          "a noise recording must be taken at rest")
        .arg(spans.join(QStringLiteral(", ")),
            count > 5 ? QStringLiteral(" and %1 more times").arg(count - 5) : QString(),
            firstChannel)
        .arg(firstOff, 0, 'g', 3);
}

} // namespace

namespace NoiseMath {

std::vector<double> phaseOf(const std::vector<float> &values, double tau0)
{
    double mean = 0;
    for (float v : values)
        mean += v;
    mean /= double(std::max<std::size_t>(1, values.size()));
    std::vector<double> x(values.size() + 1);
    double s = 0;
    x[0] = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        s += (double(values[i]) - mean) * tau0;
        x[i + 1] = s;
    }
    return x;
}

double overlappingAvar(const std::vector<double> &x, double tau0, long m)
{
    const long n = long(x.size()) - 2 * m; // M + 1 - 2m terms
    if (m < 1 || n < 1)
        return 0;
    const double *p = x.data();
    double sum = 0;
    for (long k = 0; k < n; ++k) {
        const double d = p[k + 2 * m] - 2 * p[k + m] + p[k];
        sum += d * d;
    }
    const double tau = double(m) * tau0;
    return sum / (2 * tau * tau * double(n));
}

// Howe, Allan and Barnes (1981), with N = M + 1 phase points.
double edfWhite(long M, long m)
{
    const double N = double(M + 1), mm = double(m);
    const double e = (3 * (N - 1) / (2 * mm) - 2 * (N - 2) / N) * 4 * mm * mm / (4 * mm * mm + 5);
    return std::max(1.0, e);
}

double edfFlicker(long M, long m)
{
    const double N = double(M + 1), mm = double(m);
    const double e
        = m == 1 ? 2 * (N - 2) * (N - 2) / (2.3 * N - 4.9) : 5 * N * N / (4 * mm * (N + 3 * mm));
    return std::max(1.0, e);
}

double edfRandomWalk(long M, long m)
{
    const double N = double(M + 1), mm = double(m);
    if (N < 4)
        return 1;
    const double e
        = (N - 2) / mm * ((N - 1) * (N - 1) - 3 * mm * (N - 1) + 4 * mm * mm) / ((N - 3) * (N - 3));
    return std::max(1.0, e);
}

std::vector<double> avarCorrelation(
    const std::vector<long> &ms, double tau0, long M, double white, double flat, double walk)
{
    const Eigen::MatrixXd rho = ::avarCorrelation(ms, tau0, M, {white, flat, walk});
    std::vector<double> out(std::size_t(rho.size()));
    for (Eigen::Index i = 0; i < rho.rows(); ++i)
        for (Eigen::Index j = 0; j < rho.cols(); ++j)
            out[std::size_t(i * rho.cols() + j)] = rho(i, j);
    return out;
}

double chiSquaredQuantile(double p, double dof)
{
    const double a = dof / 2;
    double lo = 0, hi = std::max(1.0, dof);
    while (gammaP(a, hi / 2) < p)
        hi *= 2;
    for (int i = 0; i < 200 && hi - lo > 1e-12 * hi; ++i) {
        const double mid = (lo + hi) / 2;
        (gammaP(a, mid / 2) < p ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

} // namespace NoiseMath

NoiseReport analyseNoise(const NoiseInput &input, const NoiseOptions &options)
{
    NoiseReport report;
    if (input.channels.empty()) {
        report.error = QStringLiteral("no channels to analyse");
        return report;
    }
    const long M = long(input.channels.front().values.size());
    for (const NoiseChannel &ch : input.channels)
        if (long(ch.values.size()) != M) {
            report.error = QStringLiteral("channel %1 holds %2 samples, not %3")
                               .arg(ch.name)
                               .arg(ch.values.size())
                               .arg(M);
            return report;
        }

    double rate = input.rateHz;
    if (!input.times.empty()) {
        if (long(input.times.size()) != M) {
            report.error = QStringLiteral("%1 times for %2 samples").arg(input.times.size()).arg(M);
            return report;
        }
        if (M >= 2) {
            // The step: the median over windows of about 100 samples, which
            // averages arrival bursts out and is not moved by a few gaps.
            const long window = std::min<long>(100, M - 1);
            std::vector<double> steps;
            for (long i = 0; i + window < M; i += window)
                steps.push_back((input.times[std::size_t(i + window)] - input.times[std::size_t(i)])
                    / double(window));
            std::nth_element(steps.begin(), steps.begin() + long(steps.size() / 2), steps.end());
            const double step = steps[steps.size() / 2];
            if (rate <= 0 && step > 0)
                rate = 1 / step;
            // Allan variance needs evenly spaced samples: a gap would pass for
            // slow noise, so it is refused rather than bridged. Times taken on
            // arrival lag the module's clock by a varying delay, never lead it:
            // a stall followed by a burst leaves the lower envelope of
            // (time - index * step) where it was, lost samples lift it for good.
            std::vector<double> envelope(static_cast<std::size_t>(M));
            double low = std::numeric_limits<double>::infinity();
            for (long i = M - 1; i >= 0; --i) {
                low = std::min(low, input.times[std::size_t(i)] - double(i) * step);
                envelope[std::size_t(i)] = low;
            }
            for (long i = 0; i < M - 1; ++i) {
                const double back = input.times[std::size_t(i + 1)] - input.times[std::size_t(i)];
                if (back < 0) {
                    report.error
                        = QStringLiteral("the sample times go backwards at %1 s")
                              .arg(input.times[std::size_t(i)] - input.times[0], 0, 'f', 2);
                    return report;
                }
                const double lost = envelope[std::size_t(i + 1)] - envelope[std::size_t(i)];
                if (lost > 2 * step + 0.05) {
                    report.error = QStringLiteral("a gap of %1 s in the samples at %2 s (about %3 "
                                                  "samples missing): the analysis needs an "
                                                  "unbroken recording")
                                       .arg(lost + step, 0, 'g', 3)
                                       .arg(input.times[std::size_t(i)] - input.times[0], 0, 'f', 2)
                                       .arg(std::lround(lost / step));
                    return report;
                }
            }
        }
    }
    if (!(rate > 0)) {
        report.error = QStringLiteral("the sampling rate is unknown");
        return report;
    }
    const double tau0 = 1 / rate;
    report.rateHz = rate;
    report.durationS = double(M) * tau0;
    if (report.durationS < options.minSeconds || M < 100) {
        report.error = QStringLiteral("too short: %1 s of data; the analysis needs at least %2 s "
                                      "(and 100 samples) at rest")
                           .arg(report.durationS, 0, 'f', 1)
                           .arg(options.minSeconds);
        return report;
    }
    const QString motion = motionCheck(input, rate, options);
    if (!motion.isEmpty()) {
        report.error = motion;
        return report;
    }

    const std::vector<long> ms = clusterFactors(M, options.pointsPerDecade);
    for (const NoiseChannel &ch : input.channels) {
        NoiseChannelResult res;
        res.name = ch.name;
        res.unit = ch.unit;
        res.kind = ch.kind;
        std::vector<double> tau, avar;
        {
            const std::vector<double> x = NoiseMath::phaseOf(ch.values, tau0);
            for (long m : ms) {
                tau.push_back(double(m) * tau0);
                avar.push_back(NoiseMath::overlappingAvar(x, tau0, m));
            }
        }
        // Iteratively reweighted: the weights and degrees of freedom follow
        // the fitted curve rather than the noisy points.
        std::vector<double> weight(tau.size()), edf(tau.size());
        for (std::size_t i = 0; i < tau.size(); ++i) {
            edf[i] = NoiseMath::edfWhite(M, ms[i]);
            weight[i] = avar[i] > 0 ? edf[i] / (2 * avar[i] * avar[i]) : 0;
        }
        Fit fit;
        for (int iter = 0; iter < 6; ++iter) {
            fit = fitTerms(tau, avar, weight);
            if (!fit.ok)
                break;
            for (std::size_t i = 0; i < tau.size(); ++i) {
                edf[i] = mixedEdf(M, ms[i], fit.p, tau[i]);
                const double mv = model(fit.p, tau[i]);
                weight[i] = mv > 0 ? edf[i] / (2 * mv * mv) : 0;
            }
        }
        std::vector<double> pointSd(tau.size());
        for (std::size_t i = 0; i < tau.size(); ++i) {
            const double e = edf[i];
            const double lowVar = avar[i] * e / NoiseMath::chiSquaredQuantile(0.95, e);
            const double highVar = avar[i] * e / NoiseMath::chiSquaredQuantile(0.05, e);
            res.adev.push_back(
                {tau[i], std::sqrt(avar[i]), std::sqrt(lowVar), std::sqrt(highVar), e});
            pointSd[i] = (fit.ok ? model(fit.p, tau[i]) : avar[i]) * std::sqrt(2 / e);
        }
        if (fit.ok) {
            fitSpread(fit, tau, weight, pointSd);
            // K from the generalised fit, which weighs the slow points by how
            // much data they share: the diagonal fit with its worst-case
            // spread left K unresolved in 4 to 15 of 20 simulated 3-hour
            // rests. N and B keep the diagonal fit's values, which meet
            // their targets.
            const Fit gls = glsFit(ms, tau, avar, tau0, M, fit);
            std::pair<double, double> walk {-1, -1};
            bool walkResolved = false;
            if (gls.ok) {
                fit.p[2] = gls.p[2];
                fit.used[2] = gls.used[2];
                walkResolved = gls.used[2] && gls.p[2] - NoiseMath::z90 * gls.sd[2] > 0;
                // The generalised fit's own spread came out narrower than any
                // estimator can reach (its large-record covariance misses how
                // the few slow excursions tie the longest points together),
                // and its intervals held the truth in only 15 to 18 of 20
                // seeds, so the interval comes from the information bound.
                std::array<double, 3> levels = gls.p;
                for (int j = 0; j < 2; ++j)
                    if (!gls.used[std::size_t(j)])
                        levels[std::size_t(j)] = 0;
                walk = walkInterval(levels, gls.used[2] ? gls.p[2] : 0, M, tau0);
                fit.sd[2] = (walk.second - walk.first) / (2 * NoiseMath::z90);
            }
            res.N
                = makeTerm(fit.p[0], fit.sd[0], fit.used[0], [](double c) { return std::sqrt(c); });
            res.B = makeTerm(fit.p[1], fit.sd[1], fit.used[1],
                [](double c) { return std::sqrt(c / flickerGain); });
            res.K = makeTerm(
                fit.p[2], fit.sd[2], fit.used[2], [](double c) { return std::sqrt(3 * c); });
            if (walk.first >= 0) {
                // Resolved only when the fit itself tells the walk from zero
                // too: on short records the bound alone took noise for a walk.
                res.K.known = fit.used[2] && walk.first > 0 && walkResolved;
                res.K.low = std::sqrt(3 * walk.first);
                res.K.high = std::sqrt(3 * walk.second);
            }
            const double a = res.N.known ? fit.p[0] : 0, b = res.B.known ? fit.p[1] : 0;
            // Bounds from the points themselves: no flat part can lie above
            // any point's upper bound, no walk above upper bound / tau.
            double flatBound = std::numeric_limits<double>::infinity(), walkBound = flatBound;
            for (const AdevPoint &pt : res.adev) {
                flatBound = std::min(flatBound, pt.high * pt.high);
                walkBound = std::min(walkBound, pt.high * pt.high / pt.tau);
            }
            if (!res.N.known)
                res.N.reason = QStringLiteral("no white noise resolved at the shortest cluster "
                                              "times");
            if (!res.B.known) {
                const double bHigh = std::min(
                    flatBound, fit.used[1] ? fit.p[1] + NoiseMath::z90 * fit.sd[1] : flatBound);
                res.B.low = 0;
                res.B.high = std::sqrt(bHigh / flickerGain);
                const double tauSeen = bHigh > 0 ? a / bHigh : 0;
                if (bHigh > 0 && fit.p[2] > 0 && fit.p[2] * tauSeen > bHigh) {
                    res.B.reason = QStringLiteral("hidden under the rate random walk at every "
                                                  "cluster time: no recording length shows it");
                } else {
                    res.B.neededSeconds = std::max(10 * tauSeen, 2 * report.durationS);
                    res.B.reason = QStringLiteral("too little data: a flat part this low shows "
                                                  "only in a recording of about %1 or longer")
                                       .arg(lengthText(res.B.neededSeconds));
                }
            }
            if (!res.K.known) {
                const double cHigh = std::min(walkBound,
                    walk.second >= 0  ? walk.second
                        : fit.used[2] ? fit.p[2] + NoiseMath::z90 * fit.sd[2]
                                      : walkBound);
                res.K.low = 0;
                res.K.high = std::sqrt(3 * cHigh);
                double tauStar = report.durationS;
                if (cHigh > 0)
                    tauStar = (b + std::sqrt(b * b + 4 * a * cHigh)) / (2 * cHigh);
                res.K.neededSeconds = std::max(10 * tauStar, 2 * report.durationS);
                res.K.reason = QStringLiteral("too little data: a random walk this small shows "
                                              "only in a recording of about %1 or longer")
                                   .arg(lengthText(res.K.neededSeconds));
            }
        } else {
            for (NoiseTerm *t : {&res.N, &res.B, &res.K})
                t->reason = QStringLiteral("the Allan curve could not be fitted");
        }
        if (options.spectrum) {
            welch(ch.values, rate, res);
            // The floor's own scatter is well under a percent; 10 % leaves
            // room for what flicker adds low in the band.
            if (res.psdN > 0 && res.N.known)
                res.psdAgrees = std::fabs(res.psdN / res.N.value - 1) < 0.1;
            if (!res.psdAgrees)
                report.warning += QStringLiteral("%1: the spectrum's white floor says N = %2, the "
                                                 "Allan fit %3 (a filter in the module?). ")
                                      .arg(res.name)
                                      .arg(res.psdN, 0, 'g', 3)
                                      .arg(res.N.value, 0, 'g', 3);
        }
        report.channels.push_back(std::move(res));
    }
    report.warning = report.warning.trimmed();
    report.ok = true;
    return report;
}
