// The backup wizard as a user drives it: the manager's BackupDevice, RestoreDevice and Run over a
// hub served in this test program, with the folder-backed test devices. The user acts from a
// thread of its own; screenshots of the pages land beside the test program.
#include "AnsiText.h"
#include "BackupIds.h"
#include "CapArchive.h"
#include "HubIds.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include "WizardUser.h"
#include "ZvBackupMgr.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <atomic>
#include <thread>

using namespace tv;
using tv::test::WizardUser;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Bits of the device's flag word.

class BackupWizardTest : public testing::Test {
protected:
    com::ComApartment apartment_;
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "tvbackupwizard" + std::to_string(GetCurrentProcessId());
        for (const char* folder : {"", "\\devices", "\\devices\\Dev1", "\\devices\\Dev1\\Docs"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        std::ofstream(root_ + "\\devices\\Dev1\\Docs\\a.txt", std::ios::binary) << "alpha";
        std::ofstream(root_ + "\\devices\\Dev1\\song.mp3", std::ios::binary) << std::string(50000, 's');
        // The sets of this run go to a folder of their own below the documents folder.
        folderName_ = "tvbackupsets" + std::to_string(GetCurrentProcessId());
        RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\Common", "BackupFolder", REG_SZ,
                        folderName_.c_str(), static_cast<DWORD>(folderName_.size() + 1));
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDev1", "BackupFlags");
        char documents[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, documents);
        sets_ = std::string(documents) + "\\" + folderName_;
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackupMgrDisp),
                                   reinterpret_cast<void**>(&manager_)),
                  S_OK);
    }
    void TearDown() override {
        manager_.Reset();
        served_.Stop();
        test::DeleteTree(com::FromAnsi(root_));
        test::DeleteTree(com::FromAnsi(sets_));
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\Common", "BackupFolder");
    }

    // Calls `call` on this thread (which serves the hub meanwhile) while `user` acts.
    HRESULT WhileUserActs(std::function<HRESULT()> call, std::function<void()> user) {
        std::thread acting(std::move(user));
        const HRESULT hr = call();
        acting.join();
        return hr;
    }

    std::string Device(const std::string& path) const { return root_ + "\\devices\\Dev1\\" + path; }

    std::string root_, sets_, folderName_;
    test::ServedHub served_;
    com::ComPtr<IZvBackupMgrDisp> manager_;
};

void Shot(const wchar_t* name) { test::SaveScreenshot(test::ExeFolder() + L"\\" + name); }

