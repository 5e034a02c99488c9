// File operations of the hub: path splitting, the choice between import, export and copy on a
// device, the busy-device wait, and the worker threads that run copies, deletes, item counts
// and device information item by item and report to the caller's callback.
#include "DeviceEnumerators.h"
#include "DevicePath.h"
#include "Hub.h"
#include "LangIds.h"
#include "MarshalledInterface.h"
#include "NamespaceLink.h"
#include "ModuleLock.h"
#include "PcSafeName.h"
#include <cstdio>
#include <cstring>
#include <shlobj.h>

namespace tv::hub {
namespace {

constexpr LONG kErrorBuffer = 260;
constexpr DWORD kIdleRoundMs = 3000;
constexpr int kIdleRounds = 10;

enum class Mode { Delete = 0, Import = 1, Export = 2, DeviceCopy = 3, ItemsInfo = 4, DeviceInfo = 5, PcItemsInfo = 6 };

// The name of the file or folder a PC path ends in.
std::string PcFileName(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string Format(const std::string& pattern, const std::string& argument) {
    std::vector<char> buffer(pattern.size() + argument.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), argument.c_str());
    return buffer.data();
}

// Counts a PC file system object; folders are walked without following reparse points.
void CountPcItem(const std::string& path, ITEMSINFO& info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ++info.files;
        info.nTotalSize += static_cast<long>(data.nFileSizeLow);
        return;
    }
    ++info.folders;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (std::strcmp(entry.cFileName, ".") && std::strcmp(entry.cFileName, ".."))
            CountPcItem(path + "\\" + entry.cFileName, info);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

} // namespace

// What a started operation hands its worker; the worker owns and frees it.
class OperationBlock {
public:
    Mode mode = Mode::Delete;
    std::string device;
    std::vector<std::string> sources;
    std::vector<std::string> destinations;
    MarshalledInterface callback;
    com::ComPtr<Hub> hub;
    RecordPtr record;
    std::shared_ptr<DeviceOperation> operation;
};

class FileOperation {
public:
    static DWORD WINAPI ThreadProc(void* parameter);

private:
    explicit FileOperation(std::unique_ptr<OperationBlock> block) : block_(std::move(block)) {}
    void Run();
    void RunItems(IZvFileOperationCallback* callback);
    void RunItemsInfo();
    void RunDeviceInfo();
    void RunPcItemsInfo();
    bool Cancelled() const { return WaitForSingleObject(block_->operation->cancelEvent.Get(), 0) == WAIT_OBJECT_0; }
    void HandCancelEvent(IZvDevice* device) const;
    void AppendError(const char* text);
    void EndOnDevice();
    std::string Text(UINT id) const { return LoadLanguageText(block_->hub->LanguageLibrary(), id); }

