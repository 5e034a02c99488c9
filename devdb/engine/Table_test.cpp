// Round trips through the engine, with the file's bytes checked against the layout and against
// files the independent fixture writer makes.
#include "TestDatabase.h"
#include <cstdio>
#include <fstream>
#include <iterator>

using namespace tv::devdb;
using namespace tv::devdb::testing;

namespace {

RecordFormat MailFormat() {
    RecordFormat format;
    format.AddField("Subject", kTypeText, 0);
    format.AddField("Flags", kTypeDword, 0);
    format.AddField("To", kTypeListText, 0);
    format.AddField("From", kTypeListText, 0);
    return format;
}

std::string Subject(Record& record) {
    std::string text;
    record.GetText(0, text);
    return text;
}

uint32_t AddMail(TestDatabase& db, const std::shared_ptr<Table>& table, const std::string& subject,
                 uint32_t flags = 0, const std::string& to = "") {
    return AddRecord(*db.connection, table, [&](Record& r) {
        r.SetText(0, subject);
        r.SetNumber(1, kTypeDword, flags);
        if (!to.empty())
            r.SetText(2, to);
    });
}

// Every live record's subject, in slot order, read through a fresh engine over the same bytes.
std::vector<std::string> SubjectsAfterReopen(TestDatabase& db, const std::string& tableName) {
    MemoryPlatform platform;
    for (const std::string& path :
         {std::string(kCatalogPath), db.connection->CatalogOf().TableByName(tableName)->Path()})
        platform.Put(path, db.platform.Bytes(path));
    Engine engine(platform);
    auto connection = engine.Open(kCatalogPath);
    auto table = connection->CatalogOf().TableByName(tableName);
    std::vector<std::string> subjects;
    if (!table || !table->IsValid())
        return {"<invalid>"};
    auto cursor = connection->OpenWideCursor(table);
    for (size_t i = 0; i < cursor->RowCount(); ++i) {
        auto record = cursor->GetAt(i);
        subjects.push_back(Subject(*record));
        record->Release();
    }
    cursor->Close();
    return subjects;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(Table, RecordsWrittenByTheEngineMatchTheFixtureWriterByteForByte) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 4096);
    ASSERT_TRUE(table);
    EXPECT_EQ(AddMail(db, table, "Hello", 7, "ann@example.com"), 1u);
    EXPECT_EQ(AddRecord(*db.connection, table,
                        [](Record& r) {
                            r.SetText(0, "Second");
                            r.SetText(3, "bob@example.com");
                        }),
              2u);

    // The fixture holds the same records under the id a catalog opened at tick 1 draws first.
    ASSERT_EQ(table->Id(), 1210253353u);
    const std::string dir = DEVDB_FIXTURE_DIR "../compare/";
    char name[16];
    std::snprintf(name, sizeof name, "%08X.t", static_cast<unsigned>(table->Id()));
    EXPECT_EQ(db.FileOf(table), ReadFile(dir + name));
    EXPECT_EQ(db.platform.Bytes(kCatalogPath), ReadFile(dir + "email.db"));
}

TEST(Table, RemovingTheLastOfThreeGivesItsSlotToTheNextAdd) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat());
    for (const char* s : {"a", "b", "c"})
        AddMail(db, table, s);
    auto cursor = db.connection->OpenWideCursor(table);
    ASSERT_TRUE(cursor->RemoveAt(2));
    cursor->Close();
    auto& file = db.FileOf(table);
    EXPECT_EQ(SlotFlags(file, MailFormat(), 1), 0x4000);
    EXPECT_EQ(AddMail(db, table, "d"), 4u);
    EXPECT_EQ(SlotKey(file, MailFormat(), 2), 4u);
    EXPECT_EQ(SlotFlags(file, MailFormat(), 1), 0);
    EXPECT_EQ(SlotFlags(file, MailFormat(), 2), 0x4000);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), (std::vector<std::string>{"a", "b", "d"}));
}

