// The script-hosted synchronizers as the manager and their scripts see them: classes made from
// scripts stored in the item store by the test, every synchronizer call forwarded to its script
// function, the host object's reports reaching the advised sinks, and the conflict dialog.
#include "ComObject.h"
#include "Handles.h"
#include "ScriptSyncIds.h"
#include "TypeInfoDispatch.h"
#include "UiHarness.h"
#include "ScriptSyncTestItem.h"
#include "ZvRegistrar.h"
#include "ZvSyncCTX15.h"
#include "ZvSyncHost.h"
#include "ZvSyncSH.h"
#include <gtest/gtest.h>
#include <comcat.h>
#include <commctrl.h>
#include <cstring>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tv;
using namespace tv::com;

namespace {

constexpr wchar_t kTasks[] = L"SyncTasksOutlookZelvan15";
constexpr wchar_t kContacts[] = L"SyncContactsOutlookZelvan15";
constexpr wchar_t kMail[] = L"SyncMailOutlookZelvan15";
constexpr wchar_t kAppointments[] = L"SyncAppointmentsOutlookZelvan15";
constexpr wchar_t kSubscription[] = L"SyncSubscriptionGetter";
constexpr wchar_t kLanguageItem[] = L"ZvSyncHost\\ScriptLang";
constexpr wchar_t kDialogTitle[] = L"Synchronization conflict";

// Forwards every call to the host, so the sink sees what the synchronizer was asked.
constexpr wchar_t kRecordingScript[] = LR"(
var device = "";
var keptHost = null;
function report(text) { FireCustomUpdate(0, 2, text, 0, 0); }
function InitScript() { keptHost = ZvSyncHost; return true; }
function GetUserFriendlyName() { return "T\u00e4tigkeiten aus Outlook"; }
function GetItemsCount() { return 2; }
function GetItemClSID(i) { return i == 0 ? "{11111111-2222-3333-4444-555555555555}" : "{66666666-7777-8888-9999-AAAAAAAAAAAA}"; }
function GetItemTypeName(i) { return i == 0 ? "Outlook task" : "Device task"; }
function GetItemSyncDirection(i) { return i + 5; }
function IsCompatible(id) { report("IsCompatible " + id); return id == "@TDDevA"; }
function SetDeviceID(id) { device = id; ZvSyncHost.FireCustomUpdate(0, 2, "SetDeviceID " + id, 0, 0); }
function SetConflictResolution(r) { report("SetConflictResolution " + r); }
function SetParentWindow(h) { report("SetParentWindow " + h); }
function Synchronize(phase) {
    report("Synchronize " + phase);
    if (phase == 4) { report("resolved " + ResolveConflict(keptHost, ZvSyncHost)); FireUpdate(phase, 3, 1, 1); return; }
    FireUpdate(phase, 1, 0, 0);
    FireCustomUpdate(phase, 2, "half of " + device, 1, 2);
    if (phase == 3) FireError(phase, "no room on " + device); else FireUpdate(phase, 3, 2, 2);
}
function Cancel() { report("Cancel"); }
function GetTotalItems() { return 7; }
function GetSynchronizedItems() { return 5; }
function GetUnresolvedItems() { return "2"; }
function IsTunable() { return true; }
function Tune(id) { report("Tune " + id); }
)";

// Says no to everything it is asked, and fails its second phase without a report.
constexpr wchar_t kRefusingScript[] = LR"(
function InitScript() { return true; }
function GetItemsCount() { return 1; }
function GetItemClSID(i) { return "not a guid"; }
function GetItemTypeName(i) { return "Contact"; }
function GetItemSyncDirection(i) { return 1; }
function IsCompatible(id) { return false; }
function IsTunable() { return 0; }
function Synchronize(phase) { if (phase == 2) throw new Error("broken"); FireUpdate(phase, 3, 0, 0); }
)";

constexpr wchar_t kDecliningScript[] = L"function InitScript() { return false; }";
constexpr wchar_t kAcceptingScript[] = L"function InitScript() { return true; }";

constexpr wchar_t kVbScript[] = LR"(
Function InitScript()
    InitScript = True
End Function
Function GetUserFriendlyName()
    GetUserFriendlyName = "Abonnements"
End Function
)";

