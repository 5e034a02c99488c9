// Folder and volume listings of the device object, the one-item lookup and the tree count that
// the other operations share, and how a listed item is presented (description and icon).
#include "ZvDevice15.h"
#include "FileItemEnumerator.h"

#include "Device15Ids.h"
#include "Handles.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace devlink15 {
namespace {

constexpr long kFolderIcon = 3;
constexpr long kUnknownFileIcon = 1;
constexpr char kShellIcons[] = "shell32.dll";
constexpr char kUnknownFileDescription[] = "Zelvan File";

std::string BackslashesToSlashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// Extension for the association lookup: from the last "." on, dot included; empty without one.
std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

long ClampedVolumeSize(const VOLUMEINFO& info) {
    const int64_t bytes = static_cast<int64_t>(info.nBlockSize) * static_cast<int64_t>(info.nTotalBlocks);
    return static_cast<long>(std::clamp<int64_t>(bytes, 0, LONG_MAX));
}

HRESULT HandOut(tv::FileItemEnumerator* items, IZvEnumFileItems** ppiEnum) {
    return items->QueryInterface(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum));
}

} // namespace

tv::FileItemRecord RecordOf(const ListingEntry& entry) {
    tv::FileItemRecord record;
    record.type = entry.type;
    record.attr = entry.attr;
    record.hint = entry.hint;
    record.nSize = entry.size;
    record.strName = entry.name;
    record.nTimeLow = entry.timeLow;
    record.nTimeHigh = entry.timeHigh;
    return record;
}

HRESULT ZvDevice15::MapToDevicePath(const std::string& path, std::string& devicePath) const {
    return devlink15::MapToDevicePath(path, Texts(), volumes_, devicePath) ? S_OK : E_FAIL;
}

HRESULT ZvDevice15::StatItem(const std::string& path, ListingEntry* entry, bool* deviceAnswered) {
    if (deviceAnswered)
        *deviceAnswered = false;
    if (!entry)
        return E_INVALIDARG;
    std::string devicePath;
    if (FAILED(MapToDevicePath(path, devicePath)))
        return 21;
    if (!IsSafeConsolePath(devicePath))
        return E_FAIL;
    std::string reply;
    if (SendCommand("ls $pipe=15 -L \"" + devicePath + "\"", reply) != S_OK)
        return E_FAIL;
    if (deviceAnswered)
        *deviceAnswered = true;
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries) || entries.size() != 1)
        return E_FAIL;
    *entry = std::move(entries.front());
    return S_OK;
}

HRESULT ZvDevice15::CountTree(const std::string& path, ITEMSINFO* info) {
    if (!info)
        return E_INVALIDARG;
    std::string devicePath;
    if (FAILED(MapToDevicePath(path, devicePath)))
        return 21;
    if (!IsSafeConsolePath(devicePath))
        return E_FAIL;
    std::string reply;
    if (SendCommand("ls $pipe=15 -L \"" + devicePath + "/.../*\"", reply) != S_OK)
        return E_FAIL;
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return E_FAIL;
    for (const ListingEntry& entry : entries) {
        info->nTotalSize += entry.size;
        if (entry.type == kTypeFolder)
            ++info->folders;
        else
            ++info->files;
    }
    return S_OK;
}

HRESULT ZvDevice15::LookupItemAssociation(tv::FileItemRecord& item) {
    ZVASSOCIATION association = {};
    const std::string extension = ExtensionOf(item.strName);
    const HRESULT hr = assoc_->GetAssociation(const_cast<LPSTR>(extension.c_str()), &association);
    // The record's strings were made for this call and belong to us.
    tv::com::UniqueTaskMem<char> description(association.strDescription);
    tv::com::UniqueTaskMem<char> extensionText(association.strExtension);
    tv::com::UniqueTaskMem<char> iconSource(association.strIconSrc);
    if (FAILED(hr))
        return hr;
    item.strDesc = description ? description.Get() : "";
    item.strIconFile = iconSource ? iconSource.Get() : "";
    item.nIconIndex = association.dwIconIdx;
    return S_OK;
}