TEST_F(BackupWizardTest, ABackupAndARestoreThroughTheWizard) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    bool sawProgress = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->BackupDevice(device.Get()); },
                            [&] {
                                WizardUser user;
                                ASSERT_TRUE(user.Find());
                                ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE));
                                user.Press(PSBTN_NEXT);
                                HWND classes = user.WaitForPageWith(IDC_BACKUP_APPS);
                                ASSERT_TRUE(classes);
                                for (int id : {IDC_BACKUP_APPS, IDC_BACKUP_MUSIC, IDC_BACKUP_OTHER, IDC_BACKUP_SYSTEM})
                                    user.Check(classes, id, true);
                                user.Press(PSBTN_NEXT);
                                HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_NAME);
                                ASSERT_TRUE(sets);
                                EXPECT_NE(user.Text(sets, IDC_BACKUP_SET_NAME).find("Dev1_"), std::string::npos);
                                SetDlgItemTextA(sets, IDC_BACKUP_SET_NAME, "  first set ");
                                Shot(L"backup_wizard_sets.bmp");
                                user.Press(PSBTN_NEXT);
                                sawProgress = user.WaitForPageWith(IDC_BACKUP_BAR) != nullptr;
                                EXPECT_TRUE(user.WaitForFinish());
                                Shot(L"backup_wizard_done.bmp");
                                user.Press(PSBTN_FINISH);
                            }),
              S_OK);
    EXPECT_TRUE(sawProgress);
    ASSERT_TRUE(Exists(sets_ + "\\first set.zbk"));

    // Change the device, then restore the set through the wizard.
    std::ofstream(Device("Docs\\a.txt"), std::ios::binary) << "changed";
    DeleteFileA(Device("song.mp3").c_str());
    EXPECT_EQ(WhileUserActs([&] { return manager_->RestoreDevice(device.Get()); },
                            [&] {
                                WizardUser user;
                                ASSERT_TRUE(user.Find());
                                user.Press(PSBTN_NEXT);
                                HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_LIST);
                                ASSERT_TRUE(sets);
                                EXPECT_FALSE(IsWindowVisible(GetDlgItem(sets, IDC_BACKUP_SET_NAME)));
                                EXPECT_EQ(SendDlgItemMessageA(sets, IDC_BACKUP_SET_LIST, LB_GETCOUNT, 0, 0), 1);
                                user.Press(PSBTN_NEXT);
                                HWND classes = user.WaitForPageWith(IDC_BACKUP_APPS);
                                ASSERT_TRUE(classes);
                                // The set holds no application, so its box is off.
                                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(classes, IDC_BACKUP_APPS)));
                                EXPECT_TRUE(IsWindowEnabled(GetDlgItem(classes, IDC_BACKUP_MUSIC)));
                                user.Press(PSBTN_NEXT);
                                ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_BAR));
                                EXPECT_TRUE(user.WaitForFinish());
                                Shot(L"restore_wizard_done.bmp");
                                user.Press(PSBTN_FINISH);
                            }),
              S_OK);
    EXPECT_EQ(ReadFile(Device("Docs\\a.txt")), "alpha");
    EXPECT_EQ(ReadFile(Device("song.mp3")), std::string(50000, 's'));
    EXPECT_EQ(served_.BusyUI(), 0);
}

TEST_F(BackupWizardTest, BadNamesAreRefusedAndASecondRunOpensNothing) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    com::ComPtr<IZvBackupMgr> runner;
    ASSERT_EQ(manager_->QueryInterface(__uuidof(IZvBackupMgr), reinterpret_cast<void**>(&runner)), S_OK);
    ASSERT_EQ(runner->Run(device.Get()), S_OK);
    WizardUser user;
    std::string refusal;
    std::atomic<bool> acted{false};
    std::thread acting([&] {
        struct Done {
            std::atomic<bool>& flag;
            ~Done() { flag = true; }
        } done{acted};
        ASSERT_TRUE(user.Find());
        user.Press(PSBTN_NEXT);
        HWND choice = user.WaitForPageWith(IDC_BACKUP_CHOOSE_BACKUP);
        ASSERT_TRUE(choice);
        EXPECT_EQ(IsDlgButtonChecked(choice, IDC_BACKUP_CHOOSE_BACKUP), BST_CHECKED);
        user.Press(PSBTN_NEXT);
        HWND sets = user.ChooseOtherFilesAndName("a|b");
        ASSERT_TRUE(sets);
        HWND box = test::WaitForWindow(L"#32770", L"Backup and restore", 10000);
        ASSERT_TRUE(box);
        char text[512] = {};
        // The box's text control: 0xFFFF on Windows, 100 under Wine.
        if (!GetDlgItemTextA(box, 0xFFFF, text, sizeof(text)))
            GetDlgItemTextA(box, 100, text, sizeof(text));
        refusal = text;
        Shot(L"backup_wizard_bad_name.bmp");
        test::ClickButton(box, IDOK);
        EXPECT_TRUE(test::WaitForWindowGone(box, 10000));
        EXPECT_EQ(user.Page(), sets); // the page stays
        PostMessageW(user.Sheet(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    });
    // A second run while the wizard is open starts nothing.
    test::PollUntil([&] { return user.Sheet() != nullptr; }, 20000);
    EXPECT_EQ(runner->Run(device.Get()), S_FALSE);
    EXPECT_TRUE(test::PollUntil([&] { return acted.load(); }, 60000));
    acting.join();
    EXPECT_TRUE(test::PollUntil([&] { return !IsWindow(user.Sheet()) && served_.BusyUI() == 0; }, 20000));
    EXPECT_NE(refusal.find("cannot hold"), std::string::npos) << refusal;
}

// Answers the connect-time offer whose caption is `caption`: OK or Cancel, with or without
// "do not offer again". Empty when no offer came.
std::function<void()> AnswerOffer(const wchar_t* caption, int button, bool silence, bool& seen) {
    return [=, &seen] {
        HWND offer = test::WaitForWindow(L"#32770", caption, 20000);
        seen = offer != nullptr;
        if (!offer)
            return;
        Shot(L"backup_offer.bmp");
        if (silence)
            SendDlgItemMessageW(offer, IDC_BACKUP_NO_BACKUP_OFFER, BM_SETCHECK, BST_CHECKED, 0);
        test::ClickButton(offer, button);
    };
}

// A set holding nothing but the mark of the device it was made from.
bool SaveMarkedSet(const std::string& path, const std::string& deviceId) {
    com::ComPtr<ICapArchive> archive;
    com::ComPtr<ICapPackage> package;
    com::ComPtr<ICapFileItem> mark;
    if (FAILED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                                reinterpret_cast<void**>(&archive))) ||
        FAILED(CoCreateInstance(CLSID_CapPackage, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapPackage),
                                reinterpret_cast<void**>(&package))) ||
        FAILED(CoCreateInstance(CLSID_CapFileItem, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapFileItem),
                                reinterpret_cast<void**>(&mark))))
        return false;
    com::UniqueBstr name = com::AnsiToUniqueBstr(deviceId);
    com::UniqueBstr file = com::AnsiToUniqueBstr(path);
    return SUCCEEDED(mark->put_Name(name.Get())) && SUCCEEDED(package->Add(mark.Get())) &&
           archive->Save(file.Get(), package.Get()) == S_OK;
}

