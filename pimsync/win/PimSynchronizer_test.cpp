// The contacts and tasks synchronizers driven phase by phase, as the synchronization manager drives
// them: a hub served on this thread over the folder-backed test devices (a 1.0 device), the
// stand-in desktop mail application across the process boundary, a recording sink. Conflict
// dialogs are answered by a helper thread as the user would, with a screenshot of each.
#include "AnsiText.h"
#include "ComObject.h"
#include "DeviceId.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "RecordMerge.h"
#include "SyncRecords.h"
#include "SyncTestSupport.h"
#include "TestDeviceIds.h"
#include "UiHarness.h"
#include "ZvSyncCT10.h"
#include "DesktopMailApp.h"
#include "ImportPatch.h"
#include "ZvSyncMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

namespace tv::pimsync {
namespace {

using ::pimsync::ZvContactRecord;
using ::pimsync::ZvOrganizerFile;
using ::pimsync::ZvPhonebookFile;
using ::pimsync::ZvTaskRecord;
using mail::testing::RecordingSink;

constexpr char kDevice[] = "PIMSA";
constexpr char kDeviceId[] = "@TDPIMSA";
constexpr char kFolder[] = "Device Flash";
constexpr wchar_t kMailAppKey[] = L"Software\\Zelvan\\TavrilonTests\\MailApp";
constexpr char kCurVerKey[] = "Software\\Classes\\Outlook.Application\\CurVer";
constexpr char kStandInVersion[] = "Outlook.Application.9";
const std::vector<ZVSYNCPHASE> kAllPhases = {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE,
                                             SPH_SYNCHRONIZE_TRANSFER, SPH_SYNCHRONIZE_RESOLVE, SPH_FINALIZE};

void SetMailAppVersion(const std::string& progId) {
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kCurVerKey, nullptr, REG_SZ, progId.c_str(), static_cast<DWORD>(progId.size() + 1));
}

std::string Temp() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void SetMailAppSetting(const wchar_t* name, const std::string& value) {
    const std::wstring wide = com::FromAnsi(value);
    RegSetKeyValueW(HKEY_CURRENT_USER, kMailAppKey, name, REG_SZ, wide.c_str(),
                    static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

ZvContactRecord Contact(std::string last, std::string first, std::string phone, uint32_t id = 0) {
    ZvContactRecord record(1);
    record.s3 = std::move(last);
    record.s4 = std::move(first);
    record.s5 = std::move(phone);
    record.idNumber = id;
    return record;
}

ZvTaskRecord Task(std::string text, uint8_t priority, uint8_t reminder = 0, uint8_t day = 0) {
    ZvTaskRecord record;
    record.text = std::move(text);
    record.priority = priority;
    record.reminder = reminder;
    if (day != 0)
        record.date = {103, 5, day, 9, 30, 0, true}; // 2003-05-<day> 09:30
    return record;
}

// Counts every call that leaves an apartment of this process (remote unknown calls included).
std::atomic<long> g_outgoingCalls{0};
constexpr GUID kCountingExtension = {0x2f1c6a3e, 0x5b7d, 0x4e21, {0x9a, 0x44, 0x6d, 0x0e, 0x8b, 0x13, 0x72, 0x5c}};

class CallCounter : public IChannelHook {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IChannelHook) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    void STDMETHODCALLTYPE ClientGetSize(REFGUID, REFIID, ULONG* size) override {
        ++g_outgoingCalls;
        *size = 0;
    }
    void STDMETHODCALLTYPE ClientFillBuffer(REFGUID, REFIID, ULONG* size, void*) override { *size = 0; }
    void STDMETHODCALLTYPE ClientNotify(REFGUID, REFIID, ULONG, void*, DWORD, HRESULT) override {}
    void STDMETHODCALLTYPE ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}
    void STDMETHODCALLTYPE ServerGetSize(REFGUID, REFIID, HRESULT, ULONG* size) override { *size = 0; }
    void STDMETHODCALLTYPE ServerFillBuffer(REFGUID, REFIID, ULONG* size, void*, HRESULT) override { *size = 0; }
};

// The synchronizer under test, made on a worker thread (its own apartment) and driven there.
struct Session {
    std::vector<HRESULT> results; // IsCompatible, SetDevice, then each phase run
    std::vector<double> seconds;  // each phase's time
    std::vector<long> calls;      // each phase's calls that left the apartment
    long total = -1, synchronized = -1, unresolved = -1;
    long quitCode = -1; // a quit message left for the thread's own loop, taken after the phases
};

class PimSynchronizerTest : public ::testing::Test {
  protected:
    com::ComApartment apartment_;

    void SetUp() override {
        root_ = Temp() + "tvpimsync_" + std::to_string(GetCurrentProcessId());
        for (const std::string folder : {"", "\\devices", "\\devices\\PIMSA", "\\devices\\PIMSA\\Device Flash",
                                         "\\devices\\PIMSA\\Other", "\\devices\\PIMSB"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        // A second device, of the 1.5 generation.
        const DWORD model15 = 21;
        RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(tests::kTestDeviceSettingsKey) + "\\PIMSB").c_str(),
                        "ModelVersion", REG_DWORD, &model15, sizeof(model15));
        SetDeviceSetting("ModelVersion", 16);
        SetDeviceSetting("FreeBytes", MAXDWORD);
        SetDeviceSetting("NoBlockSize", 0);
        fixture_ = root_ + "\\mailapp_fixture.txt";
        dump_ = root_ + "\\mailapp_dump.txt";
        WriteAll(fixture_, "");
        SetMailAppSetting(L"Fixture", fixture_);
        SetMailAppSetting(L"Dump", dump_);
        SetMailAppSetting(L"Fail", "");
        RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Zelvan\\Tavrilon\\DeviceList\\" + std::string(kDeviceId)).c_str());
        library_ = mail::testing::LoadSynchronizerDll("ZvSyncCT10.dll");
        ASSERT_TRUE(library_);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }
    void TearDown() override {
        served_.Stop();
        RegDeleteTreeW(HKEY_CURRENT_USER, kMailAppKey);
        SetMailAppVersion(kStandInVersion);
        RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Zelvan\\Tavrilon\\DeviceList\\" + std::string(kDeviceId)).c_str());
        test::DeleteTree(com::FromAnsi(root_));
    }

    static void SetDeviceSetting(const char* name, DWORD value) {
        const std::string key = std::string(tests::kTestDeviceSettingsKey) + "\\" + kDevice;
        RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
    }

    std::string DevicePath(const char* file) const { return root_ + "\\devices\\PIMSA\\" + kFolder + "\\" + file; }

    void WritePhonebook(const ZvPhonebookFile& list) const { ASSERT_TRUE(list.WriteFile(DevicePath("phonebook.dat"))); }
    void WriteOrganizer(const ZvOrganizerFile& list) const { ASSERT_TRUE(list.WriteFile(DevicePath("organizer.dat"))); }
    std::unique_ptr<ZvPhonebookFile> ReadPhonebook() const {
        auto list = std::make_unique<ZvPhonebookFile>();
        EXPECT_TRUE(list->ReadFile(DevicePath("phonebook.dat")));
        return list;
    }
    std::unique_ptr<ZvOrganizerFile> ReadOrganizer() const {
        auto list = std::make_unique<ZvOrganizerFile>();
        EXPECT_TRUE(list->ReadFile(DevicePath("organizer.dat")));
        return list;
    }