TEST(Table, RemovingTheMiddleLeavesADeletedSlotThatAReopenStillWalks) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat());
    for (const char* s : {"a", "b", "c"})
        AddMail(db, table, s);
    auto cursor = db.connection->OpenWideCursor(table);
    ASSERT_TRUE(cursor->RemoveAt(1));
    cursor->Close();
    EXPECT_EQ(SlotFlags(db.FileOf(table), MailFormat(), 1), 0x8000);
    TableLayout layout;
    const auto& file = db.FileOf(table);
    ASSERT_TRUE(ParseTable(file.data(), file.size(), table->Id(), layout));
    EXPECT_EQ(layout.slots.size(), 3u);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), (std::vector<std::string>{"a", "c"}));
}

// Four records; the first, the third and then the last removed; an edit that compacts. Stale slots
// must not come back as live, and no key may be seen twice.
TEST(Table, CompactionFlagsTheLastKeptSlotOnly) {
    TestDatabase db;
    RecordFormat format = MailFormat();
    auto table = db.AddTable("Mail", format, 1024, 512);
    for (const char* s : {"one", "two", "three", "four"})
        AddMail(db, table, std::string(60, s[0]) + s);
    auto cursor = db.connection->OpenWideCursor(table);
    ASSERT_TRUE(cursor->RemoveAt(0)); // key 1
    ASSERT_TRUE(cursor->RemoveAt(1)); // key 3
    ASSERT_TRUE(cursor->RemoveAt(1)); // key 4, the last slot
    ASSERT_EQ(cursor->RowCount(), 1u);
    // Grow the surviving record's text until the gap runs out and the commit compacts.
    auto record = cursor->EditAt(0);
    const uint64_t generation = table->Generation();
    for (int round = 0; table->Generation() == generation && round < 20; ++round) {
        ASSERT_TRUE(record->SetText(0, std::string(80 + round * 40, 'x')));
        ASSERT_TRUE(record->Commit());
    }
    ASSERT_NE(table->Generation(), generation);
    const std::string last = Subject(*record);
    record->Release();
    cursor->Close();

    const auto& file = db.FileOf(table);
    EXPECT_EQ(SlotKey(file, format, 0), 2u);
    EXPECT_EQ(SlotFlags(file, format, 0), 0x4000);
    TableLayout layout;
    ASSERT_TRUE(ParseTable(file.data(), file.size(), table->Id(), layout));
    ASSERT_EQ(layout.slots.size(), 1u);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), std::vector<std::string>{last});
    // With nothing kept, the placeholder slot stands flagged deleted and last at the data start.
    auto all = db.connection->OpenWideCursor(table);
    ASSERT_TRUE(all->RemoveAt(0));
    all->Close();
    ASSERT_TRUE(table->Compact());
    EXPECT_EQ(SlotFlags(file, format, 0), 0xC000);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), std::vector<std::string>{});
}

TEST(Table, ARecordReadBeforeACompactionReloadsItsReferences) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 1024, 512);
    AddMail(db, table, "first subject", 1, "to-first");
    AddMail(db, table, std::string(100, 'b'));
    AddMail(db, table, "third");
    auto cursor = db.connection->OpenWideCursor(table);
    auto reader = cursor->GetAt(2);
    ASSERT_TRUE(cursor->RemoveAt(1));
    auto writer = cursor->EditAt(0);
    // Free space left by the removal is only reached by compacting.
    const uint64_t generation = table->Generation();
    for (int round = 0; table->Generation() == generation && round < 20; ++round) {
        writer->SetText(0, std::string(50 + round * 50, 'w'));
        ASSERT_TRUE(writer->Commit());
    }
    ASSERT_NE(table->Generation(), generation);
    EXPECT_EQ(Subject(*reader), "third");
    writer->Release();
    reader->Release();
    cursor->Close();
}

