#include "FakeDevice.h"
#include "FileItemEnumerator.h"
#include <algorithm>
#include <cstring>

namespace tv::tests {

namespace {

// Texts in the ANSI code page with bytes above 0x7F, so that a marshaller that treats them as
// anything but opaque 8-bit strings shows.
const std::vector<FakeItem> kListing = {
    {2, 0, 0, "Internal", "Storage medium", "zvshell.dll", -201, 0, 0},
    {4, 1, 0, "Caf\xE9 notes", nullptr, "zvshell.dll", -202, 0x12345678, 0x01D5F00D},
    {8, 4, 4096,
     "\xC4rger & Gr\xFC\xDF"
     "e.txt",
     "Text document", nullptr, 3, -1, 0x7FFFFFFF},
};

char* TaskString(const char* text) {
    if (!text)
        return nullptr;
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CoTaskMemAlloc(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

// The listing entry as the shared enumerator keeps it; absent strings stay absent.
FileItemRecord RecordOf(const FakeItem& item) {
    FileItemRecord record;
    record.type = item.type;
    record.attr = item.attr;
    record.nSize = item.size;
    record.strName = item.name ? item.name : "";
    record.strDesc = item.desc ? item.desc : "";
    record.strIconFile = item.iconFile ? item.iconFile : "";
    record.nullName = !item.name;
    record.nullDesc = !item.desc;
    record.nullIconFile = !item.iconFile;
    record.nIconIndex = item.iconIndex;
    record.nTimeLow = item.timeLow;
    record.nTimeHigh = item.timeHigh;
    return record;
}

// Copies text with its terminator when it is shorter than the buffer; otherwise writes nothing.
HRESULT CopyToBuffer(const std::string& text, LONG nMaxLen, unsigned char* buffer) {
    if (!buffer)
        return E_POINTER;
    if (nMaxLen <= 0 || text.size() >= static_cast<size_t>(nMaxLen))
        return E_INVALIDARG;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

// Copies as much of text as fits, always terminated (the error text of file operations).
void CopyTruncated(const char* text, LONG nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0)
        return;
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(nMaxLen) - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

} // namespace

const std::vector<FakeItem>& FakeListing() {
    return kListing;
}

// FakeDevice

void FakeDevice::KeepInputs(const std::vector<const char*>& inputs) {
    lastInputs_.clear();
    for (const char* input : inputs) {
        if (!lastInputs_.empty())
            lastInputs_ += '|';
        lastInputs_ += input ? input : "<null>";
    }
}

HRESULT FakeDevice::MakeEnumerator(IZvEnumFileItems** ppiEnum) {
    std::vector<FileItemRecord> records;
    for (const FakeItem& item : kListing)
        records.push_back(RecordOf(item));
    return com::CreateComObject<FileItemEnumerator>(IID_IZvEnumFileItems, reinterpret_cast<void**>(ppiEnum),
                                                    std::move(records), size_t{0});
}

STDMETHODIMP FakeDevice::GetName(LONG nMaxLen, unsigned char* strName) {
    return CopyToBuffer(name_, nMaxLen, strName);
}

STDMETHODIMP FakeDevice::GetStrID(LONG nMaxLen, unsigned char* strID) {
    return CopyToBuffer(kFakeStrId, nMaxLen, strID);
}

STDMETHODIMP FakeDevice::GetDescription(LONG nMaxLen, unsigned char* strName) {
    return CopyToBuffer(kFakeDescription, nMaxLen, strName);
}

STDMETHODIMP FakeDevice::GetAttributes(LONG* nAttributes) {
    if (!nAttributes)
        return E_POINTER;
    *nAttributes = 0;
    return S_OK;
}

STDMETHODIMP FakeDevice::GetVersion(LONG* nModelVersion, LONG* nSubmodelVersion) {
    if (!nModelVersion || !nSubmodelVersion)
        return E_POINTER;
    *nModelVersion = 21;
    *nSubmodelVersion = 0;
    return S_OK;
}

STDMETHODIMP FakeDevice::EnumFileItems(LPSTR strPath, LONG, IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    if (!strPath)
        return E_POINTER;
    KeepInputs({strPath});
    return MakeEnumerator(ppiEnum);
}

HRESULT FakeDevice::RunFileOperation(const char* kind, LPSTR source, LPSTR destination,
                                     IZvFileOperationCallback* callback, LONG nMaxLen,
                                     unsigned char* strError) {
    if (!source || !destination || !strError)
        return E_POINTER;
    KeepInputs({source, destination});
    if (callback) {
        std::string info = std::string(kind) + ' ' + source;
        callback->OnItemInfo(info.data());
        callback->OnItemInit(source, kFakeItemSize);
        for (long done = kFakeItemSize / 3; done <= kFakeItemSize; done += kFakeItemSize / 3)
            callback->OnItemProgress(source, done);
    }
    CopyTruncated(kFakeOperationDone, nMaxLen, strError);
    return S_OK;
}

STDMETHODIMP FakeDevice::CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback,
                                      LONG nMaxLen, unsigned char* strError) {
    return RunFileOperation("copy", strSrc, strDest, piCallback, nMaxLen, strError);
}

STDMETHODIMP FakeDevice::ExportFileItem(LPSTR strSource, LPSTR strDestination,
                                        IZvFileOperationCallback* piCallback, LONG nMaxLen,
                                        unsigned char* strError) {
    return RunFileOperation("export", strSource, strDestination, piCallback, nMaxLen, strError);
}

STDMETHODIMP FakeDevice::ImportFileItem(LPSTR strSource, LPSTR strDestination,
                                        IZvFileOperationCallback* piCallback, LONG nMaxLen,
                                        unsigned char* strError) {
    return RunFileOperation("import", strSource, strDestination, piCallback, nMaxLen, strError);
}

STDMETHODIMP FakeDevice::DeleteFileItem(LPSTR, LONG, unsigned char*) {
    return E_NOTIMPL;
}

STDMETHODIMP FakeDevice::RenameFileItem(LPSTR, LPSTR, LONG, unsigned char*) {
    return E_NOTIMPL;
}

STDMETHODIMP FakeDevice::CreateFolder(LPSTR) {
    return E_NOTIMPL;
}

STDMETHODIMP FakeDevice::GetItemsInfo(LONG nStringCount, LONG, LPSTR* aStrItems,
                                      IZvItemsInfoCallback* piCallback) {
    if (nStringCount < 0 || (nStringCount > 0 && !aStrItems))
        return E_INVALIDARG;
    if (!piCallback)
        return E_POINTER;
    std::vector<const char*> items(aStrItems, aStrItems + nStringCount);
    KeepInputs(items);
    ITEMSINFO info{};
    for (const char* item : items) {
        if (!item)
            continue;
        const size_t length = std::strlen(item);
        if (length > 0 && item[length - 1] == '\\')
            ++info.folders;
        else
            ++info.files;
        info.nTotalSize += static_cast<long>(length);
    }
    piCallback->OnOperationStart();
    piCallback->OnOperationProgress(info);
    piCallback->OnOperationComplete(nullptr);
    return S_OK;
}

STDMETHODIMP FakeDevice::GetVolumeInfo(LPSTR, VOLUMEINFO*) {
    return E_NOTIMPL;
}

STDMETHODIMP FakeDevice::GetPropPageID(LONG type, CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    const CLSID* page = type == 2   ? &CLSID_FakeMediaPage
                        : type == 4 ? &CLSID_FakeFolderPage
                        : type == 8 ? &CLSID_FakeFilePage
                                    : nullptr;
    if (!page)
        return E_UNEXPECTED;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems)
        return E_OUTOFMEMORY;
    pPages->pElems[0] = *page;
    pPages->cElems = 1;
    return S_OK;
}

STDMETHODIMP FakeDevice::Command(LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) {
    if (!strCommand || !nMaxLen || !strResponse)
        return E_POINTER;
    *strResponse = nullptr;
    const std::string reply =
        std::strcmp(strCommand, kInputsCommand) == 0 ? lastInputs_ : std::string("echo:") + strCommand;
    *strResponse = TaskString(reply.c_str());
    if (!*strResponse)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<LONG>(reply.size());
    return S_OK;
}

STDMETHODIMP FakeDevice::GetAllItems(IZvEnumFileItems** ppiEnum) {
    if (!ppiEnum)
        return E_POINTER;
    *ppiEnum = nullptr;
    return MakeEnumerator(ppiEnum);
}

STDMETHODIMP FakeDevice::SetDeviceName(LPSTR strName) {
    if (!strName)
        return E_POINTER;
    KeepInputs({strName});
    name_ = strName;
    return S_OK;
}

STDMETHODIMP FakeDevice::GetDeviceInfo(LONG* nMaxLen, LPSTR* strInfo) {
    if (!nMaxLen || !strInfo)
        return E_INVALIDARG;
    *strInfo = TaskString(kFakeDeviceInfo);
    if (!*strInfo)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<LONG>(std::strlen(kFakeDeviceInfo));
    return S_OK;
}

STDMETHODIMP FakeDevice::GetDeviceAuxData(LONG* nAuxData) {
    if (!nAuxData)
        return E_POINTER;
    *nAuxData = auxData_;
    return S_OK;
}

STDMETHODIMP FakeDevice::SetDeviceAuxData(LONG nAuxData) {
    auxData_ = nAuxData;
    return S_OK;
}

STDMETHODIMP FakeDevice::ResetDeviceState(LONG) {
    return S_OK;
}

STDMETHODIMP FakeDevice::FindItems(LPSTR, IZvEnumFileItems**) {
    return E_NOTIMPL;
}

STDMETHODIMP FakeDevice::SetItemAttributes(ZVFILEITEM item) {
    KeepInputs({item.strName, item.strDesc, item.strIconFile});
    lastInputs_ += '|' + std::to_string(item.nSize);
    return S_OK;
}

STDMETHODIMP FakeDevice::get_EnableUI(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = enableUI_;
    return S_OK;
}

STDMETHODIMP FakeDevice::put_EnableUI(LONG nVal) {
    enableUI_ = nVal;
    return S_OK;
}

STDMETHODIMP FakeDevice::get_AutoPC_ON_PC_OFF_Mode(LONG* nVal) {
    if (!nVal)
        return E_POINTER;
    *nVal = 0;
    return S_OK;
}

STDMETHODIMP FakeDevice::put_AutoPC_ON_PC_OFF_Mode(LONG) {
    return S_OK;
}

} // namespace tv::tests