    // The application's items after a session (its dump), one line each, sorted by the store.
    std::vector<std::string> AppItems(const char* kind) const {
        std::vector<std::string> lines;
        std::istringstream in(ReadAll(dump_));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.rfind(std::string(kind) + "\t", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }
    // The next session's application starts from what the last one left.
    void CarryAppState() const {
        const std::string dump = ReadAll(dump_);
        if (!dump.empty())
            WriteAll(fixture_, dump);
    }

    // Runs IsCompatible, SetDevice and the phases (1 to 5, or `phases`) on a worker thread;
    // `during` runs on that thread with the synchronizer after Initialize (or with no phases),
    // `afterPhase` there after each phase, outside the phase's time and calls.
    Session Run(const CLSID& clsid, IZvSyncCallback* sink, int resolution = SSR_MANUAL_RESOLUTION,
                std::vector<ZVSYNCPHASE> phases = kAllPhases,
                std::function<void(IZvSynchronizer*)> during = nullptr, DWORD limitMs = 120000,
                std::function<void(ZVSYNCPHASE)> afterPhase = nullptr) {
        std::function<void(size_t, ZVSYNCPHASE)> after;
        if (afterPhase)
            after = [&](size_t, ZVSYNCPHASE phase) { afterPhase(phase); };
        return RunSessions(clsid, {sink}, resolution, phases, during, limitMs, after).at(0);
    }

    // The same for one session per sink, one after the other on one synchronizer object, as the
    // manager keeps one object of each class for the program's life; `afterPhase` is also given
    // the session's index.
    std::vector<Session> RunSessions(const CLSID& clsid, const std::vector<IZvSyncCallback*>& sinks,
                                     int resolution = SSR_MANUAL_RESOLUTION,
                                     std::vector<ZVSYNCPHASE> phases = kAllPhases,
                                     std::function<void(IZvSynchronizer*)> during = nullptr,
                                     DWORD limitMs = 120000,
                                     std::function<void(size_t, ZVSYNCPHASE)> afterPhase = nullptr) {
        std::vector<Session> sessions(sinks.size());
        HMODULE library = library_.Get();
        const bool ended = mail::testing::RunOnWorkerThread(
            [&] {
                com::ComApartment apartment;
                com::ComPtr<IZvSynchronizer> sync = mail::testing::CreateSynchronizerFromDll(library, clsid);
                if (!sync)
                    return;
                com::ComPtr<IZvSyncNotify> notify;
                sync->QueryInterface(__uuidof(IZvSyncNotify), reinterpret_cast<void**>(&notify));
                for (size_t i = 0; i < sinks.size(); ++i) {
                    Session& session = sessions[i];
                    LONG cookie = 0;
                    notify->Advise(sinks[i], &cookie);
                    std::string id = kDeviceId;
                    session.results.push_back(sync->IsCompatible(id.data()));
                    session.results.push_back(sync->SetDevice(id.data()));
                    sync->SetConflictResolution(static_cast<ZVSYNCRESOLUTION>(resolution));
                    if (during && phases.empty())
                        during(sync.Get());
                    for (ZVSYNCPHASE phase : phases) {
                        if (during && phase == SPH_SYNCHRONIZE_ESTIMATE)
                            during(sync.Get());
                        LARGE_INTEGER frequency, start, end;
                        QueryPerformanceFrequency(&frequency);
                        const long callsBefore = g_outgoingCalls;
                        QueryPerformanceCounter(&start);
                        session.results.push_back(sync->Synchronize(phase));
                        QueryPerformanceCounter(&end);
                        session.seconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) /
                                                  frequency.QuadPart);
                        session.calls.push_back(g_outgoingCalls - callsBefore);
                        if (afterPhase)
                            afterPhase(i, phase);
                    }
                    sync->GetTotalItems(&session.total);
                    sync->GetSynchronizedItems(&session.synchronized);
                    sync->GetUnresolvedItems(&session.unresolved);
                    notify->Unadvise(cookie);
                    MSG quit;
                    if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
                        session.quitCode = static_cast<long>(quit.wParam);
                }
            },
            limitMs);
        EXPECT_TRUE(ended);
        return sessions;
    }

    static com::ComPtr<RecordingSink> NewSink() {
        com::ComPtr<RecordingSink> sink;
        com::MakeComObject(sink);
        return sink;
    }
    // The next session, from what this one left on both sides, finds nothing to do: no item saved,
    // the device file as it was, nothing unresolved.
    void ExpectASecondSessionChangesNothing(const CLSID& clsid, const char* file,
                                            int resolution = SSR_MANUAL_RESOLUTION) {
        CarryAppState();
        DeleteFileA(dump_.c_str());
        const std::string deviceBefore = ReadAll(DevicePath(file));
        auto sink = NewSink();
        Session again = Run(clsid, sink.Get(), resolution);
        ExpectAllSucceeded(again, sink.Get());
        EXPECT_EQ(again.synchronized, 0);
        EXPECT_EQ(again.unresolved, 0);
        EXPECT_EQ(ReadAll(DevicePath(file)), deviceBefore);
        EXPECT_EQ(ReadAll(dump_), "") << "nothing was saved in the application";
    }

    static void ExpectAllSucceeded(const Session& session, RecordingSink* sink) {
        ASSERT_EQ(session.results.size(), 7u);
        for (HRESULT hr : session.results)
            EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Errors());
    }

    std::string root_, fixture_, dump_;
    test::ServedHub served_;
    com::UniqueModule library_;
};

// Answers conflict dialogs on a thread of its own: for each title seen, a screenshot and a press
// of the next button in the list.
class DialogAnswerer {
  public:
    DialogAnswerer(std::wstring title, std::vector<int> buttons, std::wstring shotName)
        : title_(std::move(title)), buttons_(std::move(buttons)), shotName_(std::move(shotName)) {
        thread_ = std::thread([this] { Answer(); });
    }
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    int Answered() const { return answered_; }
    std::vector<std::string> Seen() const { return seen_; }

  private:
    void Answer() {
        for (size_t i = 0; i < buttons_.size() && !stop_; ++i) {
            HWND dialog = nullptr;
            while (!stop_ && !(dialog = test::FindShownWindow(L"#32770", title_.c_str())))
                Sleep(20);
            if (!dialog)
                return;
            char text[256] = {};
            GetDlgItemTextA(dialog, 14107, text, sizeof(text)); // contact: last name on the device
            if (!text[0])
                GetDlgItemTextA(dialog, 14035, text, sizeof(text)); // task text on the device
            seen_.push_back(text);
            if (!shotName_.empty()) {
                // Painted by its own thread: asked to paint now, then given a moment for it.
                RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                Sleep(200);
                test::SaveScreenshot(test::ExeFolder() + L"\\" + shotName_ + std::to_wstring(i + 1) + L".bmp");
            }
            test::ClickButton(dialog, buttons_[i]);
            ++answered_;
            test::WaitForWindowGone(dialog, 10000);
        }
    }
    std::wstring title_;
    std::vector<int> buttons_;
    std::wstring shotName_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::vector<std::string> seen_;
    std::thread thread_;
};

TEST_F(PimSynchronizerTest, ContactsNewOnEachSideMeetAndASecondSessionChangesNothing) {
    ZvPhonebookFile device(1);
    device.Append(Contact("Device", "Only", "111", 1).Clone());
    device.Append(Contact("Both", "Same", "222", 2).Clone());
    WritePhonebook(device);
    // The application: the shared contact, one of its own without an identifier (and with an
    // over-long phone number), and a distribution list, which is not a contact.
    WriteAll(fixture_, "contact\tLastName=Both\tFirstName=Same\tPhone=222\t@ZvID=AAAAABA\n"
                       "list\tName=Friends\n"
                       "contact\tLastName=Pc\tFirstName=Only\tPhone=123456789012345678901234\t@ICQ=777\n");

    auto sink = NewSink();
    Session first = Run(CLSID_ZvSyncContacts10, sink.Get());
    ExpectAllSucceeded(first, sink.Get());
    EXPECT_EQ(first.total, 5);
    EXPECT_EQ(first.synchronized, 2);
    EXPECT_EQ(first.unresolved, 0);

    auto after = ReadPhonebook();
    ASSERT_EQ(after->Count(), 3u);
    const auto& fromPc = static_cast<const ZvContactRecord&>(after->At(2));
    EXPECT_EQ(fromPc.s3, "Pc");
    EXPECT_EQ(fromPc.s5, "1234567890123456789"); // what the device field keeps
    EXPECT_EQ(fromPc.icq, "777");
    EXPECT_TRUE(::pimsync::IsUnknownId(fromPc.idNumber));
    const std::vector<std::string> contacts = AppItems("contact");
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[2], "contact\tCity=\tEmail=\tFirstName=Only\tLastName=Device\tPhone=111\tStreet=\tTitle=\t"
                           "@ICQ=\t@ZvID=AAAAAAB");
    EXPECT_EQ(AppItems("list").size(), 1u);

    ExpectASecondSessionChangesNothing(CLSID_ZvSyncContacts10, "phonebook.dat");
}

