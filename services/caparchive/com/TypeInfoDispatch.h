// IDispatch of a dual interface answered from the type library embedded in the module that holds
// this code (resource TYPELIB 1), and the conversions between BSTRs and 8-bit ANSI texts that
// the automation faces need.
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <string_view>

namespace tv::com {

// Loads the type information of one interface on first use and keeps it.
class TypeInfoDispatch {
public:
    explicit TypeInfoDispatch(REFIID iid) : iid_(iid) {}

    HRESULT GetTypeInfoCount(UINT* count);
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
    // `self` is the object's pointer of the interface this type information describes.
    HRESULT Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argError);

private:
    HRESULT Load();

    IID iid_;
    ComPtr<ITypeInfo> info_;
};

// Texts in the ANSI code page; characters it cannot hold become its default character.
std::string ToAnsi(const wchar_t* text, size_t length);
inline std::string ToAnsi(BSTR text) { return ToAnsi(text, text ? SysStringLen(text) : 0); }
std::wstring FromAnsi(std::string_view text);
// A new BSTR of an ANSI text; E_OUTOFMEMORY when it cannot be had.
HRESULT AnsiToBstr(std::string_view text, BSTR* out);

} // namespace tv::com

// Defines the four IDispatch methods of a class with one dual interface `Iface`, answered by the
// TypeInfoDispatch member `member`.
#define TV_DUAL_DISPATCH(Iface, member)                                                                      \
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return member.GetTypeInfoCount(count); }          \
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {                            \
        return member.GetTypeInfo(index, lcid, info);                                                        \
    }                                                                                                        \
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {           \
        return member.GetIDsOfNames(names, count, ids);                                                      \
    }                                                                                                        \
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,          \
                        EXCEPINFO* excep, UINT* argError) override {                                         \
        return member.Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argError);         \
    }