    std::unique_ptr<OperationBlock> block_;
};

DWORD WINAPI FileOperation::ThreadProc(void* parameter) {
    FileOperation operation{std::unique_ptr<OperationBlock>(static_cast<OperationBlock*>(parameter))};
    operation.Run();
    return 0;
}

void FileOperation::HandCancelEvent(IZvDevice* device) const {
    com::ComPtr<IZvDeviceCancel> cancel;
    if (SUCCEEDED(device->QueryInterface(__uuidof(IZvDeviceCancel), reinterpret_cast<void**>(&cancel))))
        cancel->SetCancelEvent(&block_->record->cancelEvent);
}

void FileOperation::AppendError(const char* text) {
    std::lock_guard<std::mutex> guard(block_->record->lock);
    block_->record->errorText += text;
}

void FileOperation::EndOnDevice() {
    RecordPtr record = block_->record;
    Hub& hub = *block_->hub.Get();
    if (record->factoryIndex >= 0 && static_cast<size_t>(record->factoryIndex) < hub.factories_.size())
        hub.factories_[record->factoryIndex]->factory->DeleteVirtualDevice(const_cast<LPSTR>(block_->device.c_str()),
                                                                           record->device.Get());
    record->EndOperation(block_->operation);
}

void FileOperation::Run() {
    OperationBracket bracket;
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    com::ModuleLock::Lock();
    switch (block_->mode) {
    case Mode::ItemsInfo:
        RunItemsInfo();
        break;
    case Mode::DeviceInfo:
        RunDeviceInfo();
        break;
    case Mode::PcItemsInfo:
        RunPcItemsInfo();
        break;
    default: {
        {
            std::lock_guard<std::mutex> guard(block_->record->lock);
            block_->record->errorText.clear();
        }
        com::ComPtr<IZvFileOperationCallback> callback;
        if (block_->callback.IsHeld())
            block_->callback.Unmarshal(&callback);
        RunItems(callback.Get());
        EndOnDevice();
        bool deleting = block_->mode == Mode::Delete;
        block_.reset();
        if (callback)
            callback->OnOperationComplete();
        if (deleting)
            Sleep(100);
        break;
    }
    }
    block_.reset();
    com::ModuleLock::Unlock();
    if (SUCCEEDED(init))
        CoUninitialize();
}

void FileOperation::RunItems(IZvFileOperationCallback* callback) {
    IZvDevice* device = block_->record->device.Get();
    Mode mode = block_->mode;
    std::string cancelledText = Text(IDS_HUB_CANCELLED);
    if (mode == Mode::Export)
        HandCancelEvent(device);
    else
        device->ResetDeviceState(static_cast<LONG>(block_->sources.size()));
    for (size_t i = 0; i < block_->sources.size(); ++i) {
        LPSTR source = const_cast<LPSTR>(block_->sources[i].c_str());
        LPSTR destination = mode == Mode::Delete ? nullptr : const_cast<LPSTR>(block_->destinations[i].c_str());
        if (mode == Mode::Import) {
            HandCancelEvent(device);
            device->put_EnableUI(block_->hub->enableUI_);
        }
        if (mode != Mode::Export && Cancelled()) {
            if (callback)
                callback->OnItemInfo(const_cast<LPSTR>(cancelledText.c_str()));
            break;
        }
        if (mode == Mode::DeviceCopy)
            HandCancelEvent(device);
        if (mode == Mode::Delete && callback) {
            std::string deleting = Format(Text(IDS_HUB_DELETING), block_->sources[i]);
            callback->OnItemInfo(const_cast<LPSTR>(deleting.c_str()));
        }
        char error[kErrorBuffer] = {};
        auto* errorBuffer = reinterpret_cast<unsigned char*>(error);
        HRESULT hr = E_FAIL;
        if (mode == Mode::Export && !portable::IsPcSafeComponent(PcFileName(block_->destinations[i]))) {
            // The PC would store the file under another name or open a device: nothing is written.
            std::snprintf(error, sizeof(error), "%s", Text(IDS_HUB_BAD_PC_NAME).c_str());
            hr = E_INVALIDARG;
        } else {
            switch (mode) {
            case Mode::Import:
                hr = device->ImportFileItem(source, destination, callback, kErrorBuffer, errorBuffer);
                break;
            case Mode::Export:
                hr = device->ExportFileItem(source, destination, callback, kErrorBuffer, errorBuffer);
                break;
            case Mode::DeviceCopy:
                hr = device->CopyFileItem(source, destination, callback, kErrorBuffer, errorBuffer);
                break;
            default:
                hr = device->DeleteFileItem(source, kErrorBuffer, errorBuffer);
                break;
            }
        }
        error[kErrorBuffer - 1] = 0;
        if (callback)
            callback->OnItemComplete(source, error, ReduceDeviceError(hr));
        bool stopsAtFailure = mode == Mode::Import || mode == Mode::Export;
        if (error[0]) {
            AppendError(error);
            if (stopsAtFailure)
                break;
        }
        if (stopsAtFailure && hr != S_OK)
            break;
    }
}

void FileOperation::RunItemsInfo() {
    com::ComPtr<IZvItemsInfoCallback> callback;
    block_->callback.Unmarshal(&callback);
    std::vector<LPSTR> items;
    for (std::string& item : block_->sources)
        items.push_back(item.data());
    if (callback)
        block_->record->device->GetItemsInfo(static_cast<LONG>(items.size()), kErrorBuffer, items.data(),
                                             callback.Get());
    EndOnDevice();
}

void FileOperation::RunPcItemsInfo() {
    com::ComPtr<IZvItemsInfoCallback> callback;
    block_->callback.Unmarshal(&callback);
    ITEMSINFO info = {};
    for (const std::string& item : block_->sources)
        CountPcItem(block_->device + "\\" + item, info);
    if (callback) {
        callback->OnOperationProgress(info);
        char none[] = "";
        callback->OnOperationComplete(none);
    }
}

void FileOperation::RunDeviceInfo() {
    com::ComPtr<IZvFileOperationCallback> callback;
    block_->callback.Unmarshal(&callback);
    LONG length = 0;
    LPSTR text = nullptr;
    HRESULT hr = block_->record->device->GetDeviceInfo(&length, &text);
    char none[] = "";
    std::string unavailable = Text(IDS_HUB_NO_DEVICE_INFO);
    if (callback)
        callback->OnItemComplete(none, SUCCEEDED(hr) && text ? text : const_cast<LPSTR>(unavailable.c_str()),
                                 ReduceDeviceError(hr));
    CoTaskMemFree(text);
    EndOnDevice();
}

// ---- the hub's side ----

RecordPtr Hub::FindDeviceForOperation(const std::string& text) {
    RecordPtr record = FindDeviceRecord(text.c_str());
    if (!record || !record->Busy())
        return record;
    if (record->factoryIndex < 0 || static_cast<size_t>(record->factoryIndex) >= factories_.size())
        return record;
    com::ComPtr<IZvDevice> virtualDevice;
    if (FAILED(factories_[record->factoryIndex]->factory->GetVirtualDevice(const_cast<LPSTR>(text.c_str()),
                                                                            &virtualDevice)))
        return nullptr;
    if (virtualDevice) {
        // The new operation runs beside the old one on a device object of its own.
        record->device = virtualDevice;
        std::lock_guard<std::mutex> guard(record->lock);
        record->operation.reset();
        record->cancelEvent = nullptr;
    }
    return record;
}

bool Hub::WaitDeviceIdle(const RecordPtr& record) {
    if (!record)
        return false;
    for (int round = 0; round < kIdleRounds; ++round) {
        com::UniqueHandle thread = record->DuplicateThread();
        if (!thread)
            return !record->Busy();
        HANDLE handle = thread.Get();
        DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, kIdleRoundMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result != WAIT_OBJECT_0 + 1)
            return !record->Busy();
        PumpMessages();
        if (!record->Busy())
            return true;
    }
    return !record->Busy();
}

