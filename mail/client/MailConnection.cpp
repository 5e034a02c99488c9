#include "MailConnection.h"
#include "ComPtr.h"
#include "Handles.h"
#include "LogLine.h"
#include <cstring>

namespace tv::mail {

ServerSettings ReadServerSettings(const char* kind, const char* defaultAddress, long defaultPort) {
    ServerSettings settings{defaultAddress, defaultPort};
    std::string path = std::string("Software\\Zelvan\\Tavrilon\\") + kind;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return settings;
    char address[256];
    DWORD type = 0;
    DWORD size = sizeof address - 1;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(address), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        address[size] = '\0';
        if (address[0] != '\0')
            settings.address = address;
    }
    DWORD port = 0;
    size = sizeof port;
    if (RegQueryValueExA(key.Get(), "port", nullptr, &type, reinterpret_cast<BYTE*>(&port), &size) == ERROR_SUCCESS &&
        type == REG_DWORD)
        settings.port = static_cast<long>(port);
    return settings;
}

void TraceLine(const std::string& text) { WriteLogLine(text); }

bool MailConnection::Connect(const std::string& address, long port, const char* client) {
    Close();
    try {
        system_.emplace();
        SocketLibrary::CSockAddr target(address + ":" + std::to_string(port));
        socket_ = SocketLibrary::CConnector::Connect(target);
        lines_ = std::make_unique<LineConnection>(*socket_);
        return true;
    } catch (const SocketLibrary::SockError& error) {
        TraceLine(std::string(client) + ": cannot connect to " + address + ":" + std::to_string(port) + " (" +
                  std::to_string(error.Code()) + ")");
        Close();
        return false;
    }
}

void MailConnection::Close() {
    lines_.reset();
    socket_.reset();
    system_.reset();
}

HRESULT ToHResult(MailResult result) {
    switch (result) {
    case MailResult::Ok:
        return S_OK;
    case MailResult::NoLetter:
        return S_FALSE;
    case MailResult::Unexpected:
        return E_UNEXPECTED;
    case MailResult::Fail:
        break;
    }
    return E_FAIL;
}

HRESULT CopyAddress(const std::string& address, long nMaxLen, unsigned char* strName) {
    if (!strName)
        return E_POINTER;
    if (nMaxLen <= 0 || address.size() >= static_cast<size_t>(nMaxLen))
        return E_FAIL;
    std::memcpy(strName, address.c_str(), address.size() + 1);
    return S_OK;
}

} // namespace tv::mail
