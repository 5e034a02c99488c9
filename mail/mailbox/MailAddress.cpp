#include "MailAddress.h"
#include <cctype>
#include <cstring>

namespace tv::mail {
namespace {

constexpr std::string_view kDeviceAlphabet = "ABCDEFGHKLMNPRSTUVWXYZQJ23456789";
constexpr std::string_view kIdAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz123456789@_`";
constexpr char kDevicePrefix2 = static_cast<char>(0x85);

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The sum of the first six characters of a seven-character id; false for a character outside
// the alphabet.
bool SumOfSix(std::string_view id, uint32_t& sum) {
    sum = 0;
    for (size_t k = 0; k < 6; ++k) {
        char c = Upper(id[k]);
        if (c == '0' || c == 'O')
            c = 'Q';
        else if (c == '1' || c == 'I')
            c = 'J';
        size_t index = kDeviceAlphabet.find(c);
        if (index == std::string_view::npos)
            return false;
        sum += static_cast<uint32_t>(index) << (26 - 5 * k);
    }
    return true;
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || (c != 0 && std::strchr("!#$%&'*+-/=?^_`{}~", c));
}

std::string SixBitText(uint64_t value) {
    std::string text;
    for (; value; value >>= 6)
        text += kIdAlphabet[value & 63];
    return text;
}

} // namespace

uint32_t DeviceNumberFromAddress(std::string_view address) {
    if (address.size() != 8 || (address[0] != '@' && address[0] != kDevicePrefix2))
        return 0;
    std::string_view id = address.substr(1);
    char last = Upper(id[6]);
    uint32_t sum = 0;
    if ((last != 'A' && last != 'B') || !SumOfSix(id, sum))
        return 0;
    return sum + (last == 'B' ? 1 : 0);
}

uint32_t OwnerNumberFromUserId(std::string_view userId) {
    if (!userId.empty() && userId[0] == '@')
        userId.remove_prefix(1);
    if (userId.size() != 7)
        return 0;
    uint32_t sum = 0;
    if (!SumOfSix(userId, sum))
        return 0;
    switch (Upper(userId[6])) {
    case 'A': return sum;
    case 'B': return sum + 1;
    case 'C': return sum + 2147483648u;
    case 'D': return sum + 2147483649u;
    default: return 0;
    }
}

bool IsInternetAddress(std::string_view address) {
    bool afterWord = false;
    bool at = false;
    for (char c : address) {
        if (IsWordChar(c)) {
            afterWord = true;
            continue;
        }
        if ((c != '.' && c != '@') || !afterWord || (c == '@' && at))
            return false;
        at = at || c == '@';
        afterWord = false;
    }
    return at && afterWord;
}

AddressKind ClassifyAddress(std::string_view address) {
    if (address.size() == 8 && (address[0] == '@' || address[0] == kDevicePrefix2))
        return AddressKind::Device;
    if (address.size() > 3 && Upper(address[0]) == 'I' && Upper(address[1]) == 'C' && Upper(address[2]) == 'Q') {
        bool digits = true;
        for (char c : address.substr(3))
            digits = digits && c >= '0' && c <= '9';
        if (digits)
            return AddressKind::Icq;
    }
    if (address.empty())
        return AddressKind::None;
    for (size_t start = 0;;) {
        size_t end = address.find(';', start);
        if (!IsInternetAddress(address.substr(start, end == std::string_view::npos ? end : end - start)))
            return AddressKind::None;
        if (end == std::string_view::npos)
            return AddressKind::Internet;
        start = end + 1;
    }
}

std::string MakeMessageId(uint64_t seconds, uint32_t owner) { return SixBitText(seconds) + "," + SixBitText(owner); }

bool IsMadeMessageId(std::string_view id, uint32_t owner) {
    const size_t comma = id.find(',');
    if (comma == std::string_view::npos || id.substr(comma + 1) != SixBitText(owner))
        return false;
    const std::string_view time = id.substr(0, comma);
    // Seconds up to 2^36 (six characters), the most significant character never the zero "A".
    return time.size() <= 6 && (time.empty() || time.back() != kIdAlphabet[0]) &&
           time.find_first_not_of(kIdAlphabet) == std::string_view::npos;
}

} // namespace tv::mail