DWORD StoredFlags() {
    DWORD flags = 0, size = sizeof(flags);
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDev1", "BackupFlags",
                 RRF_RT_REG_DWORD, nullptr, &flags, &size);
    return flags;
}

TEST_F(BackupWizardTest, CheckDeviceOffersABackupUntilToldNotTo) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    // No set yet: a backup is offered; "do not offer again" is kept.
    bool seen = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->CheckDevice(device.Get()); },
                            AnswerOffer(L"Back up Dev1", IDCANCEL, true, seen)),
              S_OK);
    EXPECT_TRUE(seen);
    EXPECT_EQ(StoredFlags() & 0x10, 0x10u);
    EXPECT_EQ(manager_->HasBackups(device.Get()), S_FALSE);

    // A set of the device: found by HasBackups. The folder device has no volumes, so no marker
    // can be missing and no restore is offered; the backup offer is silenced.
    CreateDirectoryA(sets_.c_str(), nullptr);
    ASSERT_TRUE(SaveMarkedSet(sets_ + "\\kept.zbk", "@TDDev1"));
    ASSERT_TRUE(SaveMarkedSet(sets_ + "\\other.zbk", "@TDDev9"));
    EXPECT_EQ(manager_->HasBackups(device.Get()), S_OK);
    com::UniqueBstr other = com::AnsiToUniqueBstr("@TDDev8");
    EXPECT_EQ(manager_->HasBackups(other.Get()), S_FALSE);
    seen = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->CheckDevice(device.Get()); },
                            [&] {
                                // Only a dialog of this process counts: other tests run beside this one.
                                HWND offer = nullptr;
                                test::PollUntil(
                                    [&] {
                                        for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
                                             w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
                                            DWORD process = 0;
                                            GetWindowThreadProcessId(w, &process);
                                            if (process == GetCurrentProcessId() && IsWindowVisible(w))
                                                offer = w;
                                        }
                                        return offer != nullptr;
                                    },
                                    3000);
                                seen = offer != nullptr;
                                if (offer)
                                    test::ClickButton(offer, IDCANCEL);
                            }),
              S_OK);
    EXPECT_FALSE(seen);

    EXPECT_EQ(served_.BusyUI(), 0);
}

