// The registry store of the stored state, the folder data of a first session, and the local-time
// conversions of PC file times.
#include "AnsiText.h"
#include "FileItemEnumerator.h"
#include "HubSyncEngine.h"
#include "ImportPatch.h"
#include "LocalFileTime.h"
#include "RegistrySyncStore.h"
#include "WinPcLister.h"
#include "testing/UndeletableKey.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>

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

// The names of the state key's subkeys in the registry's enumeration order.
std::vector<std::string> EnumeratedSubkeys(const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

void SetNumber(const std::string& path, const char* name, DWORD value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), name, REG_DWORD, &value, sizeof(value));
}

// Enough items for several readers: each item comes back in the registry's enumeration order
// with its own values, other subkeys are passed over, and a damaged item in the middle keeps
// exactly the items enumerated before it.
TEST_F(RegistrySyncStoreTest, ManyItemsComeBackInEnumerationOrderAndADamagedOneKeepsThoseBeforeIt) {
    MakeStateKey();
    RegistrySyncStore store(kDevice);
    std::vector<FileEntry> written;
    for (int i = 0; i < 1500; ++i)
        written.push_back(FileEntry{"Main\\d" + std::to_string(i % 7) + "\\f\xe9" + std::to_string(i),
                                    0x01D9000000000000ull + 977u * i, 0, 3u * i});
    ASSERT_EQ(store.WriteItems(written), StoreResult::Ok);
    for (const char* other : {"Aside", "Zz"}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (StateKeyPath(kDevice) + "\\" + other).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::vector<FileEntry> expected;
    for (const std::string& name : EnumeratedSubkeys(StateKeyPath(kDevice))) {
        if (name.rfind("Item", 0) == 0)
            expected.push_back(written[std::stoul(name.substr(4))]);
    }
    ASSERT_EQ(expected.size(), written.size());
    const auto same = [](const std::vector<FileEntry>& a, const std::vector<FileEntry>& b, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (a[i].name != b[i].name || a[i].time != b[i].time || a[i].size != b[i].size) {
                ADD_FAILURE() << "item " << i << ": " << a[i].name << " against " << b[i].name;
                return;
            }
        }
    };
    std::vector<FileEntry> items;
    ASSERT_EQ(store.ReadItems(items), StoreResult::Ok);
    ASSERT_EQ(items.size(), expected.size());
    same(items, expected, items.size());

    const std::vector<std::string> order = EnumeratedSubkeys(StateKeyPath(kDevice));
    size_t damagedAt = 0;
    for (size_t position = 0, index = 0; index < order.size(); ++index) {
        if (order[index].rfind("Item", 0) != 0)
            continue;
        if (position++ == 900) {
            damagedAt = 900;
            HKEY item = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (StateKeyPath(kDevice) + "\\" + order[index]).c_str(), 0,
                                    KEY_ALL_ACCESS, &item),
                      ERROR_SUCCESS);
            RegDeleteValueA(item, "TimeLow");
            RegCloseKey(item);
            break;
        }
    }
    ASSERT_EQ(damagedAt, 900u);
    items.clear();
    EXPECT_EQ(store.ReadItems(items), StoreResult::Failed);
    ASSERT_EQ(items.size(), damagedAt);
    same(items, expected, items.size());
}

