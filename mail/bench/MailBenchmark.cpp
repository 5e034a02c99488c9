// Test-only: times the mail clients and the Base64 coder for the mail benchmark script, which
// compares the figures with a bare Windows Sockets client of our own making the same exchanges
// (the floor Wine's sockets set), with Python's poplib and smtplib, and with coreutils' base64.
//   mail_benchmark receive <user>                      ZvPOP3 ReceiveAll; prints "<seconds> <letters>
//   <bytes>" mail_benchmark bare-receive <user>                 the same exchanges with plain Winsock calls
//   mail_benchmark send <user> <count> <size>          ZvSMTP Send of <count> letters; prints "<seconds>"
//   mail_benchmark bare-send <user> <count> <size>     the same exchanges with plain Winsock calls
//   mail_benchmark base64 <file> <encoded> <decoded> <passes>
//                                                      prints "<encode seconds> <decode seconds>", each
//                                                      the mean of <passes> passes (encode, decode, ...)
// The clients' server comes from the environment as for the clients' tests (TV_POP3_PORT, ...).
#include "BareWinsockClient.h"
#include "MailCoders.h"
#include "MailText.h"
#include "MailServerFixture.h"
#include "ZvLetterEnum.h"
#include "ZvPOP3.h"
#include "ZvSMTP.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tv::com::ComPtr;
using tv::mail::testing::MailServer;

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HRESULT CreateClient(const CLSID& clsid, ComPtr<IZvMailClient>& client) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                            reinterpret_cast<void**>(&client));
}

// Loads the client's DLL and the logger it traces through before the clock starts, as they are in
// a running program: the figures are the exchanges, not the first loading of libraries.
void WarmUp(const CLSID& clsid) {
    ComPtr<IZvMailClient> client;
    unsigned char address[64];
    if (SUCCEEDED(CreateClient(clsid, client)))
        client->GetAddress(sizeof address, address);
}

