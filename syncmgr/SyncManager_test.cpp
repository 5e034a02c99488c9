// The synchronization manager as the program uses it: ZvSync.dll's one manager, made by its
// class in this thread's apartment, a hub served by this test over folder devices, and the test
// synchronizers configured through their settings. One log file orders what the synchronizers
// were asked and what the devices received.
#include "AnsiText.h"
#include "BenchmarkRounds.h"
#include "DevicePropertySheet.h"
#include "Hub.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "TestSynchronizersOnly.h"
#include "SyncManager.h"
#include "SyncPages.h"
#include "TestDeviceIds.h"
#include "TestSyncIds.h"
#include "UiHarness.h"
#include "LangIds.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <comcat.h>
#include <atomic>
#include <fstream>
#include <thread>
#include <sstream>

using namespace tv;
using namespace tv::com;
using tv::tests::CLSID_TestSync1;
using tv::tests::CLSID_TestSync2;
using tv::tests::CLSID_TestSync3;

namespace {

constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";
constexpr char kScheduleKey[] = "Software\\Zelvan\\Tavrilon\\ZvSyncMgr";
constexpr DWORD kSessionTimeoutMs = 30000;

std::string Text(REFCLSID clsid) {
    wchar_t wide[40] = {};
    StringFromGUID2(clsid, wide, ARRAYSIZE(wide));
    return TerminatedToAnsi(wide);
}

std::string SyncKey(REFCLSID clsid) {
    return std::string(tests::kTestSyncKey) + "\\" + Text(clsid);
}

void SetText(const std::string& key, const char* name, const std::string& value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(),
                    static_cast<DWORD>(value.size() + 1));
}

void SetNumber(const std::string& key, const char* name, DWORD value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

std::string ReadText(const std::string& key, const char* name) {
    std::string buffer(8192, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return buffer.c_str();
}

DWORD ReadNumber(const std::string& key, const char* name) {
    DWORD value = 0xFFFF, size = sizeof(value);
    RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

bool KeyExists(const char* id) {
    HKEY key = nullptr;
    const std::string path = std::string(kDeviceListKey) + "\\" + id;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The shared state of the test program: the served hub, the device folders, the log and the one
// manager of the process.
struct World {
    tests::TestSynchronizersOnly onlyTestSynchronizers;
    std::string root;
    std::string log;
    test::ServedHub hub;
    UniqueHandle programRuns;
    ComPtr<IZvSyncMgr> manager;
    ComPtr<IZvSyncMgrDisp> disp;
};
World* g_world = nullptr;

class SyncEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_world = new World;
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof(temp), temp);
        g_world->root = std::string(temp) + "tvsyncmgr_test";
        test::DeleteTree(FromAnsi(g_world->root));
        CreateDirectoryA(g_world->root.c_str(), nullptr);
        CreateDirectoryA((g_world->root + "\\devices").c_str(), nullptr);
        for (const char* device : {"DevA", "DevB", "Dev10", "Stubborn"})
            CreateDirectoryA((g_world->root + "\\devices\\" + device).c_str(), nullptr);
        SetNumber(std::string(tests::kTestDeviceSettingsKey) + "\\Dev10", "ModelVersion", 16);
        SetNumber(std::string(tests::kTestDeviceSettingsKey) + "\\Stubborn", "RefusePcOn", 1);
        g_world->log = g_world->root + "\\calls.log";
        SetText(tests::kTestDeviceKey, tests::kTestDeviceCommandLogValue, g_world->log);
        RegDeleteTreeA(HKEY_CURRENT_USER, tests::kTestSyncKey);
        SetText(tests::kTestSyncKey, tests::kTestSyncLogValue, g_world->log);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
        ASSERT_HRESULT_SUCCEEDED(g_world->hub.Start(g_world->root + "\\devices"));
        ASSERT_TRUE(test::PollUntil([] { return g_world->hub.Hub() && DeviceKnown("@TDStubborn"); }, 10000));
        // The served hub stands for the program's: its instance mutex tells components so.
        g_world->programRuns.Reset(CreateMutexW(nullptr, FALSE, L"{25A50E30-3183-4b63-B179-043BEACB5806}"));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvSyncMgr, nullptr, CLSCTX_INPROC_SERVER,
                                                  __uuidof(IZvSyncMgr),
                                                  reinterpret_cast<void**>(&g_world->manager)));
        ASSERT_HRESULT_SUCCEEDED(g_world->manager.As(&g_world->disp));
    }
    void TearDown() override {
        g_world->disp.Reset();
        g_world->manager.Reset();
        g_world->hub.Stop();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, tests::kTestDeviceKey, tests::kTestDeviceCommandLogValue);
        RegDeleteTreeA(HKEY_CURRENT_USER, tests::kTestSyncKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, tests::kTestDeviceSettingsKey);
        test::DeleteTree(FromAnsi(g_world->root));
        delete g_world;
        CoUninitialize();
    }
    static bool DeviceKnown(const char* id) {
        unsigned char name[64] = {};
        return SUCCEEDED(g_world->hub.Hub()->GetDeviceNameByID(const_cast<LPSTR>(id), sizeof(name), name));
    }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SyncEnvironment);

std::vector<std::string> LogLines() {
    std::ifstream file(g_world->log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The log's lines that start with `prefix`, that prefix cut off.
std::vector<std::string> Calls(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : LogLines())
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line.substr(prefix.size()));
    return found;
}

// The phases a synchronizer was asked to run, in order ("1 2 3 5").
std::string Phases(int number) {
    std::string phases;
    for (const std::string& rest : Calls(std::to_string(number) + " Synchronize ")) {
        if (!phases.empty())
            phases += ' ';
        phases += rest.substr(0, rest.find(' '));
    }
    return phases;
}

size_t LineIndex(const std::string& wanted) {
    std::vector<std::string> lines = LogLines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == wanted)
            return i;
    return static_cast<size_t>(-1);
}

// A screenshot once the window shows what it holds: its thread paints it before the picture.
void Shoot(HWND window, const wchar_t* name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test::SaveScreenshot(test::ExeFolder() + L"\\" + name);
}

class SyncManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(g_world->log, std::ios::trunc).close();
        for (const CLSID* clsid : {&CLSID_TestSync1, &CLSID_TestSync2, &CLSID_TestSync3})
            RegDeleteTreeA(HKEY_CURRENT_USER, SyncKey(*clsid).c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
    }
    IZvSyncMgr* Manager() { return g_world->manager.Get(); }

    void Schedule(REFCLSID clsid, const char* device) {
        ASSERT_HRESULT_SUCCEEDED(Manager()->ScheduleComponent(&clsid, const_cast<LPSTR>(device)));
    }

    // Runs a session with automatic start and waits for its end of the run; the dialog.
    HWND RunSession(const wchar_t* device, const wchar_t* title) {
        UniqueBstr id(SysAllocString(device));
        HRESULT hr = E_FAIL;
        // The previous session's thread may still be ending.
        test::PollUntil([&] { return (hr = g_world->disp->StartSync(id.Get(), VARIANT_TRUE)) != E_FAIL; },
                        10000);
        EXPECT_HRESULT_SUCCEEDED(hr);
        HWND dialog = test::WaitForWindow(nullptr, title, kSessionTimeoutMs);
        return dialog;
    }
    static std::string StatusOf(HWND dialog) {
        char text[256] = {};
        GetDlgItemTextA(dialog, IDC_SYNC_STATUS, text, sizeof(text));
        return text;
    }
    static bool WaitForStatus(HWND dialog, const std::string& status) {
        return test::PollUntil([&] { return StatusOf(dialog) == status; }, kSessionTimeoutMs);
    }
    static std::string RowStatus(HWND dialog, int row) {
        char text[256] = {};
        LVITEMA item = {};
        item.iSubItem = 1;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(GetDlgItem(dialog, IDC_SYNC_LIST), LVM_GETITEMTEXTA, row,
                     reinterpret_cast<LPARAM>(&item));
        return text;
    }
    // Closes the dialog and waits until the device left PC mode.
    static void CloseSession(HWND dialog, const std::string& device) {
        ASSERT_TRUE(test::ClickButton(dialog, IDC_SYNC_CLOSE));
        ASSERT_TRUE(test::PollUntil([&] { return LineIndex("device " + device + " pc off") != size_t(-1); },
                                    kSessionTimeoutMs));
        EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
        EXPECT_TRUE(test::PollUntil([] { return g_world->hub.BusyUI() == 0; }, kSessionTimeoutMs));
    }
};

TEST_F(SyncManagerTest, RegistersEveryClassBothCategoriesAndNamesItsPages) {
    for (const wchar_t* progId : {L"Tavrilon.ZvSyncMgr", L"Tavrilon.ZvSyncRules.1", L"Tavrilon.ZvSyncOptions",
                                  L"Tavrilon.DeviceOptns", L"Tavrilon.TvlPlus.1"}) {
        CLSID clsid;
        EXPECT_HRESULT_SUCCEEDED(CLSIDFromProgID(progId, &clsid)) << TerminatedToAnsi(progId);
    }
    ComPtr<ICatInformation> categories;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ICatInformation, reinterpret_cast<void**>(&categories)));
    WCHAR* description = nullptr;
    ASSERT_HRESULT_SUCCEEDED(categories->GetCategoryDesc(sync::CATID_ZvSynchronizers, 1033, &description));
    EXPECT_STREQ(description, L"ZvSynchronizers");
    CoTaskMemFree(description);
    const CATID properties = {0xc4ab9394, 0xbd09, 0x417e, {0xa9, 0xbc, 0x28, 0x02, 0xc6, 0xfe, 0x81, 0x74}};
    CATID implemented[] = {properties};
    EXPECT_EQ(categories->IsClassOfCategories(CLSID_ZvSyncMgr, 1, implemented, 0, nullptr), S_OK);

    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_HRESULT_SUCCEEDED(g_world->manager.As(&specify));
    CAUUID pages = {};
    ASSERT_HRESULT_SUCCEEDED(specify->GetPages(&pages));
    ASSERT_EQ(pages.cElems, 3u);
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[0], CLSID_ZvSyncOptions));
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[1], CLSID_ZvSyncRules));
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[2], CLSID_DeviceOptns));
    CoTaskMemFree(pages.pElems);

    // The automation face answers by name from the embedded type library.
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(g_world->manager.As(&dispatch));
    OLECHAR name[] = L"DoSync";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, names, 1, 1033, &id));
    EXPECT_EQ(id, 0x60020001);

    // The one manager of the process: a second creation gives the same object.
    ComPtr<IZvSyncMgr> again;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvSyncMgr, nullptr, CLSCTX_INPROC_SERVER,
                                              __uuidof(IZvSyncMgr), reinterpret_cast<void**>(&again)));
    EXPECT_EQ(again.Get(), Manager());
}

TEST_F(SyncManagerTest, EnumeratorsFilterByDeviceScheduleAndItemType) {
    ComPtr<IZvEnumSyncComponents> all;
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents3(&all));
    IZvSynchronizer* found[4] = {};
    GUID clsids[4] = {};
    LONG fetched = 0;
    EXPECT_EQ(all->Next(4, found, clsids, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3);
    for (int i = 0; i < fetched; ++i)
        found[i]->Release();
    EXPECT_EQ(all->Next(2, found, clsids, nullptr), E_POINTER);
    EXPECT_EQ(all->Reset(), S_OK);
    EXPECT_EQ(all->Next(1, found, clsids, nullptr), S_OK); // one and no count: accepted
    found[0]->Release();
    EXPECT_EQ(all->Skip(100), S_OK);
    fetched = 7;
    EXPECT_EQ(all->Next(1, found, clsids, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0);

    // Compatible with both devices, scheduled only for the second: the first decides.
    SetText(SyncKey(CLSID_TestSync3), "Versions", "21");
    Schedule(CLSID_TestSync1, "@TDDevB");
    char a[] = "@TDDevA", b[] = "@TDDevB", old[] = "@TDDev10";
    LPSTR both[] = {a, b};
    ComPtr<IZvEnumSyncComponents> listed;
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents(2, 0, both, 1, &listed));
    EXPECT_EQ(listed->Next(1, found, clsids, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0);
    LPSTR second[] = {b};
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents(1, 0, second, 1, &listed));
    ASSERT_EQ(listed->Next(1, found, clsids, &fetched), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsids[0], CLSID_TestSync1));
    found[0]->Release();
    // A 1.0 device: the synchronizer made for 1.5 devices only is left out.
    LPSTR older[] = {old};
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents(1, 0, older, 0, &listed));
    EXPECT_EQ(listed->Next(4, found, clsids, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2);
    for (int i = 0; i < fetched; ++i) {
        EXPECT_FALSE(IsEqualCLSID(clsids[i], CLSID_TestSync3));
        found[i]->Release();
    }
    // One failing compatibility test fails the whole listing.
    SetNumber(SyncKey(CLSID_TestSync2), "CompatibleResult", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(Manager()->EnumComponents(1, 0, older, 0, &listed), E_ACCESSDENIED);
    EXPECT_EQ(Manager()->EnumComponents(1, 0, nullptr, 0, &listed), E_INVALIDARG);
    EXPECT_EQ(Manager()->EnumComponents(1, 0, older, 0, nullptr), E_POINTER);

    const GUID type = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
    SetText(SyncKey(CLSID_TestSync2), "ItemTypes",
            "{22222222-2222-3333-0404-040404040404};" + Text(type) + ";");
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents2(1, &type, &listed));
    ASSERT_EQ(listed->Next(2, found, clsids, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1);
    EXPECT_TRUE(IsEqualCLSID(clsids[0], CLSID_TestSync2));
    found[0]->Release();
}

TEST_F(SyncManagerTest, SchedulesAreStoredWholeAndKeepChangesMadeMeanwhile) {
    const std::string value = Text(CLSID_TestSync1);
    char a[] = "@TDDevA", b[] = "@TDDevB";
    EXPECT_EQ(Manager()->ScheduleComponent(&CLSID_TestSync1, a), S_OK);
    EXPECT_EQ(Manager()->ScheduleComponent(&CLSID_TestSync1, a), S_FALSE);
    EXPECT_EQ(ReadText(kScheduleKey, value.c_str()), "@TDDevA;");
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, a), S_OK);
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, b), S_FALSE);
    const GUID unknown = {0x1, 0x2, 0x3, {4}};
    EXPECT_EQ(Manager()->ScheduleComponent(&unknown, a), E_INVALIDARG);
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, nullptr), E_INVALIDARG);

    // An edit by hand (or by a second dialog through another path) is not lost by the next change.
    SetText(kScheduleKey, value.c_str(), "@TDDevA;@Manual;");
    EXPECT_EQ(Manager()->ScheduleComponent(&CLSID_TestSync1, b), S_OK);
    EXPECT_EQ(ReadText(kScheduleKey, value.c_str()), "@TDDevA;@Manual;@TDDevB;");
    EXPECT_EQ(Manager()->UnscheduleComponent(&CLSID_TestSync1, a), S_OK);
    EXPECT_EQ(Manager()->UnscheduleComponent(&CLSID_TestSync1, a), S_FALSE);
    EXPECT_EQ(ReadText(kScheduleKey, value.c_str()), "@Manual;@TDDevB;");

    // A schedule longer than any fixed buffer is read whole; a tail without ";" is no id.
    std::string longSchedule;
    for (int i = 0; i < 300; ++i)
        longSchedule += "@Device" + std::to_string(i) + ";";
    SetText(kScheduleKey, value.c_str(), longSchedule + "@TDDevA");
    char last[] = "@Device299";
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, last), S_OK);
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, a), S_FALSE);
}

