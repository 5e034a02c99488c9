#include "PosixPlatform.h"
#include "TestDatabase.h"
#include <sys/mman.h>

using namespace tv::devdb;
using namespace tv::devdb::testing;

namespace {

RecordFormat NumberAndText() {
    RecordFormat format;
    format.AddField("Number", kTypeDword, 0);
    format.AddField("Text", kTypeText, 0);
    return format;
}

struct CursorTest : ::testing::Test {
    TestDatabase db;
    std::shared_ptr<Table> table;

    void SetUp() override {
        table = db.AddTable("Rows", NumberAndText());
        for (uint32_t n = 1; n <= 4; ++n)
            AddRecord(*db.connection, table, [&](Record& r) {
                r.SetNumber(0, kTypeDword, n * 10);
                r.SetText(1, "row " + std::to_string(n));
            });
    }
};

} // namespace

TEST_F(CursorTest, ConditionCursorSkipsRowsOpenForEditing) {
    auto editor = db.connection->OpenKeyCursor(table, {2});
    auto edited = editor->EditAt(0);
    ASSERT_TRUE(edited);
    auto even = db.connection->OpenConditionCursor(table, [](const std::shared_ptr<Record>& r) {
        uint32_t n = 0;
        r->GetNumber(0, kTypeDword, n);
        return n % 20 == 0;
    });
    ASSERT_TRUE(even);
    ASSERT_EQ(even->RowCount(), 1u); // key 2 is being edited
    EXPECT_EQ(even->IndexOfKey(4), 0);
    EXPECT_EQ(even->IndexOfKey(2), -1);
    edited->Release();
    even->Close();
    editor->Close();
}

TEST_F(CursorTest, AConditionThatCommitsMeanwhileSeesTheFileAsItIsNow) {
    // The walk reads from one copy of the file; a commit made by the test itself ends that copy.
    std::vector<std::string> seen;
    auto cursor = db.connection->OpenConditionCursor(table, [&](const std::shared_ptr<Record>& r) {
        std::string text;
        r->GetText(1, text);
        seen.push_back(text);
        if (r->Key() == 1) {
            auto other = db.connection->OpenKeyCursor(table, {3});
            auto row = other->EditAt(0);
            row->SetText(1, std::string(3000, 'n')); // grows the file and compacts it
            EXPECT_TRUE(row->Commit());
            row->Release();
            other->Close();
        }
        return true;
    });
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->RowCount(), 4u);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], "row 2");
    EXPECT_EQ(seen[2], std::string(3000, 'n'));
    EXPECT_EQ(seen[3], "row 4");
    cursor->Close();
}

TEST_F(CursorTest, EditRefusals) {
    auto first = db.connection->OpenWideCursor(table);
    auto second = db.connection->OpenKeyCursor(table, {3, 99});
    EXPECT_FALSE(first->EditAt(2)); // key 3 is listed by the other cursor
    EXPECT_FALSE(first->RemoveAt(2));
    auto record = first->EditAt(0);
    ASSERT_TRUE(record);
    auto again = db.connection->OpenKeyCursor(table, {1});
    EXPECT_FALSE(again->EditAt(0)); // being edited
    EXPECT_FALSE(second->GetAt(1)); // key 99 is not in the table
    auto reader = second->GetAt(0);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->SetNumber(0, kTypeDword, 1));
    EXPECT_FALSE(reader->SetText(1, "x"));
    EXPECT_FALSE(second->Close()); // a record is out
    EXPECT_TRUE(reader->Release());
    EXPECT_FALSE(reader->Release());
    EXPECT_TRUE(second->Close());
    EXPECT_TRUE(again->Close());
    EXPECT_FALSE(first->RemoveAt(0)); // being edited
    record->Release();
    EXPECT_TRUE(first->RemoveAt(0));
    EXPECT_TRUE(first->Close());
}

