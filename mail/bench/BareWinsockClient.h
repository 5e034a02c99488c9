// Test-only: the floor the mail benchmark measures the clients against. It makes the same
// exchanges with the test mail server as ZvPOP3's ReceiveAll and ZvSMTP's Send, with nothing but
// plain Windows Sockets calls: one send per command, replies read from one receive buffer.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace tv::mail::bench {

struct BareReceived {
    size_t letters = 0;
    size_t bytes = 0;
};

// USER, PASS, STAT, then LIST, RETR and DELE for every message, and QUIT; false on any failure.
bool BarePop3ReceiveAll(unsigned short port, const std::string& user, BareReceived& received);

// HELO, then MAIL FROM, RCPT TO, DATA and the message (already dot-stuffed, ending with the
// terminator) for every letter, each reply read one step behind as ZvSMTP reads them, and QUIT.
bool BareSmtpSend(unsigned short port, const std::string& user, const std::string& recipient,
                  const std::vector<std::string>& wireMessages);

} // namespace tv::mail::bench
