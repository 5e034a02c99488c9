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
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    valid_ = false;
    randomState_ = platform_.TickCount();
    if (!stamp_)
        stamp_ = platform_.OpenChangeStamp(path_);
    std::unique_ptr<DbFile> file;
    const OpenOutcome outcome = platform_.OpenFile(path_, OpenMode::Existing, file);
    if (outcome == OpenOutcome::NotFound) {
        // Only a catalog that is not there is made; any other failure leaves the file alone.
        if (platform_.OpenFile(path_, OpenMode::CreateNew, file) != OpenOutcome::Opened)
            return false;
        std::vector<uint8_t> header(kCatalogHeaderSize, 0);
        std::memcpy(header.data(), kCatalogMagic, 4);
        StoreBe32(header.data() + 4, 1);
        if (!file->Write(0, header.data(), header.size()) || !file->Flush())
            return false;
        bytes_ = std::move(header);
        seenStamp_ = stamp_ ? stamp_->Read() : 0;
        valid_ = true;
        return true;
    }
    if (outcome != OpenOutcome::Opened)
        return false;
    file.reset();
    valid_ = Reread();
    return valid_;
}

bool Catalog::ReadFile(std::vector<uint8_t>& bytes, std::vector<CatalogEntry>& entries) {
    std::unique_ptr<DbFile> file;
    uint64_t size = 0;
    if (platform_.OpenFile(path_, OpenMode::Existing, file) != OpenOutcome::Opened || !file->Size(size) ||
        size < kCatalogHeaderSize || size > 0xFFFFFFFFull)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return file->Read(0, bytes.data(), bytes.size()) && ParseCatalog(bytes.data(), size, entries);
}

bool Catalog::Reread() {
    if (stamp_)
        seenStamp_ = stamp_->Read();
    std::vector<uint8_t> bytes;
    std::vector<CatalogEntry> entries;
    if (!ReadFile(bytes, entries))
        return false;
    std::vector<std::shared_ptr<Table>> previous = std::move(tables_);
    tables_.clear();
    for (const CatalogEntry& entry : entries) {
        auto same =
            std::find_if(previous.begin(), previous.end(), [&](auto& t) { return t->Id() == entry.id; });
        if (same != previous.end()) {
            (*same)->SetName(entry.name);
            tables_.push_back(std::move(*same));
            previous.erase(same);
            continue;
        }
        auto table =
            std::make_shared<Table>(platform_, entry.name, entry.id, TableFilePath(folder_, entry.id));
        table->Open(); // a table whose file fails its checks stays listed, not valid
        tables_.push_back(std::move(table));
    }
    for (auto& gone : previous)
        gone->Close();
    bytes_ = std::move(bytes);
    return true;
}

void Catalog::RereadIfChanged() {
    if (!stamp_ || stamp_->Read() == seenStamp_)
        return;
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    if (valid_ && stamp_->Read() != seenStamp_)
        Reread();
}

void Catalog::Close() {
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& table : tables_)
        table->Close();
    tables_.clear();
    valid_ = false;
}

size_t Catalog::TableCount() {
    RereadIfChanged();
    std::lock_guard<std::mutex> guard(mutex_);
    return tables_.size();
}

std::shared_ptr<Table> Catalog::TableAt(size_t index) {
    RereadIfChanged();
    std::lock_guard<std::mutex> guard(mutex_);
    return index < tables_.size() ? tables_[index] : nullptr;
}

std::shared_ptr<Table> Catalog::TableByName(const std::string& name) {
    RereadIfChanged();
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& table : tables_)
        if (table->Name() == name)
            return table;
    return nullptr;
}

bool Catalog::Owns(const Table* table) {
    RereadIfChanged();
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& t : tables_)
        if (t.get() == table)
            return true;
    return false;
}

std::vector<CatalogEntry> Catalog::Entries() const {
    std::vector<CatalogEntry> entries;
    for (auto& table : tables_)
        entries.push_back({table->Id(), table->Name()});
    return entries;
}

bool Catalog::WriteList(const std::vector<CatalogEntry>& entries) {
    // The list replaces the one at offset 32; the header and any bytes after the list stay (the
    // file is never shortened).
    const std::vector<uint8_t> list = SerializeTableList(entries);
    std::vector<uint8_t> bytes = bytes_;
    if (bytes.size() < 32 + list.size())
        bytes.resize(32 + list.size());
    std::copy(list.begin(), list.end(), bytes.begin() + 32);
    // A reader opening the catalog meanwhile finds the old file or the new one, never half of one.
    const std::string temporary = path_ + ".new";
    platform_.RemoveFile(temporary); // left by a writer that stopped half-way
    std::unique_ptr<DbFile> file;
    if (platform_.OpenFile(temporary, OpenMode::CreateNew, file) != OpenOutcome::Opened)
        return false;
    const bool written = file->Write(0, bytes.data(), bytes.size()) && file->Flush();
    file.reset();
    if (!written || !platform_.MoveReplacing(temporary, path_)) {
        platform_.RemoveFile(temporary);
        return false;
    }
    bytes_ = std::move(bytes);
    if (stamp_) {
        stamp_->Raise();
        seenStamp_ = stamp_->Read();
    }
    return true;
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
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string shortName = name.substr(0, kMaxNameLength);
    if (!valid_ || !Reread())
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
        std::vector<CatalogEntry> entries = Entries();
        entries.push_back({id, shortName});
        if (!table->Open() || !WriteList(entries)) {
            table->Close();
            platform_.RemoveFile(path);
            return false;
        }
        tables_.push_back(std::move(table));
        return true;
    }
    return false;
}

bool Catalog::RemoveTable(const std::string& name) {
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    if (!valid_ || !Reread())
        return false;
    auto it = std::find_if(tables_.begin(), tables_.end(), [&](auto& t) { return t->Name() == name; });
    if (it == tables_.end())
        return false;
    std::vector<CatalogEntry> entries = Entries();
    entries.erase(entries.begin() + (it - tables_.begin()));
    if (!WriteList(entries))
        return false;
    (*it)->Close();
    platform_.RemoveFile((*it)->Path());
    tables_.erase(it);
    return true;
}

bool Catalog::RenameTable(Table* table, const std::string& name) {
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    if (!valid_ || !Reread())
        return false;
    // A table another process removed meanwhile is no longer listed.
    auto it = std::find_if(tables_.begin(), tables_.end(), [&](auto& t) { return t.get() == table; });
    if (it == tables_.end())
        return false;
    const std::string shortName = name.substr(0, kMaxNameLength);
    std::vector<CatalogEntry> entries = Entries();
    entries[static_cast<size_t>(it - tables_.begin())].name = shortName;
    if (!WriteList(entries))
        return false;
    (*it)->SetName(shortName);
    return true;
}

bool Catalog::RemoveAllTables() {
    LockHold hold(platform_.TableLock());
    std::lock_guard<std::mutex> guard(mutex_);
    if (!valid_ || !Reread() || !WriteList({}))
        return false;
    for (auto& table : tables_) {
        table->Close();
        platform_.RemoveFile(table->Path());
    }
    tables_.clear();
    return true;
}

} // namespace tv::devdb
