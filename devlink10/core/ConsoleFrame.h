// Console frames, PC to device: the command text, one LF, and a 16-bit checksum low byte first.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zvport {

// The longest command text a frame carries.
constexpr size_t kMaxConsoleText = 256;

// The rotating checksum over the text bytes (without the LF); the low 16 bits are sent.
uint32_t ConsoleChecksum(std::string_view text);

// Trailing CR and LF characters are removed from the text first. A text longer than
// kMaxConsoleText gives nothing.
std::optional<std::vector<uint8_t>> BuildConsoleFrame(std::string_view text);

// The start line of a send: the text, CR, LF and the checksum over the text.
std::vector<uint8_t> BuildStartLine(std::string_view text);

} // namespace zvport
