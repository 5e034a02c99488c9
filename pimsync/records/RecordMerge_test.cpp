#include "RecordMerge.h"
#include "MemoryRecordSource.h"

#include <gtest/gtest.h>

namespace pimsync {
namespace {

using testing::MemoryRecordSource;
using testing::ScriptedObserver;

ZvContactRecord Contact(const std::string& last, const std::string& first, const std::string& phone,
                        uint32_t id = 0) {
    ZvContactRecord c(1);
    c.s3 = last;
    c.s4 = first;
    c.s5 = phone;
    c.idNumber = id;
    return c;
}

const ZvContactRecord& ContactAt(const ZvSyncRecordList& list, size_t i) {
    return dynamic_cast<const ZvContactRecord&>(list.At(i));
}

struct Session {
    MergeCounters counters;
    ScriptedObserver observer;
    // Estimate, transfer and, when something is unresolved, resolve; kDone when the list is to be written.
    MergeResult Run(ZvSyncRecordList& list, MemoryRecordSource& pc, int resolution) {
        if (Estimate(list, pc, counters) != MergeResult::kDone)
            return MergeResult::kSourceFailed;
        const MergeResult transfer = Transfer(list, pc, counters, observer);
        if (transfer != MergeResult::kDone || counters.unresolved == 0)
            return transfer;
        return Resolve(list, pc, resolution, counters, observer);
    }
};

TEST(RecordMergeTest, NewOnEachSideEqualAndASecondSessionChangesNothing) {
    ZvPhonebookFile device;
    device.Append(Contact("Smith", "Alice", "111").Clone());
    device.Append(Contact("Jones", "Bob", "222").Clone());
    MemoryRecordSource pc;
    pc.Put(Contact("SMITH", "alice", "111"));            // same key (upper-cased), different texts
    pc.Put(Contact("Jones", "Bob", "222", 0xFFFFFFFEu)); // same, its id read back as "UNKNOWN"
    pc.Put(Contact("Brown", "Carol", "333"));
    pc.items.push_back(nullptr); // a distribution list: skipped

    Session first;
    ASSERT_EQ(Estimate(device, pc, first.counters), MergeResult::kDone);
    EXPECT_EQ(first.counters.total, 2 + 4);
    ASSERT_EQ(Transfer(device, pc, first.counters, first.observer), MergeResult::kDone);
    EXPECT_EQ(first.counters.synchronized, 1); // Brown to the device
    EXPECT_EQ(first.counters.unresolved, 1);   // Smith differs
    ASSERT_EQ(device.Count(), 3u);
    EXPECT_EQ(device.At(0).state, kChanged);
    EXPECT_EQ(device.At(1).state, kSameOnPc);
    EXPECT_EQ(device.At(2).state, kNewFromPc);
    EXPECT_EQ(ContactAt(device, 2).s3, "Brown");
    EXPECT_EQ(pc.adds, 0);

    int reads = pc.reads;
    ASSERT_EQ(Resolve(device, pc, kReplaceOnDevice, first.counters, first.observer), MergeResult::kDone);
    EXPECT_EQ(first.counters.unresolved, 0);
    EXPECT_EQ(ContactAt(device, 0).s3, "SMITH");
    EXPECT_EQ(pc.reads - reads, 1) << "the items after the last changed pair are not read";

    // The list as the device file reads it back next time, and the same PC folder: nothing to do.
    MemoryWriter file;
    ASSERT_TRUE(device.WriteFile(file));
    ZvPhonebookFile reread;
    MemoryReader in(file.Bytes());
    ASSERT_TRUE(reread.ReadFile(in));
    Session second;
    ASSERT_EQ(second.Run(reread, pc, kAskUser), MergeResult::kDone);
    EXPECT_EQ(second.counters.synchronized, 0);
    EXPECT_EQ(second.counters.unresolved, 0);
    EXPECT_EQ(second.observer.asked, 0u);
    EXPECT_EQ(reread.Count(), 3u);
    EXPECT_EQ(pc.items.size(), 4u);
    reads = pc.reads;
    ASSERT_EQ(Resolve(reread, pc, kAskUser, second.counters, second.observer), MergeResult::kDone);
    EXPECT_EQ(pc.reads, reads) << "no pair changed: no item is read";
}

TEST(RecordMergeTest, DeviceOnlyRecordsGoToThePcAndDeletionsAreNotCarried) {
    ZvPhonebookFile device;
    device.Append(Contact("Smith", "Alice", "111").Clone());
    MemoryRecordSource pc; // Alice was deleted on the PC
    Session session;
    ASSERT_EQ(session.Run(device, pc, kAskUser), MergeResult::kDone);
    EXPECT_EQ(pc.adds, 1);
    EXPECT_EQ(session.counters.synchronized, 1);
    ASSERT_EQ(pc.items.size(), 1u);
    EXPECT_TRUE(pc.items[0]->Equals(device.At(0)));
}

TEST(RecordMergeTest, ResolutionsAndDialogChoices) {
    auto makeDevice = [] {
        auto list = std::make_unique<ZvPhonebookFile>();
        list->Append(Contact("A", "", "device").Clone());
        list->Append(Contact("B", "", "device").Clone());
        list->Append(Contact("C", "", "device").Clone());
        return list;
    };
    auto makePc = [] {
        auto pc = std::make_unique<MemoryRecordSource>();
        pc->Put(Contact("A", "", "pc"));
        pc->Put(Contact("B", "", "pc"));
        pc->Put(Contact("C", "", "pc"));
        return pc;
    };
    {
        auto device = makeDevice();
        auto pc = makePc();
        Session s;
        ASSERT_EQ(s.Run(*device, *pc, kReplaceOnComputer), MergeResult::kDone);
        EXPECT_EQ(pc->writes, 3);
        EXPECT_EQ(s.counters.unresolved, 0);
        EXPECT_EQ(dynamic_cast<ZvContactRecord&>(*pc->items[2]).s5, "device");
    }
    {
        // Take the PC version, take the device version, skip: the skipped pair stays unresolved.
        auto device = makeDevice();
        auto pc = makePc();
        Session s;
        s.observer.choices = {kTakePcVersion, kTakeDeviceVersion, kSkipPair};
        ASSERT_EQ(s.Run(*device, *pc, kAskUser), MergeResult::kDone);
        EXPECT_EQ(ContactAt(*device, 0).s5, "pc");
        EXPECT_EQ(dynamic_cast<ZvContactRecord&>(*pc->items[1]).s5, "device");
        EXPECT_EQ(ContactAt(*device, 2).s5, "device");
        EXPECT_EQ(dynamic_cast<ZvContactRecord&>(*pc->items[2]).s5, "pc");
        EXPECT_EQ(s.counters.unresolved, 1);
        EXPECT_EQ(s.observer.lastDone, 2);
        EXPECT_EQ(s.observer.lastTotal, 3);
    }
    {
        // The dialog's Cancel ends the resolve loop; the list is still written.
        auto device = makeDevice();
        auto pc = makePc();
        Session s;
        s.observer.choices = {kTakePcVersion, kEndResolve};
        ASSERT_EQ(s.Run(*device, *pc, kAskUser), MergeResult::kDone);
        EXPECT_EQ(s.observer.asked, 2u);
        EXPECT_EQ(s.counters.unresolved, 2);
    }
    {
        // Two device records with one key and one PC item: the first pairs, the second goes to the PC.
        auto device = makeDevice();
        device->Append(Contact("a", "", "other").Clone());
        auto pc = makePc();
        Session s;
        ASSERT_EQ(Transfer(*device, *pc, s.counters, s.observer), MergeResult::kDone);
        EXPECT_EQ(s.counters.unresolved, 3);
        EXPECT_EQ(device->At(0).state, kChanged);
        EXPECT_EQ(device->At(3).state, kDeviceOnly);
        EXPECT_EQ(pc->adds, 1);
    }
}

ZvTaskRecord Task(const std::string& text, uint8_t priority) {
    ZvTaskRecord task;
    task.text = text;
    task.priority = priority;
    return task;
}

uint8_t PriorityAt(const ZvSyncRecord& record) {
    return dynamic_cast<const ZvTaskRecord&>(record).priority;
}

// Reads the list back as the next session finds it on the device.
std::unique_ptr<ZvSyncRecordList> Reread(const ZvSyncRecordList& list) {
    MemoryWriter file;
    EXPECT_TRUE(list.WriteFile(file));
    auto reread = list.NewList();
    MemoryReader in(file.Bytes());
    EXPECT_TRUE(reread->ReadFile(in));
    return reread;
}

// Two tasks of one text on each side, changed on both: every way of settling them pairs the n-th
// with the n-th, leaves no counter below zero, and the next session finds nothing to do.
TEST(RecordMergeTest, RepeatedKeysPairOneToOneAndSettle) {
    struct Way {
        int resolution;
        std::vector<int> choices;
        uint8_t first, second; // the priorities both sides end with
    };
    for (const Way& way : {Way{kReplaceOnDevice, {}, 0, 2}, Way{kReplaceOnComputer, {}, 1, 3},
                           Way{kAskUser, {kTakePcVersion, kTakeDeviceVersion}, 0, 3}}) {
        SCOPED_TRACE(way.resolution);
        ZvOrganizerFile device;
        device.Append(Task("Pay rent", 1).Clone());
        device.Append(Task("Pay rent", 3).Clone());
        MemoryRecordSource pc;
        pc.Put(Task("Pay rent", 0));
        pc.Put(Task("Pay rent", 2));
        Session first;
        first.observer.choices = way.choices;
        ASSERT_EQ(Estimate(device, pc, first.counters), MergeResult::kDone);
        ASSERT_EQ(Transfer(device, pc, first.counters, first.observer), MergeResult::kDone);
        EXPECT_EQ(first.counters.unresolved, 2);
        EXPECT_EQ(first.counters.synchronized, 0);
        ASSERT_EQ(Resolve(device, pc, way.resolution, first.counters, first.observer), MergeResult::kDone);
        EXPECT_EQ(first.counters.unresolved, 0);
        EXPECT_EQ(first.observer.lastDone, 2);
        ASSERT_EQ(device.Count(), 2u);
        EXPECT_EQ(PriorityAt(device.At(0)), way.first);
        EXPECT_EQ(PriorityAt(device.At(1)), way.second);
        EXPECT_EQ(PriorityAt(*pc.items[0]), way.first);
        EXPECT_EQ(PriorityAt(*pc.items[1]), way.second);

        auto reread = Reread(device);
        const int writes = pc.writes;
        Session second;
        ASSERT_EQ(second.Run(*reread, pc, kReplaceOnComputer), MergeResult::kDone);
        EXPECT_EQ(second.counters.synchronized, 0);
        EXPECT_EQ(second.counters.unresolved, 0);
        EXPECT_EQ(pc.writes, writes);
        EXPECT_EQ(pc.adds, 0);
        EXPECT_EQ(reread->Count(), 2u);
    }
    // New on the PC twice: both reach the device once, and stay paired.
    ZvOrganizerFile device;
    MemoryRecordSource pc;
    pc.Put(Task("Pay rent", 0));
    pc.Put(Task("Pay rent", 2));
    Session first;
    ASSERT_EQ(first.Run(device, pc, kReplaceOnComputer), MergeResult::kDone);
    EXPECT_EQ(first.counters.synchronized, 2);
    auto reread = Reread(device);
    Session second;
    ASSERT_EQ(second.Run(*reread, pc, kReplaceOnComputer), MergeResult::kDone);
    EXPECT_EQ(second.counters.unresolved, 0);
    EXPECT_EQ(second.counters.synchronized, 0);
    EXPECT_EQ(pc.writes, 0);
}

// A version 0 phone book keys on the last name alone: a name held by several PC contacts matches
// none of them, and nothing of that name crosses or is overwritten on either side.
TEST(RecordMergeTest, AVersionZeroKeyHeldBySeveralPcItemsMatchesNone) {
    ZvPhonebookFile device(0);
    ZvContactRecord smith(0);
    smith.s3 = "Smith";
    smith.s5 = "device";
    device.Append(smith.Clone());
    ZvContactRecord other(0);
    other.s3 = "Other";
    other.s5 = "device";
    device.Append(other.Clone());
    for (int resolution : {kReplaceOnDevice, kReplaceOnComputer, kAskUser}) {
        SCOPED_TRACE(resolution);
        MemoryRecordSource pc;
        pc.Put(Contact("Smith", "Jane", "jane"));
        pc.Put(Contact("Smith", "John", "john"));
        pc.Put(Contact("Other", "Ann", "ann"));
        auto list = Reread(device);
        Session s;
        s.observer.choices = {kTakeDeviceVersion};
        ASSERT_EQ(s.Run(*list, pc, resolution), MergeResult::kDone);
        EXPECT_EQ(s.counters.synchronized, 0);
        EXPECT_EQ(s.counters.unresolved, 0);
        EXPECT_EQ(pc.adds, 0);
        ASSERT_EQ(list->Count(), 2u);
        EXPECT_EQ(ContactAt(*list, 0).s5, "device");
        EXPECT_EQ(dynamic_cast<ZvContactRecord&>(*pc.items[0]).s5, "jane");
        EXPECT_EQ(dynamic_cast<ZvContactRecord&>(*pc.items[1]).s5, "john");
        if (resolution == kAskUser)
            EXPECT_EQ(s.observer.asked, 1u) << "only Other, which one PC contact holds, is asked about";
        if (resolution == kReplaceOnComputer)
            EXPECT_EQ(pc.writes, 1);
        if (resolution == kReplaceOnDevice)
            EXPECT_EQ(ContactAt(*list, 1).s5, "ann");
    }
}

TEST(RecordMergeTest, CancelAndFailuresStopWithoutWriting) {
    ZvPhonebookFile device;
    device.Append(Contact("A", "", "1").Clone());
    MemoryRecordSource pc;
    pc.Put(Contact("B", "", "2"));
    pc.Put(Contact("C", "", "3"));
    {
        Session s;
        s.observer.cancelAfterProgress = 1;
        EXPECT_EQ(Transfer(device, pc, s.counters, s.observer), MergeResult::kCancelled);
        EXPECT_EQ(device.Count(), 1u); // nothing appended
        EXPECT_EQ(pc.adds, 0);
    }
    for (bool MemoryRecordSource::*fault :
         {&MemoryRecordSource::failCount, &MemoryRecordSource::failRead, &MemoryRecordSource::failAdd}) {
        ZvPhonebookFile list;
        list.Append(Contact("A", "", "1").Clone());
        pc.*fault = true;
        Session s;
        EXPECT_EQ(Transfer(list, pc, s.counters, s.observer), MergeResult::kSourceFailed);
        pc.*fault = false;
    }
    MemoryRecordSource conflicting;
    conflicting.Put(Contact("A", "", "changed"));
    conflicting.failWrite = true;
    Session s;
    ASSERT_EQ(Transfer(device, conflicting, s.counters, s.observer), MergeResult::kDone);
    EXPECT_EQ(Resolve(device, conflicting, kReplaceOnComputer, s.counters, s.observer),
              MergeResult::kSourceFailed);
}

TEST(RecordMergeTest, TasksFromThePcCompareOnWhatTheDeviceKeeps) {
    ZvOrganizerFile device;
    ZvTaskRecord stored;
    stored.text = std::string(119, 't');
    stored.priority = 1;
    device.Append(stored.Clone());
    MemoryRecordSource pc;
    ZvTaskRecord longer = stored;
    longer.text = std::string(200, 't'); // cut to 119 on the device: the same task
    pc.Put(longer);
    Session s;
    ASSERT_EQ(s.Run(device, pc, kAskUser), MergeResult::kDone);
    EXPECT_EQ(s.counters.unresolved, 0);
    EXPECT_EQ(s.counters.synchronized, 0);
}

TEST(RecordMergeTest, VolumeSpaceAndTaskFieldRules) {
    EXPECT_TRUE(FitsOnVolume(1000, 512, 2));
    EXPECT_FALSE(FitsOnVolume(1024, 512, 2));
    EXPECT_TRUE(FitsOnVolume(1u << 30, 0, 0)); // no block size: not checked
    EXPECT_FALSE(FitsOnVolume(10, 512, -1));
    EXPECT_EQ(PriorityFromPc(2), 2);
    EXPECT_EQ(PriorityFromPc(5), 3);
    EXPECT_EQ(PriorityFromPc(-1), 3);
    EXPECT_EQ(PriorityToPc(3), 1);
    EXPECT_EQ(PriorityToPc(0), 0);
    // Every reminder survives the way through the PC's fractions of a day.
    const double due = 37500.75;
    for (uint8_t reminder = 1; reminder <= 4; ++reminder)
        EXPECT_EQ(ReminderFromLead(due - (due - ReminderLead(reminder))), reminder);
    EXPECT_EQ(ReminderFromLead(2.0 / 24), 3);
    EXPECT_EQ(ReminderFromLead(-1), 1);
}

} // namespace
} // namespace pimsync
