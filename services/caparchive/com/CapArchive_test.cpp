// The package-archive component through COM: round trips of whole packages, the atomic save, the
// directory that reads no item data, and the item faces as scripts reach them.
#include "CapArchive.h"
#include "ComPtr.h"
#include "Handles.h"
#include "package_writer.h"
#include "result_codes.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using tv::com::ComPtr;

namespace {

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(value_); }
    operator BSTR() const { return value_; }

private:
    BSTR value_;
};

std::wstring Take(BSTR text) {
    std::wstring out(text ? text : L"", text ? SysStringLen(text) : 0);
    SysFreeString(text);
    return out;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    tv::com::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    bytes.resize(GetFileSize(file.Get(), nullptr));
    DWORD got = 0;
    ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    tv::com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD wrote = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
}

class CapArchiveTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_ICapArchive, reinterpret_cast<void**>(&archive_)));
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"captest" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\store.cap";
    }
    void TearDown() override {
        archive_ = nullptr;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((folder_ + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }

    int FilesInFolder() {
        int count = 0;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return 0;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++count;
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return count;
    }

    ComPtr<ICapPackage> NewPackage() {
        ComPtr<ICapPackage> package;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapPackage, nullptr, CLSCTX_INPROC_SERVER, IID_ICapPackage,
                                                  reinterpret_cast<void**>(&package)));
        return package;
    }

    ComPtr<ICapFileItem> NewItem(const std::wstring& name, long kind, long storedLong, long attributes,
                                 std::vector<uint8_t> data) {
        ComPtr<ICapFileItem> item;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapFileItem, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_ICapFileItem, reinterpret_cast<void**>(&item)));
        EXPECT_HRESULT_SUCCEEDED(item->put_Name(Bstr(name)));
        EXPECT_HRESULT_SUCCEEDED(item->put_Kind(kind));
        EXPECT_HRESULT_SUCCEEDED(item->put_StoredLong(storedLong));
        EXPECT_HRESULT_SUCCEEDED(item->put_Attributes(attributes));
        EXPECT_HRESULT_SUCCEEDED(item->SetData(static_cast<long>(data.size()), data.data()));
        return item;
    }

    ComPtr<ICapArchive> archive_;
    std::wstring folder_;
    std::wstring path_;
};

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> TextBytes(size_t size) {
    static const std::string words = "function OnConnect(device) { return device.Name + ' is here'; }\r\n";
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(words[i % words.size()]);
    return bytes;
}

struct ExpectedItem {
    std::wstring name;
    long kind;
    long storedLong;
    long attributes;
    std::vector<uint8_t> data;
};

