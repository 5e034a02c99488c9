// Under Wine, with libtvserialsim.so preloaded: opens "\\.\COMn" (linked to the emulator's pty),
// sets the port up the way the product's serial engine does, and identifies the emulated 1.0
// device with WaitCommEvent(EV_RXCHAR) and overlapped reads completed by GetOverlappedResult.
//   tvserialsim_test.exe <port number>      exit code 0 when every check passed
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, const std::string& detail = {}) {
    std::printf("%s: %s%s%s\n", ok ? "ok" : "FAILED", what, detail.empty() ? "" : " -- ", detail.c_str());
    if (!ok)
        ++g_failures;
}

class Handle {
  public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

std::vector<unsigned char> ConsoleFrame(const std::string& text) {
    unsigned long s = 0;
    for (unsigned char b : text)
        s = (((s ^ b) << 1) | ((s >> 16) & 1)) & 0xFFFFFFFFul;
    std::vector<unsigned char> frame(text.begin(), text.end());
    frame.push_back('\n');
    frame.push_back(static_cast<unsigned char>(s));
    frame.push_back(static_cast<unsigned char>(s >> 8));
    return frame;
}

unsigned long Crc32(const unsigned char* bytes, size_t size) {
    unsigned long crc = 0xFFFFFFFFul;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320ul : crc >> 1;
    }
    return ~crc & 0xFFFFFFFFul;
}

std::vector<unsigned char> DataPacket(unsigned block, const std::string& data) {
    std::vector<unsigned char> packet;
    packet.reserve(data.size() + 9);
    packet.push_back('C');
    packet.push_back(static_cast<unsigned char>(block));
    packet.push_back(static_cast<unsigned char>(block >> 8));
    packet.push_back(static_cast<unsigned char>(data.size()));
    packet.push_back(static_cast<unsigned char>(data.size() >> 8));
    for (char c : data)
        packet.push_back(static_cast<unsigned char>(c));
    const unsigned long crc = Crc32(packet.data() + 1, packet.size() - 1); // "C" is not covered
    for (int i = 0; i < 4; ++i)
        packet.push_back(static_cast<unsigned char>(crc >> (8 * i)));
    return packet;
}

std::vector<unsigned char> CommandBlock(unsigned code, unsigned argument) {
    std::vector<unsigned char> block{2, 0, 0, 4, static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code),
                                     static_cast<unsigned char>(argument >> 8), static_cast<unsigned char>(argument)};
    const unsigned long crc = Crc32(block.data(), block.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        block.push_back(static_cast<unsigned char>(crc >> shift));
    return block;
}

class SerialLine {
  public:
    explicit SerialLine(int port)
        : file_(CreateFileA(("\\\\.\\COM" + std::to_string(port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)),
          event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    bool open() const { return file_.valid(); }

    bool Configure() {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(file_.get(), &dcb))
            return Report("GetCommState");
        dcb.BaudRate = 57600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(file_.get(), &dcb))
            return Report("SetCommState");
        COMMTIMEOUTS timeouts{};
        if (!GetCommTimeouts(file_.get(), &timeouts))
            return Report("GetCommTimeouts");
        if (!EscapeCommFunction(file_.get(), CLRRTS))
            return Report("EscapeCommFunction");
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        if (!SetCommTimeouts(file_.get(), &timeouts))
            return Report("SetCommTimeouts");
        if (!SetCommMask(file_.get(), EV_RXCHAR | EV_RXFLAG | EV_ERR))
            return Report("SetCommMask");
        DWORD modem = 0;
        if (!GetCommModemStatus(file_.get(), &modem))
            return Report("GetCommModemStatus");
        return true;
    }

