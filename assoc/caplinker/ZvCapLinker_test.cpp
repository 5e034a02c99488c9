// The package installer against a hub served in this test program: packages made with the
// package authoring tool are opened as the association manager would open them, on the hub's
// thread; a helper thread acts as the user (closes the copy's progress window, message boxes
// and questions).
#include "ZvCapLinker.h"
#include "AnsiText.h"
#include "BenchmarkRounds.h"
#include "AssociationRecord.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ZvCAPAsker.h"
#include "ZvCAPCopier.h"
#include "CapArchive.h"
#include "FileStager.h"
#include "MessagePump.h"
#include "InstallerTest.h"
#include "RefusedDialogs.h"
#include "TestDeviceIds.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

using namespace tv;
using namespace tv::caplinker;

namespace {

using test::ReadWholeFile;
using test::TestData;
using test::Text;

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The temporary "CAP" files of this user's temporary folder.
int CountTempFiles() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "CAP*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do
        ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// Saves a package of file items at `path`: each an item name and the PC file whose data it holds.
void SavePackage(const std::string& path, const std::vector<std::pair<std::string, std::string>>& items) {
    com::ComPtr<ICapPackage> package;
    ASSERT_EQ(CoCreateInstance(CLSID_CapPackage, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapPackage),
                               reinterpret_cast<void**>(&package)),
              S_OK);
    for (const auto& [name, file] : items) {
        com::ComPtr<ICapFileItem> item;
        ASSERT_EQ(CoCreateInstance(CLSID_CapFileItem, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapFileItem),
                                   reinterpret_cast<void**>(&item)),
                  S_OK);
        com::UniqueBstr itemName = com::AnsiToUniqueBstr(name), data = com::AnsiToUniqueBstr(file);
        ASSERT_EQ(item->put_Name(itemName.Get()), S_OK);
        ASSERT_EQ(item->LoadFromFile(data.Get()), S_OK);
        ASSERT_EQ(package->Add(item.Get()), S_OK);
    }
    com::ComPtr<ICapArchive> archive;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    com::UniqueBstr packageFile = com::AnsiToUniqueBstr(path);
    ASSERT_EQ(archive->Save(packageFile.Get(), package.Get()), S_OK);
}

class CapLinkerTest : public test::InstallerTest<caplinker::ZvCapLinker> {
  protected:
    void SetUp() override { StartWith("tvcaptest", {"Packages", "Apps"}); }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, DeviceSettingsKey().c_str());
        InstallerTest::TearDown();
    }
    // A setting of the test device Dev1 (see TestDeviceIds.h), until the test ends.
    static void SetDeviceSetting(const char* name, DWORD value) {
        RegSetKeyValueA(HKEY_CURRENT_USER, DeviceSettingsKey().c_str(), name, REG_DWORD, &value,
                        sizeof(value));
    }
    // Installs plain.cap into Dev1\Apps, each file taking `delayMs` on the device, while the
    // program ends as soon as the copy's window shows; the install's result. The quit is there
    // for the thread's loop afterwards (taken here, before any wait whose pumping would take it).
    HRESULT InstallEndedByAQuit(DWORD delayMs) {
        served_.Hub()->AnswerBrowse("Dev1\\Apps");
        std::string delay = "delay " + std::to_string(delayMs);
        LONG length = 0;
        LPSTR response = nullptr;
        EXPECT_EQ(served_.Hub()->Command(const_cast<LPSTR>("Dev1"), delay.data(), &length, &response), S_OK);
        CoTaskMemFree(response);
        const DWORD installing = GetCurrentThreadId();
        const HRESULT hr = OpenWhile(TestData("plain.cap"), [installing] {
            if (test::WaitForWindow(L"#32770", L"Installing the package", 20000))
                PostThreadMessageW(installing, WM_QUIT, 7, 0);
        });
        MSG quit{};
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(quit.wParam, 7u);
        return hr;
    }
    static std::string DeviceSettingsKey() { return std::string(tests::kTestDeviceSettingsKey) + "\\Dev1"; }
};

