#include "ConsoleFrame.h"

namespace zvport {
namespace {

void AppendChecksum(std::vector<uint8_t>& out, std::string_view text) {
    uint32_t s = ConsoleChecksum(text);
    out.push_back(static_cast<uint8_t>(s & 0xFF));
    out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
}

} // namespace

uint32_t ConsoleChecksum(std::string_view text) {
    uint32_t s = 0;
    for (char ch : text) {
        uint32_t b = static_cast<uint8_t>(ch);
        s = ((s ^ b) << 1) | ((s >> 16) & 1);
    }
    return s;
}

std::optional<std::vector<uint8_t>> BuildConsoleFrame(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (text.size() > kMaxConsoleText)
        return std::nullopt;
    std::vector<uint8_t> frame(text.begin(), text.end());
    frame.push_back(0x0A);
    AppendChecksum(frame, text);
    return frame;
}

std::vector<uint8_t> BuildStartLine(std::string_view text) {
    std::vector<uint8_t> line(text.begin(), text.end());
    line.push_back('\r');
    line.push_back('\n');
    AppendChecksum(line, text);
    return line;
}

} // namespace zvport
