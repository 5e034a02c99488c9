#include "SocketLibrary.h"
#include <ws2tcpip.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

namespace SocketLibrary {

namespace {

int LastError(int fallback = WSAEINVAL) {
    int code = WSAGetLastError();
    return code ? code : fallback;
}

bool IsDottedAddress(const std::string& host, unsigned long& address) {
    int parts = 0;
    size_t start = 0;
    unsigned long value = 0;
    while (start <= host.size()) {
        size_t end = host.find('.', start);
        if (end == std::string::npos)
            end = host.size();
        std::string part = host.substr(start, end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        unsigned long byte = std::strtoul(part.c_str(), nullptr, 10);
        if (byte > 255)
            return false;
        value = (value << 8) | byte;
        ++parts;
        start = end + 1;
    }
    if (parts != 4)
        return false;
    address = htonl(value);
    return true;
}

timeval ToTimeval(TimeValue t) {
    timeval tv;
    tv.tv_sec = t.seconds;
    tv.tv_usec = t.microseconds;
    return tv;
}

// Milliseconds of a time-out, for counting a send down.
long long ToMilliseconds(TimeValue t) { return static_cast<long long>(t.seconds) * 1000 + t.microseconds / 1000; }

} // namespace

CSockAddr::CSockAddr(const std::string& hostAndPort) {
    size_t colon = hostAndPort.rfind(':');
    if (colon == std::string::npos)
        throw SetError(WSAEINVAL);
    std::string host = hostAndPort.substr(0, colon);
    std::string port = hostAndPort.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        throw SetError(WSAEINVAL);
    unsigned long portNumber = std::strtoul(port.c_str(), nullptr, 10);
    if (portNumber > 65535)
        throw SetError(WSAEINVAL);
    unsigned long address = 0;
    if (!IsDottedAddress(host, address)) {
        if (host.empty() || host.find(':') != std::string::npos)
            throw SetError(WSAEINVAL);
        hostent* entry = gethostbyname(host.c_str());
        if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0])
            throw SetError(LastError(WSAHOST_NOT_FOUND));
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    }
    address_.sin_family = AF_INET;
    address_.sin_port = htons(static_cast<unsigned short>(portNumber));
    address_.sin_addr.s_addr = address;
}

CSockAddr::CSockAddr(unsigned short port, unsigned long address) {
    address_.sin_family = AF_INET;
    address_.sin_port = htons(port);
    address_.sin_addr.s_addr = address;
}

CSockSystem::CSockSystem() {
    WSADATA data;
    int code = WSAStartup(MAKEWORD(1, 1), &data);
    if (code != 0)
        throw StartupError(code);
}

CSockSystem::~CSockSystem() { WSACleanup(); }

CSock::CSock(CSock&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}

CSock& CSock::operator=(CSock&& other) noexcept {
    if (this != &other) {
        Close();
        socket_ = std::exchange(other.socket_, INVALID_SOCKET);
    }
    return *this;
}

void CSock::Open(int type, int family, int protocol, bool reuse) {
    Close();
    SOCKET s = ::socket(family, type, protocol);
    if (s == INVALID_SOCKET)
        throw OpenError(LastError());
    BOOL flag = reuse ? TRUE : FALSE;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&flag), sizeof flag) == SOCKET_ERROR) {
        int code = LastError();
        closesocket(s);
        throw OpenError(code);
    }
    socket_ = s;
}

void CSock::SetOption(int level, int name, const void* value, int length) {
    if (setsockopt(socket_, level, name, static_cast<const char*>(value), length) == SOCKET_ERROR)
        throw OptionsError(LastError());
}

void CSock::GetOption(int level, int name, void* value, int* length) const {
    if (getsockopt(socket_, level, name, static_cast<char*>(value), length) == SOCKET_ERROR)
        throw OptionsError(LastError());
}

sockaddr_in CSock::LocalAddress() const {
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR)
        throw SockError(LastError());
    return address;
}

sockaddr_in CSock::PeerAddress() const {
    sockaddr_in address{};
    int length = sizeof address;
    if (getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR)
        throw SockError(LastError());
    return address;
}

void CSock::Shutdown(int how) {
    if (::shutdown(socket_, how) == SOCKET_ERROR)
        throw SockError(LastError());
}

void CSock::Close() {
    if (socket_ == INVALID_SOCKET)
        return;
    ::shutdown(socket_, SD_BOTH);
    if (closesocket(socket_) == 0)
        socket_ = INVALID_SOCKET;
}

void CSockIO::WaitFor(bool write, TimeValue timeout) {
    if (timeout.IsInfinite())
        return;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_.Handle(), &set);
    timeval tv = ToTimeval(timeout);
    int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv);
    if (ready == SOCKET_ERROR)
        throw IOError(LastError());
    if (ready == 0)
        throw IOError(tv::mail::kTimedOut);
}

