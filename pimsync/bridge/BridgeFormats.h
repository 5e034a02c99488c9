// The texts the mail objects and the bridge give to scripts, without Windows headers: entry ids
// in their letter form, fresh identifiers and attachment names, the mail filter's decision and
// the cut of long bodies.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tv::pimbridge {

// Each byte as two capital letters from "A" to "P": "A" plus the low four bits, then "A" plus the
// high four bits.
std::string EncodeEntryId(const std::vector<uint8_t>& bytes);
// Nothing for an empty text, a text of odd length or one with a letter outside "A" to "P".
std::optional<std::vector<uint8_t>> DecodeEntryId(const std::string& text);

// "%x.att" of the first field of a fresh GUID.
std::string AttachmentName(uint32_t first);
// "%x%x%x" of the first three fields of a fresh GUID, without its first character.
std::string DeviceItemId(uint32_t first, uint16_t second, uint16_t third);

// The five per-device filter settings with their defaults.
struct FilterSettings {
    uint32_t attributes = 0;  // bit 0: the size limit applies; bit 3: bodies are cut
    uint32_t days = 3;
    uint32_t mailSize = 1024;
    uint32_t attachmentSize = 4096;
    uint32_t cutMessageSize = 4096;
};
constexpr uint32_t kLimitSize = 0x1;
constexpr uint32_t kCutBodies = 0x8;

// Whether a message `ageSeconds` old (the current time less the message's) of `size` bytes
// passes the filter: younger than Days days, and not at or over MailSize when the limit applies.
bool MessagePasses(const FilterSettings& settings, double ageSeconds, uint32_t size);

// The body as the device gets it: the first CutMessageSize characters and `marker` when bodies
// are cut and it is longer, else unchanged.
template <class Text>
Text CutBody(const FilterSettings& settings, const Text& body, const Text& marker) {
    if (!(settings.attributes & kCutBodies) || body.size() <= settings.cutMessageSize)
        return body;
    return body.substr(0, settings.cutMessageSize) + marker;
}

} // namespace tv::pimbridge
