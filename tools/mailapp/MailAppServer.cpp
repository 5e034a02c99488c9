// MailAppStandIn.exe: a stand-in for the desktop mail application, registered only in test
// prefixes under the ProgID the contacts and tasks synchronizer looks for. A local server whose
// application object reaches two folders (contacts, 10; tasks, 13) loaded from a fixture file; every
// save writes the whole store to a dump file for the tests' assertions, from which the next start
// of the server loads it again. Settings, under HKCU
// "Software\Zelvan\TavrilonTests\MailApp": "Fixture" and "Dump" (paths), "Fail" (a comma list of
// Item, Save, Add: those calls fail with error information).
//
// Fixture and dump lines: a kind (contact, task, list) and tab-separated name=value fields, UTF-8;
// a name starting with "@" is a user property.
#include "ComObject.h"
#include "ComPtr.h"
#include "ErrorInfo.h"
#include "MailApp.h"
#include "MailAppFillers.h"
#include "RegistryScript.h"
#include "ServerRegistration.h"
#include "TypeInfoDispatch.h"

#include <cwchar>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace tv::com;

// IDispatch of an object's one dual interface, from the embedded type library. The type
// information is loaded once per interface and kept for the server's life, as an application
// keeps it: loading it for every item would put a type library load on each item's first
// late-bound call. Every call runs on the server's one thread.
#define TV_STANDIN_DUAL(Iface)                                                                               \
    void* QueryOtherInterface(REFIID riid) {                                                                 \
        return IsEqualIID(riid, IID_IDispatch) ? static_cast<IDispatch*>(static_cast<Iface*>(this))          \
                                               : nullptr;                                                    \
    }                                                                                                        \
    static TypeInfoDispatch& Dispatch() {                                                                    \
        static TypeInfoDispatch* const dispatch = new TypeInfoDispatch(__uuidof(Iface));                     \
        return *dispatch;                                                                                    \
    }                                                                                                        \
    TV_DUAL_DISPATCH(Iface, Dispatch())

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Zelvan\\TavrilonTests\\MailApp";
constexpr wchar_t kProgId[] = L"Outlook.Application";
constexpr wchar_t kVersionedProgId[] = L"Outlook.Application.9";
constexpr long kContactsFolder = 10, kTasksFolder = 13;
constexpr long kContactItemType = 2, kTaskItemType = 3;

std::wstring Setting(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return {};
    return buffer;
}

bool Failing(const wchar_t* call) {
    const std::wstring list = L"," + Setting(L"Fail") + L",";
    return list.find(std::wstring(L",") + call + L",") != std::wstring::npos;
}

HRESULT Fail(const wchar_t* call) {
    const std::wstring text = L"The stand-in mail application was told to fail " + std::wstring(call) + L".";
    return SetComErrorInfo(CLSID_MailApplication, text.c_str(), 0, nullptr, IID_NULL, E_FAIL, nullptr);
}

std::string Utf8(const std::wstring& text) {
    std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr,
                        nullptr);
    out.resize(out.empty() ? 0 : out.size() - 1);
    return out;
}

