// The program as a process: registration, exit codes, the single instance with file-open
// hand-over, the DDE file-open service and the tray icon with its menu.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "Handles.h"
#include "ZvRegistrar.h"
#include <gtest/gtest.h>
#include <ddeml.h>
#include <atomic>
#include <thread>

namespace tv::e2e {
namespace {

const std::string kClassKey = "CLSID\\{56BB43E2-841C-49c9-9FDB-CF45AA55CF8D}";
const std::string kAppIdKey = "AppID\\{65371BD6-49DE-49e7-B790-5D5F6BC62B2E}";
const std::string kSettings = "Software\\Zelvan\\Tavrilon";

class ProgramStart : public testing::Test {
protected:
    static void SetUpTestSuite() { tree_ = MakeTestTree(); }
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }

    // Stores or removes the "Autostart" event script in the item store.
    static void SetAutostart(const wchar_t* script) {
        com::ComPtr<IZvRegistrarDisp> store;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IZvRegistrarDisp, reinterpret_cast<void**>(&store)));
        com::UniqueBstr name(SysAllocString(L"Autostart"));
        if (script) {
            com::UniqueBstr text(SysAllocString(script));
            ASSERT_HRESULT_SUCCEEDED(store->PutItemScript(name.Get(), text.Get(), 1));
        } else {
            store->RemoveItem(RIT_SCRIPT, name.Get());
        }
        store->Flush();
    }

    static TestTree tree_;
};
TestTree ProgramStart::tree_;

// The user who declines to copy opened files to a device: cancels every "Copy to Device" folder
// browser the program shows for a file that no association opens, until it goes.
class CopyDecliner {
public:
    CopyDecliner()
        : thread_([this] {
              while (!stop_) {
                  if (HWND browser = test::FindShownWindow(L"#32770", L"Copy to Device"))
                      if (test::ClickButton(browser, IDCANCEL))
                          ++declined_;
                  test::PollUntil([this] { return stop_.load(); }, 200);
              }
          }) {}
    ~CopyDecliner() {
        stop_ = true;
        thread_.join();
    }
    int Declined() const { return declined_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> declined_{0};
    std::thread thread_;
};

TEST_F(ProgramStart, RegistrationWritesAndRemovesTheClassAndSettings) {
    ASSERT_EQ(RunProgram(L"/UnregServer"), 0);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanMgr"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanMgr.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "AppID\\Tavrilon.exe"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{0823ED96-93CD-469D-92A1-C487BA0F03AC}"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettings));

    // A start with RegServer first lays down the missing settings, then registers.
    ASSERT_EQ(RunProgram(L"-RegServer"), 0);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr), "ZelvanMgr");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, "AppID"), "{65371BD6-49DE-49e7-B790-5D5F6BC62B2E}");
    std::wstring program = ProgramPath();
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32", nullptr),
              std::string(program.begin(), program.end()));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID", nullptr), "Tavrilon.ZelvanMgr.1");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\VersionIndependentProgID", nullptr), "Tavrilon.ZelvanMgr");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Programmable"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey + "\\TypeLib", nullptr), "{0823ED96-93CD-469d-92A1-C487BA0F03AC}");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanMgr\\CurVer", nullptr), "Tavrilon.ZelvanMgr.1");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanMgr.1\\CLSID", nullptr),
              "{56BB43E2-841C-49c9-9FDB-CF45AA55CF8D}");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, nullptr), "Tavrilon");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AppID\\Tavrilon.exe", "AppID"), "{65371BD6-49DE-49e7-B790-5D5F6BC62B2E}");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{0823ED96-93CD-469D-92A1-C487BA0F03AC}"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Component Categories\\{689D87B0-0ED4-40F4-9E7E-C62F57E369A8}", "409"),
              "Zelvan Devices");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Component Categories\\{C4AB9394-BD09-417E-A9BC-2802C6FE8174}", "409"),
              "ZvProperties");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettings + "\\Common", "BackupFolder"), "My ZvBackups");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettings + "\\DeviceList"));

    // A missing DeviceList brings back what is missing and keeps what the user has.
    RegSetKeyValueA(HKEY_CURRENT_USER, (kSettings + "\\Common").c_str(), "BackupFolder", REG_SZ, "D:\\Mine", 9);
    RegSetKeyValueA(HKEY_CURRENT_USER, (kSettings + "\\Common").c_str(), "Other", REG_SZ, "kept", 5);
    RegDeleteKeyA(HKEY_CURRENT_USER, (kSettings + "\\DeviceList").c_str());
    ASSERT_EQ(RunProgram(L"/RegServer"), 0);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettings + "\\DeviceList"));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettings + "\\Common", "BackupFolder"), "D:\\Mine");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettings + "\\Common", "Other"), "kept");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettings + "\\Common", "FileSyncFolder"), "My ZvFiles");
    tree_ = MakeTestTree();  // the unregistration took the test settings too
}