TEST_F(SyncManagerTest, DeviceSettingsNeedTheDeviceKeyAndTellEverySynchronizer) {
    const std::string key = std::string(kDeviceListKey) + "\\@TDDevB";
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "ConflictResolution");
    char b[] = "@TDDevB", missing[] = "@NoSuchDevice";
    ZVSYNCRESOLUTION resolution = SSR_REPLACE_ON_DEVICE;
    ASSERT_HRESULT_SUCCEEDED(Manager()->get_ConflictResolution(b, &resolution));
    EXPECT_EQ(resolution, SSR_MANUAL_RESOLUTION);
    EXPECT_EQ(Manager()->put_ConflictResolution(b, static_cast<ZVSYNCRESOLUTION>(0)), E_INVALIDARG);
    EXPECT_EQ(Manager()->put_ConflictResolution(b, static_cast<ZVSYNCRESOLUTION>(4)), E_INVALIDARG);
    EXPECT_EQ(ReadNumber(key, "ConflictResolution"), 0xFFFFu);
    EXPECT_EQ(Manager()->get_ConflictResolution(missing, &resolution), E_FAIL);
    EXPECT_FALSE(KeyExists(missing));
    ASSERT_HRESULT_SUCCEEDED(Manager()->put_ConflictResolution(b, SSR_REPLACE_ON_COMPUTER));
    EXPECT_EQ(ReadNumber(key, "ConflictResolution"), 3u);
    EXPECT_EQ(Calls("1 SetConflictResolution 3").size() + Calls("2 SetConflictResolution 3").size() +
                  Calls("3 SetConflictResolution 3").size(),
              3u);

    UniqueBstr id(SysAllocString(L"@TDDevB"));
    ASSERT_HRESULT_SUCCEEDED(g_world->disp->put_SyncTime(id.Get(), VARIANT_TRUE));
    EXPECT_EQ(ReadNumber(key, "SyncTime"), 1u);
    ASSERT_HRESULT_SUCCEEDED(g_world->disp->put_SyncTime(id.Get(), static_cast<VARIANT_BOOL>(1)));
    EXPECT_EQ(ReadNumber(key, "SyncTime"), 0u);
    LONG time = -1;
    ASSERT_HRESULT_SUCCEEDED(Manager()->get_SyncTime(b, &time));
    EXPECT_EQ(time, 0);
}

TEST_F(SyncManagerTest, SessionRunsEveryCheckedSynchronizerThroughItsPhasesBetweenPcOnAndPcOff) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    Schedule(CLSID_TestSync2, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync1), "Phase3", "bytes,unresolved:2,complete");
    SetText(SyncKey(CLSID_TestSync2), "Phase2", "duplicate");
    SetText(SyncKey(CLSID_TestSync2), "Phase3", "late,complete");
    HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(WaitForStatus(dialog, "Synchronization complete")) << StatusOf(dialog);
    test::SaveScreenshot(test::ExeFolder() + L"\\syncmgr_session.bmp");
    EXPECT_EQ(Phases(1), "1 2 3 4 5"); // unresolved items: the resolve phase runs
    EXPECT_EQ(Phases(2), "1 2 3 5");   // none: it is skipped; repeated and late reports end nothing
    EXPECT_EQ(Phases(3), "");          // not scheduled: unchecked
    EXPECT_EQ(RowStatus(dialog, 0), "Synchronized, 2 conflicts left unresolved");
    EXPECT_EQ(RowStatus(dialog, 1), "Synchronized");
    EXPECT_EQ(ListView_GetCheckState(GetDlgItem(dialog, IDC_SYNC_LIST), 2), 0u);
    const size_t on = LineIndex("device DevA pc on");
    ASSERT_NE(on, size_t(-1));
    const std::vector<std::string> lines = LogLines();
    size_t first = 0;
    while (first < lines.size() && lines[first].rfind("1 Synchronize 1", 0) != 0)
        ++first;
    EXPECT_LT(on, first);
    CloseSession(dialog, "DevA");
    EXPECT_GT(LineIndex("device DevA pc off"), on);
    EXPECT_EQ(Calls("1 Unadvise").size(), 1u);
    // Each step thread's call ran in the apartment that made the synchronizers: the manager's.
    const std::string mainThread = " " + std::to_string(GetCurrentThreadId());
    for (const std::string& call : Calls("1 Synchronize "))
        EXPECT_EQ(call.substr(call.size() - mainThread.size()), mainThread);
}

TEST_F(SyncManagerTest, AFailedPhaseAbandonsOnlyThatSynchronizer) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    Schedule(CLSID_TestSync2, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync1), "Phase1", "error:disk full");
    HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(WaitForStatus(dialog, "Synchronization complete")) << StatusOf(dialog);
    EXPECT_EQ(Phases(1), "1");
    EXPECT_EQ(Phases(2), "1 2 3 5");
    EXPECT_EQ(RowStatus(dialog, 0), "Error: disk full");
    CloseSession(dialog, "DevA");
}

// A synchronizer whose count of unresolved items fails loses the rest of its phases, whether the
// count is asked for its transfer report or before its resolve phase; the others go on.
TEST_F(SyncManagerTest, AFailingCountOfUnresolvedItemsAbandonsOnlyThatSynchronizer) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    Schedule(CLSID_TestSync2, "@TDDevA");
    SetNumber(SyncKey(CLSID_TestSync1), "UnresolvedFails", 1);
    for (const char* transfer : {"customcomplete", "complete"}) {
        SCOPED_TRACE(transfer);
        std::ofstream(g_world->log, std::ios::trunc).close();
        SetText(SyncKey(CLSID_TestSync1), "Phase3", transfer);
        HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(WaitForStatus(dialog, "Synchronization complete")) << StatusOf(dialog);
        EXPECT_EQ(Phases(1), "1 2 3");
        EXPECT_EQ(Phases(2), "1 2 3 5");
        CloseSession(dialog, "DevA");
    }
}

