#include "bench/percentiles.h"

#include <algorithm>
#include <cmath>

namespace tavrel::bench {

double NearestRank(const std::vector<double>& sorted, double fraction)
{
    const double rank = std::ceil(fraction * static_cast<double>(sorted.size()));
    const auto index = static_cast<std::size_t>(std::max(rank, 1.0)) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

std::optional<Distribution> Summarize(std::vector<double> samples)
{
    if (samples.empty()) {
        return std::nullopt;
    }
    std::sort(samples.begin(), samples.end());
    return Distribution{NearestRank(samples, 0.5), NearestRank(samples, 0.99), samples.back(), samples.size()};
}

std::optional<double> MedianOf(std::vector<double> values)
{
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    return NearestRank(values, 0.5);
}

}  // namespace tavrel::bench