TEST(Table, ACommitAfterACompactionFreesTheEntryTheFileHoldsNow) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 1024, 512);
    AddMail(db, table, std::string(200, 'a'), 0, "to-a");
    AddMail(db, table, std::string(200, 'b'));
    AddMail(db, table, "c", 0, "to-c");
    auto cursor = db.connection->OpenWideCursor(table);
    auto edited = cursor->EditAt(2); // read before the compaction
    ASSERT_TRUE(cursor->RemoveAt(1));
    ASSERT_TRUE(table->Compact()); // moves the entries of the records still there
    ASSERT_TRUE(edited->SetText(0, "c, edited"));
    ASSERT_TRUE(edited->Commit()); // frees its old subject where it is now
    edited->Release();
    cursor->Close();
    ASSERT_TRUE(table->Compact());
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"),
              (std::vector<std::string>{std::string(200, 'a'), "c, edited"}));
    auto check = db.connection->OpenWideCursor(table);
    auto record = check->GetAt(1);
    std::string to;
    record->GetText(2, to);
    EXPECT_EQ(to, "to-c");
    record->Release();
    check->Close();
}

TEST(Table, GrowthStepsAndTheSizeLimit) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 512, 300);
    AddMail(db, table, std::string(200, 'a'));
    const size_t before = db.FileOf(table).size();
    ASSERT_EQ(before, 512u);
    ASSERT_NE(AddMail(db, table, std::string(400, 'b')), 0u);
    const size_t grown = db.FileOf(table).size();
    EXPECT_GT(grown, before + 400);
    EXPECT_EQ((grown - before) % 300, 0u);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"),
              (std::vector<std::string>{std::string(200, 'a'), std::string(400, 'b')}));

    // A limit that the growth would pass: the commit fails and the file stays as it was.
    auto limited = db.AddTable("Limited", MailFormat(), 512, 300, 600);
    AddMail(db, limited, std::string(200, 'a'));
    const std::vector<uint8_t> unchanged = db.FileOf(limited);
    EXPECT_EQ(AddMail(db, limited, std::string(400, 'b')), 0u);
    EXPECT_EQ(db.FileOf(limited), unchanged);

    // A growth step of 0 or less: the file does not grow.
    for (int32_t step : {0, -5}) {
        auto fixed = db.AddTable("Fixed" + std::to_string(step), MailFormat(), 512, step);
        AddMail(db, fixed, std::string(200, 'a'));
        const std::vector<uint8_t> same = db.FileOf(fixed);
        EXPECT_EQ(AddMail(db, fixed, std::string(400, 'b')), 0u);
        EXPECT_EQ(db.FileOf(fixed), same);
    }
}

TEST(Table, ValuesAreStoredInTheDeviceByteOrder) {
    TestDatabase db;
    RecordFormat format;
    format.AddField("Bool", kTypeBool, 0);
    format.AddField("Word", kTypeWord, 0);
    format.AddField("Dword", kTypeDword, 0);
    format.AddReferenceField("Ref", 42);
    format.AddField("Fixed", kTypeFixedText, 4);
    auto table = db.AddTable("Values", format);
    AddRecord(*db.connection, table, [](Record& r) {
        EXPECT_TRUE(r.SetNumber(0, kTypeBool, 1));
        EXPECT_TRUE(r.SetNumber(1, kTypeWord, 0x1234));
        EXPECT_TRUE(r.SetNumber(2, kTypeDword, 0x89ABCDEF));
        EXPECT_TRUE(r.SetNumber(3, kTypeReference, 0x01020304));
        EXPECT_FALSE(r.SetNumber(2, kTypeWord, 1));
        EXPECT_TRUE(r.SetText(4, "abcdef"));
    });
    const auto& file = db.FileOf(table);
    const uint32_t dataStart = LoadBe32(file.data() + 12);
    const uint8_t expected[] = {0,    0,    0, 1, 0x40, 0, 1,   0x12, 0x34, 0x89, 0xAB,
                                0xCD, 0xEF, 1, 2, 3,    4, 'a', 'b',  'c',  'd'};
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + dataStart, file.begin() + dataStart + sizeof expected),
              std::vector<uint8_t>(expected, expected + sizeof expected));
}

