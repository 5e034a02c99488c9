// Backup and restore of an emulated 1.5 device in the running program: the emulator plugs the
// device through the test USB driver, the program (started by COM) finds it through the real
// factory, and the wizard that the tray's command opens backs it up and restores it. The device's
// folder is read from the PC side (drive Z:) before and after. The set keeps every file's time as
// the device lists it; the restore gives back names and bytes, but not times: a file reaches the
// device with "rcv", which carries its path and size only, and no console command sets a file's
// time, so a restored file has the time of its writing. A cancel in the middle of a backup leaves
// no set; a cancel in the middle of a restore leaves a device that lists and copies.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "ComPtr.h"
#include "FileClass.h"
#include "E2eSupport.h"
#include "ProgramWizard.h"
#include "AnsiText.h"
#include "CapArchive.h"
#include "ZelvanMgr.h"
#include "ZvBackupMgr.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>
#include <map>
#include <thread>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;
using devlink15::test::SharedEmulator;
using test::FileTree;

constexpr int kSlot = 0;
constexpr UINT kBackUpCommand = 0x4500; // the tray's back-up command of the first device
const CLSID kBackuper = {0x836a58b4, 0x75b1, 0x4717, {0x81, 0x79, 0xe4, 0x5d, 0xc5, 0xc3, 0xfc, 0x79}};
const char kDeviceId[] = "BKP15DEVICE1";
const char kShortId[] = "BKP0015";
const char kStrId[] = "@BKP0015";
const char kName[] = "Backup15";
const char kMarker[] = "System\\backup.dat";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void Shot(const std::string& name) {
    test::SaveScreenshot(OutputFolder() + L"\\backup15_" + test::Widen(name) + L".bmp");
}

// The tree without the backup marker (the backup adds it; a restore writes it anew).
FileTree WithoutMarker(FileTree tree) {
    tree.erase(kMarker);
    return tree;
}

// The stored time of every entry of a set (seconds since 1970) by its name below the volume
// ("docs\\a.txt"); empty when the set cannot be read.
std::map<std::string, uint64_t> SetEntryTimes(const std::string& setPath) {
    std::map<std::string, uint64_t> times;
    ComPtr<ICapArchive> archive;
    ComPtr<ICapPackage> package;
    com::UniqueBstr path = com::AnsiToUniqueBstr(setPath);
    long count = 0;
    if (FAILED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                                reinterpret_cast<void**>(&archive))) ||
        FAILED(archive->Load(path.Get(), &package)) || !package || FAILED(package->get_Count(&count)))
        return times;
    for (long i = 0; i < count; ++i) {
        ComPtr<ICapItem> item;
        ComPtr<ICapFileItem> file;
        com::UniqueBstr name;
        long seconds = 0;
        if (FAILED(package->get_Item(i, &item)) || !item ||
            FAILED(item->QueryInterface(__uuidof(ICapFileItem), reinterpret_cast<void**>(&file))) ||
            FAILED(file->get_Name(name.Put())) || FAILED(file->get_StoredLong(&seconds)))
            continue;
        const std::string text = com::ToAnsi(name.Get());
        const size_t volumeEnd = text.find('\\');
        if (volumeEnd != std::string::npos)
            times[text.substr(volumeEnd + 1)] = static_cast<uint32_t>(seconds);
    }
    return times;
}

