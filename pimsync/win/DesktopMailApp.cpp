#include "DesktopMailApp.h"

#include "AnsiText.h"
#include "DeviceId.h"
#include "Handles.h"
#include "RecordMerge.h"

#include <cstdio>
#include <cwchar>

namespace tv::pimsync {

using ::pimsync::ZvContactRecord;
using ::pimsync::ZvSyncRecord;
using ::pimsync::ZvTaskRecord;
using com::ComPtr;
using com::UniqueBstr;

namespace {

constexpr IID kApplicationIid = {0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kUserPropertiesIid = {0x0006303D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID kUserPropertiesDispId = 63510;
constexpr long kTextPropertyType = 1;

// Positions in the function tables.
enum : int {
    kApplicationGetNamespace = 19,
    kNamespaceGetDefaultFolder = 16,
    kFolderGetItems = 17,
    kItemsCount = 11,
    kItemsItem = 12,
    kItemsAdd = 16,
    kItemSave = 54,
    kUserPropertiesAdd = 13,
    kUserPropertiesFind = 14,
    kUserPropertyGetValue = 19,
    kUserPropertyPutValue = 20,
};

VARIANT Omitted() {
    VARIANT omitted;
    VariantInit(&omitted);
    omitted.vt = VT_ERROR;
    omitted.scode = DISP_E_PARAMNOTFOUND;
    return omitted;
}

VARIANT Long(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

HRESULT GetText(IUnknown* item, int slot, std::string& text) {
    UniqueBstr value;
    TV_RETURN_IF_FAILED(CallSlot(item, slot, value.Put()));
    text = com::ToAnsi(value.Get());
    return S_OK;
}

HRESULT PutText(IUnknown* item, int slot, const std::string& text) {
    UniqueBstr value;
    TV_RETURN_IF_FAILED(com::AnsiToBstr(text, value.Put()));
    return CallSlot(item, slot, value.Get());
}

HRESULT UserProperties(IUnknown* item, ComPtr<IUnknown>& properties) {
    ComPtr<IDispatch> dispatch;
    TV_RETURN_IF_FAILED(item->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = dispatch->Invoke(kUserPropertiesDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  &result, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        IUnknown* object = result.vt == VT_DISPATCH ? result.pdispVal : result.vt == VT_UNKNOWN ? result.punkVal : nullptr;
        hr = object ? object->QueryInterface(kUserPropertiesIid, reinterpret_cast<void**>(&properties)) : E_NOINTERFACE;
    }
    VariantClear(&result);
    return hr;
}

// A user property's text from an item's collection; empty when the item has no such property.
HRESULT GetUserProperty(IUnknown* properties, const wchar_t* name, std::string& text, bool& found) {
    text.clear();
    found = false;
    UniqueBstr bstrName(SysAllocString(name));
    if (!bstrName)
        return E_OUTOFMEMORY;
    ComPtr<IUnknown> property;
    TV_RETURN_IF_FAILED(
        CallSlot(properties, kUserPropertiesFind, bstrName.Get(), Omitted(), property.ReleaseAndGetAddressOf()));
    if (!property)
        return S_OK;
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = CallSlot(property.Get(), kUserPropertyGetValue, &value);
    if (SUCCEEDED(hr) && value.vt != VT_EMPTY && value.vt != VT_NULL) {
        hr = VariantChangeType(&value, &value, 0, VT_BSTR);
        if (SUCCEEDED(hr)) {
            text = com::ToAnsi(value.bstrVal);
            found = true;
        }
    }
    VariantClear(&value);
    return hr;
}

HRESULT PutUserProperty(IUnknown* properties, const wchar_t* name, const std::string& text) {
    UniqueBstr bstrName(SysAllocString(name));
    if (!bstrName)
        return E_OUTOFMEMORY;
    ComPtr<IUnknown> property;
    TV_RETURN_IF_FAILED(
        CallSlot(properties, kUserPropertiesFind, bstrName.Get(), Omitted(), property.ReleaseAndGetAddressOf()));
    if (!property) {
        TV_RETURN_IF_FAILED(CallSlot(properties, kUserPropertiesAdd, bstrName.Get(), kTextPropertyType, Omitted(),
                                     Omitted(), property.ReleaseAndGetAddressOf()));
        if (!property)
            return E_UNEXPECTED;
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    TV_RETURN_IF_FAILED(com::AnsiToBstr(text, &value.bstrVal));
    const HRESULT hr = CallSlot(property.Get(), kUserPropertyPutValue, value);
    VariantClear(&value);
    return hr;
}

// --- contacts ---

struct ContactText {
    std::string ZvContactRecord::*field;
    int get;
    int put;
};
constexpr ContactText kContactTexts[] = {
    {&ZvContactRecord::s1, 204, 205}, {&ZvContactRecord::s3, 127, 128}, {&ZvContactRecord::s4, 177, 178},
    {&ZvContactRecord::s5, 86, 87},   {&ZvContactRecord::s6, 107, 108}, {&ZvContactRecord::s7, 180, 181},
    {&ZvContactRecord::s8, 15, 16},
};

HRESULT ReadContact(IUnknown* item, ZvSyncRecord& record) {
    auto& contact = static_cast<ZvContactRecord&>(record);
    for (const ContactText& text : kContactTexts)
        TV_RETURN_IF_FAILED(GetText(item, text.get, contact.*text.field));
    ComPtr<IUnknown> properties;
    TV_RETURN_IF_FAILED(UserProperties(item, properties));
    bool found = false;
    TV_RETURN_IF_FAILED(GetUserProperty(properties.Get(), L"ICQ", contact.icq, found));
    std::string id;
    TV_RETURN_IF_FAILED(GetUserProperty(properties.Get(), L"ZvID", id, found));
    contact.idNumber = found ? ::pimsync::DecodeDeviceId(id) : ::pimsync::kNotAnId;
    return S_OK;
}

// The fields a version 0 phone book stores.
bool StoredInVersion0(std::string ZvContactRecord::*field) {
    return field == &ZvContactRecord::s3 || field == &ZvContactRecord::s5 || field == &ZvContactRecord::s8;
}

HRESULT WriteContact(IUnknown* item, ZvSyncRecord& record, const ZvSyncRecord* heldRecord) {
    auto& contact = static_cast<ZvContactRecord&>(record);
    const auto* held = static_cast<const ZvContactRecord*>(heldRecord);
    bool written = false;
    for (const ContactText& text : kContactTexts) {
        // A version 0 phone book stores only some fields: the item keeps every other field it has.
        if ((contact.version == 0 && !StoredInVersion0(text.field)) ||
            (held && held->*text.field == contact.*text.field))
            continue;
        TV_RETURN_IF_FAILED(PutText(item, text.put, contact.*text.field));
        written = true;
    }
    const bool icq = contact.version != 0 && (!held || held->icq != contact.icq);
    const bool id = contact.version != 0 && (!held || held->idNumber != contact.idNumber);
    if (icq || id) {
        ComPtr<IUnknown> properties;
        TV_RETURN_IF_FAILED(UserProperties(item, properties));
        if (icq)
            TV_RETURN_IF_FAILED(PutUserProperty(properties.Get(), L"ICQ", contact.icq));
        if (id)
            TV_RETURN_IF_FAILED(
                PutUserProperty(properties.Get(), L"ZvID", ::pimsync::EncodeDeviceId(contact.idNumber)));
        written = true;
    }
    return written ? CallSlot(item, kItemSave) : S_OK;
}

// --- tasks ---

enum : int {
    kTaskGetImportance = 27,
    kTaskPutImportance = 28,
    kTaskGetText = 43,
    kTaskPutText = 44,
    kTaskGetDueDate = 70,
    kTaskPutDueDate = 71,
    kTaskGetReminderTime = 81,
    kTaskPutReminderTime = 82,
    kTaskGetReminderSet = 87,
    kTaskPutReminderSet = 88,
};

HRESULT ReadTask(IUnknown* item, ZvSyncRecord& record) {
    auto& task = static_cast<ZvTaskRecord&>(record);
    long importance = 1;
    DATE due = 0, reminderTime = 0;
    VARIANT_BOOL reminderSet = VARIANT_FALSE;
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskGetImportance, &importance));
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskGetDueDate, &due));
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskGetReminderSet, &reminderSet));
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskGetReminderTime, &reminderTime));
    TV_RETURN_IF_FAILED(GetText(item, kTaskGetText, task.text));
    task.deleted = 0;
    task.priority = ::pimsync::PriorityFromPc(importance);
    task.date = DeviceDateFromAutomation(due);
    task.reminder = reminderSet != VARIANT_FALSE ? ::pimsync::ReminderFromLead(due - reminderTime) : 0;
    return S_OK;
}

