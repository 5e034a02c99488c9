// The test messaging provider: Wine's messaging stub forwards the Simple and Extended entry points
// to this DLL when it is the system's mail client (HKLM\Software\Clients\Mail names it; its
// DLLPath and DLLPathEx values point here). It serves one session kind of each, one store with
// the default mail folders, their messages and recipients, from the file named by the
// environment variable TV_MAPI_STORE, which it rewrites after every change.
#include "MapiStubs.h"
#include "TestStore.h"
#include <mapi.h>
#include <mapiutil.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

using namespace tv::mapitest;

namespace {

// ---- Memory: blocks that own the blocks allocated "more" onto them. ----
struct alignas(16) BlockHeader {
    BlockHeader* more;
    size_t size;
};

SCODE Allocate(ULONG size, void** out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
    *out = header ? header + 1 : nullptr;
    if (!header)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    header->size = size;
    return S_OK;
}

SCODE AllocateMore(ULONG size, void* base, void** out) {
    if (!base)
        return Allocate(size, out);
    SCODE sc = Allocate(size, out);
    if (FAILED(sc))
        return sc;
    BlockHeader* owner = static_cast<BlockHeader*>(base) - 1;
    BlockHeader* added = static_cast<BlockHeader*>(*out) - 1;
    added->more = owner->more;
    owner->more = added;
    return S_OK;
}

void FreeBlock(void* block) {
    if (!block)
        return;
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    while (header) {
        BlockHeader* next = header->more;
        std::free(header);
        header = next;
    }
}

// ---- The process's store and sessions. ----
struct ProviderState {
    Store store;
    bool loaded = false;
    long initialised = 0;   // MAPIInitialize calls not yet matched by MAPIUninitialize
    long extended = 0;      // open extended sessions
    long simple = 0;        // open Simple MAPI sessions
    ULONG_PTR nextSimple = 0x5000;
};
ProviderState& State() {
    static ProviderState state;
    return state;
}

std::string StorePath() {
    // Read through the system: the C runtime's copy misses changes the process made itself.
    char path[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("TV_MAPI_STORE", path, MAX_PATH);
    return length && length < MAX_PATH ? path : "";
}

void Save() {
    const std::string path = StorePath();
    if (path.empty())
        return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << FormatStore(State().store);
}

// The first session of the process reads the file again.
void SessionOpened() {
    ProviderState& state = State();
    if (state.extended + state.simple == 0) {
        std::ifstream in(StorePath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!ParseStore(text.str(), state.store, error))
            OutputDebugStringA(("test mail store: " + error + "\n").c_str());
        state.loaded = true;
    }
}

uint64_t Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// ---- Property values to and from MAPI's form. ----
SCODE CopyOut(const Value& value, ULONG tag, void* base, SPropValue& out) {
    out.ulPropTag = tag;
    out.dwAlignPad = 0;
    switch (PROP_TYPE(tag)) {
    case PT_LONG:
        out.Value.l = value.number;
        return S_OK;
    case PT_BOOLEAN:
        out.Value.b = static_cast<unsigned short>(value.number != 0);
        return S_OK;
    case PT_SYSTIME:
        out.Value.ft.dwLowDateTime = static_cast<DWORD>(value.time);
        out.Value.ft.dwHighDateTime = static_cast<DWORD>(value.time >> 32);
        return S_OK;
    case PT_STRING8: {
        void* text = nullptr;
        SCODE sc = AllocateMore(static_cast<ULONG>(value.text.size() + 1), base, &text);
        if (FAILED(sc))
            return sc;
        std::memcpy(text, value.text.c_str(), value.text.size() + 1);
        out.Value.lpszA = static_cast<LPSTR>(text);
        return S_OK;
    }
    case PT_BINARY: {
        void* bytes = nullptr;
        SCODE sc = AllocateMore(static_cast<ULONG>(value.bytes.size() + 1), base, &bytes);
        if (FAILED(sc))
            return sc;
        if (!value.bytes.empty())
            std::memcpy(bytes, value.bytes.data(), value.bytes.size());
        out.Value.bin.cb = static_cast<ULONG>(value.bytes.size());
        out.Value.bin.lpb = static_cast<LPBYTE>(bytes);
        return S_OK;
    }
    default:
        return MAPI_E_BAD_VALUE;
    }
}

bool CopyIn(const SPropValue& in, Value& value) {
    value = Value{};
    value.tag = in.ulPropTag;
    switch (PROP_TYPE(in.ulPropTag)) {
    case PT_LONG:
        value.number = in.Value.l;
        return true;
    case PT_BOOLEAN:
        value.number = in.Value.b ? 1 : 0;
        return true;
    case PT_SYSTIME:
        value.time = (static_cast<uint64_t>(in.Value.ft.dwHighDateTime) << 32) | in.Value.ft.dwLowDateTime;
        return true;
    case PT_STRING8:
        value.text = in.Value.lpszA ? in.Value.lpszA : "";
        return true;
    case PT_BINARY:
        if (in.Value.bin.cb)
            value.bytes.assign(in.Value.bin.lpb, in.Value.bin.lpb + in.Value.bin.cb);
        return true;
    default:
        return false;
    }
}

// The values of `tags` (all of `props` when null) in one block; missing ones as PT_ERROR.
HRESULT PropsOut(const PropMap& props, const SPropTagArray* tags, ULONG* count, SPropValue** out) {
    if (!count || !out)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<ULONG> wanted;
    if (tags)
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    else
        for (const auto& entry : props)
            wanted.push_back(entry.first);
    void* block = nullptr;
    SCODE sc = Allocate(static_cast<ULONG>(sizeof(SPropValue) * (wanted.size() + 1)), &block);
    if (FAILED(sc))
        return sc;
    auto* values = static_cast<SPropValue*>(block);
    bool missing = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        auto found = props.find(wanted[i]);
        if (found == props.end()) {
            values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(wanted[i]));
            values[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
            continue;
        }
        sc = CopyOut(found->second, wanted[i], block, values[i]);
        if (FAILED(sc)) {
            FreeBlock(block);
            return sc;
        }
    }
    *count = static_cast<ULONG>(wanted.size());
    *out = values;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

Value Text(ULONG tag, const std::string& text) {
    Value value;
    value.tag = tag;
    value.text = text;
    return value;
}
Value Bytes(ULONG tag, std::vector<uint8_t> bytes) {
    Value value;
    value.tag = tag;
    value.bytes = std::move(bytes);
    return value;
}
Value Number(ULONG tag, long number) {
    Value value;
    value.tag = tag;
    value.number = number;
    return value;
}

// Whether the session the objects came from is still logged on.
struct SessionLife {
    bool loggedOn = true;
};
using Life = std::shared_ptr<SessionLife>;
#define TV_CHECK_SESSION()                                                                                   \
    if (!life_->loggedOn)                                                                                    \
    return MAPI_E_END_OF_SESSION

// ---- A table over fixed rows. ----
class Table : public TableStub {
  public:
    Table(Life life, std::vector<PropMap> rows) : life_(std::move(life)), rows_(std::move(rows)) {
        if (!rows_.empty())
            for (const auto& entry : rows_.front())
                columns_.push_back(entry.first);
    }
    STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG) override {
        TV_CHECK_SESSION();
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }
    STDMETHODIMP GetRowCount(ULONG, ULONG* count) override {
        TV_CHECK_SESSION();
        if (!count)
            return MAPI_E_INVALID_PARAMETER;
        *count = static_cast<ULONG>(rows_.size());
        return S_OK;
    }
    STDMETHODIMP SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
        TV_CHECK_SESSION();
        long from = origin == BOOKMARK_BEGINNING ? 0 : origin == BOOKMARK_END ? static_cast<long>(rows_.size())
                                                                               : static_cast<long>(cursor_);
        long to = std::max(0L, std::min(static_cast<long>(rows_.size()), from + rows));
        cursor_ = static_cast<size_t>(to);
        if (sought)
            *sought = to - from;
        return S_OK;
    }
    STDMETHODIMP Restrict(LPSRestriction restriction, ULONG) override {
        return restriction ? MAPI_E_NO_SUPPORT : S_OK;
    }
    STDMETHODIMP SortTable(LPSSortOrderSet, ULONG) override { return S_OK; }
    STDMETHODIMP QueryRows(LONG count, ULONG, LPSRowSet* out) override {
        TV_CHECK_SESSION();
        if (!out || count < 0)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        size_t take = std::min(static_cast<size_t>(count), rows_.size() - cursor_);
        void* block = nullptr;
        SCODE sc = Allocate(static_cast<ULONG>(CbNewSRowSet(take ? take : 1)), &block);
        if (FAILED(sc))
            return sc;
        auto* set = static_cast<SRowSet*>(block);
        set->cRows = 0;
        SPropTagArray* tags = nullptr;
        std::vector<BYTE> tagBlock(CbNewSPropTagArray(columns_.size() ? columns_.size() : 1));
        tags = reinterpret_cast<SPropTagArray*>(tagBlock.data());
        tags->cValues = static_cast<ULONG>(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i)
            tags->aulPropTag[i] = columns_[i];
        for (size_t i = 0; i < take; ++i) {
            ULONG values = 0;
            SPropValue* props = nullptr;
            HRESULT hr = PropsOut(rows_[cursor_ + i], tags, &values, &props);
            if (FAILED(hr)) {
                FreeRows(set);
                return hr;
            }
            set->aRow[i].ulAdrEntryPad = 0;
            set->aRow[i].cValues = values;
            set->aRow[i].lpProps = props;
            set->cRows = static_cast<ULONG>(i + 1);
        }
        cursor_ += take;
        *out = set;
        return S_OK;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, kIidTable); }

  private:
    static void FreeRows(SRowSet* set) {
        for (ULONG i = 0; i < set->cRows; ++i)
            FreeBlock(set->aRow[i].lpProps);
        FreeBlock(set);
    }

    Life life_;
    std::vector<PropMap> rows_;
    std::vector<ULONG> columns_;
    size_t cursor_ = 0;
};

