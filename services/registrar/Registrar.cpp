#include "Registrar.h"
#include "AnsiText.h"
#include "ErrorInfo.h"
#include "LangIds.h"
#include "ZvLogger.h"
#include <cstring>

using tv::com::ComPtr;
using tv::com::ToAnsi;
using tv::com::UniqueBstr;
using tv::com::UniqueHKey;

namespace registrar {

HMODULE LanguageModule(); // RegistrarServer.cpp

namespace {

constexpr char kSettingsRoot[] = "Software\\Zelvan\\Tavrilon\\";
constexpr char kStorePathKey[] = "SOFTWARE\\Zelvan\\Tavrilon\\ZvRegistrar";
constexpr DWORD kMaxStorePath = 512;
constexpr char kNotFound[] = "Registrar entry not found";

HRESULT NumberedError(UINT id) {
    return tv::com::SetComErrorInfo(CLSID_ZvRegistrar, id, IID_IZvRegistrarDisp2, 0, LanguageModule());
}

HRESULT TextError(const char* text) {
    return tv::com::SetComErrorInfo(CLSID_ZvRegistrar, text, IID_IZvRegistrarDisp2, 0);
}

std::string KeyPath(const ValueLocation& where) { return kSettingsRoot + where.keyPath; }

HRESULT CreateKey(HKEY root, const ValueLocation& where, UniqueHKey& key) {
    LONG status = RegCreateKeyExA(root, KeyPath(where).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    return status == ERROR_SUCCESS ? S_OK : NumberedError(IDS_REGISTRAR_KEY_OPEN);
}

HRESULT OpenKeyForReading(HKEY root, const ValueLocation& where, UniqueHKey& key) {
    LONG status = RegOpenKeyExA(root, KeyPath(where).c_str(), 0, KEY_READ, key.Put());
    return status == ERROR_SUCCESS ? S_OK : NumberedError(IDS_REGISTRAR_KEY_OPEN);
}

HRESULT ReadDWORD(HKEY root, LPCSTR name, DWORD* value) {
    if (!value)
        return E_POINTER;
    if (!name)
        return E_INVALIDARG;
    ValueLocation where = LocateValue(name);
    UniqueHKey key;
    TV_RETURN_IF_FAILED(OpenKeyForReading(root, where, key));
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG status = RegQueryValueExA(key.Get(), where.valueName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data))
        return NumberedError(IDS_REGISTRAR_VALUE_READ);
    *value = data;
    return S_OK;
}

HRESULT CopyToTaskText(const std::string& text, LPSTR* out) {
    *out = tv::com::TaskTextCopy(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool IsStoreKind(ZvRegistrarItemType type) { return type == RIT_FILE || type == RIT_SCRIPT; }
long KindOf(ZvRegistrarItemType type) { return type == RIT_FILE ? kKindFile : kKindScript; }

// Without the logger the note goes to the debugger.
void LogFailure(const char* text) {
    ComPtr<IZvLogger> logger;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZvLogger, nullptr, CLSCTX_INPROC_SERVER, IID_IZvLogger,
                                   reinterpret_cast<void**>(&logger))) &&
        SUCCEEDED(logger->Write(const_cast<LPSTR>(text))))
        return;
    OutputDebugStringA(text);
}

} // namespace

ValueLocation LocateValue(const std::string& name) {
    size_t slash = name.rfind('\\');
    if (slash == std::string::npos)
        return {"", name};
    return {name.substr(0, slash), name.substr(slash + 1)};
}

HRESULT CreateSharedRegistrar(REFIID riid, void** ppv) {
    static tv::com::SharedInstance<Registrar> slot;
    return tv::com::CreateComObject<tv::com::SharedInstanceFactory<Registrar>>(riid, ppv, slot);
}

// ---- life ----

HRESULT Registrar::FinalConstruct() {
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, IID_ICapArchive,
                                         reinterpret_cast<void**>(&archive_)));
    UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStorePathKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return E_FAIL;
    char path[kMaxStorePath + 1] = {};
    DWORD size = kMaxStorePath;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || path[0] == '\0')
        return E_FAIL;
    std::wstring wide = tv::com::FromAnsi(path);
    storePath_.Reset(SysAllocString(wide.c_str()));
    return storePath_ ? S_OK : E_OUTOFMEMORY;
}

Registrar::~Registrar() {
    if (FAILED(Flush()))
        LogFailure("ZvRegistrar: the item store could not be saved when it was released; its changes are lost\n");
}

void* Registrar::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZvRegistrarDisp))
        return static_cast<IZvRegistrarDisp2*>(this);
    return nullptr;
}