std::wstring Wide(const std::string& text) {
    std::wstring out(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(out.empty() ? 0 : out.size() - 1);
    return out;
}

// One item: its kind and fields by name, numbers and dates in their text forms.
struct ItemData {
    std::string kind;
    std::map<std::wstring, std::wstring> fields;
    std::map<std::wstring, std::wstring> userProperties;
    bool saved = false;
};
using Item = std::shared_ptr<ItemData>;

class Store {
  public:
    static Store& Get() {
        static Store store;
        return store;
    }
    std::vector<Item>& Folder(long number) { return number == kContactsFolder ? contacts_ : tasks_; }

    void Save(const Item& item, long folder) {
        if (!item->saved) {
            item->saved = true;
            Folder(folder).push_back(item);
        }
        Dump();
    }

  private:
    // The dump is the store's file: a server started after another one saved picks up where that
    // one left (two synchronizers of one session each start it in turn). The fixture seeds a
    // store that has no dump yet.
    Store() {
        std::ifstream dumped(Utf8(Setting(L"Dump")));
        const bool hasDump = dumped && dumped.peek() != std::ifstream::traits_type::eof();
        dumped.close();
        std::ifstream in(Utf8(Setting(hasDump ? L"Dump" : L"Fixture")));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::istringstream fields(line);
            auto item = std::make_shared<ItemData>();
            std::getline(fields, item->kind, '\t');
            if (item->kind.empty())
                continue;
            for (std::string field; std::getline(fields, field, '\t');) {
                const size_t equals = field.find('=');
                if (equals == std::string::npos)
                    continue;
                const std::wstring name = Wide(field.substr(0, equals)),
                                   value = Wide(field.substr(equals + 1));
                if (!name.empty() && name[0] == L'@')
                    item->userProperties[name.substr(1)] = value;
                else
                    item->fields[name] = value;
            }
            item->saved = true;
            (item->kind == "task" ? tasks_ : contacts_).push_back(item);
        }
    }

    void Dump() const {
        const std::wstring path = Setting(L"Dump");
        if (path.empty())
            return;
        std::ofstream out(Utf8(path), std::ios::trunc);
        for (const auto* folder : {&contacts_, &tasks_}) {
            for (const Item& item : *folder) {
                out << item->kind;
                for (const auto& [name, value] : item->fields)
                    out << '\t' << Utf8(name) << '=' << Utf8(value);
                for (const auto& [name, value] : item->userProperties)
                    out << "\t@" << Utf8(name) << '=' << Utf8(value);
                out << '\n';
            }
        }
    }

    std::vector<Item> contacts_, tasks_;
};

HRESULT GetText(const Item& item, const wchar_t* name, BSTR* value) {
    if (!value)
        return E_POINTER;
    const auto found = item->fields.find(name);
    *value = SysAllocString(found == item->fields.end() ? L"" : found->second.c_str());
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT PutText(const Item& item, const wchar_t* name, BSTR value) {
    item->fields[name] = value ? value : L"";
    return S_OK;
}

HRESULT GetNumber(const Item& item, const wchar_t* name, double& value) {
    const auto found = item->fields.find(name);
    value = found == item->fields.end() ? 0 : std::wcstod(found->second.c_str(), nullptr);
    return S_OK;
}

HRESULT PutNumber(const Item& item, const wchar_t* name, double value) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%.17g", value); // every bit: a date keeps its seconds
    item->fields[name] = text;
    return S_OK;
}

// A user property: a value kept as text in its item.
class UserProperty : public ComObject<UserProperty, IMailUserProperty> {
  public:
    UserProperty(Item item, std::wstring name) : item_(std::move(item)), name_(std::move(name)) {}
    TV_STANDIN_DUAL(IMailUserProperty)
    TV_MAILAPP_IMAILUSERPROPERTY_FILLERS
    STDMETHODIMP get_Value(VARIANT* value) override {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(item_->userProperties[name_].c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP put_Value(VARIANT value) override {
        VARIANT text;
        VariantInit(&text);
        const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
        if (FAILED(hr))
            return hr;
        item_->userProperties[name_] = text.bstrVal ? text.bstrVal : L"";
        VariantClear(&text);
        return S_OK;
    }

  private:
    Item item_;
    std::wstring name_;
};

class UserProperties : public ComObject<UserProperties, IMailUserProperties> {
  public:
    explicit UserProperties(Item item) : item_(std::move(item)) {}
    TV_STANDIN_DUAL(IMailUserProperties)
    TV_MAILAPP_IMAILUSERPROPERTIES_FILLERS
    STDMETHODIMP Add(BSTR name, long, VARIANT, VARIANT, IMailUserProperty** result) override {
        if (!name || !result)
            return E_POINTER;
        item_->userProperties.emplace(name, L"");
        return CreateComObject<UserProperty>(__uuidof(IMailUserProperty), reinterpret_cast<void**>(result),
                                             item_, std::wstring(name));
    }
    // A property the item does not have is "nothing": success with no object.
    STDMETHODIMP Find(BSTR name, VARIANT, IMailUserProperty** result) override {
        if (!name || !result)
            return E_POINTER;
        *result = nullptr;
        if (item_->userProperties.find(name) == item_->userProperties.end())
            return S_OK;
        return CreateComObject<UserProperty>(__uuidof(IMailUserProperty), reinterpret_cast<void**>(result),
                                             item_, std::wstring(name));
    }

  private:
    Item item_;
};

HRESULT MakeUserProperties(const Item& item, IMailUserProperties** result) {
    if (!result)
        return E_POINTER;
    return CreateComObject<UserProperties>(__uuidof(IMailUserProperties), reinterpret_cast<void**>(result),
                                           item);
}

HRESULT SaveItem(const Item& item, long folder) {
    if (Failing(L"Save"))
        return Fail(L"Save");
    Store::Get().Save(item, folder);
    return S_OK;
}

#define TV_TEXT_PROPERTY(Name)                                                                               \
    STDMETHODIMP get_##Name(BSTR* value) override {                                                          \
        return GetText(item_, L## #Name, value);                                                             \
    }                                                                                                        \
    STDMETHODIMP put_##Name(BSTR value) override {                                                           \
        return PutText(item_, L## #Name, value);                                                             \
    }

class ContactItem : public ComObject<ContactItem, IMailContactItem, ISupportErrorInfo> {
  public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(IMailContactItem)) ? S_OK : S_FALSE;
    }

