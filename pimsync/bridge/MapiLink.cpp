#include "MapiLink.h"
#include <cstring>

namespace tv::pimbridge {

namespace {

// {C0A19454-7F29-1B10-A587-08002B2A2517} in the byte order MAPI stores it.
const uint8_t kPersonalFolders[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                      0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};

// A property tag array of `columns`, laid out as MAPI wants it.
class TagArray {
  public:
    explicit TagArray(const std::vector<ULONG>& columns) : storage_(CbNewSPropTagArray(columns.size())) {
        auto* tags = Get();
        tags->cValues = static_cast<ULONG>(columns.size());
        for (size_t i = 0; i < columns.size(); ++i)
            tags->aulPropTag[i] = columns[i];
    }
    SPropTagArray* Get() { return reinterpret_cast<SPropTagArray*>(storage_.data()); }

  private:
    std::vector<BYTE> storage_;
};

// The entry id of the child folder named `name` (compared without regard to case).
HRESULT FindChildFolder(IMAPIFolder* parent, const std::string& name, std::vector<uint8_t>& entryId) {
    com::ComPtr<IMAPITable> table;
    HRESULT hr = parent->GetHierarchyTable(0, &table);
    if (FAILED(hr))
        return hr;
    RowSet rows;
    hr = QueryAllRows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_A}, rows);
    if (FAILED(hr))
        return hr;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* id = FindColumn(rows->aRow[i], PR_ENTRYID);
        const SPropValue* display = FindColumn(rows->aRow[i], PR_DISPLAY_NAME_A);
        if (id && display && display->Value.lpszA && lstrcmpiA(display->Value.lpszA, name.c_str()) == 0) {
            entryId.assign(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT OpenAsFolder(IMsgStore* store, ULONG size, LPENTRYID entry, com::ComPtr<IMAPIFolder>& folder) {
    ULONG type = 0;
    com::ComPtr<IUnknown> opened;
    HRESULT hr = store->OpenEntry(size, entry, nullptr, MAPI_BEST_ACCESS, &type, &opened);
    if (FAILED(hr))
        return hr;
    return opened->QueryInterface(kIidFolder, reinterpret_cast<void**>(&folder));
}

} // namespace

HRESULT MapiSession::Open(std::shared_ptr<MapiSession>& out) {
    out.reset();
    std::shared_ptr<MapiSession> opened(new (std::nothrow) MapiSession());
    if (!opened)
        return E_OUTOFMEMORY;
    HRESULT hr = MAPIInitialize(nullptr);
    if (FAILED(hr))
        return hr;
    opened->initialised_ = true;
    hr = MAPILogonEx(0, const_cast<LPTSTR>(TEXT("")), nullptr, MAPI_USE_DEFAULT, &opened->session_);
    if (FAILED(hr))
        return hr;
    out = std::move(opened);
    return S_OK;
}

MapiSession::~MapiSession() {
    if (session_) {
        session_->Logoff(0, 0, 0);
        session_.Reset();
    }
    if (initialised_)
        MAPIUninitialize();
}

HRESULT QueryAllRows(IMAPITable* table, const std::vector<ULONG>& columns, RowSet& rows) {
    rows.reset();
    TagArray tags(columns);
    SRowSet* raw = nullptr;
    HRESULT hr = HrQueryAllRows(table, tags.Get(), nullptr, nullptr, 0, &raw);
    rows.reset(raw);
    if (SUCCEEDED(hr) && !rows)
        hr = MAPI_E_CALL_FAILED;
    return hr;
}

const SPropValue* FindColumn(const SRow& row, ULONG tag) {
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == tag)
            return &row.lpProps[i];
    return nullptr;
}

HRESULT GetOneProp(IMAPIProp* object, ULONG tag, MapiBuffer<SPropValue>& value) {
    value.reset();
    TagArray tags({tag});
    ULONG count = 0;
    SPropValue* raw = nullptr;
    HRESULT hr = object->GetProps(tags.Get(), 0, &count, &raw);
    value.reset(raw);
    if (FAILED(hr))
        return hr;
    if (!value || count != 1 || value->ulPropTag != tag) {
        value.reset();
        return MAPI_E_NOT_FOUND;
    }
    return S_OK;
}

HRESULT OpenPersonalStore(IMAPISession* session, com::ComPtr<IMsgStore>& store) {
    store.Reset();
    com::ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, &table);
    if (FAILED(hr))
        return hr;
    RowSet rows;
    hr = QueryAllRows(table.Get(), {PR_ENTRYID, PR_MDB_PROVIDER}, rows);
    if (FAILED(hr))
        return hr;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* id = FindColumn(rows->aRow[i], PR_ENTRYID);
        const SPropValue* provider = FindColumn(rows->aRow[i], PR_MDB_PROVIDER);
        if (!id || !provider || provider->Value.bin.cb != sizeof(kPersonalFolders) ||
            std::memcmp(provider->Value.bin.lpb, kPersonalFolders, sizeof(kPersonalFolders)) != 0)
            continue;
        return session->OpenMsgStore(0, id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr,
                                     MDB_WRITE | MAPI_BEST_ACCESS, &store);
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT OpenFolderByPath(IMsgStore* store, const std::string& path, com::ComPtr<IMAPIFolder>& folder) {
    folder.Reset();
    com::ComPtr<IMAPIFolder> current;
    HRESULT hr = OpenAsFolder(store, 0, nullptr, current);
    size_t start = 0;
    while (SUCCEEDED(hr) && start <= path.size()) {
        size_t separator = path.find('\\', start);
        const std::string name = path.substr(start, separator == std::string::npos ? std::string::npos : separator - start);
        start = separator == std::string::npos ? path.size() + 1 : separator + 1;
        if (name.empty())
            continue;
        std::vector<uint8_t> entryId;
        hr = FindChildFolder(current.Get(), name, entryId);
        if (SUCCEEDED(hr))
            hr = OpenAsFolder(store, static_cast<ULONG>(entryId.size()), reinterpret_cast<LPENTRYID>(entryId.data()),
                              current);
    }
    if (SUCCEEDED(hr))
        folder = current;
    return hr;
}

HRESULT OpenMessage(IMAPIFolder* folder, const std::vector<uint8_t>& entryId, com::ComPtr<IMessage>& message) {
    message.Reset();
    ULONG type = 0;
    com::ComPtr<IUnknown> opened;
    HRESULT hr = folder->OpenEntry(static_cast<ULONG>(entryId.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<uint8_t*>(entryId.data())), nullptr,
                                   MAPI_BEST_ACCESS, &type, &opened);
    if (FAILED(hr))
        return hr;
    return opened->QueryInterface(kIidMessage, reinterpret_cast<void**>(&message));
}

} // namespace tv::pimbridge
