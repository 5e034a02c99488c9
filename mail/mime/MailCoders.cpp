#include "MailCoders.h"
#include <array>
#include <cstdint>
#include <cstring>

namespace tv::mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 76;

constexpr std::array<int8_t, 256> MakeDecodeTable() {
    std::array<int8_t, 256> table{};
    for (auto& v : table)
        v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr auto kDecode = MakeDecodeTable();

// The two characters of every 12-bit value: one look-up per half of a three-byte group.
struct CharPairs {
    char pair[4096][2];
};
constexpr CharPairs MakeCharPairs() {
    CharPairs table{};
    for (int i = 0; i < 4096; ++i) {
        table.pair[i][0] = kAlphabet[i >> 6];
        table.pair[i][1] = kAlphabet[i & 63];
    }
    return table;
}
constexpr CharPairs kPairs = MakeCharPairs();

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Encodes `groups` whole three-byte groups from `in` to `out`; returns the end of the output.
// Local pointers and one four-byte store per group keep the compiler from reloading them
// after every character stored.
char* EncodeGroups(const unsigned char* in, size_t groups, char* out) {
    for (size_t k = 0; k < groups; ++k, in += 3, out += 4) {
        uint32_t g = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
        char quad[4];
        std::memcpy(quad, kPairs.pair[g >> 12], 2);
        std::memcpy(quad + 2, kPairs.pair[g & 4095], 2);
        std::memcpy(out, quad, 4);
    }
    return out;
}

} // namespace

std::string Base64Encode(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const size_t chars = (length + 2) / 3 * 4;
    std::string out(chars + chars / kLineLength * 2, '\0');
    char* o = out.data();
    // Whole lines: 57 bytes give 76 characters.
    constexpr size_t kLineBytes = kLineLength / 4 * 3;
    size_t i = 0;
    for (; i + kLineBytes <= length; i += kLineBytes) {
        o = EncodeGroups(bytes + i, kLineBytes / 3, o);
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
    }
    const char* lineStart = o;
    o = EncodeGroups(bytes + i, (length - i) / 3, o);
    i += (length - i) / 3 * 3;
    size_t rest = length - i;
    if (rest > 0) {
        uint32_t g = uint32_t{bytes[i]} << 16;
        if (rest == 2)
            g |= uint32_t{bytes[i + 1]} << 8;
        o[0] = kAlphabet[(g >> 18) & 63];
        o[1] = kAlphabet[(g >> 12) & 63];
        o[2] = rest == 2 ? kAlphabet[(g >> 6) & 63] : '=';
        o[3] = '=';
        o += 4;
    }
    // A last line that came out exactly full ends like every full line.
    if (static_cast<size_t>(o - lineStart) == kLineLength) {
        *o++ = '\r';
        *o++ = '\n';
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out(text.size() / 4 * 3 + 3, '\0');
    char* o = out.data();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    uint32_t group = 0;
    int filled = 0;
    size_t i = 0;
    while (i < n) {
        // Four alphabet characters at a group boundary: the common case, taken whole.
        if (filled == 0 && i + 4 <= n) {
            int a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
            if ((a | b | c | d) >= 0) {
                uint32_t g = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
                o[0] = static_cast<char>((g >> 16) & 0xFF);
                o[1] = static_cast<char>((g >> 8) & 0xFF);
                o[2] = static_cast<char>(g & 0xFF);
                o += 3;
                i += 4;
                continue;
            }
        }
        char ch = static_cast<char>(in[i++]);
        if (ch == '=') {
            // Padding ends the data: what the group holds so far is complete.
            break;
        }
        int8_t value = kDecode[static_cast<unsigned char>(ch)];
        if (value < 0)
            continue;
        group = (group << 6) | static_cast<uint32_t>(value);
        if (++filled == 4) {
            *o++ = static_cast<char>((group >> 16) & 0xFF);
            *o++ = static_cast<char>((group >> 8) & 0xFF);
            *o++ = static_cast<char>(group & 0xFF);
            group = 0;
            filled = 0;
        }
    }
    if (filled == 2) {
        *o++ = static_cast<char>((group >> 4) & 0xFF);
    } else if (filled == 3) {
        *o++ = static_cast<char>((group >> 10) & 0xFF);
        *o++ = static_cast<char>((group >> 2) & 0xFF);
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string QuotedPrintableDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '=' && text.size() - i >= 3) {
            if (text[i + 1] == '\r' && text[i + 2] == '\n') {
                i += 2;
                continue;
            }
            int high = HexValue(text[i + 1]);
            int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace tv::mail
