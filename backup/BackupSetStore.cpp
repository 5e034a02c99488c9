#include "BackupSetStore.h"
#include "AnsiText.h"
#include "BackupFileStream.h"
#include "BackupIds.h"
#include "BackupTexts.h"
#include "BackupTime.h"
#include "CapArchive.h"
#include "DevEntryEnumerator.h"
#include "FileClass.h"
#include "HResult.h"
#include <vector>

namespace tv::backup {

namespace {

template <class T>
HRESULT Create(REFCLSID clsid, com::ComPtr<T>& out) {
    out.Reset();
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(&out));
}

uint64_t AsUint64(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// One consumer entry as a package item, made by the items' class object (asked for once per set:
// a device may have tens of thousands of files). The item reads the entry's data itself while the
// set is written, so that no device file is held in memory whole.
HRESULT ItemFromEntry(IClassFactory* items, IStream* entry, com::ComPtr<ICapFileItem>& item) {
    STATSTG stat = {};
    TV_RETURN_IF_FAILED(entry->Stat(&stat, STATFLAG_DEFAULT));
    com::UniqueTaskMem<wchar_t> name(stat.pwcsName);
    item.Reset();
    TV_RETURN_IF_FAILED(
        items->CreateInstance(nullptr, __uuidof(ICapFileItem), reinterpret_cast<void**>(&item)));
    com::UniqueBstr bstrName(SysAllocString(name.Get() ? name.Get() : L""));
    if (!bstrName)
        return E_OUTOFMEMORY;
    TV_RETURN_IF_FAILED(item->put_Name(bstrName.Get()));
    // The entry's own size decides how much is read; an entry that ends early fails the set
    // rather than leaving unfilled bytes in it.
    if (stat.cbSize.QuadPart != 0) {
        com::ComPtr<ICapItemStream> data;
        TV_RETURN_IF_FAILED(item->QueryInterface(__uuidof(ICapItemStream), reinterpret_cast<void**>(&data)));
        TV_RETURN_IF_FAILED(data->SetDataStream(entry, stat.cbSize.QuadPart));
    }
    TV_RETURN_IF_FAILED(item->put_StoredLong(static_cast<long>(FileTimeToSetSeconds(AsUint64(stat.mtime)))));
    return item->put_Attributes(static_cast<long>(stat.grfStateBits));
}

HRESULT MakeHeader(HMODULE language, BSTR fileName, com::ComPtr<ICapHeader>& header) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const CalendarTime local = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    const std::optional<double> date = CalendarTimeToDate(local);
    if (!date)
        return E_FAIL;
    TV_RETURN_IF_FAILED(Create(CLSID_CapHeader, header));
    const std::string path = com::ToAnsi(fileName);
    com::UniqueBstr title(TextBstr(FormatText(language, IDS_BACKUP_SET_TITLE, 1L)));
    com::UniqueBstr description(TextBstr(
        FormatText(language, IDS_BACKUP_SET_DESCRIPTION, static_cast<long>(DateNumber(local)), path.c_str())));
    if (!title || !description)
        return E_OUTOFMEMORY;
    TV_RETURN_IF_FAILED(header->put_Title(title.Get()));
    TV_RETURN_IF_FAILED(header->put_Description(description.Get()));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DATE;
    value.date = *date;
    return header->put_Date(value);
}

} // namespace

HRESULT StoreBackupSet(HMODULE language, IZvCAPConsumer* consumer, BSTR deviceId, BSTR fileName, long flags) {
    if (!consumer)
        return E_POINTER;
    com::ComPtr<IZvEnumDevEntries> entries;
    HRESULT hr = consumer->GetEntries(flags, &entries);
    if (hr != S_OK)
        return hr;
    if (!entries)
        return E_POINTER;
    com::ComPtr<ICapPackage> package;
    TV_RETURN_IF_FAILED(Create(CLSID_CapPackage, package));
    com::ComPtr<IClassFactory> items;
    TV_RETURN_IF_FAILED(CoGetClassObject(CLSID_CapFileItem, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                         reinterpret_cast<void**>(&items)));
    for (;;) {
        com::ComPtr<IStream> entry;
        ULONG fetched = 0;
        if (entries->Next(1, &entry, &fetched) != S_OK || fetched != 1 || !entry)
            break;
        com::ComPtr<ICapFileItem> item;
        TV_RETURN_IF_FAILED(ItemFromEntry(items.Get(), entry.Get(), item));
        TV_RETURN_IF_FAILED(package->Add(item.Get()));
    }
    // The mark by which the set is known as this device's.
    com::ComPtr<ICapFileItem> mark;
    TV_RETURN_IF_FAILED(Create(CLSID_CapFileItem, mark));
    TV_RETURN_IF_FAILED(mark->put_Name(deviceId));
    TV_RETURN_IF_FAILED(package->Add(mark.Get()));
    com::ComPtr<ICapHeader> header;
    TV_RETURN_IF_FAILED(MakeHeader(language, fileName, header));
    TV_RETURN_IF_FAILED(package->putref_Header(header.Get()));
    TV_RETURN_IF_FAILED(package->put_Option(1));
    com::ComPtr<ICapArchive> archive;
    TV_RETURN_IF_FAILED(Create(CLSID_CapArchive, archive));
    hr = archive->Save(fileName, package.Get());
    return FAILED(hr) ? kSetNotWritten : hr;
}

