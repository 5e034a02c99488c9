#include "CapObjects.h"
#include "AnsiText.h"
#include "Win32FileIo.h"
#include "result_codes.h"
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

// Reads an item's data from the stream it was given, to the last byte or failing.
class StreamDataSource final : public ItemDataSource {
  public:
    explicit StreamDataSource(IStream* stream) : stream_(stream) {}
    int Read(std::span<uint8_t> out) override {
        size_t done = 0;
        while (done < out.size()) {
            const ULONG want = static_cast<ULONG>(std::min<size_t>(out.size() - done, 1u << 30));
            ULONG got = 0;
            if (FAILED(stream_->Read(out.data() + done, want, &got)))
                return kErrorReadFault;
            if (got == 0)
                return kErrorInvalidData; // the stream ended before its stated size
            done += got;
        }
        return kSuccess;
    }

  private:
    IStream* stream_;
};

} // namespace

// ---- ItemObject ----

HRESULT ItemObject::TakeStreamData() {
    if (streamTaken_)
        return E_UNEXPECTED; // the stream was read already, by a backup set or in a failed read
    if (!stream_)
        return S_OK;
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(streamSize_));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    StreamDataSource source(stream_.Get());
    const int code = source.Read(data);
    stream_.Reset();
    if (code != kSuccess) {
        streamTaken_ = true; // read in part: what is left of it is no longer the item's data
        return HRESULT_FROM_WIN32(static_cast<DWORD>(code));
    }
    item_.data = std::move(data);
    return S_OK;
}

void ItemObject::DropStream() {
    stream_.Reset();
    streamSize_ = 0;
    streamTaken_ = false;
}

HRESULT ItemObject::Materialized(const PackageItem*& item) {
    item = nullptr;
    TV_RETURN_IF_FAILED(TakeStreamData());
    item = &item_;
    return S_OK;
}

int ItemObject::AddTo(SetWriter& writer) {
    if (streamTaken_)
        return kErrorInvalidParameter;
    if (!stream_) {
        SpanDataSource source(item_.data);
        return writer.Add(item_.name, item_.kind, item_.storedLong, item_.attributes, item_.data.size(),
                          source);
    }
    StreamDataSource source(stream_.Get());
    const int code =
        writer.Add(item_.name, item_.kind, item_.storedLong, item_.attributes, streamSize_, source);
    stream_.Reset();
    streamTaken_ = true;
    return code;
}

STDMETHODIMP ItemObject::SetDataStream(IStream* stream, ULONGLONG size) {
    if (!stream)
        return E_POINTER;
    item_.data.clear();
    item_.data.shrink_to_fit();
    stream_ = stream;
    streamSize_ = size;
    streamTaken_ = false;
    return S_OK;
}

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
STDMETHODIMP ItemObject::get_Size(long* value) {
    const uint64_t size = stream_ || streamTaken_ ? streamSize_ : item_.data.size();
    if (size > 0x7FFFFFFF)
        return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    return OutLong(value, static_cast<long>(size));
}
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
    TV_RETURN_IF_FAILED(TakeStreamData());
    return win::WriteWholeFile(path, item_.data);
}

STDMETHODIMP ItemObject::LoadFromFile(BSTR path) {
    if (!path || !*path)
        return E_INVALIDARG;
    std::vector<uint8_t> data;
    HRESULT hr = win::ReadWholeFile(path, data);
    if (FAILED(hr))
        return hr;
    DropStream();
    item_.data = std::move(data);
    return S_OK;
}

STDMETHODIMP ItemObject::GetData(long size, byte* buffer) {
    if (size < 0)
        return E_INVALIDARG;
    TV_RETURN_IF_FAILED(TakeStreamData());
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
    DropStream();
    item_.data.assign(buffer, buffer + size);
    return S_OK;
}

STDMETHODIMP ItemObject::get_Text(BSTR* value) {
    TV_RETURN_IF_FAILED(TakeStreamData());
    return OutText(value, std::string(item_.data.begin(), item_.data.end()));
}

STDMETHODIMP ItemObject::put_Text(BSTR value) {
    std::string text = ToAnsi(value);
    DropStream();
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

HRESULT PackageObject::Snapshot(Package& package) const {
    package = {};
    package.option = option_;
    if (header_)
        package.header = header_->Header();
    package.items.reserve(items_.size());
    for (const ComPtr<ItemObject>& item : items_) {
        const PackageItem* data = nullptr;
        TV_RETURN_IF_FAILED(item->Materialized(data));
        package.items.push_back(*data);
    }
    return S_OK;
}

int PackageObject::WriteSet(ByteSink& sink) const {
    SetWriter writer(sink);
    if (const int code = writer.Begin(); code != kSuccess)
        return code;
    for (const ComPtr<ItemObject>& item : items_)
        if (const int code = item->AddTo(writer); code != kSuccess)
            return code;
    std::optional<PackageHeader> header;
    if (header_)
        header = header_->Header();
    return writer.Finish(option_, header);
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
        if (held->Properties().kind == kind && held->Properties().name == wanted) {
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
