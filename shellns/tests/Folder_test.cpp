// The folder object against a hub served in this program: listings, names, attributes, sorting
// of identifiers, binding, and identifiers the shell hands back broken.
#include "EnumIdList.h"
#include "NsTestSupport.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include "UiHarness.h"
#include <atomic>
#include <cstring>

using namespace tv;
using namespace tv::shellns;
using namespace tv::shellns::test;

namespace {

std::vector<std::string> Names(const std::vector<UniquePidl>& items) {
    std::vector<std::string> names;
    for (const UniquePidl& item : items)
        names.push_back(NamespaceTest::NameOf(item.Get()));
    std::sort(names.begin(), names.end());
    return names;
}

using FolderTest = NamespaceTest;

TEST_F(FolderTest, RootListsTheDevicesAndDevicesListTheirFolders) {
    auto root = Root();
    std::vector<UniquePidl> devices = List(root.Get());
    ASSERT_EQ(1u, devices.size());
    EXPECT_EQ("Dev1", NameOf(devices[0].Get()));
    ItemRecord device;
    ASSERT_TRUE(ReadItem(devices[0].Get(), &device));
    EXPECT_EQ(kTypeDevice, device.type);
    EXPECT_TRUE(device.flags & kAttrFolder);

    EXPECT_EQ((std::vector<std::string>{"Main", "Other"}), Names(List(FolderAt("Dev1").Get())));
    EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt", "b.txt"}), Names(List(FolderAt("Dev1\\Main").Get())));
    // Without non-folders only the containers are asked for.
    EXPECT_EQ((std::vector<std::string>{"Sub"}), Names(List(FolderAt("Dev1\\Main").Get(), SHCONTF_FOLDERS)));
    std::vector<UniquePidl> files = List(FolderAt("Dev1\\Main").Get());
    for (const UniquePidl& item : files) {
        ItemRecord record;
        ASSERT_TRUE(ReadItem(item.Get(), &record));
        if (record.name == "b.txt") {
            EXPECT_EQ(9u, record.size);
            EXPECT_EQ(kTypeFile, record.type);
            EXPECT_NE(0u, record.timeHigh);
        }
    }
}

TEST_F(FolderTest, BindingMakesANewFolderAndLeavesTheParentAsItWas) {
    auto root = Root();
    std::vector<UniquePidl> devices = List(root.Get());
    ASSERT_FALSE(devices.empty());
    com::ComPtr<IShellFolder> device;
    ASSERT_EQ(S_OK, root->BindToObject(devices[0].Get(), nullptr, IID_PPV_ARGS(&device)));
    EXPECT_NE(static_cast<IShellFolder*>(root.Get()), device.Get());
    EXPECT_EQ("", root->DevicePath());
    EXPECT_EQ(1u, List(root.Get()).size());
    // A two-level identifier binds in one step.
    std::vector<UniquePidl> folders = List(device.Get());
    ASSERT_FALSE(folders.empty());
    UniquePidl twoLevels(ILCombine(devices[0].Get(), folders[0].Get()));
    com::ComPtr<IShellFolder> deeper;
    ASSERT_EQ(S_OK, root->BindToObject(twoLevels.Get(), nullptr, IID_PPV_ARGS(&deeper)));
    com::ComPtr<IPersistFolder> persist;
    EXPECT_EQ(S_OK, deeper->QueryInterface(IID_PPV_ARGS(&persist)));
    CLSID clsid{};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_ZelvanNS));
}

