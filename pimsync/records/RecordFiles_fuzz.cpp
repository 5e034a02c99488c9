// Any input read as a phone book or an organizer file: what reads back from what was written is the
// same list, byte for byte when written again.
#include "SyncRecords.h"

#include <cstddef>
#include <cstdint>

namespace {

void CheckRoundTrip(pimsync::ZvSyncRecordList& list, const uint8_t* data, size_t size) {
    pimsync::MemoryReader in(data, size);
    if (!list.ReadFile(in))
        return;
    pimsync::MemoryWriter first;
    if (!list.WriteFile(first))
        __builtin_trap();
    auto again = list.NewList();
    pimsync::MemoryReader reread(first.Bytes());
    if (!again->ReadFile(reread) || again->Count() != list.Count())
        __builtin_trap();
    for (size_t i = 0; i < list.Count(); ++i) {
        if (!again->At(i).Equals(list.At(i)) || again->At(i).Key() != list.At(i).Key())
            __builtin_trap();
    }
    pimsync::MemoryWriter second;
    if (!again->WriteFile(second) || second.Bytes() != first.Bytes())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pimsync::ZvPhonebookFile phonebook;
    CheckRoundTrip(phonebook, data, size);
    pimsync::ZvOrganizerFile organizer;
    CheckRoundTrip(organizer, data, size);
    return 0;
}
