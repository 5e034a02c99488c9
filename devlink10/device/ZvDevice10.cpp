#include "ZvDevice10.h"
#include "AnsiText.h"
#include "HResult.h"
#include "Devlink10Ids.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace devlink10 {

const CLSID kClsidMediaPropPage10 = {0x66D59942, 0x457E, 0x4DC1, {0x96, 0xE9, 0xB9, 0xF1, 0x15, 0x03, 0xB3, 0x46}};
const CLSID kClsidFilePropPage10 = {0xADAE0146, 0xD26D, 0x40FE, {0x9D, 0x55, 0x3F, 0x19, 0x41, 0x73, 0x3D, 0xF8}};

namespace {

const CLSID kClsidZvPortCOM = {0xBA47E214, 0x661B, 0x4016, {0xB3, 0x4D, 0xDF, 0x16, 0x60, 0xDE, 0x9E, 0x36}};
const CLSID kClsidZvAssocMgr = {0x68DDAF01, 0x6FAE, 0x4BD9, {0xBA, 0x1C, 0x1D, 0xC7, 0xC6, 0x19, 0x43, 0xE2}};
constexpr int kPcModeTries = 4;

std::string Format(const std::string& format, const char* text) {
    std::vector<char> buffer(format.size() + std::strlen(text) + 64);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), text);
    return buffer.data();
}

// The language library's text for a hardware letter takes one character (%c).
std::string FormatLetter(const std::string& format, char letter) {
    std::vector<char> buffer(format.size() + 64);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), letter);
    return buffer.data();
}

std::string FormatNumber(const std::string& format, long value) {
    std::vector<char> buffer(format.size() + 64);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), value);
    return buffer.data();
}

} // namespace

HRESULT ZvDevice10::Create(tv::com::ComPtr<ZvDevice10>& device) {
    tv::com::ComPtr<IZvPort> port;
    if (FAILED(::CoCreateInstance(kClsidZvPortCOM, nullptr, CLSCTX_ALL, IID_IZvPort,
                                  reinterpret_cast<void**>(&port))))
        return E_FAIL;
    tv::com::ComPtr<IZvAssocMgr> assoc;
    if (FAILED(::CoCreateInstance(kClsidZvAssocMgr, nullptr, CLSCTX_ALL, IID_IZvAssocMgr,
                                  reinterpret_cast<void**>(&assoc))))
        return E_FAIL;
    return CreateWith(port.Get(), assoc.Get(), device);
}

HRESULT ZvDevice10::CreateWith(IZvPort* port, IZvAssocMgr* assoc, tv::com::ComPtr<ZvDevice10>& device) {
    if (!port)
        return E_POINTER;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(device));
    return device->Initialise(port, assoc);
}

ZvDevice10::ZvDevice10() : description_(LangString(IDS_DEVICE10_INITIAL_DESCRIPTION)) {}

ZvDevice10::~ZvDevice10() = default;

HRESULT ZvDevice10::Initialise(IZvPort* port, IZvAssocMgr* assoc) {
    port_ = port;
    assoc_ = assoc;
    static const ATOM windowClass = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &ZvDevice10::WindowProc;
        wc.hInstance = ThisModule();
        wc.lpszClassName = "ZvDevice10Window";
        return ::RegisterClassA(&wc);
    }();
    (void)windowClass;
    window_.Reset(::CreateWindowExA(0, "ZvDevice10Window", "", WS_CHILD, 10, 10, 100, 100, ::GetDesktopWindow(),
                                    nullptr, ThisModule(), nullptr));
    if (!window_)
        return E_FAIL;
    ::SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return S_OK;
}

void ZvDevice10::Attach(const DeviceSlot& slot, DeviceLostSink* factory) {
    slot_ = slot;
    displayName_ = slot.defaultName;
    factory_ = factory;
}

// --- connection cycle -------------------------------------------------------------------------

VOID CALLBACK ZvDevice10::OnCancelSet(void* self, BOOLEAN) {
    auto* device = static_cast<ZvDevice10*>(self);
    if (!device->closing_)
        device->CancelRunningRequest();
}

