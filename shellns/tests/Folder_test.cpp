// The folder object against a hub served in this program: listings, names, attributes, sorting
// of identifiers, binding, and identifiers the shell hands back broken.
#include "EnumIdList.h"
#include "NsTestSupport.h"
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

} // namespace
