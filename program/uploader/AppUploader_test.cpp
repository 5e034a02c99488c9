// The uploader thread against a hub served in this test program: the user's folder choice is
// the hub's scripted answer, the progress window is driven through the UI harness from a
// thread of its own while this thread serves the hub.
#include "AppUploader.h"
#include "AnsiText.h"
#include "LangIds.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include "UploadDestination.h"
#include <gtest/gtest.h>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

using namespace tv;
using namespace tv::uploader;

namespace {

TEST(UploadDestinationTest, FileGoesIntoTheChosenFolderUnderItsOwnName) {
    UploadDestination d = BuildUploadDestination("Dev1\\Programs", "C:\\Downloads\\game.app");
    EXPECT_EQ(d.path, "Dev1\\Programs\\game.app");
    EXPECT_EQ(d.deviceName, "Dev1");
    // A path with forward slashes only: the name follows the last "/".
    EXPECT_EQ(BuildUploadDestination("Dev1\\Programs", "Z:/tmp/tool.app").path, "Dev1\\Programs\\tool.app");
    EXPECT_EQ(PcFileName("plain.app"), "plain.app");
    EXPECT_EQ(BuildUploadDestination("Dev1", "a\\b.app").deviceName, "Dev1");
}

TEST(UploadDestinationTest, BracketedPartIsRemovedFromTheFolderOnly) {
    EXPECT_EQ(BuildUploadDestination("Dev1[@TD1]\\Programs", "C:\\x\\game.app").path,
              "Dev1\\Programs\\game.app");
    EXPECT_EQ(BuildUploadDestination("Dev1[@TD1]\\Programs", "C:\\x\\game.app").deviceName, "Dev1");
    // The file's own name keeps its brackets, whatever the folder holds.
    EXPECT_EQ(BuildUploadDestination("Dev1\\Programs", "C:\\x\\game[2].app").path,
              "Dev1\\Programs\\game[2].app");
    EXPECT_EQ(BuildUploadDestination("Dev1[a]\\P", "C:\\x\\game[2].app").path, "Dev1\\P\\game[2].app");
    // A "]" before the "[" is no bracketed part.
    EXPECT_EQ(BuildUploadDestination("Dev1]x[\\P", "f.app").path, "Dev1]x[\\P\\f.app");
}

TEST(UploadDestinationTest, FolderWithTwoBracketedPartsLosesTheTextFromTheLastOpeningToTheLastClosing) {
    UploadDestination d = BuildUploadDestination("Dev1[@TD1]\\Games[old]", "C:\\x\\game[2].app");
    EXPECT_EQ(d.path, "Dev1[@TD1]\\Games\\game[2].app");
    EXPECT_EQ(d.deviceName, "Dev1[@TD1]");
    EXPECT_EQ(BuildUploadDestination("Dev1[a]x]\\P", "f.app").path, "Dev1\\P\\f.app");
    // The last "[" after the last "]" marks no part.
    EXPECT_EQ(BuildUploadDestination("Dev1[a]\\P[", "f.app").path, "Dev1[a]\\P[\\f.app");
}

std::string TempRoot() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    return std::string(folder) + "tvuploadertest" + std::to_string(GetCurrentProcessId());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Text(UINT id) {
    static HMODULE language = LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t buffer[512] = {};
    LoadStringW(language, id, buffer, ARRAYSIZE(buffer));
    return buffer;
}

std::string WindowText(HWND window, int controlId) {
    char text[512] = {};
    GetDlgItemTextA(window, controlId, text, sizeof(text));
    return text;
}

class UploaderTest : public testing::Test {
  protected:
    void SetUp() override {
        root_ = TempRoot();
        for (const char* folder : {"", "\\devices", "\\devices\\Dev1", "\\devices\\Dev1\\Programs", "\\pc"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        WriteFile(root_ + "\\pc\\game[2].app", "application bytes");
        language_ = LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(language_, nullptr);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }

    void TearDown() override {
        served_.Stop();
        FreeLibrary(language_);
        test::DeleteTree(com::FromAnsi(root_));
    }

    // Runs the uploader thread for the PC file while this thread serves the hub and `user` acts
    // on the screen from a thread of its own; the thread's exit code.
    DWORD Upload(const std::string& pcPath, std::function<void()> user = {}) {
        auto request = std::make_unique<UploadRequest>();
        request->pcPath = pcPath;
        request->captionId = IDS_UPLOADER_CAPTION;
        request->language = language_;
        com::UniqueHandle thread(CreateThread(nullptr, 0, UploaderThreadProc, request.get(), 0, nullptr));
        EXPECT_TRUE(thread);
        if (!thread)
            return 99;
        request.release();
        std::thread acting;
        if (user)
            acting = std::thread(user);
        const bool ended = test::PumpUntilThreadEnds(thread.Get(), 60000);
        if (acting.joinable())
            acting.join();
        EXPECT_TRUE(ended);
        DWORD code = 99;
        GetExitCodeThread(thread.Get(), &code);
        return code;
    }

    static HWND WaitForProgressWindow() {
        return test::WaitForWindow(L"#32770", Text(IDS_UPLOADER_CAPTION).c_str(), 20000);
    }

    LONG BusyUI() const { return served_.BusyUI(); }

    std::string root_;
    HMODULE language_ = nullptr;
    test::ServedHub served_;
};

TEST_F(UploaderTest, CopiesIntoTheChosenFolderWithThePcModeOnAndTheHubBusy) {
    served_.Hub()->AnswerBrowse("Dev1[@TDDev1]\\Programs");
    std::atomic<bool> sawWindow{false};
    std::string shownPath;
    EXPECT_EQ(Upload(root_ + "\\pc\\game[2].app",
                     [&] {
                         if (HWND window = WaitForProgressWindow()) {
                             // The window may be found before its text is set, and the copy of
                             // a small file may close it before the text could be read: a
                             // window that went without a text read is not counted as seen.
                             test::PollUntil(
                                 [&] {
                                     shownPath = WindowText(window, IDC_UPLOADER_TEXT);
                                     return !shownPath.empty() || !IsWindow(window);
                                 },
                                 2000);
                             sawWindow = !shownPath.empty() || IsWindow(window);
                         }
                     }),
              0u);
    EXPECT_EQ(served_.Hub()->BrowseTitle(), Text(IDS_UPLOADER_BROWSE_TITLE));
    EXPECT_EQ(served_.Hub()->BrowseText(), Text(IDS_UPLOADER_BROWSE_TEXT));
    // The bracketed part of the folder went; the file kept its own name.
    EXPECT_EQ(ReadFile(root_ + "\\devices\\Dev1\\Programs\\game[2].app"), "application bytes");
    // PC mode on while the hub was busy, off at the end (after the window, the hub's busy window,
    // was gone); the window closed by itself; the views refreshed.
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"pc on busy", "pc off"}));
    EXPECT_EQ(BusyUI(), 0);
    EXPECT_EQ(served_.Hub()->RefreshCount(), 1);
    EXPECT_FALSE(FindWindowW(L"#32770", Text(IDS_UPLOADER_CAPTION).c_str()));
    if (sawWindow) {
        EXPECT_EQ(shownPath, root_ + "\\pc\\game[2].app");
    }
}

