// Registration of ZelvanNS.dll in this prefix: Wine's shell lists "My Zelvan" in My Computer,
// binds the junction and lists the devices through the real DLL; unregistration leaves nothing.
#include "NsTestSupport.h"
#include "AnsiText.h"
#include "Handles.h"
#include <shlwapi.h>

using namespace tv;
using namespace tv::shellns;
using namespace tv::shellns::test;

namespace {

const char kClassKey[] = "CLSID\\{183249DD-9B44-4B4E-88FB-FA55F948649C}";
const char kJunctionKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace\\{183249DD-9B44-4B4E-88FB-FA55F948649C}";
const char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kJunctionPath[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{183249DD-9B44-4B4E-88FB-FA55F948649C}";

bool KeyExists(HKEY root, const char* path) {
    com::UniqueHKey key;
    return RegOpenKeyExA(root, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

class RegistrationTest : public NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        std::string path = std::string("Z:") + TV_ZELVANNS_DLL;
        for (char& c : path)
            if (c == '/')
                c = '\\';
        module_ = LoadLibraryA(path.c_str());
        ASSERT_NE(nullptr, module_) << path;
        registerServer_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregisterServer_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(registerServer_ && unregisterServer_);
    }
    void TearDown() override {
        // The prefix keeps the folder registered, as the install script left it.
        if (registerServer_)
            registerServer_();
        NamespaceTest::TearDown();
    }

    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer_)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer_)() = nullptr;
};

TEST_F(RegistrationTest, RegisteredFolderIsListedInMyComputerAndListsTheDevices) {
    ASSERT_EQ(S_OK, registerServer_());
    BYTE attributes[8] = {};
    DWORD type = 0, size = sizeof(attributes);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\ShellFolder").c_str(),
                                          "Attributes", RRF_RT_ANY, &type, attributes, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0xA0, attributes[3]);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kJunctionKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanNS\\CurVer"));

    UniquePidl root(FindMyZelvanRoot());
    ASSERT_TRUE(root) << "My Computer does not list My Zelvan";
    com::ComPtr<IShellFolder> desktop, folder;
    ASSERT_EQ(S_OK, SHGetDesktopFolder(&desktop));
    std::wstring path = kJunctionPath;
    PIDLIST_RELATIVE junction = nullptr;
    ASSERT_EQ(S_OK, desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &junction, nullptr));
    UniquePidl ownedJunction(junction);
    ASSERT_EQ(S_OK, desktop->BindToObject(junction, nullptr, IID_PPV_ARGS(&folder)));
    std::vector<UniquePidl> devices = List(folder.Get());
    ASSERT_EQ(1u, devices.size());
    STRRET name{};
    ASSERT_EQ(S_OK, folder->GetDisplayNameOf(devices[0].Get(), SHGDN_INFOLDER, &name));
    char text[MAX_PATH] = {};
    ASSERT_EQ(S_OK, StrRetToBufA(&name, devices[0].Get(), text, sizeof(text)));
    EXPECT_STREQ("Dev1", text);
    // The full name of the junction parses back to the same folder.
    UniquePidl device(ILCombine(static_cast<PCIDLIST_ABSOLUTE>(junction), devices[0].Get()));
    com::ComPtr<IShellFolder> deviceFolder;
    ASSERT_EQ(S_OK, desktop->BindToObject(device.Get(), nullptr, IID_PPV_ARGS(&deviceFolder)));
    EXPECT_EQ(2u, List(deviceFolder.Get()).size());
}

TEST_F(RegistrationTest, UnregistrationRemovesTheFolderWithoutLeftovers) {
    ASSERT_EQ(S_OK, registerServer_());
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanNS"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilon.ZelvanNS.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kJunctionKey));
    char value[64] = {};
    DWORD size = sizeof(value);
    EXPECT_NE(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, kApprovedKey, "{183249DD-9B44-4B4E-88FB-FA55F948649C}",
                                          RRF_RT_ANY, nullptr, value, &size));
    EXPECT_FALSE(UniquePidl(FindMyZelvanRoot()));
}

} // namespace