RecordPtr Hub::LookupForOperation(const char* path, std::string* rest) {
    DevicePath parts = SplitDevicePath(path);
    if (rest)
        *rest = parts.rest;
    return FindDeviceForOperation(parts.device);
}

HRESULT Hub::StartWorker(const RecordPtr& record, std::unique_ptr<OperationBlock> block) {
    auto operation = std::make_shared<DeviceOperation>();
    operation->cancelEvent.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!operation->cancelEvent)
        return E_FAIL;
    block->hub = this;
    block->record = record;
    block->operation = operation;
    if (record) {
        std::lock_guard<std::mutex> guard(record->lock);
        record->operation = operation;
        record->cancelEvent = operation->cancelEvent.Get();
    }
    OperationBlock* handed = block.release();
    HANDLE thread = CreateThread(nullptr, 0, FileOperation::ThreadProc, handed, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        delete handed;
        if (record)
            record->EndOperation(operation);
        return E_FAIL;
    }
    {
        std::unique_ptr<std::lock_guard<std::mutex>> guard;
        if (record)
            guard = std::make_unique<std::lock_guard<std::mutex>>(record->lock);
        operation->thread.Reset(thread);
    }
    ResumeThread(thread);
    return S_OK;
}

STDMETHODIMP Hub::CopyFileItems(LONG nStringCount, LONG, LPSTR* aStrSrc, LPSTR* aStrDest,
                                IZvFileOperationCallback* callback) {
    if (nStringCount <= 0)
        return E_INVALIDARG;
    if (!aStrSrc || !aStrDest || !callback)
        return E_FAIL;
    DevicePath source = SplitDevicePath(aStrSrc[0]);
    DevicePath destination = SplitDevicePath(aStrDest[0]);
    RecordPtr sourceRecord = FindDeviceForOperation(source.device);
    RecordPtr destinationRecord = FindDeviceForOperation(destination.device);
    auto block = std::make_unique<OperationBlock>();
    RecordPtr record;
    if (source.device == destination.device) {
        block->mode = Mode::DeviceCopy;
        record = sourceRecord;
    } else if (!sourceRecord && destinationRecord) {
        block->mode = Mode::Import;
        record = destinationRecord;
    } else if (sourceRecord && !destinationRecord) {
        block->mode = Mode::Export;
        record = sourceRecord;
    } else {
        return E_FAIL;
    }
    for (LONG i = 0; i < nStringCount; ++i) {
        if (!aStrSrc[i] || !aStrDest[i])
            return E_INVALIDARG;
        DevicePath from = SplitDevicePath(aStrSrc[i]);
        DevicePath to = SplitDevicePath(aStrDest[i]);
        std::string itemDevice;
        switch (block->mode) {
        case Mode::Import:
            if (to.device.empty() || to.rest.empty() || !*aStrSrc[i])
                return E_INVALIDARG;
            itemDevice = to.device;
            block->sources.emplace_back(aStrSrc[i]);
            block->destinations.push_back(to.rest);
            break;
        case Mode::Export:
            if (from.device.empty() || from.rest.empty() || !*aStrDest[i])
                return E_INVALIDARG;
            itemDevice = from.device;
            block->sources.push_back(from.rest);
            block->destinations.emplace_back(aStrDest[i]);
            break;
        default:
            // Every destination of a copy on the device must be on that same device.
            if (from.device.empty() || from.rest.empty() || to.rest.empty() || to.device != from.device)
                return E_INVALIDARG;
            itemDevice = from.device;
            block->sources.push_back(from.rest);
            block->destinations.push_back(to.rest);
            break;
        }
        if (i == 0)
            block->device = itemDevice;
        else if (itemDevice != block->device)
            return E_INVALIDARG;
    }
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    HRESULT hr = block->callback.Marshal(__uuidof(IZvFileOperationCallback), callback);
    if (FAILED(hr))
        return hr;
    return StartWorker(record, std::move(block));
}

