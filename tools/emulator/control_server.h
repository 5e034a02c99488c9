// The control port: a plain line protocol (one request line, one answer block) that tests
// drive from Linux or through Winsock under Wine.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include "tcp.h"

namespace zvemu {

class ControlServer {
  public:
    using LineHandler = std::function<std::string(const std::string& line)>;

    explicit ControlServer(LineHandler handler) : handler_(std::move(handler)) {}

    bool Listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }
    void AddPollEntries(std::vector<PollEntry>& entries);
    // Whether a client has connected and every client has gone since.
    bool ClientsGone() const { return everConnected_ && connections_.empty(); }

    static constexpr size_t kMaxLine = 64 * 1024;

  private:
    struct Connection {
        TcpStream stream;
        bool dead = false;
    };
    void OnReadable(Connection& connection);

    LineHandler handler_;
    UniqueFd listener_;
    uint16_t port_ = 0;
    bool everConnected_ = false;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace zvemu