TEST_F(PimSynchronizerTest, AVersionZeroPhoneBookKeepsItsFieldsAndMakesNoDuplicates) {
    ZvPhonebookFile device(0);
    ZvContactRecord old(0);
    old.s3 = "Old";
    old.s5 = "555";
    old.s8 = "old@example.org";
    device.Append(old.Clone());
    WritePhonebook(device);
    // The application's contact has the same stored fields and more that version 0 does not keep.
    WriteAll(fixture_, "contact\tLastName=Old\tFirstName=Kept\tPhone=555\tEmail=old@example.org\tTitle=Dr\n"
                       "contact\tLastName=New\tFirstName=One\tPhone=999\n");
    auto sink = NewSink();
    Session first = Run(CLSID_ZvSyncContacts10, sink.Get());
    ExpectAllSucceeded(first, sink.Get());
    EXPECT_EQ(first.unresolved, 0);
    auto after = ReadPhonebook();
    EXPECT_EQ(after->Version(), 0);
    ASSERT_EQ(after->Count(), 2u);
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(1)).s3, "New");

    CarryAppState();
    const std::string deviceBefore = ReadAll(DevicePath("phonebook.dat"));
    auto second = NewSink();
    Session again = Run(CLSID_ZvSyncContacts10, second.Get());
    ExpectAllSucceeded(again, second.Get());
    EXPECT_EQ(again.synchronized, 0);
    EXPECT_EQ(again.unresolved, 0);
    EXPECT_EQ(ReadAll(DevicePath("phonebook.dat")), deviceBefore);
    EXPECT_EQ(ReadAll(dump_), "") << "nothing was saved in the application";
}

TEST_F(PimSynchronizerTest, TasksCrossWithTheirFieldsAndSettleWithoutPerpetualConflicts) {
    ZvOrganizerFile device;
    device.Append(Task("Device task", 3, 3, 12).Clone()); // no priority, reminder one hour before
    device.Append(Task("Undated", 2, 0).Clone());
    WriteOrganizer(device);
    // 37753.5 is 2003-05-12 12:00; a date past what the device holds; an importance out of range.
    WriteAll(fixture_, "task\tSubject=Pc task\tImportance=0\tDueDate=37753.5\tReminderSet=1\tReminderTime=37752.5\n"
                       "task\tSubject=Far away\tImportance=7\tDueDate=73051.5\n");
    auto sink = NewSink();
    Session first = Run(CLSID_ZvSyncTasks10, sink.Get());
    ExpectAllSucceeded(first, sink.Get());
    auto after = ReadOrganizer();
    ASSERT_EQ(after->Count(), 4u);
    const auto& pcTask = static_cast<const ZvTaskRecord&>(after->At(2));
    EXPECT_EQ(pcTask.text, "Pc task");
    EXPECT_EQ(pcTask.priority, 0);
    EXPECT_EQ(pcTask.reminder, 4);
    EXPECT_EQ(pcTask.date, (::pimsync::DeviceDate{103, 5, 12, 12, 0, 0, true}));
    const auto& distant = static_cast<const ZvTaskRecord&>(after->At(3));
    EXPECT_FALSE(distant.date.valid);
    EXPECT_EQ(distant.priority, 3);
    // The device's task without priority is saved as a normal one on both sides.
    EXPECT_EQ(static_cast<const ZvTaskRecord&>(after->At(0)).priority, 1);
    const std::vector<std::string> tasks = AppItems("task");
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_NE(tasks[2].find("Importance=1\tReminderSet=1\tReminderTime=37753.35416"), std::string::npos) << tasks[2];
    EXPECT_NE(tasks[2].find("Subject=Device task"), std::string::npos) << tasks[2];

    CarryAppState();
    const std::string deviceBefore = ReadAll(DevicePath("organizer.dat"));
    auto second = NewSink();
    Session again = Run(CLSID_ZvSyncTasks10, second.Get());
    ExpectAllSucceeded(again, second.Get());
    EXPECT_EQ(again.synchronized, 0);
    EXPECT_EQ(again.unresolved, 0);
    EXPECT_EQ(ReadAll(DevicePath("organizer.dat")), deviceBefore);
}

// A version 0 phone book keys on the last name alone. Two application contacts of one last name
// match none of the device's records of it: nothing of that name is asked about, written or added
// on either side. A pair that does match, settled by the device's version, changes only the three
// fields version 0 stores: the contact keeps its first name, title, ICQ and identifier.
TEST_F(PimSynchronizerTest, AVersionZeroPhoneBookNeverBlanksTheApplicationsContacts) {
    ZvPhonebookFile device(0);
    for (const char* name : {"Smith", "Solo"}) {
        ZvContactRecord record(0);
        record.s3 = name;
        record.s5 = std::string("device-") + name;
        record.s8 = "mail@device";
        device.Append(record.Clone());
    }
    WritePhonebook(device);
    const std::string deviceBefore = ReadAll(DevicePath("phonebook.dat"));
    const std::string application =
        "contact\tLastName=Smith\tFirstName=John\tPhone=john\tTitle=Dr\t@ZvID=AAAAAAB\n"
        "contact\tLastName=Smith\tFirstName=Jane\tPhone=jane\t@ICQ=42\n"
        "contact\tLastName=Solo\tFirstName=Ann\tPhone=pc-Solo\tTitle=Ms\tStreet=Main\t@ICQ=7\t@ZvID="
        "AAAAABA\n";
    WriteAll(fixture_, application);
    auto sink = NewSink();
    Session session;
    std::vector<std::string> seen;
    {
        DialogAnswerer answerer(L"Contact changed on both sides", {14102}, L"");
        session = Run(CLSID_ZvSyncContacts10, sink.Get());
        seen = answerer.Seen();
    }
    ExpectAllSucceeded(session, sink.Get());
    EXPECT_EQ(seen, std::vector<std::string>{"Solo"});
    EXPECT_EQ(session.unresolved, 0);
    EXPECT_EQ(session.synchronized, 0);
    EXPECT_EQ(ReadAll(DevicePath("phonebook.dat")), deviceBefore);
    const std::vector<std::string> contacts = AppItems("contact");
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0], "contact\tFirstName=John\tLastName=Smith\tPhone=john\tTitle=Dr\t@ZvID=AAAAAAB");
    EXPECT_EQ(contacts[1], "contact\tFirstName=Jane\tLastName=Smith\tPhone=jane\t@ICQ=42");
    EXPECT_EQ(contacts[2],
              "contact\tEmail=mail@device\tFirstName=Ann\tLastName=Solo\tPhone=device-Solo\tStreet=Main"
              "\tTitle=Ms\t@ICQ=7\t@ZvID=AAAAABA");

    // The same under "replace on computer", and nothing left for the next session.
    WriteAll(fixture_, application);
    DeleteFileA(dump_.c_str());
    auto replace = NewSink();
    Session replaced = Run(CLSID_ZvSyncContacts10, replace.Get(), SSR_REPLACE_ON_COMPUTER);
    ExpectAllSucceeded(replaced, replace.Get());
    EXPECT_EQ(AppItems("contact"), contacts);
    ExpectASecondSessionChangesNothing(CLSID_ZvSyncContacts10, "phonebook.dat", SSR_REPLACE_ON_COMPUTER);
    EXPECT_EQ(ReadAll(DevicePath("phonebook.dat")), deviceBefore);
}