// Acts as the user of an install: answers the installer's message box with OK (counted in
// `boxes`), and closes the copy's progress window once it shows `finalStatus` (an error it
// keeps open) or after a while, pressing Cancel until it goes.
std::function<void()> UserOfInstall(std::atomic<int>& boxes, std::string finalStatus = {}) {
    return [&boxes, finalStatus] {
        const ULONGLONG deadline = GetTickCount64() + 20000;
        auto close = [](HWND copy) {
            for (int i = 0; i < 100 && IsWindow(copy); ++i) {
                test::ClickButton(copy, IDCANCEL);
                test::WaitForWindowGone(copy, 200);
            }
        };
        for (;;) {
            if (GetTickCount64() >= deadline) {
                if (HWND copy = test::FindShownWindow(L"#32770", L"Installing the package"))
                    close(copy);
                return;
            }
            if (HWND box = test::FindShownWindow(L"#32770", Text(IDS_INSTALL_CAPTION).c_str())) {
                ++boxes;
                test::ClickButton(box, IDOK);
                test::WaitForWindowGone(box, 5000);
                return;
            }
            if (HWND copy = test::FindShownWindow(L"#32770", L"Installing the package")) {
                char status[512] = {};
                GetDlgItemTextA(copy, IDC_CAP_STATUS, status, sizeof(status));
                if (!finalStatus.empty() && std::string(status).find(finalStatus) != std::string::npos) {
                    close(copy);
                    return;
                }
            }
            Sleep(20);
        }
    };
}

TEST_F(CapLinkerTest, HandlerRecordIsOwnedByTheCaller) {
    char upper[] = ".CAP", lower[] = ".cap", other[] = ".app";
    EXPECT_EQ(installer_->IsAcceptable(upper), S_OK);
    EXPECT_EQ(installer_->IsAcceptable(lower), S_OK);
    EXPECT_EQ(installer_->IsAcceptable(other), S_FALSE);
    EXPECT_EQ(installer_->IsAcceptable(nullptr), S_FALSE);
    ZVASSOCIATION first{}, second{};
    ASSERT_EQ(installer_->GetAssociation(&first), S_OK);
    ASSERT_EQ(installer_->GetAssociation(&second), S_OK);
    EXPECT_STREQ(first.strExtension, ".cap");
    EXPECT_EQ(com::FromAnsi(first.strDescription), Text(IDS_CAP_DESCRIPTION));
    EXPECT_NE(std::string(first.strIconSrc).find("Zv0409.dll"), std::string::npos);
    EXPECT_EQ(first.dwIconIdx, -IDI_PACKAGE);
    EXPECT_NE(first.strDescription, second.strDescription);
    assoc::FreeRecord(first);
    assoc::FreeRecord(second);
    EXPECT_EQ(installer_->GetAssociation(nullptr), E_POINTER);
    LONG id = 55;
    EXPECT_EQ(installer_->GetContextMenuID(&id), S_OK);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(installer_->DoVerb(lower, 1), E_NOTIMPL);
}

TEST_F(CapLinkerTest, JScriptInstallCopiesThroughTheCopierWithItsVersion) {
    EXPECT_EQ(OpenWhile(TestData("js.cap")), S_OK);
    EXPECT_EQ(ReadWholeFile(Device("Packages\\js-2.4.1.txt")), "Package readme\r\n");
    // PC mode on while the hub was busy, off at the end; the views refreshed.
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"pc on busy", "pc off"}));
    EXPECT_EQ(served_.BusyUI(), 0);
    EXPECT_GE(served_.Hub()->RefreshCount(), 1);
}

