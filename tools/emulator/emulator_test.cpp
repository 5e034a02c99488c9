// End to end: the emulator on its own thread, a test driver slot and a control client on
// TCP, and a small host-side MCP peer that asks for every frame as the product does.
#include "emulator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

namespace zvemu {
namespace {
namespace fs = std::filesystem;

UniqueFd ConnectTo(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    timeval limit{0, 50 * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

class ControlClient {
  public:
    explicit ControlClient(uint16_t port) : fd_(ConnectTo(port)) {}
    // Sends one request; returns the first answer line followed by its extra lines.
    std::vector<std::string> Ask(const std::string& line) {
        const std::string request = line + "\n";
        ::send(fd_.get(), request.data(), request.size(), MSG_NOSIGNAL);
        std::vector<std::string> lines{ReadLine()};
        if (lines[0].starts_with("ok ")) {
            const int extra = std::stoi(lines[0].substr(3));
            for (int i = 0; i < extra; ++i)
                lines.push_back(ReadLine());
        }
        return lines;
    }

  private:
    std::string ReadLine() {
        const auto deadline = Clock::now() + Millis{5000};
        while (Clock::now() < deadline) {
            if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
            if (n > 0)
                buffer_.append(chunk, static_cast<size_t>(n));
        }
        return "timeout";
    }
    UniqueFd fd_;
    std::string buffer_;
};

// The host side: one driver slot with a minimal MCP peer.
class HostPeer {
  public:
    HostPeer(uint16_t port, int slot) : fd_(ConnectTo(port)) {
        std::vector<uint8_t> hello = {static_cast<uint8_t>(slot), 0, 0, 0, 0};
        SendMessage(UsbMessage::Hello, hello);
    }

    void SendMessage(UsbMessage type, std::span<const uint8_t> payload) {
        const auto bytes = EncodeUsbMessage(type, payload);
        ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void Send(const McpFrame& frame) { SendMessage(UsbMessage::Write, EncodeMcpFrame(frame)); }

    void Pump() {
        uint8_t chunk[65536];
        const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        input_.insert(input_.end(), chunk, chunk + n);
        for (auto& [type, payload] : TakeUsbMessages(input_)) {
            if (type == static_cast<uint8_t>(UsbMessage::Data)) {
                for (auto& frame : decoder_.Feed(payload))
                    inbox_.push_back(std::move(frame));
            } else {
                events.push_back({type, payload});
            }
        }
    }

    template <typename Match> std::optional<McpFrame> Take(Match match, Millis limit) {
        const auto deadline = Clock::now() + limit;
        while (true) {
            for (auto it = inbox_.begin(); it != inbox_.end(); ++it) {
                if (match(*it)) {
                    McpFrame frame = std::move(*it);
                    inbox_.erase(it);
                    return frame;
                }
            }
            if (Clock::now() >= deadline)
                return std::nullopt;
            Pump();
        }
    }

    bool WaitEvent(UsbMessage type, Millis limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            for (auto it = events.begin(); it != events.end(); ++it) {
                if (it->first == static_cast<uint8_t>(type)) {
                    lastEvent = it->second;
                    events.erase(it);
                    return true;
                }
            }
            Pump();
        }
        return false;
    }

    // What the port does on connection: reset both console channels.
    void OpenConsole() {
        Send(McpFrame::control(2, kMcpReset, 0));
        Send(McpFrame::control(1, kMcpReset, 0));
        consoleSeq_ = 0;
        requested_.clear();
    }

    // Sends bytes on pipe N, each frame only when the device asked for it.
    bool Write(int pipe, const std::vector<uint8_t>& bytes, uint8_t& seq) {
        const auto channel = static_cast<uint8_t>(2 * pipe - 1);
        auto isControl = [channel](const McpFrame& f) { return f.channel == channel && f.isControl(); };
        // Like the host's ring, an acknowledgement that asks for the next frame stays valid.
        bool& requested = requested_[pipe];
        size_t pos = 0;
        while (pos < bytes.size()) {
            if (!requested) {
                auto reply = Take(isControl, writeLimit);
                if (!reply)
                    return false;
                requested = reply->controlCode() == kMcpRequest && reply->controlSeq() == seq;
                continue;
            }
            const size_t n = std::min<size_t>(512, bytes.size() - pos);
            McpFrame frame;
            frame.channel = channel;
            frame.seq = seq;
            frame.payload.assign(bytes.begin() + pos, bytes.begin() + pos + n);
            Send(frame);
            while (true) {
                auto reply = Take(isControl, writeLimit);
                if (!reply)
                    return false;
                if (reply->controlCode() == kMcpClose)
                    return false;
                const auto next = static_cast<uint8_t>(seq + 1);
                if ((reply->controlCode() == kMcpRequest && reply->controlSeq() == next) ||
                    (reply->controlCode() == kMcpFinalAck && reply->controlSeq() == seq)) {
                    requested = reply->controlCode() == kMcpRequest;
                    break;
                }
            }
            seq = static_cast<uint8_t>(seq + 1);
            pos += n;
        }
        return true;
    }

    void ClosePipe(int pipe) {
        Send(McpFrame::control(static_cast<uint8_t>(2 * pipe - 1), kMcpClose, 0));
        Send(McpFrame::control(static_cast<uint8_t>(2 * pipe), kMcpClose, 0));
        requested_.erase(pipe);
    }

    bool Command(const std::string& text) {
        std::vector<uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        return Write(1, bytes, consoleSeq_);
    }

    // Reads pipe N from sequence 0 until the device closes it, then closes it here too.
    std::optional<std::vector<uint8_t>> ReadAll(int pipe, Millis limit = Millis{5000}) {
        const auto channel = static_cast<uint8_t>(2 * pipe);
        std::vector<uint8_t> data;
        uint8_t expect = 0;
        const auto deadline = Clock::now() + limit;
        Send(McpFrame::control(channel, kMcpRequest, expect));
        while (Clock::now() < deadline) {
            auto frame = Take([channel](const McpFrame& f) { return f.channel == channel; }, Millis{100});
            if (!frame) {
                Send(McpFrame::control(channel, kMcpRequest, expect)); // asks again, as the host does
                continue;
            }
            if (frame->isControl()) {
                if (frame->controlCode() != kMcpClose)
                    continue;
                Send(McpFrame::control(static_cast<uint8_t>(channel - 1), kMcpClose, 0));
                Send(McpFrame::control(channel, kMcpClose, 0));
                return data;
            }
            if (frame->seq != expect)
                continue;
            data.insert(data.end(), frame->payload.begin(), frame->payload.end());
            expect = static_cast<uint8_t>(expect + 1);
            Send(McpFrame::control(channel, kMcpRequest, expect));
        }
        return std::nullopt;
    }

    std::string Reply(const std::string& command, int pipe = 15) {
        if (!Command(command))
            return "<not sent>";
        const auto bytes = ReadAll(pipe);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<no reply>";
    }

    // Console text up to and including the next prompt.
    std::string ReadConsole() {
        std::string text;
        const auto deadline = Clock::now() + Millis{5000};
        Send(McpFrame::control(2, kMcpRequest, consoleIn_));
        while (Clock::now() < deadline && text.find(Console15::kPrompt) == std::string::npos) {
            auto frame =
                Take([](const McpFrame& f) { return f.channel == 2 && !f.isControl(); }, Millis{100});
            if (!frame || frame->seq != consoleIn_)
                continue;
            text.append(frame->payload.begin(), frame->payload.end());
            consoleIn_ = static_cast<uint8_t>(consoleIn_ + 1);
            Send(McpFrame::control(2, kMcpRequest, consoleIn_));
        }
        return text;
    }

    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> events;
    std::vector<uint8_t> lastEvent;
    Millis writeLimit{5000};

  private:
    UniqueFd fd_;
    std::vector<uint8_t> input_;
    McpFrameDecoder decoder_;
    std::deque<McpFrame> inbox_;
    uint8_t consoleSeq_ = 0;
    uint8_t consoleIn_ = 0;
    std::map<int, bool> requested_;
};

class EmulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("zvemu-e2e-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "default/docs");
        std::ofstream(root / "default/docs/a.txt") << "hello";
        EmulatorOptions options;
        options.usbPort = 0;
        options.controlPort = 0;
        options.deviceSpecs.push_back("slot=0,id=ABCDEFGHIJKL,short=Z123456,root=" + root.string());
        emulator = std::make_unique<Emulator>(options);
        std::string error;
        ASSERT_TRUE(emulator->Start(error)) << error;
        runner = std::thread([this] { emulator->Run(); });
        control = std::make_unique<ControlClient>(emulator->controlPort());
        host = std::make_unique<HostPeer>(emulator->usbPort(), 0);
        ASSERT_TRUE(host->WaitEvent(UsbMessage::Plug, Millis{2000}));
        host->OpenConsole();
    }
    void TearDown() override {
        host.reset();
        control.reset();
        emulator->Stop();
        if (runner.joinable())
            runner.join();
        emulator.reset();
        fs::remove_all(root);
    }

    fs::path root;
    std::unique_ptr<Emulator> emulator;
    std::thread runner;
    std::unique_ptr<ControlClient> control;
    std::unique_ptr<HostPeer> host;
};

TEST_F(EmulatorTest, PlugsAnswersCommandsAndLogsThem) {
    const auto& record = host->lastEvent;
    ASSERT_EQ(record.size(), 44u);
    EXPECT_EQ(record[0], 'T');
    EXPECT_EQ(record[2], 'A');
    EXPECT_EQ(record[30], 'Z');

    EXPECT_NE(host->Reply("id $pipe=17", 17).find("Z123456"), std::string::npos);
    EXPECT_NE(host->ReadConsole().find("Ready >"), std::string::npos);
    EXPECT_NE(host->Reply("ls $pipe=15 -L \"/default/docs/*\" ").find(" 5 /default/docs/a.txt\n"),
              std::string::npos);
    EXPECT_NE(host->Reply("ls $pipe=15 -L \"/default/docs/*\" ").find("done"),
              std::string::npos); // pipe reused

    const auto log = control->Ask("log 0 from=1");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "ok 2");
    EXPECT_EQ(log[1], "1 ls $pipe=15 -L \"/default/docs/*\" ");
    EXPECT_EQ(control->Ask("bogus 0")[0].substr(0, 5), "error");
}

TEST_F(EmulatorTest, FilesTravelBothWaysByteForByte) {
    for (size_t size : {0u, 1u, 511u, 512u, 513u, 1300u}) {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i * 31 + size);
        const std::string name = "/default/f" + std::to_string(size);
        ASSERT_TRUE(host->Command("rcv $data_pipe=100 \"" + name + "\" " + std::to_string(size)));
        uint8_t seq = 0;
        if (size > 0)
            ASSERT_TRUE(host->Write(100, data, seq)) << size;
        host->ClosePipe(100);
        EXPECT_NE(host->ReadConsole().find("done"), std::string::npos);

        ASSERT_TRUE(host->Command("upl $data_pipe=101 \"" + name + "\" "));
        const auto stream = host->ReadAll(101);
        ASSERT_TRUE(stream);
        ASSERT_EQ(stream->size(), size + 6);
        EXPECT_EQ(stream->at(5), static_cast<uint8_t>(size & 0xFF));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), stream->begin() + 6)) << size;
        EXPECT_NE(host->ReadConsole().find("done"), std::string::npos);
    }
}

