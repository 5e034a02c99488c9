#include "console15.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace zvemu {
namespace {
namespace fs = std::filesystem;

// Records what the console does with its pipes instead of running MCP.
class RecordingPipes : public PipeIo {
  public:
    void StartOutput(int pipe) override { written[pipe].clear(); }
    void WritePipe(int pipe, std::span<const uint8_t> bytes) override {
        written[pipe].append(bytes.begin(), bytes.end());
    }
    void FinishPipe(int pipe) override { finished[pipe] = true; }
    void ClosePipe(int pipe) override { closed[pipe] = true; }
    void AcceptInput(int pipe, bool on, int) override { accepting[pipe] = on; }

    std::map<int, std::string> written;
    std::map<int, bool> finished;
    std::map<int, bool> closed;
    std::map<int, bool> accepting;
};

class NoFaults : public CommandFaults {
  public:
    Millis TakeCommandDelay() override { return Millis{0}; }
    bool TakeRefusal() override { return refuse-- > 0; }
    int refuse = 0;
};

class Console15Test : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("zvemu-console-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "default/docs/old");
        fs::create_directories(root / "b");
        Write("default/docs/a.txt", "hello");
        Write("default/docs/old/b.txt", "0123456789");
        identity.deviceId = "ABCDEFGHIJKL";
        identity.shortId = "Z123456";
        MakeConsole(ConsoleOptions{});
    }
    void TearDown() override { fs::remove_all(root); }

    void MakeConsole(ConsoleOptions options) {
        files = std::make_unique<FolderFileSystem>(root, 1 << 20);
        console = std::make_unique<Console15>(
            *files, pipes, identity, std::move(options), faults,
            [this](const std::string& l) { log.push_back(l); }, [this] { ++reboots; });
    }
    void Write(const std::string& relative, const std::string& text) {
        std::ofstream(root / relative, std::ios::binary) << text;
    }
    // Sends one command line with its zero byte and returns what came back on `pipe`.
    std::string Run(const std::string& line, int pipe = 15) {
        std::vector<uint8_t> bytes(line.begin(), line.end());
        bytes.push_back(0);
        pipes.written.erase(pipe);
        console->OnConsoleBytes(bytes);
        console->Tick(Clock::now());
        std::string reply = pipes.written[pipe];
        if (!reply.empty() && reply.back() == '\0')
            reply.pop_back();
        return reply;
    }

    fs::path root;
    DeviceIdentity identity;
    RecordingPipes pipes;
    NoFaults faults;
    std::unique_ptr<FolderFileSystem> files;
    std::unique_ptr<Console15> console;
    std::vector<std::string> log;
    int reboots = 0;
};

TEST(Console15Format, ListingLineHasTheColumnsTheHostParses) {
    DeviceItem item;
    item.path = "/default/a b.txt";
    item.size = 123;
    item.attributes = kAttrHidden | kAttrReadOnly | kAttrSystem;
    std::tm when{};
    when.tm_mday = 1;
    when.tm_mon = 1;
    when.tm_year = 103;
    when.tm_hour = 4;
    when.tm_min = 5;
    when.tm_isdst = -1;
    item.modified = std::mktime(&when);
    EXPECT_EQ(Console15::FormatListingLine(item), "1  HRs 01.02.2003 04:05 123 /default/a b.txt\n");
    item.attributes = 0;
    item.folder = true;
    item.path = "/default/docs";
    EXPECT_EQ(Console15::FormatListingLine(item).substr(0, 5), "1  D ");
    item.folder = false;
    EXPECT_EQ(Console15::FormatListingLine(item).substr(0, 5), "1  - ");
}

TEST_F(Console15Test, ListingsAnswerOnTheReplyPipeAndCloseIt) {
    const std::string volumes = Run("ls $pipe=15 /*");
    EXPECT_EQ(volumes, "\n/default main_flash \n/b b \ndone\n");
    EXPECT_TRUE(pipes.finished[15]);
    EXPECT_EQ(pipes.written[1], std::string(Console15::kPrompt) + '\0');

    const std::string folder = Run("ls $pipe=15 -L \"/default/docs/*\" ");
    EXPECT_NE(folder.find(" 5 /default/docs/a.txt\n"), std::string::npos);
    EXPECT_NE(folder.find("1  D "), std::string::npos);
    EXPECT_EQ(folder.find("b.txt"), std::string::npos);

    const std::string tree = Run("ls $pipe=25 -L \"/default/docs/.../*\"", 25);
    const auto self = tree.find(" /default/docs\n");
    const auto sub = tree.find(" /default/docs/old\n");
    const auto deep = tree.find(" /default/docs/old/b.txt\n");
    ASSERT_NE(self, std::string::npos);
    EXPECT_LT(self, sub);
    EXPECT_LT(sub, deep);
    EXPECT_TRUE(tree.ends_with("done\n"));

    EXPECT_EQ(Run("ls $pipe=15 -L \"/default/nothing\""), "\nnot found\nfail\n");
    EXPECT_EQ(log.front(), "ls $pipe=15 /*");
}

TEST_F(Console15Test, RecursiveListingCanLeaveTheFolderOut) {
    MakeConsole(ConsoleOptions{false, {}});
    const std::string tree = Run("ls $pipe=15 -L /default/docs/.../*");
    EXPECT_EQ(tree.find(" /default/docs\n"), std::string::npos);
    EXPECT_NE(tree.find(" /default/docs/old\n"), std::string::npos);
}

