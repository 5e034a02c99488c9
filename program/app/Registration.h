// What the program writes into the registry: its class as a local server, its type library and
// the component categories (at "RegServer"), the per-user settings tree with its defaults, and
// the value that starts the program with Windows.
#pragma once
#include <windows.h>

namespace tv::app {

inline constexpr char kSettingsKey[] = "Software\\Zelvan\\Tavrilon";

// Class, AppID, ProgIDs, type library and categories; the first failure is returned.
HRESULT RegisterServer(HMODULE module);
HRESULT UnregisterServer(HMODULE module);

// Creates the settings keys and default values that are missing; existing keys and values
// are left as the user has them.
HRESULT ApplySettingsDefaults();
// Deletes the whole per-user settings tree.
HRESULT RemoveSettings();

// The machine's start-up value "Tavrilon" = <Image> /NoSplash (Image: the install's program
// path under HKLM). Enable answers S_FALSE and writes nothing without an Image; Disable answers
// S_FALSE when there was no value; a failed registry call comes back as its HRESULT (a user
// without the right to write under HKLM gets E_ACCESSDENIED).
HRESULT EnableAutorun();
HRESULT DisableAutorun();
bool IsAutorunEnabled();

} // namespace tv::app