bool ZvDevice10::CancelSet() const {
    const HANDLE cancel = CancelEvent();
    return cancel && !closing_ && ::WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

HRESULT ZvDevice10::Request(const std::string& command, std::string& reply) {
    reply.clear();
    // Once the operation is cancelled its requests end as cancelled, the one running then
    // included (no progress need come for that); switching PC mode off still goes through.
    if (CancelSet())
        return ZVPORT_E_RESULT(4);
    auto text = tv::com::AnsiToUniqueBstr(command);
    tv::com::UniqueBstr response;
    // The watch ends with the request and waits for a cancel being carried out, so that the
    // cancel never meets a later request.
    struct CancelWatch {
        HANDLE wait = nullptr;
        ~CancelWatch() {
            if (wait)
                ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
        }
    } watch;
    if (const HANDLE cancel = closing_ ? nullptr : CancelEvent();
        cancel && !::RegisterWaitForSingleObject(&watch.wait, cancel, &ZvDevice10::OnCancelSet, this,
                                                 INFINITE, WT_EXECUTEONLYONCE))
        watch.wait = nullptr;
    const HRESULT hr = port_->RequestSync(text.Get(), response.Put());
    if (hr == S_OK)
        reply = tv::com::ToAnsi(response.Get());
    return hr;
}

HRESULT ZvDevice10::PathRequest(const std::string& verb, const std::string& path, std::string& reply) {
    reply.clear();
    if (!IsSafeDeviceName(path))
        return E_INVALIDARG;
    return Request("<Command>|" + verb + " \"" + path + "\"|", reply);
}

HRESULT ZvDevice10::Connect() {
    char text[64];
    std::snprintf(text, sizeof text, "<Connect>|%ld|", slot_.port);
    auto input = tv::com::AnsiToUniqueBstr(text);
    tv::com::UniqueBstr output;
    return port_->Connect(input.Get(), output.Put()) == S_OK ? S_OK : E_FAIL;
}

bool ZvDevice10::PcModeOn() {
    if (autoPcMode_ != 1)
        return true;
    // A device that answers but never confirms goes on after the last try; only a device that
    // answered none of the tries counts as gone.
    bool answered = false;
    for (int attempt = 0; attempt < kPcModeTries; ++attempt) {
        if (attempt > 0)
            ::Sleep(1000);
        std::string reply;
        const HRESULT hr = Request("<Command>|pc on|>", reply);
        if (hr == ZVPORT_E_RESULT(4))
            return false; // the operation was cancelled
        if (hr != S_OK)
            continue;
        answered = true;
        if (reply.find("pc mode on") != std::string::npos)
            return true;
    }
    return answered;
}

void ZvDevice10::PcModeOff(bool root) {
    // The hub's cancel stays set until its operation ends, so that the items after this one are
    // not worked on; the requests that switch PC mode off are not cancelled by it.
    closing_ = true;
    struct Reopen {
        std::atomic<bool>& closing;
        ~Reopen() { closing = false; }
    } reopen{closing_};
    ::Sleep(500);
    if (autoPcMode_ != 1)
        return;
    for (int attempt = 0; attempt < kPcModeTries; ++attempt) {
        if (attempt > 0)
            ::Sleep(1000);
        std::string reply;
        if (Request(root ? "<Command>|pc root|>" : "<Command>|pc off|>", reply) == S_OK &&
            reply.find("pc mode off") != std::string::npos)
            return;
    }
}

void ZvDevice10::Disconnect() {
    tv::com::UniqueBstr output;
    port_->Disconnect(output.Put());
}

void ZvDevice10::ReportLost() {
    if (factory_)
        factory_->PostDeviceLost(slot_.port, slot_.name);
}

// --- identity ---------------------------------------------------------------------------------

STDMETHODIMP ZvDevice10::GetName(long nMaxLen, unsigned char* strName) {
    return CopyOut(slot_.name, nMaxLen, strName) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP ZvDevice10::GetStrID(long nMaxLen, unsigned char* strID) {
    return CopyOut(slot_.id, nMaxLen, strID) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP ZvDevice10::GetDescription(long nMaxLen, unsigned char* strName) {
    if (!strName)
        return E_POINTER;
    // Like the name: the text and its terminator must fit in the caller's nMaxLen.
    return CopyOut(LangString(IDS_DEVICE10_DESCRIPTION), nMaxLen, strName) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP ZvDevice10::GetAttributes(long* nAttributes) {
    if (!nAttributes)
        return E_POINTER;
    *nAttributes = 0;
    return S_OK;
}

STDMETHODIMP ZvDevice10::GetVersion(long* nModelVersion, long* nSubmodelVersion) {
    if (!nModelVersion || !nSubmodelVersion)
        return E_POINTER;
    *nModelVersion = 16;
    *nSubmodelVersion = slot_.model;
    return S_OK;
}

STDMETHODIMP ZvDevice10::GetPropPageID(long type, CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    const CLSID* page = type == 2 ? &kClsidMediaPropPage10 : type == 8 ? &kClsidFilePropPage10 : nullptr;
    if (!page)
        return E_UNEXPECTED;
    pPages->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems)
        return E_OUTOFMEMORY;
    pPages->cElems = 1;
    pPages->pElems[0] = *page;
    return S_OK;
}

STDMETHODIMP ZvDevice10::SetDeviceName(LPSTR strName) {
    if (!strName)
        return E_INVALIDARG;
    if (IsNameTakenByOther(strName, slot_.id))
        return E_PENDING;
    slot_.name = strName;
    displayName_ = strName;
    return HRESULT_FROM_WIN32(WriteDeviceName(slot_.id, slot_.name));
}

STDMETHODIMP ZvDevice10::GetDeviceAuxData(long* nAuxData) {
    if (!nAuxData)
        return E_POINTER;
    *nAuxData = auxData_;
    return S_OK;
}

STDMETHODIMP ZvDevice10::SetDeviceAuxData(long nAuxData) {
    auxData_ = nAuxData;
    return S_OK;
}

STDMETHODIMP ZvDevice10::ResetDeviceState(long nCount) {
    if (nCount == -2) {
        ReportLost();
        return S_OK;
    }
    answers_ = tv::ForAllAnswers{};
    itemCount_ = nCount;
    return S_OK;
}

STDMETHODIMP ZvDevice10::get_EnableUI(long* nVal) {
    if (!nVal)
        return E_INVALIDARG;
    *nVal = enableUI_;
    return S_OK;
}

STDMETHODIMP ZvDevice10::put_EnableUI(long nVal) {
    enableUI_ = nVal;
    return S_OK;
}

STDMETHODIMP ZvDevice10::get_AutoPC_ON_PC_OFF_Mode(long* nVal) {
    if (!nVal)
        return E_INVALIDARG;
    *nVal = autoPcMode_;
    return S_OK;
}

STDMETHODIMP ZvDevice10::put_AutoPC_ON_PC_OFF_Mode(long nVal) {
    autoPcMode_ = nVal;
    return S_OK;
}

STDMETHODIMP ZvDevice10::SetCancelEvent(HANDLE* phCancelEvent) {
    cancelRef_ = phCancelEvent;
    return S_OK;
}

// --- commands ---------------------------------------------------------------------------------

STDMETHODIMP ZvDevice10::Command(LPSTR strCommand, long* nMaxLen, LPSTR* strResponse) {
    if (!strCommand || !nMaxLen || !strResponse)
        return E_INVALIDARG;
    *strResponse = nullptr;
    *nMaxLen = 0;
    // The text goes into a tagged request: a "|" would end its field early.
    if (std::strchr(strCommand, '|'))
        return E_INVALIDARG;
    if (FAILED(Connect())) {
        Disconnect();
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    if (!PcModeOn()) {
        hr = E_FAIL;
    } else {
        std::string reply;
        if (Request("<Command>|" + std::string(strCommand) + "|", reply) != S_OK) {
            hr = E_FAIL;
        } else {
            *strResponse = tv::com::TaskTextCopy(reply);
            *nMaxLen = static_cast<long>(reply.size());
            hr = *strResponse ? S_OK : E_OUTOFMEMORY;
        }
    }
    PcModeOff();
    Disconnect();
    return hr;
}

STDMETHODIMP ZvDevice10::DeleteFileItem(LPSTR strItem, long nMaxLen, unsigned char* strError) {
    if (!strItem || !strError)
        return E_POINTER;
    const std::string item = strItem;
    const size_t slash = item.rfind('\\');
    const std::string name = slash == std::string::npos ? item : item.substr(slash + 1);
    const std::string medium = slash == std::string::npos ? std::string() : item.substr(0, slash);
    // The whole path goes into the command, the medium part too (an unknown medium is used as it
    // stands).
    const std::string path = "/" + FolderOfMedium(medium) + "/" + name;
    if (name.empty() || !IsSafeDeviceName(path)) {
        CopyError(LangString(IDS_DEVICE10_BAD_NAME), nMaxLen, strError);
        return E_INVALIDARG;
    }
    if (FAILED(Connect())) {
        Disconnect();
        CopyError(LangString(IDS_DEVICE10_CANNOT_CONNECT), nMaxLen, strError);
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    std::string reply;
    if (!PcModeOn()) {
        CopyError(LangString(IDS_DEVICE10_CANNOT_CONNECT), nMaxLen, strError);
        hr = E_FAIL;
    } else if (PathRequest("rm -f", path, reply) != S_OK) {
        CopyError(LangString(IDS_DEVICE10_DELETE_FAILED), nMaxLen, strError);
        hr = E_FAIL;
    } else if (ReplyReportsFailure(reply)) {
        CopyError(LangString(IDS_DEVICE10_DEVICE_REFUSED), nMaxLen, strError);
        hr = E_FAIL;
    }
    PcModeOff(true);
    Disconnect();
    return hr;
}

// --- information ------------------------------------------------------------------------------

HRESULT ZvDevice10::QueryVolume(const std::string& folder, VOLUMEINFO& info) {
    std::string reply;
    if (PathRequest("sysinfo", "/" + folder, reply) != S_OK)
        return E_FAIL;
    info.nBlockSize = SysinfoValue(reply, "block_size(bytes)");
    info.nTotalBlocks = SysinfoValue(reply, "blocks_total");
    info.nFreeBlocks = SysinfoValue(reply, "free_blocks");
    info.nBusyBlocks = info.nTotalBlocks - info.nFreeBlocks;
    return S_OK;
}

STDMETHODIMP ZvDevice10::GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) {
    if (!strItem || !pInfo)
        return E_INVALIDARG;
    const std::string folder = FolderOfMedium(strItem);
    if (!IsSafeDeviceName(folder))
        return E_INVALIDARG;
    // Failures are failure codes: the caller must not read an unfilled record.
    if (FAILED(Connect())) {
        Disconnect();
        return E_FAIL;
    }
    HRESULT hr = PcModeOn() ? QueryVolume(folder, *pInfo) : E_FAIL;
    PcModeOff();
    Disconnect();
    return hr;
}

STDMETHODIMP ZvDevice10::GetDeviceInfo(long* nMaxLen, LPSTR* strInfo) {
    if (!nMaxLen || !strInfo)
        return E_INVALIDARG;
    *strInfo = nullptr;
    std::string info;
    long length = 0;
    LPSTR reply = nullptr;
    char cfgCommand[] = "cfg";
    HRESULT hr = Command(cfgCommand, &length, &reply);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    std::string cfgText;
    ParseCfgReply(reply, cfgText);
    ::CoTaskMemFree(reply);
    const std::string hardware = HardwareField(cfgText);
    if (char letter = HardwareLetter(hardware)) {
        info += FormatLetter(LangString(IDS_DEVICE10_INFO_HARDWARE_LETTER), letter);
    } else {
        info += Format(LangString(IDS_DEVICE10_INFO_HARDWARE_TEXT), hardware.c_str()) + "|";
    }
    info += Format(LangString(IDS_DEVICE10_INFO_RF_CHANNEL), RfChannelField(cfgText).c_str());

    char verCommand[] = "ver";
    reply = nullptr;
    hr = Command(verCommand, &length, &reply);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    info += LangString(IDS_DEVICE10_INFO_VERSION) + VersionField(reply);
    ::CoTaskMemFree(reply);
    info += FormatNumber(LangString(IDS_DEVICE10_INFO_PORT), slot_.port);
    for (char& c : info) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    *strInfo = tv::com::TaskTextCopy(info);
    if (!*strInfo)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<long>(info.size() + 1);
    return S_OK;
}

STDMETHODIMP ZvDevice10::GetItemsInfo(long nStringCount, long nMaxLen, LPSTR* aStrItems,
                                      IZvItemsInfoCallback* piCallback) {
    if (nStringCount <= 0 || nMaxLen <= 0 || !aStrItems || !piCallback)
        return E_INVALIDARG;
    std::vector<std::string> items;
    for (long i = 0; i < nStringCount; ++i)
        items.emplace_back(aStrItems[i] ? aStrItems[i] : "");
    std::string devicePath;
    if (!ToDevicePath(items[0], devicePath) || !IsSafeDeviceName(devicePath))
        return E_INVALIDARG;
    const std::string folder = devicePath.substr(0, devicePath.rfind('/'));
    const std::string mediumFolder = folder.empty() ? std::string() : folder.substr(1);
    piCallback->OnOperationStart();
    char empty[] = "";
    auto fail = [&] {
        PcModeOff();
        Disconnect();
        piCallback->OnOperationComplete(empty);
        return E_FAIL;
    };
    if (FAILED(Connect()) || !PcModeOn())
        return fail();
    std::string reply, records;
    if (PathRequest("ls -l -t", folder + "/*", reply) != S_OK ||
        ParseListingReply(reply.c_str(), &records) != ParseResult::Ok)
        return fail();
    ITEMSINFO info = {};
    for (const ListingItem& listed : SplitListingRecords(records)) {
        std::string name = listed.name;
        if (mediumFolder != "default")
            name = name.size() >= mediumFolder.size() + 2 ? name.substr(mediumFolder.size() + 2) : std::string();
        for (const std::string& item : items) {
            const size_t slash = item.rfind('\\');
            if (name == (slash == std::string::npos ? item : item.substr(slash + 1))) {
                ++info.files;
                info.nTotalSize += ReadDecimal(listed.size);
            }
        }
    }
    PcModeOff();
    Disconnect();
    piCallback->OnOperationProgress(info);
    piCallback->OnOperationComplete(empty);
    return S_OK;
}

} // namespace devlink10
