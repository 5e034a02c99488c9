// ZvDB.dll as its callers use it: the custom faces in process, the dispatch twins through
// IDispatch, a JScript client under cscript, and two processes on one table. Every
// case works on its own copy of a database made by the fixture writer, and checks the file's
// bytes with a reader of the layout kept in this file.
#include "AnsiText.h"
#include "ComObject.h"
#include "ComPtr.h"
#include "Handles.h"
#include "UiHarness.h"
#include "ZvDB.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

using tv::com::ComPtr;
using tv::com::UniqueBstr;

namespace {

// ---- files --------------------------------------------------------------------------------------

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string ExeFolderA() {
    return Narrow(tv::test::ExeFolder()) + "\\";
}

// A fresh copy of one fixture database in a folder of its own; its catalog path.
std::string CopyFixture(const char* fixture, const std::string& caseName) {
    const std::string from = ExeFolderA() + "zvdb_fixtures\\" + fixture + "\\";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string to = std::string(temp) + "zvdb_" + caseName + "\\";
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE old = FindFirstFileA((to + "*").c_str(), &found);
    if (old != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((to + found.cFileName).c_str());
        while (FindNextFileA(old, &found));
        FindClose(old);
    }
    HANDLE files = FindFirstFileA((from + "*").c_str(), &found);
    if (files != INVALID_HANDLE_VALUE) {
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                CopyFileA((from + found.cFileName).c_str(), (to + found.cFileName).c_str(), FALSE);
        while (FindNextFileA(files, &found));
        FindClose(files);
    }
    return to + "email.db";
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t Be32(const std::vector<uint8_t>& b, uint64_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint16_t Be16(const std::vector<uint8_t>& b, uint64_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

// One slot of a table file as the layout describes it.
struct Slot {
    uint64_t pos = 0;
    uint32_t key = 0;
    uint16_t flags = 0;
};

// Walks the slots from the data start to the one flagged last.
std::vector<Slot> WalkSlots(const std::vector<uint8_t>& file, uint32_t recordSize) {
    std::vector<Slot> slots;
    for (uint64_t pos = Be32(file, 12); pos + recordSize + 6 <= file.size(); pos += recordSize + 6) {
        slots.push_back({pos, Be32(file, pos), Be16(file, pos + 4)});
        if (slots.back().flags & 0x4000)
            break;
    }
    return slots;
}

// Checks one 8-byte out-of-line reference at `refPos`: its entry's owner points back at it and its
// length stands at the entry's end. Returns the data.
std::string EntryAt(const std::vector<uint8_t>& file, uint64_t refPos) {
    const uint32_t offset = Be32(file, refPos), length = Be32(file, refPos + 4);
    if (offset == 0)
        return std::string();
    EXPECT_LE(uint64_t{offset} + length + 8, file.size());
    EXPECT_EQ(refPos, Be32(file, offset)) << "owner of the entry at " << offset;
    EXPECT_EQ(length, Be32(file, uint64_t{offset} + 4 + length));
    return std::string(file.begin() + offset + 4, file.begin() + offset + 4 + length);
}

std::string TablePath(const std::string& catalog, const char* file) {
    return catalog.substr(0, catalog.find_last_of('\\') + 1) + file;
}

// Fixture "mail": table Mail in 12345678.t, record size 52 (see fixtures/mail.json).
constexpr uint32_t kMailRecord = 52;
enum MailField { kSubject, kFlags, kBox, kTo, kFrom, kSize, kRead, kPrio, kFolder, kHash, kBody };

// ---- COM helpers --------------------------------------------------------------------------------

class ZvDBTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IZvDBEngine, reinterpret_cast<void**>(&engine_)));
    }
    void TearDown() override {
        engine_ = nullptr;
        CoUninitialize();
    }

    ComPtr<IZvDBConnection> Open(const std::string& catalog) {
        ComPtr<IZvDBConnection> connection;
        EXPECT_EQ(S_OK, engine_->OpenConnection(const_cast<char*>(catalog.c_str()), &connection));
        return connection;
    }
    static ComPtr<IZvDBTable> TableNamed(IZvDBConnection* connection, const char* name) {
        ComPtr<IZvDBTable> table;
        EXPECT_EQ(S_OK, connection->GetTableByName(const_cast<char*>(name), &table));
        return table;
    }
    static std::string Text(IZvDBRecord* record, long field) {
        char buffer[4096] = {};
        EXPECT_EQ(S_OK, record->GetString(field, sizeof buffer, buffer));
        return buffer;
    }
    static unsigned long Dword(IZvDBRecord* record, long field) {
        unsigned long value = 0xDEAD;
        EXPECT_EQ(S_OK, record->GetDword(field, &value));
        return value;
    }
    // Adds a record through a null cursor; its key.
    template <class Fill> static long Add(IZvDBTable* table, Fill fill) {
        ComPtr<IZvDBCursor> cursor;
        ComPtr<IZvDBRecord> record;
        EXPECT_EQ(S_OK, table->OpenNullCursor(&cursor));
        EXPECT_EQ(S_OK, cursor->Add(&record));
        fill(record.Get());
        EXPECT_EQ(S_OK, record->Commit());
        long key = 0;
        record->GetKey(&key);
        return key;
    }
    // Edits the record with `key` through a key cursor.
    template <class Fill> static HRESULT Edit(IZvDBTable* table, long key, Fill fill) {
        ComPtr<IZvDBCursor> cursor;
        ComPtr<IZvDBRecord> record;
        HRESULT hr = table->OpenKeyCursor(1, &key, &cursor);
        if (SUCCEEDED(hr))
            hr = cursor->EditAt(0, &record);
        if (SUCCEEDED(hr)) {
            fill(record.Get());
            hr = record->Commit();
        }
        return hr;
    }

    ComPtr<IZvDBEngine> engine_;
};

