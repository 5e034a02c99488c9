// The catalog file of a database and the tables it lists. One catalog object serves every
// connection of the process opened on the same path; other processes have catalog objects of
// their own on the same file. Every change reads the file again under the system-wide table lock,
// changes that list and puts the new file in place whole, so that no process undoes another's
// change; a change stamp shared by all processes tells a catalog object when to read it again.
#pragma once
#include "Table.h"
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv::devdb {

constexpr uint32_t kCatalogHeaderSize = 36;
constexpr uint32_t kCatalogEntrySize = 35;

struct CatalogEntry {
    uint32_t id = 0;
    std::string name;
};

// Reads the table list of a catalog file; false when its magic, version or size is wrong.
bool ParseCatalog(const uint8_t* data, uint64_t size, std::vector<CatalogEntry>& entries);
// The list as it is written from offset 32: the count, then 35 bytes per table.
std::vector<uint8_t> SerializeTableList(const std::vector<CatalogEntry>& entries);
// "<folder><ID>.t": the table file beside the catalog, the id as eight upper-case hex digits.
std::string TableFilePath(const std::string& folder, uint32_t id);
// The catalog's folder: its path up to and including the last backslash (or slash).
std::string FolderOf(const std::string& path);

class Catalog {
  public:
    Catalog(DbPlatform& platform, std::string path);
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;

    // Reads the catalog file, or creates it when (and only when) there is none; then opens every
    // table it lists. The catalog is valid when this succeeds.
    bool Open();
    bool Valid() const { return valid_; }
    void Close();
    const std::string& Path() const { return path_; }

    size_t TableCount();
    std::shared_ptr<Table> TableAt(size_t index);
    std::shared_ptr<Table> TableByName(const std::string& name);
    bool Owns(const Table* table);

    bool AddTable(const std::string& name, const RecordFormat& format, int64_t initialSize, int32_t growth,
                  int64_t maxSize);
    bool RemoveTable(const std::string& name);
    bool RenameTable(Table* table, const std::string& name);
    // Removes every table with its file (dropping the database).
    bool RemoveAllTables();

  private:
    // The file's bytes and its table list; false when it cannot be read or is not a catalog.
    bool ReadFile(std::vector<uint8_t>& bytes, std::vector<CatalogEntry>& entries);
    // Takes the list as the file holds it now: tables are kept by id (renamed where the name
    // changed), tables new to this process are opened, tables no longer listed are closed. Called
    // with the table lock and `mutex_` held.
    bool Reread();
    // Reads the file again when another catalog object changed it since this one last looked.
    void RereadIfChanged();
    // Writes the file with `entries` as its list through a file beside it that then replaces it;
    // `bytes` are the file as last read (its header and any bytes after the list are kept).
    bool WriteList(const std::vector<CatalogEntry>& entries);
    std::vector<CatalogEntry> Entries() const;
    uint32_t NextRandom();
    bool IdInUse(uint32_t id) const;

    DbPlatform& platform_;
    std::string path_;
    std::string folder_;
    std::unique_ptr<ChangeStamp> stamp_;
    uint64_t seenStamp_ = 0;
    std::vector<uint8_t> bytes_; // the file as last read or written
    std::mutex mutex_;
    std::vector<std::shared_ptr<Table>> tables_;
    uint32_t randomState_ = 0;
    bool valid_ = false;
};

} // namespace tv::devdb
