// Backup and restore against a hub served in this test program over the folder-backed test
// devices: the entry classes, the set storage through the real package-archive component, and the
// device backuper's runs (round trip, crafted sets, cancel) as the wizard's worker makes them.
#include "AnsiText.h"
#include "BackupFileStream.h"
#include "BackupIds.h"
#include "BackupProgressSink.h"
#include "BackupTexts.h"
#include "CapArchive.h"
#include "DevEntryEnumerator.h"
#include "FileClass.h"
#include "ImportPatch.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "StagedFiles.h"
#include "UiHarness.h"
#include "ZvBackupMgr.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

using namespace tv;
using namespace tv::backup;

namespace {

const CLSID kBackuper = {0x836a58b4, 0x75b1, 0x4717, {0x81, 0x79, 0xe4, 0x5d, 0xc5, 0xc3, 0xfc, 0x79}};
constexpr HRESULT kSetNotWritten = static_cast<HRESULT>(0x800700CE);

FILETIME MakeTime(uint32_t secondsSince1970) {
    const uint64_t ticks = secondsSince1970 * 10000000ull + 116444736000000000ull;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The temporary folder, with its closing backslash.
std::string TempFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

// The manager's set storage, made as the backuper makes it.
com::ComPtr<IZvCAPProvider> SetStore() {
    com::ComPtr<IZvCAPProvider> store;
    CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvCAPProvider),
                     reinterpret_cast<void**>(&store));
    return store;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& data, uint32_t seconds) {
    { std::ofstream(path, std::ios::binary) << data; }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME time = MakeTime(seconds);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

uint64_t WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The files below `folder`, in every level.
size_t CountFiles(const std::string& folder) {
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0;
    do {
        const std::string name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ++count;
        else if (name != "." && name != "..")
            count += CountFiles(folder + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// The language library of the backup manager.
HMODULE BackupLanguage();
// Whether the folder's listing holds `name`.
bool Lists(const std::string& folder, const std::string& name);

// A progress sink that keeps what it was told.
class RecordingSink : public com::ComObject<RecordingSink, IZvBackupProgress> {
public:
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> guard(lock_);
        return errors_;
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    // The events that begin with `prefix`, without it.
    std::vector<std::string> EventsOf(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& event : Events())
            if (event.compare(0, prefix.size(), prefix) == 0)
                found.push_back(event.substr(prefix.size()));
        return found;
    }
    STDMETHODIMP OnNumItems(long n) override { return Add("items " + std::to_string(n)); }
    // Set once the first item's copy has begun.
    com::UniqueHandle itemStarted{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    STDMETHODIMP OnItemComplete() override { return S_OK; }
    // Called where the first item's copy begins, on the thread that reports it.
    std::function<void()> atFirstItem;
    STDMETHODIMP OnNewItem(long size) override {
        if (atFirstItem && WaitForSingleObject(itemStarted.Get(), 0) != WAIT_OBJECT_0)
            atFirstItem();
        Add("new " + std::to_string(size));
        SetEvent(itemStarted.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemProgress(long) override { return S_OK; }
    STDMETHODIMP OnOperComplete() override { return S_OK; }
    STDMETHODIMP OnStatus(BSTR text) override { return Add("status " + com::ToAnsi(text)); }
    STDMETHODIMP OnProcess(BSTR text) override { return Add("step " + com::ToAnsi(text)); }
    STDMETHODIMP OnError(BSTR text) override {
        std::lock_guard<std::mutex> guard(lock_);
        errors_.push_back(com::ToAnsi(text));
        events_.push_back("error " + errors_.back());
        ticks_.push_back(GetTickCount());
        return S_OK;
    }
    STDMETHODIMP OnExit() override { return Add("exit"); }
    STDMETHODIMP OnStart() override { return Add("start"); }
    // The tick count at the first `event`, 0 when none came.
    DWORD TickOf(const std::string& event) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = std::find(events_.begin(), events_.end(), event);
        return found == events_.end() ? 0 : ticks_[found - events_.begin()];
    }

private:
    HRESULT Add(std::string event) {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(std::move(event));
        ticks_.push_back(GetTickCount());
        return S_OK;
    }
    std::mutex lock_;
    std::vector<std::string> events_;
    std::vector<DWORD> ticks_;
    std::vector<std::string> errors_;
};

// A consumer that hands out given entries and keeps what it is given back.
class ListConsumer : public com::ComObject<ListConsumer, IZvCAPConsumer> {
public:
    EntryList given;
    std::map<std::string, std::pair<std::string, STATSTG>> received;

    STDMETHODIMP GetEntries(long, IZvEnumDevEntries** entries) override {
        return DevEntryEnumerator::Create(given, entries);
    }
    STDMETHODIMP PutEntries(IZvEnumDevEntries* entries) override {
        for (;;) {
            com::ComPtr<IStream> entry;
            ULONG fetched = 0;
            if (entries->Next(1, &entry, &fetched) != S_OK)
                break;
            STATSTG stat = {};
            entry->Stat(&stat, STATFLAG_DEFAULT);
            const std::string name = com::TerminatedToAnsi(stat.pwcsName);
            CoTaskMemFree(stat.pwcsName);
            stat.pwcsName = nullptr;
            std::vector<uint8_t> data;
            EXPECT_EQ(ReadWholeEntry(entry.Get(), static_cast<uint32_t>(stat.cbSize.QuadPart), data), S_OK);
            received[name] = {std::string(data.begin(), data.end()), stat};
        }
        return S_OK;
    }
};

void WriteFile(const std::string& path, const std::string& data, uint32_t seconds);

// A memory-held entry; or, when `statedSize` differs from the data, an entry over a staged file
// that is shorter than the listing said (as when a device file shrank during the copy).
com::ComPtr<IStream> MemoryEntry(const std::string& name, const std::string& data, uint32_t seconds, uint32_t attr,
                                 uint32_t statedSize) {
    com::ComPtr<BackupFileStream> entry;
    EXPECT_EQ(BackupFileStream::Described(name, statedSize, MakeTime(seconds), attr, entry), S_OK);
    if (statedSize == data.size()) {
        entry->Write(data.data(), static_cast<ULONG>(data.size()), nullptr);
    } else {
        const std::string temp = TempFolder();
        const std::string path = temp + "tvbackupshort" + std::to_string(GetCurrentProcessId());
        WriteFile(path, data, seconds);
        EXPECT_EQ(entry->OpenFile(path), S_OK);
    }
    com::ComPtr<IStream> stream;
    entry->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
    return stream;
}

// An entry of a foreign consumer that claims more bytes than it delivers.
class ShortEntry : public com::ComObject<ShortEntry, IStream> {
  public:
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        const ULONG n = std::min<ULONG>(cb, 3 - delivered_);
        std::memset(pv, 'a', n);
        delivered_ += n;
        if (pcbRead)
            *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_FAIL; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        std::memset(stat, 0, sizeof(*stat));
        stat->pwcsName = static_cast<wchar_t*>(CoTaskMemAlloc(sizeof(L"short.txt")));
        std::memcpy(stat->pwcsName, L"short.txt", sizeof(L"short.txt"));
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = 10;
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  private:
    ULONG delivered_ = 0;
};

TEST(BackupEntryTest, StreamsAnswerTheContract) {
    com::ComPtr<BackupFileStream> entry;
    ASSERT_EQ(BackupFileStream::Described("Docs\\a.txt", 0, MakeTime(1000), 0x21, entry), S_OK);
    EXPECT_EQ(entry->Write("hello", 5, nullptr), S_OK);
    EXPECT_EQ(entry->Write("abc", 3, nullptr), S_OK); // replaces, does not append
    STATSTG stat = {};
    ASSERT_EQ(entry->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    EXPECT_EQ(stat.grfStateBits, 0x21u);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.grfLocksSupported, static_cast<DWORD>(LOCK_WRITE));
    ASSERT_EQ(entry->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_STREQ(stat.pwcsName, L"Docs\\a.txt");
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(entry->Stat(nullptr, 0), E_POINTER);
    char buffer[8] = {};
    ULONG read = 0;
    EXPECT_EQ(entry->Read(buffer, 8, &read), S_FALSE);
    EXPECT_EQ(std::string(buffer, read), "abc");
    EXPECT_EQ(entry->Read(nullptr, 1, &read), E_POINTER);
    LARGE_INTEGER zero = {};
    EXPECT_EQ(entry->Seek(zero, 0, nullptr), E_NOTIMPL);
    com::ComPtr<IStream> clone;
    ASSERT_EQ(entry->Clone(&clone), S_OK);
    EXPECT_EQ(static_cast<IStream*>(entry.Get()), clone.Get());

    // An entry over a file refuses Write and deletes its file with the last reference.
    const std::string temp = TempFolder();
    const std::string path = temp + "tvbackupentry.tmp";
    WriteFile(path, "file data", 0);
    com::ComPtr<BackupFileStream> fileEntry;
    ASSERT_EQ(BackupFileStream::Described("f.bin", 9, MakeTime(5), 0, fileEntry), S_OK);
    EXPECT_EQ(fileEntry->OpenFile(path + ".missing"), E_FAIL);
    ASSERT_EQ(fileEntry->OpenFile(path), S_OK);
    EXPECT_EQ(fileEntry->Write("x", 1, nullptr), E_FAIL);
    std::vector<uint8_t> data;
    EXPECT_EQ(ReadWholeEntry(fileEntry.Get(), 9, data), S_OK);
    EXPECT_EQ(std::string(data.begin(), data.end()), "file data");
    fileEntry.Reset();
    EXPECT_FALSE(Exists(path));
}

TEST(BackupEntryTest, EnumeratorsWalkTheirOwnList) {
    EntryList list = {MemoryEntry("a", "1", 0, 0, 1), MemoryEntry("b", "2", 0, 0, 1), MemoryEntry("c", "3", 0, 0, 1)};
    com::ComPtr<IZvEnumDevEntries> entries;
    ASSERT_EQ(DevEntryEnumerator::Create(std::move(list), &entries), S_OK);
    IStream* got[3] = {};
    EXPECT_EQ(entries->Next(2, got, nullptr), E_POINTER);
    ULONG fetched = 0;
    ASSERT_EQ(entries->Next(1, got, nullptr), S_OK);
    got[0]->Release();
    com::ComPtr<IZvEnumDevEntries> clone;
    ASSERT_EQ(entries->Clone(&clone), S_OK);
    EXPECT_EQ(entries->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(clone->Skip(5), S_FALSE);
    EXPECT_EQ(clone->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Skip(3), S_OK);
}

class BackupDeviceTest : public testing::Test {
protected:
    com::ComApartment apartment_;
    void SetUp() override {
        const std::string temp = TempFolder();
        root_ = temp + "tvbackuptest" + std::to_string(GetCurrentProcessId());
        for (const char* folder : {"", "\\devices", "\\devices\\Dev1", "\\devices\\Dev1\\Docs", "\\devices\\Dev1\\Music",
                                   "\\devices\\Dev1\\Apps", "\\devices\\Alpha",
                                   "\\devices\\Alpha\\Docs", "\\devices\\Bravo", "\\devices\\Bravo\\Docs", "\\sets"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }
    void TearDown() override {
        served_.Stop();
        test::DeleteTree(com::FromAnsi(root_));
        RegDeleteTreeA(HKEY_CURRENT_USER, kDeviceSettings);
    }

    std::string Device(const std::string& path) const { return root_ + "\\devices\\Dev1\\" + path; }
    std::string SetFile(const std::string& name) const { return root_ + "\\sets\\" + name + ".zbk"; }

    // Runs the backuper on a thread of its own while this thread serves the hub; `during` runs on
    // a third thread meanwhile (it gets the run's cancel event, null when none was asked for).
    HRESULT RunBackuper(bool backup, const std::string& setFile, long flags, IZvBackupProgress* sink,
                        std::function<void(HANDLE)> during = nullptr, const std::string& deviceId = "@TDDev1",
                        bool askForCancelEvent = true) {
        HRESULT result = E_UNEXPECTED;
        HANDLE cancel = nullptr;
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        auto body = [&] {
            // The backuper as the wizard's worker gets it: from the manager, for the device.
            com::ComApartment apartment;
            com::ComPtr<IZvBackupMgr> manager;
            com::ComPtr<IZvBackuper> backuper;
            com::UniqueBstr forDevice = com::AnsiToUniqueBstr(deviceId);
            result = CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(IZvBackupMgr), reinterpret_cast<void**>(&manager));
            if (SUCCEEDED(result))
                result = manager->GetCompatibleBackuper(forDevice.Get(), &backuper);
            if (result != S_OK || !backuper) {
                result = FAILED(result) ? result : E_FAIL;
                SetEvent(ready);
                return;
            }
            com::ComPtr<IZvBackupNotify> notify;
            backuper->QueryInterface(__uuidof(IZvBackupNotify), reinterpret_cast<void**>(&notify));
            notify->Advise(sink);
            LONG_PTR handle = 0;
            if (askForCancelEvent)
                notify->GetEvent(&handle);
            cancel = reinterpret_cast<HANDLE>(handle);
            SetEvent(ready);
            com::UniqueBstr device = com::AnsiToUniqueBstr(deviceId);
            com::UniqueBstr file = com::AnsiToUniqueBstr(setFile);
            result = backuper->Run(backup ? 1 : 0, device.Get(), file.Get(), flags);
            notify->UnAdvise();
        };
        std::function<void()> job = body;
        com::UniqueHandle worker(CreateThread(
            nullptr, 0, [](void* f) -> DWORD { (*static_cast<std::function<void()>*>(f))(); return 0; }, &job, 0,
            nullptr));
        // Finding the backuper asks the hub, which this thread serves meanwhile.
        EXPECT_TRUE(test::PumpUntilThreadEnds(ready, 20000));
        std::thread acting;
        if (during)
            acting = std::thread(during, cancel);
        EXPECT_TRUE(test::PumpUntilThreadEnds(worker.Get(), 120000));
        if (acting.joinable())
            acting.join();
        CloseHandle(ready);
        return result;
    }

    // The device's model as the test device factory reports it; the hub learns it when it
    // finds the device, so the hub is started anew.
    void SetModel(DWORD model) {
        served_.Stop();
        RegSetKeyValueA(HKEY_CURRENT_USER, kDeviceSettings, "ModelVersion", REG_DWORD, &model, sizeof(model));
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }

    // A set of the device made by the manager's store from memory-held entries (name, data).
    void StoreSet(const std::string& setFile, const std::vector<std::pair<std::string, std::string>>& files) {
        com::ComPtr<ListConsumer> consumer;
        com::MakeComObject(consumer);
        for (const auto& [name, data] : files)
            consumer->given.push_back(
                MemoryEntry(name, data, 1200000000, 0, static_cast<uint32_t>(data.size())));
        const com::ComPtr<IZvCAPProvider> store = SetStore();
        ASSERT_TRUE(store);
        com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
        com::UniqueBstr file = com::AnsiToUniqueBstr(setFile);
        ASSERT_EQ(store->BackupMe(consumer.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    }

    static constexpr char kDeviceSettings[] = "Software\\Zelvan\\Tavrilon\\TestDevice\\Devices\\Dev1";

    std::string root_;
    test::ServedHub served_;
};

TEST(BackupEntryTest, EntriesLetTheirDataGoOnceRead) {
    // An entry over data held elsewhere asks its source once, straight into a whole read's buffer,
    // and lets the source go.
    auto held = std::make_shared<std::string>("item data");
    int asked = 0;
    auto sourceOf = [&](std::shared_ptr<std::string> data) {
        return [&asked, data](uint8_t* out) {
            ++asked;
            std::memcpy(out, data->data(), data->size());
            return S_OK;
        };
    };
    com::ComPtr<BackupFileStream> whole, pieces;
    ASSERT_EQ(BackupFileStream::Described("a.bin", 9, MakeTime(5), 0, whole), S_OK);
    ASSERT_EQ(BackupFileStream::Described("b.bin", 9, MakeTime(5), 0, pieces), S_OK);
    whole->TakeSource(sourceOf(held));
    pieces->TakeSource(sourceOf(held));
    EXPECT_EQ(held.use_count(), 3);
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadWholeEntry(whole.Get(), 9, data), S_OK);
    EXPECT_EQ(std::string(data.begin(), data.end()), "item data");
    char buffer[16] = {};
    ULONG read = 0;
    EXPECT_EQ(pieces->Read(buffer, 4, &read), S_OK);
    EXPECT_EQ(std::string(buffer, read), "item");
    EXPECT_EQ(pieces->Read(buffer, 16, &read), S_FALSE);
    EXPECT_EQ(std::string(buffer, read), " data");
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(held.use_count(), 1);
    com::ComPtr<BackupFileStream> failing;
    ASSERT_EQ(BackupFileStream::Described("c.bin", 9, MakeTime(5), 0, failing), S_OK);
    failing->TakeSource([](uint8_t*) { return E_OUTOFMEMORY; });
    EXPECT_EQ(ReadWholeEntry(failing.Get(), 9, data), E_OUTOFMEMORY);

    // Entries over staged files with a remover: one read to its end loses its file while it
    // lives; the remover takes the unread one's when the last entry goes.
    const std::string temp = TempFolder() + "tvbackupremoved" + std::to_string(GetCurrentProcessId());
    const std::string readOne = temp + "a.tmp", unread = temp + "b.tmp";
    WriteFile(readOne, "file data", 0);
    WriteFile(unread, "more", 0);
    {
        auto remover = std::make_shared<StagedFileRemover>(std::vector<std::string>{readOne, unread});
        com::ComPtr<BackupFileStream> first, second;
        ASSERT_EQ(BackupFileStream::Described("a.tmp", 9, MakeTime(5), 0, first), S_OK);
        ASSERT_EQ(BackupFileStream::Described("b.tmp", 4, MakeTime(5), 0, second), S_OK);
        ASSERT_EQ(first->OpenFile(readOne, remover), S_OK);
        ASSERT_EQ(second->OpenFile(unread, remover), S_OK);
        remover.reset();
        ASSERT_EQ(ReadWholeEntry(first.Get(), 9, data), S_OK);
        EXPECT_EQ(std::string(data.begin(), data.end()), "file data");
        EXPECT_EQ(first->Read(buffer, 1, &read), S_FALSE);
        EXPECT_EQ(read, 0u);
        EXPECT_TRUE(test::PollUntil([&] { return !Exists(readOne); }, 5000)); // on the remover's thread
        EXPECT_TRUE(Exists(unread));
    }
    EXPECT_FALSE(Exists(unread));
}

TEST(BackupEntryTest, StagedFilesAreWrittenWithTheirTimesAndARefusalIsNamed) {
    const std::string temp = TempFolder() + "tvbackupwriter" + std::to_string(GetCurrentProcessId());
    const std::string written = temp + "a.tmp", refused = temp + "missing\\b.tmp";
    {
        StagedFileWriter writer;
        EXPECT_TRUE(writer.Write({written, {'o', 'k'}, MakeTime(1200000000)}));
        EXPECT_EQ(writer.Finish(), "");
    }
    EXPECT_EQ(ReadFile(written), "ok");
    EXPECT_EQ(WriteTime(written), 1200000000ull * 10000000 + 116444736000000000ull);
    DeleteFileA(written.c_str());
    StagedFileWriter writer;
    writer.Write({refused, {'n', 'o'}, MakeTime(5)});
    EXPECT_EQ(writer.Finish(), refused);
    EXPECT_FALSE(writer.Write({written, {'x'}, MakeTime(5)}));
    EXPECT_FALSE(Exists(written));
}

TEST_F(BackupDeviceTest, RestoreGivesBackTheFilesBytesAndTimesOfTheBackup) {
    WriteFile(Device("Docs\\a.txt"), "alpha text", 1200000000);
    CreateDirectoryA(Device("Music\\Albums").c_str(), nullptr);
    WriteFile(Device("Music\\Albums\\song.mp3"), std::string(70000, 'm'), 1300000000);
    WriteFile(Device("Apps\\game.app"), "app code", 1400000000);
    WriteFile(Device("empty.txt"), "", 1500000000);
    WriteFile(Device("zvkernel.dl"), "library", 1500000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("full"), kFileClasses, sink.Get()), S_OK) << testing::PrintToString(sink->Errors());
    EXPECT_TRUE(sink->Errors().empty());
    ASSERT_TRUE(Exists(SetFile("full")));
    EXPECT_EQ(sink->Events().front(), "start");
    EXPECT_EQ(sink->Events().back(), "exit");

    // Change and delete files and a folder (the top folders are the device's volumes); the
    // restore brings back what the set holds.
    WriteFile(Device("Docs\\a.txt"), "changed", 1600000000);
    DeleteFileA(Device("Music\\Albums\\song.mp3").c_str());
    RemoveDirectoryA(Device("Music\\Albums").c_str());
    DeleteFileA(Device("empty.txt").c_str());
    DeleteFileA(Device("zvkernel.dl").c_str());
    com::ComPtr<RecordingSink> restoreSink;
    com::MakeComObject(restoreSink);
    ASSERT_EQ(RunBackuper(false, SetFile("full"), kFileClasses, restoreSink.Get()), S_OK)
        << testing::PrintToString(restoreSink->Errors());
    EXPECT_EQ(ReadFile(Device("Docs\\a.txt")), "alpha text");
    EXPECT_EQ(ReadFile(Device("Music\\Albums\\song.mp3")), std::string(70000, 'm'));
    EXPECT_EQ(ReadFile(Device("Apps\\game.app")), "app code");
    EXPECT_TRUE(Exists(Device("empty.txt")));
    EXPECT_EQ(ReadFile(Device("empty.txt")), "");
    EXPECT_EQ(WriteTime(Device("Docs\\a.txt")), 1200000000ull * 10000000 + 116444736000000000ull);
    EXPECT_EQ(WriteTime(Device("Music\\Albums\\song.mp3")), 1300000000ull * 10000000 + 116444736000000000ull);
    // The device's own libraries are never written back.
    EXPECT_FALSE(Exists(Device("zvkernel.dl")));
    // No staged copy outlives its run (they go beside the runs' other work).
    EXPECT_EQ(CountFiles(TempFolder() + "@TDDev1"), 0u);
}

TEST_F(BackupDeviceTest, TheFlagWordSelectsWhatIsBackedUpAndRestored) {
    WriteFile(Device("Docs\\a.txt"), "alpha", 1200000000);
    WriteFile(Device("Music\\song.mp3"), "tune", 1300000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("music"), kMusic, sink.Get()), S_OK);
    com::ComPtr<ICapArchive> archive;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    com::UniqueBstr path = com::AnsiToUniqueBstr(SetFile("music"));
    com::UniqueBstr song = com::AnsiToUniqueBstr("Music\\song.mp3");
    com::UniqueBstr doc = com::AnsiToUniqueBstr("Docs\\a.txt");
    com::UniqueBstr mark = com::AnsiToUniqueBstr("@TDDev1");
    EXPECT_EQ(archive->Has(path.Get(), song.Get(), 2), S_OK);
    EXPECT_EQ(archive->Has(path.Get(), doc.Get(), 2), S_FALSE);
    EXPECT_EQ(archive->Has(path.Get(), mark.Get(), 2), S_OK);

    // Nothing selected: an error and E_FAIL, no set.
    com::ComPtr<RecordingSink> none;
    com::MakeComObject(none);
    EXPECT_EQ(RunBackuper(true, SetFile("none"), kApplications, none.Get()), E_FAIL);
    EXPECT_FALSE(Exists(SetFile("none")));
    EXPECT_FALSE(none->Errors().empty());
}

TEST_F(BackupDeviceTest, ACraftedSetWritesNothingOutsideTheDeviceAndStagingFolders) {
    com::ComPtr<ICapArchive> archive;
    com::ComPtr<ICapPackage> package;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_CapPackage, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapPackage),
                               reinterpret_cast<void**>(&package)),
              S_OK);
    const std::string escape = "..\\..\\tvbackupescape" + std::to_string(GetCurrentProcessId()) + ".txt";
    // Names that would leave the folders, and names of devices (a serial port, the console).
    for (const std::string& name :
         {escape, std::string("C:\\tvbackupdrive.txt"), std::string("\\tvbackupabs.txt"),
          std::string("Docs\\..\\..\\up.txt"), std::string("COM9"), std::string("Docs\\aux.txt"),
          std::string("Docs\\nul.log.txt"), std::string("Docs\\ok.txt"), std::string("@TDDev1")}) {
        com::ComPtr<ICapFileItem> item;
        ASSERT_EQ(CoCreateInstance(CLSID_CapFileItem, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapFileItem),
                                   reinterpret_cast<void**>(&item)),
                  S_OK);
        com::UniqueBstr bstr = com::AnsiToUniqueBstr(name);
        item->put_Name(bstr.Get());
        if (name != "@TDDev1") {
            BYTE data[] = "evil";
            item->SetData(4, data);
        }
        package->Add(item.Get());
    }
    package->put_Option(1);
    com::UniqueBstr path = com::AnsiToUniqueBstr(SetFile("crafted"));
    ASSERT_EQ(archive->Save(path.Get(), package.Get()), S_OK);

    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    EXPECT_EQ(RunBackuper(false, SetFile("crafted"), kFileClasses, sink.Get()), S_OK);
    EXPECT_EQ(ReadFile(Device("Docs\\ok.txt")), "evil");
    const std::vector<std::string> errors = sink->Errors();
    ASSERT_EQ(errors.size(), 7u) << testing::PrintToString(errors);
    for (const char* name : {"COM9", "Docs\\aux.txt", "Docs\\nul.log.txt"}) {
        const std::string refused = FormatText(BackupLanguage(), IDS_BACKUP_NOT_RESTORED, name);
        EXPECT_NE(std::find(errors.begin(), errors.end(), refused), errors.end()) << name;
    }
    // (A device name is there for the PC whatever the folder: only the folder's listing can tell.)
    for (const char* name : {"aux.txt", "nul.log.txt"})
        EXPECT_FALSE(Lists(Device("Docs"), name)) << name;
    EXPECT_FALSE(Lists(root_ + "\\devices\\Dev1", "COM9"));
    const std::string temp = TempFolder();
    const std::string escaped = "tvbackupescape" + std::to_string(GetCurrentProcessId()) + ".txt";
    for (const std::string& place : {temp + escaped, root_ + "\\devices\\" + escaped, root_ + "\\" + escaped,
                                     std::string("C:\\tvbackupdrive.txt"), std::string("C:\\tvbackupabs.txt"),
                                     root_ + "\\devices\\up.txt", root_ + "\\up.txt", temp + "up.txt"})
        EXPECT_FALSE(Exists(place)) << place;
}

TEST_F(BackupDeviceTest, ASetOfAnotherDeviceIsRestoredOnlyWhenTheUserAgrees) {
    // Device ids of the device's own length, "@" and seven characters.
    WriteFile(root_ + "\\devices\\Alpha\\Docs\\a.txt", "from alpha", 1200000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("alpha"), kFileClasses, sink.Get(), nullptr, "@TDAlpha"), S_OK);
    const std::string target = root_ + "\\devices\\Bravo\\Docs\\a.txt";
    // Answers the question with `answer`; whether it was asked.
    auto answering = [](int answer, bool& asked) {
        return [answer, &asked](HANDLE) {
            HWND box = test::WaitForWindow(L"#32770", L"Tavrilon", 20000);
            asked = box != nullptr;
            if (box)
                test::ClickButton(box, answer);
        };
    };
    bool asked = false;
    com::ComPtr<RecordingSink> refused;
    com::MakeComObject(refused);
    EXPECT_EQ(RunBackuper(false, SetFile("alpha"), kFileClasses, refused.Get(), answering(IDNO, asked), "@TDBravo"),
              S_FALSE);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(refused->Errors().empty()) << testing::PrintToString(refused->Errors());

    asked = false;
    com::ComPtr<RecordingSink> accepted;
    com::MakeComObject(accepted);
    EXPECT_EQ(RunBackuper(false, SetFile("alpha"), kFileClasses, accepted.Get(), answering(IDYES, asked), "@TDBravo"),
              S_OK)
        << testing::PrintToString(accepted->Errors());
    EXPECT_TRUE(asked);
    EXPECT_EQ(ReadFile(target), "from alpha");
    // The other device's own mark is not written onto this one.
    EXPECT_FALSE(Exists(root_ + "\\devices\\Bravo\\@TDAlpha"));
}

TEST_F(BackupDeviceTest, CancelDuringTheCopyLeavesNoSet) {
    for (int i = 0; i < 6; ++i)
        WriteFile(Device("Docs\\f" + std::to_string(i) + ".txt"), "data", 1200000000);
    std::string command = "delay 400";
    long length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(served_.Hub()->Command(const_cast<LPSTR>("@TDDev1"), command.data(), &length, &reply), S_OK);
    CoTaskMemFree(reply);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    // Cancelled once the copy of the first file (each step of it delayed) is under way.
    bool started = false;
    const HRESULT hr = RunBackuper(true, SetFile("cancelled"), kFileClasses, sink.Get(), [&](HANDLE cancel) {
        started = WaitForSingleObject(sink->itemStarted.Get(), 30000) == WAIT_OBJECT_0;
        SetEvent(cancel);
    });
    EXPECT_TRUE(started);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_FALSE(Exists(SetFile("cancelled")));
    EXPECT_TRUE(sink->Errors().empty()) << testing::PrintToString(sink->Errors());
}

// Creates a file on the Linux side, where names may hold what a PC file name cannot, and waits
// until the device's folder lists it.
std::string UnixPath(const std::string& windowsPath);
// Runs a shell command line on the Linux side without waiting for it.
bool StartUnixCommand(const std::string& command) {
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Lists(const std::string& folder, const std::string& name) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    bool seen = false;
    if (find != INVALID_HANDLE_VALUE) {
        do
            seen = seen || name == found.cFileName;
        while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return seen;
}

bool MakeUnixFile(const std::string& folder, const std::string& name, const std::string& text) {
    return StartUnixCommand("printf '" + text + "' > '" + UnixPath(folder) + "/" + name + "'") &&
           test::PollUntil([&] { return Lists(folder, name); }, 20000);
}

// Removes such a file again (the PC's own calls cannot name it).
bool RemoveUnixFile(const std::string& folder, const std::string& name) {
    return StartUnixCommand("rm -f '" + UnixPath(folder) + "/" + name + "'") &&
           test::PollUntil([&] { return !Lists(folder, name); }, 20000);
}

HMODULE BackupLanguage() {
    static HMODULE language = [] {
        com::ComPtr<IUnknown> manager;
        CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                         reinterpret_cast<void**>(&manager));
        return LoadLanguageLibrary(GetModuleHandleA("ZvBackupMgr.dll"));
    }();
    return language;
}

std::string SharedLog() {
    const std::string temp = TempFolder();
    return ReadFile(temp + "Zelvan\\Tavrilon.log");
}

TEST_F(BackupDeviceTest, FilesWhoseNamesCannotBeStagedAreLeftOutWithAWarningAndLogged) {
    WriteFile(Device("Docs\\fine.txt"), "fine", 1200000000);
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::vector<std::string> odd = {"note" + tag + ".", "aux.txt", "what" + tag + "?.txt"};
    // The PC's own calls cannot remove these files: they go the way they came, whatever happens.
    struct OddFiles {
        std::string folder;
        const std::vector<std::string>& names;
        ~OddFiles() {
            for (const std::string& name : names)
                EXPECT_TRUE(RemoveUnixFile(folder, name)) << name;
        }
    } cleanup{Device("Docs"), odd};
    for (const std::string& name : odd)
        ASSERT_TRUE(MakeUnixFile(Device("Docs"), name, "odd")) << name;
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("odd"), kFileClasses, sink.Get()), S_OK)
        << testing::PrintToString(sink->Errors());

    com::ComPtr<ICapArchive> archive;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    com::UniqueBstr path = com::AnsiToUniqueBstr(SetFile("odd"));
    com::UniqueBstr fine = com::AnsiToUniqueBstr("Docs\\fine.txt");
    EXPECT_EQ(archive->Has(path.Get(), fine.Get(), 2), S_OK);
    for (const std::string& name : odd) {
        com::UniqueBstr left = com::AnsiToUniqueBstr("Docs\\" + name);
        EXPECT_EQ(archive->Has(path.Get(), left.Get(), 2), S_FALSE) << name;
    }
    // The run does not claim a whole backup: it says how many files were left out, and the log
    // names each of them.
    const std::vector<std::string> statuses = sink->EventsOf("status ");
    const std::string made = LoadLanguageString(BackupLanguage(), IDS_BACKUP_SUCCEEDED);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), made), 0) << testing::PrintToString(statuses);
    const std::string warning = FormatText(BackupLanguage(), IDS_BACKUP_LEFT_OUT, 3L);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), warning), statuses.end())
        << testing::PrintToString(statuses);
    const std::string log = SharedLog();
    for (const std::string& name : odd)
        EXPECT_NE(log.find("Docs\\" + name), std::string::npos) << name;
}

