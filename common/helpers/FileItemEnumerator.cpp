#include "FileItemEnumerator.h"
#include "AnsiText.h"

#include <algorithm>
#include <cstring>

namespace tv {
namespace {

// A copy of `text`, or null when the record leaves it out; `ok` turns false when a copy fails.
LPSTR TaskCopyUnlessNull(const std::string& text, bool isNull, bool& ok) {
    if (isNull)
        return nullptr;
    LPSTR copy = com::TaskTextCopy(text);
    ok = ok && copy;
    return copy;
}

} // namespace

void FreeFileItemStrings(ZVFILEITEM& item) {
    CoTaskMemFree(item.strName);
    CoTaskMemFree(item.strDesc);
    CoTaskMemFree(item.strIconFile);
    item.strName = item.strDesc = item.strIconFile = nullptr;
}

STDMETHODIMP FileItemEnumerator::Next(unsigned long nElems, ZVFILEITEM* pElems, long* nFetched) {
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
        bool copied = true;
        to.strName = TaskCopyUnlessNull(from.strName, from.nullName, copied);
        to.strDesc = TaskCopyUnlessNull(from.strDesc, from.nullDesc, copied);
        to.strIconFile = TaskCopyUnlessNull(from.strIconFile, from.nullIconFile, copied);
        to.nIconIndex = from.nIconIndex;
        to.nTimeLow = from.nTimeLow;
        to.nTimeHigh = from.nTimeHigh;
        if (!copied) {
            for (size_t j = 0; j <= i; ++j)
                FreeFileItemStrings(pElems[j]);
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

STDMETHODIMP FileItemEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP FileItemEnumerator::Skip(unsigned long nElems) {
    position_ = std::min<size_t>(records_.size(), position_ + nElems);
    return S_OK;
}

STDMETHODIMP FileItemEnumerator::Clone(IZvEnumFileItems** piCloned) {
    if (!piCloned)
        return E_POINTER;
    *piCloned = nullptr;
    return com::CreateComObject<FileItemEnumerator>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(piCloned),
                                                    records_, position_);
}

} // namespace tv
