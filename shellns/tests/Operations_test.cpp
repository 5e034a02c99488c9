// Copies, moves and deletions through the folder's data objects, drop targets and operations,
// each checked on the device's files; the shell's own file copy is the foreign consumer of our
// data objects' PC file lists.
#include "ClipboardFolder.h"
#include "DataObject.h"
#include "DropTarget.h"
#include "FileOps.h"
#include "NsTestSupport.h"
#include "Progress.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include "UiHarness.h"
#include <cstdio>
#include <thread>

using namespace tv;
using namespace tv::shellns;
using namespace tv::shellns::test;

namespace {

class OperationsTest : public NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        owner_ = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        WriteFile(root_ + "\\pc\\up1.txt", "first upload");
        WriteFile(root_ + "\\pc\\up2.txt", "second upload");
    }
    void TearDown() override {
        DestroyWindow(owner_);
        NamespaceTest::TearDown();
    }

    com::ComPtr<ZvDataObject> Data(DataKind kind, const std::string& folder, std::vector<std::string> items) {
        com::ComPtr<ZvDataObject> data;
        EXPECT_EQ(S_OK, com::MakeComObject(data, kind, folder, std::move(items), owner_, nullptr));
        return data;
    }

    com::ComPtr<IDropTarget> Target(const std::string& path) {
        com::ComPtr<IDropTarget> target;
        EXPECT_EQ(S_OK, CreateDropTarget(AcquireGlobals(), path, IID_PPV_ARGS(&target)));
        return target;
    }

    HRESULT DropOn(const std::string& path, IDataObject* data, DWORD* effect) {
        POINTL point{0, 0};
        *effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        HRESULT hr = Target(path)->Drop(data, MK_LBUTTON, point, effect);
        EXPECT_TRUE(WaitForDropThreads(60000));
        return hr;
    }

    // The PC file list a consumer gets from a data object (empty when it gets none).
    static std::vector<std::string> PcFiles(IDataObject* data) {
        FORMATETC files{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (data->GetData(&files, &medium) != S_OK)
            return {};
        std::vector<std::string> names = DropFileNames(static_cast<HDROP>(medium.hGlobal));
        ReleaseStgMedium(&medium);
        return names;
    }

    // The shell's own data object for PC files (Wine's file-system folder).
    com::ComPtr<IDataObject> PcData(const std::vector<std::string>& names) {
        com::ComPtr<IShellFolder> desktop, folder;
        EXPECT_EQ(S_OK, SHGetDesktopFolder(&desktop));
        std::wstring path = com::FromAnsi(root_ + "\\pc");
        PIDLIST_RELATIVE pidl = nullptr;
        EXPECT_EQ(S_OK, desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &pidl, nullptr));
        UniquePidl owned(pidl);
        EXPECT_EQ(S_OK, desktop->BindToObject(pidl, nullptr, IID_PPV_ARGS(&folder)));
        std::vector<UniquePidl> children;
        std::vector<PCUITEMID_CHILD> raw;
        for (const std::string& name : names) {
            std::wstring wide = com::FromAnsi(name);
            PIDLIST_RELATIVE child = nullptr;
            EXPECT_EQ(S_OK, folder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &child, nullptr));
            children.emplace_back(child);
            raw.push_back(reinterpret_cast<PCUITEMID_CHILD>(child));
        }
        com::ComPtr<IDataObject> data;
        EXPECT_EQ(S_OK, folder->GetUIObjectOf(nullptr, static_cast<UINT>(raw.size()), raw.data(), IID_IDataObject,
                                              nullptr, reinterpret_cast<void**>(&data)));
        return data;
    }

    // Closes the copy window once it shows errors (it stays open for the user then); the
    // errors it showed.
    std::thread CloseErrorWindow(std::string* errors) {
        return std::thread([errors] {
            tv::test::PollUntil(
                [errors] {
                    HWND window = tv::test::FindShownWindow(L"#32770", L"Copying...");
                    if (!window || !IsWindowVisible(GetDlgItem(window, IDC_NS_CLOSE)))
                        return false;
                    char text[1024] = {};
                    GetDlgItemTextA(window, IDC_NS_ERRORS, text, sizeof(text));
                    *errors = text;
                    tv::test::ClickButton(window, IDC_NS_CLOSE);
                    return true;
                },
                30000);
        });
    }

    HWND owner_ = nullptr;
};