// A caller's condition: the rows whose Flags are not 0.
class FlagsSet : public tv::com::ComObject<FlagsSet, IZvDBCondition> {
  public:
    STDMETHODIMP IsTrue(IZvDBRecord* record) override {
        ++asked;
        unsigned long flags = 0;
        if (FAILED(record->GetDword(kFlags, &flags)))
            return E_FAIL;
        return flags != 0 ? S_OK : S_FALSE;
    }
    int asked = 0;
};

// ---- engine and connection ----------------------------------------------------------------------

TEST_F(ZvDBTest, ConnectionsAreOpenedSharedClosedAndDropped) {
    const std::string catalog = CopyFixture("mail", "connections");
    ComPtr<IZvDBConnection> unused;
    EXPECT_EQ(E_POINTER, engine_->OpenConnection(const_cast<char*>(catalog.c_str()), nullptr));

    // A catalog of another magic is not used and stays as it is.
    const std::string bad = TablePath(catalog, "bad.db");
    WriteBytes(bad, std::vector<uint8_t>(64, 'x'));
    EXPECT_EQ(E_FAIL, engine_->OpenConnection(const_cast<char*>(bad.c_str()), &unused));
    EXPECT_EQ(std::vector<uint8_t>(64, 'x'), FileBytes(bad));
    // A missing one is made with no tables.
    const std::string fresh = TablePath(catalog, "fresh.db");
    ComPtr<IZvDBConnection> made = Open(fresh);
    long count = -1;
    ASSERT_TRUE(made);
    EXPECT_EQ(S_OK, made->GetTotalTables(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(36u, FileBytes(fresh).size());

    // Two connections on one path share the tables: a rename through one shows in the other.
    ComPtr<IZvDBConnection> first = Open(catalog), second = Open(catalog);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(S_OK, second->GetTotalTables(&count));
    EXPECT_EQ(2, count);
    ComPtr<IZvDBTable> mail = TableNamed(first.Get(), "Mail");
    EXPECT_EQ(S_OK, first->RenameTable(mail.Get(),
                                       const_cast<char*>("Letters of a name far longer than thirty-one")));
    ComPtr<IZvDBTable> renamed = TableNamed(second.Get(), "Letters of a name far longer th");
    char name[32] = {};
    EXPECT_EQ(S_OK, renamed->GetName(sizeof name, name));
    const std::vector<uint8_t> list = FileBytes(catalog);
    EXPECT_EQ(std::string("Letters of a name far longer th"),
              std::string(list.begin() + 75, list.begin() + 106));

    // Drop is refused while a connection is open; a cursor keeps its connection from closing.
    EXPECT_EQ(E_FAIL, engine_->DropDatabase(const_cast<char*>(catalog.c_str())));
    ComPtr<IZvDBEngineDisp> disp;
    ASSERT_EQ(S_OK, engine_.As(&disp));
    ComPtr<IZvDBCursor> cursor;
    ASSERT_EQ(S_OK, renamed->OpenWideCursor(&cursor));
    EXPECT_EQ(E_FAIL, disp->CloseConnection(second.Get()));
    cursor = nullptr;
    EXPECT_EQ(S_OK, disp->CloseConnection(second.Get()));
    EXPECT_EQ(E_FAIL, second->GetTotalTables(&count)); // the wrapper outlives its connection
    EXPECT_EQ(E_FAIL, disp->CloseConnection(second.Get()));
    first = nullptr, second = nullptr, mail = nullptr, renamed = nullptr;
    EXPECT_EQ(S_OK, engine_->DropDatabase(const_cast<char*>(catalog.c_str())));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(catalog.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(TablePath(catalog, "12345678.t").c_str()));
}

TEST_F(ZvDBTest, TablesAnswerNamesSpaceValidityAndTheFixedRefusals) {
    const std::string catalog = CopyFixture("mail", "tables");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ASSERT_TRUE(connection);
    ComPtr<IZvDBTable> table;
    EXPECT_EQ(E_FAIL, connection->GetTableByName(const_cast<char*>("mail"), &table)); // case counts
    EXPECT_EQ(E_FAIL, connection->GetTableByIdx(2, &table));
    EXPECT_EQ(E_POINTER, connection->GetTableByIdx(0, nullptr));
    ASSERT_EQ(S_OK, connection->GetTableByIdx(1, &table));

    char buffer[16] = {};
    EXPECT_EQ(E_FAIL, table->GetName(4, buffer)); // "Mail" needs five bytes
    EXPECT_EQ(S_OK, table->GetName(5, buffer));
    EXPECT_STREQ("Mail", buffer);
    EXPECT_EQ(E_FAIL, table->GetName(5, nullptr));
    EXPECT_EQ(E_FAIL, table->GetFileName(10, buffer));
    EXPECT_EQ(S_OK, table->GetFileName(11, buffer));
    EXPECT_STREQ("12345678.t", buffer);
    long space = 0;
    EXPECT_EQ(S_OK, table->GetTotalSpace(&space));
    EXPECT_EQ(8192, space);
    EXPECT_EQ(E_FAIL, table->GetTotalSpace(nullptr));
    EXPECT_EQ(S_OK, table->IsValid());
    EXPECT_EQ(S_OK, table->Reload());

    // The engine's add has no COM caller.
    ComPtr<IZvDBRecordFormat> format;
    ASSERT_EQ(S_OK, connection->CreateFormat(&format));
    EXPECT_EQ(E_NOTIMPL, connection->AddTable(const_cast<char*>("New"), format.Get(), 4096, 1024, 0));
    ComPtr<IZvDBConnectionDisp> disp;
    ASSERT_EQ(S_OK, connection.As(&disp));
    UniqueBstr name(SysAllocString(L"New"));
    EXPECT_EQ(E_NOTIMPL, disp->AddTable(name.Get(), format.Get(), 4096, 1024, 0));

    // Removing deletes the file; the wrapper of the removed table answers E_FAIL.
    ComPtr<IZvDBTable> folders = TableNamed(connection.Get(), "Folders");
    EXPECT_EQ(S_OK, connection->RemoveTable(const_cast<char*>("Folders")));
    EXPECT_EQ(E_FAIL, connection->RemoveTable(const_cast<char*>("Folders")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(TablePath(catalog, "11001011.t").c_str()));
    EXPECT_EQ(E_FAIL, folders->GetTotalSpace(&space));
    long count = 0;
    EXPECT_EQ(S_OK, connection->GetTotalTables(&count));
    EXPECT_EQ(1, count);
}

// A table file may reach 4 GiB, more than a long holds: its size is given as the largest long.
// The file is made longer without being written (sparse), which leaves the table valid.
TEST_F(ZvDBTest, TheSizeOfATableFileAbove2GiBIsClampedToTheLargestLong) {
    const std::string catalog = CopyFixture("mail", "bigtable");
    const std::string path = TablePath(catalog, "12345678.t");
    {
        tv::com::UniqueHandle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, file.Get());
        LARGE_INTEGER size;
        size.QuadPart = 0x80001000ll;
        ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.Get()));
    }
    {
        ComPtr<IZvDBConnection> connection = Open(catalog);
        ASSERT_TRUE(connection);
        ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
        ASSERT_TRUE(table);
        EXPECT_EQ(S_OK, table->IsValid());
        long space = 0;
        EXPECT_EQ(S_OK, table->GetTotalSpace(&space));
        EXPECT_EQ(LONG_MAX, space);
    }
    DeleteFileA(path.c_str()); // the connection closed with its last wrapper
}

