// Backup and restore in the running program: the tray's command opens the wizard inside
// Tavrilon.exe for the device of the menu; a backup, a change on the device and a restore of the
// set; and the connect-time offer that the device-found script asks the manager for.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "HubIds.h"
#include "WizardUser.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

namespace {

using tv::com::ComPtr;
using tv::test::WizardUser;

constexpr UINT kBackUpCommand = 0x4500;

std::string BackupFolder() {
    char documents[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, documents);
    return std::string(documents) + "\\My ZvBackups";
}

void Shot(const std::wstring& name) { tv::test::SaveScreenshot(tv::e2e::OutputFolder() + L"\\" + name); }

class BackupTrayTest : public testing::Test {
protected:
    tv::com::ComApartment apartment_;
    void SetUp() override {
        tree_ = tv::e2e::MakeTestTree();
        // The sets go to the folder the program's default settings name below the documents.
        const char folder[] = "My ZvBackups";
        RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\Common", "BackupFolder", REG_SZ, folder,
                        sizeof(folder));
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDevA", "BackupFlags");
        DeleteFileA((BackupFolder() + "\\tray set.zbk").c_str());
    }
    void StartProgram() {
        ASSERT_TRUE(program_.Start());
        ASSERT_EQ(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                                   reinterpret_cast<void**>(&hub_)),
                  S_OK);
        std::vector<std::string> devices;
        ASSERT_TRUE(tv::e2e::WaitUntil([&] {
            devices = tv::e2e::ListedDevices(hub_.Get());
            return devices.size() == 2;
        }));
        index_ = static_cast<UINT>(std::find(devices.begin(), devices.end(), "DevA") - devices.begin());
    }
    void TearDown() override {
        hub_.Reset();
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        // Only once the program is gone: it writes its item store back when it ends.
        tv::e2e::StoreScript(L"DeviceEvents", nullptr);
        DeleteFileA((BackupFolder() + "\\tray set.zbk").c_str());
    }

    // The tray's back-up command for DevA, then the wizard's choice page with `restore` chosen.
    void OpenWizardAndChoose(WizardUser& user, bool restore) {
        ASSERT_TRUE(user.OpenAndFind(
            [&] { PostMessageW(program_.MainDialog(), WM_COMMAND, kBackUpCommand + index_, 0); }));
        ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE));
        user.Press(PSBTN_NEXT);
        HWND choice = user.WaitForPageWith(IDC_BACKUP_CHOOSE_RESTORE);
        ASSERT_TRUE(choice);
        if (restore)
            tv::test::ClickButton(choice, IDC_BACKUP_CHOOSE_RESTORE);
        ASSERT_TRUE(tv::e2e::WaitUntil(
            [&] { return IsDlgButtonChecked(choice, restore ? IDC_BACKUP_CHOOSE_RESTORE : IDC_BACKUP_CHOOSE_BACKUP); }));
        Shot(restore ? L"tray_restore_choice.bmp" : L"tray_backup_choice.bmp");
        user.Press(PSBTN_NEXT);
    }

    tv::e2e::TestTree tree_;
    tv::e2e::RunningProgram program_;
    ComPtr<IZelvanMgr> hub_;
    UINT index_ = 0;
};

TEST_F(BackupTrayTest, TheTrayCommandBacksUpAndRestoresTheDeviceOfTheMenu) {
    tv::com::ComApartment apartment;
    StartProgram();
    const std::string file = tree_.devices + "\\DevA\\Docs\\a.txt";
    {
        WizardUser user;
        OpenWizardAndChoose(user, false);
        HWND sets = user.ChooseOtherFilesAndName("tray set");
        ASSERT_TRUE(sets);
        ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_BAR));
        EXPECT_TRUE(user.WaitForFinish());
        Shot(L"tray_backup_done.bmp");
        user.Press(PSBTN_FINISH);
        EXPECT_TRUE(tv::test::WaitForWindowGone(user.Sheet(), 15000));
    }
    ASSERT_TRUE(tv::e2e::WaitUntil([&] { return GetFileAttributesA((BackupFolder() + "\\tray set.zbk").c_str()) !=
                                                INVALID_FILE_ATTRIBUTES; }));
    tv::e2e::WriteFile(file, "changed on the device");
    {
        WizardUser user;
        OpenWizardAndChoose(user, true);
        HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_LIST);
        ASSERT_TRUE(sets);
        EXPECT_EQ(SendDlgItemMessageA(sets, IDC_BACKUP_SET_LIST, LB_GETCOUNT, 0, 0), 1);
        user.Press(PSBTN_NEXT);
        ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_APPS));
        user.Press(PSBTN_NEXT);
        ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_BAR));
        EXPECT_TRUE(user.WaitForFinish());
        Shot(L"tray_restore_done.bmp");
        user.Press(PSBTN_FINISH);
        EXPECT_TRUE(tv::test::WaitForWindowGone(user.Sheet(), 15000));
    }
    EXPECT_EQ(tv::e2e::ReadFile(file), "device text");
    LONG busy = -1;
    EXPECT_TRUE(tv::e2e::WaitUntil([&] { return SUCCEEDED(hub_->get_BusyUI(&busy)) && busy == 0; }));
}

