// Packages and applications end to end on an emulated 1.5 device: the running program is handed
// files the way the shell opens them (the open verb of their types, registered by the
// installers), its association manager picks the installer, install scripts copy to the device
// through the hub, and the device's files and command log show what arrived. The device's own
// version answers the application installer's check.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ZelvanMgr.h"
#include "ZvAppLinker.h"
#include "ZvAssocMgr.h"
#include <gtest/gtest.h>
#include <shellapi.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

namespace tv::e2e {
namespace {

using com::ComPtr;
using devlink15::test::SharedEmulator;

constexpr int kSlot = 0;
const char kDeviceId[] = "E2EINSTALL01";
const char kShortId[] = "E2EINST";
const char kStrId[] = "@E2EINST";
const char kName[] = "Install15";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::wstring TestData(const wchar_t* name) {
    std::wstring path = com::FromAnsi(TV_ASSOC_TESTDATA) + L"\\" + name;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return L"Z:" + path;
}

class Install15EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        problem_ = SharedEmulator().Problem();
        if (!problem_.empty())
            return;
        testDeviceRoot_ = UseOnlyEmulatedDevice("tve2einstall", kRegistration, kName);

        volume_ = SharedEmulator().VolumeWindowsPath(kSlot);
        const std::wstring slot = volume_.substr(0, volume_.rfind(L'\\'));
        for (const std::wstring& folder : {slot, volume_, volume_ + L"\\Packages"})
            CreateDirectoryW(folder.c_str(), nullptr);
        plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kShortId, "version=1.2.345") >= 0;
        if (plugged_ && program_.Start())
            WaitUntil([] { return HubDeviceCount() == 1; }, 30000);
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty()) {
            SharedEmulator().Unplug(kSlot, kDeviceId);
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
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
        ASSERT_TRUE(program_.MainDialog());
        ASSERT_EQ(HubDeviceCount(), 1);
        CommandLog();
    }

    // Opens a file with the shell's open verb and waits for the program instance that the shell
    // started to hand it over (it ends when the install has ended). With `classes`, the shell sees
    // that key as the classes root while it opens the file.
    static void ShellOpen(const wchar_t* file, HKEY classes = nullptr) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        const std::wstring path = TestData(file);
        info.lpFile = path.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (classes) {
            ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), ERROR_SUCCESS);
        }
        const BOOL opened = ShellExecuteExW(&info);
        const DWORD error = GetLastError();
        if (classes)
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        ASSERT_TRUE(opened) << error;
        if (info.hProcess) {
            EXPECT_EQ(WaitForSingleObject(info.hProcess, 120000), WAIT_OBJECT_0);
            CloseHandle(info.hProcess);
        }
    }
    static bool OnDevice(const wchar_t* path) {
        return GetFileAttributesW((volume_ + L"\\" + path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static std::string DeviceFile(const wchar_t* path) {
        return ReadFile(com::TerminatedToAnsi((volume_ + L"\\" + path).c_str()));
    }
    // Opens a file with the shell's open verb while the user picks the device folder `folder`
    // (below the device's main storage) in the folder browser the program shows over "My Zelvan".
    static bool ShellOpenPicking(const wchar_t* file, const wchar_t* folder) {
        CreateDirectoryW((volume_ + L"\\" + folder).c_str(), nullptr);
        com::UniqueModule language(LoadLanguageLibrary(nullptr));
        wchar_t title[256] = {};
        LoadStringW(language.Get(), IDS_INSTALL_BROWSE_TITLE, title, ARRAYSIZE(title));
        std::atomic<bool> picked{false};
        std::thread user([&] {
            const std::wstring device = com::FromAnsi(kName);
            picked = test::PickInFolderBrowser(title, {device, L"Main", folder}, 60000);
        });
        ShellOpen(file);
        user.join();
        return picked;
    }
    static std::string CommandLog() {
        std::istringstream answer(SharedEmulator().Request("log " + std::to_string(kSlot)));
        std::string line, text;
        std::getline(answer, line);
        while (std::getline(answer, line))
            text += line.substr(line.find(' ') + 1) + "\n";
        SharedEmulator().Request("clearlog " + std::to_string(kSlot));
        return text;
    }

    static std::string problem_;
    static std::string testDeviceRoot_;
    static bool plugged_;
    static std::wstring volume_;
    static RunningProgram program_;
};
std::string Install15EndToEnd::problem_;
std::string Install15EndToEnd::testDeviceRoot_;
bool Install15EndToEnd::plugged_ = false;
std::wstring Install15EndToEnd::volume_;
RunningProgram Install15EndToEnd::program_;

TEST_F(Install15EndToEnd, JScriptPackageInstallsOntoTheDevice) {
    ShellOpen(L"js.cap");
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Packages\\js-2.4.1.txt"); }, 30000));
    const std::string log = CommandLog();
    EXPECT_NE(log.find("pc $pipe=15 on"), std::string::npos) << log;
    EXPECT_NE(log.find("js-2.4.1.txt"), std::string::npos) << log;
    EXPECT_NE(log.find("pc $pipe=15 off"), std::string::npos) << log;
}

TEST_F(Install15EndToEnd, VBScriptPackageInstallsAndJScriptWinsWhenBothAreThere) {
    ShellOpen(L"vbs.cap");
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Packages\\vbs.txt"); }, 30000));
    DeleteFileW((volume_ + L"\\Packages\\vbs.txt").c_str());
    DeleteFileW((volume_ + L"\\Packages\\js-2.4.1.txt").c_str());
    ShellOpen(L"both.cap");
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Packages\\js-2.4.1.txt"); }, 30000));
    EXPECT_FALSE(OnDevice(L"Packages\\vbs.txt"));
}

TEST_F(Install15EndToEnd, ThrowingScriptShowsItsBoxAndInstallsNothing) {
    std::atomic<bool> boxSeen{false};
    std::thread user([&] {
        if (HWND box = test::WaitForWindow(L"#32770", L"ZvCapLinker", 60000)) {
            boxSeen = true;
            test::SaveScreenshot(OutputFolder() + L"\\install-script-error.bmp");
            test::ClickButton(box, IDOK);
        }
    });
    ShellOpen(L"throwing.cap");
    user.join();
    EXPECT_TRUE(boxSeen);
    EXPECT_FALSE(OnDevice(L"Packages\\never.txt"));
    EXPECT_EQ(CommandLog().find("pc $pipe=15 on"), std::string::npos);
}

TEST_F(Install15EndToEnd, ListingsShowTheManagersTypeTexts) {
    // Installed anew: a file left by an earlier case would make the hub ask before overwriting.
    DeleteFileW((volume_ + L"\\Packages\\js-2.4.1.txt").c_str());
    ShellOpen(L"js.cap");
    ASSERT_TRUE(WaitUntil([] { return OnDevice(L"Packages\\js-2.4.1.txt"); }, 30000));
    ComPtr<IZvAssocMgr> manager;
    ASSERT_EQ(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssocMgr),
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    ZVASSOCIATION type{};
    char item[] = "js-2.4.1.txt";
    ASSERT_EQ(manager->GetAssociation(item, &type), S_OK);
    const std::string expected = type.strDescription ? type.strDescription : "";
    CoTaskMemFree(type.strDescription);
    CoTaskMemFree(type.strExtension);
    CoTaskMemFree(type.strIconSrc);

    ComPtr<IZelvanMgr> hub = ConnectHub();
    ASSERT_TRUE(hub);
    ComPtr<IZvEnumFileItems> items;
    // The emulated volume is the device's main storage medium.
    std::string folder = std::string(kName) + "\\Main\\Packages";
    ASSERT_EQ(hub->EnumFileItems(folder.data(), 31, &items), S_OK);
    std::string shown = "(not listed)";
    ZVFILEITEM entry{};
    LONG fetched = 0;
    while (items->Next(1, &entry, &fetched) == S_OK && fetched == 1) {
        if (entry.strName && std::string(entry.strName) == item)
            shown = entry.strDesc ? entry.strDesc : "";
        CoTaskMemFree(entry.strName);
        CoTaskMemFree(entry.strDesc);
        CoTaskMemFree(entry.strIconFile);
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(Install15EndToEnd, PackageWithoutAScriptInstallsItsFilesIntoThePickedFolder) {
    ASSERT_TRUE(ShellOpenPicking(L"plain.cap", L"Plain"));
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Plain\\icon.img"); }, 30000));
    EXPECT_EQ(DeviceFile(L"Plain\\readme.txt"), ReadFile(com::TerminatedToAnsi(TestData(L"readme.txt").c_str())));
    EXPECT_EQ(DeviceFile(L"Plain\\data.bin"), ReadFile(com::TerminatedToAnsi(TestData(L"data.bin").c_str())));
    EXPECT_EQ(DeviceFile(L"Plain\\icon.img"), ReadFile(com::TerminatedToAnsi(TestData(L"icon.img").c_str())));
    // The install script of none of the other cases ran: nothing else arrived.
    EXPECT_FALSE(OnDevice(L"Plain\\notes.js"));
    const std::string log = CommandLog();
    EXPECT_NE(log.find("pc $pipe=15 on"), std::string::npos) << log;
    for (const char* name : {"readme.txt", "data.bin", "icon.img"})
        EXPECT_NE(log.find(name), std::string::npos) << name << "\n" << log;
    EXPECT_NE(log.find("pc $pipe=15 off"), std::string::npos) << log;
}

TEST_F(Install15EndToEnd, ApplicationOpenedThroughTheShellInstallsOntoTheDevice) {
    ASSERT_TRUE(ShellOpenPicking(L"game.app", L"Programs"));
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Programs\\game.app"); }, 30000));
    EXPECT_EQ(DeviceFile(L"Programs\\game.app"), ReadFile(com::TerminatedToAnsi(TestData(L"game.app").c_str())));
    // The device's version was asked before the copy.
    const std::string log = CommandLog();
    const size_t version = log.find("ver");
    const size_t copy = log.find("game.app");
    EXPECT_NE(version, std::string::npos) << log;
    EXPECT_NE(copy, std::string::npos) << log;
    EXPECT_LT(version, copy) << log;
    EXPECT_NE(log.find("pc $pipe=15 off"), std::string::npos) << log;
}

// Another program has taken the package type. A manager made in this process, as any component
// makes it, finds the binding lost and binds the suite's types again in the user's classes, not
// machine-wide. A package opened through the user's classes (which Windows' classes root shows
// over the machine's; Wine's shows the machine's alone) follows the repaired open verb, its
// command and DDE keys, to the running program and installs.
TEST_F(Install15EndToEnd, PackageOpensThroughTheBindingTheManagerRepaired) {
    const std::string ours = ReadString(HKEY_CLASSES_ROOT, ".cap", nullptr);
    ASSERT_EQ(ours, "Tavrilon.Association.cap");
    const auto setBinding = [](const char* value) {
        return RegSetKeyValueA(HKEY_CLASSES_ROOT, ".cap", nullptr, REG_SZ, value,
                               static_cast<DWORD>(strlen(value) + 1)) == ERROR_SUCCESS;
    };
    ASSERT_TRUE(setBinding("OtherProgram.Cap"));
    // The machine's binding comes back, and the user's repaired keys go, whatever the test saw.
    struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] {
        setBinding(ours.c_str());
        for (const char* key : {".cap", ".app", "Tavrilon.Association.cap", "Tavrilon.Association.app"})
            RegDeleteTreeA(HKEY_CURRENT_USER, (std::string("Software\\Classes\\") + key).c_str());
    }};
    {
        ComPtr<IZvAssocMgr> manager;
        ASSERT_EQ(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssocMgr),
                                   reinterpret_cast<void**>(&manager)),
                  S_OK);
    }
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "Software\\Classes\\.cap", nullptr), "Tavrilon.Association.cap");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, ".cap", nullptr), "OtherProgram.Cap");

    com::UniqueHKey userClasses;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, userClasses.Put()),
              ERROR_SUCCESS);
    DeleteFileW((volume_ + L"\\Packages\\js-2.4.1.txt").c_str());
    ShellOpen(L"js.cap", userClasses.Get());
    EXPECT_TRUE(WaitUntil([] { return OnDevice(L"Packages\\js-2.4.1.txt"); }, 30000));
}