HRESULT WriteTask(IUnknown* item, ZvSyncRecord& record, const ZvSyncRecord*) {
    auto& task = static_cast<ZvTaskRecord&>(record);
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskPutImportance, ::pimsync::PriorityToPc(task.priority)));
    DATE due = kNoAutomationDate;
    const bool dated = DeviceDateToAutomation(task.date, due);
    // A record without a date clears the item's date too: an item that kept its old date would
    // differ from the device in every later session.
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskPutDueDate, dated ? due : kNoAutomationDate));
    TV_RETURN_IF_FAILED(CallSlot(item, kTaskPutReminderSet, task.reminder != 0 ? VARIANT_TRUE : VARIANT_FALSE));
    if (task.reminder != 0 && dated)
        TV_RETURN_IF_FAILED(CallSlot(item, kTaskPutReminderTime, due - ::pimsync::ReminderLead(task.reminder)));
    TV_RETURN_IF_FAILED(PutText(item, kTaskPutText, task.text));
    TV_RETURN_IF_FAILED(CallSlot(item, kItemSave));
    // What the item now reads back as: no "no priority", and no lead without a date.
    task.priority = ::pimsync::PriorityFromPc(::pimsync::PriorityToPc(task.priority));
    if (!dated && task.reminder > 1)
        task.reminder = 1;
    return S_OK;
}

} // namespace

