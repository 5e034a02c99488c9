// IDispatch of a dual interface answered from the type library embedded in the module that holds
// this code (resource TYPELIB 1). The toolkit is a static library, so that module is the DLL or
// program the toolkit is linked into.
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <oaidl.h>

namespace tv::com {

// Loads the type information of one interface on first use and keeps it.
class TypeInfoDispatch {
public:
    explicit TypeInfoDispatch(REFIID iid) : iid_(iid) {}

    HRESULT GetTypeInfoCount(UINT* count);
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
    // `riid` is reserved and must be IID_NULL.
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
    // `self` is the object's pointer of the interface this type information describes.
    HRESULT Invoke(void* self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argError);

private:
    HRESULT Load();

    IID iid_;
    ComPtr<ITypeInfo> info_;
};

} // namespace tv::com

// Defines the four IDispatch methods of a class with one dual interface `Iface`, answered by the
// TypeInfoDispatch member `member`.
#define TV_DUAL_DISPATCH(Iface, member)                                                                      \
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return member.GetTypeInfoCount(count); }          \
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {                            \
        return member.GetTypeInfo(index, lcid, info);                                                        \
    }                                                                                                        \
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {      \
        return member.GetIDsOfNames(riid, names, count, ids);                                                \
    }                                                                                                        \
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,     \
                        EXCEPINFO* excep, UINT* argError) override {                                         \
        return member.Invoke(static_cast<Iface*>(this), id, riid, flags, params, result, excep, argError);   \
    }
