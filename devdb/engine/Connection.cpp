#include "Connection.h"
#include "Record.h"

namespace tv::devdb {

std::shared_ptr<Cursor> Connection::MakeCursor(const std::shared_ptr<Table>& table,
                                               std::vector<uint32_t> keys) {
    auto cursor = std::make_shared<Cursor>(table, shared_from_this(), std::move(keys));
    ++cursors_;
    return cursor;
}

std::shared_ptr<Cursor> Connection::OpenNullCursor(const std::shared_ptr<Table>& table) {
    if (closed_ || !table || !catalog_->Owns(table.get()) || !table->IsValid())
        return nullptr;
    return MakeCursor(table, {});
}

std::shared_ptr<Cursor> Connection::OpenWideCursor(const std::shared_ptr<Table>& table) {
    std::vector<uint32_t> keys;
    if (closed_ || !table || !catalog_->Owns(table.get()) || !table->LiveKeys(keys))
        return nullptr;
    return MakeCursor(table, std::move(keys));
}

std::shared_ptr<Cursor> Connection::OpenConditionCursor(
    const std::shared_ptr<Table>& table, const std::function<bool(const std::shared_ptr<Record>&)>& test) {
    if (closed_ || !table || !catalog_->Owns(table.get()) || !table->IsValid())
        return nullptr;
    std::vector<uint32_t> keys;
    const uint64_t generation = table->Generation();
    const bool walked = table->SelectKeys(
        [&](uint32_t key, const SlotRecord& content) {
            // The record lives only for the test; a caller that keeps it finds it released.
            auto record = std::make_shared<Record>(table, nullptr, key, content, generation, false);
            const bool holds = test(record);
            record->Release();
            return holds;
        },
        keys);
    if (!walked)
        return nullptr;
    return MakeCursor(table, std::move(keys));
}

std::shared_ptr<Cursor> Connection::OpenKeyCursor(const std::shared_ptr<Table>& table,
                                                  std::vector<uint32_t> keys) {
    if (closed_ || !table || !catalog_->Owns(table.get()) || keys.size() > kMaxCursorKeys ||
        !table->IsValid())
        return nullptr;
    return MakeCursor(table, std::move(keys));
}

bool Connection::AddReferenceField(RecordFormat& format, const std::string& name,
                                   const std::string& tableName) {
    auto table = catalog_->TableByName(tableName);
    return table && format.AddReferenceField(name, table->Id());
}

void Connection::CursorClosed() {
    if (--cursors_ == 0 && closeWhenIdle_)
        engine_.Close(*this);
}

void Connection::CloseWhenIdle() {
    if (!closed_ && !engine_.Close(*this))
        closeWhenIdle_ = true;
}

std::shared_ptr<Connection> Engine::Open(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = catalogs_.find(path);
    if (it == catalogs_.end()) {
        auto catalog = std::make_shared<Catalog>(platform_, path);
        if (!catalog->Open())
            return nullptr;
        it = catalogs_.emplace(path, OpenCatalog{std::move(catalog), 0}).first;
    }
    ++it->second.uses;
    return std::make_shared<Connection>(it->second.catalog, *this);
}

bool Engine::Close(Connection& connection) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (connection.Closed() || connection.OpenCursors() > 0)
        return false;
    connection.MarkClosed();
    auto it = catalogs_.find(connection.CatalogOf().Path());
    if (it != catalogs_.end() && --it->second.uses == 0) {
        it->second.catalog->Close();
        catalogs_.erase(it);
    }
    return true;
}

bool Engine::Drop(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (catalogs_.count(path))
        return false;
    Catalog catalog(platform_, path);
    if (!catalog.Open())
        return false;
    const bool removed = catalog.RemoveAllTables();
    catalog.Close();
    return platform_.RemoveFile(path) && removed;
}

} // namespace tv::devdb
