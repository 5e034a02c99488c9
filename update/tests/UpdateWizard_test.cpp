// The update wizard driven as a script drives it: every page shown and kept as a screenshot, the
// buttons pressed as a user would, the file pages' space and commit, the device page, the progress
// page with its auto-progress and shortened texts, and the calls without a wizard.
#include "UpdateTestSupport.h"

#include "ComPtr.h"
#include "Handles.h"
#include "RefusedDialogs.h"
#include "UiHarness.h"
#include "UpdateIds.h"
#include "ZvUpdate15.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <tuple>
#include <vector>

namespace tv::update::test {
namespace {

com::UniqueBstr Bstr(const wchar_t* text) {
    return com::UniqueBstr(SysAllocString(text));
}

HWND FindWizard() {
    return tv::test::WaitForWindow(nullptr, L"Zelvan update", 5000);
}

// The control of a page (pages are child dialogs of the wizard).
HWND FindControl(HWND wizard, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        wizard,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(child) == s->id && IsWindowVisible(GetParent(child))) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring TextOf(HWND control) {
    wchar_t text[512] = {};
    GetWindowTextW(control, text, 512);
    return text;
}

// Presses a wizard button a little later, while the caller waits in WaitButtons (whose wait
// dispatches this thread's timer).
HWND pressTarget = nullptr;
int pressButton = 0;
void PressLater(HWND wizard, int button, UINT delayMs) {
    pressTarget = wizard;
    pressButton = button;
    SetTimer(nullptr, 0, delayMs, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        PostMessageW(pressTarget, WM_COMMAND, pressButton, 0);
    });
}

class WizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvUpdate15UI, nullptr, CLSCTX_INPROC_SERVER, IID_IZvUpdate15UI3,
                                                  reinterpret_cast<void**>(ui_.ReleaseAndGetAddressOf())));
    }
    void TearDown() override {
        if (ui_)
            ui_->DestroyUpdateDialog();
        ui_.Reset();
        CoUninitialize();
    }
    HWND Create() {
        EXPECT_EQ(ui_->CreateUpdateDialog(1), S_OK);
        auto title = Bstr(L"Zelvan update");
        ui_->SetUpdateDialogTitle(title.Get());
        return FindWizard();
    }
    void Shot(const wchar_t* name) {
        // The wizard's thread paints what changed before the screen is read.
        // The wizard's thread paints what changed; the screen is read once two looks agree.
        if (HWND wizard = FindWizard())
            RedrawWindow(wizard, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
        std::vector<uint8_t> last = tv::test::CaptureScreen(0, 0, width, height);
        tv::test::PollUntil(
            [&] {
                std::vector<uint8_t> now = tv::test::CaptureScreen(0, 0, width, height);
                const bool settled = now == last;
                last = std::move(now);
                return settled;
            },
            3000);
        const std::wstring path = ShotFolder() + L"\\" + name + L".bmp";
        EXPECT_TRUE(tv::test::SaveScreenshot(path));
        std::wprintf(L"screenshot: %ls\n", path.c_str());
    }

    com::ComPtr<IZvUpdate15UI3> ui_;
};

TEST_F(WizardTest, WithoutAWizardThePageMembersAbort) {
    long value = 0;
    EXPECT_EQ(ui_->get_ZUP01_FreeSpace(&value), E_ABORT);
    auto text = Bstr(L"x");
    EXPECT_EQ(ui_->ZUP03_SetText(text.Get()), E_ABORT);
    tagZvUpdate15Button button;
    EXPECT_EQ(ui_->GetPressedButton(&button), E_ABORT);
    EXPECT_EQ(ui_->GetPressedButton(nullptr), E_POINTER);
    EXPECT_EQ(ui_->SetPageData(static_cast<tagZvUpdate15Page>(8)), E_FAIL);
    EXPECT_EQ(ui_->SetPageData(ZUP_00), S_OK);
    BSTR version = nullptr;
    EXPECT_EQ(ui_->GetComponentVersion(&version), S_OK);
    EXPECT_STREQ(version, L"1.23");
    SysFreeString(version);
    EXPECT_EQ(ui_->DestroyUpdateDialog(), S_OK);
}

