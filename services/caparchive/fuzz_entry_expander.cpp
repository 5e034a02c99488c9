// Fuzzes the expander with hostile streams, and the compressor against the expander: whatever the
// compressor makes must expand to the very input.
#include "entry_codec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace caparchive;
    if (size < 2)
        return 0;
    // The first two bytes choose the output capacity, the rest is the stream.
    const size_t capacity = size_t{data[0]} << 8 | data[1];
    std::vector<uint8_t> output(capacity);
    size_t produced = 0;
    const std::span<const uint8_t> stream(data + 2, size - 2);
    if (ExpandEntry(output, stream, produced) == 0 && produced > capacity)
        std::abort();

    const std::span<const uint8_t> input(data, size);
    std::vector<uint8_t> packed(size);
    const std::ptrdiff_t length = CompressEntry(packed, input);
    if (length < 0)
        return 0;
    if (static_cast<size_t>(length) >= size)
        std::abort();
    std::vector<uint8_t> unpacked(size);
    if (ExpandEntry(unpacked, std::span(packed).first(static_cast<size_t>(length)), produced) != 0 ||
        produced != size || std::memcmp(unpacked.data(), data, size) != 0)
        std::abort();
    return 0;
}
