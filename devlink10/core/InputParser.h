// Turns the device's byte stream into device messages and response text: confirm bytes anywhere,
// short protocol lines ("ack", "send12", "Ready >", ...), and, while a file is received, blocks.
#pragma once
#include "BlockCodec.h"
#include "PortProtocol.h"
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zvport {

// What the parser needs to know about the running request (kind Undefined when none runs).
struct RunningRequestView {
    RequestKind kind = RequestKind::Undefined;
    RequestState state = RequestState::New;
    uint32_t ackTimeoutMs = 0;
};

class InputParser {
public:
    class Output {
    public:
        virtual void PostMessage(DeviceMessage message) = 0;
        // Text for the running request's response (dropped by the engine when none runs).
        virtual void AppendResponse(std::string_view text) = 0;

    protected:
        ~Output() = default;
    };

    // A protocol keyword is recognised only in a line of at most this many bytes with its LF.
    static constexpr size_t kLineCapacity = 32;

    void Parse(std::span<const uint8_t> bytes, const RunningRequestView& running, uint64_t nowMs, Output& out);
    void Reset();

private:
    void ParseByte(uint8_t c, const RunningRequestView& running, Output& out);
    // Gives true when the line was a protocol line that stays out of the response text.
    bool CheckLine(const RunningRequestView& running, Output& out);

    std::array<uint8_t, kLineCapacity> line_{};
    size_t lineFill_ = 0;
    bool rawLine_ = false;
    DeviceBlockAccumulator blocks_;
};

} // namespace zvport
