// The registry store of the stored state, the folder data of a first session, and the local-time
// conversions of PC file times.
#include "AnsiText.h"
#include "LocalFileTime.h"
#include "RegistrySyncStore.h"
#include "WinPcLister.h"
#include "testing/UndeletableKey.h"

#include <gtest/gtest.h>
#include <algorithm>

namespace {

using ::filesync::FileEntry;
using ::filesync::StoreResult;
using namespace tv::filesync;

constexpr char kDevice[] = "@StoreT1";

class RegistrySyncStoreTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() { RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + kDevice).c_str()); }
    void MakeStateKey() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (StateKeyPath(kDevice) + "\\Masks").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(RegistrySyncStoreTest, ItemsRoundTripAndReplaceTheOldOnes) {
    RegistrySyncStore store(kDevice);
    std::vector<FileEntry> items;
    EXPECT_EQ(store.WriteItems({{"a\\b", 1}}), StoreResult::Missing); // no state key: nothing written
    MakeStateKey();
    std::vector<FileEntry> written;
    for (int i = 0; i < 12; ++i)
        written.push_back(FileEntry{"Main\\f" + std::to_string(i), 0x01D0000000000000ull + i, 0, 100u + i});
    ASSERT_EQ(store.WriteItems(written), StoreResult::Ok);
    ASSERT_EQ(store.WriteItems({written[3], written[7]}), StoreResult::Ok);
    ASSERT_EQ(store.ReadItems(items), StoreResult::Ok);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "Main\\f3");
    EXPECT_EQ(items[0].time, written[3].time);
    EXPECT_EQ(items[1].size, 107u);

    // A damaged item stops the reading with a failure.
    HKEY item = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (StateKeyPath(kDevice) + "\\Item1").c_str(), 0, KEY_ALL_ACCESS, &item),
              ERROR_SUCCESS);
    RegDeleteValueA(item, "Size");
    RegCloseKey(item);
    items.clear();
    EXPECT_EQ(store.ReadItems(items), StoreResult::Failed);
    EXPECT_EQ(items.size(), 1u);
}

// The items read back after a save, as name/size pairs.
std::vector<std::pair<std::string, uint32_t>> Stored(RegistrySyncStore& store) {
    std::vector<FileEntry> items;
    EXPECT_EQ(store.ReadItems(items), StoreResult::Ok);
    std::vector<std::pair<std::string, uint32_t>> stored;
    for (const FileEntry& item : items)
        stored.emplace_back(item.name, item.size);
    std::sort(stored.begin(), stored.end());
    return stored;
}

// A save writes every new item before it removes an old item key, so an old key that cannot be
// deleted costs no record: a key the new items take is written over, and one they leave fails
// the save with every new item stored beside it.
TEST_F(RegistrySyncStoreTest, AnItemKeyThatCannotBeDeletedCostsTheSaveNoRecord) {
    using Stored_ = std::vector<std::pair<std::string, uint32_t>>;
    MakeStateKey();
    RegistrySyncStore store(kDevice);
    ASSERT_EQ(store.WriteItems({{"Main\\a", 1, 0, 10}, {"Main\\b", 2, 0, 20}, {"Main\\c", 3, 0, 30}}),
              StoreResult::Ok);
    tv::filesync::testing::UndeletableKey stuck(StateKeyPath(kDevice) + "\\Item1");
    ASSERT_TRUE(stuck.Made());
    // The same files, one of them changed, and a new one.
    EXPECT_EQ(
        store.WriteItems(
            {{"Main\\a", 1, 0, 10}, {"Main\\b", 5, 0, 21}, {"Main\\c", 3, 0, 30}, {"Main\\d", 4, 0, 40}}),
        StoreResult::Ok);
    EXPECT_EQ(Stored(store), (Stored_{{"Main\\a", 10}, {"Main\\b", 21}, {"Main\\c", 30}, {"Main\\d", 40}}));

    // Fewer items: the stuck key is left over and fails the save; the new item is stored all the
    // same.
    EXPECT_EQ(store.WriteItems({{"Main\\new", 9, 0, 90}}), StoreResult::Failed);
    const Stored_ afterFailure = Stored(store);
    EXPECT_NE(
        std::find(afterFailure.begin(), afterFailure.end(), std::make_pair(std::string("Main\\new"), 90u)),
        afterFailure.end());
    EXPECT_EQ(afterFailure.size(), 2u); // the new item and the stuck key's
    stuck.Release();
    EXPECT_EQ(store.WriteItems({{"Main\\new", 9, 0, 90}}), StoreResult::Ok);
    EXPECT_EQ(Stored(store), (Stored_{{"Main\\new", 90}}));
}

