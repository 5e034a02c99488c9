// The hub object made in-process in a single-threaded apartment, with the test device factory
// registered: its devices are sub-folders of a temporary folder.
#include "Hub.h"
#include "HubIds.h"
#include "LangIds.h"
#include "NamespaceLink.h"
#include "TestDeviceRegistration.h"
#include "UiHarness.h"
#include "ZvBackupMgr.h"
#include "ZvSyncMgr.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <fstream>
#include <functional>
#include <thread>
#include <string>
#include <vector>

using namespace tv;
using namespace tv::hub;
using tv::com::ComPtr;

namespace {

std::string TempRoot() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    std::string root = std::string(folder) + "tvhubtest" + std::to_string(GetCurrentProcessId());
    return root;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Records every callback in order and signals the end of the operation.
class RecordingCallback : public com::ComObject<RecordingCallback, IZvFileOperationCallback, IZvItemsInfoCallback> {
public:
    std::vector<std::string> calls;
    ITEMSINFO totals = {};
    bool done = false;

    STDMETHODIMP OnOperationComplete() override {
        calls.push_back("complete");
        done = true;
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR error, LONG code) override {
        calls.push_back("item:" + std::string(item ? item : "") + ":" + std::to_string(code) + ":" +
                        (error ? error : ""));
        if (!item || !*item)
            done = true;  // device information ends with its one item report
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR item, LONG) override {
        calls.push_back("init:" + std::string(item ? item : ""));
        return S_OK;
    }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    STDMETHODIMP OnOperationStart() override { return S_OK; }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override {
        totals = info;
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete(LPSTR) override {
        done = true;
        return S_OK;
    }

    // Dispatches messages until the last callback arrived (at most 20 s).
    bool Wait() {
        DWORD start = GetTickCount();
        while (!done && GetTickCount() - start < 20000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }
        return done;
    }
};

using Strings = std::vector<LPSTR>;

class HubTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // The type library of the dual faces and the test factory's registration.
        ComPtr<ITypeLib> library;
        std::wstring tlb = std::wstring(L"" TV_GENERATED_DIR) + L"/ZelvanMgr.tlb";
        for (auto& c : tlb)
            if (c == L'/')
                c = L'\\';
        std::wstring unixTlb = L"\\\\?\\unix" + tlb;
        if (FAILED(LoadTypeLibEx(tlb.c_str(), REGKIND_REGISTER, &library)))
            LoadTypeLibEx(unixTlb.c_str(), REGKIND_REGISTER, &library);
        ASSERT_EQ(tv::tests::EnsureTestDeviceFactoryRegistered(), S_OK);
    }

    void SetUp() override {
        root_ = TempRoot();
        CreateDirectoryA(root_.c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices").c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices\\Dev1").c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices\\Dev1\\docs").c_str(), nullptr);
        CreateDirectoryA((root_ + "\\devices\\Dev2").c_str(), nullptr);
        CreateDirectoryA((root_ + "\\pc").c_str(), nullptr);
        WriteFile(root_ + "\\devices\\Dev1\\docs\\a.txt", "device text");
        WriteFile(root_ + "\\pc\\one.txt", "first");
        WriteFile(root_ + "\\pc\\two.txt", "second file");
        SetEnvironmentVariableA(tests::kTestDeviceRootVariable, (root_ + "\\devices").c_str());
        ASSERT_EQ(com::MakeComObject(hub_), S_OK);
        ASSERT_EQ(hub_->InitDeviceFactories(), S_OK);
    }

    void TearDown() override {
        if (hub_)
            hub_->Close();
        hub_.Reset();
        SHFILEOPSTRUCTA operation = {};
        std::string from = root_ + '\0';
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_NO_UI;
        SHFileOperationA(&operation);
    }

    std::vector<std::string> List(const char* path) {
        ComPtr<IZvEnumFileItems> items;
        EXPECT_EQ(hub_->EnumFileItems(const_cast<LPSTR>(path), 31, &items), S_OK);
        std::vector<std::string> names;
        ZVFILEITEM item = {};
        LONG fetched = 0;
        while (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            names.emplace_back(item.strName);
            CoTaskMemFree(item.strName);
            CoTaskMemFree(item.strDesc);
            CoTaskMemFree(item.strIconFile);
        }
        return names;
    }

