#include "AppUploader.h"
#include "AnsiText.h"
#include "DeviceGuards.h"
#include "Handles.h"
#include "LangIds.h"
#include "MessagePump.h"
#include "UploadDestination.h"
#include <commctrl.h>
#include <algorithm>
#include <memory>
#include <optional>

namespace tv::uploader {
namespace {

std::string LoadAnsiText(HMODULE language, UINT id) {
    char buffer[1024] = {};
    if (!language || LoadStringA(language, id, buffer, sizeof(buffer)) <= 0)
        return {};
    return buffer;
}

} // namespace

// ---- ZvAppUploader ----

ZvAppUploader::ZvAppUploader(IZelvanMgr* hub, std::string deviceName, std::string pcPath, UINT captionId,
                             HMODULE language)
    : pcPath_(std::move(pcPath)), captionId_(captionId), language_(language) {
    SetCopy(hub, std::move(deviceName));
}

HWND ZvAppUploader::CreateProgressWindow() { return CreateCopyWindow(language_, IDD_UPLOADER); }

void ZvAppUploader::DestroyProgressWindow() {
    DestroyCopyWindow();
    progress_ = nullptr;
}

void ZvAppUploader::OnCopyWindowMade(HWND dialog) {
    progress_ = GetDlgItem(dialog, IDC_UPLOADER_PROGRESS);
    SetWindowTextA(dialog, LoadAnsiText(language_, captionId_).c_str());
    SetDlgItemTextA(dialog, IDC_UPLOADER_TEXT, pcPath_.c_str());
}

STDMETHODIMP ZvAppUploader::OnOperationComplete() {
    if (!Window())
        return E_FAIL;
    MarkCopyDone();
    return S_OK;
}

STDMETHODIMP ZvAppUploader::OnItemComplete(LPSTR, LPSTR strErrorDescription, LONG) {
    if (!Window())
        return E_FAIL;
    if (strErrorDescription && *strErrorDescription) {
        SetDlgItemTextA(Window(), IDC_UPLOADER_TEXT, strErrorDescription);
        MarkErrorShown();
    }
    return S_OK;
}

STDMETHODIMP ZvAppUploader::OnItemInit(LPSTR, LONG nSize) {
    if (!Window())
        return E_FAIL;
    SendMessageW(progress_, PBM_SETRANGE32, 0, nSize);
    SendMessageW(progress_, PBM_SETPOS, 0, 0);
    return S_OK;
}

STDMETHODIMP ZvAppUploader::OnItemProgress(LPSTR, LONG nProgress) {
    if (!Window())
        return E_FAIL;
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(nProgress), 0);
    return S_OK;
}

STDMETHODIMP ZvAppUploader::OnItemInfo(LPSTR) {
    return Window() ? S_OK : E_FAIL;
}

// ---- the thread ----

DWORD WINAPI UploaderThreadProc(void* parameter) {
    std::unique_ptr<UploadRequest> request(static_cast<UploadRequest*>(parameter));
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return 0;
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&classes);

    com::ComPtr<IZelvanMgrDisp2> face;
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgrDisp2),
                                reinterpret_cast<void**>(&face))) ||
        FAILED(face.As(&hub)))
        return 0;

    const UINT titleId = request->browseTitleId ? request->browseTitleId : IDS_UPLOADER_BROWSE_TITLE;
    const UINT textId = request->browseTextId ? request->browseTextId : IDS_UPLOADER_BROWSE_TEXT;
    com::UniqueBstr title = com::AnsiToUniqueBstr(LoadAnsiText(request->language, titleId));
    com::UniqueBstr text = com::AnsiToUniqueBstr(LoadAnsiText(request->language, textId));
    com::UniqueBstr folder;
    if (face->BrowseForFolder2(title.Get(), text.Get(), nullptr, folder.Put()) != S_OK)
        return 0;
    const UploadDestination destination = BuildUploadDestination(com::ToAnsi(folder.Get()), request->pcPath);
    if (request->approve && !request->approve(hub.Get(), destination.deviceName))
        return 0;

    com::ComPtr<ZvAppUploader> uploader;
    if (FAILED(com::MakeComObject(uploader, hub.Get(), destination.deviceName, request->pcPath,
                                  request->captionId, request->language)))
        return 0;
    int quitCode = 0;
    {
        BusyGuard busy(hub.Get());
        std::optional<PcModeGuard> pcMode;
        pcMode.emplace(hub.Get(), destination.deviceName.c_str());
        if (HWND window = uploader->CreateProgressWindow()) {
            if (request->decorate)
                request->decorate(window);
            ShowWindow(window, SW_SHOWNORMAL);
            SetForegroundWindow(window);
            std::string source = request->pcPath, target = destination.path;
            LPSTR sources[] = {source.data()};
            LPSTR targets[] = {target.data()};
            const LONG maxLength = static_cast<LONG>(std::max(source.size(), target.size()) + 1);
            if (SUCCEEDED(hub->CopyFileItems(1, maxLength, sources, targets, uploader.Get())))
                quitCode = uploader->RunCopyLoop();
        }
        uploader->DestroyProgressWindow();
        pcMode.reset();
        busy.End();
    }
    uploader.Reset();
    hub->Refresh();
    return static_cast<DWORD>(quitCode);
}

bool RunUploader(const std::string& pcPath, UINT captionId, HMODULE language) {
    UploadRequest request;
    request.pcPath = pcPath;
    request.captionId = captionId;
    request.language = language;
    return RunUploader(std::move(request));
}

bool RunUploader(UploadRequest started) {
    if (started.pcPath.size() > kMaxUploadPath)
        return false;
    auto request = std::make_unique<UploadRequest>(std::move(started));
    com::UniqueHandle thread(CreateThread(nullptr, 0, UploaderThreadProc, request.get(), 0, nullptr));
    if (!thread)
        return false;
    request.release();
    WaitForThreadWithPump(thread.Get());
    return true;
}

} // namespace tv::uploader