std::string Narrow(const wchar_t* text) {
    char buffer[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
    return buffer;
}

// The item store as the synchronizers read it: scripts and the language set by the test, and
// everything put back when the object goes.
class ItemStore {
  public:
    ItemStore() {
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IZvRegistrarDisp, reinterpret_cast<void**>(&store_)));
        UniqueBstr name(SysAllocString(kLanguageItem));
        if (store_ && FAILED(store_->get_ItemString(name.Get(), savedLanguage_.Put())))
            savedLanguage_.Reset();
    }
    ~ItemStore() {
        if (!store_)
            return;
        for (const wchar_t* item : {kTasks, kContacts, kMail, kAppointments, kSubscription}) {
            UniqueBstr name(SysAllocString(item));
            store_->RemoveItem(RIT_SCRIPT, name.Get());
        }
        SetLanguage(savedLanguage_ ? savedLanguage_.Get() : nullptr);
        store_->Flush();
    }
    ItemStore(const ItemStore&) = delete;
    ItemStore& operator=(const ItemStore&) = delete;

    void PutScript(const wchar_t* item, const wchar_t* code) {
        UniqueBstr name(SysAllocString(item)), text(SysAllocString(code));
        ASSERT_HRESULT_SUCCEEDED(store_->PutItemScript(name.Get(), text.Get(), 1));
    }
    // Null: no language item at all.
    void SetLanguage(const wchar_t* language) {
        UniqueBstr name(SysAllocString(kLanguageItem));
        if (language) {
            UniqueBstr value(SysAllocString(language));
            EXPECT_HRESULT_SUCCEEDED(store_->put_ItemString(name.Get(), value.Get()));
        } else {
            store_->RemoveItem(RIT_STRING, name.Get());
        }
    }

  private:
    ComPtr<IZvRegistrarDisp> store_;
    UniqueBstr savedLanguage_;
};

HRESULT Create(REFCLSID clsid, ComPtr<IZvSynchronizer>& synchronizer) {
    synchronizer.Reset();
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvSynchronizer,
                            reinterpret_cast<void**>(&synchronizer));
}

ComPtr<IUnknown> Identity(IUnknown* object) {
    ComPtr<IUnknown> identity;
    if (object)
        object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    return identity;
}

// A progress sink that writes down every report, with whether it came from `expected`.
class RecordingSink : public ComObject<RecordingSink, IZvSyncCallback> {
  public:
    explicit RecordingSink(std::vector<std::string>* events, std::string tag = "")
        : events_(events), tag_(std::move(tag)) {}
    void Expect(IUnknown* source) { expected_ = Identity(source); }
    bool WrongSource() const { return wrongSource_; }

    STDMETHODIMP OnUpdate(IZvSynchronizer* source, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done,
                          ULONG total) override {
        Note(source, "update " + std::to_string(phase) + " " + std::to_string(status) + " " + std::to_string(done) +
                         "/" + std::to_string(total));
        return S_OK;
    }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer* source, ZVSYNCPHASE phase, ZVSYNCSTATUS status, LPSTR text,
                                ULONG done, ULONG total) override {
        Note(source, phase == 0 ? std::string(text ? text : "<null>")
                                : "custom " + std::to_string(phase) + " " + std::to_string(status) + " " +
                                      (text ? text : "<null>") + " " + std::to_string(done) + "/" +
                                      std::to_string(total));
        return S_OK;
    }
    STDMETHODIMP OnError(IZvSynchronizer* source, ZVSYNCPHASE phase, LPSTR text) override {
        Note(source, "error " + std::to_string(phase) + " " + (text ? text : "<null>"));
        return S_OK;
    }

  private:
    void Note(IZvSynchronizer* source, const std::string& event) {
        if (expected_ && Identity(source).Get() != expected_.Get())
            wrongSource_ = true;
        events_->push_back(tag_ + event);
    }
    std::vector<std::string>* events_;
    std::string tag_;
    ComPtr<IUnknown> expected_;
    bool wrongSource_ = false;
};

// A conflict item: the test item type's properties, with values the test gives by member id;
// `failing` names a property whose read fails.
class TestItem : public ComObject<TestItem, IDispatch> {
  public:
    explicit TestItem(bool typed = true, MEMBERID failing = MEMBERID_NIL) : typed_(typed), failing_(failing) {}
    ~TestItem() override {
        for (auto& value : values_)
            VariantClear(&value.second);
    }
    void SetText(MEMBERID id, const wchar_t* text) {
        VARIANT& value = values_[id];
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(text);
    }
    void SetLong(MEMBERID id, LONG number) {
        VARIANT& value = values_[id];
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = number;
    }
    void SetNull(MEMBERID id) {
        VARIANT& value = values_[id];
        VariantInit(&value);
        value.vt = VT_NULL;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (typed_)
            return dispatch_.GetTypeInfoCount(count);
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return typed_ ? dispatch_.GetTypeInfo(index, lcid, info) : E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (!(flags & DISPATCH_PROPERTYGET) || !params || params->cArgs != 0 || !result)
            return DISP_E_BADPARAMCOUNT;
        if (id == failing_)
            return DISP_E_EXCEPTION;
        VariantInit(result);
        auto found = values_.find(id);
        return found == values_.end() ? S_OK : VariantCopy(result, &found->second);
    }