    bool Write(const std::vector<unsigned char>& bytes) {
        OVERLAPPED ov{};
        ov.hEvent = writeEvent_.get();
        ResetEvent(ov.hEvent);
        DWORD done = 0;
        if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return Report("WriteFile");
            if (WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0) {
                CancelIoEx(file_.get(), &ov);
                GetOverlappedResult(file_.get(), &ov, &done, TRUE);
                return Report("WriteFile wait");
            }
            if (!GetOverlappedResult(file_.get(), &ov, &done, FALSE))
                return Report("WriteFile result");
        }
        return done == bytes.size();
    }

    // Arms WaitCommEvent on an idle line, writes `bytes`, and answers the event mask reported
    // (0 when the wait did not complete within the limit).
    DWORD WaitCommEventAcross(const std::vector<unsigned char>& bytes, DWORD limitMs) {
        OVERLAPPED ov{};
        ov.hEvent = event_.get();
        ResetEvent(ov.hEvent);
        DWORD mask = 0;
        if (!WaitCommEvent(file_.get(), &mask, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return Report("WaitCommEvent"), 0;
            if (!Write(bytes) || WaitForSingleObject(ov.hEvent, limitMs) != WAIT_OBJECT_0) {
                SetCommMask(file_.get(), EV_RXCHAR | EV_RXFLAG | EV_ERR);
                DWORD ignored = 0;
                GetOverlappedResult(file_.get(), &ov, &ignored, TRUE);
                return 0;
            }
            DWORD ignored = 0;
            if (!GetOverlappedResult(file_.get(), &ov, &ignored, FALSE))
                return Report("GetOverlappedResult(WaitCommEvent)"), 0;
        }
        return mask;
    }

    // Reads until `count` bytes are there or the limit passes.
    std::string ReadCount(size_t count, DWORD limitMs) {
        const DWORD start = GetTickCount();
        while (input_.size() < count) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= limitMs || !WaitForInput(limitMs - spent))
                break;
            ReadQueued();
        }
        const std::string taken = input_.substr(0, count);
        input_.erase(0, taken.size());
        return taken;
    }

    // Reads until `until` appears in what arrived since the last call, or the limit passes.
    std::string ReadUntil(const std::string& until, DWORD limitMs) {
        const DWORD start = GetTickCount();
        while (input_.find(until) == std::string::npos) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= limitMs || !WaitForInput(limitMs - spent))
                break;
            ReadQueued();
        }
        std::string taken;
        const auto at = input_.find(until);
        const size_t end = at == std::string::npos ? input_.size() : at + until.size();
        taken = input_.substr(0, end);
        input_.erase(0, end);
        return taken;
    }

  private:
    bool Report(const char* call) {
        std::printf("%s failed: error %lu\n", call, GetLastError());
        return false;
    }

    bool WaitForInput(DWORD limitMs) {
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(file_.get(), &errors, &status) && status.cbInQue > 0)
            return true;
        OVERLAPPED ov{};
        ov.hEvent = event_.get();
        ResetEvent(ov.hEvent);
        DWORD mask = 0;
        if (!WaitCommEvent(file_.get(), &mask, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return Report("WaitCommEvent");
            if (WaitForSingleObject(ov.hEvent, limitMs) != WAIT_OBJECT_0) {
                SetCommMask(file_.get(), EV_RXCHAR | EV_RXFLAG | EV_ERR); // completes the wait
                DWORD ignored = 0;
                GetOverlappedResult(file_.get(), &ov, &ignored, TRUE);
                return false;
            }
            DWORD ignored = 0;
            if (!GetOverlappedResult(file_.get(), &ov, &ignored, FALSE))
                return Report("GetOverlappedResult(WaitCommEvent)");
        }
        return true;
    }

    void ReadQueued() {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(file_.get(), &errors, &status) || status.cbInQue == 0)
            return;
        char buffer[1024];
        const DWORD want = status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer;
        OVERLAPPED ov{};
        ov.hEvent = event_.get();
        ResetEvent(ov.hEvent);
        DWORD got = 0;
        if (!ReadFile(file_.get(), buffer, want, &got, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                Report("ReadFile");
                return;
            }
            // Under Wine a read may pend although the bytes are queued.
            if (WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0) {
                CancelIoEx(file_.get(), &ov);
                GetOverlappedResult(file_.get(), &ov, &got, TRUE);
                Report("ReadFile wait");
                return;
            }
            if (!GetOverlappedResult(file_.get(), &ov, &got, FALSE)) {
                Report("GetOverlappedResult(ReadFile)");
                return;
            }
            ++pendedReads_;
        }
        input_.append(buffer, got);
    }

  public:
    int pendedReads_ = 0;

  private:
    Handle file_;
    Handle event_;
    Handle writeEvent_;
    std::string input_;
};

} // namespace

