// Test support: an engine over memory files with one catalog open, and small helpers to make
// tables and records.
#pragma once
#include "ByteOrder.h"
#include "Connection.h"
#include "MemoryPlatform.h"
#include "Record.h"
#include <cstring>
#include <gtest/gtest.h>

namespace tv::devdb::testing {

inline const char* kCatalogPath = "C:\\db\\email.db";

struct TestDatabase {
    MemoryPlatform platform;
    Engine engine{platform};
    std::shared_ptr<Connection> connection;

    TestDatabase() {
        platform.SetTickCount(1);
        connection = engine.Open(kCatalogPath);
    }

    std::shared_ptr<Table> AddTable(const std::string& name, const RecordFormat& format, int64_t size = 4096,
                                    int32_t growth = 1024, int64_t maxSize = 0) {
        if (!connection->CatalogOf().AddTable(name, format, size, growth, maxSize))
            return nullptr;
        return connection->CatalogOf().TableByName(name.substr(0, kMaxNameLength));
    }
    std::vector<uint8_t>& FileOf(const std::shared_ptr<Table>& table) {
        return platform.Bytes(table->Path());
    }
};

// Adds a record through a null cursor: `set` fills it; the key committed.
template <class Fill>
uint32_t AddRecord(Connection& connection, const std::shared_ptr<Table>& table, Fill set) {
    auto cursor = connection.OpenNullCursor(table);
    if (!cursor)
        return 0;
    auto record = cursor->Add();
    set(*record);
    const bool committed = record->Commit();
    const uint32_t key = record->Key();
    record->Release();
    cursor->Close();
    return committed ? key : 0;
}

inline uint16_t SlotFlags(const std::vector<uint8_t>& file, RecordFormat format, size_t index) {
    const uint64_t dataStart = LoadBe32(file.data() + 12);
    return LoadBe16(file.data() + dataStart + index * (format.RecordSize() + 6) + 4);
}

inline uint32_t SlotKey(const std::vector<uint8_t>& file, RecordFormat format, size_t index) {
    const uint64_t dataStart = LoadBe32(file.data() + 12);
    return LoadBe32(file.data() + dataStart + index * (format.RecordSize() + 6));
}

} // namespace tv::devdb::testing
