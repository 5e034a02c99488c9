// The subscription update against a hub served in this test program, with packages made by the
// authoring tool (testdata/make_packages.sh). The user's answers come from a thread of its own
// through the UI harness while this thread serves the hub.
#include "SubscriptionUpdate.h"
#include "LangIds.h"
#include "ServedHub.h"
#include "SubscriptionTestUser.h"
#include "UiHarness.h"
#include "ZvRegistrar.h"
#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <thread>

using namespace tv;
using namespace tv::subscription;

namespace {

TEST(SubscriptionTextsTest, PackageNameFollowsTheLastSlashOrElseTheLastBackslash) {
    EXPECT_EQ(PackageFileName(L"C:\\updates\\news.csu"), L"news.csu");
    EXPECT_EQ(PackageFileName(L"Z:/updates\\x/news.csu"), L"news.csu");
    // A forward slash wins even when a backslash comes after it.
    EXPECT_EQ(PackageFileName(L"a/b\\c.csu"), L"b\\c.csu");
    EXPECT_EQ(PackageFileName(L"news.csu"), L"news.csu");
}

TEST(SubscriptionTextsTest, FormatTakesTheOneTextLiterally) {
    EXPECT_EQ(FormatWithText(L"The update %s failed.", L"a%sb%d.csu"), L"The update a%sb%d.csu failed.");
    EXPECT_EQ(FormatWithText(L"100%% of %s, not %s", L"x"), L"100% of x, not %s");
    EXPECT_EQ(FormatWithText(L"no place", L"x"), L"no place");
}

class SubscriptionUpdateTest : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"tvsubscriptiontest" + std::to_wstring(GetCurrentProcessId());
        for (const wchar_t* folder : {L"", L"\\devices", L"\\devices\\Dev1", L"\\packages"})
            CreateDirectoryW((root_ + folder).c_str(), nullptr);
        for (const wchar_t* package : {L"update.csu", L"refusing.csu", L"noscript.csu"})
            CopyFileW((test::WinePath(TV_SUBSCRIPTION_TESTDATA) + L"\\" + package).c_str(),
                      Package(package).c_str(), FALSE);
        language_ = LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(language_, nullptr);
        char devices[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, (root_ + L"\\devices").c_str(), -1, devices, sizeof(devices), nullptr,
                            nullptr);
        ASSERT_EQ(served_.Start(devices), S_OK);
    }

    void TearDown() override {
        served_.Stop();
        FreeLibrary(language_);
        test::DeleteTree(root_);
    }

    std::wstring Package(const wchar_t* name) const { return root_ + L"\\packages\\" + name; }

    // Runs the update thread for the device while this thread serves the hub and `user` answers.
    DWORD RunUpdate(std::function<void()> user) {
        auto request = std::make_unique<UpdateRequest>(UpdateRequest{L"@TDDev1", language_});
        com::UniqueHandle thread(
            CreateThread(nullptr, 0, SubscriptionUpdateThread, request.get(), 0, nullptr));
        EXPECT_TRUE(thread);
        if (!thread)
            return 99;
        request.release();
        std::thread acting(std::move(user));
        const bool ended = test::PumpUntilThreadEnds(thread.Get(), 45000);
        acting.join();
        EXPECT_TRUE(ended) << "windows still open: " << test::OpenWindows();
        DWORD code = 99;
        GetExitCodeThread(thread.Get(), &code);
        return code;
    }

    LONG BusyUI() const { return served_.BusyUI(); }

    std::wstring root_;
    HMODULE language_ = nullptr;
    test::ServedHub served_;
};

TEST_F(SubscriptionUpdateTest, BusyHubEndsTheCommandAtOnce) {
    served_.Hub()->put_BusyUI(1L);
    bool dialogShown = true;
    EXPECT_EQ(RunUpdate([&] {
                  dialogShown = test::WaitForWindow(L"#32770", test::kFirstDialogCaption, 2000) != nullptr;
              }),
              static_cast<DWORD>(kHubUnavailable));
    EXPECT_FALSE(dialogShown);
    EXPECT_EQ(BusyUI(), 1); // someone else's busy mark stays
    served_.Hub()->put_BusyUI(0L);
}

