// The 1.0 console: wire vectors, the console exchange, both transfer procedures with their
// faults, and one exchange through a real pty linked into a fake Wine prefix.
#include "console10.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "emulator.h"
#include "serial10_wire.h"

namespace zvemu {
namespace {
namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(Serial10Wire, MatchesTheKnownVectors) {
    EXPECT_EQ(EncodeConsoleFrame("id"), Bytes({0x69, 0x64, 0x0A, 0x6C, 0x01}));
    EXPECT_EQ(ConsoleChecksum("abc"), 0x0246);
    EXPECT_EQ(EncodeConsoleFrame(""), Bytes({0x0A, 0x00, 0x00}));
    EXPECT_EQ(EncodeCommandBlock({5, 0}), Bytes({0x02, 0, 0, 4, 0, 5, 0, 0, 0xD4, 0x4C, 0xBC, 0x3F}));
    EXPECT_EQ(EncodeCommandBlock({3, 1}), Bytes({0x02, 0, 0, 4, 0, 3, 0, 1, 0xA7, 0xC6, 0xF0, 0x1B}));
    EXPECT_EQ(EncodeCommandBlock({2, 0}), Bytes({0x02, 0, 0, 4, 0, 2, 0, 0, 0xD1, 0x03, 0xAA, 0xBA}));
    const std::string abc = "abc";
    const auto packet = EncodeDataPacket(0, std::span(reinterpret_cast<const uint8_t*>(abc.data()), 3));
    EXPECT_EQ(packet, Bytes({0x43, 0, 0, 3, 0, 0x61, 0x62, 0x63, 0x7E, 0x3D, 0xA9, 0x10}));
    EXPECT_TRUE(DecodeDataPacket(packet).crcOk);
    auto damaged = EncodeCommandBlock({3, 1});
    damaged[9] ^= 1;
    EXPECT_FALSE(DecodeCommandBlock(damaged));
}

class Console10Test : public ::testing::Test {
  protected:
    Console10Test()
        : root_(fs::temp_directory_path() / ("zvemu10-" + std::to_string(::getpid()))),
          files_((fs::create_directories(root_ / "default"), fs::create_directories(root_ / "b"), root_), 2043 * 512),
          console_(files_, identity_, {}, faults_, [this](const std::string& line) { log_.push_back(line); }) {}
    ~Console10Test() override { fs::remove_all(root_); }

