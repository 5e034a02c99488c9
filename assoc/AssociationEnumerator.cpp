#include "AssociationEnumerator.h"
#include "HResult.h"

namespace tv::assoc {

STDMETHODIMP AssociationEnumerator::Next(ULONG nElems, ZVASSOCIATION* pElems, LONG* nFetched) {
    if (!pElems || (!nFetched && nElems != 1))
        return E_POINTER;
    for (ULONG i = 0; i < nElems; ++i)
        pElems[i] = ZVASSOCIATION{};
    LONG fetched = 0;
    while (static_cast<ULONG>(fetched) < nElems && position_ < list_->size()) {
        const HRESULT hr = CopyToRecord((*list_)[position_], pElems[fetched]);
        if (FAILED(hr)) {
            for (LONG i = 0; i < fetched; ++i)
                FreeRecord(pElems[i]);
            if (nFetched)
                *nFetched = 0;
            return hr;
        }
        ++position_;
        ++fetched;
    }
    if (nFetched)
        *nFetched = fetched;
    return S_OK;
}

STDMETHODIMP AssociationEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP AssociationEnumerator::Skip(ULONG nElems) {
    if (position_ + nElems > list_->size())
        return S_FALSE;
    position_ += nElems;
    return S_OK;
}

STDMETHODIMP AssociationEnumerator::Clone(IZvEnumAssociations** piCloned) {
    if (piCloned)
        *piCloned = nullptr;
    return E_NOTIMPL;
}

} // namespace tv::assoc
