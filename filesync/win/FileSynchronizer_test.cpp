// The file synchronizers of ZvSyncFiles10.dll driven phase by phase, as the manager drives them,
// against a served hub whose test devices keep their files in folders: new, changed and deleted
// files both ways, conflicts by each rule and by the dialog, masks, no room, cancel, and a second
// session that finds nothing to do.
#include "AnsiText.h"
#include "ComObject.h"
#include "FileSyncIds.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "TestDeviceIds.h"
#include "UiHarness.h"
#include "testing/FileAge.h"
#include "testing/UndeletableKey.h"
#include "ZvSyncFiles10.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using tv::com::ComPtr;
using tv::filesync::testing::Age;
using tv::com::FromAnsi;

constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";

struct Report {
    ZVSYNCPHASE phase;
    ZVSYNCSTATUS status; // 0 for an error
    ULONG done, total;
    std::string error; // the error's text, or a custom update's
};

class Sink : public tv::com::ComObject<Sink, IZvSyncCallback> {
public:
    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total) override {
        return Take({phase, status, done, total, {}});
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, LPSTR text,
                                ULONG done, ULONG total) override {
        return Take({phase, status, done, total, text ? text : ""});
    }
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) override {
        return Take({phase, static_cast<ZVSYNCSTATUS>(0), 0, 0, text ? text : ""});
    }
    std::vector<Report> reports;
    // Called with each report as it arrives (a test acting while a phase runs).
    std::function<void(const Report&)> onReport;

  private:
    HRESULT Take(Report report) {
        reports.push_back(report);
        if (onReport)
            onReport(reports.back());
        return S_OK;
    }
};

void SetNumber(const std::string& key, const char* name, DWORD value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}
void SetText(const std::string& key, const char* name, const std::string& value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "<missing>";
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Text(UINT id) {
    static HMODULE language = tv::LoadLanguageLibrary(nullptr);
    return tv::LoadLanguageString(language, id);
}

// A language-library pattern with one argument filled in.
template <class Argument> std::string Formatted(UINT id, Argument argument) {
    char text[1024] = {};
    std::snprintf(text, sizeof(text), Text(id).c_str(), argument);
    return text;
}

// Files named as no PC file may be (a device name, a trailing dot) are made and listed through
// the "\\?\" form of a path, which takes every name as it stands.
bool WriteRawFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileW((L"\\\\?\\" + FromAnsi(path)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}
std::vector<std::string> RawListing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((L"\\\\?\\" + FromAnsi(folder) + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(std::string(name.begin(), name.end()));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}
bool DeleteRawFile(const std::string& path) {
    return DeleteFileW((L"\\\\?\\" + FromAnsi(path)).c_str()) != FALSE;
}

FILETIME WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

class FileSyncTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof(temp), temp);
        base_ = std::string(temp) + "zvsyncfiles_test";
        tv::test::DeleteTree(FromAnsi(base_));
        CreateDirectoryA(base_.c_str(), nullptr);
        CreateDirectoryA((base_ + "\\devices").c_str(), nullptr);
        for (const char* device : {"F15", "F10"})
            CreateDirectoryA((base_ + "\\devices\\" + device).c_str(), nullptr);
        SetNumber(std::string(tv::tests::kTestDeviceSettingsKey) + "\\F10", "ModelVersion", 16);
        hub_ = new tv::test::ServedHub;
        ASSERT_HRESULT_SUCCEEDED(hub_->Start(base_ + "\\devices"));
        ASSERT_TRUE(tv::test::PollUntil(
            [] {
                unsigned char name[64] = {};
                return hub_->Hub() && SUCCEEDED(hub_->Hub()->GetDeviceNameByID(const_cast<LPSTR>("@TDF10"),
                                                                                  sizeof(name), name));
            },
            10000));
    }
    static void TearDownTestSuite() {
        hub_->Stop();
        delete hub_;
        RegDeleteTreeA(HKEY_CURRENT_USER, tv::tests::kTestDeviceSettingsKey);
        tv::test::DeleteTree(FromAnsi(base_));
    }

    void SetUp() override {
        Reset("F15");
        Reset("F10");
        for (const char* device : {"F15", "F10"})
            for (const char* setting : {"FreeBytes", "ProgressEveryMs", "VolumeInfoDelayMs"})
                RegDeleteKeyValueA(HKEY_CURRENT_USER,
                                   (std::string(tv::tests::kTestDeviceSettingsKey) + "\\" + device).c_str(),
                                   setting);
    }
    // A device with empty folders and a stored state naming its PC folder and masks.
    void Reset(const std::string& device) {
        const std::string id = "@TD" + device;
        RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + id).c_str());
        tv::test::DeleteTree(FromAnsi(DeviceFolder(device)));
        tv::test::DeleteTree(FromAnsi(PcFolder(device)));
        CreateDirectoryA(DeviceFolder(device).c_str(), nullptr);
        CreateDirectoryA(PcFolder(device).c_str(), nullptr);
        const std::string state = std::string(kDeviceListKey) + "\\" + id + "\\SyncDataBase";
        SetText(state, "SyncFolder", PcFolder(device));
        SetNumber(state, "dwAttribute", 0);
        SetText(state + "\\Masks", "Main\\docs\\*.txt", "");
        SetText(state + "\\Masks", "Device Flash\\*.txt", "");
    }
    static std::string DeviceFolder(const std::string& device) { return base_ + "\\devices\\" + device; }
    static std::string PcFolder(const std::string& device) { return base_ + "\\pc" + device; }

    ComPtr<IZvSynchronizer> Make(REFCLSID clsid, const char* id, ZVSYNCRESOLUTION resolution) {
        ComPtr<IZvSynchronizer> sync;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvSynchronizer),
                                                  reinterpret_cast<void**>(sync.ReleaseAndGetAddressOf())));
        if (!sync)
            return sync;
        ComPtr<IZvSyncNotify> notify;
        EXPECT_HRESULT_SUCCEEDED(sync.As(&notify));
        tv::com::MakeComObject(sink_);
        LONG cookie = 0;
        EXPECT_EQ(notify->Advise(sink_.Get(), &cookie), S_OK);
        sync->SetDevice(const_cast<LPSTR>(id));
        sync->SetConflictResolution(resolution);
        return sync;
    }
    // Runs phases 1 to 5 as the manager does: resolve only with conflicts, finalize only after
    // success. The failing phase, or 0.
    int Session(IZvSynchronizer* sync) {
        sink_->reports.clear();
        for (int phase = SPH_INITIALIZE; phase <= SPH_FINALIZE; ++phase) {
            if (phase == SPH_SYNCHRONIZE_RESOLVE) {
                LONG unresolved = 0;
                sync->GetUnresolvedItems(&unresolved);
                if (unresolved == 0)
                    continue;
            }
            if (FAILED(sync->Synchronize(static_cast<ZVSYNCPHASE>(phase))))
                return phase;
        }
        return 0;
    }
    std::string LastError() const {
        for (auto it = sink_->reports.rbegin(); it != sink_->reports.rend(); ++it)
            if (it->status == 0)
                return it->error;
        return "<none>";
    }
    LONG Count(IZvSynchronizer* sync, HRESULT (STDMETHODCALLTYPE IZvSynchronizer::*count)(LONG*)) {
        LONG value = -1;
        (sync->*count)(&value);
        return value;
    }

    static std::string base_;
    static tv::test::ServedHub* hub_;
    ComPtr<Sink> sink_;
};