// The progress page's own sink over a page made from the language library; it notes the bar's
// position after every finished item together with the step then shown.
class BarSink : public com::ComObject<BarSink, IZvBackupProgress> {
  public:
    BarSink() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                         ICC_WIN95_CLASSES | ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        host_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        page_ = CreateDialogParamA(
            BackupLanguage(), MAKEINTRESOURCEA(IDD_BACKUP_PROGRESS), host_,
            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        com::MakeComObject(inner_, page_, BackupLanguage());
    }
    ~BarSink() override { DestroyWindow(host_); }
    bool Made() const { return page_ && inner_; }
    // (step text, bar position) after each finished item.
    std::vector<std::pair<std::string, int>> Positions() {
        std::lock_guard<std::mutex> guard(lock_);
        return positions_;
    }

    STDMETHODIMP OnNumItems(long n) override { return inner_->OnNumItems(n); }
    STDMETHODIMP OnItemComplete() override {
        inner_->OnItemComplete();
        const int position = static_cast<int>(SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_GETPOS, 0, 0));
        std::lock_guard<std::mutex> guard(lock_);
        positions_.emplace_back(step_, position);
        return S_OK;
    }
    STDMETHODIMP OnNewItem(long size) override { return inner_->OnNewItem(size); }
    STDMETHODIMP OnItemProgress(long progress) override { return inner_->OnItemProgress(progress); }
    STDMETHODIMP OnOperComplete() override { return inner_->OnOperComplete(); }
    STDMETHODIMP OnStatus(BSTR text) override { return inner_->OnStatus(text); }
    STDMETHODIMP OnProcess(BSTR text) override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            step_ = com::ToAnsi(text);
        }
        return inner_->OnProcess(text);
    }
    STDMETHODIMP OnError(BSTR text) override { return inner_->OnError(text); }
    STDMETHODIMP OnExit() override { return inner_->OnExit(); }
    STDMETHODIMP OnStart() override { return inner_->OnStart(); }

  private:
    HWND host_ = nullptr;
    HWND page_ = nullptr;
    com::ComPtr<BackupProgressSink> inner_;
    std::mutex lock_;
    std::string step_;
    std::vector<std::pair<std::string, int>> positions_;
};

