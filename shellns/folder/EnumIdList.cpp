#include "EnumIdList.h"
#include "HResult.h"

namespace tv::shellns {
namespace {

constexpr size_t kMaxChildPath = 250;
constexpr ULONG kBatch = 10;

// Frees the three texts of listing records the hub handed over.
struct RecordBatch {
    ZVFILEITEM records[kBatch] = {};
    LONG fetched = 0;
    ~RecordBatch() {
        for (LONG i = 0; i < fetched && i < static_cast<LONG>(kBatch); ++i) {
            CoTaskMemFree(records[i].strName);
            CoTaskMemFree(records[i].strDesc);
            CoTaskMemFree(records[i].strIconFile);
        }
    }
};

} // namespace

HRESULT ZvEnumIDList::Fill(NsGlobals& globals, const std::string& folderPath, SHCONTF flags) {
    items_.clear();
    position_ = 0;
    com::ComPtr<IZelvanMgr> hub;
    TV_RETURN_IF_FAILED(globals.GetHub(hub));
    com::ComPtr<IZvEnumFileItems> listing;
    const LONG type = (flags & SHCONTF_NONFOLDERS) ? 31 : 7;
    HRESULT hr = hub->EnumFileItems(const_cast<LPSTR>(folderPath.c_str()), type, &listing);
    if (FAILED(hr) || !listing)
        return E_FAIL;
    SHELLFLAGSTATE shell{};
    SHGetSettings(&shell, SSF_SHOWSYSFILES);
    for (;;) {
        RecordBatch batch;
        if (FAILED(listing->Next(kBatch, batch.records, &batch.fetched)))
            return E_FAIL;
        if (batch.fetched <= 0)
            return S_OK;
        for (LONG i = 0; i < batch.fetched && i < static_cast<LONG>(kBatch); ++i) {
            const ZVFILEITEM& source = batch.records[i];
            ItemRecord record;
            const std::string iconFile = source.strIconFile ? source.strIconFile : "";
            record.iconIndex = static_cast<uint32_t>(globals.GetIconIndex(iconFile, source.nIconIndex));
            record.iconIndex2 = static_cast<uint32_t>(globals.GetIconIndex(iconFile, source.nIconIndex));
            record.flags = ItemFlags(source.hint, source.type);
            record.type = static_cast<uint32_t>(source.type);
            record.attr = static_cast<uint32_t>(source.attr);
            record.size = static_cast<uint32_t>(source.nSize);
            record.timeLow = static_cast<uint32_t>(source.nTimeLow);
            record.timeHigh = static_cast<uint32_t>(source.nTimeHigh);
            record.name = source.strName ? source.strName : "";
            record.description = source.strDesc ? source.strDesc : "";
            // The shell's "show system files" setting hides the device's hidden items, as the
            // folder has always done.
            if ((record.attr & kItemHidden) && shell.fShowSysFiles)
                continue;
            const size_t childPath = folderPath.size() + 1 + record.name.size();
            if (childPath >= kMaxChildPath)
                return E_FAIL;
            UniquePidl pidl(CreateItemPidl(record));
            if (!pidl)
                return E_OUTOFMEMORY;
            items_.push_back(std::move(pidl));
        }
    }
}

STDMETHODIMP ZvEnumIDList::Next(ULONG celt, PITEMID_CHILD* rgelt, ULONG* pceltFetched) {
    if (pceltFetched)
        *pceltFetched = 0;
    if (position_ > items_.size())
        return E_FAIL;
    if (!rgelt || (celt > 1 && !pceltFetched))
        return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < celt && position_ < items_.size()) {
        PITEMID_CHILD copy = static_cast<PITEMID_CHILD>(ILClone(items_[position_].Get()));
        if (!copy)
            break;
        rgelt[fetched++] = copy;
        ++position_;
    }
    if (pceltFetched)
        *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

STDMETHODIMP ZvEnumIDList::Skip(ULONG celt) {
    if (position_ > items_.size())
        return E_FAIL;
    const size_t left = items_.size() - position_;
    if (celt > left) {
        position_ = items_.size();
        return S_FALSE;
    }
    position_ += celt;
    return S_OK;
}

STDMETHODIMP ZvEnumIDList::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ZvEnumIDList::Clone(IEnumIDList** ppenum) {
    if (ppenum)
        *ppenum = nullptr;
    return position_ > items_.size() ? E_FAIL : E_NOTIMPL;
}

} // namespace tv::shellns