const ItemKind kContactItems = {{0x00063021, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
                                ReadContact, WriteContact};
const ItemKind kTaskItems = {{0x00063035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
                             ReadTask, WriteTask};

HRESULT FindMailAppVersion(std::wstring& progId) {
    progId.clear();
    com::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return E_FAIL;
    wchar_t value[129] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return E_FAIL;
    const std::wstring text(value);
    const size_t dot = text.rfind(L'.');
    if (dot == std::wstring::npos || dot + 1 >= text.size())
        return E_FAIL;
    const std::wstring number = text.substr(dot + 1);
    if (number.size() > 9 || number.find_first_not_of(L"0123456789") != std::wstring::npos)
        return E_FAIL;
    if (std::wcstol(number.c_str(), nullptr, 10) <= 8)
        return E_FAIL;
    progId = text;
    return S_OK;
}

HRESULT AttachMailApp(ComPtr<IUnknown>& application) {
    std::wstring progId;
    TV_RETURN_IF_FAILED(FindMailAppVersion(progId));
    CLSID clsid;
    TV_RETURN_IF_FAILED(CLSIDFromProgID(progId.c_str(), &clsid));
    ComPtr<IUnknown> running;
    if (SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running &&
        SUCCEEDED(running->QueryInterface(kApplicationIid, reinterpret_cast<void**>(&application))))
        return S_OK;
    // An application whose last client has just let go is ending: for a moment its activation
    // answers "server stopping", which Wine's runtime reports as "class not registered" for a
    // local server. A session started at that moment tries again a few times before it fails.
    constexpr int kActivationAttempts = 5;
    constexpr DWORD kActivationPauseMs = 200;
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        if (attempt > 0)
            Sleep(kActivationPauseMs);
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, kApplicationIid,
                              reinterpret_cast<void**>(&application));
        if (hr != CO_E_SERVER_STOPPING && hr != REGDB_E_CLASSNOTREG)
            break;
    }
    return hr;
}

