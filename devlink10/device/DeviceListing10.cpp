// The listings of the 1.0 device object: the media of the device, the files of one medium, all
// items, items by wild card, and the one-item lookups of the transfers.
#include "Devlink10Ids.h"
#include "ZvDevice10.h"
#include "HResult.h"

namespace devlink10 {
namespace {

constexpr long kTypeMedium = 2;
constexpr long kTypeFile = 8;
constexpr long kHint = 8;
constexpr HRESULT kCannotConnect = 9;
constexpr HRESULT kListingFailed = 13;
constexpr HRESULT kListingUnreadable = 14;
constexpr HRESULT kLookupUnreadable = static_cast<HRESULT>(0x8000000A);

void SetTime(tv::FileItemRecord& record, const std::string& dateTime) {
    uint64_t time = 0;
    ListingTimeToFileTime(dateTime, time);
    record.nTimeLow = static_cast<long>(time & 0xFFFFFFFFu);
    record.nTimeHigh = static_cast<long>(time >> 32);
}

std::string AfterLastDot(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

// A listed name without the "/<folder>/" that the device puts before names on other media.
std::string ListedName(const std::string& name, const std::string& folder) {
    if (folder == "default")
        return name;
    return name.size() >= folder.size() + 2 ? name.substr(folder.size() + 2) : std::string();
}

} // namespace

std::string ZvDevice10::FolderOfMedium(const std::string& mediumText) const {
    return MediumFolderOf(mediumText, LangString(IDS_DEVICE10_DEFAULT_MEDIUM), media_);
}

bool ZvDevice10::ToDevicePath(const std::string& itemPath, std::string& devicePath) const {
    return devlink10::ToDevicePath(itemPath, LangString(IDS_DEVICE10_DEFAULT_MEDIUM), media_, devicePath);
}

void ZvDevice10::RebuildMedia(const std::string& reply) {
    ParseMediaList(reply, media_);
    for (size_t i = 0; i < media_.folders.size(); ++i) {
        if (media_.folders[i] == "MP3")
            media_.labels[i] = LangString(IDS_DEVICE10_PLAYER_MEDIUM);
        else if (media_.folders[i] == "a")
            media_.labels[i] = LangString(IDS_DEVICE10_CARD_MEDIUM);
    }
}

void ZvDevice10::PresentFile(tv::FileItemRecord& record, const std::string& nameForAssociation) {
    ZVASSOCIATION association = {};
    const HRESULT hr = assoc_ ? assoc_->GetAssociation(const_cast<LPSTR>(nameForAssociation.c_str()), &association)
                              : E_FAIL;
    tv::com::UniqueTaskMem<char> description(association.strDescription);
    tv::com::UniqueTaskMem<char> extension(association.strExtension);
    tv::com::UniqueTaskMem<char> icon(association.strIconSrc);
    if (hr == S_OK) {
        record.strDesc = description ? description.Get() : "";
        record.strIconFile = icon ? icon.Get() : "";
        record.nIconIndex = association.dwIconIdx;
    } else {
        record.nIconIndex = 1;
        record.strIconFile = "SystemIconList." + AfterLastDot(nameForAssociation);
        record.strDesc = LangString(IDS_DEVICE10_FILE_DESC);
    }
}

HRESULT ZvDevice10::ListRoot(tv::FileItemEnumerator& items, HRESULT& answer) {
    const std::string defaultLabel = LangString(IDS_DEVICE10_DEFAULT_MEDIUM);
    auto medium = [&](const std::string& label, const std::string& folder, long description) {
        tv::FileItemRecord record;
        record.type = kTypeMedium;
        record.hint = kHint;
        VOLUMEINFO volume = {};
        if (QueryVolume(folder, volume) == S_OK)
            record.nSize = volume.nTotalBlocks * volume.nBlockSize;
        record.strName = label;
        record.strDesc = LangString(static_cast<UINT>(description));
        record.strIconFile = ModulePath();
        record.nIconIndex = label == LangString(IDS_DEVICE10_PLAYER_MEDIUM) ? -IDI_DEVICE10_PLAYER
                            : label == LangString(IDS_DEVICE10_CARD_MEDIUM) ? -IDI_DEVICE10_CARD
                                                                            : -IDI_DEVICE10_MEDIUM;
        items.Add(std::move(record));
    };
    medium(defaultLabel, "default", IDS_DEVICE10_MAIN_MEDIUM_DESC);
    std::string reply;
    if (Request("<Command>|ls /*|", reply) != S_OK) {
        answer = kListingFailed;
        return answer;
    }
    RebuildMedia(reply);
    for (size_t i = 0; i < media_.folders.size(); ++i)
        medium(media_.labels[i], media_.folders[i], IDS_DEVICE10_MEDIUM_DESC);
    answer = S_OK;
    return S_OK;
}

HRESULT ZvDevice10::ListMedium(const std::string& folder, tv::FileItemEnumerator& items) {
    std::string reply, records;
    if (PathRequest("ls -l -t", "/" + folder + "/*", reply) != S_OK)
        return kListingFailed;
    if (ParseListingReply(reply.c_str(), &records) != ParseResult::Ok)
        return kListingUnreadable;
    const std::string systemDescription = LangString(IDS_DEVICE10_SYSTEM_FILE_DESC);
    const std::string systemMark = LangString(IDS_DEVICE10_SYSTEM_MARK);
    for (const ListingItem& listed : SplitListingRecords(records)) {
        tv::FileItemRecord record;
        record.type = kTypeFile;
        record.strName = ListedName(listed.name, folder);
        record.attr = IsSystemFile(record.strName) ? kSystemFileAttributes : 0;
        record.hint = kHint;
        record.nSize = ReadDecimal(listed.size);
        SetTime(record, listed.dateTime);
        PresentFile(record, record.strName);
        if (record.attr & 8) {
            const bool marked = record.strDesc == systemMark;
            record.strDesc = systemDescription;
            if (marked) {
                record.strIconFile = LanguageLibraryPath();
                record.nIconIndex = -IDI_DEVICE10_SYSTEM_FILE;
            }
        }
        items.Add(std::move(record));
    }
    return S_OK;
}

STDMETHODIMP ZvDevice10::EnumFileItems(LPSTR strPath, long, IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(items));
    const std::string path = strPath ? strPath : "";
    // A medium's listing: the medium part of the path (up to its first backslash) names it.
    const std::string folder = path.empty() ? std::string() : FolderOfMedium(path.substr(0, path.find('\\')));
    if (!IsSafeDeviceName(folder))
        return E_INVALIDARG;
    if (FAILED(Connect()) || !PcModeOn()) {
        Disconnect();
        ReportLost();
        items->QueryInterface(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum));
        return kCannotConnect;
    }
    HRESULT hr = S_OK;
    if (path.empty())
        ListRoot(*items.Get(), hr);
    else
        hr = ListMedium(folder, *items.Get());
    PcModeOff();
    Disconnect();
    if (hr != S_OK)
        return hr;
    return items->QueryInterface(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum));
}

