// Timing for the benchmark programs: the sides of a ratio are timed in rounds taken in turn (A, B,
// A, B, ...), so that a change in the machine's load falls on both sides alike, and each side's
// figure is its median round. Work far shorter than a clock tick's worth of noise is repeated
// within its round until the round is long enough to time well.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace tv::bench {

// The middle value, or the mean of the two middle ones; 0 when there are none.
inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    if (values.size() % 2)
        return values[middle];
    return (values[middle] + *std::max_element(values.begin(), values.begin() + middle)) / 2;
}

// The seconds one call of `work` takes, from as many calls in a row as fill `least` seconds.
template <class Work> double SecondsPerCall(Work&& work, double least) {
    const auto start = std::chrono::steady_clock::now();
    long calls = 0;
    double elapsed = 0;
    do {
        work();
        ++calls;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < least);
    return elapsed / calls;
}

// Runs `rounds` rounds, each calling every side once in the order given; a side returns the
// seconds it took (a negative number when it failed). The times of each side, in that order, one a
// round; nothing when any call failed.
inline std::vector<std::vector<double>>
InterleavedRounds(int rounds, std::initializer_list<std::function<double()>> sides) {
    std::vector<std::vector<double>> times(sides.size());
    for (int round = 0; round < rounds; ++round) {
        size_t side = 0;
        for (const auto& run : sides) {
            const double seconds = run();
            if (seconds < 0)
                return {};
            times[side++].push_back(seconds);
        }
    }
    return times;
}

// A ratio of two sides timed in rounds: the ratio of their median rounds, and the least and the
// greatest ratio of one round's pair, printed beside it to show how far the rounds spread. All -1
// when a side has no rounds or a zero time.
struct RoundsRatio {
    double median = -1, least = -1, most = -1;
};

inline RoundsRatio RatioOfRounds(const std::vector<double>& top, const std::vector<double>& bottom) {
    RoundsRatio ratio;
    const size_t rounds = std::min(top.size(), bottom.size());
    if (rounds == 0 || Median(bottom) <= 0)
        return ratio;
    ratio.median = Median(top) / Median(bottom);
    for (size_t round = 0; round < rounds; ++round) {
        if (bottom[round] <= 0)
            return RoundsRatio{};
        const double one = top[round] / bottom[round];
        ratio.least = ratio.least < 0 ? one : std::min(ratio.least, one);
        ratio.most = std::max(ratio.most, one);
    }
    return ratio;
}

// The figure's text for a benchmark line: "ratio 1.23 (min 1.10, max 1.40, goal <= 1.5)".
inline std::string RatioText(const RoundsRatio& ratio, const char* goal) {
    char text[128];
    std::snprintf(text, sizeof text, "ratio %.2f (min %.2f, max %.2f, goal %s)", ratio.median, ratio.least,
                  ratio.most, goal);
    return text;
}

} // namespace tv::bench
