#include "LogFile.h"
#include <gtest/gtest.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using tv::logger::LogFile;

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string id = std::to_string(GetCurrentProcessId()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        path_ = std::string(temp) + "zvlogfile_" + id + ".log";
        mutexName_ = L"zvlogfile_test_mutex_" + std::wstring(id.begin(), id.end());
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    std::string Content() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    void FillWith(size_t bytes) const {
        std::ofstream out(path_, std::ios::binary);
        out << std::string(bytes, 'a');
    }
    static bool IsHeader(const std::string& text) {
        static const std::regex header("\n\nLog started on \\d\\d/\\d\\d/\\d{4} at \\d\\d:\\d\\d:\\d\\d\n");
        return std::regex_match(text, header);
    }

    std::string path_;
    std::wstring mutexName_;
};

TEST(LogHeader, HasTheExactFormat) {
    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 5;
    t.wHour = 7;
    t.wMinute = 8;
    t.wSecond = 9;
    EXPECT_EQ("\n\nLog started on 05/03/2024 at 07:08:09\n", tv::logger::FormatHeaderLine(t));
}

TEST_F(LogFileTest, OpenEmptiesOnlyALogOfOneMebibytePlusOneOrMore) {
    FillWith(0x100000);
    {
        LogFile log(path_, mutexName_);
        ASSERT_EQ(S_OK, log.Open());
    }
    std::string kept = Content();
    ASSERT_GT(kept.size(), 0x100000u);
    EXPECT_EQ(std::string(0x100000, 'a'), kept.substr(0, 0x100000));
    EXPECT_TRUE(IsHeader(kept.substr(0x100000)));

    FillWith(0x100001);
    LogFile log(path_, mutexName_);
    ASSERT_EQ(S_OK, log.Open());
    EXPECT_TRUE(IsHeader(Content())) << "an oversized log holds only the new header";
}

TEST_F(LogFileTest, AppendAddsExactlyTheTextAndRejectsWhatItCannotWrite) {
    LogFile log(path_, mutexName_);
    ASSERT_EQ(S_OK, log.Open());
    const std::string header = Content();
    EXPECT_EQ(S_OK, log.Append("one"));
    EXPECT_EQ(S_OK, log.Append("two\n"));
    EXPECT_EQ(S_OK, log.Append(""));
    EXPECT_EQ(header + "onetwo\n", Content());
    EXPECT_EQ(E_INVALIDARG, log.Append(nullptr));

    LogFile unopened(path_, mutexName_);
    EXPECT_EQ(E_FAIL, unopened.Append("x"));
    LogFile nowhere("Z:\\no\\such\\folder\\at\\all\\x.log", mutexName_);
    EXPECT_EQ(E_FAIL, nowhere.Open());
}

// Holds the named mutex on its own thread until told to stop (or, with `abandon`, ends while
// still holding it, as a writer that died would).
class MutexHolder {
  public:
    MutexHolder(const std::wstring& name, bool abandon) {
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([=, this] {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
            WaitForSingleObject(mutex, 10000);
            SetEvent(taken);
            if (!abandon) {
                WaitForSingleObject(stop_, 10000);
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex);
        });
        WaitForSingleObject(taken, 10000);
        CloseHandle(taken);
        if (abandon)
            thread_.join();
    }
    ~MutexHolder() {
        SetEvent(stop_);
        if (thread_.joinable())
            thread_.join();
        CloseHandle(stop_);
    }

  private:
    HANDLE stop_;
    std::thread thread_;
};

TEST_F(LogFileTest, WriteFailsWhileAnotherWriterHoldsTheMutexPastTheLimit) {
    LogFile log(path_, mutexName_, 300);
    ASSERT_EQ(S_OK, log.Open());
    MutexHolder holder(mutexName_, false);
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(E_FAIL, log.Append("lost"));
    EXPECT_GE(GetTickCount64() - started, 250u);
    EXPECT_EQ(std::string::npos, Content().find("lost"));
}

TEST_F(LogFileTest, MutexAbandonedByADeadWriterIsTakenAndFreedAgain) {
    LogFile log(path_, mutexName_, 2000);
    ASSERT_EQ(S_OK, log.Open());
    MutexHolder abandoned(mutexName_, true);
    EXPECT_EQ(S_OK, log.Append("after"));
    EXPECT_NE(std::string::npos, Content().find("after"));

    // Another thread must get the mutex at once: the write left it free, not owned twice.
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName_.c_str());
        result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result);
}

} // namespace