    HRESULT Copy(std::vector<std::string> sources, std::vector<std::string> destinations,
                 RecordingCallback* callback) {
        Strings s, d;
        for (auto& t : sources)
            s.push_back(t.data());
        for (auto& t : destinations)
            d.push_back(t.data());
        return hub_->CopyFileItems(static_cast<LONG>(s.size()), 260, s.data(), d.data(), callback);
    }

    std::string root_;
    ComPtr<Hub> hub_;
};

TEST_F(HubTest, ListsTheFactorysDevicesAndTheirFolders) {
    auto devices = List("");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], "Dev1");
    EXPECT_EQ(devices[1], "Dev2");
    unsigned char id[260] = {};
    EXPECT_EQ(hub_->GetDeviceIDByName(const_cast<LPSTR>("Dev1"), 260, id), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(id), "@TDDev1");
    EXPECT_EQ(hub_->GetDeviceIDByName(const_cast<LPSTR>("Dev1"), 7, id), E_INVALIDARG);
    EXPECT_EQ(List("Dev1"), std::vector<std::string>{"docs"});
    EXPECT_EQ(List("\\Dev1\\docs"), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(List("Nobody\\x").empty());

    // A device reported again replaces its record; the factory gets the event script's answer.
    std::string scriptCall;
    hub::HubServices scriptServices;
    scriptServices.runDeviceEventScript = [&](const char* function, const char* strId) {
        scriptCall = std::string(function) + " " + strId;
        return static_cast<HRESULT>(0x80020009);
    };
    hub::SetHubServices(scriptServices);
    EXPECT_EQ(hub_->OnDeviceFound(tests::CLSID_TestDeviceFactory, hub_->Slot(0)->device.Get()),
              static_cast<HRESULT>(0x80020009));
    EXPECT_EQ(scriptCall, "OnDeviceFound @TDDev1");
    // The PC-mode switch talks to the device: the tray shows busy for it, then connected.
    std::vector<UINT> trayStates;
    hub::HubServices trayServices;
    trayServices.setTrayState = [&](UINT state) { trayStates.push_back(state); };
    hub::SetHubServices(trayServices);
    LONG mode = -1;
    EXPECT_EQ(hub_->get_AutoPC_ON_PC_OFF_Mode(const_cast<LPSTR>("Dev1"), &mode), S_OK);
    EXPECT_EQ(hub_->put_AutoPC_ON_PC_OFF_Mode(const_cast<LPSTR>("Dev1"), mode), S_OK);
    EXPECT_EQ(trayStates, (std::vector<UINT>{hub::kTrayBusy, hub::kTrayConnected, hub::kTrayBusy,
                                             hub::kTrayConnected}));
    hub::SetHubServices({});
    EXPECT_EQ(hub_->OnDeviceFound(tests::CLSID_TestDeviceFactory, hub_->Slot(0)->device.Get()), S_OK);
    EXPECT_EQ(hub_->SlotCount(), 2u);
    EXPECT_EQ(hub_->OnDeviceLost(GUID_NULL, const_cast<LPSTR>("@TDDev2")), S_OK);
    EXPECT_EQ(hub_->OnDeviceLost(GUID_NULL, const_cast<LPSTR>("Dev2")), E_FAIL);
    EXPECT_EQ(List("").size(), 1u);
    EXPECT_TRUE(hub_->ShowsDevice());
    EXPECT_EQ(hub_->OnDeviceLost(GUID_NULL, const_cast<LPSTR>("@TDDev1")), S_OK);
    EXPECT_FALSE(hub_->ShowsDevice());
}