TEST_F(OperationsTest, PcFilesDroppedOnADeviceFolderAreUploadedAndTheDropCopies) {
    com::ComPtr<IDataObject> files = PcData({"up1.txt", "up2.txt"});
    ASSERT_TRUE(files);
    DWORD effect = 0;
    EXPECT_EQ(S_OK, DropOn("Dev1\\Other", files.Get(), &effect));
    EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_COPY), effect);
    EXPECT_EQ("first upload", ReadFile(DevicePc("Dev1\\Other\\up1.txt")));
    EXPECT_EQ("second upload", ReadFile(DevicePc("Dev1\\Other\\up2.txt")));
    EXPECT_TRUE(Exists(root_ + "\\pc\\up1.txt"));
}

TEST_F(OperationsTest, DropsOnTheRootADeviceOrTheSameFolderAreRefused) {
    com::ComPtr<IDataObject> files = PcData({"up1.txt"});
    DWORD effect = 0;
    EXPECT_EQ(S_OK, DropOn("", files.Get(), &effect));
    EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_NONE), effect);
    EXPECT_EQ(E_UNEXPECTED, DropOn("Dev1", files.Get(), &effect));
    EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_NONE), effect);
    auto same = Data(DataKind::Copy, "Dev1\\Main", {"Dev1\\Main\\a.txt"});
    EXPECT_EQ(E_UNEXPECTED, DropOn("Dev1\\Main", same.Get(), &effect));
}

TEST_F(OperationsTest, AFolderNeverGoesIntoItselfOrBelowItself) {
    auto data = Data(DataKind::Cut, "Dev1\\Main", {"Dev1\\Main\\Sub"});
    DWORD effect = 0;
    EXPECT_EQ(E_UNEXPECTED, DropOn("Dev1\\Main\\Sub", data.Get(), &effect));
    CreateDirectoryA(DevicePc("Dev1\\Main\\Sub\\Deeper").c_str(), nullptr);
    EXPECT_EQ(E_UNEXPECTED, DropOn("Dev1\\Main\\Sub\\Deeper", data.Get(), &effect));
    EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_NONE), effect);
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\Sub\\c.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\Sub\\Deeper\\Sub")));
}

