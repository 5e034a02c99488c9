#include "ZvDevice15.h"

#include "AnsiText.h"
#include "Device15Ids.h"
#include "Handles.h"
#include "LangIds.h"
#include "LanguageLibrary.h"

#include <cstring>

namespace devlink15 {
namespace {

using tv::com::ComPtr;

// {E0B5F848-1BA4-44C8-AEC2-EBD617C242CE}
constexpr CLSID kClsidPort = {0xe0b5f848, 0x1ba4, 0x44c8, {0xae, 0xc2, 0xeb, 0xd6, 0x17, 0xc2, 0x42, 0xce}};
// {68DDAF01-6FAE-4BD9-BA1C-1DC7C61943E2}
constexpr CLSID kClsidAssocMgr = {0x68ddaf01, 0x6fae, 0x4bd9, {0xba, 0x1c, 0x1d, 0xc7, 0xc6, 0x19, 0x43, 0xe2}};
// The property pages of the media, folders and files.
constexpr CLSID kClsidMediaPage = {0x17c16d1b, 0xd577, 0x420e, {0xa9, 0xcc, 0x3f, 0xd5, 0x3f, 0x49, 0x49, 0x2f}};
constexpr CLSID kClsidFolderPage = {0x682fe9f8, 0x4166, 0x423d, {0xb0, 0x00, 0xb8, 0xb6, 0x06, 0xad, 0x0a, 0xbd}};
constexpr CLSID kClsidFilePage = {0x4a331422, 0x91f1, 0x4c09, {0xb8, 0x15, 0x2a, 0xa1, 0x8d, 0x51, 0xc6, 0x00}};

constexpr long kModelVersion = 21;
constexpr wchar_t kDeviceListKey[] = L"Software\\Zelvan\\Tavrilon\\DeviceList";

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Copies a text whose length is less than nMaxLen; E_INVALIDARG and nothing written otherwise.
HRESULT CopyFittingText(const std::string& text, long nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0 || text.size() >= static_cast<size_t>(nMaxLen))
        return E_INVALIDARG;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

} // namespace

HRESULT ZvDevice15::Create(ComPtr<ZvDevice15>& device) {
    device.Reset();
    ComPtr<IZvPort15> port;
    if (FAILED(CoCreateInstance(kClsidPort, nullptr, CLSCTX_ALL, __uuidof(IZvPort15),
                                reinterpret_cast<void**>(&port))))
        return E_FAIL;
    ComPtr<IZvAssocMgr> assoc;
    if (FAILED(CoCreateInstance(kClsidAssocMgr, nullptr, CLSCTX_ALL, __uuidof(IZvAssocMgr),
                                reinterpret_cast<void**>(&assoc))))
        return E_FAIL;
    return CreateWith(port.Get(), assoc.Get(), device);
}

HRESULT ZvDevice15::CreateWith(IZvPort15* port, IZvAssocMgr* assoc, ComPtr<ZvDevice15>& device) {
    device.Reset();
    if (!port || !assoc)
        return E_FAIL;
    ComPtr<ZvDevice15> made;
    HRESULT hr = tv::com::MakeComObject(made);
    if (FAILED(hr))
        return hr;
    hr = made->Attach(port, assoc);
    if (FAILED(hr))
        return hr;
    device = std::move(made);
    return S_OK;
}

ZvDevice15::ZvDevice15() = default;

ZvDevice15::~ZvDevice15() {
    if (port_) {
        // Ask the port to go away without waiting for it.
        tv::com::UniqueBstr output;
        port_->Disconnect(output.Put());
    }
}

HRESULT ZvDevice15::Attach(IZvPort15* port, IZvAssocMgr* assoc) {
    port_ = port;
    port_->Cancel(reinterpret_cast<LONG_PTR>(cancelRef_));
    enableUI_ = 1;
    auxData_ = 0;
    itemCount_ = 0;
    assoc_ = assoc;
    return S_OK;
}

HRESULT ZvDevice15::ConnectPort(long number) {
    const HRESULT hr = port_->Connect(number);
    deviceNumber_ = number;
    return hr;
}

STDMETHODIMP ZvDevice15::GetName(long nMaxLen, unsigned char* strName) {
    return CopyFittingText(name_, nMaxLen, strName);
}

STDMETHODIMP ZvDevice15::GetStrID(long nMaxLen, unsigned char* strID) {
    return CopyFittingText(strId_, nMaxLen, strID);
}

STDMETHODIMP ZvDevice15::GetDescription(long nMaxLen, unsigned char* strName) {
    if (!strName)
        return E_POINTER;
    // Like the name: the text and its terminator must fit in the caller's nMaxLen.
    return CopyFittingText(LangString(IDS_DEVICE_DESCRIPTION_15), nMaxLen, strName);
}

STDMETHODIMP ZvDevice15::GetAttributes(long* nAttributes) {
    if (!nAttributes)
        return E_POINTER;
    *nAttributes = 0;
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetVersion(long* nModelVersion, long* nSubmodelVersion) {
    if (!nModelVersion || !nSubmodelVersion)
        return E_POINTER;
    *nModelVersion = kModelVersion;
    *nSubmodelVersion = 0;
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetPropPageID(long type, CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    const CLSID* page = nullptr;
    switch (type) {
    case kTypeVolume: page = &kClsidMediaPage; break;
    case kTypeFolder: page = &kClsidFolderPage; break;
    case kTypeFile: page = &kClsidFilePage; break;
    default: return E_UNEXPECTED;
    }
    auto* elems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!elems)
        return E_OUTOFMEMORY;
    *elems = *page;
    pPages->cElems = 1;
    pPages->pElems = elems;
    return S_OK;
}

HRESULT ZvDevice15::SendCommand(const std::string& command, std::string& reply) {
    reply.clear();
    tv::com::UniqueBstr wide;
    HRESULT hr = tv::com::AnsiToBstr(command, wide.Put());
    if (FAILED(hr))
        return hr;
    tv::com::UniqueBstr answer;
    hr = port_->Command(wide.Get(), answer.Put());
    reply = tv::com::ToAnsi(answer.Get());
    return hr;
}

HRESULT ZvDevice15::RunCommand(const std::string& command, std::string& reply) {
    const HRESULT hr = SendCommand(InsertReplyPipe(command), reply);
    if (hr != S_OK) {
        reply = LangString(IDS_DEVICE15_COMMAND_FAILED);
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::Command(LPSTR strCommand, long* nMaxLen, LPSTR* strResponse) {
    if (!strCommand || !nMaxLen || !strResponse)
        return E_POINTER;
    std::string reply;
    const HRESULT hr = RunCommand(strCommand, reply);
    *strResponse = tv::com::TaskTextCopy(reply);
    if (!*strResponse)
        return E_OUTOFMEMORY;
    *nMaxLen = static_cast<long>(reply.size());
    return hr;
}

bool ZvDevice15::IsNameUsedByOtherDevice(const std::string& name) const {
    tv::com::UniqueHKey list;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDeviceListKey, 0, KEY_READ, list.Put()) != ERROR_SUCCESS)
        return false;
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index) {
        char subkey[65] = {};
        DWORD length = sizeof(subkey);
        const LONG rc = RegEnumKeyExA(list.Get(), index, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS)
            subkeys.emplace_back(subkey, length);
        else if (rc != ERROR_MORE_DATA)
            break;
    }
    for (const std::string& subkey : subkeys) {
        if (subkey == strId_)
            continue;
        char value[257] = {};
        DWORD size = 256;
        DWORD type = 0;
        if (RegGetValueA(list.Get(), subkey.c_str(), "Name", RRF_RT_REG_SZ, &type, value, &size) == ERROR_SUCCESS &&
            name == value)
            return true;
    }
    return false;
}

STDMETHODIMP ZvDevice15::SetDeviceName(LPSTR strName) {
    if (!strName)
        return E_POINTER;
    const std::string name = strName;
    if (IsNameUsedByOtherDevice(name))
        return E_PENDING;
    // The name changes in memory only once the settings hold it, so that both agree.
    const std::wstring keyName = std::wstring(kDeviceListKey) + L"\\" + tv::com::FromAnsi(strId_);
    tv::com::UniqueHKey key;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_ALL_ACCESS, key.Put());
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExA(key.Get(), "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                        static_cast<DWORD>(name.size() + 1));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    name_ = name;
    return S_OK;
}

STDMETHODIMP ZvDevice15::GetDeviceAuxData(long* nAuxData) {
    if (!nAuxData)
        return E_POINTER;
    *nAuxData = auxData_;
    return S_OK;
}

STDMETHODIMP ZvDevice15::SetDeviceAuxData(long nAuxData) {
    auxData_ = nAuxData;
    return S_OK;
}

STDMETHODIMP ZvDevice15::ResetDeviceState(long nCount) {
    if (nCount == -1) {
        tv::com::UniqueBstr output;
        port_->Disconnect(output.Put());
    } else if (nCount == -2) {
        port_->Disconnect(nullptr);
    } else {
        answers_ = OverwriteAnswers{};
        itemCount_ = nCount;
    }
    return S_OK;
}

STDMETHODIMP ZvDevice15::get_EnableUI(long* nVal) {
    if (!nVal)
        return E_INVALIDARG;
    *nVal = enableUI_;
    return S_OK;
}

STDMETHODIMP ZvDevice15::put_EnableUI(long nVal) {
    enableUI_ = nVal;
    return S_OK;
}

STDMETHODIMP ZvDevice15::get_AutoPC_ON_PC_OFF_Mode(long*) { return S_OK; }

STDMETHODIMP ZvDevice15::put_AutoPC_ON_PC_OFF_Mode(long) { return S_OK; }

STDMETHODIMP ZvDevice15::SetCancelEvent(HANDLE* phCancelEvent) {
    cancelRef_ = phCancelEvent;
    return S_OK;
}

std::string ZvDevice15::LangString(UINT id) {
    tv::com::UniqueModule library(tv::LoadLanguageLibrary(ThisModule()));
    char text[1024] = {};
    if (library && LoadStringA(library.Get(), id, text, sizeof(text)) > 0)
        return text;
    return {};
}

std::string ZvDevice15::LanguageLibraryPath() { return tv::BuildLanguageLibraryPath(ThisModule()); }

void ZvDevice15::CopyErrorText(const std::string& text, long nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0)
        return;
    const size_t length = std::min(text.size(), static_cast<size_t>(nMaxLen) - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

ListingTexts ZvDevice15::Texts() {
    return ListingTexts{LangString(IDS_DEVICE15_FOLDER_DESC), LangString(IDS_DEVICE15_FILE_DESC),
                                    LangString(IDS_DEVICE15_MAIN_LABEL), LangString(IDS_DEVICE15_PLAYER_LABEL)};
}

} // namespace devlink15