// The Explorer folder asks the program it starts to leave the device alone: the next disconnection
// goes without an alert, and the ones after it show theirs again.
TEST_F(HubTest, TheExplorersRequestSilencesOneDisconnectionAlertOnly) {
    const char* common = "Software\\Zelvan\\Tavrilon\\Common";
    DWORD one = 1;
    ASSERT_EQ(
        RegSetKeyValueA(HKEY_CURRENT_USER, common, "IgnoreDeviceAutoProcess", REG_DWORD, &one, sizeof(one)),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList\\@TDDev2",
                              "DisconnectionAlert", REG_DWORD, &one, sizeof(one)),
              ERROR_SUCCESS);
    std::vector<std::string> alerts;
    hub::HubServices services;
    services.showDisconnectionAlert = [&](const std::string& strId, const std::string&) {
        alerts.push_back(strId);
    };
    hub::SetHubServices(services);
    const std::string device = root_ + "\\devices\\Dev2", away = root_ + "\\away";
    auto shown = [&] { return List("").size(); };
    ASSERT_TRUE(MoveFileA(device.c_str(), away.c_str()));
    EXPECT_TRUE(test::PollUntil([&] { return shown() == 1; }, 10000));
    EXPECT_TRUE(alerts.empty());
    DWORD value = 7, size = sizeof(value);
    RegGetValueA(HKEY_CURRENT_USER, common, "IgnoreDeviceAutoProcess", RRF_RT_REG_DWORD, nullptr, &value,
                 &size);
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(MoveFileA(away.c_str(), device.c_str()));
    ASSERT_TRUE(test::PollUntil([&] { return shown() == 2; }, 10000));
    ASSERT_TRUE(MoveFileA(device.c_str(), away.c_str()));
    EXPECT_TRUE(test::PollUntil([&] { return shown() == 1; }, 10000));
    EXPECT_EQ(alerts, std::vector<std::string>{"@TDDev2"});
    hub::SetHubServices({});
    RegDeleteKeyValueA(HKEY_CURRENT_USER, common, "IgnoreDeviceAutoProcess");
}

