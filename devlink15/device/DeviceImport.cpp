// Import from the PC: one PC file, or a PC folder with everything below it, into a device folder.
// Each file travels by one transfer of the port; folders are made with "mkdir"; the PC items'
// read-only, hidden and system attributes are carried over with "chmod".
#include "ZvDevice15.h"

#include "LangIds.h"
#include "TransferSupport.h"
#include "UsbDevices.h"

#include <deque>
#include <vector>

namespace devlink15 {

using transfer::Outcome;
using transfer::Report;
using transfer::Text;

namespace {

// Whether a USB device of this generation with the device's string id ("@" + short id) is present.
bool DeviceStillConnected(const std::string& strId) {
    for (int number = 0; number < 2 * kUsbInterfaceSlots; ++number) {
        if (FindDeviceClassByIndex(number) != static_cast<int>(UsbInterfaceClass::Device))
            continue;
        UsbDeviceInfo info;
        if (QueryUsbDeviceInfo(number, info) && "@" + info.shortId == strId)
            return true;
    }
    return false;
}

struct ScanEntry {
    std::string pcPath;
    bool folder;
};

// The folder and everything below it: the folder, its entries, then the entries of each
// subfolder breadth-first, each folder's entries in the order the file system lists them.
bool ScanPcFolder(const std::string& root, std::vector<ScanEntry>& work, std::string& unreadable) {
    work.push_back({root, true});
    std::deque<std::string> queue;
    std::string current = root;
    for (;;) {
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((current + "\\*.*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            unreadable = current;
            return false;
        }
        do {
            const std::string name = found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (name == "." || name == "..")
                    continue;
                work.push_back({current + "\\" + name, true});
                queue.push_back(current + "\\" + name);
            } else {
                work.push_back({current + "\\" + name, false});
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        if (queue.empty())
            return true;
        current = queue.front();
        queue.pop_front();
    }
}

} // namespace

STDMETHODIMP ZvDevice15::ImportFileItem(LPSTR strSource, LPSTR strDestination,
                                        IZvFileOperationCallback* piCallback, long nMaxLen,
                                        unsigned char* strError) {
    if (!strSource)
        return Report({E_POINTER, Text(IDS_TRANSFER_NO_SOURCE)}, nMaxLen, strError);
    if (!strDestination)
        return Report({E_POINTER, Text(IDS_TRANSFER_NO_DESTINATION)}, nMaxLen, strError);
    if (!piCallback)
        return Report({E_POINTER, Text(IDS_TRANSFER_NO_CALLBACK)}, nMaxLen, strError);
    if (!HasAllowedChars(strDestination))
        return Report({26, Text(IDS_TRANSFER_BAD_CHARS)}, nMaxLen, strError);

    // A missing source reports every bit set and so goes to the folder import, which ends with 19.
    const DWORD attributes = GetFileAttributesA(strSource);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ImportFolder(strSource, strDestination, piCallback, nMaxLen, strError);
    return ImportOneFile(strSource, strDestination, piCallback, nMaxLen, strError);
}

// Reads the PC item's attributes and sets them on the device item; read-only stays behind when
// the user asked for it. Failures are not reported: the data has arrived.
static void CarryPcAttributes(ZvDevice15& device, const std::string& pcPath, const std::string& devicePath) {
    long bits = 0;
    ZvDevice15::ReadPcAttributes(pcPath, &bits);
    if (ZvDevice15::OmitsReadOnly())
        bits &= ~kAttrReadOnly;
    device.ApplyItemAttributes(devicePath, bits);
}

// Why a transfer to `medium` of a `size`-byte file failed: no room, or the transfer itself.
static Outcome DiagnoseFailedImport(ZvDevice15& device, const std::string& medium,
                                    const std::string& pcPath) {
    VOLUMEINFO volume{};
    if (device.GetVolumeInfo(const_cast<LPSTR>(medium.c_str()), &volume) != S_OK)
        return {16, Text(IDS_TRANSFER_NO_ROOM)};
    unsigned long long size = 0;
    if (!transfer::ReadPcFileSize(pcPath, size))
        return {19, Text(IDS_TRANSFER_PC_ITEM_UNREADABLE, pcPath)};
    if (volume.nBlockSize <= 0)
        return {16, Text(IDS_TRANSFER_NO_ROOM)};
    const unsigned long long blocksNeeded = size / static_cast<unsigned long long>(volume.nBlockSize) + 1;
    if (volume.nFreeBlocks < 0 || blocksNeeded > static_cast<unsigned long long>(volume.nFreeBlocks))
        return {16, Text(IDS_TRANSFER_NO_ROOM)};
    return {17, Text(IDS_TRANSFER_FAILED)};
}

static std::string MediumOf(const std::string& hubPath) {
    return hubPath.substr(0, hubPath.find('\\'));
}

HRESULT ZvDevice15::ImportOneFile(const char* source, const char* destination,
                                  IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    const std::string pcPath = source;
    const std::string hubPath = destination;
    callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, pcPath).c_str()));

    transfer::AdvisedSink sink(port_.Get());
    switch (sink.Start(callback)) {
    case 4:
        return Report({4, Text(IDS_TRANSFER_NO_CALLBACK)}, nMaxLen, strError);
    case 20:
        return Report({20, Text(IDS_TRANSFER_SINK_REFUSED)}, nMaxLen, strError);
    }

    std::string devicePath;
    if (MapToDevicePath(hubPath, devicePath) != S_OK)
        return Report({21, Text(IDS_TRANSFER_UNKNOWN_VOLUME)}, nMaxLen, strError);
    // The device path goes between the quotes of the transfer and "chmod" commands.
    if (!IsSafeConsolePath(devicePath))
        return Report({26, Text(IDS_TRANSFER_BAD_CHARS)}, nMaxLen, strError);
    transfer::HandCancelToPort(port_.Get(), cancelRef_);