TEST_F(Install15EndToEnd, ApplicationVersionCheckAsksTheDevice) {
    ComPtr<IZelvanMgr> hub = ConnectHub();
    ASSERT_TRUE(hub);
    com::UniqueModule language(LoadLanguageLibrary(nullptr));
    // The device runs 1.2.345: an application that needs 1.3.100 is accepted.
    EXPECT_TRUE(applinker::CheckDeviceVersion(hub.Get(), kName, com::TerminatedToAnsi(TestData(L"game.app").c_str()),
                                              language.Get()));
    // One that needs 9.0.0 is refused, and the user is told.
    std::atomic<bool> boxSeen{false};
    std::thread user([&] {
        wchar_t caption[256] = {};
        LoadStringW(language.Get(), IDS_INSTALL_CAPTION, caption, ARRAYSIZE(caption));
        if (HWND box = test::WaitForWindow(L"#32770", caption, 30000)) {
            boxSeen = true;
            test::ClickButton(box, IDOK);
        }
    });
    EXPECT_FALSE(applinker::CheckDeviceVersion(hub.Get(), kName, com::TerminatedToAnsi(TestData(L"future.app").c_str()),
                                               language.Get()));
    user.join();
    EXPECT_TRUE(boxSeen);
    const std::string log = CommandLog();
    EXPECT_NE(log.find("ver"), std::string::npos) << log;
}

} // namespace
} // namespace tv::e2e