TEST_F(ProgramStart, ExitCodesOfAFailedOrStoppedStart) {
    // Without the language library beside it the program ends with -1 and shows nothing.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string lonely = std::string(temp) + "tve2e-lonely";
    CreateDirectoryA(lonely.c_str(), nullptr);
    const std::string copy = lonely + "\\Tavrilon.exe";
    const std::wstring program = ProgramPath();
    ASSERT_TRUE(CopyFileA(std::string(program.begin(), program.end()).c_str(), copy.c_str(), FALSE));
    {
        test::StartedProcess process;
        ASSERT_TRUE(process.Start(std::wstring(copy.begin(), copy.end()) + L" /NoSplash"));
        EXPECT_EQ(process.WaitForExit(30000), -1);
        EXPECT_NE(WaitForSingleObject(process.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    DeleteFileA(copy.c_str());

    // Without the item store's machine-wide key: 6, after every other component was made.
    const std::string storeKey = "Software\\Zelvan\\Tavrilon\\ZvRegistrar";
    const std::string store = ReadString(HKEY_LOCAL_MACHINE, storeKey, nullptr);
    ASSERT_FALSE(store.empty());
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, storeKey.c_str()), ERROR_SUCCESS);
    const long withoutStore = RunProgram(L"/NoSplash");
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, storeKey.c_str(), nullptr, REG_SZ, store.c_str(),
                    static_cast<DWORD>(store.size() + 1));
    EXPECT_EQ(withoutStore, 6);

    // "OnStart" returning false for the first call ends the program with 0 before anything.
    SetAutostart(L"function OnStart(n) { return n != 1; }");
    const DWORD start = GetTickCount();
    const long stopped = RunProgram(L"/NoSplash");
    SetAutostart(nullptr);
    EXPECT_EQ(stopped, 0);
    EXPECT_LT(GetTickCount() - start, 15000u);
}

TEST_F(ProgramStart, ASecondInstanceHandsItsFileToTheFirstAndDdeOpensFiles) {
    RunningProgram first;
    ASSERT_TRUE(first.Start());
    CopyDecliner user;

    // Without "/FileOpen" the second start does nothing and ends with 0.
    EXPECT_EQ(RunProgram(L"/NoSplash"), 0);
    EXPECT_EQ(RunProgram(L"/FileOpen \"C:\\My Files\\second start.txt\""), 0);
    EXPECT_NE(SharedLogText().find("file open C:\\My Files\\second start.txt"), std::string::npos);

    DWORD instance = 0;
    ASSERT_EQ(DdeInitializeA(&instance, [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
                                 return nullptr;
                             }, APPCMD_CLIENTONLY, 0),
              static_cast<UINT>(DMLERR_NO_ERROR));
    HSZ service = DdeCreateStringHandleA(instance, "Tavrilon", CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(instance, "System", CP_WINANSI);
    HCONV conversation = DdeConnect(instance, service, topic, nullptr);
    ASSERT_NE(conversation, nullptr);
    char command[] = "[FileOpen(\"C:\\Dde Files\\opened.txt\")]";
    DWORD result = 0;
    DdeClientTransaction(reinterpret_cast<BYTE*>(command), sizeof(command), conversation, nullptr, 0, XTYP_EXECUTE,
                         10000, &result);
    DdeDisconnect(conversation);
    DdeFreeStringHandle(instance, service);
    DdeFreeStringHandle(instance, topic);
    DdeUninitialize(instance);
    EXPECT_NE(SharedLogText().find("file open C:\\Dde Files\\opened.txt"), std::string::npos);
    // Neither file has an association: each offered the copy to a device, which was declined.
    EXPECT_TRUE(test::PollUntil([&] { return user.Declined() == 2; }, 20000));

    // The tray icon and its menu with both test devices, kept as a screenshot.
    EXPECT_TRUE(test::SaveScreenshot(OutputFolder() + L"\\tray.bmp"));
    SetCursorPos(1000, 740);
    PostMessageW(first.MainDialog(), 2724, 0, WM_RBUTTONUP);
    HWND menu = test::WaitForWindow(L"#32768", nullptr, 10000);
    EXPECT_NE(menu, nullptr);
    if (menu) {
        // Two device entries, help, about, options, restart and exit, with three separators.
        RECT shape{};
        GetWindowRect(menu, &shape);
        EXPECT_GT(shape.bottom - shape.top, 7 * 14);
        Sleep(500);
        EXPECT_TRUE(test::SaveScreenshot(OutputFolder() + L"\\tray-menu.bmp"));
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(first.MainDialog(), WM_CANCELMODE, 0, 0);
    }
    EXPECT_EQ(first.Exit(), 0);
}

} // namespace
} // namespace tv::e2e
