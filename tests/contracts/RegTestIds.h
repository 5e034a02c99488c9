// Identity of the registration test server tvregtest.dll: its class, ProgIDs and the component
// category the class declares.
#pragma once
#include <windows.h>
#include <comcat.h>

namespace tv::tests {

inline constexpr CLSID CLSID_RegTest = {
    0xf866702e, 0xfd5d, 0x4317, {0xa0, 0x46, 0x9f, 0x48, 0x58, 0x89, 0x61, 0x9e}};
inline constexpr CATID CATID_RegTest = {
    0x926d8e43, 0x0444, 0x47eb, {0x8f, 0xbc, 0x77, 0x2a, 0x3f, 0x01, 0xed, 0xcf}};
inline constexpr wchar_t kRegTestProgId[] = L"Tavrilon.RegTest.1";
inline constexpr wchar_t kRegTestVersionIndependentProgId[] = L"Tavrilon.RegTest";

} // namespace tv::tests
