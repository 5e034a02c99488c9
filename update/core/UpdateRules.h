// The update wizard's portable rules: size texts, the space a file selection needs against the
// space the device offers, what a file page keeps when it is hidden, the sort order of the
// advanced file list, progress-bar figures and the shortening of long progress texts. Sizes and
// sums are 64-bit; whatever goes back into a 32-bit field is clamped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zvupdate {

// "1,50 KB", "0,99 MB", "512 bytes": the number and the unit joined by a blank.
std::string FormatSize(uint64_t bytes);

// Clamps a 64-bit figure into a signed 32-bit field.
int32_t ClampToLong(int64_t value);

// Kilobytes per second of a transfer: length × 1000 / milliseconds, shifted right by 10 bits;
// 0 when no millisecond elapsed. Computed in 64 bits and clamped to 32.
uint32_t TransferRateKBps(uint64_t length, uint64_t milliseconds);

// A bar's percentage: position × 100 / range, within 0..100; 0 for an empty range.
int BarPercent(int64_t position, int64_t range);

struct UpdateFile {
    std::string name;         // the file name (the advanced page also has an application name)
    std::string appName;
    std::string description;
    int64_t length = 0;
    bool selected = false;
};

struct DeviceFile {
    std::string name;
    std::string description;
    int64_t length = 0;
    bool flag = false;
};

// The page kinds whose rules differ: the advanced page never offsets a package (".cap") against
// a device file.
enum class FilePage { Simple, Advanced };

// Whether a file name ends in ".cap", compared in lower case over its last four characters.
bool IsPackageFile(const std::string& name);

struct SpaceFigures {
    int64_t available = 0;
    int64_t required = 0;
    bool Fits() const { return available >= required; }
};

// Available: the total space with format flash, else the free space. Required: the selected
// update files' lengths, less (without format flash) the length of the first device file of the
// same name (case-sensitive); never below 0.
SpaceFigures ComputeSpace(FilePage page, const std::vector<UpdateFile>& updates, const std::vector<DeviceFile>& devices,
                          bool formatFlash, int64_t freeSpace, int64_t totalSpace);

// What a file page keeps when it is hidden: the selected update files, and the device files
// that are to be deleted: those the script flagged and those a kept update file replaces.
void CommitFileSelection(FilePage page, bool formatFlash, std::vector<UpdateFile>& updates,
                         std::vector<DeviceFile>& devices);

// The advanced list's order: by application name or by length, each kind remembering its last
// direction; starts by name ascending.
class FileSortOrder {
  public:
    // A click on a column header: column 0 orders by name, any other by length. The kind that
    // already orders flips its direction; the other kind takes over in the direction it had.
    void Click(int column);
    bool ByName() const { return byName_; }
    bool Ascending() const { return byName_ ? nameAscending_ : lengthAscending_; }
    // Whether `a` goes before `b`.
    bool Before(const UpdateFile& a, const UpdateFile& b) const;
    void Sort(std::vector<size_t>& rows, const std::vector<UpdateFile>& files) const;

  private:
    bool byName_ = true;
    bool nameAscending_ = true;
    bool lengthAscending_ = true;
};

// Shortens a progress text that does not fit: the characters in front of the last backslash and
// after the first colon are replaced by "..." one at a time until `fits` accepts the text or
// nothing is left to replace. Texts that fit, or have no backslash, come back unchanged.
std::string ShortenProgressText(const std::string& text, const std::function<bool(const std::string&)>& fits);

// Auto-progress: the timer interval of `count` steps over `totalMs` milliseconds (at least 1).
unsigned AutoProgressInterval(int64_t totalMs, int64_t count);

} // namespace zvupdate