TEST_F(HubTest, ImportsExportsAndCopiesWithCallbacksInOrder) {
    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    std::string one = root_ + "\\pc\\one.txt", two = root_ + "\\pc\\two.txt";
    ASSERT_EQ(Copy({one, two}, {"\\Dev1\\one.txt", "Dev1\\docs\\two.txt"}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    std::vector<std::string> expected = {"init:" + one, "item:" + one + ":0:", "init:" + two, "item:" + two + ":0:",
                                         "complete"};
    EXPECT_EQ(callback->calls, expected);
    EXPECT_EQ(ReadFile(root_ + "\\devices\\Dev1\\docs\\two.txt"), "second file");

    com::MakeComObject(callback);
    std::string exported = root_ + "\\pc\\back.txt";
    ASSERT_EQ(Copy({"Dev1\\docs\\a.txt"}, {exported}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(ReadFile(exported), "device text");

    com::MakeComObject(callback);
    ASSERT_EQ(Copy({"Dev1\\docs\\a.txt", "Dev1\\missing.txt"}, {"Dev1\\copy.txt", "Dev1\\m.txt"}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(ReadFile(root_ + "\\devices\\Dev1\\copy.txt"), "device text");
    // The copy on a device goes on after a failed item; the device code is reduced to its reason.
    ASSERT_EQ(callback->calls.size(), 4u);
    EXPECT_EQ(callback->calls[2].rfind("item:missing.txt:2:Cannot find", 0), 0u) << callback->calls[2];

    // Between two devices, or with no device, nothing starts.
    EXPECT_EQ(Copy({"Dev1\\docs\\a.txt"}, {"Dev2\\a.txt"}, callback.Get()), E_FAIL);
    EXPECT_EQ(Copy({"C:\\a"}, {"D:\\b"}, callback.Get()), E_FAIL);
    // A second destination on another device is refused before any thread starts.
    EXPECT_EQ(Copy({one, two}, {"Dev1\\x.txt", "Dev2\\y.txt"}, callback.Get()), E_INVALIDARG);
    EXPECT_EQ(Copy({"Dev1\\docs\\a.txt", "Dev1\\copy.txt"}, {"Dev1\\b", "Dev2\\c"}, callback.Get()), E_INVALIDARG);
}

// A PC path whose name the PC would store under another name, or open as a device, is refused
// with a clear error, and nothing is written.
TEST_F(HubTest, AnExportUnderANameThatCannotNameAPcFileWritesNothing) {
    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    ASSERT_EQ(Copy({"Dev1\\docs\\a.txt"}, {root_ + "\\pc\\a."}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_FALSE(Exists(root_ + "\\pc\\a"));
    ASSERT_EQ(callback->calls.size(), 2u);
    const std::string refused = LoadLanguageText(hub_->LanguageLibrary(), IDS_HUB_BAD_PC_NAME);
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(callback->calls[0].rfind("item:docs\\a.txt:", 0), 0u) << callback->calls[0];
    EXPECT_NE(callback->calls[0].find(refused), std::string::npos) << callback->calls[0];
}

TEST_F(HubTest, DeletesRenamesCreatesFoldersAndReportsSizes) {
    ASSERT_EQ(hub_->CreateFolder(const_cast<LPSTR>("Dev1\\new")), S_OK);
    EXPECT_TRUE(Exists(root_ + "\\devices\\Dev1\\new"));
    unsigned char error[260] = {};
    ASSERT_EQ(hub_->RenameFileItem(const_cast<LPSTR>("Dev1\\new"), const_cast<LPSTR>("Dev1\\renamed"), 260, error), S_OK);
    EXPECT_TRUE(Exists(root_ + "\\devices\\Dev1\\renamed"));
    EXPECT_EQ(hub_->RenameFileItem(const_cast<LPSTR>("Dev1\\renamed"), const_cast<LPSTR>("Dev2\\x"), 260, error),
              E_INVALIDARG);
    EXPECT_EQ(error[0], 0);

    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    char item[] = "Dev1\\renamed";
    LPSTR items[] = {item};
    ASSERT_EQ(hub_->DeleteFileItems(1, 260, items, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_FALSE(Exists(root_ + "\\devices\\Dev1\\renamed"));

    com::MakeComObject(callback);
    char info[] = "Dev1\\docs";
    LPSTR infoItems[] = {info};
    ASSERT_EQ(hub_->GetItemsInfo(1, 260, infoItems, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->totals.folders, 1);
    EXPECT_EQ(callback->totals.files, 1);
    EXPECT_EQ(callback->totals.nTotalSize, 11);
    EXPECT_STREQ(info, "Dev1\\docs");  // the caller's strings are left alone

    com::MakeComObject(callback);
    std::string pcFolder = root_ + "\\pc";
    LPSTR pcItems[] = {pcFolder.data()};
    ASSERT_EQ(hub_->GetItemsInfo(1, 260, pcItems, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->totals.files, 2);
    EXPECT_EQ(callback->totals.nTotalSize, 16);

    VOLUMEINFO volume = {};
    EXPECT_EQ(hub_->GetVolumeInfo(const_cast<LPSTR>("Dev1\\docs"), &volume), S_OK);
    EXPECT_EQ(volume.nBlockSize, 512);
    EXPECT_EQ(hub_->GetVolumeInfo(const_cast<LPSTR>("Nobody\\x"), &volume), E_FAIL);

    LONG length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(hub_->Command(const_cast<LPSTR>("@TDDev1"), const_cast<LPSTR>("pc on"), &length, &reply), S_OK);
    EXPECT_STREQ(reply, "pc mode on");
    CoTaskMemFree(reply);
    EXPECT_EQ(hub_->CancelFileOperation(const_cast<LPSTR>("Dev1")), E_FAIL);
    EXPECT_EQ(hub_->CancelFileOperation(const_cast<LPSTR>("Nobody")), E_INVALIDARG);
}

TEST_F(HubTest, ABusyDeviceIsWaitedForInBoundedRounds) {
    LONG length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(hub_->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 8000"), &length, &reply), S_OK);
    CoTaskMemFree(reply);
    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    ASSERT_EQ(Copy({root_ + "\\pc\\one.txt"}, {"Dev1\\slow.txt"}, callback.Get()), S_OK);
    DWORD start = GetTickCount();
    EXPECT_EQ(hub_->CreateFolder(const_cast<LPSTR>("Dev1\\later")), E_FAIL);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 7000u);
    EXPECT_EQ(hub_->CancelFileOperation(const_cast<LPSTR>("Dev1")), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_FALSE(Exists(root_ + "\\devices\\Dev1\\slow.txt"));

    // An operation that ends within the wait lets the next one through.
    hub_->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 800"), &length, &reply);
    CoTaskMemFree(reply);
    com::MakeComObject(callback);
    ASSERT_EQ(Copy({root_ + "\\pc\\one.txt"}, {"Dev1\\slow.txt"}, callback.Get()), S_OK);
    EXPECT_EQ(hub_->CreateFolder(const_cast<LPSTR>("Dev1\\later")), S_OK);
    EXPECT_TRUE(Exists(root_ + "\\devices\\Dev1\\slow.txt"));
    callback->Wait();
}

TEST_F(HubTest, AutomationFaceThroughIDispatch) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(hub_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    OLECHAR name[] = L"ScriptsProhibited";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 0x60020020);

    OLECHAR itemsName[] = L"Items";
    LPOLESTR itemsNames[] = {itemsName};
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, itemsNames, 1, 0, &id), S_OK);
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(L"Dev1\\docs");
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    VariantClear(&argument);
    ASSERT_EQ(result.vt, VT_UNKNOWN);
    ComPtr<IDispatch> items;
    ASSERT_EQ(result.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&items)), S_OK);
    VariantClear(&result);

    // items(1): the default member reads the first entry's name.
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 1;
    DISPPARAMS indexParams = {&index, nullptr, 1, 0};
    ASSERT_EQ(items->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &indexParams, &result,
                            nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"a.txt");
    VariantClear(&result);
    index.lVal = 0;
    EXCEPINFO exception = {};
    EXPECT_EQ(items->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &indexParams, &result, &exception,
                            nullptr),
              DISP_E_EXCEPTION);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(hub_->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(__uuidof(IZelvanMgr)), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(__uuidof(IZelvanMgrDisp2)), S_OK);

    ComPtr<IZelvanMgrZvWig> wig;
    ASSERT_EQ(hub_->QueryInterface(__uuidof(IZelvanMgrZvWig), reinterpret_cast<void**>(&wig)), S_OK);
    LONG count = 0;
    EXPECT_EQ(wig->GetZelvanCount(&count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(wig->ConnectZelvan(nullptr), E_NOTIMPL);

    // Synchronous copy and delete through the dual face.
    BSTR source = SysAllocString(L"Dev1\\docs\\a.txt");
    BSTR destination = SysAllocString(L"Dev1\\b.txt");
    EXPECT_EQ(hub_->CopyFileItem(source, destination), S_OK);
    EXPECT_TRUE(Exists(root_ + "\\devices\\Dev1\\b.txt"));
    EXPECT_EQ(hub_->DeleteItem(destination), S_OK);
    EXPECT_FALSE(Exists(root_ + "\\devices\\Dev1\\b.txt"));
    EXPECT_EQ(hub_->DeleteItem(destination), E_FAIL);
    SysFreeString(source);
    SysFreeString(destination);
}

TEST_F(HubTest, TheDualFacesCopyOfAFolderReturnsWhenTheWholeFolderIsDone) {
    // The device reports every file inside the folder before the folder itself.
    const std::string folder = root_ + "\\devices\\Dev1\\many";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (int i = 0; i < 20; ++i)
        WriteFile(folder + "\\f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    BSTR source = SysAllocString(L"Dev1\\many");
    BSTR destination = SysAllocString(L"Dev1\\docs\\many");
    EXPECT_EQ(hub_->CopyFileItem(source, destination), S_OK);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(ReadFile(root_ + "\\devices\\Dev1\\docs\\many\\f" + std::to_string(i) + ".txt"),
                  "file " + std::to_string(i));

    // A file inside that cannot be written makes the copy fail, whichever file it is.
    const std::string blocked = root_ + "\\devices\\Dev1\\docs\\many\\f7.txt";
    DeleteFileA(blocked.c_str());
    CreateDirectoryA(blocked.c_str(), nullptr);
    EXPECT_EQ(hub_->CopyFileItem(source, destination), E_FAIL);
    SysFreeString(source);
    SysFreeString(destination);
}

// ---- the hub's windows ----

int CountWindows(const wchar_t* title) {
    struct Count {
        const wchar_t* title;
        int n;
    } count{title, 0};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* c = reinterpret_cast<Count*>(data);
            wchar_t text[256] = {};
            GetWindowTextW(window, text, 256);
            if (IsWindowVisible(window) && wcscmp(text, c->title) == 0)
                ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

// An Explorer frame with a namespace view inside, as the views the hub tells of changes.
class FakeNamespaceView {
public:
    explicit FakeNamespaceView(UINT watched) {
        watched_ = watched;
        received_ = 0;
        WNDCLASSA frameClass = {};
        frameClass.lpfnWndProc = DefWindowProcA;
        frameClass.lpszClassName = "CabinetWClass";
        RegisterClassA(&frameClass);
        WNDCLASSA viewClass = {};
        viewClass.lpfnWndProc = ViewProc;
        viewClass.lpszClassName = kNamespaceViewClass;
        RegisterClassA(&viewClass);
        frame_ = CreateWindowExA(0, "CabinetWClass", "frame", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
        CreateWindowExA(0, kNamespaceViewClass, "", WS_CHILD, 0, 0, 5, 5, frame_, nullptr, nullptr, nullptr);
    }
    ~FakeNamespaceView() { DestroyWindow(frame_); }
    int Received() const { return received_; }

private:
    static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (watched_ && message == watched_)
            ++received_;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static inline UINT watched_ = 0;
    static inline int received_ = 0;
    HWND frame_ = nullptr;
};

TEST_F(HubTest, BusyFlagFollowsItsWindowAndGuardsTheFolderBrowser) {
    LONG window = 0;
    // A handle that is no window: the flag is set but the next query finds it stale.
    EXPECT_EQ(hub_->PutBusyUI(0x1234, VARIANT_TRUE), E_INVALIDARG);
    EXPECT_EQ(hub_->GetBusyUI(&window), S_OK);
    EXPECT_EQ(window, 0);
    LONG busy = 1;
    EXPECT_EQ(hub_->get_BusyUI(&busy), S_OK);
    EXPECT_EQ(busy, 0);

    HWND dialog = CreateWindowExA(0, "STATIC", "busy", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(hub_->PutBusyUI(static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)), VARIANT_TRUE), S_OK);
    EXPECT_EQ(hub_->GetBusyUI(&window), S_OK);
    EXPECT_EQ(window, static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)));
    // A second browser while one is open is refused at once.
    BSTR title = SysAllocString(L"Title"), text = SysAllocString(L"Text"), status = SysAllocString(L"Status");
    BSTR path = nullptr;
    EXPECT_EQ(hub_->BrowseForFolder2(title, text, status, &path), E_FAIL);
    EXPECT_EQ(path, nullptr);
    unsigned char buffer[260] = {'x'};
    EXPECT_EQ(hub_->BrowseForFolder(const_cast<LPSTR>("Title"), const_cast<LPSTR>("Text"), 260, buffer), E_FAIL);
    EXPECT_EQ(buffer[0], 0);
    DestroyWindow(dialog);
    EXPECT_EQ(hub_->GetBusyUI(&window), S_OK);
    EXPECT_EQ(window, 0);

    // Busy without a window answers -1.
    EXPECT_EQ(hub_->put_BusyUI(VARIANT_TRUE), S_OK);
    EXPECT_EQ(hub_->GetBusyUI(&window), S_OK);
    EXPECT_EQ(window, -1);
    EXPECT_EQ(hub_->put_BusyUI(VARIANT_FALSE), S_OK);

    // The browser over the registered folder itself: shellns_browse_test.
    EXPECT_EQ(hub_->BrowseForFolder(nullptr, const_cast<LPSTR>("Text"), 260, buffer), E_POINTER);
    EXPECT_EQ(hub_->BrowseForFolder2(title, text, status, nullptr), E_POINTER);
    SysFreeString(title);
    SysFreeString(text);
    SysFreeString(status);
}

TEST_F(HubTest, WithoutADeviceTheBrowserAsksAndStopsOnNo) {
    ASSERT_EQ(hub_->OnDeviceLost(GUID_NULL, const_cast<LPSTR>("Dev1")), S_OK);
    ASSERT_EQ(hub_->OnDeviceLost(GUID_NULL, const_cast<LPSTR>("Dev2")), S_OK);
    bool answered = false;
    std::thread user([&answered] {
        HWND question = test::WaitForWindow(L"#32770", L"No device connected", 15000);
        answered = question && test::ClickButton(question, IDNO);
    });
    BSTR title = SysAllocString(L"Title"), text = SysAllocString(L"Text"), status = SysAllocString(L"");
    BSTR path = nullptr;
    EXPECT_EQ(hub_->BrowseForFolder2(title, text, status, &path), S_FALSE);
    user.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(path, nullptr);
    LONG busy = 1;
    hub_->get_BusyUI(&busy);
    EXPECT_EQ(busy, 0);
    SysFreeString(title);
    SysFreeString(text);
    SysFreeString(status);
}

TEST_F(HubTest, ADeviceThatDidNotIdentifyItselfIsRefusedWithAMessage) {
    ComPtr<IZvDevice> device = hub_->Slot(0)->device;
    EXPECT_EQ(hub_->OnDeviceFound(IID_IUnknown, device.Get()), E_FAIL);
    EXPECT_EQ(hub_->SlotCount(), 2u);
    HWND message = test::WaitForWindow(L"#32770", L"Tavrilon", 15000);
    ASSERT_NE(message, nullptr);
    // The hub's end closes the message and waits for its thread.
    hub_->Close();
    hub_.Reset();
    EXPECT_FALSE(IsWindow(message));
}

TEST_F(HubTest, PropertiesOfABusyOrUnknownDeviceArePending) {
    ZVFILEITEM item = {};
    EXPECT_EQ(hub_->DisplayProperties(nullptr, &item), E_POINTER);
    EXPECT_EQ(hub_->DisplayProperties(const_cast<LPSTR>(""), &item), E_INVALIDARG);
    EXPECT_EQ(hub_->DisplayProperties(const_cast<LPSTR>("Nobody\\x"), &item), E_PENDING);

    LONG length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(hub_->Command(const_cast<LPSTR>("Dev1"), const_cast<LPSTR>("delay 8000"), &length, &reply), S_OK);
    CoTaskMemFree(reply);
    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    ASSERT_EQ(Copy({root_ + "\\pc\\one.txt"}, {"Dev1\\slow.txt"}, callback.Get()), S_OK);
    EXPECT_EQ(hub_->DisplayProperties(const_cast<LPSTR>("Dev1\\docs\\a.txt"), &item), E_PENDING);
    EXPECT_EQ(hub_->CancelFileOperation(const_cast<LPSTR>("Dev1")), S_OK);
    ASSERT_TRUE(callback->Wait());
}

TEST_F(HubTest, ItemPropertiesShowTheDevicePagesOnceAndTellTheViews) {
    FakeNamespaceView view(RegisterUpdateMessage(hub_->LanguageLibrary()));
    char name[] = "a.txt";
    ZVFILEITEM item = {};
    item.type = 8;
    item.nSize = 11;
    item.strName = name;
    ASSERT_EQ(hub_->DisplayProperties(const_cast<LPSTR>("Dev1\\docs\\a.txt"), &item), S_OK);
    const wchar_t title[] = L"Properties of Dev1\\docs\\a.txt";
    HWND sheet = test::WaitForWindow(L"#32770", title, 15000);
    ASSERT_NE(sheet, nullptr);
    // The same item with a leading backslash brings the open sheet forward.
    EXPECT_EQ(hub_->DisplayProperties(const_cast<LPSTR>("\\Dev1\\docs\\a.txt"), &item), S_OK);
    test::PollUntil([] { return false; }, 1000);
    EXPECT_EQ(CountWindows(title), 1);
    // The device names two pages; they read the item's name and folder.
    EXPECT_EQ(SendDlgItemMessageA(sheet, IDC_SHEET_TABS, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_NE(FindWindowExA(sheet, nullptr, "Static", "Dev1\\docs|a.txt"), nullptr);
    test::SaveScreenshot(test::ExeFolder() + L"\\hub_item_properties.bmp");

    ASSERT_TRUE(test::ClickButton(sheet, IDOK));
    EXPECT_TRUE(test::PollUntil([&] { return view.Received() > 0; }, 15000));
    EXPECT_TRUE(test::PollUntil([&] { return !IsWindow(sheet); }, 5000));
    EXPECT_EQ(view.Received(), 1);
}

} // namespace

