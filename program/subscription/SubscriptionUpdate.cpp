#include "SubscriptionUpdate.h"
#include "CapArchive.h"
#include "ComPtr.h"
#include "DeviceGuards.h"
#include "DialogLink.h"
#include "Handles.h"
#include "LangIds.h"
#include "RunScript.h"
#include "ScriptHost.h"
#include "ZelvanMgr.h"
#include <commdlg.h>
#include <shellapi.h>
#include <memory>
#include <vector>

namespace tv::subscription {
namespace {

constexpr DWORD kOpenFileBufferChars = 4096;
constexpr long kScriptItemKind = 3;
constexpr wchar_t kUpdateScriptName[] = L"update.js";
constexpr wchar_t kUpdateFunction[] = L"main";
constexpr wchar_t kScriptErrorCaption[] = L"ZvCSUAssoc";

std::wstring LoadText(HMODULE language, UINT id) {
    wchar_t buffer[1024] = {};
    if (!language || LoadStringW(language, id, buffer, ARRAYSIZE(buffer)) <= 0)
        return {};
    return buffer;
}

// What the first dialog needs: the hub to tell about its window, and where the link points.
struct UpdateDialogContext {
    IZelvanMgr* hub;
    std::wstring address;
};

void CentreOnParent(HWND dialog) {
    HWND parent = GetParent(dialog);
    RECT outer, own;
    if (!parent)
        parent = GetDesktopWindow();
    GetWindowRect(parent, &outer);
    GetWindowRect(dialog, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    SetWindowPos(dialog, nullptr, outer.left + (outer.right - outer.left - width) / 2,
                 outer.top + (outer.bottom - outer.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto* context = reinterpret_cast<const UpdateDialogContext*>(lParam);
        com::ComPtr<IZelvanMgrDisp2> face;
        if (context->hub && SUCCEEDED(context->hub->QueryInterface(__uuidof(IZelvanMgrDisp2),
                                                                   reinterpret_cast<void**>(&face))))
            face->PutBusyUI(static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)), VARIANT_TRUE);
        ReplaceLabelWithLink(dialog, IDC_SUBSCRIPTION_LINK, context->address);
        CentreOnParent(dialog);
        return TRUE;
    }
    case WM_NOTIFY:
        return OpenClickedLink(dialog, IDC_SUBSCRIPTION_LINK, lParam) ? TRUE : FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam) == IDOK ? kUpdateRan : kUserCancelled);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// Asks for the package file; empty when the user cancelled.
std::wstring AskForPackage(HMODULE language) {
    // Filter entries: description, pattern, ..., ended by an empty pair.
    std::wstring filter = LoadText(language, IDS_SUBSCRIPTION_FILTER);
    filter.push_back(L'\0');
    filter += L"*.csu";
    filter.push_back(L'\0');
    filter += LoadText(language, IDS_SUBSCRIPTION_ALL_FILES);
    filter.push_back(L'\0');
    filter += L"*.*";
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    const std::wstring title = LoadText(language, IDS_SUBSCRIPTION_OPEN_TITLE);
    std::vector<wchar_t> file(kOpenFileBufferChars, L'\0');
    OPENFILENAMEW question{};
    question.lStructSize = sizeof(question);
    question.hwndOwner = GetDesktopWindow();
    question.lpstrFilter = filter.c_str();
    question.nFilterIndex = 1;
    question.lpstrFile = file.data();
    question.nMaxFile = kOpenFileBufferChars;
    question.lpstrTitle = title.c_str();
    question.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER;
    if (!GetOpenFileNameW(&question))
        return {};
    return file.data();
}

// The text of the package's script item "update.js". Every call must answer S_OK exactly: a
// package without the item counts as E_FAIL.
HRESULT ReadUpdateScript(const std::wstring& path, com::UniqueBstr& text) {
    com::ComPtr<ICapArchive> archive;
    HRESULT hr = CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, IID_ICapArchive,
                                  reinterpret_cast<void**>(&archive));
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    com::UniqueBstr file(SysAllocString(path.c_str()));
    com::UniqueBstr name(SysAllocString(kUpdateScriptName));
    if (!file || !name)
        return E_OUTOFMEMORY;
    com::ComPtr<ICapPackage> package;
    if ((hr = archive->Load(file.Get(), &package)) != S_OK || !package)
        return FAILED(hr) ? hr : E_FAIL;
    com::ComPtr<ICapItem> item;
    if ((hr = package->Find(name.Get(), kScriptItemKind, &item)) != S_OK || !item)
        return FAILED(hr) ? hr : E_FAIL;
    com::ComPtr<ICapScriptItem> script;
    if ((hr = item.As(&script)) != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    BSTR read = nullptr;
    hr = script->get_Text(&read);
    text.Reset(read);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    return S_OK;
}

HRESULT LoadScript(ScriptHost& host, BSTR text) {
    com::UniqueBstr language(SysAllocString(L"JScript"));
    HRESULT hr = host.SetLanguage(language.Get());
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = host.Create()))
        return hr;
    hr = host.AddCode(text);
    return FAILED(hr) ? hr : S_OK;
}