// A device file's time as the device lists it: its local time to the minute, taken as it stands.
uint64_t ListedSeconds(uint64_t unixSeconds) {
    const uint64_t ticks = unixSeconds * 10000000 + 116444736000000000ull;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    FILETIME listed{};
    if (!FileTimeToSystemTime(&time, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return 0;
    local.wSecond = local.wMilliseconds = 0;
    SystemTimeToFileTime(&local, &listed);
    return ((static_cast<uint64_t>(listed.dwHighDateTime) << 32 | listed.dwLowDateTime) - 116444736000000000ull) /
           10000000;
}

// One program and one plugged device for the whole suite; the tests run in order and each starts
// from what the one before left.
class Backup15EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        problem_ = SharedEmulator().Problem();
        if (!problem_.empty())
            return;
        testDeviceRoot_ = UseOnlyEmulatedDevice("tvbackup15", kRegistration, kName);
        SetUserNumber(kRegistration, "DisconnectionAlert", 0);
        StoreScript(L"DeviceEvents", nullptr); // no connect-time offer
        // The sets of this run go to a folder of their own below the documents folder.
        sets_ = UseNewSetFolder("tvbackup15");
        if (sets_.empty()) {
            problem_ = "no folder for the sets";
            return;
        }

        // The device: files of every class in folders and in the volume's root.
        volume_ = Narrow(SharedEmulator().VolumeWindowsPath(kSlot));
        const std::string slot = volume_.substr(0, volume_.rfind('\\'));
        for (const std::string& folder : {slot, volume_, volume_ + "\\docs", volume_ + "\\docs\\old",
                                          volume_ + "\\music", volume_ + "\\apps"})
            CreateDirectoryA(folder.c_str(), nullptr);
        const auto bytes = [](size_t size, unsigned seed) {
            const std::vector<uint8_t> pattern = test::Pattern(size, seed);
            return std::string(pattern.begin(), pattern.end());
        };
        struct Seed {
            const char* path;
            size_t size;
            uint64_t time;
        };
        for (const Seed& seed : {Seed{"docs\\a.txt", 700, 1200000000}, Seed{"docs\\old\\b.txt", 50, 1210000000},
                                 Seed{"music\\song.mp3", 90000, 1300000000}, Seed{"apps\\game.app", 3000, 1400000000},
                                 Seed{"notes.txt", 0, 1500000000}, Seed{"settings.cfg", 120, 1510000000}}) {
            ASSERT_TRUE(test::WriteTimedFile(volume_ + "\\" + seed.path,
                                             bytes(seed.size, static_cast<unsigned>(seed.time % 97)), seed.time));
        }
        plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kShortId, "system=1") >= 0;
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty()) {
            SharedEmulator().Unplug(kSlot, kDeviceId);
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
            RemoveSetFolder(sets_);
        }
        CoUninitialize();
    }
    void SetUp() override {
        if (!problem_.empty()) {
            if (devlink15::test::DevicesRequired())
                FAIL() << problem_;
            GTEST_SKIP() << problem_;
        }
        ASSERT_TRUE(plugged_);
        if (!program_.MainDialog()) {
            hub_ = ConnectHub();
            ASSERT_TRUE(hub_);
            ASSERT_TRUE(program_.Attach(30000));
            ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 30000));
        }
        hub_ = ConnectHub();
        ASSERT_TRUE(hub_);
    }
    void TearDown() override {
        SharedEmulator().Request("clear " + std::to_string(kSlot));
        // The next wizard finds the hub free.
        EXPECT_TRUE(test::WaitUntilHubFree(hub_.Get()));
        hub_.Reset();
    }

    test::ProgramWizard Wizard() const { return test::ProgramWizard(program_.MainDialog(), kBackUpCommand, Shot); }
    static std::vector<std::string> SetFiles() { return test::SetFilesIn(sets_); }
    // Every console command of the device waits that long before it runs.
    static void SlowDown(int ms) {
        SharedEmulator().Request("fault " + std::to_string(kSlot) + " delay=" + std::to_string(ms) + " count=100000");
    }
    // Changes, adds and deletes files on the device behind the program's back.
    void ChangeTheDevice() {
        ASSERT_TRUE(test::WriteTimedFile(volume_ + "\\docs\\a.txt", "changed on the device", 1600000000));
        ASSERT_TRUE(DeleteFileA((volume_ + "\\docs\\old\\b.txt").c_str()));
        ASSERT_TRUE(DeleteFileA((volume_ + "\\music\\song.mp3").c_str()));
        hub_->Refresh();
    }

    static std::string problem_, testDeviceRoot_, sets_, volume_;
    static bool plugged_;
    static ComStartedProgram program_;
    static FileTree backedUp_;
    ComPtr<IZelvanMgr> hub_;
};
std::string Backup15EndToEnd::problem_;
std::string Backup15EndToEnd::testDeviceRoot_;
std::string Backup15EndToEnd::sets_;
std::string Backup15EndToEnd::volume_;
bool Backup15EndToEnd::plugged_ = false;
ComStartedProgram Backup15EndToEnd::program_;
FileTree Backup15EndToEnd::backedUp_;

