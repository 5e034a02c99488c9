#include "ScriptSynchronizer.h"
#include "AnsiText.h"
#include "ConflictDialog.h"
#include "HResult.h"
#include "ZvRegistrar.h"
#include <cstring>

namespace tv::scriptsync {
namespace {

constexpr LONG kScriptTrue = -1;

struct OwnedVariant : VARIANT {
    OwnedVariant() { VariantInit(this); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    ~OwnedVariant() { VariantClear(this); }
};

VARIANT LongArgument(LONG value) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    return argument;
}

// The value of a script's result as a long (undefined reads as 0).
HRESULT LongOf(VARIANT& value, LONG* out) {
    TV_RETURN_IF_FAILED(VariantChangeType(&value, &value, 0, VT_I4));
    *out = value.lVal;
    return S_OK;
}

// The value of a script's result as text.
HRESULT WideTextOf(VARIANT& value, std::wstring& out) {
    TV_RETURN_IF_FAILED(VariantChangeType(&value, &value, 0, VT_BSTR));
    out.assign(value.bstrVal ? value.bstrVal : L"", value.bstrVal ? SysStringLen(value.bstrVal) : 0);
    return S_OK;
}

std::string Narrow(BSTR text) { return com::ToAnsi(text); }

} // namespace

// ---- the named object ----

void* SyncHostLink::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvSyncHost*>(this) : nullptr;
}

STDMETHODIMP SyncHostLink::ResolveConflict(IDispatch* pItem1, IDispatch* pItem2, LONG* nRes) {
    return owner_ ? owner_->ResolveConflict(pItem1, pItem2, nRes) : E_UNEXPECTED;
}

STDMETHODIMP SyncHostLink::FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG nDone, ULONG nTotal) {
    return owner_ ? owner_->FireUpdate(phase, status, nDone, nTotal) : E_UNEXPECTED;
}

STDMETHODIMP SyncHostLink::FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, BSTR description, ULONG nDone,
                                            ULONG nTotal) {
    return owner_ ? owner_->FireCustomUpdate(phase, status, description, nDone, nTotal) : E_UNEXPECTED;
}

STDMETHODIMP SyncHostLink::FireError(ZVSYNCPHASE phase, BSTR description) {
    return owner_ ? owner_->FireError(phase, description) : E_UNEXPECTED;
}

// ---- construction ----

ScriptSynchronizer::~ScriptSynchronizer() {
    if (link_)
        link_->Detach();
}

HRESULT ScriptSynchronizer::FinalConstruct() { return LoadSyncScript(); }

void* ScriptSynchronizer::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvSyncHost*>(this) : nullptr;
}

HRESULT ScriptSynchronizer::LoadSyncScript() {
    com::ComPtr<IZvRegistrarDisp> store;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IZvRegistrarDisp,
                                         reinterpret_cast<void**>(&store)));
    com::UniqueBstr languageItem(SysAllocString(L"ZvSyncHost\\ScriptLang"));
    com::UniqueBstr language;
    if (FAILED(store->get_ItemString(languageItem.Get(), language.Put())) || !language)
        language.Reset(SysAllocString(L"JScript"));
    TV_RETURN_IF_FAILED(script_.SetLanguage(language.Get()));
    TV_RETURN_IF_FAILED(script_.Create());

    com::UniqueBstr scriptItem(SysAllocString(kind_.scriptItem));
    com::UniqueBstr code;
    TV_RETURN_IF_FAILED(store->get_ItemScript(scriptItem.Get(), code.Put()));
    TV_RETURN_IF_FAILED(script_.AddCode(code.Get()));

    TV_RETURN_IF_FAILED(com::MakeComObject(link_, this));
    com::UniqueBstr hostName(SysAllocString(L"ZvSyncHost"));
    TV_RETURN_IF_FAILED(script_.AddObject(hostName.Get(), link_.Get(), true));

    OwnedVariant accepted;
    TV_RETURN_IF_FAILED(Call(L"InitScript", 0, nullptr, &accepted));
    LONG value = 0;
    if (FAILED(LongOf(accepted, &value)) || value != kScriptTrue) {
        script_.Reset();
        return E_FAIL;
    }
    parent_ = nullptr;
    return S_OK;
}

// ---- script calls ----

HRESULT ScriptSynchronizer::Call(const wchar_t* function, long count, const VARIANT* arguments, VARIANT* result) {
    com::UniqueBstr name(SysAllocString(function));
    if (!name)
        return E_OUTOFMEMORY;
    return script_.CallFunction(name.Get(), count, arguments, result);
}

