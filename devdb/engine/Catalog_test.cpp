#include "TestDatabase.h"
#include <set>

using namespace tv::devdb;
using namespace tv::devdb::testing;

namespace {

RecordFormat WordFormat() {
    RecordFormat format;
    format.AddField("Word", kTypeWord, 0);
    return format;
}

// The first id a catalog opened at `tick` draws.
uint32_t FirstId(uint32_t tick) {
    uint32_t state = tick;
    auto next = [&] {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    };
    const uint32_t low = next();
    return low | next() << 16;
}

} // namespace

TEST(Catalog, AMissingCatalogIsCreatedEmpty) {
    TestDatabase db;
    ASSERT_TRUE(db.connection);
    const auto& bytes = db.platform.Bytes(kCatalogPath);
    ASSERT_EQ(bytes.size(), 36u);
    EXPECT_EQ(std::memcmp(bytes.data(), "ZvDB\0\0\0\1", 8), 0);
    EXPECT_EQ(LoadBe32(bytes.data() + 32), 0u);
}

TEST(Catalog, ACatalogThatCannotBeUsedIsNeverReplaced) {
    MemoryPlatform platform;
    Engine engine(platform);
    std::vector<uint8_t> wrongMagic = {'Z', 'v', 'D', 'X', 0, 0, 0, 1};
    wrongMagic.resize(36);
    platform.Put("a.db", wrongMagic);
    EXPECT_FALSE(engine.Open("a.db"));
    EXPECT_EQ(platform.Bytes("a.db"), wrongMagic);

    std::vector<uint8_t> wrongVersion = {'Z', 'v', 'D', 'B', 0, 0, 0, 2};
    wrongVersion.resize(36);
    platform.Put("b.db", wrongVersion);
    EXPECT_FALSE(engine.Open("b.db"));

    // A count of tables larger than the file holds.
    std::vector<uint8_t> truncated = {'Z', 'v', 'D', 'B', 0, 0, 0, 1};
    truncated.resize(36);
    truncated[35] = 3;
    platform.Put("c.db", truncated);
    EXPECT_FALSE(engine.Open("c.db"));
    EXPECT_EQ(platform.Bytes("c.db"), truncated);

    // An existing catalog that cannot be opened (access denied) is left alone.
    TestDatabase other;
    other.AddTable("Words", WordFormat());
    platform.Put("d.db", other.platform.Bytes(kCatalogPath));
    platform.DenyAccess("d.db");
    EXPECT_FALSE(engine.Open("d.db"));
    EXPECT_EQ(platform.Bytes("d.db"), other.platform.Bytes(kCatalogPath));
}

TEST(Catalog, TablesAreListedRenamedAndRemoved) {
    TestDatabase db;
    auto words = db.AddTable("Words", WordFormat());
    ASSERT_TRUE(words);
    EXPECT_FALSE(db.AddTable("Words", WordFormat()));
    ASSERT_TRUE(db.AddTable(std::string(40, 'L'), WordFormat()));
    const auto& bytes = db.platform.Bytes(kCatalogPath);
    EXPECT_EQ(LoadBe32(bytes.data() + 32), 2u);
    EXPECT_EQ(LoadBe32(bytes.data() + 36), words->Id());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 40), 5), std::string("Words", 5));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 75), 31), std::string(31, 'L'));

    char file[16];
    std::snprintf(file, sizeof file, "%08X.t", static_cast<unsigned>(words->Id()));
    EXPECT_EQ(words->Path(), std::string("C:\\db\\") + file);

    ASSERT_TRUE(db.connection->CatalogOf().RenameTable(words.get(), std::string(35, 'R')));
    EXPECT_EQ(words->Name(), std::string(31, 'R'));
    EXPECT_EQ(words->Path(), std::string("C:\\db\\") + file);
    ASSERT_TRUE(db.connection->CatalogOf().RemoveTable(std::string(31, 'R')));
    EXPECT_FALSE(db.platform.FileExists(words->Path()));
    EXPECT_EQ(LoadBe32(bytes.data() + 32), 1u);
    EXPECT_EQ(bytes.size(), 36u + 2 * 35); // the file is not shortened
}

TEST(Catalog, ANewIdIsDrawnAgainWhileItsFileExists) {
    MemoryPlatform platform;
    platform.SetTickCount(1234);
    const std::string taken = TableFilePath("C:\\db\\", FirstId(1234));
    platform.Put(taken, {1, 2, 3});
    Engine engine(platform);
    auto connection = engine.Open(kCatalogPath);
    ASSERT_TRUE(connection->CatalogOf().AddTable("Words", WordFormat(), 512, 0, 0));
    auto table = connection->CatalogOf().TableByName("Words");
    EXPECT_NE(table->Path(), taken);
    EXPECT_EQ(platform.Bytes(taken), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(table->IsValid());
}

TEST(Catalog, ConnectionsShareTheCatalogAndCloseAndDropFollowTheRules) {
    TestDatabase db;
    auto table = db.AddTable("Words", WordFormat());
    auto second = db.engine.Open(kCatalogPath);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->CatalogOf().TableByName("Words"), table);

    auto cursor = second->OpenWideCursor(table);
    EXPECT_FALSE(db.engine.Close(*second));
    EXPECT_TRUE(cursor->Close());
    EXPECT_TRUE(db.engine.Close(*second));
    EXPECT_FALSE(db.engine.Drop(kCatalogPath));
    EXPECT_TRUE(db.engine.Close(*db.connection));
    const std::string tablePath = table->Path();
    EXPECT_TRUE(db.engine.Drop(kCatalogPath));
    EXPECT_FALSE(db.platform.FileExists(tablePath));
    EXPECT_FALSE(db.platform.FileExists(kCatalogPath));
}