// A step thread that does not end within 10 s of its end report ends the session: the device
// leaves PC mode while the phase still runs.
TEST_F(SyncManagerTest, AStepThatDoesNotEndAfterItsReportEndsTheSession) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync1), "Phase2", "complete,linger:14000");
    HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
    ASSERT_TRUE(dialog);
    // The phase runs in this thread's apartment: this wait resumes once it has ended.
    ASSERT_TRUE(test::PollUntil([] { return !Calls("1 Synchronized 2").empty(); }, 60000));
    ASSERT_TRUE(
        test::PollUntil([] { return LineIndex("device DevA pc off") != size_t(-1); }, kSessionTimeoutMs));
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    size_t ended = size_t(-1);
    const std::vector<std::string> lines = LogLines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("1 Synchronized 2", 0) == 0)
            ended = i;
    EXPECT_LT(LineIndex("device DevA pc off"), ended);
    EXPECT_EQ(Phases(1), "1 2");
    EXPECT_TRUE(test::PollUntil([] { return g_world->hub.BusyUI() == 0; }, kSessionTimeoutMs));
}

TEST_F(SyncManagerTest, CloseDuringAPhaseCancelsAndWaitsForTheStepBeforePcOff) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync1), "Phase2", "wait,complete");
    HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
    ASSERT_TRUE(dialog);
    ComPtr<IZvEnumSyncComponents> all;
    ASSERT_HRESULT_SUCCEEDED(Manager()->EnumComponents3(&all));
    ComPtr<IZvSynchronizer> one;
    GUID clsid;
    ASSERT_EQ(all->Next(1, &one, &clsid, nullptr), S_OK);
    // The phase runs in this thread's apartment and holds it while it waits for its cancel, as
    // a busy synchronizer holds the program's main thread: a user on another thread closes.
    HRESULT secondStep = S_OK, secondSession = S_OK;
    std::thread user([&] {
        for (int i = 0; i < 600 && Calls("1 Synchronize 2").empty(); ++i)
            Sleep(50);
        // Like the property sheet's thread, this thread reaches the manager object directly.
        secondStep = Manager()->SyncStep(one.Get(), SPH_FINALIZE);
        UniqueBstr other(SysAllocString(L"@TDDevB"));
        secondSession = g_world->disp->StartSync(other.Get(), VARIANT_TRUE);
        test::ClickButton(dialog, IDC_SYNC_CLOSE);
    });
    const bool off =
        test::PollUntil([] { return LineIndex("device DevA pc off") != size_t(-1); }, kSessionTimeoutMs);
    user.join();
    ASSERT_TRUE(off);
    EXPECT_EQ(secondStep, E_FAIL);    // refused before anything is marshalled
    EXPECT_EQ(secondSession, E_FAIL); // one session at a time
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    const std::vector<std::string> lines = LogLines();
    size_t cancelled = size_t(-1), ended = size_t(-1);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("1 Cancel", 0) == 0)
            cancelled = i;
        if (lines[i].rfind("1 Synchronized 2", 0) == 0)
            ended = i;
    }
    ASSERT_NE(cancelled, size_t(-1));
    ASSERT_NE(ended, size_t(-1));
    EXPECT_LT(cancelled, ended);
    EXPECT_LT(ended, LineIndex("device DevA pc off"));
    EXPECT_EQ(Phases(1), "1 2");
    EXPECT_TRUE(Calls("device DevB").empty());
}

TEST_F(SyncManagerTest, StopHaltsAfterTheRunningPhaseAndStartBeginsAgain) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    Schedule(CLSID_TestSync2, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync1), "Phase2", "bytes,wait,complete");
    HWND dialog = RunSession(L"@TDDevA", L"Synchronizing DevA <@TDDevA>");
    ASSERT_TRUE(dialog);
    HWND list = GetDlgItem(dialog, IDC_SYNC_LIST);
    // The phase holds this thread's apartment until it is cancelled: a user on another thread
    // tries to uncheck a row and presses Stop.
    bool keptChecked = false;
    std::thread user([&] {
        for (int i = 0; i < 600 && Calls("1 Synchronize 2").empty(); ++i)
            Sleep(50);
        // The phase's byte progress shows on the bar while it runs.
        HWND bar = GetDlgItem(dialog, IDC_SYNC_PROGRESS);
        for (int i = 0; i < 200 && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0; ++i)
            Sleep(50);
        Shoot(dialog, L"syncmgr_session_running.bmp");
        ListView_SetCheckState(list, 1, FALSE);
        keptChecked = ListView_GetCheckState(list, 1) != 0;
        test::ClickButton(dialog, IDC_SYNC_STOP);
    });
    const bool halted = test::PollUntil(
        [&] { return !Calls("1 Synchronized 2").empty() && StatusOf(dialog) == "Ready"; }, kSessionTimeoutMs);
    user.join();
    ASSERT_TRUE(halted) << StatusOf(dialog);
    EXPECT_TRUE(keptChecked); // no change of the checks while a phase runs
    EXPECT_EQ(Phases(1), "1 2");
    EXPECT_EQ(Phases(2), ""); // nothing further until Start
    EXPECT_EQ(RowStatus(dialog, 0), "Stopped");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SYNC_START)));

    // Start runs every checked row again from its first phase.
    SetText(SyncKey(CLSID_TestSync1), "Phase2", "complete");
    ASSERT_TRUE(test::ClickButton(dialog, IDC_SYNC_START));
    ASSERT_TRUE(WaitForStatus(dialog, "Synchronization complete")) << StatusOf(dialog);
    EXPECT_EQ(Phases(1), "1 2 1 2 3 5");
    EXPECT_EQ(Phases(2), "1 2 3 5");

    // With no row checked Start only says so.
    for (int row = 0; row < 3; ++row)
        ListView_SetCheckState(list, row, FALSE);
    ASSERT_TRUE(test::ClickButton(dialog, IDC_SYNC_START));
    HWND box = test::WaitForWindow(L"#32770", L"Synchronize", kSessionTimeoutMs);
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(test::WaitForWindowGone(box, kSessionTimeoutMs));
    EXPECT_EQ(Phases(1), "1 2 1 2 3 5");
    CloseSession(dialog, "DevA");
}

