#include "FolderDevice.h"
#include "AnsiText.h"
#include "FileItemEnumerator.h"
#include "TestDeviceIds.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <objbase.h>

namespace tv::tests {
namespace {

constexpr long kTypeFolder = 4;
constexpr long kTypeFile = 8;
constexpr long kBlockSize = 512;
constexpr DWORD kDelayStepMs = 20;

HRESULT CopyOut(const std::string& value, LONG nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0 || value.size() >= static_cast<size_t>(nMaxLen))
        return E_INVALIDARG;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return S_OK;
}

void SetError(const std::string& text, LONG nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0)
        return;
    size_t n = std::min(text.size(), static_cast<size_t>(nMaxLen - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string LastPart(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Attribute bits as the device listings report them, and the PC file attributes that hold them.
constexpr long kDeviceHidden = 0x01;
constexpr long kDeviceReadOnly = 0x04;
constexpr long kDeviceSystem = 0x08;

long DeviceAttributes(DWORD pcAttributes) {
    return ((pcAttributes & FILE_ATTRIBUTE_HIDDEN) ? kDeviceHidden : 0) |
           ((pcAttributes & FILE_ATTRIBUTE_READONLY) ? kDeviceReadOnly : 0) |
           ((pcAttributes & FILE_ATTRIBUTE_SYSTEM) ? kDeviceSystem : 0);
}

DWORD PcAttributes(long deviceAttributes) {
    DWORD attributes = ((deviceAttributes & kDeviceHidden) ? FILE_ATTRIBUTE_HIDDEN : 0) |
                       ((deviceAttributes & kDeviceReadOnly) ? FILE_ATTRIBUTE_READONLY : 0) |
                       ((deviceAttributes & kDeviceSystem) ? FILE_ATTRIBUTE_SYSTEM : 0);
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// Files and folders directly inside `folder` matching `pattern`, without "." and "..".
std::vector<FolderEntry> ReadFolder(const std::string& folder, const char* pattern, long typeMask) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        if (!std::strcmp(data.cFileName, ".") || !std::strcmp(data.cFileName, ".."))
            continue;
        bool folderEntry = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        long type = folderEntry ? kTypeFolder : kTypeFile;
        if (!(type & typeMask))
            continue;
        entries.push_back({type, DeviceAttributes(data.dwFileAttributes),
                           folderEntry ? 0 : static_cast<long>(data.nFileSizeLow), data.cFileName,
                           data.ftLastWriteTime});
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return entries;
}

void CountTree(const std::string& path, ITEMSINFO& info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ++info.files;
        info.nTotalSize += static_cast<long>(data.nFileSizeLow);
        return;
    }
    ++info.folders;
    for (const FolderEntry& entry : ReadFolder(path, "*", kTypeFolder | kTypeFile))
        CountTree(path + "\\" + entry.name, info);
}

// The listing entry as the shared enumerator hands it out.
FileItemRecord RecordOf(const FolderEntry& entry) {
    FileItemRecord record;
    record.type = entry.type;
    record.attr = entry.attr;
    record.nSize = entry.size;
    record.strName = entry.name;
    record.strDesc = entry.type == kTypeFolder ? "Folder" : "File";
    record.nTimeLow = static_cast<long>(entry.time.dwLowDateTime);
    record.nTimeHigh = static_cast<long>(entry.time.dwHighDateTime);
    return record;
}

DWORD DeviceSetting(const std::string& name, const char* value, DWORD fallback) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    const std::string key = std::string(kTestDeviceSettingsKey) + "\\" + name;
    return RegGetValueA(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
                   ERROR_SUCCESS
               ? data
               : fallback;
}

std::string DeviceSettingText(const std::string& name, const char* value, const std::string& fallback) {
    char data[260] = {};
    DWORD size = sizeof(data) - 1;
    const std::string key = std::string(kTestDeviceSettingsKey) + "\\" + name;
    return RegGetValueA(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) ==
                   ERROR_SUCCESS
               ? std::string(data)
               : fallback;
}

void AppendCommandLog(const std::string& name, const std::string& command) {
    char path[MAX_PATH] = {};
    DWORD size = sizeof(path) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, kTestDeviceKey, kTestDeviceCommandLogValue, RRF_RT_REG_SZ, nullptr, path,
                     &size) != ERROR_SUCCESS || !path[0])
        return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "device %s %s\n", name.c_str(), command.c_str());
        std::fclose(file);
    }
}