TEST_F(Console15Test, FileCommandsChangeTheFolderAndReportStatus) {
    EXPECT_EQ(Run("mkdir $pipe=15 \"/default/new\" "), "\ndone\n");
    EXPECT_EQ(Run("mkdir $pipe=15 \"/default/new\" "), "\ndone\n"); // an existing folder is fine
    EXPECT_TRUE(fs::is_directory(root / "default/new"));
    EXPECT_NE(Run("mkdir $pipe=15 \"/default/no/such\"").find("fail"), std::string::npos);

    EXPECT_EQ(Run("cp $pipe=15 -v -f -p \"/default/docs/a.txt\" \"/default/new/a.txt\""), "\ndone\n");
    EXPECT_EQ(Run("cp $pipe=15 -f -v -m \"/default/new/a.txt\" \"/default/new/c.txt\""), "\ndone\n");
    EXPECT_TRUE(fs::exists(root / "default/new/c.txt"));
    EXPECT_FALSE(fs::exists(root / "default/new/a.txt"));

    EXPECT_EQ(Run("chmod $pipe=15 +RH \"/default/new/c.txt\""), "\ndone\n");
    EXPECT_NE(Run("ls $pipe=15 -L \"/default/new/c.txt\"").find("1  HR "), std::string::npos);
    EXPECT_NE(Run("rm $pipe=15 \"/default/new/c.txt\"").find("fail"), std::string::npos); // read-only
    EXPECT_EQ(Run("chmod $pipe=15 -RHs \"/default/new/c.txt\""), "\ndone\n");
    EXPECT_EQ(Run("rm $pipe=15 \"/default/new/c.txt\""), "\ndone\n");

    EXPECT_EQ(Run("rm $pipe=15 -f \"/default/docs/.../*\""), "\ndone\n");
    EXPECT_FALSE(fs::exists(root / "default/docs"));
    EXPECT_NE(Run("bogus $pipe=15 x").find("fail"), std::string::npos);
}

TEST_F(Console15Test, InformationCommands) {
    // The reply ends with "@" and the short id on a line of its own.
    EXPECT_NE(Run("id $pipe=17", 17).find("\n@Z123456\n"), std::string::npos);
    const std::string info = Run("sysinfo $pipe=15 \"/default\"");
    EXPECT_NE(info.find("block_size(bytes): 512\n"), std::string::npos);
    EXPECT_NE(info.find("blocks_total: 2048\n"), std::string::npos);
    EXPECT_NE(info.find("free_blocks: 2046\n"), std::string::npos); // one block per file
    EXPECT_NE(Run("sysinfo $pipe=15 \"/\"").find("fail"), std::string::npos);
    EXPECT_NE(Run("pc $pipe=15 on").find("pc mode on"), std::string::npos);
    EXPECT_NE(Run("ver $pipe=15 ").find(" v. 1.5.0 built"), std::string::npos);
    Run("reboot $pipe=15 ");
    EXPECT_EQ(reboots, 1);
    EXPECT_TRUE(pipes.written[15].empty());
}

TEST_F(Console15Test, ReceiveAndUploadMoveFileData) {
    Run("rcv $data_pipe=100 \"/default/in.bin\" 700", 1);
    EXPECT_TRUE(pipes.accepting[100]);
    const std::vector<uint8_t> first(512, 'a');
    const std::vector<uint8_t> second(188, 'b');
    console->OnDataBytes(100, first, Clock::now());
    EXPECT_FALSE(fs::exists(root / "default/in.bin"));
    console->OnDataBytes(100, second, Clock::now());
    EXPECT_FALSE(pipes.accepting[100]);
    EXPECT_EQ(fs::file_size(root / "default/in.bin"), 700u);
    EXPECT_NE(pipes.written[1].find("done\nReady >"), std::string::npos);

    Run("upl $data_pipe=101 \"/default/docs/a.txt\" ", 101);
    const std::string stream = pipes.written[101];
    EXPECT_EQ(stream, std::string("\0\0\0\0\0\5hello", 11));
    EXPECT_TRUE(pipes.finished[101]);
    pipes.written.erase(1);
    console->OnPipeFinished(101);
    EXPECT_NE(pipes.written[1].find("done"), std::string::npos);

    EXPECT_EQ(Run("upl $data_pipe=101 \"/default/none\" ", 101), std::string("\0\1", 2));
}

TEST_F(Console15Test, RefusalsAndHostClosesEndTransfers) {
    faults.refuse = 1;
    Run("rcv $data_pipe=100 \"/default/in.bin\" 10", 1);
    EXPECT_TRUE(pipes.closed[100]);
    EXPECT_NE(pipes.written[1].find("refused\nfail\n"), std::string::npos);

    Run("rcv $data_pipe=100 \"/default/in.bin\" 10", 1);
    console->OnDataBytes(100, std::vector<uint8_t>(4, 'x'), Clock::now());
    console->OnPipeClosedByHost(100);
    EXPECT_FALSE(pipes.accepting[100]);
    EXPECT_FALSE(fs::exists(root / "default/in.bin"));

    pipes.closed.clear();
    Run("rcv $data_pipe=100 \"/default/big.bin\" 2000000", 1); // more than the volume holds
    EXPECT_TRUE(pipes.closed[100]);
}

} // namespace
} // namespace zvemu
