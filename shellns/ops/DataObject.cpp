#include "DataObject.h"
#include "DevicePath.h"
#include "NsGlobals.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <shlobj.h>
#include <atomic>
#include <cstring>

namespace tv::shellns {
namespace {

HGLOBAL TextBlock(const std::string& text) {
    HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
    if (!block)
        return nullptr;
    std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    return block;
}

bool IsOneOfOurs(CLIPFORMAT format) {
    const ClipboardFormats& f = Formats();
    return format == CF_HDROP || format == f.path || format == f.hdrop || format == f.hdropCut;
}

} // namespace

const ClipboardFormats& Formats() {
    static const ClipboardFormats formats{
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("ZvPathFmt")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("ZvHdropFmt")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("ZvHDropFmtCut")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Performed DropEffect")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Paste Succeeded"))};
    return formats;
}

namespace {

// Not held: used only while OleIsCurrentClipboard says the clipboard still holds it.
std::atomic<IDataObject*> g_clipboardObject{nullptr};

} // namespace

HRESULT PutOnClipboard(IDataObject* data) {
    const HRESULT hr = OleSetClipboard(data);
    g_clipboardObject = SUCCEEDED(hr) ? data : nullptr;
    return hr;
}

com::ComPtr<IDataObject> OurClipboardObject() {
    IDataObject* noted = g_clipboardObject.load();
    return noted && OleIsCurrentClipboard(noted) == S_OK ? com::ComPtr<IDataObject>(noted) : nullptr;
}

ZvDataObject::ZvDataObject(DataKind kind, std::string folderPath, std::vector<std::string> items, HWND view,
                           HWND tree)
    : kind_(kind), folderPath_(std::move(folderPath)), items_(std::move(items)), view_(view), tree_(tree) {}

bool ZvDataObject::AllExportable() const {
    if (items_.empty())
        return false;
    for (const std::string& item : items_)
        if (!IsExportablePath(item))
            return false;
    return true;
}

STDMETHODIMP ZvDataObject::QueryGetData(FORMATETC* format) {
    if (!format)
        return E_POINTER;
    if (!(format->dwAspect & DVASPECT_CONTENT))
        return DV_E_DVASPECT;
    if (!AllExportable())
        return DV_E_FORMATETC;
    const CLIPFORMAT cut = Formats().hdropCut, copy = Formats().hdrop;
    if (!IsOneOfOurs(format->cfFormat) || (format->cfFormat == cut && kind_ != DataKind::Cut) ||
        (format->cfFormat == copy && kind_ == DataKind::Cut) || format->tymed != TYMED_HGLOBAL)
        return DV_E_FORMATETC;
    return S_OK;
}

HRESULT ZvDataObject::FileList(FORMATETC*, std::vector<std::string>* names) {
    if (kind_ == DataKind::Drag) {
        // Nothing leaves the device before the drop.
        if (!dropped_)
            return DV_E_FORMATETC;
    } else {
        if (refused_)
            return DV_E_FORMATETC;
        if (!downloaded_ && !IsWindow(view_) && !IsWindow(tree_)) {
            if (MessageBoxA(GetDesktopWindow(), LangString(IDS_NS_FETCH_QUESTION).c_str(),
                            LangString(IDS_NS_CAPTION).c_str(), MB_ICONQUESTION | MB_YESNO) != IDYES) {
                refused_ = true;
                return DV_E_FORMATETC;
            }
        }
    }
    // Whoever asks for PC files gets files that exist: the download runs once, on first demand.
    if (!downloaded_) {
        ZvDownloadOp download(items_);
        download.Run();
        results_ = download.DownloadedFiles();
        downloadedSources_ = download.Succeeded();
        downloaded_ = true;
    }
    *names = results_;
    return S_OK;
}

STDMETHODIMP ZvDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium)
        return E_INVALIDARG;
    std::memset(medium, 0, sizeof(*medium));
    if (format->tymed != TYMED_HGLOBAL || !IsOneOfOurs(format->cfFormat))
        return DV_E_FORMATETC;
    const ClipboardFormats& f = Formats();
    HGLOBAL block = nullptr;
    if (format->cfFormat == f.path) {
        block = TextBlock(folderPath_);
    } else {
        if (!AllExportable())
            return DV_E_FORMATETC;
        if (format->cfFormat == CF_HDROP) {
            std::vector<std::string> names;
            HRESULT hr = FileList(format, &names);
            if (FAILED(hr))
                return hr;
            block = BuildDropFiles(names);
        } else if ((format->cfFormat == f.hdropCut) == (kind_ == DataKind::Cut)) {
            block = BuildDropFiles(items_);
        }
    }
    if (!block)
        return DV_E_FORMATETC;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    return S_OK;
}

STDMETHODIMP ZvDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP ZvDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out)
        out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

void ZvDataObject::DeleteAfterPaste() {
    if (kind_ != DataKind::Cut || deleted_ || downloadedSources_.empty())
        return;
    deleted_ = true;
    ZvDeleteOp remove(downloadedSources_, false, nullptr);
    if (remove.Run() && remove.Started()) {
        com::ComPtr<IZelvanMgr> hub;
        if (SUCCEEDED(AcquireGlobals()->GetHub(hub)))
            hub->Refresh();
    }
}

STDMETHODIMP ZvDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
    // A consumer that pasted a cut as a move says so: only then do the device items go.
    if (format && medium && medium->tymed == TYMED_HGLOBAL && medium->hGlobal &&
        (format->cfFormat == Formats().performedEffect || format->cfFormat == Formats().pasteSucceeded)) {
        DWORD effect = DROPEFFECT_NONE;
        if (const auto* value = static_cast<const DWORD*>(GlobalLock(medium->hGlobal))) {
            if (GlobalSize(medium->hGlobal) >= sizeof(DWORD))
                effect = *value;
            GlobalUnlock(medium->hGlobal);
        }
        if (release)
            ReleaseStgMedium(medium);
        if (effect & DROPEFFECT_MOVE)
            DeleteAfterPaste();
        return S_OK;
    }
    return E_NOTIMPL;
}

STDMETHODIMP ZvDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** ppenum) {
    if (!ppenum)
        return E_POINTER;
    *ppenum = nullptr;
    if (direction != DATADIR_GET)
        return S_OK;
    const ClipboardFormats& f = Formats();
    FORMATETC formats[3] = {
        {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
        {f.path, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
        {kind_ == DataKind::Cut ? f.hdropCut : f.hdrop, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}};
    return SHCreateStdEnumFmtEtc(3, formats, ppenum);
}

STDMETHODIMP ZvDataObject::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
    if (escapePressed)
        return DRAGDROP_S_CANCEL;
    if (!(keyState & MK_LBUTTON)) {
        dropped_ = true;
        return DRAGDROP_S_DROP;
    }
    return S_OK;
}

STDMETHODIMP ZvDataObject::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

} // namespace tv::shellns