// Every folder and file below `folder`, each named by its path below `prefix`.
void CollectTree(const std::string& folder, const std::string& prefix, std::vector<FileItemRecord>& records) {
    for (const FolderEntry& entry : ReadFolder(folder, "*", kTypeFolder | kTypeFile)) {
        FileItemRecord record = RecordOf(entry);
        record.strName = prefix.empty() ? entry.name : prefix + "\\" + entry.name;
        const std::string inner = record.strName;
        records.push_back(std::move(record));
        if (entry.type == kTypeFolder)
            CollectTree(folder + "\\" + entry.name, inner, records);
    }
}

// A listing time cut to a whole minute.
void TruncateToMinute(FileItemRecord& record) {
    constexpr ULONGLONG kMinute = 60ULL * 10000000ULL;
    ULONGLONG time = (static_cast<ULONGLONG>(static_cast<DWORD>(record.nTimeHigh)) << 32) |
                     static_cast<DWORD>(record.nTimeLow);
    time -= time % kMinute;
    record.nTimeLow = static_cast<long>(static_cast<DWORD>(time));
    record.nTimeHigh = static_cast<long>(static_cast<DWORD>(time >> 32));
}

bool RemoveTree(const std::string& path) {
    if (!IsFolder(path))
        return DeleteFileA(path.c_str());
    for (const FolderEntry& entry : ReadFolder(path, "*", kTypeFolder | kTypeFile))
        if (!RemoveTree(path + "\\" + entry.name))
            return false;
    return RemoveDirectoryA(path.c_str());
}

} // namespace

// ---- FolderDevice ----

FolderDevice::FolderDevice(std::string folder, std::string name)
    : folder_(std::move(folder)), name_(name), strId_(std::string(kTestDeviceIdPrefix) + name) {}

std::string FolderDevice::PcPath(const char* devicePath) const {
    std::string rest = devicePath ? devicePath : "";
    // Paths on the device may use "/" between the folders below the root.
    std::replace(rest.begin(), rest.end(), '/', '\\');
    while (!rest.empty() && rest.front() == '\\')
        rest.erase(0, 1);
    while (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    return rest.empty() ? folder_ : folder_ + "\\" + rest;
}

bool FolderDevice::Cancelled() const {
    HANDLE* location = cancelEvent_.load();
    HANDLE event = location ? *location : nullptr;
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

bool FolderDevice::DelayTransfer(IZvFileOperationCallback* callback, const std::string& item) {
    DWORD left = static_cast<DWORD>(transferDelayMs_.load());
    const DWORD progressEvery = DeviceSetting(name_, "ProgressEveryMs", 0);
    DWORD sinceProgress = 0;
    const bool ignoresCancel = DeviceSetting(name_, "IgnoresCancel", 0) != 0;
    while (left > 0) {
        if (!ignoresCancel && Cancelled())
            return false;
        DWORD step = std::min(left, kDelayStepMs);
        Sleep(step);
        left -= step;
        sinceProgress += step;
        if (callback && progressEvery > 0 && sinceProgress >= progressEvery) {
            callback->OnItemProgress(const_cast<LPSTR>(item.c_str()), 0);
            sinceProgress = 0;
        }
    }
    return ignoresCancel || !Cancelled();
}

STDMETHODIMP FolderDevice::GetName(LONG nMaxLen, unsigned char* strName) { return CopyOut(name_, nMaxLen, strName); }

STDMETHODIMP FolderDevice::GetStrID(LONG nMaxLen, unsigned char* strID) {
    return CopyOut(DeviceSettingText(name_, "StrId", strId_), nMaxLen, strID);
}

STDMETHODIMP FolderDevice::GetDescription(LONG nMaxLen, unsigned char* strName) {
    return CopyOut("Zelvan test device (" + folder_ + ")", nMaxLen, strName);
}

STDMETHODIMP FolderDevice::GetAttributes(LONG* nAttributes) {
    if (!nAttributes)
        return E_POINTER;
    *nAttributes = 0;
    return S_OK;
}

STDMETHODIMP FolderDevice::GetVersion(LONG* nModelVersion, LONG* nSubmodelVersion) {
    if (!nModelVersion || !nSubmodelVersion)
        return E_POINTER;
    *nModelVersion = static_cast<LONG>(DeviceSetting(name_, "ModelVersion", 21));
    *nSubmodelVersion = 0;
    return S_OK;
}

HRESULT FolderDevice::ListFolder(const std::string& pcFolder, const char* pattern, long typeMask,
                                 IZvEnumFileItems** ppiEnum) const {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    if (!IsFolder(pcFolder))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    std::vector<FileItemRecord> records;
    for (const FolderEntry& entry : ReadFolder(pcFolder, pattern, typeMask))
        records.push_back(RecordOf(entry));
    if (DeviceSetting(name_, "MinuteTimes", 0))
        for (FileItemRecord& record : records)
            TruncateToMinute(record);
    return com::CreateComObject<FileItemEnumerator>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum),
                                                    std::move(records), size_t{0});
}

