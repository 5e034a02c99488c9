#include "UpdateLoader.h"

#include "MessagePump.h"
#include "UsbDevices.h"

#include <algorithm>
#include <new>

namespace tv::update {
namespace {

// A waiting call's time-out: 0 means without limit.
DWORD WaitLimit(long nTimeOut) {
    return nTimeOut == 0 ? INFINITE : static_cast<DWORD>(nTimeOut);
}

} // namespace

HRESULT ZvUpdate15Object::FinalConstruct() {
    startEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    deviceEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!startEvent_ || !deviceEvent_)
        return E_FAIL;
    shared_.startEvent = startEvent_.Get();
    shared_.deviceEvent = deviceEvent_.Get();
    return S_OK;
}

ZvUpdate15Object::~ZvUpdate15Object() {
    Cancel(0, -1);
    // The worker uses this object's state: it must have ended before the object goes.
    if (worker_)
        WaitForSingleObject(worker_.Get(), INFINITE);
}

void* ZvUpdate15Object::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZvUpdate15))
        return static_cast<IZvUpdate152*>(this);
    return nullptr;
}

bool ZvUpdate15Object::WorkerAlive() const {
    return worker_ && WaitForSingleObject(worker_.Get(), 0) == WAIT_TIMEOUT;
}

bool ZvUpdate15Object::ForgetEndedWorker() {
    if (WorkerAlive())
        return false;
    worker_.Reset();
    return true;
}