  private:
    bool typed_;
    MEMBERID failing_;
    std::map<MEMBERID, VARIANT> values_;
    TypeInfoDispatch dispatch_{DIID_DTestContact};
};

class ScriptSynchronizerTest : public ::testing::Test {
  protected:
    void SetUp() override { store_ = std::make_unique<ItemStore>(); }
    void TearDown() override { store_.reset(); }

    ComPtr<RecordingSink> Sink(const std::string& tag = "") {
        ComPtr<RecordingSink> sink;
        EXPECT_HRESULT_SUCCEEDED(MakeComObject(sink, &events_, tag));
        return sink;
    }

    // The tasks class with the recording script, the contacts class with the refusing one.
    void CreateRecordingAndRefusing(ComPtr<IZvSynchronizer>& tasks, ComPtr<IZvSynchronizer>& contacts) {
        store_->PutScript(kTasks, kRecordingScript);
        store_->PutScript(kContacts, kRefusingScript);
        ASSERT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, tasks));
        ASSERT_EQ(S_OK, Create(CLSID_ZvSyncContacts15, contacts));
    }

    ComApartment apartment_;
    std::unique_ptr<ItemStore> store_;
    std::vector<std::string> events_;
};

TEST_F(ScriptSynchronizerTest, AClassExistsOnlyWhenItsScriptSaysSo) {
    store_->SetLanguage(L"JScript");
    store_->PutScript(kTasks, kAcceptingScript);
    store_->PutScript(kMail, kDecliningScript);
    store_->PutScript(kContacts, L"function InitScript() { return 1; }");
    store_->PutScript(kSubscription, L"function InitScript( { return true; }");
    ComPtr<IZvSynchronizer> synchronizer;
    EXPECT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, synchronizer));
    EXPECT_EQ(E_FAIL, Create(CLSID_ZvSyncMailOutlook15, synchronizer)); // false
    EXPECT_EQ(E_FAIL, Create(CLSID_ZvSyncContacts15, synchronizer));    // true only as -1
    EXPECT_FALSE(synchronizer);
    HRESULT missing = Create(CLSID_ZvSyncAppointments15, synchronizer);
    EXPECT_TRUE(FAILED(missing)) << std::hex << missing;
    HRESULT broken = Create(CLSID_ZvSyncSubscriptionGetter, synchronizer);
    EXPECT_TRUE(FAILED(broken)) << std::hex << broken;
    // By ProgID as well, with the category the manager looks for.
    CLSID clsid;
    for (const wchar_t* progId : {L"Tavrilon.ZvSyncTasks15", L"Tavrilon.ZvSyncContacts15.1",
                                  L"Tavrilon.ZvSyncMailOutlook15", L"Tavrilon.ZvSyncAppointments15.1",
                                  L"Tavrilon.ZvSyncSubscriptionGetter"})
        EXPECT_HRESULT_SUCCEEDED(CLSIDFromProgID(progId, &clsid)) << Narrow(progId);
    ComPtr<ICatInformation> categories;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ICatInformation, reinterpret_cast<void**>(&categories)));
    CATID synchronizers = {0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};
    for (const CLSID* each : {&CLSID_ZvSyncTasks15, &CLSID_ZvSyncContacts15, &CLSID_ZvSyncMailOutlook15,
                              &CLSID_ZvSyncAppointments15, &CLSID_ZvSyncSubscriptionGetter})
        EXPECT_EQ(S_OK, categories->IsClassOfCategories(*each, 1, &synchronizers, 0, nullptr));
}

TEST_F(ScriptSynchronizerTest, TheScriptLanguageComesFromTheStoreAndIsJScriptWithoutIt) {
    store_->PutScript(kSubscription, kVbScript);
    store_->PutScript(kTasks, kAcceptingScript);
    store_->SetLanguage(L"VBScript");
    ComPtr<IZvSynchronizer> synchronizer;
    ASSERT_EQ(S_OK, Create(CLSID_ZvSyncSubscriptionGetter, synchronizer));
    unsigned char name[64] = {};
    ASSERT_EQ(S_OK, synchronizer->GetUserFriendlyName(sizeof(name), name));
    EXPECT_STREQ("Abonnements", reinterpret_cast<char*>(name));
    store_->SetLanguage(nullptr);
    EXPECT_TRUE(FAILED(Create(CLSID_ZvSyncSubscriptionGetter, synchronizer))); // VBScript read as JScript
    EXPECT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, synchronizer));
}

