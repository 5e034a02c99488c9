#include "entry_codec.h"

#include "entry_codes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace caparchive {
namespace {

// Packs bits least significant first into a caller's buffer; each field goes most significant
// bit first. Tracks overflow instead of writing past the buffer.
class BitWriter {
  public:
    explicit BitWriter(std::span<uint8_t> output) : output_(output) {}

    void Field(unsigned value, unsigned bits) {
        while (bits > 0) {
            --bits;
            Bit((value >> bits) & 1u);
        }
    }

    // Bytes begun so far (a partly filled byte counts).
    size_t BytesUsed() const { return (bitCount_ + 7) / 8; }
    bool Overflowed() const { return overflowed_; }

  private:
    void Bit(unsigned bit) {
        const size_t index = bitCount_ / 8;
        if (index >= output_.size()) {
            overflowed_ = true;
        } else {
            if (bitCount_ % 8 == 0)
                output_[index] = 0;
            output_[index] |= static_cast<uint8_t>(bit << (bitCount_ % 8));
        }
        ++bitCount_;
    }

    std::span<uint8_t> output_;
    size_t bitCount_ = 0;
    bool overflowed_ = false;
};

// Bits of every length and distance code, looked up instead of searched for each split tried.
struct CodeBitTables {
    std::array<uint8_t, codes::kMaxMatchLength + 1> length{};
    std::array<uint8_t, codes::kMaxDistance + 1> distance{};
    CodeBitTables() {
        for (unsigned k = codes::kMinMatchLength; k <= codes::kMaxMatchLength; ++k)
            length[k] = static_cast<uint8_t>(codes::CodeBits(codes::kLengthRows, k));
        for (unsigned d = 0; d <= codes::kMaxDistance; ++d)
            distance[d] = static_cast<uint8_t>(codes::CodeBits(codes::kDistanceRows, d));
    }
};
const CodeBitTables kCodeBits;

// The encoder: a greedy parse over an 8192-byte window with a pending string of up to 256 bytes.
// Each new byte extends the pending string while the string still occurs in the window (its most
// recent occurrence is remembered per length); when it stops occurring, the split of the pending
// string into one match plus literals that costs the fewest bits is emitted.
//
// Window positions are absolute byte counts (the ring index is position % 8192). Occurrences are
// found through hash chains keyed by the first two bytes, newest first, which gives the same most
// recent occurrence as scanning the window backwards. The chain table grows with the input (up to
// one chain per byte pair) so that small entries do not pay for clearing a large table.
class EntryCompressor {
  public:
    explicit EntryCompressor(size_t inputSize);
    std::ptrdiff_t Compress(std::span<uint8_t> output, std::span<const uint8_t> input);

  private:
    static constexpr int64_t kWindowSize = 8192;
    static constexpr int64_t kWindowMask = kWindowSize - 1;
    static constexpr int kNone = -1;

    int64_t Oldest() const { return std::max<int64_t>(0, written_ - kWindowSize); }
    bool Search(int length);
    bool MatchesPending(int64_t position, int length) const;
    void PutInWindow(uint8_t byte);
    void EmitLiteral();
    void EmitBestSplit();
    void DropPending(int count);
    uint8_t WindowAt(int64_t position) const { return window_[position & kWindowMask]; }
    unsigned PairHash(uint8_t a, uint8_t b) const {
        return ((unsigned{a} << 8 | b) * 0x9E3779B1u) >> hashShift_;
    }