STDMETHODIMP Registrar::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IZvRegistrar) || IsEqualIID(riid, IID_IZvRegistrarDisp) ||
                   IsEqualIID(riid, IID_IZvRegistrarDisp2)
               ? S_OK
               : S_FALSE;
}

// ---- store ----

HRESULT Registrar::OpenStore() {
    if (store_)
        return S_OK;
    HRESULT hr = archive_->Load(storePath_.Get(), &store_);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        // No store file yet: start an empty one; the first flush creates the file.
        SetErrorInfo(0, nullptr);
        hr = CoCreateInstance(CLSID_CapPackage, nullptr, CLSCTX_INPROC_SERVER, IID_ICapPackage,
                              reinterpret_cast<void**>(&store_));
    }
    if (FAILED(hr))
        store_ = nullptr;
    return hr;
}

HRESULT Registrar::FindStored(BSTR name, long kind, ICapItem** item) {
    TV_RETURN_IF_FAILED(OpenStore());
    HRESULT hr = store_->Find(name, kind, item);
    if (FAILED(hr))
        return hr;
    return hr == S_OK ? S_OK : TextError(kNotFound);
}

HRESULT Registrar::PutItem(BSTR name, long kind, long version, BSTR content) {
    TV_RETURN_IF_FAILED(OpenStore());
    ComPtr<ICapItem> item;
    HRESULT hr = store_->Find(name, kind, &item);
    if (FAILED(hr))
        return hr;
    bool isNew = hr != S_OK;
    if (isNew) {
        const CLSID& clsid = kind == kKindFile ? CLSID_CapFileItem : CLSID_CapScriptItem;
        TV_RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICapItem,
                                             reinterpret_cast<void**>(&item)));
        TV_RETURN_IF_FAILED(item->put_Kind(kind));
        TV_RETURN_IF_FAILED(item->put_Name(name));
    }
    // The content first: an item whose file cannot be read keeps its old content and version.
    if (kind == kKindFile) {
        ComPtr<ICapFileItem> file;
        TV_RETURN_IF_FAILED(item.As(&file));
        TV_RETURN_IF_FAILED(file->LoadFromFile(content));
    } else {
        ComPtr<ICapScriptItem> script;
        TV_RETURN_IF_FAILED(item.As(&script));
        TV_RETURN_IF_FAILED(script->put_Text(content));
    }
    TV_RETURN_IF_FAILED(item->put_StoredLong(version));
    return isNew ? store_->Add(item.Get()) : S_OK;
}

STDMETHODIMP Registrar::Flush() {
    if (!store_)
        return S_OK;
    HRESULT hr = archive_->Save(storePath_.Get(), store_.Get());
    if (FAILED(hr))
        return hr; // the store stays open for a later try
    store_ = nullptr;
    return S_OK;
}

// ---- IZvRegistrar ----

STDMETHODIMP Registrar::HasItem(ZvRegistrarItemType type, LPCSTR name, BOOL* pb) {
    if (!pb)
        return E_POINTER;
    *pb = FALSE;
    if (!name)
        return E_INVALIDARG;
    if (type == RIT_STRING) {
        LPSTR text = nullptr;
        *pb = SUCCEEDED(GetString(name, &text));
        CoTaskMemFree(text);
        SetErrorInfo(0, nullptr);
        return S_OK;
    }
    if (type == RIT_DWORD) {
        DWORD value = 0;
        *pb = SUCCEEDED(GetDWORD(name, &value));
        SetErrorInfo(0, nullptr);
        return S_OK;
    }
    if (!IsStoreKind(type))
        return TextError("Unknown registar's item type");
    std::wstring wide = tv::com::FromAnsi(name);
    UniqueBstr bstrName(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    if (!bstrName)
        return E_OUTOFMEMORY;
    HRESULT hr;
    if (store_) {
        // An open store may hold changes the file does not have yet.
        ComPtr<ICapItem> item;
        hr = store_->Find(bstrName.Get(), KindOf(type), &item);
    } else {
        hr = archive_->Has(storePath_.Get(), bstrName.Get(), KindOf(type));
    }
    if (FAILED(hr))
        return hr;
    *pb = hr == S_OK;
    return S_OK;
}

STDMETHODIMP Registrar::RemoveItem(ZvRegistrarItemType type, LPCSTR name) {
    if (!name)
        return E_INVALIDARG;
    if (type == RIT_STRING || type == RIT_DWORD) {
        ValueLocation where = LocateValue(name);
        UniqueHKey key;
        TV_RETURN_IF_FAILED(CreateKey(HKEY_CURRENT_USER, where, key));
        if (RegDeleteValueA(key.Get(), where.valueName.c_str()) != ERROR_SUCCESS)
            return NumberedError(IDS_REGISTRAR_VALUE_DELETE);
        return S_OK;
    }
    if (!IsStoreKind(type))
        return S_OK;
    UniqueBstr bstrName;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    TV_RETURN_IF_FAILED(OpenStore());
    ComPtr<ICapItem> item;
    HRESULT hr = store_->Find(bstrName.Get(), KindOf(type), &item);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK)
        return TextError("Registrar's entry was not found");
    return store_->Remove(item.Get());
}