TEST_F(ZvDBTest, ATableWhoseFileIsDamagedIsInvalidUntilAReloadFindsItSound) {
    const std::string catalog = CopyFixture("mail", "invalid");
    const std::string path = TablePath(catalog, "12345678.t");
    const std::vector<uint8_t> good = FileBytes(path);
    std::vector<uint8_t> damaged = good;
    damaged[8] ^= 0xFF; // the id no longer matches the catalog
    WriteBytes(path, damaged);

    ComPtr<IZvDBConnection> connection = Open(catalog);
    ASSERT_TRUE(connection);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IZvDBCursor> cursor;
    long space = 0;
    EXPECT_EQ(E_FAIL, table->IsValid());
    EXPECT_EQ(E_FAIL, table->GetTotalSpace(&space));
    EXPECT_EQ(E_FAIL, table->OpenWideCursor(&cursor));
    EXPECT_EQ(E_FAIL, table->OpenNullCursor(&cursor));
    EXPECT_EQ(E_FAIL, connection->OpenNullCursor(table.Get(), &cursor));
    EXPECT_EQ(S_FALSE, table->Reload());

    WriteBytes(path, good);
    EXPECT_EQ(S_OK, table->Reload());
    EXPECT_EQ(S_OK, table->OpenWideCursor(&cursor));
    long rows = 0;
    EXPECT_EQ(S_OK, cursor->GetRecordCount(&rows));
    EXPECT_EQ(3, rows);
}

// ---- formats ------------------------------------------------------------------------------------

TEST_F(ZvDBTest, FormatsAddFindRemoveAndCloneFields) {
    const std::string catalog = CopyFixture("mail", "formats");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ASSERT_TRUE(connection);
    ComPtr<IZvDBRecordFormat> format;
    ASSERT_EQ(S_OK, TableNamed(connection.Get(), "Mail")->GetFormat(&format));
    long count = 0, type = 0, index = 0;
    EXPECT_EQ(S_OK, format->GetFieldCount(&count));
    EXPECT_EQ(11, count);
    const long types[] = {8, 5, 6, 10, 10, 4, 2, 3, 1, 7, 9};
    for (long i = 0; i < 11; ++i) {
        EXPECT_EQ(S_OK, format->GetFieldType(i, &type));
        EXPECT_EQ(types[i], type) << i;
    }
    EXPECT_EQ(E_FAIL, format->GetFieldType(11, &type));
    char name[8] = {};
    EXPECT_EQ(E_POINTER, format->GetFieldName(0, sizeof name, nullptr));
    EXPECT_EQ(E_FAIL, format->GetFieldName(0, 7, name)); // "Subject" needs eight bytes
    EXPECT_EQ(S_OK, format->GetFieldName(0, 8, name));
    EXPECT_STREQ("Subject", name);
    EXPECT_EQ(S_OK, format->FindField(const_cast<char*>("Body"), &index));
    EXPECT_EQ(10, index);
    EXPECT_EQ(S_OK, format->FindField(const_cast<char*>("body"), &index));
    EXPECT_EQ(-1, index);
    EXPECT_EQ(E_POINTER, format->FindField(nullptr, &index));
    EXPECT_EQ(E_POINTER, format->FindField(const_cast<char*>("Body"), nullptr));

    ComPtr<IZvDBRecordFormat> made;
    ASSERT_EQ(S_OK, connection->CreateFormat(&made));
    for (long t = 1; t <= 10; ++t)
        EXPECT_EQ(S_OK, made->AddField(const_cast<char*>(("f" + std::to_string(t)).c_str()), t, 3)) << t;
    EXPECT_EQ(E_FAIL, made->AddField(const_cast<char*>("zero"), 0, 0));
    EXPECT_EQ(E_FAIL, made->AddField(const_cast<char*>("eleven"), 11, 0));
    EXPECT_EQ(E_FAIL, made->RemoveFieldByName(const_cast<char*>("none")));
    EXPECT_EQ(E_FAIL, made->RemoveFieldByIdx(10));
    EXPECT_EQ(S_OK, made->RemoveFieldByName(const_cast<char*>("f1")));
    EXPECT_EQ(S_OK, made->RemoveFieldByIdx(0));
    ComPtr<IZvDBRecordFormat> copy;
    ASSERT_EQ(S_OK, made->Clone(&copy));
    EXPECT_EQ(S_OK, made->AddField(const_cast<char*>("later"), 5, 0));
    EXPECT_EQ(S_OK, copy->GetFieldCount(&count));
    EXPECT_EQ(8, count);
    EXPECT_EQ(S_OK, copy->GetFieldType(0, &type));
    EXPECT_EQ(3, type);

    // The dispatch twin lets go of a format once.
    ComPtr<IZvDBConnectionDisp> disp;
    ASSERT_EQ(S_OK, connection.As(&disp));
    EXPECT_EQ(S_OK, disp->ReleaseFormat(made.Get()));
    EXPECT_EQ(E_FAIL, disp->ReleaseFormat(made.Get()));
    EXPECT_EQ(E_FAIL, made->GetFieldCount(&count));
    ComPtr<IDispatch> notDispatch;
    EXPECT_EQ(E_NOINTERFACE, copy.As(&notDispatch));
}

