// Item identifiers as the shell holds them: made with the task allocator (the shell's), read
// only after their sizes are checked.
#pragma once
#include "ItemId.h"
#include <windows.h>
#include <shlobj.h>
#include <string>

namespace tv::shellns {

// A one-level list for `record` (the level and the zero terminator); null when it cannot be made.
PITEMID_CHILD CreateItemPidl(const ItemRecord& record);

// The record of the first level of `pidl`; false when it is empty, foreign or malformed.
bool ReadItem(PCUIDLIST_RELATIVE pidl, ItemRecord* record);

// The device path of a list of our levels; false when one of them is malformed.
bool PidlToDevicePath(PCUIDLIST_RELATIVE pidl, std::string* path);

// Whether the list holds no level.
inline bool IsEmptyPidl(PCUIDLIST_RELATIVE pidl) { return !pidl || pidl->mkid.cb == 0; }

// Owns a list made by the task allocator.
class UniquePidl {
public:
    UniquePidl() = default;
    explicit UniquePidl(LPITEMIDLIST pidl) : pidl_(pidl) {}
    UniquePidl(const UniquePidl&) = delete;
    UniquePidl& operator=(const UniquePidl&) = delete;
    UniquePidl(UniquePidl&& other) noexcept : pidl_(other.Detach()) {}
    UniquePidl& operator=(UniquePidl&& other) noexcept {
        Reset(other.Detach());
        return *this;
    }
    ~UniquePidl() { Reset(); }
    LPITEMIDLIST Get() const { return pidl_; }
    LPITEMIDLIST Detach() {
        LPITEMIDLIST p = pidl_;
        pidl_ = nullptr;
        return p;
    }
    void Reset(LPITEMIDLIST pidl = nullptr) {
        if (pidl_)
            CoTaskMemFree(pidl_);
        pidl_ = pidl;
    }
    explicit operator bool() const { return pidl_ != nullptr; }

private:
    LPITEMIDLIST pidl_ = nullptr;
};

} // namespace tv::shellns