TEST_F(SubscriptionUpdateTest, CancelOnTheFirstDialogEndsWithTwo) {
    LONG busyWindow = 0;
    HWND dialog = nullptr;
    std::wstring linkClass;
    EXPECT_EQ(RunUpdate([&] {
                  dialog = test::WaitForWindow(L"#32770", test::kFirstDialogCaption, 15000);
                  if (!dialog)
                      return;
                  Sleep(300);
                  served_.Hub()->GetBusyUI(&busyWindow);
                  wchar_t name[32] = {};
                  GetClassNameW(GetDlgItem(dialog, IDC_SUBSCRIPTION_LINK), name, ARRAYSIZE(name));
                  linkClass = name;
                  test::SaveScreenshot(test::ExeFolder() + L"\\subscription_dialog.bmp");
                  test::ClickButton(dialog, IDCANCEL);
              }),
              static_cast<DWORD>(kUserCancelled));
    ASSERT_NE(dialog, nullptr);
    // The dialog was the hub's busy window, with the link in place of its label.
    EXPECT_EQ(busyWindow, static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)));
    EXPECT_EQ(lstrcmpiW(linkClass.c_str(), L"SysLink"), 0) << std::string(linkClass.begin(), linkClass.end());
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(SubscriptionUpdateTest, CancelledPackageQuestionEndsWithOne) {
    EXPECT_EQ(RunUpdate([] {
                  test::SubscriptionUser::AnswerFirstDialog(IDOK) &&
                      test::SubscriptionUser::ChoosePackage(L"");
              }),
              static_cast<DWORD>(kUpdateRan));
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(SubscriptionUpdateTest, PackageScriptRunsMainWithThePathAndTheDeviceOnceTheHubIsFree) {
    const std::wstring package = Package(L"update.csu");
    EXPECT_EQ(RunUpdate([&] {
                  test::SubscriptionUser::AnswerFirstDialog(IDOK) &&
                      test::SubscriptionUser::ChoosePackage(package);
              }),
              static_cast<DWORD>(kUpdateRan));
    const std::string ran = test::ReadFile(package + L".ran");
    char expected[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, package.c_str(), -1, expected, sizeof(expected), nullptr, nullptr);
    EXPECT_EQ(ran, std::string(expected) + "|@TDDev1|idle");
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(SubscriptionUpdateTest, PackageWithoutUpdateScriptShowsOnlyTheFailureNamingTheFile) {
    std::optional<std::wstring> report;
    EXPECT_EQ(RunUpdate([&] {
                  if (test::SubscriptionUser::AnswerFirstDialog(IDOK) &&
                      test::SubscriptionUser::ChoosePackage(Package(L"noscript.csu")))
                      report = test::SubscriptionUser::CloseMessageBox(
                          test::Text(IDS_SUBSCRIPTION_FAILED_CAPTION));
              }),
              static_cast<DWORD>(kUpdateRan));
    EXPECT_EQ(report, FormatWithText(test::Text(IDS_SUBSCRIPTION_FAILED), L"noscript.csu"));
    EXPECT_EQ(BusyUI(), 0);
}

TEST_F(SubscriptionUpdateTest, FailingMainShowsTheScriptErrorAndThenTheFailure) {
    std::optional<std::wstring> scriptError, report;
    EXPECT_EQ(RunUpdate([&] {
                  if (!test::SubscriptionUser::AnswerFirstDialog(IDOK) ||
                      !test::SubscriptionUser::ChoosePackage(Package(L"refusing.csu")))
                      return;
                  scriptError = test::SubscriptionUser::CloseMessageBox(L"ZvCSUAssoc");
                  report =
                      test::SubscriptionUser::CloseMessageBox(test::Text(IDS_SUBSCRIPTION_FAILED_CAPTION));
              }),
              static_cast<DWORD>(kUpdateRan));
    // Wine's script error object carries no text: only the box itself is certain.
    EXPECT_TRUE(scriptError.has_value());
    EXPECT_EQ(report, FormatWithText(test::Text(IDS_SUBSCRIPTION_FAILED), L"refusing.csu"));
    EXPECT_EQ(BusyUI(), 0);
}

// The customisation request comes from the item store's event script.
class CustomizeSubscriptionTest : public testing::Test {
  protected:
    void SetUp() override {
        const HRESULT created = CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IZvRegistrarDisp, reinterpret_cast<void**>(&store_));
        if (FAILED(created)) {
            if (!tv::test::InstallRequired())
                GTEST_SKIP() << "the item store is not registered in this prefix";
            FAIL() << "the item store is not registered in this prefix: " << std::hex << created;
        }
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"tvcustomize" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                  std::to_wstring(++runs_);
        CreateDirectoryW(folder_.c_str(), nullptr);
        // What "opening" the page does here: a command file that leaves a mark beside itself.
        std::ofstream((folder_ + L"\\@TDDev1.cmd").c_str()) << "@echo opened> \"%~dp0opened.txt\"\r\n";
    }
    void TearDown() override {
        if (!store_)
            return;
        com::UniqueBstr name(SysAllocString(L"CustomizeSubscription"));
        store_->RemoveItem(RIT_SCRIPT, name.Get());
        store_->Flush();
        DeleteFileW((folder_ + L"\\@TDDev1.cmd").c_str());
        DeleteFileW((folder_ + L"\\opened.txt").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    void PutScript(const std::wstring& body) {
        com::UniqueBstr name(SysAllocString(L"CustomizeSubscription"));
        com::UniqueBstr text(SysAllocString((L"function GetCustSubsRequest(id) { " + body + L" }").c_str()));
        ASSERT_EQ(store_->PutItemScript(name.Get(), text.Get(), 1), S_OK);
        store_->Flush();
    }
    bool OpenedWithin(DWORD ms) const {
        const DWORD start = GetTickCount();
        do {
            if (GetFileAttributesW((folder_ + L"\\opened.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
                return true;
            Sleep(100);
        } while (GetTickCount() - start < ms);
        return false;
    }

    com::ComPtr<IZvRegistrarDisp> store_;
    std::wstring folder_;
    static inline int runs_ = 0;
};

TEST_F(CustomizeSubscriptionTest, TextResultIsOpenedWithTheShell) {
    std::wstring escaped;
    for (wchar_t c : folder_)
        escaped += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
    PutScript(L"return \"" + escaped + L"\\\\\" + id + \".cmd\";");
    CustomizeSubscription(L"@TDDev1");
    EXPECT_TRUE(OpenedWithin(15000));
}

TEST_F(CustomizeSubscriptionTest, NumberResultOpensNothing) {
    PutScript(L"return 7;");
    CustomizeSubscription(L"@TDDev1");
    EXPECT_FALSE(OpenedWithin(3000));
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    com::ComApartment apartment;
    return RUN_ALL_TESTS();
}