TEST_F(FolderTest, DisplayNamesInTheFolderAndInFull) {
    auto main = FolderAt("Dev1\\Main");
    ASSERT_TRUE(main);
    std::vector<UniquePidl> items = List(main.Get());
    ASSERT_FALSE(items.empty());
    STRRET name{};
    ASSERT_EQ(S_OK, main->GetDisplayNameOf(items[0].Get(), SHGDN_INFOLDER, &name));
    EXPECT_EQ(static_cast<UINT>(STRRET_OFFSET), name.uType);
    EXPECT_EQ(38u, name.uOffset);
    ASSERT_EQ(S_OK, main->GetDisplayNameOf(items[0].Get(), SHGDN_NORMAL, &name));
    EXPECT_EQ(static_cast<UINT>(STRRET_CSTR), name.uType);
    EXPECT_EQ("My Zelvan\\Dev1\\Main\\" + NameOf(items[0].Get()), std::string(name.cStr));
    EXPECT_EQ(E_POINTER, main->GetDisplayNameOf(nullptr, 0, &name));
}

TEST_F(FolderTest, AttributesGiveDropTargetToAllButADevice) {
    auto root = Root();
    std::vector<UniquePidl> devices = List(root.Get());
    ASSERT_FALSE(devices.empty());
    PCUITEMID_CHILD device = devices[0].Get();
    SFGAOF attributes = 0xFFFFFFFF;
    ASSERT_EQ(S_OK, root->GetAttributesOf(1, &device, &attributes));
    EXPECT_FALSE(attributes & SFGAO_DROPTARGET);
    EXPECT_TRUE(attributes & SFGAO_FOLDER);
    EXPECT_TRUE(attributes & SFGAO_CANLINK);

    auto main = FolderAt("Dev1\\Main");
    std::vector<UniquePidl> items = List(main.Get());
    std::vector<PCUITEMID_CHILD> all;
    for (auto& item : items)
        all.push_back(item.Get());
    ASSERT_EQ(S_OK, main->GetAttributesOf(static_cast<UINT>(all.size()), all.data(), &attributes));
    EXPECT_TRUE(attributes & SFGAO_DROPTARGET);
    EXPECT_FALSE(attributes & SFGAO_FOLDER);  // the files are no folders: the AND drops it
    EXPECT_EQ(S_OK, main->GetAttributesOf(0, nullptr, &attributes));
    EXPECT_EQ(static_cast<SFGAOF>(SFGAO_DROPTARGET), attributes);
}

TEST_F(FolderTest, CompareIdsGivesASuccessCodeWithTheOrder) {
    auto main = FolderAt("Dev1\\Main");
    std::vector<UniquePidl> items = List(main.Get());
    PCUIDLIST_RELATIVE a = nullptr, b = nullptr;
    for (auto& item : items) {
        if (NameOf(item.Get()) == "a.txt")
            a = item.Get();
        if (NameOf(item.Get()) == "b.txt")
            b = item.Get();
    }
    ASSERT_TRUE(a && b);
    EXPECT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0xFFFF), main->CompareIDs(0, a, b));
    EXPECT_TRUE(SUCCEEDED(main->CompareIDs(0, a, b)));
    EXPECT_EQ(static_cast<short>(HRESULT_CODE(main->CompareIDs(0, b, a))), 1);
    EXPECT_EQ(0, HRESULT_CODE(main->CompareIDs(0, a, a)));
    ITEMIDLIST empty{};
    EXPECT_EQ(S_OK, main->CompareIDs(0, &empty, a));
    EXPECT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1), main->CompareIDs(0, a, &empty));
}

TEST_F(FolderTest, TruncatedOrStaleIdentifiersAreRefusedEverywhere) {
    auto main = FolderAt("Dev1\\Main");
    std::vector<UniquePidl> items = List(main.Get());
    ASSERT_FALSE(items.empty());
    // A copy whose size was cut by one byte: the description's terminator is outside it.
    const USHORT cb = items[0].Get()->mkid.cb;
    std::vector<BYTE> cut(cb + 2, 0);
    std::memcpy(cut.data(), items[0].Get(), cb - 1);
    reinterpret_cast<SHITEMID*>(cut.data())->cb = static_cast<USHORT>(cb - 1);
    auto broken = reinterpret_cast<PCUITEMID_CHILD>(cut.data());
    STRRET name{};
    EXPECT_EQ(E_INVALIDARG, main->GetDisplayNameOf(broken, SHGDN_NORMAL, &name));
    SFGAOF attributes = 0;
    EXPECT_EQ(E_FAIL, main->GetAttributesOf(1, &broken, &attributes));
    com::ComPtr<IShellFolder> bound;
    EXPECT_EQ(E_INVALIDARG, main->BindToObject(broken, nullptr, IID_PPV_ARGS(&bound)));
    EXPECT_EQ(E_INVALIDARG, main->CompareIDs(0, broken, items[0].Get()));
    void* object = nullptr;
    EXPECT_EQ(E_INVALIDARG, main->GetUIObjectOf(nullptr, 1, &broken, IID_IExtractIconA, nullptr, &object));
}

