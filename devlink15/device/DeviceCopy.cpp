// Copy on the device: every file by one "cp" that the device carries out, every folder by one
// "mkdir"; no data passes through the PC. Progress is reported by the device object itself.
#include "ZvDevice15.h"

#include "LangIds.h"
#include "TransferSupport.h"

#include <vector>

namespace devlink15 {

using transfer::Outcome;
using transfer::Report;
using transfer::Text;

namespace {

std::string CopyCommand(const std::string& from, const std::string& to) {
    return "cp $pipe=15 -v -f -p \"" + from + "\" \"" + to + "\"";
}

// `path` from the end of the first occurrence of `parent` on ("/docs/old").
std::string RelativeDevicePath(const std::string& path, const std::string& parent) {
    const size_t at = path.find(parent);
    std::string relative = at == std::string::npos ? path : path.substr(at + parent.size());
    if (relative.empty() || relative[0] != '/')
        relative.insert(0, "/");
    return relative;
}

} // namespace

STDMETHODIMP ZvDevice15::CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback,
                                      long nMaxLen, unsigned char* strError) {
    if (!strSrc || !strDest || !piCallback)
        return E_POINTER;
    if (nMaxLen == 0)
        return E_INVALIDARG;
    ListingEntry entry;
    const HRESULT found = StatItem(strSrc, &entry);
    if (found != S_OK)
        return found;
    if (entry.type == kTypeFolder)
        return CopyFolder(strSrc, strDest, piCallback, nMaxLen, strError);
    return CopyOneFile(strSrc, strDest, piCallback, nMaxLen, strError);
}

HRESULT ZvDevice15::CopyOneFile(const char* source, const char* destination,
                                IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    Report({0, {}}, nMaxLen, strError);
    std::string from;
    std::string to;
    MapToDevicePath(source, from);
    if (MapToDevicePath(destination, to) != S_OK)
        return Report({21, Text(IDS_TRANSFER_UNKNOWN_VOLUME)}, nMaxLen, strError);
    if (!IsSafeConsolePath(from) || !IsSafeConsolePath(to))
        return Report({26, Text(IDS_TRANSFER_BAD_CHARS)}, nMaxLen, strError);

    callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, source).c_str()));
    ListingEntry entry;
    StatItem(source, &entry);
    callback->OnItemInit(const_cast<LPSTR>("ok"), entry.size);
    callback->OnItemProgress(const_cast<LPSTR>("ok"), entry.size / 2);

    bool failed = false;
    if (ConfirmOverwriteOnDevice(transfer::WithoutLeadingSlash(to), from) != 0) {
        std::string reply;
        // The port's own result counts first: a command that never ran copied nothing.
        failed = SendCommand(CopyCommand(from, to), reply) != S_OK || reply.find("fail") != std::string::npos;
    }
    callback->OnItemProgress(const_cast<LPSTR>("ok"), entry.size);
    if (failed)
        return Report({17, Text(IDS_TRANSFER_FAILED)}, nMaxLen, strError);
    return S_OK;
}

HRESULT ZvDevice15::CopyFolder(const char* source, const char* destination,
                               IZvFileOperationCallback* callback, long nMaxLen, unsigned char* strError) {
    std::string from;
    std::string to;
    MapToDevicePath(source, from);
    if (MapToDevicePath(destination, to) != S_OK)
        return Report({21, Text(IDS_TRANSFER_UNKNOWN_VOLUME)}, nMaxLen, strError);
    if (!IsSafeConsolePath(from) || !IsSafeConsolePath(to))
        return Report({26, Text(IDS_TRANSFER_BAD_CHARS)}, nMaxLen, strError);

    std::string reply;
    if (SendCommand("ls $pipe=15 -L \"" + from + "/.../*\"", reply) != S_OK)
        return 1;
    std::vector<ListingEntry> entries;
    if (!ParseListing(reply, Texts(), entries))
        return 14;

    std::vector<std::string> folders;
    std::vector<std::string> files;
    bool listsItself = false;
    for (const ListingEntry& entry : entries) {
        (entry.type == kTypeFolder ? folders : files).push_back(entry.path);
        listsItself = listsItself || entry.path == from;
    }
    // A device that leaves the listed folder out of its own listing still gets the folder made.
    if (!listsItself)
        folders.insert(folders.begin(), from);
    transfer::SortByDepth(folders);

    std::string sourceParent;
    std::string targetParent;
    transfer::BeforeLast(from, '/', sourceParent);
    transfer::BeforeLast(to, '/', targetParent);

    for (const std::string& folder : folders) {
        const std::string made = targetParent + RelativeDevicePath(folder, sourceParent);
        std::string mkdirReply;
        if (!IsSafeConsolePath(folder) ||
            SendCommand("mkdir $pipe=15 \"" + made + "\" ", mkdirReply) != S_OK) {
            const HRESULT code = Report({22, Text(IDS_TRANSFER_FOLDER_FAILED)}, nMaxLen, strError);
            callback->OnItemComplete(const_cast<LPSTR>(folder.c_str()),
                                     const_cast<LPSTR>(Text(IDS_TRANSFER_FOLDER_FAILED).c_str()), 22);
            return code;
        }
    }

    itemCount_ = static_cast<long>(files.size());
    for (const std::string& file : files) {
        const std::string target = targetParent + RelativeDevicePath(file, sourceParent);
        // A cancel ends the folder copy as done with the files copied so far: the user is told,
        // the folder gets its final report, and the hub sees its own event before the next item.
        if (transfer::CancelRequested(cancelRef_)) {
            callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_CANCELLED).c_str()));
            break;
        }
        callback->OnItemInfo(const_cast<LPSTR>(Text(IDS_TRANSFER_ITEM_INFO, file).c_str()));
        ListingEntry entry;
        StatItem(transfer::WithoutLeadingSlash(file), &entry);
        callback->OnItemInit(const_cast<LPSTR>("ok"), entry.size);
        callback->OnItemProgress(const_cast<LPSTR>("ok"), entry.size / 2);
        if (ConfirmOverwriteOnDevice(transfer::WithoutLeadingSlash(target), file) != 0) {
            std::string cpReply;
            if (!IsSafeConsolePath(file) || SendCommand(CopyCommand(file, target), cpReply) != S_OK ||
                cpReply.find("fail") != std::string::npos) {
                return Report({17, Text(IDS_TRANSFER_FAILED)}, nMaxLen, strError);
            }
        }
        callback->OnItemProgress(const_cast<LPSTR>("ok"), entry.size);
        Sleep(200);
        // Every file's report names the folder being copied.
        callback->OnItemComplete(const_cast<LPSTR>(from.c_str()), const_cast<LPSTR>(""), 0);
    }
    callback->OnItemComplete(const_cast<LPSTR>(from.c_str()), const_cast<LPSTR>(""), 0);
    return S_OK;
}

} // namespace devlink15
