// The hub's automation face: IDispatch over the type library, BSTR conversions, the flags,
// synchronous copies and deletes, the ZelvanItems collection and the error reports scripts see.
#include "DevicePath.h"
#include "AnsiText.h"
#include "ErrorInfo.h"
#include "Hub.h"
#include "LangIds.h"
#include "ZelvanItems.h"
#include <cstring>

namespace tv::hub {
namespace {

constexpr LONG kTextBuffer = 260;

} // namespace

// The hub's own callback for its synchronous operations: it remembers the first error text of
// the operation's items and signals the end of the whole operation. A folder's transfer reports
// each file inside it as an item before the folder itself, so the end is the operation's
// completion, which the worker reports once the device is idle again.
class FileOperationListener : public com::ComObject<FileOperationListener, IZvFileOperationCallback> {
public:
    HRESULT FinalConstruct() {
        done_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        return done_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR strErrorDescription, LONG) override {
        if (error_.empty() && strErrorDescription)
            error_ = strErrorDescription;
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

    HANDLE Done() const { return done_.Get(); }
    const std::string& Error() const { return error_; }

private:
    com::UniqueHandle done_;
    std::string error_;
};

HRESULT Hub::ReportError(UINT stringId, HRESULT hr, REFIID iid) {
    return com::SetComErrorInfo(CLSID_ZelvanMgr, stringId, iid, hr, language_.Get());
}

HRESULT Hub::ReportText(const std::string& text, HRESULT hr) {
    return com::SetComErrorInfo(CLSID_ZelvanMgr, text.c_str(), __uuidof(IZelvanMgrDisp), hr);
}

ITypeInfo* Hub::DispatchTypeInfo(REFIID iid) {
    com::ComPtr<ITypeInfo>& info = IsEqualIID(iid, __uuidof(IZelvanMgrZvWig)) ? zvWigInfo_ : disp2Info_;
    if (!info) {
        com::ComPtr<ITypeLib> library;
        if (SUCCEEDED(LoadRegTypeLib(LIBID_ZelvanMgrLib, 1, 0, LOCALE_NEUTRAL, &library)))
            library->GetTypeInfoOfGuid(iid, &info);
    }
    return info.Get();
}

// ---- IDispatch ----

STDMETHODIMP Hub::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = DispatchTypeInfo(__uuidof(IZelvanMgrDisp2)) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP Hub::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeInfo* found = index == 0 ? DispatchTypeInfo(__uuidof(IZelvanMgrDisp2)) : nullptr;
    if (!found)
        return DISP_E_BADINDEX;
    found->AddRef();
    *info = found;
    return S_OK;
}

STDMETHODIMP Hub::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = DispatchTypeInfo(__uuidof(IZelvanMgrDisp2));
    return info ? info->GetIDsOfNames(names, count, ids) : E_UNEXPECTED;
}

STDMETHODIMP Hub::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) {
    ITypeInfo* info = DispatchTypeInfo(__uuidof(IZelvanMgrDisp2));
    if (!info)
        return E_UNEXPECTED;
    return info->Invoke(static_cast<IZelvanMgrDisp2*>(this), id, flags, params, result, exception, argError);
}

STDMETHODIMP ZvWigFace::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = hub_.DispatchTypeInfo(__uuidof(IZelvanMgrZvWig)) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP ZvWigFace::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeInfo* found = index == 0 ? hub_.DispatchTypeInfo(__uuidof(IZelvanMgrZvWig)) : nullptr;
    if (!found)
        return DISP_E_BADINDEX;
    found->AddRef();
    *info = found;
    return S_OK;
}

STDMETHODIMP ZvWigFace::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = hub_.DispatchTypeInfo(__uuidof(IZelvanMgrZvWig));
    return info ? info->GetIDsOfNames(names, count, ids) : E_UNEXPECTED;
}

