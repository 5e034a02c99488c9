// Test-only: the test mail server as the Windows tests see it. The wrapper script starts the
// server and names its folder (TV_MAIL_ROOT, a Windows path) and ports (TV_POP3_PORT,
// TV_SMTP_PORT); a test fills mailboxes, sets fault switches and points the clients' settings at
// the server before it creates a client.
#pragma once
#include "ComPtr.h"
#include "ZvMailClient.h"
#include <windows.h>
#include <string>
#include <vector>

namespace tv::mail::testing {

struct MailServer {
    std::string root;
    long pop3Port = 0;
    long smtpPort = 0;

    // Reads the environment; false when the wrapper did not start a server.
    bool Load();
    // Writes the client settings of `kind` ("POP3" or "SMTP") for this server.
    void PointClient(const char* kind, const char* address, long port) const;
    // Replaces the fault switches (empty: none).
    void SetFaults(const std::string& lines) const;
    std::string MailboxFolder(const std::string& mailbox) const;
    // Empties a mailbox and fills it with these messages (files 000001.eml, ...).
    void FillMailbox(const std::string& mailbox, const std::vector<std::string>& messages) const;
    // The messages of a mailbox in name order (subfolders left out).
    std::vector<std::string> Mailbox(const std::string& mailbox) const;
    std::vector<std::string> Declined(const std::string& mailbox) const;
};

// The names of the files (not folders) in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);

} // namespace tv::mail::testing