HRESULT ScriptSynchronizer::CallWithText(const wchar_t* function, LPSTR text, VARIANT* result) {
    if (!text)
        return E_INVALIDARG;
    OwnedVariant argument;
    argument.vt = VT_BSTR;
    TV_RETURN_IF_FAILED(com::AnsiToBstr(text, &argument.bstrVal));
    return Call(function, 1, &argument, result);
}

HRESULT ScriptSynchronizer::CallForLong(const wchar_t* function, long count, const VARIANT* arguments, LONG* value) {
    if (!value)
        return E_POINTER;
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(function, count, arguments, &result));
    return LongOf(result, value);
}

HRESULT ScriptSynchronizer::CallForText(const wchar_t* function, long count, const VARIANT* arguments,
                                        std::string& text) {
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(function, count, arguments, &result));
    std::wstring wide;
    TV_RETURN_IF_FAILED(WideTextOf(result, wide));
    text = com::ToAnsi(wide.c_str(), wide.size());
    return S_OK;
}

// S_OK when the function's value is true (-1), else S_FALSE.
HRESULT ScriptSynchronizer::CallForFlag(const wchar_t* function, long count, const VARIANT* arguments) {
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(function, count, arguments, &result));
    LONG value = 0;
    return SUCCEEDED(LongOf(result, &value)) && value == kScriptTrue ? S_OK : S_FALSE;
}

// ---- IZvSynchronizer ----

STDMETHODIMP ScriptSynchronizer::GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) {
    if (!szUserFriendlyName)
        return E_POINTER;
    if (nMaxLen < 1)
        return E_INVALIDARG;
    std::string name;
    TV_RETURN_IF_FAILED(CallForText(L"GetUserFriendlyName", 0, nullptr, name));
    const size_t copied = std::min(name.size(), static_cast<size_t>(nMaxLen) - 1);
    std::memcpy(szUserFriendlyName, name.data(), copied);
    szUserFriendlyName[copied] = '\0';
    return S_OK;
}

