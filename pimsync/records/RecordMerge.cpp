#include "RecordMerge.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace pimsync {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// Pairs the PC's items with the device records one to one by key: the n-th item of a key with
// the n-th record of that key, each side in its own order. Records of a key repeated on both
// sides (two tasks "Pay rent") thus keep their partners from session to session.
class KeyPairing {
  public:
    explicit KeyPairing(const ZvSyncRecordList& list) {
        for (size_t i = 0; i < list.Count(); ++i)
            groups_[list.At(i).Key()].device.push_back(i);
    }

    struct Group {
        std::vector<size_t> device; // the device records of the key, in list order
        size_t pcItems = 0;         // the PC items of the key met so far
        bool ambiguous = false;     // a partial key held by several PC items: matches nothing
    };

    // Counts a PC item of `key` and gives its group.
    Group& Meet(const std::string& key) {
        Group& group = groups_[key];
        ++group.pcItems;
        return group;
    }
    // The device record of the PC item just met; kNone when the key has no record left.
    static size_t Partner(const Group& group) {
        return group.pcItems <= group.device.size() ? group.device[group.pcItems - 1] : kNone;
    }

  private:
    std::unordered_map<std::string, Group> groups_;
};

// One pair settled: the counter never goes below zero.
void Settled(MergeCounters& counters) {
    if (counters.unresolved > 0)
        --counters.unresolved;
}

} // namespace

MergeResult Estimate(const ZvSyncRecordList& list, PcRecordSource& source, MergeCounters& counters) {
    long count = 0;
    if (!source.Count(count))
        return MergeResult::kSourceFailed;
    counters.total = static_cast<long>(list.Count()) + count;
    counters.synchronized = 0;
    counters.unresolved = 0;
    return MergeResult::kDone;
}

MergeResult Transfer(ZvSyncRecordList& list, PcRecordSource& source, MergeCounters& counters,
                     MergeObserver& observer) {
    long count = 0;
    if (!source.Count(count))
        return MergeResult::kSourceFailed;
    KeyPairing pairing(list);
    auto fromPc = list.NewList();
    for (long index = 1; index <= count; ++index) {
        auto record = list.NewRecord();
        const ItemRead read = source.Read(index, *record);
        if (read == ItemRead::kFailed)
            return MergeResult::kSourceFailed;
        if (read == ItemRead::kRecord) {
            record->KeepStoredFields();
            KeyPairing::Group& group = pairing.Meet(record->Key());
            if (!group.ambiguous && record->PartialKey() && group.pcItems == 2 && !group.device.empty()) {
                // Which of the PC's items is the device's cannot be told: the key's records on
                // both sides stay as they are, and the first item's pairing is taken back.
                group.ambiguous = true;
                if (list.At(group.device[0]).state == kChanged)
                    Settled(counters);
                for (size_t i : group.device)
                    list.At(i).state = kSameOnPc;
            }
            const size_t partner = KeyPairing::Partner(group);
            if (group.ambiguous) {
                // neither side takes anything of the key
            } else if (partner != kNone) {
                ZvSyncRecord& device = list.At(partner);
                if (device.Equals(*record)) {
                    device.state = kSameOnPc;
                } else {
                    device.state = kChanged;
                    ++counters.unresolved;
                }
            } else {
                record->state = kNewFromPc;
                fromPc->Append(record->Clone());
                ++counters.synchronized;
            }
        }
        observer.Progress(counters.synchronized + counters.unresolved, counters.total);
        if (observer.Cancelled())
            return MergeResult::kCancelled;
    }
    const size_t deviceCount = list.Count();
    for (size_t i = 0; i < fromPc->Count(); ++i)
        list.Append(fromPc->At(i).Clone());
    for (size_t i = 0; i < deviceCount; ++i) {
        if (list.At(i).state != kDeviceOnly)
            continue;
        if (!source.Add(list.At(i)))
            return MergeResult::kSourceFailed;
        ++counters.synchronized;
        observer.Progress(counters.synchronized + counters.unresolved, counters.total);
    }
    return MergeResult::kDone;
}

MergeResult Resolve(ZvSyncRecordList& list, PcRecordSource& source, int resolution, MergeCounters& counters,
                    MergeObserver& observer) {
    long count = 0;
    if (!source.Count(count))
        return MergeResult::kSourceFailed;
    const long before = counters.unresolved;
    // The pairs are those of the transfer: the same one-to-one pairing over the list as it left
    // the transfer (the PC's new records appended, the device's added to the PC), and only the
    // pairs it found changed are settled, each once. Each of those meets one item, so the items
    // after the last of them are not read (none at all when the transfer found no pair changed).
    KeyPairing pairing(list);
    size_t pending = 0;
    for (size_t i = 0; i < list.Count(); ++i)
        pending += list.At(i).state == kChanged ? 1 : 0;
    for (long index = 1; index <= count && pending > 0; ++index) {
        auto record = list.NewRecord();
        const ItemRead read = source.Read(index, *record);
        if (read == ItemRead::kFailed)
            return MergeResult::kSourceFailed;
        if (read == ItemRead::kSkipped)
            continue;
        record->KeepStoredFields();
        const size_t i = KeyPairing::Partner(pairing.Meet(record->Key()));
        if (i == kNone || list.At(i).state != kChanged)
            continue;
        --pending;
        if (list.At(i).Equals(*record))
            continue;
        const int choice = resolution == kAskUser ? observer.ChooseVersion(list.At(i), *record) : 0;
        if (choice == kEndResolve)
            return MergeResult::kDone;
        if (resolution == kReplaceOnComputer || choice == kTakeDeviceVersion) {
            if (!source.Write(index, list.At(i)))
                return MergeResult::kSourceFailed;
            list.At(i).state = kSameOnPc;
            Settled(counters);
        } else if (resolution == kReplaceOnDevice || choice == kTakePcVersion) {
            list.Replace(i, record->Clone());
            list.At(i).state = kSameOnPc;
            Settled(counters);
        }
        observer.Progress(before - counters.unresolved, before);
        if (observer.Cancelled())
            return MergeResult::kCancelled;
    }
    return MergeResult::kDone;
}

bool FitsOnVolume(uint64_t fileSize, long blockSize, long freeBlocks) {
    if (blockSize <= 0)
        return true;
    return freeBlocks >= 0 &&
           static_cast<uint64_t>(freeBlocks) >= fileSize / static_cast<uint64_t>(blockSize) + 1;
}

uint8_t PriorityFromPc(long importance) {
    return importance >= 0 && importance <= 2 ? static_cast<uint8_t>(importance) : 3;
}

long PriorityToPc(uint8_t priority) {
    return priority == 0 ? 0 : priority == 2 ? 2 : 1;
}

namespace {
// The application keeps times as fractions of a day: a lead put as due date less a fraction may come
// back a hair short of it. Within a second counts as reached.
constexpr double kSecond = 1.0 / 86400;
} // namespace

uint8_t ReminderFromLead(double leadDays) {
    if (leadDays >= 1 - kSecond)
        return 4;
    if (leadDays >= 1.0 / 24 - kSecond)
        return 3;
    if (leadDays >= 1.0 / 288 - kSecond)
        return 2;
    return 1;
}

double ReminderLead(uint8_t reminder) {
    switch (reminder) {
    case 2:
        return 1.0 / 288;
    case 3:
        return 1.0 / 24;
    case 4:
        return 1;
    default:
        return 0;
    }
}

} // namespace pimsync
