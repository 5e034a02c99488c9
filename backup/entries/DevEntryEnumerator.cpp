#include "DevEntryEnumerator.h"

namespace tv::backup {

HRESULT DevEntryEnumerator::Create(EntryList entries, IZvEnumDevEntries** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    com::ComPtr<DevEntryEnumerator> made;
    HRESULT hr = com::MakeComObject(made);
    if (FAILED(hr))
        return hr;
    made->entries_ = std::make_shared<const EntryList>(std::move(entries));
    *out = made.Detach();
    return S_OK;
}

STDMETHODIMP DevEntryEnumerator::Clone(IZvEnumDevEntries** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    com::ComPtr<DevEntryEnumerator> made;
    HRESULT hr = com::MakeComObject(made);
    if (FAILED(hr))
        return hr;
    made->entries_ = entries_;
    made->position_ = position_;
    *ppEnum = made.Detach();
    return S_OK;
}

STDMETHODIMP DevEntryEnumerator::Next(ULONG nElems, IStream** pEntries, ULONG* nFetched) {
    if (!pEntries || (!nFetched && nElems != 1))
        return E_POINTER;
    ULONG fetched = 0;
    while (fetched < nElems && position_ < entries_->size()) {
        IStream* entry = (*entries_)[position_++].Get();
        entry->AddRef();
        pEntries[fetched++] = entry;
    }
    if (nFetched)
        *nFetched = fetched;
    return fetched == nElems ? S_OK : S_FALSE;
}

STDMETHODIMP DevEntryEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP DevEntryEnumerator::Skip(ULONG nCount) {
    const size_t left = entries_->size() - position_;
    if (nCount > left) {
        position_ = entries_->size();
        return S_FALSE;
    }
    position_ += nCount;
    return S_OK;
}

} // namespace tv::backup