TEST_F(ScriptSynchronizerTest, EveryCallRunsItsScriptFunctionWithItsArgumentsAndResult) {
    ComPtr<IZvSynchronizer> tasks, contacts;
    ASSERT_NO_FATAL_FAILURE(CreateRecordingAndRefusing(tasks, contacts));
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(tasks.As(&notify));
    ComPtr<RecordingSink> sink = Sink();
    sink->Expect(tasks.Get());
    LONG cookie = 0;
    ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));

    char device[] = "@TDDevA", other[] = "@TDDevB";
    EXPECT_EQ(S_OK, tasks->IsCompatible(device));
    EXPECT_EQ(S_FALSE, tasks->IsCompatible(other));
    EXPECT_EQ(S_FALSE, contacts->IsCompatible(device));
    EXPECT_EQ(E_INVALIDARG, tasks->IsCompatible(nullptr));
    EXPECT_EQ(S_OK, tasks->SetDevice(device));
    EXPECT_EQ(S_OK, tasks->SetConflictResolution(SSR_REPLACE_ON_COMPUTER));
    EXPECT_EQ(S_OK, tasks->SetParentWindow(static_cast<ULONG_PTR>(0x10ABC)));
    EXPECT_EQ(S_OK, tasks->Cancel());
    EXPECT_EQ(S_OK, tasks->Tune(device));
    EXPECT_EQ(S_OK, tasks->IsTunable());
    EXPECT_EQ(S_FALSE, contacts->IsTunable());
    LONG total = 0, done = 0, unresolved = 0;
    EXPECT_EQ(S_OK, tasks->GetTotalItems(&total));
    EXPECT_EQ(S_OK, tasks->GetSynchronizedItems(&done));
    EXPECT_EQ(S_OK, tasks->GetUnresolvedItems(&unresolved));
    EXPECT_EQ(7, total);
    EXPECT_EQ(5, done);
    EXPECT_EQ(2, unresolved);
    EXPECT_EQ(E_POINTER, tasks->GetTotalItems(nullptr));
    // A function the script lacks fails the call with the script's failure.
    EXPECT_TRUE(FAILED(contacts->GetTotalItems(&total)));
    EXPECT_TRUE(FAILED(contacts->SetDevice(device)));
    const std::vector<std::string> expected = {
        "IsCompatible @TDDevA", "IsCompatible @TDDevB", "SetDeviceID @TDDevA", "SetConflictResolution 3",
        "SetParentWindow 68284", "Cancel", "Tune @TDDevA"};
    EXPECT_EQ(expected, events_);
    EXPECT_FALSE(sink->WrongSource());

    // The name: narrowed to the ANSI code page and cut to the buffer, zero included.
    unsigned char name[64];
    ASSERT_EQ(S_OK, tasks->GetUserFriendlyName(sizeof(name), name));
    EXPECT_EQ(Narrow(L"T\u00e4tigkeiten aus Outlook"), reinterpret_cast<char*>(name));
    std::memset(name, 'x', sizeof(name));
    ASSERT_EQ(S_OK, tasks->GetUserFriendlyName(5, name));
    EXPECT_EQ(Narrow(L"T\u00e4ti"), reinterpret_cast<char*>(name));
    EXPECT_EQ('x', name[5]);
    EXPECT_EQ(E_POINTER, tasks->GetUserFriendlyName(5, nullptr));
    EXPECT_EQ(S_OK, notify->Unadvise(cookie));
}