TEST(Catalog, ATableWhoseFileFailsItsChecksStaysListedAndInvalid) {
    TestDatabase db;
    auto table = db.AddTable("Words", WordFormat());
    const std::string path = table->Path();
    db.engine.Close(*db.connection);
    db.platform.Bytes(path)[8] ^= 1; // the id no longer matches
    auto connection = db.engine.Open(kCatalogPath);
    auto reopened = connection->CatalogOf().TableByName("Words");
    ASSERT_TRUE(reopened);
    EXPECT_FALSE(reopened->IsValid());
    EXPECT_FALSE(connection->OpenWideCursor(reopened));
    db.platform.Bytes(path)[8] ^= 1;
    EXPECT_TRUE(reopened->Reopen());
    EXPECT_TRUE(connection->OpenWideCursor(reopened) != nullptr);
}

TEST(Catalog, ANewIdIsDrawnAgainWhileTheCatalogListsIt) {
    MemoryPlatform platform;
    platform.SetTickCount(1234);
    // The catalog lists a table under the first id drawn at this tick; its file is gone.
    std::vector<uint8_t> bytes = {'Z', 'v', 'D', 'B', 0, 0, 0, 1};
    bytes.resize(32);
    const std::vector<uint8_t> list = SerializeTableList({{FirstId(1234), "Old"}});
    bytes.insert(bytes.end(), list.begin(), list.end());
    platform.Put(kCatalogPath, bytes);
    Engine engine(platform);
    auto connection = engine.Open(kCatalogPath);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->CatalogOf().AddTable("New", WordFormat(), 512, 0, 0));
    auto table = connection->CatalogOf().TableByName("New");
    ASSERT_TRUE(table);
    EXPECT_NE(table->Id(), FirstId(1234));
    EXPECT_TRUE(table->IsValid());
    std::vector<CatalogEntry> entries;
    const auto& file = platform.Bytes(kCatalogPath);
    ASSERT_TRUE(ParseCatalog(file.data(), file.size(), entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, FirstId(1234));
    EXPECT_EQ(entries[1].id, table->Id());
}

namespace {

std::vector<std::string> ListedNames(MemoryPlatform& platform) {
    std::vector<CatalogEntry> entries;
    const auto& file = platform.Bytes(kCatalogPath);
    if (!ParseCatalog(file.data(), file.size(), entries))
        return {"<damaged>"};
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.name);
    return names;
}

std::vector<std::string> TableNames(Catalog& catalog) {
    std::vector<std::string> names;
    for (size_t i = 0; i < catalog.TableCount(); ++i)
        names.push_back(catalog.TableAt(i)->Name());
    return names;
}

} // namespace

// Two engines on one disk stand for two processes, each with its own picture of the catalog. Every
// change starts from the catalog file as it is then, so neither undoes what the other did, and each
// sees the other's changes.
TEST(Catalog, TwoProcessesChangingOneCatalogKeepEachOthersChanges) {
    MemoryPlatform platform;
    Engine firstProcess(platform), secondProcess(platform);
    auto first = firstProcess.Open(kCatalogPath);
    ASSERT_TRUE(first->CatalogOf().AddTable("Mail", WordFormat(), 512, 0, 0));
    ASSERT_TRUE(first->CatalogOf().AddTable("Folders", WordFormat(), 512, 0, 0));
    auto mail = first->CatalogOf().TableByName("Mail");
    auto second = secondProcess.Open(kCatalogPath);
    ASSERT_EQ(TableNames(second->CatalogOf()), (std::vector<std::string>{"Mail", "Folders"}));

    // The second renames Mail; the first removes Folders and adds Drafts; the second adds Sent.
    ASSERT_TRUE(second->CatalogOf().RenameTable(second->CatalogOf().TableByName("Mail").get(), "Letters"));
    ASSERT_TRUE(first->CatalogOf().RemoveTable("Folders"));
    ASSERT_TRUE(first->CatalogOf().AddTable("Drafts", WordFormat(), 512, 0, 0));
    EXPECT_FALSE(second->CatalogOf().AddTable("Drafts", WordFormat(), 512, 0, 0)); // the name is taken
    ASSERT_TRUE(second->CatalogOf().AddTable("Sent", WordFormat(), 512, 0, 0));

    const std::vector<std::string> expected = {"Letters", "Drafts", "Sent"};
    EXPECT_EQ(ListedNames(platform), expected);
    EXPECT_EQ(TableNames(first->CatalogOf()), expected);
    EXPECT_EQ(TableNames(second->CatalogOf()), expected);
    // The first keeps its table object under the new name; the removed table is gone for both.
    EXPECT_EQ(first->CatalogOf().TableByName("Letters"), mail);
    EXPECT_FALSE(first->CatalogOf().Owns(nullptr));
    EXPECT_FALSE(second->CatalogOf().TableByName("Folders"));
    auto sent = first->CatalogOf().TableByName("Sent");
    ASSERT_TRUE(sent);
    EXPECT_TRUE(sent->IsValid());
    std::set<uint32_t> ids;
    for (const char* name : {"Letters", "Drafts", "Sent"})
        ids.insert(second->CatalogOf().TableByName(name)->Id());
    EXPECT_EQ(ids.size(), 3u); // the second process drew its ids against the whole list
}