// Once the state key changed, an item key whose last-write time is the one a reading saw a while
// ago is taken from the memo; a key written since is read again, and so is a key that was still
// new at the reading (one written again within the same tick of the registry's clock would keep
// its time).
TEST_F(RegistrySyncStoreTest, OnlyItemKeysWrittenSinceTheLastReadingAreReadAgain) {
    MakeStateKey();
    ASSERT_EQ(RegistrySyncStore(kDevice).WriteItems({{"Main\\a", 5, 0, 1}, {"Main\\b", 6, 0, 2}, {"Main\\c", 7, 0, 3}}),
              StoreResult::Ok);
    StoredItemsMemo memo;
    std::vector<FileEntry> items;
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Ok);
    EXPECT_TRUE(memo.keys.empty()); // all just written
    Sleep(1200);
    items.clear();
    SetNumber(StateKeyPath(kDevice), "dwAttribute", 0);
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Ok);
    ASSERT_EQ(memo.keys.size(), 3u);
    // What the memo knows of each key is marked, so that a reuse shows.
    for (StoredItemKey& key : memo.keys)
        key.item.time = 99;
    SetNumber(StateKeyPath(kDevice) + "\\Item1", "Size", 77);
    SetNumber(StateKeyPath(kDevice), "dwAttribute", 1); // a changed value: the same one leaves no trace
    items.clear();
    ASSERT_EQ(RegistrySyncStore(kDevice, &memo).ReadItems(items), StoreResult::Ok);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].time, 99u);
    EXPECT_EQ(items[1].name, "Main\\b");
    EXPECT_EQ(items[1].time, 6u);
    EXPECT_EQ(items[1].size, 77u);
    EXPECT_EQ(items[2].time, 99u);
    ASSERT_EQ(memo.keys.size(), 2u); // Item1 is new again
    EXPECT_EQ(memo.keys[1].name, L"Item2");

    // Another device's memo is never consulted by its key names.
    StoredItemsMemo other = memo;
    other.deviceId = "@Other";
    other.valid = false;
    items.clear();
    ASSERT_EQ(RegistrySyncStore(kDevice, &other).ReadItems(items), StoreResult::Ok);
    EXPECT_EQ(items[0].time, 5u);
}

// Opens of item keys, through either face of the call, counted on the way to the real one.
std::atomic<int> itemOpens{0};
template <class Char> using OpenKeyCall = LONG(WINAPI*)(HKEY, const Char*, DWORD, REGSAM, PHKEY);
template <class Char> OpenKeyCall<Char> RealOpen() {
    const char* name = sizeof(Char) == 1 ? "RegOpenKeyExA" : "RegOpenKeyExW";
    return reinterpret_cast<OpenKeyCall<Char>>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), name)));
}
template <class Char> LONG WINAPI CountingOpen(HKEY key, const Char* name, DWORD options, REGSAM access, PHKEY result) {
    static const OpenKeyCall<Char> real = RealOpen<Char>();
    const Char item[] = {'I', 't', 'e', 'm', 0};
    if (name && std::basic_string_view<Char>(name).find(item) != std::basic_string_view<Char>::npos)
        ++itemOpens;
    return real(key, name, options, access, result);
}

// The engine of a synchronizer that serves two devices in turn keeps what it read of each: going
// back to the first device reads none of its item keys again.
TEST_F(RegistrySyncStoreTest, AnEngineRemembersTheStoredItemsOfEveryDeviceItServes) {
    const std::string second = "@StoreT3";
    for (const std::string& device : {std::string(kDevice), second}) {
        const std::string state = StateKeyPath(device);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (state + "\\Masks").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        RegSetKeyValueA(HKEY_CURRENT_USER, state.c_str(), "SyncFolder", REG_SZ, "C:\\nowhere", 11);
        SetNumber(state, "dwAttribute", 0);
        std::vector<FileEntry> written;
        for (int i = 0; i < 20; ++i)
            written.push_back(FileEntry{device + "\\f" + std::to_string(i), 1u + i, 0, 2u + i});
        ASSERT_EQ(RegistrySyncStore(device).WriteItems(written), StoreResult::Ok);
    }
    tv::test::ImportPatch openW(GetModuleHandleW(nullptr), "advapi32.dll", "RegOpenKeyExW",
                                reinterpret_cast<void*>(&CountingOpen<wchar_t>));
    tv::test::ImportPatch openA(GetModuleHandleW(nullptr), "advapi32.dll", "RegOpenKeyExA",
                                reinterpret_cast<void*>(&CountingOpen<char>));
    ASSERT_TRUE(openW.Applied() || openA.Applied());
    FileSyncEngine15 engine([](UINT) { return std::string("x"); });
    const auto load = [&](const std::string& device) {
        itemOpens = 0;
        EXPECT_EQ(engine.LoadSyncDatabase(device), S_OK);
        return itemOpens.load();
    };
    EXPECT_EQ(load(kDevice), 20);
    EXPECT_EQ(load(second), 20);
    EXPECT_EQ(load(kDevice), 0);
    EXPECT_EQ(load(second), 0);
    EXPECT_EQ(engine.Core().StoredEntries().size(), 20u);
    RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + second).c_str());
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

