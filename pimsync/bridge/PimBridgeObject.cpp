#include "PimBridgeObject.h"
#include "AnsiText.h"
#include "DllModule.h"
#include "Handles.h"
#include "LangIds.h"
#include <oleauto.h>
#include <ctime>
#include <set>

namespace tv::pimbridge {

namespace {

constexpr char kBridgeClsid[] = "{4349BB09-7C65-4B86-B5E0-608733CD9654}";
constexpr DWORD kMaxUidData = 256;

struct SettingValue {
    const char* name;
    uint32_t FilterSettings::*field;
};
const SettingValue kSettingValues[] = {{"Attributes", &FilterSettings::attributes},
                                       {"Days", &FilterSettings::days},
                                       {"MailSize", &FilterSettings::mailSize},
                                       {"AttachmentSize", &FilterSettings::attachmentSize},
                                       {"CutMessageSize", &FilterSettings::cutMessageSize}};

HRESULT OpenKey(const std::string& path, com::UniqueHKey& key) {
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              key.Put(), nullptr);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT WriteDword(HKEY key, const char* name, DWORD value) {
    return HRESULT_FROM_WIN32(
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

// Seconds of a UTC file time on the local calendar, through the DOS date-and-time form (two-second
// steps). Times the DOS form cannot hold (before 1980, after 2107) count by the file time alone.
bool CalendarSeconds(const FILETIME& time, double& seconds) {
    WORD dosDate = 0, dosTime = 0;
    if (!FileTimeToDosDateTime(&time, &dosDate, &dosTime)) {
        const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        seconds = static_cast<double>(ticks) / 1e7 - 11644473600.0;
        return true;
    }
    std::tm calendar{};
    calendar.tm_year = ((dosDate >> 9) & 0x7F) + 80;
    calendar.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    calendar.tm_mday = dosDate & 0x1F;
    calendar.tm_hour = (dosTime >> 11) & 0x1F;
    calendar.tm_min = (dosTime >> 5) & 0x3F;
    calendar.tm_sec = (dosTime & 0x1F) * 2;
    calendar.tm_isdst = -1;
    const std::time_t local = std::mktime(&calendar);
    if (local == static_cast<std::time_t>(-1))
        return false;
    seconds = static_cast<double>(local);
    return true;
}

HRESULT NewBstr(const std::string& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return com::AnsiToBstr(text, out);
}

} // namespace

std::string BridgeKeyPath(const std::string& deviceId, const char* subkey) {
    std::string path = "Software\\Zelvan\\Tavrilon\\DeviceList\\" + deviceId + "\\" + kBridgeClsid;
    if (subkey)
        path += std::string("\\") + subkey;
    return path;
}

HRESULT ZvPimBridge::FinalConstruct() { return mapi_.Open(); }

ZvPimBridge::~ZvPimBridge() {
    // Settings go back only when they were loaded, so never under an unset device.
    if (loaded_)
        SaveSettings();
}

HRESULT ZvPimBridge::LoadSettings() {
    com::UniqueHKey key;
    HRESULT hr = OpenKey(BridgeKeyPath(device_, "Filter"), key);
    if (FAILED(hr))
        return hr;
    for (const SettingValue& value : kSettingValues) {
        DWORD data = 0, size = sizeof(data), type = 0;
        if (RegQueryValueExA(key.Get(), value.name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof(data)) {
            settings_.*value.field = data;
            continue;
        }
        hr = WriteDword(key.Get(), value.name, settings_.*value.field);
        if (FAILED(hr))
            return hr;
    }
    loaded_ = true;
    return S_OK;
}

HRESULT ZvPimBridge::SaveSettings() const {
    com::UniqueHKey key;
    HRESULT hr = OpenKey(BridgeKeyPath(device_, "Filter"), key);
    for (const SettingValue& value : kSettingValues)
        if (SUCCEEDED(hr))
            hr = WriteDword(key.Get(), value.name, settings_.*value.field);
    return hr;
}

STDMETHODIMP ZvPimBridge::SetDevice(BSTR deviceId) {
    const std::string device = com::ToAnsi(deviceId);
    if (device.empty())
        return Done(E_FAIL);
    device_ = device;
    return Done(LoadSettings());
}

STDMETHODIMP ZvPimBridge::Tune(BSTR deviceId) {
    HRESULT hr = SetDevice(deviceId);
    if (FAILED(hr))
        return hr;
    FilterSettings chosen = settings_;
    if (!RunFilterDialog(GetActiveWindow(), chosen))
        return S_OK;
    settings_ = chosen;
    return Done(SaveSettings());
}

HRESULT ZvPimBridge::Filter(const VARIANT& date, long size, long* isFiltered) const {
    if (!isFiltered)
        return E_POINTER;
    if (!loaded_)
        return E_FAIL;
    if (date.vt == VT_EMPTY || date.vt == VT_NULL)
        return E_FAIL;
    if (date.vt != VT_DATE)
        return E_INVALIDARG;
    SYSTEMTIME system{};
    FILETIME messageTime{}, nowTime{};
    if (!VariantTimeToSystemTime(date.date, &system) || !SystemTimeToFileTime(&system, &messageTime))
        return E_FAIL;
    GetSystemTimeAsFileTime(&nowTime);
    double message = 0, now = 0;
    if (!CalendarSeconds(messageTime, message) || !CalendarSeconds(nowTime, now))
        return E_FAIL;
    *isFiltered = MessagePasses(settings_, now - message, static_cast<uint32_t>(size)) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP ZvPimBridge::FilterOutlookMailMessage(VARIANT date, long size, long* isFiltered) {
    return Done(Filter(date, size, isFiltered));
}

STDMETHODIMP ZvPimBridge::FilterAttachment(long, long* isFiltered) {
    if (!loaded_)
        return Done(E_FAIL);
    if (!isFiltered)
        return Done(E_POINTER);
    *isFiltered = 0;
    return S_OK;
}

STDMETHODIMP ZvPimBridge::IsTheSameItem(BSTR outlookId, BSTR deviceItemId, long* same) {
    const std::string outlook = com::ToAnsi(outlookId), device = com::ToAnsi(deviceItemId);
    if (outlook.empty() || device.empty() || device_.empty())
        return Done(E_FAIL);
    if (!same)
        return Done(E_POINTER);
    com::UniqueHKey key;
    HRESULT hr = OpenKey(BridgeKeyPath(device_, "Database"), key);
    if (FAILED(hr))
        return Done(hr);
    char data[kMaxUidData + 1] = {};
    DWORD size = kMaxUidData, type = 0;
    bool found = RegQueryValueExA(key.Get(), outlook.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                     ERROR_SUCCESS &&
                 type == REG_SZ && device == data;
    for (const auto& pair : pending_)
        found = found || (pair.first == outlook && pair.second == device);
    *same = found ? 1 : 0;
    return S_OK;
}

STDMETHODIMP ZvPimBridge::SetUIDPair(BSTR outlookId, BSTR deviceItemId) {
    pending_.emplace_back(com::ToAnsi(outlookId), com::ToAnsi(deviceItemId));
    return S_OK;
}

HRESULT ZvPimBridge::Commit() {
    if (device_.empty())
        return E_FAIL;
    com::UniqueHKey key;
    HRESULT hr = OpenKey(BridgeKeyPath(device_, "Database"), key);
    if (FAILED(hr))
        return hr;
    // Every pending pair is written before anything is deleted: a write that fails leaves the
    // mappings stored earlier in place.
    std::set<std::string> kept;
    for (const auto& [outlook, device] : pending_) {
        LONG rc = RegSetValueExA(key.Get(), outlook.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(device.c_str()),
                                 static_cast<DWORD>(device.size() + 1));
        if (rc != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(rc);
        kept.insert(outlook);
    }
    std::vector<std::string> stale;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD length = sizeof(name);
        LONG rc = RegEnumValueA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(rc);
        if (!kept.count(name))
            stale.emplace_back(name);
    }
    for (const std::string& name : stale) {
        LONG rc = RegDeleteValueA(key.Get(), name.c_str());
        if (rc != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(rc);
    }
    return S_OK;
}

STDMETHODIMP ZvPimBridge::CommitUIDS() { return Done(Commit()); }

STDMETHODIMP ZvPimBridge::GenerateAttachmentName(BSTR* name) {
    GUID guid{};
    HRESULT hr = name ? CoCreateGuid(&guid) : E_POINTER;
    return Done(SUCCEEDED(hr) ? NewBstr(AttachmentName(guid.Data1), name) : hr);
}

STDMETHODIMP ZvPimBridge::GenerateZvUID(BSTR* id) {
    GUID guid{};
    HRESULT hr = id ? CoCreateGuid(&guid) : E_POINTER;
    return Done(SUCCEEDED(hr) ? NewBstr(DeviceItemId(guid.Data1, guid.Data2, guid.Data3), id) : hr);
}

STDMETHODIMP ZvPimBridge::CutMessageBody(BSTR body, BSTR* cut) {
    if (!cut)
        return Done(E_POINTER);
    *cut = nullptr;
    const std::wstring text(body ? body : L"", body ? SysStringLen(body) : 0);
    wchar_t marker[256] = {};
    LoadStringW(dll::LanguageLibrary(), IDS_PIMBRIDGE_CUT_MARKER, marker, 256);
    const std::wstring result = CutBody(settings_, text, std::wstring(marker));
    *cut = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
    return *cut ? S_OK : Done(E_OUTOFMEMORY);
}

STDMETHODIMP ZvPimBridge::ResolveName(BSTR name, BSTR* address) {
    if (!address)
        return Done(E_POINTER);
    *address = nullptr;
    std::string resolved;
    HRESULT hr = mapi_.Resolve(com::ToAnsi(name), resolved);
    return Done(SUCCEEDED(hr) ? NewBstr(resolved, address) : hr);
}

} // namespace tv::pimbridge
