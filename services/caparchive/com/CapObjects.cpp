#include "CapObjects.h"
#include "AnsiText.h"
#include "Win32FileIo.h"
#include <algorithm>
#include <cstring>

using tv::com::AnsiToBstr;
using tv::com::ComPtr;
using tv::com::ToAnsi;

namespace caparchive::com {
namespace {

// The dispatch ids of the script face (ICapScriptItem); every other id is the file face's.
constexpr DISPID kScriptTextId = 30;

HRESULT OutLong(long* out, long value) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

HRESULT OutText(BSTR* out, const std::string& text) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return AnsiToBstr(text, out);
}

} // namespace

// ---- ItemObject ----

void* ItemObject::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ICapItem))
        return static_cast<ICapFileItem*>(this);
    if (IsEqualIID(riid, kIidCapSelf))
        return static_cast<IUnknown*>(static_cast<ICapFileItem*>(this));
    return nullptr;
}

STDMETHODIMP ItemObject::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    return fileDispatch_.GetTypeInfo(index, lcid, info);
}

STDMETHODIMP ItemObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    HRESULT hr = fileDispatch_.GetIDsOfNames(riid, names, count, ids);
    if (hr == DISP_E_UNKNOWNNAME)
        hr = scriptDispatch_.GetIDsOfNames(riid, names, count, ids);
    return hr;
}

STDMETHODIMP ItemObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excep, UINT* argError) {
    if (id == kScriptTextId)
        return scriptDispatch_.Invoke(static_cast<ICapScriptItem*>(this), id, riid, flags, params, result, excep,
                                      argError);
    return fileDispatch_.Invoke(static_cast<ICapFileItem*>(this), id, riid, flags, params, result, excep, argError);
}

STDMETHODIMP ItemObject::get_StoredLong(long* value) { return OutLong(value, item_.storedLong); }
STDMETHODIMP ItemObject::put_StoredLong(long value) {
    item_.storedLong = value;
    return S_OK;
}
STDMETHODIMP ItemObject::get_Size(long* value) { return OutLong(value, static_cast<long>(item_.data.size())); }
STDMETHODIMP ItemObject::get_Kind(long* value) { return OutLong(value, item_.kind); }
STDMETHODIMP ItemObject::put_Kind(long value) {
    item_.kind = value;
    return S_OK;
}
STDMETHODIMP ItemObject::get_Name(BSTR* value) { return OutText(value, item_.name); }
STDMETHODIMP ItemObject::put_Name(BSTR value) {
    std::string name = ToAnsi(value);
    if (name.find('\0') != std::string::npos || name.size() > kMaxItemNameLength)
        return E_INVALIDARG;
    item_.name = std::move(name);
    return S_OK;
}
STDMETHODIMP ItemObject::get_Attributes(long* value) { return OutLong(value, static_cast<long>(item_.attributes)); }
STDMETHODIMP ItemObject::put_Attributes(long value) {
    item_.attributes = static_cast<uint32_t>(value);
    return S_OK;
}

STDMETHODIMP ItemObject::SaveToFile(BSTR path) {
    if (!path || !*path)
        return E_INVALIDARG;
    return win::WriteWholeFile(path, item_.data);
}

STDMETHODIMP ItemObject::LoadFromFile(BSTR path) {
    if (!path || !*path)
        return E_INVALIDARG;
    std::vector<uint8_t> data;
    HRESULT hr = win::ReadWholeFile(path, data);
    if (FAILED(hr))
        return hr;
    item_.data = std::move(data);
    return S_OK;
}

STDMETHODIMP ItemObject::GetData(long size, byte* buffer) {
    if (size < 0)
        return E_INVALIDARG;
    if (static_cast<size_t>(size) < item_.data.size())
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    if (!buffer && size > 0)
        return E_POINTER;
    if (!item_.data.empty())
        std::memcpy(buffer, item_.data.data(), item_.data.size());
    return S_OK;
}

STDMETHODIMP ItemObject::SetData(long size, byte* buffer) {
    if (size < 0)
        return E_INVALIDARG;
    if (!buffer && size > 0)
        return E_POINTER;
    item_.data.assign(buffer, buffer + size);
    return S_OK;
}

STDMETHODIMP ItemObject::get_Text(BSTR* value) {
    return OutText(value, std::string(item_.data.begin(), item_.data.end()));
}

STDMETHODIMP ItemObject::put_Text(BSTR value) {
    std::string text = ToAnsi(value);
    item_.data.assign(text.begin(), text.end());
    return S_OK;
}

// ---- HeaderObject ----

void* HeaderObject::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<ICapHeader*>(this);
    if (IsEqualIID(riid, kIidCapSelf))
        return static_cast<IUnknown*>(this);
    return nullptr;
}

STDMETHODIMP HeaderObject::get_Date(VARIANT* value) {
    if (!value)
        return E_POINTER;
    VariantInit(value);
    V_VT(value) = VT_DATE;
    V_DATE(value) = header_.date;
    return S_OK;
}

STDMETHODIMP HeaderObject::put_Date(VARIANT value) {
    VARIANT date;
    VariantInit(&date);
    HRESULT hr = VariantChangeType(&date, &value, 0, VT_DATE);
    if (FAILED(hr))
        return hr;
    header_.date = V_DATE(&date);
    return S_OK;
}