TEST_F(RegistrySyncStoreTest, RememberedItemsAreReadAgainOnceTheStateKeyChanged) {
    MakeStateKey();
    StoredItemsMemo memo;
    const std::vector<FileEntry> written = {{"Main\\a", 5, 0, 1}, {"Main\\b", 6, 0, 2}};
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).WriteItems(written), StoreResult::Ok);
    EXPECT_TRUE(memo.valid);

    // Another writer puts other items in place of the same number of keys.
    RegistrySyncStore plain(kDevice);
    ASSERT_EQ(plain.WriteItems({{"Main\\c", 7, 0, 3}, {"Main\\d", 8, 0, 4}}), StoreResult::Ok);
    std::vector<FileEntry> items;
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Ok);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "Main\\c");
    EXPECT_EQ(memo.items.size(), 2u);

    // Unchanged, the key's items come from the memo; another device's key is read for itself.
    memo.items[0].time = 99;
    items.clear();
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Ok);
    EXPECT_EQ(items[0].time, 99u);
    items.clear();
    EXPECT_EQ(RegistrySyncStore("@StoreT2", &memo).ReadItems(items), StoreResult::Missing);
    EXPECT_TRUE(items.empty());

    // A value written to the state key makes the memo stale too; a failed reading leaves nothing
    // remembered.
    HKEY item = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (StateKeyPath(kDevice) + "\\Item1").c_str(), 0, KEY_ALL_ACCESS, &item),
              ERROR_SUCCESS);
    RegDeleteValueA(item, "Size");
    RegCloseKey(item);
    HKEY state = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, StateKeyPath(kDevice).c_str(), 0, KEY_ALL_ACCESS, &state), ERROR_SUCCESS);
    const DWORD zero = 0;
    RegSetValueExA(state, "dwAttribute", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
    RegCloseKey(state);
    items.clear();
    EXPECT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Failed);
    EXPECT_FALSE(memo.valid);
}

