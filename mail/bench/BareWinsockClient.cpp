#include "BareWinsockClient.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <cstdlib>
#include <cstring>

namespace tv::mail::bench {
namespace {

// One connected socket to 127.0.0.1 with a receive buffer that lines are taken from.
class BareConnection {
  public:
    explicit BareConnection(unsigned short port) {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET)
            return;
        BOOL noDelay = TRUE; // one command per send, each waiting for its reply
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    BareConnection(const BareConnection&) = delete;
    BareConnection& operator=(const BareConnection&) = delete;
    ~BareConnection() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        if (started_)
            WSACleanup();
    }

    bool Connected() const { return connected_; }

    bool Send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            int n = ::send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool Command(const std::string& line) { return Send(line + "\r\n"); }

    // The next line without its CR LF; false when the peer closed first.
    bool ReadLine(std::string& line) {
        for (;;) {
            size_t end = buffer_.find("\r\n", start_);
            if (end != std::string::npos) {
                line.assign(buffer_, start_, end - start_);
                start_ = end + 2;
                return true;
            }
            buffer_.erase(0, start_);
            start_ = 0;
            const size_t held = buffer_.size();
            buffer_.resize(held + kChunk);
            int n = ::recv(socket_, buffer_.data() + held, static_cast<int>(kChunk), 0);
            buffer_.resize(held + (n > 0 ? static_cast<size_t>(n) : 0));
            if (n <= 0)
                return false;
        }
    }
    bool Reply(const char* expected) {
        std::string line;
        return ReadLine(line) && line.compare(0, std::strlen(expected), expected) == 0;
    }

  private:
    static constexpr size_t kChunk = 64 * 1024;
    bool started_ = false;
    bool connected_ = false;
    SOCKET socket_ = INVALID_SOCKET;
    std::string buffer_;
    size_t start_ = 0;
};

} // namespace

bool BarePop3ReceiveAll(unsigned short port, const std::string& user, BareReceived& received) {
    BareConnection connection(port);
    if (!connection.Connected())
        return false;
    // The greeting is read after USER, as ZvPOP3 reads it.
    std::string line;
    if (!connection.Command("USER " + user) || !connection.Reply("+OK") || !connection.Command("PASS ") ||
        !connection.Reply("+OK") || !connection.Reply("+OK") || !connection.Command("STAT") ||
        !connection.ReadLine(line))
        return false;
    const long count = std::strtol(line.c_str() + 4, nullptr, 10);
    for (long n = 1; n <= count; ++n) {
        const std::string number = std::to_string(n);
        if (!connection.Command("LIST " + number) || !connection.Reply("+OK") ||
            !connection.Command("RETR " + number) || !connection.Reply("+OK"))
            return false;
        std::string message;
        for (bool first = true;; first = false) {
            if (!connection.ReadLine(line))
                return false;
            if (line == ".")
                break;
            if (!first)
                message += "\r\n";
            message.append(line, !line.empty() && line[0] == '.' ? 1 : 0, std::string::npos);
        }
        ++received.letters;
        received.bytes += message.size();
        if (!connection.Command("DELE " + number) || !connection.Reply("+OK"))
            return false;
    }
    return connection.Command("QUIT") && connection.Reply("+OK");
}

bool BareSmtpSend(unsigned short port, const std::string& user, const std::string& recipient,
                  const std::vector<std::string>& wireMessages) {
    BareConnection connection(port);
    if (!connection.Connected())
        return false;
    // Replies one step behind: the opening line after HELO, the answer to HELO (or to the empty
    // line after a message) after MAIL FROM, and so on; the answer to RCPT TO comes before DATA.
    if (!connection.Command("HELO " + user) || !connection.Reply("220"))
        return false;
    for (const std::string& message : wireMessages) {
        std::string line;
        if (!connection.Command("MAIL FROM:<" + user + "@zelvan.net>") || !connection.ReadLine(line) ||
            !connection.Command("RCPT TO:<" + recipient + ">") || !connection.ReadLine(line) ||
            !connection.Reply("250") || !connection.Command("DATA") || !connection.Reply("354") ||
            !connection.Send(message + "\r\n") || !connection.Reply("250"))
            return false;
    }
    std::string line;
    return connection.ReadLine(line) && connection.Command("QUIT") && connection.Reply("221");
}

} // namespace tv::mail::bench