STDMETHODIMP HeaderObject::get_Title(BSTR* value) { return OutText(value, header_.title); }
STDMETHODIMP HeaderObject::put_Title(BSTR value) {
    header_.title = ToAnsi(value);
    return S_OK;
}
STDMETHODIMP HeaderObject::get_Description(BSTR* value) { return OutText(value, header_.description); }
STDMETHODIMP HeaderObject::put_Description(BSTR value) {
    header_.description = ToAnsi(value);
    return S_OK;
}
STDMETHODIMP HeaderObject::get_IconName(BSTR* value) { return OutText(value, header_.iconName); }
STDMETHODIMP HeaderObject::put_IconName(BSTR value) {
    header_.iconName = ToAnsi(value);
    return S_OK;
}

// ---- PackageObject ----

void* PackageObject::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<ICapPackage*>(this);
    if (IsEqualIID(riid, kIidCapSelf))
        return static_cast<IUnknown*>(this);
    return nullptr;
}

HRESULT PackageObject::Assign(Package package) {
    option_ = package.option;
    items_.clear();
    header_ = nullptr;
    if (package.header)
        TV_RETURN_IF_FAILED(tv::com::MakeComObject(header_, std::move(*package.header)));
    items_.reserve(package.items.size());
    for (PackageItem& item : package.items) {
        ComPtr<ItemObject> object;
        TV_RETURN_IF_FAILED(tv::com::MakeComObject(object, std::move(item)));
        items_.push_back(std::move(object));
    }
    return S_OK;
}

Package PackageObject::Snapshot() const {
    Package package;
    package.option = option_;
    if (header_)
        package.header = header_->Header();
    package.items.reserve(items_.size());
    for (const ComPtr<ItemObject>& item : items_)
        package.items.push_back(item->Item());
    return package;
}

STDMETHODIMP PackageObject::get_Option(long* value) { return OutLong(value, option_); }
STDMETHODIMP PackageObject::put_Option(long value) {
    option_ = value;
    return S_OK;
}
STDMETHODIMP PackageObject::get_Count(long* value) { return OutLong(value, static_cast<long>(items_.size())); }

STDMETHODIMP PackageObject::get_Item(long index, ICapItem** item) {
    if (!item)
        return E_POINTER;
    *item = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= items_.size())
        return S_FALSE;
    *item = static_cast<ICapFileItem*>(items_[index].Get());
    (*item)->AddRef();
    return S_OK;
}

STDMETHODIMP PackageObject::Add(ICapItem* item) {
    ComPtr<ItemObject> object = OwnObject<ItemObject>(item);
    if (!object)
        return E_INVALIDARG;
    items_.push_back(std::move(object));
    return S_OK;
}

STDMETHODIMP PackageObject::Remove(ICapItem* item) {
    ComPtr<ItemObject> object = OwnObject<ItemObject>(item);
    if (!object)
        return E_INVALIDARG;
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const ComPtr<ItemObject>& held) { return held.Get() == object.Get(); });
    if (found == items_.end())
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    items_.erase(found);
    return S_OK;
}

STDMETHODIMP PackageObject::get_Header(ICapHeader** header) {
    if (!header)
        return E_POINTER;
    *header = nullptr;
    if (!header_)
        return S_FALSE;
    *header = header_.Get();
    (*header)->AddRef();
    return S_OK;
}

STDMETHODIMP PackageObject::putref_Header(ICapHeader* header) {
    if (!header) {
        header_ = nullptr;
        return S_OK;
    }
    ComPtr<HeaderObject> object = OwnObject<HeaderObject>(header);
    if (!object)
        return E_INVALIDARG;
    header_ = std::move(object);
    return S_OK;
}

STDMETHODIMP PackageObject::Find(BSTR name, long kind, ICapItem** item) {
    if (!item)
        return E_POINTER;
    *item = nullptr;
    std::string wanted = ToAnsi(name);
    for (const ComPtr<ItemObject>& held : items_) {
        if (held->Item().kind == kind && held->Item().name == wanted) {
            *item = static_cast<ICapFileItem*>(held.Get());
            (*item)->AddRef();
            return S_OK;
        }
    }
    return S_FALSE;
}

// ---- DirectoryObject ----

const ItemEntry* DirectoryObject::At(long index) const {
    if (index < 0 || static_cast<size_t>(index) >= directory_.items.size())
        return nullptr;
    return &directory_.items[index];
}

STDMETHODIMP DirectoryObject::get_Count(long* value) {
    return OutLong(value, static_cast<long>(directory_.items.size()));
}

STDMETHODIMP DirectoryObject::get_Kind(long index, long* value) {
    if (!value)
        return E_POINTER;
    const ItemEntry* entry = At(index);
    if (!entry)
        return E_INVALIDARG;
    *value = entry->kind;
    return S_OK;
}

STDMETHODIMP DirectoryObject::get_Name(long index, BSTR* value) {
    if (!value)
        return E_POINTER;
    *value = nullptr;
    const ItemEntry* entry = At(index);
    if (!entry)
        return E_INVALIDARG;
    return AnsiToBstr(entry->name, value);
}

} // namespace caparchive::com
