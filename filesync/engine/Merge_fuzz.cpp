// Three listings and a mask list read from the input, merged: every item is on some side, the
// indices follow the stored list, and conflict and synchronized never come together.
#include "FileSyncEngine.h"
#include "PcSafeName.h"
#include "TransferRules.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return pos_ < size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string Name() {
        // Short names from a small alphabet, so the lists share names often.
        static const char alphabet[] = "ab\\.*?:";
        const size_t length = Byte() % 5;
        std::string name;
        for (size_t i = 0; i < length; ++i)
            name.push_back(alphabet[Byte() % (sizeof(alphabet) - 1)]);
        return name;
    }
    filesync::FileEntry Entry() { return filesync::FileEntry{Name(), Byte() % 4u, 0, Byte()}; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    std::vector<filesync::FileEntry> lists[4];
    std::vector<std::string> masks;
    while (in.More()) {
        const uint8_t which = in.Byte() % 5;
        if (which == 4)
            masks.push_back(in.Name());
        else
            lists[which].push_back(in.Entry());
    }
    filesync::FileSyncEngine engine;
    engine.SetMasks(masks);
    engine.SetStoredEntries(lists[0]);
    engine.SetPcEntries(lists[1]);
    engine.FilterDeviceItems(lists[2], lists[3]);
    engine.MergeSyncLists();
    uint32_t lastIndex = 0;
    bool first = true;
    for (const auto& item : engine.Items()) {
        if ((item.flags & (filesync::kOnPc | filesync::kOnDevice)) == 0)
            __builtin_trap();
        if ((item.flags & filesync::kConflict) && (item.flags & filesync::kSynchronized))
            __builtin_trap();
        if (!first && item.index <= lastIndex)
            __builtin_trap();
        if (!item.deviceName.empty() && !tv::portable::IsPcSafeRelativePath(item.deviceName))
            __builtin_trap();
        lastIndex = item.index;
        first = false;
        filesync::ChooseDirection(item);
    }
    if (engine.CountItemsByFlag(~0u) != engine.Items().size())
        __builtin_trap();
    return 0;
}