TEST_F(CapLinkerTest, VBScriptInstallRunsAndJScriptWinsOverIt) {
    EXPECT_EQ(OpenWhile(TestData("vbs.cap")), S_OK);
    EXPECT_EQ(ReadWholeFile(Device("Packages\\vbs.txt")), "Package readme\r\n");
    DeleteFileA(Device("Packages\\vbs.txt").c_str());
    EXPECT_EQ(OpenWhile(TestData("both.cap")), S_OK);
    EXPECT_TRUE(Exists(Device("Packages\\js-2.4.1.txt")));
    EXPECT_FALSE(Exists(Device("Packages\\vbs.txt")));
}

TEST_F(CapLinkerTest, ThrowingScriptShowsItsErrorAndInstallsNothing) {
    std::atomic<bool> boxSeen{false};
    const HRESULT hr = OpenWhile(TestData("throwing.cap"), [&] {
        if (HWND box = test::WaitForWindow(L"#32770", L"ZvCapLinker", 20000)) {
            boxSeen = true;
            test::ClickButton(box, IDOK);
        }
    });
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(boxSeen);
    EXPECT_FALSE(Exists(Device("Packages\\never.txt")));
    EXPECT_TRUE(served_.Hub()->Commands().empty());
}

TEST_F(CapLinkerTest, DefaultInstallCopiesEveryFileAndLeavesNoTemporaryFile) {
    const int before = CountTempFiles();
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    EXPECT_EQ(OpenWhile(TestData("plain.cap")), S_OK);
    EXPECT_EQ(served_.Hub()->BrowseTitle(), Text(IDS_INSTALL_BROWSE_TITLE));
    EXPECT_EQ(ReadWholeFile(Device("Apps\\readme.txt")), "Package readme\r\n");
    EXPECT_EQ(ReadWholeFile(Device("Apps\\data.bin")), ReadWholeFile(TestData("data.bin")));
    EXPECT_EQ(ReadWholeFile(Device("Apps\\icon.img")), ReadWholeFile(TestData("icon.img")));
    EXPECT_FALSE(Exists(Device("Apps\\notes.js")));
    EXPECT_EQ(CountTempFiles(), before);
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"pc on busy", "pc off"}));
    // The progress window showed the package's icon, and the icon's bitmap went with the window.
    const HBITMAP shown = served_.Hub()->PictureAtLastCopy(IDC_INSTALL_PICTURE);
    EXPECT_NE(shown, nullptr);
    EXPECT_EQ(GetObjectType(shown), 0u);
}

TEST_F(CapLinkerTest, DefaultInstallWithoutItsProgressWindowFailsAndCopiesNothing) {
    const int before = CountTempFiles();
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    HRESULT hr = S_OK;
    {
        test::RefusedDialogs refused;
        hr = OpenWhile(TestData("plain.cap"));
    }
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    // A copy started all the same would go on in the hub's worker: give it time to arrive.
    test::PollUntil([&] { return Exists(Device("Apps\\readme.txt")); }, 2000);
    EXPECT_FALSE(Exists(Device("Apps\\readme.txt")));
    EXPECT_EQ(CountTempFiles(), before);
}

TEST_F(CapLinkerTest, AQuitForTheThreadDuringTheCopyCancelsItFailsTheInstallAndIsPassedOn) {
    const int before = CountTempFiles();
    // The program ends while the first file is on its way.
    EXPECT_EQ(InstallEndedByAQuit(2000), E_ABORT);
    // The copy was cancelled and had ended: nothing more arrives, and the temporary files are
    // gone only now that the hub no longer reads them.
    EXPECT_FALSE(test::PollUntil([&] { return Exists(Device("Apps\\data.bin")); }, 3000));
    EXPECT_EQ(CountTempFiles(), before);
}