TEST_F(WizardTest, CreateUpdateDialogFailsWhenTheWizardWindowCannotBeMade) {
    HRESULT hr = S_OK;
    {
        tv::test::RefusedDialogs refused;
        hr = ui_->CreateUpdateDialog(1);
    }
    EXPECT_EQ(hr, E_FAIL);
    tagZvUpdate15Button button;
    EXPECT_EQ(ui_->GetPressedButton(&button), E_ABORT);
    // Once windows can be made again, so can the wizard.
    EXPECT_EQ(ui_->CreateUpdateDialog(0), S_OK);
    EXPECT_EQ(ui_->GetPressedButton(&button), S_OK);
    EXPECT_EQ(ui_->DestroyUpdateDialog(), S_OK);
}

TEST_F(WizardTest, LevelPageButtonsAndCancel) {
    HWND wizard = Create();
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(ui_->CreateUpdateDialog(1), E_ABORT); // the wizard stays as it is
    auto header = Bstr(L"Choose how much of the system to update");
    auto sub = Bstr(L"The device keeps its files at the lower levels.");
    ui_->SetUpdateDialogText(header.Get());
    ui_->SetUpdateDialogSubtext(sub.Get());
    const wchar_t* names[] = {L"System only", L"System and applications", L"Everything"};
    for (int level = 1; level <= 3; ++level) {
        auto name = Bstr(names[level - 1]);
        auto description = Bstr(L"What this level installs on the device.");
        ui_->ZUP00_SetUpdateLevelName(static_cast<tagZvUpdate15Level>(level), name.Get());
        ui_->ZUP00_SetUpdateLevelDescription(static_cast<tagZvUpdate15Level>(level), description.Get());
    }
    ui_->put_ZUP00_RecommendedUpdateLevel(ZUL_TWO);

    tagZvUpdate15Button pressed = ZUB_DIMENSION;
    EXPECT_EQ(ui_->WaitButtons(100, &pressed), S_OK);
    EXPECT_EQ(pressed, ZUB_UNKNOWN); // nothing pressed yet

    ASSERT_EQ(ui_->ShowPage(ZUP_00, 1), S_OK);
    HWND third = FindControl(wizard, IDC_LEVEL_RADIO3);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(TextOf(FindControl(wizard, IDC_LEVEL_RADIO2)), L"System and applications (recommended)");
    Shot(L"page-level");
    ASSERT_TRUE(tv::test::ClickButton(GetParent(third), IDC_LEVEL_RADIO3));
    EXPECT_TRUE(tv::test::PollUntil([&] { return SendMessageW(third, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000));
    EXPECT_EQ(SendMessageW(FindControl(wizard, IDC_LEVEL_RADIO1), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    PressLater(wizard, IDC_WIZARD_NEXT, 200);
    EXPECT_EQ(ui_->WaitButtons(10000, &pressed), S_OK);
    EXPECT_EQ(pressed, ZUB_NEXT);
    ui_->ShowPage(ZUP_00, 0);
    tagZvUpdate15Level level = ZUL_UNKNOWN;
    EXPECT_EQ(ui_->get_ZUP00_UpdateLevel(&level), S_OK);
    EXPECT_EQ(level, ZUL_THREE); // committed from the radio buttons when the page was hidden

    // The user's Cancel: reported, the three buttons disabled, the wizard still there.
    PressLater(wizard, IDCANCEL, 100);
    EXPECT_EQ(ui_->WaitButtons(10000, &pressed), S_OK);
    EXPECT_EQ(pressed, ZUB_CANCEL);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wizard, IDC_WIZARD_NEXT)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wizard, IDCANCEL)));
    EXPECT_TRUE(IsWindow(wizard));
    auto next = Bstr(L"&Next >");
    ui_->ConfigButton(ZUB_NEXT, next.Get(), 1, 1, 2);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wizard, IDC_WIZARD_NEXT)));
    ui_->SetUpdateDialogLabel(ZULABEL_WARNING);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(wizard, IDC_WIZARD_LABEL_WARNING)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(wizard, IDC_WIZARD_LABEL_NORMAL)));
    Shot(L"wizard-cancelled");
}

