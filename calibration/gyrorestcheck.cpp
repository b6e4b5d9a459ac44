// SPDX-License-Identifier: GPL-3.0-or-later
#include "gyrorestcheck.h"

#include <algorithm>
#include <cmath>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    return values[mid];
}

} // namespace

GyroRestCheck GyroRestCheck::evaluate(const std::vector<Sample4> &samples)
{
    GyroRestCheck check;
    const int n = int(samples.size());
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> values(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            values[std::size_t(i)] = double(samples[std::size_t(i)][axis]);
        const double centre = median(values);
        std::vector<double> deviations(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            deviations[std::size_t(i)] = std::fabs(values[std::size_t(i)] - centre);
        // 1.4826 turns the median absolute deviation of Gaussian noise into
        // its standard deviation.
        const double noise = 1.4826 * median(deviations);
        const double threshold = std::max(minimumRateDegPerSec, noiseFactor * noise);
        check.noiseDegPerSec = std::max(check.noiseDegPerSec, noise);
        check.thresholdDegPerSec = std::max(check.thresholdDegPerSec, threshold);
        int inRow = 0;
        for (int i = 0; i < n; ++i) {
            const double d = deviations[std::size_t(i)];
            if (!std::isfinite(d) || d > threshold) {
                ++inRow;
                if (inRow >= samplesInRow) {
                    check.moved = true;
                    const int start = i - samplesInRow + 1;
                    if (check.firstSample < 0 || start < check.firstSample)
                        check.firstSample = start;
                }
            } else {
                inRow = 0;
            }
            if (d > check.peakDegPerSec) {
                check.peakDegPerSec = d;
                check.axis = axis;
            }
        }
    }
    return check;
}