    void Write(std::span<const uint8_t> bytes) { console_.OnBytes(bytes, now_); }
    std::string Take() {
        const auto out = console_.TakeOutput();
        return {out.begin(), out.end()};
    }
    std::string Command(const std::string& text) {
        Write(EncodeConsoleFrame(text));
        return Take();
    }
    void PutFile(const std::string& relative, const std::string& content) {
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    std::string ReadFile(const std::string& relative) {
        std::ifstream in(root_ / relative, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path root_;
    FolderFileSystem files_;
    Device10Identity identity_;
    Serial10Faults faults_;
    std::vector<std::string> log_;
    Console10 console_;
    Clock::time_point now_ = Clock::now();
};

TEST_F(Console10Test, AnswersTheIdentificationAndTheConsoleCommands) {
    EXPECT_EQ(Command(""), "\x02Ready >\r\n");
    EXPECT_EQ(Command("id"), "\x02id\r\ndevice_id: @ZV10001\r\nReady >\r\n");
    EXPECT_NE(Command("3").find("Ready"), std::string::npos);
    const std::string sysinfo = Command("sysinfo /default");
    EXPECT_NE(sysinfo.find("sysinfo : blocks_total     :2043\r\n"), std::string::npos);
    EXPECT_NE(sysinfo.find("block_size(bytes):512\r\n"), std::string::npos);
    EXPECT_EQ(Command("pc on"), "\x02pc on\r\npc mode on\r\nReady >\r\n");
    // A restore ends by starting the restored system file.
    EXPECT_EQ(Command("boot os.boot"), "\x02" "boot os.boot\r\nbooting os.boot\r\nReady >\r\n");
    EXPECT_NE(Command("boot"), "\x02" "boot\r\nbooting \r\nReady >\r\n");
    EXPECT_NE(Command("pc root").find("pc mode off"), std::string::npos);
    EXPECT_NE(Command("cfg").find("hardware version: 2.1\r\n"), std::string::npos);
    EXPECT_NE(Command("sysinfo \"/nothere\"").find("fail"), std::string::npos);
    EXPECT_NE(Command("frobnicate").find("unknown command"), std::string::npos);
    EXPECT_EQ(log_.size(), 11u);
    EXPECT_EQ(log_[1], "id");

    // A bad checksum is refused and not run.
    auto frame = EncodeConsoleFrame("id");
    frame.back() ^= 0x40;
    Write(frame);
    EXPECT_EQ(Take(), "\x01");
    EXPECT_EQ(log_.size(), 11u);
}

TEST_F(Console10Test, ListsMediaAndFilesAndChangesThem) {
    PutFile("default/a.app", "12345");
    PutFile("b/x.txt", "xy");
    fs::create_directories(root_ / "default" / "folder");
    EXPECT_NE(Command("ls /*").find("/default main_flash\r\n/b b\r\nReady >"), std::string::npos);

    const std::string main = Command("ls -l -t \"/default/*\"");
    const auto items = main.substr(main.find("flash") + 7);
    EXPECT_TRUE(items.starts_with(items.substr(0, 16) + "   5 a.app\r\n---------------------------\r\n1 file(s)"))
        << main;
    EXPECT_NE(Command("ls -l -t \"/b/*\"").find("   2 /b/x.txt\r\n"), std::string::npos);
    EXPECT_NE(Command("ls -l -t \"/default/missing\"").find("\r\n0 file(s)"), std::string::npos);

    EXPECT_EQ(Command("cp -f \"/default/a.app\" \"/b/a.app\""), "\x02" "cp -f \"/default/a.app\" \"/b/a.app\"\r\nReady >\r\n");
    EXPECT_EQ(ReadFile("b/a.app"), "12345");
    EXPECT_NE(Command("cp \"/default/a.app\" \"/b/a.app\"").find("fail"), std::string::npos);
    EXPECT_EQ(Command("rm -f \"/b/a.app\"").find("fail"), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "b" / "a.app"));
    EXPECT_NE(Command("rm -f \"/b/a.app\"").find("fail"), std::string::npos);
    EXPECT_NE(Command("rm -f \"/default/folder\"").find("fail"), std::string::npos);
}

TEST_F(Console10Test, ReceivesAFileDrivingThePacketsAndMendsBadOnes) {
    std::vector<uint8_t> content(1100);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<uint8_t>(i * 7);
    // The start line carries CR LF before its LF; the checksum leaves the CR out.
    std::vector<uint8_t> start{'r', 'c', 'v', ' ', '/', 'd', 'e', 'f', 'a', 'u', 'l', 't', '/', 'f', ' ', '1', '1', '0', '0'};
    const uint16_t sum = ConsoleChecksum(std::string(start.begin(), start.end()));
    start.insert(start.end(), {'\r', '\n', static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8)});
    Write(start);
    EXPECT_EQ(Take(), "\x02" "ack\r\n");

    auto packet = [&](uint16_t block) {
        const size_t offset = block * 512u;
        return EncodeDataPacket(block, std::span(content).subspan(offset, std::min<size_t>(512, content.size() - offset)));
    };
    auto bad = packet(0);
    bad[10] ^= 1;
    Write(bad);
    EXPECT_EQ(Take(), "nack\r\n");
    Write(packet(0));
    EXPECT_EQ(Take(), "ack\r\n");
    Write(packet(2));
    EXPECT_EQ(Take(), "send1\r\n");
    faults_.nack = 1;
    Write(packet(1));
    EXPECT_EQ(Take(), "nack\r\n");
    Write(packet(1));
    EXPECT_EQ(Take(), "ack\r\n");
    EXPECT_FALSE(fs::exists(root_ / "default" / "f"));
    const auto last = packet(2);
    Write(std::span(last).first(20)); // a packet may arrive in pieces
    EXPECT_EQ(Take(), "");
    Write(std::span(last).subspan(20));
    EXPECT_EQ(Take(), "done\r\nReady >\r\n");
    const std::string written = ReadFile("default/f");
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), content);

