// A synchronizer whose work is done by a script of the item store: every IZvSynchronizer call runs
// one function of the script, and the script reports back through the host object "ZvSyncHost".
// The classes of ZvSyncCTX15.dll and ZvSyncSH.dll are this one implementation, each with its
// script item and icon.
#pragma once
#include "ComObject.h"
#include "ScriptHost.h"
#include "SyncSinks.h"
#include "TypeInfoDispatch.h"
#include "ZvSyncHost.h"
#include "ZvSyncMgr.h"
#include <string>

namespace tv::scriptsync {

// What tells one class from another.
struct ScriptSyncClass {
    const wchar_t* scriptItem; // the item store's script item that does the work
    int iconId;                // the language library's icon
    bool resolvesConflicts;    // the conflict dialog (and its end by Cancel) is offered
};

class ScriptSynchronizer;

// The named object "ZvSyncHost" the script sees. It forwards to the synchronizer without holding
// it: the synchronizer owns the script control, the control holds this object, and a reference
// back would keep the synchronizer alive for good. The synchronizer detaches itself when it goes.
class SyncHostLink : public com::ComObject<SyncHostLink, IZvSyncHost> {
  public:
    explicit SyncHostLink(ScriptSynchronizer* owner) : owner_(owner) {}
    void Detach() { owner_ = nullptr; }
    void* QueryOtherInterface(REFIID riid);

    TV_DUAL_DISPATCH(IZvSyncHost, dispatch_)
    STDMETHODIMP ResolveConflict(IDispatch* pItem1, IDispatch* pItem2, LONG* nRes) override;
    STDMETHODIMP FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG nDone, ULONG nTotal) override;
    STDMETHODIMP FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, BSTR description, ULONG nDone,
                                  ULONG nTotal) override;
    STDMETHODIMP FireError(ZVSYNCPHASE phase, BSTR description) override;

  private:
    ScriptSynchronizer* owner_;
    com::TypeInfoDispatch dispatch_{IID_IZvSyncHost};
};

class ScriptSynchronizer : public com::ComObject<ScriptSynchronizer, IZvSynchronizer, IZvSyncNotify,
                                                 IZvSynchronizerGUI, IZvSyncHost> {
  public:
    explicit ScriptSynchronizer(const ScriptSyncClass& kind) : kind_(kind) {}
    ~ScriptSynchronizer() override;
    // Loads the class's script; a failure (no script, or one that declines) fails the creation.
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    // IZvSynchronizer
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP SetDevice(LPSTR szDeviceID) override;
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION newVal) override;
    STDMETHODIMP SetParentWindow(ULONG_PTR hWin) override;
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;
    STDMETHODIMP Cancel() override;
    STDMETHODIMP GetTotalItems(LONG* nItems) override;
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override;
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override;
    STDMETHODIMP IsTunable() override;
    STDMETHODIMP Tune(LPSTR szDeviceID) override;

    // IZvSyncNotify
    STDMETHODIMP Advise(IZvSyncCallback* piCallback, LONG* pnCookie) override;
    STDMETHODIMP Unadvise(LONG nCookie) override;

    // IZvSynchronizerGUI
    STDMETHODIMP GetIcon(int* nResourceID) override;

    // IZvSyncHost (the script reaches these through the link)
    TV_DUAL_DISPATCH(IZvSyncHost, dispatch_)
    STDMETHODIMP ResolveConflict(IDispatch* pItem1, IDispatch* pItem2, LONG* nRes) override;
    STDMETHODIMP FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG nDone, ULONG nTotal) override;
    STDMETHODIMP FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, BSTR description, ULONG nDone,
                                  ULONG nTotal) override;
    STDMETHODIMP FireError(ZVSYNCPHASE phase, BSTR description) override;

  private:
    HRESULT LoadSyncScript();
    // Runs a script function with `count` arguments; `result` gets its value.
    HRESULT Call(const wchar_t* function, long count, const VARIANT* arguments, VARIANT* result);
    HRESULT CallWithText(const wchar_t* function, LPSTR text, VARIANT* result);
    HRESULT CallForLong(const wchar_t* function, long count, const VARIANT* arguments, LONG* value);
    HRESULT CallForText(const wchar_t* function, long count, const VARIANT* arguments, std::string& text);
    HRESULT CallForFlag(const wchar_t* function, long count, const VARIANT* arguments);
    HRESULT FillItemType(long index, ZVSYNCITEMTYPE& type);
    IZvSynchronizer* Self() { return static_cast<IZvSynchronizer*>(this); }

    const ScriptSyncClass& kind_;
    ScriptHost script_;
    com::ComPtr<SyncHostLink> link_;
    SyncSinks sinks_;
    HWND parent_ = nullptr;
    HWND conflictDialog_ = nullptr;
    bool lastUpdateComplete_ = false;
    bool errorReported_ = false;
    com::TypeInfoDispatch dispatch_{IID_IZvSyncHost};
};

} // namespace tv::scriptsync