    // Only window bytes and chain links that have been written are ever read.
    std::array<uint8_t, kWindowSize> window_;
    int64_t written_ = 0; // window write position W; the fill is min(W, 8192)
    unsigned hashShift_ = 16;
    std::vector<int64_t> chainHead_;
    std::array<int64_t, kWindowSize> chainNext_;
    std::array<int64_t, 256> lastByte_;
    std::array<uint8_t, codes::kMaxMatchLength> pending_;
    int pendingCount_ = 0;
    // found_[k]: window position where the first k pending bytes occur, kNone when not known.
    std::array<int64_t, codes::kMaxMatchLength + 1> found_;
    // The last successful chain search, which a search one byte longer may continue from.
    int lastSearchLength_ = 0;
    int64_t lastSearchWritten_ = kNone;
    BitWriter* bits_ = nullptr;
};

EntryCompressor::EntryCompressor(size_t inputSize) {
    const unsigned hashBits = codes::HashTableBits(inputSize, 16);
    hashShift_ = 32 - hashBits;
    chainHead_.assign(size_t{1} << hashBits, kNone);
    lastByte_.fill(kNone);
}

bool EntryCompressor::MatchesPending(int64_t position, int length) const {
    if (WindowAt(position + length - 1) != pending_[length - 1])
        return false;
    // The bytes before the last one, compared in at most two runs of the ring.
    const size_t start = static_cast<size_t>(position & kWindowMask);
    const size_t count = static_cast<size_t>(length - 1);
    const size_t first = std::min(count, static_cast<size_t>(kWindowSize) - start);
    return std::memcmp(window_.data() + start, pending_.data(), first) == 0 &&
           std::memcmp(window_.data(), pending_.data() + first, count - first) == 0;
}

// Looks for the most recent occurrence of the first `length` pending bytes that lies wholly in
// the window, and remembers it in found_[length].
bool EntryCompressor::Search(int length) {
    const int64_t oldest = Oldest();
    found_[length] = kNone;
    if (length == 1) {
        const int64_t position = lastByte_[pending_[0]];
        if (position == kNone || position < oldest)
            return false;
        found_[1] = position;
        return true;
    }
    // Every occurrence of the longer string is an occurrence of the shorter one at or before where
    // the shorter one was found, so a search one byte longer at the same W continues from there.
    int64_t position = chainHead_[PairHash(pending_[0], pending_[1])];
    const int64_t newest = written_ - length;
    if (length > 2 && lastSearchLength_ == length - 1 && lastSearchWritten_ == written_) {
        position = found_[length - 1];
        // The shorter string is known to be there: only its new last byte needs a look. This
        // keeps a long pending string from being compared anew for every byte it grows by.
        if (position <= newest && WindowAt(position + length - 1) == pending_[length - 1]) {
            found_[length] = position;
            lastSearchLength_ = length;
            return true;
        }
    }
    while (position != kNone && position >= oldest) {
        if (position <= newest && MatchesPending(position, length)) {
            found_[length] = position;
            lastSearchLength_ = length;
            lastSearchWritten_ = written_;
            return true;
        }
        position = chainNext_[position & kWindowMask];
    }
    return false;
}

void EntryCompressor::PutInWindow(uint8_t byte) {
    window_[written_ & kWindowMask] = byte;
    lastByte_[byte] = written_;
    if (written_ > 0) {
        // The pair that ends with this byte starts one position earlier.
        const int64_t start = written_ - 1;
        const unsigned hash = PairHash(WindowAt(start), byte);
        chainNext_[start & kWindowMask] = chainHead_[hash];
        chainHead_[hash] = start;
    }
    ++written_;
}

void EntryCompressor::EmitLiteral() {
    bits_->Field(0, 1);
    bits_->Field(pending_[0], 8);
    PutInWindow(pending_[0]);
    DropPending(1);
}

// Removes `count` bytes from the front of the pending string. The remembered occurrences of the
// remaining bytes lie `count` positions further on than those of the longer strings they came from.
void EntryCompressor::DropPending(int count) {
    const int remaining = pendingCount_ - count;
    std::copy(pending_.begin() + count, pending_.begin() + pendingCount_, pending_.begin());
    for (int k = 1; k <= remaining; ++k)
        found_[k] = found_[k + count] == kNone ? kNone : found_[k + count] + count;
    pendingCount_ = remaining;
    lastSearchLength_ = 0;
}

// Emits the first k pending bytes, as a literal (k = 1) or as a match, choosing the k for which
// this token plus literals for the rest of the pending string costs the fewest bits.
void EntryCompressor::EmitBestSplit() {
    const int n = pendingCount_;
    int bestLength = 1;
    unsigned bestCost = 9u * n;
    unsigned bestDistance = 0;
    for (int k = 2; k <= n; ++k) {
        if (found_[k] == kNone)
            continue;
        const auto distance = static_cast<unsigned>(written_ - found_[k] - k);
        const unsigned cost = kCodeBits.length[k] + kCodeBits.distance[distance] + 9u * (n - k);
        if (cost < bestCost) {
            bestCost = cost;
            bestLength = k;
            bestDistance = distance;
        }
    }
    if (bestLength == 1) {
        EmitLiteral();
        return;
    }
    const codes::CodeRow& lengthRow = codes::RowFor(codes::kLengthRows, bestLength);
    bits_->Field(lengthRow.prefix, lengthRow.prefixBits);
    bits_->Field(bestLength - lengthRow.first, lengthRow.extraBits);
    const codes::CodeRow& distanceRow = codes::RowFor(codes::kDistanceRows, bestDistance);
    bits_->Field(distanceRow.prefix, distanceRow.prefixBits);
    bits_->Field(bestDistance - distanceRow.first, distanceRow.extraBits);
    for (int i = 0; i < bestLength; ++i)
        PutInWindow(pending_[i]);
    DropPending(bestLength);
}

std::ptrdiff_t EntryCompressor::Compress(std::span<uint8_t> output, std::span<const uint8_t> input) {
    if (input.empty())
        return -1;
    // The stream must be smaller than the input to be worth storing.
    BitWriter writer(output.first(std::min(output.size(), input.size() - 1)));
    bits_ = &writer;
    size_t next = 0;
    while (next < input.size()) {
        pending_[pendingCount_++] = input[next];
        if (Search(pendingCount_)) {
            ++next;
            if (pendingCount_ == static_cast<int>(codes::kMaxMatchLength))
                EmitBestSplit();
        } else if (pendingCount_ < 3) {
            ++next;
            EmitLiteral();
        } else {
            // Take the byte back out; it is appended again on the next round.
            --pendingCount_;
            EmitBestSplit();
        }
        if (writer.Overflowed() || writer.BytesUsed() >= input.size())
            return -1;
    }
    while (pendingCount_ > 0) {
        if (pendingCount_ == 1)
            EmitLiteral();
        else
            EmitBestSplit();
    }
    if (writer.Overflowed() || writer.BytesUsed() >= input.size())
        return -1;
    return static_cast<std::ptrdiff_t>(writer.BytesUsed());
}

} // namespace

std::ptrdiff_t CompressEntry(std::span<uint8_t> output, std::span<const uint8_t> input) {
    // About 80 KiB of state plus the chain table: on the heap, one per call, so that calls may run
    // concurrently. Plain new leaves the window and the chain links uncleared; they are written
    // before they are read.
    const std::unique_ptr<EntryCompressor> compressor(new EntryCompressor(input.size()));
    return compressor->Compress(output, input);
}

} // namespace caparchive
