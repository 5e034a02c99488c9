#include "control_server.h"

#include <algorithm>

namespace zvemu {

bool ControlServer::Listen(uint16_t port, std::string& error) {
    listener_ = ListenOnLoopback(port, error);
    if (!listener_.valid())
        return false;
    port_ = LocalPort(listener_.get());
    return true;
}

void ControlServer::AddPollEntries(std::vector<PollEntry>& entries) {
    connections_.remove_if([](const auto& c) { return c->dead; });
    entries.push_back({listener_.get(), POLLIN, [this](short) {
                           while (true) {
                               UniqueFd fd = AcceptConnection(listener_.get());
                               if (!fd.valid())
                                   break;
                               everConnected_ = true;
                               connections_.push_back(
                                   std::make_unique<Connection>(Connection{TcpStream(std::move(fd))}));
                           }
                       }});
    for (auto& connection : connections_) {
        Connection* c = connection.get();
        const short events = static_cast<short>(POLLIN | (c->stream.WantsWrite() ? POLLOUT : 0));
        entries.push_back({c->stream.fd(), events, [this, c](short revents) {
                               if (c->dead)
                                   return;
                               if ((revents & POLLOUT) && !c->stream.FlushOutput()) {
                                   c->dead = true;
                                   return;
                               }
                               if (revents & (POLLIN | POLLHUP | POLLERR))
                                   OnReadable(*c);
                           }});
    }
}

void ControlServer::OnReadable(Connection& connection) {
    const bool open = connection.stream.ReadAvailable();
    auto& input = connection.stream.input();
    while (true) {
        const auto newline = std::find(input.begin(), input.end(), '\n');
        if (newline == input.end())
            break;
        std::string line(input.begin(), newline);
        input.erase(input.begin(), newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::string answer = handler_(line);
        connection.stream.Send(std::span(reinterpret_cast<const uint8_t*>(answer.data()), answer.size()));
    }
    if (!open || input.size() > kMaxLine)
        connection.dead = true;
}

} // namespace zvemu