STDMETHODIMP ZvWigFace::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError) {
    ITypeInfo* info = hub_.DispatchTypeInfo(__uuidof(IZelvanMgrZvWig));
    if (!info)
        return E_UNEXPECTED;
    return info->Invoke(static_cast<IZelvanMgrZvWig*>(this), id, flags, params, result, exception, argError);
}

STDMETHODIMP ZvWigFace::RemoveZelvan(BSTR bsID) { return hub_.RemoveZelvan(com::TerminatedToAnsi(bsID).c_str()); }

// ---- flags ----

STDMETHODIMP Hub::get_Timeout(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = timeout_;
    return S_OK;
}

STDMETHODIMP Hub::put_Timeout(LONG nVal) {
    timeout_ = nVal;
    return S_OK;
}

STDMETHODIMP Hub::put_ScriptsProhibited(VARIANT_BOOL nVal) {
    scriptsProhibited_ = nVal;
    return S_OK;
}

STDMETHODIMP Hub::get_ScriptsProhibited(VARIANT_BOOL* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = scriptsProhibited_;
    return S_OK;
}

STDMETHODIMP Hub::put_EnableUI(LONG nVal) {
    enableUI_ = nVal;
    return S_OK;
}

STDMETHODIMP Hub::get_EnableUI(LONG* nVal) {
    if (!nVal)
        return E_INVALIDARG;
    *nVal = enableUI_;
    return S_OK;
}

STDMETHODIMP Hub::put_EnableUI(VARIANT_BOOL nVal) {
    HRESULT hr = put_EnableUI(static_cast<LONG>(nVal == VARIANT_TRUE ? 1 : 0));
    return FAILED(hr) ? ReportError(IDS_HUB_FLAG_FAILED, hr) : hr;
}