STDMETHODIMP ZvDevice10::GetAllItems(IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(items));
    if (FAILED(Connect()) || !PcModeOn()) {
        Disconnect();
        ReportLost();
        items->QueryInterface(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum));
        return E_FAIL;
    }
    auto end = [&](HRESULT hr) {
        PcModeOff();
        Disconnect();
        return hr;
    };
    std::vector<std::string> mediumNames{LangString(IDS_DEVICE10_DEFAULT_MEDIUM)};
    std::string reply;
    if (Request("<Command>|ls /*|", reply) != S_OK)
        return end(S_FALSE);
    RebuildMedia(reply);
    mediumNames.insert(mediumNames.end(), media_.labels.begin(), media_.labels.end());
    for (size_t i = 0; i < mediumNames.size(); ++i) {
        tv::FileItemRecord record;
        record.type = kTypeMedium;
        record.hint = kHint;
        record.strName = mediumNames[i];
        record.strDesc = LangString(i == 0 ? IDS_DEVICE10_MAIN_MEDIUM_DESC : IDS_DEVICE10_ALL_MEDIUM_DESC);
        record.strIconFile = "shell32.dll";
        record.nIconIndex = 32;
        items->Add(std::move(record));
    }
    for (const std::string& mediumName : mediumNames) {
        const std::string folder = FolderOfMedium(mediumName);
        std::string records;
        if (PathRequest("ls -l -t", "/" + folder + "/*", reply) != S_OK ||
            ParseListingReply(reply.c_str(), &records) != ParseResult::Ok)
            return end(S_FALSE);
        for (const ListingItem& listed : SplitListingRecords(records)) {
            tv::FileItemRecord record;
            record.type = kTypeFile;
            record.strName = mediumName + "\\" + ListedName(listed.name, folder);
            record.attr = IsSystemFile(record.strName) ? kSystemFileAttributes : 0;
            record.hint = kHint;
            record.nSize = ReadDecimal(listed.size);
            SetTime(record, listed.dateTime);
            PresentFile(record, record.strName);
            items->Add(std::move(record));
        }
    }
    return end(items->QueryInterface(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum)));
}

STDMETHODIMP ZvDevice10::FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) {
    if (!strWildCard || !ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    // The wild card goes into the command as it stands.
    if (!IsSafeDeviceName(strWildCard))
        return E_INVALIDARG;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(items));
    std::string command = "ls " + std::string(strWildCard);
    long length = 0;
    LPSTR reply = nullptr;
    const HRESULT hr = Command(command.data(), &length, &reply);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    tv::com::UniqueTaskMem<char> replyText(reply);
    std::string records;
    if (ParseListingReply(reply, &records) != ParseResult::Ok)
        return kListingUnreadable;
    for (const ListingItem& listed : SplitListingRecords(records)) {
        tv::FileItemRecord record;
        record.type = kTypeFile;
        record.strName = listed.name;
        record.attr = IsSystemFile(record.strName) ? kSystemFileAttributes : 0;
        record.hint = kHint;
        record.nSize = ReadDecimal(listed.size);
        SetTime(record, listed.dateTime);
        PresentFile(record, record.strName);
        items->Add(std::move(record));
    }
    return items->QueryInterface(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum));
}

HRESULT ZvDevice10::LookupItem(const std::string& devicePath, ListingItem& item) {
    std::string reply, records;
    if (PathRequest("ls -l -t", devicePath, reply) != S_OK)
        return S_FALSE;
    if (ParseListingReply(reply.c_str(), &records) != ParseResult::Ok)
        return kLookupUnreadable;
    auto listed = SplitListingRecords(records);
    if (listed.size() != 1)
        return S_FALSE;
    item = std::move(listed[0]);
    return S_OK;
}

HRESULT ZvDevice10::LookupItemSize(const std::string& devicePath, long& size) {
    ListingItem item;
    const HRESULT hr = LookupItem(devicePath, item);
    if (hr == S_OK)
        size = ReadDecimal(item.size);
    return hr;
}

HRESULT ZvDevice10::LookupItemTime(const std::string& devicePath, uint64_t& fileTime) {
    ListingItem item;
    const HRESULT hr = LookupItem(devicePath, item);
    if (hr == S_OK)
        ListingTimeToFileTime(item.dateTime, fileTime);
    return hr;
}

} // namespace devlink10
