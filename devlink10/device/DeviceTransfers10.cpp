// The transfers of the 1.0 device object (device to PC, PC to device, copy on the device), the
// progress path from the port's thread to the caller's callback, and the overwrite question.
#include "Devlink10Ids.h"
#include "ZvDevice10.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace devlink10 {
namespace {

constexpr UINT kProgressMessage = WM_APP + 0x110;
constexpr HRESULT kTransferCancelled = 12;
constexpr HRESULT kTransferFailed = 1;
constexpr int kIdPollTries = 10;
enum TransferKind { kExport, kImport, kCopy };

std::string FolderOf(const std::string& path, char separator) {
    const size_t at = path.rfind(separator);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string NameOf(const std::string& path, char separator) {
    const size_t at = path.rfind(separator);
    return at == std::string::npos ? path : path.substr(at + 1);
}

// The PC folder as the request texts want it: without its last backslash (the format adds it).
std::string PcFolderOf(const std::string& path) {
    std::string folder = FolderOf(path, '\\');
    if (!folder.empty())
        folder.pop_back();
    return folder;
}

// A file size as the callback's 32-bit size: a file beyond 2 GiB reports the largest one.
long CallbackSize(LONGLONG size) {
    return static_cast<long>(std::clamp<LONGLONG>(size, 0, LONG_MAX));
}

bool ReadPcFile(const std::string& path, LONGLONG& size, FILETIME& written) {
    tv::com::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length = {};
    if (!file || !::GetFileSizeEx(file.Get(), &length) || !::GetFileTime(file.Get(), nullptr, nullptr, &written))
        return false;
    size = length.QuadPart;
    return true;
}

} // namespace

// --- progress -------------------------------------------------------------------------------

STDMETHODIMP ZvPortProgressSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZvPortUpdateEvent)) {
        *ppv = static_cast<IZvPortUpdateEvent*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_INVALIDARG;
}

STDMETHODIMP ZvPortProgressSink::OnUpdate(BSTR strUpdate, BSTR* pstrReply) {
    HANDLE cancel = device_.CancelEvent();
    if (!cancel)
        return E_POINTER;
    if (device_.CancelSet()) {
        if (pstrReply)
            *pstrReply = nullptr;
        device_.CancelRunningRequest();
        return S_OK;
    }
    if (!strUpdate)
        return S_OK;
    // "<UPDATEMSG>\n|cookie|kind|result|state|text|total|done|"
    std::wstring text(strUpdate, ::SysStringLen(strUpdate));
    if (text.find(L"<UPDATEMSG>") == std::wstring::npos)
        return S_OK;
    std::vector<long> numbers;
    size_t pos = text.find(L'|');
    while (pos != std::wstring::npos) {
        const size_t next = text.find(L'|', pos + 1);
        if (next == std::wstring::npos)
            break;
        numbers.push_back(std::wcstol(text.substr(pos + 1, next - pos - 1).c_str(), nullptr, 10));
        pos = next;
    }
    if (numbers.size() < 7)
        return E_INVALIDARG;
    const long total = numbers[5] == -1 ? 0 : numbers[5];
    const long done = numbers[6] == -1 ? 0 : numbers[6];
    if (total != 0)
        device_.PostProgress(done);
    return S_OK;
}

void ZvDevice10::CancelRunningRequest() {
    tv::com::UniqueBstr empty(::SysAllocString(L""));
    tv::com::UniqueBstr output;
    port_->Cancel(empty.Get(), output.Put());
}

void ZvDevice10::PostProgress(long done) { ::PostMessageA(window_.Get(), kProgressMessage, 0, done); }