STDMETHODIMP Hub::get_EnableUI(VARIANT_BOOL* nVal) {
    LONG value = 0;
    HRESULT hr = get_EnableUI(nVal ? &value : nullptr);
    if (FAILED(hr))
        return ReportError(IDS_HUB_FLAG_FAILED, hr);
    *nVal = value == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP Hub::put_BusyUI(LONG nVal) {
    busyUI_ = nVal;
    busyWindow_ = nullptr;
    return S_OK;
}

STDMETHODIMP Hub::get_BusyUI(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    if (busyUI_ && busyWindow_ && !IsWindow(busyWindow_)) {
        busyUI_ = 0;
        busyWindow_ = nullptr;
    }
    *nVal = busyUI_;
    if (busyUI_ && busyWindow_) {
        SetForegroundWindow(busyWindow_);
        BringWindowToTop(busyWindow_);
    }
    return S_OK;
}

STDMETHODIMP Hub::put_BusyUI(VARIANT_BOOL nVal) {
    HRESULT hr = put_BusyUI(static_cast<LONG>(nVal == VARIANT_TRUE ? 1 : 0));
    return FAILED(hr) ? ReportError(IDS_HUB_FLAG_FAILED, hr) : hr;
}

STDMETHODIMP Hub::get_BusyUI(VARIANT_BOOL* nVal) {
    LONG value = 0;
    HRESULT hr = get_BusyUI(nVal ? &value : nullptr);
    if (FAILED(hr))
        return ReportError(IDS_HUB_FLAG_FAILED, hr);
    *nVal = value == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP Hub::PutBusyUI(LONG hwnd, VARIANT_BOOL bVal) {
    HRESULT hr = put_BusyUI(bVal);
    if (FAILED(hr) || bVal != VARIANT_TRUE)
        return hr;
    busyWindow_ = reinterpret_cast<HWND>(static_cast<LONG_PTR>(hwnd));
    return IsWindow(busyWindow_) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP Hub::GetBusyUI(LONG* hwnd) {
    if (!hwnd)
        return E_POINTER;
    LONG busy = 0;
    get_BusyUI(&busy);
    if (!busy)
        *hwnd = 0;
    else
        *hwnd = busyWindow_ ? static_cast<LONG>(reinterpret_cast<LONG_PTR>(busyWindow_)) : -1;
    return S_OK;
}

STDMETHODIMP Hub::get_AutoPCMode(BSTR strNameOrID, VARIANT_BOOL* nVal) {
    if (!nVal)
        return ReportError(IDS_HUB_FLAG_FAILED, E_POINTER);
    LONG value = 0;
    HRESULT hr = get_AutoPC_ON_PC_OFF_Mode(com::TerminatedToAnsi(strNameOrID).data(), &value);
    if (FAILED(hr))
        return ReportError(IDS_HUB_FLAG_FAILED, hr);
    *nVal = value == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP Hub::put_AutoPCMode(BSTR strNameOrID, VARIANT_BOOL nVal) {
    HRESULT hr = put_AutoPC_ON_PC_OFF_Mode(com::TerminatedToAnsi(strNameOrID).data(), nVal == VARIANT_TRUE ? 1 : 0);
    return FAILED(hr) ? ReportError(IDS_HUB_FLAG_FAILED, hr) : hr;
}

// ---- lookups ----

STDMETHODIMP Hub::GetDeviceIDByName(BSTR strName, BSTR* strID) {
    if (!strID)
        return ReportError(IDS_HUB_DEVICE_LOOKUP, E_POINTER);
    *strID = nullptr;
    unsigned char buffer[kTextBuffer] = {};
    HRESULT hr = GetDeviceIDByName(com::TerminatedToAnsi(strName).data(), sizeof(buffer), buffer);
    return FAILED(hr) ? ReportError(IDS_HUB_DEVICE_LOOKUP, hr) : com::AnsiToBstr(reinterpret_cast<char*>(buffer), strID);
}

STDMETHODIMP Hub::GetDeviceNameByID(BSTR strID, BSTR* strName) {
    if (!strName)
        return ReportError(IDS_HUB_DEVICE_LOOKUP, E_POINTER);
    *strName = nullptr;
    unsigned char buffer[512] = {};
    HRESULT hr = GetDeviceNameByID(com::TerminatedToAnsi(strID).data(), sizeof(buffer), buffer);
    return FAILED(hr) ? ReportError(IDS_HUB_DEVICE_LOOKUP, hr) : com::AnsiToBstr(reinterpret_cast<char*>(buffer), strName);
}

STDMETHODIMP Hub::GetDeviceDescription(BSTR strNameOrID, BSTR* strName) {
    if (!strName)
        return ReportError(IDS_HUB_DEVICE_LOOKUP, E_POINTER);
    *strName = nullptr;
    unsigned char buffer[kTextBuffer] = {};
    HRESULT hr = GetDeviceDescription(com::TerminatedToAnsi(strNameOrID).data(), sizeof(buffer), buffer);
    return FAILED(hr) ? ReportError(IDS_HUB_DEVICE_LOOKUP, hr) : com::AnsiToBstr(reinterpret_cast<char*>(buffer), strName);
}

STDMETHODIMP Hub::GetDeviceModelVersion(BSTR strNameOrID, LONG* nModelVersion) {
    LONG submodel = 0;
    HRESULT hr = GetDeviceVersion(com::TerminatedToAnsi(strNameOrID).data(), nModelVersion, &submodel);
    return FAILED(hr) ? ReportError(IDS_HUB_DEVICE_VERSION, hr) : hr;
}

STDMETHODIMP Hub::GetDeviceSubmodelVersion(BSTR strNameOrID, LONG* nSubmodelVersion) {
    LONG model = 0;
    HRESULT hr = GetDeviceVersion(com::TerminatedToAnsi(strNameOrID).data(), &model, nSubmodelVersion);
    return FAILED(hr) ? ReportError(IDS_HUB_DEVICE_VERSION, hr) : hr;
}

STDMETHODIMP Hub::CreateFolder(BSTR strFolderPathName) {
    std::string path = com::TerminatedToAnsi(strFolderPathName);
    HRESULT hr = CreateFolder(path.data());
    if (SUCCEEDED(hr))
        return hr;
    std::string pattern = LoadLanguageText(language_.Get(), IDS_HUB_CREATE_FOLDER_FAILED);
    std::vector<char> text(pattern.size() + path.size() + 1);
    std::snprintf(text.data(), text.size(), pattern.c_str(), path.c_str());
    return ReportText(text.data(), hr);
}

STDMETHODIMP Hub::Command(BSTR strNameOrID, BSTR strCommand, BSTR* strResponse) {
    if (!strResponse)
        return E_POINTER;
    *strResponse = nullptr;
    LONG length = 0;
    LPSTR response = nullptr;
    HRESULT hr = Command(com::TerminatedToAnsi(strNameOrID).data(), com::TerminatedToAnsi(strCommand).data(), &length, &response);
    std::string text = response ? std::string(response, strnlen(response, static_cast<size_t>(std::max<LONG>(length, 0))))
                                : std::string();
    CoTaskMemFree(response);
    if (FAILED(hr))
        return ReportText(text, hr);
    return com::AnsiToBstr(text, strResponse);
}

STDMETHODIMP Hub::GetVolumeFreeSpace(BSTR strItem, LONG* nFreeSpace) {
    if (!nFreeSpace)
        return ReportError(IDS_HUB_FREE_SPACE, E_POINTER);
    VOLUMEINFO info = {};
    HRESULT hr = GetVolumeInfo(com::TerminatedToAnsi(strItem).data(), &info);
    if (FAILED(hr) || info.nBlockSize == 0)
        return ReportError(IDS_HUB_FREE_SPACE, E_FAIL);
    // Computed in 64 bits and clamped to what a long holds.
    long long bytes = static_cast<long long>(info.nFreeBlocks) * info.nBlockSize;
    *nFreeSpace = static_cast<LONG>(std::clamp<long long>(bytes, 0, 0x7FFFFFFF));
    return S_OK;
}

STDMETHODIMP Hub::NotifySystemDisp() { return Refresh(); }
STDMETHODIMP Hub::RefreshView() { return Refresh(); }
STDMETHODIMP Hub::RemoveDevice(BSTR stDevice) { return RemoveZelvan(com::TerminatedToAnsi(stDevice).c_str()); }

STDMETHODIMP Hub::ProcessFileOpen(BSTR bsFile) {
    if (!bsFile)
        return E_INVALIDARG;
    return ProcessFileOpen(com::TerminatedToAnsi(bsFile).data());
}

// ---- synchronous file operations ----

HRESULT Hub::WaitForListener(FileOperationListener& listener, const std::vector<std::string>& devices,
                             std::string* errorText) {
    HANDLE done = listener.Done();
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed >= static_cast<DWORD>(std::max<LONG>(timeout_, 0)) ? 0 : timeout_ - elapsed;
        DWORD result = MsgWaitForMultipleObjectsEx(1, &done, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            *errorText = listener.Error();
            return S_OK;
        }
        if (result != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Timed out: cancel, and give each device a bounded time to become idle.
    for (const std::string& device : devices) {
        CancelFileOperation(const_cast<LPSTR>(device.c_str()));
        RecordPtr record = FindDeviceRecord(device.c_str());
        for (int i = 0; i < 300 && record && record->Busy(); ++i)
            Sleep(100);
    }
    return ReportError(IDS_HUB_TIMED_OUT, E_FAIL);
}

STDMETHODIMP Hub::DeleteItem(BSTR strItem) {
    com::ComPtr<FileOperationListener> listener;
    HRESULT hr = com::MakeComObject(listener);
    if (FAILED(hr))
        return ReportError(IDS_HUB_LISTENER_CREATE, hr);
    std::string item = com::TerminatedToAnsi(strItem);
    LPSTR items[] = {item.data()};
    hr = DeleteFileItems(1, kTextBuffer, items, listener.Get());
    if (FAILED(hr))
        return hr;
    std::string error;
    hr = WaitForListener(*listener.Get(), {SplitDevicePath(item.c_str()).device}, &error);
    if (FAILED(hr))
        return hr;
    return error.empty() ? S_OK : ReportText(error, E_FAIL);
}

STDMETHODIMP Hub::CopyFileItem(BSTR aStrSrc, BSTR aStrDest) {
    com::ComPtr<FileOperationListener> listener;
    HRESULT hr = com::MakeComObject(listener);
    if (FAILED(hr))
        return ReportError(IDS_HUB_LISTENER_CREATE, hr);
    std::string source = com::TerminatedToAnsi(aStrSrc);
    std::string destination = com::TerminatedToAnsi(aStrDest);
    LPSTR sources[] = {source.data()};
    LPSTR destinations[] = {destination.data()};
    hr = CopyFileItems(1, kTextBuffer, sources, destinations, listener.Get());
    if (FAILED(hr))
        return ReportError(IDS_HUB_COPY_FAILED, hr);
    std::string error;
    hr = WaitForListener(*listener.Get(),
                         {SplitDevicePath(source.c_str()).device, SplitDevicePath(destination.c_str()).device},
                         &error);
    if (FAILED(hr))
        return hr;
    return error.empty() ? S_OK : ReportText(error, E_FAIL);
}

STDMETHODIMP Hub::RenameItem(BSTR strOldName, BSTR strNewName) {
    std::string oldName = com::TerminatedToAnsi(strOldName);
    std::string newName = com::TerminatedToAnsi(strNewName);
    DevicePath from = SplitDevicePath(oldName.c_str());
    DevicePath to = SplitDevicePath(newName.c_str());
    RecordPtr record = FindDeviceForOperation(to.device);
    if (from.device.empty() || from.rest.empty() || to.device.empty() || to.rest.empty() ||
        from.device != to.device || !record)
        return ReportError(IDS_HUB_BAD_RENAME, E_INVALIDARG);
    // A device still busy with an earlier operation is waited for, as by every other operation.
    if (!WaitDeviceIdle(record))
        return ReportError(IDS_HUB_CREATE_FOLDER_BUSY, E_FAIL);
    unsigned char error[kTextBuffer] = {};
    HRESULT hr = record->device->RenameFileItem(from.rest.data(), to.rest.data(), kTextBuffer, error);
    if (hr == S_FALSE || error[0])
        return ReportText(reinterpret_cast<char*>(error), E_FAIL);
    return FAILED(hr) ? ReportText(reinterpret_cast<char*>(error), hr) : S_OK;
}

STDMETHODIMP Hub::Items(BSTR strPath, IUnknown** ppItems) {
    if (!ppItems)
        return ReportError(IDS_HUB_LISTING_FAILED, E_POINTER, __uuidof(IZelvanMgrDisp));
    *ppItems = nullptr;
    com::ComPtr<ZelvanItems> items;
    HRESULT hr = com::MakeComObject(items, language_.Get());
    if (FAILED(hr))
        return ReportError(IDS_HUB_LISTING_FAILED, hr);
    com::ComPtr<IZvEnumFileItems> listing;
    hr = EnumFileItems(com::TerminatedToAnsi(strPath).data(), 31, &listing);
    if (FAILED(hr))
        return ReportError(IDS_HUB_LISTING_FAILED, hr);
    for (;;) {
        ZVFILEITEM records[10] = {};
        LONG fetched = 0;
        hr = listing->Next(10, records, &fetched);
        if (FAILED(hr))
            return ReportError(IDS_HUB_LISTING_FAILED, hr);
        for (LONG i = 0; i < fetched; ++i) {
            items->Append(records[i]);
            CoTaskMemFree(records[i].strName);
            CoTaskMemFree(records[i].strDesc);
            CoTaskMemFree(records[i].strIconFile);
        }
        if (fetched == 0)
            break;
    }
    *ppItems = items->AsUnknown();
    (*ppItems)->AddRef();
    return S_OK;
}

} // namespace tv::hub