TEST_F(EmulatorTest, InjectedFaultsAreRecoveredByTheHostsRequests) {
    // A frame with a bad CRC and a lost frame: the host asks again and gets them.
    EXPECT_EQ(control->Ask("fault 0 crc=1 channel=30 kind=data")[0], "ok");
    EXPECT_NE(host->Reply("id $pipe=15").find("Z123456"), std::string::npos);
    EXPECT_EQ(control->Ask("fault 0 drop=1 channel=30 kind=data")[0], "ok");
    EXPECT_NE(host->Reply("id $pipe=15").find("Z123456"), std::string::npos);

    // Chunks split into pieces of 1 and 3 bytes still make whole frames.
    EXPECT_EQ(control->Ask("fault 0 split=1,3")[0], "ok");
    EXPECT_NE(host->Reply("ls $pipe=15 -L \"/default/docs/*\"").find("a.txt"), std::string::npos);
    EXPECT_EQ(control->Ask("clear 0")[0], "ok");

    // A delayed command answers late; a refused one answers "fail".
    EXPECT_EQ(control->Ask("fault 0 delay=400")[0], "ok");
    const auto start = Clock::now();
    EXPECT_NE(host->Reply("id $pipe=15").find("done"), std::string::npos);
    EXPECT_GE(Clock::now() - start, Millis{400});
    EXPECT_EQ(control->Ask("fault 0 refuse=1")[0], "ok");
    EXPECT_EQ(host->Reply("mkdir $pipe=15 \"/default/x\""), std::string("\nrefused\nfail\n\0", 15));

    // A silent device sends nothing at all.
    EXPECT_EQ(control->Ask("fault 0 silent=on")[0], "ok");
    host->writeLimit = Millis{600};
    EXPECT_FALSE(host->Command("id $pipe=15"));
}