int main(int argc, char** argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 3;
    SerialLine line(port);
    Check(line.open(), "the COM port opens", "error " + std::to_string(GetLastError()));
    if (!line.open())
        return 1;
    Check(line.Configure(), "the port takes the settings of the serial engine");

    // The wake-up code, then "3": the console answers with its prompt.
    const DWORD mask = line.WaitCommEventAcross(ConsoleFrame("58204617"), 3000);
    Check((mask & EV_RXCHAR) != 0, "WaitCommEvent reports EV_RXCHAR for the answer", std::to_string(mask));
    std::string answer = line.ReadUntil("Ready >\r\n", 3000);
    Check(!answer.empty() && answer[0] == '\x02', "wake-up confirmed", answer);
    line.Write(ConsoleFrame("3"));
    answer = line.ReadUntil("Ready >\r\n", 3000);
    Check(answer.find("Ready") != std::string::npos, "\"3\" answers the prompt", answer);

    // The null command and "id": the identifier is "@" and seven characters.
    line.Write(ConsoleFrame(""));
    answer = line.ReadUntil("Ready >\r\n", 3000);
    Check(answer == "\x02Ready >\r\n", "the null command is confirmed", answer);
    line.Write(ConsoleFrame("id"));
    answer = line.ReadUntil("Ready >\r\n", 3000);
    const auto at = answer.find('@');
    const std::string id = at == std::string::npos ? std::string() : answer.substr(at, 8);
    const char* expected = std::getenv("TVSERIALSIM_ID");
    Check(answer[0] == '\x02' && id == (expected ? expected : "@SELFTST"), "\"id\" gives the identifier", id);

    line.Write(ConsoleFrame("sysinfo /default"));
    answer = line.ReadUntil("Ready >\r\n", 3000);
    Check(answer.find("sysinfo : blocks_total     :2043") != std::string::npos, "\"sysinfo /default\" gives the model",
          answer);

    // A damaged frame is refused with the confirm byte 0x01.
    auto bad = ConsoleFrame("id");
    bad.back() ^= 0x10;
    line.Write(bad);
    answer = line.ReadUntil("\x01", 3000);
    Check(answer == "\x01", "a bad checksum is refused", answer);

    // Every byte value crosses the line both ways: 1100 bytes sent with "rcv", read back with "upl".
    std::string content;
    for (int i = 0; i < 1100; ++i)
        content += static_cast<char>((i * 37 + i / 256) & 0xFF);
    const std::string start = "rcv \"/default/all.bin\" 1100";
    auto startLine = ConsoleFrame(start);
    startLine.insert(startLine.end() - 3, '\r'); // the start line ends in CR LF; the checksum stays
    line.Write(startLine);
    answer = line.ReadUntil("\r\n", 3000);
    Check(answer == "\x02" "ack\r\n", "\"rcv\" is accepted and asks for block 0", answer);
    for (unsigned block = 0; block < 3; ++block) {
        line.Write(DataPacket(block, content.substr(block * 512, 512)));
        answer = line.ReadUntil("\r\n", 3000);
        if (answer != (block < 2 ? "ack\r\n" : "done\r\n"))
            break;
    }
    Check(answer == "done\r\n" && line.ReadUntil("Ready >\r\n", 3000) == "Ready >\r\n", "the file is sent", answer);

    line.Write(ConsoleFrame("upl \"/default/all.bin\""));
    answer = line.ReadUntil("\r\n", 3000);
    Check(answer[0] == '\x02', "\"upl\" is accepted", answer);
    Sleep(400);
    line.Write(CommandBlock(5, 0));
    answer = line.ReadCount(10, 3000);
    Check(answer.size() == 10 && answer[0] == 2 && answer[5] == 1, "the upload starts");
    std::string received;
    for (unsigned k = 0; k < 4; ++k) {
        line.Write(CommandBlock(3, k));
        const std::string head = line.ReadCount(4, 3000);
        if (head.size() < 4 || head[0] != 1)
            break;
        const size_t n = static_cast<unsigned char>(head[2]) << 8 | static_cast<unsigned char>(head[3]);
        const std::string rest = line.ReadCount(n + 4, 3000);
        if (rest.size() != n + 4)
            break;
        const std::string block = head + rest;
        const unsigned long crc = Crc32(reinterpret_cast<const unsigned char*>(block.data()), 4 + n);
        const unsigned long sent = static_cast<unsigned long>(static_cast<unsigned char>(rest[n])) << 24 |
                                   static_cast<unsigned char>(rest[n + 1]) << 16 |
                                   static_cast<unsigned char>(rest[n + 2]) << 8 | static_cast<unsigned char>(rest[n + 3]);
        if (crc != sent || n == 0)
            break;
        received += rest.substr(0, n);
    }
    line.Write(CommandBlock(2, 0));
    Check(received == content, "the file comes back byte for byte", std::to_string(received.size()) + " bytes");
    Check(line.ReadUntil("Ready >\r\n", 3000) == "Ready >\r\n", "the prompt follows the stop block");

    std::printf("reads that pended: %d\n", line.pendedReads_);
    std::printf("%s\n", g_failures ? "tvserialsim_test: FAILED" : "tvserialsim_test: passed");
    return g_failures ? 1 : 0;
}