HRESULT NewTable(const Life& life, std::vector<PropMap> rows, LPMAPITABLE* out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = new (std::nothrow) Table(life, std::move(rows));
    return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

// ---- Messages: a working copy of the stored one, written back by SaveChanges. ----
class Message : public MessageStub {
  public:
    Message(Life life, int folder) : life_(std::move(life)), folder_(folder) {}
    Message(Life life, const StoredMessage& stored)
        : life_(std::move(life)), folder_(stored.folder), id_(stored.id), props_(stored.props),
          recipients_(stored.recipients) {}

    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override {
        TV_CHECK_SESSION();
        PropMap props = props_;
        if (id_)
            props[PR_ENTRYID] = Bytes(PR_ENTRYID, MakeEntryId(EntryKind::Message, id_));
        return PropsOut(props, tags, count, out);
    }
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        TV_CHECK_SESSION();
        if (problems)
            *problems = nullptr;
        if (!values)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<SPropProblem> refused;
        for (ULONG i = 0; i < count; ++i) {
            Value value;
            // A saved message's flags are computed by the store: the put is refused per property,
            // and the call as a whole still succeeds, as real stores answer it.
            if (id_ && values[i].ulPropTag == PR_MESSAGE_FLAGS) {
                refused.push_back({i, values[i].ulPropTag, static_cast<SCODE>(MAPI_E_COMPUTED)});
                continue;
            }
            if (!CopyIn(values[i], value)) {
                refused.push_back({i, values[i].ulPropTag, static_cast<SCODE>(MAPI_E_BAD_VALUE)});
                continue;
            }
            props_[values[i].ulPropTag] = value;
        }
        if (problems && !refused.empty()) {
            void* block = nullptr;
            if (SUCCEEDED(Allocate(static_cast<ULONG>(CbNewSPropProblemArray(refused.size())), &block))) {
                auto* array = static_cast<SPropProblemArray*>(block);
                array->cProblem = static_cast<ULONG>(refused.size());
                for (size_t i = 0; i < refused.size(); ++i)
                    array->aProblem[i] = refused[i];
                *problems = array;
            }
        }
        return S_OK;
    }
    STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE* out) override {
        TV_CHECK_SESSION();
        std::vector<PropMap> rows = recipients_;
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i][PR_ROWID] = Number(PR_ROWID, static_cast<long>(i));
        return NewTable(life_, std::move(rows), out);
    }
    STDMETHODIMP ModifyRecipients(ULONG flags, LPADRLIST list) override {
        TV_CHECK_SESSION();
        if (!list)
            return MAPI_E_INVALID_PARAMETER;
        if (flags != 0 && flags != MODRECIP_ADD)
            return MAPI_E_NO_SUPPORT;
        std::vector<PropMap> added;
        for (ULONG i = 0; i < list->cEntries; ++i) {
            PropMap recipient;
            for (ULONG p = 0; p < list->aEntries[i].cValues; ++p) {
                Value value;
                if (CopyIn(list->aEntries[i].rgPropVals[p], value))
                    recipient[value.tag] = value;
            }
            added.push_back(recipient);
        }
        if (flags == 0)
            recipients_.clear();
        recipients_.insert(recipients_.end(), added.begin(), added.end());
        return S_OK;
    }
    STDMETHODIMP SetReadFlag(ULONG flags) override {
        TV_CHECK_SESSION();
        long& bits = props_[PR_MESSAGE_FLAGS].number;
        props_[PR_MESSAGE_FLAGS].tag = PR_MESSAGE_FLAGS;
        bits = (flags & CLEAR_READ_FLAG) ? (bits & ~MSGFLAG_READ) : (bits | MSGFLAG_READ);
        auto stored = State().store.messages.find(id_);
        if (id_ && stored != State().store.messages.end()) {
            stored->second.props[PR_MESSAGE_FLAGS] = props_[PR_MESSAGE_FLAGS];
            Save();
        }
        return S_OK;
    }
    STDMETHODIMP SaveChanges(ULONG) override {
        TV_CHECK_SESSION();
        Store& store = State().store;
        if (id_ && !store.messages.count(id_))
            return MAPI_E_OBJECT_DELETED;
        if (!id_)
            id_ = store.nextId++;
        Value modified;
        modified.tag = PR_LAST_MODIFICATION_TIME;
        modified.time = Now();
        props_[PR_LAST_MODIFICATION_TIME] = modified;
        StoredMessage& stored = store.messages[id_];
        stored.id = id_;
        stored.folder = folder_;
        stored.props = props_;
        stored.recipients = recipients_;
        Save();
        return S_OK;
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, kIidMessage) || IsEqualIID(riid, kIidProp);
    }

  private:
    Life life_;
    int folder_;
    uint32_t id_ = 0;
    PropMap props_;
    std::vector<PropMap> recipients_;
};