TEST_F(Backup15EndToEnd, TheWizardBacksUpTheDeviceAndRestoresItsFilesAndBytes) {
    const FileTree before = test::ReadFileTree(volume_);
    ASSERT_EQ(before.size(), 6u);
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartBackup(user, "first set", "backup"));
        ASSERT_TRUE(Wizard().Finish(user, "backup"));
    }
    EXPECT_EQ(SetFiles(), std::vector<std::string>{"first set.zbk"});
    backedUp_ = test::ReadFileTree(volume_);
    // The backup changed nothing on the device but its marker.
    EXPECT_TRUE(backedUp_.count(kMarker));
    EXPECT_EQ(test::TreeDifferences(before, WithoutMarker(backedUp_)), "");
    // The set holds every file with its time as listed.
    const std::map<std::string, uint64_t> times = SetEntryTimes(sets_ + "\\first set.zbk");
    EXPECT_EQ(times.size(), before.size());
    for (const auto& [name, state] : before) {
        const auto stored = times.find(name);
        ASSERT_NE(stored, times.end()) << name;
        EXPECT_EQ(stored->second, ListedSeconds(state.seconds - 11644473600ull)) << name;
    }

    ChangeTheDevice();
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore"));
        ASSERT_TRUE(Wizard().Finish(user, "restore"));
    }
    const FileTree restored = test::ReadFileTree(volume_);
    EXPECT_EQ(
        test::TreeDifferences(test::BytesOnly(WithoutMarker(backedUp_)), test::BytesOnly(WithoutMarker(restored))), "");
    EXPECT_TRUE(restored.count(kMarker));
}

// Answers the offer titled `caption` from a thread of its own: the button, with or without "do
// not offer again"; `seen` tells whether it came.
std::thread Answer(const std::wstring& caption, int button, bool silence, bool& seen) {
    return std::thread([=, &seen] {
        HWND offer = test::WaitForWindow(L"#32770", caption.c_str(), 30000);
        seen = offer != nullptr;
        if (!offer)
            return;
        Shot(button == IDOK ? "offer_taken" : "offer");
        if (silence)
            SendDlgItemMessageW(offer, IDC_BACKUP_NO_BACKUP_OFFER, BM_SETCHECK, BST_CHECKED, 0);
        test::ClickButton(offer, button);
    });
}

DWORD StoredFlags() {
    DWORD flags = 0, size = sizeof(flags);
    RegGetValueA(HKEY_CURRENT_USER, kRegistration.c_str(), "BackupFlags", RRF_RT_REG_DWORD, nullptr, &flags, &size);
    return flags;
}

TEST_F(Backup15EndToEnd, CheckDeviceOffersARestoreOnlyWhenTheMarkerIsGoneAndASetIsThere) {
    ASSERT_FALSE(backedUp_.empty());
    constexpr DWORD kNoRestoreOffer = 0x20;
    ComPtr<IZvBackupMgrDisp> manager;
    ASSERT_EQ(CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackupMgrDisp),
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    com::UniqueBstr device = com::AnsiToUniqueBstr(kStrId);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kRegistration.c_str(), "BackupFlags");
    const std::wstring backupCaption = L"Back up " + test::Widen(kName);
    const std::wstring restoreCaption = L"Restore " + test::Widen(kName);
    const std::string marker = volume_ + "\\" + kMarker;
    const std::string set = sets_ + "\\first set.zbk", setAway = sets_ + "\\first set.away";
    // One CheckDevice while the offer titled `caption` is answered; whether it came.
    const auto check = [&](const std::wstring& caption, int button, bool silence) {
        bool seen = false;
        std::thread user = Answer(caption, button, silence, seen);
        EXPECT_EQ(manager->CheckDevice(device.Get()), S_OK);
        user.join();
        return seen;
    };

    // The marker is there: the device is as backed up, a backup is offered.
    ASSERT_TRUE(test::FileExists(test::Widen(marker)));
    EXPECT_TRUE(check(backupCaption, IDCANCEL, false));

    // No marker but a set of the device: a restore is offered; "do not offer again" is kept.
    ASSERT_TRUE(DeleteFileA(marker.c_str()));
    hub_->Refresh();
    EXPECT_TRUE(check(restoreCaption, IDCANCEL, true));
    EXPECT_EQ(StoredFlags() & kNoRestoreOffer, kNoRestoreOffer);
    // Silenced, the restore gives way to the backup offer.
    EXPECT_TRUE(check(backupCaption, IDCANCEL, false));
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kRegistration.c_str(), "BackupFlags");

    // No marker and no set of the device: nothing to restore from, a backup is offered.
    ASSERT_TRUE(MoveFileA(set.c_str(), setAway.c_str()));
    EXPECT_TRUE(check(backupCaption, IDCANCEL, false));
    ASSERT_TRUE(MoveFileA(setAway.c_str(), set.c_str()));

    // The restore offer taken: the wizard restores the set.
    ChangeTheDevice();
    bool seen = false;
    std::thread user = Answer(restoreCaption, IDOK, false, seen);
    std::thread wizard([&] {
        test::WizardUser driver;
        if (!driver.Find() || !driver.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE))
            return;
        driver.Press(PSBTN_NEXT);
        if (!driver.WaitForPageWith(IDC_BACKUP_SET_LIST))
            return;
        driver.Press(PSBTN_NEXT);
        if (!driver.WaitForPageWith(IDC_BACKUP_APPS))
            return;
        driver.Press(PSBTN_NEXT);
        if (driver.WaitForPageWith(IDC_BACKUP_BAR))
            EXPECT_TRUE(Wizard().Finish(driver, "offered_restore"));
        else
            driver.Press(PSBTN_CANCEL);
    });
    EXPECT_EQ(manager->CheckDevice(device.Get()), S_OK);
    user.join();
    wizard.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(test::TreeDifferences(test::BytesOnly(WithoutMarker(backedUp_)),
                                      test::BytesOnly(WithoutMarker(test::ReadFileTree(volume_)))), "");
    EXPECT_TRUE(test::FileExists(test::Widen(marker)));
}

