#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

// Nearest rank: the smallest value that at least `share` of the values do not exceed.
inline double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<size_t>(rank, 1) - 1];
}
