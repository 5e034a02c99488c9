#include "BlockCodec.h"
#include "ConsoleFrame.h"
#include "Crc32.h"
#include "InputParser.h"
#include "RequestProcedures.h"
#include <gtest/gtest.h>
#include <deque>
#include <functional>
#include <map>

using namespace zvport;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes DeviceBlock(uint8_t tag, uint8_t sequence, const Bytes& data) {
    Bytes block{tag, sequence, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    block.insert(block.end(), data.begin(), data.end());
    uint32_t crc = Crc32(block);
    for (int shift = 24; shift >= 0; shift -= 8)
        block.push_back(static_cast<uint8_t>(crc >> shift));
    return block;
}

// In-memory files; a received file lands under its name only when committed.
class MemoryFiles : public FileAccess {
public:
    class Source : public SourceFile {
    public:
        explicit Source(const Bytes& data) : data_(data) {}
        uint32_t Position() const override { return pos_; }
        bool Seek(uint32_t offset) override {
            pos_ = offset;
            return true;
        }
        bool Read(std::span<uint8_t> into) override {
            if (pos_ + into.size() > data_.size())
                return false;
            std::copy_n(data_.begin() + pos_, into.size(), into.begin());
            pos_ += static_cast<uint32_t>(into.size());
            return true;
        }

    private:
        const Bytes& data_;
        uint32_t pos_ = 0;
    };
    class Target : public TargetFile {
    public:
        Target(MemoryFiles& files, std::string name) : files_(files), name_(std::move(name)) {}
        bool Write(std::span<const uint8_t> bytes) override {
            data_.insert(data_.end(), bytes.begin(), bytes.end());
            return true;
        }
        bool Commit() override {
            files_.files[name_] = data_;
            return true;
        }

    private:
        MemoryFiles& files_;
        std::string name_;
        Bytes data_;
    };

    std::optional<uint32_t> FindSize(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end())
            return std::nullopt;
        return static_cast<uint32_t>(it->second.size());
    }
    std::unique_ptr<SourceFile> OpenSource(const std::string& path, uint32_t& error) override {
        auto it = files.find(path);
        if (it == files.end()) {
            error = win32::kFileNotFound;
            return nullptr;
        }
        return std::make_unique<Source>(it->second);
    }
    std::unique_ptr<TargetFile> CreateTarget(const std::string& path) override {
        return std::make_unique<Target>(*this, path);
    }

    std::map<std::string, Bytes> files;
};

// A link whose device is a script: every write is answered at once with bytes that go through
// the real input parser. A message wait with nothing queued is a time-out.
class ScriptedLink : public ProcedureLink, private InputParser::Output {
public:
    using Device = std::function<Bytes(const Bytes& written)>;

    ScriptedLink(PortRequestData& request, Device device) : request_(request), device_(std::move(device)) {}

    uint32_t Write(std::span<const uint8_t> bytes) override {
        writes.emplace_back(bytes.begin(), bytes.end());
        Deliver(device_(writes.back()));
        return 0;
    }
    std::optional<DeviceMessage> TakeMessage(uint32_t, bool) override {
        if (messages_.empty()) {
            ++timeouts;
            return std::nullopt;
        }
        auto message = std::move(messages_.front());
        messages_.pop_front();
        return message;
    }
    bool WaitForAbort(uint32_t) override { return abort; }
    void ResetAbort() override { abort = false; }
    void SetState(RequestState state) override { request_.state = state; }
    void ResetBlockAccumulator() override {}
    void ReportProgress() override { ++progressReports; }
    uint64_t NowMs() override { return now_ += 10; }

    void Deliver(const Bytes& bytes) {
        RunningRequestView view{request_.kind, request_.state, request_.ackTimeoutMs};
        parser_.Parse(bytes, view, now_, *this);
    }