HRESULT OpenById(const Life& life, ULONG size, LPENTRYID entry, ULONG* type, LPUNKNOWN* out);

// ---- Folders. ----
class Folder : public FolderStub {
  public:
    Folder(Life life, int id) : life_(std::move(life)), id_(id) {}

    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override {
        TV_CHECK_SESSION();
        PropMap props;
        for (const auto& def : Folders())
            if (def.id == id_)
                props[PR_DISPLAY_NAME_A] = Text(PR_DISPLAY_NAME_A, def.name);
        props[PR_ENTRYID] = Bytes(PR_ENTRYID, MakeEntryId(EntryKind::Folder, static_cast<uint32_t>(id_)));
        return PropsOut(props, tags, count, out);
    }
    STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE* out) override {
        TV_CHECK_SESSION();
        std::vector<PropMap> rows;
        for (const auto& def : Folders()) {
            if (def.parent != id_)
                continue;
            PropMap row;
            row[PR_ENTRYID] = Bytes(PR_ENTRYID, MakeEntryId(EntryKind::Folder, static_cast<uint32_t>(def.id)));
            row[PR_DISPLAY_NAME_A] = Text(PR_DISPLAY_NAME_A, def.name);
            rows.push_back(row);
        }
        return NewTable(life_, std::move(rows), out);
    }
    STDMETHODIMP GetContentsTable(ULONG, LPMAPITABLE* out) override {
        TV_CHECK_SESSION();
        std::vector<PropMap> rows;
        for (const auto& [id, message] : State().store.messages) {
            if (message.folder != id_)
                continue;
            PropMap row = message.props;
            row[PR_ENTRYID] = Bytes(PR_ENTRYID, MakeEntryId(EntryKind::Message, id));
            rows.push_back(row);
        }
        return NewTable(life_, std::move(rows), out);
    }
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entry, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        TV_CHECK_SESSION();
        return OpenById(life_, size, entry, type, out);
    }
    STDMETHODIMP CreateMessage(LPCIID, ULONG, LPMESSAGE* out) override {
        TV_CHECK_SESSION();
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        if (id_ == kRoot || id_ == kTop)
            return MAPI_E_NO_ACCESS;
        *out = new (std::nothrow) Message(life_, id_);
        return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
    }
    STDMETHODIMP DeleteMessages(LPENTRYLIST list, ULONG, LPMAPIPROGRESS, ULONG) override {
        TV_CHECK_SESSION();
        if (!list)
            return MAPI_E_INVALID_PARAMETER;
        bool partial = false;
        for (ULONG i = 0; i < list->cValues; ++i) {
            uint32_t id = 0;
            auto& messages = State().store.messages;
            auto found = ReadEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, EntryKind::Message, id)
                             ? messages.find(id)
                             : messages.end();
            if (found == messages.end() || found->second.folder != id_) {
                partial = true;
                continue;
            }
            messages.erase(found);
        }
        Save();
        return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, kIidFolder) || IsEqualIID(riid, kIidContainer) || IsEqualIID(riid, kIidProp);
    }

  private:
    Life life_;
    int id_;
};

