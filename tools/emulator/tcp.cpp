#include "tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zvemu {

void UniqueFd::Reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace {

void MakeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

UniqueFd ListenOnLoopback(uint16_t port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::strerror(errno);
        return {};
    }
    const int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        error = "port " + std::to_string(port) + ": " + std::strerror(errno);
        return {};
    }
    MakeNonBlocking(fd.get());
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

UniqueFd AcceptConnection(int listenFd) {
    UniqueFd fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.valid()) {
        const int yes = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    return fd;
}

bool TcpStream::ReadAvailable() {
    uint8_t buffer[65536];
    while (true) {
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            input_.insert(input_.end(), buffer, buffer + n);
            continue;
        }
        if (n == 0)
            return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

void TcpStream::Send(std::span<const uint8_t> bytes) {
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    FlushOutput();
}

bool TcpStream::FlushOutput() {
    size_t sent = 0;
    while (sent < output_.size()) {
        const ssize_t n = ::send(fd_.get(), output_.data() + sent, output_.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        output_.clear();
        return false;
    }
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(sent));
    return true;
}

} // namespace zvemu
