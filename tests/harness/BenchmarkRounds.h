// Benchmark support: a clock, and the median of several rounds of each side of a comparison,
// timed in turn (A, B, A, B, ...) so that a change in the machine's load while a benchmark runs
// falls on both sides alike, and one slow or lucky round moves a figure no more than the middle
// one does.
#pragma once
#include "BenchRounds.h"

#include <windows.h>
#include <array>
#include <functional>
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

// The rounds of every side, each side's times in round order (for tv::bench::RatioOfRounds);
// nothing when a side failed.
template <class... Sides> std::vector<std::vector<double>> TimesOfRounds(int rounds, Sides&&... sides) {
    return tv::bench::InterleavedRounds(rounds, {std::function<double()>(std::ref(sides))...});
}

// The rounds of tv::bench::InterleavedRounds, each side timing what it measures itself (so that
// it can prepare a round untimed) and giving the seconds, or a negative value when it failed. The
// median of each side's rounds, in the order of the sides; all -1 when a side failed.
template <class... Sides> std::array<double, sizeof...(Sides)> MedianOfRounds(int rounds, Sides&&... sides) {
    std::array<double, sizeof...(Sides)> medians;
    medians.fill(-1);
    const std::vector<std::vector<double>> times = TimesOfRounds(rounds, sides...);
    for (size_t side = 0; side < times.size(); ++side)
        medians[side] = Median(times[side]);
    return medians;
}

} // namespace tv::test
