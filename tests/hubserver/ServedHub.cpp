#include "ServedHub.h"
#include <cstring>
#include <utility>
#include "TestDeviceRegistration.h"
#include "AnsiText.h"
#include <oleauto.h>
#include <shellapi.h>
#include <commctrl.h>
#include "UiHarness.h"

namespace tv::test {

void ScriptedHub::AnswerBrowse(std::optional<std::string> folder) {
    std::lock_guard<std::mutex> guard(lock_);
    browseAnswer_ = std::move(folder);
}

std::vector<std::string> ScriptedHub::Commands() const {
    std::lock_guard<std::mutex> guard(lock_);
    return commands_;
}

int ScriptedHub::RefreshCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return refreshes_;
}

std::wstring ScriptedHub::BrowseTitle() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browseTitle_;
}

std::wstring ScriptedHub::BrowseText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browseText_;
}

STDMETHODIMP ScriptedHub::put_BusyUI(LONG nVal) {
    std::function<void()> action;
    if (nVal == 0) {
        std::lock_guard<std::mutex> guard(lock_);
        action = std::exchange(beforeBusyClears_, nullptr);
    }
    if (action)
        action();
    return Hub::put_BusyUI(nVal);
}

STDMETHODIMP ScriptedHub::BrowseForFolder2(BSTR bsTitle, BSTR bsText, BSTR bsStatus, BSTR* bsPath) {
    if (!bsPath)
        return E_POINTER;
    *bsPath = nullptr;
    bool real = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        browseTitle_ = bsTitle ? bsTitle : L"";
        browseText_ = bsText ? bsText : L"";
        real = realBrowser_;
    }
    if (real)
        return Hub::BrowseForFolder2(bsTitle, bsText, bsStatus, bsPath);
    std::lock_guard<std::mutex> guard(lock_);
    if (!browseAnswer_)
        return S_FALSE;
    return com::AnsiToBstr(*browseAnswer_, bsPath);
}

STDMETHODIMP ScriptedHub::BrowseForFolder(LPSTR strTitle, LPSTR strText, LONG nMaxLen, unsigned char* strPath) {
    if (!strTitle || !strText || !strPath)
        return E_POINTER;
    if (nMaxLen > 0)
        strPath[0] = 0;
    bool real = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        browseTitle_ = com::FromAnsi(strTitle);
        browseText_ = com::FromAnsi(strText);
        real = realBrowser_;
    }
    if (real)
        return Hub::BrowseForFolder(strTitle, strText, nMaxLen, strPath);
    std::lock_guard<std::mutex> guard(lock_);
    if (!browseAnswer_)
        return S_FALSE;
    if (nMaxLen <= 0 || browseAnswer_->size() >= static_cast<size_t>(nMaxLen))
        return E_FAIL;
    std::memcpy(strPath, browseAnswer_->c_str(), browseAnswer_->size() + 1);
    return S_OK;
}

void ScriptedHub::AnswerVersion(std::string version) {
    std::lock_guard<std::mutex> guard(lock_);
    version_ = std::move(version);
}

STDMETHODIMP ScriptedHub::Command(LPSTR strNameOrID, LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) {
    LONG busy = 0;
    get_BusyUI(&busy);
    std::optional<std::string> version;
    {
        std::lock_guard<std::mutex> guard(lock_);
        commands_.push_back(std::string(strCommand ? strCommand : "") + (busy ? " busy" : ""));
        version = version_;
    }
    if (version && strCommand && std::string(strCommand) == "ver " && nMaxLen && strResponse) {
        const std::string reply = "Zelvan OS v. " + *version + " built 01.01.2003\n";
        *strResponse = com::TaskTextCopy(reply);
        *nMaxLen = static_cast<LONG>(reply.size());
        return *strResponse ? S_OK : E_OUTOFMEMORY;
    }
    return Hub::Command(strNameOrID, strCommand, nMaxLen, strResponse);
}

