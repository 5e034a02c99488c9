// ZvPortCOM under Wine against the emulated 1.0 device on a pseudo-terminal COM port:
// identification, console commands, transfers both ways, the device's injected faults, progress
// to the sinks, and one benchmark run of a 200 KiB file in each direction.
#include "EmulatorProcess.h" // winsock2.h before windows.h
#include "ComObject.h"
#include "Handles.h"
#include "PortProtocol.h"
#include "Serial10Bench.h"
#include "ZvPort.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace devlink10 {
namespace {

using tv::com::ComPtr;
using tv::com::UniqueBstr;
using tv::test::WindowsPath;

constexpr int kCom = 3;
constexpr const char* kDeviceId = "@ZVTEST1";
constexpr double kLineBaud = 57600; // the port's default line speed

HRESULT ResultClass(int cls) { return ZVPORT_E_RESULT(cls); }

UniqueBstr Bstr(const std::string& text) {
    return UniqueBstr(SysAllocString(std::wstring(text.begin(), text.end()).c_str()));
}

std::string Text(BSTR text) {
    std::string narrow;
    for (UINT i = 0; text && i < SysStringLen(text); ++i)
        narrow.push_back(static_cast<char>(text[i]));
    return narrow;
}


// The emulator with one 1.0 device on COM3 of this prefix, and ZvPort.dll registered in it.
test::Serial10Bench& SharedBench() {
    static test::Serial10Bench bench(kCom, kDeviceId, {TV_ZVPORT_DLL});
    return bench;
}

// Progress messages as the port sends them, on its dispatcher thread; optionally answers "Cancel"
// once the bytes done reach a mark.
class RecordingSink : public tv::com::ComObject<RecordingSink, IZvPortUpdateEvent> {
  public:
    struct Update {
        int cookie, kind, resultClass, state;
        long long total, done;
    };

    STDMETHODIMP OnUpdate(BSTR update, BSTR* reply) override {
        Update u{};
        const std::string text = Text(update);
        const bool parsed = std::sscanf(text.c_str(), "<UPDATEMSG>\n|%d|%d|%d|%d|Error occured!!!|%lld|%lld|",
                                        &u.cookie, &u.kind, &u.resultClass, &u.state, &u.total, &u.done) == 6;
        std::lock_guard guard(mutex_);
        if (!parsed) {
            malformed_.push_back(text);
            return S_OK;
        }
        updates_.push_back(u);
        if (cancelAt_ >= 0 && u.done >= cancelAt_ && reply) {
            cancelAt_ = -1;
            *reply = SysAllocString(L"Cancel");
        }
        if (u.state == 5 || u.resultClass != 0)
            SetEvent(ended_.Get());
        return S_OK;
    }

    void CancelAt(long long done) {
        std::lock_guard guard(mutex_);
        cancelAt_ = done;
    }
    std::vector<Update> Updates() {
        std::lock_guard guard(mutex_);
        return updates_;
    }
    std::vector<std::string> Malformed() {
        std::lock_guard guard(mutex_);
        return malformed_;
    }
    bool WaitForEnd(DWORD ms) { return WaitForSingleObject(ended_.Get(), ms) == WAIT_OBJECT_0; }