TEST_F(BackupDeviceTest, ARestoreThatRemovesLibrariesCountsTheDeletedFilesOnTheBar) {
    WriteFile(Device("Docs\\a.txt"), "alpha", 1200000000);
    WriteFile(Device("zvkernel.dl"), "kernel", 1200000000);
    WriteFile(Device("Apps\\zvgraph.dl"), "graph", 1200000000);
    WriteFile(Device("Docs\\zvsound.dl"), "sound", 1200000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("docs"), kOtherFiles, sink.Get()), S_OK);

    com::ComPtr<BarSink> bar;
    com::MakeComObject(bar);
    ASSERT_TRUE(bar->Made());
    ASSERT_EQ(RunBackuper(false, SetFile("docs"), kFileClasses | kRemoveLibraries, bar.Get()), S_OK);
    EXPECT_FALSE(Exists(Device("zvkernel.dl")));
    EXPECT_FALSE(Exists(Device("Apps\\zvgraph.dl")));
    EXPECT_FALSE(Exists(Device("Docs\\zvsound.dl")));
    EXPECT_EQ(ReadFile(Device("Docs\\a.txt")), "alpha");
    // While the libraries are deleted the bar counts files: a third of it per library.
    std::vector<int> counted;
    for (const auto& [step, position] : bar->Positions())
        if (step.find("being deleted") != std::string::npos)
            counted.push_back(position);
    EXPECT_EQ(counted, (std::vector<int>{3333, 6666, 10000})) << testing::PrintToString(bar->Positions());
}

