// Export to the PC: one device file, or a device folder with everything below it, into a PC
// folder. Files travel by one transfer of the port each; the folder tree comes from one recursive
// listing and is made on the PC before the first file is fetched. The device items' read-only,
// hidden and system attributes are carried to the PC items, and each file keeps the modification
// time that the device lists for it.
#include "ZvDevice15.h"

#include "LangIds.h"
#include "PcSafeName.h"
#include "TransferSupport.h"

#include <vector>

namespace devlink15 {

using transfer::Outcome;
using transfer::Report;
using transfer::Text;

namespace {

// After the port is done with a file: the file must be there and readable, else it goes.
bool PcFileReadable(const std::string& path) {
    tv::com::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

// "/docs/old" of "/default/docs/old" with the source parent "/default".
std::string RelativeDevicePath(const std::string& devicePath, const std::string& sourceParent) {
    const size_t at = devicePath.find(sourceParent);
    return at == std::string::npos ? devicePath : devicePath.substr(at + sourceParent.size());
}

// "\docs\old" of "/default/docs/old" with the source parent "/default".
std::string RelativePcPath(const std::string& devicePath, const std::string& sourceParent) {
    std::string relative = RelativeDevicePath(devicePath, sourceParent);
    for (char& c : relative)
        if (c == '/')
            c = '\\';
    if (relative.empty() || relative[0] != '\\')
        relative.insert(0, "\\");
    return relative;
}

// Whether every name below the source parent can name a PC file or folder: a device name holding
// a backslash, a colon or ".." would put the item outside the folder it is exported to, or into a
// stream or a device of the PC.
bool NamesFitThePc(const std::string& devicePath, const std::string& sourceParent) {
    const std::string relative = RelativeDevicePath(devicePath, sourceParent);
    size_t start = relative.empty() || relative[0] != '/' ? 0 : 1;
    for (;;) {
        const size_t slash = relative.find('/', start);
        if (!tv::portable::IsPcSafeComponent(std::string_view(relative).substr(start, slash - start)))
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

// The device lists local times; the PC file keeps UTC. A time the listing could not give (0)
// leaves the file with the time of its arrival.
void SetPcFileTime(const std::string& pcPath, const ListingEntry& entry) {
    const FILETIME local{static_cast<DWORD>(entry.timeLow), static_cast<DWORD>(entry.timeHigh)};
    FILETIME utc{};
    if ((local.dwLowDateTime == 0 && local.dwHighDateTime == 0) || !LocalFileTimeToFileTime(&local, &utc))
        return;
    tv::com::UniqueFileHandle file(CreateFileA(pcPath.c_str(), FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file)
        SetFileTime(file.Get(), nullptr, nullptr, &utc);
}

} // namespace

void ZvDevice15::CarryFileStateToPc(const std::string& devicePath, const std::string& pcPath) {
    ListingEntry entry;
    if (StatItem(devicePath.empty() ? devicePath : devicePath.substr(1), &entry) != S_OK) {
        WritePcAttributes(pcPath, 0);
        return;
    }
    // The time first: a read-only file would refuse it afterwards.
    SetPcFileTime(pcPath, entry);
    WritePcAttributes(pcPath, entry.attr);
}

STDMETHODIMP ZvDevice15::ExportFileItem(LPSTR strSource, LPSTR strDestination,
                                        IZvFileOperationCallback* piCallback, long nMaxLen,
                                        unsigned char* strError) {
    if (!strSource)
        return E_INVALIDARG;
    ListingEntry entry;
    if (StatItem(strSource, &entry) != S_OK)
        return Report({23, Text(IDS_TRANSFER_SOURCE_MISSING)}, nMaxLen, strError);
    if (entry.type & kTypeFolder)
        return ExportFolder(strSource, strDestination, piCallback, nMaxLen, strError);
    return ExportOneFile(strSource, strDestination, piCallback, nMaxLen, strError);
}

// The steps both exports begin with; 0 when the transfer may go on.
static long CheckExportArguments(const char* destination, IZvFileOperationCallback* callback, long nMaxLen,
                                 unsigned char* strError) {
    if (nMaxLen == 0)
        return E_INVALIDARG;
    if (!destination)
        return Report({3, Text(IDS_TRANSFER_NO_DESTINATION)}, nMaxLen, strError);
    if (!callback)
        return Report({4, Text(IDS_TRANSFER_NO_CALLBACK)}, nMaxLen, strError);
    return 0;
}

static HRESULT StartSink(transfer::AdvisedSink& sink, IZvFileOperationCallback* callback, long nMaxLen,
                         unsigned char* strError) {
    switch (sink.Start(callback)) {
    case 4:
        return Report({4, Text(IDS_TRANSFER_NO_CALLBACK)}, nMaxLen, strError);
    case 20:
        return Report({20, Text(IDS_TRANSFER_SINK_REFUSED)}, nMaxLen, strError);
    }
    return S_OK;
}

HRESULT ZvDevice15::ExportOneFile(const char* source, const char* destination,
                                  IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    if (const long refused = CheckExportArguments(destination, callback, nMaxLen, strError))
        return refused;
    transfer::AdvisedSink sink(port_.Get());
    if (const HRESULT refused = StartSink(sink, callback, nMaxLen, strError))
        return refused;
    const std::string hubPath = source;
    const std::string pcPath = destination;
    std::string devicePath;
    MapToDevicePath(hubPath, devicePath);
    if (!IsSafeConsolePath(devicePath))
        return Report({23, Text(IDS_TRANSFER_SOURCE_MISSING)}, nMaxLen, strError);

    callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, hubPath).c_str()));
    transfer::HandCancelToPort(port_.Get(), cancelRef_);
    // An existing PC file is replaced without a question; its attributes must not stop that.
    WritePcAttributes(pcPath, 0);

    BSTR reply = nullptr;
    const HRESULT fetched = port_->Export(transfer::Wide(devicePath).Get(), transfer::Wide(pcPath).Get(),
                                          &reply, transfer::Wide(hubPath).Get());
    tv::com::UniqueBstr ownedReply(reply);
    Sleep(400);
    if (fetched >= 0)
        CarryFileStateToPc(devicePath, pcPath);

    if (fetched == transfer::kTransferCancelled)
        return Report({transfer::kResultCancelled, Text(IDS_TRANSFER_CANCELLED)}, nMaxLen, strError);
    if (fetched != S_OK || !PcFileReadable(pcPath)) {
        WritePcAttributes(pcPath, 0);
        DeleteFileA(pcPath.c_str());
        return Report({17, Text(IDS_TRANSFER_FAILED)}, nMaxLen, strError);
    }
    return S_OK;
}

HRESULT ZvDevice15::ExportFolder(const char* source, const char* destination,
                                 IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    if (const long refused = CheckExportArguments(destination, callback, nMaxLen, strError))
        return refused;
    transfer::AdvisedSink sink(port_.Get());
    if (const HRESULT refused = StartSink(sink, callback, nMaxLen, strError))
        return refused;
    std::string folderPath;
    MapToDevicePath(source, folderPath);
    if (!IsSafeConsolePath(folderPath))
        return Report({23, Text(IDS_TRANSFER_SOURCE_MISSING)}, nMaxLen, strError);
    std::string sourceParent;
    transfer::BeforeLast(folderPath, '/', sourceParent);

    std::string reply;
    if (SendCommand("ls $pipe=25 -L \"" + folderPath + "/.../*\"", reply) != S_OK)
        return Report({1, Text(IDS_TRANSFER_DEVICE_GONE)}, nMaxLen, strError);
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return Report({14, Text(IDS_TRANSFER_LISTING_UNREADABLE)}, nMaxLen, strError);
    const std::string pcTarget = destination;
    std::string pcParent;
    if (!transfer::BeforeLast(pcTarget, '\\', pcParent))
        return Report({11, Text(IDS_TRANSFER_NO_PC_FOLDER)}, nMaxLen, strError);

    std::vector<std::string> folders;
    std::vector<std::string> files;
    bool listsItself = false;
    for (const ListingEntry& entry : entries) {
        (entry.type == kTypeFolder ? folders : files).push_back(entry.path);
        listsItself = listsItself || entry.path == folderPath;
    }
    // A device that leaves the listed folder out of its own listing still gets the folder made.
    if (!listsItself)
        folders.insert(folders.begin(), folderPath);
    transfer::SortByDepth(folders);
    // Nothing is written when one of the names cannot be written as it stands.
    for (const std::vector<std::string>* paths : {&folders, &files})
        for (const std::string& path : *paths)
            if (!NamesFitThePc(path, sourceParent))
                return Report({17, Text(IDS_HUB_BAD_PC_NAME)}, nMaxLen, strError);

    for (const std::string& folder : folders) {
        const std::string pcFolder = pcParent + RelativePcPath(folder, sourceParent);
        if (!CreateDirectoryA(pcFolder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return Report({22, Text(IDS_TRANSFER_FOLDER_FAILED)}, nMaxLen, strError);
        long bits = 0;
        if (ReadItemAttributes(folder, &bits) != S_OK)
            bits = 0;
        WritePcAttributes(pcFolder, bits);
    }

    for (const std::string& file : files) {
        const std::string pcFile = pcParent + RelativePcPath(file, sourceParent);
        LPSTR item = const_cast<LPSTR>(file.c_str());
        const auto fail = [&](const Outcome& outcome) {
            const HRESULT code = Report(outcome, nMaxLen, strError);
            WritePcAttributes(pcFile, 0);
            DeleteFileA(pcFile.c_str());
            callback->OnItemComplete(item, const_cast<LPSTR>(outcome.text.c_str()), outcome.code);
            return code;
        };
        if (!IsSafeConsolePath(file))
            return fail({17, Text(IDS_TRANSFER_FAILED)});
        transfer::HandCancelToPort(port_.Get(), cancelRef_);
        callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, file).c_str()));
        WritePcAttributes(pcFile, 0);
        BSTR transferReply = nullptr;
        const HRESULT fetched = port_->Export(transfer::Wide(file).Get(), transfer::Wide(pcFile).Get(),
                                              &transferReply, transfer::Wide(file).Get());
        tv::com::UniqueBstr ownedReply(transferReply);
        if (fetched >= 0)
            CarryFileStateToPc(file, pcFile);
        if (fetched == transfer::kTransferCancelled)
            return fail({transfer::kResultCancelled, Text(IDS_TRANSFER_CANCELLED)});
        if (fetched != S_OK)
            return fail({17, Text(IDS_TRANSFER_FAILED)});
        callback->OnItemComplete(item, const_cast<LPSTR>(""), 0);
    }
    return S_OK;
}

} // namespace devlink15
