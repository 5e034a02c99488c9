#include "TransferRules.h"

#include <algorithm>

#include "DeviceNames.h"
#include "PcSafeName.h"

#include <limits>

namespace filesync {

Direction ChooseDirection(const SyncItem& item) {
    return item.deviceTime > item.pcTime ? Direction::DeviceToPc : Direction::PcToDevice;
}

bool IsPcFileTooLarge(uint64_t size) {
    return size > kLargestPcFile;
}

uint64_t FreeBytes(uint64_t blockSize, uint64_t freeBlocks) {
    if (blockSize != 0 && freeBlocks > std::numeric_limits<uint64_t>::max() / blockSize)
        return std::numeric_limits<uint64_t>::max();
    return blockSize * freeBlocks;
}

SpaceDecision DecideSpace(uint64_t blockSize, uint64_t freeBlocks, uint64_t fileSize) {
    if (blockSize == 0)
        return SpaceDecision::Unknown;
    return FreeBytes(blockSize, freeBlocks) >= fileSize ? SpaceDecision::Copy : SpaceDecision::NoRoom;
}

SpaceDecision DecideSpaceWithReplaced(uint64_t blockSize, uint64_t freeBlocks, uint64_t fileSize,
                                      uint64_t replacedSize) {
    SpaceDecision first = DecideSpace(blockSize, freeBlocks, fileSize);
    if (first != SpaceDecision::NoRoom)
        return first;
    const uint64_t free = FreeBytes(blockSize, freeBlocks);
    // free < fileSize here, so free + replacedSize cannot be compared wrongly after saturation.
    const uint64_t room = replacedSize > std::numeric_limits<uint64_t>::max() - free
                              ? std::numeric_limits<uint64_t>::max()
                              : free + replacedSize;
    return fileSize < room ? SpaceDecision::Copy : SpaceDecision::NoRoom;
}

bool IsDeviceFolderType(uint32_t type) {
    return type == 2 || type == 4;
}

bool IsDeviceFileType(uint32_t type) {
    return type == 8;
}

std::optional<DeviceListingEntry> FindCopiedEntry(const std::vector<DeviceListingEntry>& listing,
                                                  const SyncItem& item) {
    std::optional<DeviceListingEntry> byDeviceName;
    std::optional<DeviceListingEntry> byPcName;
    for (const auto& entry : listing) {
        if (!IsDeviceFolderType(entry.type) && !IsDeviceFileType(entry.type))
            continue;
        if ((entry.attr & kDeviceExcludedAttr) != 0)
            continue;
        if (!item.deviceName.empty() && entry.name == item.deviceName)
            byDeviceName = entry;
        else if (!item.pcName.empty() && entry.name == item.pcName)
            byPcName = entry;
    }
    return byDeviceName ? byDeviceName : byPcName;
}

std::vector<std::string> CopiedEntryFolders(const SyncItem& item) {
    std::vector<std::string> folders;
    for (const std::string* name : {&item.deviceName, &item.pcName}) {
        if (name->empty())
            continue;
        const size_t slash = name->rfind('\\');
        std::string folder = slash == std::string::npos ? std::string() : name->substr(0, slash);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    }
    return folders;
}

void PrefixFolder(const std::string& folder, std::vector<DeviceListingEntry>& listing) {
    if (folder.empty())
        return;
    for (auto& entry : listing)
        entry.name = folder + "\\" + entry.name;
}

SyncItem RecordCopied(const SyncItem& item, const DeviceListingEntry& entry) {
    SyncItem copied = item;
    copied.pcName = copied.deviceName = copied.storedName = entry.name;
    copied.pcTime = copied.deviceTime = copied.storedTime = entry.time;
    copied.pcSize = copied.deviceSize = copied.storedSize = entry.size;
    return copied;
}

bool UpdateAfterCopy(FileSyncEngine& engine, const SyncItem& item, const std::vector<DeviceListingEntry>& listing,
                     SyncItem& recorded) {
    const auto entry = FindCopiedEntry(listing, item);
    if (!entry)
        return false;
    SyncItem copied = RecordCopied(item, *entry);
    copied.flags |= kSynchronized;
    copied.flags &= ~kConflict;
    if (!engine.UpdateSyncItem(copied))
        return false;
    recorded = std::move(copied);
    return true;
}

FolderPlan PlanDeviceFolders(Generation generation, const FileSyncEngine& engine, const std::string& pcName,
                             std::vector<std::string>& toCreate) {
    toCreate.clear();
    if (!tv::portable::IsPcSafeRelativePath(pcName) || pcName.find('\\') == std::string::npos)
        return FolderPlan::Invalid;
    if (generation == Generation::V10)
        return engine.HasDeviceFolder(std::string(FirstComponent(pcName))) ? FolderPlan::Ready : FolderPlan::Missing;
    for (auto& level : FolderLevels(pcName)) {
        if (!engine.HasDeviceFolder(level))
            toCreate.push_back(std::move(level));
    }
    return toCreate.empty() ? FolderPlan::Ready : FolderPlan::CreateFolders;
}

TransferPlan PlanTransfers(const std::vector<SyncItem>& items) {
    TransferPlan plan;
    for (const auto& item : items) {
        if ((item.flags & (kConflict | kSynchronized)) != 0)
            continue;
        plan.totalBytes += ChooseDirection(item) == Direction::PcToDevice ? item.pcSize : item.deviceSize;
        plan.items.push_back(item);
    }
    return plan;
}

bool IsDeviceReadyReply(const std::string& reply) {
    return reply.find('@') != std::string::npos;
}

void SortDeviceListing(const std::vector<DeviceListingEntry>& listing, std::vector<std::string>& folders,
                       std::vector<FileEntry>& files, std::vector<FileEntry>& excluded) {
    for (const auto& entry : listing) {
        if (IsDeviceFolderType(entry.type)) {
            folders.push_back(entry.name);
        } else if (IsDeviceFileType(entry.type)) {
            FileEntry file{entry.name, entry.time, 0, entry.size};
            if ((entry.attr & kDeviceExcludedAttr) != 0)
                excluded.push_back(std::move(file));
            else
                files.push_back(std::move(file));
        }
    }
}

} // namespace filesync