// The wizard ends while WaitButtons waits: a call served by the wait's message loop destroys it
// (as a script's event handler may), and the handles it held are taken again by new events. The
// wait holds a handle of its own to the button event, which the wizard's OK has signalled, so it
// ends at once instead of waiting on whatever the wizard's handle value names now.
IZvUpdate15UI3* destroyedDuringWait = nullptr;
std::vector<HANDLE> takenHandles;
TEST_F(WizardTest, WaitButtonsOutlivesAWizardEndedDuringTheWait) {
    ASSERT_NE(Create(), nullptr);
    destroyedDuringWait = ui_.Get();
    SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        destroyedDuringWait->DestroyUpdateDialog();
        for (int i = 0; i < 64; ++i)
            takenHandles.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    });
    tagZvUpdate15Button pressed = ZUB_DIMENSION;
    const DWORD started = GetTickCount();
    EXPECT_EQ(ui_->WaitButtons(8000, &pressed), E_ABORT); // no wizard left to ask
    EXPECT_LT(GetTickCount() - started, 4000u);
    EXPECT_EQ(takenHandles.size(), 64u);
    for (HANDLE handle : takenHandles)
        CloseHandle(handle);
    takenHandles.clear();
}

TEST_F(WizardTest, FilePagesWeighSpaceAndCommitTheirLists) {
    HWND wizard = Create();
    ASSERT_NE(wizard, nullptr);
    auto text = Bstr(L"Choose the files to install.");
    ui_->ZUP01_SetText(text.Get());
    ui_->put_ZUP01_FreeSpace(3000000);
    ui_->put_ZUP01_TotalSpace(8000000);
    auto os = Bstr(L"zvos.bin");
    auto app = Bstr(L"mail.cap");
    auto skip = Bstr(L"games.cap");
    auto description = Bstr(L"The operating system");
    ui_->ZUP01_AddUpdateFile(os.Get(), 2500000, 1, description.Get());
    ui_->ZUP01_AddUpdateFile(app.Get(), 300000, 1, description.Get());
    ui_->ZUP01_AddUpdateFile(skip.Get(), 200000, 0, description.Get());
    ui_->ZUP01_AddDeviceFile(os.Get(), 2000000, 0, description.Get());
    ui_->ZUP01_AddDeviceFile(skip.Get(), 100000, 0, description.Get());
    long required = 0;
    ui_->get_ZUP01_RequiredSpace(&required);
    EXPECT_EQ(required, 2500000 - 2000000 + 300000);

    // The page holds the wizard while it is shown: a file larger than the space disables Next
    // and paints both space texts red.
    ASSERT_EQ(ui_->ShowPage(ZUP_01, 1), S_OK);
    PressLater(wizard, IDC_WIZARD_NEXT, 300);
    ui_->SelectUpdateFiles(); // shows, hands the wizard, waits for Next, hides and commits
    long count = 0;
    ui_->ZUP01_GetUpdateFilesCount(&count);
    EXPECT_EQ(count, 2);
    ui_->ZUP01_GetToDeleteFilesCount(&count);
    EXPECT_EQ(count, 1);
    BSTR name = nullptr;
    EXPECT_EQ(ui_->ZUP01_GetToDeleteFileName(0, &name), S_OK);
    EXPECT_STREQ(name, L"zvos.bin");
    SysFreeString(name);
    EXPECT_EQ(ui_->ZUP01_GetToDeleteFileName(1, &name), E_INVALIDARG);

    // The advanced page: application names first, the file name third.
    auto appName = Bstr(L"Mail");
    auto bigName = Bstr(L"Big package");
    auto big = Bstr(L"big.cap");
    ui_->put_ZUP06_FreeSpace(1000000);
    ui_->ZUP06_AddUpdateFile(appName.Get(), description.Get(), app.Get(), 300000, 1);
    ui_->ZUP06_AddDeviceFile(app.Get(), 300000);
    ui_->ZUP06_AddUpdateFile(bigName.Get(), description.Get(), big.Get(), 5000000, 1);
    ui_->ShowPage(ZUP_06, 1);
    PressLater(wizard, IDC_WIZARD_BACK, 600);
    ui_->AdvancedSelectUpdateFiles();
    ui_->ShowPage(ZUP_06, 1); // shown again for the picture: Next is disabled, the texts red
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wizard, IDC_WIZARD_NEXT)));
    Shot(L"page-advanced-files");
    ui_->ZUP06_GetToDeleteFilesCount(&count);
    EXPECT_EQ(count, 0); // a package is never offset, so its device file is not deleted
    ui_->ZUP06_GetUpdateFileName(0, &name);
    EXPECT_STREQ(name, L"mail.cap"); // the file name, not the application name
    SysFreeString(name);
    ui_->ShowPage(ZUP_06, 0);
    ui_->ShowPage(ZUP_01, 1);
    Shot(L"page-files");
    ui_->ShowPage(ZUP_01, 0);
}

