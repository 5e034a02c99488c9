#include "FileSyncEngine.h"

#include "MaskMatch.h"
#include "PcSafeName.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace filesync {

namespace {

// Names are equal only when their bytes are, so the maps key on the exact strings. Each name
// maps to its first entry, which is the one the merge takes.
std::unordered_map<std::string, const FileEntry*> FirstByName(const std::vector<FileEntry>& entries) {
    std::unordered_map<std::string, const FileEntry*> map;
    map.reserve(entries.size());
    for (const auto& entry : entries)
        map.emplace(entry.name, &entry);
    return map;
}

} // namespace

void FileSyncEngine::Clear() {
    masks_.clear();
    items_.clear();
    deviceFolders_.clear();
    pc_.clear();
    device_.clear();
    stored_.clear();
    excluded_.clear();
    excludedNames_.clear();
    root_.clear();
    persisted_.reset();
}

void FileSyncEngine::SetDeviceFolders(const std::vector<std::string>& folders) {
    deviceFolders_.clear();
    for (const auto& folder : folders) {
        if (tv::portable::IsPcSafeRelativePath(folder))
            deviceFolders_.push_back(folder);
    }
}

bool FileSyncEngine::HasDeviceFolder(const std::string& folder) const {
    return std::find(deviceFolders_.begin(), deviceFolders_.end(), folder) != deviceFolders_.end();
}

void FileSyncEngine::AddDeviceFolder(const std::string& folder) {
    if (!HasDeviceFolder(folder))
        deviceFolders_.push_back(folder);
}

bool FileSyncEngine::MatchesAnyMask(const std::string& name) const {
    for (const auto& mask : masks_) {
        if (MatchMask(mask, name))
            return true;
    }
    return false;
}

size_t FileSyncEngine::FilterDeviceItems(const std::vector<FileEntry>& deviceFiles,
                                         const std::vector<FileEntry>& excluded) {
    size_t refused = 0;
    std::unordered_set<std::string> pcNames;
    pcNames.reserve(pc_.size());
    for (const auto& entry : pc_)
        pcNames.insert(entry.name);
    device_.clear();
    for (const auto& entry : deviceFiles) {
        if (pcNames.count(entry.name) == 0 && !MatchesAnyMask(entry.name))
            continue; // not synchronized at all
        if (!tv::portable::IsPcSafeRelativePath(entry.name)) {
            ++refused;
            continue;
        }
        device_.push_back(entry);
    }
    // An excluded file is compared with PC names only, which are always safe: one whose name is
    // not is never matched and is not kept.
    excluded_.clear();
    excludedNames_.clear();
    for (const auto& entry : excluded) {
        if (tv::portable::IsPcSafeRelativePath(entry.name)) {
            excluded_.push_back(entry);
            excludedNames_.insert(entry.name);
        }
    }
    return refused;
}

void FileSyncEngine::MergeSyncLists() {
    items_.clear();

    std::unordered_set<std::string> storedNames;
    storedNames.reserve(stored_.size() + device_.size() + pc_.size());
    for (const auto& entry : stored_)
        storedNames.insert(entry.name);
    // Device entries first, so a file new on both sides takes the device's values as stored.
    for (const auto* list : {&device_, &pc_}) {
        for (const auto& entry : *list) {
            if (storedNames.insert(entry.name).second) {
                FileEntry copy = entry;
                copy.flags = 0;
                stored_.push_back(std::move(copy));
            }
        }
    }

    const auto pcByName = FirstByName(pc_);
    const auto deviceByName = FirstByName(device_);
    std::vector<FileEntry> kept;
    kept.reserve(stored_.size());
    std::vector<std::pair<const FileEntry*, const FileEntry*>> sides;
    sides.reserve(stored_.size());
    for (auto& entry : stored_) {
        auto pc = pcByName.find(entry.name);
        auto device = deviceByName.find(entry.name);
        const FileEntry* pcEntry = pc == pcByName.end() ? nullptr : pc->second;
        const FileEntry* deviceEntry = device == deviceByName.end() ? nullptr : device->second;
        if (pcEntry)
            entry.flags |= kOnPc;
        if (deviceEntry)
            entry.flags |= kOnDevice;
        if (pcEntry || deviceEntry) {
            kept.push_back(entry);
            sides.emplace_back(pcEntry, deviceEntry);
        }
    }
    stored_ = std::move(kept);

    for (size_t i = 0; i < stored_.size(); ++i) {
        const FileEntry& stored = stored_[i];
        const auto [pc, device] = sides[i];
        SyncItem item;
        item.storedName = stored.name;
        item.storedTime = stored.time;
        item.storedSize = stored.size;
        item.flags = stored.flags;
        item.index = static_cast<uint32_t>(i);
        if (pc) {
            item.pcName = pc->name;
            item.pcTime = pc->time;
            item.pcSize = pc->size;
        }
        if (device) {
            item.deviceName = device->name;
            item.deviceTime = device->time;
            item.deviceSize = device->size;
        }
        if (pc && device) {
            const uint64_t d = item.deviceTime;
            const uint64_t p = item.pcTime;
            const uint64_t s = item.storedTime;
            if (d != s && p != s)
                item.flags |= kConflict;
            if (d == s && p < s)
                item.flags |= kConflict;
            if (d < s && p == s)
                item.flags |= kConflict;
            if (d == s && p == s)
                item.flags |= kSynchronized;
        }
        if (!IsExcludedItem(item.pcName))
            items_.push_back(std::move(item));
    }
}

bool FileSyncEngine::IsExcludedItem(const std::string& name) const {
    if (excludedNames_.count(name) == 0)
        return false;
    if (excludedNotice_)
        excludedNotice_(name);
    return true;
}

void FileSyncEngine::AddSyncItem(SyncItem item) {
    item.index = static_cast<uint32_t>(items_.size());
    if (!IsExcludedItem(item.pcName))
        items_.push_back(std::move(item));
}

bool FileSyncEngine::RemoveSyncItem(size_t position) {
    if (position >= items_.size())
        return false;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(position));
    for (size_t i = 0; i < items_.size(); ++i)
        items_[i].index = static_cast<uint32_t>(i);
    return true;
}

size_t FileSyncEngine::CountItemsByFlag(uint32_t mask) const {
    return static_cast<size_t>(
        std::count_if(items_.begin(), items_.end(), [mask](const SyncItem& item) { return (item.flags & mask) != 0; }));
}

bool FileSyncEngine::UpdateSyncItem(const SyncItem& item) {
    for (auto& target : items_) {
        if (target.index != item.index)
            continue;
        const uint32_t index = target.index;
        target = item;
        target.index = index;
        return true;
    }
    return false;
}

} // namespace filesync