// The program ends during a copy that the device does not stop at once: the install gives up
// waiting for it and fails, but the temporary files stay until the copy has ended, so the file
// on its way still arrives whole; then they go.
TEST_F(CapLinkerTest, AfterGivingUpOnACancelledCopyTheTemporaryFilesStayUntilItEnds) {
    const int before = CountTempFiles();
    SetDeviceSetting("IgnoresCancel", 1);
    EXPECT_EQ(InstallEndedByAQuit(HubCopyWindow::kCancelWaitMs + 3000), E_ABORT);
    EXPECT_GT(CountTempFiles(), before);
    EXPECT_TRUE(test::PollUntil([&] { return CountTempFiles() == before; }, 20000));
    EXPECT_EQ(ReadWholeFile(Device("Apps\\readme.txt")), "Package readme\r\n");
    EXPECT_FALSE(Exists(Device("Apps\\data.bin")));
}

TEST_F(CapLinkerTest, DefaultInstallWithoutAFolderOrWithoutFilesCopiesNothing) {
    served_.Hub()->AnswerBrowse(std::nullopt);
    EXPECT_EQ(OpenWhile(TestData("plain.cap")), S_FALSE);
    EXPECT_FALSE(Exists(Device("Apps\\readme.txt")));
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    EXPECT_EQ(OpenWhile(TestData("empty.cap")), S_FALSE);
    EXPECT_TRUE(served_.Hub()->Commands().empty());
}

// A name to install that would leave the chosen folder (a ".." part, a start at the root, a
// drive) is refused with a message before anything is copied, from a script's copier as from a
// package's items.
TEST_F(CapLinkerTest, NamesThatLeaveTheChosenFolderAreRefusedAndNothingIsCopied) {
    for (const char* name :
         {"..\\Packages\\escaped.txt", "sub\\..\\..\\escaped.txt", "\\escaped.txt", "C:\\escaped.txt"}) {
        SCOPED_TRACE(name);
        com::ComPtr<IZvCAPCopier> copier;
        ASSERT_EQ(installer_->get_Copier(&copier), S_OK);
        com::UniqueBstr good(SysAllocString(L"good.txt")), bad = com::AnsiToUniqueBstr(name);
        com::UniqueBstr file = com::AnsiToUniqueBstr(TestData("readme.txt"));
        ASSERT_EQ(copier->AddFile(good.Get(), file.Get()), S_OK);
        ASSERT_EQ(copier->AddFile(bad.Get(), file.Get()), S_OK);
        com::UniqueBstr folder(SysAllocString(L"Dev1\\Apps"));
        ASSERT_EQ(copier->put_ZelvanFolder(folder.Get()), S_OK);
        std::atomic<int> boxes{0};
        std::thread user(UserOfInstall(boxes));
        LONG result = 5;
        const HRESULT hr = copier->Run(&result);
        user.join();
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_EQ(result, -1);
        EXPECT_EQ(boxes, 1);
        EXPECT_FALSE(Exists(Device("Apps\\good.txt")));
        EXPECT_FALSE(Exists(Device("Packages\\escaped.txt")));
        EXPECT_FALSE(Exists(Device("escaped.txt")));
        EXPECT_FALSE(Exists(Device("Apps\\escaped.txt")));
    }
    const int before = CountTempFiles();
    const std::string package = root_ + "\\escaping.cap";
    SavePackage(package, {{"readme.txt", TestData("readme.txt")},
                          {"..\\Packages\\escaped.txt", TestData("readme.txt")}});
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    std::atomic<int> boxes{0};
    EXPECT_TRUE(FAILED(OpenWhile(package, UserOfInstall(boxes))));
    EXPECT_EQ(boxes, 1);
    EXPECT_FALSE(Exists(Device("Apps\\readme.txt")));
    EXPECT_FALSE(Exists(Device("Packages\\escaped.txt")));
    EXPECT_TRUE(served_.Hub()->Commands().empty());
    EXPECT_EQ(CountTempFiles(), before);
}

