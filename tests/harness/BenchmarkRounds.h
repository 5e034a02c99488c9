// Benchmark support: a clock, and the median of several rounds of each side of a comparison,
// timed in turn (A, B, A, B, ...) so that a change in the machine's load while a benchmark runs
// falls on both sides alike, and one slow or lucky round moves a figure no more than the middle
// one does.
#pragma once
#include "BenchRounds.h"

#include <windows.h>
#include <algorithm>
#include <array>
#include <vector>

namespace tv::test {

// The performance counter in seconds.
inline double BenchmarkClock() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

using tv::bench::Median;

// Runs `rounds` rounds, each calling every side once in the order given; a side times what it
// measures itself (so that it can prepare a round untimed) and gives the seconds, or a negative
// value when it failed. The median of each side's rounds, in the order of the sides; all -1 when
// a side failed.
template <class... Sides> std::array<double, sizeof...(Sides)> MedianOfRounds(int rounds, Sides&&... sides) {
    constexpr size_t kSides = sizeof...(Sides);
    std::array<std::vector<double>, kSides> times;
    std::array<double, kSides> medians;
    medians.fill(-1);
    for (int round = 0; round < rounds; ++round) {
        size_t side = 0;
        const auto take = [&](double seconds) {
            times[side++].push_back(seconds);
            return seconds >= 0;
        };
        // Left to right, and no further once a side has failed.
        if (!(... && take(sides())))
            return medians;
    }
    for (size_t side = 0; side < kSides; ++side)
        medians[side] = Median(times[side]);
    return medians;
}

} // namespace tv::test