TEST_F(UploaderTest, CopiesIntoTheFolderPickedInTheHubsBrowserOverMyZelvan) {
    // The hub's own browser over the folder registered in the prefix; the user opens Dev1 and
    // picks Programs.
    served_.Hub()->UseRealBrowser();
    bool picked = false;
    EXPECT_EQ(Upload(root_ + "\\pc\\game[2].app",
                     [&] {
                         picked = test::PickInFolderBrowser(Text(IDS_UPLOADER_BROWSE_TITLE).c_str(),
                                                            {L"Dev1", L"Programs"}, 20000);
                     }),
              0u);
    EXPECT_TRUE(picked);
    EXPECT_EQ(ReadFile(root_ + "\\devices\\Dev1\\Programs\\game[2].app"), "application bytes");
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(UploaderTest, CancelledFolderChoiceCopiesNothing) {
    served_.Hub()->AnswerBrowse(std::nullopt);
    EXPECT_EQ(Upload(root_ + "\\pc\\game[2].app"), 0u);
    EXPECT_TRUE(served_.Hub()->Commands().empty());
    EXPECT_EQ(served_.Hub()->RefreshCount(), 0);
    EXPECT_FALSE(Exists(root_ + "\\devices\\Dev1\\Programs\\game[2].app"));
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(UploaderTest, CopyErrorStaysShownUntilTheUserClosesTheWindow) {
    served_.Hub()->AnswerBrowse("Dev1\\Missing");
    std::string shown;
    HWND seen = nullptr;
    EXPECT_EQ(Upload(root_ + "\\pc\\game[2].app",
                     [&] {
                         HWND window = WaitForProgressWindow();
                         if (!window)
                             return;
                         seen = window;
                         // The window stays while it shows the device's error text.
                         const DWORD start = GetTickCount();
                         while (WindowText(window, IDC_UPLOADER_TEXT).find("Cannot write") ==
                                    std::string::npos &&
                                GetTickCount() - start < 20000)
                             Sleep(50);
                         Sleep(500);
                         shown = WindowText(window, IDC_UPLOADER_TEXT);
                         test::SaveScreenshot(test::ExeFolder() + L"\\uploader_error.bmp");
                         PostMessageW(window, WM_CLOSE, 0, 0);
                     }),
              0u);
    ASSERT_NE(seen, nullptr);
    EXPECT_NE(shown.find("Cannot write"), std::string::npos) << shown;
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"pc on busy", "pc off"}));
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(UploaderTest, CancelAsksTheHubToCancelTheDevicesCopy) {
    served_.Hub()->AnswerBrowse("Dev1\\Programs");
    char name[] = "Dev1", command[] = "delay 20000";
    LONG length = 0;
    LPSTR response = nullptr;
    ASSERT_EQ(served_.Hub()->Hub::Command(name, command, &length, &response), S_OK);
    CoTaskMemFree(response);
    const DWORD start = GetTickCount();
    EXPECT_EQ(Upload(root_ + "\\pc\\game[2].app",
                     [&] {
                         HWND window = WaitForProgressWindow();
                         if (!window)
                             return;
                         Sleep(300);
                         test::ClickButton(window, IDCANCEL);
                         // The device's report of the cancel is shown; a second Cancel closes.
                         while (IsWindow(window) && GetTickCount() - start < 15000) {
                             if (!WindowText(window, IDC_UPLOADER_TEXT).empty() &&
                                 WindowText(window, IDC_UPLOADER_TEXT).find("game") == std::string::npos)
                                 test::ClickButton(window, IDCANCEL);
                             Sleep(100);
                         }
                     }),
              0u);
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_FALSE(Exists(root_ + "\\devices\\Dev1\\Programs\\game[2].app"));
    EXPECT_EQ(BusyUI(), 0);
}

TEST(RunUploaderTest, RefusesAPathLongerThanTheUploaderTakes) {
    EXPECT_FALSE(RunUploader(std::string(kMaxUploadPath + 1, 'a'), IDS_UPLOADER_CAPTION, nullptr));
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    com::ComApartment apartment;
    return RUN_ALL_TESTS();
}