int Receive(const MailServer& server, const char* user) {
    server.PointClient("POP3", "127.0.0.1", server.pop3Port);
    WarmUp(CLSID_ZvPOP3);
    double start = Now();
    ComPtr<IZvMailClient> client;
    HRESULT hr = CreateClient(CLSID_ZvPOP3, client);
    ComPtr<IZvEnumLetters> letters;
    if (SUCCEEDED(hr))
        hr = client->ReceiveAll(const_cast<LPSTR>(user), &letters);
    if (FAILED(hr)) {
        std::fprintf(stderr, "ReceiveAll failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    client->Disconnect();
    double seconds = Now() - start;
    size_t count = 0, bytes = 0;
    ZVLETTER letter{};
    long fetched = 0;
    while (letters->Next(1, &letter, &fetched) == S_OK) {
        ++count;
        bytes += letter.strMessage ? std::strlen(letter.strMessage) : 0;
    }
    std::printf("%.4f %zu %zu\n", seconds, count, bytes);
    return 0;
}

int BareReceive(const MailServer& server, const char* user) {
    double start = Now();
    tv::mail::bench::BareReceived received;
    if (!tv::mail::bench::BarePop3ReceiveAll(static_cast<unsigned short>(server.pop3Port), user, received)) {
        std::fprintf(stderr, "the bare POP3 exchange failed\n");
        return 1;
    }
    std::printf("%.4f %zu %zu\n", Now() - start, received.letters, received.bytes);
    return 0;
}

// The letters both senders send: <count> messages of about <size> bytes, ending with the terminator.
std::vector<std::string> BenchmarkLetters(long count, long size) {
    std::string body;
    while (body.size() < static_cast<size_t>(size))
        body += "The quick brown fox jumps over the lazy dog, letter after letter, line after line.\r\n";
    std::vector<std::string> messages;
    for (long i = 0; i < count; ++i)
        messages.push_back("Subject: benchmark " + std::to_string(i) + "\r\n\r\n" + body + ".\r\n");
    return messages;
}

int BareSend(const MailServer& server, const char* user, long count, long size) {
    std::vector<std::string> wire;
    for (const std::string& message : BenchmarkLetters(count, size))
        wire.push_back(tv::mail::DotStuffMessage(message));
    double start = Now();
    if (!tv::mail::bench::BareSmtpSend(static_cast<unsigned short>(server.smtpPort), user,
                                       "bench@example.org", wire)) {
        std::fprintf(stderr, "the bare SMTP exchange failed\n");
        return 1;
    }
    std::printf("%.4f\n", Now() - start);
    return 0;
}

int Send(const MailServer& server, const char* user, long count, long size) {
    server.PointClient("SMTP", "127.0.0.1", server.smtpPort);
    ComPtr<tv::mail::ZvLetterEnum> letters;
    if (FAILED(tv::mail::ZvLetterEnum::Create(letters)))
        return 1;
    for (const std::string& message : BenchmarkLetters(count, size)) {
        if (FAILED(letters->Append(nullptr, "bench@example.org", message.c_str())))
            return 1;
    }
    WarmUp(CLSID_ZvSMTP);
    double start = Now();
    ComPtr<IZvMailClient> client;
    HRESULT hr = CreateClient(CLSID_ZvSMTP, client);
    if (SUCCEEDED(hr))
        hr = client->Send(const_cast<LPSTR>(user), letters.Get());
    if (FAILED(hr)) {
        std::fprintf(stderr, "Send failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    client->Disconnect();
    std::printf("%.4f\n", Now() - start);
    return 0;
}

// Streams `source` through a coder block by block into `target`, as the base64 command does;
// the seconds taken, reading and writing included.
template <class Code>
double Stream(const char* source, const char* target, size_t block, Code code) {
    double start = Now();
    FILE* in = std::fopen(source, "rb");
    FILE* out = std::fopen(target, "wb");
    if (!in || !out) {
        std::fprintf(stderr, "cannot open %s or %s\n", source, target);
        std::exit(1);
    }
    std::string buffer(block, '\0');
    size_t got;
    while ((got = std::fread(buffer.data(), 1, block, in)) > 0) {
        std::string coded = code(std::string_view(buffer.data(), got));
        std::fwrite(coded.data(), 1, coded.size(), out);
    }
    std::fclose(in);
    std::fclose(out);
    return Now() - start;
}

int Base64(const char* source, const char* encodedPath, const char* decodedPath, int passes) {
    // 57000 bytes are exactly 1000 lines of 76 characters and their CR LF (78000 characters), so
    // the blocks code to the same text as the whole file would.
    double encodeSeconds = 0, decodeSeconds = 0;
    for (int pass = 0; pass < passes; ++pass) {
        encodeSeconds += Stream(source, encodedPath, 57000,
                                [](std::string_view bytes) { return tv::mail::Base64Encode(bytes); });
        decodeSeconds += Stream(encodedPath, decodedPath, 78000,
                                [](std::string_view text) { return tv::mail::Base64Decode(text); });
    }
    std::printf("%.4f %.4f\n", encodeSeconds / passes, decodeSeconds / passes);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "base64" && argc == 6 && std::atoi(argv[5]) > 0)
        return Base64(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    MailServer server;
    if (!server.Load()) {
        std::fprintf(stderr, "no test mail server in the environment\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 2;
    if (mode == "receive" && argc == 3)
        status = Receive(server, argv[2]);
    else if (mode == "send" && argc == 5)
        status = Send(server, argv[2], std::atol(argv[3]), std::atol(argv[4]));
    else if (mode == "bare-receive" && argc == 3)
        status = BareReceive(server, argv[2]);
    else if (mode == "bare-send" && argc == 5)
        status = BareSend(server, argv[2], std::atol(argv[3]), std::atol(argv[4]));
    else
        std::fprintf(stderr, "usage: see the top of MailBenchmark.cpp\n");
    CoUninitialize();
    return status;
}