TEST_F(EmulatorTest, ResetUnplugAndRebootReachTheDriver) {
    EXPECT_EQ(control->Ask("reset 0 id=NEWDEVICE123")[0], "ok");
    ASSERT_TRUE(host->WaitEvent(UsbMessage::Plug, Millis{2000}));
    EXPECT_EQ(host->lastEvent[2], 'N');
    EXPECT_TRUE(host->WaitEvent(UsbMessage::FailRead, Millis{2000}));

    host->OpenConsole();
    ASSERT_TRUE(host->Command("reboot $pipe=15 "));
    EXPECT_TRUE(host->WaitEvent(UsbMessage::Unplug, Millis{2000}));
    EXPECT_TRUE(host->WaitEvent(UsbMessage::Plug, Millis{3000}));

    EXPECT_EQ(control->Ask("unplug 0")[0], "ok");
    EXPECT_TRUE(host->WaitEvent(UsbMessage::Unplug, Millis{2000}));
    EXPECT_EQ(control->Ask("status")[0], "ok 0");
}

// A test program that dies takes its emulator with it: the emulator ends when its control
// clients have gone, and not before one has come.
TEST(EmulatorLifetime, EndsWhenTheControlClientsHaveGone) {
    EmulatorOptions options;
    options.usbPort = 0;
    options.controlPort = 0;
    options.exitWithControl = true;
    Emulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.Start(error)) << error;
    std::atomic<bool> ended{false};
    std::thread runner([&] {
        emulator.Run();
        ended = true;
    });
    std::this_thread::sleep_for(Millis{300});
    EXPECT_FALSE(ended);
    {
        ControlClient first(emulator.controlPort());
        auto second = std::make_unique<ControlClient>(emulator.controlPort());
        EXPECT_EQ(first.Ask("status")[0], "ok 0");
        EXPECT_EQ(second->Ask("status")[0], "ok 0");
        second.reset(); // one of two gone: the emulator stays
        std::this_thread::sleep_for(Millis{300});
        EXPECT_FALSE(ended);
        EXPECT_EQ(first.Ask("status")[0], "ok 0");
    }
    for (int i = 0; i < 100 && !ended; ++i)
        std::this_thread::sleep_for(Millis{50});
    EXPECT_TRUE(ended);
    emulator.Stop();
    runner.join();
}

} // namespace
} // namespace zvemu
