#include "DeviceId.h"

#include <cstring>

namespace pimsync {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHKLMNPRSTUVWXYZQJ23456789";

int SymbolValue(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    // Look-alikes of the symbols the alphabet leaves out.
    if (c == '0' || c == 'O')
        c = 'Q';
    else if (c == '1' || c == 'I')
        c = 'J';
    if (c == '\0')
        return -1;
    const char* found = std::strchr(kAlphabet, c);
    return found ? static_cast<int>(found - kAlphabet) : -1;
}

} // namespace

std::string EncodeDeviceId(uint32_t number) {
    if (IsUnknownId(number))
        return "UNKNOWN";
    std::string text(7, 'A');
    const bool high = (number & 0x80000000u) != 0;
    text[6] = static_cast<char>((high ? 'C' : 'A') + (number & 1));
    uint32_t rest = number >> 1;
    for (int position = 5; position >= 0; --position) {
        text[position] = kAlphabet[rest & 31];
        rest >>= 5;
    }
    return text;
}

uint32_t DecodeDeviceId(const std::string& text) {
    std::string symbols = !text.empty() && text[0] == '@' ? text.substr(1) : text;
    if (symbols.size() != 7)
        return kNotAnId;
    uint32_t total = 0;
    switch (symbols[6]) {
    case 'A':
    case 'a':
        total = 0;
        break;
    case 'B':
    case 'b':
        total = 1;
        break;
    case 'C':
    case 'c':
        total = 0x80000000u;
        break;
    case 'D':
    case 'd':
        total = 0x80000001u;
        break;
    default:
        return kNotAnId;
    }
    uint32_t weight = 0x4000000u;
    for (int position = 0; position < 6; ++position, weight /= 32) {
        const int value = SymbolValue(symbols[position]);
        if (value < 0)
            return kNotAnId;
        total += static_cast<uint32_t>(value) * weight;
    }
    return total == 0 ? kNotAnId : total;
}

} // namespace pimsync
