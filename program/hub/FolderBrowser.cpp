// The hub's own windows: the folder browser over "My Zelvan" with its busy flag, the question
// for a device when none is connected, the message about a refused device, and the registry
// of open property sheets.
#include "DevicePath.h"
#include "AnsiText.h"
#include "Hub.h"
#include "LangIds.h"
#include "HubIds.h"
#include "NamespaceLink.h"
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <shlobj.h>

namespace tv::hub {
namespace {

constexpr DWORD kDeviceQuestionPauseMs = 5000;
constexpr LONG kDispatchPathBuffer = 512;
constexpr int kRefusalCloseRounds = 50;
constexpr DWORD kRefusalCloseRoundMs = 100;

std::string FormatText(const std::string& pattern, const std::string& argument) {
    std::vector<char> buffer(pattern.size() + argument.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), argument.c_str());
    return buffer.data();
}

// Dispatches messages for `ms`; false when a quit message arrived (it is posted again).
bool DispatchFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return true;
        if (MsgWaitForMultipleObjectsEx(0, nullptr, ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT)
            return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

HWND FindDescendant(HWND parent, const char* className) {
    struct Search {
        const char* className;
        HWND found;
    } search{className, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            char name[64] = {};
            GetClassNameA(child, name, sizeof(name));
            if (std::strcmp(name, s->className) == 0) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Skips `count` items of an item-identifier list; null when the list is shorter.
PCUIDLIST_RELATIVE SkipItems(PCIDLIST_ABSOLUTE list, int count) {
    const BYTE* at = reinterpret_cast<const BYTE*>(list);
    for (int i = 0; i < count; ++i) {
        USHORT size = reinterpret_cast<const SHITEMID*>(at)->cb;
        if (size == 0)
            return nullptr;
        at += size;
    }
    return reinterpret_cast<PCUIDLIST_RELATIVE>(at);
}

struct BrowseContext {
    Hub* hub;
    std::string title;
    std::string status;
};

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
    auto* context = reinterpret_cast<BrowseContext*>(data);
    if (message == BFFM_INITIALIZED) {
        SetWindowTextA(dialog, context->title.c_str());
        // The devices are shown opened, the first folder of the first device selected.
        if (HWND tree = FindDescendant(dialog, "SysTreeView32")) {
            HTREEITEM root = TreeView_GetRoot(tree);
            HTREEITEM first = root ? TreeView_GetChild(tree, root) : nullptr;
            if (first) {
                TreeView_Expand(tree, first, TVE_EXPAND);
                if (HTREEITEM below = TreeView_GetChild(tree, first))
                    TreeView_SelectItem(tree, below);
                for (HTREEITEM next = TreeView_GetNextSibling(tree, first); next;
                     next = TreeView_GetNextSibling(tree, next))
                    TreeView_Expand(tree, next, TVE_EXPAND);
            }
        }
        SetForegroundWindow(dialog);
        context->hub->PutBusyUI(static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)), VARIANT_TRUE);
        if (!context->status.empty())
            SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(context->status.c_str()));
    } else if (message == BFFM_SELCHANGED) {
        // Only a folder on a device can be chosen, not a device itself.
        std::string path = PidlToPathSkipping(reinterpret_cast<PCUIDLIST_RELATIVE>(lParam));
        DevicePath parts = SplitDevicePath(path.c_str());
        const LPARAM choosable = !parts.device.empty() && !parts.rest.empty();
        SendMessageA(dialog, BFFM_ENABLEOK, 0, choosable);
        // Some shells settle OK themselves after this notification: the posted decision is the last.
        PostMessageA(dialog, BFFM_ENABLEOK, 0, choosable);
    }
    return 0;
}

struct RefusalMessage {
    std::string text;
    std::string caption;
};

DWORD WINAPI RefusalThreadProc(void* parameter) {
    std::unique_ptr<RefusalMessage> message(static_cast<RefusalMessage*>(parameter));
    MessageBoxA(GetDesktopWindow(), message->text.c_str(), message->caption.c_str(), MB_OK | MB_TOPMOST);
    return 0;
}

} // namespace

// ---- the busy flag around the browser ----

HRESULT Hub::BeginBrowse() {
    LONG busy = 0;
    get_BusyUI(&busy);
    if (busy)
        return E_FAIL;
    busyUI_ = 1;
    busyWindow_ = nullptr;
    return S_OK;
}

HRESULT Hub::RunFolderBrowser(const std::string& title, const std::string& text, const std::string& status,
                              std::string* path) {
    PIDLIST_ABSOLUTE root = FindMyZelvanPidl();
    if (!root)
        return E_FAIL;
    BrowseContext context{this, title, status};
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = text.c_str();
    info.ulFlags = status.empty() ? 0 : BIF_STATUSTEXT;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&context);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    CoTaskMemFree(root);
    if (!chosen)
        return S_FALSE;
    // The chosen list starts with My Computer and "My Zelvan".
    PCUIDLIST_RELATIVE below = SkipItems(chosen, 2);
    *path = below ? PidlToPath(below) : std::string();
    CoTaskMemFree(chosen);
    return S_OK;
}