STDMETHODIMP Registrar::StoreString(LPCSTR name, LPCSTR data) {
    if (!name || !data)
        return E_INVALIDARG;
    size_t length = std::strlen(data);
    if (length >= kMaxStringLength)
        return NumberedError(IDS_REGISTRAR_STRING_TOO_LONG);
    ValueLocation where = LocateValue(name);
    UniqueHKey key;
    TV_RETURN_IF_FAILED(CreateKey(HKEY_CURRENT_USER, where, key));
    if (RegSetValueExA(key.Get(), where.valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(length + 1)) != ERROR_SUCCESS)
        return NumberedError(IDS_REGISTRAR_VALUE_WRITE);
    return S_OK;
}

STDMETHODIMP Registrar::StoreDWORD(LPCSTR name, DWORD value) {
    if (!name)
        return E_INVALIDARG;
    ValueLocation where = LocateValue(name);
    UniqueHKey key;
    TV_RETURN_IF_FAILED(CreateKey(HKEY_CURRENT_USER, where, key));
    if (RegSetValueExA(key.Get(), where.valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof(value)) != ERROR_SUCCESS)
        return NumberedError(IDS_REGISTRAR_VALUE_WRITE);
    return S_OK;
}

STDMETHODIMP Registrar::StoreFile(LPCSTR name, LPCSTR fileName, long version) {
    if (!name || !fileName)
        return E_INVALIDARG;
    UniqueBstr bstrName, bstrFile;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(fileName, bstrFile.Put()));
    return PutItemFile(bstrName.Get(), bstrFile.Get(), version);
}

STDMETHODIMP Registrar::StoreScript(LPCSTR name, LPCSTR script, long version) {
    if (!name || !script)
        return E_INVALIDARG;
    UniqueBstr bstrName, bstrScript;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(script, bstrScript.Put()));
    return PutItemScript(bstrName.Get(), bstrScript.Get(), version);
}

