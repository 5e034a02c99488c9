#include "XUsbLink.h"

#include "McpDemux.h"
#include "UsbDevices.h"

#include <memory>
#include <utility>

namespace devlink15 {
namespace {

constexpr DWORD kOpenPauseMs = 100;
constexpr DWORD kReconnectPauseMs = 100;
constexpr int kReconnectRetryCount = 50;
constexpr int kRetryCountAfterReconnect = 100;
constexpr DWORD kWriteTimeoutMs = 5000;
constexpr DWORD kCancelTimeoutMs = 5000;

} // namespace

XUsbLink::XUsbLink()
    : stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

XUsbLink::~XUsbLink() {
    Stop();
    CloseUsbDevice();
}

bool XUsbLink::PutByte(uint8_t byte) {
    writeBuffer_[writeCount_++] = byte;
    if (writeCount_ == writeBuffer_.size())
        return FlushUsbWrite();
    return true;
}

bool XUsbLink::FlushUsbWrite() {
    const DWORD count = static_cast<DWORD>(std::exchange(writeCount_, 0));
    if (count == 0)
        return true;
    std::lock_guard lock(handleMutex_);
    if (!device_ || !writeEvent_)
        return false;
    writeOverlapped_ = OVERLAPPED{};
    writeOverlapped_.hEvent = writeEvent_.Get();
    ResetEvent(writeEvent_.Get());
    DWORD written = 0;
    if (!DeviceIoControl(device_.Get(), kUsbWriteRequest, writeBuffer_.data(), count, writeBuffer_.data(),
                         count, nullptr, &writeOverlapped_)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(writeEvent_.Get(), kWriteTimeoutMs) != WAIT_OBJECT_0) {
            CancelIoEx(device_.Get(), &writeOverlapped_);
            if (WaitForSingleObject(writeEvent_.Get(), kCancelTimeoutMs) != WAIT_OBJECT_0)
                return false;
        }
    }
    if (!GetOverlappedResult(device_.Get(), &writeOverlapped_, &written, FALSE))
        return false;
    return written == count;
}