TEST_F(WizardTest, ProgressPageCountsAndShortensItsTexts) {
    HWND wizard = Create();
    ASSERT_NE(wizard, nullptr);
    ui_->ShowPage(ZUP_02, 1);
    ui_->put_ZUP02_ProgressRange(200);
    ui_->put_ZUP02_ProgressPosition(500); // clipped to the range
    long position = 0;
    ui_->get_ZUP02_ProgressPosition(&position);
    EXPECT_EQ(position, 200);
    EXPECT_EQ(TextOf(FindControl(wizard, IDC_PROGRESS_PERCENT)), L"100%");
    ui_->put_ZUP02_ProgressPosition(50);
    EXPECT_EQ(TextOf(FindControl(wizard, IDC_PROGRESS_PERCENT)), L"25%");

    auto path = Bstr(L"Copying C:\\Program Files\\Zelvan\\Update\\System Pack 5\\Applications for the device\\"
                     L"Communication\\Mail and messages\\Received\\mail.cap");
    ui_->ZUP02_SetProgressText(path.Get());
    const std::wstring shown = TextOf(FindControl(wizard, IDC_PROGRESS_TEXT));
    EXPECT_EQ(shown.rfind(L"Copying C:...", 0), 0u) << shown;
    EXPECT_NE(shown.find(L"\\mail.cap"), std::wstring::npos) << shown;
    // A text with nothing left to shorten is shown as it can be (this used to hang).
    auto tight = Bstr(L"C:\\a-very-long-file-name-that-does-not-fit-the-progress-text-at-all-not-even-close.cap");
    ui_->ZUP02_SetProgressText(tight.Get());

    ui_->ZUP02_EnableProgressEx(1);
    ui_->put_ZUP02_ProgressPositionEx(70);
    EXPECT_TRUE(IsWindowVisible(FindControl(wizard, IDC_PROGRESS_BAR_EX)));
    ui_->ZUP02_ShowAnimate(ZUANIMATE_FILE_15_COPY);
    ui_->ZUP02_AutoProgressStart(1000, 10);
    EXPECT_TRUE(tv::test::PollUntil(
        [&] {
            ui_->get_ZUP02_ProgressPosition(&position);
            return position >= 5;
        },
        5000));
    Shot(L"page-progress");
    EXPECT_TRUE(tv::test::PollUntil(
        [&] {
            ui_->get_ZUP02_ProgressPosition(&position);
            return position == 10;
        },
        5000));
    ui_->ZUP02_AutoProgressStop();
    ui_->ZUP02_HideAnimate();
    ui_->ShowPage(ZUP_02, 0);
}

TEST_F(WizardTest, DeviceMessageAndFinishPages) {
    HWND wizard = Create();
    ASSERT_NE(wizard, nullptr);
    auto text = Bstr(L"Choose the device to update.");
    ui_->ZUP04_SetText(text.Get());
    for (auto [n, v, id] : {std::tuple{L"Office", L"5.2", L"@OFF0001"}, std::tuple{L"Field", L"4.9", L"@FLD0002"}}) {
        auto name = Bstr(n);
        auto version = Bstr(v);
        auto zvId = Bstr(id);
        auto description = Bstr(L"Zelvan 1.5 handheld");
        ui_->ZUP04_AddDeviceInformation(name.Get(), version.Get(), zvId.Get(), description.Get());
    }
    auto unknown = Bstr(L"The device is not in the list");
    ui_->ZUP04_ConfigUnknownDeviceButton(unknown.Get(), 1, 1, 7);
    auto field = Bstr(L"@FLD0002");
    ui_->put_ZUP04_SelectedDeviceZvID(field.Get());
    PressLater(wizard, IDC_WIZARD_NEXT, 300);
    BSTR chosen = nullptr;
    EXPECT_EQ(ui_->SelectDevice(&chosen), S_OK);
    EXPECT_STREQ(chosen, L"@FLD0002");
    SysFreeString(chosen);
    ui_->ShowPage(ZUP_04, 1);
    Shot(L"page-devices");
    ui_->put_ZUP04_UnknownDevice(1);
    EXPECT_FALSE(IsWindowEnabled(FindControl(wizard, IDC_DEVICES_LIST)));
    ui_->ShowPage(ZUP_04, 0);

    auto message = Bstr(L"Connect the device in its loader mode, then press Next.");
    auto buttonText = Bstr(L"Press Next to continue.");
    ui_->ZUP03_SetText(message.Get());
    ui_->ZUP03_SetButtonText(buttonText.Get());
    ui_->ShowPage(ZUP_03, 1);
    EXPECT_EQ(TextOf(FindControl(wizard, IDC_MESSAGE_TEXT)), L"Connect the device in its loader mode, then press Next.");
    Shot(L"page-message");
    ui_->ShowPage(ZUP_03, 0);

    auto done = Bstr(L"The device was updated.");
    auto sunken = Bstr(L"System pack 5.2.1");
    auto finish = Bstr(L"Press Finish to close the wizard.");
    ui_->ZUP05_SetText(done.Get());
    ui_->ZUP05_SetSunkenText(sunken.Get());
    ui_->ZUP05_SetButtonText(finish.Get());
    ui_->ShowPage(ZUP_05, 1);
    Shot(L"page-finish");
    ui_->ShowPage(ZUP_05, 0);
    EXPECT_EQ(ui_->DestroyUpdateDialog(), S_OK);
    EXPECT_FALSE(IsWindow(wizard));
    long value = 0;
    EXPECT_EQ(ui_->get_ZUP04_UnknownDevice(&value), E_ABORT);
}