// A file the device refuses fails the install (its error stays in the progress window until
// the user closes it); the files before it were copied.
TEST_F(CapLinkerTest, AFileTheDeviceRefusesFailsTheInstall) {
    SetDeviceSetting("ImportsBeforeFailure", 1);
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    std::atomic<int> boxes{0};
    const HRESULT hr = OpenWhile(TestData("plain.cap"), UserOfInstall(boxes, "Cannot write"));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(ReadWholeFile(Device("Apps\\readme.txt")), "Package readme\r\n");
    EXPECT_FALSE(Exists(Device("Apps\\data.bin")));
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"pc on busy", "pc off"}));
}

TEST_F(CapLinkerTest, FileThatIsNoPackageIsRefusedWithAMessage) {
    std::atomic<bool> boxSeen{false};
    const HRESULT hr = OpenWhile(TestData("readme.txt"), [&] {
        if (HWND box = test::WaitForWindow(L"#32770", Text(IDS_INSTALL_CAPTION).c_str(), 20000)) {
            boxSeen = true;
            test::ClickButton(box, IDOK);
        }
    });
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(boxSeen);
}

TEST_F(CapLinkerTest, CopierRefusesAFolderWithoutADeviceAndRunsNothingWithoutFiles) {
    com::ComPtr<IZvCAPCopier> copier;
    ASSERT_EQ(installer_->get_Copier(&copier), S_OK);
    LONG result = 5;
    EXPECT_EQ(copier->Run(&result), S_FALSE);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(copier->Run(nullptr), E_POINTER);
    com::UniqueBstr name(SysAllocString(L"a.txt")), file = com::AnsiToUniqueBstr(TestData("readme.txt"));
    ASSERT_EQ(copier->AddFile(name.Get(), file.Get()), S_OK);
    com::UniqueBstr folder(SysAllocString(L"NoSeparator"));
    ASSERT_EQ(copier->put_ZelvanFolder(folder.Get()), S_OK);
    EXPECT_EQ(copier->Run(&result), E_FAIL);
    EXPECT_TRUE(served_.Hub()->Commands().empty());
    // The icon: a device image converts, a file that is none gives no picture, none at all fails.
    com::UniqueBstr icon = com::AnsiToUniqueBstr(TestData("icon.img"));
    com::UniqueBstr notAnImage = com::AnsiToUniqueBstr(TestData("notes.js"));
    com::UniqueBstr missing = com::AnsiToUniqueBstr(root_ + "\\missing.img");
    EXPECT_EQ(copier->put_Icon(icon.Get()), S_OK);
    EXPECT_EQ(copier->put_Icon(notAnImage.Get()), S_FALSE);
    EXPECT_EQ(copier->put_Icon(missing.Get()), E_INVALIDARG);
}

TEST_F(CapLinkerTest, VersionComesFromTheDescriptor) {
    com::UniqueBstr file = com::AnsiToUniqueBstr(TestData("js.cap")), version;
    ASSERT_EQ(installer_->GetVersion(file.Get(), version.Put()), S_OK);
    EXPECT_EQ(com::ToAnsi(version.Get()), "2.4.1");
    com::UniqueBstr noDescriptor = com::AnsiToUniqueBstr(TestData("empty.cap"));
    EXPECT_EQ(installer_->GetVersion(noDescriptor.Get(), version.Put()), E_FAIL);
    EXPECT_EQ(installer_->GetVersion(file.Get(), nullptr), E_POINTER);
}

TEST_F(CapLinkerTest, AskerKeepsANoToAllUntilFlushed) {
    com::ComPtr<IZvCAPAsker> asker;
    ASSERT_EQ(installer_->get_Asker(&asker), S_OK);
    com::UniqueBstr caption(SysAllocString(L"Install question")), text(SysAllocString(L"Replace the file?"));
    auto answer = [&](int button) {
        return std::thread([button] {
            if (HWND dialog = test::WaitForWindow(L"#32770", L"Install question", 20000))
                test::ClickButton(dialog, button);
        });
    };
    LONG yes = -1;
    std::thread user = answer(IDC_CAP_NO_TO_ALL);
    EXPECT_EQ(asker->AskUser(caption.Get(), text.Get(), &yes), S_OK);
    user.join();
    EXPECT_EQ(yes, 0);
    yes = -1;
    EXPECT_EQ(asker->AskUser(caption.Get(), text.Get(), &yes), S_OK); // no window this time
    EXPECT_EQ(yes, 0);
    ASSERT_EQ(asker->FlushState(), S_OK);
    user = answer(IDYES);
    EXPECT_EQ(asker->AskUser(caption.Get(), text.Get(), &yes), S_OK);
    user.join();
    EXPECT_EQ(yes, 1);
    EXPECT_EQ(asker->AskUser(caption.Get(), text.Get(), nullptr), E_POINTER);
}

