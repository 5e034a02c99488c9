#include "Catalog.h"
#include "ByteOrder.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tv::devdb {

namespace {

const uint8_t kCatalogMagic[4] = {'Z', 'v', 'D', 'B'};
// A table id is drawn again while it is taken; this many draws without a free one give up.
constexpr int kIdAttempts = 1000;

} // namespace

bool ParseCatalog(const uint8_t* data, uint64_t size, std::vector<CatalogEntry>& entries) {
    entries.clear();
    if (size < kCatalogHeaderSize || std::memcmp(data, kCatalogMagic, 4) != 0 || LoadBe32(data + 4) != 1)
        return false;
    const uint64_t count = LoadBe32(data + 32);
    if (count > (size - kCatalogHeaderSize) / kCatalogEntrySize)
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* e = data + kCatalogHeaderSize + i * kCatalogEntrySize;
        CatalogEntry entry;
        entry.id = LoadBe32(e);
        const char* name = reinterpret_cast<const char*>(e + 4);
        entry.name.assign(name, strnlen(name, kMaxNameLength));
        entries.push_back(std::move(entry));
    }
    return true;
}

std::vector<uint8_t> SerializeTableList(const std::vector<CatalogEntry>& entries) {
    std::vector<uint8_t> list(4 + entries.size() * kCatalogEntrySize, 0);
    StoreBe32(list.data(), static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = list.data() + 4 + i * kCatalogEntrySize;
        StoreBe32(e, entries[i].id);
        std::memcpy(e + 4, entries[i].name.data(), std::min(entries[i].name.size(), kMaxNameLength));
    }
    return list;
}

std::string TableFilePath(const std::string& folder, uint32_t id) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X.t", static_cast<unsigned>(id));
    return folder + name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Catalog::Catalog(DbPlatform& platform, std::string path)
    : platform_(platform), path_(std::move(path)), folder_(FolderOf(path_)) {}

bool Catalog::Open() {
    std::lock_guard<std::mutex> guard(mutex_);
    valid_ = false;
    randomState_ = platform_.TickCount();
    const OpenOutcome outcome = platform_.OpenFile(path_, OpenMode::Existing, file_);
    if (outcome == OpenOutcome::NotFound) {
        // Only a catalog that is not there is made; any other failure leaves the file alone.
        if (platform_.OpenFile(path_, OpenMode::CreateNew, file_) != OpenOutcome::Opened)
            return false;
        uint8_t header[kCatalogHeaderSize] = {'Z', 'v', 'D', 'B', 0, 0, 0, 1};
        if (!file_->Write(0, header, sizeof header) || !file_->Flush())
            return false;
        valid_ = true;
        return true;
    }
    if (outcome != OpenOutcome::Opened)
        return false;
    uint64_t size = 0;
    if (!file_->Size(size) || size < kCatalogHeaderSize || size > 0xFFFFFFFFull)
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    std::vector<CatalogEntry> entries;
    if (!file_->Read(0, bytes.data(), bytes.size()) || !ParseCatalog(bytes.data(), size, entries))
        return false;
    for (const CatalogEntry& entry : entries) {
        auto table =
            std::make_shared<Table>(platform_, entry.name, entry.id, TableFilePath(folder_, entry.id));
        table->Open(); // a table whose file fails its checks stays listed, not valid
        tables_.push_back(std::move(table));
    }
    valid_ = true;
    return true;
}

void Catalog::Close() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& table : tables_)
        table->Close();
    tables_.clear();
    file_.reset();
    valid_ = false;
}

size_t Catalog::TableCount() {
    std::lock_guard<std::mutex> guard(mutex_);
    return tables_.size();
}

std::shared_ptr<Table> Catalog::TableAt(size_t index) {
    std::lock_guard<std::mutex> guard(mutex_);
    return index < tables_.size() ? tables_[index] : nullptr;
}

std::shared_ptr<Table> Catalog::TableByName(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& table : tables_)
        if (table->Name() == name)
            return table;
    return nullptr;
}

bool Catalog::Owns(const Table* table) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& t : tables_)
        if (t.get() == table)
            return true;
    return false;
}

bool Catalog::WriteTableList() {
    std::vector<CatalogEntry> entries;
    for (auto& table : tables_)
        entries.push_back({table->Id(), table->Name()});
    const std::vector<uint8_t> list = SerializeTableList(entries);
    return file_ && file_->Write(32, list.data(), list.size()) && file_->Flush();
}

uint32_t Catalog::NextRandom() {
    randomState_ = randomState_ * 214013u + 2531011u;
    return (randomState_ >> 16) & 0x7FFF;
}

bool Catalog::IdInUse(uint32_t id) const {
    for (auto& table : tables_)
        if (table->Id() == id)
            return true;
    return false;
}

bool Catalog::AddTable(const std::string& name, const RecordFormat& format, int64_t initialSize,
                       int32_t growth, int64_t maxSize) {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string shortName = name.substr(0, kMaxNameLength);
    if (!valid_)
        return false;
    for (auto& table : tables_)
        if (table->Name() == shortName)
            return false;
    for (int attempt = 0; attempt < kIdAttempts; ++attempt) {
        const uint32_t low = NextRandom();
        const uint32_t id = low | NextRandom() << 16;
        const std::string path = TableFilePath(folder_, id);
        if (IdInUse(id) || platform_.FileExists(path))
            continue;
        const OpenOutcome created =
            Table::CreateFile(platform_, path, id, format, initialSize, growth, maxSize);
        if (created == OpenOutcome::AlreadyExists)
            continue;
        if (created != OpenOutcome::Opened)
            return false;
        auto table = std::make_shared<Table>(platform_, shortName, id, path);
        if (!table->Open()) {
            platform_.RemoveFile(path);
            return false;
        }
        tables_.push_back(std::move(table));
        return WriteTableList();
    }
    return false;
}

bool Catalog::RemoveTable(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = std::find_if(tables_.begin(), tables_.end(), [&](auto& t) { return t->Name() == name; });
    if (it == tables_.end())
        return false;
    (*it)->Close();
    platform_.RemoveFile((*it)->Path());
    tables_.erase(it);
    return WriteTableList();
}

bool Catalog::RenameTable(Table* table, const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& t : tables_) {
        if (t.get() == table) {
            t->SetName(name.substr(0, kMaxNameLength));
            return WriteTableList();
        }
    }
    return false;
}

bool Catalog::RemoveAllTables() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& table : tables_) {
        table->Close();
        platform_.RemoveFile(table->Path());
    }
    tables_.clear();
    return WriteTableList();
}

} // namespace tv::devdb
