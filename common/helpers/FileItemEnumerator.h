// FileItemEnumerator: the enumerator of a device listing. The device object adds the records
// before it hands the enumerator out; every Next hands out fresh task-allocator copies of the
// strings, which then belong to the receiver. Clone copies the records and the position; Skip
// stops at the end.
#pragma once

#include "ComObject.h"
#include "ZvDevice.h"

#include <string>
#include <vector>

namespace tv {

// One record as the enumerator keeps it (its own copies of the strings).
struct FileItemRecord {
    long type = 0;
    long attr = 0;
    long hint = 0;
    long nSize = 0;
    std::string strName;
    std::string strDesc;
    std::string strIconFile;
    long nIconIndex = 0;
    long nTimeLow = 0;
    long nTimeHigh = 0;
    // Strings handed out as null pointers rather than copies (a listing may leave them out).
    bool nullName = false;
    bool nullDesc = false;
    bool nullIconFile = false;
};

// Frees the three strings of a record handed out by an enumerator and clears them.
void FreeFileItemStrings(ZVFILEITEM& item);

class FileItemEnumerator : public com::ComObject<FileItemEnumerator, IZvEnumFileItems> {
  public:
    FileItemEnumerator() = default;
    FileItemEnumerator(std::vector<FileItemRecord> records, size_t position)
        : records_(std::move(records)), position_(position) {}

    void Add(FileItemRecord record) { records_.push_back(std::move(record)); }
    size_t Count() const { return records_.size(); }

    STDMETHODIMP Next(unsigned long nElems, ZVFILEITEM* pElems, long* nFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(unsigned long nElems) override;
    STDMETHODIMP Clone(IZvEnumFileItems** piCloned) override;

  private:
    std::vector<FileItemRecord> records_;
    size_t position_ = 0;
};

} // namespace tv