// What synchronizers ask of a test device through the hub: its id by console command, every
// entry below the root, minute-resolution times and a free-space quota when set so.
TEST_F(SyncManagerTest, TestDevicesAnswerWhatSynchronizersAsk) {
    IZelvanMgr* hub = static_cast<IZelvanMgr*>(g_world->hub.Hub());
    char b[] = "@TDDevB", idCommand[] = "id ";
    LONG length = 0;
    LPSTR reply = nullptr;
    ASSERT_HRESULT_SUCCEEDED(hub->Command(b, idCommand, &length, &reply));
    ASSERT_TRUE(reply);
    EXPECT_STREQ(reply, "id @TDDevB");
    CoTaskMemFree(reply);

    const std::string device = g_world->root + "\\devices\\DevB";
    ASSERT_TRUE(CreateDirectoryA((device + "\\Outer").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((device + "\\Outer\\Inner").c_str(), nullptr));
    const std::string note = device + "\\Outer\\Inner\\note.txt";
    std::ofstream(note) << "twelve bytes";
    {
        UniqueHandle file(CreateFileA(note.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        SYSTEMTIME at = {2024, 5, 0, 17, 12, 34, 56, 789};
        FILETIME stamp;
        SystemTimeToFileTime(&at, &stamp);
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &stamp));
    }
    const auto listing = [&] {
        std::vector<std::pair<std::string, ULONGLONG>> entries;
        ComPtr<IZvEnumFileItems> all;
        if (FAILED(hub->GetAllItems(b, &all)) || !all)
            return entries;
        ZVFILEITEM item = {};
        LONG fetched = 0;
        while (all->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            entries.emplace_back(item.strName ? item.strName : "",
                                 (static_cast<ULONGLONG>(static_cast<DWORD>(item.nTimeHigh)) << 32) |
                                     static_cast<DWORD>(item.nTimeLow));
            CoTaskMemFree(item.strName);
            CoTaskMemFree(item.strDesc);
            CoTaskMemFree(item.strIconFile);
            item = {};
        }
        return entries;
    };
    const auto timeOf = [](const std::vector<std::pair<std::string, ULONGLONG>>& entries, const char* name) {
        for (const auto& [path, time] : entries)
            if (path == name)
                return time;
        return ULONGLONG{0};
    };
    constexpr ULONGLONG kMinute = 60ULL * 10000000ULL;
    std::vector<std::pair<std::string, ULONGLONG>> entries = listing();
    EXPECT_NE(timeOf(entries, "Outer"), 0u);
    EXPECT_NE(timeOf(entries, "Outer\\Inner"), 0u);
    EXPECT_NE(timeOf(entries, "Outer\\Inner\\note.txt") % kMinute, 0u);
    const std::string settings = std::string(tests::kTestDeviceSettingsKey) + "\\DevB";
    SetNumber(settings, "MinuteTimes", 1);
    entries = listing();
    EXPECT_EQ(timeOf(entries, "Outer\\Inner\\note.txt") % kMinute, 0u);
    EXPECT_NE(timeOf(entries, "Outer\\Inner\\note.txt"), 0u);

    SetNumber(settings, "FreeBytes", 4096);
    char root[] = "DevB\\";
    VOLUMEINFO volume = {};
    ASSERT_HRESULT_SUCCEEDED(hub->GetVolumeInfo(root, &volume));
    EXPECT_EQ(static_cast<long long>(volume.nFreeBlocks) * volume.nBlockSize, 4096);
    RegDeleteTreeA(HKEY_CURRENT_USER, settings.c_str());
    test::DeleteTree(FromAnsi(device + "\\Outer"));
}

TEST_F(SyncManagerTest, UnconfirmedPcModeShowsNoDialogAndPutsTheHubBack) {
    Schedule(CLSID_TestSync1, "@TDStubborn");
    UniqueBstr id(SysAllocString(L"@TDStubborn"));
    HRESULT hr = E_FAIL;
    test::PollUntil([&] { return (hr = g_world->disp->DoSync(id.Get(), VARIANT_TRUE)) != E_FAIL; }, 10000);
    ASSERT_HRESULT_SUCCEEDED(hr);
    EXPECT_NE(LineIndex("device Stubborn pc on"), size_t(-1));
    EXPECT_NE(LineIndex("device Stubborn pc off"), size_t(-1)); // sent on, so switched off again
    EXPECT_TRUE(Calls("1 Synchronize").empty());
    EXPECT_EQ(g_world->hub.BusyUI(), 0);
    LONG ui = 0;
    ASSERT_HRESULT_SUCCEEDED(g_world->hub.Hub()->get_EnableUI(&ui));
    EXPECT_EQ(ui, 1);

    // A hub busy with another operation: the device is neither switched on nor off.
    std::ofstream(g_world->log, std::ios::trunc).close();
    ASSERT_HRESULT_SUCCEEDED(static_cast<IZelvanMgr*>(g_world->hub.Hub())->put_BusyUI(1));
    UniqueBstr a(SysAllocString(L"@TDDevA"));
    test::PollUntil([&] { return (hr = g_world->disp->DoSync(a.Get(), VARIANT_TRUE)) != E_FAIL; }, 10000);
    ASSERT_HRESULT_SUCCEEDED(hr);
    EXPECT_TRUE(Calls("device DevA").empty());
    EXPECT_EQ(g_world->hub.BusyUI(), 1);
    static_cast<IZelvanMgr*>(g_world->hub.Hub())->put_BusyUI(0);
}

} // namespace

namespace {

// A device property sheet with some of the manager's pages, shown on a thread of its own as the
// hub shows it: the device handed over marshalled, the manager and the hub made by their classes.
class SheetRun {
  public:
    SheetRun(size_t deviceSlot, std::vector<CLSID> pages) : pages_(std::move(pages)) {
        hub::RecordPtr record = g_world->hub.Hub()->Slot(deviceSlot);
        if (record)
            CoMarshalInterThreadInterfaceInStream(__uuidof(IZvDevice), record->device.Get(), &device_);
        thread_.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    }
    ~SheetRun() {
        if (sheet_)
            PostMessageW(sheet_, WM_COMMAND, IDCANCEL, 0);
        test::PumpUntilThreadEnds(thread_.Get(), 15000);
    }
    HWND Sheet() {
        test::PollUntil([&] { return sheet_ != nullptr; }, 15000);
        return sheet_;
    }
    // The visible page once its controls are filled.
    HWND Page() {
        HWND page = nullptr;
        test::PollUntil(
            [&] {
                HWND child = nullptr;
                while (Sheet() && (child = FindWindowExA(sheet_, child, "#32770", nullptr)))
                    if (IsWindowVisible(child))
                        page = child;
                return page != nullptr;
            },
            15000);
        return page;
    }
    void Apply() {
        HWND apply = GetDlgItem(Sheet(), IDC_SHEET_APPLY);
        ASSERT_TRUE(test::PollUntil([&] { return IsWindowEnabled(apply) != FALSE; }, 10000));
        test::ClickButton(sheet_, IDC_SHEET_APPLY);
        ASSERT_TRUE(test::PollUntil([&] { return !IsWindowEnabled(apply); }, 10000));
    }

  private:
    static DWORD WINAPI Run(void* context) {
        auto* self = static_cast<SheetRun*>(context);
        ComApartment apartment;
        ComPtr<IZvDevice> device;
        ComPtr<IZvSyncMgr> manager;
        ComPtr<IZelvanMgr> hub;
        if (FAILED(CoGetInterfaceAndReleaseStream(self->device_, __uuidof(IZvDevice),
                                                  reinterpret_cast<void**>(&device))) ||
            FAILED(CoCreateInstance(CLSID_ZvSyncMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvSyncMgr),
                                    reinterpret_cast<void**>(&manager))) ||
            FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                                    reinterpret_cast<void**>(&hub))))
            return 1;
        UniqueModule language(LoadLanguageLibrary(nullptr));
        DevicePropertySheet sheet(language.Get());
        sheet.Setup("Device pages", {device.Get(), manager.Get(), manager.Get(), hub.Get()});
        for (const CLSID& page : self->pages_)
            sheet.AddPage(page);
        sheet.SetWindowCreatedHandler([self](HWND window) { self->sheet_ = window; });
        sheet.Show();
        self->sheet_ = nullptr;
        return 0;
    }

    std::vector<CLSID> pages_;
    IStream* device_ = nullptr;
    std::atomic<HWND> sheet_{nullptr};
    UniqueHandle thread_;
};

