#include "HubSyncEngine.h"

#include "AnsiText.h"
#include "ComPtr.h"
#include "FileItemEnumerator.h"
#include "DeviceNames.h"
#include "FileSyncIds.h"
#include "Handles.h"
#include "LocalFileTime.h"
#include "MessagePump.h"
#include "PcSafeName.h"
#include "SyncStateStore.h"
#include "WinPcLister.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tv::filesync {

using ::filesync::DeviceListingEntry;
using ::filesync::Direction;
using ::filesync::FileEntry;
using ::filesync::FolderPlan;
using ::filesync::SpaceDecision;
using ::filesync::StoreResult;
using ::filesync::SyncItem;
using tv::com::ComPtr;
using tv::com::UniqueHKey;
using tv::com::UniqueTaskMem;

namespace {

constexpr int kReadyPolls = 51;
constexpr DWORD kReadyPollGapMs = 500;
constexpr long kCopyPathLength = 260;
constexpr long kEnumAllTypes = 31;


// The PC file's size in 64 bits, opened without access rights and without sharing as the copy
// needs it.
bool PcFileSize(const std::string& path, uint64_t& size) {
    tv::com::UniqueFileHandle file(
        CreateFileA(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER value = {};
    if (!file || !GetFileSizeEx(file.Get(), &value))
        return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

// Gives the PC file `path` the local time `local` as its last-write time; the file's attributes
// are set to normal meanwhile and restored after.
bool SetPcFileTime(const std::string& path, uint64_t local) {
    uint64_t utc = 0;
    if (!LocalToUtcFileTime(local, utc))
        return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    bool set = false;
    {
        tv::com::UniqueFileHandle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const FILETIME time = ToFileTime(utc);
        set = file && SetFileTime(file.Get(), nullptr, nullptr, &time);
    }
    SetFileAttributesA(path.c_str(), attributes);
    return set;
}

} // namespace

std::string FormatText(const std::string& pattern, const std::string& first, const std::string& second) {
    std::string text(pattern.size() + first.size() + second.size() + 64, '\0');
    const int length = std::snprintf(text.data(), text.size(), pattern.c_str(), first.c_str(), second.c_str());
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

void ReadDeviceListing(IZvEnumFileItems* items, std::vector<DeviceListingEntry>& listing) {
    // Records come in batches: through a marshalled enumerator every Next is a round trip.
    constexpr unsigned long kBatch = 64;
    for (;;) {
        ZVFILEITEM records[kBatch] = {};
        long fetched = 0;
        const HRESULT hr = items->Next(kBatch, records, &fetched);
        const long count = std::clamp<long>(fetched, 0, static_cast<long>(kBatch));
        for (long i = 0; i < count; ++i) {
            ZVFILEITEM& record = records[i];
            if (SUCCEEDED(hr)) {
                DeviceListingEntry entry;
                entry.name = record.strName ? record.strName : "";
                entry.type = static_cast<uint32_t>(record.type);
                entry.attr = static_cast<uint32_t>(record.attr);
                entry.time = ::filesync::MakeTime(static_cast<uint32_t>(record.nTimeLow),
                                                  static_cast<uint32_t>(record.nTimeHigh));
                entry.size = static_cast<uint32_t>(record.nSize);
                listing.push_back(std::move(entry));
            }
            tv::FreeFileItemStrings(record);
        }
        if (hr != S_OK || count == 0)
            break;
    }
}

GenerationFolders GenerationFoldersOf(::filesync::Generation generation, const TextSource& texts) {
    GenerationFolders folders;
    if (generation == ::filesync::Generation::V10) {
        folders.subfolders = {texts(IDS_FILESYNC_FOLDER10)};
    } else {
        folders.subfolders = {texts(IDS_FILESYNC_FOLDER15_MAIN), texts(IDS_FILESYNC_FOLDER15_SECOND)};
        folders.builtInMask = texts(IDS_FILESYNC_BUILTIN_MASK);
    }
    return folders;
}

HubSyncEngine::HubSyncEngine(::filesync::Generation generation, TextSource texts)
    : generation_(generation), texts_(std::move(texts)), folders_(GenerationFoldersOf(generation_, texts_)) {
    // A device file marked excluded that the PC also holds is left out with a warning.
    core_.SetExcludedNotice([this](const std::string& name) {
        const std::string text = FormatText(texts_(IDS_FILESYNC_EXCLUDED), name);
        const std::string caption = texts_(IDS_FILESYNC_CAPTION);
        MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(), MB_ICONWARNING | MB_SETFOREGROUND);
    });
}

void HubSyncEngine::LoadSyncFolderData(const std::string& deviceId) const {
    ::tv::filesync::LoadSyncFolderData(deviceId, folders_);
}

HRESULT HubSyncEngine::LoadSyncDatabase(const std::string& deviceId, const std::function<void()>& rootKnown) {
    {
        UniqueHKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, StateKeyPath(deviceId).c_str(), 0, KEY_ALL_ACCESS, key.Put()) !=
            ERROR_SUCCESS)
            LoadSyncFolderData(deviceId);
    }
    RegistrySyncStore store(deviceId, &storedItems_[deviceId]);
    std::optional<std::string> builtIn;
    if (!folders_.builtInMask.empty())
        builtIn = folders_.builtInMask;
    const StoreResult result = ::filesync::LoadSyncDatabase(store, core_, builtIn, rootKnown);
    if (result == StoreResult::Missing) {
        LoadSyncFolderData(deviceId);
        return E_FAIL;
    }
    return result == StoreResult::Ok ? S_OK : E_FAIL;
}

HRESULT HubSyncEngine::ScanPcFolder(const std::string& folder) {
    const std::string path = folder.empty() ? core_.Root() : folder;
    if (path.empty())
        return E_FAIL;
    CreateDirectoryPath(path);
    for (const std::string& subfolder : folders_.subfolders)
        CreateDirectoryA((path + "\\" + subfolder).c_str(), nullptr);
    WinPcLister lister;
    core_.SetPcEntries(::filesync::ScanPcFolder(generation_, lister, path));
    return S_OK;
}

HRESULT HubSyncEngine::SetDeviceFolders(const std::vector<std::string>& folders) {
    core_.SetDeviceFolders(folders);
    return S_OK;
}

HRESULT HubSyncEngine::FilterDeviceItems(const std::vector<FileEntry>& files, const std::vector<FileEntry>& excluded,
                                         size_t& refused) {
    refused += core_.FilterDeviceItems(files, excluded);
    return S_OK;
}

HRESULT HubSyncEngine::MergeSyncLists() {
    core_.MergeSyncLists();
    return S_OK;
}

HRESULT HubSyncEngine::SaveSyncDatabase(const std::string& deviceId) {
    {
        UniqueHKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, StateKeyPath(deviceId).c_str(), 0, KEY_ALL_ACCESS, key.Put()) !=
            ERROR_SUCCESS) {
            LoadSyncFolderData(deviceId);
            return S_OK;
        }
    }
    RegistrySyncStore store(deviceId, &storedItems_[deviceId]);
    return ::filesync::SaveSyncDatabase(store, core_) == StoreResult::Ok ? S_OK : E_FAIL;
}