  public:
    explicit ContactItem(Item item) : item_(std::move(item)) {}
    TV_STANDIN_DUAL(IMailContactItem)
    TV_MAILAPP_IMAILCONTACTITEM_FILLERS
    STDMETHODIMP get_UserProperties(IMailUserProperties** result) override {
        return MakeUserProperties(item_, result);
    }
    STDMETHODIMP Save() override { return SaveItem(item_, kContactsFolder); }
    TV_TEXT_PROPERTY(Email)
    TV_TEXT_PROPERTY(Phone)
    TV_TEXT_PROPERTY(Street)
    TV_TEXT_PROPERTY(LastName)
    TV_TEXT_PROPERTY(FirstName)
    TV_TEXT_PROPERTY(City)
    TV_TEXT_PROPERTY(Title)

  private:
    Item item_;
};

class TaskItem : public ComObject<TaskItem, IMailTaskItem, ISupportErrorInfo> {
  public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(IMailTaskItem)) ? S_OK : S_FALSE;
    }

  public:
    explicit TaskItem(Item item) : item_(std::move(item)) {}
    TV_STANDIN_DUAL(IMailTaskItem)
    TV_MAILAPP_IMAILTASKITEM_FILLERS
    STDMETHODIMP get_UserProperties(IMailUserProperties** result) override {
        return MakeUserProperties(item_, result);
    }
    STDMETHODIMP Save() override { return SaveItem(item_, kTasksFolder); }
    TV_TEXT_PROPERTY(Subject)
    STDMETHODIMP get_Importance(long* value) override { return GetLong(L"Importance", value, 1); }
    STDMETHODIMP put_Importance(long value) override { return PutNumber(item_, L"Importance", value); }
    STDMETHODIMP get_DueDate(DATE* value) override { return GetDate(L"DueDate", value); }
    STDMETHODIMP put_DueDate(DATE value) override { return PutNumber(item_, L"DueDate", value); }
    STDMETHODIMP get_ReminderTime(DATE* value) override { return GetDate(L"ReminderTime", value); }
    STDMETHODIMP put_ReminderTime(DATE value) override { return PutNumber(item_, L"ReminderTime", value); }
    STDMETHODIMP get_ReminderSet(VARIANT_BOOL* value) override {
        if (!value)
            return E_POINTER;
        double set = 0;
        GetNumber(item_, L"ReminderSet", set);
        *value = set != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP put_ReminderSet(VARIANT_BOOL value) override {
        return PutNumber(item_, L"ReminderSet", value ? 1 : 0);
    }

  private:
    HRESULT GetLong(const wchar_t* name, long* value, long fallback) {
        if (!value)
            return E_POINTER;
        double number = fallback;
        if (item_->fields.count(name))
            GetNumber(item_, name, number);
        *value = static_cast<long>(number);
        return S_OK;
    }
    // A date never set is the application's "none", 1 January 4501.
    HRESULT GetDate(const wchar_t* name, DATE* value) {
        if (!value)
            return E_POINTER;
        double date = 949998.0;
        if (item_->fields.count(name))
            GetNumber(item_, name, date);
        *value = date;
        return S_OK;
    }

    Item item_;
};