STDMETHODIMP Hub::BrowseForFolder(LPSTR strTitle, LPSTR strText, LONG nMaxLen, unsigned char* strPath) {
    if (!strTitle || !strText || !strPath)
        return E_POINTER;
    if (nMaxLen > 0)
        strPath[0] = 0;
    if (!WaitForConnectedDevice())
        return S_FALSE;
    HRESULT hr = BeginBrowse();
    if (FAILED(hr))
        return hr;
    std::string path;
    hr = RunFolderBrowser(strTitle, strText, {}, &path);
    put_BusyUI(0L);
    if (hr != S_OK)
        return hr;
    if (nMaxLen <= 0 || path.size() >= static_cast<size_t>(nMaxLen))
        return E_FAIL;
    std::memcpy(strPath, path.c_str(), path.size() + 1);
    return S_OK;
}

STDMETHODIMP Hub::BrowseForFolder(BSTR bsTitle, BSTR bsText, BSTR* bsPath) {
    if (!bsPath)
        return E_POINTER;
    *bsPath = nullptr;
    std::string title = com::TerminatedToAnsi(bsTitle), text = com::TerminatedToAnsi(bsText);
    unsigned char buffer[kDispatchPathBuffer] = {};
    HRESULT hr = BrowseForFolder(title.data(), text.data(), sizeof(buffer), buffer);
    if (FAILED(hr))
        return hr;
    HRESULT converted = com::AnsiToBstr(reinterpret_cast<char*>(buffer), bsPath);
    return FAILED(converted) ? converted : hr;
}

STDMETHODIMP Hub::BrowseForFolder2(BSTR bsTitle, BSTR bsText, BSTR bsStatus, BSTR* bsPath) {
    if (!bsPath)
        return E_POINTER;
    *bsPath = nullptr;
    if (!WaitForConnectedDevice())
        return S_FALSE;
    HRESULT hr = BeginBrowse();
    if (FAILED(hr))
        return hr;
    std::string path;
    hr = RunFolderBrowser(com::TerminatedToAnsi(bsTitle), com::TerminatedToAnsi(bsText), com::TerminatedToAnsi(bsStatus), &path);
    put_BusyUI(0L);
    if (hr != S_OK)
        return hr;
    return com::AnsiToBstr(path, bsPath);
}

// ---- asking for a device ----

bool Hub::WaitForConnectedDevice() {
    while (!HasVisibleDevice()) {
        std::string caption = LoadLanguageText(language_.Get(), IDS_HUB_NO_DEVICE_CAPTION);
        std::string text = LoadLanguageText(language_.Get(), IDS_HUB_NO_DEVICE_PROMPT);
        if (MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                        MB_YESNO | MB_TOPMOST | MB_SETFOREGROUND | MB_ICONINFORMATION) != IDYES)
            return false;
        if (!DispatchFor(kDeviceQuestionPauseMs))
            return false;
    }
    return true;
}

// ---- a device that did not identify itself ----

void Hub::ShowRefusal(const std::string& strId) {
    std::erase_if(refusalThreads_,
                  [](const com::UniqueHandle& thread) { return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; });
    auto message = std::make_unique<RefusalMessage>();
    message->text = FormatText(LoadLanguageText(language_.Get(), IDS_HUB_DEVICE_REFUSED), strId);
    message->caption = LoadLanguageText(language_.Get(), IDS_HUB_MESSAGE_CAPTION);
    HANDLE thread = CreateThread(nullptr, 0, RefusalThreadProc, message.get(), 0, nullptr);
    if (!thread)
        return;
    message.release();
    refusalThreads_.emplace_back(thread);
}

// Closes the refusal messages still shown and waits, bounded, for their threads.
void Hub::CloseRefusals() {
    for (const com::UniqueHandle& thread : refusalThreads_) {
        DWORD id = GetThreadId(thread.Get());
        for (int round = 0; round < kRefusalCloseRounds; ++round) {
            EnumThreadWindows(
                id,
                [](HWND window, LPARAM) -> BOOL {
                    PostMessageA(window, WM_CLOSE, 0, 0);
                    return TRUE;
                },
                0);
            if (WaitForSingleObject(thread.Get(), kRefusalCloseRoundMs) == WAIT_OBJECT_0)
                break;
        }
    }
    refusalThreads_.clear();
}

// ---- the open property sheets ----

namespace {

void ShowInFront(HWND window) {
    if (window) {
        SetForegroundWindow(window);
        BringWindowToTop(window);
    }
}

} // namespace

bool SheetRegistry::Reserve(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const OpenSheet& sheet : sheets_)
        if (sheet.key == key) {
            ShowInFront(sheet.window);
            return false;
        }
    sheets_.push_back({nullptr, key});
    return true;
}

void SheetRegistry::SetWindow(const std::string& key, HWND window) {
    std::lock_guard<std::mutex> guard(lock_);
    for (OpenSheet& sheet : sheets_)
        if (sheet.key == key)
            sheet.window = window;
}

void SheetRegistry::Forget(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(sheets_, [&](const OpenSheet& sheet) { return sheet.key == key; });
}

bool SheetRegistry::BringForward(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const OpenSheet& sheet : sheets_)
        if (sheet.key == key) {
            ShowInFront(sheet.window);
            return true;
        }
    return false;
}

void SheetRegistry::CloseAll() {
    std::lock_guard<std::mutex> guard(lock_);
    for (const OpenSheet& sheet : sheets_)
        if (sheet.window)
            PostMessageA(sheet.window, WM_CLOSE, 0, 0);
}

} // namespace tv::hub