STDMETHODIMP FolderDevice::EnumFileItems(LPSTR strPath, LONG type, IZvEnumFileItems** ppiEnum) {
    // Type 2 at the root asks for the device's volumes and top-level folders: its folders.
    const std::string folder = PcPath(strPath);
    if ((type & 2) && folder == folder_)
        type |= kTypeFolder;
    return ListFolder(folder, "*", type, ppiEnum);
}

HRESULT FolderDevice::TransferFile(const std::string& from, const std::string& to, const char* reportedItem,
                                   IZvFileOperationCallback* callback, LONG nMaxLen, unsigned char* strError) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(from.c_str(), GetFileExInfoStandard, &data)) {
        SetError("Cannot find " + from, nMaxLen, strError);
        return kTestDeviceNotFound;
    }
    long size = static_cast<long>(data.nFileSizeLow);
    std::string item = reportedItem;
    if (callback) {
        callback->OnItemInfo(const_cast<LPSTR>(("Copying " + LastPart(from)).c_str()));
        callback->OnItemInit(const_cast<LPSTR>(item.c_str()), size);
    }
    if (!DelayTransfer(callback, item)) {
        SetError("Cancelled", nMaxLen, strError);
        return E_ABORT;
    }
    // A device overwrites a hidden or system file like any other; the PC's copy refuses such a
    // target, so its marks are cleared first (a read-only target still refuses).
    const DWORD existing = GetFileAttributesA(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        SetError("Cannot write " + to, nMaxLen, strError);
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (callback)
        callback->OnItemProgress(const_cast<LPSTR>(item.c_str()), size);
    return S_OK;
}

HRESULT FolderDevice::Transfer(const std::string& from, const std::string& to, const char* reportedItem,
                               IZvFileOperationCallback* callback, LONG nMaxLen, unsigned char* strError) {
    if (!IsFolder(from))
        return TransferFile(from, to, reportedItem, callback, nMaxLen, strError);
    if (!Exists(to) && !CreateDirectoryA(to.c_str(), nullptr)) {
        SetError("Cannot create " + to, nMaxLen, strError);
        return HRESULT_FROM_WIN32(GetLastError());
    }
    // The caller reports the folder; each file inside is reported here.
    for (const FolderEntry& entry : ReadFolder(from, "*", kTypeFolder | kTypeFile)) {
        std::string inner = std::string(reportedItem) + "\\" + entry.name;
        char error[260] = {};
        HRESULT hr = Transfer(from + "\\" + entry.name, to + "\\" + entry.name, inner.c_str(), callback,
                              sizeof(error), reinterpret_cast<unsigned char*>(error));
        if (entry.type == kTypeFile && callback)
            callback->OnItemComplete(const_cast<LPSTR>(inner.c_str()), error, hr);
        if (FAILED(hr)) {
            SetError(error, nMaxLen, strError);
            return hr;
        }
    }
    return S_OK;
}

STDMETHODIMP FolderDevice::CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback,
                                        LONG nMaxLen, unsigned char* strError) {
    if (!strSrc || !strDest)
        return E_INVALIDARG;
    return Transfer(PcPath(strSrc), PcPath(strDest), strSrc, piCallback, nMaxLen, strError);
}

STDMETHODIMP FolderDevice::ExportFileItem(LPSTR strSource, LPSTR strDestination,
                                          IZvFileOperationCallback* piCallback, LONG nMaxLen,
                                          unsigned char* strError) {
    if (!strSource || !strDestination)
        return E_INVALIDARG;
    return Transfer(PcPath(strSource), strDestination, strSource, piCallback, nMaxLen, strError);
}