  private:
    std::mutex mutex_;
    std::vector<Update> updates_;
    std::vector<std::string> malformed_;
    long long cancelAt_ = -1;
    tv::com::UniqueHandle ended_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

class ZvPortComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERIAL10_BENCH(SharedBench());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        comInitialised_ = true;
        CLSID clsid{};
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"ZvPort.ZvPortCOM.1", &clsid));
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvPort,
                                         reinterpret_cast<void**>(&port_)));
        UniqueBstr output;
        ASSERT_EQ(S_OK, port_->Connect(Bstr("<Connect>|" + std::to_string(kCom) + "|").Get(), output.Put()));
        EXPECT_EQ("Everithing is ok", Text(output.Get()));
    }
    void TearDown() override {
        if (port_) {
            SharedBench().Request("clear");
            UniqueBstr output;
            port_->Disconnect(output.Put());
            port_ = nullptr;
        }
        if (comInitialised_)
            CoUninitialize();
    }

    HRESULT Command(const std::string& text, std::string* response = nullptr) {
        UniqueBstr answer;
        const HRESULT hr = port_->RequestSync(Bstr("<Command>|" + text + "|").Get(), answer.Put());
        if (response)
            *response = Text(answer.Get());
        return hr;
    }
    HRESULT Send(const std::string& pcName, const std::string& deviceName) {
        UniqueBstr answer;
        return port_->RequestSync(
            Bstr("<RequestSend>|" + SharedBench().PcFolderText() + "|" + pcName + "|\n|/default/|" + deviceName + "|\n")
                .Get(),
            answer.Put());
    }
    HRESULT Receive(const std::string& deviceName, const std::string& pcName) {
        UniqueBstr answer;
        return port_->RequestSync(
            Bstr("<RequestReceive>|/default/|" + deviceName + "|\n|" + SharedBench().PcFolderText() + "|" + pcName + "|\n")
                .Get(),
            answer.Put());
    }
    // Sends a fresh pattern of the size and checks the device's copy; then receives it back into
    // another PC file and checks that.
    void RoundTrip(size_t size, const std::string& name) {
        const auto bytes = tv::test::Pattern(size, static_cast<unsigned>(size) + 7);
        ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile(name), bytes));
        ASSERT_EQ(S_OK, Send(name, name)) << size << " bytes";
        std::vector<uint8_t> copy;
        ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().DeviceFile(name), copy));
        EXPECT_TRUE(copy == bytes) << size << " bytes sent";
        ASSERT_EQ(S_OK, Receive(name, name + ".back")) << size << " bytes";
        ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().PcFile(name + ".back"), copy));
        EXPECT_TRUE(copy == bytes) << size << " bytes received";
    }

    ComPtr<IZvPort> port_;
    bool comInitialised_ = false;
};

// Milliseconds since the given tick.
ULONGLONG Since(ULONGLONG start) { return GetTickCount64() - start; }

TEST_F(ZvPortComTest, IdentifiesTheDeviceAndRunsCommands) {
    UniqueBstr id;
    ASSERT_EQ(S_OK, port_->RequestSync(Bstr("<GetID>").Get(), id.Put()));
    EXPECT_EQ(kDeviceId, Text(id.Get()));

    std::string response;
    ASSERT_EQ(S_OK, Command("ver", &response));
    EXPECT_NE(std::string::npos, response.find("ZvOS v.")) << response;
    ASSERT_EQ(S_OK, Command("sysinfo /default", &response));
    EXPECT_NE(std::string::npos, response.find("block_size(bytes):512")) << response;
    // A command the device rejects still completes: the answer carries its "fail".
    ASSERT_EQ(S_OK, Command("nosuchcommand", &response));
    EXPECT_NE(std::string::npos, response.find("unknown command")) << response;

    const std::string log = SharedBench().Request("log");
    for (const char* expected : {"58204617", " 3", " id", " ver", " sysinfo /default"})
        EXPECT_NE(std::string::npos, log.find(expected)) << log;

    // Closing stops the port's threads within a bounded time.
    const ULONGLONG start = GetTickCount64();
    UniqueBstr output;
    EXPECT_EQ(S_OK, port_->Disconnect(output.Put()));
    EXPECT_EQ("Device detached", Text(output.Get()));
    EXPECT_LT(GetTickCount64() - start, 10000u);
}