size_t SlotOf(const std::string& id) {
    for (size_t i = 0; i < 8; ++i)
        if (hub::RecordPtr record = g_world->hub.Hub()->Slot(i); record && record->strID == id)
            return i;
    return 99;
}

std::string ListText(HWND list, int row, int column) {
    char text[256] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

} // namespace

TEST_F(SyncManagerTest, OptionsPageSchedulesWhatIsCheckedAndStoresAutomaticSynchronization) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    SetText(SyncKey(CLSID_TestSync3), "Versions", "21");
    const std::string key = std::string(kDeviceListKey) + "\\@TDDevA";
    SetNumber(key, "SyncTime", 0);
    {
        SheetRun run(SlotOf("@TDDevA"), {CLSID_ZvSyncOptions});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        HWND list = GetDlgItem(page, IDC_OPTIONS_SYNC_LIST);
        ASSERT_TRUE(test::PollUntil([&] { return ListView_GetItemCount(list) == 3; }, 10000));
        EXPECT_EQ(ListText(list, 0, 0), "Test synchronizer 1");
        EXPECT_NE(ListView_GetCheckState(list, 0), 0u);
        EXPECT_EQ(ListView_GetCheckState(list, 1), 0u);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_OPTIONS_AUTO_SYNC)));
        Shoot(run.Sheet(), L"syncmgr_options_page.bmp");
        ListView_SetCheckState(list, 0, FALSE);
        ListView_SetCheckState(list, 1, TRUE);
        test::ClickButton(page, IDC_OPTIONS_AUTO_SYNC);
        run.Apply();
    }
    char a[] = "@TDDevA";
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, a), S_FALSE);
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync2, a), S_OK);
    EXPECT_EQ(ReadNumber(key, "SyncTime"), 1u);

    // A 1.0 device cannot synchronize by itself: the box is off and Apply stores 0.
    SetNumber(std::string(kDeviceListKey) + "\\@TDDev10", "SyncTime", 1);
    {
        SheetRun run(SlotOf("@TDDev10"), {CLSID_ZvSyncOptions});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        HWND list = GetDlgItem(page, IDC_OPTIONS_SYNC_LIST);
        ASSERT_TRUE(test::PollUntil([&] { return ListView_GetItemCount(list) == 2; }, 10000));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_OPTIONS_AUTO_SYNC)));
        ListView_SetCheckState(list, 0, TRUE);
        run.Apply();
    }
    EXPECT_EQ(ReadNumber(std::string(kDeviceListKey) + "\\@TDDev10", "SyncTime"), 0u);
}

TEST_F(SyncManagerTest, TwoOptionsPagesAndTheDispatchFaceShareTheStoresWithoutLosingChanges) {
    Schedule(CLSID_TestSync1, "@TDDevA");
    const std::string key = std::string(kDeviceListKey) + "\\@TDDevA";
    UniqueBstr id(SysAllocString(L"@TDDevA"));
    ASSERT_HRESULT_SUCCEEDED(g_world->disp->put_SyncTime(id.Get(), VARIANT_TRUE));
    {
        SheetRun first(SlotOf("@TDDevA"), {CLSID_ZvSyncOptions});
        SheetRun second(SlotOf("@TDDevA"), {CLSID_ZvSyncOptions});
        HWND one = first.Page(), two = second.Page();
        ASSERT_TRUE(one && two);
        HWND listOne = GetDlgItem(one, IDC_OPTIONS_SYNC_LIST), listTwo = GetDlgItem(two, IDC_OPTIONS_SYNC_LIST);
        ASSERT_TRUE(test::PollUntil(
            [&] { return ListView_GetItemCount(listOne) == 3 && ListView_GetItemCount(listTwo) == 3; }, 10000));
        // What the dispatch face stored shows on the page.
        EXPECT_EQ(IsDlgButtonChecked(one, IDC_OPTIONS_AUTO_SYNC), BST_CHECKED);
        // The first page takes the first synchronizer off; the second, opened before that was
        // applied and still showing it checked, adds the third: neither change is lost.
        ListView_SetCheckState(listOne, 0, FALSE);
        first.Apply();
        ListView_SetCheckState(listTwo, 2, TRUE);
        test::ClickButton(two, IDC_OPTIONS_AUTO_SYNC);
        second.Apply();
    }
    char a[] = "@TDDevA";
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync1, a), S_FALSE);
    EXPECT_EQ(Manager()->IsComponentScheduled(&CLSID_TestSync3, a), S_OK);
    VARIANT_BOOL automatic = VARIANT_TRUE;
    ASSERT_HRESULT_SUCCEEDED(g_world->disp->get_SyncTime(id.Get(), &automatic));
    EXPECT_EQ(automatic, VARIANT_FALSE);
    EXPECT_EQ(ReadNumber(key, "SyncTime"), 0u);
}

TEST_F(SyncManagerTest, RulesPageShowsAndStoresTheConflictResolution) {
    const std::string key = std::string(kDeviceListKey) + "\\@TDDevA";
    SetNumber(key, "ConflictResolution", 7);
    {
        SheetRun run(SlotOf("@TDDevA"), {CLSID_ZvSyncRules});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        EXPECT_EQ(IsDlgButtonChecked(page, IDC_RULES_MANUAL), BST_CHECKED);
        test::ClickButton(page, IDC_RULES_REPLACE_DEVICE);
        run.Apply();
    }
    EXPECT_EQ(ReadNumber(key, "ConflictResolution"), 2u);
    UniqueBstr id(SysAllocString(L"@TDDevA"));
    {
        SheetRun run(SlotOf("@TDDevA"), {CLSID_ZvSyncRules});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        EXPECT_EQ(IsDlgButtonChecked(page, IDC_RULES_REPLACE_DEVICE), BST_CHECKED);
    }
}

