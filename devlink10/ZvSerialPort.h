// The serial port engine of the 1.0 generation: one port opened overlapped, a receiver thread
// that turns input into device messages and response text, and a dispatcher thread that runs
// queued port requests one at a time through the portable procedures.
#pragma once
#include "Handles.h"
#include "InputParser.h"
#include "PortProtocol.h"
#include "RequestProcedures.h"
#include <windows.h>
#include <array>
#include <deque>
#include <list>
#include <memory>
#include <vector>

namespace devlink10 {

class ZvSerialPort;

// A port request with its completion event. Progress reports go nowhere unless a subclass
// sends them somewhere.
class PortRequest : public zvport::PortRequestData {
public:
    explicit PortRequest(zvport::RequestKind kind);
    virtual ~PortRequest() = default;
    PortRequest(const PortRequest&) = delete;
    PortRequest& operator=(const PortRequest&) = delete;

    virtual void ReportProgress() {}
    HANDLE Completion() const { return completion_.Get(); }

private:
    friend class ZvSerialPort;
    tv::com::UniqueHandle completion_;
    ZvSerialPort* owner_ = nullptr;
};

using RequestPtr = std::shared_ptr<PortRequest>;

class ZvSerialPort : private zvport::InputParser::Output {
public:
    ZvSerialPort();
    ~ZvSerialPort();
    ZvSerialPort(const ZvSerialPort&) = delete;
    ZvSerialPort& operator=(const ZvSerialPort&) = delete;

    bool Open(int portNumber, DWORD baudRate);
    void Close();

    // Queues a request; false when the port is not open (class 1) or it is queued already.
    bool Submit(const RequestPtr& request);
    // Submits and waits up to the synchronous wait limit; true when the request succeeded.
    bool Wait(const RequestPtr& request);
    void Cancel(const RequestPtr& request);

    RequestPtr RunningRequest();
    int PortNumber() const { return portNumber_; }
    DWORD LastError() const { return lastError_; }
    DWORD ReceiveQueueSize() const;
    void SetWaitLimit(DWORD ms) { waitLimitMs_ = ms; }

private:
    class Link;
    class WindowsFiles;

    static DWORD WINAPI ReceiverMain(void* self);
    static DWORD WINAPI DispatcherMain(void* self);
    void ReceiveLoop();
    void DispatchLoop();
    void RunRequest(const RequestPtr& request);
    void CancelAll();
    bool WaitForOverlapped(OVERLAPPED& ov, DWORD& transferred);

    uint32_t WritePort(std::span<const uint8_t> bytes);
    void PostMessage(zvport::DeviceMessage message) override;
    void AppendResponse(std::string_view text) override;
    std::optional<zvport::DeviceMessage> TakeMessage(DWORD timeoutMs, bool watchAbort);
    void ClearMessages();

    tv::com::CriticalSection lock_;
    std::list<RequestPtr> queue_;
    RequestPtr running_;
    DWORD lastError_ = zvport::win32::kInvalidHandle;
    DWORD waitLimitMs_ = 0;
    DWORD baudRate_ = 57600;
    int portNumber_ = 0;
    tv::com::UniqueFileHandle port_;
    tv::com::UniqueHandle readEvent_;
    // The receiver's overlapped block and buffer live with the engine: a read the port driver
    // does not cancel in time may still complete into them after the receiver has ended (the
    // port's close ends it).
    OVERLAPPED receiveOv_{};
    std::array<uint8_t, 4096> receiveBuffer_{};
    tv::com::UniqueHandle queueEvent_, shutdownEvent_, abortEvent_, doneEvent_;
    tv::com::UniqueHandle receiver_, dispatcher_;
    DWORD dispatcherId_ = 0;
    zvport::InputParser parser_;

    tv::com::CriticalSection messageLock_;
    std::deque<zvport::DeviceMessage> messages_;
    tv::com::UniqueHandle messageEvent_;
};

} // namespace devlink10
