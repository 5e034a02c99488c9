#include "MailCoders.h"
#include <array>
#include <cstdint>

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

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string Base64Encode(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t chars = (length + 2) / 3 * 4;
    std::string out;
    out.reserve(chars + chars / kLineLength * 2);
    size_t onLine = 0;
    auto put = [&](char c) {
        out += c;
        if (++onLine == kLineLength) {
            out += "\r\n";
            onLine = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(kAlphabet[(group >> 6) & 63]);
        put(kAlphabet[group & 63]);
    }
    size_t rest = length - i;
    if (rest > 0) {
        uint32_t group = uint32_t{bytes[i]} << 16;
        if (rest == 2)
            group |= uint32_t{bytes[i + 1]} << 8;
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        put('=');
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t group = 0;
    int filled = 0;
    for (char c : text) {
        if (c == '=') {
            // Padding ends the data: what the group holds so far is complete.
            break;
        }
        int8_t value = kDecode[static_cast<unsigned char>(c)];
        if (value < 0)
            continue;
        group = (group << 6) | static_cast<uint32_t>(value);
        if (++filled == 4) {
            out += static_cast<char>((group >> 16) & 0xFF);
            out += static_cast<char>((group >> 8) & 0xFF);
            out += static_cast<char>(group & 0xFF);
            group = 0;
            filled = 0;
        }
    }
    if (filled == 2) {
        out += static_cast<char>((group >> 4) & 0xFF);
    } else if (filled == 3) {
        out += static_cast<char>((group >> 10) & 0xFF);
        out += static_cast<char>((group >> 2) & 0xFF);
    }
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
