#include "RecordMerge.h"

#include <string>
#include <vector>

namespace pimsync {
namespace {

std::vector<std::string> KeysOf(const ZvSyncRecordList& list) {
    std::vector<std::string> keys;
    keys.reserve(list.Count());
    for (size_t i = 0; i < list.Count(); ++i)
        keys.push_back(list.At(i).Key());
    return keys;
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
    const std::vector<std::string> keys = KeysOf(list);
    auto fromPc = list.NewList();
    for (long index = 1; index <= count; ++index) {
        auto record = list.NewRecord();
        const ItemRead read = source.Read(index, *record);
        if (read == ItemRead::kFailed)
            return MergeResult::kSourceFailed;
        if (read == ItemRead::kRecord) {
            record->KeepStoredFields();
            const std::string key = record->Key();
            bool matched = false;
            for (size_t i = 0; i < keys.size(); ++i) {
                if (keys[i] != key)
                    continue;
                matched = true;
                ZvSyncRecord& device = list.At(i);
                if (device.Equals(*record)) {
                    device.state = kSameOnPc;
                } else {
                    device.state = kChanged;
                    ++counters.unresolved;
                }
            }
            if (!matched) {
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
    const std::vector<std::string> keys = KeysOf(list);
    for (long index = 1; index <= count; ++index) {
        auto record = list.NewRecord();
        const ItemRead read = source.Read(index, *record);
        if (read == ItemRead::kFailed)
            return MergeResult::kSourceFailed;
        if (read == ItemRead::kSkipped)
            continue;
        record->KeepStoredFields();
        const std::string key = record->Key();
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] != key || list.At(i).Equals(*record))
                continue;
            const int choice = resolution == kAskUser ? observer.ChooseVersion(list.At(i), *record) : 0;
            if (choice == kEndResolve)
                return MergeResult::kDone;
            if (resolution == kReplaceOnComputer || choice == kTakeDeviceVersion) {
                if (!source.Write(index, list.At(i)))
                    return MergeResult::kSourceFailed;
                --counters.unresolved;
            } else if (resolution == kReplaceOnDevice || choice == kTakePcVersion) {
                list.Replace(i, record->Clone());
                --counters.unresolved;
            }
            observer.Progress(before - counters.unresolved, before);
            if (observer.Cancelled())
                return MergeResult::kCancelled;
        }
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
