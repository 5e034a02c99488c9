// A connection on a catalog and the engine that keeps the open catalogs of the process.
#pragma once
#include "Catalog.h"
#include "Cursor.h"
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tv::devdb {

class Engine;
class Record;

// A key cursor lists at most this many keys.
constexpr size_t kMaxCursorKeys = 65535;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(std::shared_ptr<Catalog> catalog, Engine& engine) : catalog_(std::move(catalog)), engine_(engine) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Catalog& CatalogOf() { return *catalog_; }
    const std::shared_ptr<Catalog>& SharedCatalog() const { return catalog_; }
    bool Closed() const { return closed_; }

    std::shared_ptr<Cursor> OpenNullCursor(const std::shared_ptr<Table>& table);
    std::shared_ptr<Cursor> OpenWideCursor(const std::shared_ptr<Table>& table);
    // `test` sees each live row not being edited; a cursor of those for which it holds.
    std::shared_ptr<Cursor> OpenConditionCursor(const std::shared_ptr<Table>& table,
                                                const std::function<bool(const std::shared_ptr<Record>&)>& test);
    // At most 65535 keys, taken as given.
    std::shared_ptr<Cursor> OpenKeyCursor(const std::shared_ptr<Table>& table, std::vector<uint32_t> keys);
    // Adds a reference field naming a table of this connection.
    bool AddReferenceField(RecordFormat& format, const std::string& name, const std::string& tableName);

    long OpenCursors() const { return cursors_; }
    void CursorClosed();
    void MarkClosed() { closed_ = true; }
    // Closes through its engine now, or as soon as the last cursor on it is closed.
    void CloseWhenIdle();

  private:
    std::shared_ptr<Cursor> MakeCursor(const std::shared_ptr<Table>& table, std::vector<uint32_t> keys);

    std::shared_ptr<Catalog> catalog_;
    Engine& engine_;
    std::atomic<long> cursors_{0};
    bool closed_ = false;
    bool closeWhenIdle_ = false;
};

class Engine {
  public:
    explicit Engine(DbPlatform& platform) : platform_(platform) {}
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    DbPlatform& Platform() { return platform_; }
    // A connection of its own on the catalog at `path` (shared when already open); null when the
    // catalog is not valid.
    std::shared_ptr<Connection> Open(const std::string& path);
    // Fails while cursors are open on the connection.
    bool Close(Connection& connection);
    // Removes every table and the catalog file; fails while a connection to it is open.
    bool Drop(const std::string& path);

  private:
    struct OpenCatalog {
        std::shared_ptr<Catalog> catalog;
        long uses = 0;
    };

    DbPlatform& platform_;
    std::mutex mutex_;
    std::map<std::string, OpenCatalog> catalogs_;
};

} // namespace tv::devdb