TEST_F(OperationsTest, ACutMovesWithinTheDeviceAndAFailedItemKeepsItsSource) {
    // A folder named like one of the files makes that file's copy fail.
    CreateDirectoryA(DevicePc("Dev1\\Other\\b.txt").c_str(), nullptr);
    auto data = Data(DataKind::Cut, "Dev1\\Main", {"Dev1\\Main\\a.txt", "Dev1\\Main\\b.txt"});
    DWORD effect = 0;
    std::string errors;
    std::thread user = CloseErrorWindow(&errors);
    EXPECT_EQ(S_OK, DropOn("Dev1\\Other", data.Get(), &effect));
    user.join();
    EXPECT_NE(std::string::npos, errors.find("b.txt")) << errors;
    EXPECT_EQ("a", ReadFile(DevicePc("Dev1\\Other\\a.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    EXPECT_EQ("bee bytes", ReadFile(DevicePc("Dev1\\Main\\b.txt")));
}

TEST_F(OperationsTest, ACopyWithinTheDeviceKeepsItsSources) {
    auto data = Data(DataKind::Copy, "Dev1\\Main", {"Dev1\\Main\\Sub"});
    DWORD effect = 0;
    EXPECT_EQ(S_OK, DropOn("Dev1\\Other", data.Get(), &effect));
    EXPECT_EQ("sea", ReadFile(DevicePc("Dev1\\Other\\Sub\\c.txt")));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\Sub\\c.txt")));
}

TEST_F(OperationsTest, OurCopyObjectGivesPcFilesThatTheShellCopiesIntoAPcFolder) {
    // A PC folder takes a foreign object's file list and copies it with the shell's file copy.
    auto data = Data(DataKind::Copy, "Dev1\\Main", {"Dev1\\Main\\a.txt", "Dev1\\Main\\b.txt"});
    std::vector<std::string> names = PcFiles(data.Get());
    ASSERT_EQ(2u, names.size());
    std::string from;
    for (const std::string& name : names)
        from += name + '\0';
    from += '\0';
    const std::string to = root_ + "\\pc" + '\0';
    SHFILEOPSTRUCTA copy{};
    copy.hwnd = owner_;
    copy.wFunc = FO_COPY;
    copy.pFrom = from.c_str();
    copy.pTo = to.c_str();
    copy.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    EXPECT_EQ(0, SHFileOperationA(&copy));
    EXPECT_EQ("bee bytes", ReadFile(root_ + "\\pc\\b.txt"));
    EXPECT_EQ("a", ReadFile(root_ + "\\pc\\a.txt"));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));
}

TEST_F(OperationsTest, TheFileListDownloadsOnceAndACutDeletesOnlyAfterThePasteIsReported) {
    auto data = Data(DataKind::Cut, "Dev1\\Main", {"Dev1\\Main\\a.txt"});
    std::vector<std::string> names = PcFiles(data.Get());
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ("a", ReadFile(names[0]));
    EXPECT_TRUE(data->Downloaded());
    // Not downloaded again: a changed device file does not show.
    WriteFile(DevicePc("Dev1\\Main\\a.txt"), "changed");
    EXPECT_EQ(names, PcFiles(data.Get()));
    EXPECT_EQ("a", ReadFile(names[0]));
    // No report of the paste yet: the device file stays.
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    FORMATETC report{Formats().pasteSucceeded, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM effect{};
    effect.tymed = TYMED_HGLOBAL;
    effect.hGlobal = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    *static_cast<DWORD*>(GlobalLock(effect.hGlobal)) = DROPEFFECT_MOVE;
    GlobalUnlock(effect.hGlobal);
    EXPECT_EQ(S_OK, data->SetData(&report, &effect, TRUE));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
}

TEST_F(OperationsTest, TheDragObjectGivesNoFilesBeforeTheDropAndNothingLeavesADevicesTopLevel) {
    auto drag = Data(DataKind::Drag, "Dev1\\Main", {"Dev1\\Main\\a.txt"});
    FORMATETC files{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    EXPECT_EQ(DV_E_FORMATETC, drag->GetData(&files, &medium));
    EXPECT_FALSE(drag->Downloaded());
    EXPECT_EQ(DRAGDROP_S_DROP, drag->QueryContinueDrag(FALSE, 0));
    EXPECT_EQ(S_OK, drag->GetData(&files, &medium));
    ReleaseStgMedium(&medium);
    auto top = Data(DataKind::Copy, "Dev1", {"Dev1\\Main"});
    EXPECT_EQ(DV_E_FORMATETC, top->QueryGetData(&files));
    EXPECT_EQ(DV_E_FORMATETC, top->GetData(&files, &medium));
}

TEST_F(OperationsTest, WithoutATemporaryFolderNothingIsDownloadedOrDeleted) {
    char saved[MAX_PATH] = {};
    GetEnvironmentVariableA("TMP", saved, sizeof(saved));
    char savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof(savedTemp));
    SetEnvironmentVariableA("TMP", "C:\\no\\such\\folder");
    SetEnvironmentVariableA("TEMP", "C:\\no\\such\\folder");
    EXPECT_EQ("", GetClipboardFolder());
    EXPECT_FALSE(ClearClipboardFolder());
    ZvDownloadOp download({"Dev1\\Main\\a.txt"});
    EXPECT_FALSE(download.Run());
    auto cut = Data(DataKind::Cut, "Dev1\\Main", {"Dev1\\Main\\a.txt"});
    FORMATETC files{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    EXPECT_EQ(DV_E_FORMATETC, cut->GetData(&files, &medium));
    SetEnvironmentVariableA("TMP", saved[0] ? saved : nullptr);
    SetEnvironmentVariableA("TEMP", savedTemp[0] ? savedTemp : nullptr);
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));
}

TEST_F(OperationsTest, ACancelInTheMiddleLeavesWholeFilesOnly) {
    for (int i = 0; i < 6; ++i)
        WriteFile(root_ + "\\pc\\many" + std::to_string(i) + ".bin", std::string(4096, static_cast<char>('a' + i)));
    LONG length = 0;
    LPSTR response = nullptr;
    ASSERT_EQ(S_OK, served_.Hub()->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 400"), &length, &response));
    CoTaskMemFree(response);
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i)
        names.push_back(root_ + "\\pc\\many" + std::to_string(i) + ".bin");
    // Cancelled once the first file has arrived, while the others are still to come.
    const std::string first = DevicePc("Dev1\\Other\\many0.bin");
    std::thread user([first] {
        HWND dialog = tv::test::WaitForWindow(L"#32770", L"Copying...", 20000);
        tv::test::PollUntil([&] { return Exists(first); }, 20000);
        if (dialog)
            tv::test::ClickButton(dialog, IDCANCEL);
    });
    ZvUploadOp upload(names, "Dev1\\Other");
    EXPECT_FALSE(upload.Run());
    user.join();
    int whole = 0;
    for (int i = 0; i < 6; ++i) {
        const std::string path = DevicePc("Dev1\\Other\\many" + std::to_string(i) + ".bin");
        if (Exists(path)) {
            EXPECT_EQ(std::string(4096, static_cast<char>('a' + i)), ReadFile(path));
            ++whole;
        }
    }
    EXPECT_LT(whole, 6);
}

TEST_F(OperationsTest, ADestinationOf260CharactersFailsThatItemOnly) {
    const std::string longName(250, 'x');
    std::string folder = "Dev1\\Other";
    ZvUploadOp upload(std::vector<std::string>{root_ + "\\pc\\up1.txt"}, folder + "\\" + longName);
    // With no item left to copy the refusal is said in a message box.
    std::string said;
    {
        tv::test::DialogAnswerer user([&](HWND box) {
            char text[1024] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            said = text;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        EXPECT_FALSE(upload.Run());
    }
    EXPECT_NE(std::string::npos, said.find(LangString(IDS_NS_PATH_TOO_LONG))) << said;
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Other\\" + longName)));
    EXPECT_EQ("Copying short.txt", ShortenInfo("Copying short.txt"));
    const std::string shortened = ShortenInfo("Copying " + std::string(80, 'y'));
    EXPECT_LE(shortened.size(), 46u);
    EXPECT_EQ(0u, shortened.find("Copying "));
}

// Where a control of a dialog lies in its client area.
RECT ClientRectOf(HWND dialog, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Text(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," + std::to_string(rect.right) +
           "," + std::to_string(rect.bottom);
}

TEST_F(OperationsTest, OnlyItemsDownloadedWholeReachThePcAndThePartialOnesAreRemoved) {
    // A file of the folder that the device cannot read while the test holds it.
    const std::string locked = DevicePc("Dev1\\Main\\Sub\\locked.txt");
    WriteFile(locked, "locked");
    com::UniqueHandle hold(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    LONG length = 0;
    LPSTR response = nullptr;
    ASSERT_EQ(S_OK, served_.Hub()->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 300"), &length,
                                           &response));
    CoTaskMemFree(response);
    auto data = Data(DataKind::Copy, "Dev1\\Main", {"Dev1\\Main\\a.txt", "Dev1\\Main\\Sub"});
    // The window while it copies and once it shows the errors.
    RECT started{}, startedItemBar{}, startedTotalBar{}, startedCancel{};
    RECT ended{}, endedErrors{}, endedClose{};
    bool cancelShownAtEnd = true;
    std::string errors;
    std::thread user([&] {
        HWND dialog = tv::test::WaitForWindow(L"#32770", L"Copying...", 20000);
        if (!dialog)
            return;
        GetClientRect(dialog, &started);
        startedItemBar = ClientRectOf(dialog, IDC_NS_ITEM_BAR);
        startedTotalBar = ClientRectOf(dialog, IDC_NS_TOTAL_BAR);
        startedCancel = ClientRectOf(dialog, IDCANCEL);
        tv::test::PollUntil(
            [&] {
                RECT client{};
                GetClientRect(dialog, &client);
                return IsWindowVisible(GetDlgItem(dialog, IDC_NS_CLOSE)) && client.bottom == 230;
            },
            30000);
        GetClientRect(dialog, &ended);
        endedErrors = ClientRectOf(dialog, IDC_NS_ERRORS);
        endedClose = ClientRectOf(dialog, IDC_NS_CLOSE);
        cancelShownAtEnd = IsWindowVisible(GetDlgItem(dialog, IDCANCEL)) != FALSE;
        char text[1024] = {};
        GetDlgItemTextA(dialog, IDC_NS_ERRORS, text, sizeof(text));
        errors = text;
        tv::test::ClickButton(dialog, IDC_NS_CLOSE);
    });
    std::vector<std::string> names = PcFiles(data.Get());
    user.join();
    hold.Reset();
    EXPECT_NE(std::string::npos, errors.find("Sub")) << errors;
    EXPECT_EQ(std::vector<std::string>{GetClipboardPathFor("a.txt")}, names);
    EXPECT_EQ("a", ReadFile(GetClipboardPathFor("a.txt")));
    EXPECT_FALSE(Exists(GetClipboardPathFor("Sub")));

    // The copy window's layout: 280 wide, as high as its bars and Cancel need, and grown to show
    // the errors and Close.
    EXPECT_EQ(280, started.right);
    EXPECT_EQ(20 + 121, started.bottom);
    EXPECT_EQ("5,70,275,80", Text(startedItemBar));
    EXPECT_EQ("5,90,275,100", Text(startedTotalBar));
    EXPECT_EQ(270, startedCancel.right);
    EXPECT_EQ(110, startedCancel.top);
    EXPECT_EQ(280, ended.right);
    EXPECT_EQ(230, ended.bottom);
    EXPECT_EQ("5,90,275,190", Text(endedErrors));
    EXPECT_EQ(270, endedClose.right);
    EXPECT_EQ(200, endedClose.top);
    EXPECT_FALSE(cancelShownAtEnd);
}

TEST_F(OperationsTest, ADeviceNameThatCannotNameAPcFileIsRefusedAndNothingIsWritten) {
    std::string errors;
    std::thread user = CloseErrorWindow(&errors);
    ZvDownloadOp download({"Dev1\\Main\\a.txt", "Dev1\\Main\\aux"});
    download.Run();
    user.join();
    EXPECT_NE(std::string::npos, errors.find("aux: " + LangString(IDS_NS_BAD_PC_NAME))) << errors;
    EXPECT_EQ(std::vector<std::string>{GetClipboardPathFor("a.txt")}, download.Results());
    EXPECT_EQ("a", ReadFile(GetClipboardPathFor("a.txt")));
}

// Ends a modal loop of `thread` that nothing else would end, so that a test fails instead of
// waiting for ever.
void EndModalLoop(DWORD thread) {
    PostThreadMessageA(thread, WM_QUIT, 0, 0);
}

void DropQuitMessage() {
    MSG message;
    PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

// The program that serves the hub dies while a download waits for a slow device: the copy
// window ends with an error, whether the user waits or presses Cancel.
TEST_F(OperationsTest, WhenTheProgramDiesDuringACopyTheWindowEndsWithAnError) {
    served_.Stop();
    for (bool pressCancel : {false, true}) {
        SCOPED_TRACE(pressCancel ? "Cancel pressed" : "waiting");
        const std::string events =
            "tvhubprocess" + std::to_string(GetCurrentProcessId()) + (pressCancel ? "c" : "w");
        com::UniqueHandle started(CreateEventA(nullptr, TRUE, FALSE, (events + "ready").c_str()));
        com::UniqueHandle withdraw(CreateEventA(nullptr, TRUE, FALSE, (events + "withdraw").c_str()));
        com::UniqueHandle withdrawn(CreateEventA(nullptr, TRUE, FALSE, (events + "withdrawn").c_str()));
        tv::test::StartedProcess program;
        ASSERT_TRUE(program.Start(L"\"" + tv::test::ExeFolder() + L"\\tvhubprocess.exe\" \"" +
                                  com::FromAnsi(root_ + "\\devices") + L"\" " + com::FromAnsi(events)));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.Get(), 30000));
        com::ComPtr<IZelvanMgr> hub;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub)));
        LONG length = 0;
        LPSTR response = nullptr;
        ASSERT_EQ(S_OK, hub->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 5000"), &length,
                                     &response));
        CoTaskMemFree(response);
        hub.Reset();
        const DWORD testThread = GetCurrentThreadId();
        std::string errors;
        bool endedByItself = false;
        std::thread user([&] {
            HWND dialog = tv::test::WaitForWindow(L"#32770", L"Copying...", 20000);
            // No later client is sent to the program that dies now.
            SetEvent(withdraw.Get());
            WaitForSingleObject(withdrawn.Get(), 10000);
            program.Terminate();
            if (dialog && pressCancel)
                tv::test::ClickButton(dialog, IDCANCEL);
            if (dialog &&
                tv::test::PollUntil(
                    [&] { return IsWindowVisible(GetDlgItem(dialog, IDC_NS_CLOSE)) != FALSE; }, 20000)) {
                char text[1024] = {};
                GetDlgItemTextA(dialog, IDC_NS_ERRORS, text, sizeof(text));
                errors = text;
                endedByItself = true;
                tv::test::ClickButton(dialog, IDC_NS_CLOSE);
            }
            if (!tv::test::WaitForWindowGone(dialog, 10000))
                EndModalLoop(testThread);
        });
        ZvDownloadOp download({"Dev1\\Main\\a.txt", "Dev1\\Main\\b.txt"});
        EXPECT_FALSE(download.Run());
        user.join();
        DropQuitMessage();
        EXPECT_TRUE(endedByItself);
        EXPECT_NE(std::string::npos, errors.find(LangString(IDS_NS_PROGRAM_GONE))) << errors;
        EXPECT_TRUE(download.Succeeded().empty());
    }
}