    std::vector<Bytes> writes;
    int timeouts = 0;
    int progressReports = 0;
    bool abort = false;

private:
    void PostMessage(DeviceMessage message) override { messages_.push_back(std::move(message)); }
    void AppendResponse(std::string_view text) override { request_.response.append(text); }

    PortRequestData& request_;
    Device device_;
    InputParser parser_;
    std::deque<DeviceMessage> messages_;
    uint64_t now_ = 1000;
};

bool IsFrameOf(const Bytes& written, std::string_view text) { return written == *BuildConsoleFrame(text); }
bool StartsWith(const Bytes& written, std::string_view text) {
    return written.size() >= text.size() && std::equal(text.begin(), text.end(), written.begin());
}

Bytes FileOf(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    return data;
}

// A device that takes sends: confirms console frames, accepts the start line and then asks for
// blocks with the lines in order, one per packet, then "done" and the prompt.
ScriptedLink::Device SendingDevice(std::vector<std::string> afterStart, std::vector<Bytes>* packets) {
    auto lines = std::make_shared<std::deque<std::string>>(afterStart.begin(), afterStart.end());
    return [lines, packets](const Bytes& w) -> Bytes {
        auto next = [&]() -> Bytes {
            if (lines->empty())
                return {};
            auto line = lines->front();
            lines->pop_front();
            return Text(line);
        };
        if (!w.empty() && w[0] == 'C') {
            packets->push_back(w);
            return next();
        }
        if (StartsWith(w, "rcv ")) {
            Bytes answer{kConfirmAccepted};
            Bytes more = next();
            answer.insert(answer.end(), more.begin(), more.end());
            return answer;
        }
        return {kConfirmAccepted};
    };
}

uint16_t PacketBlock(const Bytes& packet) { return static_cast<uint16_t>(packet[1] | (packet[2] << 8)); }

} // namespace

TEST(ConsoleProcedure, CollectsTheResponseUpToThePrompt) {
    PortRequestData request(RequestKind::Console);
    request.command = "id";
    MemoryFiles files;
    ScriptedLink link(request, [](const Bytes& w) {
        return IsFrameOf(w, "id") ? Text("\x02" "id\n@ZV10-7788\nReady >\n") : Bytes{kConfirmAccepted};
    });
    RequestProcedures(request, link, files).Run();
    EXPECT_TRUE(request.Succeeded());
    EXPECT_EQ(request.state, RequestState::Ended);
    EXPECT_EQ(request.response, "id\n@ZV10-7788\nReady >\n");
}

TEST(ConsoleProcedure, RetriesASilentDeviceThenTimesOut) {
    PortRequestData request(RequestKind::Console);
    request.command = "id";
    request.nullCommand = false;
    MemoryFiles files;
    ScriptedLink link(request, [](const Bytes&) { return Bytes{}; });
    RequestProcedures(request, link, files).Run();
    EXPECT_EQ(request.resultClass, ResultClass::TimedOut);
    EXPECT_EQ(request.error, win32::kTimeout);
    EXPECT_EQ(link.writes.size(), 4u);

    PortRequestData refused(RequestKind::Console);
    refused.command = "id";
    ScriptedLink refusing(refused, [](const Bytes&) { return Bytes{kConfirmRefused}; });
    RequestProcedures(refused, refusing, files).Run();
    EXPECT_EQ(refused.resultClass, ResultClass::Failed);
    EXPECT_EQ(refused.error, win32::kIoDevice);
}

