// Identity and settings of the test synchronizers: three classes in the category of
// synchronizers, each configured under its own key so that tests drive every path of a session.
#pragma once
#include <windows.h>

namespace tv::tests {

inline constexpr CLSID CLSID_TestSync1 = {
    0x6a1f3c01, 0x52d4, 0x4e7b, {0x9c, 0x11, 0x3e, 0x55, 0x0a, 0x71, 0x20, 0x01}};
inline constexpr CLSID CLSID_TestSync2 = {
    0x6a1f3c01, 0x52d4, 0x4e7b, {0x9c, 0x11, 0x3e, 0x55, 0x0a, 0x71, 0x20, 0x02}};
inline constexpr CLSID CLSID_TestSync3 = {
    0x6a1f3c01, 0x52d4, 0x4e7b, {0x9c, 0x11, 0x3e, 0x55, 0x0a, 0x71, 0x20, 0x03}};

// HKCU key of the settings: the value "Log" names the file every call is appended to; each
// class reads its own settings from the subkey named by its CLSID in registry form:
//   Name (text)              the friendly name ("Test synchronizer <n>" when missing)
//   Versions (text)          model versions it works with, e.g. "21" or "16;21" (any when missing)
//   CompatibleResult (DWORD) an HRESULT IsCompatible returns instead of looking
//   ItemTypes (text)         item-type GUIDs in registry form, each followed by ";"
//   NoNotify (DWORD)         1: no IZvSyncNotify (the synchronizer is not shown in a session)
//   Tunable (DWORD)          1: IsTunable gives S_OK
//   UnresolvedFails (DWORD)  1: GetUnresolvedItems fails
//   Phase1 .. Phase5 (text)  what the phase does, actions joined by ",":
//       complete | error | error:<text> | nothing | duplicate (completes twice) |
//       bytes (updates with byte counts beyond 32-bit products and one with a total of 0) |
//       unresolved:<n> | wait (until Cancel, at most 10 s) | late (reports the previous phase
//       again first) | customcomplete (completes through OnCustomUpdate, which asks no counts) |
//       linger:<ms> (goes on that long, whatever a cancel says)
//     (missing: "complete")
inline constexpr char kTestSyncKey[] = "Software\\Zelvan\\Tavrilon\\TestSync";
inline constexpr char kTestSyncLogValue[] = "Log";

} // namespace tv::tests
