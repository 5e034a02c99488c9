// TCP connections for the mail clients over Windows Sockets: addresses, start-up of the
// library, sockets, connecting, sending and receiving with time-outs, and line reading that
// takes nothing beyond the line end. Every failure is raised as an exception carrying the
// Windows Sockets error code; all of them are ChannelErrors, which the mail dialogues catch.
#pragma once
#include "ChannelError.h"
#include "LineChannel.h"
#include "TimeValue.h"
#include <winsock2.h>
#include <functional>
#include <memory>
#include <string>

namespace SocketLibrary {

using tv::mail::TimeValue;

class SockError : public tv::mail::ChannelError {
  public:
    explicit SockError(int code) : ChannelError(code) {}
};

// An IPv4 socket address.
class CSockAddr {
  public:
    class SetError : public SockError {
      public:
        using SockError::SockError;
    };

    // "host:port", split at the last colon. A dotted address is taken as it stands; any other
    // host is looked up by name. A missing colon, a port that is not a number from 0 to 65535 or
    // a host that is neither raises SetError.
    explicit CSockAddr(const std::string& hostAndPort);
    CSockAddr(unsigned short port, unsigned long address);

    const sockaddr_in& Get() const { return address_; }

  private:
    sockaddr_in address_{};
};

// Windows Sockets 1.1 started for the lifetime of the object (and cleaned up after it).
class CSockSystem {
  public:
    class StartupError : public SockError {
      public:
        using SockError::SockError;
    };
    class ShutdownError : public SockError {
      public:
        using SockError::SockError;
    };

    CSockSystem();
    CSockSystem(const CSockSystem&) = delete;
    CSockSystem& operator=(const CSockSystem&) = delete;
    ~CSockSystem();
};

// One socket handle, closed when the object goes.
class CSock {
  public:
    class OpenError : public SockError {
      public:
        using SockError::SockError;
    };
    class OptionsError : public SockError {
      public:
        using SockError::SockError;
    };

    CSock() = default;
    CSock(const CSock&) = delete;
    CSock& operator=(const CSock&) = delete;
    CSock(CSock&& other) noexcept;
    CSock& operator=(CSock&& other) noexcept;
    ~CSock() { Close(); }

    void Open(int type, int family, int protocol, bool reuse);
    void SetOption(int level, int name, const void* value, int length);
    void GetOption(int level, int name, void* value, int* length) const;
    sockaddr_in LocalAddress() const;
    sockaddr_in PeerAddress() const;
    void Shutdown(int how);
    // Shuts both directions down and closes; errors are swallowed (the handle is then kept).
    void Close();

    SOCKET Handle() const { return socket_; }
    bool IsOpen() const { return socket_ != INVALID_SOCKET; }

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

// Receiving and sending on a connected socket, each wait bounded by a time-out.
class CSockIO {
  public:
    class IOError : public SockError {
      public:
        using SockError::SockError;
    };

    explicit CSockIO(CSock socket) : socket_(std::move(socket)) {}
    virtual ~CSockIO() = default;

    // One receive call that waits at most `timeout` for data; 0 means the peer closed.
    int receive(char* buffer, int length, TimeValue timeout, int flags);
    // One send call that waits at most `timeout` for room; the count sent.
    int send(const char* buffer, int length, TimeValue timeout, int flags);
    // Sends until every byte is out, all of it within one time-out.
    void sendAll(const char* buffer, size_t length, TimeValue timeout);

    CSock& Socket() { return socket_; }

  private:
    static constexpr DWORD kNoLimitSet = MAXDWORD;

    // Waits with select() until the socket is writable or readable (IOError 10060 on time-out).
    void WaitFor(bool write, TimeValue timeout);
    // Sets the socket's own send or receive time-out to `timeout` (when it differs from the one
    // set); false when the socket refuses it.
    bool LimitCall(bool write, TimeValue timeout);
    // Runs one send or receive call within `timeout`; its result, or IOError.
    int Call(bool write, TimeValue timeout, const std::function<int()>& call);

    CSock socket_;
    DWORD receiveLimit_ = kNoLimitSet;
    DWORD sendLimit_ = kNoLimitSet;
};

// A CSockIO with a line-end mode: lines written with a terminator and read up to it. It is also
// the byte channel a mail dialogue speaks over, with the channel's time-out.
class CSockLineIO final : public CSockIO, public tv::mail::ByteChannel {
  public:
    CSockLineIO(CSock socket, tv::mail::LineEnd mode) : CSockIO(std::move(socket)), mode_(mode) {}

    // Sends the text and then the terminator of the mode, both within `timeout`.
    void sendln(const char* text, size_t length, TimeValue timeout);
    // One line into `buffer` (room for `max` bytes, the caller adds the zero); the count stored.
    size_t readLine(char* buffer, size_t max, TimeValue timeout);

    // ByteChannel
    size_t Peek(char* buffer, size_t length) override;
    size_t Receive(char* buffer, size_t length) override;
    void SendAll(const char* data, size_t length) override { sendAll(data, length, timeout_); }
    void SetTimeout(TimeValue timeout) override { timeout_ = timeout; }
    TimeValue Timeout() const override { return timeout_; }

  private:
    int ReceiveIgnoringTooLong(char* buffer, int length, int flags);

    tv::mail::LineEnd mode_;
    TimeValue timeout_{30, 0};
};

class CConnector {
  public:
    class ConnectError : public SockError {
      public:
        using SockError::SockError;
    };
    // A connected stream socket to `address` as a line connection (lines end in CR LF).
    static std::unique_ptr<CSockLineIO> Connect(const CSockAddr& address);
};

} // namespace SocketLibrary