std::string FileSyncTest::base_;
tv::test::ServedHub* FileSyncTest::hub_ = nullptr;

TEST_F(FileSyncTest, ClassesAnswerTheContract) {
    ComPtr<IZvSynchronizer> files10 = Make(CLSID_ZvSyncFiles10, "@TDF10", SSR_MANUAL_RESOLUTION);
    ComPtr<IZvSynchronizer> files15 = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(files10 && files15);
    ComPtr<IZvSynchronizerGUI> gui;
    EXPECT_EQ(files10.As(&gui), E_NOINTERFACE);
    ASSERT_HRESULT_SUCCEEDED(files15.As(&gui));
    int icon = 0;
    EXPECT_EQ(gui->GetIcon(&icon), S_OK);
    EXPECT_EQ(icon, 11924);
    EXPECT_EQ(files10->IsCompatible(const_cast<LPSTR>("@TDF10")), S_OK);
    EXPECT_EQ(files10->IsCompatible(const_cast<LPSTR>("@TDF15")), S_FALSE);
    EXPECT_EQ(files15->IsCompatible(const_cast<LPSTR>("@TDF15")), S_OK);
    unsigned char name[5] = {};
    EXPECT_EQ(files15->GetUserFriendlyName(sizeof(name), name), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), Text(IDS_FILESYNC_NAME15).substr(0, 4));
    EXPECT_EQ(files15->IsTunable(), S_OK);

    // Phases beyond 5 fail without a report.
    const size_t before = sink_->reports.size();
    EXPECT_EQ(files15->Synchronize(static_cast<ZVSYNCPHASE>(6)), E_FAIL);
    EXPECT_EQ(sink_->reports.size(), before);

    // Cookies are counters; the same sink twice and unknown cookies fail.
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(files15.As(&notify));
    LONG cookie = 0;
    EXPECT_EQ(notify->Advise(sink_.Get(), &cookie), E_FAIL);
    ComPtr<Sink> other;
    tv::com::MakeComObject(other);
    ASSERT_EQ(notify->Advise(other.Get(), &cookie), S_OK);
    EXPECT_EQ(cookie, 2);
    EXPECT_EQ(notify->Unadvise(77), E_FAIL);
    EXPECT_EQ(notify->Unadvise(cookie), S_OK);
    EXPECT_EQ(notify->Unadvise(cookie), E_FAIL);
    EXPECT_EQ(notify->Advise(nullptr, &cookie), E_INVALIDARG);
    LONG items = 0;
    EXPECT_EQ(files15->GetTotalItems(nullptr), E_POINTER);
    EXPECT_EQ(files15->GetTotalItems(&items), S_OK);
    EXPECT_EQ(items, 0);
}

