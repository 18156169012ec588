#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// What the benchmarks share: the clock, milliseconds since a point, percentiles, and the end
// of a run that cannot go on.

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Nearest rank: the smallest value that at least `share` of the values do not exceed.
inline double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<size_t>(rank, 1) - 1];
}

// Says what failed and ends the benchmark.
[[noreturn]] inline void Fail(const std::string& what, const std::string& error) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), error.c_str());
    std::exit(1);
}
