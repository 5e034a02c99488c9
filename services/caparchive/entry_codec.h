// The entry codec: the LZ-style bit stream that compressed package entries carry.
//
// Stream: tokens until the end of the body. A literal is the bit 0 and the byte (8 bits); a match
// is a length code (2..256 bytes) and a distance code D (0..8191); it copies the n bytes that start
// n + D bytes before the output position. Bits are packed into bytes least significant bit first,
// each field is sent most significant bit first. The last byte is padded with zero bits; since every
// token is at least 9 bits long, decoding stops after the token that consumed the last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace caparchive {

// Decodes a compressed stream into `output`. Writes no byte past `output` and copies no match from
// before the start of the output; a stream that would, or that ends inside a token, gives
// kErrorInvalidData. On success `produced` is the number of bytes decoded.
int ExpandEntry(std::span<uint8_t> output, std::span<const uint8_t> input, size_t& produced);

// Encodes `input` into `output`. Returns the number of bytes written, or -1 when the stream would
// not be smaller than the input (an empty input included) or would not fit in `output`.
std::ptrdiff_t CompressEntry(std::span<uint8_t> output, std::span<const uint8_t> input);

// Encodes `input` into the same stream as CompressEntry, faster and with less search: a greedy
// parse over the most recent occurrence of each three bytes. Its streams differ from CompressEntry's
// (and are usually somewhat longer); ExpandEntry decodes both. Same results as CompressEntry.
std::ptrdiff_t CompressEntryFast(std::span<uint8_t> output, std::span<const uint8_t> input);

// The most bytes that a stream of `streamLength` bytes can decode to; a larger claimed size is
// corrupt and must not be allocated.
uint64_t MaxExpandedSize(uint64_t streamLength);

} // namespace caparchive
