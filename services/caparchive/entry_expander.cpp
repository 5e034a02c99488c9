#include "entry_codec.h"

#include "entry_codes.h"
#include "result_codes.h"

#include <cstring>

namespace caparchive {
namespace {

// Reads bits least significant first from each byte. The register holds the byte plus a 0xFF00
// filler: once the filler has been shifted out of bits 8..15, the byte is used up.
class BitReader {
  public:
    explicit BitReader(std::span<const uint8_t> input) : input_(input) {}

    // 0 or 1, or -1 past the end of the input.
    int Bit() {
        if ((register_ & 0xFF00u) == 0) {
            if (position_ >= input_.size())
                return -1;
            register_ = input_[position_++] | 0xFF00u;
        }
        const int bit = static_cast<int>(register_ & 1u);
        register_ >>= 1;
        return bit;
    }

    // An n-bit field, most significant bit first; -1 past the end of the input.
    int Field(unsigned bits) {
        int value = 0;
        for (unsigned i = 0; i < bits; ++i) {
            const int bit = Bit();
            if (bit < 0)
                return -1;
            value = value << 1 | bit;
        }
        return value;
    }

    bool AtEnd() const { return position_ >= input_.size(); }

  private:
    std::span<const uint8_t> input_;
    size_t position_ = 0;
    unsigned register_ = 0;
};

// Walks `tree` from `node` and returns the decoded value, or -1 on a bad code or the end of input.
int DecodeValue(BitReader& reader, const codes::DecodeTree& tree, std::span<const codes::CodeRow> rows,
                int node) {
    for (;;) {
        const int bit = reader.Bit();
        if (bit < 0)
            return -1;
        const int child = tree.nodes[node][bit];
        if (child == 0)
            return -1;
        if (child < 0) {
            const codes::CodeRow& row = rows[-child - 1];
            const int extra = reader.Field(row.extraBits);
            return extra < 0 ? -1 : row.first + extra;
        }
        node = child;
    }
}

} // namespace

uint64_t MaxExpandedSize(uint64_t streamLength) {
    return (streamLength * 8 / codes::kMinMatchBits + 1) * codes::kMaxMatchLength;
}

int ExpandEntry(std::span<uint8_t> output, std::span<const uint8_t> input, size_t& produced) {
    produced = 0;
    BitReader reader(input);
    size_t p = 0;
    while (!reader.AtEnd()) {
        const int flag = reader.Bit();
        if (flag < 0)
            return kErrorInvalidData;
        if (flag == 0) {
            const int value = reader.Field(8);
            if (value < 0 || p >= output.size())
                return kErrorInvalidData;
            output[p++] = static_cast<uint8_t>(value);
            continue;
        }
        // The flag bit is the first bit of the length prefix.
        const int lengthNode = codes::kLengthTree.nodes[0][1];
        const int length = DecodeValue(reader, codes::kLengthTree, codes::kLengthRows, lengthNode);
        if (length < 0)
            return kErrorInvalidData;
        const int distance = DecodeValue(reader, codes::kDistanceTree, codes::kDistanceRows, 0);
        if (distance < 0)
            return kErrorInvalidData;
        const size_t n = static_cast<size_t>(length);
        const size_t back = n + static_cast<size_t>(distance);
        if (back > p || n > output.size() - p)
            return kErrorInvalidData;
        // The source ends at or before p, so the ranges never overlap.
        std::memcpy(output.data() + p, output.data() + p - back, n);
        p += n;
    }
    produced = p;
    return kSuccess;
}

} // namespace caparchive
