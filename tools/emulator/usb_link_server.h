// The emulator's end of the test USB driver's TCP protocol. Every slot of the driver keeps one
// connection; messages are a little-endian u32 length, a type byte and the payload.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tcp.h"

namespace zvemu {

enum class UsbMessage : uint8_t {
    Hello = 0x01,    // driver: u32 slot, u8 kind
    Write = 0x02,    // driver: the bytes of one write request
    Image = 0x03,    // driver (loader slot): the whole image of one image request
    Plug = 0x10,     // emulator: 44-byte device information record
    Unplug = 0x11,   // emulator: none
    Data = 0x12,     // emulator: bytes for the host's reads
    FailRead = 0x13, // emulator: the pending or next read fails once
    ImageDone = 0x14, // emulator: u32 status (0 taken), u32 bytes taken: ends the image request
};

class UsbSlotHandler {
  public:
    virtual ~UsbSlotHandler() = default;
    virtual void OnSlotAttached(int slot, int kind) = 0;
    virtual void OnSlotWrite(int slot, std::span<const uint8_t> bytes) = 0;
    virtual void OnSlotDetached(int slot) = 0;
    virtual void OnSlotImage(int /*slot*/, std::span<const uint8_t> /*image*/) {}
};

// Frames and unframes the messages of one byte stream.
std::vector<uint8_t> EncodeUsbMessage(UsbMessage type, std::span<const uint8_t> payload);
// Takes complete messages off the front of `buffer`: each is {type, payload}.
std::vector<std::pair<uint8_t, std::vector<uint8_t>>> TakeUsbMessages(std::vector<uint8_t>& buffer);

class UsbLinkServer {
  public:
    explicit UsbLinkServer(UsbSlotHandler& handler) : handler_(handler) {}

    bool Listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }
    void AddPollEntries(std::vector<PollEntry>& entries);

    bool IsAttached(int slot) const { return bySlot_.count(slot) != 0; }
    void Send(int slot, UsbMessage type, std::span<const uint8_t> payload = {});

    static constexpr size_t kMaxMessage = 1 << 20;
    // An image message may be larger: as large as the driver's image limit.
    static constexpr size_t kMaxImageMessage = (64u << 20) + 1;

  private:
    struct Connection {
        TcpStream stream;
        int slot = -1;
        bool dead = false; // removed at the start of the next poll round
    };
    void OnReadable(Connection& connection);
    static size_t BufferLimit(const std::vector<uint8_t>& input);
    void Drop(Connection& connection);

    UsbSlotHandler& handler_;
    UniqueFd listener_;
    uint16_t port_ = 0;
    std::list<std::unique_ptr<Connection>> connections_;
    std::map<int, Connection*> bySlot_;
};

} // namespace zvemu
