// The vocabulary shared by the 1.0 serial link's engine and its procedures: request kinds,
// states and result classes, the Win32 error codes that go with them, and device messages.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zvport {

enum class RequestKind : int {
    Undefined = 0,
    Console = 1,
    SendFile = 2,
    Boot = 3,
    FlashImage = 4,
    ReceiveFile = 5,
};

enum class RequestState : int {
    New = 0,
    Queued = 1,
    Started = 2,
    Transferring = 3, // the command or start line was accepted
    Finishing = 4,    // waiting for the device's prompt
    Ended = 5,
};

enum class ResultClass : int {
    Success = 0,
    PortNotOpen = 1,
    BadRequest = 2,
    Failed = 3,
    Cancelled = 4,
    CancelledByDevice = 5,
    TimedOut = 6,
};

// Win32 error codes, spelled out so the portable code needs no Windows header.
namespace win32 {
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kBadLength = 24;
constexpr uint32_t kWriteFault = 29;
constexpr uint32_t kReadFault = 30;
constexpr uint32_t kCannotMake = 82;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kFileTooLarge = 223;
constexpr uint32_t kIoDevice = 1117;
constexpr uint32_t kCancelled = 1223;
constexpr uint32_t kTimeout = 1460;
} // namespace win32

enum class MessageType : int {
    Cancel = 1,       // line "cancel" or "can"
    Ack = 2,          // line "ack"
    Nack = 3,         // line "nack"
    SendBlock = 4,    // line "send<N>"
    Loading = 5,      // line "Preparing to load ZvOS..."
    Done = 6,         // line "done"
    Confirm = 7,      // confirm byte 0x01 (refused) or 0x02 (accepted)
    Ready = 8,        // line "Ready >..."
    CommandBlock = 9, // device command block; parameter = its second data byte
    DataBlock = 10,   // device data block; parameter = sequence byte, data = payload
    BootText = 11,    // any other text line while a boot image is sent
};

constexpr uint32_t MaskOf(MessageType type) { return 1u << static_cast<int>(type); }

struct DeviceMessage {
    MessageType type = MessageType::Cancel;
    uint32_t parameter = 0;
    std::vector<uint8_t> data;
};

constexpr uint8_t kConfirmRefused = 0x01;
constexpr uint8_t kConfirmAccepted = 0x02;

// The parameters, progress counters and outcome of one port request, without the engine's
// queueing and signalling around it.
struct PortRequestData {
    explicit PortRequestData(RequestKind k) : kind(k) {
        if (k != RequestKind::Console)
            finalWaitMs = 50000;
    }

    RequestKind kind;
    RequestState state = RequestState::New;
    ResultClass resultClass = ResultClass::Success;
    uint32_t error = 0;
    bool nullCommand = true;
    uint32_t priority = 0;
    int retries = 3;
    uint32_t finalWaitMs = 30000;
    uint32_t commandTimeoutMs = 1000;
    std::string response;

    // Console requests: the command text.
    std::string command;

    // File requests: for sending and booting the PC file and the device name; for receiving
    // the device name and the PC file.
    std::string firstName;
    std::string secondName;
    uint32_t packetSizeOverride = 0;
    uint32_t ackTimeoutMs = 3000;
    uint32_t totalBytes = 0;
    uint32_t bytesDone = 0;
    uint32_t blockNumber = 0;
    uint32_t resendCount = 0;

    bool IsFileRequest() const { return kind != RequestKind::Console && kind != RequestKind::Undefined; }
    void Fail(ResultClass cls, uint32_t err) {
        resultClass = cls;
        error = err;
    }
    void ClearOutcome() {
        resultClass = ResultClass::Success;
        error = 0;
    }
    bool Succeeded() const { return resultClass == ResultClass::Success; }
};

// A configured time of 0 stands for 1500 ms.
constexpr uint32_t EffectiveTimeout(uint32_t ms) { return ms == 0 ? 1500 : ms; }

} // namespace zvport