STDMETHODIMP Hub::DeleteFileItems(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems,
                                  IZvFileOperationCallback* callback) {
    if (nMaxLen <= 0 || nStringCount <= 0 || !aStrItems)
        return E_INVALIDARG;
    auto block = std::make_unique<OperationBlock>();
    block->mode = Mode::Delete;
    for (LONG i = 0; i < nStringCount; ++i) {
        DevicePath item = SplitDevicePath(aStrItems[i]);
        if (item.device.empty() || item.rest.empty() || (i > 0 && item.device != block->device))
            return E_INVALIDARG;
        block->device = item.device;
        block->sources.push_back(item.rest);
    }
    RecordPtr record = FindDeviceForOperation(block->device);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    if (callback && FAILED(block->callback.Marshal(__uuidof(IZvFileOperationCallback), callback)))
        return E_FAIL;
    return StartWorker(record, std::move(block));
}

STDMETHODIMP Hub::CancelFileOperation(LPSTR strDeviceName) {
    RecordPtr record = FindDeviceRecord(strDeviceName);
    if (!record)
        return E_INVALIDARG;
    return record->Cancel() ? S_OK : E_FAIL;
}

STDMETHODIMP Hub::GetItemsInfo(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems, IZvItemsInfoCallback* callback) {
    if (nMaxLen <= 0 || nStringCount <= 0 || !callback || !aStrItems)
        return E_INVALIDARG;
    auto block = std::make_unique<OperationBlock>();
    for (LONG i = 0; i < nStringCount; ++i) {
        if (!aStrItems[i])
            return E_INVALIDARG;
        DevicePath item;
        if (!std::strncmp(aStrItems[i], "\\\\", 2))
            item = {"\\", aStrItems[i] + 2};
        else
            item = SplitDevicePath(aStrItems[i]);
        if (item.device.empty() || item.rest.empty() || (i > 0 && item.device != block->device))
            return E_INVALIDARG;
        block->device = item.device;
        block->sources.push_back(item.rest);
    }
    RecordPtr record = FindDeviceForOperation(block->device);
    if (record) {
        if (!WaitDeviceIdle(record))
            return E_FAIL;
        block->mode = Mode::ItemsInfo;
    } else {
        block->mode = Mode::PcItemsInfo;
    }
    if (FAILED(block->callback.Marshal(__uuidof(IZvItemsInfoCallback), callback)))
        return E_FAIL;
    return StartWorker(record, std::move(block));
}

