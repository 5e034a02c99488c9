// The progress sinks advised to a synchronizer: kept with one reference each, in advise order,
// under cookies that count up from 1 (never pointer values, which do not fit a long on x64).
#pragma once
#include "ComPtr.h"
#include "ZvSyncMgr.h"
#include <utility>
#include <vector>

namespace tv {

class SyncSinks {
  public:
    // E_INVALIDARG for a null sink, E_POINTER for a null cookie, E_FAIL for a sink already advised.
    HRESULT Advise(IZvSyncCallback* sink, LONG* cookie);
    // E_FAIL for a cookie that is not advised.
    HRESULT Unadvise(LONG cookie);
    // A copy of the list, so that a sink may unadvise while it is being called.
    std::vector<com::ComPtr<IZvSyncCallback>> Snapshot() const;

  private:
    std::vector<std::pair<LONG, com::ComPtr<IZvSyncCallback>>> sinks_;
    LONG lastCookie_ = 0;
};

} // namespace tv
