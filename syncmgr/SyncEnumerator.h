// ZvEnumSyncComponents: a list of synchronizers with their CLSIDs, handed out by the manager's
// EnumComponents family. The position may be skipped past the end.
#pragma once
#include "ComObject.h"
#include "ZvSyncMgr.h"
#include <utility>
#include <vector>

namespace tv::sync {

class SyncEnumerator : public com::ComObject<SyncEnumerator, IZvEnumSyncComponents> {
  public:
    using Item = std::pair<com::ComPtr<IZvSynchronizer>, CLSID>;
    explicit SyncEnumerator(std::vector<Item> items) : items_(std::move(items)) {}

    STDMETHODIMP Next(ULONG nElems, IZvSynchronizer** ppComps, GUID* pCompCLSID, LONG* pnFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(ULONG nElems) override;

  private:
    std::vector<Item> items_;
    size_t position_ = 0;
};

} // namespace tv::sync
