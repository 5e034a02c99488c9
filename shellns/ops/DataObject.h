// The data objects the view hands out: one for a drag, one for Copy and one for Cut. Each
// offers the PC file list (CF_HDROP, downloaded on demand), the folder the items come from
// ("ZvPathFmt") and the device paths ("ZvHdropFmt", or "ZvHDropFmtCut" for a cut).
#pragma once
#include "ComObject.h"
#include "FileOps.h"
#include <objidl.h>
#include <oleidl.h>
#include <memory>
#include <string>
#include <vector>

namespace tv::shellns {

enum class DataKind { Drag, Copy, Cut };

struct ClipboardFormats {
    CLIPFORMAT path;      // "ZvPathFmt"
    CLIPFORMAT hdrop;     // "ZvHdropFmt"
    CLIPFORMAT hdropCut;  // "ZvHDropFmtCut"
    CLIPFORMAT performedEffect;
    CLIPFORMAT pasteSucceeded;
};
const ClipboardFormats& Formats();

// Puts one of our data objects on the clipboard and notes it for the process.
HRESULT PutOnClipboard(IDataObject* data);
// The object the clipboard holds when it is the one this process put there last, else null.
// Pasting that object itself, not the clipboard's stand-in for it, lets a cut learn of the paste.
com::ComPtr<IDataObject> OurClipboardObject();

class ZvDataObject : public com::ComObject<ZvDataObject, IDataObject, IDropSource> {
public:
    ZvDataObject(DataKind kind, std::string folderPath, std::vector<std::string> items, HWND view, HWND tree);

    // IDataObject
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** ppenum) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

    // IDropSource
    STDMETHODIMP QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    STDMETHODIMP GiveFeedback(DWORD effect) override;

    bool Downloaded() const { return downloaded_; }

private:
    bool AllExportable() const;
    HRESULT FileList(FORMATETC* format, std::vector<std::string>* names);
    void DeleteAfterPaste();

    DataKind kind_;
    std::string folderPath_;
    std::vector<std::string> items_;
    HWND view_;
    HWND tree_;
    std::vector<std::string> results_;
    std::vector<std::string> downloadedSources_;
    bool dropped_ = false;
    bool refused_ = false;
    bool downloaded_ = false;
    bool deleted_ = false;
};

} // namespace tv::shellns