TEST_F(ScriptSynchronizerTest, ItemTypesComeFromTheScriptAndMustFitTheCallersArray) {
    ComPtr<IZvSynchronizer> tasks, contacts;
    ASSERT_NO_FATAL_FAILURE(CreateRecordingAndRefusing(tasks, contacts));
    ZVSYNCITEMTYPE types[4] = {};
    LONG count = 0;
    ASSERT_EQ(S_OK, tasks->GetItemTypes(4, &count, types));
    ASSERT_EQ(2, count);
    const GUID first = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    const GUID second = {0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
    EXPECT_TRUE(IsEqualGUID(first, types[0].guid));
    EXPECT_TRUE(IsEqualGUID(second, types[1].guid));
    EXPECT_STREQ("Outlook task", types[0].name);
    EXPECT_STREQ("Device task", types[1].name);
    EXPECT_EQ(5u, types[0].flags);
    EXPECT_EQ(6u, types[1].flags);
    for (auto& type : types)
        CoTaskMemFree(type.name);

    ZVSYNCITEMTYPE one[1] = {};
    count = 0;
    EXPECT_EQ(E_FAIL, tasks->GetItemTypes(1, &count, one));
    EXPECT_EQ(2, count); // the count is set before the refusal
    EXPECT_EQ(nullptr, one[0].name);
    EXPECT_EQ(E_POINTER, tasks->GetItemTypes(4, nullptr, types));
    EXPECT_EQ(E_POINTER, tasks->GetItemTypes(4, &count, nullptr));
    // A type whose id is no GUID ends the call with the conversion's failure.
    ZVSYNCITEMTYPE bad[4] = {};
    EXPECT_TRUE(FAILED(contacts->GetItemTypes(4, &count, bad)));
    EXPECT_EQ(nullptr, bad[0].name);
}

TEST_F(ScriptSynchronizerTest, AdviseKeepsEachSinkOnceUnderCountingCookies) {
    store_->PutScript(kTasks, kRecordingScript);
    ComPtr<IZvSynchronizer> tasks;
    ASSERT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, tasks));
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(tasks.As(&notify));
    ComPtr<RecordingSink> first = Sink("A "), second = Sink("B ");
    LONG cookie1 = 0, cookie2 = 0, again = 0;
    EXPECT_EQ(E_INVALIDARG, notify->Advise(nullptr, &cookie1));
    EXPECT_EQ(E_POINTER, notify->Advise(first.Get(), nullptr));
    ASSERT_EQ(S_OK, notify->Advise(first.Get(), &cookie1));
    ASSERT_EQ(S_OK, notify->Advise(second.Get(), &cookie2));
    EXPECT_EQ(E_FAIL, notify->Advise(first.Get(), &again));
    EXPECT_EQ(1, cookie1);
    EXPECT_EQ(2, cookie2);
    EXPECT_EQ(E_FAIL, notify->Unadvise(3));
    EXPECT_EQ(E_FAIL, notify->Unadvise(0));

    // Reports reach every sink in advise order.
    ASSERT_EQ(S_OK, tasks->SetDevice(const_cast<char*>("@TDDevA")));
    events_.clear();
    EXPECT_EQ(S_OK, tasks->Synchronize(SPH_INITIALIZE));
    const std::vector<std::string> both = {
        "A Synchronize 1", "B Synchronize 1", "A update 1 1 0/0", "B update 1 1 0/0",
        "A custom 1 2 half of @TDDevA 1/2", "B custom 1 2 half of @TDDevA 1/2",
        "A update 1 3 2/2", "B update 1 3 2/2"};
    EXPECT_EQ(both, events_);
    ASSERT_EQ(S_OK, notify->Unadvise(cookie1));
    EXPECT_EQ(E_FAIL, notify->Unadvise(cookie1));
    events_.clear();
    EXPECT_EQ(S_OK, tasks->Synchronize(SPH_SYNCHRONIZE_TRANSFER));
    const std::vector<std::string> second3 = {"B Synchronize 3", "B update 3 1 0/0",
                                              "B custom 3 2 half of @TDDevA 1/2", "B error 3 no room on @TDDevA"};
    EXPECT_EQ(second3, events_);
    // A cookie handed out after an unadvise is new, never one given before.
    ASSERT_EQ(S_OK, notify->Advise(first.Get(), &again));
    EXPECT_EQ(3, again);
}

TEST_F(ScriptSynchronizerTest, APhaseTheScriptFailsIsReportedAsAnErrorOnce) {
    store_->PutScript(kContacts, kRefusingScript);
    ComPtr<IZvSynchronizer> contacts;
    ASSERT_EQ(S_OK, Create(CLSID_ZvSyncContacts15, contacts));
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(contacts.As(&notify));
    ComPtr<RecordingSink> sink = Sink();
    LONG cookie = 0;
    ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));
    EXPECT_EQ(S_OK, contacts->Synchronize(SPH_INITIALIZE));
    EXPECT_TRUE(FAILED(contacts->Synchronize(SPH_SYNCHRONIZE_ESTIMATE)));
    ASSERT_EQ(2u, events_.size());
    EXPECT_EQ("update 1 3 0/0", events_[0]);
    EXPECT_EQ(0u, events_[1].rfind("error 2 ", 0)) << events_[1];
}

TEST_F(ScriptSynchronizerTest, IconsAreTheClassesOwnAndANullPointerIsRefused) {
    for (const wchar_t* item : {kTasks, kContacts, kMail, kAppointments, kSubscription})
        store_->PutScript(item, kAcceptingScript);
    const std::pair<const CLSID*, int> icons[] = {
        {&CLSID_ZvSyncTasks15, 11920}, {&CLSID_ZvSyncContacts15, 11919}, {&CLSID_ZvSyncMailOutlook15, 11922},
        {&CLSID_ZvSyncAppointments15, 11923}, {&CLSID_ZvSyncSubscriptionGetter, 11925}};
    HMODULE language = LoadLibraryExW((test::ExeFolder() + L"\\Zv0409.dll").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(language);
    for (const auto& [clsid, icon] : icons) {
        ComPtr<IZvSynchronizer> synchronizer;
        ASSERT_EQ(S_OK, Create(*clsid, synchronizer));
        ComPtr<IZvSynchronizerGUI> gui;
        ASSERT_HRESULT_SUCCEEDED(synchronizer.As(&gui));
        int id = 0;
        EXPECT_EQ(S_OK, gui->GetIcon(&id));
        EXPECT_EQ(icon, id);
        EXPECT_EQ(E_POINTER, gui->GetIcon(nullptr));
        EXPECT_TRUE(FindResourceW(language, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14))) << id; // RT_GROUP_ICON
    }
    FreeLibrary(language);
}