// An item of another kind in a folder (a distribution list): it answers neither item interface.
class OtherItem : public ComObject<OtherItem, IMailFolder> {
  public:
    TV_STANDIN_DUAL(IMailFolder)
    TV_MAILAPP_IMAILFOLDER_FILLERS
    STDMETHODIMP get_Items(IMailItems**) override { return E_NOTIMPL; }
};

HRESULT MakeItemObject(const Item& item, IDispatch** result) {
    void** out = reinterpret_cast<void**>(result);
    if (item->kind == "contact")
        return CreateComObject<ContactItem>(IID_IDispatch, out, item);
    if (item->kind == "task")
        return CreateComObject<TaskItem>(IID_IDispatch, out, item);
    return CreateComObject<OtherItem>(IID_IDispatch, out);
}

class Items : public ComObject<Items, IMailItems, ISupportErrorInfo> {
  public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(IMailItems)) ? S_OK : S_FALSE;
    }

  public:
    explicit Items(long folder) : folder_(folder) {}
    TV_STANDIN_DUAL(IMailItems)
    TV_MAILAPP_IMAILITEMS_FILLERS
    STDMETHODIMP get_Count(long* result) override {
        if (!result)
            return E_POINTER;
        *result = static_cast<long>(Store::Get().Folder(folder_).size());
        return S_OK;
    }
    STDMETHODIMP Item(VARIANT index, IDispatch** result) override {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        if (Failing(L"Item"))
            return ::Fail(L"Item");
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VariantChangeType(&number, &index, 0, VT_I4)))
            return E_INVALIDARG;
        const auto& folder = Store::Get().Folder(folder_);
        if (number.lVal < 1 || number.lVal > static_cast<long>(folder.size()))
            return E_INVALIDARG;
        return MakeItemObject(folder[number.lVal - 1], result);
    }
    STDMETHODIMP Add(VARIANT itemType, IDispatch** result) override {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        if (Failing(L"Add"))
            return ::Fail(L"Add");
        VARIANT type;
        VariantInit(&type);
        long kind = folder_ == kContactsFolder ? kContactItemType : kTaskItemType;
        if (itemType.vt != VT_ERROR && SUCCEEDED(VariantChangeType(&type, &itemType, 0, VT_I4)))
            kind = type.lVal;
        auto item = std::make_shared<ItemData>();
        item->kind = kind == kTaskItemType ? "task" : kind == kContactItemType ? "contact" : "list";
        return MakeItemObject(item, result);
    }

  private:
    long folder_;
};

class Folder : public ComObject<Folder, IMailFolder> {
  public:
    explicit Folder(long number) : number_(number) {}
    TV_STANDIN_DUAL(IMailFolder)
    TV_MAILAPP_IMAILFOLDER_FILLERS
    STDMETHODIMP get_Items(IMailItems** result) override {
        return CreateComObject<Items>(__uuidof(IMailItems), reinterpret_cast<void**>(result), number_);
    }

  private:
    long number_;
};

class Namespace : public ComObject<Namespace, IMailNamespace> {
  public:
    TV_STANDIN_DUAL(IMailNamespace)
    TV_MAILAPP_IMAILNAMESPACE_FILLERS
    STDMETHODIMP GetDefaultFolder(long folderType, IMailFolder** result) override {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        if (folderType != kContactsFolder && folderType != kTasksFolder)
            return E_INVALIDARG;
        return CreateComObject<Folder>(__uuidof(IMailFolder), reinterpret_cast<void**>(result), folderType);
    }
};