TEST_F(CapArchiveTest, SavedPackageLoadsBackEveryItemInOrderWithHeader) {
    std::vector<ExpectedItem> expected = {
        {L"Scripts\\OnConnect", 3, 7, 0, TextBytes(20000)},
        {L"empty", 2, -1, 0x21, {}},
        {L"noise.bin", 2, 1234567890, 1, RandomBytes(70000, 3)},
        {L"Scripts\\OnConnect", 2, 0, 0, TextBytes(5)}, // same name, other kind
    };
    ComPtr<ICapPackage> package = NewPackage();
    ASSERT_HRESULT_SUCCEEDED(package->put_Option(1));
    for (const ExpectedItem& e : expected)
        ASSERT_HRESULT_SUCCEEDED(package->Add(NewItem(e.name, e.kind, e.storedLong, e.attributes, e.data).Get()));
    ComPtr<ICapHeader> header;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapHeader, nullptr, CLSCTX_INPROC_SERVER, IID_ICapHeader,
                                              reinterpret_cast<void**>(&header)));
    VARIANT date;
    VariantInit(&date);
    V_VT(&date) = VT_DATE;
    V_DATE(&date) = 45000.5;
    ASSERT_HRESULT_SUCCEEDED(header->put_Date(date));
    ASSERT_HRESULT_SUCCEEDED(header->put_Title(Bstr(L"Backup")));
    ASSERT_HRESULT_SUCCEEDED(header->put_Description(Bstr(L"All files")));
    ASSERT_HRESULT_SUCCEEDED(header->put_IconName(Bstr(L"root.ico")));
    ASSERT_HRESULT_SUCCEEDED(package->putref_Header(header.Get()));

    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), package.Get()));
    EXPECT_EQ(1, FilesInFolder()) << "no temporary file is left behind";

    ComPtr<ICapPackage> loaded;
    ASSERT_EQ(S_OK, archive_->Load(Bstr(path_), &loaded));
    long value = 0;
    ASSERT_HRESULT_SUCCEEDED(loaded->get_Option(&value));
    EXPECT_EQ(1, value);
    ASSERT_HRESULT_SUCCEEDED(loaded->get_Count(&value));
    ASSERT_EQ(static_cast<long>(expected.size()), value);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ComPtr<ICapItem> item;
        ASSERT_EQ(S_OK, loaded->get_Item(static_cast<long>(i), &item));
        BSTR name = nullptr;
        ASSERT_HRESULT_SUCCEEDED(item->get_Name(&name));
        EXPECT_EQ(expected[i].name, Take(name));
        item->get_Kind(&value);
        EXPECT_EQ(expected[i].kind, value);
        item->get_StoredLong(&value);
        EXPECT_EQ(expected[i].storedLong, value);
        item->get_Attributes(&value);
        EXPECT_EQ(expected[i].attributes, value);
        item->get_Size(&value);
        ASSERT_EQ(static_cast<long>(expected[i].data.size()), value);
        ComPtr<ICapFileItem> file;
        ASSERT_HRESULT_SUCCEEDED(item.As(&file));
        std::vector<uint8_t> data(expected[i].data.size() + 1);
        ASSERT_HRESULT_SUCCEEDED(file->GetData(static_cast<long>(data.size()), data.data()));
        data.pop_back();
        EXPECT_EQ(expected[i].data, data);
    }
    ComPtr<ICapItem> beyond;
    EXPECT_EQ(S_FALSE, loaded->get_Item(static_cast<long>(expected.size()), &beyond));
    EXPECT_FALSE(beyond);

    ComPtr<ICapHeader> loadedHeader;
    ASSERT_EQ(S_OK, loaded->get_Header(&loadedHeader));
    VARIANT got;
    VariantInit(&got);
    ASSERT_HRESULT_SUCCEEDED(loadedHeader->get_Date(&got));
    EXPECT_EQ(VT_DATE, V_VT(&got));
    EXPECT_EQ(45000.5, V_DATE(&got));
    BSTR text = nullptr;
    loadedHeader->get_Title(&text);
    EXPECT_EQ(L"Backup", Take(text));
    loadedHeader->get_Description(&text);
    EXPECT_EQ(L"All files", Take(text));
    loadedHeader->get_IconName(&text);
    EXPECT_EQ(L"root.ico", Take(text));
}

