// The hub's folder browser over the "My Zelvan" folder registered in this prefix (the real
// DLL, loaded by Wine's shell): a user picks a device folder in the tree, and the hub answers
// its device path. Also the folder lists the program's tray commands open.
#include "NamespaceLink.h"
#include "NsTestSupport.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include <shlwapi.h>
#include <atomic>
#include <thread>

using namespace tv;
using namespace tv::shellns::test;

namespace {

class BrowseTest : public NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        served_.Hub()->UseRealBrowser();
        CreateDirectoryA(DevicePc("Dev1\\Main\\Sub\\Deeper").c_str(), nullptr);
    }

    // Runs the hub's ANSI browser while a user thread follows `folders`.
    HRESULT Browse(const std::vector<std::wstring>& folders, LONG bufferSize, std::string* path,
                   const std::vector<bool>* okExpected, LONG* busyWindow) {
        bool picked = false;
        std::thread user([&] {
            picked = tv::test::PickInFolderBrowser(L"Pick a folder", folders, 20000, okExpected);
        });
        std::vector<unsigned char> buffer(static_cast<size_t>(bufferSize) + 1, 'x');
        std::atomic<bool> returned{false};
        std::thread busyWatch([this, busyWindow, &returned] {
            tv::test::PollUntil(
                [&] {
                    LONG window = 0;
                    served_.Hub()->GetBusyUI(&window);
                    if (window > 0)
                        *busyWindow = window;
                    return window > 0 || returned;
                },
                20000);
        });
        HRESULT hr = served_.Hub()->BrowseForFolder(const_cast<LPSTR>("Pick a folder"),
                                                     const_cast<LPSTR>("Where to?"), bufferSize, buffer.data());
        returned = true;
        user.join();
        busyWatch.join();
        EXPECT_TRUE(picked);
        *path = reinterpret_cast<const char*>(buffer.data());
        return hr;
    }
};

TEST_F(BrowseTest, APickedDeviceFolderIsAnsweredAndADeviceCannotBeChosen) {
    std::string path;
    // OK is off on the device itself and on for a folder on it.
    const std::vector<bool> okExpected{false, true};
    LONG busyWindow = 0;
    EXPECT_EQ(S_OK, Browse({L"Dev1", L"Other"}, 260, &path, &okExpected, &busyWindow));
    EXPECT_EQ("Dev1\\Other", path);
    // The dialog was the busy window while it was open; the flag is clear afterwards.
    EXPECT_NE(0, busyWindow);
    EXPECT_EQ(0, served_.BusyUI());
}

TEST_F(BrowseTest, FoldersBelowFoldersAndAPathThatDoesNotFit) {
    std::string path;
    LONG busyWindow = 0;
    EXPECT_EQ(S_OK, Browse({L"Dev1", L"Main", L"Sub", L"Deeper"}, 260, &path, nullptr, &busyWindow));
    EXPECT_EQ("Dev1\\Main\\Sub\\Deeper", path);
    // "Dev1\Main\Sub" and its terminator need 14 bytes.
    EXPECT_EQ(E_FAIL, Browse({L"Dev1", L"Main", L"Sub"}, 13, &path, nullptr, &busyWindow));
    EXPECT_EQ("", path);
    EXPECT_EQ(0, served_.BusyUI());
}

TEST_F(BrowseTest, TheScriptFaceAnswersThePickAndACancelGivesNothing) {
    BSTR title = SysAllocString(L"Pick a folder"), text = SysAllocString(L"Where to?"),
         status = SysAllocString(L"Status");
    BSTR path = nullptr;
    std::thread user([] { tv::test::PickInFolderBrowser(L"Pick a folder", {L"Dev1", L"Main"}, 20000); });
    EXPECT_EQ(S_OK, served_.Hub()->BrowseForFolder2(title, text, status, &path));
    user.join();
    ASSERT_NE(nullptr, path);
    EXPECT_STREQ(L"Dev1\\Main", path);
    SysFreeString(path);
    path = nullptr;
    std::thread cancel([] { tv::test::PickInFolderBrowser(L"Pick a folder", {}, 20000); });
    EXPECT_EQ(S_FALSE, served_.Hub()->BrowseForFolder2(title, text, status, &path));
    cancel.join();
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(0, served_.BusyUI());
    SysFreeString(title);
    SysFreeString(text);
    SysFreeString(status);
}

TEST_F(BrowseTest, TheTrayOpensMyZelvanAndEachDeviceByTheirListsInMyComputer) {
    // Explore: "My Zelvan" under My Computer.
    PIDLIST_ABSOLUTE root = FindMyZelvanPidl();
    ASSERT_NE(nullptr, root);
    com::ComPtr<IShellFolder> desktop;
    ASSERT_EQ(S_OK, SHGetDesktopFolder(&desktop));
    STRRET name{};
    char text[MAX_PATH] = {};
    ASSERT_EQ(S_OK, desktop->GetDisplayNameOf(root, SHGDN_NORMAL, &name));
    StrRetToBufA(&name, root, text, sizeof(text));
    EXPECT_STREQ(kMyZelvanFolderName, text);
    CoTaskMemFree(root);
    // Open: the device at its menu position, as a folder of the namespace.
    PIDLIST_ABSOLUTE device = FindDeviceFolderPidl(0);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ("Dev1", PidlToPathSkipping(device));
    CoTaskMemFree(device);
    EXPECT_EQ(nullptr, FindDeviceFolderPidl(1));
}

} // namespace