TEST_F(FolderTest, EnumeratorSkipStopsAtTheEndAndNeverRepeatsTheLastItem) {
    com::ComPtr<IEnumIDList> list;
    auto main = FolderAt("Dev1\\Main");
    ASSERT_EQ(S_OK, main->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &list));
    EXPECT_EQ(S_OK, list->Skip(2));
    EXPECT_EQ(S_FALSE, list->Skip(5));
    PITEMID_CHILD child = nullptr;
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, list->Next(1, &child, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, list->Reset());
    PITEMID_CHILD three[4] = {};
    EXPECT_EQ(E_INVALIDARG, list->Next(4, three, nullptr));
    EXPECT_EQ(S_FALSE, list->Next(4, three, &fetched));
    EXPECT_EQ(3u, fetched);
    for (ULONG i = 0; i < fetched; ++i)
        CoTaskMemFree(three[i]);
    com::ComPtr<IEnumIDList> clone;
    EXPECT_EQ(E_NOTIMPL, list->Clone(&clone));
}

TEST_F(FolderTest, AChildPathOf250CharactersFailsTheWholeListing) {
    // Dev1\Main\ is 10 characters: a name of 239 makes 249, one of 240 makes 250.
    const std::string shorter = "\\\\?\\" + DevicePc("Dev1\\Main\\") + std::string(239, 'n');
    const std::string longer = "\\\\?\\" + DevicePc("Dev1\\Main\\") + std::string(240, 'n');
    WriteFile(shorter, "x");
    com::ComPtr<IEnumIDList> list;
    EXPECT_EQ(S_OK, FolderAt("Dev1\\Main")->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &list));
    WriteFile(longer, "x");
    EXPECT_EQ(E_FAIL, FolderAt("Dev1\\Main")->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &list));
    EXPECT_TRUE(DeleteFileW(com::FromAnsi(shorter).c_str()));
    EXPECT_TRUE(DeleteFileW(com::FromAnsi(longer).c_str()));
}

TEST_F(FolderTest, IconsComeFromTheSharedImageLists) {
    auto main = FolderAt("Dev1\\Main");
    std::vector<UniquePidl> items = List(main.Get());
    ASSERT_FALSE(items.empty());
    PCUITEMID_CHILD item = items[0].Get();
    com::ComPtr<IExtractIconA> icon;
    ASSERT_EQ(S_OK, main->GetUIObjectOf(nullptr, 1, &item, IID_IExtractIconA, nullptr,
                                        reinterpret_cast<void**>(&icon)));
    char file[MAX_PATH] = "junk";
    int index = -1;
    UINT flags = 0;
    ASSERT_EQ(S_OK, icon->GetIconLocation(0, file, sizeof(file), &index, &flags));
    EXPECT_EQ(static_cast<UINT>(GIL_NOTFILENAME | GIL_PERINSTANCE), flags);
    EXPECT_STREQ("", file);
    EXPECT_GE(index, 0);
    HICON large = nullptr, small = nullptr;
    ASSERT_EQ(S_OK, icon->Extract(file, static_cast<UINT>(index), &large, &small, 32));
    EXPECT_NE(nullptr, large);
    EXPECT_NE(nullptr, small);
    DestroyIcon(large);
    DestroyIcon(small);
    EXPECT_EQ(E_FAIL, main->GetUIObjectOf(nullptr, 0, &item, IID_IExtractIconA, nullptr,
                                          reinterpret_cast<void**>(&icon)));
}

