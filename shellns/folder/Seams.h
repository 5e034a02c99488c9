// The few platform calls the folder cannot make on this machine in a test: the system version
// (the branches for the oldest systems), the help viewer and the opening of a shortcut's
// target. They go through this table, which holds the real calls; only a test program linking
// the folder's library points them elsewhere.
#pragma once
#include "HelpTopic.h"
#include <windows.h>
#include <shellapi.h>
#include <string>

namespace tv::shellns {

struct PlatformSeams {
    DWORD (*getVersion)() = ::GetVersion;
    BOOL (*shellExecuteEx)(SHELLEXECUTEINFOA* info) = ::ShellExecuteExA;
    // Shows a help topic in the HTML help viewer.
    HWND (*htmlHelp)(HWND owner, const char* topic) = ShowHelpTopic;
    // The language library of a test program (the DLL loads its own beside itself).
    HMODULE languageLibrary = nullptr;
};

// The language library every text, menu, dialog and animation comes from.
HMODULE LanguageModule();
// A string of the language library ("" when missing).
std::string LangString(UINT id);

PlatformSeams& Seams();

// Windows 98 (4.10) and Me (4.90) by the major and minor version of the system.
bool IsWindows98();
bool IsWindows98OrMe();

} // namespace tv::shellns