TEST_F(ScriptSynchronizerTest, TheScriptsHostObjectDoesNotKeepTheSynchronizerAlive) {
    store_->PutScript(kTasks, kRecordingScript); // the script keeps the host in a variable of its own
    ComPtr<RecordingSink> sink = Sink();
    {
        ComPtr<IZvSynchronizer> tasks;
        ASSERT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, tasks));
        ComPtr<IZvSyncNotify> notify;
        ASSERT_HRESULT_SUCCEEDED(tasks.As(&notify));
        LONG cookie = 0;
        ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));
        sink->AddRef();
        EXPECT_EQ(2u, sink->Release()); // ours and the synchronizer's
    }
    // The last release of the synchronizer destroyed it, and with it its reference to the sink.
    sink->AddRef();
    EXPECT_EQ(1u, sink->Release());
}

// An outer object that makes a synchronizer part of itself: it holds the synchronizer's inner
// IUnknown and answers the synchronizer's interfaces through it. It lives on the test's stack.
class OuterObject final : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ComPtr<IUnknown> inner;
    ULONG refs = 1;
};

TEST_F(ScriptSynchronizerTest, AClassIsMadeInsideAnOuterObjectThatAnswersForIt) {
    store_->PutScript(kTasks, kRecordingScript);
    OuterObject outer;
    // Only the inner IUnknown may be asked for: any other interface would count for the outer object.
    ComPtr<IZvSynchronizer> direct;
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_ZvSyncTasks15, &outer, CLSCTX_INPROC_SERVER,
                                        IID_IZvSynchronizer, reinterpret_cast<void**>(&direct))));
    EXPECT_FALSE(direct);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZvSyncTasks15, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&outer.inner)));
    ASSERT_TRUE(outer.inner);
    const ULONG before = outer.refs;
    ComPtr<RecordingSink> sink = Sink();
    {
        ComPtr<IZvSynchronizer> tasks;
        ASSERT_HRESULT_SUCCEEDED(outer.QueryInterface(IID_IZvSynchronizer, reinterpret_cast<void**>(&tasks)));
        // The synchronizer's references and identity are the outer object's.
        EXPECT_EQ(before + 1, outer.refs);
        EXPECT_EQ(static_cast<IUnknown*>(&outer), Identity(tasks.Get()).Get());
        ComPtr<IZvSyncNotify> notify;
        ASSERT_HRESULT_SUCCEEDED(tasks.As(&notify));
        LONG cookie = 0;
        ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));
    }
    EXPECT_EQ(before, outer.refs);
    // The outer object's release of the inner IUnknown destroys the synchronizer, and with it its
    // reference to the sink.
    outer.inner.Reset();
    sink->AddRef();
    EXPECT_EQ(1u, sink->Release());
}

TEST_F(ScriptSynchronizerTest, TheSubscriptionGetterSettlesNoConflicts) {
    store_->PutScript(kSubscription, kAcceptingScript);
    ComPtr<IZvSynchronizer> getter;
    ASSERT_EQ(S_OK, Create(CLSID_ZvSyncSubscriptionGetter, getter));
    ComPtr<IZvSyncHost> host;
    ASSERT_HRESULT_SUCCEEDED(getter.As(&host));
    ComPtr<TestItem> item;
    ASSERT_HRESULT_SUCCEEDED(MakeComObject(item));
    LONG choice = 7;
    EXPECT_EQ(E_NOTIMPL, host->ResolveConflict(item.Get(), item.Get(), &choice));
    EXPECT_EQ(7, choice);
}

// ---- the conflict dialog ----

class ConflictDialogTest : public ScriptSynchronizerTest {
  protected:
    void SetUp() override {
        ScriptSynchronizerTest::SetUp();
        store_->PutScript(kTasks, kRecordingScript);
        ASSERT_EQ(S_OK, Create(CLSID_ZvSyncTasks15, tasks_));
        ASSERT_HRESULT_SUCCEEDED(tasks_.As(&host_));
        ASSERT_HRESULT_SUCCEEDED(MakeComObject(device_));
        device_->SetText(1, L"Ann Example");
        device_->SetText(2, L"Example Ltd");
        device_->SetText(3, L"00AF31");
        device_->SetLong(5, 2);
        device_->SetText(6, L"call back");
        ASSERT_HRESULT_SUCCEEDED(MakeComObject(outlook_));
        outlook_->SetText(1, L"Ann Example-Smith");
        outlook_->SetNull(2);
        outlook_->SetLong(5, 1);
    }