TEST_F(SyncManagerTest, DeviceOptionsAndWebPagesShowTheDeviceAndAClearFailure) {
    const std::string key = std::string(kDeviceListKey) + "\\@TDDevB";
    SetNumber(key, "IsGuest", 1);
    SetNumber(key, "DisconnectionAlert", 0);
    {
        SheetRun run(SlotOf("@TDDevB"), {CLSID_DeviceOptns});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        HWND list = GetDlgItem(page, IDC_DEVOPT_INFO);
        ASSERT_TRUE(test::PollUntil([&] { return ListView_GetItemCount(list) == 3; }, 10000))
            << ListView_GetItemCount(list) << " rows, first " << ListText(list, 0, 0) << "="
            << ListText(list, 0, 1);
        EXPECT_EQ(ListText(list, 0, 0), "model");
        EXPECT_EQ(ListText(list, 0, 1), "21");
        EXPECT_EQ(IsDlgButtonChecked(page, IDC_DEVOPT_GUEST), BST_CHECKED);
        Shoot(run.Sheet(), L"syncmgr_device_page.bmp");
        test::ClickButton(page, IDC_DEVOPT_NOT_GUEST);
        test::ClickButton(page, IDC_DEVOPT_ALERT);
        run.Apply();
    }
    EXPECT_EQ(ReadNumber(key, "IsGuest"), 0u);
    EXPECT_EQ(ReadNumber(key, "DisconnectionAlert"), 1u);
    {
        SheetRun run(SlotOf("@TDDevB"), {::CLSID_TvlPlus});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        // No browser engine here: the page says so rather than hanging or showing a blank frame.
        char status[256] = {};
        test::PollUntil(
            [&] {
                GetDlgItemTextA(page, IDC_TVL_PLUS_STATUS, status, sizeof(status));
                return status[0] != 0;
            },
            5000);
        Shoot(run.Sheet(), L"syncmgr_web_page.bmp");
        EXPECT_STREQ(status, "The web page cannot be shown: no web browser is installed on this computer.");
    }
}

namespace {

// Answers the message box titled `caption` that comes within 20 s with OK; its text.
std::string AnswerBox(const wchar_t* caption) {
    HWND box = test::WaitForWindow(L"#32770", caption, 20000);
    if (!box)
        return "<no box>";
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    test::WaitForWindowGone(box, 10000);
    return text;
}

std::string LanguageString(UINT id) {
    UniqueModule language(LoadLanguageLibrary(nullptr));
    char text[512] = {};
    LoadStringA(language.Get(), id, text, sizeof(text));
    return text;
}

// Types into an edit box of another thread's page as a user does (the page may answer with a
// message box, so the typing runs on a thread of its own).
void Type(HWND page, int id, const char* text) {
    std::thread typing([=] { SetDlgItemTextA(page, id, text); });
    typing.detach();
}

} // namespace

TEST_F(SyncManagerTest, TheDeviceOptionsPageRenamesTheDeviceAndSaysWhyWhenItCannot) {
    const std::string settings = std::string(tests::kTestDeviceSettingsKey) + "\\DevB";
    auto nameOf = [](const char* id) {
        unsigned char name[64] = {};
        g_world->hub.Hub()->GetDeviceNameByID(const_cast<LPSTR>(id), sizeof(name), name);
        return std::string(reinterpret_cast<char*>(name));
    };
    auto boxText = [](HWND page) {
        char text[64] = {};
        GetDlgItemTextA(page, IDC_DEVOPT_NAME, text, sizeof(text));
        return std::string(text);
    };
    // A device busy with an operation: the page says so and puts the name back.
    SetNumber(settings, "RenameResult", static_cast<DWORD>(E_PENDING));
    {
        SheetRun run(SlotOf("@TDDevB"), {CLSID_DeviceOptns});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        // A name the device cannot take is refused as it is typed, and the last good one comes back.
        Type(page, IDC_DEVOPT_NAME, "Pocket");
        ASSERT_TRUE(test::PollUntil([&] { return boxText(page) == "Pocket"; }, 10000));
        Type(page, IDC_DEVOPT_NAME, "bad/name");
        EXPECT_EQ(AnswerBox(L"Device name"), LanguageString(IDS_DEVICE_BAD_NAME));
        EXPECT_TRUE(test::PollUntil([&] { return boxText(page) == "Pocket"; }, 10000)) << boxText(page);
        test::ClickButton(run.Sheet(), IDC_SHEET_APPLY);
        EXPECT_EQ(AnswerBox(L"Device name"), LanguageString(IDS_DEVICE_NAME_PENDING));
        EXPECT_TRUE(test::PollUntil([&] { return boxText(page) == "DevB"; }, 10000)) << boxText(page);
    }
    EXPECT_EQ(nameOf("@TDDevB"), "DevB");
    // Any other refusal: the page says the device could not be renamed and keeps the new name.
    SetNumber(settings, "RenameResult", static_cast<DWORD>(E_FAIL));
    {
        SheetRun run(SlotOf("@TDDevB"), {CLSID_DeviceOptns});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        Type(page, IDC_DEVOPT_NAME, "Pocket");
        ASSERT_TRUE(test::PollUntil([&] { return boxText(page) == "Pocket"; }, 10000));
        test::ClickButton(run.Sheet(), IDC_SHEET_APPLY);
        EXPECT_EQ(AnswerBox(L"Device name"), LanguageString(IDS_DEVICE_RENAME_FAILED));
        EXPECT_EQ(boxText(page), "Pocket");
    }
    EXPECT_EQ(nameOf("@TDDevB"), "DevB");
    // A device that takes the name: the hub's list shows it.
    RegDeleteKeyValueA(HKEY_CURRENT_USER, settings.c_str(), "RenameResult");
    {
        SheetRun run(SlotOf("@TDDevB"), {CLSID_DeviceOptns});
        HWND page = run.Page();
        ASSERT_TRUE(page);
        Type(page, IDC_DEVOPT_NAME, "Pocket");
        ASSERT_TRUE(test::PollUntil([&] { return boxText(page) == "Pocket"; }, 10000));
        run.Apply();
    }
    EXPECT_EQ(nameOf("@TDDevB"), "Pocket");
    // The other tests know the device by its first name.
    hub::RecordPtr record = g_world->hub.Hub()->Slot(SlotOf("@TDDevB"));
    ASSERT_TRUE(record);
    char first[] = "DevB";
    ASSERT_HRESULT_SUCCEEDED(record->device->SetDeviceName(first));
    sync::RefreshDeviceNames(static_cast<IZelvanMgr*>(g_world->hub.Hub()));
    EXPECT_EQ(nameOf("@TDDevB"), "DevB");
}

