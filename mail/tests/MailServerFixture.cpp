#include "MailServerFixture.h"
#include "Handles.h"
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tv::mail::testing {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool MailServer::Load() {
    const char* rootText = std::getenv("TV_MAIL_ROOT");
    const char* pop3 = std::getenv("TV_POP3_PORT");
    const char* smtp = std::getenv("TV_SMTP_PORT");
    if (!rootText || !pop3 || !smtp)
        return false;
    root = rootText;
    pop3Port = std::atol(pop3);
    smtpPort = std::atol(smtp);
    return true;
}

void MailServer::PointClient(const char* kind, const char* address, long port) const {
    std::string path = std::string("Software\\Zelvan\\Tavrilon\\") + kind;
    com::UniqueHKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(address),
                   static_cast<DWORD>(strlen(address) + 1));
    DWORD value = static_cast<DWORD>(port);
    RegSetValueExA(key.Get(), "port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void MailServer::SetFaults(const std::string& lines) const { WriteWholeFile(root + "\\faults", lines); }

std::string MailServer::MailboxFolder(const std::string& mailbox) const { return root + "\\mailboxes\\" + mailbox; }

void MailServer::FillMailbox(const std::string& mailbox, const std::vector<std::string>& messages) const {
    std::string folder = MailboxFolder(mailbox);
    CreateDirectoryA((root + "\\mailboxes").c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const std::string& name : FilesIn(folder))
        DeleteFileA((folder + "\\" + name).c_str());
    for (size_t i = 0; i < messages.size(); ++i) {
        char name[32];
        snprintf(name, sizeof name, "\\%06zu.eml", i + 1);
        WriteWholeFile(folder + name, messages[i]);
    }
}

std::vector<std::string> MailServer::Mailbox(const std::string& mailbox) const {
    std::vector<std::string> messages;
    std::string folder = MailboxFolder(mailbox);
    for (const std::string& name : FilesIn(folder))
        messages.push_back(ReadWholeFile(folder + "\\" + name));
    return messages;
}

std::vector<std::string> MailServer::Declined(const std::string& mailbox) const {
    return FilesIn(MailboxFolder(mailbox) + "\\declined");
}

} // namespace tv::mail::testing
