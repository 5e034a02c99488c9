#include "ProgressScale.h"

namespace tv::backup {

namespace {

constexpr uint64_t kLargestFigure = 0x7FFFFFFF;

} // namespace

ProgressScale::ProgressScale(uint64_t total) : total_(total) {
    while ((total >> shift_) > kLargestFigure)
        ++shift_;
}

int32_t ProgressScale::Scaled(uint64_t bytes) const {
    const uint64_t figure = bytes >> shift_;
    return static_cast<int32_t>(figure > kLargestFigure ? kLargestFigure : figure);
}

} // namespace tv::backup