// The wizard as an update script runs it: the message page asks for the loader, the progress
// page animates while the loader sends the image, the finish page reports the result.
TEST_F(WizardTest, AWholeUpdateOfTheEmulatedDeviceThroughTheWizard) {
    REQUIRE_UPDATE_EMULATOR();
    com::ComPtr<IZvUpdate152> loader;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvUpdate15, nullptr, CLSCTX_INPROC_SERVER, IID_IZvUpdate152,
                                              reinterpret_cast<void**>(loader.ReleaseAndGetAddressOf())));
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-wizard.img", 1536 * 1024 + 3, crc);
    HWND wizard = Create();
    ASSERT_NE(wizard, nullptr);

    auto message = Bstr(L"Connect the device in its loader mode, then press Next.");
    ui_->ZUP03_SetText(message.Get());
    ui_->ShowPage(ZUP_03, 1);
    ASSERT_TRUE(SharedEmulator().PlugLoader("5.3.0"));
    PressLater(wizard, IDC_WIZARD_NEXT, 200);
    tagZvUpdate15Button pressed = ZUB_UNKNOWN;
    EXPECT_EQ(ui_->WaitButtons(10000, &pressed), S_OK);
    EXPECT_EQ(pressed, ZUB_NEXT);
    ui_->ShowPage(ZUP_03, 0);

    auto sending = Bstr(L"Loading the operating system into the device...");
    ui_->ZUP02_SetProgressText(sending.Get());
    ui_->ShowPage(ZUP_02, 1);
    ui_->ZUP02_ShowAnimate(ZUANIMATE_FILE_15_COPY);
    ui_->ZUP02_AutoProgressStart(4000, 20);
    ASSERT_HRESULT_SUCCEEDED(loader->put_Timeout(30000));
    com::UniqueBstr name(SysAllocString(image.c_str()));
    long code = -1;
    EXPECT_EQ(loader->LoadZvOS(name.Get(), 0, 10000, &code), S_OK);
    EXPECT_EQ(code, 0);
    Shot(L"update-progress");
    EXPECT_EQ(loader->WaitForLoadZvOS(20000, &code), S_OK);
    EXPECT_EQ(code, 0);
    ui_->ZUP02_AutoProgressStop();
    ui_->ZUP02_HideAnimate();
    long position = 0;
    ui_->get_ZUP02_ProgressPosition(&position);
    EXPECT_EQ(position, 20);
    ui_->ShowPage(ZUP_02, 0);

    auto done = Bstr(L"The device was updated.");
    ui_->ZUP05_SetText(done.Get());
    ui_->ShowPage(ZUP_05, 1);
    Shot(L"update-finished");
    ui_->ShowPage(ZUP_05, 0);

    char expected[96];
    std::snprintf(expected, sizeof expected, "slot=4 length=%u crc=%08X accepted=%u booted=1,5.3.0", 1536u * 1024 + 3,
                  crc, 1536u * 1024 + 3);
    const auto images = SharedEmulator().Images();
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images.back(), expected);
    EXPECT_TRUE(WaitForInterface(false, 0, true, 5000)); // the booted device is back
    SharedEmulator().UnplugAll();
}

} // namespace
} // namespace tv::update::test