STDMETHODIMP Registrar::GetString(LPCSTR name, LPSTR* text) {
    if (!text)
        return E_POINTER;
    *text = nullptr;
    if (!name)
        return E_INVALIDARG;
    ValueLocation where = LocateValue(name);
    UniqueHKey key;
    TV_RETURN_IF_FAILED(OpenKeyForReading(HKEY_CURRENT_USER, where, key));
    tv::com::UniqueTaskMem<char> buffer(static_cast<char*>(CoTaskMemAlloc(kMaxStringLength)));
    if (!buffer)
        return E_OUTOFMEMORY;
    DWORD type = 0;
    DWORD size = kMaxStringLength;
    if (RegQueryValueExA(key.Get(), where.valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.Get()),
                         &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return NumberedError(IDS_REGISTRAR_VALUE_READ);
    // A value written without its zero gets one, when the buffer has room for it.
    if (size == 0 || buffer.Get()[size - 1] != '\0') {
        if (size >= kMaxStringLength)
            return NumberedError(IDS_REGISTRAR_VALUE_READ);
        buffer.Get()[size] = '\0';
    }
    *text = buffer.Detach();
    return S_OK;
}

STDMETHODIMP Registrar::GetDWORD(LPCSTR name, DWORD* value) { return ReadDWORD(HKEY_CURRENT_USER, name, value); }

STDMETHODIMP Registrar::GetFile(LPCSTR name, LPSTR* fileName) {
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (!name)
        return E_INVALIDARG;
    UniqueBstr bstrName, path;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    TV_RETURN_IF_FAILED(get_ItemFile(bstrName.Get(), path.Put()));
    return CopyToTaskText(ToAnsi(path.Get()), fileName);
}

STDMETHODIMP Registrar::GetScript(LPCSTR name, LPSTR* script) {
    if (!script)
        return E_POINTER;
    *script = nullptr;
    if (!name)
        return E_INVALIDARG;
    UniqueBstr bstrName, text;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    TV_RETURN_IF_FAILED(get_ItemScript(bstrName.Get(), text.Put()));
    return CopyToTaskText(ToAnsi(text.Get()), script);
}

STDMETHODIMP Registrar::GetVersion(ZvRegistrarItemType type, LPCSTR name, long* version) {
    if (!name)
        return E_INVALIDARG;
    UniqueBstr bstrName;
    TV_RETURN_IF_FAILED(tv::com::AnsiToBstr(name, bstrName.Put()));
    return get_Version(type, bstrName.Get(), version);
}

// ---- IZvRegistrarDisp, IZvRegistrarDisp2 ----

STDMETHODIMP Registrar::HasItem(ZvRegistrarItemType type, BSTR name, VARIANT_BOOL* pb) {
    if (!pb)
        return E_POINTER;
    BOOL has = FALSE;
    HRESULT hr = HasItem(type, ToAnsi(name).c_str(), &has);
    *pb = has ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
}

STDMETHODIMP Registrar::RemoveItem(ZvRegistrarItemType type, BSTR name) {
    return RemoveItem(type, ToAnsi(name).c_str());
}

STDMETHODIMP Registrar::get_ItemString(BSTR name, BSTR* value) {
    if (!value)
        return E_POINTER;
    *value = nullptr;
    tv::com::UniqueTaskMem<char> text;
    HRESULT hr = GetString(ToAnsi(name).c_str(), text.Put());
    if (FAILED(hr))
        return hr;
    return tv::com::AnsiToBstr(text.Get(), value);
}

STDMETHODIMP Registrar::put_ItemString(BSTR name, BSTR value) {
    return StoreString(ToAnsi(name).c_str(), ToAnsi(value).c_str());
}

STDMETHODIMP Registrar::get_ItemDWORD(BSTR name, long* value) {
    if (!value)
        return E_POINTER;
    return GetDWORD(ToAnsi(name).c_str(), reinterpret_cast<DWORD*>(value));
}

STDMETHODIMP Registrar::put_ItemDWORD(BSTR name, long value) {
    return StoreDWORD(ToAnsi(name).c_str(), static_cast<DWORD>(value));
}

STDMETHODIMP Registrar::get_ItemFile(BSTR name, BSTR* path) {
    if (!path)
        return E_POINTER;
    *path = nullptr;
    ComPtr<ICapItem> item;
    TV_RETURN_IF_FAILED(FindStored(name, kKindFile, &item));
    ComPtr<ICapFileItem> file;
    TV_RETURN_IF_FAILED(item.As(&file));
    wchar_t folder[MAX_PATH];
    wchar_t temporary[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameW(folder, L"registrar", 0, temporary))
        return tv::com::LastErrorHResult();
    UniqueBstr result(SysAllocString(temporary));
    HRESULT hr = result ? file->SaveToFile(result.Get()) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        DeleteFileW(temporary);
        return hr;
    }
    *path = result.Detach();
    return S_OK;
}

STDMETHODIMP Registrar::PutItemFile(BSTR name, BSTR path, long version) {
    return PutItem(name, kKindFile, version, path);
}

STDMETHODIMP Registrar::get_ItemScript(BSTR name, BSTR* script) {
    if (!script)
        return E_POINTER;
    *script = nullptr;
    ComPtr<ICapItem> item;
    TV_RETURN_IF_FAILED(FindStored(name, kKindScript, &item));
    ComPtr<ICapScriptItem> text;
    TV_RETURN_IF_FAILED(item.As(&text));
    return text->get_Text(script);
}

STDMETHODIMP Registrar::PutItemScript(BSTR name, BSTR script, long version) {
    return PutItem(name, kKindScript, version, script);
}

STDMETHODIMP Registrar::get_Version(ZvRegistrarItemType type, BSTR name, long* version) {
    if (!version)
        return E_POINTER;
    *version = 0;
    if (!IsStoreKind(type))
        return S_FALSE;
    ComPtr<ICapItem> item;
    TV_RETURN_IF_FAILED(FindStored(name, KindOf(type), &item));
    return item->get_StoredLong(version);
}

STDMETHODIMP Registrar::get_GlobalItemDWORD(BSTR name, long* value) {
    if (!value)
        return E_POINTER;
    return ReadDWORD(HKEY_LOCAL_MACHINE, ToAnsi(name).c_str(), reinterpret_cast<DWORD*>(value));
}

// A machine-wide value: needs the right to write under HKLM, and says so (12359, 12360) without it.
STDMETHODIMP Registrar::put_GlobalItemDWORD(BSTR name, long value) {
    if (!name)
        return E_INVALIDARG;
    const ValueLocation where = LocateValue(ToAnsi(name));
    UniqueHKey key;
    TV_RETURN_IF_FAILED(CreateKey(HKEY_LOCAL_MACHINE, where, key));
    const DWORD data = static_cast<DWORD>(value);
    if (RegSetValueExA(key.Get(), where.valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                       sizeof(data)) != ERROR_SUCCESS)
        return NumberedError(IDS_REGISTRAR_VALUE_WRITE);
    return S_OK;
}

} // namespace registrar