    // Runs `act` on the dialog from another thread while this one is inside ResolveConflict; the
    // choice. Should the dialog never show, that thread ends the dialog's loop.
    LONG Resolve(IDispatch* first, IDispatch* second, const std::function<void(HWND)>& act,
                 HRESULT expected = S_OK) {
        const DWORD self = GetCurrentThreadId();
        std::atomic<bool> finished{false};
        std::thread helper([&] {
            HWND dialog = test::WaitForWindow(L"#32770", kDialogTitle, 20000);
            if (dialog)
                act(dialog);
            else
                PostThreadMessageW(self, WM_QUIT, 0, 0);
            finished = true;
        });
        LONG choice = 99;
        EXPECT_EQ(expected, host_->ResolveConflict(first, second, &choice));
        // The helper's last calls (a proxy's release) come to this apartment: keep serving it.
        EXPECT_TRUE(test::PollUntil([&] { return finished.load(); }, 20000));
        helper.join();
        MSG stray;
        PeekMessageW(&stray, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        return choice;
    }

    static std::vector<std::wstring> Rows(HWND dialog, int listId) {
        HWND list = GetDlgItem(dialog, listId);
        std::vector<std::wstring> rows;
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row)
            rows.push_back(test::ListViewItemText(list, row, 0) + L"=" + test::ListViewItemText(list, row, 1));
        return rows;
    }

    ComPtr<IZvSynchronizer> tasks_;
    ComPtr<IZvSyncHost> host_;
    ComPtr<TestItem> device_, outlook_;
};

TEST_F(ConflictDialogTest, ListsBothItemsPropertiesUnderTheirCaptions) {
    std::vector<std::wstring> left, right;
    wchar_t caption1[64] = {}, caption2[64] = {};
    int width0 = 0, width1 = 0, client = 0;
    bool ownerIsParent = false;
    HWND parent = CreateWindowW(L"STATIC", L"parent", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                nullptr);
    ASSERT_EQ(S_OK, tasks_->SetParentWindow(reinterpret_cast<ULONG_PTR>(parent)));
    const LONG choice = Resolve(device_.Get(), outlook_.Get(), [&](HWND dialog) {
        left = Rows(dialog, IDC_SYNCHOST_LIST1);
        right = Rows(dialog, IDC_SYNCHOST_LIST2);
        GetDlgItemTextW(dialog, IDC_SYNCHOST_CAPTION1, caption1, ARRAYSIZE(caption1));
        GetDlgItemTextW(dialog, IDC_SYNCHOST_CAPTION2, caption2, ARRAYSIZE(caption2));
        HWND list = GetDlgItem(dialog, IDC_SYNCHOST_LIST1);
        width0 = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
        width1 = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0));
        RECT area = {};
        GetClientRect(list, &area);
        client = area.right;
        ownerIsParent = GetWindow(dialog, GW_OWNER) == parent;
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        test::SaveScreenshot(test::ExeFolder() + L"\\scriptsync_conflict.bmp");
        test::ClickButton(dialog, IDC_SYNCHOST_FIRST);
    });
    DestroyWindow(parent);
    EXPECT_EQ(0, choice);
    EXPECT_STREQ(L"Outlook task", caption1);
    EXPECT_STREQ(L"Device task", caption2);
    // _EntryID is left out; an unread value is empty, a null one says so.
    const std::vector<std::wstring> device = {L"FullName=Ann Example", L"Company=Example Ltd",
                                              L"Birthday=(empty)", L"Priority=2", L"Notes=call back"};
    const std::vector<std::wstring> outlook = {L"FullName=Ann Example-Smith", L"Company=(none)",
                                               L"Birthday=(empty)", L"Priority=1", L"Notes=(empty)"};
    EXPECT_EQ(device, left);
    EXPECT_EQ(outlook, right);
    EXPECT_GT(width0, 8);
    EXPECT_EQ(std::max(0, client - width0 - 9), width1);
    EXPECT_TRUE(ownerIsParent);
}

TEST_F(ConflictDialogTest, EachButtonEndsTheDialogWithItsCode) {
    const std::pair<int, LONG> buttons[] = {{IDC_SYNCHOST_SECOND, 1}, {IDC_SYNCHOST_SKIP, 2}, {IDCANCEL, -1}};
    for (const auto& [button, code] : buttons) {
        const int id = button;
        EXPECT_EQ(code, Resolve(device_.Get(), outlook_.Get(), [id](HWND dialog) { test::ClickButton(dialog, id); }))
            << id;
    }
    // Closing from the title bar is the Cancel button.
    EXPECT_EQ(-1, Resolve(device_.Get(), outlook_.Get(),
                          [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }));
}