TEST(SendProcedure, SendsEveryPacketAndFollowsNackAndSendRequests) {
    PortRequestData request(RequestKind::SendFile);
    request.firstName = "C:\\pc\\a.bin";
    request.secondName = "\"/flash/a.bin\"";
    MemoryFiles files;
    files.files[request.firstName] = FileOf(2000);
    std::vector<Bytes> packets;
    ScriptedLink link(request, SendingDevice({"ack\n", "ack\n", "nack\n", "send3\n", "send2\n", "ack\n",
                                              "done\nReady >\n"},
                                             &packets));
    RequestProcedures(request, link, files).Run();
    ASSERT_TRUE(request.Succeeded()) << request.error;
    EXPECT_EQ(request.state, RequestState::Ended);
    EXPECT_TRUE(StartsWith(link.writes[1], "rcv \"/flash/a.bin\" 2000\r\n"));
    std::vector<uint16_t> order;
    for (auto& p : packets)
        order.push_back(PacketBlock(p));
    // ack, ack, nack (block 1 again), send3, send2, ack (block 3 again), then "done".
    EXPECT_EQ(order, (std::vector<uint16_t>{0, 1, 1, 3, 2, 3}));
    EXPECT_EQ(packets[3].size(), 2000u - 3 * 512 + 9);
    EXPECT_EQ(request.bytesDone, 2000u);
    EXPECT_GE(request.resendCount, 2u);
}

TEST(SendProcedure, EmptyFileEndsAtTheFirstAck) {
    PortRequestData request(RequestKind::SendFile);
    request.firstName = "empty";
    request.secondName = "e";
    MemoryFiles files;
    files.files["empty"] = {};
    std::vector<Bytes> packets;
    ScriptedLink link(request, SendingDevice({"ack\nReady >\n"}, &packets));
    RequestProcedures(request, link, files).Run();
    EXPECT_TRUE(request.Succeeded());
    EXPECT_TRUE(packets.empty());
    EXPECT_TRUE(StartsWith(link.writes[1], "rcv e 0\r\n"));
}

TEST(SendProcedure, DeviceCancelAndMissingFileAndWrappingBlockNumbers) {
    MemoryFiles files;
    files.files["f"] = FileOf(600);
    std::vector<Bytes> packets;

    PortRequestData cancelled(RequestKind::SendFile);
    cancelled.firstName = "f";
    ScriptedLink cancelling(cancelled, SendingDevice({"ack\n", "cancel\n"}, &packets));
    RequestProcedures(cancelled, cancelling, files).Run();
    EXPECT_EQ(cancelled.resultClass, ResultClass::CancelledByDevice);

    PortRequestData missing(RequestKind::SendFile);
    missing.firstName = "nothing";
    ScriptedLink link(missing, SendingDevice({}, &packets));
    RequestProcedures(missing, link, files).Run();
    EXPECT_EQ(missing.resultClass, ResultClass::Failed);
    EXPECT_EQ(missing.error, win32::kFileNotFound);

    PortRequestData big(RequestKind::SendFile);
    files.files["huge"] = Bytes(70000);
    big.firstName = "huge";
    big.packetSizeOverride = 1;
    packets.clear();
    ScriptedLink wrapping(big, SendingDevice({"send65536\n"}, &packets));
    RequestProcedures(big, wrapping, files).Run();
    EXPECT_EQ(big.resultClass, ResultClass::Failed);
    EXPECT_EQ(big.error, win32::kFileTooLarge);
    EXPECT_TRUE(packets.empty());
}

TEST(SendProcedure, AbortBeforeAPacketTellsTheDevice) {
    PortRequestData request(RequestKind::SendFile);
    request.firstName = "f";
    MemoryFiles files;
    files.files["f"] = FileOf(600);
    std::vector<Bytes> packets;
    ScriptedLink* self = nullptr;
    auto device = SendingDevice({"ack\n"}, &packets);
    ScriptedLink link(request, [&](const Bytes& w) {
        if (StartsWith(w, "rcv "))
            self->abort = true;
        return device(w);
    });
    self = &link;
    RequestProcedures(request, link, files).Run();
    EXPECT_EQ(request.resultClass, ResultClass::Cancelled);
    EXPECT_TRUE(packets.empty());
    EXPECT_TRUE(IsFrameOf(link.writes.back(), "can"));
}