namespace {

// The bytes of a table file outside its gap: the header, format and slots, and the out-of-line
// area. What a commit writes into the gap is not part of the table until a slot refers to it.
std::vector<uint8_t> OutsideTheGap(const std::vector<uint8_t>& file, uint32_t id) {
    TableLayout layout;
    if (!ParseTable(file.data(), file.size(), id, layout))
        return {};
    std::vector<uint8_t> kept(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(layout.SlotAreaEnd()));
    kept.insert(kept.end(), file.begin() + static_cast<std::ptrdiff_t>(layout.bottom), file.end());
    return kept;
}

std::string ListText(Record& record, size_t field) {
    std::string text;
    record.GetText(field, text);
    return text;
}

} // namespace

// Every write of a commit fails in turn. A commit that reports failure leaves the table as it was
// (a compaction keeps every value), and the same record commits on the next try; one that
// reports success holds the new values.
TEST(Table, ACommitThatFailsAtAnyWriteLeavesTheTableAsItWasAndCanBeTriedAgain) {
    for (const bool adding : {false, true}) {
        bool reachedTheEnd = false;
        for (int step = 1; !reachedTheEnd && step < 20; ++step) {
            SCOPED_TRACE((adding ? "add, write " : "edit, write ") + std::to_string(step));
            TestDatabase db;
            auto table = db.AddTable("Mail", MailFormat(), 4096, 1024);
            AddMail(db, table, "first subject", 1, "to-first");
            AddMail(db, table, "second", 2, "to-second");
            const std::vector<uint8_t> before = OutsideTheGap(db.FileOf(table), table->Id());
            auto cursor =
                adding ? db.connection->OpenNullCursor(table) : db.connection->OpenKeyCursor(table, {1});
            auto record = adding ? cursor->Add() : cursor->EditAt(0);
            ASSERT_TRUE(record);
            record->SetText(0, "new subject");
            record->SetText(2, "to-new");
            db.platform.FailWrite(step);
            const int writes = db.platform.Writes();
            const bool committed = record->Commit();
            reachedTheEnd = db.platform.Writes() - writes < step;
            db.platform.FailWrite(0);
            const std::vector<std::string> old = {"first subject", "second"};
            const std::vector<std::string> done =
                adding ? std::vector<std::string>{"first subject", "second", "new subject"}
                       : std::vector<std::string>{"new subject", "second"};
            if (!committed) {
                EXPECT_EQ(OutsideTheGap(db.FileOf(table), table->Id()), before);
                ASSERT_TRUE(table->Compact());
                EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), old);
                ASSERT_TRUE(record->Commit());
            }
            EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), done);
            record->Release();
            cursor->Close();
            ASSERT_TRUE(table->Compact());
            EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), done);
            auto check = db.connection->OpenWideCursor(table);
            auto row = check->GetAt(adding ? 2 : 0);
            EXPECT_EQ(ListText(*row, 2), "to-new");
            row->Release();
            row = check->GetAt(1);
            EXPECT_EQ(ListText(*row, 2), "to-second");
            row->Release();
            check->Close();
        }
        EXPECT_TRUE(reachedTheEnd);
    }
}

// Every write of a removal fails in turn: the record is either still there with its values or
// gone, and a compaction afterwards keeps every other record.
TEST(Table, ARemovalThatFailsAtAnyWriteLeavesTheOtherRecordsWhole) {
    for (const size_t row : {size_t{1}, size_t{2}}) { // the middle slot, the last slot
        bool reachedTheEnd = false;
        for (int step = 1; !reachedTheEnd && step < 10; ++step) {
            SCOPED_TRACE("row " + std::to_string(row) + ", write " + std::to_string(step));
            TestDatabase db;
            auto table = db.AddTable("Mail", MailFormat(), 4096, 1024);
            for (const char* subject : {"one", "two", "three"})
                AddMail(db, table, subject, 0, std::string("to-") + subject);
            auto cursor = db.connection->OpenWideCursor(table);
            db.platform.FailWrite(step);
            const int writes = db.platform.Writes();
            const bool removed = cursor->RemoveAt(row);
            reachedTheEnd = db.platform.Writes() - writes < step;
            db.platform.FailWrite(0);
            cursor->Close();
            ASSERT_TRUE(table->Compact());
            std::vector<std::string> expected = {"one", "two", "three"};
            if (removed)
                expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(row));
            EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), expected);
            auto check = db.connection->OpenWideCursor(table);
            for (size_t i = 0; i < check->RowCount(); ++i) {
                auto record = check->GetAt(i);
                EXPECT_EQ(ListText(*record, 2), "to-" + Subject(*record));
                record->Release();
            }
            check->Close();
        }
        EXPECT_TRUE(reachedTheEnd);
    }
}