// ---- records ------------------------------------------------------------------------------------

TEST_F(ZvDBTest, TypedAccessGivesEveryKindAndRefusesTheOthers) {
    const std::string catalog = CopyFixture("mail", "typed");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IZvDBCursor> cursor;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&cursor));
    ComPtr<IZvDBRecord> record;
    ASSERT_EQ(S_OK, cursor->GetAt(0, &record));

    long key = 0, size = 0;
    EXPECT_EQ(S_OK, record->GetKey(&key));
    EXPECT_EQ(1, key);
    EXPECT_EQ("Hello", Text(record.Get(), kSubject));
    EXPECT_EQ(7u, Dword(record.Get(), kFlags));
    EXPECT_EQ("Inbox", Text(record.Get(), kBox));
    EXPECT_EQ("ann@example.com", Text(record.Get(), kTo));
    EXPECT_EQ("bob@example.com", Text(record.Get(), kFrom));
    unsigned short word = 0;
    unsigned char byte = 0, flag = 0;
    unsigned long ref = 0;
    EXPECT_EQ(S_OK, record->GetWord(kSize, &word));
    EXPECT_EQ(1200, word);
    EXPECT_EQ(S_OK, record->GetBool(kRead, &flag));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(S_OK, record->GetByte(kPrio, &byte));
    EXPECT_EQ(2, byte);
    EXPECT_EQ(S_OK, record->GetRef(kFolder, &ref));
    EXPECT_EQ(1u, ref);
    // Another kind, or an index outside the format: 0 and S_OK.
    word = 9;
    EXPECT_EQ(S_OK, record->GetWord(kFlags, &word));
    EXPECT_EQ(0, word);
    ref = 9;
    EXPECT_EQ(S_OK, record->GetRef(40, &ref));
    EXPECT_EQ(0u, ref);
    EXPECT_EQ(E_POINTER, record->GetDword(kFlags, nullptr));

    // Sizes: fixed size, stored length, string length; 0 for an invalid index.
    const std::pair<long, long> sizes[] = {{kSubject, 5}, {kFlags, 4}, {kBox, 12},   {kTo, 15}, {kHash, 4},
                                           {kBody, 2},    {kRead, 1},  {kFolder, 4}, {99, 0},   {-1, 0}};
    for (auto [field, expected] : sizes) {
        EXPECT_EQ(S_OK, record->GetSize(field, &size));
        EXPECT_EQ(expected, size) << field;
    }
    // GetString wants room for the zero byte.
    char buffer[6] = {};
    EXPECT_EQ(E_FAIL, record->GetString(kSubject, 5, buffer));
    EXPECT_EQ(S_OK, record->GetString(kSubject, 6, buffer));
    EXPECT_STREQ("Hello", buffer);
    EXPECT_EQ(E_FAIL, record->GetString(kSubject, 6, nullptr));

    // A record opened for reading takes no value.
    EXPECT_EQ(E_FAIL, record->SetDword(kFlags, 1));
    EXPECT_EQ(E_FAIL, record->SetString(kSubject, const_cast<char*>("x")));
    EXPECT_EQ(E_FAIL, record->Commit());

    // A closed cursor and a destroyed record answer E_FAIL.
    ComPtr<IZvDBConnectionDisp> disp;
    ASSERT_EQ(S_OK, connection.As(&disp));
    EXPECT_EQ(E_FAIL, disp->CloseCursor(cursor.Get())); // a record is out
    EXPECT_EQ(S_OK, record->Destroy());
    EXPECT_EQ(E_FAIL, record->Destroy());
    EXPECT_EQ(E_FAIL, record->GetKey(&key));
    EXPECT_EQ(S_OK, disp->CloseCursor(cursor.Get()));
    EXPECT_EQ(E_FAIL, cursor->GetAt(0, &record));
}

TEST_F(ZvDBTest, EditedValuesReachTheFileInTheDeviceByteOrder) {
    const std::string catalog = CopyFixture("mail", "edit");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ASSERT_EQ(S_OK, Edit(table.Get(), 2, [](IZvDBRecord* r) {
                  EXPECT_EQ(S_OK, r->SetDword(kFlags, 0x01020304));
                  EXPECT_EQ(S_OK, r->SetWord(kSize, 0xA1B2));
                  EXPECT_EQ(S_OK, r->SetBool(kRead, 1));
                  EXPECT_EQ(S_OK, r->SetByte(kPrio, 0x7F));
                  EXPECT_EQ(S_OK, r->SetRef(kFolder, 2));
                  EXPECT_EQ(S_OK, r->SetString(kBox, const_cast<char*>("Archive of far too many bytes")));
                  EXPECT_EQ(S_OK,
                            r->SetString(kSubject, const_cast<char*>("A subject grown longer than before")));
                  EXPECT_EQ(S_OK, r->SetString(kFrom, const_cast<char*>("from@example.com")));
                  EXPECT_EQ(E_FAIL, r->SetWord(kFlags, 1)); // another kind
                  EXPECT_EQ(E_FAIL, r->SetString(kFlags, const_cast<char*>("x")));
              }));
    const std::vector<uint8_t> file = FileBytes(TablePath(catalog, "12345678.t"));
    const std::vector<Slot> slots = WalkSlots(file, kMailRecord);
    ASSERT_EQ(4u, slots.size());
    const uint64_t r = slots[1].pos + 6;
    EXPECT_EQ(2u, slots[1].key);
    EXPECT_EQ(0x01020304u, Be32(file, r + 8));
    EXPECT_EQ(0xA1B2, Be16(file, r + 24));
    EXPECT_EQ(1, file[r + 26]);
    EXPECT_EQ(0x7F, file[r + 27]);
    EXPECT_EQ(2u, Be32(file, r + 28));
    EXPECT_EQ("Archive of f", std::string(file.begin() + r + 12, file.begin() + r + 24)); // cut, no zero
    EXPECT_EQ("A subject grown longer than before", EntryAt(file, r));
    EXPECT_EQ(std::string("carl@example.com\0from@example.com\0", 34), EntryAt(file, r + 44));
    EXPECT_EQ(0x4000, slots[3].flags);
}