namespace {

// A device that uploads a file in blocks of 512 in answer to command blocks.
struct UploadingDevice {
    Bytes file;
    int wrongSequenceOnce = -1;
    bool promptAfterStop = true;
    // The device's last (empty) block comes with its prompt at once, in the same read, and the
    // stop block gets no answer of its own.
    bool promptWithLastBlock = false;

    Bytes operator()(const Bytes& w) {
        if (w.size() == 12 && w[0] == 0x02) {
            int code = w[5];
            if (code == 5)
                return DeviceBlock(2, 0, {0, 1});
            if (code == 2)
                return promptAfterStop && !promptWithLastBlock ? Text("Ready >\n") : Bytes{};
            unsigned k = (w[6] << 8) | w[7];
            size_t offset = size_t{k} * 512;
            size_t n = offset >= file.size() ? 0 : std::min<size_t>(512, file.size() - offset);
            if (n == 0 && promptWithLastBlock) {
                Bytes both = DeviceBlock(1, static_cast<uint8_t>(k), {});
                const Bytes prompt = Text("Ready >\r\n");
                both.insert(both.end(), prompt.begin(), prompt.end());
                return both;
            }
            uint8_t sequence = static_cast<uint8_t>(k);
            if (static_cast<int>(k) == wrongSequenceOnce) {
                wrongSequenceOnce = -1;
                sequence = static_cast<uint8_t>(k - 1);
            }
            return DeviceBlock(1, sequence, Bytes(file.begin() + offset, file.begin() + offset + n));
        }
        return {kConfirmAccepted};
    }
};

} // namespace

TEST(ReceiveProcedure, ReceivesExactBlocksAndReadsThePromptAfterTheStopBlock) {
    PortRequestData request(RequestKind::ReceiveFile);
    request.firstName = "/flash/x";
    request.secondName = "C:\\x";
    MemoryFiles files;
    UploadingDevice device{FileOf(1024)};
    device.wrongSequenceOnce = 1;
    ScriptedLink link(request, std::ref(device));
    RequestProcedures(request, link, files).Run();
    ASSERT_TRUE(request.Succeeded()) << static_cast<int>(request.resultClass);
    EXPECT_EQ(request.state, RequestState::Ended);
    EXPECT_EQ(files.files["C:\\x"], FileOf(1024));
    EXPECT_EQ(request.bytesDone, 1024u);
    EXPECT_EQ(request.resendCount, 1u);
    auto stop = BuildCommandBlock(BlockCommand::Stop, 0);
    EXPECT_EQ(link.writes.back(), Bytes(stop.begin(), stop.end()));
}

TEST(ReceiveProcedure, APromptRightAfterTheLastBlockEndsTheTransfer) {
    PortRequestData request(RequestKind::ReceiveFile);
    request.firstName = "/flash/x";
    request.secondName = "C:\\x";
    MemoryFiles files;
    UploadingDevice device{FileOf(1000)};
    device.promptWithLastBlock = true;
    ScriptedLink link(request, std::ref(device));
    RequestProcedures(request, link, files).Run();
    ASSERT_TRUE(request.Succeeded()) << static_cast<int>(request.resultClass);
    EXPECT_EQ(request.state, RequestState::Ended);
    EXPECT_EQ(files.files["C:\\x"], FileOf(1000));
}

TEST(ReceiveProcedure, AFailureKeepsTheEarlierFile) {
    PortRequestData request(RequestKind::ReceiveFile);
    request.firstName = "/flash/x";
    request.secondName = "C:\\x";
    MemoryFiles files;
    files.files["C:\\x"] = Text("earlier copy");
    UploadingDevice device{FileOf(700)};
    device.promptAfterStop = false;
    ScriptedLink link(request, std::ref(device));
    RequestProcedures(request, link, files).Run();
    EXPECT_EQ(request.resultClass, ResultClass::TimedOut);
    EXPECT_EQ(files.files["C:\\x"], Text("earlier copy"));
}
