// One file type as the association code keeps it (plain strings), and its hand-over as a
// ZVASSOCIATION record whose strings are fresh task-allocator copies owned by the receiver.
#pragma once
#include "ZvAssocMgr.h"
#include <string>

namespace tv::assoc {

struct Association {
    std::string description;
    std::string extension; // with its leading dot
    std::string iconSource;
    long iconIndex = 0; // negative: an icon resource id
    long flag = 0;
};

// Fills `record` with fresh task-allocated copies; E_OUTOFMEMORY (and a cleared record) when a
// copy cannot be had.
HRESULT CopyToRecord(const Association& association, ZVASSOCIATION& record);

// Frees the strings of a record received from elsewhere and clears it.
void FreeRecord(ZVASSOCIATION& record);

// Takes over a record a handler returned: copies its texts and frees its strings.
Association TakeRecord(ZVASSOCIATION& record);

// The extension of an item: from its last '.' to the end; an item without a '.' is its own.
std::string ExtensionOf(const std::string& item);

} // namespace tv::assoc