// A string id that is empty or holds a "\" would name the device list's own key or a key below
// another device's: the manager and its pages refuse it and touch no key.
TEST_F(SyncManagerTest, AnEmptyDeviceIdOrOneWithABackslashIsRefused) {
    const std::string inner = std::string(kDeviceListKey) + "\\@TDDevA\\Inner";
    RegDeleteTreeA(HKEY_CURRENT_USER, inner.c_str());
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, inner.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &created,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kDeviceListKey, "ConflictResolution");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kDeviceListKey, "SyncTime");
    char empty[] = "", nested[] = "@TDDevA\\Inner";
    for (char* id : {empty, nested}) {
        SCOPED_TRACE(id);
        ZVSYNCRESOLUTION resolution = SSR_MANUAL_RESOLUTION;
        LONG syncTime = 0;
        EXPECT_EQ(Manager()->put_ConflictResolution(id, SSR_REPLACE_ON_DEVICE), E_INVALIDARG);
        EXPECT_EQ(Manager()->put_SyncTime(id, 1), E_INVALIDARG);
        EXPECT_EQ(Manager()->get_ConflictResolution(id, &resolution), E_INVALIDARG);
        EXPECT_EQ(Manager()->get_SyncTime(id, &syncTime), E_INVALIDARG);
    }
    EXPECT_EQ(ReadNumber(kDeviceListKey, "ConflictResolution"), 0xFFFFu);
    EXPECT_EQ(ReadNumber(kDeviceListKey, "SyncTime"), 0xFFFFu);
    EXPECT_EQ(ReadNumber(inner, "ConflictResolution"), 0xFFFFu);
    EXPECT_EQ(ReadNumber(inner, "SyncTime"), 0xFFFFu);

    // A device that gives such an id: each page refuses it.
    const std::string settings = std::string(tests::kTestDeviceSettingsKey) + "\\DevA";
    hub::RecordPtr record = g_world->hub.Hub()->Slot(SlotOf("@TDDevA"));
    ASSERT_TRUE(record);
    for (const char* id : {"", "@TDDevA\\Inner"}) {
        SCOPED_TRACE(id);
        SetText(settings, "StrId", id);
        IUnknown* objects[] = {record->device.Get(), Manager(), Manager(),
                               static_cast<IZelvanMgr*>(g_world->hub.Hub())};
        for (const CLSID* page : {&CLSID_ZvSyncOptions, &CLSID_ZvSyncRules, &CLSID_DeviceOptns}) {
            ComPtr<IPropertyPage> object;
            ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(*page, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                                      reinterpret_cast<void**>(&object)));
            EXPECT_EQ(object->SetObjects(4, objects), E_INVALIDARG);
        }
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, settings.c_str(), "StrId");
    RegDeleteTreeA(HKEY_CURRENT_USER, inner.c_str());
}

namespace {

// A synchronizer that does nothing but report each phase complete to the benchmark's sink.
class NoOpSynchronizer : public ComObject<NoOpSynchronizer, IZvSynchronizer> {
  public:
    explicit NoOpSynchronizer(IZvSyncCallback* sink) : sink_(sink) {}
    STDMETHODIMP GetUserFriendlyName(LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemTypes(LONG, LONG*, ZVSYNCITEMTYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsCompatible(LPSTR) override { return S_OK; }
    STDMETHODIMP SetDevice(LPSTR) override { return S_OK; }
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION) override { return S_OK; }
    STDMETHODIMP SetParentWindow(ULONG_PTR) override { return S_OK; }
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override {
        return sink_->OnUpdate(this, phase, SST_COMPLETE, 1, 1);
    }
    STDMETHODIMP Cancel() override { return S_OK; }
    STDMETHODIMP GetTotalItems(LONG* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetSynchronizedItems(LONG* n) override { return GetTotalItems(n); }
    STDMETHODIMP GetUnresolvedItems(LONG* n) override { return GetTotalItems(n); }
    STDMETHODIMP IsTunable() override { return S_FALSE; }
    STDMETHODIMP Tune(LPSTR) override { return S_FALSE; }

  private:
    IZvSyncCallback* sink_;
};

// Counts the completions the no-op synchronizers report.
class CountingSink : public ComObject<CountingSink, IZvSyncCallback> {
  public:
    long completed = 0;
    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS status, ULONG, ULONG) override {
        completed += status == SST_COMPLETE;
        return S_OK;
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS, LPSTR, ULONG, ULONG) override {
        return S_OK;
    }
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE, LPSTR) override { return S_OK; }
};

void PumpOnce() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

DWORD WINAPI ReferenceThread(void* stream) {
    ComApartment apartment;
    ComPtr<IZvSynchronizer> synchronizer;
    if (FAILED(CoGetInterfaceAndReleaseStream(static_cast<IStream*>(stream), __uuidof(IZvSynchronizer),
                                              reinterpret_cast<void**>(&synchronizer))))
        return 1;
    LONG items = 0;
    return SUCCEEDED(synchronizer->GetTotalItems(&items)) ? 0 : 1;
}

} // namespace

// One phase step (SyncStep to the completion report and the step thread's end, which the next
// SyncStep waits for) against the least a step thread costs: a thread start, COM initialisation,
// an unmarshal and one call back into this apartment. A round of steps takes every synchronizer
// through every phase, a round of the reference as many threads; the rounds alternate and each
// side's figure is its median round. Last in this file: the session tests need no step thread
// left running.
TEST_F(SyncManagerTest, BenchmarkPhaseStep) {
    constexpr int kSynchronizers = 20;
    constexpr int kPhases = 5;
    constexpr int kRounds = 11;
    constexpr DWORD kStepLimitMs = 10000;
    ComPtr<CountingSink> sink;
    ASSERT_HRESULT_SUCCEEDED(MakeComObject(sink));
    std::vector<ComPtr<NoOpSynchronizer>> synchronizers(kSynchronizers);
    for (auto& synchronizer : synchronizers)
        ASSERT_HRESULT_SUCCEEDED(MakeComObject(synchronizer, sink.Get()));

    long expected = 0;
    const auto steps = [&]() -> double {
        const double start = test::BenchmarkClock();
        for (int phase = SPH_INITIALIZE; phase <= SPH_FINALIZE; ++phase) {
            for (auto& synchronizer : synchronizers) {
                // Accepted as soon as the previous step thread has ended.
                const DWORD started = GetTickCount();
                const auto inTime = [&] { return GetTickCount() - started < kStepLimitMs; };
                HRESULT hr;
                while ((hr = Manager()->SyncStep(synchronizer.Get(), static_cast<ZVSYNCPHASE>(phase))) ==
                           E_FAIL &&
                       inTime())
                    PumpOnce();
                EXPECT_HRESULT_SUCCEEDED(hr);
                if (FAILED(hr))
                    return -1;
                ++expected;
                while (sink->completed < expected && inTime())
                    PumpOnce();
                EXPECT_EQ(sink->completed, expected) << "a step did not end in time";
                if (sink->completed != expected)
                    return -1;
            }
        }
        return (test::BenchmarkClock() - start) / (kSynchronizers * kPhases);
    };
    const auto reference = [&]() -> double {
        const double start = test::BenchmarkClock();
        for (int i = 0; i < kSynchronizers * kPhases; ++i) {
            IStream* stream = nullptr;
            EXPECT_HRESULT_SUCCEEDED(CoMarshalInterThreadInterfaceInStream(
                __uuidof(IZvSynchronizer), static_cast<IZvSynchronizer*>(synchronizers[0].Get()), &stream));
            if (!stream)
                return -1;
            UniqueHandle thread(CreateThread(nullptr, 0, ReferenceThread, stream, 0, nullptr));
            const bool ended = thread && test::PumpUntilThreadEnds(thread.Get(), 10000);
            EXPECT_TRUE(ended) << "a reference thread did not end in time";
            if (!ended)
                return -1;
        }
        return (test::BenchmarkClock() - start) / (kSynchronizers * kPhases);
    };
    const auto [step, threadCost] = test::MedianOfRounds(kRounds, steps, reference);
    ASSERT_GT(threadCost, 0);
    std::printf("phase step %.2f ms, step thread's least cost %.2f ms (median of %d rounds of %d each)\n",
                step * 1000, threadCost * 1000, kRounds, kSynchronizers * kPhases);
    std::printf("benchmark sync_phase_step: ratio %.2f (goal <= 3)\n", step / threadCost);
    EXPECT_EQ(sink->completed, kRounds * kSynchronizers * kPhases);
}
