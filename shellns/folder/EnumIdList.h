// The enumerator the folder hands the shell: copies of the identifiers made from one listing of
// the hub.
#pragma once
#include "ComObject.h"
#include "ItemIdList.h"
#include "NsGlobals.h"
#include <shlobj.h>
#include <vector>

namespace tv::shellns {

class ZvEnumIDList : public com::ComObject<ZvEnumIDList, IEnumIDList> {
public:
    // IEnumIDList
    STDMETHODIMP Next(ULONG celt, PITEMID_CHILD* rgelt, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumIDList** ppenum) override;

    // Lists the folder at `folderPath` through the hub; E_FAIL when the hub cannot be reached or
    // a child's path would reach 250 characters.
    HRESULT Fill(NsGlobals& globals, const std::string& folderPath, SHCONTF flags);
    size_t Count() const { return items_.size(); }

private:
    std::vector<UniquePidl> items_;
    size_t position_ = 0;
};

} // namespace tv::shellns