    if (ConfirmOverwrite(hubPath, pcPath) == 0)
        return S_OK;
    ApplyItemAttributes(devicePath, 0); // an existing read-only item must not block the transfer

    BSTR reply = nullptr;
    const HRESULT sent = port_->Import(transfer::Wide(pcPath).Get(), transfer::Wide(devicePath).Get(), &reply,
                                       transfer::Wide(hubPath).Get());
    tv::com::UniqueBstr ownedReply(reply);
    if (sent >= 0)
        CarryPcAttributes(*this, pcPath, devicePath);

    if (sent == transfer::kTransferCancelled)
        return Report({transfer::kResultCancelled, Text(IDS_TRANSFER_CANCELLED)}, nMaxLen, strError);
    if (sent == S_OK)
        return S_OK;
    if (!DeviceStillConnected(strId_))
        return Report({1, Text(IDS_TRANSFER_DEVICE_GONE)}, nMaxLen, strError);
    return Report(DiagnoseFailedImport(*this, MediumOf(hubPath), pcPath), nMaxLen, strError);
}

HRESULT ZvDevice15::ImportFolder(const char* source, const char* destination,
                                 IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    const std::string root = source;
    const std::string hubDestination = destination;

    transfer::AdvisedSink sink(port_.Get());
    switch (sink.Start(callback)) {
    case 4:
        return Report({4, Text(IDS_TRANSFER_NO_CALLBACK)}, nMaxLen, strError);
    case 20:
        return Report({20, Text(IDS_TRANSFER_SINK_REFUSED)}, nMaxLen, strError);
    }

    std::string sourceParent;
    transfer::BeforeLast(root, '\\', sourceParent);
    std::vector<ScanEntry> work;
    std::string unreadable;
    if (!ScanPcFolder(root, work, unreadable))
        return Report({19, Text(IDS_TRANSFER_PC_ITEM_UNREADABLE, unreadable)}, nMaxLen, strError);
    itemCount_ = static_cast<long>(work.size());

    for (const ScanEntry& entry : work) {
        std::string destinationParent;
        if (!transfer::BeforeLast(hubDestination, '\\', destinationParent))
            return entry.folder ? Report({2, Text(IDS_TRANSFER_NO_SOURCE)}, nMaxLen, strError)
                                : Report({3, Text(IDS_TRANSFER_NO_DESTINATION)}, nMaxLen, strError);
        // The part from the source folder's own name on: the folder keeps its PC name.
        const size_t at = entry.pcPath.find(sourceParent);
        if (at == std::string::npos)
            return Report({21, Text(IDS_TRANSFER_UNKNOWN_VOLUME)}, nMaxLen, strError);
        std::string relative = entry.pcPath.substr(at + sourceParent.size());
        if (relative.empty() || relative[0] != '\\')
            relative = "\\" + relative;
        const std::string hubPath = destinationParent + relative;
        std::string devicePath;
        if (MapToDevicePath(hubPath, devicePath) != S_OK)
            return Report({21, Text(IDS_TRANSFER_UNKNOWN_VOLUME)}, nMaxLen, strError);

        if (entry.folder) {
            if (!IsSafeConsolePath(devicePath))
                return Report({26, Text(IDS_TRANSFER_FILE_PATH_CHARS)}, nMaxLen, strError);
            std::string reply;
            if (SendCommand("mkdir $pipe=15 \"" + devicePath + "\" ", reply) != S_OK)
                return Report({22, Text(IDS_TRANSFER_FOLDER_FAILED)}, nMaxLen, strError);
            // An existing folder is accepted; what counts is that a folder is there afterwards.
            ListingEntry made;
            if (StatItem(transfer::WithoutLeadingSlash(devicePath), &made) != S_OK ||
                made.type != kTypeFolder)
                return Report({22, Text(IDS_TRANSFER_FOLDER_FAILED)}, nMaxLen, strError);
            CarryPcAttributes(*this, entry.pcPath, devicePath);
            continue;
        }

        transfer::HandCancelToPort(port_.Get(), cancelRef_);
        if (!HasAllowedChars(devicePath) || !IsSafeConsolePath(devicePath))
            return Report({26, Text(IDS_TRANSFER_FILE_PATH_CHARS)}, nMaxLen, strError);
        if (ConfirmOverwrite(transfer::WithoutLeadingSlash(devicePath), entry.pcPath) != 0) {
            callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, entry.pcPath).c_str()));
            ApplyItemAttributes(devicePath, 0);
            BSTR reply = nullptr;
            const HRESULT sent =
                port_->Import(transfer::Wide(entry.pcPath).Get(), transfer::Wide(devicePath).Get(), &reply,
                              transfer::Wide(hubPath).Get());
            tv::com::UniqueBstr ownedReply(reply);
            if (sent >= 0)
                CarryPcAttributes(*this, entry.pcPath, devicePath);
            if (sent == transfer::kTransferCancelled)
                return Report({transfer::kResultCancelled, Text(IDS_TRANSFER_CANCELLED)}, nMaxLen, strError);
            if (sent != S_OK)
                return Report(DiagnoseFailedImport(*this, MediumOf(hubDestination), entry.pcPath), nMaxLen,
                              strError);
        }
        callback->OnItemComplete(const_cast<LPSTR>(devicePath.c_str()), const_cast<LPSTR>(""), 0);
    }
    return S_OK;
}

} // namespace devlink15
