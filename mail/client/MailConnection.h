// What both mail clients share around their dialogue: the server settings in the registry, the
// trace through the logger, the connection to the server (Windows Sockets started for it and
// cleaned up with it) and the turning of dialogue results into HRESULTs.
#pragma once
#include "SocketLibrary.h" // winsock2.h before windows.h
#include "MailResult.h"
#include <windows.h>
#include <memory>
#include <optional>
#include <string>

namespace tv::mail {

// The mail domain of the device service: a device user's address is <user>@<domain>, both as
// the SMTP sender and in the From line of the letters the synchronizers build.
inline constexpr char kServiceMailDomain[] = "zelvan.net";

struct ServerSettings {
    std::string address;
    long port = 0;
};

// The server of HKCU "Software\Zelvan\Tavrilon\<kind>" (default value: the address; "port":
// the port), read only. A missing value falls back alone: the address to `defaultAddress`, the
// port to `defaultPort`.
ServerSettings ReadServerSettings(const char* kind, const char* defaultAddress, long defaultPort);

// Writes one trace line through the logger (created for the line; no logger, no line).
void TraceLine(const std::string& text);

// One connection to the mail server.
class MailConnection {
  public:
    MailConnection() = default;
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;
    ~MailConnection() { Close(); }

    // Starts Windows Sockets and connects to "address:port"; false (and no connection) on any
    // failure, which is traced.
    bool Connect(const std::string& address, long port, const char* client);
    // Closes the socket and cleans Windows Sockets up again.
    void Close();
    bool IsConnected() const { return lines_ != nullptr; }
    LineChannel& Channel() { return *lines_; }

  private:
    std::optional<SocketLibrary::CSockSystem> system_;
    std::unique_ptr<SocketLibrary::CSockLineIO> socket_;
    std::unique_ptr<LineConnection> lines_;
};

HRESULT ToHResult(MailResult result);

// The contract's GetAddress: E_POINTER for no buffer, E_FAIL when the address does not fit.
HRESULT CopyAddress(const std::string& address, long nMaxLen, unsigned char* strName);

// A device user id from the caller (null is refused by the caller first).
inline std::string UserId(LPSTR strZVID) { return strZVID ? std::string(strZVID) : std::string(); }

} // namespace tv::mail