// Conversions by the time zone in force, each of which fetches that zone again.
std::atomic<int> zoneFetches{0};
BOOL WINAPI CountingToLocal(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, SYSTEMTIME* local) {
    using Call = BOOL(WINAPI*)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);
    static const Call real = reinterpret_cast<Call>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SystemTimeToTzSpecificLocalTime")));
    if (!zone)
        ++zoneFetches;
    return real(zone, utc, local);
}

// A folder's listing gives every file's local time by the rules of its date, with the time zone
// fetched once for the whole scan rather than once a file.
TEST(WinPcListerTest, TimesAreLocalByOneFetchOfTheTimeZone) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "zvsyncfiles_lister_times";
    CreateDirectoryA(folder.c_str(), nullptr);
    // Winter and summer dates, so that a daylight-saving zone shifts them differently.
    const uint64_t times[] = {133497936000001234ull, 133654320000005678ull, 133600000000000000ull};
    for (size_t i = 0; i < std::size(times); ++i) {
        HANDLE file = CreateFileA((folder + "\\f" + std::to_string(i)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const FILETIME time = ToFileTime(times[i]);
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
    std::vector<::filesync::PcFolderEntry> entries;
    {
        tv::test::ImportPatch counting(GetModuleHandleW(nullptr), "kernel32.dll", "SystemTimeToTzSpecificLocalTime",
                                       reinterpret_cast<void*>(&CountingToLocal));
        ASSERT_TRUE(counting.Applied());
        WinPcLister lister;
        zoneFetches = 0;
        ASSERT_TRUE(lister.List(folder, entries));
        EXPECT_EQ(zoneFetches.load(), 0);
    }
    ASSERT_EQ(entries.size(), std::size(times));
    for (const auto& entry : entries) {
        uint64_t local = 0;
        ASSERT_TRUE(UtcToLocalFileTime(times[std::stoul(entry.name.substr(1))], local));
        EXPECT_EQ(entry.time, local) << entry.name;
        DeleteFileA((folder + "\\" + entry.name).c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

// A device listing longer than one batch of records comes whole and in order.
TEST(DeviceListingTest, EveryRecordIsReadInOrderAcrossBatches) {
    std::vector<tv::FileItemRecord> records;
    for (int i = 0; i < 150; ++i) {
        tv::FileItemRecord record;
        record.type = i == 7 ? 2 : 8;
        record.attr = i % 3 == 0 ? 8 : 0;
        record.nSize = 10 + i;
        record.nTimeLow = i;
        record.nTimeHigh = 0x01D9;
        record.strName = "Main\\f" + std::to_string(i);
        records.push_back(std::move(record));
    }
    tv::com::ComPtr<IZvEnumFileItems> items;
    ASSERT_EQ(tv::com::CreateComObject<tv::FileItemEnumerator>(__uuidof(IZvEnumFileItems),
                                                               reinterpret_cast<void**>(items.ReleaseAndGetAddressOf()),
                                                               records, size_t{0}),
              S_OK);
    std::vector<::filesync::DeviceListingEntry> listing;
    ReadDeviceListing(items.Get(), listing);
    ASSERT_EQ(listing.size(), records.size());
    for (size_t i = 0; i < listing.size(); ++i) {
        EXPECT_EQ(listing[i].name, records[i].strName);
        EXPECT_EQ(listing[i].type, static_cast<uint32_t>(records[i].type));
        EXPECT_EQ(listing[i].attr, static_cast<uint32_t>(records[i].attr));
        EXPECT_EQ(listing[i].size, static_cast<uint32_t>(records[i].nSize));
        EXPECT_EQ(listing[i].time, ::filesync::MakeTime(static_cast<uint32_t>(i), 0x01D9u));
    }
}

} // namespace
