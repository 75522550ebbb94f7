// The spread the benchmarks print over their paired runs.
#pragma once

#include <algorithm>
#include <vector>

struct Spread {
    double min = 0, median = 0, max = 0;
};

// Min, median and max of `v`; zeros when it is empty.
inline Spread spread(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return s;
}
