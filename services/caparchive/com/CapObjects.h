// The package-archive component's objects: the archive (load, save, ask, list package files), the
// package with its ordered items and optional header, the items and the directory of a file.
// All are apartment objects of one process; a package takes only items and headers made by this
// component, which it finds behind the interface pointers it is given.
#pragma once
#include "CapArchive.h"
#include "ComObject.h"
#include "HResult.h"
#include "TypeInfoDispatch.h"
#include "package.h"
#include "package_reader.h"
#include "set_container.h"
#include <string>
#include <vector>

namespace caparchive::com {

// Asked through QueryInterface for the object behind an interface pointer; answered only by the
// component's own objects, with the object itself (one reference added).
// {8F1A5C2E-6B7D-4E3A-9C4B-2D1E0F3A5B6C}
inline constexpr IID kIidCapSelf = {0x8f1a5c2e, 0x6b7d, 0x4e3a, {0x9c, 0x4b, 0x2d, 0x1e, 0x0f, 0x3a, 0x5b, 0x6c}};

// Finds the component's object of type T behind `unknown`; null for foreign objects.
template <class T>
tv::com::ComPtr<T> OwnObject(IUnknown* unknown) {
    tv::com::ComPtr<T> object;
    void* raw = nullptr;
    if (unknown && SUCCEEDED(unknown->QueryInterface(kIidCapSelf, &raw)) && raw) {
        auto* self = static_cast<IUnknown*>(raw);
        object.Attach(dynamic_cast<T*>(self));
        if (!object)
            self->Release();
    }
    return object;
}

class ItemObject : public tv::com::ComObject<ItemObject, ICapFileItem, ICapScriptItem, ICapItemStream> {
  public:
    explicit ItemObject(int32_t kind = kItemKindFile) { item_.kind = kind; }
    explicit ItemObject(PackageItem item) : item_(std::move(item)) {}

    // The item with its data in memory (a stream given for it is read now).
    HRESULT Materialized(const PackageItem*& item);
    const PackageItem& Properties() const { return item_; }
    // Writes the item into a backup set; data given as a stream is read from it now, once.
    int AddTo(SetWriter& writer);
    void* QueryOtherInterface(REFIID riid);

    // IDispatch: the file face's members and the script face's Text, told apart by their ids.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return fileDispatch_.GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argError) override;

    STDMETHODIMP get_StoredLong(long* value) override;
    STDMETHODIMP put_StoredLong(long value) override;
    STDMETHODIMP get_Size(long* value) override;
    STDMETHODIMP get_Kind(long* value) override;
    STDMETHODIMP put_Kind(long value) override;
    STDMETHODIMP get_Name(BSTR* value) override;
    STDMETHODIMP put_Name(BSTR value) override;
    STDMETHODIMP get_Attributes(long* value) override;
    STDMETHODIMP put_Attributes(long value) override;

    STDMETHODIMP SaveToFile(BSTR path) override;
    STDMETHODIMP LoadFromFile(BSTR path) override;
    STDMETHODIMP GetData(long size, byte* buffer) override;
    STDMETHODIMP SetData(long size, byte* buffer) override;

    STDMETHODIMP get_Text(BSTR* value) override;
    STDMETHODIMP put_Text(BSTR value) override;

    STDMETHODIMP SetDataStream(IStream* stream, ULONGLONG size) override;

  private:
    // Reads the data of a stream given for the item into memory.
    HRESULT TakeStreamData();
    // Drops a stream given for the item: its data is set another way.
    void DropStream();

    PackageItem item_;
    // Data still to be read from a stream; once a backup set took it (or a read of it failed), the
    // item has no data left.
    tv::com::ComPtr<IStream> stream_;
    uint64_t streamSize_ = 0;
    bool streamTaken_ = false;
    tv::com::TypeInfoDispatch fileDispatch_{IID_ICapFileItem};
    tv::com::TypeInfoDispatch scriptDispatch_{IID_ICapScriptItem};
};

class HeaderObject : public tv::com::ComObject<HeaderObject, ICapHeader> {
public:
    HeaderObject() = default;
    explicit HeaderObject(PackageHeader header) : header_(std::move(header)) {}

    PackageHeader& Header() { return header_; }
    void* QueryOtherInterface(REFIID riid);
    TV_DUAL_DISPATCH(ICapHeader, dispatch_)

    STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP get_Date(VARIANT* value) override;
    STDMETHODIMP put_Date(VARIANT value) override;
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP get_Title(BSTR* value) override;
    STDMETHODIMP put_Title(BSTR value) override;
    STDMETHODIMP get_Description(BSTR* value) override;
    STDMETHODIMP put_Description(BSTR value) override;
    STDMETHODIMP get_IconName(BSTR* value) override;
    STDMETHODIMP put_IconName(BSTR value) override;

private:
    PackageHeader header_;
    tv::com::TypeInfoDispatch dispatch_{IID_ICapHeader};
};

class PackageObject : public tv::com::ComObject<PackageObject, ICapPackage> {
public:
    PackageObject() = default;

    // Makes the objects of a loaded package.
    HRESULT Assign(Package package);
    // A copy of the package as it stands, for saving as a package file.
    HRESULT Snapshot(Package& package) const;
    // Writes the package as a backup set container, one item at a time.
    int WriteSet(ByteSink& sink) const;
    int32_t Option() const { return option_; }
    void* QueryOtherInterface(REFIID riid);
    TV_DUAL_DISPATCH(ICapPackage, dispatch_)

    STDMETHODIMP get_Option(long* value) override;
    STDMETHODIMP put_Option(long value) override;
    STDMETHODIMP get_Count(long* value) override;
    STDMETHODIMP get_Item(long index, ICapItem** item) override;
    STDMETHODIMP Add(ICapItem* item) override;
    STDMETHODIMP Remove(ICapItem* item) override;
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP get_Header(ICapHeader** header) override;
    STDMETHODIMP putref_Header(ICapHeader* header) override;
    STDMETHODIMP Find(BSTR name, long kind, ICapItem** item) override;

private:
    int32_t option_ = 0;
    std::vector<tv::com::ComPtr<ItemObject>> items_;
    tv::com::ComPtr<HeaderObject> header_;
    tv::com::TypeInfoDispatch dispatch_{IID_ICapPackage};
};

class DirectoryObject : public tv::com::ComObject<DirectoryObject, ICapDirectory> {
public:
    explicit DirectoryObject(PackageDirectory directory) : directory_(std::move(directory)) {}
    TV_DUAL_DISPATCH(ICapDirectory, dispatch_)

    STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
    STDMETHODIMP get_Count(long* value) override;
    STDMETHODIMP get_Kind(long index, long* value) override;
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(long index, BSTR* value) override;

private:
    const ItemEntry* At(long index) const;

    PackageDirectory directory_;
    tv::com::TypeInfoDispatch dispatch_{IID_ICapDirectory};
};

class ArchiveObject : public tv::com::ComObject<ArchiveObject, ICapArchive, ISupportErrorInfo> {
public:
    TV_DUAL_DISPATCH(ICapArchive, dispatch_)
    void* QueryOtherInterface(REFIID riid);

    STDMETHODIMP Load(BSTR path, ICapPackage** package) override;
    STDMETHODIMP Save(BSTR path, ICapPackage* package) override;
    STDMETHODIMP Has(BSTR path, BSTR name, long kind) override;
    STDMETHODIMP Dir(BSTR path, ICapDirectory** directory) override;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    tv::com::TypeInfoDispatch dispatch_{IID_ICapArchive};
};

} // namespace caparchive::com