TEST_F(FileSyncTest, SessionsCopyNewAndChangedFilesBothWaysAndThenFindNothing) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    CreateDirectoryA((dev + "\\Main\\docs").c_str(), nullptr);
    WriteFile(dev + "\\Main\\docs\\fromdevice.txt", "device bytes");
    WriteFile(dev + "\\Main\\docs\\skipped.bin", "no mask takes me");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    CreateDirectoryA((pc + "\\Main\\deep").c_str(), nullptr);
    CreateDirectoryA((pc + "\\Main\\deep\\er").c_str(), nullptr);
    WriteFile(pc + "\\Main\\deep\\er\\frompc.dat", std::string(5000, 'p'));
    WriteFile(pc + "\\rootfile.txt", "never listed");

    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetTotalItems), 2);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 2);
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\fromdevice.txt"), "device bytes");
    EXPECT_EQ(ReadFile(dev + "\\Main\\deep\\er\\frompc.dat"), std::string(5000, 'p'));
    EXPECT_FALSE(Exists(pc + "\\Main\\docs\\skipped.bin"));
    EXPECT_FALSE(Exists(dev + "\\rootfile.txt"));
    // Each phase started and completed; the transfer's bytes stayed within its total.
    for (const Report& report : sink_->reports) {
        EXPECT_NE(report.status, 0) << report.error;
        if (report.phase == SPH_SYNCHRONIZE_TRANSFER && report.status == SST_UPDATE) {
            EXPECT_LE(report.done, report.total);
        }
    }

    // Nothing changed: nothing to do.
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetTotalItems), 2);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 0);
    for (const Report& report : sink_->reports)
        EXPECT_FALSE(report.phase == SPH_SYNCHRONIZE_TRANSFER && report.status == SST_UPDATE);

    // Changed on one side each: each goes the other way. Deleted on the device: copied back.
    WriteFile(pc + "\\Main\\docs\\fromdevice.txt", "changed on the pc");
    Age(pc + "\\Main\\docs\\fromdevice.txt", 5);
    WriteFile(dev + "\\Main\\deep\\er\\frompc.dat", "changed on the device");
    Age(dev + "\\Main\\deep\\er\\frompc.dat", 5);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(dev + "\\Main\\docs\\fromdevice.txt"), "changed on the pc");
    EXPECT_EQ(ReadFile(pc + "\\Main\\deep\\er\\frompc.dat"), "changed on the device");
    DeleteFileA((dev + "\\Main\\docs\\fromdevice.txt").c_str());
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(dev + "\\Main\\docs\\fromdevice.txt"), "changed on the pc");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 2);
}