HRESULT RestoreBackupSet(IZvCAPConsumer* consumer, BSTR deviceId, BSTR fileName, long flags) {
    if (!consumer)
        return E_POINTER;
    com::ComPtr<ICapArchive> archive;
    TV_RETURN_IF_FAILED(Create(CLSID_CapArchive, archive));
    com::ComPtr<ICapPackage> package;
    TV_RETURN_IF_FAILED(archive->Load(fileName, &package));
    if (!package)
        return E_FAIL;
    long count = 0;
    TV_RETURN_IF_FAILED(package->get_Count(&count));
    const std::string device = com::ToAnsi(deviceId);
    EntryList kept;
    for (long i = 0; i < count; ++i) {
        com::ComPtr<ICapItem> item;
        HRESULT hr = package->get_Item(i, &item);
        if (FAILED(hr))
            return hr;
        if (!item)
            return E_FAIL;
        com::ComPtr<ICapFileItem> fileItem;
        if (FAILED(item->QueryInterface(__uuidof(ICapFileItem), reinterpret_cast<void**>(&fileItem))))
            return E_NOINTERFACE;
        com::UniqueBstr bstrName;
        TV_RETURN_IF_FAILED(fileItem->get_Name(bstrName.Put()));
        const std::string name = com::ToAnsi(bstrName.Get());
        if (!IsFileInBackupSet(name, static_cast<uint32_t>(flags), 0))
            continue;
        long size = 0;
        TV_RETURN_IF_FAILED(fileItem->get_Size(&size));
        if (size < 0)
            return E_FAIL;
        if (name == device && size == 0)
            continue;
        long seconds = 0, attributes = 0;
        TV_RETURN_IF_FAILED(fileItem->get_StoredLong(&seconds));
        TV_RETURN_IF_FAILED(fileItem->get_Attributes(&attributes));
        const uint64_t fileTime = SetSecondsToFileTime(static_cast<uint32_t>(seconds));
        const FILETIME time = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
        com::ComPtr<BackupFileStream> entry;
        TV_RETURN_IF_FAILED(BackupFileStream::Described(name, static_cast<uint32_t>(size), time,
                                                        static_cast<uint32_t>(attributes), entry));
        // The entry reads the item's data when it is read itself, straight into its reader's
        // buffer: the set is held once, and each item goes with its entry.
        entry->TakeSource([fileItem, size](uint8_t* out) { return fileItem->GetData(size, out); });
        com::ComPtr<IStream> asStream;
        TV_RETURN_IF_FAILED(entry->QueryInterface(IID_IStream, reinterpret_cast<void**>(&asStream)));
        kept.push_back(std::move(asStream));
    }
    // The entries hold the items now: the package goes, so that each item's data goes once its
    // entry has been read.
    package.Reset();
    archive.Reset();
    com::ComPtr<IZvEnumDevEntries> enumerator;
    TV_RETURN_IF_FAILED(DevEntryEnumerator::Create(std::move(kept), &enumerator));
    return consumer->PutEntries(enumerator.Get());
}

HRESULT IsSetOfDevice(BSTR deviceId, BSTR fileName) {
    com::ComPtr<ICapArchive> archive;
    TV_RETURN_IF_FAILED(Create(CLSID_CapArchive, archive));
    const HRESULT hr = archive->Has(fileName, deviceId, 2);
    return hr == S_OK ? S_OK : (FAILED(hr) ? hr : S_FALSE);
}

} // namespace tv::backup
