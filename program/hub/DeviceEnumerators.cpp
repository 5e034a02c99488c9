#include "DeviceEnumerators.h"
#include "AnsiText.h"
#include <cstring>
#include <objbase.h>

namespace tv::hub {
namespace {

constexpr LONG kTextBuffer = 260;

HRESULT CheckNextArguments(ULONG nElems, ZVFILEITEM* pElems, LONG* nFetched) {
    if (!pElems || (!nFetched && nElems != 1))
        return E_POINTER;
    if (nFetched)
        *nFetched = 0;
    std::memset(pElems, 0, sizeof(ZVFILEITEM) * nElems);
    return S_OK;
}

} // namespace

RecordPtr ZvEnumDevices::NextShown() {
    while (position_ < hub_->SlotCount()) {
        RecordPtr record = hub_->Slot(position_++);
        if (record && !record->Hidden())
            return record;
    }
    return nullptr;
}

STDMETHODIMP ZvEnumDevices::Next(ULONG nElems, ZVFILEITEM* pElems, LONG* nFetched) {
    HRESULT hr = CheckNextArguments(nElems, pElems, nFetched);
    if (FAILED(hr))
        return hr;
    ULONG filled = 0;
    while (filled < nElems) {
        RecordPtr record = NextShown();
        if (!record)
            break;
        unsigned char name[kTextBuffer] = {};
        if (SUCCEEDED(record->device->GetName(kTextBuffer, name)))
            record->name = reinterpret_cast<char*>(name);
        unsigned char description[kTextBuffer] = {};
        record->device->GetDescription(kTextBuffer, description);
        ZVFILEITEM& item = pElems[filled++];
        item.type = 1;
        item.attr = record->attributes;
        item.hint = 1;
        item.strName = tv::com::TaskTextCopy(record->name);
        item.strDesc = tv::com::TaskTextCopy(reinterpret_cast<char*>(description));
        item.strIconFile = tv::com::TaskTextCopy(hub_->LanguageLibraryPath());
        item.nIconIndex = record->modelVersion == 16 ? -11902 : -11912;
    }
    if (nFetched)
        *nFetched = static_cast<LONG>(filled);
    return filled < nElems ? S_FALSE : S_OK;
}

STDMETHODIMP ZvEnumDevices::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ZvEnumDevices::Skip(ULONG nElems) {
    for (ULONG i = 0; i < nElems; ++i)
        if (!NextShown())
            return S_FALSE;
    return S_OK;
}

STDMETHODIMP ZvEnumDevices::Clone(IZvEnumFileItems** piCloned) {
    if (piCloned)
        *piCloned = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ZvEnumDumb::Next(ULONG nElems, ZVFILEITEM* pElems, LONG* nFetched) {
    HRESULT hr = CheckNextArguments(nElems, pElems, nFetched);
    return FAILED(hr) ? hr : S_FALSE;
}

STDMETHODIMP ZvEnumDumb::Clone(IZvEnumFileItems** piCloned) {
    if (piCloned)
        *piCloned = nullptr;
    return E_NOTIMPL;
}

} // namespace tv::hub