TEST_F(Backup15EndToEnd, ACancelInTheMiddleOfABackupLeavesNoSet) {
    ASSERT_FALSE(backedUp_.empty());
    const FileTree before = test::ReadFileTree(volume_);
    SlowDown(150);
    std::string status;
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartBackup(user, "cancelled set", "backup_cancel"));
        ASSERT_TRUE(Wizard().CancelInTheMiddle(user, "backup_cancel", status));
    }
    EXPECT_NE(status.find("cancelled"), std::string::npos) << status;
    // Only the earlier set is there, and no file of the cancelled one under any name.
    EXPECT_EQ(SetFiles(), std::vector<std::string>{"first set.zbk"});
    EXPECT_EQ(GetFileAttributesA((sets_ + "\\cancelled set.zbk").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(test::TreeDifferences(WithoutMarker(before), WithoutMarker(test::ReadFileTree(volume_))), "");
}

TEST_F(Backup15EndToEnd, ACancelInTheMiddleOfARestoreLeavesTheDeviceUsable) {
    ASSERT_FALSE(backedUp_.empty());
    ChangeTheDevice();
    SlowDown(150);
    std::string status;
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore_cancel"));
        ASSERT_TRUE(Wizard().CancelInTheMiddle(user, "restore_cancel", status));
    }
    EXPECT_NE(status.find("cancelled"), std::string::npos) << status;
    SharedEmulator().Request("clear " + std::to_string(kSlot));

    // The device lists, and a file copies off it with its bytes.
    std::string folder = std::string(kName) + "\\Main\\docs";
    const std::vector<std::string> names = test::ListedNames(hub_.Get(), folder);
    EXPECT_NE(std::find(names.begin(), names.end(), "a.txt"), names.end());
    ComPtr<RecordingCallback> callback;
    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    const std::string exported = Narrow(SharedEmulator().ScratchWindowsPath()) + "\\a-after-cancel.txt";
    std::string source = folder + "\\a.txt";
    LPSTR sources[] = {source.data()}, targets[] = {const_cast<LPSTR>(exported.c_str())};
    ASSERT_EQ(hub_->CopyFileItems(1, MAX_PATH, sources, targets, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(ReadFile(exported), ReadFile(volume_ + "\\docs\\a.txt"));

    // And a whole restore afterwards gives back the backup.
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore_again"));
        ASSERT_TRUE(Wizard().Finish(user, "restore_again"));
    }
    EXPECT_EQ(test::TreeDifferences(test::BytesOnly(WithoutMarker(backedUp_)),
                                      test::BytesOnly(WithoutMarker(test::ReadFileTree(volume_)))), "");
}


// Waits for the end of a hub operation; its calls into this thread are answered as they come.
class OperationEnd : public com::ComObject<OperationEnd, IZvFileOperationCallback> {
public:
    com::UniqueHandle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    long failures = 0, completed = 0;
    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR, LONG code) override {
        failures += code != 0;
        ++completed;
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    bool Wait(DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        HANDLE event = done.Get();
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeoutMs)
                return false;
            if (MsgWaitForMultipleObjects(1, &event, FALSE, timeoutMs - elapsed, QS_ALLINPUT) == WAIT_OBJECT_0)
                return true;
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }
};

// The device backuper run on a thread of its own, as the wizard's worker runs it; the result.
HRESULT RunBackuper(bool backup, const std::string& setFile) {
    HRESULT result = E_UNEXPECTED;
    std::thread worker([&] {
        com::ComApartment apartment;
        ComPtr<IZvBackuper> backuper;
        result = CoCreateInstance(kBackuper, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackuper),
                                  reinterpret_cast<void**>(&backuper));
        if (FAILED(result))
            return;
        com::UniqueBstr device = com::AnsiToUniqueBstr(kStrId);
        com::UniqueBstr file = com::AnsiToUniqueBstr(setFile);
        result = backuper->Run(backup ? 1 : 0, device.Get(), file.Get(), backup::kFileClasses);
    });
    worker.join();
    return result;
}