LRESULT CALLBACK ZvDevice10::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProgressMessage) {
        if (auto* device = reinterpret_cast<ZvDevice10*>(::GetWindowLongPtrA(window, GWLP_USERDATA)))
            device->OnProgressMessage(static_cast<long>(lParam));
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void ZvDevice10::OnProgressMessage(long done) {
    if (!windowCallback_ && callbackStream_.IsHeld())
        callbackStream_.Unmarshal(&windowCallback_);
    if (windowCallback_) {
        char item[] = "ok";
        windowCallback_->OnItemProgress(item, done);
    }
}

// --- the overwrite question -------------------------------------------------------------------

HRESULT ZvDevice10::ConfirmOverwrite(const std::string& devicePath, const std::string& pcFile) {
    long deviceSize = 0;
    if (LookupItemSize(devicePath, deviceSize) != S_OK || enableUI_ != 1)
        return 1;
    LONGLONG pcSize = 0;
    FILETIME pcTime = {};
    if (!ReadPcFile(pcFile, pcSize, pcTime))
        return E_FAIL;
    const std::string name = NameOf(devicePath, '/');
    uint64_t deviceTime = 0;
    LookupItemTime(devicePath, deviceTime);
    const FILETIME deviceFileTime = {static_cast<DWORD>(deviceTime), static_cast<DWORD>(deviceTime >> 32)};
    SYSTEMTIME listed = {}, written = {};
    FILETIME localPc = {};
    // The device's time as listed; the PC file's in local time.
    ::FileTimeToSystemTime(&deviceFileTime, &listed);
    ::FileTimeToLocalFileTime(&pcTime, &localPc);
    ::FileTimeToSystemTime(&localPc, &written);
    const tv::ConfirmQuestion question{
        tv::OverwriteDetails(devicePath, static_cast<unsigned long>(deviceSize), listed, pcFile,
                             static_cast<unsigned long long>(pcSize), written),
        devicePath, itemCount_};
    return tv::AskOverwrite(answers_, IsSystemFile(name), question);
}

// --- transfers --------------------------------------------------------------------------------

STDMETHODIMP ZvDevice10::ExportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                        long nMaxLen, unsigned char* strError) {
    return RunTransfer(kExport, strSource, strDestination, piCallback, nMaxLen, strError);
}

STDMETHODIMP ZvDevice10::ImportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                        long nMaxLen, unsigned char* strError) {
    return RunTransfer(kImport, strSource, strDestination, piCallback, nMaxLen, strError);
}

STDMETHODIMP ZvDevice10::CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback,
                                      long nMaxLen, unsigned char* strError) {
    return RunTransfer(kCopy, strSrc, strDest, piCallback, nMaxLen, strError);
}