STDMETHODIMP Hub::GetDeviceInfo(LPSTR strNameOrID, IZvFileOperationCallback* callback) {
    if (!callback)
        return E_INVALIDARG;
    RecordPtr record = FindDeviceForOperation(strNameOrID ? strNameOrID : "");
    if (!record)
        return E_FAIL;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    auto block = std::make_unique<OperationBlock>();
    block->mode = Mode::DeviceInfo;
    block->device = strNameOrID;
    if (FAILED(block->callback.Marshal(__uuidof(IZvFileOperationCallback), callback)))
        return E_FAIL;
    return StartWorker(record, std::move(block));
}

// ---- short operations ----

STDMETHODIMP Hub::EnumFileItems(LPSTR strPath, LONG type, IZvEnumFileItems** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    if (strPath && std::strlen(strPath) >= MAX_PATH)
        return E_INVALIDARG;
    OperationBracket bracket;
    if (!strPath || !*strPath) {
        if (type & 1)
            return com::CreateComObject<ZvEnumDevices>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppEnum),
                                                       this);
        return com::CreateComObject<ZvEnumDumb>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppEnum));
    }
    std::string rest;
    RecordPtr record = LookupForOperation(strPath, &rest);
    if (!record) {
        // The folder of an unknown device is gone: the shell is told so and sees nothing in it.
        if (PIDLIST_ABSOLUTE folder = tv::FindMyZelvanPidl()) {
            SHChangeNotify(SHCNE_RMDIR, SHCNF_IDLIST | SHCNF_FLUSH, folder, nullptr);
            CoTaskMemFree(folder);
        }
        return com::CreateComObject<ZvEnumDumb>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppEnum));
    }
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->EnumFileItems(const_cast<LPSTR>(rest.c_str()), type, ppEnum);
}

STDMETHODIMP Hub::RenameFileItem(LPSTR strItem, LPSTR strNewName, LONG nMaxLen, unsigned char* strError) {
    if (!strItem || !strNewName || nMaxLen <= 0 || !strError)
        return E_INVALIDARG;
    auto fail = [&](UINT id) {
        std::string text = LoadLanguageText(language_.Get(), id);
        size_t n = std::min(text.size(), static_cast<size_t>(nMaxLen - 1));
        std::memcpy(strError, text.data(), n);
        strError[n] = 0;
        return E_INVALIDARG;
    };
    size_t newLength = std::strlen(strNewName);
    if (newLength >= MAX_PATH)
        return fail(IDS_HUB_NAME_TOO_LONG);
    if (newLength >= 2 && !std::strcmp(strNewName + newLength - 2, "\\\\"))
        return fail(IDS_HUB_NAME_ENDS_IN_SEPARATORS);
    OperationBracket bracket;
    DevicePath item = SplitDevicePath(strItem);
    RecordPtr record = FindDeviceForOperation(item.device);
    if (!record)
        return E_INVALIDARG;
    DevicePath newName = SplitDevicePath(strNewName);
    if (newName.device != item.device || newName.rest.empty() || item.rest.empty())
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->RenameFileItem(item.rest.data(), newName.rest.data(), nMaxLen, strError);
}

