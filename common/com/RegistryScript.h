// A registry table that a server applies on registration and removes on unregistration.
//
// Key modes:
//   Normal      - created on registration; on removal its listed children and values are removed
//                 and the key itself is deleted only when nothing else is left in it.
//   ForceRemove - the key belongs to this server alone: an existing key is deleted with its whole
//                 tree before registration, and the whole tree is deleted on removal.
//   NoRemove    - a shared key (a root, a category): created if missing, never deleted; only the
//                 listed children are removed.
// Texts may hold placeholders such as %MODULE%, replaced from the substitution list.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tv::com {

enum class KeyMode { Normal, ForceRemove, NoRemove };

// Raw bytes of a REG_BINARY value.
using RegBinary = std::vector<BYTE>;

struct RegValue {
    std::wstring name;  // empty: the key's default value
    std::variant<std::wstring, DWORD, RegBinary> data;
};

struct RegKey {
    std::wstring name;  // one or more path components separated by backslashes
    KeyMode mode = KeyMode::Normal;
    std::vector<RegValue> values;
    std::vector<RegKey> subkeys;
};

using Substitutions = std::vector<std::pair<std::wstring, std::wstring>>;

class RegistryScript {
public:
    RegistryScript(HKEY root, std::vector<RegKey> keys, Substitutions substitutions = {});

    HRESULT Register() const;
    HRESULT Unregister() const;

    std::wstring Expand(const std::wstring& text) const;

private:
    HRESULT RegisterKey(HKEY parent, const RegKey& key) const;
    HRESULT UnregisterKey(HKEY parent, const RegKey& key) const;

    HKEY root_;
    std::vector<RegKey> keys_;
    Substitutions substitutions_;
};

// Text form of a GUID, "{XXXXXXXX-...}".
std::wstring GuidToString(REFGUID guid);

// Full path of a module ("" when it cannot be read).
std::wstring ModulePath(HMODULE module);

} // namespace tv::com
