// Fuzzes the catalog file: its header and table list, and opening it through the engine.
#include "Connection.h"
#include "MemoryPlatform.h"

using namespace tv::devdb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<CatalogEntry> entries;
    ParseCatalog(data, size, entries);
    testing::MemoryPlatform platform;
    platform.Put("c.db", std::vector<uint8_t>(data, data + size));
    Engine engine(platform);
    if (auto connection = engine.Open("c.db")) {
        for (size_t i = 0; i < connection->CatalogOf().TableCount(); ++i)
            connection->CatalogOf().TableAt(i)->IsValid();
        engine.Close(*connection);
    }
    return 0;
}
