// The state kept between sessions for one device (root, masks, the items of the last session)
// behind a small store interface: the Windows side keeps it in the registry, tests in memory.
#pragma once
#include "FileSyncEngine.h"
#include "SyncTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace filesync {

enum class StoreResult { Ok, Missing, Failed };

class SyncStateStore {
public:
    virtual ~SyncStateStore() = default;

    // Root and attribute of the state key; Missing when the key or a value is absent.
    virtual StoreResult ReadHeader(std::string& root, uint32_t& attribute) = 0;
    // The mask names in enumeration order; Missing when there is no mask list.
    virtual StoreResult ReadMasks(std::vector<std::string>& masks) = 0;
    // Every stored item in enumeration order; Failed on a damaged item, keeping those read.
    virtual StoreResult ReadItems(std::vector<FileEntry>& items) = 0;
    // Replaces every stored item; Missing when the state key is absent (nothing written). The new
    // items are stored before any old one is removed: Failed when a new item could not be written
    // (those before it are stored, the old items after it stay) or an old item could not be
    // removed (every new item is stored, and that old one beside them).
    virtual StoreResult WriteItems(const std::vector<FileEntry>& items) = 0;

    // Mask values one at a time, for saving an edited list.
    virtual StoreResult AddMask(const std::string& mask) = 0;
    // Missing when the value was already gone.
    virtual StoreResult DeleteMask(const std::string& mask) = 0;
    // Whether two masks are one stored value. Stores whose names ignore case (the registry) say so
    // here; the default is exact equality.
    virtual bool SameMask(const std::string& a, const std::string& b) const { return a == b; }
};

// Reads the stored state into the engine: masks (after `builtInMask` when given), root and the
// stored list. Missing means the caller creates the folder data (first session). The stored
// entries take the attribute as their flags. `rootKnown`, when given, is called once the engine
// holds its root and before the stored list is read, so that work that needs only the root (the
// PC folder's scan) can start beside that reading; it must not touch the stored lists.
StoreResult LoadSyncDatabase(SyncStateStore& store, FileSyncEngine& engine,
                             const std::optional<std::string>& builtInMask,
                             const std::function<void()>& rootKnown = {});

// Writes the result list as the stored items. Items copied in a session that ended early are in
// the result list with their new values, so they are saved too. When the list equals what the
// store holds since the engine last read or wrote it, nothing is written.
StoreResult SaveSyncDatabase(SyncStateStore& store, FileSyncEngine& engine);

// Saves an edited mask list: every new mask is written first, then masks no longer listed are
// deleted, so a failure half-way never loses a mask the user kept. A value already gone counts
// as deleted. Masks that are one stored value (SameMask) are one mask: the new list's last
// spelling is kept, and a stored mask whose spelling changed is deleted before the new spelling
// is written (writing would keep the stored spelling).
StoreResult SaveMasks(SyncStateStore& store, const std::vector<std::string>& oldMasks,
                      const std::vector<std::string>& newMasks);

} // namespace filesync
