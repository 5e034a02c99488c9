// The text form of a device identifier number: seven symbols of a 32-symbol alphabet.
#pragma once
#include <cstdint>
#include <string>

namespace pimsync {

// 0 (never assigned), 0xFFFFFFFF and 0xFFFFFFFE (not an identifier) have no text form.
inline constexpr uint32_t kNotAnId = 0xFFFFFFFEu;
inline bool IsUnknownId(uint32_t number) {
    return number == 0 || number == 0xFFFFFFFFu || number == kNotAnId;
}

// "UNKNOWN" for the three numbers without a text form.
std::string EncodeDeviceId(uint32_t number);
// The number of a text form (an optional leading '@', seven symbols, any case); kNotAnId otherwise.
uint32_t DecodeDeviceId(const std::string& text);

} // namespace pimsync
