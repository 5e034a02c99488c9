#include "BridgeFormats.h"
#include <cstdio>

namespace tv::pimbridge {

std::string EncodeEntryId(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += static_cast<char>('A' + (b & 0x0F));
        text += static_cast<char>('A' + (b >> 4));
    }
    return text;
}

std::optional<std::vector<uint8_t>> DecodeEntryId(const std::string& text) {
    if (text.empty() || text.size() % 2)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const char low = text[i], high = text[i + 1];
        if (low < 'A' || low > 'P' || high < 'A' || high > 'P')
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>((low - 'A') | ((high - 'A') << 4)));
    }
    return bytes;
}

std::string AttachmentName(uint32_t first) {
    char text[32];
    std::snprintf(text, sizeof(text), "%x.att", first);
    return text;
}

std::string DeviceItemId(uint32_t first, uint16_t second, uint16_t third) {
    char text[40];
    std::snprintf(text, sizeof(text), "%x%x%x", first, static_cast<unsigned>(second), static_cast<unsigned>(third));
    return std::string(text + 1);
}

bool MessagePasses(const FilterSettings& settings, double ageSeconds, uint32_t size) {
    const double ageDays = ageSeconds / 86400.0;
    const bool youngEnough = static_cast<double>(settings.days) > ageDays;
    const bool tooBig = (settings.attributes & kLimitSize) && size >= settings.mailSize;
    return youngEnough && !tooBig;
}

} // namespace tv::pimbridge
