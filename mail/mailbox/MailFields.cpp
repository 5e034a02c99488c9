#include "MailFields.h"
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tv::mail {

namespace {

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

} // namespace

void AttachmentNames::Use(std::string_view name) {
    used_.insert(UpperCase(name));
}

std::optional<std::string> AttachmentNames::Draw(const std::function<int()>& random) {
    for (int draw = 0; draw < kDraws; ++draw) {
        char name[24];
        std::snprintf(name, sizeof(name), "%08d.att", random());
        if (used_.insert(UpperCase(name)).second)
            return std::string(name);
    }
    return std::nullopt;
}

std::vector<AttachmentEntry> ParseAttachmentDescriptor(std::string_view descriptor) {
    std::vector<AttachmentEntry> entries;
    size_t start = 0;
    while (start <= descriptor.size()) {
        size_t end = descriptor.find('|', start);
        if (end == std::string_view::npos)
            end = descriptor.size();
        std::string_view piece = descriptor.substr(start, end - start);
        size_t arrow = piece.find('>');
        if (!piece.empty() && arrow != std::string_view::npos)
            entries.push_back({std::string(piece.substr(0, arrow)), std::string(piece.substr(arrow + 1))});
        start = end + 1;
    }
    return entries;
}

void AppendAttachmentEntry(std::string& descriptor, std::string_view name, std::string_view storedName) {
    if (!descriptor.empty() && descriptor.back() != '|')
        descriptor += '|';
    descriptor.append(name).append(">").append(kAttachmentFolder).append(storedName);
}

std::string AngleAddress(const std::string& address) {
    size_t open = address.find('<');
    size_t close = address.find('>', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return address;
    return address.substr(open + 1, close - open - 1);
}

std::string LastPathElement(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> FirstTableFileName(std::span<const uint8_t> catalog) {
    auto read32 = [&](size_t at) {
        return (uint32_t{catalog[at]} << 24) | (uint32_t{catalog[at + 1]} << 16) | (uint32_t{catalog[at + 2]} << 8) |
               catalog[at + 3];
    };
    if (catalog.size() < 40 || std::memcmp(catalog.data(), "ZvDB", 4) != 0 || read32(4) != 1 || read32(32) == 0)
        return std::nullopt;
    char name[16];
    std::snprintf(name, sizeof(name), "%02X%02X%02X%02X.t", catalog[36], catalog[37], catalog[38], catalog[39]);
    return std::string(name);
}

} // namespace tv::mail
