#include "SyncEnumerator.h"
#include <algorithm>

namespace tv::sync {

STDMETHODIMP SyncEnumerator::Next(ULONG nElems, IZvSynchronizer** ppComps, GUID* pCompCLSID,
                                  LONG* pnFetched) {
    if (!ppComps || !pCompCLSID || (!pnFetched && nElems != 1))
        return E_POINTER;
    ULONG fetched = 0;
    while (fetched < nElems && position_ < items_.size()) {
        const Item& item = items_[position_++];
        item.first.CopyTo(&ppComps[fetched]);
        pCompCLSID[fetched] = item.second;
        ++fetched;
    }
    if (pnFetched)
        *pnFetched = static_cast<LONG>(fetched);
    return fetched == nElems ? S_OK : S_FALSE;
}

STDMETHODIMP SyncEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP SyncEnumerator::Skip(ULONG nElems) {
    position_ =
        nElems > items_.size() - std::min(position_, items_.size()) ? items_.size() : position_ + nElems;
    return S_OK;
}

} // namespace tv::sync