STDMETHODIMP FolderDevice::ImportFileItem(LPSTR strSource, LPSTR strDestination,
                                          IZvFileOperationCallback* piCallback, LONG nMaxLen,
                                          unsigned char* strError) {
    if (!strSource || !strDestination)
        return E_INVALIDARG;
    const DWORD allowed = DeviceSetting(name_, "ImportsBeforeFailure", MAXDWORD);
    if (allowed != MAXDWORD && static_cast<DWORD>(imports_++) >= allowed) {
        SetError(std::string("Cannot write ") + strDestination, nMaxLen, strError);
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
    return Transfer(strSource, PcPath(strDestination), strSource, piCallback, nMaxLen, strError);
}

STDMETHODIMP FolderDevice::DeleteFileItem(LPSTR strItem, LONG nMaxLen, unsigned char* strError) {
    if (!strItem)
        return E_INVALIDARG;
    std::string path = PcPath(strItem);
    if (!Exists(path)) {
        SetError(std::string("Cannot find ") + strItem, nMaxLen, strError);
        return kTestDeviceNotFound;
    }
    if (!RemoveTree(path)) {
        SetError(std::string("Cannot delete ") + strItem, nMaxLen, strError);
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

STDMETHODIMP FolderDevice::RenameFileItem(LPSTR strItem, LPSTR strNewName, LONG nMaxLen, unsigned char* strError) {
    if (!strItem || !strNewName)
        return E_INVALIDARG;
    if (!MoveFileA(PcPath(strItem).c_str(), PcPath(strNewName).c_str())) {
        SetError(std::string("Cannot rename ") + strItem, nMaxLen, strError);
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

STDMETHODIMP FolderDevice::CreateFolder(LPSTR strFolderName) {
    if (!strFolderName)
        return E_INVALIDARG;
    return CreateDirectoryA(PcPath(strFolderName).c_str(), nullptr) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

STDMETHODIMP FolderDevice::GetItemsInfo(LONG nStringCount, LONG, LPSTR* aStrItems, IZvItemsInfoCallback* piCallback) {
    if (nStringCount <= 0 || !aStrItems || !piCallback)
        return E_INVALIDARG;
    piCallback->OnOperationStart();
    ITEMSINFO info = {};
    for (LONG i = 0; i < nStringCount; ++i)
        if (aStrItems[i])
            CountTree(PcPath(aStrItems[i]), info);
    piCallback->OnOperationProgress(info);
    char none[] = "";
    piCallback->OnOperationComplete(none);
    return S_OK;
}

STDMETHODIMP FolderDevice::GetVolumeInfo(LPSTR, VOLUMEINFO* pInfo) {
    if (!pInfo)
        return E_INVALIDARG;
    ULARGE_INTEGER freeBytes, totalBytes;
    if (!GetDiskFreeSpaceExA((folder_ + "\\").c_str(), &freeBytes, &totalBytes, nullptr))
        return HRESULT_FROM_WIN32(GetLastError());
    auto blocks = [](ULONGLONG bytes) {
        return static_cast<long>(std::min<ULONGLONG>(bytes / kBlockSize, 0x7FFFFFFF));
    };
    const DWORD quota = DeviceSetting(name_, "FreeBytes", MAXDWORD);
    if (quota != MAXDWORD)
        freeBytes.QuadPart = std::min<ULONGLONG>(freeBytes.QuadPart, quota);
    pInfo->nBlockSize = kBlockSize;
    pInfo->nTotalBlocks = blocks(totalBytes.QuadPart);
    pInfo->nFreeBlocks = blocks(freeBytes.QuadPart);
    // A volume that reports no block size, as some devices do.
    if (DeviceSetting(name_, "NoBlockSize", 0) != 0)
        pInfo->nBlockSize = 0;
    pInfo->nBusyBlocks = pInfo->nTotalBlocks - std::min(pInfo->nFreeBlocks, pInfo->nTotalBlocks);
    if (const DWORD pause = DeviceSetting(name_, "VolumeInfoDelayMs", 0))
        Sleep(pause);
    return S_OK;
}

// Every item shows two test pages.
STDMETHODIMP FolderDevice::GetPropPageID(LONG, CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pPages->cElems = 2;
    pPages->pElems[0] = CLSID_TestPropertyPage;
    pPages->pElems[1] = CLSID_TestPropertyPage;
    return S_OK;
}

// Console commands: "pc on" / "pc off" switch PC mode (a device set to refuse it answers "pc on"
// without confirming); "id " gives the string id; "delay <ms>" makes every later file transfer
// take that long (it still notices a cancel); anything else is answered "unknown". Each command
// goes to the command log when one is set.
STDMETHODIMP FolderDevice::Command(LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) {
    if (!strCommand || !nMaxLen || !strResponse)
        return E_POINTER;
    std::string command = strCommand;
    AppendCommandLog(name_, command);
    std::string reply;
    long delay = 0;
    if (command == "pc on") {
        const bool refuse = DeviceSetting(name_, "RefusePcOn", 0) != 0;
        pcMode_ = !refuse;
        reply = refuse ? "pc mode unchanged" : "pc mode on";
    } else if (command == "id " || command == "id") {
        reply = "id " + strId_;
    } else if (command == "pc off") {
        pcMode_ = false;
        reply = "pc mode off";
    } else if (std::sscanf(command.c_str(), "delay %ld", &delay) == 1 && delay >= 0) {
        transferDelayMs_ = delay;
        reply = "delay " + std::to_string(delay);
    } else {
        reply = "unknown command: " + command;
    }
    *strResponse = tv::com::TaskTextCopy(reply);
    if (!*strResponse)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<LONG>(reply.size());
    return S_OK;
}

STDMETHODIMP FolderDevice::GetAllItems(IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    std::vector<FileItemRecord> records;
    CollectTree(folder_, "", records);
    if (DeviceSetting(name_, "MinuteTimes", 0))
        for (FileItemRecord& record : records)
            TruncateToMinute(record);
    return com::CreateComObject<FileItemEnumerator>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum),
                                                    std::move(records), size_t{0});
}

STDMETHODIMP FolderDevice::SetDeviceName(LPSTR strName) {
    if (!strName || !*strName)
        return E_INVALIDARG;
    if (const HRESULT refused = static_cast<HRESULT>(DeviceSetting(name_, "RenameResult", S_OK));
        FAILED(refused))
        return refused;
    name_ = strName;
    return S_OK;
}

STDMETHODIMP FolderDevice::GetDeviceInfo(LONG* nMaxLen, LPSTR* strInfo) {
    if (!nMaxLen || !strInfo)
        return E_INVALIDARG;
    long model = 0, submodel = 0;
    GetVersion(&model, &submodel);
    std::string info = "model=" + std::to_string(model) + "|submodel=0|folder=" + folder_;
    *strInfo = tv::com::TaskTextCopy(info);
    if (!*strInfo)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<LONG>(info.size());
    return S_OK;
}

STDMETHODIMP FolderDevice::GetDeviceAuxData(LONG* nAuxData) {
    if (!nAuxData)
        return E_POINTER;
    *nAuxData = auxData_;
    return S_OK;
}

STDMETHODIMP FolderDevice::SetDeviceAuxData(LONG nAuxData) {
    auxData_ = nAuxData;
    return S_OK;
}

STDMETHODIMP FolderDevice::ResetDeviceState(LONG) { return S_OK; }

STDMETHODIMP FolderDevice::FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) {
    std::string pattern = strWildCard ? strWildCard : "*";
    size_t slash = pattern.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    return ListFolder(PcPath(folder.c_str()), mask.c_str(), kTypeFolder | kTypeFile, ppiEnum);
}

STDMETHODIMP FolderDevice::SetItemAttributes(ZVFILEITEM item) {
    if (!item.strName)
        return E_INVALIDARG;
    std::string path = PcPath(item.strName);
    DWORD attributes = PcAttributes(item.attr);
    if (IsFolder(path))
        attributes = (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_DIRECTORY;
    return SetFileAttributesA(path.c_str(), attributes) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

STDMETHODIMP FolderDevice::get_EnableUI(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = enableUI_;
    return S_OK;
}

STDMETHODIMP FolderDevice::put_EnableUI(LONG nVal) {
    enableUI_ = nVal;
    return S_OK;
}

STDMETHODIMP FolderDevice::get_AutoPC_ON_PC_OFF_Mode(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = autoPcMode_;
    return S_OK;
}

STDMETHODIMP FolderDevice::put_AutoPC_ON_PC_OFF_Mode(LONG nVal) {
    autoPcMode_ = nVal;
    return S_OK;
}

STDMETHODIMP FolderDevice::SetCancelEvent(HANDLE* phCancelEvent) {
    cancelEvent_ = phCancelEvent;
    return S_OK;
}

} // namespace tv::tests
