// The drop target of one device path (a folder's own or an item's): PC files are uploaded,
// device items copied or moved within their device, on a thread of the drop's own.
#pragma once
#include "ComObject.h"
#include "NsGlobals.h"
#include <oleidl.h>
#include <memory>
#include <string>

namespace tv::shellns {

class ZvDropTarget : public com::ComObject<ZvDropTarget, IDropTarget> {
public:
    ZvDropTarget(std::shared_ptr<NsGlobals> globals, std::string path)
        : globals_(std::move(globals)), path_(std::move(path)) {}

    STDMETHODIMP DragEnter(IDataObject* data, DWORD keyState, POINTL pt, DWORD* effect) override;
    STDMETHODIMP DragOver(DWORD keyState, POINTL pt, DWORD* effect) override;
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD keyState, POINTL pt, DWORD* effect) override;

    // The drop's work without its thread: what the thread runs. `whole`: every item arrived.
    static HRESULT Transfer(const std::string& target, HGLOBAL files, bool move, bool* whole);

  private:
    HRESULT PrepareDrop(IDataObject* data, STGMEDIUM* medium, bool* move, bool* reportCut);

    std::shared_ptr<NsGlobals> globals_;
    std::string path_;
};

// Waits until every drop thread of the process ended (at most `timeoutMs`); true when none runs.
bool WaitForDropThreads(DWORD timeoutMs);

} // namespace tv::shellns