TEST_F(FileSyncTest, ConflictsFollowTheRuleOrTheDialog) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    CreateDirectoryA((dev + "\\Main\\docs").c_str(), nullptr);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteFile(dev + "\\Main\\docs\\" + name, "first");
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_REPLACE_ON_DEVICE);
    ASSERT_TRUE(sync);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    auto changeBoth = [&](const char* name) {
        WriteFile(dev + "\\Main\\docs\\" + name, std::string("device ") + name);
        Age(dev + "\\Main\\docs\\" + name, 3);
        WriteFile(pc + "\\Main\\docs\\" + name, std::string("pc ") + name);
        Age(pc + "\\Main\\docs\\" + name, 7);
    };
    changeBoth("a.txt");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(dev + "\\Main\\docs\\a.txt"), "pc a.txt"); // the PC's copy wins
    sync->SetConflictResolution(SSR_REPLACE_ON_COMPUTER);
    changeBoth("a.txt");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\a.txt"), "device a.txt"); // the device's copy wins

    // By the dialog: a is kept from the device, b from the PC, c is skipped and stays a conflict.
    sync->SetConflictResolution(SSR_MANUAL_RESOLUTION);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        changeBoth(name);
    std::vector<int> answers = {IDC_FILESYNC_DEVICE_WINS, IDC_FILESYNC_PC_WINS, IDC_FILESYNC_SKIP};
    std::atomic<int> answered{0};
    std::thread user([&] {
        for (int answer : answers) {
            HWND dialog = tv::test::WaitForWindow(nullptr, L"File changed on both sides", 20000);
            if (!dialog)
                return;
            if (answered == 0) {
                Sleep(300);
                tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\filesync_conflict_dialog.bmp");
            }
            PostMessageW(dialog, WM_COMMAND, answer, 0);
            tv::test::WaitForWindowGone(dialog, 20000);
            ++answered;
        }
    });
    const int failed = Session(sync.Get());
    user.join();
    ASSERT_EQ(failed, 0) << LastError();
    EXPECT_EQ(answered, 3);
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\a.txt"), "device a.txt");
    EXPECT_EQ(ReadFile(dev + "\\Main\\docs\\b.txt"), "pc b.txt");
    EXPECT_EQ(ReadFile(dev + "\\Main\\docs\\c.txt"), "device c.txt");
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\c.txt"), "pc c.txt");
    // The skipped conflict is found again in the next session.
    sync->SetConflictResolution(SSR_REPLACE_ON_DEVICE);
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 1);
}

TEST_F(FileSyncTest, NoRoomEndsTheTransferAndKeepsWhatWasCopied) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    WriteFile(pc + "\\Main\\a_small.txt", "small");
    WriteFile(pc + "\\Main\\b_large.txt", std::string(40000, 'L'));
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    SetNumber(std::string(tv::tests::kTestDeviceSettingsKey) + "\\F15", "FreeBytes", 8192);
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    EXPECT_EQ(Session(sync.Get()), SPH_SYNCHRONIZE_TRANSFER);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_NO_ROOM));
    EXPECT_EQ(ReadFile(dev + "\\Main\\a_small.txt"), "small");
    EXPECT_FALSE(Exists(dev + "\\Main\\b_large.txt"));
    // The copied file was recorded: with room the next session sends only the other one.
    RegDeleteKeyValueA(HKEY_CURRENT_USER, (std::string(tv::tests::kTestDeviceSettingsKey) + "\\F15").c_str(),
                       "FreeBytes");
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    ASSERT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_ESTIMATE), S_OK);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 1);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 0);
}

TEST_F(FileSyncTest, CancelDuringTheTransferEndsThePhase) {
    const std::string pc = PcFolder("F15");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    for (int i = 0; i < 4; ++i)
        WriteFile(pc + "\\Main\\f" + std::to_string(i) + ".txt", "bytes");
    CreateDirectoryA((DeviceFolder("F15") + "\\Main").c_str(), nullptr);
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    LONG length = 0;
    LPSTR reply = nullptr;
    hub_->Hub()->Command(const_cast<LPSTR>("@TDF15"), const_cast<LPSTR>("delay 400"), &length, &reply);
    CoTaskMemFree(reply);
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    ASSERT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_ESTIMATE), S_OK);
    // The cancel arrives the way the manager sends it: as a call served while the phase waits.
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ComPtr<IZvSynchronizer> target = sync;
    SetTimer(window, 1, 100, [](HWND w, UINT, UINT_PTR id, DWORD) {
        KillTimer(w, id);
        auto* s = reinterpret_cast<IZvSynchronizer*>(GetWindowLongPtrA(w, GWLP_USERDATA));
        s->Cancel();
    });
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target.Get()));
    EXPECT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_TRANSFER), E_FAIL);
    const std::string error = LastError();
    EXPECT_TRUE(error == Text(IDS_FILESYNC_CANCELLED) || error == Text(IDS_FILESYNC_COPY_INCOMPLETE)) << error;
    DestroyWindow(window);
    hub_->Hub()->Command(const_cast<LPSTR>("@TDF15"), const_cast<LPSTR>("delay 0"), &length, &reply);
    CoTaskMemFree(reply);
    // The next session completes the rest.
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadFile(DeviceFolder("F15") + "\\Main\\f" + std::to_string(i) + ".txt"), "bytes");
}

