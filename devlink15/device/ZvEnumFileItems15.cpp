#include "ZvEnumFileItems15.h"

#include <algorithm>
#include <cstring>

namespace devlink15 {
namespace {

LPSTR TaskCopy(const std::string& text) {
    auto* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void FreeStrings(ZVFILEITEM& item) {
    CoTaskMemFree(item.strName);
    CoTaskMemFree(item.strDesc);
    CoTaskMemFree(item.strIconFile);
    item.strName = item.strDesc = item.strIconFile = nullptr;
}

} // namespace

STDMETHODIMP ZvEnumFileItems15::Next(unsigned long nElems, ZVFILEITEM* pElems, long* nFetched) {
    if (pElems)
        std::memset(pElems, 0, sizeof(ZVFILEITEM) * nElems);
    if (!nFetched && nElems != 1)
        return E_POINTER;
    if (position_ >= records_.size()) {
        if (nFetched)
            *nFetched = 0;
        return S_FALSE;
    }
    if (!pElems)
        return E_INVALIDARG;
    const size_t n = std::min<size_t>(nElems, records_.size() - position_);
    for (size_t i = 0; i < n; ++i) {
        const FileItemRecord& from = records_[position_ + i];
        ZVFILEITEM& to = pElems[i];
        to.type = from.type;
        to.attr = from.attr;
        to.hint = from.hint;
        to.nSize = from.nSize;
        to.strName = TaskCopy(from.strName);
        to.strDesc = TaskCopy(from.strDesc);
        to.strIconFile = TaskCopy(from.strIconFile);
        to.nIconIndex = from.nIconIndex;
        to.nTimeLow = from.nTimeLow;
        to.nTimeHigh = from.nTimeHigh;
        if (!to.strName || !to.strDesc || !to.strIconFile) {
            for (size_t j = 0; j <= i; ++j)
                FreeStrings(pElems[j]);
            if (nFetched)
                *nFetched = 0;
            return E_OUTOFMEMORY;
        }
    }
    if (nFetched)
        *nFetched = static_cast<long>(n);
    position_ += n;
    return S_OK;
}

STDMETHODIMP ZvEnumFileItems15::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ZvEnumFileItems15::Skip(unsigned long nElems) {
    position_ = std::min<size_t>(records_.size(), position_ + nElems);
    return S_OK;
}

STDMETHODIMP ZvEnumFileItems15::Clone(IZvEnumFileItems** piCloned) {
    if (!piCloned)
        return E_POINTER;
    *piCloned = nullptr;
    return tv::com::CreateComObject<ZvEnumFileItems15>(__uuidof(IZvEnumFileItems),
                                                       reinterpret_cast<void**>(piCloned), records_, position_);
}

} // namespace devlink15