// Two tasks of one text on each side, changed on both: the n-th pairs with the n-th, each
// resolution settles them once, and the next session finds nothing to do.
TEST_F(PimSynchronizerTest, RepeatedTasksSettleOneToOne) {
    for (int resolution : {SSR_REPLACE_ON_DEVICE, SSR_REPLACE_ON_COMPUTER}) {
        SCOPED_TRACE(resolution);
        ZvOrganizerFile device;
        device.Append(Task("Pay rent", 1).Clone());
        device.Append(Task("Pay rent", 0).Clone());
        WriteOrganizer(device);
        WriteAll(fixture_, "task\tSubject=Pay rent\tImportance=0\ntask\tSubject=Pay rent\tImportance=2\n");
        DeleteFileA(dump_.c_str());
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncTasks10, sink.Get(), resolution);
        ExpectAllSucceeded(session, sink.Get());
        EXPECT_EQ(session.unresolved, 0);
        const std::vector<uint8_t> expected =
            resolution == SSR_REPLACE_ON_DEVICE ? std::vector<uint8_t>{0, 2} : std::vector<uint8_t>{1, 0};
        auto after = ReadOrganizer();
        ASSERT_EQ(after->Count(), 2u);
        EXPECT_EQ(static_cast<const ZvTaskRecord&>(after->At(0)).priority, expected[0]);
        EXPECT_EQ(static_cast<const ZvTaskRecord&>(after->At(1)).priority, expected[1]);
        if (resolution == SSR_REPLACE_ON_COMPUTER) {
            const std::vector<std::string> tasks = AppItems("task");
            ASSERT_EQ(tasks.size(), 2u);
            EXPECT_NE(tasks[0].find("Importance=1"), std::string::npos) << tasks[0];
            EXPECT_NE(tasks[1].find("Importance=0"), std::string::npos) << tasks[1];
        }
        ExpectASecondSessionChangesNothing(CLSID_ZvSyncTasks10, "organizer.dat", resolution);
    }
}

// Keys upper-case by the ANSI code page's rules: a contact whose last name starts with an upper
// umlaut on the device and a lower one in the application is the same contact.
TEST_F(PimSynchronizerTest, KeysMatchByTheCodePagesUpperCase) {
    ASSERT_EQ(GetACP(), 1252u) << "the case below is written in code page 1252";
    ZvPhonebookFile device(1);
    device.Append(Contact("\xD6lfen", "Eva", "1").Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=\xC3\xB6lfen\tFirstName=eva\tPhone=1\n"); // the fixture is UTF-8
    auto sink = NewSink();
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_REPLACE_ON_DEVICE);
    ExpectAllSucceeded(session, sink.Get());
    EXPECT_EQ(session.synchronized, 0) << "one contact on each side, not two new ones";
    auto after = ReadPhonebook();
    ASSERT_EQ(after->Count(), 1u);
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(0)).s3, "\xF6lfen");
}

// A phase number that is none of a session's answers E_INVALIDARG and touches nothing.
TEST_F(PimSynchronizerTest, APhaseOutsideTheSessionTouchesNothing) {
    ZvOrganizerFile device;
    device.Append(Task("Kept", 1).Clone());
    WriteOrganizer(device);
    WriteAll(fixture_, "task\tSubject=Other\tImportance=1\n");
    auto sink = NewSink();
    Session session =
        Run(CLSID_ZvSyncTasks10, sink.Get(), SSR_MANUAL_RESOLUTION,
            {SPH_INITIALIZE, static_cast<ZVSYNCPHASE>(0), static_cast<ZVSYNCPHASE>(6), SPH_FINALIZE});
    ASSERT_EQ(session.results.size(), 6u);
    EXPECT_EQ(session.results[3], E_INVALIDARG);
    EXPECT_EQ(session.results[4], E_INVALIDARG);
    EXPECT_EQ(session.results[5], S_OK);
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Errors());
    auto after = ReadOrganizer();
    ASSERT_EQ(after->Count(), 1u) << "nothing merged into the file copied back";
    EXPECT_EQ(ReadAll(dump_), "");
}

// Three contacts changed on both sides, settled without asking: the device takes the computer's
// version (2), or the computer takes the device's (3).
TEST_F(PimSynchronizerTest, ChangedOnBothSidesSettleByTheResolution) {
    for (int resolution : {SSR_REPLACE_ON_DEVICE, SSR_REPLACE_ON_COMPUTER}) {
        SCOPED_TRACE(resolution);
        ZvPhonebookFile device(1);
        device.Append(Contact("Changed", "A", "device-a").Clone());
        device.Append(Contact("Changed", "B", "device-b").Clone());
        WritePhonebook(device);
        WriteAll(fixture_, "contact\tLastName=Changed\tFirstName=A\tPhone=pc-a\n"
                           "contact\tLastName=Changed\tFirstName=B\tPhone=pc-b\n");
        DeleteFileA(dump_.c_str());
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), resolution);
        ExpectAllSucceeded(session, sink.Get());
        EXPECT_EQ(session.unresolved, 0);
        const std::string winner = resolution == SSR_REPLACE_ON_DEVICE ? "pc-" : "device-";
        auto after = ReadPhonebook();
        ASSERT_EQ(after->Count(), 2u);
        EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(0)).s5, winner + "a");
        EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(1)).s5, winner + "b");
        if (resolution == SSR_REPLACE_ON_COMPUTER) {
            const std::vector<std::string> contacts = AppItems("contact");
            ASSERT_EQ(contacts.size(), 2u);
            EXPECT_NE(contacts[0].find("Phone=device-a"), std::string::npos);
        }
        // Settled: the next session finds both sides equal.
        CarryAppState();
        auto second = NewSink();
        Session again = Run(CLSID_ZvSyncContacts10, second.Get(), SSR_MANUAL_RESOLUTION);
        ExpectAllSucceeded(again, second.Get());
        EXPECT_EQ(again.unresolved, 0);
    }
}

// Asked: the first pair takes the computer's version, the second the device's, the third is
// skipped and the dialog's Cancel ends resolving before the fourth.
TEST_F(PimSynchronizerTest, ConflictDialogChoicesEachDoWhatTheySay) {
    ZvPhonebookFile device(1);
    for (const char* name : {"One", "Two", "Three", "Four"})
        device.Append(Contact(name, "X", std::string("device-") + name).Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=One\tFirstName=X\tPhone=pc-One\n"
                       "contact\tLastName=Two\tFirstName=X\tPhone=pc-Two\n"
                       "contact\tLastName=Three\tFirstName=X\tPhone=pc-Three\n"
                       "contact\tLastName=Four\tFirstName=X\tPhone=pc-Four\n");
    auto sink = NewSink();
    Session session;
    std::vector<std::string> seen;
    {
        DialogAnswerer answerer(L"Contact changed on both sides", {14101, 14102, 14100, IDCANCEL},
                                L"pimsync_contact_conflict_");
        session = Run(CLSID_ZvSyncContacts10, sink.Get());
        EXPECT_EQ(answerer.Answered(), 4);
        seen = answerer.Seen();
    }
    ExpectAllSucceeded(session, sink.Get());
    EXPECT_EQ(seen, (std::vector<std::string>{"One", "Two", "Three", "Four"}));
    EXPECT_EQ(session.unresolved, 2);
    auto after = ReadPhonebook();
    ASSERT_EQ(after->Count(), 4u);
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(0)).s5, "pc-One");
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(1)).s5, "device-Two");
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(2)).s5, "device-Three");
    EXPECT_EQ(static_cast<const ZvContactRecord&>(after->At(3)).s5, "device-Four");
    const std::vector<std::string> contacts = AppItems("contact");
    ASSERT_EQ(contacts.size(), 4u);
    EXPECT_NE(contacts[1].find("Phone=device-Two"), std::string::npos);
    EXPECT_NE(contacts[2].find("Phone=pc-Three"), std::string::npos);
}