TEST_F(ZvDBTest, EditRefusalsAndConditionCursors) {
    const std::string catalog = CopyFixture("mail", "refusals");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IZvDBCursor> wide, keys, other;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&wide));
    long listed[] = {5, 77};
    ASSERT_EQ(S_OK, connection->OpenKeyCursor(table.Get(), 2, listed, &keys));
    long index = 0;
    EXPECT_EQ(S_OK, keys->GetIndexByKey(77, &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(S_OK, keys->GetIndexByKey(1, &index));
    EXPECT_EQ(-1, index);
    ComPtr<IZvDBRecord> record, refused;
    EXPECT_EQ(E_FAIL, keys->GetAt(1, &record)); // key 77 is not in the table

    // Key 5 is listed by both cursors: neither may edit it.
    EXPECT_EQ(E_FAIL, keys->EditAt(0, &refused));
    EXPECT_EQ(E_FAIL, wide->EditAt(2, &refused));
    ASSERT_EQ(S_OK, wide->EditAt(0, &record)); // key 1, listed by the wide cursor alone
    EXPECT_EQ(E_FAIL, wide->EditAt(0, &refused));

    // A condition cursor leaves out the row being edited and asks only about live rows.
    auto* condition = new FlagsSet;
    ComPtr<IZvDBCondition> held(condition);
    condition->Release();
    ComPtr<IZvDBCursor> selected;
    ASSERT_EQ(S_OK, connection->OpenCursor(table.Get(), held.Get(), &selected));
    long rows = 0;
    EXPECT_EQ(S_OK, selected->GetRecordCount(&rows));
    EXPECT_EQ(1, rows); // key 5 (key 1 is being edited, key 2 has no flags)
    EXPECT_EQ(2, condition->asked);
    EXPECT_EQ(S_OK, selected->GetIndexByKey(5, &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(E_FAIL, connection->OpenCursor(table.Get(), nullptr, &other));
    ComPtr<IZvDBCursor> viaTable;
    EXPECT_EQ(S_OK, table->OpenCursor(held.Get(), &viaTable));

    // A row being edited cannot be removed; a row no other cursor lists can.
    EXPECT_EQ(E_FAIL, wide->RemoveAt(0));
    record = nullptr; // the last Release gives the record back
    selected = nullptr, viaTable = nullptr, keys = nullptr;
    EXPECT_EQ(S_OK, wide->RemoveAt(2)); // key 5
    EXPECT_EQ(S_OK, wide->GetRecordCount(&rows));
    EXPECT_EQ(2, rows);
    EXPECT_EQ(E_FAIL, wide->RemoveAt(2));
}

// ---- round trip ---------------------------------------------------------------------------------

// Fixture "compare": Subject (8), Flags (5), To and From (10); record size 20; 4096 bytes, grows by 1024.
TEST_F(ZvDBTest, AddEditRemoveReopenAndCompactKeepTheLayout) {
    const std::string catalog = CopyFixture("compare", "roundtrip");
    const std::string path = TablePath(catalog, "48230029.t");
    constexpr uint32_t kRecord = 20;
    {
        ComPtr<IZvDBConnection> connection = Open(catalog);
        ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
        for (int i = 3; i <= 6; ++i) {
            const long key = Add(table.Get(), [&](IZvDBRecord* r) {
                EXPECT_EQ(S_OK, r->SetString(0, const_cast<char*>(("letter " + std::to_string(i)).c_str())));
                EXPECT_EQ(S_OK, r->SetDword(1, static_cast<unsigned long>(i)));
                EXPECT_EQ(S_OK, r->SetString(2, const_cast<char*>("me@example.com")));
            });
            EXPECT_EQ(i, key);
        }
        // Growing a text past the gap grows the file by whole steps; shrinking frees the old entry.
        const std::string big(5000, 'g');
        ASSERT_EQ(S_OK, Edit(table.Get(), 3,
                             [&](IZvDBRecord* r) { r->SetString(0, const_cast<char*>(big.c_str())); }));
        EXPECT_EQ(4096u + 5120u, FileBytes(path).size()); // 1024 + 5008 - 5008 % 1024
        ASSERT_EQ(S_OK,
                  Edit(table.Get(), 3, [](IZvDBRecord* r) { r->SetString(0, const_cast<char*>("small")); }));
        // Remove the middle key 4 (a deleted slot stays) and the last key 6 (its slot goes back).
        ComPtr<IZvDBCursor> wide;
        ASSERT_EQ(S_OK, table->OpenWideCursor(&wide));
        EXPECT_EQ(S_OK, wide->RemoveAt(5));
        EXPECT_EQ(S_OK, wide->RemoveAt(3));
    }
    std::vector<uint8_t> file = FileBytes(path);
    std::vector<Slot> slots = WalkSlots(file, kRecord);
    ASSERT_EQ(5u, slots.size());
    const uint32_t keys[] = {1, 2, 3, 4, 5};
    for (size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(keys[i], slots[i].key);
        EXPECT_EQ(i == 3 ? 0x8000 : i == 4 ? 0x4000 : 0, slots[i].flags) << i;
    }
    EXPECT_EQ("small", EntryAt(file, slots[2].pos + 6));
    EXPECT_EQ(std::string("me@example.com\0", 15), EntryAt(file, slots[2].pos + 6 + 12));

    // Reopened, the records read back; the next add takes key 6 again (the last key read is 5).
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    {
        ComPtr<IZvDBCursor> wide;
        ComPtr<IZvDBRecord> record;
        ASSERT_EQ(S_OK, table->OpenWideCursor(&wide));
        long rows = 0;
        EXPECT_EQ(S_OK, wide->GetRecordCount(&rows));
        EXPECT_EQ(4, rows);
        ASSERT_EQ(S_OK, wide->GetAt(2, &record));
        EXPECT_EQ("small", Text(record.Get(), 0));
        EXPECT_EQ("me@example.com", Text(record.Get(), 2));
        EXPECT_EQ("", Text(record.Get(), 3));
    }
    EXPECT_EQ(6, Add(table.Get(), [](IZvDBRecord* r) { r->SetString(0, const_cast<char*>("six again")); }));

    // Edits that need more than the gap but less than the free space compact the file in place.
    const uint64_t grown = FileBytes(path).size();
    for (int i = 0; i < 12; ++i) {
        const std::string text(1500 + i, static_cast<char>('a' + i));
        ASSERT_EQ(S_OK, Edit(table.Get(), 2,
                             [&](IZvDBRecord* r) { r->SetString(0, const_cast<char*>(text.c_str())); }));
    }
    file = FileBytes(path);
    EXPECT_EQ(grown, file.size());
    slots = WalkSlots(file, kRecord);
    ASSERT_EQ(5u, slots.size()); // the deleted slot is gone
    const uint32_t packed[] = {1, 2, 3, 5, 6};
    for (size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(packed[i], slots[i].key);
        EXPECT_EQ(i == 4 ? 0x4000 : 0, slots[i].flags) << i;
        for (uint32_t ref : {0u, 12u})
            EntryAt(file, slots[i].pos + 6 + ref);
    }
    EXPECT_EQ(std::string(1511, 'l'), EntryAt(file, slots[1].pos + 6));
    EXPECT_EQ("Hello", EntryAt(file, slots[0].pos + 6));
}

// ---- the custom faces through the proxy DLL ------------------------------------------------------

// A client in the multithreaded apartment reaches the apartment-threaded objects through proxies:
// 8-bit strings, caller buffers, key arrays and object arguments cross the apartment boundary.
TEST_F(ZvDBTest, TheCustomFacesWorkThroughProxiesFromAnotherApartment) {
    const std::string catalog = CopyFixture("mail", "proxy");
    struct Outcome {
        std::string catalog, name, subject;
        HRESULT shortBuffer = S_OK;
        long rows = 0, foreign = 0;
        bool proxied = false;
    } outcome;
    outcome.catalog = catalog;
    std::thread client([&outcome] {
        tv::com::ComApartment apartment(COINIT_MULTITHREADED);
        ComPtr<IZvDBEngine> engine;
        ComPtr<IZvDBConnection> connection;
        ComPtr<IZvDBTable> table;
        ComPtr<IZvDBCursor> cursor;
        ComPtr<IZvDBRecord> record;
        if (FAILED(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IZvDBEngine,
                                    reinterpret_cast<void**>(&engine))) ||
            FAILED(engine->OpenConnection(const_cast<char*>(outcome.catalog.c_str()), &connection)) ||
            FAILED(connection->GetTableByName(const_cast<char*>("Mail"), &table)))
            return;
        ComPtr<IMarshal> proxyManager;
        outcome.proxied = SUCCEEDED(engine.As(&proxyManager)); // only proxies answer IMarshal here
        char name[16] = {};
        outcome.shortBuffer = table->GetName(4, name);
        if (SUCCEEDED(table->GetName(sizeof name, name)))
            outcome.name = name;
        long keys[] = {5, 1};
        char subject[64] = {};
        if (SUCCEEDED(connection->OpenKeyCursor(table.Get(), 2, keys, &cursor)) &&
            SUCCEEDED(cursor->GetRecordCount(&outcome.rows)) && SUCCEEDED(cursor->GetAt(1, &record)) &&
            SUCCEEDED(record->GetString(kSubject, sizeof subject, subject)))
            outcome.subject = subject;
        cursor->GetIndexByKey(5, &outcome.foreign);
    });
    client.join();
    EXPECT_TRUE(outcome.proxied);
    EXPECT_EQ(E_FAIL, outcome.shortBuffer);
    EXPECT_EQ("Mail", outcome.name);
    EXPECT_EQ(2, outcome.rows);
    EXPECT_EQ("Hello", outcome.subject);
    EXPECT_EQ(0, outcome.foreign);
}

// ---- the dispatch twins from C++ ----------------------------------------------------------------

// Calls a dispatch member by name with the arguments in order; a failure's description goes to
// `description` when given.
HRESULT Call(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result,
             std::wstring* description = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excep{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &excep, nullptr);
    if (hr == DISP_E_EXCEPTION)
        hr = excep.scode;
    if (description)
        *description = excep.bstrDescription ? excep.bstrDescription : L"";
    SysFreeString(excep.bstrSource), SysFreeString(excep.bstrDescription), SysFreeString(excep.bstrHelpFile);
    return hr;
}

VARIANT Unknown(IUnknown* object) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = object;
    return v;
}

// Scripts get a text with a failure: every automation object answers ISupportErrorInfo for both
// of its faces and sets error information when a call fails, through either face.
TEST_F(ZvDBTest, FailedCallsGiveScriptsADescription) {
    const std::string catalog = CopyFixture("mail", "errorinfo");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IZvDBCursor> cursor;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&cursor));
    ComPtr<IZvDBRecord> record;
    ASSERT_EQ(S_OK, cursor->GetAt(0, &record));
    const std::pair<IUnknown*, std::vector<IID>> faces[] = {
        {engine_.Get(), {IID_IZvDBEngine, IID_IZvDBEngineDisp}},
        {connection.Get(), {IID_IZvDBConnection, IID_IZvDBConnectionDisp}},
        {table.Get(), {IID_IZvDBTable, IID_IZvDBTableDisp}},
        {cursor.Get(), {IID_IZvDBCursor, IID_IZvDBCursorDisp}},
        {record.Get(), {IID_IZvDBRecord, IID_IZvDBRecordDisp, IID_IZvDBRecordDisp2}}};
    for (const auto& [object, iids] : faces) {
        ComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
        for (const IID& iid : iids)
            EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(iid));
    }

    // Through IDispatch the description arrives with the exception.
    ComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, connection.As(&disp));
    UniqueBstr missing(SysAllocString(L"No such table"));
    VARIANT name;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = missing.Get();
    VARIANT result;
    VariantInit(&result);
    std::wstring description;
    EXPECT_EQ(E_FAIL, Call(disp.Get(), L"GetTableByName", {name}, &result, &description));
    EXPECT_FALSE(description.empty());
    EXPECT_NE(L"Unknown Error", description);
    ComPtr<IDispatch> recordDisp;
    ASSERT_EQ(S_OK, record.As(&recordDisp));
    VARIANT field, value;
    V_VT(&field) = VT_I4;
    V_I4(&field) = kFlags;
    V_VT(&value) = VT_I4;
    V_I4(&value) = 1;
    description.clear();
    EXPECT_EQ(E_FAIL,
              Call(recordDisp.Get(), L"SetDword", {field, value}, &result, &description)); // read only
    EXPECT_FALSE(description.empty());

    // Through the custom face the error object is there for the caller to take.
    SetErrorInfo(0, nullptr);
    ComPtr<IZvDBTable> none;
    EXPECT_EQ(E_FAIL, connection->GetTableByName(const_cast<char*>("No such table"), &none));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    UniqueBstr text;
    ASSERT_EQ(S_OK, info->GetDescription(text.Put()));
    EXPECT_GT(SysStringLen(text.Get()), 0u);
    EXPECT_EQ(E_POINTER, table->GetFormat(static_cast<IZvDBRecordFormat**>(nullptr)));
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
}

