// The contacts and tasks synchronizers in the running program against an emulated 1.0 device and
// the stand-in desktop mail application, run by devlink10/tests/zvl10_e2e.sh after its other
// phases: the device answers on COM4 under the name Preset10 and its media are the sub-folders of
// "<prefix>/device-root" (its default medium is "default"). Sessions are started from the tray:
// new records cross both ways and a conflict is settled in the dialog; a second session changes
// nothing; records changed on one side or on both settle by each resolution and by each choice of
// the dialog; a stopped session and a device without room write nothing; a
// missing task list fails only the tasks; an application too old is not offered.
#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "PimSyncIds.h"
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
#include <vector>

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
const char kContactsRow[] = "Contacts (Zelvan 1.0)";
const char kTasksRow[] = "Tasks (Zelvan 1.0)";
const char kMailAppKey[] = "Software\\Zelvan\\TavrilonTests\\MailApp";
const char kCurVerKey[] = "Software\\Classes\\Outlook.Application\\CurVer";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class PimSync10EndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        root_ = UseOnlyDevice10("tvpimsync10", kRegistration, kName);
        if (root_.empty())
            return;
        SetUserNumber(kRegistration, "ConflictResolution", 1);
        // Only the two synchronizers of this phase are offered and scheduled for the device.
        only_ = std::make_unique<tests::SynchronizersOnly>(
            std::initializer_list<CLSID>{CLSID_ZvSyncContacts10, CLSID_ZvSyncTasks10});
        ScheduleOnly({CLSID_ZvSyncContacts10, CLSID_ZvSyncTasks10}, kStrId);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        fixture_ = std::string(temp) + "tvpimsync10-fixture.txt";
        dump_ = std::string(temp) + "tvpimsync10-dump.txt";
        SetUserString(kMailAppKey, "Fixture", fixture_);
        SetUserString(kMailAppKey, "Dump", dump_);
        SetUserString(kMailAppKey, "Fail", "");
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        ClearSchedules();
        RegDeleteTreeA(HKEY_CURRENT_USER, kMailAppKey);
        only_.reset();
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_FALSE(root_.empty()) << "no WINEPREFIX: run by devlink10/tests/zvl10_e2e.sh";
        if (!program_.MainDialog()) {
            ASSERT_TRUE(AttachWithOneDevice(program_));
        }
    }

    std::string DeviceFile(const char* name) const { return root_ + "\\default\\" + name; }

    // One session from the tray: each conflict dialog that comes is answered with the next of
    // `answers` (the device's last name of each noted in `asked_`), or Stop is pressed at once
    // when `stop`. The session dialog's rows at its end.
    std::string Session(const std::vector<int>& answers = {}, const char* shot = nullptr, bool stop = false) {
        TraySession session;
        if (!session.Start(program_.MainDialog(), kName, kStrId)) {
            ADD_FAILURE() << "no session dialog, or Start not taken";
            return "<no session>";
        }
        if (stop)
            test::ClickButton(session.Dialog(), IDC_SYNC_STOP);
        for (int answer : answers) {
            HWND conflict = nullptr;
            EXPECT_TRUE(WaitUntil(
                [&] { return (conflict = test::FindShownWindow(L"#32770", L"Contact changed on both sides")) != nullptr; },
                kSessionTimeoutMs))
                << "no conflict dialog for answer " << answer;
            if (!conflict)
                break;
            if (shot && asked_.empty())
                test::SaveScreenshot(OutputFolder() + L"\\" + com::FromAnsi(shot));
            char last[128] = {};
            GetDlgItemTextA(conflict, IDC_PIMSYNC_CONTACT_LAST_DEVICE, last, sizeof(last));
            asked_.push_back(last);
            test::ClickButton(conflict, answer);
            EXPECT_TRUE(test::WaitForWindowGone(conflict, 10000));
        }
        // The session's end: Start is enabled again only after both synchronizers ran. Stopped at
        // once, only the first of them (the tasks) ran.
        const std::string rows = session.WaitForEnd(stop ? kTasksRow : kContactsRow, kSessionTimeoutMs);
        EXPECT_EQ(rows.rfind("<no end>", 0), std::string::npos) << rows;
        EXPECT_TRUE(session.Close(kSessionTimeoutMs));
        return rows;
    }
    // The phone numbers of the device's contacts, "<last name>=<phone>;" in the file's order.
    std::string DevicePhones() const {
        ZvPhonebookFile contacts;
        if (!contacts.ReadFile(DeviceFile("phonebook.dat")))
            return "<unreadable>";
        std::string phones;
        for (size_t i = 0; i < contacts.Count(); ++i) {
            const auto& contact = static_cast<const ZvContactRecord&>(contacts.At(i));
            phones += contact.s3 + "=" + contact.s5 + ";";
        }
        return phones;
    }
    // Sets the phone of the device's contact `last`.
    void SetDevicePhone(const std::string& last, const std::string& phone) const {
        ZvPhonebookFile contacts;
        ASSERT_TRUE(contacts.ReadFile(DeviceFile("phonebook.dat")));
        for (size_t i = 0; i < contacts.Count(); ++i) {
            auto record = contacts.At(i).Clone();
            auto& contact = static_cast<ZvContactRecord&>(*record);
            if (contact.s3 != last)
                continue;
            contact.s5 = phone;
            contacts.Replace(i, std::move(record));
        }
        ASSERT_TRUE(contacts.WriteFile(DeviceFile("phonebook.dat")));
    }
    // The application's state, carried from the last session, with `from` replaced by `to`.
    void ChangeAppState(const std::string& from, const std::string& to) {
        CarryAppState();
        std::string state = ReadAll(fixture_);
        const size_t at = state.find(from);
        ASSERT_NE(at, std::string::npos) << state;
        state.replace(at, from.size(), to);
        std::ofstream(fixture_, std::ios::binary | std::ios::trunc) << state;
        DeleteFileA(dump_.c_str());
    }
    static void SetResolution(ZVSYNCRESOLUTION resolution) {
        SetUserNumber(kRegistration, "ConflictResolution", static_cast<DWORD>(resolution));
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
    std::vector<std::string> asked_;
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
    const std::string rows = Session({IDC_PIMSYNC_CONTACT_TAKE_PC}, "pimsync10-conflict-dialog.bmp");
    EXPECT_EQ(asked_, std::vector<std::string>{"Both"});
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
    const std::string again = Session();
    EXPECT_EQ(asked_.size(), 1u) << "a second session asked again";
    EXPECT_NE(again.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << again;
    EXPECT_NE(again.find("Tasks (Zelvan 1.0): Synchronized"), std::string::npos) << again;
    EXPECT_EQ(ReadAll(DeviceFile("phonebook.dat")), phonebookBefore);
    EXPECT_EQ(ReadAll(DeviceFile("organizer.dat")), organizerBefore);
    EXPECT_EQ(ReadAll(dump_), "");
}

// The synchronizer keeps no history: a record that differs on the two sides, changed on one
// side or on both, is settled by the resolution without asking: the device takes the computer's
// version, then the computer the device's.
TEST_F(PimSync10EndToEnd, ChangedRecordsSettleByTheResolution) {
    SetResolution(SSR_REPLACE_ON_DEVICE);
    SetDevicePhone("Both", "device-2");
    ChangeAppState("Phone=222", "Phone=222-pc");
    ChangeAppState("Phone=pc-phone", "Phone=pc-2");
    std::string rows = Session();
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_EQ(DevicePhones(), "Device=111;Both=pc-2;Pc=222-pc;");

    SetResolution(SSR_REPLACE_ON_COMPUTER);
    SetDevicePhone("Device", "111-device");
    SetDevicePhone("Both", "device-3");
    ChangeAppState("Phone=pc-2", "Phone=pc-3");
    rows = Session();
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_EQ(DevicePhones(), "Device=111-device;Both=device-3;Pc=222-pc;");
    const std::string app = ReadAll(dump_);
    EXPECT_NE(app.find("Phone=111-device"), std::string::npos) << app;
    EXPECT_NE(app.find("Phone=device-3"), std::string::npos) << app;
    EXPECT_EQ(app.find("Phone=pc-3"), std::string::npos) << app;
    EXPECT_TRUE(asked_.empty());
}

// Asked: the first pair takes the device's version, the second is skipped and the dialog's Cancel
// leaves the third; a session settled by the resolution then leaves both sides alike.
TEST_F(PimSync10EndToEnd, EachChoiceOfTheConflictDialogDoesWhatItSays) {
    SetResolution(SSR_MANUAL_RESOLUTION);
    SetDevicePhone("Device", "d-1");
    SetDevicePhone("Both", "d-2");
    SetDevicePhone("Pc", "d-3");
    ChangeAppState("Phone=111-device", "Phone=p-1");
    ChangeAppState("Phone=device-3", "Phone=p-2");
    ChangeAppState("Phone=222-pc", "Phone=p-3");
    std::string rows = Session({IDC_PIMSYNC_CONTACT_TAKE_DEVICE, IDC_PIMSYNC_CONTACT_SKIP, IDCANCEL});
    // In the application's order.
    EXPECT_EQ(asked_, (std::vector<std::string>{"Both", "Pc", "Device"}));
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_EQ(DevicePhones(), "Device=d-1;Both=d-2;Pc=d-3;");
    const std::string app = ReadAll(dump_);
    EXPECT_NE(app.find("Phone=d-2"), std::string::npos) << app;
    EXPECT_NE(app.find("Phone=p-3"), std::string::npos) << app;
    EXPECT_NE(app.find("Phone=p-1"), std::string::npos) << app;

    SetResolution(SSR_REPLACE_ON_DEVICE);
    CarryAppState();
    DeleteFileA(dump_.c_str());
    rows = Session();
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_EQ(DevicePhones(), "Device=p-1;Both=d-2;Pc=p-3;");
    EXPECT_EQ(asked_.size(), 3u);
}

// Stop pressed at once, then a device whose medium is full: neither writes the computer's new
// contact; it crosses once there is room.
TEST_F(PimSync10EndToEnd, AStoppedSessionAndADeviceWithoutRoomWriteNothing) {
    CarryAppState();
    std::ofstream(fixture_, std::ios::binary | std::ios::app) << "contact\tLastName=New\tFirstName=Pc\tPhone=333\n";
    DeleteFileA(dump_.c_str());
    const std::string before = ReadAll(DeviceFile("phonebook.dat"));
    std::string rows = Session({}, nullptr, true);
    EXPECT_NE(rows.find(": Stopped"), std::string::npos) << rows;
    EXPECT_EQ(ReadAll(DeviceFile("phonebook.dat")), before);

    // More than the whole medium holds.
    const std::string filler = DeviceFile("filler.bin");
    std::ofstream(filler, std::ios::binary | std::ios::trunc) << std::string(1100000, 'f');
    rows = Session();
    DeleteFileA(filler.c_str());
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Error"), std::string::npos) << rows;
    EXPECT_EQ(ReadAll(DeviceFile("phonebook.dat")), before);

    rows = Session();
    EXPECT_NE(rows.find("Contacts (Zelvan 1.0): Synchronized"), std::string::npos) << rows;
    EXPECT_NE(DevicePhones().find("New=333;"), std::string::npos) << DevicePhones();
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
    const std::string rows = SessionRows(dialog);
    test::ClickButton(dialog, IDC_SYNC_CLOSE);
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kCurVerKey, nullptr, REG_SZ, saved, static_cast<DWORD>(strlen(saved) + 1));
    EXPECT_EQ(rows.find("Contacts (Zelvan 1.0)"), std::string::npos) << rows;
    EXPECT_EQ(rows.find("Tasks (Zelvan 1.0)"), std::string::npos) << rows;
}

} // namespace
} // namespace tv::e2e