TEST_F(PimSynchronizerTest, TaskConflictDialogShowsBothVersions) {
    ZvOrganizerFile device;
    device.Append(Task("Shared", 2, 0, 12).Clone());
    WriteOrganizer(device);
    WriteAll(fixture_, "task\tSubject=Shared\tImportance=0\tDueDate=37753.5\n");
    auto sink = NewSink();
    Session session;
    {
        DialogAnswerer answerer(L"Task changed on both sides", {14031}, L"pimsync_task_conflict_");
        session = Run(CLSID_ZvSyncTasks10, sink.Get());
        EXPECT_EQ(answerer.Answered(), 1);
    }
    ExpectAllSucceeded(session, sink.Get());
    auto after = ReadOrganizer();
    ASSERT_EQ(after->Count(), 1u);
    EXPECT_EQ(static_cast<const ZvTaskRecord&>(after->At(0)).priority, 0);
    EXPECT_EQ(static_cast<const ZvTaskRecord&>(after->At(0)).date.hour, 12);
}

// A sink that cancels the session at its first progress report of a phase, and records the rest.
class CancellingSink : public com::ComObject<CancellingSink, IZvSyncCallback> {
  public:
    explicit CancellingSink(ZVSYNCPHASE phase) : phase_(phase) { com::MakeComObject(recorded_); }
    RecordingSink* Recorded() const { return recorded_.Get(); }
    STDMETHODIMP OnUpdate(IZvSynchronizer* source, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done,
                          ULONG total) override {
        if (phase == phase_ && status == SST_UPDATE && source)
            source->Cancel();
        return recorded_->OnUpdate(source, phase, status, done, total);
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer* source, ZVSYNCPHASE phase, ZVSYNCSTATUS status, LPSTR text,
                                ULONG done, ULONG total) override {
        return recorded_->OnCustomUpdate(source, phase, status, text, done, total);
    }
    STDMETHODIMP OnError(IZvSynchronizer* source, ZVSYNCPHASE phase, LPSTR text) override {
        return recorded_->OnError(source, phase, text);
    }

  private:
    ZVSYNCPHASE phase_;
    com::ComPtr<RecordingSink> recorded_;
};

TEST_F(PimSynchronizerTest, CancelInTransferWritesNothingOnEitherSide) {
    ZvPhonebookFile device(1);
    device.Append(Contact("Device", "Only", "1").Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=Pc\tFirstName=One\tPhone=2\ncontact\tLastName=Pc\tFirstName=Two\tPhone=3\n");
    const std::string before = ReadAll(DevicePath("phonebook.dat"));
    com::ComPtr<CancellingSink> sink;
    com::MakeComObject(sink, SPH_SYNCHRONIZE_TRANSFER);
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get());
    ExpectAllSucceeded(session, sink->Recorded());
    EXPECT_EQ(ReadAll(DevicePath("phonebook.dat")), before);
    EXPECT_EQ(ReadAll(dump_), "");
}

TEST_F(PimSynchronizerTest, FailuresAreReportedWithTheirTexts) {
    static HMODULE language = LoadLanguageLibrary(nullptr);
    auto text = [&](UINT id) { return LoadLanguageString(language, id); };
    // No file on the device.
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION, {SPH_INITIALIZE});
        ASSERT_EQ(session.results.size(), 3u);
        EXPECT_EQ(session.results[2], E_FAIL);
        char expected[512];
        std::snprintf(expected, sizeof(expected), text(12246).c_str(), "@TDPIMSA\\Device Flash\\phonebook.dat");
        EXPECT_EQ(sink->Errors(), (std::vector<std::string>{std::string("error 1 ") + expected}));
    }
    // A phase before Initialize.
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncTasks10, sink.Get(), SSR_MANUAL_RESOLUTION, {SPH_SYNCHRONIZE_TRANSFER});
        EXPECT_EQ(session.results.back(), E_FAIL);
        EXPECT_EQ(sink->Errors(), (std::vector<std::string>{"error 3 " + text(12255)}));
    }
    // No room on the device for the file; then a volume without a block size is not checked.
    WriteOrganizer(ZvOrganizerFile());
    WriteAll(fixture_, "task\tSubject=Needs room\n");
    SetDeviceSetting("FreeBytes", 0);
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncTasks10, sink.Get());
        EXPECT_EQ(session.results.back(), E_FAIL);
        char expected[512];
        std::snprintf(expected, sizeof(expected), text(12435).c_str(), "@TDPIMSA\\Device Flash");
        EXPECT_EQ(sink->Errors(), (std::vector<std::string>{std::string("error 5 ") + expected}));
        EXPECT_EQ(ReadOrganizer()->Count(), 0u);
    }
    SetDeviceSetting("NoBlockSize", 1);
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncTasks10, sink.Get());
        ExpectAllSucceeded(session, sink.Get());
        EXPECT_EQ(ReadOrganizer()->Count(), 1u);
    }
    SetDeviceSetting("NoBlockSize", 0);
    SetDeviceSetting("FreeBytes", MAXDWORD);
    // The application refuses to save: the phase fails with an error, the device keeps its file.
    {
        ZvOrganizerFile one;
        one.Append(Task("To the computer", 1).Clone());
        WriteOrganizer(one);
    }
    SetMailAppSetting(L"Fail", "Save");
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncTasks10, sink.Get());
        ASSERT_EQ(session.results.size(), 7u);
        EXPECT_EQ(session.results[4], E_FAIL);
        ASSERT_EQ(sink->Errors().size(), 1u);
        EXPECT_EQ(sink->Errors()[0].rfind("error 3 ", 0), 0u);
        EXPECT_GT(sink->Errors()[0].size(), 8u) << "the failure has a text";
    }
    SetMailAppSetting(L"Fail", "");
}

// An application whose version is 8 or older is not used with any device, nor is any device but
// a 1.0 one; with no application registered the session fails at once with a text.
TEST_F(PimSynchronizerTest, CompatibilityFollowsTheApplicationAndTheDevice) {
    auto compatible = [&] {
        auto sink = NewSink();
        return Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION, {}).results.at(0);
    };
    EXPECT_EQ(compatible(), S_OK);
    auto owner = NewSink();
    Run(CLSID_ZvSyncTasks10, owner.Get(), SSR_MANUAL_RESOLUTION, {}, [](IZvSynchronizer* sync) {
        std::string other = "@TDPIMSB";
        EXPECT_EQ(sync->IsCompatible(other.data()), S_FALSE);
    });
    SetMailAppVersion("Outlook.Application.8");
    EXPECT_EQ(compatible(), S_FALSE);

    // A version whose ProgID names no registered application, as on a machine without it.
    SetMailAppVersion("Outlook.Application.12");
    WritePhonebook(ZvPhonebookFile(1));
    auto sink = NewSink();
    const ULONGLONG start = GetTickCount64();
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION, {SPH_INITIALIZE});
    EXPECT_LT(GetTickCount64() - start, 20000u);
    ASSERT_EQ(session.results.size(), 3u);
    EXPECT_EQ(session.results[2], E_FAIL);
    ASSERT_EQ(sink->Errors().size(), 1u);
    EXPECT_GT(sink->Errors()[0].size(), 8u) << sink->Errors()[0];
    SetMailAppVersion(kStandInVersion);
}

