// An enumeration of device entries (IZvEnumDevEntries) over its own referenced list.
#pragma once
#include "ComObject.h"
#include "ZvBackupMgr.h"
#include <memory>
#include <vector>

namespace tv::backup {

using EntryList = std::vector<com::ComPtr<IStream>>;

class DevEntryEnumerator : public com::ComObject<DevEntryEnumerator, IZvEnumDevEntries> {
public:
    static HRESULT Create(EntryList entries, IZvEnumDevEntries** out);

    STDMETHODIMP Clone(IZvEnumDevEntries** ppEnum) override;
    STDMETHODIMP Next(ULONG nElems, IStream** pEntries, ULONG* nFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(ULONG nCount) override;

private:
    std::shared_ptr<const EntryList> entries_;
    size_t position_ = 0;
};

} // namespace tv::backup