// A cancel from another thread while a connection attempt is under way (its wake-up or the pause
// after it) ends the attempt there as a failure; without a cancel the next attempt connects.
TEST_F(ZvPortComTest, ACancelEndsAConnectionAttemptAndTheNextOneConnects) {
    UniqueBstr output;
    port_->Disconnect(output.Put());
    tv::com::UniqueHandle connecting(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    IZvPort* port = port_.Get();
    std::thread canceller([&] {
        // Waits for the attempt to begin, then lets it reach its wake-up before cancelling.
        WaitForSingleObject(connecting.Get(), 10000);
        Sleep(150);
        UniqueBstr cancelled;
        port->Cancel(nullptr, cancelled.Put());
    });
    SetEvent(connecting.Get());
    const ULONGLONG start = GetTickCount64();
    const HRESULT hr = port_->Connect(Bstr("<Connect>|" + std::to_string(kCom) + "|").Get(), output.Put());
    const ULONGLONG took = Since(start);
    canceller.join();
    EXPECT_TRUE(FAILED(hr)) << "took " << took << " ms";
    port_->Disconnect(output.Put());

    ASSERT_EQ(S_OK, port_->Connect(Bstr("<Connect>|" + std::to_string(kCom) + "|").Get(), output.Put()));
    UniqueBstr id;
    ASSERT_EQ(S_OK, port_->RequestSync(Bstr("<GetID>").Get(), id.Put()));
    EXPECT_EQ(kDeviceId, Text(id.Get()));
}

TEST_F(ZvPortComTest, RequestsOnAPortNeverConnectedFailAsPortNotOpen) {
    ComPtr<IZvPort> idle;
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"ZvPort.ZvPortCOM", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvPort,
                                     reinterpret_cast<void**>(&idle)));
    UniqueBstr answer;
    EXPECT_EQ(ResultClass(1), idle->RequestSync(Bstr("<Command>|id|").Get(), answer.Put()));
    EXPECT_EQ(nullptr, answer.Get());
}

TEST_F(ZvPortComTest, SendsAndReceivesFilesByteIdentical) {
    for (size_t size : {0u, 1u, 512u, 513u})
        RoundTrip(size, "file" + std::to_string(size) + ".bin");
}

TEST_F(ZvPortComTest, ProgressReachesTheSinks) {
    ComPtr<RecordingSink> sink;
    ASSERT_EQ(S_OK, tv::com::MakeComObject(sink));
    long cookie = -1;
    ASSERT_EQ(S_OK, port_->Advise(sink.Get(), &cookie));
    EXPECT_EQ(0, cookie);
    const auto bytes = tv::test::Pattern(1500, 3);
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("progress.bin"), bytes));
    ASSERT_EQ(S_OK, Send("progress.bin", "progress.bin"));

    const auto updates = sink->Updates();
    EXPECT_TRUE(sink->Malformed().empty()) << sink->Malformed().front();
    ASSERT_FALSE(updates.empty());
    std::vector<long long> done;
    for (const auto& u : updates) {
        EXPECT_EQ(2, u.kind);
        EXPECT_EQ(0, u.resultClass);
        if (u.state == 3 && (done.empty() || done.back() != u.done))
            done.push_back(u.done);
    }
    EXPECT_EQ((std::vector<long long>{512, 1024, 1500}), done);
    EXPECT_EQ(5, updates.back().state);
    EXPECT_EQ(1500, updates.back().total);

    // The receive reports the bytes received so far as both counts.
    ASSERT_EQ(S_OK, Receive("progress.bin", "progress.back"));
    const auto received = sink->Updates();
    EXPECT_EQ(5, received.back().kind);
    EXPECT_EQ(5, received.back().state);
    EXPECT_EQ(1500, received.back().done);
    EXPECT_EQ(1500, received.back().total);
    EXPECT_EQ(S_OK, port_->UnAdvise(cookie));
}

