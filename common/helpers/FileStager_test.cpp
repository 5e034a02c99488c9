#include "FileStager.h"
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>
#include <string>

using tv::FileStager;

namespace {

std::wstring TempFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"tvstager" + std::to_wstring(GetCurrentProcessId());
}

std::string Content(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

bool PollUntilGone(const std::wstring& path) {
    for (int i = 0; i < 200; ++i) {
        if (!Exists(path))
            return true;
        Sleep(10);
    }
    return false;
}

class FileStagerTest : public testing::Test {
  protected:
    void SetUp() override { CreateDirectoryW(folder_.c_str(), nullptr); }
    void TearDown() override {
        for (const wchar_t* name : {L"a", L"b", L"c", L"big"})
            DeleteFileW(Path(name).c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }
    std::wstring folder_ = TempFolder();
};

// Files are written in the order handed over, each whole (an existing file replaced), and go
// with the stager; a file that cannot be written gives its failure and the next ones are written.
TEST_F(FileStagerTest, WritesInOrderReportsEachFileAndDeletesThemAtTheEnd) {
    std::ofstream(Path(L"a").c_str(), std::ios::binary) << "an older and longer content";
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    {
        FileStager stager;
        ASSERT_EQ(stager.Add(Path(L"a"), Bytes("first")), S_OK);
        ASSERT_EQ(stager.Add(folder_ + L"\\missing\\b", Bytes("nowhere")), S_OK);
        ASSERT_EQ(stager.Add(Path(L"big"), Bytes(big)), S_OK);
        ASSERT_EQ(stager.Add(Path(L"c"), {}), S_OK);
        EXPECT_EQ(stager.Count(), 4u);
        EXPECT_EQ(stager.WaitWritten(2), S_OK);
        EXPECT_EQ(Content(Path(L"big")), big);
        EXPECT_EQ(stager.WaitWritten(0), S_OK);
        EXPECT_EQ(Content(Path(L"a")), "first");
        EXPECT_EQ(stager.WaitWritten(1), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(stager.WaitWritten(3), S_OK);
        EXPECT_TRUE(Exists(Path(L"c")));
        EXPECT_EQ(Content(Path(L"c")), "");
        EXPECT_EQ(stager.WaitWritten(4), E_INVALIDARG);
    }
    EXPECT_FALSE(Exists(Path(L"a")));
    EXPECT_FALSE(Exists(Path(L"big")));
    EXPECT_FALSE(Exists(Path(L"c")));
}

// A stager told to leave its files goes without deleting them; one that goes while it still
// writes stops without waiting for the rest.
TEST_F(FileStagerTest, LeftFilesStayAndAStagerGoesWhileWriting) {
    {
        FileStager stager;
        ASSERT_EQ(stager.Add(Path(L"a"), Bytes("kept")), S_OK);
        EXPECT_EQ(stager.WaitWritten(0), S_OK);
        stager.LeaveFiles();
    }
    EXPECT_EQ(Content(Path(L"a")), "kept");
    {
        FileStager stager;
        for (const wchar_t* name : {L"big", L"b", L"c"})
            ASSERT_EQ(stager.Add(Path(name), std::vector<uint8_t>(8 * 1024 * 1024, 1)), S_OK);
    }
    for (const wchar_t* name : {L"big", L"b", L"c"})
        EXPECT_FALSE(Exists(Path(name)));
    FileStager unused;
    EXPECT_EQ(unused.WaitWritten(0), E_INVALIDARG);
}

// Files handed over without a path get fresh temporary files with the stager's prefix, made
// ahead of the writing; a released file is deleted by the stager's thread, the rest at the end.
TEST_F(FileStagerTest, TemporaryFilesAreMadeAheadAndReleasedOnesGoAtOnce) {
    std::vector<std::wstring> paths(3);
    {
        FileStager stager(L"TVS");
        for (const char* text : {"one", "two", "three"})
            ASSERT_EQ(stager.Add({}, Bytes(text)), S_OK);
        for (size_t i = 0; i < paths.size(); ++i)
            ASSERT_EQ(stager.WaitPath(i, paths[i]), S_OK);
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        for (const std::wstring& path : paths) {
            EXPECT_EQ(path.rfind(std::wstring(folder) + L"TVS", 0), 0u) << path;
            EXPECT_TRUE(Exists(path));
        }
        EXPECT_NE(paths[0], paths[1]);
        EXPECT_EQ(stager.WaitWritten(1), S_OK);
        EXPECT_EQ(Content(paths[1]), "two");
        stager.Release(1);
        EXPECT_TRUE(PollUntilGone(paths[1]));
        EXPECT_EQ(stager.WaitWritten(2), S_OK);
        EXPECT_EQ(Content(paths[2]), "three");
        std::wstring none;
        EXPECT_EQ(stager.WaitPath(3, none), E_INVALIDARG);
    }
    for (const std::wstring& path : paths)
        EXPECT_FALSE(Exists(path)) << path;
}

} // namespace
