#include "SyncSinks.h"

namespace tv {

HRESULT SyncSinks::Advise(IZvSyncCallback* sink, LONG* cookie) {
    if (!sink)
        return E_INVALIDARG;
    if (!cookie)
        return E_POINTER;
    for (const auto& entry : sinks_)
        if (entry.second.Get() == sink)
            return E_FAIL;
    sinks_.emplace_back(++lastCookie_, com::ComPtr<IZvSyncCallback>(sink));
    *cookie = lastCookie_;
    return S_OK;
}

HRESULT SyncSinks::Unadvise(LONG cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->first == cookie) {
            sinks_.erase(it);
            return S_OK;
        }
    return E_FAIL;
}

std::vector<com::ComPtr<IZvSyncCallback>> SyncSinks::Snapshot() const {
    std::vector<com::ComPtr<IZvSyncCallback>> copy;
    copy.reserve(sinks_.size());
    for (const auto& entry : sinks_)
        copy.push_back(entry.second);
    return copy;
}

} // namespace tv