TEST_F(ZvPortComTest, AnAsynchronousSendReportsItsEndAndASinkCanCancel) {
    ComPtr<RecordingSink> sink;
    ASSERT_EQ(S_OK, tv::com::MakeComObject(sink));
    long cookie = -1;
    ASSERT_EQ(S_OK, port_->Advise(sink.Get(), &cookie));
    const auto bytes = tv::test::Pattern(1024, 5);
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("async.bin"), bytes));
    UniqueBstr answer;
    ASSERT_EQ(S_OK, port_->RequestAsync(
                        Bstr("<RequestSend>|" + SharedBench().PcFolderText() + "|async.bin|\n|/default/|async.bin|\n").Get(),
                        answer.Put()));
    ASSERT_TRUE(sink->WaitForEnd(60000));
    EXPECT_EQ(5, sink->Updates().back().state);
    EXPECT_EQ(0, sink->Updates().back().resultClass);

    // "Cancel" from the sink stops a running send: cancelled (4), the device told with "can".
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("cancelled.bin"), tv::test::Pattern(20000, 6)));
    sink->CancelAt(2048);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ResultClass(4), Send("cancelled.bin", "cancelled.bin"));
    EXPECT_LT(Since(start), 20000u);
    EXPECT_FALSE(tv::test::FileExists(SharedBench().DeviceFile("cancelled.bin")));
    std::string response;
    EXPECT_EQ(S_OK, Command("id", &response)) << "the port works on after a cancel";
}

// Each injected fault ends in its result class, within the retries' time, and the port works on.
TEST_F(ZvPortComTest, InjectedConsoleFaultsGiveTheirResultClass) {
    struct Case {
        const char* fault;
        HRESULT expected;
    } cases[] = {
        {"refuse=1", S_OK},           // one refused frame is sent again
        {"refuse=8", ResultClass(3)}, // refused beyond the retries
        {"noconfirm=1", S_OK},        // one lost confirm byte: sent again after the time-out
        {"noconfirm=8", ResultClass(6)},
        {"silent=on", ResultClass(6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(0u, SharedBench().Request(std::string("fault ") + c.fault).rfind("ok", 0));
        const ULONGLONG start = GetTickCount64();
        std::string response;
        EXPECT_EQ(c.expected, Command("ver", &response));
        EXPECT_LT(Since(start), 30000u);
        SharedBench().Request("clear");
        SharedBench().Request("fault silent=off");
        Sleep(600); // the device drops partial input older than 500 ms
        EXPECT_EQ(S_OK, Command("id", &response)) << "after " << c.fault;
    }
}

TEST_F(ZvPortComTest, InjectedTransferFaultsGiveTheirResultClass) {
    const auto bytes = tv::test::Pattern(3000, 9);
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("fault.bin"), bytes));
    std::vector<uint8_t> copy;

    // Packets answered "nack" are sent again: the copy is whole.
    SharedBench().Request("fault nack=2");
    EXPECT_EQ(S_OK, Send("fault.bin", "nacked.bin"));
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().DeviceFile("nacked.bin"), copy));
    EXPECT_TRUE(copy == bytes);

    // The device cancels a send after two packets: cancelled by the device (5).
    SharedBench().Request("fault cancel=2");
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ResultClass(5), Send("fault.bin", "cancelled.bin"));
    EXPECT_LT(Since(start), 30000u);
    EXPECT_FALSE(tv::test::FileExists(SharedBench().DeviceFile("cancelled.bin")));

    // A device block with a bad CRC is dropped and asked for again.
    SharedBench().Request("clear");
    SharedBench().Request("fault crc=1");
    EXPECT_EQ(S_OK, Receive("nacked.bin", "crc.back"));
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().PcFile("crc.back"), copy));
    EXPECT_TRUE(copy == bytes);

    // Bad CRCs beyond the retries: timed out (6), and an earlier copy of the PC file survives.
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("kept.back"), {1, 2, 3}));
    SharedBench().Request("fault crc=20");
    start = GetTickCount64();
    EXPECT_EQ(ResultClass(6), Receive("nacked.bin", "kept.back"));
    EXPECT_LT(Since(start), 60000u);
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().PcFile("kept.back"), copy));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), copy);

    // The device refuses a block request during a receive: cancelled by the device (5).
    SharedBench().Request("clear");
    SharedBench().Request("fault cancel=2");
    start = GetTickCount64();
    EXPECT_EQ(ResultClass(5), Receive("nacked.bin", "refused.back"));
    EXPECT_LT(Since(start), 30000u);
    EXPECT_FALSE(tv::test::FileExists(SharedBench().PcFile("refused.back")));

    SharedBench().Request("clear");
    std::string response;
    EXPECT_EQ(S_OK, Command("id", &response));
}

