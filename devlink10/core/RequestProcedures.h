// The procedures the dispatcher runs for port requests: console commands, sending a file or a
// boot image (device-driven packets), receiving a file (PC-driven command blocks). They reach the
// port, the device messages, the abort signal and the PC's files only through the interfaces
// below, so the Windows engine and in-memory tests drive the same code.
#pragma once
#include "PortProtocol.h"
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace zvport {

class ProcedureLink {
public:
    // Writes bytes to the port; 0 or the write's error.
    virtual uint32_t Write(std::span<const uint8_t> bytes) = 0;
    // The next device message within timeoutMs; nothing on time-out or, with watchAbort, once the
    // abort signal is set.
    virtual std::optional<DeviceMessage> TakeMessage(uint32_t timeoutMs, bool watchAbort) = 0;
    // Waits up to ms for the abort signal; true when it is set.
    virtual bool WaitForAbort(uint32_t ms) = 0;
    virtual void ResetAbort() = 0;
    // Moves the running request to a state (the receiver reads it to choose its framing).
    virtual void SetState(RequestState state) = 0;
    virtual void ResetBlockAccumulator() = 0;
    virtual void ReportProgress() = 0;
    virtual uint64_t NowMs() = 0;

protected:
    ~ProcedureLink() = default;
};

class SourceFile {
public:
    virtual ~SourceFile() = default;
    virtual uint32_t Position() const = 0;
    virtual bool Seek(uint32_t offset) = 0;
    // Reads exactly into.size() bytes.
    virtual bool Read(std::span<uint8_t> into) = 0;
};

// A file being received; it takes its final name only on Commit, and is removed when dropped
// uncommitted.
class TargetFile {
public:
    virtual ~TargetFile() = default;
    virtual bool Write(std::span<const uint8_t> bytes) = 0;
    virtual bool Commit() = 0;
};

class FileAccess {
public:
    // The size (low 32 bits) of an existing file.
    virtual std::optional<uint32_t> FindSize(const std::string& path) = 0;
    // error: 5 when access was denied, else 2.
    virtual std::unique_ptr<SourceFile> OpenSource(const std::string& path, uint32_t& error) = 0;
    virtual std::unique_ptr<TargetFile> CreateTarget(const std::string& path) = 0;

protected:
    ~FileAccess() = default;
};

// The longest a boot request waits for the device to report that it loads its system.
constexpr uint32_t kBootWaitMs = 60000;

class RequestProcedures {
public:
    RequestProcedures(PortRequestData& request, ProcedureLink& link, FileAccess& files)
        : request_(request), link_(link), files_(files) {}

    // Runs the procedure of the request's kind; the outcome is left in the request.
    void Run();

private:
    void RunConsole();
    void RunSend();
    void RunReceive();

    // A console frame until the device confirms it, with retries.
    bool SendConsole(const std::string& text, uint32_t timeoutMs);
    // The start line of a send until the device accepts it, with retries.
    bool SendStartLine(const std::string& text, uint32_t timeoutMs);
    bool SendCommandBlock(int code, uint32_t argument);
    // The next message of a type in mask; other messages are discarded.
    std::optional<DeviceMessage> WaitForMessage(uint32_t mask, uint32_t timeoutMs);
    bool WaitForLoading();
    bool FinishWithPrompt();
    void CancelSendOnDevice(uint32_t timeoutMs);
    uint32_t PacketSize() const;

    PortRequestData& request_;
    ProcedureLink& link_;
    FileAccess& files_;
};

} // namespace zvport