TEST_F(FolderTest, RootVerbMenuOnlyForVerbQueries) {
    auto root = Root();
    HMENU menu = CreatePopupMenu();
    EXPECT_EQ(0, root->QueryContextMenu(menu, 0, 100, 200, CMF_NORMAL));
    EXPECT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2), root->QueryContextMenu(menu, 0, 100, 200, 3));
    EXPECT_EQ(1, GetMenuItemCount(menu));
    EXPECT_EQ(101u, GetMenuItemID(menu, 0));
    DestroyMenu(menu);
    char verb[16] = {};
    EXPECT_EQ(S_OK, root->GetCommandString(11813, GCS_VERBA, nullptr, verb, sizeof(verb)));
    EXPECT_STREQ("rename", verb);
}

// The shell's "Hidden" setting: 2 makes it report fShowSysFiles set, 0 clear.
class ShellHiddenSetting {
  public:
    explicit ShellHiddenSetting(DWORD value) {
        DWORD size = sizeof(saved_);
        had_ = RegGetValueA(HKEY_CURRENT_USER, kKey, "Hidden", RRF_RT_REG_DWORD, nullptr, &saved_, &size) ==
               ERROR_SUCCESS;
        Set(value);
    }
    ~ShellHiddenSetting() {
        if (had_)
            Set(saved_);
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Hidden");
    }
    void Set(DWORD value) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "Hidden", REG_DWORD, &value, sizeof(value));
    }

  private:
    static constexpr char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
    DWORD saved_ = 0;
    bool had_ = false;
};