TEST_F(ZvDBTest, TheKeyCursorOfTheDispatchTwinTakesAOneDimensionalArrayOfLongs) {
    const std::string catalog = CopyFixture("mail", "keyarray");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, connection.As(&disp));

    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 3);
    for (LONG i = 0; i < 3; ++i) {
        LONG key = 5 - 2 * i; // 5, 3, 1
        SafeArrayPutElement(longs, &i, &key);
    }
    VARIANT array;
    VariantInit(&array);
    V_VT(&array) = VT_ARRAY | VT_I4;
    V_ARRAY(&array) = longs;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, Call(disp.Get(), L"OpenKeyCursor", {Unknown(table.Get()), array}, &result));
    ASSERT_EQ(VT_UNKNOWN, V_VT(&result));
    ComPtr<IZvDBCursor> cursor;
    ASSERT_EQ(S_OK, V_UNKNOWN(&result)->QueryInterface(IID_IZvDBCursor, reinterpret_cast<void**>(&cursor)));
    VariantClear(&result);
    long rows = 0, index = 0;
    EXPECT_EQ(S_OK, cursor->GetRecordCount(&rows));
    EXPECT_EQ(3, rows);
    EXPECT_EQ(S_OK, cursor->GetIndexByKey(1, &index));
    EXPECT_EQ(2, index);

    // Arrays of another element type or dimension count, and non-arrays, are refused.
    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 1);
    VARIANT wrong;
    V_VT(&wrong) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&wrong) = texts;
    EXPECT_EQ(E_FAIL, Call(disp.Get(), L"OpenKeyCursor", {Unknown(table.Get()), wrong}, &result));
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* square = SafeArrayCreate(VT_I4, 2, bounds);
    V_VT(&wrong) = VT_ARRAY | VT_I4;
    V_ARRAY(&wrong) = square;
    EXPECT_EQ(E_FAIL, Call(disp.Get(), L"OpenKeyCursor", {Unknown(table.Get()), wrong}, &result));
    VARIANT number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 1;
    EXPECT_EQ(E_FAIL, Call(disp.Get(), L"OpenKeyCursor", {Unknown(table.Get()), number}, &result));
    SafeArrayDestroy(longs), SafeArrayDestroy(texts), SafeArrayDestroy(square);

    // A record reached through IDispatch answers the second twin.
    ComPtr<IZvDBRecord> record;
    ASSERT_EQ(S_OK, cursor->GetAt(0, &record));
    ComPtr<IZvDBRecordDisp2> twin;
    ASSERT_EQ(S_OK, record.As(&twin));
    unsigned long ref = 0;
    EXPECT_EQ(S_OK, twin->GetRef(kFolder, &ref));
    EXPECT_EQ(2u, ref);
    VARIANT_BOOL flag = VARIANT_FALSE;
    EXPECT_EQ(S_OK, twin->GetBool(kRead, &flag));
    EXPECT_EQ(VARIANT_TRUE, flag);
    UniqueBstr subject;
    EXPECT_EQ(S_OK, twin->GetString(kSubject, subject.Put()));
    EXPECT_STREQ(L"Box label exactly", subject.Get());
}

