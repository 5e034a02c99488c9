#include "TypeInfoDispatch.h"

namespace tv::com {
namespace {

// The module this function was linked into.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

HRESULT TypeInfoDispatch::Load() {
    if (info_)
        return S_OK;
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(ThisModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    return library->GetTypeInfoOfGuid(iid_, &info_);
}

HRESULT TypeInfoDispatch::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT TypeInfoDispatch::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    HRESULT hr = Load();
    if (FAILED(hr))
        return hr;
    return info_.CopyTo(info);
}

HRESULT TypeInfoDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = Load();
    if (FAILED(hr))
        return hr;
    return info_->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoDispatch::Invoke(void* self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excep, UINT* argError) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = Load();
    if (FAILED(hr))
        return hr;
    return info_->Invoke(self, id, flags, params, result, excep, argError);
}

} // namespace tv::com
