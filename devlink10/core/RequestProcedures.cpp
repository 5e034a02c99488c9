#include "RequestProcedures.h"
#include "BlockCodec.h"
#include "ConsoleFrame.h"
#include <algorithm>
#include <vector>

namespace zvport {
namespace {

constexpr uint32_t kCommandBlockPauseMs = 50;
constexpr uint32_t kPacketPauseMs = 50;
constexpr uint32_t kReceiveStartPauseMs = 400;
constexpr uint32_t kCancelPromptWaitMs = 2000;
constexpr uint32_t kLargestBlockNumber = 0xFFFF;

} // namespace

void RequestProcedures::Run() {
    switch (request_.kind) {
    case RequestKind::Console:
        RunConsole();
        break;
    case RequestKind::SendFile:
    case RequestKind::Boot:
    case RequestKind::FlashImage:
        RunSend();
        break;
    case RequestKind::ReceiveFile:
        RunReceive();
        break;
    default:
        request_.Fail(ResultClass::BadRequest, win32::kInvalidParameter);
        break;
    }
}

std::optional<DeviceMessage> RequestProcedures::WaitForMessage(uint32_t mask, uint32_t timeoutMs) {
    for (;;) {
        auto message = link_.TakeMessage(timeoutMs, true);
        if (!message) {
            if (link_.WaitForAbort(0))
                request_.Fail(ResultClass::Cancelled, win32::kCancelled);
            else
                request_.Fail(ResultClass::TimedOut, win32::kTimeout);
            return std::nullopt;
        }
        if (mask & MaskOf(message->type))
            return message;
    }
}

bool RequestProcedures::SendConsole(const std::string& text, uint32_t timeoutMs) {
    auto frame = BuildConsoleFrame(text);
    if (!frame) {
        request_.Fail(ResultClass::Failed, win32::kInvalidParameter);
        return false;
    }
    for (int attempt = 0; attempt <= std::max(request_.retries, 0); ++attempt) {
        request_.ClearOutcome();
        if (uint32_t error = link_.Write(*frame)) {
            request_.Fail(ResultClass::Failed, error);
            return false;
        }
        auto confirm = WaitForMessage(MaskOf(MessageType::Confirm), timeoutMs);
        if (!confirm) {
            if (request_.resultClass == ResultClass::Cancelled)
                return false;
            continue;
        }
        if (confirm->parameter == kConfirmAccepted)
            return true;
        request_.Fail(ResultClass::Failed, win32::kIoDevice);
    }
    return false;
}

bool RequestProcedures::SendStartLine(const std::string& text, uint32_t timeoutMs) {
    auto line = BuildStartLine(text);
    for (int attempt = 0; attempt <= std::max(request_.retries, 0); ++attempt) {
        request_.ClearOutcome();
        if (uint32_t error = link_.Write(line)) {
            request_.Fail(ResultClass::Failed, error);
            return false;
        }
        for (;;) {
            auto message = link_.TakeMessage(timeoutMs, true);
            if (!message) {
                if (link_.WaitForAbort(0)) {
                    request_.Fail(ResultClass::Cancelled, win32::kCancelled);
                    return false;
                }
                request_.Fail(ResultClass::TimedOut, win32::kTimeout);
                break;
            }
            MessageType type = message->type;
            if (type == MessageType::Ack || type == MessageType::SendBlock ||
                (type == MessageType::Confirm && message->parameter == kConfirmAccepted))
                return true;
            if (type == MessageType::Loading ||
                (type == MessageType::Confirm && message->parameter == kConfirmRefused)) {
                request_.Fail(ResultClass::Failed, win32::kIoDevice);
                break;
            }
        }
    }
    return false;
}

bool RequestProcedures::SendCommandBlock(int code, uint32_t argument) {
    link_.WaitForAbort(kCommandBlockPauseMs);
    auto block = BuildCommandBlock(static_cast<BlockCommand>(code), static_cast<uint16_t>(argument));
    if (uint32_t error = link_.Write(block)) {
        request_.Fail(ResultClass::Failed, error);
        return false;
    }
    return true;
}

bool RequestProcedures::FinishWithPrompt() {
    if (request_.finalWaitMs != 0) {
        link_.SetState(RequestState::Finishing);
        if (!WaitForMessage(MaskOf(MessageType::Ready), request_.finalWaitMs))
            return false;
        link_.ReportProgress();
    }
    return true;
}

void RequestProcedures::RunConsole() {
    uint32_t t = EffectiveTimeout(request_.commandTimeoutMs);
    if (request_.nullCommand && !SendConsole("", t))
        return;
    link_.ReportProgress();
    link_.SetState(RequestState::Transferring);
    if (!SendConsole(request_.command, t))
        return;
    if (request_.finalWaitMs != 0)
        link_.ReportProgress();
    if (!FinishWithPrompt())
        return;
    link_.SetState(RequestState::Ended);
}

uint32_t RequestProcedures::PacketSize() const {
    if (request_.packetSizeOverride != 0)
        return request_.packetSizeOverride;
    return request_.kind == RequestKind::FlashImage ? 264 : 512;
}

void RequestProcedures::CancelSendOnDevice(uint32_t timeoutMs) {
    // Tells the device the PC gives up; the request's outcome is set by the caller afterwards.
    SendConsole("can", timeoutMs);
}

bool RequestProcedures::WaitForLoading() {
    uint64_t deadline = link_.NowMs() + kBootWaitMs;
    for (;;) {
        uint64_t now = link_.NowMs();
        if (now >= deadline) {
            request_.Fail(ResultClass::TimedOut, win32::kTimeout);
            return false;
        }
        auto message = link_.TakeMessage(static_cast<uint32_t>(deadline - now), true);
        if (!message) {
            if (link_.WaitForAbort(0)) {
                request_.Fail(ResultClass::Cancelled, win32::kCancelled);
                return false;
            }
            continue;
        }
        if (message->type == MessageType::Loading)
            return true;
    }
}

void RequestProcedures::RunSend() {
    uint32_t t = EffectiveTimeout(request_.commandTimeoutMs);
    const uint32_t s = PacketSize();
    if (request_.kind == RequestKind::Boot) {
        if (!WaitForLoading())
            return;
    } else if (request_.nullCommand && !SendConsole("", t)) {
        return;
    }

    auto size = files_.FindSize(request_.firstName);
    if (!size) {
        request_.Fail(ResultClass::Failed, win32::kFileNotFound);
        return;
    }
    if (request_.kind == RequestKind::FlashImage && *size % s != 0) {
        request_.Fail(ResultClass::Failed, win32::kBadLength);
        return;
    }
    std::string startLine = request_.kind == RequestKind::FlashImage
                                ? "imgrcv " + std::to_string(s) + " " + std::to_string(*size / s)
                                : "rcv " + request_.secondName + " " + std::to_string(static_cast<int32_t>(*size));
    if (!SendStartLine(startLine, t))
        return;

    link_.ReportProgress();
    link_.SetState(RequestState::Transferring);
    t = EffectiveTimeout(request_.ackTimeoutMs);
    uint32_t openError = win32::kFileNotFound;
    auto source = files_.OpenSource(request_.firstName, openError);
    if (!source) {
        CancelSendOnDevice(1000);
        request_.Fail(ResultClass::Failed, openError);
        return;
    }

    std::vector<uint8_t> data(s);
    uint32_t b = 0;
    request_.resendCount = 0;
    for (;;) {
        auto message = link_.TakeMessage(t, true);
        if (!message) {
            if (link_.WaitForAbort(0)) {
                CancelSendOnDevice(t);
                request_.Fail(ResultClass::Cancelled, win32::kCancelled);
            } else {
                request_.Fail(ResultClass::TimedOut, win32::kTimeout);
            }
            return;
        }
        if (message->type == MessageType::Cancel) {
            request_.Fail(ResultClass::CancelledByDevice, win32::kCancelled);
            return;
        }
        if (message->type == MessageType::Done) {
            request_.ClearOutcome();
            break;
        }
        if (message->type == MessageType::Ack) {
        } else if (message->type == MessageType::Nack) {
            b = b > 0 ? b - 1 : 0;
        } else if (message->type == MessageType::SendBlock) {
            b = message->parameter;
        } else {
            continue;
        }

        uint64_t offset = uint64_t{s} * b;
        if (offset >= *size) {
            request_.ClearOutcome();
            break;
        }
        if (b > kLargestBlockNumber) {
            // The packet's block number has 16 bits; a larger one would name the wrong block.
            CancelSendOnDevice(t);
            request_.Fail(ResultClass::Failed, win32::kFileTooLarge);
            return;
        }
        auto o = static_cast<uint32_t>(offset);
        uint32_t n = std::min(s, *size - o);
        if (source->Position() != o) {
            ++request_.resendCount;
            if (!source->Seek(o)) {
                CancelSendOnDevice(t);
                request_.Fail(ResultClass::Failed, win32::kReadFault);
                return;
            }
        }
        if (!source->Read(std::span<uint8_t>(data.data(), n))) {
            CancelSendOnDevice(t);
            request_.Fail(ResultClass::Failed, win32::kReadFault);
            return;
        }
        auto packet = BuildDataPacket(static_cast<uint16_t>(b), std::span<const uint8_t>(data.data(), n));
        if (link_.WaitForAbort(kPacketPauseMs)) {
            CancelSendOnDevice(t);
            link_.ResetAbort();
            WaitForMessage(MaskOf(MessageType::Ready), kCancelPromptWaitMs);
            request_.Fail(ResultClass::Cancelled, win32::kCancelled);
            return;
        }
        if (uint32_t error = link_.Write(packet)) {
            request_.Fail(ResultClass::Failed, error);
            return;
        }
        request_.bytesDone = o + n;
        b = b + 1;
        request_.blockNumber = b;
        request_.totalBytes = *size;
        link_.ReportProgress();
    }

    link_.ReportProgress();
    if (!FinishWithPrompt())
        return;
    link_.SetState(RequestState::Ended);
}

void RequestProcedures::RunReceive() {
    auto target = files_.CreateTarget(request_.secondName);
    if (!target) {
        request_.Fail(ResultClass::Failed, win32::kCannotMake);
        return;
    }
    uint32_t t = EffectiveTimeout(request_.commandTimeoutMs);
    if (request_.nullCommand && !SendConsole("", t))
        return;
    if (!SendConsole("upl " + request_.firstName, t))
        return;

    link_.ReportProgress();
    t = EffectiveTimeout(request_.ackTimeoutMs);
    bool aborted = link_.WaitForAbort(kReceiveStartPauseMs);
    link_.SetState(RequestState::Transferring);
    if (aborted) {
        request_.Fail(ResultClass::Cancelled, win32::kCancelled);
        return;
    }

    const int attempts = std::max(request_.retries, 1);
    link_.ResetBlockAccumulator();
    for (int r = attempts;;) {
        request_.ClearOutcome();
        if (!SendCommandBlock(5, 0))
            return;
        auto answer = WaitForMessage(MaskOf(MessageType::CommandBlock), t);
        if (link_.WaitForAbort(0)) {
            SendCommandBlock(2, 0);
            request_.Fail(ResultClass::Cancelled, win32::kCancelled);
            return;
        }
        if (answer) {
            if (answer->parameter != 1) {
                request_.Fail(ResultClass::CancelledByDevice, win32::kCancelled);
                return;
            }
            break;
        }
        if (--r == 0)
            return;
    }

    uint32_t k = 0;
    uint32_t received = 0;
    bool complete = false;
    request_.resendCount = 0;
    for (int r = attempts; !complete;) {
        request_.ClearOutcome();
        if (k > kLargestBlockNumber) {
            // The request's block number has 16 bits; asking again for block 0 would corrupt the file.
            request_.Fail(ResultClass::Failed, win32::kFileTooLarge);
            break;
        }
        if (!SendCommandBlock(3, k))
            break;
        std::optional<DeviceMessage> answer;
        do {
            answer = WaitForMessage(MaskOf(MessageType::CommandBlock) | MaskOf(MessageType::DataBlock), t);
        } while (answer && answer->type == MessageType::CommandBlock && answer->parameter == 1);
        if (link_.WaitForAbort(0)) {
            SendCommandBlock(2, 0);
            request_.Fail(ResultClass::Cancelled, win32::kCancelled);
            return;
        }
        if (!answer) {
            ++request_.resendCount;
        } else if (answer->type == MessageType::CommandBlock) {
            request_.Fail(ResultClass::CancelledByDevice, win32::kCancelled);
            break;
        } else if (answer->parameter != (k & 0xFF)) {
            // A block for another request (a late answer to an earlier one): ask again.
            ++request_.resendCount;
            request_.Fail(ResultClass::TimedOut, win32::kTimeout);
        } else if (answer->data.empty()) {
            complete = true;
            continue;
        } else {
            if (!target->Write(answer->data)) {
                request_.Fail(ResultClass::Failed, win32::kWriteFault);
                break;
            }
            r = attempts;
            ++k;
            received += static_cast<uint32_t>(answer->data.size());
            request_.blockNumber = k;
            request_.bytesDone = request_.totalBytes = received;
            link_.ReportProgress();
            continue;
        }
        if (--r == 0)
            break;
    }

    if (!complete || !request_.Succeeded()) {
        ResultClass cls = request_.resultClass;
        uint32_t error = request_.error;
        SendCommandBlock(2, 0);
        request_.Fail(cls, error);
        return;
    }
    // Leave the block framing before the stop block, so the prompt that answers it is read as text.
    link_.SetState(RequestState::Finishing);
    if (!SendCommandBlock(2, 0))
        return;
    if (request_.finalWaitMs != 0) {
        if (!WaitForMessage(MaskOf(MessageType::Ready), request_.finalWaitMs))
            return;
        link_.ReportProgress();
    }
    if (!target->Commit()) {
        request_.Fail(ResultClass::Failed, win32::kWriteFault);
        return;
    }
    link_.SetState(RequestState::Ended);
}

} // namespace zvport