// A stop that comes while the device answers a question of the phase (here how much room it has,
// asked before a copy to it) holds: no copy starts after it, and the phase ends as stopped.
TEST_F(FileSyncTest, AStopWhileTheDeviceTellsItsFreeSpaceStartsNoCopy) {
    const std::string dev = DeviceFolder("F10"), pc = PcFolder("F10");
    CreateDirectoryA((dev + "\\Device Flash").c_str(), nullptr);
    CreateDirectoryA((pc + "\\Device Flash").c_str(), nullptr);
    WriteFile(pc + "\\Device Flash\\memo.txt", "from the pc");
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles10, "@TDF10", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    ASSERT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_ESTIMATE), S_OK);
    SetNumber(std::string(tv::tests::kTestDeviceSettingsKey) + "\\F10", "VolumeInfoDelayMs", 2000);
    // The stop comes as the manager sends it: from another thread, served while the phase waits
    // for the device's answer.
    IStream* stream = nullptr;
    ASSERT_HRESULT_SUCCEEDED(
        CoMarshalInterThreadInterfaceInStream(__uuidof(IZvSynchronizer), sync.Get(), &stream));
    std::atomic<bool> stopSent{false}, stopperDone{false};
    std::thread stopper([stream, &stopSent, &stopperDone] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IZvSynchronizer* remote = nullptr;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, __uuidof(IZvSynchronizer),
                                                     reinterpret_cast<void**>(&remote)))) {
            Sleep(500);
            // Set before the call: the phase may end, on the stop it served, before this thread
            // runs again after the call returns.
            stopSent = true;
            remote->Cancel();
            remote->Release();
        }
        CoUninitialize();
        stopperDone = true;
    });
    const HRESULT transfer = sync->Synchronize(SPH_SYNCHRONIZE_TRANSFER);
    // The stop went out while the phase ran; that the phase ended as stopped with nothing copied
    // (below) shows it was served there.
    const bool sentInPhase = stopSent;
    // The stopper's last calls are served here once the phase is over.
    EXPECT_TRUE(tv::test::PollUntil([&] { return stopperDone.load(); }, 20000));
    stopper.join();
    EXPECT_TRUE(sentInPhase) << "the phase ended before the stop was sent";
    EXPECT_EQ(transfer, E_FAIL);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_CANCELLED));
    EXPECT_FALSE(Exists(dev + "\\Device Flash\\memo.txt"));
    // The next session copies it.
    RegDeleteKeyValueA(HKEY_CURRENT_USER, (std::string(tv::tests::kTestDeviceSettingsKey) + "\\F10").c_str(),
                       "VolumeInfoDelayMs");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(dev + "\\Device Flash\\memo.txt"), "from the pc");
}

// The stored state is saved whole or the session fails: an old item key that cannot be removed
// fails the phase that saves (the finalize phase, or the transfer phase after a copy), and once
// the key can go the next session records everything.
TEST_F(FileSyncTest, AStoredStateThatCannotBeSavedFailsTheSession) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    const std::string state = std::string(kDeviceListKey) + "\\@TDF15\\SyncDataBase";
    // Two records of files that are gone from both sides; the second key cannot be deleted.
    for (int i = 0; i < 2; ++i) {
        const std::string item = state + "\\Item" + std::to_string(i);
        SetText(item, "Name", "Main\\gone" + std::to_string(i) + ".txt");
        SetNumber(item, "TimeLow", 0);
        SetNumber(item, "TimeHigh", 0x01D00000);
        SetNumber(item, "Size", 5);
    }
    tv::filesync::testing::UndeletableKey stuck(state + "\\Item1");
    ASSERT_TRUE(stuck.Made());
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    EXPECT_EQ(Session(sync.Get()), SPH_FINALIZE);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_NO_MERGE));

    // A copy is saved at once: that save fails the transfer phase.
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    WriteFile(pc + "\\Main\\new.txt", "new bytes");
    EXPECT_EQ(Session(sync.Get()), SPH_SYNCHRONIZE_TRANSFER);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_NO_MERGE));
    EXPECT_EQ(ReadFile(dev + "\\Main\\new.txt"), "new bytes");

    // The copy's record was saved beside the key left over: nothing is copied again.
    stuck.Release();
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    for (const Report& report : sink_->reports)
        EXPECT_FALSE(report.phase == SPH_SYNCHRONIZE_TRANSFER && report.status == SST_UPDATE);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 1);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 0);
}

TEST_F(FileSyncTest, FirstGenerationCopiesOnlyIntoFoldersTheDeviceHas) {
    const std::string dev = DeviceFolder("F10"), pc = PcFolder("F10");
    CreateDirectoryA((dev + "\\Device Flash").c_str(), nullptr);
    WriteFile(dev + "\\Device Flash\\note.txt", "from the device");
    CreateDirectoryA((pc + "\\Device Flash").c_str(), nullptr);
    WriteFile(pc + "\\Device Flash\\memo.txt", "from the pc");
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles10, "@TDF10", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(ReadFile(pc + "\\Device Flash\\note.txt"), "from the device");
    EXPECT_EQ(ReadFile(dev + "\\Device Flash\\memo.txt"), "from the pc");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 2);
}

