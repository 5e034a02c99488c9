// The contacts and tasks synchronizers in the running program against an emulated 1.0 device and
// the stand-in desktop mail application, run by devlink10/tests/zvl10_e2e.sh after its other
// phases: the device answers on COM4 under the name Preset10 and its media are the sub-folders of
// "<prefix>/device-root" (its default medium is "default"). Sessions are started from the tray:
// new records cross both ways and a conflict is settled in the dialog; a second session changes
// nothing; a missing task list fails only the tasks; an application too old is not offered.
#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "SyncMgrIds.h"
#include "SyncRecords.h"
#include "TestSynchronizersOnly.h"
#include "UiHarness.h"
#include "ZelvanMgr.h"
#include "ZvSyncCT10.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace tv::e2e {
namespace {

using com::ComPtr;
using ::pimsync::ZvContactRecord;
using ::pimsync::ZvOrganizerFile;
using ::pimsync::ZvPhonebookFile;
using ::pimsync::ZvTaskRecord;

constexpr UINT kSynchronizeCommand = 0x4400; // the tray's synchronize command of the first device
constexpr DWORD kSessionTimeoutMs = 90000;
const char kName[] = "Preset10";
const char kStrId[] = "@ZV10E2E";
const char kScheduleKey[] = "Software\\Zelvan\\Tavrilon\\ZvSyncMgr";
const char kTestDeviceKey[] = "Software\\Zelvan\\Tavrilon\\TestDevice";
const char kMailAppKey[] = "Software\\Zelvan\\TavrilonTests\\MailApp";
const char kCurVerKey[] = "Software\\Classes\\Outlook.Application\\CurVer";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string ClsidText(REFCLSID clsid) {
    wchar_t wide[40] = {};
    StringFromGUID2(clsid, wide, 40);
    return com::TerminatedToAnsi(wide);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The rows of the session dialog: "name: state" lines.
std::string RowsOf(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SYNC_LIST);
    std::string rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        rows += com::TerminatedToAnsi(test::ListViewItemText(list, i, 0).c_str()) + ": " +
                com::TerminatedToAnsi(test::ListViewItemText(list, i, 1).c_str()) + "\n";
    return rows;
}

bool Final(const std::string& rows, const std::string& name) {
    const size_t at = rows.find(name + ": ");
    if (at == std::string::npos)
        return false;
    const std::string state = rows.substr(at + name.size() + 2, 12);
    return state.rfind("Synchronized", 0) == 0 || state.rfind("Error", 0) == 0 || state.rfind("Stopped", 0) == 0;
}

class PimSync10EndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const char* prefix = std::getenv("WINEPREFIX");
        if (!prefix)
            return;
        root_ = std::string("Z:") + prefix + "\\device-root";
        std::replace(root_.begin(), root_.end(), '/', '\\');
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        const std::string noTestDevices = std::string(temp) + "tvpimsync10-none";
        CreateDirectoryA(noTestDevices.c_str(), nullptr);
        SetUserString(kTestDeviceKey, "Root", noTestDevices);
        SetUserNumber("Software\\Zelvan\\Tavrilon", "TvOptions", 3);
        SetUserString(kRegistration, "Name", kName);
        SetUserNumber(kRegistration, "IsGuest", 0);
        SetUserNumber(kRegistration, "DisconnectionAlert", 0);
        SetUserNumber(kRegistration, "ConflictResolution", 1);
        // Only the two synchronizers of this phase are offered and scheduled for the device.
        only_ = std::make_unique<tests::SynchronizersOnly>(
            std::initializer_list<CLSID>{CLSID_ZvSyncContacts10, CLSID_ZvSyncTasks10});
        RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
        SetUserString(kScheduleKey, ClsidText(CLSID_ZvSyncContacts10).c_str(), std::string(kStrId) + ";");
        SetUserString(kScheduleKey, ClsidText(CLSID_ZvSyncTasks10).c_str(), std::string(kStrId) + ";");
        StoreScript(L"DeviceEvents", nullptr);
        fixture_ = std::string(temp) + "tvpimsync10-fixture.txt";
        dump_ = std::string(temp) + "tvpimsync10-dump.txt";
        SetUserString(kMailAppKey, "Fixture", fixture_);
        SetUserString(kMailAppKey, "Dump", dump_);
        SetUserString(kMailAppKey, "Fail", "");
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog())
            EXPECT_EQ(program_.Exit(), 0);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kMailAppKey);
        only_.reset();
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_FALSE(root_.empty()) << "no WINEPREFIX: run by devlink10/tests/zvl10_e2e.sh";
        if (!program_.MainDialog()) {
            ComPtr<IZelvanMgr> hub = ConnectHub();
            ASSERT_TRUE(hub);
            ASSERT_TRUE(program_.Attach(30000));
            // The factory probes the serial ports in rounds 5 s apart.
            ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 40000));
        }
    }

    std::string DeviceFile(const char* name) const { return root_ + "\\default\\" + name; }

    // One session from the tray; `answer` presses a button of each conflict dialog that comes.
    // The session dialog's rows at its end.
    std::string Session(int answer = 0, const char* shot = nullptr) {
        PostMessageW(program_.MainDialog(), WM_COMMAND, kSynchronizeCommand, 0);
        const std::wstring title = L"Synchronizing " + com::FromAnsi(kName) + L" <" + com::FromAnsi(kStrId) + L">";
        HWND dialog = test::WaitForWindow(nullptr, title.c_str(), kSessionTimeoutMs);
        EXPECT_TRUE(dialog);
        if (!dialog)
            return "<no session>";
        HWND start = GetDlgItem(dialog, IDC_SYNC_START);
        test::ClickButton(dialog, IDC_SYNC_START);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(start); }, kSessionTimeoutMs));
        std::string rows;
        EXPECT_TRUE(WaitUntil(
            [&] {
                if (answer != 0) {
                    if (HWND conflict = test::FindShownWindow(L"#32770", L"Contact changed on both sides")) {
                        if (shot)
                            test::SaveScreenshot(OutputFolder() + L"\\" + com::FromAnsi(shot));
                        test::ClickButton(conflict, answer);
                        ++conflictsAnswered_;
                        test::WaitForWindowGone(conflict, 10000);
                    }
                }
                rows = RowsOf(dialog);
                return Final(rows, "Contacts (Zelvan 1.0)") && Final(rows, "Tasks (Zelvan 1.0)");
            },
            kSessionTimeoutMs))
            << rows;
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(start) != FALSE; }, kSessionTimeoutMs));
        rows = RowsOf(dialog);
        test::ClickButton(dialog, IDC_SYNC_CLOSE);
        EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
        return rows;
    }
    // The next session's application starts from what the last one saved.
    void CarryAppState() const {
        const std::string dump = ReadAll(dump_);
        if (!dump.empty())
            std::ofstream(fixture_, std::ios::binary | std::ios::trunc) << dump;
    }

    static std::string root_, fixture_, dump_;
    static ComStartedProgram program_;
    static std::unique_ptr<tests::SynchronizersOnly> only_;
    int conflictsAnswered_ = 0;
};
std::string PimSync10EndToEnd::root_;
std::string PimSync10EndToEnd::fixture_;
std::string PimSync10EndToEnd::dump_;
ComStartedProgram PimSync10EndToEnd::program_;
std::unique_ptr<tests::SynchronizersOnly> PimSync10EndToEnd::only_;

