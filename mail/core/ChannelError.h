// Errors of a mail connection: every failure of the transport below a dialogue is raised as a
// ChannelError carrying a Windows Sockets style error code, so that the portable dialogues and
// the socket layer report the same numbers.
#pragma once
#include <stdexcept>
#include <string>

namespace tv::mail {

// The peer closed the connection before the expected data arrived (the number Windows Sockets
// uses for a graceful shutdown in progress).
constexpr int kEndOfStream = 10101;
// The wait for the peer ran out.
constexpr int kTimedOut = 10060;
// A line longer than any the mail dialogues accept (the number Windows Sockets uses for a
// message too long).
constexpr int kLineTooLong = 10040;
// A line-end mode the line writer does not know.
constexpr int kBadLineMode = 1;

class ChannelError : public std::runtime_error {
  public:
    explicit ChannelError(int code) : std::runtime_error("mail channel error " + std::to_string(code)), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

} // namespace tv::mail