HRESULT HubSyncEngine::PrepareDeviceFolders(IZelvanMgr* hub, const std::string& deviceId,
                                            const std::string& pcName) {
    std::vector<std::string> toCreate;
    switch (::filesync::PlanDeviceFolders(generation_, core_, pcName, toCreate)) {
    case FolderPlan::Ready:
        return S_OK;
    case FolderPlan::Invalid:
        return E_FAIL;
    case FolderPlan::Missing:
        return E_PENDING;
    case FolderPlan::CreateFolders:
        break;
    }
    for (const std::string& level : toCreate) {
        std::string path = deviceId + "\\" + level;
        if (hub->CreateFolder(path.data()) != S_OK)
            return E_PENDING;
        core_.AddDeviceFolder(level);
    }
    return S_OK;
}

HRESULT HubSyncEngine::CheckRoom(IZelvanMgr* hub, const std::string& deviceId, const std::string& name,
                                 uint64_t size) {
    std::string volume = deviceId + "\\" + std::string(::filesync::FirstComponent(name));
    VOLUMEINFO info = {};
    if (FAILED(hub->GetVolumeInfo(volume.data(), &info)))
        return E_FAIL;
    const uint64_t blockSize = static_cast<uint32_t>(info.nBlockSize);
    const uint64_t freeBlocks = static_cast<uint32_t>(info.nFreeBlocks);
    const SpaceDecision first = ::filesync::DecideSpace(blockSize, freeBlocks, size);
    if (first == SpaceDecision::Unknown)
        return E_FAIL;
    if (first == SpaceDecision::Copy)
        return S_OK;
    // Not enough free space: the copy may still fit in place of the device copy it replaces.
    const size_t slash = name.rfind('\\');
    std::string folder = deviceId + "\\" + name.substr(0, slash);
    const std::string_view leaf = ::filesync::LastComponent(name);
    ComPtr<IZvEnumFileItems> items;
    if (FAILED(hub->EnumFileItems(folder.data(), kEnumAllTypes, &items)) || !items)
        return kNoRoom;
    std::vector<DeviceListingEntry> listing;
    ReadDeviceListing(items.Get(), listing);
    uint64_t replaced = 0;
    for (const auto& entry : listing) {
        if (::filesync::LastComponent(entry.name) == leaf)
            replaced = entry.size;
    }
    return ::filesync::DecideSpaceWithReplaced(blockSize, freeBlocks, size, replaced) == SpaceDecision::Copy ? S_OK
                                                                                                              : kNoRoom;
}