TEST_F(RegistrySyncStoreTest, HeaderIsReadWholeAndMasksKeepTheirNames) {
    RegistrySyncStore store(kDevice);
    std::string root;
    uint32_t attribute = 7;
    EXPECT_EQ(store.ReadHeader(root, attribute), StoreResult::Missing);
    MakeStateKey();
    const std::string longFolder = "C:\\" + std::string(400, 'x');
    ASSERT_EQ(store.WriteFolder(longFolder), ERROR_SUCCESS);
    EXPECT_EQ(store.ReadHeader(root, attribute), StoreResult::Missing); // no dwAttribute yet
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, StateKeyPath(kDevice).c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const DWORD zero = 0;
    RegSetValueExA(key, "dwAttribute", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
    RegCloseKey(key);
    ASSERT_EQ(store.ReadHeader(root, attribute), StoreResult::Ok);
    EXPECT_EQ(root, longFolder);
    EXPECT_EQ(attribute, 0u);

    ASSERT_EQ(store.AddMask("Main\\*.txt"), StoreResult::Ok);
    ASSERT_EQ(store.AddMask("a?"), StoreResult::Ok);
    std::vector<std::string> masks;
    ASSERT_EQ(store.ReadMasks(masks), StoreResult::Ok);
    EXPECT_EQ(masks.size(), 2u);
    EXPECT_EQ(store.DeleteMask("a?"), StoreResult::Ok);
    EXPECT_EQ(store.DeleteMask("a?"), StoreResult::Missing); // already gone
    // Saving an edited list: the kept and new masks stay, a mask already gone counts as deleted.
    EXPECT_EQ(::filesync::SaveMasks(store, {"Main\\*.txt", "a?"}, {"Main\\*.txt", "b*"}), StoreResult::Ok);
    masks.clear();
    ASSERT_EQ(store.ReadMasks(masks), StoreResult::Ok);
    std::sort(masks.begin(), masks.end());
    EXPECT_EQ(masks, (std::vector<std::string>{"Main\\*.txt", "b*"}));
}

// Registry value names ignore case, so masks that differ only in case are one stored value: a
// changed spelling replaces the stored one, and nothing else goes with it.
TEST_F(RegistrySyncStoreTest, AMaskWhoseCaseChangedReplacesTheStoredOne) {
    MakeStateKey();
    RegistrySyncStore store(kDevice);
    ASSERT_EQ(store.AddMask("*.txt"), StoreResult::Ok);
    ASSERT_EQ(store.AddMask("keep*"), StoreResult::Ok);
    EXPECT_EQ(::filesync::SaveMasks(store, {"*.txt", "keep*"}, {"keep*", "*.TXT"}), StoreResult::Ok);
    std::vector<std::string> masks;
    ASSERT_EQ(store.ReadMasks(masks), StoreResult::Ok);
    std::sort(masks.begin(), masks.end());
    EXPECT_EQ(masks, (std::vector<std::string>{"*.TXT", "keep*"}));
    // Two spellings in one list are one mask: the later one is stored.
    EXPECT_EQ(::filesync::SaveMasks(store, {"*.TXT", "keep*"}, {"*.TXT", "keep*", "*.Txt"}), StoreResult::Ok);
    masks.clear();
    ASSERT_EQ(store.ReadMasks(masks), StoreResult::Ok);
    std::sort(masks.begin(), masks.end());
    EXPECT_EQ(masks, (std::vector<std::string>{"*.Txt", "keep*"}));
}

TEST(LocalFileTimeTest, ConversionsRoundTripOnBothSidesOfTheYear) {
    // 15 January and 15 July 2024, noon UTC, with sub-millisecond ticks kept.
    for (const uint64_t utc : {133497936000001234ull, 133654320000005678ull}) {
        uint64_t local = 0, back = 0;
        ASSERT_TRUE(UtcToLocalFileTime(utc, local));
        ASSERT_TRUE(LocalToUtcFileTime(local, back));
        EXPECT_EQ(back, utc);
        // The offset is that of the date's own rules.
        FILETIME utcTime = ToFileTime(utc);
        SYSTEMTIME utcSystem = {}, localSystem = {};
        FileTimeToSystemTime(&utcTime, &utcSystem);
        SystemTimeToTzSpecificLocalTime(nullptr, &utcSystem, &localSystem);
        FILETIME expected = {};
        SystemTimeToFileTime(&localSystem, &expected);
        EXPECT_EQ(local / 10000, FromFileTime(expected) / 10000);
    }
}

TEST(WinPcListerTest, ListsEntriesWithFullSizes) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "zvsyncfiles_lister";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    HANDLE file = CreateFileA((folder + "\\big").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000010ll; // a sparse end beyond 32 bits
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    WinPcLister lister;
    std::vector<::filesync::PcFolderEntry> entries;
    ASSERT_TRUE(lister.List(folder, entries));
    bool sawBig = false, sawSub = false;
    for (const auto& entry : entries) {
        if (entry.name == "big") {
            sawBig = true;
            EXPECT_EQ(entry.size, 0x100000010ull);
        }
        sawSub = sawSub || (entry.name == "sub" && entry.isFolder);
    }
    EXPECT_TRUE(sawBig);
    EXPECT_TRUE(sawSub);
    DeleteFileA((folder + "\\big").c_str());
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_FALSE(lister.List(folder, entries));
}

} // namespace