HRESULT OpenById(const Life& life, ULONG size, LPENTRYID entry, ULONG* type, LPUNKNOWN* out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    uint32_t id = 0;
    if (!entry || !size) {
        if (type)
            *type = MAPI_FOLDER;
        *out = new (std::nothrow) Folder(life, kRoot);
    } else if (ReadEntryId(entry, size, EntryKind::Folder, id)) {
        bool known = false;
        for (const auto& def : Folders())
            known = known || def.id == static_cast<int>(id);
        if (!known)
            return MAPI_E_NOT_FOUND;
        if (type)
            *type = MAPI_FOLDER;
        *out = new (std::nothrow) Folder(life, static_cast<int>(id));
    } else if (ReadEntryId(entry, size, EntryKind::Message, id)) {
        auto found = State().store.messages.find(id);
        if (found == State().store.messages.end())
            return MAPI_E_NOT_FOUND;
        if (type)
            *type = MAPI_MESSAGE;
        *out = new (std::nothrow) Message(life, found->second);
    } else {
        return MAPI_E_INVALID_ENTRYID;
    }
    return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

// ---- The store and the session. ----
class MsgStore : public StoreStub {
  public:
    explicit MsgStore(Life life) : life_(std::move(life)) {}
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entry, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        TV_CHECK_SESSION();
        return OpenById(life_, size, entry, type, out);
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, kIidStore) || IsEqualIID(riid, kIidProp); }

  private:
    Life life_;
};