TEST_F(BackupWizardTest, TheBackupOfferTakenOpensTheWizardThatBacksUp) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    bool seen = false, finished = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->CheckDevice(device.Get()); },
                            [&] {
                                AnswerOffer(L"Back up Dev1", IDOK, false, seen)();
                                if (!seen)
                                    return;
                                WizardUser user;
                                ASSERT_TRUE(user.Find());
                                ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE));
                                user.Press(PSBTN_NEXT);
                                HWND sets = user.ChooseOtherFilesAndName("offered set");
                                ASSERT_TRUE(sets);
                                ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_BAR));
                                finished = user.WaitForFinish();
                                user.Press(finished ? PSBTN_FINISH : PSBTN_CANCEL);
                            }),
              S_OK);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(Exists(sets_ + "\\offered set.zbk"));
    EXPECT_EQ(StoredFlags() & 0x10, 0u);
    EXPECT_EQ(served_.BusyUI(), 0);
}

// The wizard's buttons (the property sheet's own control ids).
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;

HMODULE BackupLanguage() {
    return LoadLanguageLibrary(GetModuleHandleA("ZvBackupMgr.dll"));
}

TEST_F(BackupWizardTest, ARestoreWithoutASetOfTheDeviceOffersOnlyBack) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    CreateDirectoryA(sets_.c_str(), nullptr);
    ASSERT_TRUE(SaveMarkedSet(sets_ + "\\other.zbk", "@TDDev9"));
    std::string line;
    bool listEnabled = true, nextEnabled = true, backEnabled = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->RestoreDevice(device.Get()); },
                            [&] {
                                WizardUser user;
                                ASSERT_TRUE(user.Find());
                                user.Press(PSBTN_NEXT);
                                HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_LIST);
                                ASSERT_TRUE(sets);
                                test::PollUntil([&] { return !user.ButtonEnabled(kNextButton); }, 5000);
                                char text[512] = {};
                                SendDlgItemMessageA(sets, IDC_BACKUP_SET_LIST, LB_GETTEXT, 0,
                                                    reinterpret_cast<LPARAM>(text));
                                line = text;
                                listEnabled = IsWindowEnabled(GetDlgItem(sets, IDC_BACKUP_SET_LIST));
                                nextEnabled = user.ButtonEnabled(kNextButton);
                                backEnabled = user.ButtonEnabled(kBackButton);
                                Shot(L"restore_wizard_no_set.bmp");
                                user.Press(PSBTN_CANCEL);
                            }),
              S_OK);
    EXPECT_EQ(line, LoadLanguageString(BackupLanguage(), IDS_BACKUP_NO_SETS));
    EXPECT_FALSE(listEnabled);
    EXPECT_FALSE(nextEnabled);
    EXPECT_TRUE(backEnabled);
    EXPECT_EQ(served_.BusyUI(), 0);
}

// Answers the next message box whose caption is string `captionId` with `button`; its text,
// empty when none came.
std::string AnswerBox(UINT captionId, int button) {
    const std::string caption = LoadLanguageString(BackupLanguage(), captionId);
    HWND box = test::WaitForWindow(L"#32770", com::FromAnsi(caption).c_str(), 10000);
    if (!box)
        return {};
    char text[512] = {};
    if (!GetDlgItemTextA(box, 0xFFFF, text, sizeof(text)))
        GetDlgItemTextA(box, 100, text, sizeof(text));
    test::ClickButton(box, button);
    test::WaitForWindowGone(box, 10000);
    return text;
}

// Answers the question about replacing a set with `button`; its text, empty when none came.
std::string AnswerReplace(int button) {
    return AnswerBox(IDS_BACKUP_OVERWRITE_CAPTION, button);
}

// Closes the next note of the manager (its question caption); its text, empty when none came.
std::string CloseNote() {
    return AnswerBox(IDS_BACKUP_QUESTION_CAPTION, IDOK);
}

