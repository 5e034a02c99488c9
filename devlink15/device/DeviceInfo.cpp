// Queries beyond one folder listing: totals of a selection, volume and device information, every
// item of the device, and the items that match a wild card.
#include "ZvDevice15.h"
#include "FileItemEnumerator.h"

#include "AnsiText.h"
#include "Device15Ids.h"

#include <algorithm>
#include <cstring>

namespace devlink15 {
namespace {

constexpr char kShellIcons[] = "shell32.dll";
constexpr long kMainVolumeIcon = 32;

// Reports the end of an items query once, with its text, whatever way the query ends.
class ItemsInfoCompletion {
  public:
    explicit ItemsInfoCompletion(IZvItemsInfoCallback* callback) : callback_(callback) {}
    ~ItemsInfoCompletion() { callback_->OnOperationComplete(const_cast<LPSTR>(text_.c_str())); }
    ItemsInfoCompletion(const ItemsInfoCompletion&) = delete;
    ItemsInfoCompletion& operator=(const ItemsInfoCompletion&) = delete;
    HRESULT Fail(const std::string& text, HRESULT result) {
        text_ = text;
        return result;
    }

  private:
    IZvItemsInfoCallback* callback_;
    std::string text_;
};

// The device form of a path below a volume: the label followed by the path from its second "/".
std::string PcPathOfDeviceEntry(const std::string& label, const std::string& devicePath) {
    const size_t first = devicePath.find('/');
    const size_t second = first == std::string::npos ? std::string::npos : devicePath.find('/', first + 1);
    std::string tail = second == std::string::npos ? std::string() : devicePath.substr(second);
    std::replace(tail.begin(), tail.end(), '/', '\\');
    return label + tail;
}

} // namespace

STDMETHODIMP ZvDevice15::GetItemsInfo(long nStringCount, long nMaxLen, LPSTR* aStrItems,
                                      IZvItemsInfoCallback* piCallback) {
    if (nStringCount <= 0 || nMaxLen <= 0 || !aStrItems)
        return E_INVALIDARG;
    if (!piCallback)
        return E_POINTER;
    if (std::any_of(aStrItems, aStrItems + nStringCount, [](LPSTR item) { return item == nullptr; }))
        return E_INVALIDARG;
    return CollectItemsInfo(nStringCount, aStrItems, piCallback);
}

HRESULT ZvDevice15::CollectItemsInfo(long count, LPSTR* items, IZvItemsInfoCallback* callback) {
    callback->OnOperationStart();
    ItemsInfoCompletion completion(callback);
    const std::string first = items[0];
    const size_t lastBackslash = first.rfind('\\');
    if (lastBackslash == std::string::npos)
        return completion.Fail("Invalid Input", E_FAIL);
    const std::string parent = first.substr(0, lastBackslash);
    std::string parentPath;
    if (parent.find('\\') == std::string::npos) {
        // A volume: its device path is that of an empty leaf below it, without the closing "/".
        if (FAILED(MapToDevicePath(parent + "\\", parentPath)))
            return completion.Fail(LangString(IDS_DEVICE15_UNKNOWN_VOLUME), 21);
        parentPath.pop_back();
    } else if (FAILED(MapToDevicePath(parent, parentPath))) {
        return completion.Fail(LangString(IDS_DEVICE15_UNKNOWN_VOLUME), 21);
    }
    std::string reply;
    if (!IsSafeConsolePath(parentPath) || SendCommand("ls $pipe=15 -L \"" + parentPath + "/*\"", reply) != S_OK)
        return completion.Fail(LangString(IDS_DEVICE15_LISTING_FAILED), E_FAIL);
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return completion.Fail(LangString(IDS_DEVICE15_LISTING_UNREADABLE), E_FAIL);

    ITEMSINFO totals = {};
    std::vector<std::string> folders;
    for (long i = 0; i < count; ++i) {
        std::string itemPath;
        if (FAILED(MapToDevicePath(items[i], itemPath)))
            return completion.Fail(LangString(IDS_DEVICE15_UNKNOWN_VOLUME), 21);
        for (const ListingEntry& entry : entries) {
            if (entry.path != itemPath)
                continue;
            if (entry.type == kTypeFolder) {
                folders.push_back(entry.name);
            } else {
                ++totals.files;
                totals.nTotalSize += entry.size;
            }
        }
    }
    callback->OnOperationProgress(totals);
    for (const std::string& folder : folders) {
        ITEMSINFO below = {};
        if (CountTree(parent + "\\" + folder, &below) != S_OK)
            return completion.Fail(LangString(IDS_DEVICE15_LISTING_UNREADABLE), E_FAIL);
        totals.folders += below.folders;
        totals.files += below.files;
        totals.nTotalSize += below.nTotalSize;
        callback->OnOperationProgress(totals);
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) {
    if (!strItem || !pInfo)
        return E_INVALIDARG;
    pInfo->nBlockSize = 0;
    bool mapped = false;
    std::string name = MapVolumeLabel(strItem, Texts(), volumes_, mapped);
    if (!mapped)
        name.clear();
    if (!IsSafeConsolePath(name))
        return E_FAIL;
    std::string reply;
    // The device answers an unknown volume with its failure status: no values to report.
    if (SendCommand("sysinfo $pipe=15 \"/" + name + "\"", reply) != S_OK || ReplyReportsFailure(reply))
        return E_FAIL;
    pInfo->nBlockSize = SysinfoValue(reply, "block_size(bytes)");
    pInfo->nTotalBlocks = SysinfoValue(reply, "blocks_total");
    pInfo->nFreeBlocks = SysinfoValue(reply, "free_blocks");
    pInfo->nBusyBlocks = pInfo->nTotalBlocks - pInfo->nFreeBlocks;
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetDeviceInfo(long* nMaxLen, LPSTR* strInfo) {
    if (!nMaxLen || !strInfo)
        return E_INVALIDARG;
    std::string reply;
    if (FAILED(RunCommand("sysinfo ", reply)))
        return E_FAIL;
    std::string text;
    if (!FormatDeviceInfo(reply, text))
        return E_FAIL;
    char* copy = tv::com::TaskTextCopy(text);
    if (!copy)
        return E_OUTOFMEMORY;
    *strInfo = copy;
    *nMaxLen = static_cast<long>(text.size() + 1);
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetAllItems(IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    HRESULT hr = tv::com::MakeComObject(items);
    if (FAILED(hr))
        return hr;
    auto volumeRecord = [](const std::string& label, const std::string& description) {
        tv::FileItemRecord record;
        record.type = kTypeVolume;
        record.hint = 8;
        record.strName = label;
        record.strDesc = description;
        record.strIconFile = kShellIcons;
        record.nIconIndex = kMainVolumeIcon;
        return record;
    };
    std::vector<std::string> queue{LangString(IDS_DEVICE15_MAIN_LABEL)};
    items->Add(volumeRecord(queue.front(), LangString(IDS_DEVICE15_MAIN_VOLUME_DESC_ALL)));
    if (FAILED(ListVolumes()))
        return E_FAIL;
    const std::string description = LangString(IDS_DEVICE15_VOLUME_DESC);
    for (const std::string& label : volumes_.labels) {
        items->Add(volumeRecord(label, description));
        queue.push_back(label);
    }
    for (const std::string& label : queue) {
        bool mapped = false;
        const std::string volume = MapVolumeLabel(label, Texts(), volumes_, mapped);
        if (!IsSafeConsolePath(volume))
            return E_FAIL;
        std::string reply;
        if (SendCommand("ls $pipe=15 -L \"/" + volume + "/.../*\" ", reply) != S_OK)
            return E_FAIL;
        std::vector<ListingEntry> entries;
        if (!ParseListing(reply, Texts(), entries))
            return E_FAIL;
        for (const ListingEntry& entry : entries) {
            tv::FileItemRecord record = RecordOf(entry);
            record.strName = PcPathOfDeviceEntry(label, entry.path);
            PresentItem(record, entry, false);
            items->Add(std::move(record));
        }
    }
    return items->QueryInterface(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum));
}

STDMETHODIMP ZvDevice15::FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    if (!strWildCard || !IsSafeConsolePath(strWildCard))
        return E_INVALIDARG;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    HRESULT hr = tv::com::MakeComObject(items);
    if (FAILED(hr))
        return hr;
    std::string reply;
    if (FAILED(RunCommand("ls -L \"/" + std::string(strWildCard) + "\"", reply)))
        return E_FAIL;
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return E_FAIL;
    for (const ListingEntry& entry : entries) {
        tv::FileItemRecord record = RecordOf(entry);
        PresentItem(record, entry, false);
        items->Add(std::move(record));
    }
    return items->QueryInterface(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum));
}

} // namespace devlink15
