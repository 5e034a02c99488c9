// The application installer's check of a device's operating-system version against the version
// an application's descriptor requires. Versions are "major.kind.build"; kinds 2 and 3 count as
// one kind, for which the build alone decides.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tv::package {

struct VersionTriple {
    int major = 0;
    int kind = 0;
    int build = 0;
};

// The device's version text in the answer to the console command "ver ": what lies between the
// first " v. " and the first " built" after it; none when either is missing.
std::optional<std::string> ExtractDeviceVersion(std::string_view response);

// Three decimal parts separated by "."; each the value of its leading digits (none gives 0).
// None when the text does not split into exactly three parts.
std::optional<VersionTriple> ParseVersionTriple(std::string_view text);

// Whether a device of version `device` runs an application that requires `required`.
bool IsNewEnough(const VersionTriple& device, const VersionTriple& required);

enum class VersionVerdict {
    Install, // new enough, or the versions cannot be compared
    Refuse,  // the device is older than required
};

// The whole check on the "ver " response and the descriptor's required version text.
VersionVerdict CheckVersionTexts(std::string_view verResponse, std::string_view requiredVersion,
                                 std::string* deviceVersion = nullptr);

} // namespace tv::package
