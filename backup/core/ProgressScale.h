// Byte counts of a transfer as the progress sink's figures, which are 32-bit: when the total does
// not fit, every figure of the transfer (the total, each file's size and progress) is divided by
// the same power of two, so that each keeps its share of the bar.
#pragma once
#include <cstdint>

namespace tv::backup {

class ProgressScale {
  public:
    ProgressScale() = default;
    explicit ProgressScale(uint64_t total);

    // The figure of `bytes` of this transfer.
    int32_t Scaled(uint64_t bytes) const;
    int32_t Total() const { return Scaled(total_); }

  private:
    uint64_t total_ = 0;
    unsigned shift_ = 0;
};

} // namespace tv::backup
