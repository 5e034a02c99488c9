// Finding and loading the language resource library "Zv%04x.dll" beside a module.
#pragma once
#include <windows.h>
#include <string>

namespace tv {

// "LangID" under HKLM "Software\Zelvan\Tavrilon", cached per process once it is known;
// 0 when the key or value is missing (then it is read again on the next call).
DWORD ReadLangId();

// Full path of the language library beside `module`: "<folder>\Zv%04x.dll". Empty when the
// module's file name cannot be read or has no backslash.
std::string BuildLanguageLibraryPath(HMODULE module);

// Loads the library beside `module` as a data file; null when the path is empty or loading fails.
HMODULE LoadLanguageLibrary(HMODULE module);

// String `id` of the language library as 8-bit text; empty when the library or string is missing.
std::string LoadLanguageString(HMODULE language, UINT id);

} // namespace tv
