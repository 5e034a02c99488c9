// A session of the synchronization manager with a script-hosted synchronizer, as the program runs
// one: ZvSync.dll's manager made in this thread's apartment over a hub served by the test, the
// category holding only the script-hosted classes, and only the tasks class given a script. The
// classes without a script cannot be made; the manager leaves them out and the session goes on.
#include "AnsiText.h"
#include "Handles.h"
#include "LangIds.h"
#include "ServedHub.h"
#include "TestSynchronizersOnly.h"
#include "UiHarness.h"
#include "ZvRegistrar.h"
#include "ZvSyncCTX15.h"
#include "ZvSyncMgr.h"
#include "ZvSyncSH.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>

using namespace tv;
using namespace tv::com;

namespace {

constexpr DWORD kSessionTimeoutMs = 30000;
constexpr wchar_t kTasksItem[] = L"SyncTasksOutlookZelvan15";
constexpr wchar_t kLogItem[] = L"ScriptSyncSessionLog";

// Writes what it is asked into a script item of the store, so the test can read it afterwards.
constexpr wchar_t kSessionScript[] = LR"(
var log = "";
var store = null;
function note(text) { log += text + ";"; store.PutItemScript("ScriptSyncSessionLog", log, 1); }
function InitScript() { store = new ActiveXObject("Tavrilon.ZvRegistrar"); return true; }
function GetUserFriendlyName() { return "Tasks by script"; }
function GetItemsCount() { return 1; }
function GetItemClSID(i) { return "{E1E56044-0A89-43ED-AAE4-635F5868CF8F}"; }
function GetItemTypeName(i) { return "Task"; }
function GetItemSyncDirection(i) { return 3; }
function IsCompatible(id) { return id == "@TDDevA"; }
function SetDeviceID(id) { note("device " + id); }
function SetConflictResolution(r) { note("resolution " + r); }
function SetParentWindow(h) { note(h != 0 ? "parent" : "no parent"); }
function Synchronize(phase) {
    note("phase " + phase);
    FireUpdate(phase, 1, 0, 0);
    FireCustomUpdate(phase, 2, "Step " + phase + " of the tasks", phase, 5);
    FireUpdate(phase, 3, 5, 5);
}
function Cancel() { note("cancel"); }
function GetTotalItems() { return 4; }
function GetSynchronizedItems() { return 4; }
function GetUnresolvedItems() { return 0; }
function IsTunable() { return false; }
function Tune(id) { }
)";

class ScriptSyncSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof(temp), temp);
        root_ = std::string(temp) + "tvscriptsync_session";
        test::DeleteTree(FromAnsi(root_));
        CreateDirectoryA(root_.c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices").c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices\\DevA").c_str(), nullptr);
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IZvRegistrarDisp, reinterpret_cast<void**>(&store_)));
        UniqueBstr language(SysAllocString(L"ZvSyncHost\\ScriptLang")), jscript(SysAllocString(L"JScript"));
        ASSERT_HRESULT_SUCCEEDED(store_->put_ItemString(language.Get(), jscript.Get()));
        UniqueBstr item(SysAllocString(kTasksItem)), code(SysAllocString(kSessionScript));
        ASSERT_HRESULT_SUCCEEDED(store_->PutItemScript(item.Get(), code.Get(), 1));
        ASSERT_HRESULT_SUCCEEDED(hub_.Start(root_ + "\\devices"));
        ASSERT_TRUE(test::PollUntil([this] { return hub_.Hub() && DeviceKnown("@TDDevA"); }, 10000));
        // The served hub stands for the program's: its instance mutex tells components so.
        programRuns_.Reset(CreateMutexW(nullptr, FALSE, L"{25A50E30-3183-4b63-B179-043BEACB5806}"));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvSyncMgr, nullptr, CLSCTX_INPROC_SERVER,
                                                  __uuidof(IZvSyncMgr), reinterpret_cast<void**>(&manager_)));
        ASSERT_HRESULT_SUCCEEDED(manager_.As(&disp_));
    }
    void TearDown() override {
        if (manager_)
            manager_->UnscheduleComponent(&CLSID_ZvSyncTasks15, const_cast<LPSTR>("@TDDevA"));
        disp_.Reset();
        manager_.Reset();
        hub_.Stop();
        if (store_) {
            for (const wchar_t* name : {kTasksItem, kLogItem}) {
                UniqueBstr item(SysAllocString(name));
                store_->RemoveItem(RIT_SCRIPT, item.Get());
            }
            store_->Flush();
        }
        test::DeleteTree(FromAnsi(root_));
    }

    bool DeviceKnown(const char* id) {
        unsigned char name[64] = {};
        return SUCCEEDED(hub_.Hub()->GetDeviceNameByID(const_cast<LPSTR>(id), sizeof(name), name));
    }
    std::string Log() {
        UniqueBstr item(SysAllocString(kLogItem)), text;
        if (FAILED(store_->get_ItemScript(item.Get(), text.Put())))
            return "";
        return ToAnsi(text.Get());
    }
    static std::string StatusOf(HWND dialog) {
        char text[256] = {};
        GetDlgItemTextA(dialog, IDC_SYNC_STATUS, text, sizeof(text));
        return text;
    }

    ComApartment apartment_;
    // Only the script-hosted classes stay in the category while the test runs.
    tests::SynchronizersOnly onlyScriptSynchronizers_{{CLSID_ZvSyncTasks15, CLSID_ZvSyncContacts15,
                                                           CLSID_ZvSyncMailOutlook15, CLSID_ZvSyncAppointments15,
                                                           CLSID_ZvSyncSubscriptionGetter}};
    std::string root_;
    ComPtr<IZvRegistrarDisp> store_;
    test::ServedHub hub_;
    UniqueHandle programRuns_;
    ComPtr<IZvSyncMgr> manager_;
    ComPtr<IZvSyncMgrDisp> disp_;
};

TEST_F(ScriptSyncSessionTest, TheManagerRunsTheScriptsPhasesAndLeavesOutClassesWithoutAScript) {
    // Only the class with a script was made: the others are unknown to the manager.
    EXPECT_EQ(E_INVALIDARG, manager_->IsComponentScheduled(const_cast<CLSID*>(&CLSID_ZvSyncContacts15),
                                                           const_cast<LPSTR>("@TDDevA")));
    ASSERT_EQ(S_OK, manager_->ScheduleComponent(const_cast<CLSID*>(&CLSID_ZvSyncTasks15),
                                                const_cast<LPSTR>("@TDDevA")));
    UniqueBstr id(SysAllocString(L"@TDDevA"));
    ASSERT_HRESULT_SUCCEEDED(disp_->StartSync(id.Get(), VARIANT_TRUE));
    HWND dialog = test::WaitForWindow(nullptr, L"Synchronizing DevA <@TDDevA>", kSessionTimeoutMs);
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(test::PollUntil([&] { return StatusOf(dialog) == "Synchronization complete"; }, kSessionTimeoutMs))
        << StatusOf(dialog);
    HWND list = GetDlgItem(dialog, IDC_SYNC_LIST);
    EXPECT_EQ(1, static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    EXPECT_EQ(L"Tasks by script", test::ListViewItemText(list, 0, 0));
    EXPECT_EQ(L"Synchronized", test::ListViewItemText(list, 0, 1));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test::SaveScreenshot(test::ExeFolder() + L"\\scriptsync_session.bmp");
    ASSERT_TRUE(test::ClickButton(dialog, IDC_SYNC_CLOSE));
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    EXPECT_TRUE(test::PollUntil([this] { return hub_.BusyUI() == 0; }, kSessionTimeoutMs));
    // No unresolved items: the resolve phase is skipped.
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("device @TDDevA;")) << log;
    EXPECT_NE(std::string::npos, log.find("parent;phase 1;phase 2;phase 3;phase 5;")) << log;
}

} // namespace
