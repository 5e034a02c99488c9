#include "VersionCheck.h"

#include <climits>
#include <vector>

namespace tv::package {
namespace {

constexpr std::string_view kVersionMark = " v. ";
constexpr std::string_view kBuiltMark = " built";

int LeadingDigits(std::string_view text) {
    long long value = 0;
    for (size_t at = 0; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

bool IsLooseKind(int kind) { return kind == 2 || kind == 3; }

} // namespace

std::optional<std::string> ExtractDeviceVersion(std::string_view response) {
    const size_t mark = response.find(kVersionMark);
    const size_t built = response.find(kBuiltMark);
    if (mark == std::string_view::npos || built == std::string_view::npos)
        return std::nullopt;
    const size_t start = mark + kVersionMark.size();
    // " built" ahead of the version mark leaves no version text between them.
    if (built < start)
        return std::nullopt;
    return std::string(response.substr(start, built - start));
}

std::optional<VersionTriple> ParseVersionTriple(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (parts.size() != 3)
        return std::nullopt;
    return VersionTriple{LeadingDigits(parts[0]), LeadingDigits(parts[1]), LeadingDigits(parts[2])};
}

bool IsNewEnough(const VersionTriple& device, const VersionTriple& required) {
    if (device.major != required.major)
        return device.major > required.major;
    if (IsLooseKind(device.kind) && IsLooseKind(required.kind))
        return device.build >= required.build;
    if (device.kind != required.kind)
        return device.kind > required.kind;
    return device.build >= required.build;
}

VersionVerdict CheckVersionTexts(std::string_view verResponse, std::string_view requiredVersion,
                                 std::string* deviceVersion) {
    const std::optional<std::string> text = ExtractDeviceVersion(verResponse);
    if (!text)
        return VersionVerdict::Install;
    if (deviceVersion)
        *deviceVersion = *text;
    const std::optional<VersionTriple> device = ParseVersionTriple(*text);
    const std::optional<VersionTriple> required = ParseVersionTriple(requiredVersion);
    if (!device || !required)
        return VersionVerdict::Install;
    return IsNewEnough(*device, *required) ? VersionVerdict::Install : VersionVerdict::Refuse;
}

} // namespace tv::package