TEST_F(CapLinkerTest, AskerWithoutItsQuestionWindowFails) {
    com::ComPtr<IZvCAPAsker> asker;
    ASSERT_EQ(installer_->get_Asker(&asker), S_OK);
    com::UniqueBstr caption(SysAllocString(L"Install question")), text(SysAllocString(L"Replace the file?"));
    LONG yes = -1;
    HRESULT hr = S_OK;
    {
        test::RefusedDialogs refused;
        hr = asker->AskUser(caption.Get(), text.Get(), &yes);
    }
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

// The program ends while a question is shown: the question closes unanswered, the asker fails,
// and the quit is there for the thread's own loop (a user answers after a while if it stays).
TEST_F(CapLinkerTest, AQuitForTheThreadDuringAQuestionClosesItAndIsPassedOn) {
    com::ComPtr<IZvCAPAsker> asker;
    ASSERT_EQ(installer_->get_Asker(&asker), S_OK);
    com::UniqueBstr caption(SysAllocString(L"Install question")), text(SysAllocString(L"Replace the file?"));
    const DWORD asking = GetCurrentThreadId();
    bool closedByQuit = false;
    std::thread user([asking, &closedByQuit] {
        HWND dialog = test::WaitForWindow(L"#32770", L"Install question", 20000);
        if (!dialog)
            return;
        PostThreadMessageW(asking, WM_QUIT, 7, 0);
        closedByQuit = test::WaitForWindowGone(dialog, 5000);
        if (!closedByQuit)
            test::ClickButton(dialog, IDYES);
    });
    LONG yes = -1;
    EXPECT_EQ(asker->AskUser(caption.Get(), text.Get(), &yes), E_ABORT);
    user.join();
    EXPECT_TRUE(closedByQuit);
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
}

// What the timer of the next test does once the question is shown.
struct ReleaseDuringQuestion {
    IZvCAPAsker* asker = nullptr;
    bool shownAfterRelease = false;
};
ReleaseDuringQuestion* g_releaseDuringQuestion = nullptr;

// The caller lets go of the asker while its question is shown (the asker's wait dispatches this
// thread's timer): the question stays until the user answers it, and the answer still arrives.
TEST_F(CapLinkerTest, AskerLetGoWhileItsQuestionIsShownLivesUntilTheAnswer) {
    ReleaseDuringQuestion state;
    ASSERT_EQ(installer_->get_Asker(&state.asker), S_OK);
    g_releaseDuringQuestion = &state;
    SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR timer, DWORD) {
        HWND dialog = test::FindShownWindow(L"#32770", L"Install question");
        if (!dialog)
            return;
        KillTimer(nullptr, timer);
        g_releaseDuringQuestion->asker->Release();
        g_releaseDuringQuestion->shownAfterRelease = IsWindow(dialog) && IsWindowVisible(dialog);
        test::ClickButton(dialog, IDYES);
    });
    com::UniqueBstr caption(SysAllocString(L"Install question")), text(SysAllocString(L"Replace the file?"));
    LONG yes = -1;
    EXPECT_EQ(state.asker->AskUser(caption.Get(), text.Get(), &yes), S_OK);
    EXPECT_TRUE(state.shownAfterRelease);
    EXPECT_EQ(yes, 1);
    g_releaseDuringQuestion = nullptr;
}