// A second Run starts nothing: while the wizard is open it comes to the front; once its window
// has gone and its thread still ends, a note says so.
TEST_F(BackupWizardTest, ASecondRunShowsTheOpenWizardOrSaysTheLastOneIsEnding) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    com::ComPtr<IZvBackupMgr> runner;
    ASSERT_EQ(manager_->QueryInterface(__uuidof(IZvBackupMgr), reinterpret_cast<void**>(&runner)), S_OK);
    ASSERT_EQ(runner->Run(device.Get()), S_OK);
    WizardUser user;
    ASSERT_TRUE(user.Find());
    ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE));
    // Another window of the program is in front, as the tray's would be.
    com::UniqueWindow other(CreateWindowExW(0, L"STATIC", L"in front", WS_POPUP | WS_VISIBLE, 10, 10, 200,
                                            100, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(other);
    SetForegroundWindow(other.Get());
    ASSERT_TRUE(test::PollUntil([&] { return GetForegroundWindow() == other.Get(); }, 5000));
    EXPECT_EQ(runner->Run(device.Get()), S_FALSE);
    EXPECT_TRUE(test::PollUntil([&] { return GetForegroundWindow() == user.Sheet(); }, 5000));

    // The wizard's thread clears the hub's busy mark after its window has gone; while it waits
    // for that call, the user asks again.
    HRESULT again = E_UNEXPECTED;
    std::string note;
    bool sheetGone = false, asked = false;
    served_.Hub()->BeforeBusyClears([&] {
        sheetGone = !IsWindow(user.Sheet());
        std::thread reading([&] { note = CloseNote(); });
        again = runner->Run(device.Get());
        reading.join();
        asked = true;
    });
    user.Press(PSBTN_CANCEL);
    EXPECT_TRUE(test::PollUntil([&] { return asked && served_.BusyUI() == 0; }, 30000));
    served_.Hub()->BeforeBusyClears(nullptr);
    EXPECT_TRUE(sheetGone);
    EXPECT_EQ(again, S_FALSE);
    EXPECT_EQ(note, LoadLanguageString(BackupLanguage(), IDS_BACKUP_STILL_ENDING));
}

TEST_F(BackupWizardTest, AWizardThatFindsTheHubBusySaysSo) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    served_.Hub()->put_BusyUI(1L); // busy without a window of its own
    std::string note;
    EXPECT_EQ(
        WhileUserActs([&] { return manager_->BackupDevice(device.Get()); }, [&] { note = CloseNote(); }),
        S_OK);
    EXPECT_EQ(note, LoadLanguageString(BackupLanguage(), IDS_BACKUP_HUB_BUSY));
    EXPECT_EQ(served_.BusyUI(), 1); // the other's mark stays
    served_.Hub()->put_BusyUI(0L);
}

