#include "ZvSerialPort.h"
#include <algorithm>
#include <cstdio>

using namespace zvport;
using tv::com::CriticalSectionLock;
using tv::com::UniqueFileHandle;
using tv::com::UniqueHandle;

namespace devlink10 {
namespace {

constexpr DWORD kStopWaitMs = 30000;      // for a running request or a thread to end
constexpr DWORD kWriteBaseWaitMs = 5000;  // plus the line time of the bytes written
constexpr DWORD kCancelWaitMs = 2000;     // for a cancelled port read to complete
constexpr DWORD kReceivePollMs = 2;       // between looks at an empty receive queue

UniqueHandle ManualEvent() { return UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

bool IsSet(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

} // namespace

PortRequest::PortRequest(RequestKind kind) : PortRequestData(kind), completion_(ManualEvent()) {}

// The services the procedures use, bound to the engine and its running request.
class ZvSerialPort::Link : public ProcedureLink {
public:
    Link(ZvSerialPort& port, PortRequest& request) : port_(port), request_(request) {}

    uint32_t Write(std::span<const uint8_t> bytes) override { return port_.WritePort(bytes); }
    std::optional<DeviceMessage> TakeMessage(uint32_t timeoutMs, bool watchAbort) override {
        return port_.TakeMessage(timeoutMs, watchAbort);
    }
    bool WaitForAbort(uint32_t ms) override {
        HANDLE events[] = {port_.abortEvent_.Get(), port_.shutdownEvent_.Get()};
        return ::WaitForMultipleObjects(2, events, FALSE, ms) != WAIT_TIMEOUT;
    }
    void ResetAbort() override { ::ResetEvent(port_.abortEvent_.Get()); }
    void SetState(RequestState state) override {
        CriticalSectionLock guard(port_.lock_);
        request_.state = state;
    }
    void ResetBlockAccumulator() override {
        CriticalSectionLock guard(port_.lock_);
        port_.parser_.Reset();
    }
    void ReportProgress() override { request_.ReportProgress(); }
    uint64_t NowMs() override { return ::GetTickCount64(); }

private:
    ZvSerialPort& port_;
    PortRequest& request_;
};

// PC files through the ANSI file API. A received file is written beside its final name and
// takes that name only when the transfer succeeded.
class ZvSerialPort::WindowsFiles : public FileAccess {
public:
    class Source : public SourceFile {
    public:
        explicit Source(UniqueFileHandle file) : file_(std::move(file)) {}
        uint32_t Position() const override { return position_; }
        bool Seek(uint32_t offset) override {
            LARGE_INTEGER to{};
            to.QuadPart = offset;
            if (!::SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN))
                return false;
            position_ = offset;
            return true;
        }
        bool Read(std::span<uint8_t> into) override {
            DWORD got = 0;
            if (!::ReadFile(file_.Get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr) ||
                got != into.size())
                return false;
            position_ += got;
            return true;
        }

    private:
        UniqueFileHandle file_;
        uint32_t position_ = 0;
    };

    class Target : public TargetFile {
    public:
        Target(UniqueFileHandle file, std::string temporary, std::string final)
            : file_(std::move(file)), temporary_(std::move(temporary)), final_(std::move(final)) {}
        ~Target() override {
            if (file_) {
                file_.Reset();
                ::DeleteFileA(temporary_.c_str());
            }
        }
        bool Write(std::span<const uint8_t> bytes) override {
            DWORD written = 0;
            return ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size();
        }
        bool Commit() override {
            file_.Reset();
            if (::MoveFileExA(temporary_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING))
                return true;
            ::DeleteFileA(temporary_.c_str());
            return false;
        }

    private:
        UniqueFileHandle file_;
        std::string temporary_;
        std::string final_;
    };

    std::optional<uint32_t> FindSize(const std::string& path) override {
        WIN32_FIND_DATAA data{};
        HANDLE find = ::FindFirstFileA(path.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return std::nullopt;
        ::FindClose(find);
        return data.nFileSizeLow;
    }
    std::unique_ptr<SourceFile> OpenSource(const std::string& path, uint32_t& error) override {
        UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = ::GetLastError() == ERROR_ACCESS_DENIED ? win32::kAccessDenied : win32::kFileNotFound;
            return nullptr;
        }
        return std::make_unique<Source>(std::move(file));
    }
    std::unique_ptr<TargetFile> CreateTarget(const std::string& path) override {
        std::string temporary = path + ".zvpart";
        UniqueFileHandle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return nullptr;
        return std::make_unique<Target>(std::move(file), std::move(temporary), path);
    }
};

ZvSerialPort::ZvSerialPort()
    : queueEvent_(ManualEvent()), shutdownEvent_(ManualEvent()), abortEvent_(ManualEvent()),
      doneEvent_(ManualEvent()), messageEvent_(ManualEvent()) {}

ZvSerialPort::~ZvSerialPort() { Close(); }

bool ZvSerialPort::Open(int portNumber, DWORD baudRate) {
    Close();
    DWORD error = 0;
    char name[32];
    std::snprintf(name, sizeof name, "com%d", portNumber);
    COMMCONFIG config{};
    DWORD configSize = sizeof config;
    config.dwSize = sizeof config;
    if (!::GetDefaultCommConfigA(name, &config, &configSize)) {
        error = ::GetLastError();
    } else {
        std::snprintf(name, sizeof name, "\\\\.\\com%d", portNumber);
        port_.Reset(::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
        readEvent_ = ManualEvent();
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        COMMTIMEOUTS timeouts{};
        bool configured = port_ && readEvent_ && ::GetCommState(port_.Get(), &dcb);
        if (configured) {
            dcb.ByteSize = 8;
            dcb.Parity = NOPARITY;
            dcb.StopBits = ONESTOPBIT;
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
            dcb.fAbortOnError = FALSE;
            dcb.BaudRate = baudRate;
            configured = ::SetCommState(port_.Get(), &dcb) && ::GetCommTimeouts(port_.Get(), &timeouts) &&
                         ::EscapeCommFunction(port_.Get(), CLRRTS);
        }
        if (configured) {
            timeouts.ReadIntervalTimeout = 0;
            timeouts.ReadTotalTimeoutMultiplier = 0;
            timeouts.ReadTotalTimeoutConstant = 0;
            configured = ::SetCommTimeouts(port_.Get(), &timeouts) &&
                         ::SetCommMask(port_.Get(), EV_RXCHAR | EV_RXFLAG | EV_ERR);
        }
        if (!configured)
            error = ::GetLastError() ? ::GetLastError() : ERROR_GEN_FAILURE;
    }
    if (error == 0) {
        portNumber_ = portNumber;
        baudRate_ = baudRate;
        receiver_.Reset(::CreateThread(nullptr, 0, &ReceiverMain, this, CREATE_SUSPENDED, nullptr));
        if (receiver_)
            dispatcher_.Reset(::CreateThread(nullptr, 0, &DispatcherMain, this, CREATE_SUSPENDED, &dispatcherId_));
        if (!receiver_ || !dispatcher_)
            error = ::GetLastError();
        else if (::ResumeThread(receiver_.Get()) == static_cast<DWORD>(-1) ||
                 ::ResumeThread(dispatcher_.Get()) == static_cast<DWORD>(-1))
            error = ::GetLastError();
    }
    if (error != 0) {
        Close();
        lastError_ = error;
        return false;
    }
    lastError_ = 0;
    return true;
}

void ZvSerialPort::Close() {
    ::SetEvent(shutdownEvent_.Get());
    CancelAll();
    if (port_)
        ::CancelIoEx(port_.Get(), nullptr);
    for (auto* thread : {&receiver_, &dispatcher_}) {
        if (!*thread)
            continue;
        if (::ResumeThread(thread->Get()) != static_cast<DWORD>(-1) &&
            ::WaitForSingleObject(thread->Get(), kStopWaitMs) == WAIT_TIMEOUT)
            ::OutputDebugStringA("ZvSerialPort: a thread did not stop in time\n");
        thread->Reset();
    }
    dispatcherId_ = 0;
    port_.Reset();
    readEvent_.Reset();
    {
        CriticalSectionLock guard(lock_);
        parser_.Reset();
        running_.reset();
    }
    ClearMessages();
    portNumber_ = 0;
    lastError_ = win32::kInvalidHandle;
    ::ResetEvent(shutdownEvent_.Get());
}

void ZvSerialPort::CancelAll() {
    std::list<RequestPtr> cancelled;
    bool waitForRunning = false;
    {
        CriticalSectionLock guard(lock_);
        cancelled.swap(queue_);
        if (running_) {
            ::SetEvent(abortEvent_.Get());
            waitForRunning = true;
        }
    }
    for (auto& request : cancelled) {
        request->Fail(ResultClass::Cancelled, win32::kCancelled);
        request->owner_ = nullptr;
        request->ReportProgress();
        ::SetEvent(request->completion_.Get());
    }
    if (waitForRunning && ::GetCurrentThreadId() != dispatcherId_) {
        HANDLE events[] = {doneEvent_.Get(), dispatcher_.Get()};
        ::WaitForMultipleObjects(2, events, FALSE, kStopWaitMs);
    }
}

bool ZvSerialPort::Submit(const RequestPtr& request) {
    ::ResetEvent(request->completion_.Get());
    request->owner_ = this;
    if (lastError_ != 0) {
        request->error = lastError_;
        request->resultClass = ResultClass::PortNotOpen;
        request->state = RequestState::New;
        request->ReportProgress();
        request->owner_ = nullptr;
        return false;
    }
    {
        CriticalSectionLock guard(lock_);
        if (std::find(queue_.begin(), queue_.end(), request) != queue_.end() || running_ == request)
            return false;
        request->ClearOutcome();
        request->state = RequestState::New;
        if (request->IsFileRequest())
            request->totalBytes = request->bytesDone = request->blockNumber = request->resendCount = 0;
    }
    request->ReportProgress();
    CriticalSectionLock guard(lock_);
    request->state = RequestState::Queued;
    auto place = queue_.end();
    while (place != queue_.begin() && std::prev(place)->get()->priority < request->priority)
        --place;
    queue_.insert(place, request);
    ::SetEvent(queueEvent_.Get());
    return true;
}

bool ZvSerialPort::Wait(const RequestPtr& request) {
    if (!Submit(request))
        return false;
    HANDLE events[] = {request->completion_.Get(), dispatcher_.Get()};
    DWORD limit = waitLimitMs_ ? waitLimitMs_ : INFINITE;
    if (::WaitForMultipleObjects(2, events, FALSE, limit) != WAIT_OBJECT_0) {
        Cancel(request);
        if (request->Succeeded())
            request->Fail(ResultClass::TimedOut, win32::kTimeout);
    }
    return request->Succeeded();
}

void ZvSerialPort::Cancel(const RequestPtr& request) {
    {
        CriticalSectionLock guard(lock_);
        if (request->owner_ != this)
            return;
        if (running_ == request) {
            ::SetEvent(abortEvent_.Get());
            if (::GetCurrentThreadId() == dispatcherId_)
                return;
            ::ResetEvent(doneEvent_.Get());
        } else {
            queue_.remove(request);
            request->Fail(ResultClass::Cancelled, win32::kCancelled);
            request->owner_ = nullptr;
        }
    }
    if (request->owner_ == nullptr) {
        request->ReportProgress();
        ::SetEvent(request->completion_.Get());
        return;
    }
    HANDLE events[] = {doneEvent_.Get(), dispatcher_.Get()};
    ::WaitForMultipleObjects(2, events, FALSE, kStopWaitMs);
}

RequestPtr ZvSerialPort::RunningRequest() {
    CriticalSectionLock guard(lock_);
    return running_;
}

DWORD ZvSerialPort::ReceiveQueueSize() const {
    COMMPROP properties{};
    if (!port_ || !::GetCommProperties(port_.Get(), &properties))
        return 0;
    return properties.dwCurrentRxQueue;
}

DWORD WINAPI ZvSerialPort::ReceiverMain(void* self) {
    static_cast<ZvSerialPort*>(self)->ReceiveLoop();
    return 0;
}

DWORD WINAPI ZvSerialPort::DispatcherMain(void* self) {
    static_cast<ZvSerialPort*>(self)->DispatchLoop();
    return 0;
}

bool ZvSerialPort::WaitForOverlapped(OVERLAPPED& ov, DWORD& transferred) {
    HANDLE events[] = {ov.hEvent, shutdownEvent_.Get()};
    if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIoEx(port_.Get(), &ov);
        if (::WaitForSingleObject(ov.hEvent, kCancelWaitMs) == WAIT_OBJECT_0)
            ::GetOverlappedResult(port_.Get(), &ov, &transferred, FALSE);
        return false;
    }
    return ::GetOverlappedResult(port_.Get(), &ov, &transferred, FALSE) != FALSE;
}

// The receiver looks at the receive queue and reads what it holds. It does not sleep in
// WaitCommEvent: Wine serves each such wait with a thread of its own, started and ended for every
// burst of input, and loading a DLL while those threads come and go can crash the loader. A short
// wait on the shutdown event between looks costs a few milliseconds of latency at most.
void ZvSerialPort::ReceiveLoop() {
    OVERLAPPED& ov = receiveOv_;
    ov = OVERLAPPED{};
    ov.hEvent = readEvent_.Get();
    while (!IsSet(shutdownEvent_.Get())) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port_.Get(), &errors, &status))
            return;
        if (status.cbInQue == 0) {
            if (::WaitForSingleObject(shutdownEvent_.Get(), kReceivePollMs) != WAIT_TIMEOUT)
                return;
            continue;
        }
        DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(receiveBuffer_.size()));
        DWORD got = 0;
        ::ResetEvent(ov.hEvent);
        if (!::ReadFile(port_.Get(), receiveBuffer_.data(), want, &got, &ov)) {
            if (::GetLastError() != ERROR_IO_PENDING || !WaitForOverlapped(ov, got))
                return;
        }
        if (got == 0)
            continue;
        CriticalSectionLock guard(lock_);
        RunningRequestView view;
        if (running_)
            view = RunningRequestView{running_->kind, running_->state, running_->ackTimeoutMs};
        parser_.Parse(std::span<const uint8_t>(receiveBuffer_.data(), got), view, ::GetTickCount64(), *this);
    }
}

