// The device database's memory on a large table: a table of some 200 MiB of letters is opened and
// walked (its keys, then a condition cursor over every letter reading its number and subject)
// while the heap's peak is tracked through the sanitizer's allocation hooks. The figure is that
// peak above what the program held before, against 16 MiB. Usage: devdb_memory_benchmark <empty folder>
#include "Connection.h"
#include "PosixPlatform.h"
#include "Record.h"
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sanitizer/allocator_interface.h>
#include <string>

using namespace tv::devdb;

namespace {

std::atomic<int64_t> heldBytes{0};
std::atomic<int64_t> peakBytes{0};

void OnAllocate(const volatile void*, size_t size) {
    const int64_t held = heldBytes += static_cast<int64_t>(size);
    int64_t peak = peakBytes.load();
    while (held > peak && !peakBytes.compare_exchange_weak(peak, held)) {
    }
}

void OnFree(const volatile void* pointer) {
    heldBytes -= static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
}

constexpr uint64_t kTableBytes = 200ull << 20;
constexpr double kLimitMiB = 16;

enum Field { kSubject, kFlags, kBody };

RecordFormat LetterFormat() {
    RecordFormat format;
    format.AddField("Subject", kTypeText, 0);
    format.AddField("Flags", kTypeDword, 0);
    format.AddField("Body", kTypeText, 0);
    return format;
}

// Letters of 4 KB go in, one commit each, until the table file holds kTableBytes.
bool BuildTable(DbPlatform& platform, const std::string& catalog, int& letters) {
    Engine engine(platform);
    auto connection = engine.Open(catalog);
    if (!connection || !connection->CatalogOf().AddTable("Mail", LetterFormat(), 1 << 20, 16 << 20, 0))
        return false;
    auto table = connection->CatalogOf().TableByName("Mail");
    const std::string body(4000, 'b');
    uint64_t size = 0;
    for (letters = 0; table->FileSize(size) && size < kTableBytes; ++letters) {
        auto cursor = connection->OpenNullCursor(table);
        auto record = cursor ? cursor->Add() : nullptr;
        if (!record || !record->SetText(kSubject, "Letter " + std::to_string(letters)) ||
            !record->SetNumber(kFlags, kTypeDword, static_cast<uint32_t>(letters % 4)) ||
            !record->SetText(kBody, body) || !record->Commit())
            return false;
        record->Release();
        cursor->Close();
    }
    return engine.Close(*connection);
}

// Opens the catalog and walks the table; the rows the condition kept, -1 on failure.
long OpenAndWalk(DbPlatform& platform, const std::string& catalog, uint64_t& size) {
    Engine engine(platform);
    auto connection = engine.Open(catalog);
    auto table = connection ? connection->CatalogOf().TableByName("Mail") : nullptr;
    std::vector<uint32_t> keys;
    if (!table || !table->IsValid() || !table->FileSize(size) || !table->LiveKeys(keys))
        return -1;
    auto cursor = connection->OpenConditionCursor(table, [](const std::shared_ptr<Record>& record) {
        uint32_t flags = 0;
        std::string subject;
        return record->GetNumber(kFlags, kTypeDword, flags) && flags == 1 &&
               record->GetText(kSubject, subject) && !subject.empty();
    });
    if (!cursor)
        return -1;
    const long kept = static_cast<long>(cursor->RowCount());
    cursor->Close();
    return engine.Close(*connection) ? kept : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const std::string catalog = std::string(argv[1]) + "/email.db";
    testing::PosixPlatform platform(false);
    int letters = 0;
    if (!BuildTable(platform, catalog, letters)) {
        std::printf("devdb memory benchmark: the table could not be built\n");
        return 1;
    }
    __sanitizer_install_malloc_and_free_hooks(OnAllocate, OnFree);
    const int64_t before = heldBytes.load();
    peakBytes = before;
    const auto start = std::chrono::steady_clock::now();
    uint64_t size = 0;
    const long kept = OpenAndWalk(platform, catalog, size);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (kept < 0) {
        std::printf("devdb memory benchmark: the table could not be opened and walked\n");
        return 1;
    }
    const double peakMiB = static_cast<double>(peakBytes.load() - before) / (1 << 20);
    std::printf("devdb open and walk of a %.0f MiB table (%d letters, %ld kept, %.2f s): peak heap %.2f MiB "
                "against %.0f MiB: ratio %.3f (goal <= 1)\n",
                static_cast<double>(size) / (1 << 20), letters, kept, seconds, peakMiB, kLimitMiB,
                peakMiB / kLimitMiB);
    return 0;
}