TEST(Table, ACommitOrRemovalWhoseFlushFailsIsReportedAsFailed) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat());
    ASSERT_NE(AddMail(db, table, "kept"), 0u);
    db.platform.FailFlushes(true);
    EXPECT_EQ(AddMail(db, table, "not on the disk"), 0u);
    auto cursor = db.connection->OpenWideCursor(table);
    auto record = cursor->EditAt(0);
    record->SetNumber(1, kTypeDword, 5);
    EXPECT_FALSE(record->Commit());
    record->Release();
    EXPECT_FALSE(cursor->RemoveAt(0));
    cursor->Close();
    db.platform.FailFlushes(false);
}

// A damaged growth step would grow the file by up to 2 GiB in one commit: a step beyond what any
// table needs is refused, and the file stays as it was.
TEST(Table, AGrowthStepBeyondTheLimitIsRefused) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 512, 32 << 20);
    AddMail(db, table, std::string(200, 'a'));
    const std::vector<uint8_t> unchanged = db.FileOf(table);
    EXPECT_EQ(AddMail(db, table, std::string(400, 'b')), 0u);
    EXPECT_EQ(db.FileOf(table), unchanged);
}

// Trimming packs the table and gives the space at its end back: the file shrinks by whole growth
// steps and every record reads back.
TEST(Table, TrimShortensTheFileAndKeepsEveryRecord) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 1024, 512);
    std::vector<std::string> kept;
    for (int i = 0; i < 40; ++i)
        AddMail(db, table, std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i), i,
                "to-" + std::to_string(i));
    auto cursor = db.connection->OpenWideCursor(table);
    for (size_t i = cursor->RowCount(); i-- > 0;)
        if (i % 4 != 0)
            ASSERT_TRUE(cursor->RemoveAt(i));
    cursor->Close();
    for (int i = 0; i < 40; i += 4)
        kept.push_back(std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i));
    const size_t grown = db.FileOf(table).size();
    ASSERT_TRUE(table->Trim());
    const size_t trimmed = db.FileOf(table).size();
    EXPECT_LT(trimmed, grown);
    EXPECT_EQ((grown - trimmed) % 512, 0u);
    uint64_t size = 0;
    ASSERT_TRUE(table->FileSize(size));
    EXPECT_EQ(size, trimmed);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), kept);
    auto check = db.connection->OpenWideCursor(table);
    for (size_t i = 0; i < check->RowCount(); ++i) {
        auto row = check->GetAt(i);
        EXPECT_EQ(ListText(*row, 2), "to-" + std::to_string(i * 4));
        row->Release();
    }
    check->Close();
    // Less than a growth step of room: nothing more to give back. The table still takes records.
    ASSERT_TRUE(table->Trim());
    EXPECT_EQ(db.FileOf(table).size(), trimmed);
    EXPECT_NE(AddMail(db, table, "after the trim"), 0u);
    kept.push_back("after the trim");
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), kept);
}

namespace {

// A mail table whose records carry long subjects: most of the file is its out-of-line area.
std::shared_ptr<Table> TableOfLongLetters(TestDatabase& db, int letters, int32_t growth = 1024) {
    auto table = db.AddTable("Mail", MailFormat(), 256 << 10, growth);
    for (int i = 0; i < letters; ++i)
        if (AddMail(db, table, std::string(6000, static_cast<char>('a' + i % 26)), i, "to") == 0)
            return nullptr;
    return table;
}

} // namespace

