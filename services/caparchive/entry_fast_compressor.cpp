#include "entry_codec.h"

#include "entry_codes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace caparchive {
namespace {

// A code as it goes into the stream: its bits in stream order (the first bit sent in bit 0) and
// their count. Fields are sent most significant bit first, so a field's bits are reversed here once.
struct StreamCode {
    uint32_t bits = 0;
    uint8_t count = 0;
};

uint32_t Reversed(uint32_t value, unsigned count) {
    uint32_t out = 0;
    for (unsigned i = 0; i < count; ++i)
        out |= ((value >> i) & 1u) << (count - 1 - i);
    return out;
}

StreamCode CodeOf(const codes::CodeRow& row, unsigned value) {
    const unsigned count = row.prefixBits + row.extraBits;
    const uint32_t field = (uint32_t{row.prefix} << row.extraBits) | (value - row.first);
    return {Reversed(field, count), static_cast<uint8_t>(count)};
}

struct StreamCodes {
    std::array<StreamCode, 256> literal{};
    std::array<StreamCode, codes::kMaxMatchLength + 1> length{};
    std::array<StreamCode, codes::kMaxDistance + 1> distance{};
    StreamCodes() {
        for (unsigned b = 0; b < 256; ++b)
            literal[b] = {Reversed(b, 8) << 1, 9}; // the flag bit 0, then the byte
        for (unsigned n = codes::kMinMatchLength; n <= codes::kMaxMatchLength; ++n)
            length[n] = CodeOf(codes::RowFor(codes::kLengthRows, n), n);
        for (unsigned d = 0; d <= codes::kMaxDistance; ++d)
            distance[d] = CodeOf(codes::RowFor(codes::kDistanceRows, d), d);
    }
};
const StreamCodes kStreamCodes;

// Packs codes into bytes through a 64-bit register; stops writing (and says so) at the limit.
class FastBitWriter {
  public:
    explicit FastBitWriter(std::span<uint8_t> output) : output_(output) {}

    void Put(StreamCode code) {
        register_ |= uint64_t{code.bits} << pending_;
        pending_ += code.count;
        while (pending_ >= 8) {
            if (used_ >= output_.size()) {
                overflowed_ = true;
                pending_ = 0;
                register_ = 0;
                return;
            }
            output_[used_++] = static_cast<uint8_t>(register_);
            register_ >>= 8;
            pending_ -= 8;
        }
    }
    // Writes the partly filled last byte, its remaining bits 0.
    void Finish() {
        if (pending_ == 0)
            return;
        if (used_ >= output_.size())
            overflowed_ = true;
        else
            output_[used_++] = static_cast<uint8_t>(register_);
        pending_ = 0;
    }
    size_t BytesUsed() const { return used_ + (pending_ + 7) / 8; }
    bool Overflowed() const { return overflowed_; }

  private:
    std::span<uint8_t> output_;
    size_t used_ = 0;
    uint64_t register_ = 0;
    unsigned pending_ = 0;
    bool overflowed_ = false;
};

// The greedy encoder: at each position the most recent earlier occurrence of the next three bytes
// (found through a hash table) is extended as far as it goes. A match copies bytes that end at or
// before the output position, so a repetition with a short period is taken from one period further
// back as many times as a whole match needs. A match is sent only when it costs fewer bits than
// its bytes as literals.
class FastEntryCompressor {
  public:
    explicit FastEntryCompressor(size_t inputSize);
    std::ptrdiff_t Compress(std::span<uint8_t> output, std::span<const uint8_t> input);

  private:
    static constexpr uint32_t kNone = UINT32_MAX;

    unsigned Hash(const uint8_t* p) const {
        const uint32_t key = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
        return (key * 0x9E3779B1u) >> hashShift_;
    }
    // The length of the match at `from` for the bytes at `at`, at most `limit`.
    static size_t MatchLength(const uint8_t* from, const uint8_t* at, size_t limit) {
        size_t n = 0;
        while (n < limit && from[n] == at[n])
            ++n;
        return n;
    }
    // The longest usable match for the bytes at p: its length (0 when none) and distance code D.
    size_t FindMatch(const uint8_t* data, size_t size, size_t p, size_t& distance);

    unsigned hashShift_ = 17;
    std::vector<uint32_t> head_;
};

FastEntryCompressor::FastEntryCompressor(size_t inputSize) {
    const unsigned hashBits = codes::HashTableBits(inputSize, 15);
    hashShift_ = 32 - hashBits;
    head_.assign(size_t{1} << hashBits, kNone);
}

size_t FastEntryCompressor::FindMatch(const uint8_t* data, size_t size, size_t p, size_t& distance) {
    if (p + 3 > size)
        return 0;
    const unsigned hash = Hash(data + p);
    const uint32_t candidate = head_[hash];
    head_[hash] = static_cast<uint32_t>(p);
    if (candidate == kNone)
        return 0;
    const size_t period = p - candidate;
    if (period > codes::kMaxDistance + codes::kMaxMatchLength)
        return 0;
    const size_t room = std::min<size_t>(codes::kMaxMatchLength, size - p);
    // The bytes may run on past p: then they repeat with this period, and whole periods further
    // back hold the same bytes, far enough back for a longer match that still ends before p.
    const size_t reach = MatchLength(data + candidate, data + p, room);
    size_t length = std::min(reach, period);
    size_t back = period;
    if (reach > period) {
        const size_t periods = std::min((reach + period - 1) / period, p / period);
        const size_t further = periods * period;
        if (periods > 1 && further - std::min(reach, further) <= codes::kMaxDistance) {
            const size_t n = MatchLength(data + p - further, data + p, std::min(room, further));
            if (n > length) {
                length = n;
                back = further;
            }
        }
    }
    if (length < codes::kMinMatchLength || back - length > codes::kMaxDistance)
        return 0;
    distance = back - length;
    return length;
}

std::ptrdiff_t FastEntryCompressor::Compress(std::span<uint8_t> output, std::span<const uint8_t> input) {
    if (input.empty())
        return -1;
    // The stream must be smaller than the input to be worth storing.
    FastBitWriter writer(output.first(std::min(output.size(), input.size() - 1)));
    const uint8_t* data = input.data();
    const size_t size = input.size();
    size_t p = 0;
    while (p < size) {
        size_t distance = 0;
        const size_t length = FindMatch(data, size, p, distance);
        const StreamCode lengthCode = kStreamCodes.length[length];
        const StreamCode distanceCode = kStreamCodes.distance[distance];
        if (length >= codes::kMinMatchLength && lengthCode.count + distanceCode.count < 9u * length) {
            writer.Put(lengthCode);
            writer.Put(distanceCode);
            // Later bytes of the match can start matches too.
            for (size_t q = p + 1; q < p + length && q + 3 <= size; ++q)
                head_[Hash(data + q)] = static_cast<uint32_t>(q);
            p += length;
        } else {
            writer.Put(kStreamCodes.literal[data[p]]);
            ++p;
        }
        if (writer.Overflowed() || writer.BytesUsed() >= size)
            return -1;
    }
    writer.Finish();
    if (writer.Overflowed() || writer.BytesUsed() >= size)
        return -1;
    return static_cast<std::ptrdiff_t>(writer.BytesUsed());
}

} // namespace

std::ptrdiff_t CompressEntryFast(std::span<uint8_t> output, std::span<const uint8_t> input) {
    FastEntryCompressor compressor(input.size());
    return compressor.Compress(output, input);
}

} // namespace caparchive
