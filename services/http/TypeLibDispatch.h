// IDispatch of a dual interface served from the type library embedded in the module (resource
// TYPELIB 1): names and calls go through the interface's type information.
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

namespace tv::com {

class TypeLibDispatch {
  public:
    TypeLibDispatch(HMODULE module, REFIID iid) : module_(module), iid_(iid) {}

    HRESULT GetTypeInfoCount(UINT* count) {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        HRESULT hr = Load();
        if (FAILED(hr))
            return hr;
        *info = info_.Get();
        (*info)->AddRef();
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
        HRESULT hr = Load();
        if (FAILED(hr))
            return hr;
        return DispGetIDsOfNames(info_.Get(), names, count, ids);
    }
    // `self` is the object's pointer of the dual interface.
    HRESULT Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) {
        HRESULT hr = Load();
        if (FAILED(hr))
            return hr;
        return info_->Invoke(self, id, flags, params, result, exception, argError);
    }

  private:
    HRESULT Load() {
        if (info_)
            return S_OK;
        wchar_t path[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(module_, path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return E_FAIL;
        ComPtr<ITypeLib> library;
        HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
        if (FAILED(hr))
            return hr;
        return library->GetTypeInfoOfGuid(iid_, &info_);
    }

    HMODULE module_;
    IID iid_;
    ComPtr<ITypeInfo> info_;
};

} // namespace tv::com