bool CSockIO::LimitCall(bool write, TimeValue timeout) {
    // The socket's own time-out, in milliseconds (0: none); a zero wait still waits a little.
    const long long ms = timeout.IsInfinite() ? 0 : std::max(1LL, ToMilliseconds(timeout));
    const DWORD limit = static_cast<DWORD>(std::min<long long>(ms, MAXDWORD - 1));
    DWORD& current = write ? sendLimit_ : receiveLimit_;
    if (current == limit)
        return true;
    if (setsockopt(socket_.Handle(), SOL_SOCKET, write ? SO_SNDTIMEO : SO_RCVTIMEO,
                   reinterpret_cast<const char*>(&limit), sizeof limit) == SOCKET_ERROR) {
        current = kNoLimitSet;
        return false;
    }
    current = limit;
    return true;
}

int CSockIO::Call(bool write, TimeValue timeout, const std::function<int()>& call) {
    // With the socket's own time-out set, a call that can go at once is one Windows Sockets call;
    // without it, or on a socket that would block, select() waits first.
    if (!LimitCall(write, timeout))
        WaitFor(write, timeout);
    int result = call();
    if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        WaitFor(write, timeout);
        result = call();
    }
    if (result == SOCKET_ERROR) {
        const int code = LastError();
        throw IOError(code == WSAETIMEDOUT ? tv::mail::kTimedOut : code);
    }
    return result;
}

int CSockIO::receive(char* buffer, int length, TimeValue timeout, int flags) {
    return Call(false, timeout, [&] { return ::recv(socket_.Handle(), buffer, length, flags); });
}

int CSockIO::send(const char* buffer, int length, TimeValue timeout, int flags) {
    return Call(true, timeout, [&] { return ::send(socket_.Handle(), buffer, length, flags); });
}

void CSockIO::sendAll(const char* buffer, size_t length, TimeValue timeout) {
    const bool limited = !timeout.IsInfinite();
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ToMilliseconds(timeout));
    // The first call gets the whole time-out as it is (the socket keeps its limit from the last
    // send); only what a short send leaves goes out with what remains of it.
    for (bool first = true; length > 0; first = false) {
        TimeValue left = timeout;
        if (limited && !first) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                throw IOError(tv::mail::kTimedOut);
            left = TimeValue::FromMilliseconds(static_cast<long long>(deadline - now));
        }
        int chunk = static_cast<int>(std::min<size_t>(length, 1u << 30));
        int sent = send(buffer, chunk, left, 0);
        buffer += sent;
        length -= static_cast<size_t>(sent);
    }
}

int CSockLineIO::ReceiveIgnoringTooLong(char* buffer, int length, int flags) {
    try {
        return receive(buffer, length, timeout_, flags);
    } catch (const IOError& error) {
        if (error.Code() == WSAEMSGSIZE)
            return length;
        throw;
    }
}

size_t CSockLineIO::Peek(char* buffer, size_t length) {
    return static_cast<size_t>(ReceiveIgnoringTooLong(buffer, static_cast<int>(std::min<size_t>(length, 1u << 30)), MSG_PEEK));
}

size_t CSockLineIO::Receive(char* buffer, size_t length) {
    return static_cast<size_t>(ReceiveIgnoringTooLong(buffer, static_cast<int>(std::min<size_t>(length, 1u << 30)), 0));
}

void CSockLineIO::sendln(const char* text, size_t length, TimeValue timeout) {
    const char* terminator = nullptr;
    switch (mode_) {
    case tv::mail::LineEnd::CrLf:
    case tv::mail::LineEnd::CrLfOrLf:
        terminator = "\r\n";
        break;
    case tv::mail::LineEnd::Lf:
        terminator = "\n";
        break;
    default:
        throw IOError(tv::mail::kBadLineMode);
    }
    sendAll(text, length, timeout);
    sendAll(terminator, std::char_traits<char>::length(terminator), timeout);
}

size_t CSockLineIO::readLine(char* buffer, size_t max, TimeValue timeout) {
    TimeValue kept = std::exchange(timeout_, timeout);
    try {
        size_t length = tv::mail::ReadLine(*this, mode_, buffer, max).length;
        timeout_ = kept;
        return length;
    } catch (...) {
        timeout_ = kept;
        throw;
    }
}

std::unique_ptr<CSockLineIO> CConnector::Connect(const CSockAddr& address) {
    CSock socket;
    socket.Open(SOCK_STREAM, AF_INET, 0, false);
    const sockaddr_in& target = address.Get();
    if (::connect(socket.Handle(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR)
        throw ConnectError(LastError());
    // Every command is one send and waits for its reply: nothing is gained by holding small
    // segments back, and the wait for the peer's delayed acknowledgement would be paid per line.
    BOOL noDelay = TRUE;
    setsockopt(socket.Handle(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return std::make_unique<CSockLineIO>(std::move(socket), tv::mail::LineEnd::CrLf);
}

} // namespace SocketLibrary
