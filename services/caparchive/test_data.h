// Reproducible inputs for the codec's tests and benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace caparchive::testdata {

// English-like prose: words of varied frequency, punctuation and line breaks.
std::vector<uint8_t> MakeText(size_t size, uint32_t seed);

// Uniformly random bytes.
std::vector<uint8_t> MakeRandom(size_t size, uint32_t seed);

// Random bytes drawn from the first `alphabet` letters: many short, overlapping matches.
std::vector<uint8_t> MakeSmallAlphabet(size_t size, unsigned alphabet, uint32_t seed);

} // namespace caparchive::testdata
