#include "ZvPort15.h"

#include "AnsiText.h"
#include "LanguageLibrary.h"
#include "UsbDevices.h"
#include "WinMcpPlatform.h"

#include <algorithm>
#include <vector>

namespace devlink15 {
namespace {

constexpr int kConsolePipe = 1;
constexpr int kKeepAlivePipe = 5;
constexpr int kCopyReplyPipe = 15;
constexpr int kSendFilePipe = 100;
constexpr int kUploadFilePipe = 101;
constexpr uint32_t kConsoleTimeoutMs = 5000;
constexpr uint32_t kReplyTimeoutMs = 1000;
constexpr uint32_t kKeepAliveTimeoutMs = 1000;
constexpr uint32_t kSendFileTimeoutMs = 5000;
constexpr uint32_t kUploadFileTimeoutMs = 7000;
constexpr uint32_t kDisconnectTimeoutMs = 10;
constexpr DWORD kCommandFlushPauseMs = 400;
constexpr DWORD kAfterFlushPauseMs = 400;
constexpr DWORD kCopyFlushPauseMs = 100;
constexpr DWORD kCancelPauseMs = 700;
constexpr DWORD kDisconnectWaitMs = 10000;
constexpr DWORD kKeepAlivePeriodMs = 1000;
constexpr int kReplyPieceSize = 200; // 199 characters and the terminator
constexpr int kTransferPiece = 256;
constexpr int kMaxEmptyReplyReads = 10;
constexpr int kMaxFailedWrites = 2;

constexpr UINT kIdsCannotCreateFile = 12400;
constexpr UINT kIdsNoConsolePipe = 20009;

// The command texts callers pass; one that begins with its terminator is empty.
std::string Narrow(BSTR text) { return text && *text ? tv::com::ToAnsi(text) : std::string(); }

void SetReply(BSTR* reply, const std::string& text) {
    if (reply == nullptr)
        return;
    SysFreeString(*reply);
    tv::com::AnsiToBstr(text, reply);
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// A text of the language library, or the fallback when the library or the string is missing.
std::string LanguageString(UINT id, const char* fallback) {
    tv::com::UniqueModule library(tv::LoadLanguageLibrary(ThisModule()));
    char text[512] = {};
    if (library && LoadStringA(library.Get(), id, text, sizeof(text)) > 0)
        return text;
    return fallback;
}

// The number after "$pipe=", up to the next blank; 1 (the console itself) when there is none.
int ReplyPipeNumber(const std::string& command) {
    const std::string key = "$pipe=";
    const size_t at = command.find(key);
    if (at == std::string::npos)
        return kConsolePipe;
    const size_t first = at + key.size();
    const size_t end = command.find(' ', first);
    const std::string digits =
        command.substr(first, end == std::string::npos ? std::string::npos : end - first);
    if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return -1;
    return std::stoi(digits);
}

bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& contents) {
    tv::com::UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF)
        return false;
    contents.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < contents.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1 << 20));
        if (!ReadFile(file.Get(), contents.data() + done, want, &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

// The file an export writes into: beside the destination, renamed over it only on success.
class ExportTarget {
  public:
    explicit ExportTarget(const std::wstring& destination) : destination_(destination) {
        temporary_ = destination + L".zvpart";
        file_.Reset(CreateFileW(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    ~ExportTarget() {
        if (!committed_) {
            file_.Reset();
            DeleteFileW(temporary_.c_str());
        }
    }
    ExportTarget(const ExportTarget&) = delete;
    ExportTarget& operator=(const ExportTarget&) = delete;

    bool IsOpen() const { return static_cast<bool>(file_); }
    bool Write(const uint8_t* bytes, DWORD count) {
        DWORD written = 0;
        return WriteFile(file_.Get(), bytes, count, &written, nullptr) && written == count;
    }
    bool Commit() {
        file_.Reset();
        committed_ = MoveFileExW(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        return committed_;
    }

  private:
    std::wstring destination_;
    std::wstring temporary_;
    tv::com::UniqueFileHandle file_;
    bool committed_ = false;
};

} // namespace

ZvPort15::ZvPort15() = default;

ZvPort15::~ZvPort15() {
    JoinDisconnectThread();
    DisconnectNow();
}

HRESULT ZvPort15::FinalConstruct() {
    promptEvent_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    stopEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    disconnectDone_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    return promptEvent_ && stopEvent_ && disconnectDone_ ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------------------------
// Connection

STDMETHODIMP ZvPort15::Connect(long nPort) {
    JoinDisconnectThread();
    if (running_)
        return S_OK; // already connected: the threads run once
    UsbDeviceInfo info;
    if (!QueryUsbDeviceInfo(nPort, info))
        return E_FAIL;
    {
        auto locks = LockAll();
        deviceId_ = info.deviceId;
        if (!link_) {
            link_ = std::make_unique<XMCPLink>(WinMcpPlatform::Instance());
            link_->ConnectMcpLink(nPort);
        }
        ForgetConsoleLocked();
        if (!link_->IsConnected()) {
            link_.reset();
            return E_FAIL;
        }
        console_ = link_->PipeFactory().OpenPipe("std", kConsolePipe);
        if (console_ == nullptr || console_->IsClosed()) {
            ForgetConsoleLocked();
            link_.reset();
            return E_FAIL;
        }
        consoleIn_ = &console_->Input();
        consoleIn_->SetTimeout(kConsoleTimeoutMs);
        consoleIn_->SendMcpReset();
        Sleep(100);
        consoleOut_ = &console_->Output();
        consoleOut_->SetTimeout(kConsoleTimeoutMs);
        consoleOut_->SendMcpReset();
    }
    running_ = true;
    if (!QueryUsbDeviceInfo(nPort, info)) {
        DisconnectNow();
        return E_FAIL;
    }
    shortId_ = info.shortId;
    deviceNumber_ = nPort;
    ResetEvent(stopEvent_.Get());
    try {
        reader_ = std::thread(&ZvPort15::ConsoleReaderProc, this);
        keepAlive_ = std::thread(&ZvPort15::KeepAliveProc, this);
    } catch (const std::system_error&) {
        DisconnectNow();
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP ZvPort15::Disconnect(BSTR* pstrOutput) {
    {
        std::lock_guard lock(disconnectThreadMutex_);
        if (disconnectThread_.joinable())
            disconnectThread_.join();
        ResetEvent(disconnectDone_.Get());
        try {
            disconnectThread_ = std::thread([this] {
                DisconnectNow();
                SetEvent(disconnectDone_.Get());
            });
        } catch (const std::system_error&) {
            DisconnectNow();
            SetEvent(disconnectDone_.Get());
        }
    }
    if (pstrOutput == nullptr)
        WaitForSingleObject(disconnectDone_.Get(), kDisconnectWaitMs);
    return S_OK;
}

void ZvPort15::JoinDisconnectThread() {
    std::lock_guard lock(disconnectThreadMutex_);
    if (disconnectThread_.joinable())
        disconnectThread_.join();
}

void ZvPort15::ForgetConsoleLocked() {
    if (console_ && link_)
        link_->PipeFactory().ClosePipe(console_);
    console_ = nullptr;
    consoleIn_ = nullptr;
    consoleOut_ = nullptr;
}

void ZvPort15::DisconnectNow() {
    running_ = false;
    SetEvent(stopEvent_.Get());
    {
        // The link goes down first, so that the background threads' waits end at once.
        ConsoleLock lock(consoleMutex_);
        if (consoleIn_)
            consoleIn_->SetTimeout(kDisconnectTimeoutMs);
        if (consoleOut_)
            consoleOut_->SetTimeout(kDisconnectTimeoutMs);
        if (link_)
            link_->DisconnectMcpLink();
    }
    if (reader_.joinable())
        reader_.join();
    if (keepAlive_.joinable())
        keepAlive_.join();
    std::unique_lock operations(operationMutex_);
    auto locks = LockAll();
    ForgetConsoleLocked();
    link_.reset();
}

// ---------------------------------------------------------------------------------------------
// Console commands

bool ZvPort15::HasConsoleOutput() {
    ConsoleLock lock(consoleMutex_);
    return consoleOut_ != nullptr;
}

PipeRecord* ZvPort15::OpenPortPipe(const char* name, int number, uint32_t timeoutMs) {
    ConsoleLock lock(consoleMutex_);
    if (!link_)
        return nullptr;
    PipeRecord* pipe = link_->PipeFactory().OpenPipe(name, number);
    if (pipe) {
        pipe->Input().SetTimeout(timeoutMs);
        pipe->Output().SetTimeout(timeoutMs);
    }
    return pipe;
}

void ZvPort15::ClosePortPipe(PipeRecord* pipe) {
    ConsoleLock lock(consoleMutex_);
    if (pipe && link_)
        link_->PipeFactory().ClosePipe(pipe);
}

bool ZvPort15::SendConsoleLine(const std::string& line, DWORD pauseBeforeFlushMs) {
    const int length = static_cast<int>(line.size()) + 1; // with its zero byte
    {
        ConsoleLock lock(consoleMutex_);
        if (!consoleOut_)
            return false;
        if (consoleOut_->Write(reinterpret_cast<const uint8_t*>(line.c_str()), length) != length) {
            consoleOut_->Reset();
            consoleOut_->SendMcpReset();
            return false;
        }
    }
    Sleep(pauseBeforeFlushMs);
    ConsoleLock lock(consoleMutex_);
    if (!consoleOut_)
        return false;
    if (!consoleOut_->FlushOutputPipe()) {
        consoleOut_->Reset();
        consoleOut_->SendMcpReset();
        return false;
    }
    return true;
}

bool ZvPort15::DeviceIsGone() {
    const int number = FindDeviceById(deviceId_);
    return number < 0 || FindDeviceClassByIndex(number) != static_cast<int>(UsbInterfaceClass::Device);
}

HRESULT ZvPort15::CollectReply(PipeRecord* reply, std::string& text) {
    int failures = 0;
    char piece[kReplyPieceSize];
    for (;;) {
        int length = 0;
        {
            ConsoleLock lock(consoleMutex_);
            length = reply->Input().ReadString(piece, kReplyPieceSize);
        }
        if (length > 0) {
            text.append(piece, static_cast<size_t>(length));
            continue;
        }
        // What arrived before the device closed the pipe has been taken: the reply is complete.
        if (reply->IsClosed())
            return S_OK;
        ++failures;
        if (DeviceIsGone() || failures > kMaxEmptyReplyReads)
            return E_FAIL;
    }
}

STDMETHODIMP ZvPort15::Command(BSTR strCommand, BSTR* strResponce) {
    std::shared_lock operation(operationMutex_);
    if (strResponce == nullptr)
        return E_POINTER;
    *strResponce = SysAllocString(L"");
    if (!HasConsoleOutput()) {
        SetReply(strResponce, LanguageString(kIdsNoConsolePipe, "The device's console is not open."));
        return E_FAIL;
    }
    const std::string command = Narrow(strCommand);
    PipeRecord* reply = OpenPortPipe("std", ReplyPipeNumber(command), kReplyTimeoutMs);
    if (reply == nullptr)
        return E_FAIL;
    if (!SendConsoleLine(command, kCommandFlushPauseMs)) {
        ClosePortPipe(reply);
        return E_FAIL;
    }
    if (command.compare(0, 6, "reboot") == 0) {
        ClosePortPipe(reply); // the device does not answer
        return S_OK;
    }
    std::string text;
    const HRESULT hr = CollectReply(reply, text);
    ClosePortPipe(reply);
    if (SUCCEEDED(hr))
        SetReply(strResponce, text);
    return hr;
}

STDMETHODIMP ZvPort15::Copy(BSTR strSource, BSTR strDestination, BSTR* strResponce) {
    std::shared_lock operation(operationMutex_);
    if (strResponce == nullptr)
        return E_POINTER;
    *strResponce = SysAllocString(L"");
    const std::string command =
        "cp $pipe=15 -f \"" + Narrow(strSource) + "\" \"" + Narrow(strDestination) + "\" ";
    if (!HasConsoleOutput()) {
        SetReply(strResponce, LanguageString(kIdsNoConsolePipe, "The device's console is not open."));
        return E_FAIL;
    }
    PipeRecord* reply = OpenPortPipe("std", kCopyReplyPipe, kReplyTimeoutMs);
    if (reply == nullptr)
        return E_FAIL;
    if (!SendConsoleLine(command, kCopyFlushPauseMs)) {
        ClosePortPipe(reply);
        return S_FALSE;
    }
    Sleep(kAfterFlushPauseMs);
    std::string text;
    const HRESULT hr = CollectReply(reply, text);
    ClosePortPipe(reply);
    if (SUCCEEDED(hr))
        SetReply(strResponce, text);
    return hr;
}

// ---------------------------------------------------------------------------------------------
// Transfers

bool ZvPort15::CancelRequested() {
    HANDLE* reference = cancelEvent_;
    return reference && *reference && WaitForSingleObject(*reference, 0) == WAIT_OBJECT_0;
}

void ZvPort15::ReportInit(const std::string& text, long size) {
    for (auto& callback : callbacks_)
        if (callback)
            callback->OnItemInit(const_cast<LPSTR>(text.c_str()), size);
}

void ZvPort15::ReportProgress(const std::string& text, long bytes) {
    for (auto& callback : callbacks_)
        if (callback)
            callback->OnItemProgress(const_cast<LPSTR>(text.c_str()), bytes);
}

STDMETHODIMP ZvPort15::Import(BSTR strSourceName, BSTR strDestinationName, BSTR*, BSTR strAdditional) {
    std::shared_lock operation(operationMutex_);
    std::vector<uint8_t> contents;
    if (strSourceName == nullptr || !ReadWholeFile(strSourceName, contents))
        return S_FALSE;
    if (!HasConsoleOutput())
        return S_FALSE;
    const std::string destination = Narrow(strDestinationName);
    const std::string command =
        "rcv $data_pipe=100 \"" + destination + "\" " + std::to_string(contents.size());
    if (!SendConsoleLine(command, 0))
        return S_FALSE;
    Sleep(kAfterFlushPauseMs);
    {
        ConsoleLock lock(consoleMutex_);
        if (!link_)
            return E_FAIL;
    }
    PipeRecord* data = OpenPortPipe("send file pipe", kSendFilePipe, kSendFileTimeoutMs);
    if (data == nullptr)
        return S_FALSE;
    if (data->IsClosed()) {
        ClosePortPipe(data);
        return S_FALSE;
    }
    ReportInit(Narrow(strAdditional), static_cast<long>(contents.size()));

    const size_t size = contents.size();
    size_t offset = 0;
    int failures = 0;
    bool dataPipeClosed = false;
    while (offset < size) {
        const int piece = static_cast<int>(std::min<size_t>(kTransferPiece, size - offset));
        int accepted = 0;
        {
            ConsoleLock lock(consoleMutex_);
            accepted = data->Output().Write(contents.data() + offset, piece);
        }
        if (data->IsClosed()) {
            dataPipeClosed = true;
            break;
        }
        if (accepted <= 0) {
            if (DeviceIsGone() || ++failures > kMaxFailedWrites) {
                ClosePortPipe(data);
                return E_FAIL;
            }
            continue;
        }
        failures = 0;
        ReportProgress(destination, static_cast<long>(offset));
        offset += static_cast<size_t>(accepted);
        if (CancelRequested()) {
            ClosePortPipe(data);
            Sleep(kCancelPauseMs);
            return E_PENDING;
        }
    }
    bool flushed = false;
    if (!dataPipeClosed) {
        ConsoleLock lock(consoleMutex_);
        flushed = data->Output().FlushOutputPipe();
    }
    ClosePortPipe(data);
    return !dataPipeClosed && flushed ? S_OK : S_FALSE;
}

STDMETHODIMP ZvPort15::Export(BSTR strSourceName, BSTR strDestinationName, BSTR* pstrResponse,
                              BSTR strAdditional) {
    std::shared_lock operation(operationMutex_);
    if (pstrResponse)
        *pstrResponse = SysAllocString(L"");
    const std::wstring pcPath = strDestinationName ? strDestinationName : L"";
    const std::string source = Narrow(strSourceName);
    ExportTarget target(pcPath);
    if (pcPath.empty() || !target.IsOpen()) {
        char text[1024];
        const std::string format = LanguageString(kIdsCannotCreateFile, "Cannot create the file %s.");
        snprintf(text, sizeof(text), format.c_str(), Narrow(strDestinationName).c_str());
        SetReply(pstrResponse, text);
        return E_FAIL;
    }
    if (!HasConsoleOutput()) {
        SetReply(pstrResponse, LanguageString(kIdsNoConsolePipe, "The device's console is not open."));
        return E_FAIL;
    }
    if (!SendConsoleLine("upl $data_pipe=101 \"" + source + "\" ", 0))
        return E_FAIL;
    Sleep(kAfterFlushPauseMs);
    {
        ConsoleLock lock(consoleMutex_);
        if (!link_)
            return E_FAIL;
    }
    PipeRecord* data = OpenPortPipe("file upload pipe", kUploadFilePipe, kUploadFileTimeoutMs);
    if (data == nullptr)
        return E_FAIL;
    IInputPipe& input = data->Input();
    const auto status = input.ReadWord();
    const auto announced = status && *status == 0 ? input.ReadLong() : std::nullopt;
    if (!announced || *announced > 0x7FFFFFFF) {
        ClosePortPipe(data);
        return E_FAIL;
    }
    const size_t size = *announced;
    ReportInit(Narrow(strAdditional), static_cast<long>(size));

    size_t received = 0;
    uint8_t piece[kTransferPiece];
    HRESULT hr = S_OK;
    while (received < size) {
        const int want = static_cast<int>(std::min<size_t>(kTransferPiece, size - received));
        const int got = input.Read(piece, want);
        if (got > 0 && !target.Write(piece, static_cast<DWORD>(got))) {
            SetReply(pstrResponse, "File " + source + " can't write");
            hr = S_FALSE;
            break;
        }
        if (got != want) {
            hr = E_FAIL; // the device closed the pipe or went silent before the announced size
            break;
        }
        received += static_cast<size_t>(got);
        ReportProgress(source, static_cast<long>(received));
        if (CancelRequested()) {
            ClosePortPipe(data);
            Sleep(kCancelPauseMs);
            return E_PENDING;
        }
    }
    ClosePortPipe(data);
    if (hr == S_OK && !target.Commit()) {
        SetReply(pstrResponse, "File " + source + " can't write");
        hr = S_FALSE;
    }
    return hr;
}

// ---------------------------------------------------------------------------------------------
// Callbacks and the small operations

STDMETHODIMP ZvPort15::Advise(IUnknown* piUpdateEvent, long* pdwCookie) {
    if (piUpdateEvent == nullptr || pdwCookie == nullptr)
        return E_POINTER;
    tv::com::ComPtr<IZvFileOperationCallback> callback;
    if (FAILED(piUpdateEvent->QueryInterface(IID_IZvFileOperationCallback,
                                             reinterpret_cast<void**>(callback.ReleaseAndGetAddressOf()))) ||
        !callback)
        return E_POINTER;
    *pdwCookie = static_cast<long>(callbacks_.size());
    callbacks_.push_back(std::move(callback));
    return S_OK;
}

STDMETHODIMP ZvPort15::UnAdvise(long dwCookie) {
    if (dwCookie < 0 || static_cast<size_t>(dwCookie) >= callbacks_.size())
        return E_INVALIDARG;
    callbacks_[static_cast<size_t>(dwCookie)].Reset();
    return S_OK;
}

STDMETHODIMP ZvPort15::GetInfo(BSTR* pstrOutput) {
    if (pstrOutput == nullptr)
        return E_POINTER;
    *pstrOutput = SysAllocString(L"Information...is coming soon!!!");
    return S_OK;
}

STDMETHODIMP ZvPort15::SetParam(BSTR) {
    return S_OK;
}

STDMETHODIMP ZvPort15::Cancel(LONG_PTR ptrDie) {
    cancelEvent_ = reinterpret_cast<HANDLE*>(ptrDie);
    return S_OK;
}

STDMETHODIMP ZvPort15::SetChannels(int, int, int, int, BSTR* strOut) {
    if (strOut == nullptr)
        return E_POINTER;
    *strOut = SysAllocString(L"Success!!!");
    return S_OK;
}

STDMETHODIMP ZvPort15::GetDeviceState(long nPort) {
    return static_cast<HRESULT>(FindDeviceClassByIndex(nPort));
}

// ---------------------------------------------------------------------------------------------
// Background threads

bool ZvPort15::WaitForStop(DWORD milliseconds) {
    return WaitForSingleObject(stopEvent_.Get(), milliseconds) == WAIT_OBJECT_0;
}

void ZvPort15::ConsoleReaderProc() {
    char piece[kReplyPieceSize];
    while (running_) {
        int length = 0;
        {
            std::lock_guard lock(readerMutex_);
            if (!consoleIn_ || !link_ || link_->Demux().IsMcpLinkDown())
                return; // the console is gone, or the link below gave up on the device
            length = consoleIn_->ReadString(piece, kReplyPieceSize);
        }
        if (!running_)
            return;
        if (length == 0) {
            const int count = CountUsbDevices();
            if (count < 1)
                return;
            int found = -1;
            for (int number = 0; number < count && found < 0; ++number) {
                UsbDeviceInfo info;
                if (QueryUsbDeviceInfo(number, info) && info.shortId == shortId_)
                    found = number;
            }
            if (found < 0)
                return;
            deviceNumber_ = found;
            continue;
        }
        for (int i = 0; i < length; ++i) {
            if (piece[i] == '\n')
                consoleText_.push_back('\r');
            consoleText_.push_back(piece[i]);
        }
        if (consoleText_.find("Ready >") != std::string::npos) {
            consoleText_.clear();
            SetEvent(promptEvent_.Get());
        }
    }
}

bool ZvPort15::KeepAliveDeviceStillThere() {
    const int number = FindDeviceById(deviceId_);
    return number >= 0 && FindDeviceClassByIndex(number) == static_cast<int>(UsbInterfaceClass::Device);
}

void ZvPort15::KeepAliveProc() {
    PipeRecord* pipe = nullptr;
    auto open = [this, &pipe] {
        std::lock_guard lock(keepAliveMutex_);
        if (pipe && link_)
            link_->PipeFactory().ClosePipe(pipe);
        pipe = link_ ? link_->PipeFactory().OpenPipe("std", kKeepAlivePipe) : nullptr;
        if (pipe) {
            pipe->Input().SetTimeout(kKeepAliveTimeoutMs);
            pipe->Output().SetTimeout(kKeepAliveTimeoutMs);
        }
        return pipe != nullptr;
    };
    if (!open() || !pipe->HasOutput()) {
        std::lock_guard lock(keepAliveMutex_);
        if (pipe && link_)
            link_->PipeFactory().ClosePipe(pipe);
        return;
    }
    while (running_) {
        if (pipe == nullptr || pipe->IsClosed()) {
            if (!open()) {
                if (WaitForStop(kKeepAlivePeriodMs) || !KeepAliveDeviceStillThere())
                    break;
                continue;
            }
        }
        bool sent = false;
        {
            std::lock_guard lock(keepAliveMutex_);
            sent = pipe->Output().WriteByte(0xAA) && pipe->Output().FlushOutputPipe();
        }
        if (!sent && (!running_ || !KeepAliveDeviceStillThere()))
            break;
        if (WaitForStop(kKeepAlivePeriodMs))
            break;
    }
    std::lock_guard lock(keepAliveMutex_);
    if (pipe && link_)
        link_->PipeFactory().ClosePipe(pipe);
}

} // namespace devlink15