class Application : public ComObject<Application, IMailApplication> {
  public:
    TV_STANDIN_DUAL(IMailApplication)
    TV_MAILAPP_IMAILAPPLICATION_FILLERS
    STDMETHODIMP GetNamespace(BSTR type, IMailNamespace** result) override {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        if (!type || std::wcscmp(type, L"MAPI") != 0)
            return E_INVALIDARG;
        return CreateComObject<Namespace>(__uuidof(IMailNamespace), reinterpret_cast<void**>(result));
    }
};

class ApplicationFactory : public ComObjectNoLock<ApplicationFactory, IClassFactory> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return CreateComObject<Application>(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ModuleLock::Lock();
        else
            ModuleLock::Unlock();
        return S_OK;
    }
};

DWORD g_mainThread = 0;
DWORD g_cookie = 0;

void RevokeFactory() {
    if (g_cookie != 0)
        CoRevokeClassObject(std::exchange(g_cookie, 0));
}

std::vector<RegKey> RegistryKeys() {
    const std::wstring clsid = GuidToString(CLSID_MailApplication);
    return {
        RegKey{L"CLSID\\" + clsid,
               KeyMode::ForceRemove,
               {{L"", std::wstring(L"Stand-in mail application")}},
               {RegKey{L"LocalServer32", KeyMode::Normal, {{L"", std::wstring(L"%MODULE%")}}, {}},
                RegKey{L"ProgID", KeyMode::Normal, {{L"", std::wstring(kVersionedProgId)}}, {}}}},
        RegKey{kVersionedProgId,
               KeyMode::ForceRemove,
               {{L"", std::wstring(L"Stand-in mail application")}},
               {RegKey{L"CLSID", KeyMode::Normal, {{L"", clsid}}, {}}}},
        RegKey{kProgId,
               KeyMode::ForceRemove,
               {{L"", std::wstring(L"Stand-in mail application")}},
               {RegKey{L"CLSID", KeyMode::Normal, {{L"", clsid}}, {}},
                RegKey{L"CurVer", KeyMode::Normal, {{L"", std::wstring(kVersionedProgId)}}, {}}}},
    };
}

int Register(bool add) {
    const RegistryScript script(HKEY_CLASSES_ROOT, RegistryKeys(), {{L"%MODULE%", ModulePath(nullptr)}});
    HRESULT hr = add ? script.Register() : script.Unregister();
    if (SUCCEEDED(hr))
        hr = add ? RegisterModuleTypeLib(nullptr) : UnregisterModuleTypeLib(nullptr);
    return SUCCEEDED(hr) ? 0 : 1;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    const std::wstring args = commandLine ? commandLine : L"";
    auto has = [&](const wchar_t* word) {
        return args.find(std::wstring(L"/") + word) != std::wstring::npos ||
               args.find(std::wstring(L"-") + word) != std::wstring::npos;
    };
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int result = 0;
    if (has(L"RegServer")) {
        result = Register(true);
    } else if (has(L"UnregServer")) {
        result = Register(false);
    } else {
        g_mainThread = GetCurrentThreadId();
        // Every call runs on this thread, so nothing comes between the last release and the
        // revocation: a client that comes later starts a new server instead of reaching this one.
        ModuleLock::SetLastReleaseCallback([] {
            RevokeFactory();
            PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
        });
        ComPtr<ApplicationFactory> factory;
        if (FAILED(MakeComObject(factory)) ||
            FAILED(CoRegisterClassObject(CLSID_MailApplication, factory.Get(), CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_cookie))) {
            result = 1;
        } else {
            // Ends when the last object goes (or after a minute when no client ever comes).
            const UINT_PTR idle = SetTimer(nullptr, 0, 60000, nullptr);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (msg.message == WM_TIMER && ModuleLock::Count() == 0)
                    break;
                DispatchMessageW(&msg);
            }
            KillTimer(nullptr, idle);
            RevokeFactory();
        }
    }
    CoUninitialize();
    return result;
}
