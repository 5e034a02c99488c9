// The desktop mail application as the contacts and tasks synchronizer reaches it: through its
// published dual interfaces, each member called by its position in the interface's function table
// (0-2 IUnknown, 3-6 IDispatch), so that no type library of the application is needed to build.
// Items are read into device records and written from them here.
#pragma once
#include "ComPtr.h"
#include "HResult.h"
#include "SyncRecords.h"

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace tv::pimsync {

// Calls the member at `slot` of `object`'s function table with `args`.
template <class... Args>
HRESULT CallSlot(IUnknown* object, int slot, Args... args) {
    using Member = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
    void** table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<Member>(table[slot])(object, args...);
}

// The current version of the application's ProgID ("Outlook.Application\CurVer"); S_OK only when
// its number after the last "." is above 8, with the ProgID it names in `progId`.
HRESULT FindMailAppVersion(std::wstring& progId);

// The running application, or a new one as a local server, as its application interface.
HRESULT AttachMailApp(com::ComPtr<IUnknown>& application);

// The items collection of default folder `folderNumber` (10 contacts, 13 tasks).
HRESULT OpenDefaultFolderItems(IUnknown* application, long folderNumber, com::ComPtr<IUnknown>& items);

// Items collection members.
HRESULT ItemCount(IUnknown* items, long& count);
HRESULT ItemAt(IUnknown* items, long index, com::ComPtr<IDispatch>& item);
HRESULT AddItem(IUnknown* items, long itemType, com::ComPtr<IDispatch>& item);

// The automation date of a device date; false when the record has no date.
bool DeviceDateToAutomation(const ::pimsync::DeviceDate& date, DATE& value);
::pimsync::DeviceDate DeviceDateFromAutomation(DATE value);
// What the application shows for "no date" (1 January 4501).
inline constexpr DATE kNoAutomationDate = 949998.0;

// One kind of item: its interface and how a record is filled from it and written into it.
struct ItemKind {
    IID iid;
    HRESULT (*read)(IUnknown* item, ::pimsync::ZvSyncRecord& record);
    // Writes the record and saves the item; brings the record to what the item keeps of it.
    // `held` is what the item was just read as, or null when that is not known (a new item, whose
    // fields its form may preset): a field the item already holds is not written again, and an
    // item that holds them all is not saved.
    HRESULT (*write)(IUnknown* item, ::pimsync::ZvSyncRecord& record, const ::pimsync::ZvSyncRecord* held);
};
extern const ItemKind kContactItems;
extern const ItemKind kTaskItems;

// The description of the thread's COM error information, or the system's text of `hr` when there
// is none (the marshalling of some runtimes drops it), or its code when the system has no text.
std::string ComErrorText(HRESULT hr);

} // namespace tv::pimsync
