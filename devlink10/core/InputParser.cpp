#include "InputParser.h"
#include <limits>
#include <string>

namespace zvport {
namespace {

bool IsSending(RequestKind kind) {
    return kind == RequestKind::SendFile || kind == RequestKind::Boot || kind == RequestKind::FlashImage;
}

// "send" followed by one or more decimal digits and nothing else; the number saturates.
std::optional<uint32_t> BlockRequestNumber(std::string_view line) {
    constexpr std::string_view prefix = "send";
    if (!line.starts_with(prefix) || line.size() == prefix.size())
        return std::nullopt;
    uint64_t n = 0;
    for (char ch : line.substr(prefix.size())) {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        n = std::min<uint64_t>(n * 10 + static_cast<uint64_t>(ch - '0'), std::numeric_limits<uint32_t>::max());
    }
    return static_cast<uint32_t>(n);
}

} // namespace

void InputParser::Reset() {
    lineFill_ = 0;
    rawLine_ = false;
    blocks_.Clear();
}

void InputParser::Parse(std::span<const uint8_t> bytes, const RunningRequestView& running, uint64_t nowMs,
                        Output& out) {
    auto kind = static_cast<int>(running.kind);
    if (kind <= 0 || kind > 5) {
        if (lineFill_ > 0)
            out.AppendResponse(std::string_view(reinterpret_cast<const char*>(line_.data()), lineFill_));
        lineFill_ = 0;
        rawLine_ = false;
        if (!bytes.empty())
            out.AppendResponse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return;
    }
    if (running.kind == RequestKind::ReceiveFile) {
        if (running.state == RequestState::Transferring) {
            // Blocks, and text between them: a device that sends its prompt at once after its
            // last block has it read as a line, not lost in the block framing.
            const uint32_t staleAfterMs = EffectiveTimeout(running.ackTimeoutMs);
            while (!bytes.empty()) {
                size_t used = 0;
                if (auto message = blocks_.Add(bytes, nowMs, staleAfterMs, &used)) {
                    out.PostMessage(std::move(*message));
                    // Whatever came before the block was no line of text.
                    lineFill_ = 0;
                    rawLine_ = false;
                }
                if (used == 0) {
                    ParseByte(bytes.front(), running, out);
                    used = 1;
                }
                bytes = bytes.subspan(used);
            }
            return;
        }
        blocks_.Clear();
    }
    for (uint8_t c : bytes)
        ParseByte(c, running, out);
}

void InputParser::ParseByte(uint8_t c, const RunningRequestView& running, Output& out) {
    auto appendByte = [&out](uint8_t b) { out.AppendResponse(std::string_view(reinterpret_cast<const char*>(&b), 1)); };
    if (c == kConfirmRefused || c == kConfirmAccepted) {
        out.PostMessage(DeviceMessage{MessageType::Confirm, c, {}});
        return;
    }
    if (rawLine_) {
        appendByte(c);
        if (c == '\n')
            rawLine_ = false;
        return;
    }
    if (lineFill_ < kLineCapacity) {
        line_[lineFill_++] = c;
        if (c == '\n') {
            if (!CheckLine(running, out))
                out.AppendResponse(std::string_view(reinterpret_cast<const char*>(line_.data()), lineFill_));
            lineFill_ = 0;
        }
        return;
    }
    if (running.kind == RequestKind::Boot)
        out.PostMessage(DeviceMessage{MessageType::BootText, 0, std::vector<uint8_t>(line_.begin(), line_.end())});
    out.AppendResponse(std::string_view(reinterpret_cast<const char*>(line_.data()), lineFill_));
    lineFill_ = 0;
    rawLine_ = true;
    appendByte(c);
    if (c == '\n')
        rawLine_ = false;
}

bool InputParser::CheckLine(const RunningRequestView& running, Output& out) {
    std::string text;
    for (size_t i = 0; i < lineFill_; ++i) {
        if (line_[i] >= 0x20)
            text.push_back(static_cast<char>(line_[i]));
    }
    if (text.empty())
        return true;

    auto post = [&out](MessageType type, uint32_t parameter = 0) { out.PostMessage(DeviceMessage{type, parameter, {}}); };
    if (text == "ack") {
        post(MessageType::Ack);
        return true;
    }
    if (text == "nack") {
        post(MessageType::Nack);
        return true;
    }
    if (text == "cancel" || text == "can") {
        post(MessageType::Cancel);
        return true;
    }
    if (text == "done") {
        post(MessageType::Done);
        return true;
    }
    if (IsSending(running.kind)) {
        if (auto number = BlockRequestNumber(text)) {
            post(MessageType::SendBlock, *number);
            return true;
        }
    }
    if (text.starts_with("Preparing to load ZvOS")) {
        post(MessageType::Loading);
        return false;
    }
    if (text.starts_with("Ready >")) {
        post(MessageType::Ready);
        return false;
    }
    if (running.kind == RequestKind::Boot) {
        std::vector<uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        out.PostMessage(DeviceMessage{MessageType::BootText, 0, std::move(data)});
    }
    return false;
}

} // namespace zvport
