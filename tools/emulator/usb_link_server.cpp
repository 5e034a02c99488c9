#include "usb_link_server.h"

namespace zvemu {

std::vector<uint8_t> EncodeUsbMessage(UsbMessage type, std::span<const uint8_t> payload) {
    const auto length = static_cast<uint32_t>(payload.size() + 1);
    std::vector<uint8_t> out;
    out.reserve(length + 4);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(length >> shift));
    out.push_back(static_cast<uint8_t>(type));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<std::pair<uint8_t, std::vector<uint8_t>>> TakeUsbMessages(std::vector<uint8_t>& buffer) {
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> messages;
    size_t pos = 0;
    while (buffer.size() - pos >= 4) {
        const uint32_t length = uint32_t{buffer[pos]} | (uint32_t{buffer[pos + 1]} << 8) |
                                (uint32_t{buffer[pos + 2]} << 16) | (uint32_t{buffer[pos + 3]} << 24);
        if (length == 0) { // nothing to carry; skip it
            pos += 4;
            continue;
        }
        if (buffer.size() - pos - 4 < length)
            break;
        const auto body = buffer.begin() + static_cast<std::ptrdiff_t>(pos + 4);
        messages.emplace_back(*body, std::vector<uint8_t>(body + 1, body + length));
        pos += 4 + length;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
    return messages;
}

bool UsbLinkServer::Listen(uint16_t port, std::string& error) {
    listener_ = ListenOnLoopback(port, error);
    if (!listener_.valid())
        return false;
    port_ = LocalPort(listener_.get());
    return true;
}

void UsbLinkServer::AddPollEntries(std::vector<PollEntry>& entries) {
    connections_.remove_if([](const auto& c) { return c->dead; });
    entries.push_back({listener_.get(), POLLIN, [this](short) {
                           while (true) {
                               UniqueFd fd = AcceptConnection(listener_.get());
                               if (!fd.valid())
                                   break;
                               auto connection =
                                   std::make_unique<Connection>(Connection{TcpStream(std::move(fd))});
                               connections_.push_back(std::move(connection));
                           }
                       }});
    for (auto& connection : connections_) {
        Connection* c = connection.get();
        const short events = static_cast<short>(POLLIN | (c->stream.WantsWrite() ? POLLOUT : 0));
        entries.push_back({c->stream.fd(), events, [this, c](short revents) {
                               if (c->dead)
                                   return;
                               if (revents & POLLOUT) {
                                   if (!c->stream.FlushOutput())
                                       return Drop(*c);
                               }
                               if (revents & (POLLIN | POLLHUP | POLLERR))
                                   OnReadable(*c);
                           }});
    }
}

void UsbLinkServer::OnReadable(Connection& connection) {
    const bool open = connection.stream.ReadAvailable();
    for (auto& [type, payload] : TakeUsbMessages(connection.stream.input())) {
        if (connection.dead)
            return;
        if (type == static_cast<uint8_t>(UsbMessage::Hello) && payload.size() >= 5 && connection.slot < 0) {
            const int slot = static_cast<int>(uint32_t{payload[0]} | (uint32_t{payload[1]} << 8) |
                                              (uint32_t{payload[2]} << 16) | (uint32_t{payload[3]} << 24));
            if (auto old = bySlot_.find(slot); old != bySlot_.end())
                Drop(*old->second);
            connection.slot = slot;
            bySlot_[slot] = &connection;
            handler_.OnSlotAttached(slot, payload[4]);
        } else if (type == static_cast<uint8_t>(UsbMessage::Write) && connection.slot >= 0) {
            handler_.OnSlotWrite(connection.slot, payload);
        } else if (type == static_cast<uint8_t>(UsbMessage::Image) && connection.slot >= 0) {
            handler_.OnSlotImage(connection.slot, payload);
        }
    }
    if (!open || connection.stream.input().size() > BufferLimit(connection.stream.input()))
        Drop(connection);
}

// What may wait in the input: an image message that is still arriving may be as large as an image.
size_t UsbLinkServer::BufferLimit(const std::vector<uint8_t>& input) {
    if (input.size() >= 5 && input[4] == static_cast<uint8_t>(UsbMessage::Image))
        return kMaxImageMessage + 4;
    return kMaxMessage;
}

void UsbLinkServer::Drop(Connection& connection) {
    if (connection.slot >= 0) {
        bySlot_.erase(connection.slot);
        const int slot = connection.slot;
        connection.slot = -1;
        handler_.OnSlotDetached(slot);
    }
    connection.dead = true;
}

void UsbLinkServer::Send(int slot, UsbMessage type, std::span<const uint8_t> payload) {
    const auto it = bySlot_.find(slot);
    if (it == bySlot_.end())
        return;
    it->second->stream.Send(EncodeUsbMessage(type, payload));
}

} // namespace zvemu