// Device files whose names no PC file may have are never written: a device name (NUL.txt would go
// to the null device) or a trailing dot (ok.txt. would overwrite ok.txt). The session goes on
// without them and its last word says how many were left out and why.
TEST_F(FileSyncTest, DeviceFilesWhoseNamesThePcCannotHoldAreLeftOutAndTheSessionSaysSo) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    SetText(std::string(kDeviceListKey) + "\\@TDF15\\SyncDataBase\\Masks", "Main\\docs\\*", "");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    CreateDirectoryA((dev + "\\Main\\docs").c_str(), nullptr);
    WriteFile(dev + "\\Main\\docs\\ok.txt", "fine");
    ASSERT_TRUE(WriteRawFile(dev + "\\Main\\docs\\NUL.txt", "would go nowhere"));
    ASSERT_TRUE(WriteRawFile(dev + "\\Main\\docs\\ok.txt.", "would overwrite ok.txt"));
    ASSERT_EQ(RawListing(dev + "\\Main\\docs"), (std::vector<std::string>{"NUL.txt", "ok.txt", "ok.txt."}));

    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(RawListing(pc + "\\Main\\docs"), std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\ok.txt"), "fine");
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetTotalItems), 1);
    ASSERT_FALSE(sink_->reports.empty());
    const Report& last = sink_->reports.back();
    EXPECT_EQ(last.phase, SPH_FINALIZE);
    EXPECT_EQ(last.status, SST_COMPLETE);
    EXPECT_EQ(last.error, Formatted(IDS_FILESYNC_DONE_LEFT_OUT, 2ul));

    // Without them the session ends as any other.
    DeleteRawFile(dev + "\\Main\\docs\\NUL.txt");
    DeleteRawFile(dev + "\\Main\\docs\\ok.txt.");
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    EXPECT_EQ(sink_->reports.back().status, SST_COMPLETE);
    EXPECT_EQ(sink_->reports.back().error, "");
}

// The wait for a copy can end early (a quit message, as when the program closes) while the copy
// goes on in the hub, which reports its progress later. The phase is over by then, and the
// synchronizer may be gone: a late report reaches nothing of it, alive or released.
TEST_F(FileSyncTest, ACopyReportingAfterItsWaitEndedReachesNoReleasedSynchronizer) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    WriteFile(pc + "\\Main\\late.txt", "late bytes");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    LONG length = 0;
    LPSTR reply = nullptr;
    // The delayed copy reports its progress every 100 ms, before and after the wait ends.
    SetNumber(std::string(tv::tests::kTestDeviceSettingsKey) + "\\F15", "ProgressEveryMs", 100);
    hub_->Hub()->Command(const_cast<LPSTR>("@TDF15"), const_cast<LPSTR>("delay 1500"), &length, &reply);
    CoTaskMemFree(reply);
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    ASSERT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_ESTIMATE), S_OK);
    const UINT_PTR timer = SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        PostQuitMessage(0);
    });
    EXPECT_EQ(sync->Synchronize(SPH_SYNCHRONIZE_TRANSFER), E_FAIL);
    KillTimer(nullptr, timer);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_COPY_INCOMPLETE));
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)); // handed back by the wait
    const size_t reported = sink_->reports.size();
    tv::test::PollUntil([] { return false; }, 500); // progress of the copy arrives meanwhile
    EXPECT_EQ(sink_->reports.size(), reported);
    sync = nullptr; // the synchronizer's last reference
    EXPECT_TRUE(tv::test::PollUntil([&] { return Exists(dev + "\\Main\\late.txt"); }, 20000));
    tv::test::PollUntil([] { return false; }, 1000); // the copy's last reports arrive meanwhile
    EXPECT_EQ(sink_->reports.size(), reported);
    hub_->Hub()->Command(const_cast<LPSTR>("@TDF15"), const_cast<LPSTR>("delay 0"), &length, &reply);
    CoTaskMemFree(reply);
}

