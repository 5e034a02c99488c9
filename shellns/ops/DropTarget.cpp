#include "DropTarget.h"
#include "DataObject.h"
#include "DevicePath.h"
#include "FileOps.h"
#include "DllModule.h"
#include "ZelvanFolder.h"
#include <atomic>

namespace tv::shellns {
namespace {

std::string ReadText(IDataObject* data, CLIPFORMAT format) {
    FORMATETC request{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&request, &medium)))
        return {};
    std::string text;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        if (const char* raw = static_cast<const char*>(GlobalLock(medium.hGlobal))) {
            text.assign(raw, strnlen(raw, GlobalSize(medium.hGlobal)));
            GlobalUnlock(medium.hGlobal);
        }
    }
    ReleaseStgMedium(&medium);
    return text;
}

std::vector<std::string> NamesOf(HGLOBAL files) {
    return DropFileNames(static_cast<HDROP>(files));
}

std::atomic<long> g_dropThreads{0};

// A cut pasted onto another device: the source learns of the paste on the thread that dropped
// it, where it lives, through a window of that thread (the data object's SetData cannot be
// carried to it from the drop thread everywhere).
constexpr UINT kPasteDone = WM_APP + 1;
constexpr char kPasteReportClass[] = "ZelvanNS::PasteReport";

void ReportMove(IDataObject* source) {
    FORMATETC format{Formats().pasteSucceeded, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    if (!medium.hGlobal)
        return;
    *static_cast<DWORD*>(GlobalLock(medium.hGlobal)) = DROPEFFECT_MOVE;
    GlobalUnlock(medium.hGlobal);
    if (FAILED(source->SetData(&format, &medium, TRUE)))
        ReleaseStgMedium(&medium);
}

LRESULT CALLBACK PasteReportProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kPasteDone)
        return DefWindowProcA(window, message, wParam, lParam);
    auto* source = reinterpret_cast<IDataObject*>(lParam);
    if (wParam)
        ReportMove(source);
    source->Release();
    DestroyWindow(window);
    return 0;
}

HWND CreatePasteReportWindow() {
    HMODULE module = dll::ThisModule();
    if (!module)
        module = GetModuleHandleA(nullptr);
    static const bool registered = [module] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = PasteReportProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kPasteReportClass;
        return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered ? CreateWindowExA(0, kPasteReportClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        module, nullptr)
                      : nullptr;
}

struct DropWork {
    std::string target;
    STGMEDIUM medium{};
    bool move = false;
    // A cut from another device: its data object (a reference of the dropping thread) and the
    // window that tells it on that thread.
    IDataObject* source = nullptr;
    HWND reportWindow = nullptr;
};

DWORD WINAPI DropThread(void* parameter) {
    std::unique_ptr<DropWork> work(static_cast<DropWork*>(parameter));
    {
        com::ComApartment apartment;
        bool whole = false;
        ZvDropTarget::Transfer(work->target, work->medium.hGlobal, work->move, &whole);
        ReleaseStgMedium(&work->medium);
        // When the window is gone, so is its thread: the reference is left rather than released here.
        if (work->reportWindow)
            PostMessageA(work->reportWindow, kPasteDone, whole, reinterpret_cast<LPARAM>(work->source));
    }
    --g_dropThreads;
    com::ModuleLock::Unlock();
    return 0;
}

} // namespace

bool WaitForDropThreads(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (g_dropThreads.load() > 0) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

HRESULT CreateDropTarget(std::shared_ptr<NsGlobals> globals, const std::string& path, REFIID riid, void** ppv) {
    return com::CreateComObject<ZvDropTarget>(riid, ppv, std::move(globals), path);
}

STDMETHODIMP ZvDropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) {
    if (!data || !effect)
        return E_INVALIDARG;
    FORMATETC files{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (data->QueryGetData(&files) != S_OK) {
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }
    if (ReadText(data, Formats().path) == path_) {
        *effect = DROPEFFECT_NONE;
        return E_UNEXPECTED;
    }
    *effect = DROPEFFECT_COPY;
    return S_OK;
}

STDMETHODIMP ZvDropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
    if (!effect)
        return E_INVALIDARG;
    *effect = DROPEFFECT_COPY;
    return S_OK;
}

HRESULT ZvDropTarget::PrepareDrop(IDataObject* data, STGMEDIUM* medium, bool* move, bool* reportCut) {
    const std::string sourceFolder = ReadText(data, Formats().path);
    if (!sourceFolder.empty() && sourceFolder == path_)
        return E_UNEXPECTED;
    const DeviceParts target = SplitDevicePath(path_);
    if (target.rest.empty())
        return E_UNEXPECTED;
    const DeviceParts source = SplitDevicePath(sourceFolder);
    FORMATETC request{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (sourceFolder.empty() || lstrcmpiA(source.device.c_str(), target.device.c_str()) != 0) {
        FORMATETC cut{Formats().hdropCut, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        *reportCut = !sourceFolder.empty() && data->QueryGetData(&cut) == S_OK;
        return SUCCEEDED(data->GetData(&request, medium)) ? S_OK : E_UNEXPECTED;
    }
    request.cfFormat = Formats().hdropCut;
    *move = true;
    if (FAILED(data->GetData(&request, medium))) {
        request.cfFormat = Formats().hdrop;
        *move = false;
        if (FAILED(data->GetData(&request, medium)))
            return E_UNEXPECTED;
    }
    // A folder never goes into itself or below itself.
    for (const std::string& item : NamesOf(medium->hGlobal)) {
        if (IsSameOrBelow(path_, item)) {
            ReleaseStgMedium(medium);
            return E_UNEXPECTED;
        }
    }
    return S_OK;
}

STDMETHODIMP ZvDropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
    if (effect)
        *effect = DROPEFFECT_NONE;
    if (!data)
        return E_INVALIDARG;
    if (path_.empty())
        return S_OK;
    auto work = std::make_unique<DropWork>();
    work->target = path_;
    bool reportCut = false;
    HRESULT hr = PrepareDrop(data, &work->medium, &work->move, &reportCut);
    if (FAILED(hr))
        return hr;
    if (reportCut && (work->reportWindow = CreatePasteReportWindow()) != nullptr) {
        data->AddRef();
        work->source = data;
    }
    com::ModuleLock::Lock();
    ++g_dropThreads;
    HANDLE thread = CreateThread(nullptr, 0, DropThread, work.get(), 0, nullptr);
    if (!thread) {
        --g_dropThreads;
        com::ModuleLock::Unlock();
        ReleaseStgMedium(&work->medium);
        if (work->source)
            work->source->Release();
        if (work->reportWindow)
            DestroyWindow(work->reportWindow);
        return E_FAIL;
    }
    work.release();
    CloseHandle(thread);
    // A PC drag source must not delete what is still being uploaded: the drop copies.
    if (effect)
        *effect = DROPEFFECT_COPY;
    return S_OK;
}

HRESULT ZvDropTarget::Transfer(const std::string& target, HGLOBAL files, bool move, bool* whole) {
    std::vector<std::string> names = NamesOf(files);
    ZvUploadOp copy(names, target);
    const bool copied = copy.Run();
    if (move && copied && !copy.Succeeded().empty()) {
        ZvDeleteOp remove(copy.Succeeded(), false, nullptr);
        remove.Run();
    }
    if (whole)
        *whole = copied && copy.Succeeded().size() == names.size();
    com::ComPtr<IZelvanMgr> hub;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub))))
        hub->Refresh();
    return copied ? S_OK : E_FAIL;
}

} // namespace tv::shellns