void ZvDevice15::PresentItem(tv::FileItemRecord& record, const ListingEntry& entry, bool folderListing) {
    if (entry.type == kTypeFolder) {
        if (folderListing)
            record.hint = entry.hint | 1;
        record.strDesc = entry.description;
        record.strIconFile = kShellIcons;
        record.nIconIndex = kFolderIcon;
    } else if (SUCCEEDED(LookupItemAssociation(record))) {
        if (folderListing && (entry.attr & kAttrSystem))
            record.strDesc = LangString(IDS_DEVICE15_SYSTEM_FILE_DESC);
    } else {
        const size_t dot = record.strName.find('.');
        record.nIconIndex = kUnknownFileIcon;
        record.strIconFile = "SystemIconList." + (dot == std::string::npos ? record.strName : record.strName.substr(dot + 1));
        record.strDesc = kUnknownFileDescription;
    }
    if (folderListing && (entry.attr & kAttrSystem) && record.strDesc == LangString(IDS_DEVICE15_SYSTEM_MARK)) {
        record.strIconFile = LanguageLibraryPath();
        record.nIconIndex = -IDI_DEVICE15_SYSTEM_FILE;
    }
}

HRESULT ZvDevice15::ListVolumes() {
    std::string reply;
    if (SendCommand("ls $pipe=15 /*", reply) != S_OK)
        return E_FAIL;
    ParseVolumeList(reply, Texts(), volumes_);
    return S_OK;
}

HRESULT ZvDevice15::ListRoot(tv::FileItemEnumerator& items) {
    const std::string mainLabel = LangString(IDS_DEVICE15_MAIN_LABEL);
    const std::string library = LanguageLibraryPath();
    auto volumeRecord = [&](const std::string& label, const std::string& description, long icon) {
        tv::FileItemRecord record;
        record.type = kTypeVolume;
        record.hint = 9;
        VOLUMEINFO info = {};
        if (SUCCEEDED(GetVolumeInfo(const_cast<LPSTR>(label.c_str()), &info)))
            record.nSize = ClampedVolumeSize(info);
        record.strName = label;
        record.strDesc = description;
        record.strIconFile = library;
        record.nIconIndex = icon;
        return record;
    };
    items.Add(volumeRecord(mainLabel, LangString(IDS_DEVICE15_MAIN_VOLUME_DESC), -IDI_DEVICE15_VOLUME));
    if (FAILED(ListVolumes()))
        return E_FAIL;
    const std::string description = LangString(IDS_DEVICE15_VOLUME_DESC);
    const long icon = volumes_.mediaPlayer ? -IDI_DEVICE15_PLAYER_VOLUME : -IDI_DEVICE15_VOLUME;
    const std::vector<std::string> labels = volumes_.labels;
    for (const std::string& label : labels)
        items.Add(volumeRecord(label, description, icon));
    return S_OK;
}

HRESULT ZvDevice15::ListFolder(const std::string& path, long type, tv::FileItemEnumerator& items) {
    const size_t backslash = path.find('\\');
    bool mapped = false;
    const std::string volume = MapVolumeLabel(path.substr(0, backslash), Texts(), volumes_, mapped);
    std::string rest = backslash == std::string::npos ? std::string() : BackslashesToSlashes(path.substr(backslash));
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const std::string folder = volume + rest;
    if (!IsSafeConsolePath(folder))
        return E_FAIL;
    std::string reply;
    if (SendCommand("ls $pipe=15 -L \"/" + folder + "/*\" ", reply) != S_OK)
        return E_FAIL;
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return E_FAIL;
    for (const ListingEntry& entry : entries) {
        if (!(entry.type & type))
            continue;
        tv::FileItemRecord record = RecordOf(entry);
        PresentItem(record, entry, true);
        items.Add(std::move(record));
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::EnumFileItems(LPSTR strPath, long type, IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    tv::com::ComPtr<tv::FileItemEnumerator> items;
    HRESULT hr = tv::com::MakeComObject(items);
    if (FAILED(hr))
        return hr;
    const std::string path = strPath ? strPath : "";
    hr = path.empty() ? ListRoot(*items.Get()) : ListFolder(path, type, *items.Get());
    if (FAILED(hr))
        return hr;
    return HandOut(items.Get(), ppiEnum);
}

} // namespace devlink15
