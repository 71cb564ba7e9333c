// Summaries of measured samples: median, 99th percentile and maximum by the
// nearest-rank method, so that every figure reported is a value that was
// actually measured (no interpolation between two samples).
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace tavrel::bench {

struct Distribution {
    double median = 0;
    double p99 = 0;
    double max = 0;
    std::size_t count = 0;
};

// The sample of rank ceil(fraction * n) (1-based) among `sorted`, which must
// be sorted ascending and not empty; fraction is in (0, 1].
double NearestRank(const std::vector<double>& sorted, double fraction);

// Nothing for no samples.
std::optional<Distribution> Summarize(std::vector<double> samples);

// The middle value of a few repeated figures (the lower one of the two
// middle values for an even count); nothing for none.
std::optional<double> MedianOf(std::vector<double> values);

}  // namespace tavrel::bench