// The last step, status or error the run showed before it ended.
std::string LastShown(RecordingSink& sink) {
    std::string last;
    for (const std::string& event : sink.Events())
        for (const char* kind : {"step ", "status ", "error "})
            if (event.rfind(kind, 0) == 0)
                last = event;
    return last;
}

TEST_F(BackupDeviceTest, ALibraryThatCannotBeDeletedFailsTheRestoreWhichStillPutsTheSetBack) {
    WriteFile(Device("Docs\\a.txt"), "alpha", 1200000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("docs"), kOtherFiles, sink.Get()), S_OK);
    WriteFile(Device("Docs\\a.txt"), "changed", 1300000000);
    WriteFile(Device("zvkernel.dl"), "kernel", 1200000000);
    WriteFile(Device("Apps\\zvgraph.dl"), "graph", 1200000000);
    const std::string done = "step " + LoadLanguageString(BackupLanguage(), IDS_RESTORE_DONE);
    const std::string restored =
        "status " + LoadLanguageString(BackupLanguage(), IDS_BACKUP_RESTORE_SUCCEEDED);
    {
        // Held open without delete sharing, the kernel library cannot be deleted.
        com::UniqueFileHandle held(CreateFileA(Device("zvkernel.dl").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        com::ComPtr<RecordingSink> failed;
        com::MakeComObject(failed);
        EXPECT_TRUE(
            FAILED(RunBackuper(false, SetFile("docs"), kFileClasses | kRemoveLibraries, failed.Get())));
        // The restore went on: the other library went and the set's file came back.
        EXPECT_FALSE(Exists(Device("Apps\\zvgraph.dl")));
        EXPECT_EQ(ReadFile(Device("Docs\\a.txt")), "alpha");
        // It ends on the library's failure: no success, no closing step.
        const std::vector<std::string> events = failed->Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), restored), 0) << testing::PrintToString(events);
        EXPECT_EQ(std::count(events.begin(), events.end(), done), 0) << testing::PrintToString(events);
        const std::string last = LastShown(*failed.Get());
        EXPECT_EQ(last.rfind("error ", 0), 0u) << testing::PrintToString(events);
        EXPECT_NE(last.find("zvkernel.dl"), std::string::npos) << last;
    }

    // A device without libraries has nothing to remove: no error, the restore succeeds.
    ASSERT_TRUE(DeleteFileA(Device("zvkernel.dl").c_str()));
    WriteFile(Device("Docs\\a.txt"), "changed", 1300000000);
    com::ComPtr<RecordingSink> none;
    com::MakeComObject(none);
    EXPECT_EQ(RunBackuper(false, SetFile("docs"), kFileClasses | kRemoveLibraries, none.Get()), S_OK);
    EXPECT_TRUE(none->Errors().empty()) << testing::PrintToString(none->Errors());
    EXPECT_EQ(ReadFile(Device("Docs\\a.txt")), "alpha");
    EXPECT_EQ(LastShown(*none.Get()), done) << testing::PrintToString(none->Events());
}