// Holds the two script arguments: the package's path and the device's string ID.
struct MainArguments {
    VARIANT values[2];
    MainArguments(const std::wstring& path, const std::wstring& deviceId) {
        for (VARIANT& value : values) {
            VariantInit(&value);
            value.vt = VT_BSTR;
        }
        values[0].bstrVal = SysAllocString(path.c_str());
        values[1].bstrVal = SysAllocString(deviceId.c_str());
    }
    MainArguments(const MainArguments&) = delete;
    MainArguments& operator=(const MainArguments&) = delete;
    ~MainArguments() {
        for (VARIANT& value : values)
            VariantClear(&value);
    }
};

} // namespace

std::wstring PackageFileName(const std::wstring& path) {
    size_t cut = path.find_last_of(L'/');
    if (cut == std::wstring::npos)
        cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring FormatWithText(const std::wstring& pattern, const std::wstring& text) {
    std::wstring out;
    bool placed = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == L'%') {
                out.push_back(L'%');
                ++i;
                continue;
            }
            if (pattern[i + 1] == L's' && !placed) {
                out += text;
                placed = true;
                ++i;
                continue;
            }
        }
        out.push_back(pattern[i]);
    }
    return out;
}

UpdateResult RunSubscriptionUpdate(const std::wstring& deviceId, HMODULE language) {
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                                reinterpret_cast<void**>(&hub))))
        return kHubUnavailable;
    // The hub stays busy while the user chooses, so that the tray offers no other device command
    // and refuses to exit.
    BusyGuard busy(hub.Get());
    if (FAILED(busy.Result()))
        return kHubUnavailable;

    UpdateDialogContext context{hub.Get(), LoadText(language, IDS_SUBSCRIPTION_ADDRESS)};
    const INT_PTR answer =
        DialogBoxParamW(language, MAKEINTRESOURCEW(IDD_SUBSCRIPTION_UPDATE), GetDesktopWindow(),
                        UpdateDialogProc, reinterpret_cast<LPARAM>(&context));
    if (answer != kUpdateRan)
        return kUserCancelled;

    const std::wstring path = AskForPackage(language);
    if (path.empty())
        return kUpdateRan;

    com::UniqueBstr script;
    ScriptHost host;
    HRESULT hr = ReadUpdateScript(path, script);
    if (hr == S_OK)
        hr = LoadScript(host, script.Get());
    // The update's own script may use the hub: it is no longer marked busy while that runs.
    busy.End();
    if (hr == S_OK) {
        com::UniqueBstr function(SysAllocString(kUpdateFunction));
        MainArguments arguments(path, deviceId);
        VARIANT result;
        VariantInit(&result);
        hr = host.CallFunction(function.Get(), 2, arguments.values, &result);
        VariantClear(&result);
        if (FAILED(hr)) {
            com::UniqueBstr error(host.GetErrorText());
            MessageBoxW(GetDesktopWindow(), error ? error.Get() : L"", kScriptErrorCaption,
                        MB_OK | MB_ICONERROR);
        }
    }
    if (FAILED(hr))
        MessageBoxW(
            GetDesktopWindow(),
            FormatWithText(LoadText(language, IDS_SUBSCRIPTION_FAILED), PackageFileName(path)).c_str(),
            LoadText(language, IDS_SUBSCRIPTION_FAILED_CAPTION).c_str(), MB_OK | MB_ICONERROR);
    return kUpdateRan;
}

DWORD WINAPI SubscriptionUpdateThread(void* parameter) {
    std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(parameter));
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return kHubUnavailable;
    return RunSubscriptionUpdate(request->deviceId, request->language);
}

void CustomizeSubscription(const std::wstring& deviceId) {
    VARIANT argument, result;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(deviceId.c_str());
    RunEventScript(L"CustomizeSubscription", L"GetCustSubsRequest", &argument, &result);
    if (result.vt == VT_BSTR && result.bstrVal)
        ShellExecuteW(nullptr, L"open", result.bstrVal, nullptr, nullptr, SW_SHOWDEFAULT);
    VariantClear(&result);
    VariantClear(&argument);
}

} // namespace tv::subscription