ZvContactRecord Contact(const char* last, const char* first, const char* phone) {
    ZvContactRecord record(1);
    record.s3 = last;
    record.s4 = first;
    record.s5 = phone;
    return record;
}

TEST_F(PimSync10EndToEnd, RecordsCrossBothWaysAConflictIsSettledAndASecondSessionChangesNothing) {
    ZvPhonebookFile phonebook(1);
    phonebook.Append(Contact("Device", "Only", "111").Clone());
    phonebook.Append(Contact("Both", "Changed", "device-phone").Clone());
    ASSERT_TRUE(phonebook.WriteFile(DeviceFile("phonebook.dat")));
    ZvOrganizerFile organizer;
    ZvTaskRecord task;
    task.text = "Device task";
    task.priority = 2;
    organizer.Append(task.Clone());
    ASSERT_TRUE(organizer.WriteFile(DeviceFile("organizer.dat")));
    std::ofstream(fixture_, std::ios::binary | std::ios::trunc)
        << "contact\tLastName=Both\tFirstName=Changed\tPhone=pc-phone\n"
           "contact\tLastName=Pc\tFirstName=Only\tPhone=222\n"
           "task\tSubject=Pc task\tImportance=0\n";
    DeleteFileA(dump_.c_str());

    // The computer's version of the changed contact is kept.
    const std::string rows = Session(14101, "pimsync10-conflict-dialog.bmp");
    EXPECT_EQ(conflictsAnswered_, 1);
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_NE(rows.find("Tasks (Zelvan 1.0): Synchronized"), std::string::npos) << rows;

    ZvPhonebookFile contacts;
    ASSERT_TRUE(contacts.ReadFile(DeviceFile("phonebook.dat")));
    ASSERT_EQ(contacts.Count(), 3u);
    EXPECT_EQ(static_cast<const ZvContactRecord&>(contacts.At(1)).s5, "pc-phone");
    EXPECT_EQ(static_cast<const ZvContactRecord&>(contacts.At(2)).s3, "Pc");
    ZvOrganizerFile tasks;
    ASSERT_TRUE(tasks.ReadFile(DeviceFile("organizer.dat")));
    ASSERT_EQ(tasks.Count(), 2u);
    EXPECT_EQ(static_cast<const ZvTaskRecord&>(tasks.At(1)).text, "Pc task");
    const std::string app = ReadAll(dump_);
    EXPECT_NE(app.find("LastName=Device"), std::string::npos) << app;
    EXPECT_NE(app.find("Subject=Device task"), std::string::npos) << app;

    // Nothing left: no item saved, both device files as they were.
    CarryAppState();
    DeleteFileA(dump_.c_str());
    const std::string phonebookBefore = ReadAll(DeviceFile("phonebook.dat"));
    const std::string organizerBefore = ReadAll(DeviceFile("organizer.dat"));
    const std::string again = Session(14100);
    EXPECT_EQ(conflictsAnswered_, 1) << "a second session asked again";
    EXPECT_NE(again.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << again;
    EXPECT_NE(again.find("Tasks (Zelvan 1.0): Synchronized"), std::string::npos) << again;
    EXPECT_EQ(ReadAll(DeviceFile("phonebook.dat")), phonebookBefore);
    EXPECT_EQ(ReadAll(DeviceFile("organizer.dat")), organizerBefore);
    EXPECT_EQ(ReadAll(dump_), "");
}

TEST_F(PimSync10EndToEnd, AMissingTaskListFailsOnlyTheTasks) {
    DeleteFileA(DeviceFile("organizer.dat").c_str());
    const std::string rows = Session();
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_NE(rows.find("Tasks (Zelvan 1.0): Error"), std::string::npos) << rows;
    EXPECT_EQ(GetFileAttributesA(DeviceFile("organizer.dat").c_str()), INVALID_FILE_ATTRIBUTES)
        << "nothing was written in its place";
}

TEST_F(PimSync10EndToEnd, AnApplicationTooOldIsNotOffered) {
    char saved[256] = {};
    LONG size = sizeof(saved);
    ASSERT_EQ(RegQueryValueA(HKEY_LOCAL_MACHINE, kCurVerKey, saved, &size), ERROR_SUCCESS);
    const std::string old = "Outlook.Application.8";
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kCurVerKey, nullptr, REG_SZ, old.c_str(), static_cast<DWORD>(old.size() + 1));
    PostMessageW(program_.MainDialog(), WM_COMMAND, kSynchronizeCommand, 0);
    const std::wstring title = L"Synchronizing " + com::FromAnsi(kName) + L" <" + com::FromAnsi(kStrId) + L">";
    HWND dialog = test::WaitForWindow(nullptr, title.c_str(), kSessionTimeoutMs);
    ASSERT_TRUE(dialog);
    const std::string rows = RowsOf(dialog);
    test::ClickButton(dialog, IDC_SYNC_CLOSE);
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kCurVerKey, nullptr, REG_SZ, saved, static_cast<DWORD>(strlen(saved) + 1));
    EXPECT_EQ(rows.find("Contacts (Zelvan 1.0)"), std::string::npos) << rows;
    EXPECT_EQ(rows.find("Tasks (Zelvan 1.0)"), std::string::npos) << rows;
}

} // namespace
} // namespace tv::e2e
