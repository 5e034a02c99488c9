#include "HelpTopic.h"

namespace tv {
namespace {

constexpr char kSettingsKey[] = "Software\\Zelvan\\Tavrilon";
constexpr UINT kDisplayTopic = 0; // HH_DISPLAY_TOPIC

} // namespace

std::string HelpRoot() {
    char root[MAX_PATH] = {};
    DWORD size = sizeof(root);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "HelpRoot", RRF_RT_REG_SZ, nullptr, root, &size) !=
        ERROR_SUCCESS)
        return {};
    return root;
}

HWND ShowHelpTopic(HWND owner, const char* topic) {
    using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    // The viewer keeps its windows and threads for the rest of the process: it stays loaded.
    static const HtmlHelpFunction help = [] {
        HMODULE viewer = LoadLibraryW(L"hhctrl.ocx");
        return viewer ? reinterpret_cast<HtmlHelpFunction>(
                            reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpA")))
                      : nullptr;
    }();
    return help && topic ? help(owner, topic, kDisplayTopic, 0) : nullptr;
}

} // namespace tv