TEST_F(PimSynchronizerTest, NamesItemTypesAndAdviseCookies) {
    auto owner = NewSink();
    Run(CLSID_ZvSyncContacts10, owner.Get(), SSR_MANUAL_RESOLUTION, {}, [](IZvSynchronizer* sync) {
        unsigned char name[64] = {};
        EXPECT_EQ(sync->GetUserFriendlyName(sizeof(name), name), S_OK);
        EXPECT_STREQ(reinterpret_cast<char*>(name), "Contacts (Zelvan 1.0)");
        ZVSYNCITEMTYPE types[2] = {};
        LONG count = 0;
        EXPECT_EQ(sync->GetItemTypes(1, &count, types), E_FAIL);
        EXPECT_EQ(sync->GetItemTypes(2, nullptr, types), E_POINTER);
        ASSERT_EQ(sync->GetItemTypes(2, &count, types), S_OK);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(types[0].flags, 3u);
        EXPECT_STREQ(types[0].name, "Contacts");
        CoTaskMemFree(types[0].name);
        CoTaskMemFree(types[1].name);
        EXPECT_EQ(sync->IsTunable(), S_OK);
        EXPECT_EQ(sync->Tune(nullptr), E_INVALIDARG);
        EXPECT_EQ(sync->GetTotalItems(nullptr), E_POINTER);
        com::ComPtr<IZvSyncNotify> notify;
        ASSERT_HRESULT_SUCCEEDED(sync->QueryInterface(__uuidof(IZvSyncNotify), reinterpret_cast<void**>(&notify)));
        auto a = NewSink(), b = NewSink();
        LONG first = 0, second = 0;
        EXPECT_EQ(notify->Advise(nullptr, &first), E_INVALIDARG);
        EXPECT_EQ(notify->Advise(a.Get(), nullptr), E_POINTER);
        ASSERT_EQ(notify->Advise(a.Get(), &first), S_OK);
        EXPECT_EQ(notify->Advise(a.Get(), &second), E_FAIL);
        ASSERT_EQ(notify->Advise(b.Get(), &second), S_OK);
        EXPECT_EQ(first, 2); // the session's own sink has 1
        EXPECT_EQ(second, 3);
        EXPECT_EQ(notify->Unadvise(first), S_OK);
        EXPECT_EQ(notify->Unadvise(first), E_FAIL);
        EXPECT_EQ(notify->Unadvise(second), S_OK);
    });
}

// A quit message posted to the session's thread while the conflict dialog is open is the thread's,
// not an answer: the pair stays as it is on both sides and the quit is left for the thread's loop.
TEST_F(PimSynchronizerTest, AQuitDuringTheConflictDialogSkipsThePairAndIsPassedOn) {
    ZvPhonebookFile device(1);
    device.Append(Contact("Both", "X", "device-phone").Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=Both\tFirstName=X\tPhone=pc-phone\n");
    bool dialogEnded = false;
    std::thread quitter([&] {
        HWND dialog = test::WaitForWindow(L"#32770", L"Contact changed on both sides", 60000);
        if (!dialog)
            return;
        // The code a "keep the device's version" answer would have.
        PostThreadMessageW(GetWindowThreadProcessId(dialog, nullptr), WM_QUIT, ::pimsync::kTakeDeviceVersion,
                           0);
        dialogEnded = test::WaitForWindowGone(dialog, 10000);
    });
    auto sink = NewSink();
    Session session =
        Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION,
            {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER, SPH_SYNCHRONIZE_RESOLVE});
    quitter.join();
    EXPECT_TRUE(dialogEnded);
    ASSERT_EQ(session.results.size(), 6u);
    for (HRESULT hr : session.results)
        EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(session.unresolved, 1);
    EXPECT_EQ(session.quitCode, ::pimsync::kTakeDeviceVersion) << "the quit went on to the thread";
    EXPECT_EQ(ReadAll(dump_), "") << "nothing was written into the application";
}

// The synchronizer's Cancel, served on its own thread while the conflict dialog runs its loop (as
// the manager's call arrives there), ends the dialog; the pair stays as it was on both sides and the
// rest of the session completes. The call is made by a timer of the session's thread, so that no
// proxy of another apartment is left to be released while the session's apartment ends.
TEST_F(PimSynchronizerTest, CancelEndsAnOpenConflictDialog) {
    ZvPhonebookFile device(1);
    device.Append(Contact("Both", "X", "device-phone").Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=Both\tFirstName=X\tPhone=pc-phone\n");
    static IZvSynchronizer* cancelled = nullptr;
    static HWND cancelledDialog = nullptr;
    static UINT_PTR timer = 0;
    cancelledDialog = nullptr;
    auto sink = NewSink();
    Session session =
        Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION,
            {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER, SPH_SYNCHRONIZE_RESOLVE,
             SPH_FINALIZE},
            [&](IZvSynchronizer* sync) {
                cancelled = sync;
                timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
                    HWND dialog = test::FindShownWindow(L"#32770", L"Contact changed on both sides");
                    if (!dialog || GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId())
                        return;
                    KillTimer(nullptr, timer);
                    cancelledDialog = dialog;
                    EXPECT_EQ(cancelled->Cancel(), S_OK);
                });
            });
    KillTimer(nullptr, timer);
    ASSERT_NE(cancelledDialog, nullptr) << "the dialog was not met";
    EXPECT_FALSE(IsWindow(cancelledDialog));
    ExpectAllSucceeded(session, sink.Get());
    EXPECT_EQ(session.unresolved, 1);
    EXPECT_EQ(static_cast<const ZvContactRecord&>(ReadPhonebook()->At(0)).s5, "device-phone");
    EXPECT_EQ(ReadAll(dump_), "");
}

// The reports of a device file that cannot be read and of a file that cannot be copied back.
TEST_F(PimSynchronizerTest, AnUnreadableFileAndAFailedCopyBackAreReported) {
    static HMODULE language = LoadLanguageLibrary(nullptr);
    // A version 1 header naming another version.
    WriteAll(DevicePath("phonebook.dat"), std::string("#\x02\x00\x00", 4));
    {
        auto sink = NewSink();
        Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION, {SPH_INITIALIZE});
        ASSERT_EQ(session.results.size(), 3u);
        EXPECT_EQ(session.results[2], E_FAIL);
        EXPECT_EQ(sink->Errors(),
                  (std::vector<std::string>{"error 1 " + LoadLanguageString(language, 12243)}));
    }
    // The device file gives way to a folder of its name once the session has read it: the copy
    // back fails.
    WritePhonebook(ZvPhonebookFile(1));
    WriteAll(fixture_, "contact\tLastName=New\tFirstName=One\tPhone=1\n");
    const std::string path = DevicePath("phonebook.dat");
    auto sink = NewSink();
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION,
                          {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER, SPH_FINALIZE},
                          [&](IZvSynchronizer*) {
                              DeleteFileA(path.c_str());
                              CreateDirectoryA(path.c_str(), nullptr);
                          });
    const bool folderStayed = (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    RemoveDirectoryA(path.c_str());
    EXPECT_TRUE(folderStayed);
    ASSERT_EQ(session.results.size(), 6u);
    EXPECT_EQ(session.results[5], E_FAIL);
    ASSERT_EQ(sink->Errors().size(), 1u);
    const std::string format = LoadLanguageString(language, 12245);
    const std::string before = format.substr(0, format.find("%s"));
    EXPECT_EQ(sink->Errors()[0].rfind("error 5 " + before, 0), 0u) << sink->Errors()[0];
    EXPECT_NE(sink->Errors()[0].find(Temp()), std::string::npos) << "the temporary path is named";
}

// The temporary file a failed copy back names in its report, from the report's text.
std::string TemporaryPathIn(const std::string& report) {
    const size_t start = report.find(Temp());
    const size_t end = start == std::string::npos ? start : report.find(".tmp", start);
    return end == std::string::npos ? std::string() : report.substr(start, end + 4 - start);
}

