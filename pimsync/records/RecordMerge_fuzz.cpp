// A device list and a PC folder made from the input, keys repeated on either side as they come,
// merged with a resolution that needs no user: afterwards nothing is left unresolved, no counter
// went below zero, and a second session over the written list and the same folder changes
// nothing on either side.
#include "MemoryRecordSource.h"
#include "RecordMerge.h"

#include <cstddef>
#include <cstdint>
#include <vector>
#include <string>

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return pos_ < size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string Text() {
        // A small alphabet (both cases, a space) so that keys meet often; lengths past the fields.
        static const char alphabet[] = "aAbB 1";
        const size_t length = Byte() % 12 == 0 ? 45 : Byte() % 4;
        std::string text;
        for (size_t i = 0; i < length; ++i)
            text.push_back(alphabet[Byte() % (sizeof(alphabet) - 1)]);
        return text;
    }
    uint32_t Word() { return uint32_t{Byte()} << 24 | uint32_t{Byte()} << 8 | Byte(); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

std::unique_ptr<pimsync::ZvSyncRecord> MakeRecord(const pimsync::ZvSyncRecordList& list, Input& in) {
    auto record = list.NewRecord();
    if (auto* contact = dynamic_cast<pimsync::ZvContactRecord*>(record.get())) {
        contact->s1 = in.Text();
        contact->s3 = in.Text();
        contact->s4 = in.Text();
        contact->s5 = in.Text();
        contact->icq = in.Text();
        contact->idNumber = in.Byte() % 3 == 0 ? 0xFFFFFFFEu : in.Word();
    } else {
        auto& task = dynamic_cast<pimsync::ZvTaskRecord&>(*record);
        task.text = in.Text();
        task.priority = in.Byte() % 4;
        task.reminder = in.Byte() % 5;
        task.date = pimsync::DeviceTimeToDate(in.Word() * 61u);
    }
    return record;
}

class QuietObserver : public pimsync::MergeObserver {
  public:
    // Whether any progress report had a count below zero.
    bool Negative() const { return negative_; }
    void Progress(long done, long total) override { negative_ = negative_ || done < 0 || total < 0; }
    bool Cancelled() override { return false; }
    int ChooseVersion(const pimsync::ZvSyncRecord&, const pimsync::ZvSyncRecord&) override {
        __builtin_trap(); // the resolutions used here never ask
    }

  private:
    bool negative_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t kind = in.Byte();
    std::unique_ptr<pimsync::ZvSyncRecordList> device;
    if (kind % 2 == 0)
        device = std::make_unique<pimsync::ZvPhonebookFile>(static_cast<uint8_t>(kind / 2 % 2));
    else
        device = std::make_unique<pimsync::ZvOrganizerFile>();
    const int resolution = kind & 4 ? pimsync::kReplaceOnDevice : pimsync::kReplaceOnComputer;

    pimsync::testing::MemoryRecordSource pc;
    while (in.More()) {
        const bool onDevice = in.Byte() % 2 == 0;
        auto record = MakeRecord(*device, in);
        if (onDevice) {
            record->KeepStoredFields(); // as read from the file
            device->Append(std::move(record));
        } else {
            pc.items.push_back(std::move(record)); // as the PC has it
        }
    }

    QuietObserver observer;
    pimsync::MergeCounters counters;
    if (pimsync::Estimate(*device, pc, counters) != pimsync::MergeResult::kDone ||
        pimsync::Transfer(*device, pc, counters, observer) != pimsync::MergeResult::kDone ||
        pimsync::Resolve(*device, pc, resolution, counters, observer) != pimsync::MergeResult::kDone ||
        counters.unresolved != 0 || observer.Negative())
        __builtin_trap();

    pimsync::MemoryWriter file;
    if (!device->WriteFile(file))
        __builtin_trap();
    auto reread = device->NewList();
    pimsync::MemoryReader reader(file.Bytes());
    if (!reread->ReadFile(reader))
        __builtin_trap();
    const int addsBefore = pc.adds, writesBefore = pc.writes;
    pimsync::MergeCounters second;
    if (pimsync::Estimate(*reread, pc, second) != pimsync::MergeResult::kDone ||
        pimsync::Transfer(*reread, pc, second, observer) != pimsync::MergeResult::kDone ||
        pimsync::Resolve(*reread, pc, resolution, second, observer) != pimsync::MergeResult::kDone)
        __builtin_trap();
    if (second.synchronized != 0 || second.unresolved != 0 || pc.adds != addsBefore ||
        pc.writes != writesBefore || observer.Negative())
        __builtin_trap();
    pimsync::MemoryWriter again;
    if (!reread->WriteFile(again) || again.Bytes() != file.Bytes())
        __builtin_trap();
    return 0;
}
