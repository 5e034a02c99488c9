#include "ItemIdList.h"
#include <cstdint>
#include <cstring>

namespace tv::shellns {

PITEMID_CHILD CreateItemPidl(const ItemRecord& record) {
    std::vector<uint8_t> level = EncodeItem(record);
    if (level.empty())
        return nullptr;
    auto* pidl = static_cast<BYTE*>(CoTaskMemAlloc(level.size() + sizeof(USHORT)));
    if (!pidl)
        return nullptr;
    std::memcpy(pidl, level.data(), level.size());
    pidl[level.size()] = 0;
    pidl[level.size() + 1] = 0;
    return reinterpret_cast<PITEMID_CHILD>(pidl);
}

bool ReadItem(PCUIDLIST_RELATIVE pidl, ItemRecord* record) {
    if (IsEmptyPidl(pidl))
        return false;
    return DecodeItem(reinterpret_cast<const uint8_t*>(pidl), pidl->mkid.cb, record);
}

bool PidlToDevicePath(PCUIDLIST_RELATIVE pidl, std::string* path) {
    if (!pidl) {
        if (path)
            path->clear();
        return true;
    }
    return ListToPath(reinterpret_cast<const uint8_t*>(pidl), SIZE_MAX, path);
}

} // namespace tv::shellns