// The provider identifier of a personal-folders store, which a mail client's default store has.
const uint8_t kStoreProvider[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                    0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};

class Session : public SessionStub {
  public:
    Session() : life_(std::make_shared<SessionLife>()) {
        SessionOpened();
        ++State().extended;
    }
    ~Session() override { End(); }

    STDMETHODIMP GetMsgStoresTable(ULONG, LPMAPITABLE* out) override {
        TV_CHECK_SESSION();
        PropMap row;
        row[PR_ENTRYID] = Bytes(PR_ENTRYID, MakeEntryId(EntryKind::Store, 1));
        row[PR_DISPLAY_NAME_A] = Text(PR_DISPLAY_NAME_A, "Personal Folders");
        row[PR_MDB_PROVIDER] = Bytes(PR_MDB_PROVIDER, std::vector<uint8_t>(kStoreProvider, kStoreProvider + 16));
        row[PR_DEFAULT_STORE] = Number(PR_DEFAULT_STORE, 1);
        return NewTable(life_, {row}, out);
    }
    STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG size, LPENTRYID entry, LPCIID, ULONG, LPMDB* out) override {
        TV_CHECK_SESSION();
        uint32_t id = 0;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!ReadEntryId(entry, size, EntryKind::Store, id))
            return MAPI_E_NOT_FOUND;
        *out = new (std::nothrow) MsgStore(life_);
        return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
    }
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entry, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        TV_CHECK_SESSION();
        return OpenById(life_, size, entry, type, out);
    }
    STDMETHODIMP Logoff(ULONG_PTR, ULONG, ULONG) override {
        TV_CHECK_SESSION();
        End();
        return S_OK;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, kIidSession); }

  private:
    void End() {
        if (!life_->loggedOn)
            return;
        life_->loggedOn = false;
        --State().extended;
    }
    Life life_;
};