TEST_F(BackupDeviceTest, ARestoreCreatesFoldersBelowTheVolumeOnModel21DevicesOnly) {
    for (const char* volume : {"Main", "Card"})
        CreateDirectoryA(Device(volume).c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(StoreSet(
        SetFile("nested"),
        {{"Main\\Docs\\Sub\\a.txt", "deep"}, {"Main\\b.txt", "flat"}, {"Card\\Pics\\c.txt", "pic"}}));
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(false, SetFile("nested"), kFileClasses, sink.Get()), S_OK)
        << testing::PrintToString(sink->Errors());
    EXPECT_EQ(ReadFile(Device("Main\\Docs\\Sub\\a.txt")), "deep");
    EXPECT_EQ(ReadFile(Device("Main\\b.txt")), "flat");
    EXPECT_EQ(ReadFile(Device("Card\\Pics\\c.txt")), "pic");
    // The volumes themselves are never asked for; the folders below them and the markers' folders are.
    const std::vector<std::string> created = served_.Hub()->CreatedFolders();
    EXPECT_EQ(created, (std::vector<std::string>{"@TDDev1\\Main\\Docs", "@TDDev1\\Main\\Docs\\Sub",
                                                 "@TDDev1\\Card\\Pics", "@TDDev1\\Main\\System",
                                                 "@TDDev1\\Card\\System"}));

    // A model-16 device creates no folders.
    SetModel(16);
    for (const char* file : {"Main\\Docs\\Sub\\a.txt", "Main\\b.txt", "Card\\Pics\\c.txt"})
        DeleteFileA(Device(file).c_str());
    com::ComPtr<RecordingSink> again;
    com::MakeComObject(again);
    ASSERT_EQ(RunBackuper(false, SetFile("nested"), kFileClasses, again.Get()), S_OK)
        << testing::PrintToString(again->Errors());
    EXPECT_EQ(ReadFile(Device("Main\\Docs\\Sub\\a.txt")), "deep");
    EXPECT_TRUE(served_.Hub()->CreatedFolders().empty())
        << testing::PrintToString(served_.Hub()->CreatedFolders());
}

TEST_F(BackupDeviceTest, AModel16RestoreWithABootFileEndsWithTheBootCommand) {
    SetModel(16);
    WriteFile(Device("Docs\\a.txt"), "alpha", 1200000000);
    WriteFile(Device("Docs\\start.boot"), "boot image", 1200000000);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("boot"), kFileClasses, sink.Get()), S_OK);
    const std::vector<std::string> before = served_.Hub()->Commands();
    EXPECT_TRUE(std::none_of(before.begin(), before.end(),
                             [](const std::string& c) { return c.rfind("boot ", 0) == 0; }));
    DeleteFileA(Device("Docs\\start.boot").c_str());
    ASSERT_EQ(RunBackuper(false, SetFile("boot"), kFileClasses, sink.Get()), S_OK);
    EXPECT_EQ(ReadFile(Device("Docs\\start.boot")), "boot image");
    const std::vector<std::string> commands = served_.Hub()->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "boot start.boot"), 1)
        << testing::PrintToString(commands);
}

TEST_F(BackupDeviceTest, OnlyModels16And21AreCompatible) {
    com::ComPtr<IZvBackuper> backuper;
    ASSERT_EQ(CoCreateInstance(kBackuper, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackuper),
                               reinterpret_cast<void**>(&backuper)),
              S_OK);
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    EXPECT_EQ(backuper->isCompatible(device.Get()), S_OK);
    SetModel(16);
    EXPECT_EQ(backuper->isCompatible(device.Get()), S_OK);
    SetModel(17);
    EXPECT_EQ(backuper->isCompatible(device.Get()), S_FALSE);
    SetModel(20);
    EXPECT_EQ(backuper->isCompatible(device.Get()), S_FALSE);
    com::UniqueBstr unknown = com::AnsiToUniqueBstr("@TDNoSuch");
    EXPECT_TRUE(FAILED(backuper->isCompatible(unknown.Get())));
}