STDMETHODIMP ScriptedHub::CopyFileItems(LONG nStringCount, LONG nMaxLen, LPSTR* aStrSrc, LPSTR* aStrDest,
                                        IZvFileOperationCallback* callback) {
    // What the progress window shows is read now: it may be gone once the copy has ended.
    LONG busy = 0;
    GetBusyUI(&busy);
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(busy));
    std::vector<std::pair<int, HBITMAP>> pictures;
    if (window && IsWindow(window)) {
        // The window's thread may be one that does not answer messages while it waits.
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            DWORD_PTR picture = 0;
            if (SendMessageTimeoutW(child, STM_GETIMAGE, IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, 2000, &picture))
                pictures.emplace_back(GetDlgCtrlID(child), reinterpret_cast<HBITMAP>(picture));
        }
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        picturesAtCopy_ = std::move(pictures);
    }
    return Hub::CopyFileItems(nStringCount, nMaxLen, aStrSrc, aStrDest, callback);
}

HBITMAP ScriptedHub::PictureAtLastCopy(int controlId) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [id, picture] : picturesAtCopy_)
        if (id == controlId)
            return picture;
    return nullptr;
}

std::vector<std::string> ScriptedHub::CreatedFolders() const {
    std::lock_guard<std::mutex> guard(lock_);
    return createdFolders_;
}

STDMETHODIMP ScriptedHub::CreateFolder(LPSTR strFolderPathName) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        createdFolders_.push_back(strFolderPathName ? strFolderPathName : "");
    }
    return Hub::CreateFolder(strFolderPathName);
}

STDMETHODIMP ScriptedHub::Items(BSTR strPath, IUnknown** ppItems) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (itemsWithNothing_ && ppItems) {
            *ppItems = nullptr;
            return S_OK;
        }
    }
    return Hub::Items(strPath, ppItems);
}

STDMETHODIMP ScriptedHub::Refresh() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++refreshes_;
    }
    return Hub::Refresh();
}

namespace {

// The hub's type library carries its dual faces across apartments.
HRESULT RegisterHubTypeLibrary() {
    std::wstring path = com::FromAnsi(TV_GENERATED_DIR "/ZelvanMgr.tlb");
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    com::ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library);
    if (FAILED(hr))
        hr = LoadTypeLibEx((L"\\\\?\\unix" + path).c_str(), REGKIND_REGISTER, &library);
    return hr;
}

} // namespace

HRESULT ServedHub::Start(const std::string& deviceRoot) {
    HRESULT hr = RegisterHubTypeLibrary();
    if (FAILED(hr) || FAILED(hr = tests::EnsureTestDeviceFactoryRegistered()))
        return hr;
    SetEnvironmentVariableA(tests::kTestDeviceRootVariable, deviceRoot.c_str());
    if (FAILED(hr = com::MakeComObject(factory_)))
        return hr;
    if (FAILED(hr = factory_->CreateInstance(nullptr, __uuidof(IZelvanMgr), reinterpret_cast<void**>(&hub_))))
        return hr;
    if (FAILED(hr = hub_->InitDeviceFactories()))
        return hr;
    return CoRegisterClassObject(CLSID_ZelvanMgr, factory_->AsUnknown(), CLSCTX_LOCAL_SERVER,
                                 REGCLS_MULTIPLEUSE, &cookie_);
}

void ServedHub::WithdrawClass() {
    if (cookie_)
        CoRevokeClassObject(cookie_);
    cookie_ = 0;
}

void ServedHub::Stop() {
    WithdrawClass();
    if (hub_)
        hub_->Close();
    hub_.Reset();
    if (factory_)
        factory_->ReleaseInstance();
    factory_.Reset();
}

LONG ServedHub::BusyUI() const {
    LONG busy = -1;
    if (hub_)
        hub_->get_BusyUI(&busy);
    return busy;
}

void DeleteTree(const std::wstring& folder) {
    const std::wstring from = folder + L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

bool PumpUntilThreadEnds(HANDLE thread, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace tv::test