TEST_F(CapArchiveTest, FindHasAndDirAnswerByNameAndKind) {
    ComPtr<ICapPackage> package = NewPackage();
    package->Add(NewItem(L"a", 2, 0, 0, TextBytes(100)).Get());
    package->Add(NewItem(L"b", 3, 0, 0, TextBytes(200)).Get());
    ComPtr<ICapItem> found;
    EXPECT_EQ(S_OK, package->Find(Bstr(L"b"), 3, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(S_FALSE, package->Find(Bstr(L"b"), 2, &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(S_FALSE, package->Find(Bstr(L"B"), 3, &found)) << "names are case-sensitive";
    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), package.Get()));

    EXPECT_EQ(S_OK, archive_->Has(Bstr(path_), Bstr(L"a"), 2));
    EXPECT_EQ(S_FALSE, archive_->Has(Bstr(path_), Bstr(L"a"), 3));
    EXPECT_EQ(S_FALSE, archive_->Has(Bstr(folder_ + L"\\missing.cap"), Bstr(L"a"), 2));

    ComPtr<ICapDirectory> directory;
    ASSERT_EQ(S_OK, archive_->Dir(Bstr(path_), &directory));
    long value = 0;
    directory->get_Count(&value);
    ASSERT_EQ(2, value);
    directory->get_Kind(1, &value);
    EXPECT_EQ(3, value);
    BSTR name = nullptr;
    ASSERT_HRESULT_SUCCEEDED(directory->get_Name(0, &name));
    EXPECT_EQ(L"a", Take(name));
    EXPECT_EQ(E_INVALIDARG, directory->get_Kind(2, &value));
}

TEST_F(CapArchiveTest, HasAndDirReadNoItemDataWhileLoadChecksIt) {
    ComPtr<ICapPackage> package = NewPackage();
    package->Add(NewItem(L"text", 2, 0, 0, TextBytes(50000)).Get());
    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), package.Get()));
    // Spoil the end of the compressed body: only reading the item's data can notice.
    std::vector<uint8_t> bytes = ReadFileBytes(path_);
    ASSERT_GT(bytes.size(), 100u);
    for (size_t i = bytes.size() - 40; i < bytes.size(); ++i)
        bytes[i] = 0xFF;
    WriteFileBytes(path_, bytes);

    EXPECT_EQ(S_OK, archive_->Has(Bstr(path_), Bstr(L"text"), 2));
    ComPtr<ICapDirectory> directory;
    EXPECT_EQ(S_OK, archive_->Dir(Bstr(path_), &directory));
    ComPtr<ICapPackage> loaded;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), archive_->Load(Bstr(path_), &loaded));
    EXPECT_FALSE(loaded);
}

TEST_F(CapArchiveTest, LoadRefusesFilesThatAreNoPackage) {
    WriteFileBytes(path_, TextBytes(300));
    ComPtr<ICapPackage> loaded;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), archive_->Load(Bstr(path_), &loaded));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), archive_->Load(Bstr(folder_ + L"\\none.cap"), &loaded));
    ComPtr<ICapDirectory> directory;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), archive_->Dir(Bstr(path_), &directory));
}

TEST_F(CapArchiveTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    ComPtr<ICapPackage> good = NewPackage();
    good->Add(NewItem(L"kept", 2, 5, 0, TextBytes(10)).Get());
    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), good.Get()));
    std::vector<uint8_t> before = ReadFileBytes(path_);

    // More items than a package file can list: the writer refuses after it has started.
    ComPtr<ICapPackage> tooMany = NewPackage();
    ComPtr<ICapFileItem> item = NewItem(L"x", 2, 0, 0, {});
    for (int i = 0; i < 65535; ++i)
        ASSERT_HRESULT_SUCCEEDED(tooMany->Add(item.Get()));
    EXPECT_TRUE(FAILED(archive_->Save(Bstr(path_), tooMany.Get())));
    EXPECT_EQ(before, ReadFileBytes(path_));
    EXPECT_EQ(1, FilesInFolder());
}

// Twenty thousand items with 60-character names: their names alone fill more than a package
// file's 16-bit name positions reach.
ComPtr<ICapPackage> ManyLongNames(CapArchiveTest& test, long option, std::vector<std::wstring>& names);