HRESULT OpenDefaultFolderItems(IUnknown* application, long folderNumber, ComPtr<IUnknown>& items) {
    UniqueBstr mapi(SysAllocString(L"MAPI"));
    if (!mapi)
        return E_OUTOFMEMORY;
    ComPtr<IUnknown> space, folder;
    TV_RETURN_IF_FAILED(CallSlot(application, kApplicationGetNamespace, mapi.Get(), space.ReleaseAndGetAddressOf()));
    if (!space)
        return E_POINTER;
    TV_RETURN_IF_FAILED(CallSlot(space.Get(), kNamespaceGetDefaultFolder, folderNumber, folder.ReleaseAndGetAddressOf()));
    if (!folder)
        return E_POINTER;
    TV_RETURN_IF_FAILED(CallSlot(folder.Get(), kFolderGetItems, items.ReleaseAndGetAddressOf()));
    return items ? S_OK : E_POINTER;
}

HRESULT ItemCount(IUnknown* items, long& count) {
    count = 0;
    return CallSlot(items, kItemsCount, &count);
}

HRESULT ItemAt(IUnknown* items, long index, ComPtr<IDispatch>& item) {
    TV_RETURN_IF_FAILED(CallSlot(items, kItemsItem, Long(index), item.ReleaseAndGetAddressOf()));
    return item ? S_OK : E_POINTER;
}

HRESULT AddItem(IUnknown* items, long itemType, ComPtr<IDispatch>& item) {
    TV_RETURN_IF_FAILED(CallSlot(items, kItemsAdd, Long(itemType), item.ReleaseAndGetAddressOf()));
    return item ? S_OK : E_POINTER;
}

bool DeviceDateToAutomation(const ::pimsync::DeviceDate& date, DATE& value) {
    tv::portable::CalendarTime time;
    if (!::pimsync::CalendarFromDeviceDate(date, time))
        return false;
    UDATE unpacked = {};
    unpacked.st.wYear = static_cast<WORD>(time.year);
    unpacked.st.wMonth = static_cast<WORD>(time.month);
    unpacked.st.wDay = static_cast<WORD>(time.day);
    unpacked.st.wHour = static_cast<WORD>(time.hour);
    unpacked.st.wMinute = static_cast<WORD>(time.minute);
    unpacked.st.wSecond = static_cast<WORD>(time.second);
    return SUCCEEDED(VarDateFromUdate(&unpacked, 0, &value));
}

::pimsync::DeviceDate DeviceDateFromAutomation(DATE value) {
    UDATE unpacked = {};
    if (FAILED(VarUdateFromDate(value, 0, &unpacked)))
        return {};
    tv::portable::CalendarTime time;
    time.year = unpacked.st.wYear;
    time.month = unpacked.st.wMonth;
    time.day = unpacked.st.wDay;
    time.hour = unpacked.st.wHour;
    time.minute = unpacked.st.wMinute;
    time.second = unpacked.st.wSecond;
    return ::pimsync::DeviceDateFromCalendar(time);
}

std::string ComErrorText(HRESULT hr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        UniqueBstr description;
        if (SUCCEEDED(info->GetDescription(description.Put())) && description && SysStringLen(description.Get()) > 0)
            return com::ToAnsi(description.Get());
    }
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) {
        char code[32];
        std::snprintf(code, sizeof(code), "Error 0x%08lX", static_cast<unsigned long>(hr));
        message = code;
    }
    return message;
}

} // namespace tv::pimsync