// ---- scripts and other processes ----------------------------------------------------------------

long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
    tv::test::StartedProcess process;
    if (!process.Start(commandLine))
        return -2;
    return process.WaitForExit(timeoutMs);
}

std::wstring Quoted(const std::string& text) {
    return L"\"" + tv::com::FromAnsi(text) + L"\"";
}

TEST_F(ZvDBTest, AJScriptClientUsesEveryDispatchTwin) {
    const std::string catalog = CopyFixture("compare", "jscript");
    EXPECT_EQ(0, RunAndWait(L"cscript.exe //nologo " + Quoted(ExeFolderA() + "zvdb_client.js") + L" " +
                                Quoted(catalog),
                            120000));
}

std::wstring PeerCommand(const char* mode, const std::string& catalog, int count, int tag) {
    return Quoted(ExeFolderA() + "zvdb_peer.exe") + L" " + tv::com::FromAnsi(mode) + L" " + Quoted(catalog) +
           L" " + std::to_wstring(count) + L" " + std::to_wstring(tag);
}

TEST_F(ZvDBTest, TwoProcessesAddingToOneTableLoseAndDoubleNothing) {
    const std::string catalog = CopyFixture("compare", "twoprocesses");
    tv::test::StartedProcess one, two;
    ASSERT_TRUE(one.Start(PeerCommand("add", catalog, 120, 1)));
    ASSERT_TRUE(two.Start(PeerCommand("add", catalog, 120, 2)));
    EXPECT_EQ(0, one.WaitForExit(180000));
    EXPECT_EQ(0, two.WaitForExit(180000));

    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");
    ComPtr<IZvDBCursor> wide;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&wide));
    long rows = 0;
    EXPECT_EQ(S_OK, wide->GetRecordCount(&rows));
    ASSERT_EQ(2 + 240, rows);
    std::set<long> keys;
    std::set<unsigned long> tags;
    for (long i = 0; i < rows; ++i) {
        ComPtr<IZvDBRecord> record;
        ASSERT_EQ(S_OK, wide->GetAt(i, &record));
        long key = 0;
        record->GetKey(&key);
        keys.insert(key);
        const unsigned long tag = Dword(record.Get(), 1);
        if (i >= 2) {
            tags.insert(tag);
            EXPECT_EQ("peer " + std::to_string(tag),
                      Text(record.Get(), 0).substr(0, 5 + std::to_string(tag).size()));
        }
    }
    EXPECT_EQ(242u, keys.size());
    EXPECT_EQ(240u, tags.size());
    EXPECT_EQ(1u, *tags.begin() / 1000);
    EXPECT_EQ(2u, *tags.rbegin() / 1000);
}