    // An empty file is done at once; a device cancel leaves no file; "can" from the PC ends it too.
    EXPECT_EQ(Command("rcv \"/default/empty\" 0"), "\x02" "done\r\nReady >\r\n");
    EXPECT_TRUE(fs::exists(root_ / "default" / "empty"));
    faults_.cancelAfter = 1;
    Command("rcv /default/g h 1100");
    Write(packet(0));
    EXPECT_EQ(Take(), "cancel\r\nReady >\r\n");
    EXPECT_EQ(Command("rcv /default/g 1100"), "\x02" "ack\r\n");
    EXPECT_EQ(Command("can"), "\x02Ready >\r\n");
    EXPECT_FALSE(fs::exists(root_ / "default" / "g"));
    // A target that cannot be written refuses the start line.
    EXPECT_EQ(Command("rcv /nomedium/g 10"), "\x01");
}

TEST_F(Console10Test, SendsAFileInCheckedBlocks) {
    std::string content(1024, 'q');
    content[1000] = 'z';
    PutFile("default/up.bin", content);
    EXPECT_EQ(Command("upl \"/default/up.bin\""), "\x02upl \"/default/up.bin\"\r\n");
    Write(EncodeCommandBlock({5, 0}));
    const uint8_t accept[] = {5, 1};
    const auto acceptBlock = EncodeDeviceBlock(2, 0, accept);
    EXPECT_EQ(Take(), std::string(acceptBlock.begin(), acceptBlock.end()));
    std::string received;
    for (uint16_t k = 0;; ++k) {
        Write(EncodeCommandBlock({3, k}));
        const std::string block = Take();
        ASSERT_GE(block.size(), 8u);
        EXPECT_EQ(block[0], 1);
        EXPECT_EQ(static_cast<uint8_t>(block[1]), k);
        const size_t n = static_cast<uint8_t>(block[2]) << 8 | static_cast<uint8_t>(block[3]);
        if (n == 0)
            break;
        received += block.substr(4, n);
    }
    EXPECT_EQ(received, content);
    Write(EncodeCommandBlock({2, 0}));
    EXPECT_EQ(Take(), "Ready >\r\n");

    // A missing file is refused at the start; a CRC fault damages the next block only.
    Command("upl /default/none");
    Write(EncodeCommandBlock({5, 0}));
    EXPECT_EQ(Take()[5], 0);
    Write(EncodeCommandBlock({2, 0}));
    Take();
    Command("upl /default/up.bin");
    faults_.badCrc = 1;
    Write(EncodeCommandBlock({3, 0}));
    const std::string damaged = Take();
    Write(EncodeCommandBlock({3, 0}));
    const std::string sound = Take();
    EXPECT_EQ(damaged.size(), sound.size());
    EXPECT_NE(damaged, sound);
}

TEST_F(Console10Test, AnEarlyPromptFollowsTheLastBlockAndTheStopGetsNone) {
    PutFile("default/up.bin", std::string(600, 'e'));
    faults_.earlyPrompt = true;
    Command("upl /default/up.bin");
    Write(EncodeCommandBlock({5, 0}));
    Take();
    Write(EncodeCommandBlock({3, 0}));
    EXPECT_EQ(Take().find("Ready"), std::string::npos) << "a block with data comes alone";
    Write(EncodeCommandBlock({3, 1}));
    EXPECT_EQ(Take().find("Ready"), std::string::npos);
    Write(EncodeCommandBlock({3, 2}));
    const auto last = EncodeDeviceBlock(1, 2, {});
    EXPECT_EQ(Take(), std::string(last.begin(), last.end()) + "Ready >\r\n");
    Write(EncodeCommandBlock({2, 0}));
    EXPECT_EQ(Take(), "");
    EXPECT_EQ(Command("id"), "\x02id\r\ndevice_id: @ZV10001\r\nReady >\r\n") << "back on the console";
}

TEST_F(Console10Test, FaultsRefuseOrSwallowFramesAndSilenceTheDevice) {
    faults_.refuse = 2;
    EXPECT_EQ(Command("id"), "\x01");
    EXPECT_EQ(Command("id"), "\x01");
    EXPECT_EQ(Command("id")[0], '\x02');
    faults_.noConfirm = 1;
    EXPECT_EQ(Command("id"), "");
    faults_.silent = true;
    EXPECT_EQ(Command("id"), "");
    EXPECT_EQ(log_.size(), 2u);
}

TEST_F(Console10Test, AnUnconfirmedPcModeAnswersWithoutConfirming) {
    faults_.pcUnconfirmed = true;
    EXPECT_EQ(Command("pc on"), "\x02pc on\r\nReady >\r\n");
    EXPECT_NE(Command("pc off").find("pc mode off"), std::string::npos) << "only pc on goes unconfirmed";
    faults_.pcUnconfirmed = false;
    EXPECT_NE(Command("pc on").find("pc mode on"), std::string::npos);
}

// Through the emulator: the pty is linked into the prefix, answers there, and goes on unplug.
TEST(Serial10Emulator, PlugsAPtyIntoThePrefixAndRemovesIt) {
    const fs::path base = fs::temp_directory_path() / ("zvemu10-pty-" + std::to_string(::getpid()));
    fs::create_directories(base / "prefix");
    fs::create_directories(base / "root");
    EmulatorOptions options;
    options.usbPort = 0;
    options.controlPort = 0;
    Emulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.Start(error)) << error;
    const std::string plug = "plug com=3 root=" + (base / "root").string() + " prefix=" + (base / "prefix").string() +
                             " id=@ABCDEFG";
    ASSERT_EQ(emulator.HandleControlLine(plug), "ok\n");
    EXPECT_TRUE(emulator.HandleControlLine(plug).starts_with("error"));
    const fs::path link = base / "prefix" / "dosdevices" / "com3";
    ASSERT_TRUE(fs::is_symlink(link));
    std::thread loop([&emulator] { emulator.Run(); });

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const auto frame = EncodeConsoleFrame("id");
    ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    std::string answer;
    const auto deadline = Clock::now() + Millis{3000};
    while (answer.find("Ready >\r\n") == std::string::npos && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) == 1) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    EXPECT_NE(answer.find("device_id: @ABCDEFG"), std::string::npos) << answer;

    EXPECT_EQ(emulator.HandleControlLine("log com=3"), "ok 1\n0 id\n");
    emulator.Stop();
    loop.join();
    EXPECT_EQ(emulator.HandleControlLine("unplug com=3"), "ok\n");
    EXPECT_FALSE(fs::exists(link) || fs::is_symlink(link));
    fs::remove_all(base);
}

} // namespace
} // namespace zvemu
