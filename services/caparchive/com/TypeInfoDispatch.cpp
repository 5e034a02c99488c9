#include "TypeInfoDispatch.h"

namespace tv::com {
namespace {

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

HRESULT TypeInfoDispatch::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
    HRESULT hr = Load();
    if (FAILED(hr))
        return hr;
    return info_->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoDispatch::Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* argError) {
    HRESULT hr = Load();
    if (FAILED(hr))
        return hr;
    return info_->Invoke(self, id, flags, params, result, excep, argError);
}

std::string ToAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0)
        return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring FromAnsi(std::string_view text) {
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

HRESULT AnsiToBstr(std::string_view text, BSTR* out) {
    if (!out)
        return E_POINTER;
    std::wstring wide = FromAnsi(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

} // namespace tv::com