// A device that sends its prompt with its last block, before the stop block, while the port still
// reads blocks: the prompt is not lost, so the receive ends at once instead of after the wait for
// the prompt (and the file is whole).
TEST_F(ZvPortComTest, APromptRightAfterTheLastBlockEndsTheReceiveAtOnce) {
    const auto bytes = tv::test::Pattern(1300, 11);
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().DeviceFile("early.bin"), bytes));
    const ULONGLONG finalWait = zvport::PortRequestData(zvport::RequestKind::ReceiveFile).finalWaitMs;
    ASSERT_EQ(0u, SharedBench().Request("fault early_prompt=on").rfind("ok", 0));
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(S_OK, Receive("early.bin", "early.back"));
    EXPECT_LT(Since(start), finalWait / 3) << "the receive waited for a prompt that had come";
    std::vector<uint8_t> copy;
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().PcFile("early.back"), copy));
    EXPECT_TRUE(copy == bytes);
    SharedBench().Request("clear");
    std::string response;
    EXPECT_EQ(S_OK, Command("id", &response)) << "the port is back on the console";
}

TEST_F(ZvPortComTest, AnUnpluggedPortFailsWithoutHanging) {
    ASSERT_EQ(0u, SharedBench().Request("unplug").rfind("ok", 0));
    ULONGLONG start = GetTickCount64();
    std::string response;
    const HRESULT hr = Command("id", &response);
    EXPECT_TRUE(hr == ResultClass(3) || hr == ResultClass(6)) << std::hex << hr;
    EXPECT_LT(Since(start), 30000u);
    start = GetTickCount64();
    UniqueBstr output;
    EXPECT_EQ(S_OK, port_->Disconnect(output.Put()));
    EXPECT_LT(Since(start), 10000u);

    // Plugged in again, the port connects and works.
    ASSERT_TRUE(SharedBench().Plug());
    ASSERT_EQ(S_OK, port_->Connect(Bstr("<Connect>|" + std::to_string(kCom) + "|").Get(), output.Put()));
    EXPECT_EQ(S_OK, Command("id", &response));
}

// One run each way of a 200 KiB file, byte-identical, with its rate against the line's own bound.
TEST_F(ZvPortComTest, Benchmark200KiBBothWays) {
    constexpr size_t kSize = 200 * 1024;
    const auto bytes = tv::test::Pattern(kSize, 11);
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("big.bin"), bytes));
    std::vector<uint8_t> copy;

    ULONGLONG start = GetTickCount64();
    ASSERT_EQ(S_OK, Send("big.bin", "big.bin"));
    const double sendSeconds = Since(start) / 1000.0;
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().DeviceFile("big.bin"), copy));
    EXPECT_TRUE(copy == bytes);

    start = GetTickCount64();
    ASSERT_EQ(S_OK, Receive("big.bin", "big.back"));
    const double receiveSeconds = Since(start) / 1000.0;
    ASSERT_TRUE(tv::test::ReadWholeFile(SharedBench().PcFile("big.back"), copy));
    EXPECT_TRUE(copy == bytes);

    const double bound = kLineBaud / 10;
    for (auto [direction, seconds] : {std::pair{"send", sendSeconds}, std::pair{"receive", receiveSeconds}}) {
        const double rate = kSize / seconds;
        std::printf("%s %zu bytes in %.2f s: %.0f bytes/s; line bound %.0f bytes/s (%.0f baud / 10)\n", direction,
                    kSize, seconds, rate, bound, kLineBaud);
        // The figure line the test command's summary collects.
        std::printf("benchmark 1.0 port %s (rate/line bound): ratio %.2f (goal >= 0.5)\n", direction, rate / bound);
    }
}

} // namespace
} // namespace devlink10