// Reading a table again after another writer (as opening it) reads its header, format and slots
// and the closing length of each live entry; the records are read when asked for.
TEST(Table, RefreshingAfterAnotherWriterReadsTheSlotsNotTheRecords) {
    TestDatabase db;
    auto table = TableOfLongLetters(db, 30);
    ASSERT_TRUE(table);
    const uint64_t size = db.FileOf(table).size();

    // Another writer's change: the next access reads the table again.
    Engine other(db.platform);
    auto connection = other.Open(kCatalogPath);
    auto theirs = connection->CatalogOf().TableByName("Mail");
    ASSERT_TRUE(theirs && theirs->IsValid());
    ASSERT_NE(AddRecord(*connection, theirs, [](Record& r) { r.SetText(0, "theirs"); }), 0u);
    const uint64_t read = db.platform.BytesRead();
    std::vector<uint32_t> keys;
    ASSERT_TRUE(table->LiveKeys(keys));
    EXPECT_EQ(keys.size(), 31u);
    EXPECT_LT(db.platform.BytesRead() - read, 8192u);
    EXPECT_GT(size, 30 * 6000u);
}

// A condition walk reads the slots and the out-of-line area a window at a time, never the file
// whole, and of a large record only what the condition asks for.
TEST(Table, AConditionWalkReadsTheFileAWindowAtATime) {
    TestDatabase db;
    auto table = TableOfLongLetters(db, 300);
    ASSERT_TRUE(table);
    const uint64_t size = db.FileOf(table).size();
    db.platform.ResetLargestRead();
    auto cursor = db.connection->OpenConditionCursor(table, [](const std::shared_ptr<Record>& record) {
        uint32_t flags = 0;
        return record->GetNumber(1, kTypeDword, flags) && flags % 2 == 1;
    });
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->RowCount(), 150u);
    EXPECT_LT(db.platform.LargestRead(), size / 4);
    cursor->Close();

    // A record far larger than a window is read by itself when the condition asks for it.
    auto big = db.AddTable("Big", MailFormat(), 4096, 4 << 20);
    ASSERT_NE(AddMail(db, big, std::string(3 << 20, 'x'), 1), 0u);
    db.platform.ResetLargestRead();
    auto reading = db.connection->OpenConditionCursor(big, [](const std::shared_ptr<Record>& record) {
        std::string subject;
        return record->GetText(0, subject) && subject.size() == (3u << 20);
    });
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->RowCount(), 1u);
    EXPECT_LT(db.platform.LargestRead(), (3u << 20) + 64);
    reading->Close();
}

// A commit that grows a table without holes moves the out-of-line area up to the new end and
// fixes the references (the very bytes a compaction writes, which the table image tests prove):
// it reads the slots and the area, not the whole file with its new growth step.
TEST(Table, AGrowthOfATableWithoutHolesReadsItsSlotsAndItsAreaOnly) {
    TestDatabase db;
    auto table = db.AddTable("Mail", MailFormat(), 2048, 256 << 10);
    std::vector<std::string> subjects;
    for (int i = 0; i < 4; ++i) {
        subjects.push_back(std::string(300, static_cast<char>('a' + i)));
        ASSERT_NE(AddMail(db, table, subjects.back(), i, "to-" + std::to_string(i)), 0u);
    }
    ASSERT_EQ(db.FileOf(table).size(), 2048u);
    const uint64_t read = db.platform.BytesRead();
    subjects.push_back(std::string(1500, 'g'));
    ASSERT_NE(AddMail(db, table, subjects.back(), 4, "to-4"), 0u);
    EXPECT_EQ(db.FileOf(table).size(), 2048u + (256u << 10));
    EXPECT_LT(db.platform.BytesRead() - read, 2048u);
    EXPECT_EQ(SubjectsAfterReopen(db, "Mail"), subjects);
    auto check = db.connection->OpenWideCursor(table);
    for (size_t i = 0; i < check->RowCount(); ++i) {
        auto row = check->GetAt(i);
        EXPECT_EQ(ListText(*row, 2), "to-" + std::to_string(i));
        row->Release();
    }
    check->Close();
}
