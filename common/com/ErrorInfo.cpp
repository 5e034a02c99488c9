#include "ErrorInfo.h"
#include "AnsiText.h"
#include "ComPtr.h"
#include "Handles.h"
#include <oleauto.h>
#include <string>

namespace tv::com {

namespace {

constexpr int kMaxErrorText = 1024;

} // namespace

HRESULT SetComErrorInfo(REFCLSID clsid, LPCWSTR description, DWORD helpContext, LPCWSTR helpFile, REFIID iid,
                        HRESULT hr, HMODULE module) {
    std::wstring text;
    if (IS_INTRESOURCE(description)) {
        UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(description));
        wchar_t buffer[kMaxErrorText] = {};
        if (module && LoadStringW(module, id, buffer, kMaxErrorText) > 0)
            text = buffer;
        else
            text = L"Unknown Error";
        if (hr == 0)
            hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, id);
    } else {
        text = description ? description : L"";
    }

    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(iid);
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId) {
            create->SetSource(progId);
            CoTaskMemFree(progId);
        }
        if (helpFile && helpContext) {
            create->SetHelpFile(const_cast<LPOLESTR>(helpFile));
            create->SetHelpContext(helpContext);
        }
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info)))
            SetErrorInfo(0, info.Get());
    }
    return hr == 0 ? DISP_E_EXCEPTION : hr;
}

HRESULT SetComErrorInfo(REFCLSID clsid, UINT stringId, REFIID iid, HRESULT hr, HMODULE module) {
    return SetComErrorInfo(clsid, MAKEINTRESOURCEW(stringId), 0, nullptr, iid, hr, module);
}

HRESULT SetComErrorInfo(REFCLSID clsid, const char* text, REFIID iid, HRESULT hr) {
    const std::wstring wide = FromAnsi(text ? text : "");
    return SetComErrorInfo(clsid, wide.c_str(), 0, nullptr, iid, hr, nullptr);
}

} // namespace tv::com