TEST_F(BackupDeviceTest, ASetOfTwentyThousandLongPathsIsSavedLoadedAndRestored) {
    // Twenty thousand 60-character paths, every 200th a song: the restore reads the whole set
    // and writes the songs back (the music class alone keeps the device copies few).
    CreateDirectoryA(Device("Main").c_str(), nullptr);
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 20000; ++i) {
        char name[80];
        std::snprintf(name, sizeof(name), "Main\\Folder%03d\\a file with a long name, the number %05d.%s",
                      i / 200, i, i % 200 == 199 ? "mp3" : "txt");
        files.emplace_back(name, std::to_string(i));
        ASSERT_EQ(files.back().first.size(), 60u);
    }
    ASSERT_NO_FATAL_FAILURE(StoreSet(SetFile("many"), files));
    com::ComPtr<ICapArchive> archive;
    ASSERT_EQ(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                               reinterpret_cast<void**>(&archive)),
              S_OK);
    com::UniqueBstr path = com::AnsiToUniqueBstr(SetFile("many"));
    com::ComPtr<ICapDirectory> directory;
    ASSERT_EQ(archive->Dir(path.Get(), &directory), S_OK);
    long count = 0;
    directory->get_Count(&count);
    EXPECT_EQ(count, 20001); // and the device's mark

    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(false, SetFile("many"), kMusic, sink.Get()), S_OK)
        << testing::PrintToString(sink->Errors());
    int songs = 0;
    for (int folder = 0; folder < 100; ++folder) {
        char pattern[40];
        std::snprintf(pattern, sizeof(pattern), "Main\\Folder%03d\\*", folder);
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(Device(pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do
            songs += data.cFileName[0] != '.';
        while (FindNextFileA(find, &data));
        FindClose(find);
    }
    EXPECT_EQ(songs, 100);
    for (int i : {199, 9999, 19999})
        EXPECT_EQ(ReadFile(Device(files[i].first)), files[i].second) << files[i].first;
}

TEST_F(BackupDeviceTest, ARestoreCopiesTheFirstFilesToTheDeviceWhileTheRestAreStaged) {
    // 200 files of 64 KiB and more, each of its own size.
    constexpr int kFiles = 200;
    CreateDirectoryA(Device("Main").c_str(), nullptr);
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < kFiles; ++i)
        files.emplace_back("Main\\f" + std::to_string(i) + ".bin",
                           std::string(65536 + i, static_cast<char>('a' + i % 26)));
    ASSERT_NO_FATAL_FAILURE(StoreSet(SetFile("staged"), files));
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    // The staged files there when the device takes the first one.
    size_t stagedAtFirst = 0;
    sink->atFirstItem = [&] { stagedAtFirst = CountFiles(TempFolder() + "@TDDev1"); };
    ASSERT_EQ(RunBackuper(false, SetFile("staged"), kFileClasses, sink.Get()), S_OK)
        << testing::PrintToString(sink->Errors());
    EXPECT_GT(stagedAtFirst, 0u);
    EXPECT_LT(stagedAtFirst, static_cast<size_t>(kFiles));
    // The device takes the files in the set's order, each once, and the bar's total is told once.
    std::vector<std::string> expected;
    for (const auto& [name, data] : files)
        expected.push_back(std::to_string(data.size()));
    std::vector<std::string> started = sink->EventsOf("new ");
    started.resize(std::min(started.size(), expected.size())); // the markers follow
    EXPECT_EQ(started, expected);
    EXPECT_EQ(sink->EventsOf("items ").front(), std::to_string(kFiles * 65536 + kFiles * (kFiles - 1) / 2));
    for (int i : {0, 99, 199})
        EXPECT_EQ(ReadFile(Device(files[i].first)), files[i].second) << files[i].first;
    EXPECT_EQ(CountFiles(TempFolder() + "@TDDev1"), 0u);

    // A file that cannot be staged once the copy is under way stops the copy before it: the run
    // fails naming it, and no staged file is left.
    for (const auto& [name, data] : files)
        DeleteFileA(Device(name).c_str());
    const std::string blocked = TempFolder() + "@TDDev1\\" + files[150].first;
    ASSERT_TRUE(CreateDirectoryA(blocked.c_str(), nullptr));
    com::ComPtr<RecordingSink> failed;
    com::MakeComObject(failed);
    EXPECT_EQ(RunBackuper(false, SetFile("staged"), kFileClasses, failed.Get()), E_FAIL);
    RemoveDirectoryA(blocked.c_str());
    const std::vector<std::string> errors = failed->Errors();
    EXPECT_NE(std::find(errors.begin(), errors.end(),
                        FormatText(BackupLanguage(), IDS_BACKUP_NOT_RESTORED, blocked.c_str())),
              errors.end())
        << testing::PrintToString(errors);
    for (int i : {150, 151, 199})
        EXPECT_FALSE(Exists(Device(files[i].first))) << files[i].first;
    EXPECT_EQ(CountFiles(TempFolder() + "@TDDev1"), 0u);
}

