// Test-only: a registry key that no delete of its tree gets past, for saves that meet an old key
// they cannot remove.
#pragma once
#include "AnsiText.h"

#include <windows.h>
#include <string>

namespace tv::filesync::testing {

// Makes the key at `path` (below HKEY_CURRENT_USER) one that cannot be deleted: it gets a subkey
// that is a registry link to a key that does not exist, which no delete of the tree gets past.
// `Release` takes the link away.
class UndeletableKey {
  public:
    explicit UndeletableKey(const std::string& path) : path_(path) {
        HKEY key = nullptr, link = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        static const wchar_t kTarget[] = L"\\Registry\\Machine\\Software\\Zelvan\\NoSuchKeyOfTheStoreTest";
        made_ =
            RegCreateKeyExW(key, L"Link", 0, nullptr, REG_OPTION_CREATE_LINK,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr) == ERROR_SUCCESS &&
            RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(kTarget),
                           sizeof(kTarget) - sizeof(wchar_t)) == ERROR_SUCCESS;
        if (link)
            RegCloseKey(link);
        RegCloseKey(key);
    }
    ~UndeletableKey() { Release(); }
    UndeletableKey(const UndeletableKey&) = delete;
    UndeletableKey& operator=(const UndeletableKey&) = delete;
    bool Made() const { return made_; }
    void Release() {
        using DeleteKey = LONG(WINAPI*)(HANDLE);
        const auto deleteKey = reinterpret_cast<DeleteKey>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
        HKEY link = nullptr;
        if (deleteKey && RegOpenKeyExW(HKEY_CURRENT_USER, tv::com::FromAnsi(path_ + "\\Link").c_str(),
                                       REG_OPTION_OPEN_LINK, DELETE, &link) == ERROR_SUCCESS) {
            deleteKey(link);
            RegCloseKey(link);
        }
    }

  private:
    std::string path_;
    bool made_ = false;
};

} // namespace tv::filesync::testing
