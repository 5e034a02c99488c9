// The decisions around one copy: which way it goes, whether a PC file may be sent at all,
// whether the device has room, and what the device's fresh listing says after the copy.
// Every size and space figure is 64-bit.
#pragma once
#include "FileSyncEngine.h"
#include "SyncTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace filesync {

enum class Direction { DeviceToPc, PcToDevice };

// The later time wins; on equal times (or a zeroed device time) the PC's copy goes out.
Direction ChooseDirection(const SyncItem& item);

// Stored sizes are 32-bit and the device keeps sizes in 32 bits, so a PC file of 2^31 bytes or
// more cannot be synchronized and is refused rather than truncated.
constexpr uint64_t kLargestPcFile = 0x7FFFFFFFull;
bool IsPcFileTooLarge(uint64_t size);

enum class SpaceDecision { Copy, NoRoom, Unknown };

// Block size times free blocks, saturating instead of wrapping.
uint64_t FreeBytes(uint64_t blockSize, uint64_t freeBlocks);

// Copy when the file fits in the free space; else when it is smaller than the free space plus
// the size of the device copy it replaces. A block size of 0 is Unknown (the caller fails).
SpaceDecision DecideSpace(uint64_t blockSize, uint64_t freeBlocks, uint64_t fileSize);
SpaceDecision DecideSpaceWithReplaced(uint64_t blockSize, uint64_t freeBlocks, uint64_t fileSize,
                                      uint64_t replacedSize);

// One entry of the device's full listing, as the hub reports it.
struct DeviceListingEntry {
    std::string name;
    uint32_t type = 0;
    uint32_t attr = 0;
    uint64_t time = 0;
    uint32_t size = 0;
};

constexpr uint32_t kDeviceExcludedAttr = 0x08;
bool IsDeviceFolderType(uint32_t type);
bool IsDeviceFileType(uint32_t type);

// After a copy: the listing entry (type 2, 4 or 8, not excluded) named as the item's device
// name, else as its PC name, the later match replacing an earlier one. No match means the copy
// did not land.
std::optional<DeviceListingEntry> FindCopiedEntry(const std::vector<DeviceListingEntry>& listing,
                                                  const SyncItem& item);

// The device folders whose listings can hold the copied item's entry: those of its device and
// PC names (empty for a name at the device's root), each once. An entry of a folder listing
// takes the folder's name in front of its own (`PrefixFolder`), so that these listings together
// give FindCopiedEntry what the device's full listing would.
std::vector<std::string> CopiedEntryFolders(const SyncItem& item);
void PrefixFolder(const std::string& folder, std::vector<DeviceListingEntry>& listing);

// The item as recorded after a copy: names, times and sizes all become the device entry's.
SyncItem RecordCopied(const SyncItem& item, const DeviceListingEntry& entry);

// Finds the copied file in the device's fresh listing and records it in the engine's result
// item of the same index, marked synchronized with any conflict cleared. False (nothing
// changed) when the copy is not in the listing or the item is no longer in the result list;
// `recorded` holds the recorded item on success.
bool UpdateAfterCopy(FileSyncEngine& engine, const SyncItem& item, const std::vector<DeviceListingEntry>& listing,
                     SyncItem& recorded);

enum class Generation { V10, V15 };
enum class FolderPlan { Ready, CreateFolders, Missing, Invalid };

// The device folders a copy of `pcName` to the device needs. 1.0 copies only into an existing
// top-level folder (no "\" in the name is Invalid, a folder the device lacks is Missing); 1.5
// lists in `toCreate` every level the device lacks, outermost first.
FolderPlan PlanDeviceFolders(Generation generation, const FileSyncEngine& engine, const std::string& pcName,
                             std::vector<std::string>& toCreate);

// The items a session copies (neither in conflict nor synchronized) and their bytes, each
// counted by the side it is sent from.
struct TransferPlan {
    std::vector<SyncItem> items;
    uint64_t totalBytes = 0;
};
TransferPlan PlanTransfers(const std::vector<SyncItem>& items);

// After a copy the device is ready again once a reply to "id " carries "@".
bool IsDeviceReadyReply(const std::string& reply);

// Sorts a full device listing: folder names, files to synchronize, and excluded files.
void SortDeviceListing(const std::vector<DeviceListingEntry>& listing, std::vector<std::string>& folders,
                       std::vector<FileEntry>& files, std::vector<FileEntry>& excluded);

} // namespace filesync
