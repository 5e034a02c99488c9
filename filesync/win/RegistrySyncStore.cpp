#include "RegistrySyncStore.h"

#include "AnsiText.h"
#include "Handles.h"

#include <shlobj.h>

#include <charconv>

namespace tv::filesync {

using ::filesync::FileEntry;
using ::filesync::StoreResult;
using tv::com::UniqueHKey;

namespace {

constexpr char kMasksKey[] = "Masks";
constexpr char kItemPrefix[] = "Item";
// The subkey a save makes and removes at once to mark the state key changed (not an item key).
constexpr char kSaveMark[] = "SaveMark";

LONG OpenKey(const std::string& path, REGSAM access, UniqueHKey& key) {
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, key.Put());
}

bool ReadNumber(HKEY key, const char* name, uint32_t& value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueA(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return false;
    value = data;
    return true;
}

LONG WriteNumber(HKEY key, const char* name, uint32_t value) {
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

LONG WriteText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

// The names of the subkeys of `key` that contain "Item".
std::vector<std::string> ItemKeyNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        const LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue; // longer than any item key name
        if (status != ERROR_SUCCESS)
            break;
        if (std::string_view(name, length).find(kItemPrefix) != std::string_view::npos)
            names.emplace_back(name, length);
    }
    return names;
}

// Whether `name` is one of the keys "Item0" to "Item<count - 1>" that a save of `count` items
// writes.
bool IsNewItemKey(const std::string& name, size_t count) {
    const std::string_view prefix = kItemPrefix;
    if (name.rfind(prefix, 0) != 0)
        return false;
    const std::string digits = name.substr(prefix.size());
    size_t index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    return error == std::errc() && end == digits.data() + digits.size() && index < count &&
           std::to_string(index) == digits;
}

bool KeyStamp(HKEY key, FILETIME& written, DWORD& subkeys) {
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, &written) == ERROR_SUCCESS;
}

} // namespace

bool RegistrySyncStore::MemoHolds(HKEY key) const {
    FILETIME written = {};
    DWORD subkeys = 0;
    return memo_ && memo_->valid && memo_->deviceId == deviceId_ && KeyStamp(key, written, subkeys) &&
           CompareFileTime(&written, &memo_->written) == 0 && subkeys == memo_->subkeys;
}

void RegistrySyncStore::Remember(HKEY key, const std::vector<FileEntry>& items) {
    if (!memo_)
        return;
    memo_->valid = KeyStamp(key, memo_->written, memo_->subkeys);
    memo_->deviceId = deviceId_;
    memo_->items = items;
}

std::string StateKeyPath(const std::string& deviceId) {
    return std::string(kDeviceListKey) + "\\" + deviceId + "\\" + kStateKeyName;
}

bool ReadRegistryText(HKEY root, const std::string& keyPath, const char* name, std::string& text) {
    // The first read goes into room for any path; a longer value is read again at the size the
    // registry gives, and a value that grows meanwhile once more, a few times at most.
    const char* subkey = keyPath.empty() ? nullptr : keyPath.c_str();
    DWORD size = MAX_PATH + 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::string buffer(size + 1, '\0');
        DWORD read = static_cast<DWORD>(buffer.size());
        const LONG status = RegGetValueA(root, subkey, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &read);
        if (status == ERROR_MORE_DATA) {
            size = read;
            continue;
        }
        if (status != ERROR_SUCCESS)
            return false;
        buffer.resize(strnlen(buffer.c_str(), buffer.size()));
        text = std::move(buffer);
        return true;
    }
    return false;
}

StoreResult RegistrySyncStore::ReadHeader(std::string& root, uint32_t& attribute) {
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_), KEY_READ, key) != ERROR_SUCCESS)
        return StoreResult::Missing;
    if (!ReadNumber(key.Get(), "dwAttribute", attribute))
        return StoreResult::Missing;
    return ReadRegistryText(key.Get(), "", "SyncFolder", root) ? StoreResult::Ok : StoreResult::Missing;
}

StoreResult RegistrySyncStore::ReadFolder(std::string& folder) {
    return ReadRegistryText(HKEY_CURRENT_USER, StateKeyPath(deviceId_), "SyncFolder", folder) ? StoreResult::Ok
                                                                                                : StoreResult::Missing;
}

LONG RegistrySyncStore::WriteFolder(const std::string& folder) {
    UniqueHKey key;
    const LONG status = OpenKey(StateKeyPath(deviceId_), KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteText(key.Get(), "SyncFolder", folder);
}

StoreResult RegistrySyncStore::ReadMasks(std::vector<std::string>& masks) {
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_) + "\\" + kMasksKey, KEY_READ, key) != ERROR_SUCCESS)
        return StoreResult::Missing;
    masks.clear();
    // Value names may be up to 16383 characters.
    std::string name(16384, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumValueA(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        masks.emplace_back(name.data(), length);
    }
    return StoreResult::Ok;
}

