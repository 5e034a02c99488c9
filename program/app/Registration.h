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

// The current user's start-up value "Tavrilon" = <Image> /NoSplash.
bool EnableAutorun();
bool DisableAutorun();
bool IsAutorunEnabled();

} // namespace tv::app
