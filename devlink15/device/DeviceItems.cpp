// Delete, rename (and move), create folder and set attributes: each one console command.
#include "ZvDevice15.h"

#include "Device15Ids.h"
#include "LangIds.h"

#include <cstdio>
#include <vector>

namespace devlink15 {
namespace {

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

std::string LeafOf(const std::string& path) {
    const size_t backslash = path.rfind('\\');
    return backslash == std::string::npos ? path : path.substr(backslash + 1);
}

std::string FormatWithText(const std::string& format, const std::string& text) {
    std::vector<char> buffer(format.size() + text.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), text.c_str());
    return buffer.data();
}

} // namespace

STDMETHODIMP ZvDevice15::DeleteFileItem(LPSTR strItem, long nMaxLen, unsigned char* strError) {
    if (!strItem || !strError)
        return E_POINTER;
    if (nMaxLen <= 0)
        return E_INVALIDARG;
    strError[0] = '\0';
    std::string devicePath;
    if (FAILED(MapToDevicePath(strItem, devicePath))) {
        CopyErrorText(LangString(IDS_DEVICE15_UNKNOWN_VOLUME), nMaxLen, strError);
        return 21;
    }
    if (!IsSafeConsolePath(devicePath))
        return E_INVALIDARG;
    ListingEntry entry;
    bool deviceAnswered = false;
    if (StatItem(strItem, &entry, &deviceAnswered) != S_OK) {
        // No answer at all: the link or the device failed, and nothing is known of the item.
        if (!deviceAnswered) {
            CopyErrorText(LangString(IDS_DEVICE15_FILE_NOT_DELETED), nMaxLen, strError);
            return 8;
        }
        // The device listed no such item (or refused the lookup): no attributes, and the removal
        // below reports what the device says.
        entry = ListingEntry{};
    }
    entry.name = strItem;
    if (!ConfirmDeleteReadOnly(entry))
        return S_OK;
    std::string reply;
    if (entry.type == kTypeFolder) {
        const HRESULT hr = SendCommand("rm $pipe=15 -f \"" + devicePath + "/.../*\"", reply);
        if (hr != S_OK || Contains(reply, "fail")) {
            CopyErrorText(LangString(IDS_DEVICE15_FOLDER_NOT_DELETED), nMaxLen, strError);
            return 24;
        }
    } else {
        const HRESULT hr = SendCommand("rm $pipe=15 \"" + devicePath + "\"", reply);
        if (hr != S_OK || Contains(reply, "fail")) {
            CopyErrorText(LangString(IDS_DEVICE15_FILE_NOT_DELETED), nMaxLen, strError);
            return 8;
        }
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::RenameFileItem(LPSTR strItem, LPSTR strNewName, long nMaxLen, unsigned char* strError) {
    if (!strItem) {
        CopyErrorText(LangString(IDS_DEVICE15_NO_ITEM), nMaxLen, strError);
        return E_INVALIDARG;
    }
    if (!strNewName || !*strNewName) {
        CopyErrorText(LangString(IDS_DEVICE15_NO_NEW_NAME), nMaxLen, strError);
        return E_INVALIDARG;
    }
    const std::string source = strItem;
    const std::string destination = strNewName;
    if (source.find('\\') == std::string::npos || destination.find('\\') == std::string::npos)
        return E_INVALIDARG;
    // An unknown volume label is kept as it stands; the device then refuses the paths.
    std::string sourcePath;
    std::string destinationPath;
    MapToDevicePath(source, sourcePath);
    MapToDevicePath(destination, destinationPath);
    if (!IsSafeConsolePath(sourcePath) || !IsSafeConsolePath(destinationPath))
        return E_INVALIDARG;
    if (sourcePath == destinationPath)
        return S_OK;

    ListingEntry existing;
    if (StatItem(destinationPath.substr(1), &existing) == S_OK) {
        // The user learns why the rename did not happen whatever the EnableUI switch says.
        const UINT format = existing.type == kTypeFolder ? IDS_DEVICE15_FOLDER_EXISTS : IDS_DEVICE15_FILE_EXISTS;
        std::string caption = LangString(IDS_HUB_MESSAGE_CAPTION);
        if (caption.empty())
            caption = "Tavrilon";
        MessageBoxA(GetDesktopWindow(), FormatWithText(LangString(format), LeafOf(destination)).c_str(),
                    caption.c_str(), MB_ICONEXCLAMATION | MB_OK);
        return E_FAIL;
    }
    ListingEntry entry;
    if (StatItem(sourcePath.substr(1), &entry) != S_OK) {
        CopyErrorText(LangString(IDS_DEVICE15_RENAME_FAILED), nMaxLen, strError);
        return E_FAIL;
    }
    if (!ConfirmRenameReadOnly(entry))
        return S_OK;
    std::string reply;
    const HRESULT hr =
        SendCommand("cp $pipe=15 -f -v -m \"" + sourcePath + "\" \"" + destinationPath + "\"", reply);
    if (hr != S_OK || !Contains(reply, "done")) {
        CopyErrorText(LangString(IDS_DEVICE15_RENAME_FAILED), nMaxLen, strError);
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::CreateFolder(LPSTR strFolderName) {
    if (!strFolderName)
        return E_INVALIDARG;
    // A bare volume (nothing below its label) is the device's own and exists already: no command
    // is sent, which would make a folder of that name at the device's root. A label the device
    // does not have fails.
    std::string volume = strFolderName;
    if (!volume.empty() && volume.back() == '\\')
        volume.pop_back();
    if (volume.find('\\') == std::string::npos) {
        bool known = false;
        MapVolumeLabel(volume, Texts(), volumes_, known);
        return known ? S_OK : E_FAIL;
    }
    std::string devicePath;
    if (FAILED(MapToDevicePath(strFolderName, devicePath)))
        return E_FAIL;
    if (!IsSafeConsolePath(devicePath))
        return E_INVALIDARG;
    std::string reply;
    const HRESULT hr = SendCommand("mkdir $pipe=15 \"" + devicePath + "\"", reply);
    return hr != S_OK || Contains(reply, "fail") ? E_FAIL : S_OK;
}

STDMETHODIMP ZvDevice15::SetItemAttributes(ZVFILEITEM item) {
    if (!item.strName)
        return E_INVALIDARG;
    std::string devicePath;
    if (FAILED(MapToDevicePath(item.strName, devicePath)))
        return E_FAIL;
    const HRESULT hr = ApplyItemAttributes(devicePath, item.attr);
    return hr < 0 ? hr : S_OK;
}

} // namespace devlink15