StoreResult RegistrySyncStore::ReadItems(std::vector<FileEntry>& items) {
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_), KEY_READ, key) != ERROR_SUCCESS)
        return StoreResult::Missing;
    if (MemoHolds(key.Get())) {
        items.insert(items.end(), memo_->items.begin(), memo_->items.end());
        return StoreResult::Ok;
    }
    if (memo_)
        memo_->valid = false;
    // The key's stamp is taken before the reading: a write meanwhile leaves the memo stale.
    FILETIME written = {};
    DWORD subkeys = 0;
    const bool stamped = KeyStamp(key.Get(), written, subkeys);
    const size_t first = items.size();
    for (const std::string& itemName : ItemKeyNames(key.Get())) {
        UniqueHKey item;
        if (RegOpenKeyExA(key.Get(), itemName.c_str(), 0, KEY_READ, item.Put()) != ERROR_SUCCESS)
            return StoreResult::Failed;
        FileEntry entry;
        uint32_t high = 0, low = 0;
        if (!ReadRegistryText(item.Get(), "", "Name", entry.name) || !ReadNumber(item.Get(), "TimeHigh", high) ||
            !ReadNumber(item.Get(), "TimeLow", low) || !ReadNumber(item.Get(), "Size", entry.size))
            return StoreResult::Failed;
        entry.time = ::filesync::MakeTime(low, high);
        items.push_back(std::move(entry));
    }
    if (memo_ && stamped) {
        memo_->deviceId = deviceId_;
        memo_->written = written;
        memo_->subkeys = subkeys;
        memo_->items.assign(items.begin() + static_cast<std::ptrdiff_t>(first), items.end());
        memo_->valid = true;
    }
    return StoreResult::Ok;
}

StoreResult RegistrySyncStore::WriteItems(const std::vector<FileEntry>& items) {
    if (memo_)
        memo_->valid = false;
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_), KEY_ALL_ACCESS, key) != ERROR_SUCCESS)
        return StoreResult::Missing;
    // Every new item is written before any old item key goes, so that a failure part-way loses no
    // record: "Item<i>" is written over where it exists. Only then go the old keys the new items
    // did not take; each is tried, and one that stays (it would be read back beside the new
    // items) fails the save.
    const std::vector<std::string> oldNames = ItemKeyNames(key.Get());
    for (size_t i = 0; i < items.size(); ++i) {
        UniqueHKey item;
        const std::string name = kItemPrefix + std::to_string(i);
        if (RegCreateKeyExA(key.Get(), name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, item.Put(), nullptr) !=
            ERROR_SUCCESS)
            return StoreResult::Failed;
        const FileEntry& entry = items[i];
        if (WriteText(item.Get(), "Name", entry.name) != ERROR_SUCCESS ||
            WriteNumber(item.Get(), "TimeLow", ::filesync::TimeLow(entry.time)) != ERROR_SUCCESS ||
            WriteNumber(item.Get(), "TimeHigh", ::filesync::TimeHigh(entry.time)) != ERROR_SUCCESS ||
            WriteNumber(item.Get(), "Size", entry.size) != ERROR_SUCCESS)
            return StoreResult::Failed;
    }
    // Values written over leave the state key's stamp as it was: a subkey made and removed again
    // moves it, so that what a reader remembers of the old items goes stale.
    {
        UniqueHKey mark;
        if (RegCreateKeyExA(key.Get(), kSaveMark, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                            mark.Put(), nullptr) != ERROR_SUCCESS)
            return StoreResult::Failed;
        mark.Reset();
        if (RegDeleteKeyA(key.Get(), kSaveMark) != ERROR_SUCCESS)
            return StoreResult::Failed;
    }
    bool leftOver = false;
    for (const std::string& name : oldNames) {
        if (IsNewItemKey(name, items.size()) || RegDeleteTreeA(key.Get(), name.c_str()) == ERROR_SUCCESS)
            continue;
        UniqueHKey left;
        // A key gone meanwhile is as good as deleted.
        leftOver = leftOver ||
                   RegOpenKeyExA(key.Get(), name.c_str(), 0, KEY_READ, left.Put()) != ERROR_FILE_NOT_FOUND;
    }
    if (leftOver)
        return StoreResult::Failed;
    Remember(key.Get(), items);
    return StoreResult::Ok;
}

StoreResult RegistrySyncStore::AddMask(const std::string& mask) {
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_) + "\\" + kMasksKey, KEY_SET_VALUE, key) != ERROR_SUCCESS)
        return StoreResult::Missing;
    return WriteText(key.Get(), mask.c_str(), "") == ERROR_SUCCESS ? StoreResult::Ok : StoreResult::Failed;
}

bool RegistrySyncStore::SameMask(const std::string& a, const std::string& b) const {
    return SameRegistryName(a, b);
}

bool SameRegistryName(const std::string& a, const std::string& b) {
    const std::wstring wideA = tv::com::FromAnsi(a), wideB = tv::com::FromAnsi(b);
    return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

StoreResult RegistrySyncStore::DeleteMask(const std::string& mask) {
    UniqueHKey key;
    if (OpenKey(StateKeyPath(deviceId_) + "\\" + kMasksKey, KEY_SET_VALUE, key) != ERROR_SUCCESS)
        return StoreResult::Failed;
    const LONG status = RegDeleteValueA(key.Get(), mask.c_str());
    if (status == ERROR_FILE_NOT_FOUND)
        return StoreResult::Missing;
    return status == ERROR_SUCCESS ? StoreResult::Ok : StoreResult::Failed;
}

void CreateDirectoryPath(const std::string& path) {
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
        if (at > 0)
            CreateDirectoryA(path.substr(0, at + 1).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
}

void LoadSyncFolderData(const std::string& deviceId, const GenerationFolders& folders) {
    std::string shared;
    if (!ReadRegistryText(HKEY_CURRENT_USER, kCommonKey, "FileSyncFolder", shared))
        return;
    UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, StateKeyPath(deviceId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return;
    char documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
        return;
    const std::string root = std::string(documents) + "\\" + shared + "\\" + deviceId;
    WriteText(key.Get(), "SyncFolder", root);
    WriteNumber(key.Get(), "dwAttribute", 0);
    UniqueHKey masks;
    RegCreateKeyExA(key.Get(), kMasksKey, 0, nullptr, 0, KEY_READ, nullptr, masks.Put(), nullptr);
    CreateDirectoryPath(root);
    for (const std::string& subfolder : folders.subfolders)
        CreateDirectoryA((root + "\\" + subfolder).c_str(), nullptr);
}

} // namespace tv::filesync
