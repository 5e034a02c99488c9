// Small RAII pieces over non-blocking TCP sockets on 127.0.0.1, for a single-threaded poll loop.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zvemu {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

  private:
    int fd_ = -1;
};

// Listens on 127.0.0.1:port (0 picks a free port).
UniqueFd ListenOnLoopback(uint16_t port, std::string& error);
uint16_t LocalPort(int fd);
UniqueFd AcceptConnection(int listenFd);

// One accepted connection with its input and output buffers.
class TcpStream {
  public:
    explicit TcpStream(UniqueFd fd) : fd_(std::move(fd)) {}

    int fd() const { return fd_.get(); }
    // Reads what is there; false when the peer closed or the connection failed.
    bool ReadAvailable();
    std::vector<uint8_t>& input() { return input_; }
    void Send(std::span<const uint8_t> bytes);
    // Writes what the socket takes; false when the connection failed.
    bool FlushOutput();
    bool WantsWrite() const { return !output_.empty(); }

  private:
    UniqueFd fd_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
};

// One entry of the poll loop: the descriptor, the events wanted and what to do when it wakes.
struct PollEntry {
    int fd;
    short events;
    std::function<void(short revents)> onReady;
};

} // namespace zvemu
