#include "ZelvanItems.h"
#include "AnsiText.h"
#include "ErrorInfo.h"
#include "LangIds.h"

namespace tv::hub {

void* ZelvanItems::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvDispItems*>(this) : nullptr;
}

void ZelvanItems::Append(const ZVFILEITEM& item) {
    FILETIME time = {static_cast<DWORD>(item.nTimeLow), static_cast<DWORD>(item.nTimeHigh)};
    entries_.push_back({item.strName ? item.strName : "", item.nSize, item.type, time});
}

HRESULT ZelvanItems::Report(HRESULT hr) {
    return com::SetComErrorInfo(CLSID_ZelvanMgr, IDS_HUB_LISTING_FAILED, __uuidof(IZvDispItems), hr, language_);
}

ITypeInfo* ZelvanItems::TypeInfo() {
    if (!typeInfo_) {
        com::ComPtr<ITypeLib> library;
        if (SUCCEEDED(LoadRegTypeLib(LIBID_ZelvanMgrLib, 1, 0, LOCALE_NEUTRAL, &library)))
            library->GetTypeInfoOfGuid(__uuidof(IZvDispItems), &typeInfo_);
    }
    return typeInfo_.Get();
}

STDMETHODIMP ZelvanItems::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = TypeInfo() ? 1 : 0;
    return S_OK;
}

STDMETHODIMP ZelvanItems::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = index == 0 ? TypeInfo() : nullptr;
    if (!*info)
        return DISP_E_BADINDEX;
    (*info)->AddRef();
    return S_OK;
}

STDMETHODIMP ZelvanItems::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = TypeInfo();
    return info ? info->GetIDsOfNames(names, count, ids) : E_UNEXPECTED;
}

STDMETHODIMP ZelvanItems::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argError) {
    ITypeInfo* info = TypeInfo();
    if (!info)
        return E_UNEXPECTED;
    return info->Invoke(static_cast<IZvDispItems*>(this), id, flags, params, result, exception, argError);
}

STDMETHODIMP ZelvanItems::get_Count(LONG* pVal) {
    if (!pVal)
        return Report(E_POINTER);
    *pVal = static_cast<LONG>(entries_.size());
    return S_OK;
}

STDMETHODIMP ZelvanItems::get_Item(LONG nIndex, BSTR* strValue) {
    if (!InRange(nIndex))
        return Report(E_INVALIDARG);
    if (!strValue)
        return Report(E_POINTER);
    return com::AnsiToBstr(entries_[nIndex - 1].name, strValue);
}

STDMETHODIMP ZelvanItems::get_ItemSize(LONG nIndex, LONG* pSize) {
    if (!pSize)
        return Report(E_POINTER);
    *pSize = 0;
    if (!InRange(nIndex))
        return Report(E_INVALIDARG);
    *pSize = entries_[nIndex - 1].size;
    return S_OK;
}

STDMETHODIMP ZelvanItems::get_ItemType(LONG nIndex, LONG* pType) {
    if (!pType)
        return Report(E_POINTER);
    *pType = 0;
    if (!InRange(nIndex))
        return Report(E_INVALIDARG);
    *pType = entries_[nIndex - 1].type;
    return S_OK;
}

STDMETHODIMP ZelvanItems::get_ItemTime(LONG nIndex, DATE* pDate) {
    if (!pDate || !InRange(nIndex))
        return Report(E_POINTER);
    SYSTEMTIME system;
    if (!FileTimeToSystemTime(&entries_[nIndex - 1].time, &system) || !SystemTimeToVariantTime(&system, pDate))
        return Report(E_FAIL);
    return S_OK;
}

STDMETHODIMP ZelvanItems::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, __uuidof(IZvDispItems)) ? S_OK : S_FALSE;
}

} // namespace tv::hub