void ZvSerialPort::PostMessage(DeviceMessage message) {
    CriticalSectionLock guard(messageLock_);
    messages_.push_back(std::move(message));
    ::SetEvent(messageEvent_.Get());
}

void ZvSerialPort::AppendResponse(std::string_view text) {
    if (running_)
        running_->response.append(text);
}

std::optional<DeviceMessage> ZvSerialPort::TakeMessage(DWORD timeoutMs, bool watchAbort) {
    HANDLE events[] = {messageEvent_.Get(), shutdownEvent_.Get(), abortEvent_.Get()};
    DWORD count = watchAbort ? 3 : 2;
    if (::WaitForMultipleObjects(count, events, FALSE, timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    CriticalSectionLock guard(messageLock_);
    if (messages_.empty()) {
        ::ResetEvent(messageEvent_.Get());
        return std::nullopt;
    }
    DeviceMessage message = std::move(messages_.front());
    messages_.pop_front();
    if (messages_.empty())
        ::ResetEvent(messageEvent_.Get());
    return message;
}

void ZvSerialPort::ClearMessages() {
    CriticalSectionLock guard(messageLock_);
    messages_.clear();
    ::ResetEvent(messageEvent_.Get());
}

uint32_t ZvSerialPort::WritePort(std::span<const uint8_t> bytes) {
    UniqueHandle event = ManualEvent();
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    DWORD written = 0;
    if (!::WriteFile(port_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, &ov)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            return error ? error : ERROR_WRITE_FAULT;
        DWORD lineTimeMs = static_cast<DWORD>(bytes.size() * 10 * 1000 / std::max<DWORD>(baudRate_, 300));
        if (::WaitForSingleObject(event.Get(), kWriteBaseWaitMs + 2 * lineTimeMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(port_.Get(), &ov);
            ::GetOverlappedResult(port_.Get(), &ov, &written, TRUE);
            return ERROR_TIMEOUT;
        }
        if (!::GetOverlappedResult(port_.Get(), &ov, &written, FALSE))
            return ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
    }
    return written == bytes.size() ? 0 : ERROR_WRITE_FAULT;
}

void ZvSerialPort::RunRequest(const RequestPtr& request) {
    request->ReportProgress();
    {
        CriticalSectionLock guard(lock_);
        request->state = RequestState::Started;
    }
    WindowsFiles files;
    Link link(*this, *request);
    RequestProcedures(*request, link, files).Run();
    {
        CriticalSectionLock guard(lock_);
        request->owner_ = nullptr;
        running_.reset();
        ::SetEvent(doneEvent_.Get());
    }
    ClearMessages();
    request->ReportProgress();
    ::SetEvent(request->completion_.Get());
}

void ZvSerialPort::DispatchLoop() {
    for (;;) {
        HANDLE events[] = {queueEvent_.Get(), shutdownEvent_.Get()};
        if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
            return;
        lock_.Enter();
        while (!queue_.empty() && !IsSet(shutdownEvent_.Get())) {
            RequestPtr request = queue_.front();
            queue_.pop_front();
            running_ = request;
            ::ResetEvent(abortEvent_.Get());
            lock_.Leave();
            RunRequest(request);
            lock_.Enter();
        }
        if (queue_.empty())
            ::ResetEvent(queueEvent_.Get());
        lock_.Leave();
    }
}

} // namespace devlink10