// The copy of the merged list to the device is cut off in the middle, leaving a device file that
// cannot be read. The report names the temporary file, the only whole copy of the merged list: it
// stays through the next session, which fails on the damaged file, and goes once a session of the
// device succeeds.
TEST_F(PimSynchronizerTest, AFailedCopyBackKeepsTheMergedListUntilASessionSucceeds) {
    static HMODULE language = LoadLanguageLibrary(nullptr);
    ZvPhonebookFile device(1);
    device.Append(Contact("Device", "Only", "1").Clone());
    WritePhonebook(device);
    WriteAll(fixture_, "contact\tLastName=Pc\tFirstName=Only\tPhone=2\n");
    SetDeviceSetting("ImportsBeforeFailure", 0);
    auto failed = NewSink(), damaged = NewSink(), repaired = NewSink();
    bool keptThroughTheNextSession = false;
    std::string kept;
    std::vector<Session> sessions = RunSessions(
        CLSID_ZvSyncContacts10, {failed.Get(), damaged.Get(), repaired.Get()}, SSR_MANUAL_RESOLUTION,
        kAllPhases, nullptr, 120000, [&](size_t session, ZVSYNCPHASE phase) {
            if (phase != SPH_FINALIZE)
                return;
            if (session == 0) {
                // What a copy cut off after its first bytes leaves on the device.
                WriteAll(DevicePath("phonebook.dat"), std::string("#\x01", 2));
                SetDeviceSetting("ImportsBeforeFailure", MAXDWORD);
                if (!failed->Errors().empty())
                    kept = TemporaryPathIn(failed->Errors()[0]);
            } else if (session == 1) {
                keptThroughTheNextSession =
                    !kept.empty() && GetFileAttributesA(kept.c_str()) != INVALID_FILE_ATTRIBUTES;
                WritePhonebook(device);
            }
        });
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].results[6], E_FAIL);
    ASSERT_EQ(failed->Errors().size(), 1u);
    ASSERT_FALSE(kept.empty()) << failed->Errors()[0];
    EXPECT_EQ(sessions[1].results[2], E_FAIL);
    EXPECT_EQ(damaged->Errors().at(0), "error 1 " + LoadLanguageString(language, 12243));
    EXPECT_TRUE(keptThroughTheNextSession) << kept;
    ExpectAllSucceeded(sessions[2], repaired.Get());
    EXPECT_EQ(GetFileAttributesA(kept.c_str()), INVALID_FILE_ATTRIBUTES) << "gone once a session succeeded";
}

// Makes the synchronizer's copy waits give up after 1.5 s of silence instead of a minute, while
// `g_shortCopyWait` is set.
std::atomic<bool> g_shortCopyWait{false};
DWORD WINAPI ShortenedCopyWait(DWORD count, const HANDLE* handles, DWORD ms, DWORD mask, DWORD flags) {
    if (g_shortCopyWait && ms == 60000)
        ms = 1500;
    return MsgWaitForMultipleObjectsEx(count, handles, ms, mask, flags);
}

// The copy back outlasts its wait: the session reports it failed, and it has really ended (it was
// cancelled and awaited) by then, so that it neither writes the device file afterwards nor reads a
// temporary file a later reset removes.
TEST_F(PimSynchronizerTest, ACopyThatOutlastsItsWaitIsCancelledAndAwaited) {
    tv::test::ImportPatch shortWait(library_.Get(), "user32.dll", "MsgWaitForMultipleObjectsEx",
                                    reinterpret_cast<void*>(&ShortenedCopyWait));
    ASSERT_TRUE(shortWait.Applied());
    ZvPhonebookFile device(1);
    device.Append(Contact("Device", "Only", "1").Clone());
    WritePhonebook(device);
    const std::string before = ReadAll(DevicePath("phonebook.dat"));
    WriteAll(fixture_, "contact\tLastName=Pc\tFirstName=Only\tPhone=2\n");
    std::string id = kDeviceId, delay = "delay 4000";
    LONG length = 0;
    LPSTR response = nullptr;
    ASSERT_HRESULT_SUCCEEDED(served_.Hub()->Command(id.data(), delay.data(), &length, &response));
    CoTaskMemFree(response);
    auto sink = NewSink();
    std::string afterTheDelay;
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION,
                          {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER, SPH_FINALIZE},
                          nullptr, 120000, [&](ZVSYNCPHASE phase) {
                              if (phase == SPH_SYNCHRONIZE_TRANSFER)
                                  g_shortCopyWait = true;
                              if (phase != SPH_FINALIZE)
                                  return;
                              g_shortCopyWait = false;
                              // Longer than the device's delay, with the object and its file still there.
                              const ULONGLONG end = GetTickCount64() + 5000;
                              while (GetTickCount64() < end) {
                                  MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
                                  MSG message;
                                  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                                      DispatchMessageW(&message);
                              }
                              afterTheDelay = ReadAll(DevicePath("phonebook.dat"));
                          });
    g_shortCopyWait = false;
    ASSERT_EQ(session.results.size(), 6u);
    EXPECT_EQ(session.results[5], E_FAIL);
    ASSERT_EQ(sink->Errors().size(), 1u);
    EXPECT_EQ(sink->Errors()[0].rfind("error 5 ", 0), 0u) << sink->Errors()[0];
    EXPECT_EQ(afterTheDelay, before) << "the copy reported failed went on and wrote the device file";
    DeleteFileA(TemporaryPathIn(sink->Errors()[0]).c_str()); // kept for the user after the failure
}

// The options choose the device folder of the file: stored as "<folder>;" under the device's key
// and used by the next session.
TEST_F(PimSynchronizerTest, TheOptionsChooseTheDeviceFolder) {
    const std::string key = "Software\\Zelvan\\Tavrilon\\DeviceList\\" + std::string(kDeviceId);
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &created), ERROR_SUCCESS);
    RegCloseKey(created);
    std::string labels;
    std::thread answerer([&] {
        HWND dialog = test::WaitForWindow(L"#32770", L"Synchronization options", 30000);
        if (!dialog)
            return;
        char first[64] = {}, second[64] = {};
        GetDlgItemTextA(dialog, 14058, first, sizeof(first));
        GetDlgItemTextA(dialog, 14059, second, sizeof(second));
        labels = std::string(first) + "|" + second;
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(200);
        test::SaveScreenshot(test::ExeFolder() + L"\\pimsync_options_dialog.bmp");
        const int other = std::string(first) == "Other" ? 14058 : 14059;
        SendDlgItemMessageA(dialog, 14058, BM_SETCHECK, other == 14058 ? BST_CHECKED : BST_UNCHECKED, 0);
        SendDlgItemMessageA(dialog, 14059, BM_SETCHECK, other == 14059 ? BST_CHECKED : BST_UNCHECKED, 0);
        test::ClickButton(dialog, IDOK);
    });
    auto owner = NewSink();
    Run(CLSID_ZvSyncContacts10, owner.Get(), SSR_MANUAL_RESOLUTION, {}, [](IZvSynchronizer* sync) {
        std::string id = kDeviceId;
        EXPECT_EQ(sync->Tune(id.data()), S_OK);
    });
    answerer.join();
    EXPECT_TRUE(labels == "Device Flash|Other" || labels == "Other|Device Flash") << labels;
    char stored[64] = {};
    DWORD size = sizeof(stored);
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "{1798FB29-8250-48EA-B9E2-0AD6C3294988}", RRF_RT_REG_SZ,
                           nullptr, stored, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(stored, "Other;");

    ZvPhonebookFile other(1);
    other.Append(Contact("In", "Other", "1").Clone());
    ASSERT_TRUE(other.WriteFile(root_ + "\\devices\\PIMSA\\Other\\phonebook.dat"));
    auto sink = NewSink();
    Session session = Run(CLSID_ZvSyncContacts10, sink.Get());
    ExpectAllSucceeded(session, sink.Get());
    EXPECT_NE(ReadAll(dump_).find("LastName=In"), std::string::npos);
}

// What one call that leaves the process costs, by its kind, in seconds. Under the runtime a call
// that brings back an interface pointer the process did not hold costs several plain calls: the
// pointer is marshalled in the application and a proxy made for it here, and for the
// application's dual interfaces both are built from its type library.
struct CallCosts {
    double plain = 0;        // a call that brings back no interface pointer
    double newObject = 0;    // one that brings back a new object through IDispatch
    double newInterface = 0; // one that brings back a dual interface pointer not held before
};

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

double SecondsEach(LARGE_INTEGER start, LARGE_INTEGER end, int calls) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart / calls;
}