TEST_F(CursorTest, TypedAccessChecksTheKind) {
    auto cursor = db.connection->OpenWideCursor(table);
    auto record = cursor->EditAt(0);
    uint32_t value = 5;
    EXPECT_FALSE(record->GetNumber(0, kTypeWord, value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(record->SetNumber(0, kTypeWord, 1));
    EXPECT_FALSE(record->GetNumber(7, kTypeDword, value));
    EXPECT_EQ(record->FieldSize(0), 4u);
    EXPECT_EQ(record->FieldSize(1), 5u);
    EXPECT_EQ(record->FieldSize(9), 0u);
    EXPECT_TRUE(record->SetText(1, "longer text"));
    EXPECT_EQ(record->FieldSize(1), 11u);
    record->Release();
    cursor->Close();
}

TEST_F(CursorTest, ListenersHearAddsChangesAndRemovals) {
    std::vector<std::pair<uint32_t, uint32_t>> heard;
    const int cookie = table->AddListener([&](const std::string& name, uint32_t event, uint32_t key) {
        EXPECT_EQ(name, "Rows");
        heard.emplace_back(event, key);
    });
    AddRecord(*db.connection, table, [](Record& r) { r.SetNumber(0, kTypeDword, 1); });
    auto cursor = db.connection->OpenWideCursor(table);
    auto record = cursor->EditAt(0);
    record->SetNumber(0, kTypeDword, 2);
    record->Commit();
    record->Release();
    cursor->RemoveAt(1);
    cursor->Close();
    table->RemoveListener(cookie);
    AddRecord(*db.connection, table, [](Record&) {});
    EXPECT_EQ(heard, (std::vector<std::pair<uint32_t, uint32_t>>{{0x10001, 5}, {0x10003, 1}, {0x10002, 2}}));
}

// The fixture writer's mail database, read through the engine on disk.
TEST(Fixture, TheWritersMailDatabaseReadsBack) {
    PosixPlatform platform;
    Engine engine(platform);
    auto connection = engine.Open(DEVDB_FIXTURE_DIR "email.db");
    ASSERT_TRUE(connection);
    ASSERT_EQ(connection->CatalogOf().TableCount(), 2u);
    auto mail = connection->CatalogOf().TableByName("Mail");
    ASSERT_TRUE(mail && mail->IsValid());
    auto cursor = connection->OpenWideCursor(mail);
    ASSERT_EQ(cursor->RowCount(), 3u);
    EXPECT_EQ(cursor->IndexOfKey(5), 2);
    auto record = cursor->GetAt(2);
    std::string text;
    uint32_t n = 0;
    EXPECT_TRUE(record->GetText(0, text));
    EXPECT_EQ(text, "Box label exactly");
    EXPECT_TRUE(record->GetText(2, text));
    EXPECT_EQ(text, "Outbox123456"); // fills its field: no terminator
    EXPECT_TRUE(record->GetText(4, text));
    EXPECT_EQ(text, "eve@example.com");
    EXPECT_TRUE(record->GetNumber(1, kTypeDword, n));
    EXPECT_EQ(n, 65536u);
    EXPECT_TRUE(record->GetNumber(5, kTypeWord, n));
    EXPECT_EQ(n, 65535u);
    EXPECT_TRUE(record->GetNumber(7, kTypeByte, n));
    EXPECT_EQ(n, 255u);
    EXPECT_TRUE(record->GetNumber(8, kTypeReference, n));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(record->FieldSize(9), 4u);
    record->Release();
    record = cursor->GetAt(1);
    EXPECT_TRUE(record->GetText(4, text));
    EXPECT_EQ(text, ""); // a list slot never stored
    EXPECT_EQ(record->FieldSize(10), 0u);
    record->Release();
    record = cursor->GetAt(0);
    EXPECT_EQ(record->FieldSize(10), 2u);
    record->Release();
    EXPECT_TRUE(cursor->Close());
    EXPECT_EQ(mail->Format().FieldAt(8)->parameter, connection->CatalogOf().TableByName("Folders")->Id());
    EXPECT_TRUE(engine.Close(*connection));
}

// A condition that commits during the walk may compact the table, which moves the slots after a
// deleted one: every row is still tested with its own record.
TEST_F(CursorTest, AConditionThatCompactsTheTableStillTestsEachRowWithItsOwnRecord) {
    auto remover = db.connection->OpenKeyCursor(table, {2});
    ASSERT_TRUE(remover->RemoveAt(0)); // a deleted slot in the middle, dropped by a compaction
    remover->Close();
    const uint64_t generation = table->Generation();
    std::vector<std::pair<uint32_t, std::string>> seen;
    auto cursor = db.connection->OpenConditionCursor(table, [&](const std::shared_ptr<Record>& r) {
        std::string text;
        uint32_t n = 0;
        r->GetText(1, text);
        r->GetNumber(0, kTypeDword, n);
        seen.emplace_back(r->Key(), text.substr(0, 5) + " " + std::to_string(n));
        if (r->Key() == 1) {
            auto other = db.connection->OpenKeyCursor(table, {4});
            auto row = other->EditAt(0);
            row->SetText(1, std::string(5000, 'n')); // more than the room: the table grows and is compacted
            EXPECT_TRUE(row->Commit());
            row->Release();
            other->Close();
        }
        return true;
    });
    ASSERT_TRUE(cursor);
    EXPECT_NE(table->Generation(), generation);
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, std::string>>{
                        {1, "row 1 10"}, {3, "row 3 30"}, {4, "nnnnn 40"}}));
    EXPECT_EQ(cursor->RowCount(), 3u);
    EXPECT_EQ(cursor->IndexOfKey(3), 1);
    cursor->Close();
}

// A text longer than an out-of-line entry can hold (its length has 31 bits) is refused as it is
// set, before it is copied. The text is a view of zero pages, so that it costs no memory.
TEST_F(CursorTest, ATextLongerThanAnEntryCanHoldIsRefused) {
    const size_t size = static_cast<size_t>(kMaxEntryLength) + 1;
    void* zeros = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    auto cursor = db.connection->OpenNullCursor(table);
    auto record = cursor->Add();
    EXPECT_FALSE(record->SetText(1, std::string_view(static_cast<const char*>(zeros), size)));
    EXPECT_EQ(record->FieldSize(1), 0u);
    EXPECT_TRUE(record->SetText(1, "short"));
    EXPECT_TRUE(record->Commit());
    record->Release();
    cursor->Close();
    munmap(zeros, size);
}