// A copy of the resolve phase that fails ends the phase; the item is neither marked synchronized
// nor recorded, so the conflict is found again.
TEST_F(FileSyncTest, ACopyFailingInTheResolvePhaseEndsItAndTheConflictStays) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    CreateDirectoryA((dev + "\\Main\\docs").c_str(), nullptr);
    WriteFile(dev + "\\Main\\docs\\a.txt", "first");
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_REPLACE_ON_COMPUTER);
    ASSERT_TRUE(sync);
    ASSERT_EQ(Session(sync.Get()), 0) << LastError();
    WriteFile(dev + "\\Main\\docs\\a.txt", "device a");
    Age(dev + "\\Main\\docs\\a.txt", 3);
    WriteFile(pc + "\\Main\\docs\\a.txt", "pc a");
    Age(pc + "\\Main\\docs\\a.txt", 7);
    // The device's copy wins, but the PC's copy is open without sharing: the copy to the PC fails.
    HANDLE held = CreateFileA((pc + "\\Main\\docs\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Session(sync.Get()), SPH_SYNCHRONIZE_RESOLVE);
    CloseHandle(held);
    EXPECT_EQ(LastError(), Text(IDS_FILESYNC_COPY_INCOMPLETE));
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 0);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 1);
    EXPECT_EQ(ReadFile(pc + "\\Main\\docs\\a.txt"), "pc a");
    ASSERT_EQ(sync->Synchronize(SPH_INITIALIZE), S_OK);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetUnresolvedItems), 1);
}

// A copy that the device's fresh listing does not show cannot be recorded: the transfer ends with
// the report naming the file, and the PC file keeps its time (it is set only from a listed copy).
TEST_F(FileSyncTest, ACopyTheDeviceDoesNotListIsReportedAndThePcFileKeepsItsTime) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    WriteFile(pc + "\\Main\\gone.txt", "pc bytes");
    Age(pc + "\\Main\\gone.txt", -30);
    const FILETIME before = WriteTime(pc + "\\Main\\gone.txt");
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    // As the copy reports its bytes, the device's new file is moved away.
    sink_->onReport = [&](const Report& report) {
        if (report.phase == SPH_SYNCHRONIZE_TRANSFER && report.status == SST_UPDATE)
            MoveFileA((dev + "\\Main\\gone.txt").c_str(), (dev + "\\Main\\moved.bak").c_str());
    };
    EXPECT_EQ(Session(sync.Get()), SPH_SYNCHRONIZE_TRANSFER);
    sink_->onReport = nullptr;
    EXPECT_EQ(LastError(), Formatted(IDS_FILESYNC_NOT_RECORDED, "Main\\gone.txt"));
    EXPECT_TRUE(Exists(dev + "\\Main\\moved.bak"));
    const FILETIME after = WriteTime(pc + "\\Main\\gone.txt");
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 0);
}

// A PC file of 2 GiB or more cannot be synchronized (sizes are 32-bit on the device and in the
// stored state): it is left where it is with a message naming it, and the session goes on.
TEST_F(FileSyncTest, APcFileTooLargeToSynchronizeIsSkippedWithAMessage) {
    const std::string dev = DeviceFolder("F15"), pc = PcFolder("F15");
    CreateDirectoryA((pc + "\\Main").c_str(), nullptr);
    WriteFile(pc + "\\Main\\small.txt", "small");
    HANDLE big =
        CreateFileA((pc + "\\Main\\big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(big, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x80000000ll; // sparse: no disk space taken
    SetFilePointerEx(big, size, nullptr, FILE_BEGIN);
    SetEndOfFile(big);
    CloseHandle(big);
    CreateDirectoryA((dev + "\\Main").c_str(), nullptr);
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    std::atomic<bool> named{false};
    std::thread user([&] {
        HWND box = tv::test::WaitForWindow(L"#32770", L"Tavrilon", 30000);
        if (!box)
            return;
        wchar_t shown[400] = {};
        GetDlgItemTextW(box, 0xFFFF, shown, 400);
        named = FromAnsi(Formatted(IDS_FILESYNC_TOO_LARGE, "Main\\big.bin")) == shown;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    const int failed = Session(sync.Get());
    user.join();
    EXPECT_EQ(failed, 0) << LastError();
    EXPECT_TRUE(named);
    EXPECT_EQ(ReadFile(dev + "\\Main\\small.txt"), "small");
    EXPECT_FALSE(Exists(dev + "\\Main\\big.bin"));
    EXPECT_EQ(Count(sync.Get(), &IZvSynchronizer::GetSynchronizedItems), 1);
    DeleteFileA((pc + "\\Main\\big.bin").c_str());
}

// The list's texts in order.
std::vector<std::string> ListTexts(HWND list) {
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[300] = {};
        LVITEMA item = {};
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        texts.push_back(text);
    }
    return texts;
}

std::vector<std::string> StoredMasks(const std::string& id) {
    std::vector<std::string> masks;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + id + "\\SyncDataBase\\Masks").c_str(),
                      0, KEY_READ, &key) != ERROR_SUCCESS)
        return masks;
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        masks.push_back(name);
    }
    RegCloseKey(key);
    std::sort(masks.begin(), masks.end());
    return masks;
}

