#include "RegistrySyncStore.h"

#include "AnsiText.h"
#include "Handles.h"
#include "LocalFileTime.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <system_error>
#include <thread>
#include <unordered_map>

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

// Reading the item keys: each costs an enumeration, an open, four reads and a close, and under a
// registry that answers each call slowly the calls of several threads overlap. One more thread
// reads for every kKeysPerReader keys, up to kMaxReaders.
constexpr unsigned kMaxReaders = 8;
constexpr size_t kKeysPerReader = 128;
// The registry's clock advances in ticks: a key written again within the tick of its last write
// keeps its last-write time. A key last written less than this long (in 100 ns units) before a
// reading is therefore not known by its time afterwards.
constexpr uint64_t kSettledAge = 10'000'000;

bool ReadNumber(HKEY key, const wchar_t* name, uint32_t& value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return false;
    value = data;
    return true;
}

// A REG_SZ value read whole into the ANSI text the rest of the synchronizer keeps, converted once.
bool ReadWideText(HKEY key, const wchar_t* name, std::string& text) {
    std::wstring buffer(MAX_PATH + 2, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LONG status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
        if (status == ERROR_MORE_DATA) {
            buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
            continue;
        }
        if (status != ERROR_SUCCESS)
            return false;
        text = tv::com::ToAnsi(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
        return true;
    }
    return false;
}

// One subkey of the state key, by its enumeration index, as a reader found it.
struct ItemSlot {
    enum class Kind { End, Other, Item, Damaged };
    Kind kind = Kind::End;
    std::wstring name;
    FILETIME written = {};
    FileEntry entry;
};

using KnownKeys = std::unordered_map<std::wstring, const StoredItemKey*>;

// The subkey at `index`: past the end, not an item key, or an item key with its item, taken from
// `known` when the key's last-write time is the one known, else read from the key.
void ReadSlot(HKEY state, DWORD index, const KnownKeys& known, ItemSlot& slot) {
    wchar_t name[256];
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG status = RegEnumKeyExW(state, index, name, &length, nullptr, nullptr, nullptr, &slot.written);
    if (status == ERROR_MORE_DATA) {
        slot.kind = ItemSlot::Kind::Other; // longer than any item key name
        return;
    }
    if (status != ERROR_SUCCESS)
        return;
    slot.name.assign(name, length);
    if (slot.name.find(L"Item") == std::wstring::npos) {
        slot.kind = ItemSlot::Kind::Other;
        return;
    }
    if (const auto same = known.find(slot.name);
        same != known.end() && CompareFileTime(&same->second->written, &slot.written) == 0) {
        slot.entry = same->second->item;
        slot.kind = ItemSlot::Kind::Item;
        return;
    }
    slot.kind = ItemSlot::Kind::Damaged;
    UniqueHKey item;
    if (RegOpenKeyExW(state, slot.name.c_str(), 0, KEY_READ, item.Put()) != ERROR_SUCCESS)
        return;
    uint32_t high = 0, low = 0;
    if (!ReadWideText(item.Get(), L"Name", slot.entry.name) || !ReadNumber(item.Get(), L"TimeHigh", high) ||
        !ReadNumber(item.Get(), L"TimeLow", low) || !ReadNumber(item.Get(), L"Size", slot.entry.size))
        return;
    slot.entry.time = ::filesync::MakeTime(low, high);
    slot.kind = ItemSlot::Kind::Item;
}

// Every slot by its index, from the calling thread and as many readers as the count is worth;
// the readers are joined before this returns. A reader that cannot be started leaves its share
// to the others.
void ReadSlots(HKEY state, const KnownKeys& known, std::vector<ItemSlot>& slots) {
    std::atomic<size_t> next{0};
    const auto read = [&] {
        for (size_t index = next++; index < slots.size(); index = next++)
            ReadSlot(state, static_cast<DWORD>(index), known, slots[index]);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t readers = std::min<size_t>({kMaxReaders, cores, slots.size() / kKeysPerReader});
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < readers; ++i) {
        try {
            helpers.emplace_back(read);
        } catch (const std::system_error&) {
            break;
        }
    }
    read();
    for (std::thread& helper : helpers)
        helper.join();
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
    memo_->keys.clear(); // the times of the keys just written are not known
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
    if (!ReadNumber(key.Get(), L"dwAttribute", attribute))
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
    if (!KeyStamp(key.Get(), written, subkeys))
        return StoreResult::Failed; // the count of subkeys to read is not known
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    KnownKeys known;
    if (memo_ && memo_->deviceId == deviceId_) {
        for (const StoredItemKey& stored : memo_->keys)
            known.emplace(stored.name, &stored);
    }
    // The subkeys are read by index, each reader filling the slots of the indexes it takes, and
    // gathered in enumeration order. Subkeys made during the reading past the stamped count are
    // not read; the memo is stale then anyway.
    std::vector<ItemSlot> slots(subkeys);
    ReadSlots(key.Get(), known, slots);
    std::vector<StoredItemKey> keys;
    const size_t first = items.size();
    for (ItemSlot& slot : slots) {
        if (slot.kind == ItemSlot::Kind::End)
            break;
        if (slot.kind == ItemSlot::Kind::Other)
            continue;
        if (slot.kind == ItemSlot::Kind::Damaged)
            return StoreResult::Failed;
        if (FromFileTime(slot.written) + kSettledAge <= FromFileTime(now))
            keys.push_back(StoredItemKey{std::move(slot.name), slot.written, slot.entry});
        items.push_back(std::move(slot.entry));
    }
    if (memo_) {
        memo_->deviceId = deviceId_;
        memo_->written = written;
        memo_->subkeys = subkeys;
        memo_->items.assign(items.begin() + static_cast<std::ptrdiff_t>(first), items.end());
        memo_->keys = std::move(keys);
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