TEST_F(BackupWizardTest, ABackupUnderAnExistingSetNameAsksBeforeReplacingIt) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    CreateDirectoryA(sets_.c_str(), nullptr);
    ASSERT_TRUE(SaveMarkedSet(sets_ + "\\kept.zbk", "@TDDev1"));
    ASSERT_TRUE(SaveMarkedSet(sets_ + "\\foreign.zbk", "@TDDev9"));
    std::string ownQuestion, foreignQuestion, replaceQuestion;
    bool stayed = false;
    EXPECT_EQ(WhileUserActs([&] { return manager_->BackupDevice(device.Get()); },
                            [&] {
                                WizardUser user;
                                ASSERT_TRUE(user.Find());
                                user.Press(PSBTN_NEXT);
                                HWND sets = user.ChooseOtherFilesAndName("foreign");
                                ASSERT_TRUE(sets);
                                foreignQuestion = AnswerReplace(IDNO);
                                SetDlgItemTextA(sets, IDC_BACKUP_SET_NAME, "kept");
                                user.Press(PSBTN_NEXT);
                                ownQuestion = AnswerReplace(IDNO);
                                stayed = user.Page() == sets;
                                user.Press(PSBTN_NEXT);
                                replaceQuestion = AnswerReplace(IDYES);
                                ASSERT_TRUE(user.WaitForPageWith(IDC_BACKUP_BAR));
                                EXPECT_TRUE(user.WaitForFinish());
                                user.Press(PSBTN_FINISH);
                            }),
              S_OK);
    const std::string foreignNote = LoadLanguageString(BackupLanguage(), IDS_BACKUP_OVERWRITE_FOREIGN);
    EXPECT_NE(foreignQuestion.find(foreignNote), std::string::npos) << foreignQuestion;
    EXPECT_FALSE(ownQuestion.empty());
    EXPECT_EQ(ownQuestion.find(foreignNote), std::string::npos) << ownQuestion;
    EXPECT_TRUE(stayed);
    EXPECT_EQ(replaceQuestion, ownQuestion);
    // The set was replaced by the new backup, which holds the device's file.
    com::ComPtr<ICapArchive> archive;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    com::UniqueBstr path = com::AnsiToUniqueBstr(sets_ + "\\kept.zbk");
    com::UniqueBstr file = com::AnsiToUniqueBstr("Docs\\a.txt");
    EXPECT_EQ(archive->Has(path.Get(), file.Get(), 2), S_OK);
    EXPECT_EQ(served_.BusyUI(), 0);
}

TEST_F(BackupWizardTest, CheckDeviceFailsWhenTheHubListsNothing) {
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    served_.Hub()->AnswerItemsWithNothing();
    EXPECT_TRUE(FAILED(manager_->CheckDevice(device.Get())));
    EXPECT_EQ(served_.BusyUI(), 0);
}

// Replaces the module's import of `function` from `library`; the address it had, or null when
// the module imports no such function.
void* PatchImport(HMODULE module, const char* library, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), library) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(void*), protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

// The wizard's page creation as the test lets it happen: the third page cannot be made.
using CreatePage = HPROPSHEETPAGE(WINAPI*)(LPCPROPSHEETPAGEA);
using DestroyPage = BOOL(WINAPI*)(HPROPSHEETPAGE);
CreatePage realCreatePage = nullptr;
DestroyPage realDestroyPage = nullptr;
std::atomic<int> pagesMade{0};
std::atomic<int> pagesDestroyed{0};

HPROPSHEETPAGE WINAPI CreatePageButTheThird(LPCPROPSHEETPAGEA page) {
    if (pagesMade == 2)
        return nullptr;
    HPROPSHEETPAGE made = realCreatePage(page);
    if (made)
        ++pagesMade;
    return made;
}

BOOL WINAPI CountedDestroyPage(HPROPSHEETPAGE page) {
    ++pagesDestroyed;
    return realDestroyPage(page);
}

TEST_F(BackupWizardTest, PagesMadeBeforeAPageFailsAreDestroyed) {
    HMODULE module = GetModuleHandleA("ZvBackupMgr.dll");
    ASSERT_TRUE(module);
    realCreatePage = reinterpret_cast<CreatePage>(PatchImport(
        module, "comctl32.dll", "CreatePropertySheetPageA", reinterpret_cast<void*>(&CreatePageButTheThird)));
    ASSERT_TRUE(realCreatePage);
    realDestroyPage = reinterpret_cast<DestroyPage>(PatchImport(
        module, "comctl32.dll", "DestroyPropertySheetPage", reinterpret_cast<void*>(&CountedDestroyPage)));
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    EXPECT_EQ(manager_->BackupDevice(device.Get()), S_OK);
    PatchImport(module, "comctl32.dll", "CreatePropertySheetPageA", reinterpret_cast<void*>(realCreatePage));
    if (realDestroyPage)
        PatchImport(module, "comctl32.dll", "DestroyPropertySheetPage",
                    reinterpret_cast<void*>(realDestroyPage));
    EXPECT_EQ(pagesMade, 2);
    EXPECT_EQ(pagesDestroyed, 2);
    EXPECT_EQ(served_.BusyUI(), 0);
}

} // namespace