// Probes each kind on the contacts folder: its count many times over; its first items, each a new
// object; the contact interface of each of them. The release of what was fetched is not timed.
CallCosts ProbeCallCosts() {
    CallCosts costs;
    com::ComPtr<IUnknown> application, items;
    EXPECT_HRESULT_SUCCEEDED(AttachMailApp(application));
    EXPECT_HRESULT_SUCCEEDED(OpenDefaultFolderItems(application.Get(), 10, items));
    if (!items)
        return costs;
    long count = 0;
    ItemCount(items.Get(), count); // the first call may set up the channel
    constexpr int kCalls = 1000;
    LARGE_INTEGER start = Now();
    for (int i = 0; i < kCalls; ++i)
        ItemCount(items.Get(), count);
    costs.plain = SecondsEach(start, Now(), kCalls);
    constexpr int kItems = 150;
    EXPECT_GE(count, kItems);
    std::vector<com::ComPtr<IDispatch>> fetched(kItems);
    start = Now();
    for (int i = 0; i < kItems; ++i)
        EXPECT_HRESULT_SUCCEEDED(ItemAt(items.Get(), i + 1, fetched[i]));
    costs.newObject = SecondsEach(start, Now(), kItems);
    std::vector<com::ComPtr<IUnknown>> contacts(kItems);
    start = Now();
    for (int i = 0; i < kItems; ++i) {
        if (!fetched[i])
            continue;
        EXPECT_HRESULT_SUCCEEDED(
            fetched[i]->QueryInterface(kContactItems.iid, reinterpret_cast<void**>(&contacts[i])));
    }
    costs.newInterface = SecondsEach(start, Now(), kItems);
    return costs;
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The benchmark's sink: it probes the call costs when the transfer has reached each of `marks`
// contacts, on the session's thread, and keeps the probes' own time and calls so that they can be
// taken out of the transfer's. Errors are kept.
class ProbingSink : public com::ComObject<ProbingSink, IZvSyncCallback> {
  public:
    std::vector<ULONG> marks;
    std::vector<CallCosts> probes;
    double probeSeconds = 0;
    long probeCalls = 0;
    std::vector<std::string> errors;

    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done,
                          ULONG) override {
        if (phase != SPH_SYNCHRONIZE_TRANSFER || status != SST_UPDATE || next_ >= marks.size() ||
            done < marks[next_])
            return S_OK;
        ++next_;
        const long calls = g_outgoingCalls;
        const LARGE_INTEGER start = Now();
        probes.push_back(ProbeCallCosts());
        probeSeconds += SecondsEach(start, Now(), 1);
        probeCalls += g_outgoingCalls - calls;
        return S_OK;
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS, LPSTR, ULONG, ULONG) override {
        return S_OK;
    }
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) override {
        errors.push_back("error " + std::to_string(phase) + " " + (text ? text : ""));
        return S_OK;
    }

  private:
    size_t next_ = 0;
};

// The transfer of 1000 contacts from the application to the device, against the bound of the calls
// any reader of the application must make, each at the cost of its kind. Per contact it must fetch
// the item (a new object through IDispatch), its contact interface, its user-property collection
// (a new object through IDispatch, then its interface) and each property the item stores (here its
// "ZvID", brought back through its interface); every other call counted is taken as a plain one.
// The load of the machine changes while it runs, so the transfer is made in a few rounds (sessions
// from the same empty device file) and the costs are probed right before each transfer, at each
// quarter of it (the probes' time and calls taken out of the transfer's) and right after it, while
// the session holds the application; the figure takes the median round and the median probe of
// each kind.
TEST_F(PimSynchronizerTest, BenchmarkTransferOf1000Contacts) {
    static CallCounter counter;
    ASSERT_HRESULT_SUCCEEDED(CoRegisterChannelHook(kCountingExtension, &counter));
    constexpr int kContacts = 1000;
    constexpr int kRounds = 3;
    constexpr int kNewObjectsPerContact = 2;    // the item, its user-property collection
    constexpr int kNewInterfacesPerContact = 3; // theirs, and the stored property's
    std::string fixture;
    for (int i = 0; i < kContacts; ++i)
        fixture += "contact\tLastName=Last" + std::to_string(i) + "\tFirstName=First\tPhone=" + std::to_string(100000 + i) +
                   "\tEmail=person" + std::to_string(i) + "@example.org\t@ZvID=" + ::pimsync::EncodeDeviceId(i + 1) + "\n";
    WriteAll(fixture_, fixture);
    std::vector<double> plain, newObject, newInterface, transfers;
    std::vector<long> calls;
    for (int round = 0; round < kRounds; ++round) {
        WritePhonebook(ZvPhonebookFile(1));
        com::ComPtr<ProbingSink> sink;
        ASSERT_HRESULT_SUCCEEDED(com::MakeComObject(sink));
        sink->marks = {kContacts / 4, kContacts / 2, kContacts * 3 / 4};
        std::vector<CallCosts> outside;
        Session session =
            Run(CLSID_ZvSyncContacts10, sink.Get(), SSR_MANUAL_RESOLUTION,
                {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER, SPH_FINALIZE}, nullptr,
                120000, [&](ZVSYNCPHASE phase) {
                    if (phase == SPH_SYNCHRONIZE_ESTIMATE || phase == SPH_SYNCHRONIZE_TRANSFER)
                        outside.push_back(ProbeCallCosts());
                });
        ASSERT_EQ(session.results.size(), 6u);
        for (HRESULT hr : session.results)
            EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(sink->errors.empty()) << ::testing::PrintToString(sink->errors);
        ASSERT_EQ(session.seconds.size(), 4u);
        ASSERT_EQ(outside.size(), 2u);
        ASSERT_EQ(sink->probes.size(), 3u);
        EXPECT_EQ(ReadPhonebook()->Count(), static_cast<size_t>(kContacts));
        transfers.push_back(session.seconds[2] - sink->probeSeconds);
        calls.push_back(session.calls[2] - sink->probeCalls);
        std::vector<CallCosts> probes = {outside[0]};
        probes.insert(probes.end(), sink->probes.begin(), sink->probes.end());
        probes.push_back(outside[1]);
        std::string costs;
        for (const CallCosts& probe : probes) {
            plain.push_back(probe.plain);
            newObject.push_back(probe.newObject);
            newInterface.push_back(probe.newInterface);
            char text[64];
            std::snprintf(text, sizeof(text), " %.0f/%.0f/%.0f", probe.plain * 1e6, probe.newObject * 1e6,
                          probe.newInterface * 1e6);
            costs += text;
        }
        std::printf("round %d: transfer %.3f s, %ld calls (the probes inside it taken out); call costs in us "
                    "(plain/new object/new interface):%s\n",
                    round + 1, transfers.back(), calls.back(), costs.c_str());
    }
    const double transfer = Median(transfers);
    const CallCosts cost = {Median(plain), Median(newObject), Median(newInterface)};
    const double callsPerContact = static_cast<double>(Median(calls)) / kContacts;
    const double plainPerContact = callsPerContact - kNewObjectsPerContact - kNewInterfacesPerContact;
    const double bound = kContacts * (plainPerContact * cost.plain + kNewObjectsPerContact * cost.newObject +
                                      kNewInterfacesPerContact * cost.newInterface);
    std::printf(
        "contacts transfer: 1000 contacts in %.3f s, %.1f calls per contact: %.1f plain x %.1f us + %d new "
        "objects x %.1f us + %d new interfaces x %.1f us = %.3f s; ratio %.2f (goal <= 1.2)\n",
        transfer, callsPerContact, plainPerContact, cost.plain * 1e6, kNewObjectsPerContact,
        cost.newObject * 1e6, kNewInterfacesPerContact, cost.newInterface * 1e6, bound, transfer / bound);
    EXPECT_GT(plainPerContact, 5.0) << "the calls were not counted";
}

} // namespace
} // namespace tv::pimsync
