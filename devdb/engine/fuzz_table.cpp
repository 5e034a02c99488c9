// Fuzzes the table file: the open walks (slots, out-of-line references), compaction, and the
// engine's record access, edit, removal and compaction over a hostile file.
#include "ByteOrder.h"
#include "Connection.h"
#include "MemoryPlatform.h"
#include "Record.h"
#include "TableImage.h"

using namespace tv::devdb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 12 || size > (1u << 20))
        return 0;
    const uint32_t id = LoadBe32(data + 8);
    TableLayout layout;
    if (ParseTable(data, size, id, layout)) {
        std::vector<uint8_t> image(data, data + size);
        CompactTable(image, layout);
    }

    // The same bytes as a table of a catalog, driven through the engine.
    testing::MemoryPlatform platform;
    std::vector<uint8_t> catalog = {'Z', 'v', 'D', 'B', 0, 0, 0, 1};
    catalog.resize(36 + 35);
    catalog[35] = 1;
    StoreBe32(catalog.data() + 36, id);
    catalog[40] = 'T';
    platform.Put("f\\c.db", catalog);
    // The engine grows a file by its header's step, up to 4 GiB; in memory the step is kept to 1 MiB.
    std::vector<uint8_t> file(data, data + size);
    if (size >= 20 && LoadBe32(data + 16) > (1u << 20))
        StoreBe32(file.data() + 16, 1u << 20);
    platform.Put(TableFilePath("f\\", id), file);
    Engine engine(platform);
    auto connection = engine.Open("f\\c.db");
    if (!connection)
        return 0;
    auto table = connection->CatalogOf().TableByName("T");
    auto cursor = table ? connection->OpenWideCursor(table) : nullptr;
    if (!cursor)
        return 0;
    const RecordFormat format = cursor->Format();
    for (size_t row = 0; row < cursor->RowCount() && row < 64; ++row) {
        auto record = cursor->EditAt(row);
        if (!record)
            continue;
        std::string text;
        uint32_t value = 0;
        for (size_t f = 0; f < format.FieldCount(); ++f) {
            record->GetText(f, text);
            record->GetNumber(f, format.FieldAt(f)->Type(), value);
            record->FieldSize(f);
            if (row == 0)
                record->SetText(f, std::string(row + 40, 'e'));
        }
        if (row == 0)
            record->Commit();
        record->Release();
    }
    if (cursor->RowCount() > 1)
        cursor->RemoveAt(1);
    table->Compact();
    auto adder = cursor->Add();
    for (size_t f = 0; f < format.FieldCount(); ++f)
        adder->SetText(f, "added");
    adder->Commit();
    adder->Release();
    cursor->Close();
    engine.Close(*connection);
    return 0;
}
