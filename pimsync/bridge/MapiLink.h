// The Extended MAPI pieces the mail objects share: the logged-on session that every object made
// from it keeps alive, owned MAPI buffers and row sets, and the store and folder look-ups.
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <memory>
#include <string>
#include <vector>

namespace tv::pimbridge {

// Interface ids of the MAPI interfaces used here (OLE-style GUIDs).
constexpr GUID MapiIid(unsigned long first) { return {first, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
inline constexpr GUID kIidMessage = MapiIid(0x00020307);
inline constexpr GUID kIidFolder = MapiIid(0x0002030C);

struct MapiFree {
    void operator()(void* block) const {
        if (block)
            MAPIFreeBuffer(block);
    }
};
template <class T>
using MapiBuffer = std::unique_ptr<T, MapiFree>;

struct RowsFree {
    void operator()(SRowSet* rows) const {
        if (rows)
            FreeProws(rows);
    }
};
using RowSet = std::unique_ptr<SRowSet, RowsFree>;

// MAPI initialised and one extended session logged on to the default profile. Each folder and
// message holds a reference: the session is logged off and MAPI uninitialised when the last
// holder lets go, never under an object that still uses it.
class MapiSession {
  public:
    static HRESULT Open(std::shared_ptr<MapiSession>& out);
    MapiSession(const MapiSession&) = delete;
    MapiSession& operator=(const MapiSession&) = delete;
    ~MapiSession();

    IMAPISession* Get() const { return session_.Get(); }

  private:
    MapiSession() = default;
    com::ComPtr<IMAPISession> session_;
    bool initialised_ = false;
};
using SessionRef = std::shared_ptr<MapiSession>;

// All rows of `table` with `columns`.
HRESULT QueryAllRows(IMAPITable* table, const std::vector<ULONG>& columns, RowSet& rows);

// The value of `tag` in a row, or null when the row lacks it or holds an error for it.
const SPropValue* FindColumn(const SRow& row, ULONG tag);

// One property of an object; MAPI_E_NOT_FOUND when the object has none.
HRESULT GetOneProp(IMAPIProp* object, ULONG tag, MapiBuffer<SPropValue>& value);

// The session's store whose provider identifier is that of personal folders.
HRESULT OpenPersonalStore(IMAPISession* session, com::ComPtr<IMsgStore>& store);

// The folder at `path` ("\" between the folder names, below the store's root), for writing.
HRESULT OpenFolderByPath(IMsgStore* store, const std::string& path, com::ComPtr<IMAPIFolder>& folder);

// Opens the message with that entry id below `folder` with the best access granted.
HRESULT OpenMessage(IMAPIFolder* folder, const std::vector<uint8_t>& entryId, com::ComPtr<IMessage>& message);

} // namespace tv::pimbridge