double MsSince(const LARGE_INTEGER& begin) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (now.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// The device holds 16 MiB in 200 files and nothing else. The backup and the restore of the
// backuper are timed against an export of the same files through the hub in the same run. Each
// file pays the port object's fixed pauses and a progress call per 256 bytes, and the whole run
// takes tens of minutes under Wine: the case runs only when asked for
// (--gtest_also_run_disabled_tests), as tools/bench/backup15.sh does.
TEST_F(Backup15EndToEnd, DISABLED_BenchmarkBackupAndRestoreAgainstAnExport) {
    constexpr int kFiles = 200;
    constexpr size_t kSize = 16 * 1024 * 1024 / kFiles;
    for (const char* file : {"docs\\a.txt", "docs\\old\\b.txt", "music\\song.mp3", "apps\\game.app", "notes.txt",
                             "settings.cfg", kMarker})
        DeleteFileA((volume_ + "\\" + file).c_str());
    for (const char* folder : {"docs\\old", "docs", "music", "apps"})
        RemoveDirectoryA((volume_ + "\\" + folder).c_str());
    CreateDirectoryA((volume_ + "\\bench").c_str(), nullptr);
    const std::string scratch = Narrow(SharedEmulator().ScratchWindowsPath());
    const std::string exported = scratch + "\\export";
    CreateDirectoryA(exported.c_str(), nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        // A quarter of each file is noise, the rest text: neither all alike nor incompressible.
        const std::vector<uint8_t> noise = test::Pattern(kSize / 4, static_cast<unsigned>(i + 1));
        std::string bytes(noise.begin(), noise.end());
        while (bytes.size() < kSize)
            bytes += "line " + std::to_string(bytes.size() * 7 % 1000 + i) + " of the benchmark file\n";
        bytes.resize(kSize);
        names.push_back("f" + std::to_string(1000 + i) + ".bin");
        ASSERT_TRUE(test::WriteTimedFile(volume_ + "\\bench\\" + names.back(), bytes, 1400000000 + i));
    }
    hub_->Refresh();

    // The export: every file through the hub into a PC folder.
    std::vector<std::string> sources, targets;
    for (const std::string& name : names) {
        sources.push_back(std::string(kName) + "\\Main\\bench\\" + name);
        targets.push_back(exported + "\\" + name);
    }
    std::vector<LPSTR> from, to;
    for (size_t i = 0; i < names.size(); ++i) {
        from.push_back(sources[i].data());
        to.push_back(targets[i].data());
    }
    ComPtr<OperationEnd> end;
    ASSERT_EQ(com::MakeComObject(end), S_OK);
    LARGE_INTEGER begin = Now();
    ASSERT_EQ(hub_->CopyFileItems(kFiles, MAX_PATH, from.data(), to.data(), end.Get()), S_OK);
    ASSERT_TRUE(end->Wait(3600000)) << end->completed << " files exported";
    const double exportMs = MsSince(begin);
    ASSERT_EQ(end->failures, 0);

    // The backup and the restore of the whole device.
    CreateDirectoryA(sets_.c_str(), nullptr); // when the case runs alone, no wizard made it
    const std::string setFile = sets_ + "\\bench.zbk";
    begin = Now();
    ASSERT_EQ(RunBackuper(true, setFile), S_OK);
    const double backupMs = MsSince(begin);
    // The restore onto a device whose files are gone (no question whether to replace them).
    for (const std::string& name : names)
        DeleteFileA((volume_ + "\\bench\\" + name).c_str());
    hub_->Refresh();
    begin = Now();
    ASSERT_EQ(RunBackuper(false, setFile), S_OK);
    const double restoreMs = MsSince(begin);
    EXPECT_EQ(ReadFile(volume_ + "\\bench\\" + names[7]), ReadFile(exported + "\\" + names[7]));
    std::printf("backup %.0f ms, restore %.0f ms, export %.0f ms of %d files, %zu bytes each\n", backupMs, restoreMs,
                exportMs, kFiles, kSize);
    std::printf("benchmark backup_15_vs_export: ratio %.2f (goal <= 1.3)\n", backupMs / exportMs);
    std::printf("benchmark restore_15_vs_export: ratio %.2f (goal <= 1.3)\n", restoreMs / exportMs);
}

} // namespace
} // namespace tv::e2e