TEST_F(BackupTrayTest, TheDeviceFoundScriptOffersABackupAndTheAnswerIsKept) {
    tv::com::ComApartment apartment;
    ASSERT_TRUE(tv::e2e::StoreScript(
        L"DeviceEvents",
        L"function OnDeviceFound(id) { if (id == \"@TDDevA\") "
        L"new ActiveXObject(\"Tavrilon.ZvBackupMgr\").CheckDevice(id); return true; }\n"
        L"function OnDeviceLost(id) { return true; }\n"));
    std::atomic<bool> answered{false};
    std::thread user([&] {
        HWND offer = tv::test::WaitForWindow(L"#32770", L"Back up DevA", 30000);
        if (!offer)
            return;
        Shot(L"tray_backup_offer.bmp");
        SendDlgItemMessageW(offer, IDC_BACKUP_NO_BACKUP_OFFER, BM_SETCHECK, BST_CHECKED, 0);
        tv::test::ClickButton(offer, IDCANCEL);
        answered = tv::test::WaitForWindowGone(offer, 15000);
    });
    StartProgram();
    user.join();
    EXPECT_TRUE(answered);
    DWORD flags = 0, size = sizeof(flags);
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDevA", "BackupFlags",
                           RRF_RT_REG_DWORD, nullptr, &flags, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(flags & 0x10, 0x10u);
    LONG busy = -1;
    EXPECT_TRUE(tv::e2e::WaitUntil([&] { return SUCCEEDED(hub_->get_BusyUI(&busy)) && busy == 0; }));
}

TEST_F(BackupTrayTest, TheDeviceSheetsPageShowsAndStoresTheFlagWord) {
    constexpr DWORD kApplicationsBit = 0x01, kMusicBit = 0x02, kNoRestoreOfferBit = 0x20, kRemoveLibrariesBit = 0x40;
    tv::com::ComApartment apartment;
    const DWORD stored = kApplicationsBit | kNoRestoreOfferBit | kRemoveLibrariesBit;
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDevA", "BackupFlags", REG_DWORD,
                    &stored, sizeof(stored));
    StartProgram();
    char id[] = "@TDDevA";
    ASSERT_EQ(hub_->DisplayProperties(id, nullptr), S_OK);
    HWND sheet = tv::test::WaitForWindow(L"#32770", L"DevA <@TDDevA> Properties", 30000);
    ASSERT_TRUE(sheet);
    // The sheet lives in the program: its tabs are shown in turn until the backup page is.
    HWND page = tv::e2e::ShowSheetPageWith(sheet, GetDlgItem(sheet, IDC_SHEET_TABS), IDC_BACKUP_NO_RESTORE_OFFER);
    ASSERT_TRUE(page);
    Shot(L"backup_property_page.bmp");
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_BACKUP_APPS), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_BACKUP_MUSIC), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_BACKUP_NO_RESTORE_OFFER), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_BACKUP_NO_BACKUP_OFFER), BST_UNCHECKED);

    // A click makes the page dirty; OK applies the six boxes' bits and nothing else.
    tv::test::ClickButton(page, IDC_BACKUP_MUSIC);
    ASSERT_TRUE(tv::e2e::WaitUntil([&] { return IsDlgButtonChecked(page, IDC_BACKUP_MUSIC) == BST_CHECKED; }, 5000));
    tv::test::ClickButton(sheet, IDOK);
    EXPECT_TRUE(tv::test::WaitForWindowGone(sheet, 10000));
    DWORD flags = 0, size = sizeof(flags);
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDevA", "BackupFlags",
                           RRF_RT_REG_DWORD, nullptr, &flags, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(flags, kApplicationsBit | kMusicBit | kNoRestoreOfferBit);
}

} // namespace
