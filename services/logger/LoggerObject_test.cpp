// The registered logger, created the way every component creates it.
#include "LogFile.h"
#include "ComPtr.h"
#include "UiHarness.h"
#include "ZvLogger.h"
#include <gtest/gtest.h>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using tv::com::ComPtr;

std::string ReadSharedLog() {
    std::ifstream in(tv::logger::SharedLogPath(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// What the log holds after the last occurrence of `marker`.
std::string After(const std::string& marker) {
    const std::string log = ReadSharedLog();
    const size_t at = log.rfind(marker);
    return at == std::string::npos ? "<marker missing>" : log.substr(at + marker.size());
}

size_t CountHeaders(const std::string& text) {
    size_t count = 0;
    for (size_t at = text.find("Log started on "); at != std::string::npos;
         at = text.find("Log started on ", at + 1))
        ++count;
    return count;
}

ComPtr<IZvLogger> CreateLogger() {
    ComPtr<IZvLogger> logger;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ZvLogger, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&logger)));
    return logger;
}

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        // Start from a small log so that no opening empties it under the test's feet.
        DeleteFileA(tv::logger::SharedLogPath().c_str());
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(LoggerTest, IsRegisteredUnderBothProgIds) {
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Tavrilon.Logger", &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ZvLogger, clsid));
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Tavrilon.Logger.1", &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ZvLogger, clsid));
}

TEST_F(LoggerTest, CreationsShareOneLoggerAndOneHeaderUntilTheLastRelease) {
    ComPtr<IZvLogger> first = CreateLogger();
    ASSERT_TRUE(first);
    ASSERT_EQ(S_OK, first->Write(const_cast<char*>("<first>")));
    ComPtr<IZvLogger> second = CreateLogger();
    ASSERT_TRUE(second);
    EXPECT_EQ(first.Get(), second.Get());
    ASSERT_EQ(S_OK, second->Write(const_cast<char*>("<second>")));
    EXPECT_EQ("<second>", After("<first>"));

    first.Reset();
    second.Reset();
    ComPtr<IZvLogger> third = CreateLogger();
    ASSERT_TRUE(third);
    EXPECT_EQ(1u, CountHeaders(After("<second>"))) << "a new logger writes a new header";
}

TEST_F(LoggerTest, LevelsFilterWritesAndOnlyTheAutomationFormAddsALineEnd) {
    ComPtr<IZvLogger> logger = CreateLogger();
    ASSERT_TRUE(logger);
    ASSERT_EQ(S_OK, logger->Write(const_cast<char*>("<levels>")));
    ASSERT_EQ(S_OK, logger->SetLogLevel(5));
    EXPECT_EQ(S_OK, logger->WriteEx(const_cast<char*>("[4]"), 4));
    EXPECT_EQ(S_OK, logger->WriteEx(const_cast<char*>("[5]"), 5));
    ASSERT_EQ(S_OK, logger->SetDefLevel(4));
    EXPECT_EQ(S_OK, logger->Write(const_cast<char*>("[def4]")));
    ASSERT_EQ(S_OK, logger->SetDefLevel(6));
    EXPECT_EQ(S_OK, logger->Write(const_cast<char*>("[def6]")));
    EXPECT_EQ(E_POINTER, logger->Write(nullptr));
    EXPECT_EQ(E_POINTER, logger->WriteEx(nullptr, 9));

    // A script's late-bound call, as through IDispatch by name.
    ComPtr<IDispatch> script;
    ASSERT_EQ(S_OK, logger.As(&script));
    const wchar_t* names[] = {L"WriteEx"};
    DISPID id = 0;
    ASSERT_EQ(S_OK,
              script->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 1, LOCALE_USER_DEFAULT, &id));
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_BSTR; // arguments are passed last first
    args[1].bstrVal = SysAllocString(L"[disp]");
    args[0].vt = VT_I4;
    args[0].lVal = 7;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(S_OK, script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                   nullptr, nullptr));
    args[0].lVal = 1;
    EXPECT_EQ(S_OK, script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                   nullptr, nullptr));
    VariantClear(&args[1]);

    EXPECT_EQ("[5][def6][disp]\n", After("<levels>"));
}

TEST_F(LoggerTest, TwoProcessesWriteAtOnceWithoutLostOrInterleavedLines) {
    constexpr int kLines = 400;
    const std::wstring eventName = L"zvlogger_test_start_" + std::to_wstring(GetCurrentProcessId());
    tv::com::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(start);
    const std::wstring writer = L"\"" + tv::test::ExeFolder() + L"\\zvlogger_writer.exe\" ";
    const std::wstring tail = L" " + std::to_wstring(kLines) + L" " + eventName;
    tv::test::StartedProcess alpha, bravo;
    ASSERT_TRUE(alpha.Start(writer + L"alpha" + tail));
    ASSERT_TRUE(bravo.Start(writer + L"bravo" + tail));
    SetEvent(start.Get());
    EXPECT_EQ(0, alpha.WaitForExit(120000));
    EXPECT_EQ(0, bravo.WaitForExit(120000));

    std::map<std::string, int> seen;
    std::istringstream lines(ReadSharedLog());
    std::string line;
    int foreign = 0;
    while (std::getline(lines, line)) {
        if (line.empty() || line.rfind("Log started on ", 0) == 0)
            continue;
        const std::string tag = line.substr(0, 5);
        const size_t space = line.find(' ', 6);
        const bool wellFormed = (tag == "alpha" || tag == "bravo") && space != std::string::npos &&
                                line.substr(space + 1) == std::string(300, tag[0]);
        if (!wellFormed) {
            ++foreign;
            continue;
        }
        ++seen[line.substr(0, space)];
    }
    EXPECT_EQ(0, foreign) << "lines of the two writers were mixed";
    for (const char* tag : {"alpha", "bravo"}) {
        for (int i = 0; i < kLines; ++i)
            EXPECT_EQ(1, seen[std::string(tag) + " " + std::to_string(i)]) << tag << " line " << i;
    }
    EXPECT_EQ(2u * kLines, seen.size());
}

} // namespace