TEST_F(ConflictDialogTest, CancelOfTheSessionEndsAnOpenDialogWithTwo) {
    IStream* stream = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoMarshalInterThreadInterfaceInStream(IID_IZvSynchronizer, tasks_.Get(), &stream));
    HRESULT cancelled = E_UNEXPECTED;
    const LONG choice = Resolve(device_.Get(), outlook_.Get(), [&](HWND) {
        ComApartment apartment;
        ComPtr<IZvSynchronizer> proxy;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IZvSynchronizer,
                                                     reinterpret_cast<void**>(&proxy))))
            cancelled = proxy->Cancel();
    });
    EXPECT_EQ(S_OK, cancelled);
    EXPECT_EQ(2, choice);
}

TEST_F(ConflictDialogTest, ItemsThatCannotBeListedAreRefusedOrListedAsFarAsTheyRead) {
    LONG choice = 0;
    EXPECT_EQ(E_POINTER, host_->ResolveConflict(device_.Get(), outlook_.Get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, host_->ResolveConflict(nullptr, outlook_.Get(), &choice));
    EXPECT_EQ(E_INVALIDARG, host_->ResolveConflict(device_.Get(), nullptr, &choice));
    ComPtr<TestItem> untyped, failing;
    ASSERT_HRESULT_SUCCEEDED(MakeComObject(untyped, false));
    ASSERT_HRESULT_SUCCEEDED(MakeComObject(failing, true, 4));
    failing->SetText(1, L"Bob");
    std::vector<std::wstring> left, right;
    choice = Resolve(untyped.Get(), failing.Get(), [&](HWND dialog) {
        left = Rows(dialog, IDC_SYNCHOST_LIST1);
        right = Rows(dialog, IDC_SYNCHOST_LIST2);
        test::ClickButton(dialog, IDC_SYNCHOST_SECOND);
    });
    EXPECT_EQ(1, choice);
    EXPECT_TRUE(left.empty());
    // The failed read ends the list at that row.
    const std::vector<std::wstring> expected = {L"FullName=Bob", L"Company=(empty)", L"Birthday="};
    EXPECT_EQ(expected, right);
}

TEST_F(ConflictDialogTest, TheScriptAsksThroughItsHostObjectAndGetsTheChoice) {
    ComPtr<RecordingSink> sink = Sink();
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(tasks_.As(&notify));
    LONG cookie = 0;
    ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));
    std::thread helper([] {
        HWND dialog = test::WaitForWindow(L"#32770", kDialogTitle, 20000);
        if (dialog)
            test::ClickButton(dialog, IDC_SYNCHOST_SECOND);
    });
    EXPECT_EQ(S_OK, tasks_->Synchronize(SPH_SYNCHRONIZE_RESOLVE));
    helper.join();
    const std::vector<std::string> expected = {"Synchronize 4", "resolved 1", "update 4 3 1/1"};
    EXPECT_EQ(expected, events_);
}

TEST_F(ConflictDialogTest, ACancelWhileTheScriptWaitsForTheDialogRunsTheScriptsCancelToo) {
    ComPtr<RecordingSink> sink = Sink();
    ComPtr<IZvSyncNotify> notify;
    ASSERT_HRESULT_SUCCEEDED(tasks_.As(&notify));
    LONG cookie = 0;
    ASSERT_EQ(S_OK, notify->Advise(sink.Get(), &cookie));
    IStream* stream = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoMarshalInterThreadInterfaceInStream(IID_IZvSynchronizer, tasks_.Get(), &stream));
    std::atomic<bool> finished{false};
    HRESULT cancelled = E_UNEXPECTED;
    std::thread helper([&] {
        ComApartment apartment;
        ComPtr<IZvSynchronizer> proxy;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IZvSynchronizer,
                                                     reinterpret_cast<void**>(&proxy))) &&
            test::WaitForWindow(L"#32770", kDialogTitle, 20000))
            cancelled = proxy->Cancel();
        proxy.Reset();
        finished = true;
    });
    EXPECT_EQ(S_OK, tasks_->Synchronize(SPH_SYNCHRONIZE_RESOLVE));
    EXPECT_TRUE(test::PollUntil([&] { return finished.load(); }, 20000));
    helper.join();
    EXPECT_EQ(S_OK, cancelled);
    const std::vector<std::string> expected = {"Synchronize 4", "Cancel", "resolved 2", "update 4 3 1/1"};
    EXPECT_EQ(expected, events_);
}

} // namespace
