// Test-only: a PC record source over records in memory, with an item of another kind where a
// slot holds no record, and switches that make its calls fail.
#pragma once
#include "RecordMerge.h"

#include <memory>
#include <vector>

namespace pimsync::testing {

class MemoryRecordSource : public PcRecordSource {
  public:
    std::vector<std::unique_ptr<ZvSyncRecord>> items; // null: an item of another kind
    bool failCount = false, failRead = false, failAdd = false, failWrite = false;
    int reads = 0, adds = 0, writes = 0;

    void Put(const ZvSyncRecord& record) { items.push_back(record.Clone()); }
    bool Count(long& count) override {
        count = static_cast<long>(items.size());
        return !failCount;
    }
    ItemRead Read(long index, ZvSyncRecord& record) override {
        ++reads;
        if (failRead)
            return ItemRead::kFailed;
        const auto& item = items.at(static_cast<size_t>(index - 1));
        if (!item)
            return ItemRead::kSkipped;
        CopyInto(*item, record);
        return ItemRead::kRecord;
    }
    bool Add(ZvSyncRecord& record) override {
        if (failAdd)
            return false;
        ++adds;
        items.push_back(record.Clone());
        items.back()->state = kDeviceOnly;
        return true;
    }
    bool Write(long index, ZvSyncRecord& record) override {
        if (failWrite)
            return false;
        ++writes;
        items.at(static_cast<size_t>(index - 1)) = record.Clone();
        return true;
    }

  private:
    // Copies the fields, keeping the target's version (as a PC item fills a record of the list's).
    static void CopyInto(const ZvSyncRecord& from, ZvSyncRecord& to) {
        if (auto* contact = dynamic_cast<ZvContactRecord*>(&to)) {
            const uint8_t version = contact->version;
            *contact = dynamic_cast<const ZvContactRecord&>(from);
            contact->version = version;
        } else {
            dynamic_cast<ZvTaskRecord&>(to) = dynamic_cast<const ZvTaskRecord&>(from);
        }
        to.state = kDeviceOnly;
    }
};

class ScriptedObserver : public MergeObserver {
  public:
    std::vector<int> choices; // answered in order; kSkipPair when none is left
    size_t asked = 0;
    long cancelAfterProgress = -1; // cancel once this many progress reports came
    long progressReports = 0;
    long lastDone = 0, lastTotal = 0;

    void Progress(long done, long total) override {
        ++progressReports;
        lastDone = done;
        lastTotal = total;
    }
    bool Cancelled() override { return cancelAfterProgress >= 0 && progressReports >= cancelAfterProgress; }
    int ChooseVersion(const ZvSyncRecord&, const ZvSyncRecord&) override {
        return asked < choices.size() ? choices[asked++] : (++asked, kSkipPair);
    }
};

} // namespace pimsync::testing
