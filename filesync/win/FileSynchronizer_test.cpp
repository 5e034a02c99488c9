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
#include "ZvSyncFiles10.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <fstream>
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
    std::string error;
};

class Sink : public tv::com::ComObject<Sink, IZvSyncCallback> {
public:
    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total) override {
        reports.push_back({phase, status, done, total, {}});
        return S_OK;
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS, LPSTR, ULONG, ULONG) override {
        return S_OK;
    }
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) override {
        reports.push_back({phase, static_cast<ZVSYNCSTATUS>(0), 0, 0, text ? text : ""});
        return S_OK;
    }
    std::vector<Report> reports;
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
        RegDeleteKeyValueA(HKEY_CURRENT_USER, (std::string(tv::tests::kTestDeviceSettingsKey) + "\\F15").c_str(),
                           "FreeBytes");
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
        if (report.phase == SPH_SYNCHRONIZE_TRANSFER && report.status == SST_UPDATE)
            EXPECT_LE(report.done, report.total);
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
        shown = ListTexts(list);
        check(shown.size() == 4 && shown[2] == std::string(100, 'y') && shown[3] == "z*");
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
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "z*"), 1);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