TEST_F(FileSyncTest, SettingsAndMaskDialogsEditTheStoredState) {
    ComPtr<IZvSynchronizer> sync = Make(CLSID_ZvSyncFiles15, "@TDF15", SSR_MANUAL_RESOLUTION);
    ASSERT_TRUE(sync);
    const std::string state = std::string(kDeviceListKey) + "\\@TDF15\\SyncDataBase";
    std::atomic<bool> ok{true};
    auto check = [&](bool condition) {
        if (!condition)
            ok = false;
    };
    // OK with an empty folder saves nothing.
    std::thread user([&] {
        HWND dialog = tv::test::WaitForWindow(nullptr, L"File and folder synchronization", 20000);
        check(dialog != nullptr);
        if (!dialog)
            return;
        Sleep(300);
        tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\filesync_settings_dialog.bmp");
        char folder[300] = {};
        GetDlgItemTextA(dialog, IDC_FILESYNC_FOLDER, folder, sizeof(folder));
        check(PcFolder("F15") == folder);
        SetDlgItemTextA(dialog, IDC_FILESYNC_FOLDER, "");
        tv::test::ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(sync->Tune(const_cast<LPSTR>("@TDF15")), S_OK);
    user.join();
    EXPECT_TRUE(ok);
    char folder[300] = {};
    DWORD size = sizeof(folder);
    RegGetValueA(HKEY_CURRENT_USER, state.c_str(), "SyncFolder", RRF_RT_REG_SZ, nullptr, folder, &size);
    EXPECT_EQ(std::string(folder), PcFolder("F15"));

    // The masks button opens the mask dialog: the built-in mask first and for good, a mask of 101
    // characters refused, one of 100 taken, the same mask listed once.
    std::thread masks([&] {
        HWND dialog = tv::test::WaitForWindow(nullptr, L"File and folder synchronization", 20000);
        check(dialog != nullptr);
        if (!dialog)
            return;
        tv::test::ClickButton(dialog, IDC_FILESYNC_MASKS);
        dialog = tv::test::WaitForWindow(nullptr, L"File and folder masks", 20000);
        check(dialog != nullptr);
        if (!dialog)
            return;
        HWND list = GetDlgItem(dialog, IDC_FILESYNC_MASK_LIST);
        std::vector<std::string> shown = ListTexts(list);
        check(shown.size() == 3 && shown[0] == Text(IDS_FILESYNC_BUILTIN_MASK));
        LVITEMA select = {};
        select.stateMask = select.state = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&select));
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_REMOVE, 0);
        check(ListTexts(list).size() == 3);
        // The first stored mask goes.
        select.state = 0;
        SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&select));
        select.state = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&select));
        const std::string removed = ListTexts(list)[1];
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_REMOVE, 0);
        check(ListTexts(list).size() == 2);
        std::thread refuse([&] {
            HWND box = tv::test::WaitForWindow(L"#32770", L"Tavrilon", 20000);
            check(box != nullptr);
            if (box)
                PostMessageW(box, WM_COMMAND, IDOK, 0);
        });
        SetDlgItemTextA(dialog, IDC_FILESYNC_MASK_TEXT, std::string(101, 'x').c_str());
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_ADD, 0);
        refuse.join();
        SetDlgItemTextA(dialog, IDC_FILESYNC_MASK_TEXT, std::string(100, 'y').c_str());
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_ADD, 0);
        SetDlgItemTextA(dialog, IDC_FILESYNC_MASK_TEXT, "z*");
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_ADD, 0);
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_ADD, 0);
        // Another spelling of a listed mask replaces it: the registry keeps one value for both.
        SetDlgItemTextA(dialog, IDC_FILESYNC_MASK_TEXT, "Z*");
        SendMessageA(dialog, WM_COMMAND, IDC_FILESYNC_MASK_ADD, 0);
        shown = ListTexts(list);
        check(shown.size() == 4 && shown[2] == std::string(100, 'y') && shown[3] == "Z*");
        check(removed != Text(IDS_FILESYNC_BUILTIN_MASK));
        Sleep(300);
        tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\filesync_mask_dialog.bmp");
        tv::test::ClickButton(dialog, IDC_FILESYNC_MASK_SAVE);
    });
    EXPECT_EQ(sync->Tune(const_cast<LPSTR>("@TDF15")), S_OK);
    masks.join();
    EXPECT_TRUE(ok);
    const std::vector<std::string> stored = StoredMasks("@TDF15");
    EXPECT_EQ(stored.size(), 3u);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), Text(IDS_FILESYNC_BUILTIN_MASK)), 0);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), std::string(100, 'y')), 1);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "Z*"), 1);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "z*"), 0);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