// The program answers but refuses the cancel, and no end of the operation ever comes: the
// window does not wait for it for ever, it ends with the error and can be closed.
TEST_F(OperationsTest, ACancelTheProgramRefusesWithoutAnEndEndsTheWindowWithAnError) {
    auto state = std::make_shared<ProgressState>();
    state->kind = ProgressKind::Copy;
    state->deviceName = "NoSuchDevice"; // the hub refuses to cancel for a device it does not know
    state->total = 100;
    ASSERT_EQ(S_OK, served_.Hub()->QueryInterface(IID_PPV_ARGS(&state->hub)));
    const DWORD testThread = GetCurrentThreadId();
    std::string errors;
    bool endedByItself = false;
    std::thread user([&] {
        HWND dialog = tv::test::WaitForWindow(L"#32770", L"Copying...", 20000);
        if (dialog)
            tv::test::ClickButton(dialog, IDCANCEL);
        if (dialog &&
            tv::test::PollUntil([&] { return IsWindowVisible(GetDlgItem(dialog, IDC_NS_CLOSE)) != FALSE; },
                                kRefusedCancelGraceMs + 10000)) {
            char text[1024] = {};
            GetDlgItemTextA(dialog, IDC_NS_ERRORS, text, sizeof(text));
            errors = text;
            endedByItself = true;
            tv::test::ClickButton(dialog, IDC_NS_CLOSE);
        }
        if (!tv::test::WaitForWindowGone(dialog, 10000))
            EndModalLoop(testThread);
    });
    EXPECT_FALSE(RunProgressDialog(state));
    user.join();
    DropQuitMessage();
    EXPECT_TRUE(endedByItself);
    EXPECT_NE(std::string::npos, errors.find(LangString(IDS_NS_PROGRAM_GONE))) << errors;
}

} // namespace
