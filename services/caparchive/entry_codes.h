// The match codes of the entry bit stream. A match is a length code followed by a distance code;
// each code is a prefix (sent most significant bit first) followed by extra bits that are added to
// the first value of the prefix's range. A literal is the bit 0 and eight value bits, so every
// length prefix begins with the bit 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace caparchive::codes {

struct CodeRow {
    uint16_t first;     // first value of the range
    uint16_t last;      // last value of the range
    uint16_t prefix;    // prefix bits, right-aligned
    uint8_t prefixBits; // number of prefix bits
    uint8_t extraBits;  // number of extra bits after the prefix
};

// Rows sorted by range, so the encoder takes the first row whose last value is not below its value.
inline constexpr std::array<CodeRow, 17> kLengthRows{{
    {2, 3, 0b10, 2, 1},
    {4, 5, 0b110, 3, 1},
    {6, 6, 0b11100, 5, 0},
    {7, 7, 0b111100, 6, 0},
    {8, 9, 0b11101, 5, 1},
    {10, 11, 0b111101, 6, 1},
    {12, 13, 0b1111100, 7, 1},
    {14, 14, 0b11111101, 8, 0},
    {15, 15, 0b111111110, 9, 0},
    {16, 17, 0b11111011, 8, 1},
    {18, 19, 0b111111101, 9, 1},
    {20, 23, 0b11111010, 8, 2},
    {24, 31, 0b11111100, 8, 3},
    {32, 63, 0b111111100, 9, 5},
    {64, 127, 0b1111111110, 10, 6},
    {128, 255, 0b11111111110, 11, 7},
    {256, 256, 0b11111111111, 11, 0},
}};

inline constexpr std::array<CodeRow, 16> kDistanceRows{{
    {0, 1, 0b11100, 5, 1},
    {2, 2, 0b111101, 6, 0},
    {3, 3, 0b1111110, 7, 0},
    {4, 5, 0b111100, 6, 1},
    {6, 9, 0b11101, 5, 2},
    {10, 11, 0b1111111, 7, 1},
    {12, 15, 0b111110, 6, 2},
    {16, 31, 0b1101, 4, 4},
    {32, 63, 0b1100, 4, 5},
    {64, 127, 0b011, 3, 6},
    {128, 255, 0b100, 3, 7},
    {256, 511, 0b010, 3, 8},
    {512, 1023, 0b001, 3, 9},
    {1024, 2047, 0b000, 3, 10},
    {2048, 4095, 0b1010, 4, 11},
    {4096, 8191, 0b1011, 4, 12},
}};

inline constexpr unsigned kMinMatchLength = 2;
inline constexpr unsigned kMaxMatchLength = 256;
inline constexpr unsigned kMaxDistance = 8191;
// The cheapest match (length 256 with a 6-bit distance code) costs 17 bits.
inline constexpr unsigned kMinMatchBits = 11 + 6;

// Binary decoding tree of a prefix code: node 0 is the root; a child value of 0 means "no such
// code", a negative child -(r + 1) is the leaf of row r.
struct DecodeTree {
    std::array<std::array<int16_t, 2>, 40> nodes{};
    int nodeCount = 1;
};

constexpr DecodeTree BuildDecodeTree(std::span<const CodeRow> rows) {
    DecodeTree tree;
    for (size_t r = 0; r < rows.size(); ++r) {
        int node = 0;
        for (int bit = rows[r].prefixBits - 1; bit >= 0; --bit) {
            const int branch = (rows[r].prefix >> bit) & 1;
            int16_t& child = tree.nodes[node][branch];
            if (bit == 0) {
                child = static_cast<int16_t>(-static_cast<int>(r) - 1);
            } else {
                if (child == 0)
                    child = static_cast<int16_t>(tree.nodeCount++);
                node = child;
            }
        }
    }
    return tree;
}

// The tables must be complete, gap-free and prefix-free; checked at compile time.
constexpr bool RowsAreConsistent(std::span<const CodeRow> rows, unsigned firstValue, unsigned lastValue) {
    unsigned next = firstValue;
    for (const CodeRow& row : rows) {
        if (row.first != next || row.last < row.first)
            return false;
        if (row.last - row.first + 1u != (1u << row.extraBits))
            return false;
        next = row.last + 1u;
    }
    if (next != lastValue + 1u)
        return false;
    for (size_t a = 0; a < rows.size(); ++a)
        for (size_t b = 0; b < rows.size(); ++b) {
            if (a == b || rows[a].prefixBits > rows[b].prefixBits)
                continue;
            if ((rows[b].prefix >> (rows[b].prefixBits - rows[a].prefixBits)) == rows[a].prefix)
                return false;
        }
    return true;
}

static_assert(RowsAreConsistent(kLengthRows, kMinMatchLength, kMaxMatchLength));
static_assert(RowsAreConsistent(kDistanceRows, 0, kMaxDistance));

inline constexpr DecodeTree kLengthTree = BuildDecodeTree(kLengthRows);
inline constexpr DecodeTree kDistanceTree = BuildDecodeTree(kDistanceRows);

// Bits of an encoder's hash table for an input of `size` bytes: it grows with the input, from 8
// bits up to `most`, so that small entries do not pay for clearing a large table.
constexpr unsigned HashTableBits(size_t size, unsigned most) {
    unsigned bits = 8;
    while (bits < most && (size_t{1} << bits) < size)
        ++bits;
    return bits;
}

constexpr const CodeRow& RowFor(std::span<const CodeRow> rows, unsigned value) {
    size_t r = 0;
    while (rows[r].last < value)
        ++r;
    return rows[r];
}

constexpr unsigned CodeBits(std::span<const CodeRow> rows, unsigned value) {
    const CodeRow& row = RowFor(rows, value);
    return row.prefixBits + row.extraBits;
}

} // namespace caparchive::codes