HANDLE XUsbLink::OpenWithRetries(int deviceNumber, bool stopAware) {
    for (int attempts = OpenRetryCount(); attempts > 0; --attempts) {
        const int index = DeviceClassIndexOf(deviceNumber);
        if (index >= 0) {
            HANDLE device = OpenUsbDevicePipe(UsbInterfaceClass::Device, "", index, true);
            if (device != INVALID_HANDLE_VALUE)
                return device;
        }
        if (stopAware) {
            if (WaitForSingleObject(stopEvent_.Get(), kOpenPauseMs) == WAIT_OBJECT_0)
                break;
        } else {
            Sleep(kOpenPauseMs);
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool XUsbLink::OpenAndIdentify(int deviceNumber, bool stopAware) {
    HANDLE device = OpenWithRetries(deviceNumber, stopAware);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    UsbDeviceInfo info;
    const bool identified = QueryUsbDeviceInfo(deviceNumber, info);
    std::lock_guard lock(handleMutex_);
    device_.Reset(device);
    if (identified)
        deviceId_ = info.deviceId; // a failed read keeps the previous id
    return true;
}

bool XUsbLink::OpenUsbDevice(int deviceNumber) {
    return OpenAndIdentify(deviceNumber, false);
}

void XUsbLink::CloseUsbDevice() {
    std::lock_guard lock(handleMutex_);
    device_.Reset();
}

bool XUsbLink::IsOpen() const {
    std::lock_guard lock(handleMutex_);
    return static_cast<bool>(device_);
}

std::string XUsbLink::DeviceId() const {
    std::lock_guard lock(handleMutex_);
    return deviceId_;
}

HANDLE XUsbLink::CurrentHandle() const {
    std::lock_guard lock(handleMutex_);
    return device_.Get();
}

bool XUsbLink::StartReadThread(XMCPDemux& receiver, size_t receiveBufferSize) {
    std::lock_guard lock(threadMutex_);
    if (!stopEvent_ || receiveBufferSize == 0)
        return false;
    if (readThread_.joinable())
        readThread_.join(); // a thread that ended by itself after losing the device
    stopped_ = false;
    ResetEvent(stopEvent_.Get());
    try {
        readThread_ = std::thread(&XUsbLink::ReadThreadProc, this, std::ref(receiver), receiveBufferSize);
    } catch (const std::system_error&) {
        stopped_ = true;
        return false;
    }
    return true;
}

void XUsbLink::Stop() {
    stopped_ = true;
    if (stopEvent_)
        SetEvent(stopEvent_.Get());
    {
        std::lock_guard lock(handleMutex_);
        if (device_)
            CancelIoEx(device_.Get(), nullptr);
    }
    std::thread finished;
    {
        std::lock_guard lock(threadMutex_);
        if (readThread_.joinable() && readThread_.get_id() != std::this_thread::get_id())
            finished = std::move(readThread_);
    }
    if (finished.joinable())
        finished.join();
}

XUsbLink::ReadOutcome XUsbLink::WaitForRead(HANDLE device, OVERLAPPED& overlapped, DWORD& received) {
    const HANDLE waits[2] = {overlapped.hEvent, stopEvent_.Get()};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
        CancelIoEx(device, &overlapped);
        if (WaitForSingleObject(overlapped.hEvent, kCancelTimeoutMs) != WAIT_OBJECT_0)
            return ReadOutcome::Abandoned;
        return ReadOutcome::Stopped;
    }
    return GetOverlappedResult(device, &overlapped, &received, FALSE) ? ReadOutcome::Received
                                                                      : ReadOutcome::Failed;
}

void XUsbLink::ReadThreadProc(XMCPDemux& receiver, size_t receiveBufferSize) {
    auto buffer = std::make_unique<uint8_t[]>(receiveBufferSize);
    tv::com::UniqueHandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readEvent) {
        stopped_ = true;
        return;
    }
    const DWORD size = static_cast<DWORD>(receiveBufferSize);
    while (!stopped_) {
        const HANDLE device = CurrentHandle();
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent.Get();
        ResetEvent(readEvent.Get());
        ReadOutcome outcome = ReadOutcome::Failed;
        DWORD received = 0;
        if (device && device != INVALID_HANDLE_VALUE &&
            (DeviceIoControl(device, kUsbReadRequest, buffer.get(), size, buffer.get(), size, nullptr,
                             &overlapped) ||
             GetLastError() == ERROR_IO_PENDING))
            outcome = WaitForRead(device, overlapped, received);

        if (outcome == ReadOutcome::Received) {
            if (received > 0 && !stopped_)
                receiver.ReceiveMcpBytes(buffer.get(), received);
            continue;
        }
        if (outcome == ReadOutcome::Abandoned) {
            // The driver still holds the buffer: it must outlive the request.
            buffer.release();
            return;
        }
        if (outcome == ReadOutcome::Stopped || !Reconnect(receiver))
            return;
    }
}

bool XUsbLink::Reconnect(XMCPDemux& receiver) {
    CloseUsbDevice();
    if (stopped_ || WaitForSingleObject(stopEvent_.Get(), kReconnectPauseMs) == WAIT_OBJECT_0)
        return false;
    SetOpenRetryCount(kReconnectRetryCount);
    const int deviceNumber = FindDeviceById(DeviceId());
    const bool reopened = deviceNumber >= 0 && OpenAndIdentify(deviceNumber, true);
    SetOpenRetryCount(kRetryCountAfterReconnect);
    if (!reopened) {
        CloseUsbDevice();
        stopped_ = true;
        SetEvent(stopEvent_.Get());
        receiver.WakeAllChannels();
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    // A frame cut short by the failed read never continues.
    receiver.ResetReceiver();
    return true;
}

} // namespace devlink15