// ---- Simple MAPI. ----
std::vector<uint32_t> InboxIds() {
    std::vector<uint32_t> ids;
    for (const auto& [id, message] : State().store.messages)
        if (message.folder == kInbox)
            ids.push_back(id);
    return ids;
}

std::string PropText(const PropMap& props, ULONG tag) {
    auto found = props.find(tag);
    return found == props.end() ? std::string() : found->second.text;
}

LPSTR CopyText(const std::string& text, void* base) {
    void* copy = nullptr;
    if (FAILED(AllocateMore(static_cast<ULONG>(text.size() + 1), base, &copy)))
        return nullptr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return static_cast<LPSTR>(copy);
}

} // namespace

extern "C" {

SCODE WINAPI TvMAPIAllocateBuffer(ULONG size, LPVOID* out) { return Allocate(size, out); }
SCODE WINAPI TvMAPIAllocateMore(ULONG size, LPVOID base, LPVOID* out) { return AllocateMore(size, base, out); }
ULONG WINAPI TvMAPIFreeBuffer(LPVOID block) {
    FreeBlock(block);
    return S_OK;
}

HRESULT WINAPI TvMAPIInitialize(LPVOID) {
    ++State().initialised;
    return S_OK;
}
void WINAPI TvMAPIUninitialize() {
    if (State().initialised > 0)
        --State().initialised;
}
HRESULT WINAPI TvMAPILogonEx(ULONG_PTR, LPWSTR, LPWSTR, ULONG, LPMAPISESSION* out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (State().initialised <= 0)
        return MAPI_E_NOT_INITIALIZED;
    *out = new (std::nothrow) Session();
    return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT WINAPI TvHrQueryAllRows(LPMAPITABLE table, LPSPropTagArray tags, LPSRestriction restriction,
                                LPSSortOrderSet order, LONG most, LPSRowSet* rows) {
    if (!table || !rows)
        return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    HRESULT hr = tags ? table->SetColumns(tags, TBL_BATCH) : S_OK;
    if (SUCCEEDED(hr) && restriction)
        hr = table->Restrict(restriction, TBL_BATCH);
    if (SUCCEEDED(hr) && order)
        hr = table->SortTable(order, TBL_BATCH);
    if (SUCCEEDED(hr))
        hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    if (SUCCEEDED(hr))
        hr = table->QueryRows(most > 0 ? most : 0x7FFFFFFF, 0, rows);
    return hr;
}

ULONG WINAPI TvMAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
    if (!session)
        return MAPI_E_FAILURE;
    SessionOpened();
    ++State().simple;
    *session = ++State().nextSimple;
    return SUCCESS_SUCCESS;
}
ULONG WINAPI TvMAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) {
    if (State().simple > 0)
        --State().simple;
    return SUCCESS_SUCCESS;
}
ULONG WINAPI TvMAPIResolveName(LHANDLE, ULONG_PTR, LPSTR name, FLAGS, ULONG, lpMapiRecipDesc* out) {
    if (!name || !out)
        return MAPI_E_FAILURE;
    *out = nullptr;
    for (const auto& [display, address] : State().store.addresses) {
        if (lstrcmpiA(display.c_str(), name) != 0)
            continue;
        void* block = nullptr;
        if (FAILED(Allocate(sizeof(MapiRecipDesc), &block)))
            return MAPI_E_INSUFFICIENT_MEMORY;
        auto* recipient = static_cast<MapiRecipDesc*>(block);
        recipient->ulRecipClass = MAPI_TO;
        recipient->lpszName = CopyText(display, block);
        recipient->lpszAddress = CopyText(address, block);
        *out = recipient;
        return SUCCESS_SUCCESS;
    }
    return MAPI_E_UNKNOWN_RECIPIENT;
}
ULONG WINAPI TvMAPIFindNext(LHANDLE, ULONG_PTR, LPSTR, LPSTR seed, FLAGS, ULONG, LPSTR found) {
    if (!found)
        return MAPI_E_FAILURE;
    const std::vector<uint32_t> ids = InboxIds();
    uint32_t after = seed && *seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 16)) : 0;
    for (uint32_t id : ids) {
        if (id > after) {
            wsprintfA(found, "%08X", id);
            return SUCCESS_SUCCESS;
        }
    }
    return MAPI_E_NO_MESSAGES;
}
ULONG WINAPI TvMAPIReadMail(LHANDLE, ULONG_PTR, LPSTR id, FLAGS flags, ULONG, lpMapiMessage* out) {
    if (!id || !out)
        return MAPI_E_FAILURE;
    *out = nullptr;
    auto found = State().store.messages.find(static_cast<uint32_t>(std::strtoul(id, nullptr, 16)));
    if (found == State().store.messages.end())
        return MAPI_E_INVALID_MESSAGE;
    StoredMessage& stored = found->second;
    void* block = nullptr;
    const size_t recipients = stored.recipients.size();
    if (FAILED(Allocate(static_cast<ULONG>(sizeof(MapiMessage) + sizeof(MapiRecipDesc) * (recipients + 1)), &block)))
        return MAPI_E_INSUFFICIENT_MEMORY;
    auto* message = static_cast<MapiMessage*>(block);
    auto* descs = reinterpret_cast<MapiRecipDesc*>(message + 1);
    message->lpszSubject = CopyText(PropText(stored.props, PR_SUBJECT_A), block);
    if (!(flags & MAPI_ENVELOPE_ONLY))
        message->lpszNoteText = CopyText(PropText(stored.props, PR_BODY_A), block);
    descs[0].ulRecipClass = MAPI_ORIG;
    descs[0].lpszName = CopyText(PropText(stored.props, PR_SENDER_NAME_A), block);
    descs[0].lpszAddress = CopyText(PropText(stored.props, PR_SENDER_EMAIL_ADDRESS_A), block);
    message->lpOriginator = &descs[0];
    for (size_t i = 0; i < recipients; ++i) {
        const PropMap& recipient = stored.recipients[i];
        auto type = recipient.find(PR_RECIPIENT_TYPE);
        descs[i + 1].ulRecipClass = type == recipient.end() ? MAPI_TO : static_cast<ULONG>(type->second.number);
        descs[i + 1].lpszName = CopyText(PropText(recipient, PR_DISPLAY_NAME_A), block);
        descs[i + 1].lpszAddress = CopyText(PropText(recipient, PR_EMAIL_ADDRESS_A), block);
    }
    message->nRecipCount = static_cast<ULONG>(recipients);
    message->lpRecips = recipients ? &descs[1] : nullptr;
    // Reading without MAPI_PEEK marks the message read, as a mail client's store does.
    if (!(flags & MAPI_PEEK)) {
        Value& bits = stored.props[PR_MESSAGE_FLAGS];
        bits.tag = PR_MESSAGE_FLAGS;
        bits.number |= MSGFLAG_READ;
        Save();
    }
    *out = message;
    return SUCCESS_SUCCESS;
}