STDMETHODIMP Hub::CreateFolder(LPSTR strFolderPathName) {
    if (!strFolderPathName || std::strlen(strFolderPathName) >= MAX_PATH)
        return E_INVALIDARG;
    OperationBracket bracket;
    std::string rest;
    RecordPtr record = LookupForOperation(strFolderPathName, &rest);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return ReportError(IDS_HUB_CREATE_FOLDER_BUSY, E_FAIL);
    return record->device->CreateFolder(rest.data());
}

STDMETHODIMP Hub::Command(LPSTR strNameOrID, LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) {
    if (!strNameOrID || !strCommand || !nMaxLen || !strResponse)
        return E_POINTER;
    *strResponse = nullptr;
    OperationBracket bracket;
    RecordPtr record = FindDeviceForOperation(strNameOrID);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record)) {
        *strResponse = static_cast<LPSTR>(CoTaskMemAlloc(1));
        if (*strResponse)
            **strResponse = 0;
        *nMaxLen = 0;
        return E_FAIL;
    }
    return record->device->Command(strCommand, nMaxLen, strResponse);
}

STDMETHODIMP Hub::GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) {
    if (!strItem || !pInfo)
        return E_INVALIDARG;
    OperationBracket bracket;
    std::string rest;
    RecordPtr record = LookupForOperation(strItem, &rest);
    if (!record)
        return E_FAIL;
    pInfo->nBlockSize = 0;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->GetVolumeInfo(rest.data(), pInfo);
}

STDMETHODIMP Hub::GetAllItems(LPSTR strDevice, IZvEnumFileItems** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    OperationBracket bracket;
    RecordPtr record = FindDeviceForOperation(strDevice ? strDevice : "");
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->GetAllItems(ppEnum);
}

STDMETHODIMP Hub::FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    if (!strWildCard || !*strWildCard)
        return com::CreateComObject<ZvEnumDevices>(__uuidof(IZvEnumFileItems), reinterpret_cast<void**>(ppiEnum),
                                                   this);
    OperationBracket bracket;
    std::string rest;
    RecordPtr record = LookupForOperation(strWildCard, &rest);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->FindItems(rest.data(), ppiEnum);
}

STDMETHODIMP Hub::SetItemAttributes(ZVFILEITEM Item) {
    OperationBracket bracket;
    std::string rest;
    RecordPtr record = LookupForOperation(Item.strName, &rest);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    Item.strName = rest.data();
    return record->device->SetItemAttributes(Item);
}

STDMETHODIMP Hub::put_AutoPC_ON_PC_OFF_Mode(LPSTR strNameOrID, LONG nVal) {
    if (!strNameOrID)
        return E_POINTER;
    OperationBracket bracket;
    RecordPtr record = FindDeviceForOperation(strNameOrID);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->put_AutoPC_ON_PC_OFF_Mode(nVal);
}

STDMETHODIMP Hub::get_AutoPC_ON_PC_OFF_Mode(LPSTR strNameOrID, LONG* nVal) {
    if (!strNameOrID || !nVal)
        return E_POINTER;
    OperationBracket bracket;
    RecordPtr record = FindDeviceForOperation(strNameOrID);
    if (!record)
        return E_INVALIDARG;
    if (!WaitDeviceIdle(record))
        return E_FAIL;
    return record->device->get_AutoPC_ON_PC_OFF_Mode(nVal);
}

} // namespace tv::hub