TEST_F(CapArchiveTest, BackupSetsHoldManyLongNamesWhilePackageFilesRefuseThemWhole) {
    std::vector<std::wstring> names;
    ComPtr<ICapPackage> set = ManyLongNames(*this, 1, names);
    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), set.Get()));

    ComPtr<ICapPackage> loaded;
    ASSERT_EQ(S_OK, archive_->Load(Bstr(path_), &loaded));
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(loaded->get_Count(&count));
    ASSERT_EQ(static_cast<long>(names.size()), count);
    for (long i : {0L, 1L, 9999L, count - 1}) {
        SCOPED_TRACE(i);
        ComPtr<ICapItem> item;
        ASSERT_EQ(S_OK, loaded->get_Item(i, &item));
        BSTR name = nullptr;
        item->get_Name(&name);
        EXPECT_EQ(names[i], Take(name));
        long value = 0;
        item->get_StoredLong(&value);
        EXPECT_EQ(i, value);
        ComPtr<ICapFileItem> file;
        ASSERT_HRESULT_SUCCEEDED(item.As(&file));
        std::vector<uint8_t> data(4);
        ASSERT_HRESULT_SUCCEEDED(file->GetData(4, data.data()));
        EXPECT_EQ(data, std::vector<uint8_t>({uint8_t(i), uint8_t(i >> 8), 'd', 'x'}));
    }
    EXPECT_EQ(S_OK, archive_->Has(Bstr(path_), Bstr(names.back()), 2));
    ComPtr<ICapDirectory> directory;
    ASSERT_EQ(S_OK, archive_->Dir(Bstr(path_), &directory));
    directory->get_Count(&count);
    EXPECT_EQ(static_cast<long>(names.size()), count);

    // The same items as a package file: refused as a whole with its own error, nothing written.
    const std::wstring packagePath = folder_ + L"\\many.cap";
    ComPtr<ICapPackage> package = ManyLongNames(*this, 0, names);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), archive_->Save(Bstr(packagePath), package.Get()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(packagePath.c_str()));
    EXPECT_EQ(1, FilesInFolder());
}

ComPtr<ICapPackage> ManyLongNames(CapArchiveTest& test, long option, std::vector<std::wstring>& names) {
    ComPtr<ICapPackage> package = test.NewPackage();
    EXPECT_HRESULT_SUCCEEDED(package->put_Option(option));
    // The items' class object makes them: twenty thousand creations by class id take long here.
    ComPtr<IClassFactory> items;
    EXPECT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_CapFileItem, CLSCTX_INPROC_SERVER, nullptr,
                                              IID_IClassFactory, reinterpret_cast<void**>(&items)));
    names.clear();
    for (long i = 0; i < 20000; ++i) {
        std::wstring name = L"Folder" + std::to_wstring(100000 + i).substr(1) + L"\\a long file name";
        name.resize(56, L'-');
        name += L".dat";
        names.push_back(name);
        EXPECT_EQ(60u, names.back().size());
        ComPtr<ICapFileItem> item;
        EXPECT_HRESULT_SUCCEEDED(
            items->CreateInstance(nullptr, IID_ICapFileItem, reinterpret_cast<void**>(&item)));
        uint8_t data[] = {uint8_t(i), uint8_t(i >> 8), 'd', 'x'};
        item->put_Name(Bstr(name));
        item->put_StoredLong(i);
        item->SetData(4, data);
        package->Add(item.Get());
    }
    return package;
}

// An item given its data as a stream: a backup set reads the stream once while it is written;
// a package file, which holds its items whole, reads it first.
ComPtr<ICapFileItem> StreamItem(CapArchiveTest& test, const std::wstring& name,
                                const std::vector<uint8_t>& data) {
    ComPtr<ICapFileItem> item = test.NewItem(name, 2, 9, 0, {});
    ComPtr<ICapItemStream> streamed;
    EXPECT_HRESULT_SUCCEEDED(item.As(&streamed));
    ComPtr<IStream> stream;
    stream.Attach(SHCreateMemStream(data.data(), static_cast<UINT>(data.size())));
    EXPECT_HRESULT_SUCCEEDED(streamed->SetDataStream(stream.Get(), data.size()));
    return item;
}