// For the tests: MAPIInitialize calls not yet undone, open extended and Simple MAPI sessions.
void WINAPI TvMapiProviderState(long* initialised, long* extended, long* simple) {
    if (initialised)
        *initialised = State().initialised;
    if (extended)
        *extended = State().extended;
    if (simple)
        *simple = State().simple;
}

// Registration makes this DLL the system's mail client (test prefixes only).
static const char kMailKey[] = "Software\\Clients\\Mail";
static const char kClientName[] = "Tavrilon Test Mail";

static HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

HRESULT WINAPI TvDllRegisterServer() {
    char path[MAX_PATH] = {};
    if (!GetModuleFileNameA(ThisModule(), path, MAX_PATH))
        return HRESULT_FROM_WIN32(GetLastError());
    const std::string client = std::string(kMailKey) + "\\" + kClientName;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, client.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    const DWORD size = static_cast<DWORD>(std::strlen(path) + 1);
    rc = RegSetValueExA(key, "DLLPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), size);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, "DLLPathEx", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), size);
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS)
        rc = RegSetKeyValueA(HKEY_LOCAL_MACHINE, kMailKey, nullptr, REG_SZ, kClientName, sizeof(kClientName));
    return HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI TvDllUnregisterServer() {
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kMailKey, nullptr);
    const std::string client = std::string(kMailKey) + "\\" + kClientName;
    LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, client.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

} // extern "C"