// Another process renames a table while this one holds the catalog open; this one then removes the
// other table. Each sees the other's change, and the catalog keeps both.
TEST_F(ZvDBTest, TwoProcessesChangingOneCatalogKeepEachOthersChanges) {
    const std::string catalog = CopyFixture("mail", "twocatalogs");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ASSERT_TRUE(connection);
    ComPtr<IZvDBTable> folders = TableNamed(connection.Get(), "Folders");
    ASSERT_TRUE(folders);
    ASSERT_EQ(0, RunAndWait(PeerCommand("rename", catalog, 0, 0), 60000));

    ComPtr<IZvDBTable> letters, mail;
    EXPECT_EQ(S_OK, connection->GetTableByName(const_cast<char*>("Letters"), &letters));
    EXPECT_EQ(E_FAIL, connection->GetTableByName(const_cast<char*>("Mail"), &mail));
    EXPECT_EQ(S_OK, connection->RemoveTable(const_cast<char*>("Folders")));
    long count = 0, space = 0;
    EXPECT_EQ(S_OK, connection->GetTotalTables(&count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(E_FAIL, folders->GetTotalSpace(&space));
    const std::vector<uint8_t> bytes = FileBytes(catalog);
    ASSERT_GE(bytes.size(), 36u + 35);
    EXPECT_EQ(1u, Be32(bytes, 32));
    EXPECT_EQ(0x12345678u, Be32(bytes, 36));
    EXPECT_EQ(std::string("Letters"), std::string(reinterpret_cast<const char*>(bytes.data() + 40)));
    // The renamed table still reads by its new name.
    ASSERT_TRUE(letters);
    ComPtr<IZvDBCursor> cursor;
    ASSERT_EQ(S_OK, letters->OpenWideCursor(&cursor));
    long rows = 0;
    EXPECT_EQ(S_OK, cursor->GetRecordCount(&rows));
    EXPECT_EQ(3, rows);
}

TEST_F(ZvDBTest, AnotherProcessWaitsForTheTableLockAndSeesTheEditsMadeMeanwhile) {
    const std::string catalog = CopyFixture("compare", "lock");
    ComPtr<IZvDBConnection> connection = Open(catalog);
    ComPtr<IZvDBTable> table = TableNamed(connection.Get(), "Mail");

    // Our edit of key 1 is refused to our own other cursors, not to another process's.
    ComPtr<IZvDBCursor> editor, second;
    ComPtr<IZvDBRecord> mine, refused;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&editor));
    ASSERT_EQ(S_OK, editor->EditAt(0, &mine));
    long key = 1;
    ASSERT_EQ(S_OK, table->OpenKeyCursor(1, &key, &second));
    EXPECT_EQ(E_FAIL, second->EditAt(0, &refused));
    second = nullptr;

    tv::com::UniqueHandle lock(CreateMutexA(nullptr, FALSE, "TABLE_data_access"));
    ASSERT_TRUE(lock);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.Get(), 10000));
    tv::test::StartedProcess peer;
    ASSERT_TRUE(peer.Start(PeerCommand("edit", catalog, 1, 7)));
    EXPECT_EQ(-1, peer.WaitForExit(1500)); // held up by the lock
    ReleaseMutex(lock.Get());
    EXPECT_EQ(0, peer.WaitForExit(60000));

    // Our commit comes after the peer's; the table still holds each record once.
    ASSERT_EQ(S_OK, mine->SetDword(1, 4242));
    ASSERT_EQ(S_OK, mine->Commit());
    mine = nullptr;
    ComPtr<IZvDBCursor> wide;
    ASSERT_EQ(S_OK, table->OpenWideCursor(&wide));
    long rows = 0;
    EXPECT_EQ(S_OK, wide->GetRecordCount(&rows));
    EXPECT_EQ(2, rows);
    ComPtr<IZvDBRecord> record;
    ASSERT_EQ(S_OK, wide->GetAt(0, &record));
    EXPECT_EQ("edited by peer 7", Text(record.Get(), 0)); // the peer's text, our dword
    EXPECT_EQ(4242u, Dword(record.Get(), 1));
}

} // namespace