TEST_F(CapArchiveTest, ItemsGivenAsStreamsAreReadOnceAndNeverSavedShort) {
    const std::vector<uint8_t> text = TextBytes(3 << 20);
    ComPtr<ICapPackage> set = NewPackage();
    set->put_Option(1);
    ComPtr<ICapFileItem> big = StreamItem(*this, L"big.txt", text);
    set->Add(big.Get());
    long size = 0;
    big->get_Size(&size);
    EXPECT_EQ(static_cast<long>(text.size()), size);
    ASSERT_EQ(S_OK, archive_->Save(Bstr(path_), set.Get()));
    ComPtr<ICapPackage> loaded;
    ASSERT_EQ(S_OK, archive_->Load(Bstr(path_), &loaded));
    ComPtr<ICapItem> item;
    ASSERT_EQ(S_OK, loaded->get_Item(0, &item));
    ComPtr<ICapFileItem> file;
    ASSERT_HRESULT_SUCCEEDED(item.As(&file));
    std::vector<uint8_t> data(text.size());
    ASSERT_HRESULT_SUCCEEDED(file->GetData(static_cast<long>(data.size()), data.data()));
    EXPECT_TRUE(data == text);
    // The stream is used up: a second save fails and leaves the first file as it was.
    const std::vector<uint8_t> saved = ReadFileBytes(path_);
    EXPECT_TRUE(FAILED(archive_->Save(Bstr(path_), set.Get())));
    EXPECT_TRUE(FAILED(big->GetData(static_cast<long>(data.size()), data.data())));
    EXPECT_EQ(saved, ReadFileBytes(path_));

    // A stream shorter than stated fails the save; nothing is written.
    const std::wstring shortPath = folder_ + L"\\short.zbk";
    ComPtr<ICapPackage> shortSet = NewPackage();
    shortSet->put_Option(1);
    ComPtr<ICapFileItem> shortItem = StreamItem(*this, L"short.txt", TextBytes(10));
    ComPtr<ICapItemStream> claim;
    ASSERT_HRESULT_SUCCEEDED(shortItem.As(&claim));
    ComPtr<IStream> tenBytes;
    const std::vector<uint8_t> ten = TextBytes(10);
    tenBytes.Attach(SHCreateMemStream(ten.data(), 10));
    ASSERT_HRESULT_SUCCEEDED(claim->SetDataStream(tenBytes.Get(), 20));
    shortSet->Add(shortItem.Get());
    EXPECT_TRUE(FAILED(archive_->Save(Bstr(shortPath), shortSet.Get())));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(shortPath.c_str()));

    // A package file takes the stream's data whole before it writes.
    const std::wstring capPath = folder_ + L"\\streamed.cap";
    ComPtr<ICapPackage> package = NewPackage();
    package->Add(StreamItem(*this, L"small.txt", TextBytes(500)).Get());
    ASSERT_EQ(S_OK, archive_->Save(Bstr(capPath), package.Get()));
    ASSERT_EQ(S_OK, archive_->Load(Bstr(capPath), &loaded));
    ASSERT_EQ(S_OK, loaded->get_Item(0, &item));
    ASSERT_HRESULT_SUCCEEDED(item.As(&file));
    data.assign(500, 0);
    ASSERT_HRESULT_SUCCEEDED(file->GetData(500, data.data()));
    EXPECT_EQ(TextBytes(500), data);
}