HRESULT ZvDevice10::RunTransfer(int kind, const char* source, const char* destination,
                                IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    auto fail = [&](UINT text, HRESULT hr) {
        CopyError(LangString(text), nMaxLen, strError);
        return hr;
    };
    if (!strError || nMaxLen <= 0)
        return E_INVALIDARG;
    strError[0] = 0;
    if (!source || !*source)
        return fail(IDS_DEVICE10_NO_SOURCE, E_INVALIDARG);
    if (!destination || !*destination)
        return fail(IDS_DEVICE10_NO_DESTINATION, E_INVALIDARG);
    if (!callback)
        return fail(IDS_DEVICE10_NO_CALLBACK, E_INVALIDARG);

    // The device side of the transfer as device paths; their names go into commands.
    std::string deviceSource, deviceDestination;
    if (kind != kImport && !ToDevicePath(source, deviceSource))
        return fail(IDS_DEVICE10_NO_SOURCE, E_INVALIDARG);
    if (kind != kExport && !ToDevicePath(destination, deviceDestination))
        return fail(IDS_DEVICE10_NO_DESTINATION, E_INVALIDARG);
    if (!IsSafeDeviceName(deviceSource) || !IsSafeDeviceName(deviceDestination) ||
        (kind == kImport && std::strchr(source, '|')) || (kind == kExport && std::strchr(destination, '|')))
        return fail(IDS_DEVICE10_BAD_NAME, E_INVALIDARG);

    currentItem_ = source;
    callbackStream_.Marshal(IID_IZvFileOperationCallback, callback);
    windowCallback_.Reset();
    long cookie = -1;
    port_->Advise(static_cast<IZvPortUpdateEvent*>(&sink_), &cookie);
    struct SinkGuard {
        ZvDevice10& self;
        long cookie;
        ~SinkGuard() {
            if (cookie >= 0)
                self.port_->UnAdvise(cookie);
            self.windowCallback_.Reset();
            self.callbackStream_.Release();
        }
    } sinkGuard{*this, cookie};

    if (FAILED(Connect())) {
        Disconnect();
        return fail(IDS_DEVICE10_NO_CONNECTION, kTransferFailed);
    }
    if (!PcModeOn()) {
        PcModeOff();
        Disconnect();
        return fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
    }
    char info[] = "";
    std::string infoText = LangString(IDS_DEVICE10_TRANSFER_INFO);
    HRESULT hr = S_OK;
    std::string reply;

    if (kind == kExport) {
        long size = 0;
        LookupItemSize(deviceSource, size);
        callback->OnItemInit(const_cast<LPSTR>(source), size);
        callback->OnItemInfo(infoText.empty() ? info : infoText.data());
        const std::string pcFile = destination;
        const std::string request = "<RequestReceive>|" + FolderOf(deviceSource, '/') + "|" +
                                    NameOf(deviceSource, '/') + "|\n|" + PcFolderOf(pcFile) + "\\|" +
                                    NameOf(pcFile, '\\') + "|\n";
        const HRESULT sent = Request(request, reply);
        if (sent != S_OK) {
            ::DeleteFileA(pcFile.c_str());
            PcModeOff();
            Disconnect();
            return sent == ZVPORT_E_RESULT(4) ? fail(IDS_DEVICE10_CANCELLED, kTransferCancelled)
                                              : fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
        }
        LONGLONG pcSize = -1;
        FILETIME unused = {};
        ReadPcFile(pcFile, pcSize, unused);
        if (pcSize != size) {
            PcModeOff();
            Disconnect();
            ::DeleteFileA(pcFile.c_str());
            return fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
        }
        PcModeOff();
        uint64_t deviceTime = 0;
        if (LookupItemTime(deviceSource, deviceTime) == S_OK && deviceTime != 0) {
            // The device lists its local time; the file system keeps UTC.
            const FILETIME local = {static_cast<DWORD>(deviceTime), static_cast<DWORD>(deviceTime >> 32)};
            FILETIME utc = {};
            tv::com::UniqueFileHandle file(::CreateFileA(pcFile.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file && ::LocalFileTimeToFileTime(&local, &utc))
                ::SetFileTime(file.Get(), nullptr, nullptr, &utc);
        }
        Disconnect();
        return S_OK;
    }

    if (kind == kImport) {
        const HRESULT question = ConfirmOverwrite(deviceDestination, source);
        if (question == 0) {
            PcModeOff(true);
            Disconnect();
            return S_OK;
        }
        LONGLONG size = 0;
        FILETIME unused = {};
        ReadPcFile(source, size, unused);
        callback->OnItemInit(const_cast<LPSTR>(source), CallbackSize(size));
        callback->OnItemInfo(infoText.empty() ? info : infoText.data());
        const std::string request = "<RequestSend>|" + PcFolderOf(source) + "\\|" + NameOf(source, '\\') + "|\n|" +
                                    FolderOf(deviceDestination, '/') + "|" + NameOf(deviceDestination, '/') + "|\n";
        const HRESULT sent = Request(request, reply);
        if (sent != S_OK) {
            hr = sent == ZVPORT_E_RESULT(4) ? fail(IDS_DEVICE10_CANCELLED, kTransferCancelled)
                                            : fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
        } else {
            // The device stores the file before it answers its console again; the wait is bounded.
            bool answered = false;
            for (int attempt = 0; attempt < kIdPollTries && !answered; ++attempt) {
                ::Sleep(1000);
                answered = Request("<Command>|id|", reply) == S_OK;
            }
            if (!answered)
                hr = fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
        }
        PcModeOff(true);
        Disconnect();
        return hr;
    }

    long size = 0;
    LookupItemSize(deviceSource, size);
    callback->OnItemInit(const_cast<LPSTR>(source), size);
    callback->OnItemInfo(infoText.empty() ? info : infoText.data());
    const HRESULT sent = Request("<Command>|cp -f \"" + deviceSource + "\" \"" + deviceDestination + "\"|>", reply);
    if (sent != S_OK)
        hr = sent == ZVPORT_E_RESULT(4) ? fail(IDS_DEVICE10_CANCELLED, kTransferCancelled)
                                        : fail(IDS_DEVICE10_TRANSFER_FAILED, kTransferFailed);
    else if (ReplyReportsFailure(reply))
        hr = fail(IDS_DEVICE10_DEVICE_REFUSED, kTransferFailed);
    PcModeOff();
    Disconnect();
    return hr;
}

} // namespace devlink10