TEST_F(FolderTest, AHiddenItemIsListedOnlyWhileTheShellReportsSystemFilesHidden) {
    ASSERT_TRUE(SetFileAttributesA(DevicePc("Dev1\\Main\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ShellHiddenSetting shell(2);
    auto main = FolderAt("Dev1\\Main");
    EXPECT_EQ((std::vector<std::string>{"Sub", "b.txt"}), Names(List(main.Get())));
    shell.Set(0);
    EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt", "b.txt"}), Names(List(main.Get())));
    SetFileAttributesA(DevicePc("Dev1\\Main\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// What the shell's opening of a shortcut into the folder gets: the target opened as a folder,
// or, while the target is missing, a warning on every other attempt.
struct OpenedTargets {
    static std::vector<std::string>& List() {
        static std::vector<std::string> opened;
        return opened;
    }
    static BOOL Record(SHELLEXECUTEINFOA* info) {
        std::string last = "<none>";
        if (info && (info->fMask & SEE_MASK_IDLIST) && info->lpIDList) {
            auto* pidl = static_cast<PCUIDLIST_RELATIVE>(info->lpIDList);
            PCUIDLIST_RELATIVE item = pidl;
            for (PCUIDLIST_RELATIVE next = pidl; next && next->mkid.cb; next = ILNext(next))
                item = next;
            last = NamespaceTest::NameOf(item);
        }
        List().push_back(std::string(info && info->lpVerb ? info->lpVerb : "") + " " +
                         (info && info->lpClass ? info->lpClass : "") + " " + last);
        return TRUE;
    }
};

TEST_F(FolderTest, AShortcutOpensItsTargetAndAMissingTargetWarnsEveryOtherTime) {
    OpenedTargets::List().clear();
    Seams().shellExecuteEx = OpenedTargets::Record;
    // The folder as the shell makes it: initialised with the absolute identifier of "My Zelvan".
    LPITEMIDLIST drives = nullptr;
    ASSERT_EQ(S_OK, SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives));
    UniquePidl ownedDrives(drives);
    auto root = Root();
    ASSERT_EQ(S_OK, root->Initialize(drives));
    com::ComPtr<IShellFolder> main;
    for (UniquePidl& device : List(root.Get()))
        for (UniquePidl& folder : List(FolderAt("Dev1").Get()))
            if (NameOf(folder.Get()) == "Main") {
                UniquePidl both(ILCombine(device.Get(), folder.Get()));
                ASSERT_EQ(S_OK, root->BindToObject(both.Get(), nullptr, IID_PPV_ARGS(&main)));
            }
    ASSERT_TRUE(main);
    UniquePidl sub;
    for (UniquePidl& item : List(main.Get()))
        if (NameOf(item.Get()) == "Sub")
            sub.Reset(ILClone(item.Get()));
    ASSERT_TRUE(sub);
    PCUITEMID_CHILD child = reinterpret_cast<PCUITEMID_CHILD>(sub.Get());
    com::ComPtr<IResolveShellLink> resolve;
    ASSERT_EQ(S_OK, main->GetUIObjectOf(nullptr, 1, &child, IID_IResolveShellLink, nullptr,
                                        reinterpret_cast<void**>(&resolve)));
    com::ComPtr<IShellLinkA> link;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));

    EXPECT_EQ(S_OK, resolve->ResolveShellLink(link.Get(), nullptr, 0));
    EXPECT_EQ(std::vector<std::string>{"open Folder Sub"}, OpenedTargets::List());

    // The target goes, then its device: the warning comes on the first, third and fifth attempt.
    std::atomic<int> warnings{0};
    {
        tv::test::DialogAnswerer user([&](HWND box) {
            char title[64] = {};
            GetWindowTextA(box, title, sizeof(title));
            if (std::string(title) == "Tavrilon") {
                ++warnings;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
        });
        tv::test::DeleteTree(com::FromAnsi(DevicePc("Dev1\\Main\\Sub")));
        std::vector<int> seen;
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(E_FAIL, resolve->ResolveShellLink(link.Get(), nullptr, 0));
            seen.push_back(warnings.load());
        }
        tv::test::DeleteTree(com::FromAnsi(DevicePc("Dev1")));
        ASSERT_TRUE(tv::test::PollUntil([&] { return List(Root().Get()).empty(); }, 10000));
        for (int attempt = 0; attempt < 3; ++attempt) {
            EXPECT_EQ(E_FAIL, resolve->ResolveShellLink(link.Get(), nullptr, 0));
            seen.push_back(warnings.load());
        }
        EXPECT_EQ((std::vector<int>{1, 1, 2, 2, 3}), seen);
    }
    EXPECT_EQ(1u, OpenedTargets::List().size());
    Seams().shellExecuteEx = ::ShellExecuteExA;
}

// A call into the hub may take long (the program busy, or another process): while one thread
// waits in it, the folder's other threads still get at the state they share.
TEST_F(FolderTest, AHubCallInFlightHoldsNothingTheOtherThreadsNeed) {
    auto root = Root();
    struct Shared {
        std::shared_ptr<NsGlobals> globals = AcquireGlobals();
        com::UniqueHandle calling{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        com::UniqueHandle read{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    } shared;
    // The hub lives in this test's apartment: the caller's call waits until this test serves it.
    com::UniqueHandle caller(CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            auto* shared = static_cast<Shared*>(parameter);
            com::ComApartment apartment;
            SetEvent(shared->calling.Get());
            com::ComPtr<IZelvanMgr> hub;
            shared->globals->GetHub(hub);
            return 0;
        },
        &shared, 0, nullptr));
    com::UniqueHandle reader(CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            auto* shared = static_cast<Shared*>(parameter);
            WaitForSingleObject(shared->calling.Get(), 10000);
            Sleep(300);
            shared->globals->Settings();
            SetEvent(shared->read.Get());
            return 0;
        },
        &shared, 0, nullptr));
    ASSERT_TRUE(caller && reader);
    // This thread serves nothing meanwhile.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(shared.read.Get(), 5000));
    EXPECT_TRUE(tv::test::PumpUntilThreadEnds(caller.Get(), 20000));
    EXPECT_TRUE(tv::test::PumpUntilThreadEnds(reader.Get(), 20000));
}

} // namespace