HRESULT HubSyncEngine::TransferItem(IZelvanMgr* hub, const std::string& deviceId,
                                    IZvFileOperationCallback* listener, const SyncItem& item,
                                    const std::function<bool()>& stopped) {
    if (!hub || deviceId.empty() || !listener)
        return E_FAIL;
    const std::string& root = core_.Root();
    std::string source;
    std::string destination;
    if (::filesync::ChooseDirection(item) == Direction::DeviceToPc) {
        if (!tv::portable::IsPcSafeRelativePath(item.deviceName))
            return E_FAIL;
        if (generation_ == ::filesync::Generation::V10) {
            const std::string folder = root + "\\" + std::string(::filesync::FirstComponent(item.deviceName));
            if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return E_FAIL;
        } else {
            for (const std::string& level : ::filesync::FolderLevels(item.deviceName))
                CreateDirectoryA((root + "\\" + level).c_str(), nullptr);
        }
        source = deviceId + "\\" + item.deviceName;
        destination = root + "\\" + item.deviceName;
    } else {
        HRESULT hr = PrepareDeviceFolders(hub, deviceId, item.pcName);
        if (hr != S_OK)
            return hr;
        if (stopped())
            return kStopped;
        source = root + "\\" + item.pcName;
        destination = deviceId + "\\" + item.pcName;
        uint64_t size = 0;
        if (!PcFileSize(source, size))
            return E_FAIL;
        if (::filesync::IsPcFileTooLarge(size))
            return kFileTooLarge;
        hr = CheckRoom(hub, deviceId, item.pcName, size);
        if (hr != S_OK)
            return hr;
    }
    if (stopped())
        return kStopped;
    UniqueTaskMem<char> from(tv::com::TaskTextCopy(source));
    UniqueTaskMem<char> to(tv::com::TaskTextCopy(destination));
    if (!from || !to)
        return E_OUTOFMEMORY;
    LPSTR sources[] = {from.Get()};
    LPSTR destinations[] = {to.Get()};
    return hub->CopyFileItems(1, kCopyPathLength, sources, destinations, listener);
}

HRESULT HubSyncEngine::WaitForDeviceReady(IZelvanMgr* hub, const std::string& deviceId) {
    if (!hub)
        return E_FAIL;
    tv::com::UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    for (int poll = 0; poll < kReadyPolls; ++poll) {
        if (poll > 0 && never)
            tv::WaitWithMessagePump(never.Get(), kReadyPollGapMs);
        std::string id = deviceId;
        char command[] = "id ";
        long length = 0;
        LPSTR reply = nullptr;
        const HRESULT hr = hub->Command(id.data(), command, &length, &reply);
        UniqueTaskMem<char> owned(reply);
        if (SUCCEEDED(hr) && owned && ::filesync::IsDeviceReadyReply(owned.Get()))
            return S_OK;
    }
    return E_FAIL;
}

HRESULT HubSyncEngine::FreshListing(IZelvanMgr* hub, const std::string& deviceId, const SyncItem& item,
                                    std::vector<DeviceListingEntry>& listing) {
    if (!hub)
        return E_FAIL;
    if (generation_ == ::filesync::Generation::V10) {
        std::string id = deviceId;
        ComPtr<IZvEnumFileItems> items;
        if (FAILED(hub->GetAllItems(id.data(), &items)) || !items)
            return E_FAIL;
        ReadDeviceListing(items.Get(), listing);
        return S_OK;
    }
    // A 1.5 device lists one folder in one request, where its full listing walks every volume:
    // the folders that can hold the copy are enough.
    for (const std::string& folder : ::filesync::CopiedEntryFolders(item)) {
        std::string path = folder.empty() ? deviceId : deviceId + "\\" + folder;
        ComPtr<IZvEnumFileItems> items;
        if (FAILED(hub->EnumFileItems(path.data(), kEnumAllTypes, &items)) || !items)
            return E_FAIL;
        std::vector<DeviceListingEntry> entries;
        ReadDeviceListing(items.Get(), entries);
        ::filesync::PrefixFolder(folder, entries);
        listing.insert(listing.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    }
    return S_OK;
}

HRESULT HubSyncEngine::UpdateSyncItem(IZelvanMgr* hub, const std::string& deviceId, const SyncItem& item) {
    std::vector<DeviceListingEntry> listing;
    if (FAILED(FreshListing(hub, deviceId, item, listing)))
        return E_FAIL;
    const auto entry = ::filesync::FindCopiedEntry(listing, item);
    if (!entry || !tv::portable::IsPcSafeRelativePath(entry->name))
        return E_FAIL;
    if (!SetPcFileTime(core_.Root() + "\\" + entry->name, entry->time))
        return E_FAIL;
    SyncItem recorded;
    return ::filesync::UpdateAfterCopy(core_, item, listing, recorded) ? S_OK : E_FAIL;
}

} // namespace tv::filesync