TEST_F(CapArchiveTest, SetsWrittenInThePackageLayoutStillLoad) {
    // A backup set as the archive wrote them before sets had a container of their own.
    caparchive::Package old;
    old.option = 1;
    old.header = caparchive::PackageHeader{45000.25, "Device backup set, version 1", "old", ""};
    old.items.push_back({"Docs\\a.txt", 2, 1200000000, 0x21, TextBytes(3000)});
    old.items.push_back({"@ABCDEFG", 2, 0, 0, {}});
    caparchive::VectorSink sink;
    ASSERT_EQ(caparchive::kSuccess, caparchive::WritePackage(old, sink));
    WriteFileBytes(path_, sink.Bytes());

    EXPECT_EQ(S_OK, archive_->Has(Bstr(path_), Bstr(L"@ABCDEFG"), 2));
    ComPtr<ICapPackage> loaded;
    ASSERT_EQ(S_OK, archive_->Load(Bstr(path_), &loaded));
    long value = 0;
    loaded->get_Option(&value);
    EXPECT_EQ(1, value);
    ComPtr<ICapItem> item;
    ASSERT_EQ(S_OK, loaded->get_Item(0, &item));
    item->get_StoredLong(&value);
    EXPECT_EQ(1200000000, value);
    ComPtr<ICapFileItem> file;
    ASSERT_HRESULT_SUCCEEDED(item.As(&file));
    std::vector<uint8_t> data(3000);
    ASSERT_HRESULT_SUCCEEDED(file->GetData(3000, data.data()));
    EXPECT_EQ(TextBytes(3000), data);
}

TEST_F(CapArchiveTest, PackageTakesOnlyItsOwnItemsAndRemovesThem) {
    ComPtr<ICapPackage> package = NewPackage();
    ComPtr<ICapPackage> other = NewPackage();
    EXPECT_EQ(E_INVALIDARG, package->Add(reinterpret_cast<ICapItem*>(other.Get())));
    ComPtr<ICapFileItem> first = NewItem(L"1", 2, 0, 0, {});
    ComPtr<ICapFileItem> second = NewItem(L"2", 2, 0, 0, {});
    package->Add(first.Get());
    package->Add(second.Get());
    EXPECT_EQ(S_OK, package->Remove(first.Get()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), package->Remove(first.Get()));
    ComPtr<ICapItem> left;
    ASSERT_EQ(S_OK, package->get_Item(0, &left));
    ComPtr<IUnknown> a, b;
    left.As(&a);
    second.As(&b);
    EXPECT_EQ(a.Get(), b.Get()) << "the package hands out the item objects it holds";
    ComPtr<ICapHeader> none;
    EXPECT_EQ(S_FALSE, package->get_Header(&none));
}

TEST_F(CapArchiveTest, ScriptItemsKeepTextAndAnswerThroughIDispatch) {
    ComPtr<ICapScriptItem> script;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapScriptItem, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ICapScriptItem, reinterpret_cast<void**>(&script)));
    long kind = 0;
    script->get_Kind(&kind);
    EXPECT_EQ(3, kind);
    ASSERT_HRESULT_SUCCEEDED(script->put_Text(Bstr(L"var x = 1;")));

    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(script.As(&dispatch));
    for (const wchar_t* member : {L"Text", L"Size"}) {
        SCOPED_TRACE(member);
        LPOLESTR name = const_cast<LPOLESTR>(member);
        DISPID id = 0;
        ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
        DISPPARAMS none{};
        VARIANT result;
        VariantInit(&result);
        ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                                         nullptr, nullptr));
        if (V_VT(&result) == VT_BSTR)
            EXPECT_EQ(L"var x = 1;", Take(V_BSTR(&result)));
        else
            EXPECT_EQ(10, V_I4(&result));
    }

    // The file face saves the same bytes and loads them back.
    ComPtr<ICapFileItem> file;
    ASSERT_HRESULT_SUCCEEDED(script.As(&file));
    std::wstring copy = folder_ + L"\\script.js";
    ASSERT_EQ(S_OK, file->SaveToFile(Bstr(copy)));
    ASSERT_EQ(S_OK, file->put_Kind(2));
    ASSERT_EQ(S_OK, script->put_Text(Bstr(L"")));
    ASSERT_EQ(S_OK, file->LoadFromFile(Bstr(copy)));
    BSTR text = nullptr;
    script->get_Text(&text);
    EXPECT_EQ(L"var x = 1;", Take(text));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), file->LoadFromFile(Bstr(folder_ + L"\\none")));
}

} // namespace