HRESULT ScriptSynchronizer::FillItemType(long index, ZVSYNCITEMTYPE& type) {
    VARIANT argument = LongArgument(index);
    std::string guidText;
    TV_RETURN_IF_FAILED(CallForText(L"GetItemClSID", 1, &argument, guidText));
    GUID guid;
    TV_RETURN_IF_FAILED(CLSIDFromString(com::FromAnsi(guidText).c_str(), &guid));
    std::string name;
    TV_RETURN_IF_FAILED(CallForText(L"GetItemTypeName", 1, &argument, name));
    LONG direction = 0;
    TV_RETURN_IF_FAILED(CallForLong(L"GetItemSyncDirection", 1, &argument, &direction));
    LPSTR copy = com::TaskTextCopy(name);
    if (!copy)
        return E_OUTOFMEMORY;
    type.guid = guid;
    type.name = copy;
    type.flags = static_cast<unsigned long>(direction);
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) {
    if (!pnElems || !pTypes)
        return E_POINTER;
    LONG count = 0;
    TV_RETURN_IF_FAILED(CallForLong(L"GetItemsCount", 0, nullptr, &count));
    *pnElems = count;
    if (count < 0 || count > nMaxElems)
        return E_FAIL;
    for (LONG index = 0; index < count; ++index) {
        const HRESULT hr = FillItemType(index, pTypes[index]);
        if (FAILED(hr)) {
            // The caller frees the names only of a successful call: take back what was handed out.
            for (LONG filled = 0; filled < index; ++filled) {
                CoTaskMemFree(pTypes[filled].name);
                pTypes[filled].name = nullptr;
            }
            return hr;
        }
    }
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::IsCompatible(LPSTR szDeviceID) {
    if (!szDeviceID)
        return E_INVALIDARG;
    OwnedVariant argument;
    argument.vt = VT_BSTR;
    TV_RETURN_IF_FAILED(com::AnsiToBstr(szDeviceID, &argument.bstrVal));
    return CallForFlag(L"IsCompatible", 1, &argument);
}

STDMETHODIMP ScriptSynchronizer::SetDevice(LPSTR szDeviceID) {
    OwnedVariant result;
    TV_RETURN_IF_FAILED(CallWithText(L"SetDeviceID", szDeviceID, &result));
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::SetConflictResolution(ZVSYNCRESOLUTION newVal) {
    VARIANT argument = LongArgument(static_cast<LONG>(newVal));
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(L"SetConflictResolution", 1, &argument, &result));
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::SetParentWindow(ULONG_PTR hWin) {
    // Window handles are significant in their low 32 bits: the script gets them as a long, the
    // object keeps the whole handle.
    VARIANT argument = LongArgument(static_cast<LONG>(static_cast<LONG_PTR>(hWin)));
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(L"SetParentWindow", 1, &argument, &result));
    parent_ = reinterpret_cast<HWND>(hWin);
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::Synchronize(ZVSYNCPHASE phase) {
    if (phase == SPH_INITIALIZE && kind_.resolvesConflicts)
        conflictDialog_ = nullptr;
    lastUpdateComplete_ = false;
    errorReported_ = false;
    VARIANT argument = LongArgument(static_cast<LONG>(phase));
    OwnedVariant result;
    const HRESULT hr = Call(L"Synchronize", 1, &argument, &result);
    if (FAILED(hr)) {
        // The manager goes on only after a report that ends the phase: a script that failed
        // without one would hold the session. Its error is the report.
        if (!lastUpdateComplete_ && !errorReported_) {
            com::UniqueBstr text(script_.GetErrorText());
            FireError(phase, text.Get());
        }
        return hr;
    }
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::Cancel() {
    OwnedVariant result;
    TV_RETURN_IF_FAILED(Call(L"Cancel", 0, nullptr, &result));
    if (kind_.resolvesConflicts && conflictDialog_)
        EndConflictDialog(conflictDialog_, kChoiceSkip);
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::GetTotalItems(LONG* nItems) {
    return CallForLong(L"GetTotalItems", 0, nullptr, nItems);
}

STDMETHODIMP ScriptSynchronizer::GetSynchronizedItems(LONG* nItems) {
    return CallForLong(L"GetSynchronizedItems", 0, nullptr, nItems);
}

STDMETHODIMP ScriptSynchronizer::GetUnresolvedItems(LONG* nItems) {
    return CallForLong(L"GetUnresolvedItems", 0, nullptr, nItems);
}

STDMETHODIMP ScriptSynchronizer::IsTunable() { return CallForFlag(L"IsTunable", 0, nullptr); }

STDMETHODIMP ScriptSynchronizer::Tune(LPSTR szDeviceID) {
    OwnedVariant result;
    TV_RETURN_IF_FAILED(CallWithText(L"Tune", szDeviceID, &result));
    return S_OK;
}

// ---- IZvSyncNotify, IZvSynchronizerGUI ----

STDMETHODIMP ScriptSynchronizer::Advise(IZvSyncCallback* piCallback, LONG* pnCookie) {
    return sinks_.Advise(piCallback, pnCookie);
}

STDMETHODIMP ScriptSynchronizer::Unadvise(LONG nCookie) { return sinks_.Unadvise(nCookie); }

STDMETHODIMP ScriptSynchronizer::GetIcon(int* nResourceID) {
    if (!nResourceID)
        return E_POINTER;
    *nResourceID = kind_.iconId;
    return S_OK;
}

// ---- IZvSyncHost ----

STDMETHODIMP ScriptSynchronizer::FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG nDone, ULONG nTotal) {
    for (const auto& sink : sinks_.Snapshot())
        sink->OnUpdate(Self(), phase, status, nDone, nTotal);
    errorReported_ = false;
    lastUpdateComplete_ = status == SST_COMPLETE;
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, BSTR description,
                                                  ULONG nDone, ULONG nTotal) {
    std::string text = Narrow(description);
    for (const auto& sink : sinks_.Snapshot())
        sink->OnCustomUpdate(Self(), phase, status, text.data(), nDone, nTotal);
    errorReported_ = false;
    lastUpdateComplete_ = status == SST_COMPLETE;
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::FireError(ZVSYNCPHASE phase, BSTR description) {
    std::string text = Narrow(description);
    for (const auto& sink : sinks_.Snapshot())
        sink->OnError(Self(), phase, text.data());
    errorReported_ = true;
    return S_OK;
}

STDMETHODIMP ScriptSynchronizer::ResolveConflict(IDispatch* pItem1, IDispatch* pItem2, LONG* nRes) {
    if (!kind_.resolvesConflicts)
        return E_NOTIMPL;
    if (!nRes)
        return E_POINTER;
    if (!pItem1 || !pItem2)
        return E_INVALIDARG;
    std::wstring captions[2];
    for (LONG index = 0; index < 2; ++index) {
        VARIANT argument = LongArgument(index);
        OwnedVariant result;
        TV_RETURN_IF_FAILED(Call(L"GetItemTypeName", 1, &argument, &result));
        TV_RETURN_IF_FAILED(WideTextOf(result, captions[index]));
    }
    return RunConflictDialog(parent_, captions[0], captions[1], pItem1, pItem2, &conflictDialog_, nRes);
}

} // namespace tv::scriptsync
