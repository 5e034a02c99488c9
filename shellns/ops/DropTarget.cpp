#include "DropTarget.h"
#include "DataObject.h"
#include "DevicePath.h"
#include "FileOps.h"
#include "MarshalledInterface.h"
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

struct DropWork {
    std::string target;
    STGMEDIUM medium{};
    bool move = false;
    MarshalledInterface source;  // set when a cut from another device is pasted
};

DWORD WINAPI DropThread(void* parameter) {
    std::unique_ptr<DropWork> work(static_cast<DropWork*>(parameter));
    {
        com::ComApartment apartment;
        com::ComPtr<IDataObject> source;
        if (work->source.IsHeld())
            work->source.Unmarshal(&source);
        ZvDropTarget::Transfer(work->target, work->medium.hGlobal, work->move, source.Get());
        ReleaseStgMedium(&work->medium);
        work->source.Release();
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
    if (reportCut)
        work->source.Marshal(IID_IDataObject, data);
    com::ModuleLock::Lock();
    ++g_dropThreads;
    HANDLE thread = CreateThread(nullptr, 0, DropThread, work.get(), 0, nullptr);
    if (!thread) {
        --g_dropThreads;
        com::ModuleLock::Unlock();
        ReleaseStgMedium(&work->medium);
        return E_FAIL;
    }
    work.release();
    CloseHandle(thread);
    // A PC drag source must not delete what is still being uploaded: the drop copies.
    if (effect)
        *effect = DROPEFFECT_COPY;
    return S_OK;
}

HRESULT ZvDropTarget::Transfer(const std::string& target, HGLOBAL files, bool move, IDataObject* reportTo) {
    std::vector<std::string> names = NamesOf(files);
    ZvUploadOp copy(names, target);
    const bool copied = copy.Run();
    if (move && copied && !copy.Succeeded().empty()) {
        ZvDeleteOp remove(copy.Succeeded(), false, nullptr);
        remove.Run();
    }
    if (reportTo && copied && copy.Succeeded().size() == names.size()) {
        // A cut pasted onto another device: the source may now delete what it downloaded.
        FORMATETC format{Formats().pasteSucceeded, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
        if (medium.hGlobal) {
            *static_cast<DWORD*>(GlobalLock(medium.hGlobal)) = DROPEFFECT_MOVE;
            GlobalUnlock(medium.hGlobal);
            if (FAILED(reportTo->SetData(&format, &medium, TRUE)))
                ReleaseStgMedium(&medium);
        }
    }
    com::ComPtr<IZelvanMgr> hub;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub))))
        hub->Refresh();
    return copied ? S_OK : E_FAIL;
}

} // namespace tv::shellns
