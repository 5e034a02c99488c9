// The merge of a device record list with the records of the desktop application's folder. The
// folder is reached through an abstract record source, so the merge runs and is tested without the
// application; the synchronizer adapts the application's item collection to it.
#pragma once
#include "SyncRecords.h"

namespace pimsync {

enum class ItemRead {
    kRecord,  // the item filled the record
    kSkipped, // the item is of another kind (a distribution list in the contacts folder)
    kFailed,
};

// The PC side: items numbered from 1.
class PcRecordSource {
  public:
    virtual ~PcRecordSource() = default;
    virtual bool Count(long& count) = 0;
    virtual ItemRead Read(long index, ZvSyncRecord& record) = 0;
    // Adds a new item written from the record (and saves it). Both writers bring the device
    // record to what the PC keeps of it (a task without priority is saved as a normal one), so
    // that the pair reads back equal in the next session instead of conflicting in every one.
    virtual bool Add(ZvSyncRecord& record) = 0;
    // Writes the record into the item at index (and saves it).
    virtual bool Write(long index, ZvSyncRecord& record) = 0;
};

// The answers of the conflict dialog.
enum ConflictChoice { kTakePcVersion = 1, kTakeDeviceVersion = 2, kSkipPair = 3, kEndResolve = 4 };

// Conflict resolution of the session: 1 ask the user, 2 the device takes the PC version, 3 the PC
// takes the device version.
enum Resolution { kAskUser = 1, kReplaceOnDevice = 2, kReplaceOnComputer = 3 };

class MergeObserver {
  public:
    virtual ~MergeObserver() = default;
    virtual void Progress(long done, long total) = 0;
    virtual bool Cancelled() = 0;
    // Asked only under kAskUser; one of ConflictChoice.
    virtual int ChooseVersion(const ZvSyncRecord& device, const ZvSyncRecord& pc) = 0;
};

struct MergeCounters {
    long total = 0;
    long synchronized = 0;
    long unresolved = 0;
};

enum class MergeResult {
    kDone,         // the list is to be written back
    kCancelled,    // stopped for the cancel flag: nothing is written
    kSourceFailed, // a call on the source failed: the caller reports its error
};

// Counts the work: device records plus PC items.
MergeResult Estimate(const ZvSyncRecordList& list, PcRecordSource& source, MergeCounters& counters);

// Marks device records found on the PC as same or changed, appends the PC's new records to the
// list, and adds the records only on the device to the PC. Deletions are not carried either way.
// Items and records of one key pair one to one, in their order; a partial key held by several PC
// items pairs with none of its device records, and neither side takes anything of that key.
MergeResult Transfer(ZvSyncRecordList& list, PcRecordSource& source, MergeCounters& counters,
                     MergeObserver& observer);

// Settles the pairs the transfer found changed, each once; the PC items after the last of them are
// not read.
MergeResult Resolve(ZvSyncRecordList& list, PcRecordSource& source, int resolution, MergeCounters& counters,
                    MergeObserver& observer);

// Whether a file fits the device volume: at least size / blockSize + 1 free blocks. A volume that
// reports no block size is not checked.
bool FitsOnVolume(uint64_t fileSize, long blockSize, long freeBlocks);

// Task fields as the desktop application has them.
uint8_t PriorityFromPc(long importance);
long PriorityToPc(uint8_t priority);
// Reminder from the lead of the due date over the reminder time, in days (set reminders only).
uint8_t ReminderFromLead(double leadDays);
// The lead a reminder value puts before the due date, in days (nonzero reminders).
double ReminderLead(uint8_t reminder);

} // namespace pimsync