// Signals when a hub file operation has ended.
class DoneListener : public com::ComObject<DoneListener, IZvFileOperationCallback> {
  public:
    DoneListener() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR error, LONG) override {
        if (error && *error)
            ++errors;
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    HANDLE Done() const { return done_.Get(); }
    int errors = 0;

  private:
    com::UniqueHandle done_;
};

// The default install of a package of 50 files (8 MiB in all) against the hub's own copy of the
// same 50 files in one operation. One untimed round of each pays the process's one-time costs;
// then the two alternate and the median round of each counts, so that the machine's other load,
// which comes and goes, falls on both sides alike.
TEST_F(CapLinkerTest, DefaultInstallBenchmark) {
    const int kFiles = 50;
    const int kRounds = 9;
    const size_t kFileSize = 8 * 1024 * 1024 / kFiles;
    CreateDirectoryA((root_ + "\\pc").c_str(), nullptr);
    CreateDirectoryA(Device("Raw").c_str(), nullptr);
    std::vector<std::string> sources, targets;
    std::vector<std::pair<std::string, std::string>> items;
    uint32_t seed = 12345;
    for (int i = 0; i < kFiles; ++i) {
        std::string bytes(kFileSize, '\0');
        for (char& c : bytes) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 24);
        }
        const std::string name = "f" + std::to_string(i) + ".bin";
        sources.push_back(root_ + "\\pc\\" + name);
        targets.push_back("Dev1\\Raw\\" + name);
        std::ofstream(sources.back(), std::ios::binary) << bytes;
        items.emplace_back(name, sources.back());
    }
    const std::string packagePath = root_ + "\\big.cap";
    SavePackage(packagePath, items);
    ASSERT_FALSE(HasFatalFailure());

    std::vector<LPSTR> sourceList, targetList;
    for (int i = 0; i < kFiles; ++i) {
        sourceList.push_back(sources[i].data());
        targetList.push_back(targets[i].data());
    }
    auto rawCopy = [&] {
        com::ComPtr<DoneListener> listener;
        EXPECT_EQ(com::MakeComObject(listener), S_OK);
        const double start = test::BenchmarkClock();
        EXPECT_EQ(served_.Hub()->CopyFileItems(kFiles, MAX_PATH, sourceList.data(), targetList.data(),
                                               listener.Get()),
                  S_OK);
        const bool done = WaitWithMessagePump(listener->Done(), 120000);
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_TRUE(done);
        EXPECT_EQ(listener->errors, 0);
        return done && listener->errors == 0 ? seconds : -1;
    };
    auto install = [&] {
        served_.Hub()->AnswerBrowse("Dev1\\Apps");
        const double start = test::BenchmarkClock();
        const HRESULT hr = OpenWhile(packagePath);
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_EQ(hr, S_OK);
        return hr == S_OK ? seconds : -1;
    };
    // What the install costs besides unpacking: loading the package, and a copier's run over the
    // same files where they lie on the PC (its progress window, the guards, the copy).
    com::UniqueBstr packageFile = com::AnsiToUniqueBstr(packagePath);
    auto load = [&] {
        com::ComPtr<ICapArchive> archive;
        com::ComPtr<ICapPackage> loaded;
        const double start = test::BenchmarkClock();
        HRESULT hr = CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                                      reinterpret_cast<void**>(&archive));
        if (SUCCEEDED(hr))
            hr = archive->Load(packageFile.Get(), &loaded);
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_EQ(hr, S_OK);
        return hr == S_OK ? seconds : -1;
    };
    auto copierRun = [&] {
        com::ComPtr<IZvCAPCopier> copier;
        EXPECT_EQ(installer_->get_Copier(&copier), S_OK);
        for (int i = 0; i < kFiles; ++i) {
            com::UniqueBstr name = com::AnsiToUniqueBstr(items[i].first),
                            file = com::AnsiToUniqueBstr(sources[i]);
            copier->AddFile(name.Get(), file.Get());
        }
        com::UniqueBstr folder(SysAllocString(L"Dev1\\Apps"));
        copier->put_ZelvanFolder(folder.Get());
        LONG result = -1;
        const double start = test::BenchmarkClock();
        const HRESULT hr = copier->Run(&result);
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_EQ(hr, S_OK);
        return hr == S_OK ? seconds : -1;
    };
    // What the copier's progress window costs by itself: made from the language library, shown,
    // brought to the front, painted and destroyed, as every run does with it.
    auto window = [&] {
        const double start = test::BenchmarkClock();
        HWND dialog = CreateDialogParamW(
            language_, MAKEINTRESOURCEW(IDD_CAP_COPY), nullptr,
            [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG; }, 0);
        if (dialog) {
            SendDlgItemMessageW(dialog, IDC_CAP_OVERALL_PROGRESS, PBM_SETRANGE32, 0, kFiles);
            ShowWindow(dialog, SW_SHOWNORMAL);
            SetForegroundWindow(dialog);
            UpdateWindow(dialog);
            DestroyWindow(dialog);
        }
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_NE(dialog, nullptr);
        return dialog ? seconds : -1;
    };
    // What writing the package's files to temporary files costs by itself, their deletion included.
    std::vector<std::vector<uint8_t>> contents;
    for (const std::string& source : sources) {
        const std::string bytes = ReadWholeFile(source);
        contents.emplace_back(bytes.begin(), bytes.end());
    }
    auto staging = [&] {
        std::vector<std::vector<uint8_t>> handed = contents;
        const double start = test::BenchmarkClock();
        HRESULT hr = S_OK;
        {
            FileStager stager(L"CAP");
            for (std::vector<uint8_t>& data : handed)
                if (SUCCEEDED(hr))
                    hr = stager.Add({}, std::move(data));
            if (SUCCEEDED(hr))
                hr = stager.WaitWritten(handed.size() - 1);
        }
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_EQ(hr, S_OK);
        return hr == S_OK ? seconds : -1;
    };
    ASSERT_GE(rawCopy(), 0);
    ASSERT_GE(install(), 0);
    const std::vector<std::vector<double>> times =
        test::TimesOfRounds(kRounds, rawCopy, install, load, copierRun, window, staging);
    ASSERT_EQ(times.size(), 6u);
    const double raw = test::Median(times[0]), installed = test::Median(times[1]),
                 loading = test::Median(times[2]), copying = test::Median(times[3]),
                 windowing = test::Median(times[4]), writing = test::Median(times[5]);
    ASSERT_GT(raw, 0);
    EXPECT_EQ(ReadWholeFile(Device("Apps\\f49.bin")), ReadWholeFile(sources.back()));
    EXPECT_EQ(ReadWholeFile(Device("Raw\\f0.bin")), ReadWholeFile(sources.front()));
    std::printf("install %.0f ms, raw copy %.0f ms (median of %d rounds each)\n", installed * 1000,
                raw * 1000, kRounds);
    // What the install cannot leave out: the package's load and the progress window, besides the
    // copy; the copier's run over the files where they lie on the PC; and what writing the
    // temporary files adds while they are copied (the install beyond the load and that run),
    // against what that writing takes alone.
    std::printf("floor: package load %.2f + progress window %.2f + raw copy 1 = %.2f of the raw copy; "
                "copier's run over PC files %.2f; writing the temporary files adds %.2f while they are "
                "copied (%.2f alone)\n",
                loading / raw, windowing / raw, 1 + (loading + windowing) / raw, copying / raw,
                (installed - loading - copying) / raw, writing / raw);
    std::printf("benchmark cap_default_install: %s\n",
                tv::bench::RatioText(tv::bench::RatioOfRounds(times[1], times[0]), "<= 1.3").c_str());
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    com::ComApartment apartment;
    return RUN_ALL_TESTS();
}