STDMETHODIMP ZvUpdate15Object::Advise(IZvUpdate15Callback* piCallback, long* pdwCookie) {
    if (!piCallback || !pdwCookie)
        return E_POINTER;
    try {
        callbacks_.emplace_back(nextCookie_, com::ComPtr<IZvUpdate15Callback>(piCallback));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwCookie = static_cast<long>(nextCookie_++);
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::Unadvise(long dwCookie) {
    const auto it = std::find_if(callbacks_.begin(), callbacks_.end(),
                                 [dwCookie](const auto& entry) { return entry.first == static_cast<DWORD>(dwCookie); });
    if (it == callbacks_.end())
        return E_INVALIDARG;
    callbacks_.erase(it);
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::LoadZvOS(BSTR bsZvOSFileName, long isAsyncRun, long nTimeOut, long* pExitCode) {
    if (!pExitCode)
        return E_POINTER;
    imageFile_ = bsZvOSFileName ? std::wstring(bsZvOSFileName, SysStringLen(bsZvOSFileName)) : std::wstring();
    // A worker that still runs (with its window, or still reading its image) keeps its load.
    if (shared_.window.load() || WorkerAlive()) {
        *pExitCode = kStatusLoadRunning;
        return E_ABORT;
    }
    Cancel(0, -1);
    worker_.Reset();
    ResetEvent(startEvent_.Get());
    ResetEvent(deviceEvent_.Get());
    shared_.cancelRequested = false;
    shared_.status = kStatusRunning;

    auto* context = new (std::nothrow) LoaderThreadContext{&shared_, {imageFile_, usbDeviceId_, timeout_, zvId_}};
    if (!context) {
        *pExitCode = kStatusNoMemory;
        return E_FAIL;
    }
    DWORD threadId = 0;
    worker_.Reset(CreateThread(nullptr, 0, LoadThreadProc, context, CREATE_SUSPENDED, &threadId));
    if (!worker_) {
        *pExitCode = static_cast<long>(GetLastError());
        delete context;
        shared_.status = *pExitCode;
        return E_FAIL;
    }
    ResumeThread(worker_.Get());

    if (isAsyncRun) {
        *pExitCode = 0;
        return S_OK;
    }
    *pExitCode = WaitWithMessagePump(startEvent_.Get(), WaitLimit(nTimeOut)) ? 0 : kStatusWaitTimedOut;
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::WaitForReboot(long nTimeOut, long* pExitCode) {
    if (!pExitCode)
        return E_POINTER;
    if (!WorkerAlive()) {
        *pExitCode = shared_.status;
        return S_OK;
    }
    *pExitCode = WaitWithMessagePump(deviceEvent_.Get(), WaitLimit(nTimeOut)) ? 0 : kStatusWaitTimedOut;
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::CheckForReboot(long nTimeOut, long* pExitCode) {
    return WaitForReboot(nTimeOut, pExitCode);
}

HRESULT ZvUpdate15Object::WaitForWorker(long nTimeOut, bool cancelOnTimeOut, long* pExitCode) {
    if (!pExitCode)
        return E_POINTER;
    if (!WorkerAlive()) {
        *pExitCode = shared_.status;
        return S_OK;
    }
    if (WaitWithMessagePump(worker_.Get(), WaitLimit(nTimeOut))) {
        DWORD exitCode = 0;
        GetExitCodeThread(worker_.Get(), &exitCode);
        *pExitCode = static_cast<long>(exitCode);
        worker_.Reset();
        return S_OK;
    }
    *pExitCode = kStatusWaitTimedOut;
    if (cancelOnTimeOut)
        Cancel(0, -1);
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::WaitForLoadZvOS(long nTimeOut, long* pExitCode) {
    return WaitForWorker(nTimeOut, true, pExitCode);
}

STDMETHODIMP ZvUpdate15Object::CheckForLoadZvOS(long nTimeOut, long* pExitCode) {
    return WaitForWorker(nTimeOut, false, pExitCode);
}

STDMETHODIMP ZvUpdate15Object::Cancel(long isAsyncRun, long nTimeOut) {
    if (!worker_)
        return S_OK;
    // The flag first, then the window: a worker that publishes its window just now sees the flag.
    shared_.cancelRequested = true;
    if (HWND window = shared_.window.load())
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    if (isAsyncRun)
        return S_OK;
    // The time-out is used as given: 0 does not wait, -1 waits without limit. The thread handle
    // is kept until the worker has ended, so that a later wait or release still finds it.
    const DWORD limit = nTimeOut < 0 ? INFINITE : static_cast<DWORD>(nTimeOut);
    if (limit == 0 ? WaitForSingleObject(worker_.Get(), 0) == WAIT_OBJECT_0
                   : WaitWithMessagePump(worker_.Get(), limit))
        worker_.Reset();
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::SendFile(BSTR bsFileName) {
    OsImage image;
    const long read = ReadOsImage(bsFileName ? std::wstring(bsFileName, SysStringLen(bsFileName)) : std::wstring(), image);
    if (read == kStatusNoMemory)
        return E_OUTOFMEMORY;
    if (read != 0)
        return E_INVALIDARG;
    com::UniqueFileHandle device(
        devlink15::OpenUsbDevicePipe(devlink15::UsbInterfaceClass::Loader, "", usbDeviceId_, false));
    if (!device)
        return E_FAIL;
    return SendOsImage(device.Get(), image).accepted ? S_OK : E_FAIL;
}

STDMETHODIMP ZvUpdate15Object::GetStatusCode(long* pStatusCode) {
    if (!pStatusCode)
        return E_POINTER;
    *pStatusCode = shared_.status;
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::get_USBDeviceID(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = usbDeviceId_;
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::put_USBDeviceID(long newVal) {
    usbDeviceId_ = newVal;
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::get_Timeout(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = timeout_;
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::put_Timeout(long newVal) {
    timeout_ = newVal;
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::get_ZvID(BSTR* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = SysAllocStringLen(zvId_.data(), static_cast<UINT>(zvId_.size()));
    return *pVal ? S_OK : E_OUTOFMEMORY;
}
STDMETHODIMP ZvUpdate15Object::put_ZvID(BSTR newVal) {
    if (!newVal)
        return E_INVALIDARG;
    zvId_.assign(newVal, SysStringLen(newVal));
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::get_ShowUpdateWindow(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = shared_.showWindow;
    return S_OK;
}
STDMETHODIMP ZvUpdate15Object::put_ShowUpdateWindow(long newVal) {
    shared_.showWindow = newVal;
    if (HWND window = shared_.window.load())
        PostMessageW(window, kShowLoaderMessage, newVal != 0, 0);
    return S_OK;
}

STDMETHODIMP ZvUpdate15Object::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IZvUpdate15) || IsEqualIID(riid, IID_IZvUpdate152) ? S_OK : S_FALSE;
}

void* ZvUpdate15CallbackObject::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvUpdate15Callback*>(this) : nullptr;
}

} // namespace tv::update