TEST_F(BackupDeviceTest, TotalsOverTwoGibibytesKeepTheirShareOnTheBar) {
    // Two files of 1.5 GiB (sparse on the folder device): the total does not fit a long.
    CreateDirectoryA(Device("Big").c_str(), nullptr);
    for (const char* name : {"Big\\a.bin", "Big\\b.bin"}) {
        com::UniqueFileHandle file(
            CreateFileA(Device(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = 1536ll << 20;
        ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
    }
    std::string command = "delay 400";
    long length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(served_.Hub()->Command(const_cast<LPSTR>("@TDDev1"), command.data(), &length, &reply), S_OK);
    CoTaskMemFree(reply);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    // Cancelled while the first file's copy waits: nothing of the 3 GiB is copied.
    const HRESULT hr = RunBackuper(true, SetFile("big"), kFileClasses, sink.Get(), [&](HANDLE cancel) {
        WaitForSingleObject(sink->itemStarted.Get(), 30000);
        SetEvent(cancel);
    });
    EXPECT_EQ(hr, S_FALSE);
    const std::vector<std::string> totals = sink->EventsOf("items ");
    const std::vector<std::string> items = sink->EventsOf("new ");
    ASSERT_EQ(totals.size(), 1u);
    ASSERT_FALSE(items.empty());
    // Both figures are scaled alike: the first file is half of the total.
    EXPECT_EQ(2 * std::stoll(items.front()), std::stoll(totals.front()))
        << "total " << totals.front() << ", first file " << items.front();
    EXPECT_LE(std::stoll(totals.front()), 0x7FFFFFFFll);
}

// A wait as the system documents it: an array that names one handle twice is refused
// (ERROR_INVALID_PARAMETER), as Windows may refuse it and Wine does not.
DWORD WINAPI StrictMsgWait(DWORD count, const HANDLE* handles, DWORD timeout, DWORD wake, DWORD flags) {
    for (DWORD i = 0; i < count; ++i)
        for (DWORD j = i + 1; j < count; ++j)
            if (handles[i] == handles[j]) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return WAIT_FAILED;
            }
    return MsgWaitForMultipleObjectsEx(count, handles, timeout, wake, flags);
}

TEST_F(BackupDeviceTest, ATransferIsAwaitedWithoutACancelEvent) {
    // The backuper's module stays loaded for the case, its waits held to the documented rule.
    com::ComPtr<IUnknown> loaded;
    ASSERT_EQ(CoCreateInstance(kBackuper, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&loaded)),
              S_OK);
    test::ImportPatch strictWaits(GetModuleHandleA("Zelvan1Backuper.dll"), "user32.dll",
                                  "MsgWaitForMultipleObjectsEx", reinterpret_cast<void*>(&StrictMsgWait));
    ASSERT_TRUE(strictWaits.Applied());
    for (int i = 0; i < 3; ++i)
        WriteFile(Device("Docs\\f" + std::to_string(i) + ".txt"), "data " + std::to_string(i), 1200000000);
    std::string command = "delay 200";
    long length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(served_.Hub()->Command(const_cast<LPSTR>("@TDDev1"), command.data(), &length, &reply), S_OK);
    CoTaskMemFree(reply);
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    ASSERT_EQ(RunBackuper(true, SetFile("nocancel"), kFileClasses, sink.Get(), nullptr, "@TDDev1", false),
              S_OK)
        << testing::PrintToString(sink->Errors());
    com::ComPtr<ListConsumer> restored;
    com::MakeComObject(restored);
    const com::ComPtr<IZvCAPProvider> store = SetStore();
    ASSERT_TRUE(store);
    com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
    com::UniqueBstr file = com::AnsiToUniqueBstr(SetFile("nocancel"));
    ASSERT_EQ(store->RestoreMe(restored.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    EXPECT_EQ(restored->received["Docs\\f2.txt"].first, "data 2");
}

// Exports the device's files through the hub into `target`; the time taken in ms.
class ExportListener : public com::ComObject<ExportListener, IZvFileOperationCallback> {
public:
    com::UniqueHandle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
};

// The Linux side's path of a Windows path (Wine's own export), empty when there is none.
std::string UnixPath(const std::string& windowsPath) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const std::wstring wide = com::FromAnsi(windowsPath);
    char* unix = toUnix ? toUnix(wide.c_str()) : nullptr;
    if (!unix)
        return {};
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

// Runs a shell command on the Linux side and gives its time in ms, or -1. Wine starts a native
// program but hands out no handle that ends with it, so the shell measures the command itself
// and leaves the figure in `folder`, where it appears (renamed into place) once the command ended.
double UnixCommandMs(const std::string& command, const std::string& folder) {
    const std::string unixFolder = UnixPath(folder);
    if (unixFolder.empty())
        return -1;
    const std::string figure = folder + "\\tvbench-time", unixFigure = unixFolder + "/tvbench-time";
    DeleteFileA(figure.c_str());
    std::string line = "/bin/sh -c \"b=$(date +%s%N); " + command + " && e=$(date +%s%N) && echo $(( (e - b) / 1000 )) > '" +
                       unixFigure + ".part' && mv '" + unixFigure + ".part' '" + unixFigure + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!test::PollUntil([&] { return Exists(figure); }, 120000))
        return -1;
    const std::string text = ReadFile(figure);
    DeleteFileA(figure.c_str());
    return text.empty() ? -1 : std::stod(text) / 1000.0;
}

// The process's working set now and at its highest so far, in bytes.
void WorkingSet(uint64_t& now, uint64_t& peak) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    now = counters.WorkingSetSize;
    peak = counters.PeakWorkingSetSize;
}

// The benchmark (ctest entry backup_benchmark, never part of backup_test): the backuper's backup
// and restore of 16 MiB in 200 files against the hub's plain export of the same files, the set's
// writing against tar and gzip -1 of the same folder, and the backup's peak memory.
TEST_F(BackupDeviceTest, DISABLED_BenchmarkBackupAndRestoreAgainstAPlainExport) {
    constexpr int kFiles = 200;
    const std::string block(16 * 1024 * 1024 / kFiles, 'x');
    CreateDirectoryA(Device("Bench").c_str(), nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        std::string data = block;
        for (size_t j = 0; j < data.size(); j += 97)
            data[j] = static_cast<char>('a' + (i * 31 + j) % 26); // not all alike
        names.push_back("Bench\\f" + std::to_string(i) + ".bin");
        WriteFile(Device(names.back()), data, 1200000000);
    }
    const std::string exportFolder = root_ + "\\export";
    CreateDirectoryA(exportFolder.c_str(), nullptr);
    std::vector<std::string> sources, targets;
    for (const std::string& name : names) {
        sources.push_back("@TDDev1\\" + name);
        targets.push_back(exportFolder + "\\" + name.substr(6));
    }
    // The manager lives from the program's start: its first creation (finding the backupers) is
    // no part of a backup.
    com::ComPtr<IZvBackupMgr> manager;
    ASSERT_EQ(CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackupMgr),
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    // Copies the files through the hub, from `from` to `to`; the time taken in ms.
    auto hubCopy = [&](std::vector<std::string>& from, std::vector<std::string>& to) -> DWORD {
        std::vector<LPSTR> fromList, toList;
        for (size_t i = 0; i < from.size(); ++i) {
            fromList.push_back(from[i].data());
            toList.push_back(to[i].data());
        }
        com::ComPtr<ExportListener> listener;
        com::MakeComObject(listener);
        const DWORD start = GetTickCount();
        EXPECT_EQ(served_.Hub()->CopyFileItems(static_cast<long>(fromList.size()), MAX_PATH, fromList.data(),
                                               toList.data(), listener.Get()),
                  S_OK);
        // Served like the backuper's runs: the hub's calls into this thread are answered as they
        // come (a poll that sleeps between its looks would make the copy wait on each one).
        EXPECT_TRUE(test::PumpUntilThreadEnds(listener->done.Get(), 120000));
        return GetTickCount() - start + 1;
    };
    // The hub's import of the same files is the copy a restore makes: shown for reading its figure.
    std::vector<std::string> importTargets;
    for (const std::string& name : names)
        importTargets.push_back("@TDDev1\\Imported\\" + name.substr(6));

    // Five rounds, each timing the export, the import, a backup and a restore one after the other;
    // a round's ratios set its backup and restore against its own export, and the median round
    // counts. The machine may be busy with other work: a quickest time of each kind could pair a
    // quiet export with a busy backup, while neighbours in one round share the machine's state.
    // The export that counts goes into an empty folder, as a backup's copy from the device goes
    // into its emptied staging folder: on the PC a new file costs more to make than an old one to
    // overwrite. The export over the files it left is timed too and shown beside it.
    constexpr int kRounds = 5;
    struct Round {
        DWORD exportMs, overwriteMs, importMs, overImportMs, backupMs, restoreMs, restoreCopyMs, stagingMs,
            removalMs;
    };
    // The restore's own file work on the PC, alone: the set's files staged by its writers, then
    // removed by its remover; the time of each in ms.
    const std::string floorFolder = root_ + "\\floor";
    CreateDirectoryA(floorFolder.c_str(), nullptr);
    auto stageAndRemove = [&](DWORD& stagingMs, DWORD& removalMs) {
        std::vector<std::string> paths;
        DWORD start = GetTickCount();
        {
            StagedFileWriter writer;
            for (size_t i = 0; i < names.size(); ++i) {
                paths.push_back(floorFolder + "\\" + names[i].substr(6));
                EXPECT_TRUE(writer.Write(
                    {paths.back(), std::vector<uint8_t>(block.begin(), block.end()), MakeTime(1200000000)}));
            }
            EXPECT_EQ(writer.Finish(), "");
        }
        stagingMs = GetTickCount() - start + 1;
        start = GetTickCount();
        {
            StagedFileRemover remover(paths);
            for (const std::string& path : paths)
                remover.Remove(path);
        }
        removalMs = GetTickCount() - start + 1;
        EXPECT_FALSE(Exists(paths.front()));
    };
    std::vector<Round> rounds;
    uint64_t before = 0, peakBefore = 0, after = 0, peak = 0;
    for (int round = 0; round < kRounds; ++round) {
        Round timed = {};
        test::DeleteTree(com::FromAnsi(exportFolder));
        CreateDirectoryA(exportFolder.c_str(), nullptr);
        timed.exportMs = hubCopy(sources, targets);
        timed.overwriteMs = hubCopy(sources, targets);
        CreateDirectoryA(Device("Imported").c_str(), nullptr);
        timed.importMs = hubCopy(targets, importTargets);
        // The restore's own copy: over the device's files.
        timed.overImportMs = hubCopy(targets, sources);
        test::DeleteTree(com::FromAnsi(Device("Imported")));
        com::ComPtr<RecordingSink> sink;
        com::MakeComObject(sink);
        if (round == 0)
            WorkingSet(before, peakBefore);
        const DWORD backupStart = GetTickCount();
        ASSERT_EQ(RunBackuper(true, SetFile("bench"), kFileClasses, sink.Get()), S_OK);
        timed.backupMs = GetTickCount() - backupStart;
        if (round == 0)
            WorkingSet(after, peak);
        com::ComPtr<RecordingSink> restoreSink;
        com::MakeComObject(restoreSink);
        const DWORD restoreStart = GetTickCount();
        ASSERT_EQ(RunBackuper(false, SetFile("bench"), kFileClasses, restoreSink.Get()), S_OK);
        timed.restoreMs = GetTickCount() - restoreStart;
        // Its copy to the device: from its step to the markers' step that follows it.
        timed.restoreCopyMs =
            restoreSink->TickOf("step " + LoadLanguageString(BackupLanguage(), IDS_BACKUP_WRITING_MARKERS)) -
            restoreSink->TickOf("step " + LoadLanguageString(BackupLanguage(), IDS_BACKUP_COPYING_TO));
        stageAndRemove(timed.stagingMs, timed.removalMs);
        rounds.push_back(timed);
    }
    // The median round by `ratio` of its times.
    auto median = [&](auto ratio) {
        std::vector<Round> sorted = rounds;
        std::sort(sorted.begin(), sorted.end(),
                  [&](const Round& a, const Round& b) { return ratio(a) < ratio(b); });
        return sorted[sorted.size() / 2];
    };
    auto backupRatio = [](const Round& r) { return static_cast<double>(r.backupMs) / r.exportMs; };
    auto restoreRatio = [](const Round& r) { return static_cast<double>(r.restoreMs) / r.exportMs; };
    const Round backupRound = median(backupRatio), restoreRound = median(restoreRatio);
    std::printf(
        "hub export of the files %lu ms into an empty folder, %lu ms over the same files, hub import of "
        "them %lu ms (the median backup round's)\n",
        static_cast<unsigned long>(backupRound.exportMs), static_cast<unsigned long>(backupRound.overwriteMs),
        static_cast<unsigned long>(backupRound.importMs));
    EXPECT_EQ(ReadFile(Device(names[7])).size(), block.size());
    // The ratios against the export over the same files, of the same rounds, for comparison.
    auto overwriteRatio = [](const Round& r, DWORD ms) { return static_cast<double>(ms) / r.overwriteMs; };
    std::printf(
        "benchmark backup_vs_export: backup %lu ms, export %lu ms, ratio %.2f (goal <= 2; median of %d "
        "rounds; %.2f against the export over the same files)\n",
        static_cast<unsigned long>(backupRound.backupMs), static_cast<unsigned long>(backupRound.exportMs),
        backupRatio(backupRound), kRounds, overwriteRatio(backupRound, backupRound.backupMs));
    // What bounds the restore from below: its copy to the device, with the set's files staged and
    // removed beside it, against the hub's plain import over the same device files, and the
    // staging's own file work timed alone.
    const double exportMs = restoreRound.exportMs;
    double lowest = restoreRatio(rounds.front()), highest = lowest;
    for (const Round& r : rounds) {
        lowest = std::min(lowest, restoreRatio(r));
        highest = std::max(highest, restoreRatio(r));
    }
    std::printf(
        "restore floor (median round): the copy to the device %lu ms = %.2f of the export with the set's "
        "files staged and removed beside it, where the hub's import over the same device files alone takes "
        "%.2f; staging the 200 files alone (the restore's writers) takes %.2f and removing them "
        "(its remover) %.2f, file work that Wine's one server process serves in turn with the copy's own; "
        "the restore's steps outside its copy (the set's reading, the listing, the markers, PC mode) take "
        "%.2f\n",
        static_cast<unsigned long>(restoreRound.restoreCopyMs), restoreRound.restoreCopyMs / exportMs,
        restoreRound.overImportMs / exportMs, restoreRound.stagingMs / exportMs, restoreRound.removalMs / exportMs,
        (static_cast<double>(restoreRound.restoreMs) - restoreRound.restoreCopyMs) / exportMs);
    std::printf(
        "benchmark restore_vs_export: restore %lu ms, export %lu ms, ratio %.2f (min %.2f, max %.2f, goal <= "
        "1.3; median of %d rounds; %.2f against the export over the same files; the floor is the copy to the "
        "device with the staging beside it, line above)\n",
        static_cast<unsigned long>(restoreRound.restoreMs), static_cast<unsigned long>(restoreRound.exportMs),
        restoreRatio(restoreRound), lowest, highest, kRounds,
        overwriteRatio(restoreRound, restoreRound.restoreMs));
    // The peak working set while backing up, above what the process held before: an upper bound
    // of what the backup needed (the set holds every byte of the device; 16 MiB here).
    constexpr double kMiB = 1024.0 * 1024.0;
    constexpr double kAllowanceMiB = 8;
    const double grewMiB = (peak > before ? peak - before : 0) / kMiB;
    const double largestMiB = block.size() / kMiB;
    std::printf("benchmark backup_peak_memory: %.1f MiB above the %.1f MiB before the backup, largest file "
                "%.2f MiB, ratio %.2f (goal <= 1: at most 2 x the largest file + %.0f MiB)\n",
                grewMiB, before / kMiB, largestMiB, grewMiB / (2 * largestMiB + kAllowanceMiB),
                kAllowanceMiB);

    // The set written from a staging folder of the same files, against tar and gzip -1 of that
    // folder on the Linux side (both read the files from the page cache).
    const std::string staging = root_ + "\\staging";
    CreateDirectoryA(staging.c_str(), nullptr);
    double tarMs = 1e9, setMs = 1e9;
    for (int round = 0; round < 3; ++round) {
        // Tar first in each round: the set's writing deletes the staged copies (entries over
        // staged files go with their last reference), so they are copied anew each round.
        for (const std::string& name : names)
            ASSERT_TRUE(CopyFileA(Device(name).c_str(), (staging + "\\" + name.substr(6)).c_str(), FALSE));
        const double tarRound =
            UnixCommandMs("tar -cf - -C '" + UnixPath(staging) + "' . | gzip -1 > /dev/null", root_);
        ASSERT_GT(tarRound, 0) << "tar and gzip did not run";
        tarMs = std::min(tarMs, tarRound);
        com::ComPtr<ListConsumer> staged;
        com::MakeComObject(staged);
        for (const std::string& name : names) {
            com::ComPtr<BackupFileStream> entry;
            ASSERT_EQ(BackupFileStream::Described(name, static_cast<uint32_t>(block.size()),
                                                  MakeTime(1200000000), 0, entry),
                      S_OK);
            ASSERT_EQ(entry->OpenFile(staging + "\\" + name.substr(6)), S_OK);
            staged->given.push_back(com::ComPtr<IStream>(entry.Get()));
        }
        const com::ComPtr<IZvCAPProvider> store = SetStore();
        ASSERT_TRUE(store);
        com::UniqueBstr device = com::AnsiToUniqueBstr("@TDDev1");
        com::UniqueBstr stagedSet = com::AnsiToUniqueBstr(SetFile("staged"));
        LARGE_INTEGER frequency, begin, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&begin);
        ASSERT_EQ(store->BackupMe(staged.Get(), device.Get(), stagedSet.Get(), kFileClasses), S_OK);
        QueryPerformanceCounter(&end);
        setMs = std::min(setMs, (end.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart);
    }
    std::printf("benchmark set_writing_vs_tar_gzip: set writing %.0f ms, tar | gzip -1 %.0f ms, ratio %.2f "
                "(goal <= 3)\n",
                setMs, tarMs, setMs / tarMs);
}

TEST(BackupSetStoreTest, SetsRoundTripAndShortEntriesFail) {
    com::ComApartment apartment;
    const com::ComPtr<IZvCAPProvider> provider = SetStore();
    ASSERT_TRUE(provider);
    const std::string temp = TempFolder();
    const std::string path = temp + "tvbackupstore" + std::to_string(GetCurrentProcessId()) + ".zbk";
    com::UniqueBstr file = com::AnsiToUniqueBstr(path);
    com::UniqueBstr device = com::AnsiToUniqueBstr("@ABCDEFG");
    com::UniqueBstr other = com::AnsiToUniqueBstr("@OTHER12");

    com::ComPtr<ListConsumer> consumer;
    com::MakeComObject(consumer);
    consumer->given = {MemoryEntry("Docs\\a.txt", "alpha", 3000000000u, 0x05, 5), MemoryEntry("empty.bin", "", 7, 0, 0),
                       MemoryEntry("Music\\s.mp3", "tune", 99, kProtectedAttribute, 4)};
    ASSERT_EQ(provider->BackupMe(consumer.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    EXPECT_EQ(provider->IsMyCAP(device.Get(), file.Get()), S_OK);
    EXPECT_EQ(provider->IsMyCAP(other.Get(), file.Get()), S_FALSE);

    com::ComPtr<ListConsumer> restored;
    com::MakeComObject(restored);
    ASSERT_EQ(provider->RestoreMe(restored.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    ASSERT_EQ(restored->received.size(), 3u);
    EXPECT_EQ(restored->received["Docs\\a.txt"].first, "alpha");
    const FILETIME time = restored->received["Docs\\a.txt"].second.mtime;
    // A time past 2038 comes back unchanged.
    EXPECT_EQ(time.dwLowDateTime, MakeTime(3000000000u).dwLowDateTime);
    EXPECT_EQ(time.dwHighDateTime, MakeTime(3000000000u).dwHighDateTime);
    EXPECT_EQ(restored->received["Docs\\a.txt"].second.grfStateBits, 0x05u);
    EXPECT_EQ(restored->received["empty.bin"].first, "");
    // The restore sees attribute word 0: a protected song is music again.
    EXPECT_EQ(restored->received["Music\\s.mp3"].first, "tune");

    com::ComPtr<ListConsumer> onlyMusic;
    com::MakeComObject(onlyMusic);
    ASSERT_EQ(provider->RestoreMe(onlyMusic.Get(), device.Get(), file.Get(), kMusic), S_OK);
    EXPECT_EQ(onlyMusic->received.size(), 1u);

    // An entry that delivers fewer bytes than it claims fails the set; nothing is written.
    DeleteFileA(path.c_str());
    com::ComPtr<ListConsumer> lying;
    com::MakeComObject(lying);
    com::ComPtr<ShortEntry> shortEntry;
    com::MakeComObject(shortEntry);
    lying->given = {com::ComPtr<IStream>(shortEntry.Get())};
    EXPECT_TRUE(FAILED(provider->BackupMe(lying.Get(), device.Get(), file.Get(), kFileClasses)));
    EXPECT_FALSE(Exists(path));

    // A set that cannot be saved is reported as a file name too long.
    com::UniqueBstr badPath = com::AnsiToUniqueBstr(temp + "no\\such\\folder\\x.zbk");
    com::ComPtr<ListConsumer> plain;
    com::MakeComObject(plain);
    plain->given = {MemoryEntry("a.txt", "a", 1, 0, 1)};
    EXPECT_EQ(provider->BackupMe(plain.Get(), device.Get(), badPath.Get(), kFileClasses), kSetNotWritten);
}

TEST(BackupSetStoreTest, AnEntryOverAStagedFileTakesTheStagedFilesSize) {
    com::ComApartment apartment;
    const com::ComPtr<IZvCAPProvider> provider = SetStore();
    ASSERT_TRUE(provider);
    const std::string temp = TempFolder();
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string staged = temp + "tvbackupgrown" + tag;
    const std::string set = temp + "tvbackupgrown" + tag + ".zbk";
    // The listing said 3 bytes; the file grew to 11 before it was copied.
    WriteFile(staged, "grown later", 1000);
    com::ComPtr<BackupFileStream> entry;
    ASSERT_EQ(BackupFileStream::Described("Docs\\grown.txt", 3, MakeTime(1000), 0, entry), S_OK);
    ASSERT_EQ(entry->OpenFile(staged), S_OK);
    STATSTG stat = {};
    ASSERT_EQ(entry->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 11u);

    com::ComPtr<ListConsumer> consumer;
    com::MakeComObject(consumer);
    consumer->given = {com::ComPtr<IStream>(entry.Get())};
    entry.Reset();
    com::UniqueBstr device = com::AnsiToUniqueBstr("@ABCDEFG");
    com::UniqueBstr file = com::AnsiToUniqueBstr(set);
    ASSERT_EQ(provider->BackupMe(consumer.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    consumer->given.clear();
    com::ComPtr<ListConsumer> restored;
    com::MakeComObject(restored);
    ASSERT_EQ(provider->RestoreMe(restored.Get(), device.Get(), file.Get(), kFileClasses), S_OK);
    EXPECT_EQ(restored->received["Docs\\grown.txt"].first, "grown later");
    DeleteFileA(set.c_str());
}

} // namespace
